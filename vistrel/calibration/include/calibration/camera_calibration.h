#pragma once
// The closed form of mono calibration from planar boards: board points, the
// initial intrinsic matrix from per-view homographies, the pose of one view
// and the chain of both. No refinement of the intrinsics, zero distortion.
// Errors go through the old-style error status under each routine's own
// name and the source "Calibration"; a routine that reports leaves its
// outputs as they were.
#include <opencv2/core/core_c.h>

#include "calibration/calibration_records.h"

// Flags of Quorl_cvCalibrateCamera2; other bits are ignored.
enum : int {
    kCalibUseIntrinsicGuess = 1,
    kCalibFixAspectRatio = 2,
    kCalibZeroTangentDist = 8,  // accepted, no effect on the closed form
};

// Rows from y = (squaresY - 1) squareSizeY down to 0, x fastest, z = 0; the
// first view's block repeated viewCount times. points has room for
// 3 x squaresX x squaresY x viewCount doubles. Nothing is written unless
// squaresX, squaresY and viewCount are all at least 1.
void MakePlanarObjectPoints(double* points, int squaresX, int squaresY, double squareSizeX, double squareSizeY,
                            int viewCount);
void MakePlanarObjectPointsFromSettings(double* points, const CalibrationObjectSettings& settings, int viewCount);

// Principal point at ((width - 1) / 2, (height - 1) / 2); aspectRatio 0
// leaves fx and fy free. Object points 1 x N three-channel, image points
// 1 x N two-channel; pointCounts one int row or column, one count per view.
void Quorl_icvInitIntrinsicParams2D(const CvMat* objectPoints, const CvMat* imagePoints, const CvMat* pointCounts,
                                    int width, int height, CvMat* intrinsics, double aspectRatio);

// Pose of one view. Coplanar points start from the plane's homography,
// others from a linear (DLT) pose estimate, then Gauss-Newton refinement.
// distortion (k1 k2 p1 p2) may be null.
void Quorl_cvFindExtrinsicCameraParams2(const CvMat* objectPoints, const CvMat* imagePoints, const CvMat* intrinsics,
                                        const CvMat* distortion, CvMat* rotationVector, CvMat* translation);

// rotations: one row of 3 x views, a row of 3 per view, or a row of 9 per
// view (rotation matrices); translations one row of 3 x views or a row of 3
// per view. Both may be null.
void Quorl_cvCalibrateCamera2(const CvMat* objectPoints, const CvMat* imagePoints, const CvMat* pointCounts,
                              int width, int height, CvMat* intrinsics, CvMat* distortion, CvMat* rotations,
                              CvMat* translations, int flags);
