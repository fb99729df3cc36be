#pragma once
// Calibration of one camera from several views of a planar chessboard: the
// closed form of Quorl_cvCalibrateCamera2, then one Levenberg-Marquardt
// refinement of fx, fy, cx, cy, k1, k2, p1, p2 and every view's pose.
//
// A run works on copies and commits only on success: a refused or failed
// run returns 0 and leaves the result, the views and the poses as they
// were; LastRun() tells why.
#include <array>
#include <vector>

#include <vnl/vnl_least_squares_function.h>
#include <vnl/vnl_matrix.h>
#include <vnl/vnl_vector.h>

#include "calibration/calibration_records.h"
#include "calibration/homography.h"  // Point2d

namespace calibration_detail {
struct BlockJacobian;
}

// Why the last run gave a result or none.
enum class CalibrationOutcome {
    kNotRun,
    kCalibrated,
    kTooFewViews,          // fewer than kMinimumViews point lists
    kTooManyViews,         // more than kMaximumViews point lists
    kPointCountMismatch,   // a list does not hold exactly squaresX x squaresY points
    kInvalidBoard,         // the settings fail IsValidBoard
    kInvalidImageSize,     // width or height not positive
    kEnginesMismatch,      // stereo: the mono engines do not hold matching committed runs
    kClosedFormFailed,     // the closed form reported an error or is not finite
    kRefinementFailed,     // MINPACK ended with info outside 1..4
    kInvalidResult,        // refined values not finite, fx or fy <= 0, principal point outside
};

const char* CalibrationOutcomeText(CalibrationOutcome outcome);

struct CalibrationRunReport {
    CalibrationOutcome outcome = CalibrationOutcome::kNotRun;
    // MINPACK's info code of the refinement (0 when it did not run); -1 when
    // the residual asked to stop.
    int minimizerInfo = 0;
    // Residual evaluations MINPACK asked for (the Jacobian's own
    // differences not counted).
    int evaluations = 0;
    int iterations = 0;
    double startRms = 0.0, endRms = 0.0;
};

// The residual of one camera for one view: for each board point X the
// observed point minus the projection of R X + t (scale 1 where the depth is
// 0), with radial k1, k2 and tangential p1, p2. params: fx fy cx cy k1 k2 p1 p2.
void ProjectionResiduals(const double params[8], const double R[9], const double t[3], const double* objectPoints,
                         const Point2d* observed, int count, double* residuals);

// Forward-difference Jacobian with MINPACK lmdif's step rule (h = sqrt(epsfcn)
// |x_j|, or sqrt(epsfcn) when x_j is 0), exactly the numbers lmdif computes,
// but a parameter that changes only some residual blocks re-evaluates only
// those.
class BlockForwardDifferences {
public:
    virtual ~BlockForwardDifferences() = default;
    void Compute(const vnl_vector<double>& x, vnl_matrix<double>& J, double epsfcn);
    // The same numbers, kept block by block: an unknown that touches one
    // block is that block's own, one that touches several is shared.
    // Structure sizes J for n unknowns and m residuals; ComputeBlocks fills it.
    void Structure(int n, int m, calibration_detail::BlockJacobian& J) const;
    void ComputeBlocks(const vnl_vector<double>& x, calibration_detail::BlockJacobian& J, double epsfcn);

protected:
    // Residual blocks touched by parameter j, as [first, last) block indices;
    // a block is a run of residuals evaluated together.
    virtual void BlocksOf(int j, int* first, int* last) const = 0;
    virtual int BlockCount() const = 0;
    virtual int BlockStart(int block) const = 0;  // first residual of a block
    virtual void EvaluateBlock(const vnl_vector<double>& x, int block, double* residuals) = 0;
};

class CMonoCameraCalibrationEngine : public vnl_least_squares_function, private BlockForwardDifferences {
public:
    static constexpr int kMinimumViews = 5;
    // The most views an engine sizes its arrays for.
    static constexpr int kMaximumViews = 100000;
    // Intrinsic unknowns first, then 3 rotation and 3 translation values per view.
    static constexpr int kIntrinsicCount = 8;

    CMonoCameraCalibrationEngine();

    // pointLists: one list of detected points per view, each exactly
    // squaresX x squaresY points in board order. 1 for a committed result,
    // 0 otherwise (see LastRun()).
    int RunCalibration(const std::vector<std::vector<Point2d>>& pointLists, const CalibrationObjectSettings& settings,
                       int width, int height);

    void f(const vnl_vector<double>& x, vnl_vector<double>& residuals) override;
    void gradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian) override;

    // Means over every view and board point of the committed result; zeros
    // when there are no views.
    void ComputeReprojectionError(double* meanAbsErrorX, double* meanAbsErrorY, double* meanDistance) const;
    // Degrees; 0, 0 without a usable result (fx or fy <= 0, no image size).
    void GetFieldOfView(double* fovX, double* fovY) const;
    CameraParameters GetCameraParameters() const { return result_; }
    const CameraParameters& GetInitialParameters() const { return initial_; }
    // Copies; a view out of range gives the identity and zero.
    std::array<double, 9> GetViewRotation(int view) const;
    std::array<double, 3> GetViewTranslation(int view) const;

    // Sizes the arrays for viewCount views of the board and fills them:
    // points zero, rotation matrices identity, rotation vectors and
    // translations zero. The result and its image size stay. Settings
    // failing IsValidBoard, or a negative count, change nothing and give false.
    bool AllocateViews(int viewCount, const CalibrationObjectSettings& settings);
    // Lowers the view count to the views a file held; the arrays keep their
    // size. False (nothing changed) outside 0 .. allocated views.
    bool SetViewCount(int viewCount);
    // A loaded result, with its image size.
    void SetResult(const CameraParameters& parameters);

    // The pose arrays, view by view (9, 3 and 3 doubles per view), for the
    // per-view extrinsics file; null when nothing is allocated.
    double* RotationMatrices() { return views_.rotationMatrices.empty() ? nullptr : views_.rotationMatrices.data(); }
    double* RotationVectors() { return views_.rotationVectors.empty() ? nullptr : views_.rotationVectors.data(); }
    double* Translations() { return views_.translations.empty() ? nullptr : views_.translations.data(); }
    const double* RotationMatrices() const { return views_.rotationMatrices.data(); }
    const double* RotationVectors() const { return views_.rotationVectors.data(); }
    const double* Translations() const { return views_.translations.data(); }

    int ViewCount() const { return views_.viewCount; }
    int AllocatedViews() const { return views_.allocated; }
    int PointsPerView() const { return views_.pointsPerView; }
    int TotalPoints() const { return views_.viewCount * views_.pointsPerView; }
    int ImageWidth() const { return views_.width; }
    int ImageHeight() const { return views_.height; }
    const CalibrationObjectSettings& Settings() const { return views_.settings; }
    const std::vector<Point2d>& ImagePoints() const { return views_.imagePoints; }
    std::vector<Point2d>& ImagePoints() { return views_.imagePoints; }
    const std::vector<double>& ObjectPoints() const { return views_.objectPoints; }  // 3 per point
    // True when the views and poses are those of a committed run.
    bool HoldsCalibratedViews() const { return calibratedViews_; }

    int ParameterCount() const { return static_cast<int>(p_); }
    int ResidualCount() const { return static_cast<int>(n_); }
    const CalibrationRunReport& LastRun() const { return report_; }

    // Test hooks: an evaluation limit in place of the library's default (0
    // restores it), and MINPACK's own forward differences (lmdif) in place
    // of the block-wise ones.
    void SetMaxFunctionEvaluationsForTesting(int limit) { maxEvaluationsForTesting_ = limit; }
    void SetDenseJacobianForTesting(bool dense) { denseJacobian_ = dense; }

    double xtol = 1e-4, gtol = 1e-4, ftol = 1e-4;

private:
    struct Views {
        int viewCount = 0;
        int allocated = 0;
        int pointsPerView = 0;
        int width = 0, height = 0;
        CalibrationObjectSettings settings;
        std::vector<Point2d> imagePoints;
        std::vector<double> objectPoints;
        std::vector<int> pointCounts;
        std::vector<double> rotationVectors, rotationMatrices, translations;
    };
    static Views MakeViews(int viewCount, const CalibrationObjectSettings& settings);
    int Refuse(CalibrationOutcome why);

    void BlocksOf(int j, int* first, int* last) const override;
    int BlockCount() const override { return active_->viewCount; }
    int BlockStart(int block) const override { return 2 * block * active_->pointsPerView; }
    void EvaluateBlock(const vnl_vector<double>& x, int block, double* residuals) override;

    Views views_;          // committed
    Views* active_ = &views_;  // what the residual works on: a run's copy while it runs
    CameraParameters result_, initial_;
    bool calibratedViews_ = false;
    CalibrationRunReport report_;
    int maxEvaluationsForTesting_ = 0;
    bool denseJacobian_ = false;
    double epsfcn_ = 1e-7;
};
