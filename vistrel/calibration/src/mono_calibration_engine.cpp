#include "calibration/mono_calibration_engine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include <cvcompat/errstatus.h>
#include <opencv2/core/core_c.h>

#include "calibration/block_levenberg_marquardt.h"
#include "calibration/camera_calibration.h"
#include "calibration/rotation.h"
#include "all_finite.h"
#include "levenberg_run.h"

namespace {

// The field of view's own value of pi.
constexpr double kFieldOfViewPi = 3.141592653;

using calibration_detail::AllFinite;

}  // namespace

const char* CalibrationOutcomeText(CalibrationOutcome outcome) {
    switch (outcome) {
        case CalibrationOutcome::kNotRun: return "no calibration has run";
        case CalibrationOutcome::kCalibrated: return "calibrated";
        case CalibrationOutcome::kTooFewViews: return "refused: fewer than 5 views";
        case CalibrationOutcome::kTooManyViews: return "refused: more than 100000 views";
        case CalibrationOutcome::kPointCountMismatch:
            return "refused: a view does not hold exactly one point per board corner";
        case CalibrationOutcome::kInvalidBoard: return "refused: the board settings are not valid";
        case CalibrationOutcome::kInvalidImageSize: return "refused: the image size is not positive";
        case CalibrationOutcome::kEnginesMismatch:
            return "refused: the two cameras do not hold matching calibrated views";
        case CalibrationOutcome::kClosedFormFailed: return "the closed-form calibration failed";
        case CalibrationOutcome::kRefinementFailed: return "the refinement failed";
        case CalibrationOutcome::kInvalidResult: return "the refinement gave no usable camera";
    }
    return "unknown";
}

void ProjectionResiduals(const double p[8], const double R[9], const double t[3], const double* X,
                         const Point2d* observed, int count, double* residuals) {
    const double fx = p[0], fy = p[1], cx = p[2], cy = p[3], k1 = p[4], k2 = p[5], p1 = p[6], p2 = p[7];
    for (int j = 0; j < count; ++j, X += 3) {
        const double xc = R[0] * X[0] + R[1] * X[1] + R[2] * X[2] + t[0];
        const double yc = R[3] * X[0] + R[4] * X[1] + R[5] * X[2] + t[1];
        const double zc = R[6] * X[0] + R[7] * X[1] + R[8] * X[2] + t[2];
        const double s = zc != 0.0 ? 1.0 / zc : 1.0;
        const double x = xc * s, y = yc * s;
        const double r2 = x * x + y * y;
        const double radial = 1.0 + k1 * r2 + k2 * r2 * r2;
        const double u = cx + fx * (x * radial + 2.0 * p1 * x * y + p2 * (r2 + 2.0 * x * x));
        const double w = cy + fy * (y * radial + p1 * (r2 + 2.0 * y * y) + 2.0 * p2 * x * y);
        residuals[2 * j] = observed[j].x - u;
        residuals[2 * j + 1] = observed[j].y - w;
    }
}

void BlockForwardDifferences::Compute(const vnl_vector<double>& x, vnl_matrix<double>& J, double epsfcn) {
    const double eps = std::sqrt(std::max(epsfcn, DBL_EPSILON));
    const int m = static_cast<int>(J.rows()), n = static_cast<int>(x.size());
    const int blocks = BlockCount();
    std::vector<double> f0(static_cast<size_t>(m)), shifted(static_cast<size_t>(m));
    for (int b = 0; b < blocks; ++b) EvaluateBlock(x, b, f0.data() + BlockStart(b));
    J.fill(0.0);
    vnl_vector<double> xp(x);
    for (int j = 0; j < n; ++j) {
        const double temp = x[j];
        double h = eps * std::fabs(temp);
        if (h == 0.0) h = eps;
        xp[j] = temp + h;
        int first = 0, last = 0;
        BlocksOf(j, &first, &last);
        for (int b = first; b < last; ++b) {
            const int begin = BlockStart(b), end = BlockStart(b + 1);
            EvaluateBlock(xp, b, shifted.data() + begin);
            for (int i = begin; i < end; ++i) J(static_cast<size_t>(i), static_cast<size_t>(j)) = (shifted[i] - f0[i]) / h;
        }
        xp[j] = temp;
    }
}

void BlockForwardDifferences::Structure(int n, int m, calibration_detail::BlockJacobian& J) const {
    const int blocks = BlockCount();
    J.residuals = m;
    J.unknowns = n;
    J.shared.clear();
    J.blocks.assign(static_cast<size_t>(blocks), {});
    J.position.assign(static_cast<size_t>(n), -1);
    for (int b = 0; b < blocks; ++b) {
        J.blocks[b].firstRow = BlockStart(b);
        J.blocks[b].rows = BlockStart(b + 1) - BlockStart(b);
    }
    for (int j = 0; j < n; ++j) {
        int first = 0, last = 0;
        BlocksOf(j, &first, &last);
        if (last - first == 1) {
            J.position[j] = static_cast<int>(J.blocks[first].own.size());
            J.blocks[first].own.push_back(j);
        } else if (last - first > 1) {
            J.shared.push_back(j);
        }
    }
    const int G = static_cast<int>(J.shared.size());
    for (int i = 0; i < G; ++i) J.position[J.shared[i]] = i;
    for (const calibration_detail::BlockJacobian::Block& block : J.blocks)
        for (int j : block.own) J.position[j] += G;
    J.Clear();
}

void BlockForwardDifferences::ComputeBlocks(const vnl_vector<double>& x, calibration_detail::BlockJacobian& J,
                                            double epsfcn) {
    const double eps = std::sqrt(std::max(epsfcn, DBL_EPSILON));
    const int n = static_cast<int>(x.size());
    const int blocks = BlockCount();
    std::vector<double> f0(static_cast<size_t>(J.residuals)), shifted(static_cast<size_t>(J.residuals));
    for (int b = 0; b < blocks; ++b) EvaluateBlock(x, b, f0.data() + BlockStart(b));
    J.Clear();
    vnl_vector<double> xp(x);
    for (int j = 0; j < n; ++j) {
        if (J.position[j] < 0) continue;
        const double temp = x[j];
        double h = eps * std::fabs(temp);
        if (h == 0.0) h = eps;
        xp[j] = temp + h;
        int first = 0, last = 0;
        BlocksOf(j, &first, &last);
        for (int b = first; b < last; ++b) {
            calibration_detail::BlockJacobian::Block& block = J.blocks[b];
            const int begin = block.firstRow;
            EvaluateBlock(xp, b, shifted.data() + begin);
            double* column = &block.values[static_cast<size_t>(J.position[j]) * block.rows];
            for (int i = 0; i < block.rows; ++i) column[i] = (shifted[begin + i] - f0[begin + i]) / h;
        }
        xp[j] = temp;
    }
}

CMonoCameraCalibrationEngine::CMonoCameraCalibrationEngine() : vnl_least_squares_function(1, 1, use_gradient) {}

CMonoCameraCalibrationEngine::Views CMonoCameraCalibrationEngine::MakeViews(int viewCount,
                                                                             const CalibrationObjectSettings& s) {
    Views v;
    v.viewCount = v.allocated = viewCount;
    v.pointsPerView = s.squaresX * s.squaresY;
    v.settings = s;
    const size_t views = static_cast<size_t>(viewCount), total = views * static_cast<size_t>(v.pointsPerView);
    v.imagePoints.assign(total, Point2d{0.0, 0.0});
    v.objectPoints.assign(3 * static_cast<size_t>(v.pointsPerView), 0.0);
    MakePlanarObjectPointsFromSettings(v.objectPoints.data(), s, 1);
    v.pointCounts.assign(views, v.pointsPerView);
    v.rotationVectors.assign(3 * views, 0.0);
    v.translations.assign(3 * views, 0.0);
    v.rotationMatrices.assign(9 * views, 0.0);
    for (size_t i = 0; i < views; ++i)
        v.rotationMatrices[9 * i] = v.rotationMatrices[9 * i + 4] = v.rotationMatrices[9 * i + 8] = 1.0;
    return v;
}

bool CMonoCameraCalibrationEngine::AllocateViews(int viewCount, const CalibrationObjectSettings& settings) {
    if (viewCount < 0 || viewCount > kMaximumViews || !IsValidBoard(settings)) return false;
    // The image size is the result's, which stays: a project sets the result
    // before it sizes the views for its poses file.
    Views fresh = MakeViews(viewCount, settings);
    fresh.width = views_.width;
    fresh.height = views_.height;
    views_ = std::move(fresh);
    calibratedViews_ = false;
    return true;
}

bool CMonoCameraCalibrationEngine::SetViewCount(int viewCount) {
    if (viewCount < 0 || viewCount > views_.allocated) return false;
    views_.viewCount = viewCount;
    calibratedViews_ = false;
    return true;
}

void CMonoCameraCalibrationEngine::SetResult(const CameraParameters& parameters) {
    result_ = parameters;
    views_.width = parameters.width;
    views_.height = parameters.height;
}

int CMonoCameraCalibrationEngine::Refuse(CalibrationOutcome why) {
    report_ = CalibrationRunReport{};
    report_.outcome = why;
    return 0;
}

int CMonoCameraCalibrationEngine::RunCalibration(const std::vector<std::vector<Point2d>>& pointLists,
                                                 const CalibrationObjectSettings& settings, int width, int height) {
    // Everything is checked before anything changes.
    if (pointLists.size() < static_cast<size_t>(kMinimumViews)) return Refuse(CalibrationOutcome::kTooFewViews);
    if (pointLists.size() > static_cast<size_t>(kMaximumViews)) return Refuse(CalibrationOutcome::kTooManyViews);
    if (!IsValidBoard(settings)) return Refuse(CalibrationOutcome::kInvalidBoard);
    if (width <= 0 || height <= 0) return Refuse(CalibrationOutcome::kInvalidImageSize);
    const size_t perView = static_cast<size_t>(settings.squaresX) * static_cast<size_t>(settings.squaresY);
    for (const std::vector<Point2d>& list : pointLists)
        if (list.size() != perView) return Refuse(CalibrationOutcome::kPointCountMismatch);

    report_ = CalibrationRunReport{};
    const int viewCount = static_cast<int>(pointLists.size());
    Views work = MakeViews(viewCount, settings);
    work.width = width;
    work.height = height;
    for (int v = 0; v < viewCount; ++v)
        std::copy(pointLists[v].begin(), pointLists[v].end(), work.imagePoints.begin() + v * perView);
    const int total = viewCount * work.pointsPerView;

    // Closed form. The object points as one block per view.
    std::vector<double> object(3 * static_cast<size_t>(total));
    for (int v = 0; v < viewCount; ++v)
        std::copy(work.objectPoints.begin(), work.objectPoints.end(), object.begin() + 3 * v * perView);
    std::vector<double> image(2 * static_cast<size_t>(total));
    for (int i = 0; i < total; ++i) image[2 * i] = work.imagePoints[i].x, image[2 * i + 1] = work.imagePoints[i].y;
    CameraParameters initial;
    initial.width = width;
    initial.height = height;
    CvMat M = cvMat(total, 1, CV_64FC3, object.data()), m = cvMat(total, 1, CV_64FC2, image.data());
    CvMat counts = cvMat(viewCount, 1, CV_32SC1, work.pointCounts.data());
    CvMat K = cvMat(3, 3, CV_64F, initial.K), d = cvMat(4, 1, CV_64F, initial.d);
    CvMat R = cvMat(viewCount, 9, CV_64F, work.rotationMatrices.data());
    CvMat T = cvMat(viewCount, 3, CV_64F, work.translations.data());
    const bool closedForm = cvcompat::Guarded(
        [&] { Quorl_cvCalibrateCamera2(&M, &m, &counts, width, height, &K, &d, &R, &T, 0); });
    if (!closedForm || !AllFinite(initial.K, 9) || !AllFinite(work.rotationMatrices.data(), work.rotationMatrices.size()) ||
        !AllFinite(work.translations.data(), work.translations.size())) {
        report_.outcome = CalibrationOutcome::kClosedFormFailed;
        return 0;
    }
    initial_ = initial;

    // x: fx fy cx cy k1 k2 p1 p2, every view's rotation vector, every view's
    // translation.
    const int parameters = kIntrinsicCount + 6 * viewCount;
    vnl_vector<double> x(static_cast<size_t>(parameters));
    const double intrinsics[kIntrinsicCount] = {initial.K[0], initial.K[4], initial.K[2], initial.K[5],
                                                initial.d[0], initial.d[1], initial.d[2], initial.d[3]};
    std::copy(intrinsics, intrinsics + kIntrinsicCount, x.begin());
    for (int v = 0; v < viewCount; ++v) {
        double rotation[9];
        std::copy(&work.rotationMatrices[9 * v], &work.rotationMatrices[9 * v] + 9, rotation);
        RodriguesVnl(rotation, &x[kIntrinsicCount + 3 * v], 0);
        std::copy(&work.translations[3 * v], &work.translations[3 * v] + 3, &x[kIntrinsicCount + 3 * viewCount + 3 * v]);
    }
    init(static_cast<unsigned>(parameters), static_cast<unsigned>(2 * total));

    active_ = &work;
    epsfcn_ = xtol * 0.001;
    const bool converged = calibration_detail::RunLevenberg(
        *this, *this, x, {xtol, ftol, gtol, epsfcn_, maxEvaluationsForTesting_, denseJacobian_}, report_);
    active_ = &views_;
    if (!converged) {
        report_.outcome = CalibrationOutcome::kRefinementFailed;
        return 0;
    }

    CameraParameters refined = initial;
    refined.K[0] = x[0], refined.K[4] = x[1], refined.K[2] = x[2], refined.K[5] = x[3];
    std::copy(x.begin() + 4, x.begin() + kIntrinsicCount, refined.d);
    const bool usable = AllFinite(x.data_block(), x.size()) && refined.K[0] > 0 && refined.K[4] > 0 &&
                        refined.K[2] >= 0 && refined.K[2] < width && refined.K[5] >= 0 && refined.K[5] < height;
    if (!usable) {
        report_.outcome = CalibrationOutcome::kInvalidResult;
        return 0;
    }
    for (int v = 0; v < viewCount; ++v) {
        std::copy(&x[kIntrinsicCount + 3 * v], &x[kIntrinsicCount + 3 * v] + 3, &work.rotationVectors[3 * v]);
        std::copy(&x[kIntrinsicCount + 3 * viewCount + 3 * v], &x[kIntrinsicCount + 3 * viewCount + 3 * v] + 3,
                  &work.translations[3 * v]);
        RodriguesVnl(&work.rotationMatrices[9 * v], &work.rotationVectors[3 * v], 1);
    }
    views_ = std::move(work);
    result_ = refined;
    calibratedViews_ = true;
    report_.outcome = CalibrationOutcome::kCalibrated;
    return 1;
}

void CMonoCameraCalibrationEngine::f(const vnl_vector<double>& x, vnl_vector<double>& residuals) {
    Views& w = *active_;
    const int views = w.viewCount, perView = w.pointsPerView;
    if (x.size() != static_cast<size_t>(kIntrinsicCount + 6 * views) ||
        residuals.size() != 2 * static_cast<size_t>(views) * perView) {
        throw_failure();
        return;
    }
    for (int v = 0; v < views; ++v) {
        double rotation[3] = {x[kIntrinsicCount + 3 * v], x[kIntrinsicCount + 3 * v + 1], x[kIntrinsicCount + 3 * v + 2]};
        double* R = &w.rotationMatrices[9 * v];
        double* t = &w.translations[3 * v];
        RodriguesVnl(R, rotation, 1);
        std::copy(&x[kIntrinsicCount + 3 * views + 3 * v], &x[kIntrinsicCount + 3 * views + 3 * v] + 3, t);
        ProjectionResiduals(x.data_block(), R, t, w.objectPoints.data(), &w.imagePoints[static_cast<size_t>(v) * perView],
                            perView, &residuals[2 * static_cast<size_t>(v) * perView]);
    }
}

void CMonoCameraCalibrationEngine::gradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian) {
    Compute(x, jacobian, epsfcn_);
}

void CMonoCameraCalibrationEngine::BlocksOf(int j, int* first, int* last) const {
    const int views = active_->viewCount;
    if (j < kIntrinsicCount) {
        *first = 0, *last = views;
        return;
    }
    const int k = j - kIntrinsicCount;
    const int view = k < 3 * views ? k / 3 : (k - 3 * views) / 3;
    *first = view, *last = view + 1;
}

void CMonoCameraCalibrationEngine::EvaluateBlock(const vnl_vector<double>& x, int v, double* residuals) {
    const Views& w = *active_;
    const int views = w.viewCount, perView = w.pointsPerView;
    double rotation[3] = {x[kIntrinsicCount + 3 * v], x[kIntrinsicCount + 3 * v + 1], x[kIntrinsicCount + 3 * v + 2]};
    double R[9];
    RodriguesVnl(R, rotation, 1);
    ProjectionResiduals(x.data_block(), R, &x[kIntrinsicCount + 3 * views + 3 * v], w.objectPoints.data(),
                        &w.imagePoints[static_cast<size_t>(v) * perView], perView, residuals);
}

void CMonoCameraCalibrationEngine::ComputeReprojectionError(double* meanAbsErrorX, double* meanAbsErrorY,
                                                            double* meanDistance) const {
    const Views& w = views_;
    const size_t N = static_cast<size_t>(w.viewCount) * w.pointsPerView;
    double sx = 0, sy = 0, sd = 0;
    if (N > 0) {
        const double p[8] = {result_.K[0], result_.K[4], result_.K[2], result_.K[5],
                             result_.d[0], result_.d[1], result_.d[2], result_.d[3]};
        std::vector<double> e(2 * static_cast<size_t>(w.pointsPerView));
        for (int v = 0; v < w.viewCount; ++v) {
            ProjectionResiduals(p, &w.rotationMatrices[9 * v], &w.translations[3 * v], w.objectPoints.data(),
                                &w.imagePoints[static_cast<size_t>(v) * w.pointsPerView], w.pointsPerView, e.data());
            for (int j = 0; j < w.pointsPerView; ++j) {
                sx += std::fabs(e[2 * j]);
                sy += std::fabs(e[2 * j + 1]);
                sd += std::hypot(e[2 * j], e[2 * j + 1]);
            }
        }
        sx /= N, sy /= N, sd /= N;
    }
    if (meanAbsErrorX) *meanAbsErrorX = sx;
    if (meanAbsErrorY) *meanAbsErrorY = sy;
    if (meanDistance) *meanDistance = sd;
}

void CMonoCameraCalibrationEngine::GetFieldOfView(double* fovX, double* fovY) const {
    const double fx = result_.K[0], fy = result_.K[4], cx = result_.K[2], cy = result_.K[5];
    double x = 0, y = 0;
    if (fx > 0 && fy > 0 && views_.width > 0 && views_.height > 0) {
        x = (std::atan((cx + 0.5) / fx) + std::atan((views_.width - (cx + 0.5)) / fx)) * 180.0 / kFieldOfViewPi;
        y = (std::atan((cy + 0.5) / fy) + std::atan((views_.height - (cy + 0.5)) / fy)) * 180.0 / kFieldOfViewPi;
    }
    if (fovX) *fovX = x;
    if (fovY) *fovY = y;
}

std::array<double, 9> CMonoCameraCalibrationEngine::GetViewRotation(int view) const {
    std::array<double, 9> R{1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (view >= 0 && view < views_.viewCount) std::copy(&views_.rotationMatrices[9 * view], &views_.rotationMatrices[9 * view] + 9, R.begin());
    return R;
}

std::array<double, 3> CMonoCameraCalibrationEngine::GetViewTranslation(int view) const {
    std::array<double, 3> t{0, 0, 0};
    if (view >= 0 && view < views_.viewCount) std::copy(&views_.translations[3 * view], &views_.translations[3 * view] + 3, t.begin());
    return t;
}
