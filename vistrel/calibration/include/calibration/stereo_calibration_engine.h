#pragma once
// Refinement of a stereo rig from two mono calibrations of the same board
// views (paired by position: both engines ran on the same images in the
// same order): an initial relative pose from the per-view poses, then one
// Levenberg-Marquardt refinement of both cameras' intrinsics, the relative
// pose and camera A's pose in every view.
//
// In ResultB (and InitialB) R and T hold camera B's pose relative to camera
// A: X_B = R X_A + T.
#include <array>
#include <vector>

#include "calibration/mono_calibration_engine.h"

// Position floor((n + 1) / 2) of the values in descending order (the only
// value when n = 1; 0 for none).
// Not the median for odd n (five values give the fourth largest), but what
// the relative pose's start is taken from.
double DescendingOrderPick(std::vector<double> values);

// The start of the relative pose from viewCount per-view poses of both
// cameras (9 rotation and 3 translation values per view each): per view
// R_B R_A^T and T_B - R_v T_A, each of the six components (rotation vector
// and translation) picked by DescendingOrderPick.
void EstimateRelativePose(int viewCount, const double* rotationsA, const double* translationsA,
                          const double* rotationsB, const double* translationsB, double relativeRotation[9],
                          double relativeTranslation[3]);

class CStereoCalibrationEngine : public vnl_least_squares_function, private BlockForwardDifferences {
public:
    static constexpr int kSharedCount = 22;  // two cameras' 8 intrinsics, relative rotation and translation

    CStereoCalibrationEngine();

    // 1 for a refined rig. Refused (0, nothing changed) unless both engines
    // hold the views of a committed run with equal view counts (at least 5),
    // equal points per view and finite poses. A failed refinement returns 0
    // and leaves ResultA and ResultB at the starting records; the caller must
    // not build a rig from them. After any run that was not refused the
    // relative pose equals ResultB's R and T.
    int RunStereoCalibration(const CMonoCameraCalibrationEngine& engineA, const CMonoCameraCalibrationEngine& engineB);

    void f(const vnl_vector<double>& x, vnl_vector<double>& residuals) override;
    void gradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian) override;

    const CameraParameters& ResultA() const { return resultA_; }
    const CameraParameters& ResultB() const { return resultB_; }
    const CameraParameters& InitialA() const { return initialA_; }
    const CameraParameters& InitialB() const { return initialB_; }
    const std::array<double, 9>& RelativeRotation() const { return relativeRotation_; }
    const std::array<double, 3>& RelativeTranslation() const { return relativeTranslation_; }

    int ViewCount() const { return viewCount_; }
    int PointsPerView() const { return pointsPerView_; }
    // Camera A's pose in each view (9, 3 and 3 doubles per view).
    const std::vector<double>& RotationMatrices() const { return rotationMatrices_; }
    const std::vector<double>& RotationVectors() const { return rotationVectors_; }
    const std::vector<double>& Translations() const { return translations_; }

    int ParameterCount() const { return static_cast<int>(p_); }
    int ResidualCount() const { return static_cast<int>(n_); }
    const CalibrationRunReport& LastRun() const { return report_; }

    void SetMaxFunctionEvaluationsForTesting(int limit) { maxEvaluationsForTesting_ = limit; }
    void SetDenseJacobianForTesting(bool dense) { denseJacobian_ = dense; }

    double xtol = 1e-4, gtol = 1e-4, ftol = 1e-4;

private:
    struct Poses {
        std::vector<double> rotationMatrices, rotationVectors, translations;
    };
    int Refuse(CalibrationOutcome why);
    int Fail(CalibrationOutcome why);

    void BlocksOf(int j, int* first, int* last) const override;
    int BlockCount() const override { return runViews_; }
    int BlockStart(int block) const override { return 4 * block * runPerView_; }
    void EvaluateBlock(const vnl_vector<double>& x, int block, double* residuals) override;
    void ViewResiduals(const vnl_vector<double>& x, const double Rrel[9], int view, double* R, double* t,
                       double* residuals) const;

    // The engines of the running refinement (read only).
    const CMonoCameraCalibrationEngine* engineA_ = nullptr;
    const CMonoCameraCalibrationEngine* engineB_ = nullptr;
    Poses* active_ = nullptr;
    int runViews_ = 0, runPerView_ = 0;

    int viewCount_ = 0, pointsPerView_ = 0;
    CalibrationObjectSettings settings_;
    std::vector<double> rotationMatrices_, rotationVectors_, translations_;
    std::array<double, 9> relativeRotation_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<double, 3> relativeTranslation_{0, 0, 0};
    CameraParameters resultA_, resultB_, initialA_, initialB_;
    CalibrationRunReport report_;
    int maxEvaluationsForTesting_ = 0;
    bool denseJacobian_ = false;
    double epsfcn_ = 1e-7;
};
