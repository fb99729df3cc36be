#pragma once
// The one way the engines run MINPACK: their tolerances, the step rule of the
// forward differences, the test hooks, and the run's figures in the report.
#include <vnl/algo/vnl_levenberg_marquardt.h>
#include <vnl/vnl_least_squares_function.h>
#include <vnl/vnl_vector.h>

#include "calibration/mono_calibration_engine.h"

namespace calibration_detail {

struct LevenbergSettings {
    double xtol, ftol, gtol;
    double epsfcn;        // the differences' own; the engine's block-wise ones use the same
    int maxEvaluations;   // 0: the library's default
    bool denseJacobian;   // MINPACK's lmdif in place of the block-wise differences
};

// Refines x; true when MINPACK converged.
inline bool RunLevenberg(vnl_least_squares_function& f, vnl_vector<double>& x, const LevenbergSettings& s,
                         CalibrationRunReport& report) {
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
