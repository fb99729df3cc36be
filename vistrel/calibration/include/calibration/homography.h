#pragma once
// Plane homographies from point correspondences; H is 3x3 row-major, maps
// object (source) points to image (destination) points, H[8] = 1.
#include <opencv2/core/core_c.h>

struct Point2d {
    double x;
    double y;
};

// Normalised linear estimate refined by ten Gauss-Newton iterations.
void Quorl_cvFindHomography(const CvMat* objectPoints, const CvMat* imagePoints, CvMat* H);

// The same linear estimate refined by Levenberg-Marquardt.
void FindHomographyLmq(const CvMat* sourcePoints, const CvMat* destinationPoints, CvMat* H);

// Sum (not mean) of the Euclidean transfer distances |measured_i - H source_i|;
// 0 for count <= 0.
double HomographyReprojectionError(const Point2d* measured, const Point2d* source, const double H[9], int count);
