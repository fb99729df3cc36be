#include "synthetic_board/synthetic_board.h"

#include <cmath>

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc/imgproc_c.h>

namespace {

using synthetic::CameraModel;
using synthetic::Pose;

struct ProjectionCase {
  const char* name;
  CameraModel camera;
  cv::Point3d point;  // camera coordinates through an identity pose
};

TEST(SyntheticBoard, ProjectionMatchesOpenCV) {
  const CameraModel a = synthetic::CameraA();
  // Near the top-left image corner of camera A: u about 5 px, v about 4 px.
  const cv::Point3d nearCorner(-0.78 * 300.0, -0.54 * 300.0, 300.0);
  const ProjectionCase cases[] = {
      {"zero distortion", a.WithoutDistortion(), {30.0, -20.0, 400.0}},
      {"camera A", a, {30.0, -20.0, 400.0}},
      {"camera A near an image corner", a, nearCorner},
      {"camera B", synthetic::CameraB(), {-60.0, 45.0, 350.0}},
  };
  for (const ProjectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Pose pose = Pose::FromVector({0.1, -0.2, 0.05}, {5.0, -3.0, 20.0});
    std::vector<cv::Point2d> expected;
    cv::projectPoints(std::vector<cv::Point3d>{c.point}, pose.rvec, pose.t, cv::Mat(c.camera.K()),
                      cv::Mat(c.camera.Distortion()), expected);
    const cv::Point2d ours = synthetic::ProjectPoint(c.camera, pose, c.point);
    EXPECT_NEAR(ours.x, expected[0].x, 1e-9);
    EXPECT_NEAR(ours.y, expected[0].y, 1e-9);
  }
  // The corner case really is near the corner.
  const cv::Point2d corner = synthetic::ProjectPoint(a, Pose{}, nearCorner);
  EXPECT_LT(corner.x, 40.0);
  EXPECT_LT(corner.y, 40.0);
}

TEST(SyntheticBoard, UndistortInvertsTheLensModel) {
  const CameraModel a = synthetic::CameraA();
  for (double u : {0.0, 100.5, 320.0, 639.0})
    for (double v : {0.0, 240.0, 479.0}) {
      cv::Point2d n;
      ASSERT_TRUE(synthetic::UndistortPixel(a, u, v, &n));
      const cv::Point2d back = synthetic::ProjectPoint(a, Pose{}, {n.x, n.y, 1.0});
      EXPECT_NEAR(back.x, u, 1e-8);
      EXPECT_NEAR(back.y, v, 1e-8);
    }
}

TEST(SyntheticBoard, BoardPointsRunFromTheTopRowDown) {
  const std::vector<cv::Point3d> X = synthetic::BoardObjectPoints({9, 6, 25.0, 25.0});
  ASSERT_EQ(X.size(), 54u);
  EXPECT_EQ(X[0], cv::Point3d(0, 125, 0));
  EXPECT_EQ(X[1], cv::Point3d(25, 125, 0));
  EXPECT_EQ(X[9], cv::Point3d(0, 100, 0));
  EXPECT_EQ(X[53], cv::Point3d(200, 0, 0));
}

TEST(SyntheticBoard, DefaultPosesFollowTheDistribution) {
  synthetic::Options options;
  options.rig = true;
  options.views = 30;
  options.seed = 7;
  const synthetic::Dataset data = synthetic::MakeDataset(options);
  ASSERT_EQ(data.views.size(), 30u);
  const cv::Vec3d centre(100.0, 62.5, 0.0);
  for (const synthetic::View& view : data.views) {
    const Pose& p = view.poseA;
    EXPECT_NEAR(cv::determinant(p.R), 1.0, 1e-12);
    const cv::Vec3d Xc = p.R * centre + p.t;
    EXPECT_GE(Xc[2], 250.0);
    EXPECT_LE(Xc[2], 450.0);
    // The board's normal faces the camera, tilted 10-45 degrees.
    const cv::Vec3d normal = p.R * cv::Vec3d(0, 0, 1);
    const double tilt = std::acos(-normal[2]) * 180.0 / CV_PI;
    EXPECT_GE(tilt, 10.0 - 1e-9);
    EXPECT_LE(tilt, 45.0 + 1e-9);
    // Point 0 is left of point 8 and above point 45 in the image.
    EXPECT_LT(view.cornersA[0].x, view.cornersA[1].x);
    EXPECT_LT(view.cornersA[0].y, view.cornersA[2].y);
    for (const auto* points : {&view.truePointsA, &view.truePointsB})
      for (const cv::Point2d& q : *points) {
        EXPECT_GE(q.x, 10.0);
        EXPECT_GE(q.y, 10.0);
        EXPECT_LE(q.x, 629.0);
        EXPECT_LE(q.y, 469.0);
      }
    // Camera B's pose is the rig's composition.
    const Pose expectB = options.rigPose.Compose(p);
    EXPECT_LT(cv::norm(expectB.t - view.poseB.t), 1e-12);
  }
}

TEST(SyntheticBoard, SquareOnViewsAndDeterminism) {
  synthetic::Options options;
  options.views = 4;
  options.squareOnViews = 1;
  options.seed = 3;
  const synthetic::Dataset first = synthetic::MakeDataset(options);
  options.noiseSigma = 0.5;
  const synthetic::Dataset noisy = synthetic::MakeDataset(options);
  const synthetic::Dataset again = synthetic::MakeDataset(options);
  EXPECT_EQ(first.views[3].poseA.R, synthetic::SquareOnRotation());
  EXPECT_NE(first.views[2].poseA.R, synthetic::SquareOnRotation());
  double sum2 = 0.0;
  int count = 0;
  for (size_t v = 0; v < first.views.size(); ++v) {
    // Same poses whatever the noise; the same noise for the same seed.
    EXPECT_EQ(first.views[v].poseA.t, noisy.views[v].poseA.t);
    EXPECT_EQ(noisy.views[v].pointsA, again.views[v].pointsA);
    EXPECT_EQ(first.views[v].pointsA, first.views[v].truePointsA);
    for (size_t j = 0; j < noisy.views[v].pointsA.size(); ++j) {
      const cv::Point2d e = noisy.views[v].pointsA[j] - noisy.views[v].truePointsA[j];
      sum2 += e.x * e.x + e.y * e.y;
      count += 2;
    }
  }
  EXPECT_NEAR(std::sqrt(sum2 / count), 0.5, 0.05);
}

TEST(SyntheticBoard, ExplicitPosesAreUsedAsGiven) {
  synthetic::Options options;
  options.poses = {Pose::FromRotation(synthetic::SquareOnRotation(), {-100.0, 62.5, 100.0})};
  const synthetic::Dataset data = synthetic::MakeDataset(options);
  ASSERT_EQ(data.views.size(), 1u);
  EXPECT_EQ(data.views[0].poseA.t, options.poses[0].t);
}

// The rendered corners are where the projection says, to the accuracy the
// sub-pixel search itself reaches.
TEST(SyntheticBoard, RenderedCornersRefineOntoTheTruth) {
  synthetic::Options options;
  options.views = 3;
  options.seed = 11;
  const synthetic::Dataset data = synthetic::MakeDataset(options);
  const CameraModel camera = options.cameraA;
  double sumX = 0.0, sumY = 0.0;
  int count = 0;
  for (const synthetic::View& view : data.views) {
    cv::Mat image = synthetic::RenderBoard(camera, options.board, view.poseA);
    ASSERT_EQ(image.type(), CV_8UC1);
    ASSERT_EQ(image.cols, 640);
    std::vector<CvPoint2D32f> corners;
    for (size_t j = 0; j < view.truePointsA.size(); ++j) {
      const double angle = 2.39996 * j;  // golden angle: start offsets in every direction
      corners.push_back(cvPoint2D32f(view.truePointsA[j].x + 1.5 * std::cos(angle),
                                     view.truePointsA[j].y + 1.5 * std::sin(angle)));
    }
    CvMat header = cvMat(image);
    cvFindCornerSubPix(&header, corners.data(), static_cast<int>(corners.size()), cvSize(7, 7), cvSize(-1, -1),
                       cvTermCriteria(CV_TERMCRIT_ITER | CV_TERMCRIT_EPS, 20, 0.0003));  // the editor's criteria
    for (size_t j = 0; j < corners.size(); ++j) {
      const double ex = corners[j].x - view.truePointsA[j].x, ey = corners[j].y - view.truePointsA[j].y;
      EXPECT_LT(std::hypot(ex, ey), 0.2) << "point " << j;
      sumX += ex;
      sumY += ey;
      ++count;
    }
  }
  EXPECT_LT(std::abs(sumX / count), 0.03);
  EXPECT_LT(std::abs(sumY / count), 0.03);
}

TEST(SyntheticBoard, ColourRenderHasEqualChannels) {
  synthetic::Options options;
  options.views = 1;
  const synthetic::Dataset data = synthetic::MakeDataset(options);
  const cv::Mat grey = synthetic::RenderBoard(options.cameraA, options.board, data.views[0].poseA);
  const cv::Mat color = synthetic::RenderBoard(options.cameraA, options.board, data.views[0].poseA, {4, true});
  ASSERT_EQ(color.type(), CV_8UC3);
  std::vector<cv::Mat> channels;
  cv::split(color, channels);
  for (const cv::Mat& c : channels) EXPECT_EQ(cv::norm(c, grey, cv::NORM_INF), 0.0);
  // White, black and the mid-grey surround all appear.
  double lo, hi;
  cv::minMaxLoc(grey, &lo, &hi);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 255.0);
  EXPECT_EQ(grey.at<unsigned char>(0, 0), 128);
}

}  // namespace
