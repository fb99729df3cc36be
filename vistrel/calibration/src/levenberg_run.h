#pragma once
// The one way the engines run MINPACK: their tolerances, the step rule of the
// forward differences, the test hooks, and the run's figures in the report.
#include <vnl/algo/vnl_levenberg_marquardt.h>
#include <vnl/vnl_least_squares_function.h>
#include <vnl/vnl_vector.h>

#include "calibration/block_levenberg_marquardt.h"
#include "calibration/mono_calibration_engine.h"

namespace calibration_detail {

// Up to this many unknowns (mono runs of up to 9 views, stereo runs of up to
// 7) a step keeps MINPACK's dense QR: there it costs a few milliseconds and
// gives the numbers lmder always gave, to the last bit. A refinement that
// stops at xtol 1e-4 ends where its last step lands, so any other rounding
// moves the result by some 1e-11 relative; the block solve, whose cost
// grows with the views and not with their square, takes over above.
constexpr int kDenseStepUnknowns = 64;

struct LevenbergSettings {
    double xtol, ftol, gtol;
    double epsfcn;        // the differences' own; the engine's block-wise ones use the same
    int maxEvaluations;   // 0: the library's default
    bool denseJacobian;   // MINPACK's lmdif in place of the block-wise differences
};

// Refines x; true when MINPACK converged. The block-wise road runs lmder's
// iteration with each step solved block by block (see
// block_levenberg_marquardt.h); the dense one is VXL's lmdif.
inline bool RunLevenberg(vnl_least_squares_function& f, BlockForwardDifferences& differences, vnl_vector<double>& x,
                         const LevenbergSettings& s, CalibrationRunReport& report) {
    if (!s.denseJacobian) {
        BlockJacobian J;
        differences.Structure(static_cast<int>(x.size()), static_cast<int>(f.get_number_of_residuals()), J);
        BlockLevenbergOptions options;
        options.ftol = s.ftol, options.xtol = s.xtol, options.gtol = s.gtol;
        options.maxEvaluations = s.maxEvaluations;
        options.solver = x.size() <= static_cast<size_t>(kDenseStepUnknowns) ? StepSolver::kDenseQr
                                                                               : StepSolver::kBlockNormalEquations;
        BlockLevenbergResult result;
        const bool converged = BlockLevenbergMarquardt(
            [&f](const vnl_vector<double>& at, vnl_vector<double>& residuals) {
                f.f(at, residuals);
                const bool ok = !f.failure;
                f.clear_failure();
                return ok;
            },
            [&differences, &s](const vnl_vector<double>& at, BlockJacobian& jacobian) {
                differences.ComputeBlocks(at, jacobian, s.epsfcn);
                return true;
            },
            J, x, options, result);
        report.minimizerInfo = result.info;
        report.evaluations = result.evaluations;
        report.iterations = result.iterations;
        report.startRms = result.startRms;
        report.endRms = result.endRms;
        return converged;
    }
    vnl_levenberg_marquardt lm(f);
    lm.set_x_tolerance(s.xtol);
    lm.set_f_tolerance(s.ftol);
    lm.set_g_tolerance(s.gtol);
    lm.set_epsilon_function(s.epsfcn);
    if (s.maxEvaluations > 0) lm.set_max_function_evals(s.maxEvaluations);
    const bool converged = s.denseJacobian ? lm.minimize_without_gradient(x) : lm.minimize_using_gradient(x);
    report.minimizerInfo = static_cast<int>(lm.get_failure_code());
    report.evaluations = lm.get_num_evaluations();
    report.iterations = lm.get_num_iterations();
    report.startRms = lm.get_start_error();
    report.endRms = lm.get_end_error();
    return converged;
}

}  // namespace calibration_detail
