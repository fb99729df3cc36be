#pragma once
// MINPACK's Levenberg-Marquardt (lmder: its scaling, trust region, step
// bound updates and stopping rules, line for line) for problems whose
// residuals fall into blocks: every block depends on a few shared unknowns
// and on a few unknowns of its own, as a calibration's views depend on the
// intrinsics and on their own pose.
//
// lmder solves each step from a dense QR of the whole Jacobian, whose cost
// grows with the square of the unknowns. Here each step's damped system
// (J^T J + par D^2) x = J^T f is formed block by block and solved by
// eliminating the blocks' own unknowns (Schur complement), so a step costs
// what its blocks cost. Every figure lmder's rules read (the column norms,
// the scaled gradient, the Gauss-Newton and Newton corrections of lmpar,
// the predicted reduction) is the same quantity computed from the normal
// equations in place of the triangular factor, so the iteration takes the
// same decisions up to rounding. Where the normal matrix is not positive
// definite (a rank-deficient Jacobian) that iteration falls back to
// MINPACK's own QR and lmpar, which handle rank deficiency.
#include <functional>
#include <vector>

#include <vnl/vnl_vector.h>

namespace calibration_detail {

// A Jacobian stored block by block. Unknowns are either shared (any block
// may depend on them) or owned by one block.
struct BlockJacobian {
    struct Block {
        int firstRow = 0, rows = 0;
        std::vector<int> own;  // the block's own unknowns, indices into x
        // rows x (shared + own) values, column by column: first the shared
        // unknowns in the order of `shared`, then `own`.
        std::vector<double> values;
        int Columns(int sharedCount) const { return sharedCount + static_cast<int>(own.size()); }
    };
    int residuals = 0, unknowns = 0;
    std::vector<int> shared;
    // Per unknown: its column within the blocks that hold it (-1: none).
    std::vector<int> position;
    std::vector<Block> blocks;

    // Sizes the values of every block and sets them to zero.
    void Clear();
    // The whole m x n matrix, column by column (MINPACK's layout).
    std::vector<double> Dense() const;
};

enum class StepSolver {
    kBlockNormalEquations,  // the Schur complement over the blocks
    kDenseQr,               // MINPACK's qrfac and lmpar on the whole matrix
};

struct BlockLevenbergOptions {
    double ftol = 1e-10, xtol = 1e-8, gtol = 1e-5;  // MINPACK's meaning
    int maxEvaluations = 0;                         // 0: 400 x (number of unknowns), VXL's default
    StepSolver solver = StepSolver::kBlockNormalEquations;
};

struct BlockLevenbergResult {
    int info = 0;         // MINPACK's info; -1 when a callback asked to stop, 0 for improper input
    int evaluations = 0;  // residual evaluations, the final one not counted
    int iterations = 0;   // outer iterations (Jacobians used)
    double startRms = 0.0, endRms = 0.0;
    int denseFallbacks = 0;  // iterations whose step needed the dense QR
};

// residuals(x, f): false stops the run (info -1). jacobian(x, J): fills the
// values of J, whose structure the caller set; false stops the run. On
// return x holds the last accepted point and residuals has been called once
// more at it (so a function keeping state ends in the state of the result),
// as VXL's minimiser does; endRms is that call's. True for info 1 to 4.
bool BlockLevenbergMarquardt(const std::function<bool(const vnl_vector<double>&, vnl_vector<double>&)>& residuals,
                             const std::function<bool(const vnl_vector<double>&, BlockJacobian&)>& jacobian,
                             BlockJacobian& J, vnl_vector<double>& x, const BlockLevenbergOptions& options,
                             BlockLevenbergResult& result);

}  // namespace calibration_detail
