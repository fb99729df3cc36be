// The relative orientation of two board views: maths and its two texts.
#include "calibration/relative_orientation.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <opencv2/core/core_c.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <unistd.h>

#include "calibration/calibration_data_store.h"
#include "gdiplus/gdiplus.h"
#include "gdiplus_environment.h"
#include "relative_orientation_fixture.h"

#include "comma_locale/comma_locale.h"

namespace {

using Mat = std::array<double, 9>;
using Vec = std::array<double, 3>;

Mat ToArray(const Eigen::Matrix3d& m) {
  Mat a;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i * 3 + j] = m(i, j);
  return a;
}

void ExpectNear(const double* actual, const double* expected, int n, double tolerance) {
  for (int i = 0; i < n; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

TEST(RelativeOrientationMaths, SameViewGivesIdentity) {
  const Eigen::Matrix3d R1 = Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
  const Vec T1 = {0.1, -0.2, 1.5};
  const RelativeOrientation o = ComputeRelativeOrientation(ToArray(R1), T1, ToArray(R1), T1);
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double zero[3] = {0, 0, 0};
  ExpectNear(o.R.data(), I, 9, 1e-12);
  ExpectNear(o.T.data(), zero, 3, 1e-12);
  ExpectNear(o.r.data(), zero, 3, 1e-7);
}

TEST(RelativeOrientationMaths, QuarterTurnAboutZ) {
  // First view: board straight ahead; second: the same camera turned 90° about z.
  const Mat R1 = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const Vec T1 = {1, 2, 3};
  const Mat Rz = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  const Vec T2 = {-2, 1, 3};  // Rz * T1
  const RelativeOrientation o = ComputeRelativeOrientation(R1, T1, Rz, T2);
  ExpectNear(o.R.data(), Rz.data(), 9, 1e-12);
  const double zero[3] = {0, 0, 0};
  ExpectNear(o.T.data(), zero, 3, 1e-12);
  const double r[3] = {0, 0, M_PI / 2};
  ExpectNear(o.r.data(), r, 3, 1e-9);

  // A translated second camera: T is what remains after the turn.
  const RelativeOrientation moved = ComputeRelativeOrientation(R1, T1, Rz, {-1, 1, 5});
  const double T[3] = {1, 0, 2};
  ExpectNear(moved.T.data(), T, 3, 1e-12);
}

TEST(RelativeOrientationMaths, RandomPairsMatchEigenAndMapPoints) {
  std::mt19937 random(19);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int trial = 0; trial < 20; ++trial) {
    const Eigen::Matrix3d R1 =
        Eigen::AngleAxisd(3 * u(random), Eigen::Vector3d(u(random), u(random), u(random)).normalized())
            .toRotationMatrix();
    const Eigen::Matrix3d R2 =
        Eigen::AngleAxisd(3 * u(random), Eigen::Vector3d(u(random), u(random), u(random)).normalized())
            .toRotationMatrix();
    const Eigen::Vector3d T1(u(random), u(random), 2 + u(random));
    const Eigen::Vector3d T2(u(random), u(random), 2 + u(random));
    const RelativeOrientation o =
        ComputeRelativeOrientation(ToArray(R1), {T1[0], T1[1], T1[2]}, ToArray(R2), {T2[0], T2[1], T2[2]});

    const Eigen::Matrix3d R = R2 * R1.transpose();
    const Eigen::Vector3d T = T2 - R * T1;
    ExpectNear(o.R.data(), ToArray(R).data(), 9, 1e-12);
    ExpectNear(o.T.data(), T.data(), 3, 1e-12);
    const Eigen::AngleAxisd axisAngle(R);
    const Eigen::Vector3d r = axisAngle.angle() * axisAngle.axis();
    ExpectNear(o.r.data(), r.data(), 3, 1e-7);

    // A board point seen from both views maps from the first camera frame to the second.
    const Eigen::Vector3d board(u(random), u(random), 0);
    const Eigen::Vector3d X1 = R1 * board + T1;
    const Eigen::Vector3d X2 = R2 * board + T2;
    Eigen::Matrix3d Rm;
    for (int i = 0; i < 9; ++i) Rm(i / 3, i % 3) = o.R[i];
    const Eigen::Vector3d mapped = Rm * X1 + Eigen::Vector3d(o.T[0], o.T[1], o.T[2]);
    EXPECT_LT((mapped - X2).norm(), 1e-12);
  }
}

RelativeOrientation Sample() {
  RelativeOrientation o;
  o.R = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  o.T = {1.25, -0.5, 1e-8};
  o.r = {0, 0, 1.5707963267948966};
  return o;
}

TEST(RelativeOrientationText, LabelAndFileExactEvenUnderCommaLocale) {
  const std::string label =
      "0.0000000 -1.0000000 0.0000000\n1.0000000 0.0000000 0.0000000\n0.0000000 0.0000000 1.0000000\n"
      "1.2500000 -0.5000000 0.0000000\n0.0000000 0.0000000 1.5707963\n";
  const std::string file =
      "0.000000 -1.000000 0.000000 \n1.000000 0.000000 0.000000 \n0.000000 0.000000 1.000000 \n"
      "1.250000 -0.500000 0.000000 ";
  EXPECT_EQ(FormatRelativeOrientationLabel(Sample()), label);
  EXPECT_EQ(FormatRelativeOrientationFile(Sample()), file);

  quorl_test::CommaLocaleScope comma;
  if (!comma.active) GTEST_SKIP() << "no comma-decimal locale can be built here";
  EXPECT_EQ(FormatRelativeOrientationLabel(Sample()), label);
  EXPECT_EQ(FormatRelativeOrientationFile(Sample()), file);
}

[[maybe_unused]] ::testing::Environment* const kGdiplus = ::testing::AddGlobalTestEnvironment(new quorl_test::GdiplusEnvironment);

class RelativeOrientationStore : public testing::Test {
 protected:
  void SetUp() override { BuildOrientationStore(store_); }
  CalibrationDataStore store_;
};

TEST_F(RelativeOrientationStore, ViewListsFollowTheEnginesViews) {
  using Labels = std::vector<std::string>;
  EXPECT_EQ(RelativeOrientationViewLabels(store_, 0), (Labels{"0", "1", "2"}));
  EXPECT_EQ(RelativeOrientationViewLabels(store_, 1), Labels{});  // not calibrated
  EXPECT_EQ(RelativeOrientationViewLabels(store_, 2), (Labels{"0", "2"}));  // after the rig, image 1 disabled
  EXPECT_EQ(RelativeOrientationViewLabels(store_, 3), Labels{});
  EXPECT_EQ(RelativeOrientationViewLabels(store_, -1), Labels{});
}

TEST_F(RelativeOrientationStore, ComputesOnlyForOfferedViews) {
  RelativeOrientation o;
  ASSERT_TRUE(ComputeRelativeOrientation(store_, 2, 1, 0, 0, o));
  const RelativeOrientation expected = ComputeRelativeOrientation(
      store_.GetCalibrationEngine(2)->GetViewRotation(1), store_.GetCalibrationEngine(2)->GetViewTranslation(1),
      store_.GetCalibrationEngine(0)->GetViewRotation(0), store_.GetCalibrationEngine(0)->GetViewTranslation(0));
  ExpectNear(o.R.data(), expected.R.data(), 9, 0);
  ExpectNear(o.T.data(), expected.T.data(), 3, 0);
  const double r[3] = {0, 0, -0.1};
  ExpectNear(o.r.data(), r, 3, 1e-9);

  const int refused[][4] = {{2, 2, 0, 0}, {0, 3, 2, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, -1, 2, 0}, {3, 0, 0, 0}};
  for (const auto& c : refused)
    EXPECT_FALSE(ComputeRelativeOrientation(store_, c[0], c[1], c[2], c[3], o)) << c[0] << c[1] << c[2] << c[3];
}

TEST(RelativeOrientationSave, WritesTheExactFileOrReportsThePath) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("relative_orientation_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "result.txt").string();
  std::string message;
  ASSERT_TRUE(SaveRelativeOrientation(path, Sample(), &message)) << message;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), FormatRelativeOrientationFile(Sample()));

  const std::string unwritable = (folder / "missing" / "result.txt").string();
  EXPECT_FALSE(SaveRelativeOrientation(unwritable, Sample(), &message));
  EXPECT_EQ(message, "Cannot write: " + unwritable + "!");
  std::filesystem::remove_all(folder);
}

}  // namespace
