#pragma once
// Two calibrated views: triangulation, relative pose and the essential
// matrix, its estimation from correspondences and its decomposition.
//
// Point arrays are float pairs (x0, y0, x1, y1, ...) or CvPoint2D32f.
// Status arrays hold one byte per correspondence. A stereo pair is two
// contiguous MVG::Camera records; the second's R and T are its pose relative
// to the first (X2 = R X1 + T). Matrices are row-major floats; a plane is
// (a, b, c, d) with a x + b y + c z + d = 0 and (a, b, c) of unit length.
// Functions return 0 unless stated.
#include <opencv2/core/types_c.h>
#include <vnl/vnl_float_3.h>
#include <vnl/vnl_matrix_fixed.h>

#include "MVG/mvg_camera.h"

namespace MVG {

// Midpoint triangulation of pixel p1 (first camera) and p2 (second) after
// undistortion with NormalizePoint; X (3 floats) in the first camera's frame.
int Triangulate_Matlab(float* p1, float* p2, float* X, Camera* pair);
// For a rectified pair: pixels normalised with K alone (no distortion), the
// rotation taken as identity and only the second record's T used. Parallel
// rays divide by zero.
int Triangulate_Rectified_Matlab(float* p1, float* p2, float* X, Camera* pair);
// Linear (DLT) triangulation with 3 x 4 projections P1, P2 of the pixels x1,
// x2: X (4 floats) homogeneous, not divided by X[3].
int Triangulate_LstSqr(float* P1, float* P2, float* x1, float* x2, float* X);
// Cuts the ray of each of n pixels (undistorted with NormalizePoint) with the
// plane, given in the record's world frame, into points (3 floats each). A
// ray parallel to the plane or meeting it behind the camera gives NaN and
// the call returns -1.
int IntersectRaysWithPlane(float* pixels, float* points, int n, float* plane, Camera* camera);

// R = R2 R1^T, T = T2 - R T1 of the two records of pair.
int RelativeExtrinsics(Camera* pair, vnl_matrix_fixed<float, 3, 3>* R, vnl_float_3* T);
// E = [T]x R of the relative pose, 9 floats; x2^T E x1 = 0 for normalised
// points of the two views.
int GetEssentialMatrix(Camera* first, Camera* second, float* E);

// Linear eight-point estimate with singular values forced to (s, s, 0), for
// (x2, y2, 1) E (x1, y1, 1)^T = 0. The status forms use the correspondences
// whose byte is 1. Fewer than 8 correspondences return -1 with E untouched.
int EssentialMatrixComputeLinear8Point(float* x1, float* x2, int n, float* E);
int EssentialMatrixComputeLinear8Point(float* x1, float* x2, int n, char* status, float* E);
int EssentialMatrixComputeLinear8Point(CvPoint2D32f* x1, CvPoint2D32f* x2, int n, char* status, float* E);
// RANSAC over eight-point samples drawn from the correspondences with a
// non-zero status byte; an inlier is within maxSquaredDistance (squared, in
// the points' units) of its epipolar line in both images. status ends 1 for
// the best model's inliers, 0 otherwise, and E is refitted on them. Fewer
// than 8 candidates return -1 at once, status and E untouched; no model with
// more than 8 inliers gives status all 0, the last sample's E and -1.
int EssentialMatrixComputeRANSAC8Point(float* x1, float* x2, int n, char* status, float* E,
                                       float maxSquaredDistance = 1.5f);
// Seeds the RANSAC sampler of every later call; 0 seeds from the clock again.
void SetRansacSeedForTesting(unsigned long seed);

// The pose (R, t) of the second camera, [R t] with the first at [I 0], that
// puts the normalised correspondence x1, x2 in front of both cameras: 1 when
// found, else 0 with R and t untouched. t has unit length.
int DecomposeEssentialMatrix(const vnl_matrix_fixed<float, 3, 3>& E, vnl_matrix_fixed<float, 3, 3>& R,
                             vnl_float_3& t, const float* x1, const float* x2);

}  // namespace MVG

// R = Rz(c) Ry(b) Rx(a), angles in radians, 9 floats row-major.
int RotationMatrixFromEulerXYZ(float a, float b, float c, float* R);
// Least-squares plane through n points (3 floats each); n < 3 returns -1
// with plane untouched.
int FitPlane(float* points, int n, float* plane);
