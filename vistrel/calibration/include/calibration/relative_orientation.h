#pragma once
// The rigid motion between two calibrated views of the board.
//
// Each view holds the board's pose in its camera frame,
// X_camera = R_view * X_board + T_view. The relative orientation takes the
// first view's camera frame to the second's: X2 = R * X1 + T.
#include <array>
#include <string>
#include <vector>

class CalibrationDataStore;

struct RelativeOrientation {
  std::array<double, 9> R{};  // row-major
  std::array<double, 3> T{};
  std::array<double, 3> r{};  // rotation vector of R, radians
};

// R = R2 * R1^T, T = T2 - R * T1, r = rotation vector of R.
RelativeOrientation ComputeRelativeOrientation(const std::array<double, 9>& R1, const std::array<double, 3>& T1,
                                               const std::array<double, 9>& R2, const std::array<double, 3>& T2);

// Five lines of three "%.7f" values: R row by row, T, r (C locale).
std::string FormatRelativeOrientationLabel(const RelativeOrientation& result);

// The result file: R's rows as "%lf " values each ended by "\n", then T's
// three "%lf " values without a line end (C locale).
std::string FormatRelativeOrientationFile(const RelativeOrientation& result);

// The views a camera (camera index) offers: its engine's views 0 .. v - 1,
// labelled with the image each came from when the camera's usable images
// (enabled and detected) number exactly v, view k being the k-th of them,
// else with the view number. Empty for a camera out of range, one whose
// entry is not calibrated, or one whose engine holds no views.
std::vector<std::string> RelativeOrientationViewLabels(const CalibrationDataStore& store, int camera);

// The orientation from view `viewA` of camera `a` to view `viewB` of camera
// `b`; false, nothing computed, unless both views are among those
// RelativeOrientationViewLabels offers.
bool ComputeRelativeOrientation(const CalibrationDataStore& store, int a, int viewA, int b, int viewB,
                                RelativeOrientation& result);

// Writes the result file at `path` all or nothing; false with
// "Cannot write: <path>!" when it could not be written.
bool SaveRelativeOrientation(const std::string& path, const RelativeOrientation& result, std::string* message);
