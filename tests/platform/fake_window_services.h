#pragma once
// Windows as a map from handle to a 32-bit client surface; messages sent to
// a window go to a per-window handler.
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "win/window_services.h"

namespace test {

class FakeWindowServices final : public win::WindowServices {
 public:
  struct Window {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    int writes = 0;
    std::function<LRESULT(UINT, WPARAM, LPARAM)> handler;
  };

  FakeWindowServices() { previous_ = win::SetWindowServices(this); }
  ~FakeWindowServices() override { win::SetWindowServices(previous_); }

  HWND Add(int width, int height) {
    std::lock_guard lock(mutex_);
    HWND h = reinterpret_cast<HWND>(std::uintptr_t(next_++));
    Window& w = windows_[h];
    w.width = width;
    w.height = height;
    w.pixels.assign(std::size_t(width) * height, 0xFF000000u);
    return h;
  }
  Window& Get(HWND h) {
    std::lock_guard lock(mutex_);
    return windows_.at(h);
  }
  std::uint32_t Pixel(HWND h, int x, int y) {
    Window& w = Get(h);
    return w.pixels[std::size_t(y) * w.width + x];
  }
  void Resize(HWND h, int width, int height) {
    Window& w = Get(h);
    w.width = width;
    w.height = height;
    w.pixels.assign(std::size_t(width) * height, 0xFF000000u);
  }

  bool IsWindow(HWND hwnd) override {
    std::lock_guard lock(mutex_);
    return windows_.count(hwnd) != 0;
  }
  bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) override {
    return SendMessage(hwnd, msg, wparam, lparam), IsWindow(hwnd);
  }
  LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) override {
    std::function<LRESULT(UINT, WPARAM, LPARAM)> handler;
    {
      std::lock_guard lock(mutex_);
      auto it = windows_.find(hwnd);
      if (it == windows_.end() || !it->second.handler) return 0;
      handler = it->second.handler;
    }
    return handler(msg, wparam, lparam);
  }
  bool GetClientSize(HWND hwnd, int* width, int* height) override {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    *width = it->second.width;
    *height = it->second.height;
    return true;
  }
  bool WriteClient(HWND hwnd, int x, int y, const std::uint32_t* pixels, int width, int height,
                   int strideBytes) override {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    Window& w = it->second;
    for (int row = 0; row < height; ++row) {
      if (y + row < 0 || y + row >= w.height) continue;
      const auto* src = reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const char*>(pixels) +
                                                               std::size_t(row) * strideBytes);
      for (int col = 0; col < width; ++col)
        if (x + col >= 0 && x + col < w.width) w.pixels[std::size_t(y + row) * w.width + x + col] = src[col];
    }
    ++w.writes;
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<HWND, Window> windows_;
  std::uintptr_t next_ = 0x1000;
  win::WindowServices* previous_ = nullptr;
};

}  // namespace test
