#include "media_fixtures.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "com/com.h"

namespace dshow_test {

bool SkipsAllowed() {
  const char* allow = std::getenv("QUORL_ALLOW_SKIPS");
  return allow && std::strcmp(allow, "1") == 0;
}

std::string MissingFixtureMessage(const std::string& why) {
  return why + " (scripts/install-deps installs what this needs; QUORL_ALLOW_SKIPS=1 skips it instead)";
}

bool HasElement(const char* name) {
  gst_init(nullptr, nullptr);
  GstElementFactory* f = gst_element_factory_find(name);
  if (f) gst_object_unref(f);
  return f != nullptr;
}

std::string TempPath(const std::string& name) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info ? std::string(info->test_suite_name()) + "_" + info->name() : "media";
  for (char& c : test)
    if (c == '/') c = '_';
  return ::testing::TempDir() + "/" + test + "_" + name;
}

bool MakeClip(const std::string& path, int width, int height, int frames, int fps, const char* encoder,
              const char* muxer, std::string* why) {
  gst_init(nullptr, nullptr);
  for (const char* e : {"appsrc", "videoconvert", muxer, encoder}) {
    if (e && !HasElement(e)) {
      *why = std::string("GStreamer element ") + e + " is not installed";
      return false;
    }
  }
  std::string description = "appsrc name=src ! videoconvert ! ";
  if (encoder) description += std::string(encoder) + " ! ";
  description += std::string(muxer) + " ! filesink name=out";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline) {
    *why = error ? error->message : "parse failed";
    if (error) g_error_free(error);
    return false;
  }
  GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  g_object_set(out, "location", path.c_str(), nullptr);
  gst_object_unref(out);
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, width,
                                      "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
  g_object_set(src, "caps", caps, "format", GST_FORMAT_TIME, nullptr);
  gst_caps_unref(caps);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  const int stride = (3 * width + 3) & ~3;
  for (int k = 0; k < frames; ++k) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, static_cast<gsize>(stride) * height, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    std::memset(map.data, 0, map.size);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        unsigned char* p = map.data + static_cast<std::size_t>(y) * stride + 3 * x;
        p[0] = static_cast<unsigned char>(20 * k);
        p[2] = y == 0 ? 255 : 0;
      }
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(k, GST_SECOND, fps);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, fps);
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg = gst_bus_timed_pop_filtered(bus, 20 * GST_SECOND,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
  if (!ok) *why = msg ? "encoding failed" : "encoding timed out";
  if (msg) gst_message_unref(msg);
  gst_object_unref(bus);
  gst_object_unref(src);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

std::vector<DecodedFrame> ReadBack(const std::string& path, std::string* why) {
  gst_init(nullptr, nullptr);
  std::vector<DecodedFrame> frames;
  const std::string description =
      "filesrc name=in ! decodebin ! videoconvert ! video/x-raw,format=BGR ! appsink name=sink sync=false";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline) {
    if (error) g_error_free(error);
    *why = "parse failed";
    return frames;
  }
  GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
  g_object_set(in, "location", path.c_str(), nullptr);
  gst_object_unref(in);
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  for (;;) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    if (!sample) break;
    DecodedFrame f;
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    gst_structure_get_int(s, "width", &f.width);
    gst_structure_get_int(s, "height", &f.height);
    f.stride = (3 * f.width + 3) & ~3;
    GstMapInfo map;
    GstBuffer* b = gst_sample_get_buffer(sample);
    gst_buffer_map(b, &map, GST_MAP_READ);
    f.bgr.assign(map.data, map.data + map.size);
    gst_buffer_unmap(b, &map);
    gst_sample_unref(sample);
    frames.push_back(std::move(f));
  }
  gst_object_unref(sink);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return frames;
}

HRESULT RecordingCallback::SampleCB(double time, IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  See(time, data, sample->GetActualDataLength());
  return S_OK;
}

HRESULT RecordingCallback::BufferCB(double time, BYTE* buffer, long length) {
  See(time, buffer, length);
  return S_OK;
}

void RecordingCallback::See(double time, BYTE* data, long length) {
  inside = true;
  if (sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs.load()));
  std::lock_guard<std::mutex> lock(lock_);
  SeenFrame f;
  f.length = length;
  f.time = time;
  const int stride = (3 * width_ + 3) & ~3;
  if (data && length >= stride * height_) {
    f.firstRowRed = data[2];
    f.lastRowRed = data[static_cast<std::size_t>(height_ - 1) * stride + 2];
    const BYTE* middle = data + static_cast<std::size_t>(height_ / 2) * stride + 3 * (width_ / 2);
    f.blue = middle[0];
    f.green = middle[1];
    f.red = middle[2];
    if (paintGreen)
      for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) data[static_cast<std::size_t>(y) * stride + 3 * x + 1] = 200;
  }
  frames_.push_back(f);
  ++count_;
  finished = true;
  inside = false;
}

std::vector<SeenFrame> RecordingCallback::Frames() {
  std::lock_guard<std::mutex> lock(lock_);
  return frames_;
}

HWND FakeWindows::Create(int width, int height) {
  std::lock_guard<std::mutex> lock(lock_);
  HWND h = reinterpret_cast<HWND>(next_++);
  windows_[h] = Window{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, 0)};
  return h;
}

void FakeWindows::Destroy(HWND hwnd) {
  std::lock_guard<std::mutex> lock(lock_);
  windows_.erase(hwnd);
}

bool FakeWindows::IsWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(lock_);
  return windows_.count(hwnd) != 0;
}

bool FakeWindows::PostMessage(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  std::lock_guard<std::mutex> lock(lock_);
  if (!windows_.count(hwnd)) return false;
  posts_.push_back(msg);
  return true;
}

bool FakeWindows::GetClientSize(HWND hwnd, int* width, int* height) {
  std::lock_guard<std::mutex> lock(lock_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return false;
  *width = it->second.width;
  *height = it->second.height;
  return true;
}

bool FakeWindows::WriteClient(HWND hwnd, int x, int y, const std::uint32_t* pixels, int width, int height,
                              int strideBytes) {
  std::lock_guard<std::mutex> lock(lock_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return false;
  Window& w = it->second;
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col) {
      const int tx = x + col, ty = y + row;
      if (tx < 0 || ty < 0 || tx >= w.width || ty >= w.height) continue;
      w.surface[static_cast<std::size_t>(ty) * w.width + tx] =
          pixels[static_cast<std::size_t>(row) * (strideBytes / 4) + col];
    }
  return true;
}

std::uint32_t FakeWindows::Pixel(HWND hwnd, int x, int y) {
  std::lock_guard<std::mutex> lock(lock_);
  Window& w = windows_.at(hwnd);
  return w.surface[static_cast<std::size_t>(y) * w.width + x];
}

int FakeWindows::Posts(UINT msg) {
  std::lock_guard<std::mutex> lock(lock_);
  int n = 0;
  for (UINT m : posts_) n += m == msg;
  return n;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
  return true;
}

bool WaitForEvent(IMediaEventEx* events, long code, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    long c = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (events->GetEvent(&c, &p1, &p2, 100) == S_OK) {
      events->FreeEventParams(c, p1, p2);
      if (c == code) return true;
    }
  }
  return false;
}

CComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION direction) {
  CComPtr<IEnumPins> pins;
  filter->EnumPins(&pins);
  for (;;) {
    CComPtr<IPin> pin, peer;
    ULONG n = 0;
    if (pins->Next(1, &pin, &n) != S_OK) return nullptr;
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    if (d == direction && FAILED(pin->ConnectedTo(&peer))) return pin;
  }
}

HRESULT ConnectFree(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to) {
  CComPtr<IPin> out = FreePin(from, PINDIR_OUTPUT), in = FreePin(to, PINDIR_INPUT);
  if (!out || !in) return E_FAIL;
  return graph->Connect(out, in);
}

CComPtr<IBaseFilter> Create(REFCLSID clsid) {
  CComPtr<IBaseFilter> f;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&f));
  return f;
}

}  // namespace dshow_test
