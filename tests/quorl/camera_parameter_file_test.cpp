#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "calibmath/camera_parameter_file.h"
#include "text_files/text_files.h"

namespace {

std::string TempPath(const char* name) {
  static const std::string dir = quorl_test::TempFolder();
  return dir + name;
}

using quorl_test::Slurp;
using quorl_test::Spit;

calibmath::CameraParameterValues Typical() {
  return {{533.09, 0, 342.49, 0, 533.21, 233.87, 0, 0, 1},
          {-0.29, 0.1, 0.00121, -0.00016},
          {1, 0, 0, 0, -1, 0, 0, 0, -1},
          {-83.2, 0.93, 250},
          640,
          480};
}

TEST(CameraParameterFile, WritesTheDocumentedBytes) {
  const std::string path = TempPath("typical.txt");
  ASSERT_TRUE(calibmath::WriteCameraParameterFile(path.c_str(), Typical()));
  EXPECT_EQ(Slurp(path),
            "533.090000 0.000000 342.490000\n0.000000 533.210000 233.870000\n0.000000 0.000000 1.000000\n"
            "-0.290000 0.100000 0.001210 -0.000160\n1.000000 0.000000 0.000000\n0.000000 -1.000000 0.000000\n"
            "0.000000 0.000000 -1.000000\n-83.200000 0.930000 250.000000\n640 480\n");
}

TEST(CameraParameterFile, RoundTripAndCrLf) {
  const std::string path = TempPath("round.txt");
  ASSERT_TRUE(calibmath::WriteCameraParameterFile(path.c_str(), Typical()));
  calibmath::CameraParameterValues back{};
  ASSERT_TRUE(calibmath::ReadCameraParameterFile(path.c_str(), &back));
  EXPECT_DOUBLE_EQ(back.K[0], 533.09);
  EXPECT_DOUBLE_EQ(back.distortion[2], 0.00121);
  EXPECT_EQ(back.width, 640);
  std::string text = Slurp(path), crlf;
  for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  Spit(path, crlf);
  calibmath::CameraParameterValues fromCrLf{};
  ASSERT_TRUE(calibmath::ReadCameraParameterFile(path.c_str(), &fromCrLf));
  EXPECT_EQ(fromCrLf.height, 480);
  EXPECT_DOUBLE_EQ(fromCrLf.T[0], -83.2);
}

TEST(CameraParameterFile, BadFilesAreRefusedAndLeaveTheRecord) {
  struct Case {
    const char* name;
    const char* text;
  } cases[] = {
      {"ten_numbers", "1 2 3 4 5 6 7 8 9 10\n"},
      {"text", "focal length is large\n"},
      {"empty", ""},
      {"nan", "nan 0 0\n0 1 0\n0 0 1\n0 0 0 0\n1 0 0\n0 1 0\n0 0 1\n0 0 0\n10 10\n"},
      {"negative_size", "1 0 0\n0 1 0\n0 0 1\n0 0 0 0\n1 0 0\n0 1 0\n0 0 1\n0 0 0\n-1 10\n"},
      // Decimal reals only, each ending at white space.
      {"hex_float", "0x1p3 0 0\n0 1 0\n0 0 1\n0 0 0 0\n1 0 0\n0 1 0\n0 0 1\n0 0 0\n10 10\n"},
      {"number_into_text", "1.5mm 0 0\n0 1 0\n0 0 1\n0 0 0 0\n1 0 0\n0 1 0\n0 0 1\n0 0 0\n10 10\n"},
      {"comma_decimal", "1,5 0 0\n0 1 0\n0 0 1\n0 0 0 0\n1 0 0\n0 1 0\n0 0 1\n0 0 0\n10 10\n"},
  };
  for (const Case& c : cases) {
    const std::string path = TempPath(c.name);
    Spit(path, c.text);
    calibmath::CameraParameterValues v = Typical();
    EXPECT_FALSE(calibmath::ReadCameraParameterFile(path.c_str(), &v)) << c.name;
    EXPECT_EQ(v.K[0], 533.09) << c.name;
  }
  calibmath::CameraParameterValues v = Typical();
  EXPECT_FALSE(calibmath::ReadCameraParameterFile(TempPath("missing/none.txt").c_str(), &v));
  EXPECT_FALSE(calibmath::ReadCameraParameterFile(nullptr, &v));
  EXPECT_FALSE(calibmath::WriteCameraParameterFile(TempPath("missing/none.txt").c_str(), v));
}

}  // namespace
