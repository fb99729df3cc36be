#include "calibration/mono_calibration_engine.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include <cvcompat/errstatus.h>
#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>

#include "engine_lists/engine_lists.h"
#include "engine_test_util.h"
#include "synthetic_board/synthetic_board.h"

namespace {

using enginelists::Lists;
using enginelists::ToLists;
using enginetest::Board;
using enginetest::Bounds;

double AngleBetween(const std::array<double, 9>& R, const cv::Matx33d& truth) {
    return enginetest::Angle(cv::Matx33d(R.data()), truth);
}

// The test's own RMS over the engine's result and poses.
double Rms(const CMonoCameraCalibrationEngine& e) {
    const CameraParameters p = e.GetCameraParameters();
    const double params[8] = {p.K[0], p.K[4], p.K[2], p.K[5], p.d[0], p.d[1], p.d[2], p.d[3]};
    std::vector<double> r(2 * static_cast<size_t>(e.PointsPerView()));
    double sum = 0;
    for (int v = 0; v < e.ViewCount(); ++v) {
        const std::array<double, 9> R = e.GetViewRotation(v);
        const std::array<double, 3> t = e.GetViewTranslation(v);
        ProjectionResiduals(params, R.data(), t.data(), e.ObjectPoints().data(),
                            &e.ImagePoints()[static_cast<size_t>(v) * e.PointsPerView()], e.PointsPerView(), r.data());
        for (double x : r) sum += x * x;
    }
    return std::sqrt(sum / e.TotalPoints());
}

void ExpectNear(const CMonoCameraCalibrationEngine& e, const synthetic::CameraModel& c,
                const std::vector<synthetic::Pose>& poses, const Bounds& b) {
    const CameraParameters p = e.GetCameraParameters();
    enginetest::ExpectCamera(p, c, b);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    ASSERT_EQ(e.ViewCount(), static_cast<int>(poses.size()));
    for (int v = 0; v < e.ViewCount(); ++v) {
        EXPECT_LT(AngleBetween(e.GetViewRotation(v), poses[v].R), b.rotation) << "view " << v;
        const std::array<double, 3> t = e.GetViewTranslation(v);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(t[k], poses[v].t[k], b.translation) << "view " << v;
        // The vectors are the matrices' own. Compared entry by entry: an
        // angle through cv::Rodrigues reads 0 for anything under about 1e-5 rad.
        cv::Matx33d fromVector;
        cv::Rodrigues(cv::Vec3d(e.RotationVectors() + 3 * v), fromVector);
        const std::array<double, 9> R = e.GetViewRotation(v);
        for (int k = 0; k < 9; ++k) EXPECT_NEAR(R[k], fromVector.val[k], 1e-12) << "view " << v << " entry " << k;
    }
}

std::vector<synthetic::Pose> PosesOf(const synthetic::Dataset& data) {
    std::vector<synthetic::Pose> poses;
    for (const synthetic::View& v : data.views) poses.push_back(v.poseA);
    return poses;
}

TEST(MonoCalibrationEngine, NoiseFreeViewsGiveTheTruth) {
    for (std::uint64_t seed : {1u, 2u}) {
        SCOPED_TRACE(seed);
        synthetic::Options options;
        options.seed = seed;
        const synthetic::Dataset data = synthetic::MakeDataset(options);
        CMonoCameraCalibrationEngine engine;
        ASSERT_EQ(engine.RunCalibration(ToLists(data.PointListsA()), Board(), 640, 480), 1)
            << CalibrationOutcomeText(engine.LastRun().outcome);
        EXPECT_EQ(engine.LastRun().outcome, CalibrationOutcome::kCalibrated);
        EXPECT_GE(engine.LastRun().minimizerInfo, 1);
        EXPECT_LE(engine.LastRun().minimizerInfo, 4);
        ExpectNear(engine, options.cameraA, PosesOf(data), {5e-3, 5e-3, 1e-4, 1e-4, 1e-5, 1e-5, 1e-3});
        double ax, ay, distance;
        engine.ComputeReprojectionError(&ax, &ay, &distance);
        EXPECT_LT(distance, 1e-4);
        // The closed form is kept apart, with zero distortion.
        EXPECT_EQ(engine.GetInitialParameters().d[0], 0.0);
        EXPECT_GT(engine.GetInitialParameters().K[0], 0.0);
    }
}

TEST(MonoCalibrationEngine, NoisyViewsWithinTheirSpread) {
    for (std::uint64_t seed : {3u, 4u, 5u}) {
        SCOPED_TRACE(seed);
        synthetic::Options options;
        options.seed = seed;
        options.noiseSigma = 0.1;
        const synthetic::Dataset data = synthetic::MakeDataset(options);
        CMonoCameraCalibrationEngine engine;
        ASSERT_EQ(engine.RunCalibration(ToLists(data.PointListsA()), Board(), 640, 480), 1);
        ExpectNear(engine, options.cameraA, PosesOf(data), {2.0, 2.5, 0.007, 0.02, 5e-4, 0.5 * CV_PI / 180, 3.0});
        const double rms = Rms(engine);
        EXPECT_GE(rms, 0.127);
        EXPECT_LE(rms, 0.156);
        double ax, ay, distance;
        engine.ComputeReprojectionError(&ax, &ay, &distance);
        EXPECT_GE(distance, 0.11);
        EXPECT_LE(distance, 0.14);
        for (double a : {ax, ay}) {
            EXPECT_GE(a, 0.065);
            EXPECT_LE(a, 0.09);
        }
    }
}

// The block-wise Jacobian is MINPACK's own forward differences, so both
// roads end at the same point.
TEST(MonoCalibrationEngine, BlockJacobianMatchesMinpackForwardDifferences) {
    synthetic::Options options;
    options.seed = 6;
    options.noiseSigma = 0.1;
    options.views = 7;
    const Lists lists = ToLists(synthetic::MakeDataset(options).PointListsA());
    CMonoCameraCalibrationEngine blocks, dense;
    dense.SetDenseJacobianForTesting(true);
    ASSERT_EQ(blocks.RunCalibration(lists, Board(), 640, 480), 1);
    ASSERT_EQ(dense.RunCalibration(lists, Board(), 640, 480), 1);
    const CameraParameters a = blocks.GetCameraParameters(), b = dense.GetCameraParameters();
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(a.K[k], b.K[k], 1e-9 * std::max(1.0, std::abs(b.K[k])));
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(a.d[k], b.d[k], 1e-11);
    EXPECT_EQ(blocks.LastRun().minimizerInfo, dense.LastRun().minimizerInfo);
    EXPECT_EQ(blocks.LastRun().iterations, dense.LastRun().iterations);
}

struct EngineSnapshot {
    explicit EngineSnapshot(const CMonoCameraCalibrationEngine& e)
        : result(e.GetCameraParameters()), views(e.ViewCount()), perView(e.PointsPerView()),
          R(e.RotationMatrices(), e.RotationMatrices() + 9 * e.ViewCount()),
          r(e.RotationVectors(), e.RotationVectors() + 3 * e.ViewCount()),
          T(e.Translations(), e.Translations() + 3 * e.ViewCount()), points(e.ImagePoints().size()) {}
    void ExpectSame(const CMonoCameraCalibrationEngine& e) const {
        const CameraParameters now = e.GetCameraParameters();
        EXPECT_EQ(std::memcmp(&now, &result, sizeof now), 0);
        ASSERT_EQ(e.ViewCount(), views);
        EXPECT_EQ(e.PointsPerView(), perView);
        EXPECT_EQ(std::vector<double>(e.RotationMatrices(), e.RotationMatrices() + 9 * views), R);
        EXPECT_EQ(std::vector<double>(e.RotationVectors(), e.RotationVectors() + 3 * views), r);
        EXPECT_EQ(std::vector<double>(e.Translations(), e.Translations() + 3 * views), T);
        EXPECT_EQ(e.ImagePoints().size(), points);
        EXPECT_TRUE(e.HoldsCalibratedViews());
    }
    CameraParameters result;
    int views, perView;
    std::vector<double> R, r, T;
    size_t points;
};

TEST(MonoCalibrationEngine, RefusedAndFailedRunsChangeNothing) {
    synthetic::Options options;
    options.seed = 8;
    options.noiseSigma = 0.1;
    const Lists good = ToLists(synthetic::MakeDataset(options).PointListsA());
    // Without lens distortion, so that the board's image is exactly a
    // rectangle: every homography is then square-on.
    synthetic::Options squareOn;
    squareOn.cameraA = squareOn.cameraA.WithoutDistortion();
    squareOn.views = 6;
    squareOn.squareOnViews = 6;
    const Lists flat = ToLists(synthetic::MakeDataset(squareOn).PointListsA());

    struct Case {
        const char* name;
        std::function<int(CMonoCameraCalibrationEngine&)> run;
        CalibrationOutcome outcome;
    };
    const Case cases[] = {
        {"4 views", [&](auto& e) { return e.RunCalibration(Lists(good.begin(), good.begin() + 4), Board(), 640, 480); },
         CalibrationOutcome::kTooFewViews},
        // Refused on the count alone, before any list is read.
        {"one view more than the most an engine takes",
         [&](auto& e) {
             return e.RunCalibration(Lists(CMonoCameraCalibrationEngine::kMaximumViews + 1), Board(), 640, 480);
         },
         CalibrationOutcome::kTooManyViews},
        {"a list of 53 points",
         [&](auto& e) {
             Lists l = good;
             l[2].pop_back();
             return e.RunCalibration(l, Board(), 640, 480);
         },
         CalibrationOutcome::kPointCountMismatch},
        {"a list of 55 points",
         [&](auto& e) {
             Lists l = good;
             l[4].push_back({1, 1});
             return e.RunCalibration(l, Board(), 640, 480);
         },
         CalibrationOutcome::kPointCountMismatch},
        {"an empty list",
         [&](auto& e) {
             Lists l = good;
             l[0].clear();
             return e.RunCalibration(l, Board(), 640, 480);
         },
         CalibrationOutcome::kPointCountMismatch},
        {"settings failing the board rule",
         [&](auto& e) {
             CalibrationObjectSettings s = Board();
             s.squareSizeX = 0;
             return e.RunCalibration(good, s, 640, 480);
         },
         CalibrationOutcome::kInvalidBoard},
        {"width 0", [&](auto& e) { return e.RunCalibration(good, Board(), 0, 480); },
         CalibrationOutcome::kInvalidImageSize},
        {"all views square-on", [&](auto& e) { return e.RunCalibration(flat, Board(), 640, 480); },
         CalibrationOutcome::kClosedFormFailed},
        {"evaluation limit 1",
         [&](auto& e) {
             e.SetMaxFunctionEvaluationsForTesting(1);
             const int ran = e.RunCalibration(good, Board(), 640, 480);
             e.SetMaxFunctionEvaluationsForTesting(0);
             return ran;
         },
         CalibrationOutcome::kRefinementFailed},
        // Points of a 640 x 480 camera given as a 300 x 200 image: the
        // refined principal point (about 320, 240) lies outside it.
        {"principal point outside the image", [&](auto& e) { return e.RunCalibration(good, Board(), 300, 200); },
         CalibrationOutcome::kInvalidResult},
    };
    // The closed form's own report of the square-on views is expected here.
    const cvcompat::ErrorHandler previous = cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) {});
    CMonoCameraCalibrationEngine engine;
    ASSERT_EQ(engine.RunCalibration(good, Board(), 640, 480), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EngineSnapshot before(engine);
        EXPECT_EQ(c.run(engine), 0);
        EXPECT_EQ(engine.LastRun().outcome, c.outcome) << CalibrationOutcomeText(engine.LastRun().outcome);
        before.ExpectSame(engine);
        if (c.outcome == CalibrationOutcome::kRefinementFailed) {
            EXPECT_EQ(engine.LastRun().minimizerInfo, 5);  // MINPACK: evaluation limit reached
            EXPECT_GE(engine.LastRun().evaluations, 1);
        }
    }
    cvcompat::SetErrorHandler(previous);
    cvcompat::ClearErrStatus();
    // Five views run.
    EXPECT_EQ(engine.RunCalibration(Lists(good.begin(), good.begin() + 5), Board(), 640, 480), 1);
    EXPECT_EQ(engine.ParameterCount(), 38);
    EXPECT_EQ(engine.ResidualCount(), 540);
    EXPECT_EQ(engine.ViewCount(), 5);
}

// The data view shows the text of a refusal: two reasons must never read alike.
TEST(MonoCalibrationEngine, EveryOutcomeHasATextOfItsOwn) {
    std::set<std::string> texts;
    for (int o = static_cast<int>(CalibrationOutcome::kNotRun); o <= static_cast<int>(CalibrationOutcome::kInvalidResult);
         ++o)
        EXPECT_TRUE(texts.insert(CalibrationOutcomeText(static_cast<CalibrationOutcome>(o))).second)
            << CalibrationOutcomeText(static_cast<CalibrationOutcome>(o));
    EXPECT_NE(std::string(CalibrationOutcomeText(CalibrationOutcome::kTooManyViews)).find("more than 100000"),
              std::string::npos);
}

TEST(MonoCalibrationEngine, ResidualOfOneHandMadeView) {
    CMonoCameraCalibrationEngine engine;
    ASSERT_TRUE(engine.AllocateViews(1, {10.0, 10.0, 2, 2, 3, 3}));
    // Board points (0, 10, 0), (10, 10, 0), (0, 0, 0), (10, 0, 0).
    engine.ImagePoints() = {{100, 100}, {150, 90}, {110, 210}, {20, 30}};
    // R = identity, t = (1, 2, 0): point (10, 0, 0) lands at depth 0 and is
    // taken with scale 1.
    vnl_vector<double> x{500, 400, 320, 240, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0};
    vnl_vector<double> residuals(8);
    engine.f(x, residuals);
    // Depth 0 everywhere here: every point is (Xc.x, Xc.y) itself.
    const double u[4] = {320 + 500 * 1.0, 320 + 500 * 11.0, 320 + 500 * 1.0, 320 + 500 * 11.0};
    const double w[4] = {240 + 400 * 12.0, 240 + 400 * 12.0, 240 + 400 * 2.0, 240 + 400 * 2.0};
    for (int j = 0; j < 4; ++j) {
        EXPECT_DOUBLE_EQ(residuals[2 * j], engine.ImagePoints()[j].x - u[j]);
        EXPECT_DOUBLE_EQ(residuals[2 * j + 1], engine.ImagePoints()[j].y - w[j]);
    }
    // With depth: t = (1, 2, 100), zero distortion gives the plain pinhole error.
    x[13] = 100;
    engine.f(x, residuals);
    const double X[4][2] = {{0, 10}, {10, 10}, {0, 0}, {10, 0}};
    for (int j = 0; j < 4; ++j) {
        EXPECT_NEAR(residuals[2 * j], engine.ImagePoints()[j].x - (320 + 500 * (X[j][0] + 1) / 100), 1e-12);
        EXPECT_NEAR(residuals[2 * j + 1], engine.ImagePoints()[j].y - (240 + 400 * (X[j][1] + 2) / 100), 1e-12);
    }
    // The residual leaves the evaluated pose in the engine's arrays.
    EXPECT_EQ(engine.Translations()[2], 100.0);
}

TEST(MonoCalibrationEngine, FieldOfViewAndAnswersOfAnEmptyEngine) {
    CMonoCameraCalibrationEngine engine;
    double a = -1, b = -1, c = -1;
    engine.GetFieldOfView(&a, &b);
    EXPECT_EQ(a, 0.0);
    EXPECT_EQ(b, 0.0);
    engine.ComputeReprojectionError(&a, &b, &c);
    EXPECT_EQ(a, 0.0);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(c, 0.0);
    EXPECT_EQ(engine.GetViewRotation(0), (std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(engine.LastRun().outcome, CalibrationOutcome::kNotRun);
    EXPECT_FALSE(engine.HoldsCalibratedViews());

    CameraParameters p;
    p.K[0] = 500, p.K[2] = 319.5, p.K[4] = 400, p.K[5] = 100, p.K[8] = 1;
    p.width = 640, p.height = 480;
    engine.SetResult(p);
    EXPECT_EQ(engine.ImageWidth(), 640);
    double fovX, fovY;
    engine.GetFieldOfView(&fovX, &fovY);
    EXPECT_NEAR(fovX, 65.23848615463334, 1e-9);  // 2 atan(320 / 500), in the field of view's degrees
    EXPECT_NEAR(fovY, 57.59716114770395, 1e-9);  // atan(100.5 / 400) + atan(379.5 / 400)
    // With cx = (width - 1) / 2 the two halves are equal.
    EXPECT_NEAR(std::atan((319.5 + 0.5) / 500), std::atan((640 - 320.0) / 500), 1e-15);
    p.K[0] = 0;
    engine.SetResult(p);
    engine.GetFieldOfView(&fovX, &fovY);
    EXPECT_EQ(fovX, 0.0);
    EXPECT_EQ(fovY, 0.0);
}

TEST(MonoCalibrationEngine, AllocateViewsAndPoseArrays) {
    synthetic::Options options;
    options.seed = 12;
    CMonoCameraCalibrationEngine engine;
    ASSERT_EQ(engine.RunCalibration(ToLists(synthetic::MakeDataset(options).PointListsA()), Board(), 640, 480), 1);
    const int views = engine.ViewCount();
    EXPECT_EQ(engine.GetViewRotation(views)[0], 1.0);  // past the last view
    EXPECT_EQ(engine.GetViewTranslation(-1)[2], 0.0);
    EXPECT_NE(engine.GetViewTranslation(views - 1)[2], 0.0);

    CalibrationObjectSettings bad = Board();
    bad.squaresX = 0;
    EXPECT_FALSE(engine.AllocateViews(20, bad));
    EXPECT_EQ(engine.ViewCount(), views);
    EXPECT_TRUE(engine.HoldsCalibratedViews());

    ASSERT_TRUE(engine.AllocateViews(20, Board()));
    EXPECT_FALSE(engine.HoldsCalibratedViews());
    EXPECT_EQ(engine.ViewCount(), 20);
    EXPECT_EQ(engine.PointsPerView(), 54);
    EXPECT_EQ(engine.ImagePoints().size(), 20u * 54u);
    for (int v = 0; v < 20; ++v) {
        EXPECT_EQ(engine.GetViewRotation(v), (std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
        EXPECT_EQ(engine.GetViewTranslation(v), (std::array<double, 3>{0, 0, 0}));
        EXPECT_EQ(engine.RotationVectors()[3 * v], 0.0);
    }
    EXPECT_EQ(engine.ObjectPoints()[1], 125.0);  // point 0 at the top row
    // A load of 7 views lowers the count; the arrays keep their size.
    EXPECT_TRUE(engine.SetViewCount(7));
    EXPECT_EQ(engine.ViewCount(), 7);
    EXPECT_EQ(engine.AllocatedViews(), 20);
    EXPECT_FALSE(engine.SetViewCount(21));
    EXPECT_EQ(engine.GetViewRotation(7)[0], 1.0);
}

// A project load sets the result (with its image size) before it sizes the
// views for the poses file: sizing must not take the image size away.
TEST(MonoCalibrationEngine, AllocateViewsKeepsTheResultsImageSize) {
    CMonoCameraCalibrationEngine engine;
    CameraParameters p;
    p.K[0] = 500, p.K[2] = 319.5, p.K[4] = 400, p.K[5] = 100, p.K[8] = 1;
    p.width = 640, p.height = 480;
    engine.SetResult(p);
    double fovX = 0, fovY = 0;
    engine.GetFieldOfView(&fovX, &fovY);
    ASSERT_GT(fovX, 1.0);
    const double loadedX = fovX, loadedY = fovY;

    ASSERT_TRUE(engine.AllocateViews(9, Board()));
    EXPECT_EQ(engine.ImageWidth(), 640);
    EXPECT_EQ(engine.ImageHeight(), 480);
    ASSERT_TRUE(engine.SetViewCount(5));
    engine.GetFieldOfView(&fovX, &fovY);
    EXPECT_EQ(fovX, loadedX);
    EXPECT_EQ(fovY, loadedY);
    EXPECT_EQ(engine.GetCameraParameters().width, 640);
}

}  // namespace
