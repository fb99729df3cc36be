#include "calibration/stereo_calibration_engine.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "calibration/rotation.h"
#include "all_finite.h"
#include "levenberg_run.h"

namespace {

constexpr int kIntrinsics = CMonoCameraCalibrationEngine::kIntrinsicCount;

using calibration_detail::AllFinite;

void MulMat(const double A[9], const double B[9], double C[9]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            C[3 * i + j] = A[3 * i] * B[j] + A[3 * i + 1] * B[3 + j] + A[3 * i + 2] * B[6 + j];
}

void MulVec(const double A[9], const double x[3], double y[3]) {
    for (int i = 0; i < 3; ++i) y[i] = A[3 * i] * x[0] + A[3 * i + 1] * x[1] + A[3 * i + 2] * x[2];
}

void Intrinsics(const CameraParameters& p, double* out) {
    const double v[kIntrinsics] = {p.K[0], p.K[4], p.K[2], p.K[5], p.d[0], p.d[1], p.d[2], p.d[3]};
    std::copy(v, v + kIntrinsics, out);
}

void SetIntrinsics(const double* in, CameraParameters& p) {
    p.K[0] = in[0], p.K[4] = in[1], p.K[2] = in[2], p.K[5] = in[3];
    std::copy(in + 4, in + kIntrinsics, p.d);
}

bool Usable(const CameraParameters& p, int width, int height) {
    return p.K[0] > 0 && p.K[4] > 0 && p.K[2] >= 0 && p.K[2] < width && p.K[5] >= 0 && p.K[5] < height;
}

bool FinitePoses(const CMonoCameraCalibrationEngine& e) {
    const size_t v = static_cast<size_t>(e.ViewCount());
    return AllFinite(e.RotationMatrices(), 9 * v) && AllFinite(e.RotationVectors(), 3 * v) &&
           AllFinite(e.Translations(), 3 * v);
}

}  // namespace

double DescendingOrderPick(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end(), std::greater<double>());
    // Past the end only for a single value (the engine always has 5 or more).
    const size_t at = std::min(static_cast<size_t>(std::floor((values.size() + 1) * 0.5)), values.size() - 1);
    return values[at];
}

void EstimateRelativePose(int viewCount, const double* RA, const double* TA, const double* RB, const double* TB,
                          double Rrel[9], double Trel[3]) {
    std::vector<double> components[6];
    for (int v = 0; v < viewCount; ++v) {
        const double* a = RA + 9 * v;
        const double At[9] = {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]};
        double Rv[9], RvTA[3], r[3];
        MulMat(RB + 9 * v, At, Rv);
        MulVec(Rv, TA + 3 * v, RvTA);
        RodriguesVnl(Rv, r, 0);
        for (int k = 0; k < 3; ++k) {
            components[k].push_back(r[k]);
            components[3 + k].push_back(TB[3 * v + k] - RvTA[k]);
        }
    }
    double r[3];
    for (int k = 0; k < 3; ++k) {
        r[k] = DescendingOrderPick(components[k]);
        Trel[k] = DescendingOrderPick(components[3 + k]);
    }
    RodriguesVnl(Rrel, r, 1);
}

CStereoCalibrationEngine::CStereoCalibrationEngine() : vnl_least_squares_function(1, 1, use_gradient) {}

int CStereoCalibrationEngine::Refuse(CalibrationOutcome why) {
    report_ = CalibrationRunReport{};
    report_.outcome = why;
    return 0;
}

int CStereoCalibrationEngine::Fail(CalibrationOutcome why) {
    report_.outcome = why;
    resultA_ = initialA_;
    resultB_ = initialB_;
    std::copy(resultB_.R, resultB_.R + 9, relativeRotation_.begin());
    std::copy(resultB_.T, resultB_.T + 3, relativeTranslation_.begin());
    return 0;
}

int CStereoCalibrationEngine::RunStereoCalibration(const CMonoCameraCalibrationEngine& A,
                                                   const CMonoCameraCalibrationEngine& B) {
    if (!A.HoldsCalibratedViews() || !B.HoldsCalibratedViews() || A.ViewCount() != B.ViewCount() ||
        A.ViewCount() < CMonoCameraCalibrationEngine::kMinimumViews || A.PointsPerView() != B.PointsPerView() ||
        !FinitePoses(A) || !FinitePoses(B))
        return Refuse(CalibrationOutcome::kEnginesMismatch);

    report_ = CalibrationRunReport{};
    const int views = A.ViewCount(), perView = A.PointsPerView();
    Poses work;
    work.rotationMatrices.assign(A.RotationMatrices(), A.RotationMatrices() + 9 * views);
    work.rotationVectors.assign(A.RotationVectors(), A.RotationVectors() + 3 * views);
    work.translations.assign(A.Translations(), A.Translations() + 3 * views);

    initialA_ = A.GetCameraParameters();
    initialB_ = B.GetCameraParameters();
    EstimateRelativePose(views, A.RotationMatrices(), A.Translations(), B.RotationMatrices(), B.Translations(),
                         initialB_.R, initialB_.T);

    // x: camera A's and camera B's fx fy cx cy k1 k2 p1 p2, the relative
    // rotation vector and translation, camera A's rotation vector in every
    // view, camera A's translation in every view.
    const int parameters = kSharedCount + 6 * views;
    vnl_vector<double> x(static_cast<size_t>(parameters));
    Intrinsics(initialA_, &x[0]);
    Intrinsics(initialB_, &x[kIntrinsics]);
    double Rrel[9];
    std::copy(initialB_.R, initialB_.R + 9, Rrel);
    RodriguesVnl(Rrel, &x[2 * kIntrinsics], 0);
    std::copy(initialB_.T, initialB_.T + 3, &x[2 * kIntrinsics + 3]);
    std::copy(work.rotationVectors.begin(), work.rotationVectors.end(), &x[kSharedCount]);
    std::copy(work.translations.begin(), work.translations.end(), &x[kSharedCount + 3 * views]);
    init(static_cast<unsigned>(parameters), static_cast<unsigned>(4 * views * perView));

    engineA_ = &A;
    engineB_ = &B;
    active_ = &work;
    runViews_ = views;
    runPerView_ = perView;
    epsfcn_ = xtol * 0.001;
    const bool converged = calibration_detail::RunLevenberg(
        *this, *this, x, {xtol, ftol, gtol, epsfcn_, maxEvaluationsForTesting_, denseJacobian_}, report_);
    engineA_ = engineB_ = nullptr;
    active_ = nullptr;
    if (!converged) return Fail(CalibrationOutcome::kRefinementFailed);

    CameraParameters a = initialA_, b = initialB_;
    SetIntrinsics(&x[0], a);
    SetIntrinsics(&x[kIntrinsics], b);
    RodriguesVnl(b.R, &x[2 * kIntrinsics], 1);
    std::copy(&x[2 * kIntrinsics + 3], &x[2 * kIntrinsics + 3] + 3, b.T);
    if (!AllFinite(x.data_block(), x.size()) || !Usable(a, a.width, a.height) || !Usable(b, b.width, b.height))
        return Fail(CalibrationOutcome::kInvalidResult);

    std::copy(&x[kSharedCount], &x[kSharedCount] + 3 * views, work.rotationVectors.begin());
    std::copy(&x[kSharedCount + 3 * views], &x[kSharedCount + 3 * views] + 3 * views, work.translations.begin());
    for (int v = 0; v < views; ++v) RodriguesVnl(&work.rotationMatrices[9 * v], &work.rotationVectors[3 * v], 1);
    rotationMatrices_ = std::move(work.rotationMatrices);
    rotationVectors_ = std::move(work.rotationVectors);
    translations_ = std::move(work.translations);
    viewCount_ = views;
    pointsPerView_ = perView;
    settings_ = A.Settings();
    resultA_ = a;
    resultB_ = b;
    std::copy(b.R, b.R + 9, relativeRotation_.begin());
    std::copy(b.T, b.T + 3, relativeTranslation_.begin());
    report_.outcome = CalibrationOutcome::kCalibrated;
    return 1;
}

void CStereoCalibrationEngine::ViewResiduals(const vnl_vector<double>& x, const double Rrel[9], int v, double* R,
                                             double* t, double* residuals) const {
    const int views = runViews_, perView = runPerView_;
    double rotation[3] = {x[kSharedCount + 3 * v], x[kSharedCount + 3 * v + 1], x[kSharedCount + 3 * v + 2]};
    RodriguesVnl(R, rotation, 1);
    std::copy(&x[kSharedCount + 3 * views + 3 * v], &x[kSharedCount + 3 * views + 3 * v] + 3, t);
    double RB[9], tB[3];
    MulMat(Rrel, R, RB);
    MulVec(Rrel, t, tB);
    for (int k = 0; k < 3; ++k) tB[k] += x[2 * kIntrinsics + 3 + k];
    const size_t first = static_cast<size_t>(v) * perView;
    const double* X = engineA_->ObjectPoints().data();
    ProjectionResiduals(&x[0], R, t, X, &engineA_->ImagePoints()[first], perView, residuals);
    ProjectionResiduals(&x[kIntrinsics], RB, tB, X, &engineB_->ImagePoints()[first], perView,
                        residuals + 2 * perView);
}

void CStereoCalibrationEngine::f(const vnl_vector<double>& x, vnl_vector<double>& residuals) {
    if (!active_ || x.size() != static_cast<size_t>(kSharedCount + 6 * runViews_) ||
        residuals.size() != 4 * static_cast<size_t>(runViews_) * runPerView_) {
        throw_failure();
        return;
    }
    double rotation[3] = {x[2 * kIntrinsics], x[2 * kIntrinsics + 1], x[2 * kIntrinsics + 2]};
    double Rrel[9];
    RodriguesVnl(Rrel, rotation, 1);
    for (int v = 0; v < runViews_; ++v)
        ViewResiduals(x, Rrel, v, &active_->rotationMatrices[9 * v], &active_->translations[3 * v],
                      &residuals[4 * static_cast<size_t>(v) * runPerView_]);
}

void CStereoCalibrationEngine::gradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian) {
    if (!active_) {
        throw_failure();
        return;
    }
    Compute(x, jacobian, epsfcn_);
}

void CStereoCalibrationEngine::BlocksOf(int j, int* first, int* last) const {
    if (j < kSharedCount) {
        *first = 0, *last = runViews_;
        return;
    }
    const int k = j - kSharedCount;
    const int view = k < 3 * runViews_ ? k / 3 : (k - 3 * runViews_) / 3;
    *first = view, *last = view + 1;
}

void CStereoCalibrationEngine::EvaluateBlock(const vnl_vector<double>& x, int v, double* residuals) {
    double rotation[3] = {x[2 * kIntrinsics], x[2 * kIntrinsics + 1], x[2 * kIntrinsics + 2]};
    double Rrel[9], R[9], t[3];
    RodriguesVnl(Rrel, rotation, 1);
    ViewResiduals(x, Rrel, v, R, t, residuals);
}
