#pragma once
// Synthetic point lists in the calibration engines' own form, shared by the
// engine tests and the calibration benchmark.
#include <vector>

#include <opencv2/core.hpp>

#include "calibration/homography.h"

namespace enginelists {

using Lists = std::vector<std::vector<Point2d>>;

Lists ToLists(const std::vector<std::vector<cv::Point2d>>& in);

}  // namespace enginelists
