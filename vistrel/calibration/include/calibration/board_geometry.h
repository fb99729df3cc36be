#pragma once
// Geometry of a planar rectangular board from its four outer corners in one
// image, before any calibration exists. Corners c0..c3 are in cyclic order:
// side 01 runs along the board's width, side 03 along its height.
#include <array>

using Vec3d = std::array<double, 3>;

// H (row-major, H[8] = 1) takes the unit square's (0, 0), (1, 0), (1, 1),
// (0, 1) to c0..c3; corners holds x0, y0, ..., x3, y3. Returns H, or null
// for corners that fix no homography (no spread along x or y, two corners
// coincident or three collinear, a vanishing construction that degenerates,
// a non-finite entry); H is then left as it was.
double* HomographyFromFourPoints(double H[9], const double corners[8]);

// The board's edge vectors along sides 01 and 03 on its plane, from four
// homogeneous corner points (third component 1).
void PlaneEdgesFromCorners(Vec3d p0, Vec3d p1, Vec3d p2, Vec3d p3, Vec3d& e1, Vec3d& e2);

// The image of a square that shares corner 0 and both side directions with
// a board of the given width and height; each S has third component 1.
void MakeSquareFromCorners(Vec3d p0, Vec3d p1, Vec3d p2, Vec3d p3, double width, double height, Vec3d& S0,
                           Vec3d& S1, Vec3d& S2, Vec3d& S3);

// Focal length in pixels from the corners taken relative to the principal
// point, by 100 fixed-point passes. k is a radial coefficient applied from
// the second pass on. Only the ratio of width (along side 01) to height
// (along side 03) matters. 0.0 means "no estimate": a pass gave a scale that
// is not finite and positive, as a board seen square-on does.
double EstimateScaleFromCorners(double x0, double y0, double x1, double y1, double x2, double y2, double x3,
                                double y3, double k, double width, double height);
