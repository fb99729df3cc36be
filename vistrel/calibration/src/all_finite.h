#pragma once
// A NaN or an infinity anywhere makes a whole result unusable.
#include <algorithm>
#include <cmath>
#include <cstddef>

namespace calibration_detail {

inline bool AllFinite(const double* v, std::size_t n) {
    return std::all_of(v, v + n, [](double x) { return std::isfinite(x); });
}

}  // namespace calibration_detail
