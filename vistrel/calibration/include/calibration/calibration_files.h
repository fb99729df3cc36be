#pragma once
// The per-camera text files of the calibration data store and the default
// board file. Numbers are written with "%lf" (six decimals) and read as
// decimal tokens whatever the process locale ("nan", "inf", hex floats and a
// number running into other characters are refused); files are created with "w+" and
// read with "r"; paths may be in the old form (quorl::OpenFile). Readers
// take plain arrays so that a store can pass an engine's pose arrays.
#include "calibration/calibration_records.h"
#include "calibration/homography.h"  // Point2d

// Default board file: squaresX squaresY squareSizeX squareSizeY windowX
// windowY, separated by any white space. The settings change only when all
// six values convert and pass IsValidBoard; otherwise false.
bool ReadDefaultBoardFile(const char* path, CalibrationObjectSettings* settings);

// Intrinsics file: the shared camera-parameter file format. The fifth
// distortion value is neither written nor read. The reader changes the
// record only when the whole file converts, every real is finite and the
// image size is not negative.
bool WriteIntrinsicsFile(const char* path, const CameraParameters& parameters);
bool ReadIntrinsicsFile(const char* path, CameraParameters* parameters);

// Per-view extrinsics file: per view five lines, rotation matrix rows 0-2
// (9 per view in rotationMatrices), rotation vector and translation (3 per
// view each).
extern const char* const kViewExtrinsicsFormat;
bool WriteViewExtrinsicsFile(const char* path, int viewCount, const double* rotationMatrices,
                             const double* rotationVectors, const double* translations);
// Reads at most viewCount views, up to the first that does not convert in
// full to finite values; that view and the ones after it are left
// untouched. Returns the number of complete views read (0 when the file
// cannot be opened).
int ReadViewExtrinsicsFile(const char* path, int viewCount, double* rotationMatrices, double* rotationVectors,
                           double* translations);

// Image-points file: one "x y" line per point, pixels, board order. An empty
// point list gives an empty file.
bool WriteImagePointsFile(const char* path, const Point2d* points, int count);
// Reads at most maxCount points, stopping at the first that does not convert
// to finite values; returns how many were read (0 when the file cannot be
// opened). What a short file means is the caller's to decide.
int ReadImagePointsFile(const char* path, int maxCount, Point2d* points);
