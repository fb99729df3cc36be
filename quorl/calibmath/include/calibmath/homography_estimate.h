#pragma once
// The normalised linear homography estimate shared by the Gauss-Newton and
// the Levenberg-Marquardt homography routines.
#include <opencv2/core/core_c.h>

#include <cvcompat/errstatus.h>

#include <vector>

namespace calibmath {

// Reads a point set in any layout the point conversion accepts into
// interleaved doubles (x0, y0, x1, y1, ...). A refused conversion is
// reported by the conversion and then as an inner failure of errors'
// routine.
bool ReadPlanePoints(const CvMat* points, std::vector<double>& xy, const cvcompat::RoutineErrors& errors,
                     int line);

// H (row-major, H[8] = 1) maps the source points M onto the destination
// points m, count of each. Destination points with zero spread along x or
// y, or an estimate whose last entry is 0, are reported as CV_StsBadArg and
// leave H untouched.
bool HomographyLinearEstimate(const double* M, const double* m, int count, double H[9],
                              const cvcompat::RoutineErrors& errors);

}  // namespace calibmath
