#include "MVG/stereo_camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <string>
#include <vector>

#include "camera_fixtures.h"

namespace {

using namespace camera_fixtures;

void RotationOf(double rx, double ry, double rz, double* R) {
  double r[3] = {rx, ry, rz};
  cv::Mat m;
  cv::Rodrigues(cv::Mat(3, 1, CV_64F, r), m);
  for (int i = 0; i < 9; ++i) R[i] = m.at<double>(i / 3, i % 3);
}

std::vector<double> Fields(CCamera c) {
  std::vector<double> s(c.GetK(), c.GetK() + 9);
  s.insert(s.end(), c.Getd(), c.Getd() + 5);
  s.insert(s.end(), c.GetR(), c.GetR() + 9);
  s.insert(s.end(), c.GetT(), c.GetT() + 3);
  s.push_back(c.GetWidth());
  s.push_back(c.GetHeight());
  return s;
}

void ExpectNearFields(const CCamera& a, const CCamera& b, double tolerance) {
  const std::vector<double> fa = Fields(a), fb = Fields(b);
  ASSERT_EQ(fa.size(), fb.size());
  for (size_t i = 0; i < fa.size(); ++i) EXPECT_NEAR(fa[i], fb[i], tolerance) << i;
}

// Camera 0 at the origin, camera 1 half a unit to the right, turned a little.
class StereoRig : public ::testing::Test {
 protected:
  void SetUp() override {
    const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double zero[3] = {0, 0, 0};
    const double K0[9] = {790, 0, 322, 0, 786, 241, 0, 0, 1};
    const double K1[9] = {805, 0, 317, 0, 801, 236, 0, 0, 1};
    RotationOf(0.02, -0.15, 0.01, R1_);
    const double T1[3] = {-0.5, 0.01, 0.02};
    first_ = CCamera(K0, kDistortionSets[2].d, I, zero, 640, 480);
    second_ = CCamera(K1, kDistortionSets[1].d, R1_, T1, 640, 480);
    second_.Setd(kDistortionSets[1].d);
    rig_ = CStereoCamera(first_, second_);
  }
  double R1_[9];
  CCamera first_, second_;
  CStereoCamera rig_;
};

TEST_F(StereoRig, TriangulationRecoversThePoints) {
  const double points[][3] = {{0.1, 0.05, 3}, {-0.6, 0.4, 4.5}, {0.7, -0.5, 2.5}, {0.0, 0.0, 6}};
  for (const auto& X : points) {
    double u0, v0, u1, v1;
    rig_.GetCamera(0).GetPoint(X[0], X[1], X[2], &u0, &v0);
    rig_.GetCamera(1).GetPoint(X[0], X[1], X[2], &u1, &v1);
    CvPoint2D32f a = cvPoint2D32f(u0, v0), b = cvPoint2D32f(u1, v1);
    const CvPoint3D32f P = rig_.Triangulate3DPoint(&a, &b);
    EXPECT_NEAR(P.x, X[0], 2e-3 * X[2]);
    EXPECT_NEAR(P.y, X[1], 2e-3 * X[2]);
    EXPECT_NEAR(P.z, X[2], 5e-3 * X[2]);
  }
}

TEST_F(StereoRig, RelativePoseMapsFirstCameraCoordinatesToSecond) {
  // Both cameras posed, so neither formula can lean on an identity.
  double R0[9];
  RotationOf(-0.1, 0.2, 0.05, R0);
  const double T0[3] = {0.3, -0.2, 1.0};
  CCamera posed = first_;
  posed.SetR(R0);
  posed.SetT(T0);
  CStereoCamera rig(posed, second_);
  const double* Rrel = rig.GetRelativeRotation();
  const double* Trel = rig.GetRelativeTranslation();
  const double X[3] = {0.4, -0.7, 3.2};
  double X1[3], X2[3];
  for (int i = 0; i < 3; ++i) {
    X1[i] = R0[3 * i] * X[0] + R0[3 * i + 1] * X[1] + R0[3 * i + 2] * X[2] + T0[i];
    X2[i] = R1_[3 * i] * X[0] + R1_[3 * i + 1] * X[1] + R1_[3 * i + 2] * X[2] + second_.GetT()[i];
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(Rrel[3 * i] * X1[0] + Rrel[3 * i + 1] * X1[1] + Rrel[3 * i + 2] * X1[2] + Trel[i], X2[i], 1e-12);
}

TEST_F(StereoRig, ConstructionAssignsWithoutCalibrationAndZeroDistortionClearsBoth) {
  EXPECT_FALSE(rig_.GetCamera(1).IsCalibrated());
  EXPECT_EQ(rig_.GetCamera(1).GetK()[0], 805.0);
  rig_.ZeroDistortion();
  for (int i = 0; i < 2; ++i)
    for (int k = 0; k < 5; ++k) EXPECT_EQ(rig_.GetCamera(i).Getd()[k], 0.0);
}

TEST_F(StereoRig, SaveWithOnePathThenLoadRestoresBothCameras) {
  const std::string stereo = TempFolder() + "rig.stereo";
  ASSERT_TRUE(rig_.Save(stereo.c_str()));
  const std::string text = Slurp(stereo);
  EXPECT_EQ(text.find(' '), std::string::npos);
  CStereoCamera loaded;
  ASSERT_TRUE(loaded.Load(stereo.c_str()));
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(loaded.GetCamera(i).IsCalibrated());
    CCamera expected = rig_.GetCamera(i);
    const double noK3[5] = {expected.Getd()[0], expected.Getd()[1], expected.Getd()[2], expected.Getd()[3], 0};
    expected.Setd(noK3);  // the camera file carries no k3
    ExpectNearFields(loaded.GetCamera(i), expected, 5e-7);
  }
  EXPECT_FALSE(rig_.Save((TempFolder() + "with space.stereo").c_str()));
  EXPECT_FALSE(rig_.Save(""));
}

TEST_F(StereoRig, OldFormPathsInTheFileAndAsArgumentsAreMapped) {
  const std::string dir = TempFolder();
  setenv("QUORL_DRIVE_Q", dir.c_str(), 1);
  ASSERT_TRUE(rig_.Save("Q:\\left.txt", "Q:\\right.txt"));
  Spit(dir + "pair.txt", "Q:\\left.txt\r\nQ:\\right.txt\r\n");
  CStereoCamera loaded;
  EXPECT_TRUE(loaded.Load("Q:\\pair.txt"));
  EXPECT_EQ(loaded.GetCamera(1).GetK()[0], 805.0);
  ASSERT_TRUE(rig_.Save("Q:\\rig.stereo"));
  EXPECT_EQ(Slurp(dir + "rig.stereo"), "Q:\\rig_camera0.txt\nQ:\\rig_camera1.txt\n");
  CStereoCamera again;
  EXPECT_TRUE(again.Load("Q:\\rig.stereo"));
  EXPECT_EQ(again.GetCamera(0).GetK()[2], 322.0);
  unsetenv("QUORL_DRIVE_Q");
}

TEST_F(StereoRig, MissingSecondCameraFileLeavesThatCamera) {
  const std::string dir = TempFolder();
  ASSERT_TRUE(rig_.Save((dir + "a.txt").c_str(), (dir + "b.txt").c_str()));
  Spit(dir + "pair.txt", dir + "a.txt\n" + dir + "nothing_here.txt\n");
  CStereoCamera target;
  const std::vector<double> before = Fields(target.GetCamera(1));
  EXPECT_FALSE(target.Load((dir + "pair.txt").c_str()));
  EXPECT_TRUE(target.GetCamera(0).IsCalibrated());
  EXPECT_EQ(target.GetCamera(0).GetK()[0], 790.0);
  EXPECT_FALSE(target.GetCamera(1).IsCalibrated());
  EXPECT_EQ(Fields(target.GetCamera(1)), before);
}

TEST_F(StereoRig, OverlongOrMissingTokensRefuseTheFile) {
  const std::string dir = TempFolder();
  ASSERT_TRUE(rig_.Save((dir + "a.txt").c_str(), (dir + "b.txt").c_str()));
  const std::string longToken = dir + std::string(400 - dir.size(), 'x');
  const std::string limit = dir + std::string(260 - dir.size(), 'y');  // 260 characters: one too many
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"first_too_long", longToken + "\n" + dir + "b.txt\n"},
      {"second_too_long", dir + "a.txt\n" + longToken + "\n"},
      {"at_the_limit", dir + "a.txt\n" + limit + "\n"},
      {"one_token", dir + "a.txt\n"},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    Spit(dir + c.name, c.text);
    CStereoCamera target;
    EXPECT_FALSE(target.Load((dir + c.name).c_str())) << c.name;
    EXPECT_FALSE(target.GetCamera(0).IsCalibrated()) << c.name;
    EXPECT_FALSE(target.GetCamera(1).IsCalibrated()) << c.name;
  }
  EXPECT_FALSE(CStereoCamera().Load((dir + "no_such_file").c_str()));
}

}  // namespace
