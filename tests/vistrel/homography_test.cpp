// Plane homographies: exact four-point fits, noise-free recovery by both
// routines, the Levenberg-Marquardt refinement against the linear estimate,
// the transfer-error sum and the Gauss-Newton step they rest on.
#include <calibmath/homography_estimate.h>
#include <calibration/gauss_newton.h>
#include <calibration/homography.h>

#include <random>

#include "calib_test_util.h"

namespace {

using calibtest::TestMat;

cv::Point2d Apply(const cv::Matx33d& H, cv::Point2d p) {
    const cv::Vec3d q = H * cv::Vec3d(p.x, p.y, 1);
    return {q[0] / q[2], q[1] / q[2]};
}

cv::Matx33d RandomHomography(std::mt19937& gen) {
    std::uniform_real_distribution<double> u(-1, 1);
    cv::Matx33d H(40 + 5 * u(gen), 3 * u(gen), 300 + 50 * u(gen), 3 * u(gen), 40 + 5 * u(gen), 200 + 50 * u(gen),
                  0.01 * u(gen), 0.01 * u(gen), 1);
    return H;
}

struct Correspondences {
    cv::Mat object;  // n x 2
    cv::Mat image;   // n x 2
};

Correspondences Make(const cv::Matx33d& H, int n, std::mt19937& gen, double noise = 0) {
    std::uniform_real_distribution<double> u(0, 10);
    std::normal_distribution<double> e(0, noise > 0 ? noise : 1.0);
    Correspondences c{cv::Mat(n, 2, CV_64F), cv::Mat(n, 2, CV_64F)};
    for (int i = 0; i < n; ++i) {
        const cv::Point2d M(u(gen), u(gen));
        cv::Point2d m = Apply(H, M);
        if (noise > 0) {
            const double ex = e(gen), ey = e(gen);
            m += cv::Point2d(ex, ey);
        }
        c.object.at<double>(i, 0) = M.x;
        c.object.at<double>(i, 1) = M.y;
        c.image.at<double>(i, 0) = m.x;
        c.image.at<double>(i, 1) = m.y;
    }
    return c;
}

double SquaredTransferError(const cv::Matx33d& H, const Correspondences& c) {
    double sum = 0;
    for (int i = 0; i < c.object.rows; ++i) {
        const cv::Point2d d = Apply(H, {c.object.at<double>(i, 0), c.object.at<double>(i, 1)}) -
                              cv::Point2d(c.image.at<double>(i, 0), c.image.at<double>(i, 1));
        sum += d.dot(d);
    }
    return sum;
}

using Routine = void (*)(const CvMat*, const CvMat*, CvMat*);

cv::Matx33d Estimate(Routine routine, const Correspondences& c, int depth = CV_64F) {
    TestMat M{c.object}, m{c.image}, H(3, 3, depth);
    routine(M.get(), m.get(), H.get());
    cv::Matx33d out;
    H.mat.convertTo(cv::Mat(out, false), CV_64F);
    return out;
}

struct RoutineCase {
    const char* name;
    Routine routine;
};

void PrintTo(const RoutineCase& c, std::ostream* os) { *os << c.name; }

class HomographyRoutines : public calibtest::ReportCapture, public ::testing::WithParamInterface<RoutineCase> {};

TEST_P(HomographyRoutines, UnitSquareOntoQuadrilateralIsExact) {
    Correspondences c{(cv::Mat_<double>(4, 2) << 0, 0, 1, 0, 1, 1, 0, 1),
                      (cv::Mat_<double>(4, 2) << 100, 120, 410, 90, 380, 330, 130, 300)};
    const cv::Matx33d H = Estimate(GetParam().routine, c);
    ASSERT_TRUE(reports().empty());
    EXPECT_DOUBLE_EQ(H(2, 2), 1.0);
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d p = Apply(H, {c.object.at<double>(i, 0), c.object.at<double>(i, 1)});
        EXPECT_NEAR(p.x, c.image.at<double>(i, 0), 1e-9);
        EXPECT_NEAR(p.y, c.image.at<double>(i, 1), 1e-9);
    }
}

TEST_P(HomographyRoutines, RecoversNoiseFreeHomographies) {
    std::mt19937 gen(11);
    for (int trial = 0; trial < 10; ++trial) {
        const cv::Matx33d truth = RandomHomography(gen);
        const Correspondences c = Make(truth, 5 + 7 * trial, gen);
        const cv::Matx33d H = Estimate(GetParam().routine, c);
        ASSERT_TRUE(reports().empty());
        for (int k = 0; k < 9; ++k)
            EXPECT_NEAR(H.val[k], truth.val[k], 1e-9 * std::max(1.0, std::fabs(truth.val[k]))) << trial << " " << k;
    }
}

// Object points may be given as board points (X, Y, 0): the conversion to
// two dimensions divides by 1 where the last coordinate is 0.
TEST_P(HomographyRoutines, AcceptsBoardPointsWithZeroHeight) {
    std::mt19937 gen(12);
    const cv::Matx33d truth = RandomHomography(gen);
    Correspondences c = Make(truth, 12, gen);
    cv::Mat board(12, 3, CV_64F, cv::Scalar(0));
    c.object.copyTo(board.colRange(0, 2));
    TestMat M{board}, m{c.image.reshape(2, 1)}, H(3, 3, CV_64F);
    GetParam().routine(M.get(), m.get(), H.get());
    ASSERT_TRUE(reports().empty());
    EXPECT_LT(cv::norm(cv::Matx33d(H.mat) - truth, cv::NORM_INF), 1e-9 * 300);
}

TEST_P(HomographyRoutines, SinglePrecisionMatrixIsTheConvertedResult) {
    std::mt19937 gen(13);
    const Correspondences c = Make(RandomHomography(gen), 15, gen, 0.5);
    const cv::Matx33d Hd = Estimate(GetParam().routine, c, CV_64F);
    TestMat M{c.object}, m{c.image}, Hf(3, 3, CV_32F);
    GetParam().routine(M.get(), m.get(), Hf.get());
    for (int k = 0; k < 9; ++k) EXPECT_EQ(Hf.mat.at<float>(k / 3, k % 3), static_cast<float>(Hd.val[k]));
}

INSTANTIATE_TEST_SUITE_P(Both, HomographyRoutines,
                         ::testing::Values(RoutineCase{"GaussNewton", Quorl_cvFindHomography},
                                           RoutineCase{"LevenbergMarquardt", FindHomographyLmq}),
                         [](const auto& info) { return std::string(info.param.name); });

class HomographyTest : public calibtest::ReportCapture {};

TEST_F(HomographyTest, RefinementIsNoWorseThanLinearEstimate) {
    std::mt19937 gen(14);
    const cvcompat::RoutineErrors errors("test", "test");
    for (int trial = 0; trial < 8; ++trial) {
        const Correspondences c = Make(RandomHomography(gen), 10 + 5 * trial, gen, 0.8);
        double linear[9];
        const int n = c.object.rows;
        const cv::Mat M = c.object.clone(), m = c.image.clone();
        ASSERT_TRUE(calibmath::HomographyLinearEstimate(M.ptr<double>(), m.ptr<double>(), n, linear, errors));
        const double linearError = SquaredTransferError(cv::Matx33d(linear), c);
        const double lmError = SquaredTransferError(Estimate(FindHomographyLmq, c), c);
        const double gnError = SquaredTransferError(Estimate(Quorl_cvFindHomography, c), c);
        EXPECT_LE(lmError, linearError * (1 + 1e-12)) << trial;
        EXPECT_LE(gnError, linearError * (1 + 1e-12)) << trial;
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(HomographyTest, ReprojectionErrorIsASumOfDistances) {
    const cv::Matx33d H(2, 0, 1, 0, 2, -1, 0, 0, 1);
    const double h[9] = {2, 0, 1, 0, 2, -1, 0, 0, 1};
    std::vector<Point2d> source, measured;
    for (int i = 0; i < 5; ++i) {
        source.push_back({double(i), double(2 * i)});
        const cv::Point2d p = Apply(H, {double(i), double(2 * i)});
        // Offsets of length 5 and 0 in turn.
        measured.push_back({p.x + (i % 2 ? 3 : 0), p.y + (i % 2 ? 4 : 0)});
    }
    EXPECT_DOUBLE_EQ(HomographyReprojectionError(measured.data(), source.data(), h, 5), 10.0);
    EXPECT_DOUBLE_EQ(HomographyReprojectionError(measured.data(), source.data(), h, 2), 5.0);
    EXPECT_EQ(HomographyReprojectionError(measured.data(), source.data(), h, 0), 0.0);
    EXPECT_EQ(HomographyReprojectionError(nullptr, nullptr, h, -3), 0.0);
    // Homogeneous scale does not matter.
    const double h3[9] = {6, 0, 3, 0, 6, -3, 0, 0, 3};
    EXPECT_DOUBLE_EQ(HomographyReprojectionError(measured.data(), source.data(), h3, 5), 10.0);
}

// FindHomographyLmq refuses what it cannot use, leaves H as it was and
// reports under its own name.
TEST_F(HomographyTest, LmqRefusesUnusableInput) {
    std::mt19937 gen(15);
    const Correspondences c = Make(RandomHomography(gen), 8, gen);
    struct Row {
        const char* name;
        cv::Mat object, image;
        int status;
        const char* message;
    };
    cv::Mat vertical = c.image.clone();
    vertical.col(0).setTo(5.0);
    const Row rows[] = {
        {"counts", c.object.rowRange(0, 7).clone(), c.image, CV_StsUnmatchedSizes,
         "Numbers of source and destination points do not match"},
        {"three", c.object.rowRange(0, 3).clone(), c.image.rowRange(0, 3).clone(), CV_StsBadSize,
         "at least 4 point correspondences are required"},
        {"vertical", c.object, vertical, CV_StsBadArg,
         "Image points must not all lie on one horizontal or vertical line"},
    };
    for (const Row& row : rows) {
        ClearReports();
        TestMat M{row.object}, m{row.image}, H(3, 3, CV_64F);
        FindHomographyLmq(M.get(), m.get(), H.get());
        EXPECT_TRUE(H.Untouched()) << row.name;
        ASSERT_EQ(reports().size(), 1u) << row.name;
        EXPECT_EQ(reports()[0].function, "FindHomographyLmq");
        EXPECT_EQ(reports()[0].source, "Calibration");
        EXPECT_EQ(reports()[0].status, row.status) << row.name;
        EXPECT_EQ(reports()[0].message, row.message) << row.name;
    }

    ClearReports();
    TestMat M{c.object}, m{c.image}, H(3, 3, CV_64F), bad(3, 3, CV_64FC2);
    FindHomographyLmq(nullptr, m.get(), H.get());
    FindHomographyLmq(M.get(), nullptr, H.get());
    FindHomographyLmq(M.get(), m.get(), nullptr);
    FindHomographyLmq(M.get(), m.get(), bad.get());
    ASSERT_EQ(reports().size(), 4u);
    EXPECT_EQ(reports()[0].message, "one of arguments is not a valid matrix");
    EXPECT_EQ(reports()[3].status, CV_StsUnsupportedFormat);
    EXPECT_TRUE(H.Untouched());
    EXPECT_TRUE(bad.Untouched());

    // A source layout the conversion refuses: its own report, then ours.
    ClearReports();
    TestMat wrong(8, 2, CV_64FC2, 1.0);
    FindHomographyLmq(wrong.get(), m.get(), H.get());
    ASSERT_EQ(reports().size(), 2u);
    EXPECT_EQ(reports()[0].function, "Quorl_cvConvertPointsHomogenious");
    EXPECT_EQ(reports()[1].status, CV_StsBackTrace);
    EXPECT_EQ(reports()[1].message, "Inner function failed.");
    EXPECT_TRUE(H.Untouched());
}

TEST_F(HomographyTest, GaussNewtonStepSolvesLeastSquares) {
    std::mt19937 gen(16);
    std::normal_distribution<double> d;
    cv::Mat J(9, 3, CV_64F), err(9, 1, CV_64F);
    for (double& v : cv::Mat_<double>(J)) v = d(gen);
    for (double& v : cv::Mat_<double>(err)) v = d(gen);
    cv::Mat expected;
    cv::solve(J, err, expected, cv::DECOMP_SVD);

    TestMat Jm{J}, e{err}, delta(3, 1, CV_64F);
    Quorl_icvGaussNewton(Jm.get(), e.get(), delta.get());
    EXPECT_LT(cv::norm(delta.mat - expected, cv::NORM_INF), 1e-12);

    // Work matrices given by the caller, in single precision throughout.
    cv::Mat Jf, ef;
    J.convertTo(Jf, CV_32F);
    err.convertTo(ef, CV_32F);
    TestMat Jfm{Jf}, efm{ef}, deltaf(3, 1, CV_32F), JtJ(3, 3, CV_32F), JtErr(3, 1, CV_32F), W(3, 1, CV_32F),
        V(3, 3, CV_32F);
    Quorl_icvGaussNewton(Jfm.get(), efm.get(), deltaf.get(), JtJ.get(), JtErr.get(), W.get(), V.get());
    cv::Mat got;
    deltaf.mat.convertTo(got, CV_64F);
    EXPECT_LT(cv::norm(got - expected, cv::NORM_INF), 1e-4);
    EXPECT_TRUE(reports().empty());
}

}  // namespace
