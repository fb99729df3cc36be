#include "calibration/homography.h"

#include <calibmath/calibmath.h>

#include <cmath>

#include "calibration/error_source.h"

void Quorl_cvFindHomography(const CvMat* objectPoints, const CvMat* imagePoints, CvMat* H) {
    calibmath::FindHomography(objectPoints, imagePoints, H, calibration::kErrorSource);
}

double HomographyReprojectionError(const Point2d* measured, const Point2d* source, const double H[9], int count) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        const double X = H[0] * source[i].x + H[1] * source[i].y + H[2];
        const double Y = H[3] * source[i].x + H[4] * source[i].y + H[5];
        const double W = H[6] * source[i].x + H[7] * source[i].y + H[8];
        sum += std::hypot(measured[i].x - X / W, measured[i].y - Y / W);
    }
    return sum;
}
