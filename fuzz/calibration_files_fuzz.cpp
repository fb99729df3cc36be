// The calibration core's readers: the default board file, the intrinsics,
// the per-view extrinsics and the image points.
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/calibration_files.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace {

// As many views and points as the store asks for: its engine's views, and
// the largest board's grid points.
constexpr int kViews = 40;
constexpr int kMaxPoints = 101 * 101;
constexpr double kUntouched = -12345.5;

bool Finite(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

bool Untouched(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (v[i] != kUntouched) return false;
  return true;
}

}  // namespace

int FuzzBoardFile(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("default_calib_plane.txt", data, size);
  CalibrationObjectSettings settings;
  settings.squaresX = 7;
  settings.squaresY = 5;
  settings.squareSizeX = settings.squareSizeY = 12.5;
  const CalibrationObjectSettings before = settings;
  if (ReadDefaultBoardFile(path.c_str(), &settings)) {
    FUZZ_CHECK("board_file", IsValidBoard(settings));
  } else {
    FUZZ_CHECK("board_file", std::memcmp(&settings, &before, sizeof settings) == 0);
  }
  return 0;
}

int FuzzIntrinsicsFile(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("Camera_0_Intrinsic.txt", data, size);
  CameraParameters parameters;
  parameters.K[0] = parameters.K[4] = 800;
  parameters.d[4] = 0.25;  // not stored in the file: it must stay
  parameters.width = 640;
  parameters.height = 480;
  const CameraParameters before = parameters;
  if (ReadIntrinsicsFile(path.c_str(), &parameters)) {
    FUZZ_CHECK("intrinsics_file", Finite(parameters.K, 9) && Finite(parameters.d, 5) && Finite(parameters.R, 9) &&
                                      Finite(parameters.T, 3));
    FUZZ_CHECK("intrinsics_file", parameters.width >= 0 && parameters.height >= 0);
    FUZZ_CHECK("intrinsics_file", parameters.d[4] == 0.25);
  } else {
    FUZZ_CHECK("intrinsics_file", std::memcmp(&parameters, &before, sizeof parameters) == 0);
  }
  return 0;
}

int FuzzViewExtrinsicsFile(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("Camera_0_Extrinsic.txt", data, size);
  std::vector<double> R(9 * kViews, kUntouched), r(3 * kViews, kUntouched), T(3 * kViews, kUntouched);
  const int views = ReadViewExtrinsicsFile(path.c_str(), kViews, R.data(), r.data(), T.data());
  FUZZ_CHECK("view_extrinsics_file", views >= 0 && views <= kViews);
  FUZZ_CHECK("view_extrinsics_file", Finite(R.data(), 9 * views) && Finite(r.data(), 3 * views) &&
                                         Finite(T.data(), 3 * views));
  FUZZ_CHECK("view_extrinsics_file", Untouched(R.data() + 9 * views, 9 * (kViews - views)) &&
                                         Untouched(r.data() + 3 * views, 3 * (kViews - views)) &&
                                         Untouched(T.data() + 3 * views, 3 * (kViews - views)));
  return 0;
}

int FuzzImagePointsFile(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("Camera_0_Points_0.txt", data, size);
  std::vector<Point2d> points(kMaxPoints, Point2d{kUntouched, kUntouched});
  const int count = ReadImagePointsFile(path.c_str(), kMaxPoints, points.data());
  FUZZ_CHECK("image_points_file", count >= 0 && count <= kMaxPoints);
  for (int i = 0; i < kMaxPoints; ++i) {
    const double xy[2] = {points[i].x, points[i].y};
    if (i < count) FUZZ_CHECK("image_points_file", Finite(xy, 2));
    else FUZZ_CHECK("image_points_file", Untouched(xy, 2));
  }
  return 0;
}
