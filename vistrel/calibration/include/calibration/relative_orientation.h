#pragma once
// The rigid motion between two calibrated views of the board.
//
// Each view holds the board's pose in its camera frame,
// X_camera = R_view * X_board + T_view. The relative orientation takes the
// first view's camera frame to the second's: X2 = R * X1 + T.
#include <array>
#include <string>

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
