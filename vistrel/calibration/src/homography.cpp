#include "calibration/homography.h"

#include <calibmath/calibmath.h>
#include <calibmath/homography_estimate.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <vgl/algo/vgl_h_matrix_2d.h>
#include <vgl/algo/vgl_h_matrix_2d_optimize_lmq.h>
#include <vgl/vgl_homg_point_2d.h>

#include "calibration/error_source.h"

void Quorl_cvFindHomography(const CvMat* objectPoints, const CvMat* imagePoints, CvMat* H) {
    calibmath::FindHomography(objectPoints, imagePoints, H, calibration::kErrorSource);
}

double HomographyReprojectionError(const Point2d* measured, const Point2d* source, const double H[9], int count) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        const double X = H[0] * source[i].x + H[1] * source[i].y + H[2];
        const double Y = H[3] * source[i].x + H[4] * source[i].y + H[5];
        const double W = H[6] * source[i].x + H[7] * source[i].y + H[8];
        sum += std::hypot(measured[i].x - X / W, measured[i].y - Y / W);
    }
    return sum;
}

namespace {

void WriteHomography(CvMat* H, const double h[9]) {
    for (int k = 0; k < 9; ++k) {
        uchar* p = H->data.ptr + static_cast<size_t>(k / 3) * H->step;
        if (CV_MAT_DEPTH(H->type) == CV_64F)
            reinterpret_cast<double*>(p)[k % 3] = h[k];
        else
            reinterpret_cast<float*>(p)[k % 3] = static_cast<float>(h[k]);
    }
}

bool IsValid(const CvMat* m) {
    return m != nullptr && CV_IS_MAT_HDR(m) && m->rows > 0 && m->cols > 0 && m->data.ptr != nullptr;
}

}  // namespace

void FindHomographyLmq(const CvMat* sourcePoints, const CvMat* destinationPoints, CvMat* H) {
    const cvcompat::RoutineErrors errors("FindHomographyLmq", calibration::kErrorSource);
    if (!IsValid(sourcePoints) || !IsValid(destinationPoints) || !IsValid(H))
        return errors.Fail(CV_StsBadArg, "one of arguments is not a valid matrix", __LINE__);
    const int depth = CV_MAT_DEPTH(H->type);
    if (CV_MAT_CN(H->type) != 1 || (depth != CV_32F && depth != CV_64F))
        return errors.Fail(CV_StsUnsupportedFormat, "Homography matrix must have 32fC1 or 64fC1 type", __LINE__);
    if (H->rows != 3 || H->cols != 3) return errors.Fail(CV_StsBadSize, "Homography matrix must be 3x3", __LINE__);
    const int count = std::max(destinationPoints->rows, destinationPoints->cols);
    if (std::max(sourcePoints->rows, sourcePoints->cols) != count)
        return errors.Fail(CV_StsUnmatchedSizes, "Numbers of source and destination points do not match", __LINE__);
    if (count < 4)
        return errors.Fail(CV_StsBadSize, "at least 4 point correspondences are required", __LINE__);

    std::vector<double> M, m;
    if (!calibmath::ReadPlanePoints(destinationPoints, m, errors, __LINE__) ||
        !calibmath::ReadPlanePoints(sourcePoints, M, errors, __LINE__))
        return;
    double h[9];
    if (!calibmath::HomographyLinearEstimate(M.data(), m.data(), count, h, errors)) return;

    // Four points fit exactly; there is nothing to refine.
    if (count > 4) {
        std::vector<vgl_homg_point_2d<double>> from, to;
        from.reserve(count);
        to.reserve(count);
        for (int i = 0; i < count; ++i) {
            from.emplace_back(M[2 * i], M[2 * i + 1], 1.0);
            to.emplace_back(m[2 * i], m[2 * i + 1], 1.0);
        }
        const vgl_h_matrix_2d<double> start(h);
        vgl_h_matrix_2d<double> refined(h);
        vgl_h_matrix_2d_optimize_lmq optimiser(start);
        // When the optimiser fails, refined still holds the linear estimate.
        optimiser.optimize(from, to, refined);
        double g[9];
        refined.get(g);
        bool finite = g[8] != 0;
        for (int k = 0; k < 9 && finite; ++k) finite = std::isfinite(g[k] / g[8]);
        if (finite)
            for (int k = 0; k < 9; ++k) h[k] = g[k] / g[8];
    }
    WriteHomography(H, h);
}
