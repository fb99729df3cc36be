#pragma once
// Shared by the video capture and video panel tests: fake devices with a
// numbered pattern, clips, a strong barrel camera and graph inspection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include "calibration/calibration_records.h"
#include "dshow/devices.h"
#include "dshow/interfaces.h"
#include "gdiplus/startup.h"
#include "media_fixtures.h"

namespace video_test {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput in;
    Gdiplus::GdiplusStartup(&token_, &in, nullptr);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};

// Frame k of a device: every pixel blue 4k (mod 256), green 100, the top
// row red; the frames a device made so far are counted.
struct Pattern {
  std::shared_ptr<std::atomic<long>> made = std::make_shared<std::atomic<long>>(0);
  dshow::FrameGenerator Generator() const {
    auto count = made;
    return [count](long frame, BYTE* bgr, int width, int height, int stride) {
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          BYTE* p = bgr + static_cast<std::size_t>(y) * stride + 3 * x;
          p[0] = static_cast<BYTE>(4 * frame);
          p[1] = 100;
          p[2] = y == 0 ? 255 : 0;
        }
      ++*count;
    };
  }
};

inline dshow::FakeDevice Device(const std::string& name, const Pattern& pattern, int width = 64, int height = 48) {
  dshow::FakeDevice d;
  d.name = name;
  d.formats = {{MEDIASUBTYPE_RGB24, width, height, 30}, {MEDIASUBTYPE_RGB24, 320, 240, 30}};
  d.generator = pattern.Generator();
  return d;
}

// A strong lens for a w x h image whose undistorted corners lie outside the
// frame (they turn black).
inline CameraParameters Pincushion(int width, int height) {
  CameraParameters c;
  const double d[5] = {0.35, 0.12, 0.0, 0.0, 0.0};
  for (int i = 0; i < 5; ++i) c.d[i] = d[i];
  c.K[0] = 0.8 * width;
  c.K[2] = 0.5 * width;
  c.K[4] = 0.8 * width;
  c.K[5] = 0.5 * height;
  c.K[8] = 1.0;
  c.width = width;
  c.height = height;
  return c;
}

inline bool HasFilter(IFilterGraph* graph, const wchar_t* name) {
  if (!graph) return false;
  CComPtr<IBaseFilter> filter;
  return SUCCEEDED(graph->FindFilterByName(name, &filter)) && filter;
}

// The names of a graph's filters, for failure messages.
inline std::string FilterNames(IFilterGraph* graph) {
  std::string names;
  CComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(&filters))) return names;
  CComPtr<IBaseFilter> f;
  ULONG fetched = 0;
  while (filters->Next(1, &f, &fetched) == S_OK) {
    FILTER_INFO info{};
    f->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    for (const wchar_t* c = info.achName; *c; ++c) names += static_cast<char>(*c);
    names += "; ";
    f = nullptr;
  }
  return names;
}

// An uncompressed clip of the media fixtures (frame k blue 20k, top row red),
// per process.
inline std::string Clip(const char* name, int width, int height, int frames, std::string* why) {
  const std::string path = dshow_test::TempPath(std::to_string(::getpid()) + "_" + name);
  if (!dshow_test::MakeClip(path, width, height, frames, 25, nullptr, "avimux", why)) return "";
  return path;
}

// Generous: a machine busy with sanitizer builds can stall streaming.
inline bool WaitFor(const std::function<bool()>& done, int ms = 30000) { return dshow_test::WaitUntil(done, ms); }

}  // namespace video_test
