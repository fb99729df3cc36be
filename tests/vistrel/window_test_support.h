#pragma once
// Shared by the workbench's window tests: GDI+ started once per test
// program, the built skin folder, and pumping until the windows settle.
#include <gtest/gtest.h>

#include <QApplication>
#include <string>

#include "gdiplus/startup.h"
#include "win/window.h"

namespace window_test {

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

#ifdef QUORL_GRAPHICS_DIR
// The built Graphics/ folder's parent, as the application folder that holds it.
inline std::string SkinFolder() {
  std::string dir = QUORL_GRAPHICS_DIR;
  return dir.substr(0, dir.rfind('/') + 1);
}
#endif

// Pumps until nothing is left, letting the platform deliver its own events.
inline void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    win::PumpMessages();
  }
}

}  // namespace window_test
