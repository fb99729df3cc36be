#pragma once
// Shared fixtures of the camera-model tests: files, a comma-decimal locale,
// the table of lens-distortion sets and a posed camera.
#include "comma_locale/comma_locale.h"
#include "text_files/text_files.h"
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <sstream>
#include <string>

namespace camera_fixtures {

using quorl_test::CommaLocaleScope;
using quorl_test::TempFolder;
using quorl_test::Slurp;
using quorl_test::Spit;

struct DistortionSet {
  const char* name;
  double d[5];  // k1 k2 p1 p2 k3
};

inline void PrintTo(const DistortionSet& set, std::ostream* os) { *os << set.name; }

inline const DistortionSet kDistortionSets[] = {
    {"zero", {0, 0, 0, 0, 0}},
    {"barrel", {-0.28, 0.09, 0, 0, -0.01}},
    {"pincushion", {0.22, 0.05, 0, 0, 0}},
    {"tangential", {0, 0, 0.0021, -0.0017, 0}},
};

// A camera turned a little about all three axes, looking at points around
// the world origin from about 5 units away.
inline const double kPosedK[9] = {812.5, 0, 331.25, 0, 798.0, 243.5, 0, 0, 1};
inline const double kPosedRotationVector[3] = {0.072, -0.069, 0.073};
// R of kPosedRotationVector, row-major.
inline void PosedR(double* R) {
  cv::Mat m;
  cv::Rodrigues(cv::Mat(3, 1, CV_64F, const_cast<double*>(kPosedRotationVector)), m);
  for (int i = 0; i < 9; ++i) R[i] = m.at<double>(i / 3, i % 3);
}
inline const double kPosedT[3] = {0.21, -0.13, 5.0};
inline const double kWorldPoints[][3] = {{0, 0, 0},        {0.8, 0.6, 0.1},   {-1.1, 0.7, -0.3},
                                         {1.2, -0.9, 0.4}, {-0.6, -1.0, 0.2}, {0.05, 1.3, -0.5}};

}  // namespace camera_fixtures
