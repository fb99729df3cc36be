#pragma once
// Rotation conversion, point conversion, projection with Jacobians, one
// Gauss-Newton step and the plane homography, on OpenCV C matrix headers.
// Errors are reported through the old-style error status (compat/opencv)
// under the routine's own public name and the caller's source name; after an
// error the outputs are left untouched.
#include <opencv2/core/core_c.h>

namespace calibmath {

void GaussNewton(const CvMat* J, const CvMat* err, CvMat* delta, CvMat* JtJ, CvMat* JtErr, CvMat* JtJW,
                 CvMat* JtJV, const char* source);

// 1 on success, 0 otherwise; jacobian may be null.
int Rodrigues2(const CvMat* src, CvMat* dst, CvMat* jacobian, const char* source);

void ConvertPointsHomogenious(const CvMat* src, CvMat* dst, const char* source);

void ProjectPoints2(const CvMat* objectPoints, const CvMat* rotation, const CvMat* translation,
                    const CvMat* intrinsics, const CvMat* distortion, CvMat* imagePoints, CvMat* dpdrot,
                    CvMat* dpdt, CvMat* dpdf, CvMat* dpdc, CvMat* dpdk, const char* source);

// H maps object points to image points.
void FindHomography(const CvMat* objectPoints, const CvMat* imagePoints, CvMat* H, const char* source);

}  // namespace calibmath
