#pragma once
// Source name under which the calibration core's routines report errors.
namespace calibration {
inline constexpr char kErrorSource[] = "Calibration";
}
