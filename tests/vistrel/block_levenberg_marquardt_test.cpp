// The block-wise Levenberg-Marquardt: with MINPACK's dense QR it is lmder
// itself, and with the block normal equations it ends where lmder ends.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <vnl/algo/vnl_levenberg_marquardt.h>
#include <vnl/vnl_least_squares_function.h>

#include "calibration/block_levenberg_marquardt.h"
#include "calibration/mono_calibration_engine.h"
#include "calibration/stereo_calibration_engine.h"
#include "engine_lists/engine_lists.h"
#include "engine_test_util.h"
#include "levenberg_run.h"
#include "synthetic_board/synthetic_board.h"

namespace {

using calibration_detail::BlockJacobian;
using calibration_detail::BlockLevenbergMarquardt;
using calibration_detail::BlockLevenbergOptions;
using calibration_detail::BlockLevenbergResult;
using calibration_detail::StepSolver;

// Curves sharing two unknowns: block b holds y_i = a0 exp(a1 t_i) + c_b0 t_i + sin(c_b1 t_i)
// over its own samples. Unknowns: a0 a1, then c_b0 c_b1 per block.
struct Curves {
    static constexpr int kShared = 2, kOwn = 2, kSamples = 16;
    int blocks;
    std::vector<double> y;
    bool deadUnknown = false;  // block 0's first unknown has no effect (a zero column)

    explicit Curves(int b) : blocks(b) {
        unsigned state = 12345;
        auto noise = [&] {
            state = state * 1103515245u + 12345u;
            return (static_cast<int>((state >> 8) % 2001) - 1000) * 1e-5;
        };
        for (int k = 0; k < blocks; ++k)
            for (int i = 0; i < kSamples; ++i) {
                const double t = 0.25 * i;
                y.push_back(1.5 * std::exp(-0.7 * t) + (0.3 - 0.05 * k) * t + std::sin((0.5 + 0.1 * k) * t) +
                            noise());
            }
    }
    int Unknowns() const { return kShared + kOwn * blocks; }
    int Residuals() const { return kSamples * blocks; }
    double Residual(const double* x, int b, int i) const {
        const double t = 0.25 * i, c0 = x[kShared + kOwn * b], c1 = x[kShared + kOwn * b + 1];
        const double square = deadUnknown && b == 0 ? 0.0 : c0 * t;
        return y[b * kSamples + i] - (x[0] * std::exp(x[1] * t) + square + std::sin(c1 * t));
    }
    void Evaluate(const vnl_vector<double>& x, vnl_vector<double>& f) const {
        for (int b = 0; b < blocks; ++b)
            for (int i = 0; i < kSamples; ++i) f[b * kSamples + i] = Residual(x.data_block(), b, i);
    }
    void Structure(BlockJacobian& J) const {
        J.residuals = Residuals();
        J.unknowns = Unknowns();
        J.shared = {0, 1};
        J.position.assign(J.unknowns, 0);
        J.position[1] = 1;
        J.blocks.assign(blocks, {});
        for (int b = 0; b < blocks; ++b) {
            J.blocks[b].firstRow = b * kSamples;
            J.blocks[b].rows = kSamples;
            J.blocks[b].own = {kShared + kOwn * b, kShared + kOwn * b + 1};
            J.position[kShared + kOwn * b] = 2, J.position[kShared + kOwn * b + 1] = 3;
        }
        J.Clear();
    }
    // Exact derivatives.
    void Fill(const vnl_vector<double>& x, BlockJacobian& J) const {
        J.Clear();
        for (int b = 0; b < blocks; ++b) {
            double* v = J.blocks[b].values.data();
            const double c1 = x[kShared + kOwn * b + 1];
            for (int i = 0; i < kSamples; ++i) {
                const double t = 0.25 * i, e = std::exp(x[1] * t);
                v[i] = -e;
                v[kSamples + i] = -x[0] * t * e;
                v[2 * kSamples + i] = deadUnknown && b == 0 ? 0.0 : -t;
                v[3 * kSamples + i] = -t * std::cos(c1 * t);
            }
        }
    }
};

// The same problem for VXL's lmder.
class CurvesFunction : public vnl_least_squares_function {
public:
    explicit CurvesFunction(const Curves& c)
        : vnl_least_squares_function(c.Unknowns(), c.Residuals(), use_gradient), c_(c) {}
    void f(const vnl_vector<double>& x, vnl_vector<double>& r) override { c_.Evaluate(x, r); }
    void gradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian) override {
        BlockJacobian J;
        c_.Structure(J);
        c_.Fill(x, J);
        const std::vector<double> d = J.Dense();
        for (int j = 0; j < c_.Unknowns(); ++j)
            for (int i = 0; i < c_.Residuals(); ++i) jacobian(i, j) = d[static_cast<size_t>(j) * c_.Residuals() + i];
    }

private:
    const Curves& c_;
};

vnl_vector<double> Start(const Curves& c) {
    vnl_vector<double> x(c.Unknowns());
    x[0] = 1.2, x[1] = -0.5;
    for (int b = 0; b < c.blocks; ++b) x[2 + 2 * b] = 0.1, x[3 + 2 * b] = 0.6;
    return x;
}

BlockLevenbergResult Minimize(const Curves& c, StepSolver solver, vnl_vector<double>& x, double tol = 1e-10,
                         int maxEvaluations = 0) {
    BlockJacobian J;
    c.Structure(J);
    BlockLevenbergOptions options;
    options.ftol = options.xtol = options.gtol = tol;
    options.maxEvaluations = maxEvaluations;
    options.solver = solver;
    BlockLevenbergResult result;
    BlockLevenbergMarquardt(
        [&](const vnl_vector<double>& at, vnl_vector<double>& f) {
            c.Evaluate(at, f);
            return true;
        },
        [&](const vnl_vector<double>& at, BlockJacobian& jacobian) {
            c.Fill(at, jacobian);
            return true;
        },
        J, x, options, result);
    return result;
}

struct SolverCase {
    const char* name;
    double tol;
    int maxEvaluations;
};

class BlockLevenbergCases : public ::testing::TestWithParam<SolverCase> {};

// With the dense QR the loop is lmder's: the same points, counts and codes
// as VXL's minimiser over cminpack, to the last bit.
TEST_P(BlockLevenbergCases, DenseStepIsMinpackLmder) {
    const Curves curves(6);
    CurvesFunction function(curves);
    vnl_levenberg_marquardt lm(function);
    lm.set_f_tolerance(GetParam().tol);
    lm.set_x_tolerance(GetParam().tol);
    lm.set_g_tolerance(GetParam().tol);
    if (GetParam().maxEvaluations > 0) lm.set_max_function_evals(GetParam().maxEvaluations);
    vnl_vector<double> expected = Start(curves);
    lm.minimize_using_gradient(expected);

    vnl_vector<double> x = Start(curves);
    const BlockLevenbergResult r = Minimize(curves, StepSolver::kDenseQr, x, GetParam().tol, GetParam().maxEvaluations);
    for (size_t j = 0; j < x.size(); ++j) EXPECT_EQ(x[j], expected[j]) << j;
    EXPECT_EQ(r.info, static_cast<int>(lm.get_failure_code()));
    EXPECT_EQ(r.evaluations, lm.get_num_evaluations());
    EXPECT_EQ(r.iterations, lm.get_num_iterations());
    EXPECT_EQ(r.startRms, lm.get_start_error());
    EXPECT_EQ(r.endRms, lm.get_end_error());
}

// The block normal equations take the same decisions and end at the same
// point to rounding.
TEST_P(BlockLevenbergCases, BlockStepMatchesDenseStep) {
    const Curves curves(6);
    vnl_vector<double> dense = Start(curves), blocks = Start(curves);
    const BlockLevenbergResult d = Minimize(curves, StepSolver::kDenseQr, dense, GetParam().tol, GetParam().maxEvaluations);
    const BlockLevenbergResult b =
        Minimize(curves, StepSolver::kBlockNormalEquations, blocks, GetParam().tol, GetParam().maxEvaluations);
    for (size_t j = 0; j < dense.size(); ++j) EXPECT_NEAR(blocks[j], dense[j], 1e-9) << j;
    EXPECT_EQ(b.info, d.info);
    EXPECT_EQ(b.evaluations, d.evaluations);
    EXPECT_EQ(b.iterations, d.iterations);
    EXPECT_NEAR(b.endRms, d.endRms, 1e-12);
    EXPECT_EQ(b.denseFallbacks, 0);
}

INSTANTIATE_TEST_SUITE_P(Tolerances, BlockLevenbergCases,
                         ::testing::Values(SolverCase{"tight", 1e-10, 0}, SolverCase{"loose", 1e-4, 0},
                                           SolverCase{"evaluation_limit", 1e-10, 3}),
                         [](const ::testing::TestParamInfo<SolverCase>& info) { return info.param.name; });

// A zero column makes the normal matrix singular: those steps go through
// MINPACK's QR, which takes the least-squares solution, and the run still
// ends where lmder ends.
TEST(BlockLevenberg, RankDeficientStepFallsBackToQr) {
    Curves curves(5);
    curves.deadUnknown = true;
    vnl_vector<double> dense = Start(curves), blocks = Start(curves);
    const BlockLevenbergResult d = Minimize(curves, StepSolver::kDenseQr, dense);
    const BlockLevenbergResult b = Minimize(curves, StepSolver::kBlockNormalEquations, blocks);
    EXPECT_GT(b.denseFallbacks, 0);
    EXPECT_GE(b.info, 1);
    EXPECT_LE(b.info, 4);
    EXPECT_EQ(b.info, d.info);
    for (size_t j = 0; j < dense.size(); ++j) EXPECT_NEAR(blocks[j], dense[j], 1e-9) << j;
}

// A residual that asks to stop ends the run with -1 at the last accepted
// point, and the function is called once more there.
TEST(BlockLevenberg, StopRequestEndsTheRun) {
    const Curves curves(4);
    BlockJacobian J;
    curves.Structure(J);
    vnl_vector<double> x = Start(curves);
    const vnl_vector<double> start = x;
    int calls = 0;
    vnl_vector<double> lastPoint;
    BlockLevenbergResult result;
    const bool converged = BlockLevenbergMarquardt(
        [&](const vnl_vector<double>& at, vnl_vector<double>& f) {
            curves.Evaluate(at, f);
            lastPoint = at;
            return ++calls < 2;  // the first trial step asks to stop
        },
        [&](const vnl_vector<double>& at, BlockJacobian& jacobian) {
            curves.Fill(at, jacobian);
            return true;
        },
        J, x, BlockLevenbergOptions{}, result);
    EXPECT_FALSE(converged);
    EXPECT_EQ(result.info, -1);
    EXPECT_EQ(result.evaluations, 2);
    EXPECT_EQ(x, start);
    EXPECT_EQ(lastPoint, start);
}

}  // namespace

namespace {

using enginelists::ToLists;
using enginetest::Board;

// Above the dense threshold the engines' steps go through the block solve;
// they end where MINPACK's lmdif ends, far inside the spread of the result
// (sigma 0.1 px gives about 0.1 px on the focal lengths at these sizes).
struct EngineCase {
    int views;
    std::uint64_t seed;
};

class BlockStepEngines : public ::testing::TestWithParam<EngineCase> {};

void ExpectSameCamera(const CameraParameters& a, const CameraParameters& b) {
    for (int k : {0, 2, 4, 5}) EXPECT_NEAR(a.K[k], b.K[k], 1e-6) << k;
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(a.d[k], b.d[k], 1e-8) << k;
}

TEST_P(BlockStepEngines, MonoAndStereoMatchTheDenseRoad) {
    synthetic::Options options;
    options.rig = true;
    options.seed = GetParam().seed;
    options.noiseSigma = 0.1;
    options.views = GetParam().views;
    const synthetic::Dataset data = synthetic::MakeDataset(options);
    CMonoCameraCalibrationEngine monoA, monoB, denseA;
    denseA.SetDenseJacobianForTesting(true);
    ASSERT_EQ(monoA.RunCalibration(ToLists(data.PointListsA()), Board(), 640, 480), 1);
    ASSERT_EQ(monoB.RunCalibration(ToLists(data.PointListsB()), Board(), 640, 480), 1);
    ASSERT_EQ(denseA.RunCalibration(ToLists(data.PointListsA()), Board(), 640, 480), 1);
    ASSERT_GT(monoA.ParameterCount(), calibration_detail::kDenseStepUnknowns);
    ExpectSameCamera(monoA.GetCameraParameters(), denseA.GetCameraParameters());
    EXPECT_EQ(monoA.LastRun().minimizerInfo, denseA.LastRun().minimizerInfo);
    EXPECT_NEAR(monoA.LastRun().endRms, denseA.LastRun().endRms, 1e-9 * denseA.LastRun().endRms);
    for (int v = 0; v < options.views; ++v)
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(monoA.Translations()[3 * v + k], denseA.Translations()[3 * v + k], 1e-6);

    CStereoCalibrationEngine blocks, dense;
    dense.SetDenseJacobianForTesting(true);
    ASSERT_EQ(blocks.RunStereoCalibration(monoA, monoB), 1);
    ASSERT_EQ(dense.RunStereoCalibration(monoA, monoB), 1);
    ExpectSameCamera(blocks.ResultA(), dense.ResultA());
    ExpectSameCamera(blocks.ResultB(), dense.ResultB());
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(blocks.ResultB().T[k], dense.ResultB().T[k], 1e-6);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(blocks.ResultB().R[k], dense.ResultB().R[k], 1e-9);
    EXPECT_EQ(blocks.LastRun().minimizerInfo, dense.LastRun().minimizerInfo);
    EXPECT_NEAR(blocks.LastRun().endRms, dense.LastRun().endRms, 1e-9 * dense.LastRun().endRms);
}

INSTANTIATE_TEST_SUITE_P(Views, BlockStepEngines, ::testing::Values(EngineCase{13, 21}, EngineCase{24, 22}),
                         [](const ::testing::TestParamInfo<EngineCase>& info) {
                             return std::to_string(info.param.views) + "_views";
                         });

}  // namespace
