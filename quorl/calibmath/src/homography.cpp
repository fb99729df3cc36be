#include <cmath>
#include <vector>

#include <opencv2/core.hpp>

#include "calibmath/calibmath.h"
#include "calibmath/homography_estimate.h"
#include "matrix_checks.h"

namespace calibmath {

using namespace detail;

bool ReadPlanePoints(const CvMat* points, std::vector<double>& xy, const cvcompat::RoutineErrors& errors,
                     int line) {
    const int count = std::max(points->rows, points->cols);
    xy.assign(static_cast<size_t>(count) * 2, 0.0);
    CvMat tmp = cvMat(1, count, CV_64FC2, xy.data());
    return errors.Call([&] { ConvertPointsHomogenious(points, &tmp, errors.source()); }, line);
}

bool HomographyLinearEstimate(const double* M, const double* m, int count, double H[9],
                              const cvcompat::RoutineErrors& errors) {
    double cmx = 0, cmy = 0, smx = 0, smy = 0;
    for (int i = 0; i < count; ++i) {
        cmx += m[2 * i];
        cmy += m[2 * i + 1];
    }
    cmx /= count;
    cmy /= count;
    for (int i = 0; i < count; ++i) {
        smx += std::fabs(m[2 * i] - cmx);
        smy += std::fabs(m[2 * i + 1] - cmy);
    }
    smx /= count;
    smy /= count;
    if (!(smx > 0) || !(smy > 0) || !std::isfinite(smx) || !std::isfinite(smy))
        return errors.Fail(CV_StsBadArg, "Image points must not all lie on one horizontal or vertical line", __LINE__),
               false;

    cv::Mat L(2 * count, 9, CV_64F, cv::Scalar(0));
    for (int i = 0; i < count; ++i) {
        const double Mx = M[2 * i], My = M[2 * i + 1];
        const double x = -(m[2 * i] - cmx) / smx, y = -(m[2 * i + 1] - cmy) / smy;
        double* r1 = L.ptr<double>(2 * i);
        double* r2 = L.ptr<double>(2 * i + 1);
        const double row1[9] = {Mx, My, 1, 0, 0, 0, x * Mx, x * My, x};
        const double row2[9] = {0, 0, 0, Mx, My, 1, y * Mx, y * My, y};
        std::copy(row1, row1 + 9, r1);
        std::copy(row2, row2 + 9, r2);
    }
    double Hn[9];
    if (!errors.Call(
            [&] {
                // The normal matrix has the same right singular vectors; with
                // exactly four points L (8 x 9) is used as it is.
                cv::Mat A = count > 4 ? cv::Mat(L.t() * L) : L;
                cv::Mat w, u, vt;
                cv::SVD::compute(A, w, u, vt, cv::SVD::FULL_UV);
                for (int k = 0; k < 9; ++k) Hn[k] = vt.at<double>(8, k);
            },
            __LINE__))
        return false;
    // Hn is a unit vector; a last entry at rounding level is a 0 that the
    // SVD could not give exactly (the source origin maps to infinity).
    if (!(std::fabs(Hn[8]) > 1e-12))
        return errors.Fail(CV_StsBadArg, "The linear homography estimate is degenerate", __LINE__), false;
    for (double& v : Hn) v /= Hn[8];
    const double N[9] = {smx, 0, cmx, 0, smy, cmy, 0, 0, 1};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            H[i * 3 + j] = N[i * 3] * Hn[j] + N[i * 3 + 1] * Hn[3 + j] + N[i * 3 + 2] * Hn[6 + j];
    return true;
}

void FindHomography(const CvMat* objectPoints, const CvMat* imagePoints, CvMat* H, const char* source) {
    const cvcompat::RoutineErrors errors("Quorl_cvFindHomography", source);
    if (!IsValidMatrix(imagePoints) || !IsValidMatrix(objectPoints) || !IsValidMatrix(H))
        return errors.Fail(CV_StsBadArg, "one of arguments is not a valid matrix", __LINE__);
    if (CV_MAT_CN(H->type) != 1 || !IsFloatingDepth(H->type))
        return errors.Fail(CV_StsUnsupportedFormat, "Homography matrix must have 32fC1 or 64fC1 type", __LINE__);
    if (H->rows != 3 || H->cols != 3) return errors.Fail(CV_StsBadSize, "Homography matrix must be 3x3", __LINE__);
    const int count = std::max(imagePoints->rows, imagePoints->cols);
    if (std::max(objectPoints->rows, objectPoints->cols) != count)
        return errors.Fail(CV_StsUnmatchedSizes, "Numbers of image and object points do not match", __LINE__);
    if (count < 4)
        return errors.Fail(CV_StsBadSize, "at least 4 point correspondences are required", __LINE__);

    std::vector<double> m, M;
    if (!ReadPlanePoints(imagePoints, m, errors, __LINE__) || !ReadPlanePoints(objectPoints, M, errors, __LINE__))
        return;
    double h[9];
    if (!HomographyLinearEstimate(M.data(), m.data(), count, h, errors)) return;

    if (count > 4) {
        std::vector<double> J(static_cast<size_t>(count) * 2 * 8), err(static_cast<size_t>(count) * 2);
        double delta[8], JtJ[64], JtErr[8], JtJW[8], JtJV[64];
        CvMat matJ = cvMat(2 * count, 8, CV_64F, J.data());
        CvMat matErr = cvMat(2 * count, 1, CV_64F, err.data());
        CvMat matDelta = cvMat(8, 1, CV_64F, delta);
        CvMat matJtJ = cvMat(8, 8, CV_64F, JtJ), matJtErr = cvMat(8, 1, CV_64F, JtErr);
        CvMat matJtJW = cvMat(8, 1, CV_64F, JtJW), matJtJV = cvMat(8, 8, CV_64F, JtJV);
        // A fixed ten steps, with no convergence test.
        for (int iter = 0; iter < 10; ++iter) {
            for (int i = 0; i < count; ++i) {
                const double Mx = M[2 * i], My = M[2 * i + 1];
                const double d = 1 / (h[6] * Mx + h[7] * My + 1);
                const double xi = (h[0] * Mx + h[1] * My + h[2]) * d;
                const double yi = (h[3] * Mx + h[4] * My + h[5]) * d;
                err[2 * i] = m[2 * i] - xi;
                err[2 * i + 1] = m[2 * i + 1] - yi;
                double* j1 = &J[static_cast<size_t>(2 * i) * 8];
                double* j2 = j1 + 8;
                const double r1[8] = {Mx * d, My * d, d, 0, 0, 0, -Mx * d * xi, -My * d * xi};
                const double r2[8] = {0, 0, 0, Mx * d, My * d, d, -Mx * d * yi, -My * d * yi};
                std::copy(r1, r1 + 8, j1);
                std::copy(r2, r2 + 8, j2);
            }
            if (!errors.Call(
                    [&] {
                        GaussNewton(&matJ, &matErr, &matDelta, &matJtJ, &matJtErr, &matJtJW, &matJtJV, source);
                    },
                    __LINE__))
                return;
            for (int k = 0; k < 8; ++k) h[k] += delta[k];
        }
    }
    for (double v : h)
        if (!std::isfinite(v))
            return errors.Fail(CV_StsBadArg, "The homography estimate is not finite", __LINE__);
    for (int k = 0; k < 9; ++k) WriteMat(H, k / 3, k % 3, h[k]);
}

}  // namespace calibmath
