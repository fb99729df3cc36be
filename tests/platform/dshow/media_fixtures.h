#pragma once
// Test media made with plain GStreamer, and helpers to drive graphs.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dshow/interfaces.h"
#include "win/window_services.h"

namespace dshow_test {

// True when QUORL_ALLOW_SKIPS=1: the machine lacks packages that
// scripts/install-deps would install, so a fixture that cannot be made is a
// skip there and not a fault.
bool SkipsAllowed();

// The message a test fails with when it cannot make its fixture.
std::string MissingFixtureMessage(const std::string& why);

}  // namespace dshow_test

// For a test (or its SetUp) whose clip or compressor cannot be had here.
// scripts/install-deps installs every GStreamer element the fixtures use, so
// where it ran this is a failure naming why; with QUORL_ALLOW_SKIPS=1 a skip.
#define MEDIA_FIXTURE_MISSING(why)                                                  \
  do {                                                                              \
    const std::string missing_fixture_why_ = (why);                                 \
    if (::dshow_test::SkipsAllowed()) GTEST_SKIP() << missing_fixture_why_;         \
    FAIL() << ::dshow_test::MissingFixtureMessage(missing_fixture_why_);            \
  } while (false)

namespace dshow_test {

// Frame k: every pixel blue 20k (mod 256), the top row also fully red.
struct Clip {
  std::string path;
  int width, height, frames, fps;
  int tolerance;  // per channel, for lossy codecs
};

// Encodes a clip with an encoder and muxer; false (with a reason) when the
// elements are missing here.
bool MakeClip(const std::string& path, int width, int height, int frames, int fps, const char* encoder,
              const char* muxer, std::string* why);

// Reads back an AVI with plain GStreamer: top-down BGR frames.
struct DecodedFrame {
  int width = 0, height = 0, stride = 0;
  std::vector<unsigned char> bgr;
  unsigned char At(int x, int y, int c) const { return bgr[static_cast<std::size_t>(y) * stride + x * 3 + c]; }
};
std::vector<DecodedFrame> ReadBack(const std::string& path, std::string* why);

bool HasElement(const char* name);

std::string TempPath(const std::string& name);

// What a callback saw of one frame.
struct SeenFrame {
  long length = 0;
  double time = 0;
  int firstRowRed = 0, lastRowRed = 0;  // at x = 0
  int blue = 0, green = 0, red = 0;     // middle pixel
};

class RecordingCallback : public ComObject<RecordingCallback, ISampleGrabberCB> {
 public:
  RecordingCallback(int width, int height) : width_(width), height_(height) {}
  HRESULT SampleCB(double time, IMediaSample* sample) override;
  HRESULT BufferCB(double time, BYTE* buffer, long length) override;
  std::vector<SeenFrame> Frames();
  int Count() const { return count_.load(); }
  // Writes green 200 into every pixel it is handed.
  std::atomic<bool> paintGreen{false};
  std::atomic<int> sleepMs{0};
  std::atomic<bool> inside{false};
  std::atomic<bool> finished{false};
  void SetSize(int w, int h) {
    std::lock_guard<std::mutex> lock(lock_);
    width_ = w;
    height_ = h;
  }

 private:
  void See(double time, BYTE* data, long length);
  std::mutex lock_;
  int width_, height_;
  std::vector<SeenFrame> frames_;
  std::atomic<int> count_{0};
};

// Windows as a map of surfaces; posts are recorded.
class FakeWindows : public win::WindowServices {
 public:
  HWND Create(int width, int height);
  void Destroy(HWND hwnd);
  bool IsWindow(HWND hwnd) override;
  bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) override;
  LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM) override { return 0; }
  bool GetClientSize(HWND hwnd, int* width, int* height) override;
  bool WriteClient(HWND hwnd, int x, int y, const std::uint32_t* pixels, int width, int height,
                   int strideBytes) override;
  std::uint32_t Pixel(HWND hwnd, int x, int y);
  int Posts(UINT msg);

 private:
  struct Window {
    int width, height;
    std::vector<std::uint32_t> surface;
  };
  std::mutex lock_;
  std::map<HWND, Window> windows_;
  std::vector<UINT> posts_;
  std::uintptr_t next_ = 0x100;
};

// Waits for an event code; false on timeout.
bool WaitForEvent(IMediaEventEx* events, long code, int timeoutMs);

// Polls `done` every pollMs until it holds; false when timeoutMs pass first.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 5);

// Finds an unconnected pin of a direction.
CComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION direction);
HRESULT ConnectFree(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to);
CComPtr<IBaseFilter> Create(REFCLSID clsid);

}  // namespace dshow_test
