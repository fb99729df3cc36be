// The 4 x 4 matrix printer writes one line of sixteen values to the
// debugger output (standard error here), row after row.
#include <gtest/gtest.h>

#include <string>

#include "app_core/debug_print.h"

TEST(PrintMatrix4x4, OneLineOfSixteenValuesInRowOrder) {
  float m[16];
  for (int i = 0; i < 16; ++i) m[i] = static_cast<float>(i) - 0.5f;
  testing::internal::CaptureStderr();
  PrintMatrix4x4(m);
  const std::string line = testing::internal::GetCapturedStderr();
  EXPECT_EQ(line,
            "-0.500000 0.500000 1.500000 2.500000 3.500000 4.500000 5.500000 6.500000 7.500000 8.500000 "
            "9.500000 10.500000 11.500000 12.500000 13.500000 14.500000 \n");
}
