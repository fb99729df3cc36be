#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <cvcompat/errstatus.h>

#include "calibmath/calibmath.h"
#include "calibmath/rotation.h"
#include "matrix_checks.h"

namespace calibmath {

using namespace detail;

void HalfTurnRotationVector(const double R[9], double r[3]) {
    const double c = std::clamp((R[0] + R[4] + R[8] - 1) * 0.5, -1.0, 1.0);
    const double skew[3] = {R[7] - R[5], R[2] - R[6], R[3] - R[1]};
    // acos loses half the digits next to -1; the antisymmetric part holds
    // 2 sin(theta) n and keeps them.
    const double sinTheta = 0.5 * std::sqrt(skew[0] * skew[0] + skew[1] * skew[1] + skew[2] * skew[2]);
    const double theta = std::atan2(sinTheta, c);
    // R = c I + (1 - c) n n^T + sin(theta) [n]x, so the diagonal gives n_i^2
    // (exactly (R_ii + 1) / 2 at a half turn).
    double n[3];
    int ref = 0;
    for (int i = 0; i < 3; ++i) {
        n[i] = std::sqrt(std::max((R[i * 4] - c) / (1 - c), 0.0));
        if (n[i] > n[ref]) ref = i;
    }
    for (int j = 0; j < 3; ++j) {
        if (j == ref) continue;
        // Near (not at) a half turn R is not symmetric; the sum of the pair
        // is 2 (1 - c) n_ref n_j whatever the antisymmetric part.
        if (R[ref * 3 + j] + R[j * 3 + ref] < 0) n[j] = -n[j];
    }
    if (n[0] * skew[0] + n[1] * skew[1] + n[2] * skew[2] < 0)
        for (double& v : n) v = -v;
    for (int i = 0; i < 3; ++i) r[i] = theta * n[i];
}

namespace {

// Matrix entries perturbed for the derivative of n n^T by n_i, and of [n]x
// by n_i (rows i = 0..2, row-major 3x3 each).
void OuterDerivative(const double n[3], double D[3][9]) {
    const double nx = n[0], ny = n[1], nz = n[2];
    const double d[3][9] = {{2 * nx, ny, nz, ny, 0, 0, nz, 0, 0},
                            {0, nx, 0, nx, 2 * ny, nz, 0, nz, 0},
                            {0, 0, nx, 0, 0, ny, nx, ny, 2 * nz}};
    std::memcpy(D, d, sizeof d);
}

constexpr double kSkewDerivative[3][9] = {{0, 0, 0, 0, 0, -1, 0, 1, 0},
                                          {0, 0, 1, 0, 0, 0, -1, 0, 0},
                                          {0, -1, 0, 1, 0, 0, 0, 0, 0}};

void WriteJacobian(const double J[3][9], CvMat* jacobian) {
    if (!jacobian) return;
    const bool rowsAreComponents = jacobian->rows == 3;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 9; ++k) {
            if (rowsAreComponents)
                WriteMat(jacobian, i, k, J[i][k]);
            else
                WriteMat(jacobian, k, i, J[i][k]);
        }
}

void VectorToMatrix(const double r[3], double R[9], double J[3][9]) {
    const double theta = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    std::memset(J, 0, sizeof(double) * 27);
    if (theta < std::numeric_limits<double>::epsilon()) {
        const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        std::memcpy(R, I, sizeof I);
        J[0][5] = -1;
        J[0][7] = 1;
        J[1][2] = 1;
        J[1][6] = -1;
        J[2][1] = -1;
        J[2][3] = 1;
        return;
    }
    const double c = std::cos(theta), s = std::sin(theta), c1 = 1 - c, itheta = 1 / theta;
    const double n[3] = {r[0] * itheta, r[1] * itheta, r[2] * itheta};
    const double nnT[9] = {n[0] * n[0], n[0] * n[1], n[0] * n[2], n[1] * n[0], n[1] * n[1],
                           n[1] * n[2], n[2] * n[0], n[2] * n[1], n[2] * n[2]};
    const double nx[9] = {0, -n[2], n[1], n[2], 0, -n[0], -n[1], n[0], 0};
    const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int k = 0; k < 9; ++k) R[k] = c * I[k] + c1 * nnT[k] + s * nx[k];

    double D[3][9];
    OuterDerivative(n, D);
    for (int i = 0; i < 3; ++i) {
        const double ni = n[i];
        const double a0 = -s * ni, a1 = (s - 2 * c1 * itheta) * ni, a2 = c1 * itheta, a3 = (c - s * itheta) * ni,
                     a4 = s * itheta;
        for (int k = 0; k < 9; ++k)
            J[i][k] = a0 * I[k] + a1 * nnT[k] + a2 * D[i][k] + a3 * nx[k] + a4 * kSkewDerivative[i][k];
    }
}

void MatrixToVector(const double R[9], double r[3], double J[3][9]) {
    std::memset(J, 0, sizeof(double) * 27);
    double rx = R[7] - R[5], ry = R[2] - R[6], rz = R[3] - R[1];
    const double c = std::clamp((R[0] + R[4] + R[8] - 1) * 0.5, -1.0, 1.0);
    const double theta = std::acos(c);
    const double s = std::sin(theta);

    if (std::fabs(s) < 1e-5) {
        if (c > 0) {
            r[0] = r[1] = r[2] = 0;
            J[0][5] = J[1][6] = J[2][1] = -0.5;
            J[0][7] = J[1][2] = J[2][3] = 0.5;
        } else {
            HalfTurnRotationVector(R, r);
        }
        return;
    }

    const double vth = 1 / (2 * s);
    const double dtheta = -1 / std::sqrt(1 - c * c);
    const double dvth = -vth * c / s;
    const double d1 = 0.5 * dvth * dtheta, d2 = 0.5 * dtheta;
    const double A[3][4] = {{theta, 0, 0, rx * vth}, {0, theta, 0, ry * vth}, {0, 0, theta, rz * vth}};
    const double B[4][5] = {{vth, 0, 0, rx, 0}, {0, vth, 0, ry, 0}, {0, 0, vth, rz, 0}, {0, 0, 0, 0, 1}};
    const double C[5][9] = {{0, 0, 0, 0, 0, 1, 0, -1, 0},
                            {0, 0, -1, 0, 0, 0, 1, 0, 0},
                            {0, 1, 0, -1, 0, 0, 0, 0, 0},
                            {d1, 0, 0, 0, d1, 0, 0, 0, d1},
                            {d2, 0, 0, 0, d2, 0, 0, 0, d2}};
    double AB[3][5] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 4; ++k) AB[i][j] += A[i][k] * B[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 9; ++j)
            for (int k = 0; k < 5; ++k) J[i][j] += AB[i][k] * C[k][j];
    // C is laid out column-major per 3x3 block; each row goes back to the
    // row-major order of the matrix entries.
    for (int i = 0; i < 3; ++i) {
        double* row = J[i];
        std::swap(row[1], row[3]);
        std::swap(row[2], row[6]);
        std::swap(row[5], row[7]);
    }
    const double scale = vth * theta;
    r[0] = rx * scale;
    r[1] = ry * scale;
    r[2] = rz * scale;
}

}  // namespace

int Rodrigues2(const CvMat* src, CvMat* dst, CvMat* jacobian, const char* source) {
    const cvcompat::RoutineErrors errors("Quorl_cvRodrigues2", source);
    if (!IsValidMatrix(src))
        return errors.Fail(src ? CV_StsBadArg : CV_StsNullPtr, "Input argument is not a valid matrix", __LINE__), 0;
    if (!IsValidMatrix(dst))
        return errors.Fail(dst ? CV_StsBadArg : CV_StsNullPtr, "The first output argument is not a valid matrix",
                           __LINE__),
               0;
    const int depth = CV_MAT_DEPTH(src->type);
    if (!IsFloatingDepth(src->type))
        return errors.Fail(CV_StsUnsupportedFormat, "The matrices must have 32f or 64f data type", __LINE__), 0;
    if (CV_MAT_DEPTH(dst->type) != depth)
        return errors.Fail(CV_StsUnmatchedFormats, "All the matrices must have the same data type", __LINE__), 0;
    if (jacobian) {
        if (!IsValidMatrix(jacobian))
            return errors.Fail(CV_StsBadArg, "Jacobian is not a valid matrix", __LINE__), 0;
        if (CV_MAT_DEPTH(jacobian->type) != depth || CV_MAT_CN(jacobian->type) != 1)
            return errors.Fail(CV_StsUnmatchedFormats, "Jacobian must have 32fC1 or 64fC1 datatype", __LINE__), 0;
        if (!((jacobian->rows == 3 && jacobian->cols == 9) || (jacobian->rows == 9 && jacobian->cols == 3)))
            return errors.Fail(CV_StsBadSize, "Jacobian must be 3x9 or 9x3", __LINE__), 0;
    }

    double J[3][9];
    if (src->rows == 1 || src->cols == 1) {
        if (src->rows + src->cols * CV_MAT_CN(src->type) - 1 != 3)
            return errors.Fail(CV_StsBadSize, "Input matrix must be 1x3, 3x1 or 3x3", __LINE__), 0;
        if (dst->rows != 3 || dst->cols != 3 || CV_MAT_CN(dst->type) != 1)
            return errors.Fail(CV_StsBadSize, "Output matrix must be 3x3, single-channel floating point matrix",
                               __LINE__),
                   0;
        const double r[3] = {ReadVector(src, 0), ReadVector(src, 1), ReadVector(src, 2)};
        double R[9];
        VectorToMatrix(r, R, J);
        for (int k = 0; k < 9; ++k) WriteMat(dst, k / 3, k % 3, R[k]);
        WriteJacobian(J, jacobian);
        return 1;
    }

    if (src->rows != 3 || src->cols != 3)
        return errors.Fail(CV_StsBadSize, "Input matrix must be 1x3, 3x1 or 3x3", __LINE__), 0;
    const bool rowOut = dst->rows == 1 && dst->cols * CV_MAT_CN(dst->type) == 3;
    const bool colOut = dst->rows == 3 && dst->cols == 1 && CV_MAT_CN(dst->type) == 1;
    if (!rowOut && !colOut) return errors.Fail(CV_StsBadSize, "Output matrix must be 1x3 or 3x1", __LINE__), 0;

    double R[9];
    CvMat matR = cvMat(3, 3, CV_64F, R);
    if (!errors.Call([&] { cvConvert(src, &matR); }, __LINE__)) return 0;

    for (double v : R) {
        // NaN fails this test too, as with a quiet range check.
        if (!(v >= -100 && v <= 100)) {
            for (int k = 0; k < 3; ++k) WriteVector(dst, k, 0);
            std::memset(J, 0, sizeof J);
            WriteJacobian(J, jacobian);
            return 0;
        }
    }
    double r[3];
    MatrixToVector(R, r, J);
    for (int k = 0; k < 3; ++k) WriteVector(dst, k, r[k]);
    WriteJacobian(J, jacobian);
    return 1;
}

}  // namespace calibmath
