#pragma once
// A cursor the test moves, a foreground window it names, and the capture
// calls it can count.
#include "win/cursor.h"

namespace test {

class FakeCursorServices final : public win::CursorServices {
 public:
  FakeCursorServices() { previous_ = win::SetCursorServices(this); }
  ~FakeCursorServices() override { win::SetCursorServices(previous_); }

  bool GetCursorPos(POINT* point) override {
    *point = cursor;
    return true;
  }
  HWND GetForegroundWindow() override { return foreground; }
  HWND SetCapture(HWND hwnd) override {
    ++setCaptures;
    HWND old = capture;
    capture = hwnd;
    return old;
  }
  bool ReleaseCapture() override {
    ++releases;
    capture = nullptr;
    return true;
  }
  HWND GetCapture() override { return capture; }

  POINT cursor{0, 0};
  HWND foreground = nullptr;
  HWND capture = nullptr;
  int setCaptures = 0;
  int releases = 0;

 private:
  win::CursorServices* previous_ = nullptr;
};

}  // namespace test
