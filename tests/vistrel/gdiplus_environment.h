#pragma once
// GDI+ started once for a whole test program and shut down after its last
// test: images, bitmaps and the stores that hold them need it up.
#include <gtest/gtest.h>

#include "gdiplus/startup.h"

namespace quorl_test {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace quorl_test
