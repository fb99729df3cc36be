#pragma once
// Small numeric routines of the shading code: an in-place matrix inverse,
// surface normals from shading, index-range int vectors, integer powers and
// wrappers of the C mathematics library. Not exported: tests include this
// header.
#include <array>

namespace CV {

// Gauss-Jordan inverse with full pivoting of an n x n row-major matrix, in
// place. 1 on success with *determinant the input's determinant; -100 for a
// singular matrix (message on standard output, *determinant = 0, the matrix
// partly reduced) and, recording CV_StsBadArg, for n < 1 or a null pointer
// (nothing touched).
int Inverse_matrix(int n, double* determinant, double* a);

// Estimates the normal at every pixel from the brightness differences and the
// light, and writes 255 x the z component of the normal turned back to the
// image frame: the image the surface would show under frontal light. The
// last row and column stay 0; an all-black image or a zero light gives zeros.
void ShadingNormalsFrontal(const unsigned char* image, int width, int height, const double* light, float* out);

// The normal (x, y, z) in the light's frame at a pixel of brightness
// differences gx, gy; slant and tilt are the light's (radians).
std::array<float, 3> NormalFromShading(float gx, float gy, float brightness, float slant, float tilt,
                                       float maxBrightness);

// p[low] .. p[high] valid; null when high < low or memory runs out. Release
// with FreeIntVector(p, low).
int* IntVector(int low, int high);
void FreeIntVector(int* p, int low);

double PowInt(double x, int e);
double PowIntDouble(double x, int e);
double AcosF(float x);
// atan2 in long double (80-bit on x86-64 Linux), rounded to double.
double Atan2F(float y, float x);
float PowF(float base, float exponent);

}  // namespace CV
