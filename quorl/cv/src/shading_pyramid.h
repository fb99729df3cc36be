#pragma once
// Heights and surface gradients from an image pyramid of one shaded image,
// by joint relaxation coarse to fine. Not exported: tests include this
// header.
//
// p is the gradient along columns (Z[j][x+1] - Z[j][x]) and q along rows
// (Z[j+1][x] - Z[j][x]). Tables are arrays of row pointers.
//
// The light convention is opposite in z to ShapeFromShading and
// SurfaceFromShadingSpectrum: the light used is the unit vector along
// (x, y, -z).

namespace CV {

// pyramid[k], k = 0 .. L: rows / 2^(L-k) x cols / 2^(L-k) bytes (quotients
// truncated), image 0 the coarsest, image L the finest. A light with x = y = 0
// is taken as x = y = 0.01. Refused (heights untouched, CV_StsBadArg or
// CV_StsBadSize recorded): null pointers, a coarsest level below 2 x 2, L of
// 31 or more.
void ShadingHeightGradientPyramid(const unsigned char** pyramid, int rows, int cols, const float* light,
                                  unsigned L, float* heights);

// Relaxes the level of rows x cols (at least 2 x 2) from P, Q, Z until the
// three change sums settle, 500 sweeps at most; the newest fields end in
// Pn, Qn, Zn. (a, b, c) is the unit light, d a constant of the reflectance.
void RelaxHeightGradient(float** E, float** P, float** Q, float** Z, float** Pn, float** Qn, float** Zn, int cols,
                         int rows, float a, float b, float c, float d);

// Fills the fine fields of 2 x coarseRows rows and 2 x coarseCols columns
// from the coarse ones (at least 2 x 2); heights double with the grid.
void ProlongateFields(float** P, float** Q, float** Z, float** Pc, float** Qc, float** Zc, int coarseCols,
                      int coarseRows);

}  // namespace CV
