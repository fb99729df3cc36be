#include "calibration/stereo_calibration_engine.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>

#include "engine_lists/engine_lists.h"
#include "engine_test_util.h"
#include "synthetic_board/synthetic_board.h"

namespace {

using enginelists::Lists;
using enginelists::ToLists;
using enginetest::Angle;
using enginetest::Board;
using enginetest::Bounds;
using enginetest::ExpectCamera;

struct Rig {
    explicit Rig(std::uint64_t seed, double sigma, int views = 13) {
        options.rig = true;
        options.seed = seed;
        options.noiseSigma = sigma;
        options.views = views;
        data = synthetic::MakeDataset(options);
        ran = monoA.RunCalibration(ToLists(data.PointListsA()), Board(), 640, 480) == 1 &&
              monoB.RunCalibration(ToLists(data.PointListsB()), Board(), 640, 480) == 1;
    }
    synthetic::Options options;
    synthetic::Dataset data;
    CMonoCameraCalibrationEngine monoA, monoB;
    bool ran = false;
};

void ExpectRig(const CStereoCalibrationEngine& s, const Rig& rig, const Bounds& b, double relativeRotation,
               double relativeTranslation) {
    ExpectCamera(s.ResultA(), rig.options.cameraA, b);
    ExpectCamera(s.ResultB(), rig.options.cameraB, b);
    EXPECT_LT(Angle(cv::Matx33d(s.ResultB().R), rig.options.rigPose.R), relativeRotation);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(s.ResultB().T[k], rig.options.rigPose.t[k], relativeTranslation);
    // Camera A keeps its own record's pose; the members are resultB's.
    const CameraParameters identity;
    EXPECT_EQ(std::memcmp(s.ResultA().R, identity.R, sizeof identity.R), 0);
    EXPECT_EQ(std::memcmp(s.ResultA().T, identity.T, sizeof identity.T), 0);
    EXPECT_EQ(std::memcmp(s.RelativeRotation().data(), s.ResultB().R, sizeof identity.R), 0);
    EXPECT_EQ(std::memcmp(s.RelativeTranslation().data(), s.ResultB().T, sizeof identity.T), 0);
    ASSERT_EQ(s.ViewCount(), static_cast<int>(rig.data.views.size()));
    for (int v = 0; v < s.ViewCount(); ++v) {
        EXPECT_LT(Angle(cv::Matx33d(&s.RotationMatrices()[9 * v]), rig.data.views[v].poseA.R), b.rotation);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(s.Translations()[3 * v + k], rig.data.views[v].poseA.t[k], b.translation);
    }
}

TEST(StereoCalibrationEngine, NoiseFreeRigGivesTheTruth) {
    const Rig rig(1, 0.0);
    ASSERT_TRUE(rig.ran);
    CStereoCalibrationEngine stereo;
    ASSERT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 1)
        << CalibrationOutcomeText(stereo.LastRun().outcome);
    EXPECT_GE(stereo.LastRun().minimizerInfo, 1);
    EXPECT_LE(stereo.LastRun().minimizerInfo, 4);
    ExpectRig(stereo, rig, {5e-3, 5e-3, 1e-4, 1e-4, 1e-5, 1e-5, 1e-3}, 1e-5, 1e-3);
}

TEST(StereoCalibrationEngine, NoisyRigWithinItsSpread) {
    for (std::uint64_t seed : {2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        const Rig rig(seed, 0.1);
        ASSERT_TRUE(rig.ran);
        CStereoCalibrationEngine stereo;
        ASSERT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 1);
        ExpectRig(stereo, rig, {2.0, 2.5, 0.007, 0.02, 5e-4, 0.5 * CV_PI / 180, 3.0}, 0.3 * CV_PI / 180, 0.7);
        EXPECT_EQ(stereo.ResultA().width, 640);
        EXPECT_EQ(stereo.ResultB().height, 480);
    }
}

TEST(StereoCalibrationEngine, BlockJacobianMatchesMinpackForwardDifferences) {
    const Rig rig(5, 0.1, 6);
    ASSERT_TRUE(rig.ran);
    CStereoCalibrationEngine blocks, dense;
    dense.SetDenseJacobianForTesting(true);
    ASSERT_EQ(blocks.RunStereoCalibration(rig.monoA, rig.monoB), 1);
    ASSERT_EQ(dense.RunStereoCalibration(rig.monoA, rig.monoB), 1);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(blocks.ResultB().T[k], dense.ResultB().T[k], 1e-8);
    EXPECT_NEAR(blocks.ResultB().K[0], dense.ResultB().K[0], 1e-8);
    EXPECT_EQ(blocks.LastRun().iterations, dense.LastRun().iterations);
}

TEST(StereoCalibrationEngine, SizesOfFiveViews) {
    const Rig rig(6, 0.1, 5);
    ASSERT_TRUE(rig.ran);
    CStereoCalibrationEngine stereo;
    ASSERT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 1);
    EXPECT_EQ(stereo.ParameterCount(), 52);
    EXPECT_EQ(stereo.ResidualCount(), 1080);
}

TEST(StereoCalibrationEngine, FailedRefinementLeavesTheStartingRecords) {
    const Rig rig(7, 0.1);
    ASSERT_TRUE(rig.ran);
    CStereoCalibrationEngine stereo;
    stereo.SetMaxFunctionEvaluationsForTesting(1);
    EXPECT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 0);
    EXPECT_EQ(stereo.LastRun().outcome, CalibrationOutcome::kRefinementFailed);
    EXPECT_EQ(stereo.LastRun().minimizerInfo, 5);
    EXPECT_EQ(std::memcmp(&stereo.ResultA(), &stereo.InitialA(), sizeof(CameraParameters)), 0);
    EXPECT_EQ(std::memcmp(&stereo.ResultB(), &stereo.InitialB(), sizeof(CameraParameters)), 0);
    EXPECT_EQ(std::memcmp(stereo.RelativeRotation().data(), stereo.ResultB().R, 9 * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(stereo.RelativeTranslation().data(), stereo.ResultB().T, 3 * sizeof(double)), 0);
    // The start is the mono results with the estimated relative pose.
    const CameraParameters monoB = rig.monoB.GetCameraParameters();
    EXPECT_EQ(stereo.ResultB().K[0], monoB.K[0]);
    EXPECT_LT(Angle(cv::Matx33d(stereo.ResultB().R), rig.options.rigPose.R), 0.01);
    EXPECT_EQ(stereo.ViewCount(), 0);  // no views of a refined run
}

TEST(StereoCalibrationEngine, MismatchedEnginesAreRefused) {
    const Rig rig(8, 0.1);
    ASSERT_TRUE(rig.ran);
    CStereoCalibrationEngine stereo;
    ASSERT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 1);
    const CameraParameters resultB = stereo.ResultB();
    const std::vector<double> translations = stereo.Translations();

    CMonoCameraCalibrationEngine twelve, smallBoard, neverRan, loaded;
    Lists listsB = ToLists(rig.data.PointListsB());
    ASSERT_EQ(twelve.RunCalibration(Lists(listsB.begin(), listsB.begin() + 12), Board(), 640, 480), 1);
    synthetic::Options eightBySix = rig.options;
    eightBySix.board.squaresX = 8;
    ASSERT_EQ(smallBoard.RunCalibration(ToLists(synthetic::MakeDataset(eightBySix).PointListsB()), Board(8, 6), 640,
                                        480),
              1);
    ASSERT_TRUE(loaded.AllocateViews(13, Board()));  // a project's poses, no run

    struct Case {
        const char* name;
        const CMonoCameraCalibrationEngine& a;
        const CMonoCameraCalibrationEngine& b;
    };
    const Case cases[] = {
        {"13 against 12 views", rig.monoA, twelve},
        {"12 against 13 views", twelve, rig.monoB},
        {"9 x 6 against 8 x 6 board", rig.monoA, smallBoard},
        {"8 x 6 against 9 x 6 board", smallBoard, rig.monoB},
        {"an engine that never ran", rig.monoA, neverRan},
        {"two engines that never ran", neverRan, neverRan},
        {"allocated views but no run", loaded, rig.monoB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(stereo.RunStereoCalibration(c.a, c.b), 0);
        EXPECT_EQ(stereo.LastRun().outcome, CalibrationOutcome::kEnginesMismatch);
        EXPECT_EQ(std::memcmp(&stereo.ResultB(), &resultB, sizeof resultB), 0);
        EXPECT_EQ(stereo.Translations(), translations);
    }
}

TEST(StereoCalibrationEngine, InitialRelativePose) {
    // Identical per-view relative poses give exactly that pose.
    const synthetic::Pose relative = synthetic::DefaultRigRelativePose();
    synthetic::Options options;
    options.views = 7;
    const synthetic::Dataset data = synthetic::MakeDataset(options);
    std::vector<double> RA, TA, RB, TB;
    for (const synthetic::View& v : data.views) {
        const synthetic::Pose b = relative.Compose(v.poseA);
        RA.insert(RA.end(), v.poseA.R.val, v.poseA.R.val + 9);
        TA.insert(TA.end(), v.poseA.t.val, v.poseA.t.val + 3);
        RB.insert(RB.end(), b.R.val, b.R.val + 9);
        TB.insert(TB.end(), b.t.val, b.t.val + 3);
    }
    double R[9], T[3];
    EstimateRelativePose(7, RA.data(), TA.data(), RB.data(), TB.data(), R, T);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(R[k], relative.R.val[k], 1e-12);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(T[k], relative.t[k], 1e-10);

    // Position floor((v + 1) / 2) of the descending order.
    struct Case {
        std::vector<double> values;
        double picked;
    };
    const Case cases[] = {
        {{5, 1, 4, 2, 3}, 2},        // v = 5: position 3, the fourth largest
        {{6, 1, 5, 2, 4, 3}, 3},     // v = 6: position 3, the lower middle value
        {{-1, -5, -3, -2, -4}, -4},  // negative values sort the same way
        {{7}, 7},                    // v = 1: position 1 would be past the end; one value is its own pick
    };
    for (const Case& c : cases) EXPECT_EQ(DescendingOrderPick(c.values), c.picked);
}

}  // namespace

namespace {

// A failed refinement after a refined rig keeps that rig's views: only the
// records go back to the failed run's start, and the members follow resultB.
TEST(StereoCalibrationEngine, FailedRunAfterARefinedRigKeepsItsViews) {
    const Rig rig(9, 0.1);
    ASSERT_TRUE(rig.ran);
    CStereoCalibrationEngine stereo;
    ASSERT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 1);
    const std::vector<double> R = stereo.RotationMatrices(), r = stereo.RotationVectors(), T = stereo.Translations();
    const int views = stereo.ViewCount();

    stereo.SetMaxFunctionEvaluationsForTesting(1);
    EXPECT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 0);
    EXPECT_EQ(stereo.LastRun().outcome, CalibrationOutcome::kRefinementFailed);
    EXPECT_EQ(stereo.LastRun().minimizerInfo, 5);
    EXPECT_GE(stereo.LastRun().evaluations, 1);
    EXPECT_EQ(stereo.ViewCount(), views);
    EXPECT_EQ(stereo.RotationMatrices(), R);
    EXPECT_EQ(stereo.RotationVectors(), r);
    EXPECT_EQ(stereo.Translations(), T);
    EXPECT_EQ(std::memcmp(&stereo.ResultB(), &stereo.InitialB(), sizeof(CameraParameters)), 0);
    EXPECT_EQ(std::memcmp(stereo.RelativeRotation().data(), stereo.ResultB().R, 9 * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(stereo.RelativeTranslation().data(), stereo.ResultB().T, 3 * sizeof(double)), 0);
}

// A pose value that is not finite would break the ordering of the initial
// pose's sort: such engines are refused like mismatched ones.
TEST(StereoCalibrationEngine, NonFinitePoseIsRefused) {
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    struct Case {
        const char* name;
        bool cameraB;
        int array;  // 0 rotation matrices, 1 rotation vectors, 2 translations
        int index;
        double value;
    };
    const Case cases[] = {
        {"NaN translation of camera A", false, 2, 0, nan},
        {"NaN rotation matrix of camera B, last view", true, 0, 12 * 9 + 8, nan},
        {"infinite rotation vector of camera B", true, 1, 4, inf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(10, 0.1);
        ASSERT_TRUE(rig.ran);
        CMonoCameraCalibrationEngine& e = c.cameraB ? rig.monoB : rig.monoA;
        double* arrays[3] = {e.RotationMatrices(), e.RotationVectors(), e.Translations()};
        arrays[c.array][c.index] = c.value;
        ASSERT_TRUE(e.HoldsCalibratedViews());
        CStereoCalibrationEngine stereo;
        EXPECT_EQ(stereo.RunStereoCalibration(rig.monoA, rig.monoB), 0);
        EXPECT_EQ(stereo.LastRun().outcome, CalibrationOutcome::kEnginesMismatch);
        EXPECT_EQ(stereo.ViewCount(), 0);
    }
}

}  // namespace
