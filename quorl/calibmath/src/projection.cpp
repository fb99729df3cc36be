#include <cstring>
#include <vector>

#include <cvcompat/errstatus.h>

#include "calibmath/calibmath.h"
#include "matrix_checks.h"
#include "point_conversion.h"

namespace calibmath {

using namespace detail;

namespace {

// Points packed three (two) doubles apart can be used where they are.
bool IsContinuousDouble(const CvMat* m) {
    return CV_IS_MAT_CONT(m->type) && CV_MAT_DEPTH(m->type) == CV_64F &&
           (m->rows == 1 || m->step == m->cols * CV_ELEM_SIZE(m->type));
}

// A derivative output: one channel, floating point, 2N rows and one of the
// allowed column counts.
bool IsDerivativeOutput(const CvMat* m, int rows, int cols, int altCols = -1) {
    return IsValidMatrix(m) && CV_MAT_CN(m->type) == 1 && IsFloatingDepth(m->type) && m->rows == rows &&
           (m->cols == cols || m->cols == altCols);
}

void WriteDerivative(CvMat* out, const std::vector<double>& values, int cols) {
    if (!out) return;
    for (int i = 0; i < out->rows; ++i)
        for (int j = 0; j < out->cols; ++j) WriteMat(out, i, j, values[static_cast<size_t>(i) * cols + j]);
}

}  // namespace

void ProjectPoints2(const CvMat* objectPoints, const CvMat* rotation, const CvMat* translation,
                    const CvMat* intrinsics, const CvMat* distortion, CvMat* imagePoints, CvMat* dpdrot,
                    CvMat* dpdt, CvMat* dpdf, CvMat* dpdc, CvMat* dpdk, const char* source) {
    const cvcompat::RoutineErrors errors("Quorl_cvProjectPoints2", source);
    const cvcompat::RoutineErrors conversionErrors("Quorl_cvConvertPointsHomogenious", source);

    if (!IsValidMatrix(objectPoints) || !IsValidMatrix(rotation) || !IsValidMatrix(translation) ||
        !IsValidMatrix(intrinsics) || !IsValidMatrix(imagePoints))
        return errors.Fail(CV_StsBadArg, "One of required arguments is not a valid matrix", __LINE__);
    const int count = std::max(objectPoints->rows, objectPoints->cols);

    // Object points: in place when already N x (3 doubles), else converted.
    const int objCn = CV_MAT_CN(objectPoints->type);
    std::vector<double> objectCopy;
    const double* M = nullptr;
    if (IsContinuousDouble(objectPoints) && objectPoints->rows == 1 && objCn == 3) {
        M = objectPoints->data.db;
    } else if (IsContinuousDouble(objectPoints) && objectPoints->rows == count &&
               objCn * objectPoints->cols == 3) {
        M = objectPoints->data.db;
    } else {
        objectCopy.resize(static_cast<size_t>(count) * 3);
        CvMat tmp = cvMat(1, count, CV_64FC3, objectCopy.data());
        PointConversion plan;
        if (!errors.Call(
                [&] {
                    if (PlanPointConversion(objectPoints, &tmp, conversionErrors, plan)) RunPointConversion(plan);
                },
                __LINE__))
            return;
        M = objectCopy.data();
    }

    // Image points: in place when already N x (2 doubles), else through a
    // temporary whose conversion is checked now so that a refused output is
    // reported before anything is written.
    const int imgCn = CV_MAT_CN(imagePoints->type);
    std::vector<double> imageCopy;
    double* m = nullptr;
    PointConversion imagePlan;
    if (IsContinuousDouble(imagePoints) &&
        ((imagePoints->rows == 1 && imgCn == 2 && imagePoints->cols == count) ||
         (imagePoints->rows == count && imgCn * imagePoints->cols == 2))) {
        m = imagePoints->data.db;
    } else {
        imageCopy.resize(static_cast<size_t>(count) * 2);
        m = imageCopy.data();
    }
    CvMat imageTmp = cvMat(1, count, CV_64FC2, imageCopy.empty() ? nullptr : imageCopy.data());

    const bool rotDepthOk = IsFloatingDepth(rotation->type);
    const int rotElems = rotation->rows * rotation->cols * CV_MAT_CN(rotation->type);
    const bool rotIsVector = (rotation->rows == 1 || rotation->cols == 1) && rotElems == 3;
    const bool rotIsMatrix = rotation->rows == 3 && rotation->cols == 3 && CV_MAT_CN(rotation->type) == 1;
    if (!rotDepthOk || !(rotIsVector || rotIsMatrix))
        return errors.Fail(CV_StsBadArg,
                           "Rotation must be represented by 1x3 or 3x1 floating-point rotation vector, or 3x3 "
                           "rotation matrix",
                           __LINE__);
    double R[9], dRdr[27], r[3];
    CvMat matR = cvMat(3, 3, CV_64F, R);
    CvMat matJ = cvMat(3, 9, CV_64F, dRdr);
    CvMat vecR = cvMat(3, 1, CV_64F, r);
    if (rotIsMatrix) {
        // dR/dr needs the vector; R itself stays the matrix given. The
        // conversion wants the vector in the matrix's own depth.
        float rf[3];
        CvMat vecF = cvMat(3, 1, CV_32F, rf);
        CvMat* vec = CV_MAT_DEPTH(rotation->type) == CV_32F ? &vecF : &vecR;
        if (!errors.Call([&] { Rodrigues2(rotation, vec, nullptr, source); }, __LINE__)) return;
        if (vec == &vecF)
            for (int i = 0; i < 3; ++i) r[i] = rf[i];
    } else {
        for (int k = 0; k < 3; ++k) r[k] = ReadVector(rotation, k);
    }

    const int tElems = translation->rows * translation->cols * CV_MAT_CN(translation->type);
    if (!IsFloatingDepth(translation->type) || !(translation->rows == 1 || translation->cols == 1) || tElems != 3)
        return errors.Fail(CV_StsBadArg, "Translation vector must be 1x3 or 3x1 floating-point vector", __LINE__);
    const double t[3] = {ReadVector(translation, 0), ReadVector(translation, 1), ReadVector(translation, 2)};

    if (!IsFloatingDepth(intrinsics->type) || CV_MAT_CN(intrinsics->type) != 1 || intrinsics->rows != 3 ||
        intrinsics->cols != 3)
        return errors.Fail(CV_StsBadArg, "Instrinsic parameters must be 3x3 floating-point matrix", __LINE__);
    const double fx = ReadMat(intrinsics, 0, 0), fy = ReadMat(intrinsics, 1, 1);
    const double cx = ReadMat(intrinsics, 0, 2), cy = ReadMat(intrinsics, 1, 2);

    double k[4] = {0, 0, 0, 0};
    if (distortion) {
        const int kElems = distortion->rows * distortion->cols * CV_MAT_CN(distortion->type);
        if (!IsValidMatrix(distortion) || !IsFloatingDepth(distortion->type) ||
            !(distortion->rows == 1 || distortion->cols == 1) || kElems != 4)
            return errors.Fail(CV_StsBadArg, "Distortion coefficients must be 1x4 or 4x1 floating-point vector",
                               __LINE__);
        for (int i = 0; i < 4; ++i) k[i] = ReadVector(distortion, i);
    }

    const int rows = 2 * count;
    if (dpdrot && !IsDerivativeOutput(dpdrot, rows, 3))
        return errors.Fail(CV_StsBadArg, "dp/drot must be 2Nx3 floating-point matrix", __LINE__);
    if (dpdt && !IsDerivativeOutput(dpdt, rows, 3))
        return errors.Fail(CV_StsBadArg, "dp/dT must be 2Nx3 floating-point matrix", __LINE__);
    if (dpdf && !IsDerivativeOutput(dpdf, rows, 2))
        return errors.Fail(CV_StsBadArg, "dp/df must be 2Nx2 floating-point matrix", __LINE__);
    if (dpdc && !IsDerivativeOutput(dpdc, rows, 2))
        return errors.Fail(CV_StsBadArg, "dp/dc must be 2Nx2 floating-point matrix", __LINE__);
    if (dpdk) {
        if (!IsDerivativeOutput(dpdk, rows, 4, 2))
            return errors.Fail(CV_StsBadArg, "dp/dk must be 2Nx4 or 2Nx2 floating-point matrix", __LINE__);
        if (!distortion) return errors.Fail(CV_StsNullPtr, "dist_coeffs is NULL while dpdk is not", __LINE__);
    }

    if (m != imagePoints->data.db &&
        !errors.Call([&] { PlanPointConversion(&imageTmp, imagePoints, conversionErrors, imagePlan); }, __LINE__))
        return;

    if (!errors.Call([&] { Rodrigues2(&vecR, &matR, &matJ, source); }, __LINE__)) return;
    if (rotIsMatrix)
        for (int i = 0; i < 9; ++i) R[i] = ReadMat(rotation, i / 3, i % 3);

    std::vector<double> drot(dpdrot ? static_cast<size_t>(rows) * 3 : 0);
    std::vector<double> dt(dpdt ? static_cast<size_t>(rows) * 3 : 0);
    std::vector<double> df(dpdf ? static_cast<size_t>(rows) * 2 : 0);
    std::vector<double> dc(dpdc ? static_cast<size_t>(rows) * 2 : 0);
    const int kCols = dpdk ? dpdk->cols : 0;
    std::vector<double> dk(static_cast<size_t>(rows) * kCols);

    const double k1 = k[0], k2 = k[1], p1 = k[2], p2 = k[3];
    for (int i = 0; i < count; ++i) {
        const double* P = M + static_cast<size_t>(i) * 3;
        const double X = P[0], Y = P[1], Z = P[2];
        const double x0 = R[0] * X + R[1] * Y + R[2] * Z + t[0];
        const double y0 = R[3] * X + R[4] * Y + R[5] * Z + t[1];
        const double z0 = R[6] * X + R[7] * Y + R[8] * Z + t[2];
        const double iz = z0 != 0 ? 1 / z0 : 1;
        const double x = x0 * iz, y = y0 * iz;
        const double r2 = x * x + y * y, r4 = r2 * r2;
        const double a1 = 2 * x * y, a2 = r2 + 2 * x * x, a3 = r2 + 2 * y * y;
        const double cdist = 1 + k1 * r2 + k2 * r4;
        const double xd = x * cdist + p1 * a1 + p2 * a2;
        const double yd = y * cdist + p1 * a3 + p2 * a1;
        double* out = m + static_cast<size_t>(i) * 2;
        out[0] = xd * fx + cx;
        out[1] = yd * fy + cy;

        const size_t ru = static_cast<size_t>(2 * i), rv = ru + 1;
        if (dpdc) {
            dc[ru * 2 + 0] = 1;
            dc[ru * 2 + 1] = 0;
            dc[rv * 2 + 0] = 0;
            dc[rv * 2 + 1] = 1;
        }
        if (dpdf) {
            df[ru * 2 + 0] = xd;
            df[ru * 2 + 1] = 0;
            df[rv * 2 + 0] = 0;
            df[rv * 2 + 1] = yd;
        }
        if (dpdk) {
            dk[ru * kCols + 0] = fx * x * r2;
            dk[ru * kCols + 1] = fx * x * r4;
            dk[rv * kCols + 0] = fy * y * r2;
            dk[rv * kCols + 1] = fy * y * r4;
            if (kCols == 4) {
                dk[ru * kCols + 2] = fx * a1;
                dk[ru * kCols + 3] = fx * a2;
                dk[rv * kCols + 2] = fy * a3;
                dk[rv * kCols + 3] = fy * a1;
            }
        }
        // Chain rule through normalisation and distortion for one direction
        // (dx, dy) of the normalised point.
        auto chain = [&](double dx, double dy, double& du, double& dv) {
            const double dr2 = 2 * x * dx + 2 * y * dy;
            const double dcdist = k1 * dr2 + 2 * k2 * r2 * dr2;
            const double da1 = 2 * (x * dy + y * dx);
            du = fx * (dx * cdist + x * dcdist + p1 * da1 + p2 * (dr2 + 4 * x * dx));
            dv = fy * (dy * cdist + y * dcdist + p1 * (dr2 + 4 * y * dy) + p2 * da1);
        };
        if (dpdt) {
            const double dxdt[3] = {iz, 0, -x * iz}, dydt[3] = {0, iz, -y * iz};
            for (int j = 0; j < 3; ++j) chain(dxdt[j], dydt[j], dt[ru * 3 + j], dt[rv * 3 + j]);
        }
        if (dpdrot) {
            for (int j = 0; j < 3; ++j) {
                const double* Jj = dRdr + j * 9;
                const double dX0 = Jj[0] * X + Jj[1] * Y + Jj[2] * Z;
                const double dY0 = Jj[3] * X + Jj[4] * Y + Jj[5] * Z;
                const double dZ0 = Jj[6] * X + Jj[7] * Y + Jj[8] * Z;
                chain(iz * (dX0 - x * dZ0), iz * (dY0 - y * dZ0), drot[ru * 3 + j], drot[rv * 3 + j]);
            }
        }
    }

    if (m != imagePoints->data.db) RunPointConversion(imagePlan);
    WriteDerivative(dpdrot, drot, 3);
    WriteDerivative(dpdt, dt, 3);
    WriteDerivative(dpdf, df, 2);
    WriteDerivative(dpdc, dc, 2);
    WriteDerivative(dpdk, dk, kCols);
}

}  // namespace calibmath
