// Frames per second of a 640 x 480 file through our file source, sample
// grabber (callback set) and null renderer, against the plain media-library
// pipeline that decodes the same file to BGR, as a ratio.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <cstdlib>
#include <algorithm>

#include "com/com.h"
#include "dshow/interfaces.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 300, kFps = 25;

bool MakeFile(const std::string& path, const char* encoder) {
  std::string description = "appsrc name=src ! videoconvert ! ";
  if (encoder) description += std::string(encoder) + " ! ";
  description += "avimux ! filesink location=" + path;
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (!pipeline) return false;
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, kWidth,
                                      "height", G_TYPE_INT, kHeight, "framerate", GST_TYPE_FRACTION, kFps, 1, nullptr);
  g_object_set(src, "caps", caps, "format", GST_FORMAT_TIME, "block", TRUE, nullptr);
  gst_caps_unref(caps);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  for (int k = 0; k < kFrames; ++k) {
    GstBuffer* b = gst_buffer_new_allocate(nullptr, static_cast<gsize>(kWidth) * kHeight * 3, nullptr);
    GstMapInfo map;
    gst_buffer_map(b, &map, GST_MAP_WRITE);
    for (gsize i = 0; i < map.size; ++i) map.data[i] = static_cast<guint8>(i * 7 + k);
    gst_buffer_unmap(b, &map);
    GST_BUFFER_PTS(b) = gst_util_uint64_scale(k, GST_SECOND, kFps);
    GST_BUFFER_DURATION(b) = gst_util_uint64_scale(1, GST_SECOND, kFps);
    gst_app_src_push_buffer(GST_APP_SRC(src), b);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND,
                                             static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
  if (m) gst_message_unref(m);
  gst_object_unref(bus);
  gst_object_unref(src);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

using Clock = std::chrono::steady_clock;

// Steady-state rate: from the first frame to the last, so that start-up
// (state changes, typefinding) is left out on both sides.
struct Span {
  Clock::time_point first, last;
  std::atomic<int> frames{0};
  void Tick() {
    const auto now = Clock::now();
    if (frames++ == 0) first = now;
    last = now;
  }
  double Rate() const {
    const double s = std::chrono::duration<double>(last - first).count();
    return frames > 1 && s > 0 ? (frames - 1) / s : 0.0;
  }
};

GstPadProbeReturn CountBuffer(GstPad*, GstPadProbeInfo*, gpointer span) {
  static_cast<Span*>(span)->Tick();
  return GST_PAD_PROBE_OK;
}

double Reference(const std::string& path) {
  const std::string description =
      "filesrc location=" + path + " ! decodebin ! videoconvert ! video/x-raw,format=BGR ! fakesink name=sink";
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  Span span;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &CountBuffer, &span, nullptr);
  gst_object_unref(pad);
  gst_object_unref(sink);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND,
                                             static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  if (m) gst_message_unref(m);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return span.Rate();
}

class Counter : public ComObject<Counter, ISampleGrabberCB> {
 public:
  HRESULT SampleCB(double, IMediaSample* sample) override {
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    sink_ += p ? p[0] : 0;
    span.Tick();
    return S_OK;
  }
  HRESULT BufferCB(double, BYTE*, long) override { return S_OK; }
  Span span;

 private:
  unsigned sink_ = 0;
};

double Ours(const std::string& path, int* frames) {
  CComPtr<IGraphBuilder> graph;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                   reinterpret_cast<void**>(&graph));
  CComPtr<IBaseFilter> source, grabberFilter, renderer;
  const std::wstring wide(path.begin(), path.end());
  if (FAILED(graph->AddSourceFilter(wide.c_str(), L"Source", &source))) return 0;
  CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                   reinterpret_cast<void**>(&grabberFilter));
  CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                   reinterpret_cast<void**>(&renderer));
  graph->AddFilter(grabberFilter, L"Grabber");
  graph->AddFilter(renderer, L"Null");
  auto pinOf = [](IBaseFilter* f, PIN_DIRECTION d) {
    CComPtr<IEnumPins> pins;
    f->EnumPins(&pins);
    for (;;) {
      CComPtr<IPin> p;
      ULONG n = 0;
      if (pins->Next(1, &p, &n) != S_OK) return CComPtr<IPin>();
      PIN_DIRECTION pd;
      p->QueryDirection(&pd);
      if (pd == d) return p;
    }
  };
  graph->Connect(pinOf(source, PINDIR_OUTPUT), pinOf(grabberFilter, PINDIR_INPUT));
  graph->Connect(pinOf(grabberFilter, PINDIR_OUTPUT), pinOf(renderer, PINDIR_INPUT));
  CComPtr<ISampleGrabber> grabber;
  grabberFilter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber));
  CComPtr<Counter> counter;
  counter.Attach(new Counter);
  grabber->SetCallback(counter, 0);
  CComPtr<IMediaFilter> filter;
  graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&filter));
  filter->SetSyncSource(nullptr);
  CComPtr<IMediaControl> control;
  CComPtr<IMediaEventEx> events;
  graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  control->Run();
  for (;;) {
    long code = 0;
    LONG_PTR a, b;
    if (events->GetEvent(&code, &a, &b, 120000) != S_OK || code == EC_COMPLETE || code == EC_ERRORABORT) break;
  }
  control->Stop();
  grabber->SetCallback(nullptr, 0);
  *frames = counter->span.frames;
  return counter->span.Rate();
}

}  // namespace

// An argument "raw" or "jpegenc" runs that file alone (for a profile).
int main(int argc, char** argv) {
  gst_init(nullptr, nullptr);
  const char* tmp = std::getenv("TMPDIR");
  const std::string only = argc > 1 ? argv[1] : "";
  for (const char* encoder : {static_cast<const char*>(nullptr), "jpegenc"}) {
    if (!only.empty() && only != (encoder ? encoder : "raw")) continue;
    const std::string path = std::string(tmp ? tmp : "/tmp") + "/quorl_bench_" + (encoder ? encoder : "raw") + ".avi";
    if (!MakeFile(path, encoder)) {
      std::printf("cannot make the %s file\n", encoder ? encoder : "raw");
      continue;
    }
    double best = 0, bestRef = 0;
    int frames = 0;
    for (int run = 0; run < 3; ++run) {
      best = std::max(best, Ours(path, &frames));
      bestRef = std::max(bestRef, Reference(path));
    }
    std::printf("%s 640x480, %d frames, first to last frame: ours %.1f fps (%d frames seen), plain pipeline %.1f fps, ratio %.2f\n",
                encoder ? encoder : "raw BGR", kFrames, best, frames, bestRef, best / bestRef);
    std::remove(path.c_str());
  }
  return 0;
}
