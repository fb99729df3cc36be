#pragma once
// Synthetic calibration boards seen by known cameras: exact ground truth for
// calibration, editor and end-to-end tests and for the benchmarks.
//
// Conventions (those of the calibration core):
// - Board points: squaresX x squaresY grid points, rows from
//   y = (squaresY - 1) sizeY down to 0, x fastest, z = 0.
// - A pose maps board to camera: Xc = R X + t. Board point 0 appears at the
//   board's top left in the image with rows running down, so the board's z
//   axis faces the camera and a square-on board has R = diag(1, -1, -1).
// - Lens model: normalised (x, y), r2 = x^2 + y^2, radial 1 + k1 r2 + k2 r2^2
//   (k3 = 0), tangential 2 p1 x y + p2 (r2 + 2 x^2) and p1 (r2 + 2 y^2) +
//   2 p2 x y; u = fx xd + cx, v = fy yd + cy (zero skew). Pixel centres sit at
//   integer coordinates.
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include <opencv2/core.hpp>

namespace synthetic {

struct CameraModel {
  double fx = 0, fy = 0, cx = 0, cy = 0;
  double k1 = 0, k2 = 0, p1 = 0, p2 = 0;
  int width = 0, height = 0;

  cv::Matx33d K() const;
  // k1 k2 p1 p2 k3, k3 = 0: the order of cv::projectPoints and of the
  // calibration records.
  cv::Vec<double, 5> Distortion() const;
  CameraModel WithoutDistortion() const;
};

struct Pose {
  cv::Matx33d R = cv::Matx33d::eye();
  cv::Vec3d rvec;  // axis times angle, radians
  cv::Vec3d t;     // board units (mm for the defaults)

  static Pose FromRotation(const cv::Matx33d& R, const cv::Vec3d& t);
  static Pose FromVector(const cv::Vec3d& rvec, const cv::Vec3d& t);
  // this after other: X -> R (other.R X + other.t) + t.
  Pose Compose(const Pose& other) const;
};

// Default camera A: 640 x 480.
CameraModel CameraA();
// Default camera B of the rig, same image size.
CameraModel CameraB();
// Camera B relative to camera A: X_B = R X_A + t.
Pose DefaultRigRelativePose();

struct BoardSpec {
  int squaresX = 9;  // grid points along x
  int squaresY = 6;  // grid points along y
  double sizeX = 25.0, sizeY = 25.0;
  int PointCount() const { return squaresX * squaresY; }
};

// The board's object points in the calibration core's order.
std::vector<cv::Point3d> BoardObjectPoints(const BoardSpec& board);

// The lens model above, in double. Points behind the camera are projected
// all the same (no check).
cv::Point2d ProjectPoint(const CameraModel& camera, const Pose& pose, const cv::Point3d& X);
std::vector<cv::Point2d> ProjectPoints(const CameraModel& camera, const Pose& pose,
                                       const std::vector<cv::Point3d>& X);

// Inverse of the lens model by Newton's method: the normalised undistorted
// point whose image is pixel (u, v). False when it does not converge.
bool UndistortPixel(const CameraModel& camera, double u, double v, cv::Point2d* normalised);

// The rotation of a square-on board.
cv::Matx33d SquareOnRotation();

struct Options {
  BoardSpec board;
  int views = 13;
  std::uint64_t seed = 1;
  double noiseSigma = 0.0;  // px per axis, Gaussian
  bool rig = false;         // also camera B through the rig's relative pose
  CameraModel cameraA = CameraA();
  CameraModel cameraB = CameraB();
  Pose rigPose = DefaultRigRelativePose();
  // The last squareOnViews of the drawn views are exactly square-on
  // (R = diag(1, -1, -1)); all of them when it is >= views.
  int squareOnViews = 0;
  // When not empty: exactly these poses of camera A, no bounds check; views
  // is then ignored.
  std::vector<Pose> poses;
};

struct View {
  Pose poseA;
  Pose poseB;                       // identity when there is no rig
  std::vector<cv::Point2d> pointsA;  // with noise when noiseSigma > 0
  std::vector<cv::Point2d> pointsB;
  std::vector<cv::Point2d> truePointsA;  // noise-free
  std::vector<cv::Point2d> truePointsB;
  // Points 0, squaresX - 1, n - squaresX and n - 1 (noise-free), as a user
  // clicks them.
  std::array<cv::Point2d, 4> cornersA;
  std::array<cv::Point2d, 4> cornersB;
};

struct Dataset {
  Options options;
  std::vector<cv::Point3d> objectPoints;
  std::vector<View> views;

  // Per-view point lists, as the calibration engines take them.
  std::vector<std::vector<cv::Point2d>> PointListsA() const;
  std::vector<std::vector<cv::Point2d>> PointListsB() const;
};

// Deterministic for a given Options (poses are drawn before the noise, so
// the same seed gives the same poses whatever the noise).
Dataset MakeDataset(const Options& options);

// Draws one pose by the default distribution: board centre at depth
// 250-450, projected into the middle 40 % of the image on each axis, tilted
// 10-45 degrees about a random in-plane axis, turned +-20 degrees about the
// optical axis; redrawn until every point lies 10 px inside every given
// camera's image and in front of it. rig may be null.
Pose DrawPose(std::mt19937_64& rng, const BoardSpec& board, const CameraModel& cameraA,
              const CameraModel* cameraB, const Pose* rigPose, bool squareOn);

struct RenderOptions {
  int subsamples = 4;  // per axis, at least 4
  bool color = false;  // three channels, B = G = R
};

// The board as the camera sees it: a chessboard of (squaresX + 1) x
// (squaresY + 1) squares whose inner corners are the board points, a white
// margin one square wide, mid-grey beyond. Each pixel is the mean of
// subsamples^2 samples traced through the inverse lens model.
cv::Mat RenderBoard(const CameraModel& camera, const BoardSpec& board, const Pose& pose,
                    const RenderOptions& options = {});

}  // namespace synthetic
