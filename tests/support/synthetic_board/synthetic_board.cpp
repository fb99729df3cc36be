#include "synthetic_board/synthetic_board.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <opencv2/calib3d.hpp>

namespace synthetic {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;

cv::Matx33d RotationOf(const cv::Vec3d& rvec) {
  cv::Matx33d R;
  cv::Rodrigues(rvec, R);
  return R;
}

cv::Vec3d VectorOf(const cv::Matx33d& R) {
  cv::Vec3d rvec;
  cv::Rodrigues(R, rvec);
  return rvec;
}

// Distorted normalised point of an undistorted one.
cv::Point2d Distort(const CameraModel& c, double x, double y) {
  const double r2 = x * x + y * y;
  const double radial = 1.0 + c.k1 * r2 + c.k2 * r2 * r2;
  return {x * radial + 2.0 * c.p1 * x * y + c.p2 * (r2 + 2.0 * x * x),
          y * radial + c.p1 * (r2 + 2.0 * y * y) + 2.0 * c.p2 * x * y};
}

bool InsideWithMargin(const CameraModel& camera, const Pose& pose, const std::vector<cv::Point3d>& X,
                      double margin) {
  for (const cv::Point3d& p : X) {
    const cv::Vec3d Xc = pose.R * cv::Vec3d(p.x, p.y, p.z) + pose.t;
    if (!(Xc[2] > 0.0)) return false;
    const cv::Point2d q = ProjectPoint(camera, pose, p);
    if (!(q.x >= margin && q.y >= margin && q.x <= camera.width - 1 - margin &&
          q.y <= camera.height - 1 - margin))
      return false;
  }
  return true;
}

}  // namespace

cv::Matx33d CameraModel::K() const { return {fx, 0, cx, 0, fy, cy, 0, 0, 1}; }

cv::Vec<double, 5> CameraModel::Distortion() const { return {k1, k2, p1, p2, 0.0}; }

CameraModel CameraModel::WithoutDistortion() const {
  CameraModel c = *this;
  c.k1 = c.k2 = c.p1 = c.p2 = 0.0;
  return c;
}

Pose Pose::FromRotation(const cv::Matx33d& R, const cv::Vec3d& t) { return {R, VectorOf(R), t}; }

Pose Pose::FromVector(const cv::Vec3d& rvec, const cv::Vec3d& t) { return {RotationOf(rvec), rvec, t}; }

Pose Pose::Compose(const Pose& other) const { return FromRotation(R * other.R, R * other.t + t); }

CameraModel CameraA() {
  CameraModel c;
  c.fx = 533.09, c.fy = 533.21, c.cx = 342.49, c.cy = 233.87;
  c.k1 = -0.290, c.k2 = 0.100, c.p1 = 0.00121, c.p2 = -0.00016;
  c.width = 640, c.height = 480;
  return c;
}

CameraModel CameraB() {
  CameraModel c;
  c.fx = 537.20, c.fy = 536.74, c.cx = 327.55, c.cy = 248.99;
  c.k1 = -0.289, c.k2 = 0.105, c.p1 = -0.00078, c.p2 = 0.00029;
  c.width = 640, c.height = 480;
  return c;
}

Pose DefaultRigRelativePose() {
  return Pose::FromVector({0.00699, 0.00397, -0.00374}, {-83.20, 0.93, 0.29});
}

std::vector<cv::Point3d> BoardObjectPoints(const BoardSpec& board) {
  std::vector<cv::Point3d> points;
  if (board.squaresX < 1 || board.squaresY < 1) return points;
  points.reserve(static_cast<size_t>(board.PointCount()));
  for (int i = board.squaresY - 1; i >= 0; --i)
    for (int j = 0; j < board.squaresX; ++j) points.emplace_back(j * board.sizeX, i * board.sizeY, 0.0);
  return points;
}

cv::Point2d ProjectPoint(const CameraModel& camera, const Pose& pose, const cv::Point3d& X) {
  const cv::Vec3d Xc = pose.R * cv::Vec3d(X.x, X.y, X.z) + pose.t;
  const cv::Point2d d = Distort(camera, Xc[0] / Xc[2], Xc[1] / Xc[2]);
  return {camera.fx * d.x + camera.cx, camera.fy * d.y + camera.cy};
}

std::vector<cv::Point2d> ProjectPoints(const CameraModel& camera, const Pose& pose,
                                       const std::vector<cv::Point3d>& X) {
  std::vector<cv::Point2d> out;
  out.reserve(X.size());
  for (const cv::Point3d& p : X) out.push_back(ProjectPoint(camera, pose, p));
  return out;
}

bool UndistortPixel(const CameraModel& c, double u, double v, cv::Point2d* normalised) {
  const double xd = (u - c.cx) / c.fx, yd = (v - c.cy) / c.fy;
  double x = xd, y = yd;
  for (int iteration = 0; iteration < 50; ++iteration) {
    const cv::Point2d d = Distort(c, x, y);
    const double ex = d.x - xd, ey = d.y - yd;
    if (std::abs(ex) < 1e-15 && std::abs(ey) < 1e-15) break;
    const double r2 = x * x + y * y;
    const double radial = 1.0 + c.k1 * r2 + c.k2 * r2 * r2;
    const double dradial = c.k1 + 2.0 * c.k2 * r2;  // d radial / d r2
    const double a = radial + 2.0 * x * x * dradial + 2.0 * c.p1 * y + 6.0 * c.p2 * x;
    const double b = 2.0 * x * y * dradial + 2.0 * c.p1 * x + 2.0 * c.p2 * y;
    const double cc = 2.0 * x * y * dradial + 2.0 * c.p1 * x + 2.0 * c.p2 * y;
    const double dd = radial + 2.0 * y * y * dradial + 6.0 * c.p1 * y + 2.0 * c.p2 * x;
    const double det = a * dd - b * cc;
    if (!(std::abs(det) > 1e-300)) return false;
    x -= (dd * ex - b * ey) / det;
    y -= (-cc * ex + a * ey) / det;
  }
  const cv::Point2d d = Distort(c, x, y);
  if (!(std::abs(d.x - xd) < 1e-10 && std::abs(d.y - yd) < 1e-10)) return false;
  *normalised = {x, y};
  return true;
}

cv::Matx33d SquareOnRotation() { return {1, 0, 0, 0, -1, 0, 0, 0, -1}; }

Pose DrawPose(std::mt19937_64& rng, const BoardSpec& board, const CameraModel& cameraA,
              const CameraModel* cameraB, const Pose* rigPose, bool squareOn) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::vector<cv::Point3d> X = BoardObjectPoints(board);
  const cv::Vec3d centre((board.squaresX - 1) * board.sizeX * 0.5, (board.squaresY - 1) * board.sizeY * 0.5,
                         0.0);
  for (int attempt = 0; attempt < 100000; ++attempt) {
    const double depth = 250.0 + 200.0 * unit(rng);
    const double u = cameraA.width * (0.3 + 0.4 * unit(rng));
    const double v = cameraA.height * (0.3 + 0.4 * unit(rng));
    const double tiltAxisAngle = 2.0 * kPi * unit(rng);
    const double tilt = (10.0 + 35.0 * unit(rng)) * kDegree;
    const double turn = (-20.0 + 40.0 * unit(rng)) * kDegree;
    cv::Matx33d R = SquareOnRotation();
    if (!squareOn) {
      const cv::Vec3d tiltAxis(std::cos(tiltAxisAngle), std::sin(tiltAxisAngle), 0.0);
      R = RotationOf(tiltAxis * tilt) * RotationOf(cv::Vec3d(0, 0, turn)) * R;
    }
    cv::Point2d n;
    if (!UndistortPixel(cameraA, u, v, &n)) continue;
    const cv::Vec3d C(n.x * depth, n.y * depth, depth);
    const Pose pose = Pose::FromRotation(R, C - R * centre);
    if (!InsideWithMargin(cameraA, pose, X, 10.0)) continue;
    if (cameraB && rigPose && !InsideWithMargin(*cameraB, rigPose->Compose(pose), X, 10.0)) continue;
    return pose;
  }
  throw std::runtime_error("synthetic board: no pose fits the images");
}

std::vector<std::vector<cv::Point2d>> Dataset::PointListsA() const {
  std::vector<std::vector<cv::Point2d>> lists;
  for (const View& v : views) lists.push_back(v.pointsA);
  return lists;
}

std::vector<std::vector<cv::Point2d>> Dataset::PointListsB() const {
  std::vector<std::vector<cv::Point2d>> lists;
  for (const View& v : views) lists.push_back(v.pointsB);
  return lists;
}

Dataset MakeDataset(const Options& options) {
  Dataset data;
  data.options = options;
  data.objectPoints = BoardObjectPoints(options.board);
  const BoardSpec& board = options.board;
  const int n = board.PointCount();

  std::mt19937_64 rng(options.seed);
  std::vector<Pose> poses = options.poses;
  if (poses.empty()) {
    const int squareOnFrom = options.views - std::clamp(options.squareOnViews, 0, options.views);
    for (int v = 0; v < options.views; ++v)
      poses.push_back(DrawPose(rng, board, options.cameraA, options.rig ? &options.cameraB : nullptr,
                               options.rig ? &options.rigPose : nullptr, v >= squareOnFrom));
  }

  std::normal_distribution<double> noise(0.0, 1.0);
  auto noisy = [&](std::vector<cv::Point2d> points) {
    if (options.noiseSigma > 0.0)
      for (cv::Point2d& p : points) {
        p.x += options.noiseSigma * noise(rng);
        p.y += options.noiseSigma * noise(rng);
      }
    return points;
  };
  auto corners = [&](const std::vector<cv::Point2d>& p) {
    std::array<cv::Point2d, 4> c{};
    if (n > 0) c = {p[0], p[board.squaresX - 1], p[n - board.squaresX], p[n - 1]};
    return c;
  };

  for (const Pose& pose : poses) {
    View view;
    view.poseA = pose;
    view.truePointsA = ProjectPoints(options.cameraA, pose, data.objectPoints);
    view.pointsA = noisy(view.truePointsA);
    view.cornersA = corners(view.truePointsA);
    if (options.rig) {
      view.poseB = options.rigPose.Compose(pose);
      view.truePointsB = ProjectPoints(options.cameraB, view.poseB, data.objectPoints);
      view.pointsB = noisy(view.truePointsB);
      view.cornersB = corners(view.truePointsB);
    }
    data.views.push_back(std::move(view));
  }
  return data;
}

cv::Mat RenderBoard(const CameraModel& camera, const BoardSpec& board, const Pose& pose,
                    const RenderOptions& options) {
  const int s = std::max(4, options.subsamples);
  const cv::Matx33d Rt = pose.R.t();
  const cv::Vec3d centre = -(Rt * pose.t);  // camera centre in board coordinates
  // Squares are indexed from -1 (left of point column 0) so that the inner
  // corners are the board points; the margin is one more square each side.
  auto shade = [&](double X, double Y) -> double {
    const double a = std::floor(X / board.sizeX), b = std::floor(Y / board.sizeY);
    if (a < -2 || a > board.squaresX || b < -2 || b > board.squaresY) return 128.0;
    if (a == -2 || a == board.squaresX || b == -2 || b == board.squaresY) return 255.0;
    return (static_cast<long>(a + b) & 1) ? 255.0 : 0.0;
  };
  cv::Mat grey(camera.height, camera.width, CV_8UC1);
  for (int row = 0; row < camera.height; ++row) {
    unsigned char* out = grey.ptr<unsigned char>(row);
    for (int col = 0; col < camera.width; ++col) {
      double sum = 0.0;
      for (int i = 0; i < s; ++i)
        for (int j = 0; j < s; ++j) {
          const double u = col + (j + 0.5) / s - 0.5, v = row + (i + 0.5) / s - 0.5;
          cv::Point2d n;
          if (!UndistortPixel(camera, u, v, &n)) {
            sum += 128.0;
            continue;
          }
          const cv::Vec3d d = Rt * cv::Vec3d(n.x, n.y, 1.0);
          const double lambda = d[2] != 0.0 ? -centre[2] / d[2] : -1.0;
          if (!(lambda > 0.0)) {
            sum += 128.0;
            continue;
          }
          sum += shade(centre[0] + lambda * d[0], centre[1] + lambda * d[1]);
        }
      out[col] = cv::saturate_cast<unsigned char>(sum / (s * s));
    }
  }
  if (!options.color) return grey;
  cv::Mat color;
  cv::merge(std::vector<cv::Mat>{grey, grey, grey}, color);
  return color;
}

}  // namespace synthetic
