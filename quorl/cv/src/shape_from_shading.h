#pragma once
// Height maps from one grey image of a Lambertian surface lit from a known
// direction. Not exported: tests include this header.
//
// Images are width x height bytes, row-major with stride width; heights are
// floats of the same layout. Light vectors are (x, y, z) with y pointing up
// the rows (towards row 0) and z towards the viewer; any length.
// Refusals (null pointers, sizes below 1) change nothing and record
// CV_StsBadArg or CV_StsBadSize in the calling thread's error status.

namespace CV {

// Sentinel of a pixel without height and of a direction without solution.
constexpr double kNoHeight = -1e10;

// Grows heights outward from the brightest points (seeded at 55) by the
// height step that each of eight directions needs to show the observed
// brightness. Heights are >= 0. An image without contrast, or a zero light,
// gives all-zero heights.
void ShapeFromShading(const unsigned char* image, int width, int height, const double* light, float* heights);

// steps[i][j] is a block of 8 doubles; brightness in 0..1; light the unit
// light already turned so that it comes from the +x side.
void ComputeDirectionSteps(double*** steps, double** brightness, int width, int height, const double* light);

// One sweep of the propagation (its direction follows sweep mod 4); the sum
// of all height increases.
double PropagateHeightsOnce(double** heights, int sweep, double*** steps, int width, int height);

// Linearised Newton iteration on the reflectance with a running gain, from
// zero heights, for a fixed light of gradient (0.002, 0.002). The fourth
// argument is not used.
void ShadingHeightIteration(const unsigned char* image, int rows, int cols, int unused, int iterations,
                            float* heights);

}  // namespace CV
