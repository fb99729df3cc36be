// The stand-in's filters: each a bin whose ghost pads are its pins.
#include "gst_filters.h"

#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>

#include "com/bstr.h"
#include "quorl/paths.h"
#include "win/window_services.h"

namespace dshow::gst {

namespace {

GstPad* StaticPad(GstElement* e, const char* name) { return gst_element_get_static_pad(e, name); }

void SetCapsFormat(GstElement* capsfilter, const char* format) {
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, nullptr);
  g_object_set(capsfilter, "caps", caps, nullptr);
  gst_caps_unref(caps);
}

void SetFlip(GstElement* flip, bool flipRows) {
  gst_util_set_object_arg(G_OBJECT(flip), "method", flipRows ? "vertical-flip" : "none");
}

GstElement* MakeValve(GstElement* bin, bool drop) {
  GstElement* valve = gst_element_factory_make("valve", nullptr);
  // Caps and segments must still pass while closed, or the branch cannot
  // negotiate when it opens.
  gst_util_set_object_arg(G_OBJECT(valve), "drop-mode", "forward-sticky-events");
  g_object_set(valve, "drop", drop ? TRUE : FALSE, nullptr);
  gst_bin_add(GST_BIN(bin), valve);
  return valve;
}

class MediaSample : public ComObject<MediaSample, IMediaSample> {
 public:
  MediaSample(BYTE* data, long size) : data_(data), size_(size) {}
  HRESULT GetPointer(BYTE** buffer) override {
    if (!buffer) return E_POINTER;
    *buffer = data_;
    return data_ ? S_OK : E_FAIL;
  }
  long GetSize() override { return size_; }
  long GetActualDataLength() override { return data_ ? size_ : 0; }
  // The buffer is only lent for the duration of the callback.
  void Expire() {
    data_ = nullptr;
    size_ = 0;
  }

 private:
  BYTE* data_;
  long size_;
};

// ---------------------------------------------------------------- sources

class FileSource : public Filter<FileSource, IFileSourceFilter> {
 public:
  explicit FileSource(REFCLSID clsid) : Filter("source"), clsid_(clsid) {
    decode_ = Make("uridecodebin");
    video_ = Make("identity");
    g_object_set(video_, "silent", TRUE, nullptr);
    GstPad* src = StaticPad(video_, "src");
    out_ = AddPin(PINDIR_OUTPUT, L"Output", src);
    gst_object_unref(src);
    handler_ = g_signal_connect(decode_, "pad-added", G_CALLBACK(&FileSource::OnPadAdded), this);
    out_->format.subtype = GUID_NULL;
  }
  ~FileSource() override {
    gst_element_set_state(bin_, GST_STATE_NULL);
    g_signal_handler_disconnect(decode_, handler_);
  }
  CLSID ClassId() const override { return clsid_; }
  std::string Persisted() const override { return path_; }
  bool StreamInfo(gint64* durationNs, int* fpsNum, int* fpsDen) const override {
    if (path_.empty()) return false;
    *durationNs = durationNs_;
    *fpsNum = out_->format.fpsNum;
    *fpsDen = out_->format.fpsDen;
    return true;
  }

  HRESULT Load(const wchar_t* file, const AM_MEDIA_TYPE*) override {
    if (!file) return E_POINTER;
    const std::string path = quorl::MapPath(com::WideToUtf8(file));
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    if (!uri) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const HRESULT hr = Discover(uri);
    if (SUCCEEDED(hr)) {
      g_object_set(decode_, "uri", uri, nullptr);
      path_ = path;
    }
    g_free(uri);
    return hr;
  }

 private:
  // Caps exist only after preroll: the stream's size and rate come from
  // discovering the file first.
  HRESULT Discover(const gchar* uri) {
    GError* error = nullptr;
    GstDiscoverer* discoverer = gst_discoverer_new(10 * GST_SECOND, &error);
    if (!discoverer) {
      if (error) g_error_free(error);
      return E_FAIL;
    }
    GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, &error);
    HRESULT hr = VFW_E_UNSUPPORTED_STREAM;
    if (error) {
      dshow::SetLastPipelineError(error->message);
      g_error_free(error);
    }
    if (info && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) {
      GList* videos = gst_discoverer_info_get_video_streams(info);
      if (videos) {
        auto* v = GST_DISCOVERER_VIDEO_INFO(videos->data);
        VideoFormat& f = out_->format;
        f.width = static_cast<int>(gst_discoverer_video_info_get_width(v));
        f.height = static_cast<int>(gst_discoverer_video_info_get_height(v));
        f.fpsNum = static_cast<int>(gst_discoverer_video_info_get_framerate_num(v));
        f.fpsDen = static_cast<int>(gst_discoverer_video_info_get_framerate_denom(v));
        if (f.fpsNum <= 0 || f.fpsDen <= 0) {
          f.fpsNum = 25;
          f.fpsDen = 1;
        }
        durationNs_ = static_cast<gint64>(gst_discoverer_info_get_duration(info));
        hr = f.width > 0 && f.height > 0 ? S_OK : VFW_E_UNSUPPORTED_STREAM;
        gst_discoverer_stream_info_list_free(videos);
      }
    }
    if (info) g_object_unref(info);
    g_object_unref(discoverer);
    return hr;
  }

  static void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* self = static_cast<FileSource*>(data);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    const bool video = g_str_has_prefix(name, "video/");
    gst_caps_unref(caps);
    GstPad* sink = StaticPad(self->video_, "sink");
    if (video && !gst_pad_is_linked(sink)) {
      gst_pad_link(pad, sink);
    } else {
      GstElement* discard = gst_element_factory_make("fakesink", nullptr);
      g_object_set(discard, "sync", FALSE, "async", FALSE, nullptr);
      gst_bin_add(GST_BIN(self->bin_), discard);
      gst_element_sync_state_with_parent(discard);
      GstPad* discardSink = StaticPad(discard, "sink");
      gst_pad_link(pad, discardSink);
      gst_object_unref(discardSink);
    }
    gst_object_unref(sink);
  }

  CLSID clsid_;
  GstElement* decode_;
  GstElement* video_;
  PinImpl* out_;
  gulong handler_;
  std::string path_;
  gint64 durationNs_ = 0;
};

// ---------------------------------------------------------------- grabber

class SampleGrabber : public Filter<SampleGrabber, ISampleGrabber> {
 public:
  SampleGrabber() : Filter("grabber") {
    convert_ = Make("videoconvert");
    caps_ = Make("capsfilter");
    flip_ = Make("videoflip");
    SetCapsFormat(caps_, "BGR");
    // The rows are turned in the probe, in the copy that gives the callback
    // a buffer of its own; videoflip stays in place as a passthrough.
    SetFlip(flip_, false);
    gst_element_link_many(convert_, caps_, flip_, nullptr);
    GstPad* sink = StaticPad(convert_, "sink");
    GstPad* src = StaticPad(flip_, "src");
    in_ = AddPin(PINDIR_INPUT, L"Input", sink);
    out_ = AddPin(PINDIR_OUTPUT, L"Output", src);
    probe_ = gst_pad_add_probe(src, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                               &SampleGrabber::OnBuffer, this, nullptr);
    probePad_ = src;
    gst_object_unref(sink);
  }
  ~SampleGrabber() override {
    gst_element_set_state(bin_, GST_STATE_NULL);
    gst_pad_remove_probe(probePad_, probe_);
    gst_object_unref(probePad_);
    {
      std::lock_guard<std::recursive_mutex> lock(callbackLock_);
      callback_ = nullptr;
    }
    ReleasePool();
  }
  CLSID ClassId() const override { return CLSID_SampleGrabber; }

  HRESULT OnInputConnected(PinImpl* input) override {
    // Frames leave bottom-up, as the platform hands them over.
    flipRows_ = !input->format.bottomUp;
    VideoFormat f = input->format;
    f.subtype = subtype_;
    f.bottomUp = true;
    f.compressed = false;
    out_->format = f;
    return S_OK;
  }

  HRESULT SetOneShot(BOOL) override { return S_OK; }
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    if (type->majortype != GUID_NULL && type->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    if (type->subtype == MEDIASUBTYPE_RGB32) {
      subtype_ = MEDIASUBTYPE_RGB32;
      SetCapsFormat(caps_, "BGRx");
    } else if (type->subtype == MEDIASUBTYPE_RGB24 || type->subtype == GUID_NULL) {
      subtype_ = MEDIASUBTYPE_RGB24;
      SetCapsFormat(caps_, "BGR");
    } else {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
  }
  HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    if (!in_->PeerImpl()) return VFW_E_NOT_CONNECTED;
    FillMediaType(out_->format, type);
    return S_OK;
  }
  HRESULT SetBufferSamples(BOOL) override { return S_OK; }
  HRESULT SetCallback(ISampleGrabberCB* callback, long which) override {
    if (which != 0 && which != 1) return E_INVALIDARG;
    CComPtr<ISampleGrabberCB> old;
    {
      // Waits for a call in progress on the streaming thread.
      std::lock_guard<std::recursive_mutex> lock(callbackLock_);
      old = std::move(callback_);
      callback_ = callback;
      mode_ = which;
    }
    return S_OK;
  }

 private:
  void HoldUntilFlush() override { holdUntilFlush_ = true; }
  void CancelHold() override { holdUntilFlush_ = false; }

  static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<SampleGrabber*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_FLUSH) {
      if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP) self->holdUntilFlush_ = false;
      return GST_PAD_PROBE_OK;
    }
    // Downstream takes the rows bottom-up whether or not a callback sees them.
    bool ownCopy = false;
    if (self->flipRows_) {
      if (GstBuffer* flipped = self->FlippedCopy(pad, GST_PAD_PROBE_INFO_BUFFER(info))) {
        gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
        GST_PAD_PROBE_INFO_DATA(info) = flipped;
        ownCopy = true;
      }
    }
    if (self->holdUntilFlush_) return GST_PAD_PROBE_OK;
    std::lock_guard<std::recursive_mutex> lock(self->callbackLock_);
    if (!self->callback_) return GST_PAD_PROBE_OK;
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!ownCopy) {
      buffer = gst_buffer_make_writable(buffer);
      GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) return GST_PAD_PROBE_OK;
    const double time = GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) / 1e9 : 0.0;
    CComPtr<ISampleGrabberCB> callback = self->callback_;
    if (self->mode_ == 0) {
      auto* sample = new MediaSample(map.data, static_cast<long>(map.size));
      callback->SampleCB(time, sample);
      sample->Expire();
      sample->Release();
    } else {
      callback->BufferCB(time, map.data, static_cast<long>(map.size));
    }
    gst_buffer_unmap(buffer, &map);
    return GST_PAD_PROBE_OK;
  }

  // The frame with its rows in reverse order, in a buffer of the pool: one
  // copy, row by row, in place of videoflip's pixel by pixel one plus the
  // copy that made the frame writable for the callback. The rows keep the
  // caps' own stride, (3w + 3) & ~3 for BGR. Null when the frame cannot be
  // read; the caller then passes it on as it came.
  GstBuffer* FlippedCopy(GstPad* pad, GstBuffer* in) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) return nullptr;
    if (!poolCaps_ || !gst_caps_is_equal(caps, poolCaps_)) {
      ReleasePool();
      if (gst_video_info_from_caps(&info_, caps)) {
        pool_ = gst_buffer_pool_new();
        GstStructure* config = gst_buffer_pool_get_config(pool_);
        gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info_)), 2, 0);
        if (!gst_buffer_pool_set_config(pool_, config) || !gst_buffer_pool_set_active(pool_, TRUE)) ReleasePool();
      }
      if (pool_) poolCaps_ = gst_caps_ref(caps);
    }
    gst_caps_unref(caps);
    if (!pool_) return nullptr;
    GstVideoFrame src;
    if (!gst_video_frame_map(&src, &info_, in, GST_MAP_READ)) return nullptr;
    GstBuffer* out = nullptr;
    if (gst_buffer_pool_acquire_buffer(pool_, &out, nullptr) != GST_FLOW_OK || !out) {
      gst_video_frame_unmap(&src);
      return nullptr;
    }
    GstMapInfo dst;
    if (!gst_buffer_map(out, &dst, GST_MAP_WRITE)) {
      gst_video_frame_unmap(&src);
      gst_buffer_unref(out);
      return nullptr;
    }
    const int height = GST_VIDEO_INFO_HEIGHT(&info_);
    const gsize outStride = static_cast<gsize>(GST_VIDEO_INFO_PLANE_STRIDE(&info_, 0));
    const gsize inStride = static_cast<gsize>(GST_VIDEO_FRAME_PLANE_STRIDE(&src, 0));
    const gsize rowBytes = static_cast<gsize>(GST_VIDEO_INFO_WIDTH(&info_)) * GST_VIDEO_INFO_COMP_PSTRIDE(&info_, 0);
    const auto* from = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&src, 0));
    for (int row = 0; row < height; ++row) {
      guint8* to = dst.data + static_cast<gsize>(height - 1 - row) * outStride;
      if (inStride == outStride) {
        std::memcpy(to, from + static_cast<gsize>(row) * inStride, outStride);
      } else {
        std::memcpy(to, from + static_cast<gsize>(row) * inStride, rowBytes);
        std::memset(to + rowBytes, 0, outStride - rowBytes);
      }
    }
    gst_buffer_unmap(out, &dst);
    gst_video_frame_unmap(&src);
    gst_buffer_copy_into(out, in, static_cast<GstBufferCopyFlags>(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS), 0,
                         static_cast<gsize>(-1));
    return out;
  }

  void ReleasePool() {
    if (pool_) {
      gst_buffer_pool_set_active(pool_, FALSE);
      gst_object_unref(pool_);
      pool_ = nullptr;
    }
    if (poolCaps_) {
      gst_caps_unref(poolCaps_);
      poolCaps_ = nullptr;
    }
  }

  GstElement *convert_, *caps_, *flip_;
  PinImpl *in_, *out_;
  GstPad* probePad_;
  gulong probe_;
  // Streaming thread only (and the destructor, after the pipeline stopped).
  GstBufferPool* pool_ = nullptr;
  GstCaps* poolCaps_ = nullptr;
  GstVideoInfo info_{};
  std::atomic<bool> flipRows_{true};
  GUID subtype_ = MEDIASUBTYPE_RGB24;
  std::atomic<bool> holdUntilFlush_{false};
  std::recursive_mutex callbackLock_;
  CComPtr<ISampleGrabberCB> callback_;
  long mode_ = 0;
};

// ---------------------------------------------------------------- renderers

class VideoRenderer : public Filter<VideoRenderer, IVMRFilterConfig9, IVMRWindowlessControl9, IVMRMixerControl9,
                                    IVMRDeinterlaceControl9, IVMRMonitorConfig9> {
 public:
  VideoRenderer() : Filter("renderer") {
    flip_ = Make("videoflip");
    convert_ = Make("videoconvert");
    caps_ = Make("capsfilter");
    sink_ = Make("appsink");
    SetCapsFormat(caps_, "BGRx");
    g_object_set(sink_, "sync", TRUE, "max-buffers", 1, "drop", TRUE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &VideoRenderer::OnSample;
    callbacks.new_preroll = &VideoRenderer::OnPreroll;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
    gst_element_link_many(flip_, convert_, caps_, sink_, nullptr);
    GstPad* sink = StaticPad(flip_, "sink");
    in_ = AddPin(PINDIR_INPUT, L"VMR Input0", sink);
    gst_object_unref(sink);
    SetFlip(flip_, false);
  }
  ~VideoRenderer() override {
    gst_element_set_state(bin_, GST_STATE_NULL);
    std::lock_guard<std::mutex> lock(frameLock_);
    if (frame_) gst_sample_unref(frame_);
  }
  CLSID ClassId() const override { return CLSID_VideoMixingRenderer9; }

  HRESULT OnInputConnected(PinImpl* input) override {
    // Rows that arrive bottom-up are shown upright.
    SetFlip(flip_, input->format.bottomUp && !input->format.compressed);
    return S_OK;
  }

  HRESULT SetRenderingMode(DWORD) override { return S_OK; }
  HRESULT SetNumberOfStreams(DWORD) override { return S_OK; }
  HRESULT SetMixingPrefs(DWORD) override { return S_OK; }
  HRESULT SetDeinterlaceMode(DWORD, const GUID*) override { return S_OK; }
  HRESULT SetMonitor(UINT) override { return S_OK; }
  HRESULT SetAspectRatioMode(DWORD) override { return S_OK; }

  HRESULT SetVideoClippingWindow(HWND hwnd) override {
    std::lock_guard<std::mutex> lock(frameLock_);
    clip_ = hwnd;
    return S_OK;
  }
  HRESULT SetVideoPosition(const RECT*, const RECT* destination) override {
    std::lock_guard<std::mutex> lock(frameLock_);
    if (destination) {
      dest_ = *destination;
      hasDest_ = true;
    }
    return S_OK;
  }
  HRESULT GetNativeVideoSize(LONG* width, LONG* height, LONG* arWidth, LONG* arHeight) override {
    if (width) *width = in_->format.width;
    if (height) *height = in_->format.height;
    if (arWidth) *arWidth = in_->format.width;
    if (arHeight) *arHeight = in_->format.height;
    return S_OK;
  }

  // On the UI thread: the newest frame, stretched over the video position.
  HRESULT RepaintVideo(HWND hwnd, HDC) override {
    GstSample* sample = nullptr;
    HWND target;
    RECT dest;
    bool hasDest;
    {
      std::lock_guard<std::mutex> lock(frameLock_);
      if (frame_) sample = gst_sample_ref(frame_);
      target = clip_ ? clip_ : hwnd;
      dest = dest_;
      hasDest = hasDest_;
    }
    if (!sample) return S_OK;
    win::WindowServices* windows = win::GetWindowServices();
    HRESULT hr = S_OK;
    if (!windows || !target) {
      hr = E_FAIL;
    } else {
      if (!hasDest) {
        int w = 0, h = 0;
        windows->GetClientSize(target, &w, &h);
        dest = RECT{0, 0, w, h};
      }
      hr = Draw(windows, target, sample, dest);
    }
    gst_sample_unref(sample);
    return hr;
  }

 private:
  static HRESULT Draw(win::WindowServices* windows, HWND target, GstSample* sample, const RECT& dest) {
    const int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    int sw = 0, sh = 0;
    gst_structure_get_int(s, "width", &sw);
    gst_structure_get_int(s, "height", &sh);
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return S_OK;
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return E_FAIL;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(dw) * dh);
    const auto* src = reinterpret_cast<const std::uint32_t*>(map.data);
    const std::size_t srcCount = map.size / 4;
    for (int y = 0; y < dh; ++y) {
      const int sy = static_cast<int>(static_cast<long long>(y) * sh / dh);
      for (int x = 0; x < dw; ++x) {
        const int sx = static_cast<int>(static_cast<long long>(x) * sw / dw);
        const std::size_t i = static_cast<std::size_t>(sy) * sw + sx;
        pixels[static_cast<std::size_t>(y) * dw + x] = (i < srcCount ? src[i] : 0) | 0xFF000000u;
      }
    }
    gst_buffer_unmap(buffer, &map);
    return windows->WriteClient(target, dest.left, dest.top, pixels.data(), dw, dh, dw * 4) ? S_OK : E_FAIL;
  }

  void Keep(GstSample* sample) {
    std::lock_guard<std::mutex> lock(frameLock_);
    if (frame_) gst_sample_unref(frame_);
    frame_ = sample;
  }
  static GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
    if (GstSample* s = gst_app_sink_pull_sample(sink)) static_cast<VideoRenderer*>(data)->Keep(s);
    return GST_FLOW_OK;
  }
  static GstFlowReturn OnPreroll(GstAppSink* sink, gpointer data) {
    if (GstSample* s = gst_app_sink_pull_preroll(sink)) static_cast<VideoRenderer*>(data)->Keep(s);
    return GST_FLOW_OK;
  }

  GstElement *flip_, *convert_, *caps_, *sink_;
  PinImpl* in_;
  std::mutex frameLock_;
  GstSample* frame_ = nullptr;
  HWND clip_ = nullptr;
  RECT dest_{};
  bool hasDest_ = false;
};

class NullRenderer : public Filter<NullRenderer> {
 public:
  NullRenderer() : Filter("null") {
    sink_ = Make("fakesink");
    g_object_set(sink_, "sync", TRUE, nullptr);
    GstPad* pad = StaticPad(sink_, "sink");
    AddPin(PINDIR_INPUT, L"In", pad);
    gst_object_unref(pad);
  }
  CLSID ClassId() const override { return CLSID_NullRenderer; }

 private:
  GstElement* sink_;
};

class ColourConverter : public Filter<ColourConverter> {
 public:
  ColourConverter() : Filter("colour") {
    GstElement* convert = Make("videoconvert");
    GstElement* caps = Make("capsfilter");
    SetCapsFormat(caps, "BGR");
    gst_element_link(convert, caps);
    GstPad* sink = StaticPad(convert, "sink");
    GstPad* src = StaticPad(caps, "src");
    AddPin(PINDIR_INPUT, L"Input", sink);
    out_ = AddPin(PINDIR_OUTPUT, L"XForm Out", src);
    gst_object_unref(sink);
    gst_object_unref(src);
  }
  CLSID ClassId() const override { return CLSID_Colour; }
  HRESULT OnInputConnected(PinImpl* input) override {
    out_->format = input->format;
    out_->format.subtype = MEDIASUBTYPE_RGB24;
    out_->format.compressed = false;
    return S_OK;
  }

 private:
  PinImpl* out_;
};

// ---------------------------------------------------------------- tees

// A valve: IAMStreamControl of a tee output. Closed while the output is
// unconnected or held by StopAt.
class StreamControl : public ComObject<StreamControl, IAMStreamControl> {
 public:
  explicit StreamControl(GstElement* valve) : valve_(GST_ELEMENT(gst_object_ref(valve))) {}
  HRESULT StartAt(const REFERENCE_TIME* time, DWORD) override {
    held_ = time && *time == MAXLONGLONG_TIME;
    Apply();
    return S_OK;
  }
  HRESULT StopAt(const REFERENCE_TIME* time, BOOL, DWORD) override {
    held_ = !(time && *time == MAXLONGLONG_TIME);
    Apply();
    return S_OK;
  }
  void SetConnected(bool connected) {
    connected_ = connected;
    Apply();
  }

 protected:
  ~StreamControl() override { gst_object_unref(valve_); }

 private:
  void Apply() { g_object_set(valve_, "drop", (!connected_ || held_) ? TRUE : FALSE, nullptr); }
  GstElement* valve_;
  bool connected_ = false;
  bool held_ = false;
};

class Tee : public Filter<Tee> {
 public:
  Tee(REFCLSID clsid, bool smart) : Filter("tee"), clsid_(clsid), smart_(smart) {
    tee_ = Make("tee");
    g_object_set(tee_, "allow-not-linked", TRUE, nullptr);
    GstPad* sink = StaticPad(tee_, "sink");
    in_ = AddPin(PINDIR_INPUT, L"Input", sink);
    gst_object_unref(sink);
    if (smart_) {
      AddOutput(L"Capture", false);
      AddOutput(L"Preview", true);
    } else {
      AddOutput(L"Output1", false);
    }
  }
  CLSID ClassId() const override { return clsid_; }

  HRESULT OnInputConnected(PinImpl* input) override {
    for (auto& o : outputs_) o.pin->format = input->format;
    return S_OK;
  }
  void OnOutputConnected(PinImpl* output) override {
    output->format = in_->format;
    Control(output)->SetConnected(true);
    // The infinite tee always offers one more unconnected output.
    if (!smart_ && outputs_.back().pin == output)
      AddOutput(L"Output" + std::to_wstring(outputs_.size() + 1), false);
  }
  void OnOutputDisconnected(PinImpl* output) override { Control(output)->SetConnected(false); }
  void* PinInterface(PinImpl* pin, REFIID riid) override {
    if (riid != IID_IAMStreamControl) return nullptr;
    StreamControl* c = Control(pin);
    return c ? static_cast<IAMStreamControl*>(c) : nullptr;
  }

 private:
  struct Output {
    PinImpl* pin;
    CComPtr<StreamControl> control;
  };

  void AddOutput(const std::wstring& name, bool preview) {
    GstPad* teePad = gst_element_request_pad_simple(tee_, "src_%u");
    GstElement* valve = MakeValve(bin_, true);
    GstElement* last = valve;
    if (preview) {
      // The preview never holds up capture: late frames are dropped.
      GstElement* queue = gst_element_factory_make("queue", nullptr);
      g_object_set(queue, "max-size-buffers", 2, "max-size-bytes", 0, "max-size-time", G_GUINT64_CONSTANT(0), nullptr);
      gst_util_set_object_arg(G_OBJECT(queue), "leaky", "downstream");
      gst_bin_add(GST_BIN(bin_), queue);
      gst_element_link(valve, queue);
      last = queue;
    }
    GstPad* valveSink = StaticPad(valve, "sink");
    gst_pad_link(teePad, valveSink);
    gst_object_unref(valveSink);
    gst_object_unref(teePad);
    if (GST_STATE(bin_) > GST_STATE_NULL) {
      gst_element_sync_state_with_parent(valve);
      if (last != valve) gst_element_sync_state_with_parent(last);
    }
    GstPad* src = StaticPad(last, "src");
    PinImpl* pin = AddPin(PINDIR_OUTPUT, name, src);
    gst_object_unref(src);
    pin->format = in_->format;
    Output o{pin, {}};
    o.control.Attach(new StreamControl(valve));
    outputs_.push_back(std::move(o));
  }
  StreamControl* Control(PinImpl* pin) {
    for (auto& o : outputs_)
      if (o.pin == pin) return o.control;
    return nullptr;
  }

  CLSID clsid_;
  bool smart_;
  GstElement* tee_;
  PinImpl* in_;
  std::vector<Output> outputs_;
};

// ---------------------------------------------------------------- files

class FileWriter : public Filter<FileWriter, IFileSinkFilter> {
 public:
  FileWriter() : Filter("writer") {
    sink_ = Make("filesink");
    // A closed recording branch must not hold up the graph's state changes.
    g_object_set(sink_, "async", FALSE, "sync", FALSE, nullptr);
    GstPad* pad = StaticPad(sink_, "sink");
    AddPin(PINDIR_INPUT, L"in", pad);
    probe_ = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &FileWriter::OnEvent, this, nullptr);
    pad_ = pad;
  }
  ~FileWriter() override {
    gst_element_set_state(bin_, GST_STATE_NULL);
    gst_pad_remove_probe(pad_, probe_);
    gst_object_unref(pad_);
  }
  CLSID ClassId() const override { return CLSID_FileWriter; }
  std::string Persisted() const override { return path_; }

  HRESULT SetFileName(const wchar_t* file, const AM_MEDIA_TYPE*) override {
    if (!file) return E_POINTER;
    path_ = quorl::MapPath(com::WideToUtf8(file));
    g_object_set(sink_, "location", path_.c_str(), nullptr);
    return S_OK;
  }

  bool WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(lock_);
    return ended_.wait_for(lock, timeout, [&] { return eos_; });
  }

 private:
  static GstPadProbeReturn OnEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<FileWriter*>(data);
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
      {
        std::lock_guard<std::mutex> lock(self->lock_);
        self->eos_ = true;
      }
      self->ended_.notify_all();
    }
    return GST_PAD_PROBE_OK;
  }

  GstElement* sink_;
  GstPad* pad_;
  gulong probe_;
  std::string path_;
  std::mutex lock_;
  std::condition_variable ended_;
  bool eos_ = false;
};

class AviMux : public Filter<AviMux, IConfigAviMux> {
 public:
  AviMux() : Filter("avimux") {
    mux_ = Make("avimux");
    GstPad* src = StaticPad(mux_, "src");
    out_ = AddPin(PINDIR_OUTPUT, L"AVI Out", src);
    gst_object_unref(src);
    AddInput();
  }
  CLSID ClassId() const override { return CLSID_AviDest; }

  HRESULT SetMasterStream(LONG stream) override {
    master_ = stream;
    return S_OK;
  }
  HRESULT GetMasterStream(LONG* stream) override {
    if (!stream) return E_POINTER;
    *stream = master_;
    return S_OK;
  }

  HRESULT OnInputConnected(PinImpl* input) override {
    Input* in = Find(input);
    if (!in || finished_) return VFW_E_WRONG_STATE;
    GstPad* muxPad = gst_element_request_pad_simple(mux_, "video_%u");
    if (!muxPad) return VFW_E_CANNOT_CONNECT;
    GstElement* last = in->valve;
    if (!input->format.compressed) {
      // Frames from the grabber are bottom-up; files store them upright.
      GstElement* flip = gst_element_factory_make("videoflip", nullptr);
      GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
      SetFlip(flip, input->format.bottomUp);
      gst_bin_add_many(GST_BIN(bin_), flip, convert, nullptr);
      gst_element_link_many(in->valve, flip, convert, nullptr);
      if (GST_STATE(bin_) > GST_STATE_NULL) {
        gst_element_sync_state_with_parent(flip);
        gst_element_sync_state_with_parent(convert);
      }
      last = convert;
    }
    GstPad* src = StaticPad(last, "src");
    gst_pad_link(src, muxPad);
    gst_object_unref(src);
    in->muxPad = muxPad;
    out_->format = input->format;
    out_->format.compressed = true;
    AddInput();
    return S_OK;
  }

  void BeforeStop() override { Finish(); }
  void OnRemoved() override { Finish(); }

 private:
  struct Input {
    PinImpl* pin;
    GstElement* valve;
    GstPad* muxPad = nullptr;
  };

  void AddInput() {
    GstElement* valve = MakeValve(bin_, false);
    if (GST_STATE(bin_) > GST_STATE_NULL) gst_element_sync_state_with_parent(valve);
    GstPad* sink = StaticPad(valve, "sink");
    wchar_t name[16];
    std::swprintf(name, 16, L"Input %02d", static_cast<int>(inputs_.size() + 1));
    PinImpl* pin = AddPin(PINDIR_INPUT, name, sink);
    gst_object_unref(sink);
    inputs_.push_back(Input{pin, valve});
  }
  Input* Find(PinImpl* pin) {
    for (auto& i : inputs_)
      if (i.pin == pin) return &i;
    return nullptr;
  }

  // Ends the file: the branch is closed, the multiplexer and the writer get
  // an end of stream of their own and run until the writer has it; the rest
  // of the graph runs on.
  void Finish() {
    if (finished_) return;
    bool any = false;
    for (auto& i : inputs_) any = any || i.muxPad;
    GstElement* pipeline = GST_ELEMENT_PARENT(bin_);
    if (!any || !pipeline || GST_STATE(pipeline) < GST_STATE_PAUSED) return;
    finished_ = true;
    FileWriter* writer = nullptr;
    if (PinImpl* peer = out_->PeerImpl())
      if (FilterBase* f = peer->Filter()) writer = dynamic_cast<FileWriter*>(f);
    for (auto& i : inputs_)
      if (i.muxPad) g_object_set(i.valve, "drop", TRUE, nullptr);
    // Sinks block on a paused graph's preroll; the branch runs on its own.
    GstElement* branch[] = {bin_, writer ? writer->Bin() : nullptr};
    for (GstElement* e : branch)
      if (e) {
        gst_element_set_locked_state(e, TRUE);
        gst_element_set_state(e, GST_STATE_PLAYING);
      }
    for (auto& i : inputs_)
      if (i.muxPad) gst_pad_send_event(i.muxPad, gst_event_new_eos());
    if (writer) writer->WaitForEnd(std::chrono::seconds(10));
    for (GstElement* e : branch)
      if (e) gst_element_set_state(e, GST_STATE_NULL);
  }

  GstElement* mux_;
  PinImpl* out_;
  std::vector<Input> inputs_;
  LONG master_ = -1;
  bool finished_ = false;
};

// ---------------------------------------------------------------- encoders

class Encoder : public Filter<Encoder> {
 public:
  Encoder(const std::string& factory, REFCLSID clsid) : Filter("encoder"), clsid_(clsid) {
    flip_ = Make("videoflip");
    GstElement* convert = Make("videoconvert");
    GstElement* encoder = Make(factory.c_str());
    ok_ = encoder != nullptr;
    SetFlip(flip_, false);
    gst_element_link(flip_, convert);
    if (encoder) gst_element_link(convert, encoder);
    GstPad* sink = StaticPad(flip_, "sink");
    in_ = AddPin(PINDIR_INPUT, L"Input", sink);
    gst_object_unref(sink);
    GstPad* src = encoder ? StaticPad(encoder, "src") : nullptr;
    out_ = AddPin(PINDIR_OUTPUT, L"Output", src);
    if (src) gst_object_unref(src);
    subtype_ = factory == "jpegenc" ? MEDIASUBTYPE_MJPG : GuidFromFourCC(MakeFourCC('Q', 'E', 'N', 'C'));
    out_->format.compressed = true;
    out_->format.subtype = subtype_;
  }
  CLSID ClassId() const override { return clsid_; }
  HRESULT OnInputConnected(PinImpl* input) override {
    if (!ok_) return VFW_E_CANNOT_CONNECT;
    SetFlip(flip_, input->format.bottomUp);
    out_->format = input->format;
    out_->format.bottomUp = false;
    out_->format.compressed = true;
    out_->format.subtype = subtype_;
    return S_OK;
  }

 private:
  CLSID clsid_;
  GstElement* flip_;
  PinImpl *in_, *out_;
  GUID subtype_;
  bool ok_;
};

}  // namespace

IBaseFilter* MakeFileSource(REFCLSID clsid) { return new FileSource(clsid); }
IBaseFilter* MakeSampleGrabber() { return new SampleGrabber; }
IBaseFilter* MakeVideoRenderer() { return new VideoRenderer; }
IBaseFilter* MakeNullRenderer() { return new NullRenderer; }
IBaseFilter* MakeColourConverter() { return new ColourConverter; }
IBaseFilter* MakeSmartTee() { return new Tee(CLSID_SmartTee, true); }
IBaseFilter* MakeInfTee() { return new Tee(CLSID_InfTee, false); }
IBaseFilter* MakeAviMux() { return new AviMux; }
IBaseFilter* MakeFileWriter() { return new FileWriter; }
IBaseFilter* MakeEncoder(const std::string& factory, REFCLSID clsid) { return new Encoder(factory, clsid); }

}  // namespace dshow::gst
