#include "MVG/camera.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "camera_fixtures.h"

namespace {

using namespace camera_fixtures;

const double kTypicalK[9] = {533.09, 0, 342.49, 0, 533.21, 233.87, 0, 0, 1};
const double kTypicalD[5] = {-0.29, 0.1, 0.00121, -0.00016, 0.03};
const double kTypicalR[9] = {1, 0, 0, 0, -1, 0, 0, 0, -1};
const double kTypicalT[3] = {-83.2, 0.93, 250};
const char* const kTypicalBytes =
    "533.090000 0.000000 342.490000\n0.000000 533.210000 233.870000\n0.000000 0.000000 1.000000\n"
    "-0.290000 0.100000 0.001210 -0.000160\n1.000000 0.000000 0.000000\n0.000000 -1.000000 0.000000\n"
    "0.000000 0.000000 -1.000000\n-83.200000 0.930000 250.000000\n640 480\n";

CCamera Typical() { return CCamera(kTypicalK, kTypicalD, kTypicalR, kTypicalT, 640, 480); }

// Every field a caller can read, for "unchanged" checks.
std::vector<double> State(CCamera& c) {
  std::vector<double> s(c.GetK(), c.GetK() + 9);
  s.insert(s.end(), c.GetR(), c.GetR() + 9);
  s.insert(s.end(), c.Getr(), c.Getr() + 3);
  s.insert(s.end(), c.GetT(), c.GetT() + 3);
  s.insert(s.end(), c.Getd(), c.Getd() + 5);
  s.insert(s.end(), c.GetP(), c.GetP() + 12);
  s.push_back(c.GetWidth());
  s.push_back(c.GetHeight());
  s.push_back(c.IsCalibrated());
  return s;
}

void ExpectPIsKRT(CCamera& c) {
  const double *K = c.GetK(), *R = c.GetR(), *T = c.GetT(), *P = c.GetP();
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const double e = K[3 * i] * R[j] + K[3 * i + 1] * R[3 + j] + K[3 * i + 2] * R[6 + j];
      EXPECT_NEAR(P[4 * i + j], e, 1e-9) << i << "," << j;
    }
    EXPECT_NEAR(P[4 * i + 3], K[3 * i] * T[0] + K[3 * i + 1] * T[1] + K[3 * i + 2] * T[2], 1e-9) << i;
  }
}

TEST(CameraParameterFile, DefaultAndTypicalCamerasWriteTheDocumentedBytes) {
  const std::string dir = TempFolder();
  ASSERT_TRUE(CCamera().Save((dir + "default.txt").c_str()));
  std::string zeros;
  for (int line = 0; line < 8; ++line)
    zeros += line == 3 ? "0.000000 0.000000 0.000000 0.000000\n" : "0.000000 0.000000 0.000000\n";
  EXPECT_EQ(Slurp(dir + "default.txt"), zeros + "0 0\n");
  ASSERT_TRUE(Typical().Save((dir + "typical.txt").c_str()));
  EXPECT_EQ(Slurp(dir + "typical.txt"), kTypicalBytes);
}

TEST(CameraParameterFile, SaveLoadSaveKeepsTheBytesAndSetsPAndCalibrated) {
  const std::string dir = TempFolder();
  const std::string first = dir + "first.txt", second = dir + "second.txt";
  ASSERT_TRUE(Typical().Save(first.c_str()));
  CCamera loaded;
  const double k3[5] = {0, 0, 0, 0, 0.75};
  loaded.Setd(k3);
  ASSERT_TRUE(loaded.Load(first.c_str()));
  EXPECT_TRUE(loaded.IsCalibrated());
  EXPECT_EQ(loaded.Getd()[0], -0.29);
  EXPECT_EQ(loaded.Getd()[4], 0.75);  // k3 is not in the file and stays
  EXPECT_EQ(loaded.GetWidth(), 640);
  EXPECT_EQ(loaded.GetHeight(), 480);
  ExpectPIsKRT(loaded);
  ASSERT_TRUE(loaded.Save(second.c_str()));
  EXPECT_EQ(Slurp(second), Slurp(first));
}

TEST(CameraParameterFile, CrLfFileLoads) {
  const std::string path = TempFolder() + "crlf.txt";
  std::string crlf;
  for (const char* p = kTypicalBytes; *p; ++p) crlf += *p == '\n' ? std::string("\r\n") : std::string(1, *p);
  Spit(path, crlf);
  CCamera c;
  ASSERT_TRUE(c.Load(path.c_str()));
  EXPECT_EQ(c.GetT()[0], -83.2);
  EXPECT_EQ(c.GetHeight(), 480);
}

TEST(CameraParameterFile, CommaDecimalLocaleChangesNeitherBytesNorValues) {
  const std::string dir = TempFolder();
  Spit(dir + "c.txt", kTypicalBytes);
  CommaLocaleScope locale;
  if (!locale.active) GTEST_SKIP() << "no comma-decimal locale can be built here";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  ASSERT_STREQ(probe, "1,5");  // the locale really is in effect
  ASSERT_TRUE(Typical().Save((dir + "saved.txt").c_str()));
  EXPECT_EQ(Slurp(dir + "saved.txt"), kTypicalBytes);
  CCamera c;
  ASSERT_TRUE(c.Load((dir + "c.txt").c_str()));
  EXPECT_EQ(c.GetK()[0], 533.09);
  EXPECT_EQ(c.Getd()[2], 0.00121);
  EXPECT_EQ(c.GetT()[1], 0.93);
}

TEST(CameraParameterFile, BadFilesAreRefusedAndLeaveTheCamera) {
  const std::string dir = TempFolder();
  // A whole file but its last value: 26 of the 27 convert.
  const std::string typical = kTypicalBytes;
  const std::string noHeight = typical.substr(0, typical.rfind(' ')) + "\n";
  const std::string wordHeight = typical.substr(0, typical.rfind(' ')) + " tall\n";
  struct Case {
    const char* name;
    const char* text;  // null: no file at all
  } cases[] = {
      {"ten_numbers", "1 2 3 4 5 6 7 8 9 10\n"},
      {"text", "focal length: large\n"},
      {"empty", ""},
      {"missing", nullptr},
      {"height_missing", noHeight.c_str()},
      {"height_not_a_number", wordHeight.c_str()},
  };
  for (const Case& c : cases) {
    const std::string path = dir + c.name;
    if (c.text) Spit(path, c.text);
    CCamera camera = Typical();
    const std::vector<double> before = State(camera);
    EXPECT_FALSE(camera.Load(path.c_str())) << c.name;
    EXPECT_EQ(State(camera), before) << c.name;
  }
}

TEST(CameraParameterFile, ReadOnlyFileLoads) {
  const std::string dir = TempFolder();
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const std::string path = dir + "readonly.txt";
  Spit(path, kTypicalBytes);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  // Root opens a 0444 file for writing anyway, so the child gives up root:
  // there a read-write open is refused, and only a read-only one loads.
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
    if (FILE* f = std::fopen(path.c_str(), "r+")) {
      std::fclose(f);
      _exit(2);
    }
    CCamera c;
    _exit(c.Load(path.c_str()) && c.IsCalibrated() && c.GetK()[0] == 533.09 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not loaded, 2: the file was writable, 3: setuid failed";
}

TEST(CCameraCopy, CopyConstructorCopiesAllButAssignmentKeepsCalibratedAndP) {
  const std::string path = TempFolder() + "cam.txt";
  ASSERT_TRUE(Typical().Save(path.c_str()));
  CCamera calibrated;
  ASSERT_TRUE(calibrated.Load(path.c_str()));
  calibrated.GetActiveDistortion()[2] = false;

  CCamera copy(calibrated);
  EXPECT_EQ(State(copy), State(calibrated));
  EXPECT_FALSE(copy.IsDistortionActive(2));

  CCamera target;
  ASSERT_TRUE(target.Load(path.c_str()));
  const std::vector<double> targetP(target.GetP(), target.GetP() + 12);
  CCamera fresh;
  fresh.GetActiveIntrinsic()[1] = false;
  target = fresh;
  EXPECT_TRUE(target.IsCalibrated());
  EXPECT_EQ(std::vector<double>(target.GetP(), target.GetP() + 12), targetP);
  EXPECT_EQ(target.GetK()[0], 0.0);
  EXPECT_FALSE(target.IsIntrinsicActive(1));

  calibrated = fresh;  // onto a calibrated camera from an uncalibrated one
  EXPECT_TRUE(calibrated.IsCalibrated());
}

TEST(CCameraConstruction, SixArgumentFormTakesFourDistortionCoefficients) {
  CCamera c = Typical();
  EXPECT_EQ(c.Getd()[3], -0.00016);
  EXPECT_EQ(c.Getd()[4], 0.0);  // k3 not copied
  EXPECT_FALSE(c.IsCalibrated());
  for (unsigned i = 0; i < 5; ++i) {
    EXPECT_TRUE(c.IsIntrinsicActive(i));
    EXPECT_TRUE(c.IsDistortionActive(i));
  }
  for (int i = 0; i < 12; ++i) EXPECT_EQ(c.GetP()[i], 0.0);
  EXPECT_DOUBLE_EQ(c.Geta(), 533.09 / 533.21);
}

TEST(CCameraMatrices, GetPIsKRTAndRefreshesTheStoredP) {
  double R[9];
  PosedR(R);
  const double K[9] = {800, 0.01, 320, 0, 790, 240, 0, 0, 1};
  CCamera c(K, kDistortionSets[1].d, R, kPosedT, 640, 480);
  double P[12];
  c.GetP(P);
  c.GetP(c.GetP());
  for (int i = 0; i < 12; ++i) EXPECT_EQ(c.GetP()[i], P[i]);
  ExpectPIsKRT(c);
}

TEST(CCameraMatrices, CameraCentreIsMinusRTransposedT) {
  double R[9];
  PosedR(R);
  CCamera c(kPosedK, kDistortionSets[0].d, R, kPosedT, 640, 480);
  double C[3];
  c.GetCameraCenter(C);
  // R C + T = 0 at the centre.
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(R[3 * i] * C[0] + R[3 * i + 1] * C[1] + R[3 * i + 2] * C[2] + kPosedT[i], 0, 1e-12);
}

TEST(CCameraMatrices, ScaledProjectionFollowsTheScaledIntrinsics) {
  double R[9];
  PosedR(R);
  // Non-zero K[6], K[7] show the third row's form.
  const double K[9] = {800, 0.02, 320, 0, 790, 240, 0.001, -0.002, 1};
  CCamera c(K, kDistortionSets[0].d, R, kPosedT, 640, 480);
  double P[12];
  c.GetP(P);
  const vnl_matrix_fixed<double, 3, 4> Ps = c.GetP(0.5f);
  for (int j = 0; j < 4; ++j) {
    EXPECT_NEAR(Ps(0, j), 0.5 * P[j], 1e-9);
    EXPECT_NEAR(Ps(1, j), 0.5 * P[4 + j], 1e-9);
    const double rt0 = j < 3 ? R[j] : kPosedT[0], rt1 = j < 3 ? R[3 + j] : kPosedT[1];
    const double rt2 = j < 3 ? R[6 + j] : kPosedT[2];
    EXPECT_NEAR(Ps(2, j), 0.5 * (K[6] * rt0 + K[7] * rt1) + rt2, 1e-12);
  }
  const vnl_matrix_fixed<double, 3, 3> Km = c.GetIntrinsicMatrix();
  EXPECT_EQ(Km(0, 2), 320.0);
  EXPECT_EQ(Km(2, 0), 0.001);
  EXPECT_EQ(c.GetTranslationVector()[2], kPosedT[2]);
  EXPECT_EQ(c.GetRotationMatrix()(1, 2), R[5]);
}

TEST(CCameraRays, RayThroughAProjectedPointPointsAtIt) {
  double R[9];
  PosedR(R);
  for (const DistortionSet& set : kDistortionSets) {
    CCamera c(kPosedK, set.d, R, kPosedT, 640, 480);
    c.Setd(set.d);
    const vnl_double_3 C = c.GetCameraCenter();
    for (const auto& X : kWorldPoints) {
      double u, v;
      c.GetPoint(X[0], X[1], X[2], &u, &v);
      const float pixel[2] = {static_cast<float>(u), static_cast<float>(v)};
      const vnl_double_3 ray = c.GetRay(pixel);
      double toPoint[3] = {X[0] - C[0], X[1] - C[1], X[2] - C[2]};
      const double n = std::sqrt(toPoint[0] * toPoint[0] + toPoint[1] * toPoint[1] + toPoint[2] * toPoint[2]);
      EXPECT_NEAR(std::sqrt(ray[0] * ray[0] + ray[1] * ray[1] + ray[2] * ray[2]), 1.0, 1e-12);
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(ray[i], toPoint[i] / n, 2e-6) << set.name << " " << i;
    }
  }
}

TEST(CCameraRays, OpticalAxisOfAnUnrotatedCameraIsZ) {
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double T[3] = {3, -2, 7};
  CCamera c(kPosedK, kDistortionSets[1].d, I, T, 640, 480);
  const vnl_double_3 axis = c.GetOpticalAxis();
  EXPECT_NEAR(axis[0], 0, 1e-7);
  EXPECT_NEAR(axis[1], 0, 1e-7);
  EXPECT_NEAR(axis[2], 1, 1e-12);
}

class CCameraHomography : public ::testing::Test {
 protected:
  void SetUp() override { PosedR(R_); }
  // Maps plane point (X, Y) through H.
  static void Apply(const vnl_matrix_fixed<double, 3, 3>& H, double X, double Y, double* u, double* v) {
    const double w = H(2, 0) * X + H(2, 1) * Y + H(2, 2);
    *u = (H(0, 0) * X + H(0, 1) * Y + H(0, 2)) / w;
    *v = (H(1, 0) * X + H(1, 1) * Y + H(1, 2)) / w;
  }
  // The camera's projection of each plane point (points: n X values, then n
  // Y values) against H's image of it.
  static void ExpectMatches(const CCamera& c, const vnl_matrix_fixed<double, 3, 3>& H, const double* points, int n,
                            double tolerance) {
    for (int i = 0; i < n; ++i) {
      double u, v, hu, hv;
      c.GetPoint(points[i], points[n + i], 0, &u, &v);
      Apply(H, points[i], points[n + i], &hu, &hv);
      EXPECT_NEAR(hu, u, tolerance) << i;
      EXPECT_NEAR(hv, v, tolerance) << i;
    }
  }
  static double MaxAbs(const vnl_matrix_fixed<double, 3, 3>& H) {
    double m = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m = std::max(m, std::fabs(H(i, j)));
    return m;
  }
  double R_[9];
};

TEST_F(CCameraHomography, FourCornersMapExactlyOntoTheDistortedProjections) {
  CCamera c(kPosedK, kDistortionSets[1].d, R_, kPosedT, 640, 480);
  const double corners[8] = {-1.2, 1.0, 1.0, -1.2, -0.8, -0.8, 0.9, 0.9};
  ExpectMatches(c, c.GetHomography(corners, 4), corners, 4, 1e-6);
}

TEST_F(CCameraHomography, GridOfNineFitsAndFewerThanFourGiveZero) {
  double grid[18];
  for (int i = 0; i < 9; ++i) {
    grid[i] = -1.0 + (i % 3);
    grid[9 + i] = -0.8 + 0.8 * (i / 3);
  }
  // Without distortion the plane maps by a true homography.
  CCamera pinhole(kPosedK, kDistortionSets[0].d, R_, kPosedT, 640, 480);
  ExpectMatches(pinhole, pinhole.GetHomography(grid, 9), grid, 9, 1e-6);
  // With distortion it is the best plane fit: close, not exact.
  CCamera barrel(kPosedK, kDistortionSets[1].d, R_, kPosedT, 640, 480);
  ExpectMatches(barrel, barrel.GetHomography(grid, 9), grid, 9, 10.0);
  EXPECT_EQ(MaxAbs(pinhole.GetHomography(grid, 3)), 0.0);
  EXPECT_EQ(MaxAbs(pinhole.GetHomography(nullptr, 4)), 0.0);
}

TEST_F(CCameraHomography, AFitTheRoutineRefusesGivesZero) {
  // Facing the board squarely, points of one board row land on one image
  // row, which the fit reports as degenerate.
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  CCamera c(kPosedK, kDistortionSets[0].d, I, kPosedT, 640, 480);
  const double row[8] = {-1, -0.3, 0.4, 1.1, 0.5, 0.5, 0.5, 0.5};
  EXPECT_EQ(MaxAbs(c.GetHomography(row, 4)), 0.0);
}

// ---- the one-channel undistortion map ----

std::vector<int> MapOf(const CCamera& c) {
  std::vector<int> map(static_cast<size_t>(c.GetWidth()) * c.GetHeight() * 5, -1);
  c.ComputeUndistortionMap(map.data());
  return map;
}

CCamera MapCamera(double fx, double u0, double v0, double k1, int w, int h) {
  const double K[9] = {fx, 0, u0, 0, fx, v0, 0, 0, 1};
  const double d[5] = {k1, 0, 0, 0, 0};
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double T[3] = {0, 0, 0};
  CCamera c(K, d, I, T, w, h);
  c.Setd(d);
  return c;
}

TEST(CCameraUndistortionMap, ZeroDistortionIsTheIdentityWithZeroLastRowAndColumn) {
  // Exactly representable K, so each pixel maps onto itself with no rounding.
  const int W = 64, H = 48;
  const std::vector<int> map = MapOf(MapCamera(64, 32, 24, 0, W, H));
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) {
      const int* e = &map[5 * (r * W + c)];
      const bool edge = r == H - 1 || c == W - 1;
      ASSERT_EQ(e[0], edge ? 0 : r * W + c) << r << "," << c;
      ASSERT_EQ(e[1], edge ? 0 : 32768) << r << "," << c;
      ASSERT_EQ(e[2] | e[3] | e[4], 0) << r << "," << c;
    }
}

TEST(CCameraUndistortionMap, HalfPixelFractionsAndAHandComputedPixel) {
  // k1 = 0.5 at x = y = 0.5: radial 1.25, source (112.5, 112.5), exact.
  const int W = 128, H = 128;
  const std::vector<int> half = MapOf(MapCamera(100, 50, 50, 0.5, W, H));
  const int* e = &half[5 * (100 * W + 100)];
  EXPECT_EQ(e[0], 112 + 112 * W);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(e[k], 8192) << k;

  // Unequal fractions tell the row weight from the column weight: at
  // x = 0.5, y = 0.25 the radial factor is 37/32, the source (107.8125,
  // 78.90625), exact.
  const int* u = &half[5 * (75 * W + 100)];
  EXPECT_EQ(u[0], 107 + 78 * W);
  EXPECT_EQ(u[1], 576);    // (1 - 0.8125) (1 - 0.90625)
  EXPECT_EQ(u[2], 5568);   // (1 - 0.8125) 0.90625: the next row
  EXPECT_EQ(u[3], 2496);   // 0.8125 (1 - 0.90625): the next column
  EXPECT_EQ(u[4], 24128);  // 0.8125 0.90625

  // k1 = 0.1 at (70, 60) with centre (50, 40), f = 100: x = y = 0.2,
  // radial 1.008, source (70.16, 60.16); weights 0.84^2, 0.84 0.16 (twice)
  // and 0.16^2 of 32768, truncated.
  const std::vector<int> map = MapOf(MapCamera(100, 50, 40, 0.1, 100, 80));
  const int* p = &map[5 * (60 * 100 + 70)];
  EXPECT_EQ(p[0], 70 + 60 * 100);
  EXPECT_EQ(p[1], 23121);
  EXPECT_EQ(p[2], 4404);
  EXPECT_EQ(p[3], 4404);
  EXPECT_EQ(p[4], 838);
}

}  // namespace
