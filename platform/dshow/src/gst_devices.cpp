// Capture devices, compressors, the device enumerator, the capture graph
// builder and the registration of the stand-in's classes.
#include <dlfcn.h>
#include <fcntl.h>
#include <gst/gst.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cctype>
#include <map>
#include <memory>

#include "com/bstr.h"
#include "dshow/devices.h"
#include "dshow/vector_enum.h"
#include "gst_filters.h"

namespace dshow {

namespace {

std::mutex& DeviceLock() {
  static std::mutex m;
  return m;
}
std::vector<std::pair<int, FakeDevice>>& Devices() {
  static std::vector<std::pair<int, FakeDevice>> d;
  return d;
}
int g_nextDeviceId = 1;

void AddDevicesFromEnvironment() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* names = std::getenv("QUORL_FAKE_VIDEO_DEVICES");
    if (!names) return;
    std::string all = names, name;
    for (std::size_t i = 0; i <= all.size(); ++i) {
      if (i == all.size() || all[i] == ';') {
        if (!name.empty()) {
          FakeDevice d;
          d.name = name;
          d.formats = {DeviceFormat{MEDIASUBTYPE_YUY2, 640, 480, 30}, DeviceFormat{MEDIASUBTYPE_YUY2, 320, 240, 30}};
          AddFakeDevice(d);
        }
        name.clear();
      } else {
        name += all[i];
      }
    }
  });
}

}  // namespace

int AddFakeDevice(FakeDevice device) {
  std::lock_guard<std::mutex> lock(DeviceLock());
  Devices().emplace_back(g_nextDeviceId, std::move(device));
  return g_nextDeviceId++;
}

void RemoveFakeDevice(int id) {
  std::lock_guard<std::mutex> lock(DeviceLock());
  auto& d = Devices();
  d.erase(std::remove_if(d.begin(), d.end(), [&](auto& e) { return e.first == id; }), d.end());
}

void ClearFakeDevices() {
  std::lock_guard<std::mutex> lock(DeviceLock());
  Devices().clear();
}

namespace {
std::atomic<bool> g_compressorsHidden{false};
}

void SetCompressorsHidden(bool hidden) { g_compressorsHidden = hidden; }
bool CompressorsHidden() { return g_compressorsHidden; }

}  // namespace dshow

namespace dshow::gst {

namespace {

std::string LibraryFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LibraryFile), &info) && info.dli_fname) return info.dli_fname;
  return {};
}

GstCaps* DeviceCaps(const DeviceFormat& f) {
  if (f.subtype == MEDIASUBTYPE_MJPG)
    return gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, f.width, "height", G_TYPE_INT, f.height,
                               "framerate", GST_TYPE_FRACTION, f.fps, 1, nullptr);
  const char* format = CapsFormatOf(f.subtype);
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format ? format : "YUY2", "width", G_TYPE_INT,
                             f.width, "height", G_TYPE_INT, f.height, "framerate", GST_TYPE_FRACTION, f.fps, 1,
                             nullptr);
}

class CaptureFilter;

// One input per connector; routing picks the capture filter's input.
class CrossbarFilter : public Filter<CrossbarFilter, IAMCrossbar> {
 public:
  CrossbarFilter(CaptureFilter* capture, const std::vector<long>& inputs);
  CLSID ClassId() const override { return CLSID_Crossbar; }
  HRESULT get_PinCounts(long* outputs, long* inputs) override {
    if (!outputs || !inputs) return E_POINTER;
    *outputs = 1;
    *inputs = static_cast<long>(types_.size());
    return S_OK;
  }
  HRESULT CanRoute(long output, long input) override {
    return output == 0 && input >= 0 && input < static_cast<long>(types_.size()) ? S_OK : S_FALSE;
  }
  HRESULT Route(long output, long input) override;
  HRESULT get_IsRoutedTo(long output, long* input) override {
    if (!input) return E_POINTER;
    if (output != 0) return E_INVALIDARG;
    *input = routed_;
    return S_OK;
  }
  HRESULT get_CrossbarPinInfo(BOOL isInput, long index, long* related, long* type) override {
    if (!related || !type) return E_POINTER;
    *related = -1;
    if (isInput) {
      if (index < 0 || index >= static_cast<long>(types_.size())) return E_INVALIDARG;
      *type = types_[static_cast<std::size_t>(index)];
    } else {
      if (index != 0) return E_INVALIDARG;
      *type = 12;  // video decoder
    }
    return S_OK;
  }
  PinImpl* Output() const { return pins_.back(); }
  void Forget() { capture_ = nullptr; }

 private:
  CaptureFilter* capture_;  // the capture filter owns this crossbar
  std::vector<long> types_;
  long routed_ = 0;
};

// The capture pin's page list: the device's formats.
class PinPages : public ComObject<PinPages, ISpecifyPropertyPages> {
 public:
  HRESULT GetPages(CAUUID* pages) override {
    if (!pages) return E_POINTER;
    pages->cElems = 1;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    pages->pElems[0] = CLSID_CapturePinPropertyPage;
    return S_OK;
  }
};

class CaptureFilter
    : public Filter<CaptureFilter, IAMDroppedFrames, IAMStreamConfig, ISpecifyPropertyPages, IDeviceControls,
                    IAMVfwCaptureDialogs> {
 public:
  // A fake device (a live test pattern or the test's frames) or, with a
  // device of the media library, that device's own source element.
  CaptureFilter(const FakeDevice& device, GstDevice* real, std::string v4l2Path)
      : Filter("capture"), device_(device), v4l2Path_(std::move(v4l2Path)) {
    pinPages_.Attach(new PinPages);
    if (device_.formats.empty()) device_.formats.push_back(DeviceFormat{});
    GstElement* identity = nullptr;
    if (real) {
      source_ = gst_device_create_element(real, nullptr);
      gst_bin_add(GST_BIN(bin_), source_);
      deviceCaps_ = Make("capsfilter");
      // Compressed device formats are decoded here: every consumer takes raw frames.
      GstElement* decode = Make("decodebin");
      identity = Make("identity");
      gst_element_link(source_, deviceCaps_);
      gst_element_link(deviceCaps_, decode);
      g_signal_connect(decode, "pad-added", G_CALLBACK(&CaptureFilter::OnDecoded), identity);
      rawCaps_ = nullptr;
    } else {
      source_ = Make("videotestsrc");
      g_object_set(source_, "is-live", TRUE, nullptr);
      rawCaps_ = Make("capsfilter");
      identity = Make("identity");
      GstElement* convert = Make("videoconvert");
      deviceCaps_ = Make("capsfilter");
      gst_element_link_many(source_, rawCaps_, identity, convert, deviceCaps_, nullptr);
    }
    g_object_set(identity, "silent", TRUE, nullptr);
    GstPad* probePad = gst_element_get_static_pad(identity, "src");
    gst_pad_add_probe(probePad, GST_PAD_PROBE_TYPE_BUFFER, &CaptureFilter::OnFrame, this, nullptr);
    gst_object_unref(probePad);
    if (real) {
      ReadV4l2Inputs();
    }
    if (device_.inputs.size() >= 2 || device_.analogInputWithoutCrossbar) {
      analog_ = AddPin(PINDIR_INPUT, L"Analog Video In", nullptr);
      analog_->SetCategory(PIN_CATEGORY_ANALOGVIDEOIN);
    }
    GstPad* src = gst_element_get_static_pad(real ? identity : deviceCaps_, "src");
    using Output = FakeDevice::Output;
    out_ = AddPin(PINDIR_OUTPUT, device_.output == Output::PreviewOnly ? L"Preview" : L"Capture", src);
    gst_object_unref(src);
    if (device_.output == Output::Capture) out_->SetCategory(PIN_CATEGORY_CAPTURE);
    if (device_.output == Output::PreviewOnly) out_->SetCategory(PIN_CATEGORY_PREVIEW);
    if (device_.output == Output::None) {
      // The pin still carries the format; it is only not listed.
      hiddenOut_ = out_;
      pins_.pop_back();
    }
    Apply(device_.formats.front());
    if (analog_ && device_.inputs.size() >= 2) {
      crossbar_.Attach(new CrossbarFilter(this, device_.inputs));
      PairPins(crossbar_->Output(), analog_);
      if (!real) SelectInput(0);
    }
  }
  ~CaptureFilter() override {
    gst_element_set_state(bin_, GST_STATE_NULL);
    if (crossbar_) crossbar_->Forget();
  }
  CLSID ClassId() const override { return CLSID_VideoCapture; }
  std::string Persisted() const override { return "device:" + device_.name; }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object && ((riid == IID_IAMDroppedFrames && !device_.droppedFrames) ||
                   (riid == IID_IAMVfwCaptureDialogs && !device_.vfwDialogs))) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    return Filter::QueryInterface(riid, object);
  }

  // IAMVfwCaptureDialogs: answered when asked for, with no dialog behind it.
  HRESULT HasDialog(int) override { return S_FALSE; }
  HRESULT ShowDialog(int, HWND) override { return E_NOTIMPL; }

  // The filter's page: the device's controls.
  HRESULT GetPages(CAUUID* pages) override {
    if (!pages) return E_POINTER;
    pages->cElems = 1;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    pages->pElems[0] = CLSID_CaptureFilterPropertyPage;
    return S_OK;
  }
  HRESULT GetControlNames(std::vector<std::string>* names) override {
    if (!names) return E_POINTER;
    *names = device_.controls;
    return S_OK;
  }

  void* PinInterface(PinImpl* pin, REFIID riid) override {
    if (pin == out_ && riid == IID_ISpecifyPropertyPages) return static_cast<ISpecifyPropertyPages*>(pinPages_.p());
    if (pin == out_ && riid == IID_IAMStreamConfig) return static_cast<IAMStreamConfig*>(this);
    if (pin == out_ && riid == IID_IAMDroppedFrames && device_.droppedFrames)
      return static_cast<IAMDroppedFrames*>(this);
    return nullptr;
  }

  void SelectInput(long input) {
    if (!v4l2Path_.empty()) {
      // Inputs are the device's own: any open handle switches them.
      const int fd = ::open(v4l2Path_.c_str(), O_RDWR | O_NONBLOCK);
      if (fd >= 0) {
        int index = static_cast<int>(input);
        ::ioctl(fd, VIDIOC_S_INPUT, &index);
        ::close(fd);
      }
    } else {
      static const char* const kPatterns[] = {"red", "green", "blue", "white", "black"};
      gst_util_set_object_arg(G_OBJECT(source_), "pattern", kPatterns[std::clamp<long>(input, 0, 4)]);
    }
    std::lock_guard<std::mutex> lock(statsLock_);
    input_ = input;
  }

  // IAMStreamConfig
  HRESULT SetFormat(AM_MEDIA_TYPE* type) override {
    // Null: back to the device's default format, its first.
    if (!type) return Choose(device_.formats.front());
    if (type->formattype != FORMAT_VideoInfo || !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER))
      return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    const int w = vih->bmiHeader.biWidth, h = std::abs(vih->bmiHeader.biHeight);
    for (const DeviceFormat& f : device_.formats) {
      if (f.subtype != type->subtype || f.width != w || f.height != h) continue;
      DeviceFormat chosen = f;
      if (vih->AvgTimePerFrame > 0)
        chosen.fps = std::max(1, static_cast<int>((10000000LL + vih->AvgTimePerFrame / 2) / vih->AvgTimePerFrame));
      return Choose(chosen);
    }
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Choose(const DeviceFormat& chosen) {
    // A new size while frames flow would contradict the connected type;
    // a new rate is taken on a connected pin too.
    const bool newShape =
        chosen.width != current_.width || chosen.height != current_.height || chosen.subtype != current_.subtype;
    if (out_->PeerImpl() && GST_STATE(bin_) > GST_STATE_READY && newShape) return VFW_E_WRONG_STATE;
    if (newShape && GST_STATE(bin_) > GST_STATE_READY) {
      // A stopped graph is paused underneath, and a live source's thread may
      // still be pushing a frame of the old shape: meeting the new caps it
      // fails negotiation and the source stops for good. Stop the thread
      // while the shape changes, then follow the graph's state again.
      gst_element_set_state(bin_, GST_STATE_READY);
      Apply(chosen);
      gst_element_sync_state_with_parent(bin_);
      return S_OK;
    }
    if (out_->PeerImpl() && GST_STATE(bin_) > GST_STATE_READY) {
      if (chosen.fps == current_.fps) return S_OK;
      // A new rate on a connected, live pin is only recorded: the stream
      // downstream was negotiated at the old rate, so renegotiating the
      // source finds no common caps and stops it for good. The rate is
      // applied once the pin is disconnected.
      out_->format.fpsNum = chosen.fps;
      out_->format.fpsDen = 1;
      current_ = chosen;
      ratePending_ = true;
      return S_OK;
    }
    Apply(chosen);
    return S_OK;
  }
  void OnOutputDisconnected(PinImpl* output) override {
    if (output != out_ || !ratePending_) return;
    // Nothing downstream any more: the source's thread can be stopped
    // while its caps change, as for a new shape.
    if (GST_STATE(bin_) > GST_STATE_READY) {
      gst_element_set_state(bin_, GST_STATE_READY);
      Apply(current_);
      gst_element_sync_state_with_parent(bin_);
    } else {
      Apply(current_);
    }
  }
  HRESULT GetFormat(AM_MEDIA_TYPE** type) override {
    if (!type) return E_POINTER;
    *type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    FillMediaType(out_->format, *type);
    return S_OK;
  }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    if (!count || !size) return E_POINTER;
    *count = static_cast<int>(device_.formats.size());
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
  }
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override {
    if (!type || !caps) return E_POINTER;
    if (index < 0 || index >= static_cast<int>(device_.formats.size())) return S_FALSE;
    const DeviceFormat& f = device_.formats[static_cast<std::size_t>(index)];
    *type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    FillMediaType(ToVideoFormat(f), *type);
    VIDEO_STREAM_CONFIG_CAPS c{};
    c.guid = FORMAT_VideoInfo;
    c.InputSize = c.MinOutputSize = c.MaxOutputSize = SIZE{f.width, f.height};
    c.MinFrameInterval = c.MaxFrameInterval = 10000000LL / std::max(1, f.fps);
    std::memcpy(caps, &c, sizeof(c));
    return S_OK;
  }

  // IAMDroppedFrames: gaps in the source's frame numbering.
  HRESULT GetNumDropped(long* dropped) override {
    if (!dropped) return E_POINTER;
    if (device_.droppedCount) {
      *dropped = device_.droppedCount->load();
      return S_OK;
    }
    std::lock_guard<std::mutex> lock(statsLock_);
    *dropped = dropped_;
    return S_OK;
  }
  HRESULT GetNumNotDropped(long* delivered) override {
    if (!delivered) return E_POINTER;
    std::lock_guard<std::mutex> lock(statsLock_);
    *delivered = delivered_;
    return S_OK;
  }
  HRESULT GetAverageFrameSize(long* size) override {
    if (!size) return E_POINTER;
    const BITMAPINFOHEADER header = vihOf(out_->format);
    *size = static_cast<long>(GetBitmapSize(&header));
    return S_OK;
  }

 private:
  static BITMAPINFOHEADER vihOf(const VideoFormat& f) {
    BITMAPINFOHEADER b{};
    b.biWidth = f.width;
    b.biHeight = f.height;
    b.biBitCount = GetBitCount(&f.subtype);
    return b;
  }
  static VideoFormat ToVideoFormat(const DeviceFormat& f) {
    VideoFormat v;
    v.subtype = f.subtype;
    v.width = f.width;
    v.height = f.height;
    v.fpsNum = f.fps;
    v.fpsDen = 1;
    return v;
  }
  void Apply(const DeviceFormat& f) {
    ratePending_ = false;
    if (rawCaps_) {
      DeviceFormat raw = f;
      raw.subtype = MEDIASUBTYPE_RGB24;
      GstCaps* rawCaps = DeviceCaps(raw);
      g_object_set(rawCaps_, "caps", rawCaps, nullptr);
      gst_caps_unref(rawCaps);
    }
    GstCaps* caps = DeviceCaps(f);
    g_object_set(deviceCaps_, "caps", caps, nullptr);
    gst_caps_unref(caps);
    out_->format = ToVideoFormat(f);
    current_ = f;
  }

  static void PairPins(PinImpl* out, PinImpl* in) { PinImpl::Pair(out, in); }

  static void OnDecoded(GstElement*, GstPad* pad, gpointer identity) {
    GstPad* sink = gst_element_get_static_pad(GST_ELEMENT(identity), "sink");
    if (!gst_pad_is_linked(sink)) gst_pad_link(pad, sink);
    gst_object_unref(sink);
  }

  // The connector type of a V4L2 input: tuner, composite, S-Video, else by name.
  static long ConnectorOf(const v4l2_input& input) {
    if (input.type == V4L2_INPUT_TYPE_TUNER) return 1;
    std::string name = reinterpret_cast<const char*>(input.name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    struct Word {
      const char* word;
      long type;
    };
    static const Word kWords[] = {{"composite", 2}, {"s-video", 3}, {"svideo", 3}, {"rgb", 4},
                                  {"component", 5}, {"sdi", 6},     {"1394", 10},  {"usb", 11},
                                  {"camera", 11}};
    for (const Word& w : kWords)
      if (name.find(w.word) != std::string::npos) return w.type;
    return 9;  // auxiliary
  }

  void ReadV4l2Inputs() {
    device_.inputs.clear();
    if (v4l2Path_.empty()) return;
    const int fd = ::open(v4l2Path_.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) return;
    device_.controls.clear();
    v4l2_queryctrl control{};
    control.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (int guard = 0; guard < 256 && ::ioctl(fd, VIDIOC_QUERYCTRL, &control) == 0; ++guard) {
      if (!(control.flags & V4L2_CTRL_FLAG_DISABLED) && control.type != V4L2_CTRL_TYPE_CTRL_CLASS)
        device_.controls.emplace_back(reinterpret_cast<const char*>(control.name));
      control.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    for (unsigned index = 0; index < 64; ++index) {
      v4l2_input input{};
      input.index = index;
      if (::ioctl(fd, VIDIOC_ENUMINPUT, &input) != 0) break;
      device_.inputs.push_back(ConnectorOf(input));
    }
    ::close(fd);
  }

  void OnGraphState(FILTER_STATE state) override {
    // Taken under the frame lock: once Pause or Stop returns, a frame still
    // on its way out of the source is neither counted nor handed out.
    std::lock_guard<std::mutex> lock(frameLock_);
    halted_ = state != State_Running;
  }

  static GstPadProbeReturn OnFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<CaptureFilter*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const guint64 offset = GST_BUFFER_OFFSET(buffer);
    std::lock_guard<std::mutex> gate(self->frameLock_);
    if (self->halted_) {
      // Captured as the graph left Running: discarded, and its number kept
      // so that the next frame does not read as a dropped one.
      std::lock_guard<std::mutex> lock(self->statsLock_);
      if (offset != GST_BUFFER_OFFSET_NONE) {
        self->lastOffset_ = offset;
        self->haveLast_ = true;
      }
      return GST_PAD_PROBE_DROP;
    }
    {
      std::lock_guard<std::mutex> lock(self->statsLock_);
      if (self->haveLast_ && offset != GST_BUFFER_OFFSET_NONE && offset > self->lastOffset_ + 1)
        self->dropped_ += static_cast<long>(offset - self->lastOffset_ - 1);
      self->lastOffset_ = offset;
      self->haveLast_ = offset != GST_BUFFER_OFFSET_NONE;
      ++self->delivered_;
    }
    if (self->device_.generator) {
      buffer = gst_buffer_make_writable(buffer);
      GST_PAD_PROBE_INFO_DATA(info) = buffer;
      GstMapInfo map;
      if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        const int w = self->current_.width, h = self->current_.height;
        self->device_.generator(static_cast<long>(offset == GST_BUFFER_OFFSET_NONE ? 0 : offset), map.data, w, h,
                                RowStride(w, 24));
        gst_buffer_unmap(buffer, &map);
      }
    }
    return GST_PAD_PROBE_OK;
  }

  FakeDevice device_;
  CComPtr<PinPages> pinPages_;
  std::string v4l2Path_;
  DeviceFormat current_;
  bool ratePending_ = false;  // current_'s rate is not yet the stream's
  GstElement *source_, *rawCaps_, *deviceCaps_;
  PinImpl* out_;
  CComPtr<PinImpl> hiddenOut_;  // the unlisted output of a device without one
  PinImpl* analog_ = nullptr;
  CComPtr<CrossbarFilter> crossbar_;
  std::mutex frameLock_;  // held while a frame is counted and made
  bool halted_ = false;   // the graph was told to pause or stop
  std::mutex statsLock_;
  long dropped_ = 0, delivered_ = 0, input_ = 0;
  guint64 lastOffset_ = 0;
  bool haveLast_ = false;
};

CrossbarFilter::CrossbarFilter(CaptureFilter* capture, const std::vector<long>& inputs)
    : Filter("crossbar"), capture_(capture), types_(inputs) {
  for (std::size_t i = 0; i < inputs.size(); ++i) AddPin(PINDIR_INPUT, L"Input " + std::to_wstring(i), nullptr);
  AddPin(PINDIR_OUTPUT, L"Video Decoder Out", nullptr);
}

HRESULT CrossbarFilter::Route(long output, long input) {
  if (CanRoute(output, input) != S_OK) return E_INVALIDARG;
  routed_ = input;
  if (capture_) capture_->SelectInput(input);
  return S_OK;
}

// ---------------------------------------------------------------- monikers

class PropertyBag : public ComObject<PropertyBag, IPropertyBag> {
 public:
  explicit PropertyBag(std::map<std::wstring, std::wstring> values) : values_(std::move(values)) {}
  HRESULT Read(const wchar_t* name, VARIANT* value, void*) override {
    if (!name || !value) return E_POINTER;
    auto it = values_.find(name);
    if (it == values_.end()) return E_INVALIDARG;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(it->second.c_str());
    return S_OK;
  }

 private:
  std::map<std::wstring, std::wstring> values_;
};

class DeviceMoniker : public ComObject<DeviceMoniker, IMoniker> {
 public:
  DeviceMoniker(std::string name, std::string path, std::function<IBaseFilter*()> make)
      : name_(std::move(name)), path_(std::move(path)), make_(std::move(make)) {}
  HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    IBaseFilter* filter = make_ ? make_() : nullptr;
    if (!filter) return E_FAIL;
    const HRESULT hr = filter->QueryInterface(riid, out);
    filter->Release();
    return hr;
  }
  HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IPropertyBag) return E_NOINTERFACE;
    std::map<std::wstring, std::wstring> values;
    values[L"FriendlyName"] = com::Utf8ToWide(name_.c_str());
    values[L"DevicePath"] = com::Utf8ToWide(path_.c_str());
    *out = static_cast<IPropertyBag*>(new PropertyBag(std::move(values)));
    return S_OK;
  }
  HRESULT GetDisplayName(IBindCtx*, IMoniker*, wchar_t** name) override {
    if (!name) return E_POINTER;
    const std::wstring w = com::Utf8ToWide(path_.c_str());
    *name = static_cast<wchar_t*>(CoTaskMemAlloc((w.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(*name, w.c_str(), w.size() + 1);
    return S_OK;
  }

 private:
  std::string name_, path_;
  std::function<IBaseFilter*()> make_;
};

// ---------------------------------------------------------------- codecs

struct Codec {
  std::string factory;
  std::string longName;
  CLSID clsid;
  std::string pluginFile;
};

// Stable across runs: derived from the factory name.
CLSID ClassIdOf(const std::string& factory) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : factory) h = (h ^ c) * 1099511628211ull;
  CLSID id{};
  id.Data1 = static_cast<std::uint32_t>(h >> 32);
  id.Data2 = static_cast<std::uint16_t>(h >> 16);
  id.Data3 = static_cast<std::uint16_t>(h);
  const std::uint8_t tail[8] = {0x51, 0x43, 0x4F, 0x44, 0x45, 0x43, 0x00, 0x01};
  std::memcpy(id.Data4, tail, 8);
  return id;
}

std::vector<Codec> ListCodecs(GstElementFactoryListType type, bool forAvi) {
  EnsureInit();
  GstCaps* aviVideo = nullptr;
  if (forAvi) {
    GstElementFactory* mux = gst_element_factory_find("avimux");
    if (!mux) return {};
    for (const GList* t = gst_element_factory_get_static_pad_templates(mux); t; t = t->next) {
      auto* tmpl = static_cast<GstStaticPadTemplate*>(t->data);
      if (g_str_has_prefix(tmpl->name_template, "video")) aviVideo = gst_static_caps_get(&tmpl->static_caps);
    }
    gst_object_unref(mux);
    if (!aviVideo) return {};
  }
  std::vector<Codec> codecs;
  GList* factories = gst_element_factory_list_get_elements(
      type | GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO | GST_ELEMENT_FACTORY_TYPE_MEDIA_IMAGE, GST_RANK_NONE);
  for (GList* l = factories; l; l = l->next) {
    auto* factory = GST_ELEMENT_FACTORY(l->data);
    if (forAvi && !gst_element_factory_can_src_any_caps(factory, aviVideo)) continue;
    Codec c;
    c.factory = GST_OBJECT_NAME(factory);
    const gchar* longName = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
    c.longName = longName ? longName : c.factory;
    c.clsid = ClassIdOf(c.factory);
    if (GstPlugin* plugin = gst_plugin_feature_get_plugin(GST_PLUGIN_FEATURE(factory))) {
      if (const gchar* file = gst_plugin_get_filename(plugin)) c.pluginFile = file;
      gst_object_unref(plugin);
    }
    codecs.push_back(std::move(c));
  }
  gst_plugin_feature_list_free(factories);
  if (aviVideo) gst_caps_unref(aviVideo);
  std::sort(codecs.begin(), codecs.end(), [](const Codec& a, const Codec& b) { return a.factory < b.factory; });
  return codecs;
}

const std::vector<Codec>& Compressors() {
  static const std::vector<Codec> list = [] {
    std::vector<Codec> c = ListCodecs(GST_ELEMENT_FACTORY_TYPE_ENCODER, true);
    for (const Codec& codec : c) {
      const std::string factory = codec.factory;
      const CLSID clsid = codec.clsid;
      com::RegisterClass(clsid, {[factory, clsid]() -> IUnknown* { return MakeEncoder(factory, clsid); },
                                 codec.pluginFile, codec.longName});
    }
    return c;
  }();
  return list;
}

const std::vector<Codec>& Decoders() {
  static const std::vector<Codec> list = ListCodecs(GST_ELEMENT_FACTORY_TYPE_DECODER, false);
  return list;
}

class DmoEnum : public ComObject<DmoEnum, IEnumDMO> {
 public:
  explicit DmoEnum(const std::vector<Codec>& codecs) : codecs_(codecs) {}
  HRESULT Next(ULONG count, CLSID* ids, wchar_t** names, ULONG* fetched) override {
    if (!ids) return E_POINTER;
    ULONG n = 0;
    while (n < count && next_ < codecs_.size()) {
      const Codec& c = codecs_[next_++];
      ids[n] = c.clsid;
      if (names) {
        const std::wstring w = com::Utf8ToWide(c.longName.c_str());
        names[n] = static_cast<wchar_t*>(CoTaskMemAlloc((w.size() + 1) * sizeof(wchar_t)));
        std::wmemcpy(names[n], w.c_str(), w.size() + 1);
      }
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }

 private:
  const std::vector<Codec>& codecs_;
  std::size_t next_ = 0;
};

class DeviceEnumerator : public ComObject<DeviceEnumerator, ICreateDevEnum> {
 public:
  HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<CComPtr<IMoniker>> items;
    if (category == CLSID_VideoInputDeviceCategory) {
      AddDevicesFromEnvironment();
      std::vector<FakeDevice> fakes;
      {
        std::lock_guard<std::mutex> lock(DeviceLock());
        for (auto& [id, d] : Devices()) fakes.push_back(d);
      }
      for (const FakeDevice& d : fakes) {
        auto make = d.makeFilter ? d.makeFilter : [d]() -> IBaseFilter* { return new CaptureFilter(d, nullptr, {}); };
        CComPtr<IMoniker> m;
        m.Attach(new DeviceMoniker(d.name, "fake:" + d.name, make));
        items.push_back(m);
      }
      AddMonitoredDevices(items);
    } else if (category == CLSID_VideoCompressorCategory && !CompressorsHidden()) {
      for (const Codec& c : Compressors()) {
        const std::string factory = c.factory;
        const CLSID clsid = c.clsid;
        CComPtr<IMoniker> m;
        m.Attach(new DeviceMoniker(c.longName, factory,
                                   [factory, clsid]() -> IBaseFilter* { return MakeEncoder(factory, clsid); }));
        items.push_back(m);
      }
    }
    // An empty category has no enumerator, as on the platform.
    if (items.empty()) return S_FALSE;
    *out = new VectorEnum<IMoniker, IEnumMoniker>(std::move(items));
    return S_OK;
  }

 private:
  static void AddMonitoredDevices(std::vector<CComPtr<IMoniker>>& items) {
    if (std::getenv("QUORL_NO_DEVICE_MONITOR")) return;
    EnsureInit();
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* l = devices; l; l = l->next) {
      GstDevice* device = GST_DEVICE(l->data);
      gchar* name = gst_device_get_display_name(device);
      FakeDevice d;
      d.name = name ? name : "";
      g_free(name);
      // The device's own formats, when it reports raw ones we know.
      d.formats.clear();
      if (GstCaps* caps = gst_device_get_caps(device)) {
        for (guint i = 0; i < gst_caps_get_size(caps) && d.formats.size() < 32; ++i) {
          GstStructure* s = gst_caps_get_structure(caps, i);
          const gchar* format = gst_structure_get_string(s, "format");
          int w = 0, h = 0, n = 30, den = 1;
          const bool jpeg = gst_structure_has_name(s, "image/jpeg");
          if ((!format && !jpeg) || !gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h))
            continue;
          if (!format) format = "MJPG";
          gst_structure_get_fraction(s, "framerate", &n, &den);
          DeviceFormat f;
          f.subtype = std::string(format) == "YUY2" ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24;
          if (gst_structure_has_name(s, "image/jpeg")) f.subtype = MEDIASUBTYPE_MJPG;
          f.width = w;
          f.height = h;
          f.fps = den > 0 ? std::max(1, n / den) : 30;
          d.formats.push_back(f);
        }
        gst_caps_unref(caps);
      }
      std::string path;
      if (GstStructure* props = gst_device_get_properties(device)) {
        for (const char* key : {"api.v4l2.path", "device.path"})
          if (const gchar* value = gst_structure_get_string(props, key)) {
            path = value;
            break;
          }
        gst_structure_free(props);
      }
      if (d.formats.empty()) d.formats.push_back(DeviceFormat{});
      auto held = std::shared_ptr<GstDevice>(GST_DEVICE(gst_object_ref(device)), [](GstDevice* p) { gst_object_unref(p); });
      auto make = [d, held, path]() -> IBaseFilter* { return new CaptureFilter(d, held.get(), path); };
      CComPtr<IMoniker> m;
      m.Attach(new DeviceMoniker(d.name, path.empty() ? "device:" + d.name : path, make));
      items.push_back(m);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
  }
};

// ---------------------------------------------------------------- builder

class CaptureGraphBuilder : public ComObject<CaptureGraphBuilder, ICaptureGraphBuilder2> {
 public:
  HRESULT SetFiltergraph(IGraphBuilder* graph) override {
    if (!graph) return E_POINTER;
    if (graph_) return E_UNEXPECTED;
    graph_ = graph;
    return S_OK;
  }
  HRESULT GetFiltergraph(IGraphBuilder** graph) override {
    if (!graph) return E_POINTER;
    return graph_.CopyTo(graph);
  }
  HRESULT SetOutputFileName(const GUID* type, const wchar_t* file, IBaseFilter** mux, IFileSinkFilter** sink) override {
    if (!type || !file || !mux) return E_POINTER;
    *mux = nullptr;
    if (sink) *sink = nullptr;
    if (*type != MEDIASUBTYPE_Avi) return E_INVALIDARG;
    if (!graph_) return E_UNEXPECTED;
    CComPtr<IBaseFilter> muxer, writer;
    muxer.Attach(MakeAviMux());
    writer.Attach(MakeFileWriter());
    CComPtr<IFileSinkFilter> fileSink;
    writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&fileSink));
    HRESULT hr = fileSink->SetFileName(file, nullptr);
    if (SUCCEEDED(hr)) hr = graph_->AddFilter(muxer, L"AVI Mux");
    if (SUCCEEDED(hr)) hr = graph_->AddFilter(writer, L"File writer");
    if (FAILED(hr)) return hr;
    PinImpl* out = AsFilterBase(muxer)->Pins().back();
    PinImpl* in = AsFilterBase(writer)->Pins().front();
    hr = graph_->Connect(out, in);
    if (FAILED(hr)) return hr;
    *mux = muxer.Detach();
    if (sink) *sink = fileSink.Detach();
    return S_OK;
  }
  HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                        void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!filter) return E_POINTER;
    // Our streams are never interleaved.
    if (type && *type == MEDIATYPE_Interleaved) return E_NOINTERFACE;
    if (category) {
      FilterBase* base = AsFilterBase(filter);
      if (!base) return E_NOINTERFACE;
      for (auto& pin : base->Pins())
        if (pin->Direction() == PINDIR_OUTPUT && pin->Category() && *pin->Category() == *category)
          return pin->QueryInterface(riid, out);
      return E_NOINTERFACE;
    }
    return filter->QueryInterface(riid, out);
  }
  HRESULT RenderStream(const GUID* category, const GUID*, IUnknown* source, IBaseFilter* intermediate,
                       IBaseFilter* sink) override {
    if (!source || !graph_) return E_POINTER;
    CComPtr<IPin> out;
    CComPtr<IBaseFilter> sourceFilter;
    if (FAILED(source->QueryInterface(IID_IPin, reinterpret_cast<void**>(&out)))) {
      if (FAILED(source->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&sourceFilter)))) return E_NOINTERFACE;
      for (auto& pin : AsFilterBase(sourceFilter)->Pins())
        if (pin->Direction() == PINDIR_OUTPUT && !pin->PeerImpl() &&
            (!category || (pin->Category() && *pin->Category() == *category))) {
          out = pin.p();
          break;
        }
      if (!out) return E_FAIL;
    }
    for (IBaseFilter* next : {intermediate, sink}) {
      if (!next) continue;
      PinImpl* in = nullptr;
      for (auto& pin : AsFilterBase(next)->Pins())
        if (pin->Direction() == PINDIR_INPUT && !pin->PeerImpl()) {
          in = pin;
          break;
        }
      if (!in) return E_FAIL;
      HRESULT hr = graph_->Connect(out, in);
      if (FAILED(hr)) return hr;
      out = nullptr;
      for (auto& pin : AsFilterBase(next)->Pins())
        if (pin->Direction() == PINDIR_OUTPUT && !pin->PeerImpl()) {
          out = pin.p();
          break;
        }
      if (!out) break;
    }
    return S_OK;
  }

 private:
  CComPtr<IGraphBuilder> graph_;
};

}  // namespace

IUnknown* MakeCaptureGraphBuilder() { return new CaptureGraphBuilder; }
IUnknown* MakeDeviceEnumerator() { return new DeviceEnumerator; }

void RegisterAll() {
  const std::string file = LibraryFile();
  auto add = [&](REFCLSID clsid, const char* name, com::ClassFactory f) {
    com::RegisterClass(clsid, {std::move(f), file, name});
  };
  add(CLSID_FilterGraph, "Filter Graph", [] { return MakeFilterGraph(); });
  add(CLSID_CaptureGraphBuilder2, "Capture Graph Builder 2", [] { return MakeCaptureGraphBuilder(); });
  add(CLSID_SystemDeviceEnum, "System Device Enumerator", [] { return MakeDeviceEnumerator(); });
  add(CLSID_VideoMixingRenderer9, "Video Mixing Renderer 9", [] { return MakeVideoRenderer(); });
  add(CLSID_SampleGrabber, "SampleGrabber", [] { return MakeSampleGrabber(); });
  add(CLSID_WMAsfReader, "WM ASF Reader", [] { return MakeFileSource(CLSID_WMAsfReader); });
  add(CLSID_AsyncReader, "File Source", [] { return MakeFileSource(CLSID_AsyncReader); });
  add(CLSID_SmartTee, "Smart Tee", [] { return MakeSmartTee(); });
  add(CLSID_InfTee, "Infinite Pin Tee Filter", [] { return MakeInfTee(); });
  add(CLSID_Colour, "Color Space Converter", [] { return MakeColourConverter(); });
  add(CLSID_NullRenderer, "Null Renderer", [] { return MakeNullRenderer(); });
  add(CLSID_AviDest, "AVI Mux", [] { return MakeAviMux(); });
  add(CLSID_FileWriter, "File writer", [] { return MakeFileWriter(); });
  // Compressor classes exist once the media library's list was read.
  com::SetClassResolver([](REFCLSID clsid) {
    for (const Codec& c : Compressors())
      if (c.clsid == clsid) return true;
    return false;
  });
}

}  // namespace dshow::gst

HRESULT DMOEnum(REFGUID category, DWORD, DWORD, const void*, DWORD, const void*, IEnumDMO** result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  static const std::vector<dshow::gst::Codec> kNone;
  if (category == DMOCATEGORY_VIDEO_ENCODER)
    *result = new dshow::gst::DmoEnum(dshow::CompressorsHidden() ? kNone : dshow::gst::Compressors());
  else if (category == DMOCATEGORY_VIDEO_DECODER) *result = new dshow::gst::DmoEnum(dshow::gst::Decoders());
  else return E_INVALIDARG;
  return S_OK;
}

namespace dshow {

void RegisterOwnClass(REFCLSID clsid, const char* name, com::ClassFactory factory) {
  com::RegisterClass(clsid, {std::move(factory), gst::LibraryFile(), name});
}

const int kClassesRegistered = (gst::RegisterAll(), 1);

}  // namespace dshow
