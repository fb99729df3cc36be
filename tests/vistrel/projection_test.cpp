// Projection through the lens model: values against OpenCV's own
// projectPoints, all five Jacobian blocks against central differences in
// single and double precision, the point layouts and the edge cases.
#include <calibration/projection.h>
#include <calibration/rotation.h>

#include <opencv2/calib3d.hpp>

#include <random>

#include "calib_test_util.h"

namespace {

using calibtest::TestMat;

// Camera parameters in the order of the Jacobian blocks.
struct Params {
    cv::Vec3d r{0.2, -0.3, 0.15};
    cv::Vec3d t{0.1, -0.2, 6.0};
    cv::Vec2d f{800, 780};
    cv::Vec2d c{320, 240};
    cv::Vec4d k{-0.2, 0.05, 0.003, -0.002};
    double& at(int i) {
        if (i < 3) return r[i];
        if (i < 6) return t[i - 3];
        if (i < 8) return f[i - 6];
        if (i < 10) return c[i - 8];
        return k[i - 10];
    }
};

cv::Mat Board(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(-1.5, 1.5);
    cv::Mat pts(n, 3, CV_64F);
    for (int i = 0; i < n; ++i) {
        pts.at<double>(i, 0) = d(gen);
        pts.at<double>(i, 1) = d(gen);
        pts.at<double>(i, 2) = 0.3 * d(gen);
    }
    return pts;
}

cv::Mat Intrinsics(const Params& p, int depth) {
    cv::Mat A = (cv::Mat_<double>(3, 3) << p.f[0], 0, p.c[0], 0, p.f[1], p.c[1], 0, 0, 1);
    A.convertTo(A, depth);
    return A;
}

struct Projection {
    cv::Mat image;
    cv::Mat drot, dt, df, dc, dk;
};

// Runs the routine with every output in the given depth.
Projection Project(const cv::Mat& object, const Params& p, int depth, bool derivatives = true, int kCols = 4) {
    const int n = object.rows;
    TestMat obj, r, t, A{Intrinsics(p, depth)}, k;
    object.convertTo(obj.mat, depth);
    obj.hdr = cvMat(obj.mat);
    cv::Mat(p.r).convertTo(r.mat, depth);
    r.hdr = cvMat(r.mat);
    cv::Mat(p.t).convertTo(t.mat, depth);
    t.hdr = cvMat(t.mat);
    cv::Mat(p.k).convertTo(k.mat, depth);
    k.hdr = cvMat(k.mat);
    TestMat img(n, 2, depth), drot(2 * n, 3, depth), dt(2 * n, 3, depth), df(2 * n, 2, depth),
        dc(2 * n, 2, depth), dk(2 * n, kCols, depth);
    if (derivatives)
        Quorl_cvProjectPoints2(obj.get(), r.get(), t.get(), A.get(), k.get(), img.get(), drot.get(), dt.get(),
                               df.get(), dc.get(), dk.get());
    else
        Quorl_cvProjectPoints2(obj.get(), r.get(), t.get(), A.get(), k.get(), img.get());
    Projection out;
    img.mat.convertTo(out.image, CV_64F);
    drot.mat.convertTo(out.drot, CV_64F);
    dt.mat.convertTo(out.dt, CV_64F);
    df.mat.convertTo(out.df, CV_64F);
    dc.mat.convertTo(out.dc, CV_64F);
    dk.mat.convertTo(out.dk, CV_64F);
    return out;
}

class ProjectionTest : public calibtest::ReportCapture {};

TEST_F(ProjectionTest, MatchesOpenCvProjectionAndJacobian) {
    const cv::Mat object = Board(30, 1);
    const Params p;
    const Projection ours = Project(object, p, CV_64F);
    ASSERT_TRUE(reports().empty());

    std::vector<cv::Point2d> theirs;
    cv::Mat J;
    cv::projectPoints(object, p.r, p.t, Intrinsics(p, CV_64F), p.k, theirs, J);
    for (int i = 0; i < object.rows; ++i) {
        EXPECT_NEAR(ours.image.at<double>(i, 0), theirs[i].x, 1e-9);
        EXPECT_NEAR(ours.image.at<double>(i, 1), theirs[i].y, 1e-9);
    }
    // OpenCV's columns: rotation, translation, focal lengths, centre, distortion.
    EXPECT_LT(cv::norm(ours.drot - J.colRange(0, 3), cv::NORM_INF), 1e-8);
    EXPECT_LT(cv::norm(ours.dt - J.colRange(3, 6), cv::NORM_INF), 1e-8);
    EXPECT_LT(cv::norm(ours.df - J.colRange(6, 8), cv::NORM_INF), 1e-8);
    EXPECT_LT(cv::norm(ours.dc - J.colRange(8, 10), cv::NORM_INF), 1e-8);
    EXPECT_LT(cv::norm(ours.dk - J.colRange(10, 14), cv::NORM_INF), 1e-8);
}

// Every block of the Jacobian against central differences of the routine's
// own double-precision projection, with distortion, in both precisions.
class ProjectionJacobian : public calibtest::ReportCapture, public ::testing::WithParamInterface<int> {};

TEST_P(ProjectionJacobian, AllBlocksMatchCentralDifferences) {
    const int depth = GetParam();
    const cv::Mat object = Board(12, 2);
    const Params p;
    const Projection got = Project(object, p, depth);
    ASSERT_TRUE(reports().empty());

    cv::Mat fd(2 * object.rows, 14, CV_64F);
    for (int j = 0; j < 14; ++j) {
        Params plus = p, minus = p;
        const double h = j < 6 ? 1e-6 : (j < 10 ? 1e-3 : 1e-6);
        plus.at(j) += h;
        minus.at(j) -= h;
        const cv::Mat d = (Project(object, plus, CV_64F, false).image - Project(object, minus, CV_64F, false).image) /
                          (2 * h);
        d.reshape(1, 2 * object.rows).copyTo(fd.col(j));
    }
    const cv::Mat blocks[] = {got.drot, got.dt, got.df, got.dc, got.dk};
    const char* names[] = {"dp/drot", "dp/dt", "dp/df", "dp/dc", "dp/dk"};
    int col = 0;
    for (int b = 0; b < 5; ++b) {
        const cv::Mat ref = fd.colRange(col, col + blocks[b].cols);
        col += blocks[b].cols;
        // Relative to the block's size: rotation and distortion entries run
        // to several hundred pixels.
        const double scale = std::max(1.0, cv::norm(ref, cv::NORM_INF));
        const double tol = (depth == CV_32F ? 1e-5 : 1e-7) * scale;
        EXPECT_LT(cv::norm(blocks[b] - ref, cv::NORM_INF), tol) << names[b];
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, ProjectionJacobian, ::testing::Values(CV_64F, CV_32F),
                         [](const auto& info) { return std::string(info.param == CV_64F ? "Double" : "Single"); });

TEST_F(ProjectionTest, TwoColumnDpdkGetsRadialColumnsOnly) {
    const cv::Mat object = Board(7, 3);
    const Params p;
    const Projection four = Project(object, p, CV_64F, true, 4);
    const Projection two = Project(object, p, CV_64F, true, 2);
    EXPECT_EQ(cv::norm(two.dk - four.dk.colRange(0, 2), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(two.image - four.image, cv::NORM_INF), 0.0);
}

TEST_F(ProjectionTest, PointOnCameraPlaneUsesUnitDepth) {
    // Identity rotation, zero translation: (2, -1, 0) lies in the plane z = 0.
    TestMat obj(1, 1, CV_64FC3), r(3, 1, CV_64F, 0.0), t(3, 1, CV_64F, 0.0), img(1, 1, CV_64FC2);
    obj.mat.at<cv::Vec3d>(0) = cv::Vec3d(2, -1, 0);
    TestMat A{(cv::Mat_<double>(3, 3) << 100, 0, 50, 0, 200, 60, 0, 0, 1)};
    Quorl_cvProjectPoints2(obj.get(), r.get(), t.get(), A.get(), nullptr, img.get());
    EXPECT_DOUBLE_EQ(img.mat.at<cv::Vec2d>(0)[0], 2 * 100 + 50);
    EXPECT_DOUBLE_EQ(img.mat.at<cv::Vec2d>(0)[1], -1 * 200 + 60);
    EXPECT_TRUE(reports().empty());
}

// A rotation given as a matrix projects as its vector does and gives the
// same derivatives with respect to that vector.
TEST_F(ProjectionTest, RotationMatrixActsAsItsVector) {
    const cv::Mat object = Board(9, 4);
    const Params p;
    const Projection byVector = Project(object, p, CV_64F);
    TestMat rv{cv::Mat(p.r)}, R(3, 3, CV_64F);
    ASSERT_EQ(Quorl_cvRodrigues2(rv.get(), R.get()), 1);
    const int n = object.rows;
    TestMat obj{object}, t{cv::Mat(p.t)}, A{Intrinsics(p, CV_64F)}, k{cv::Mat(p.k)};
    TestMat img(n, 2, CV_64F), drot(2 * n, 3, CV_64F);
    Quorl_cvProjectPoints2(obj.get(), R.get(), t.get(), A.get(), k.get(), img.get(), drot.get());
    EXPECT_LT(cv::norm(img.mat - byVector.image, cv::NORM_INF), 1e-9);
    EXPECT_LT(cv::norm(drot.mat - byVector.drot, cv::NORM_INF), 1e-7);

    // A single-precision matrix is accepted as well.
    TestMat Rf, imgf(n, 2, CV_64F), drotf(2 * n, 3, CV_64F);
    R.mat.convertTo(Rf.mat, CV_32F);
    Rf.hdr = cvMat(Rf.mat);
    Quorl_cvProjectPoints2(obj.get(), Rf.get(), t.get(), A.get(), k.get(), imgf.get(), drotf.get());
    EXPECT_TRUE(reports().empty());
    EXPECT_LT(cv::norm(imgf.mat - byVector.image, cv::NORM_INF), 1e-3);
    EXPECT_LT(cv::norm(drotf.mat - byVector.drot, cv::NORM_INF), 1e-2);
}

// Object and image points in every accepted layout give the same pixels.
TEST_F(ProjectionTest, PointLayouts) {
    const cv::Mat object = Board(6, 5);
    const Params p;
    const cv::Mat expected = Project(object, p, CV_64F, false).image;  // 6 x 2
    TestMat r{cv::Mat(p.r)}, t{cv::Mat(p.t)}, A{Intrinsics(p, CV_64F)}, k{cv::Mat(p.k)};

    struct Layout {
        const char* name;
        cv::Mat object;
        cv::Mat image;
    };
    cv::Mat obj32;
    object.convertTo(obj32, CV_32F);
    std::vector<Layout> layouts = {
        {"rows", object.clone(), cv::Mat(6, 2, CV_64F)},
        {"channels", object.reshape(3, 1).clone(), cv::Mat(1, 6, CV_64FC2)},
        {"columns", cv::Mat(object.t()), cv::Mat(2, 6, CV_64F)},
        {"single", obj32, cv::Mat(6, 2, CV_32F)},
        {"columnOfChannels", object.reshape(3, 6).clone(), cv::Mat(6, 1, CV_64FC2)},
    };
    for (Layout& l : layouts) {
        CvMat o = cvMat(l.object), i = cvMat(l.image);
        Quorl_cvProjectPoints2(&o, r.get(), t.get(), A.get(), k.get(), &i);
        cv::Mat got;
        l.image.convertTo(got, CV_64F);
        got = got.reshape(1, 1).reshape(1, 6);
        if (l.image.rows == 2 && l.image.channels() == 1) {
            cv::Mat tr = cv::Mat(l.image.t());
            tr.convertTo(got, CV_64F);
        }
        const double tol = l.image.depth() == CV_32F ? 1e-3 : 1e-9;
        EXPECT_LT(cv::norm(got - expected, cv::NORM_INF), tol) << l.name;
    }
    EXPECT_TRUE(reports().empty());
}

// A column view of a wider matrix is not continuous: its points are copied,
// not read as if packed.
TEST_F(ProjectionTest, NonContinuousPoints) {
    const cv::Mat object = Board(5, 6);
    const Params p;
    const cv::Mat expected = Project(object, p, CV_64F, false).image;
    cv::Mat wide(5, 7, CV_64F, cv::Scalar(42));
    object.copyTo(wide.colRange(2, 5));
    cv::Mat out(5, 6, CV_64F, cv::Scalar(0));
    CvMat o = cvMat(wide.colRange(2, 5)), i = cvMat(out.colRange(1, 3));
    TestMat r{cv::Mat(p.r)}, t{cv::Mat(p.t)}, A{Intrinsics(p, CV_64F)}, k{cv::Mat(p.k)};
    Quorl_cvProjectPoints2(&o, r.get(), t.get(), A.get(), k.get(), &i);
    EXPECT_LT(cv::norm(out.colRange(1, 3) - expected, cv::NORM_INF), 1e-9);
    EXPECT_EQ(cv::norm(out.col(0), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(out.colRange(3, 6), cv::NORM_INF), 0.0);
}

}  // namespace
