#pragma once
// Rotation vector (axis times angle, radians) <-> rotation matrix.
#include <opencv2/core/core_c.h>

// src a 1x3/3x1 vector gives a 3x3 matrix, a 3x3 matrix gives a vector. The
// optional Jacobian is 3x9 (row i: d(matrix entries, row-major)/d r_i) or
// its transpose 9x3, of src's depth. 1 on success, 0 otherwise.
int Quorl_cvRodrigues2(const CvMat* src, CvMat* dst, CvMat* jacobian = nullptr);

// direction 1: r to the row-major R; any other value: R to r (R is first
// made orthonormal). Always 0.
int RodriguesVnl(double R[9], double r[3], int direction);
