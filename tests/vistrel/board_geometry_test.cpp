#include "calibration/board_geometry.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "synthetic_board/synthetic_board.h"

namespace {

void Apply(const double H[9], double u, double v, double* x, double* y) {
    const double w = H[6] * u + H[7] * v + H[8];
    *x = (H[0] * u + H[1] * v + H[2]) / w;
    *y = (H[3] * u + H[4] * v + H[5]) / w;
}

void ExpectCornersBack(const double H[9], const double c[8], double tolerance) {
    const double unit[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        double x, y;
        Apply(H, unit[i][0], unit[i][1], &x, &y);
        EXPECT_NEAR(x, c[2 * i], tolerance) << "corner " << i;
        EXPECT_NEAR(y, c[2 * i + 1], tolerance) << "corner " << i;
    }
}

TEST(HomographyFromFourPoints, UnitSquareGivesIdentity) {
    const double c[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    double H[9];
    ASSERT_EQ(HomographyFromFourPoints(H, c), H);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(H[i], (i % 4 == 0) ? 1.0 : 0.0, 1e-15) << i;
}

TEST(HomographyFromFourPoints, ConvexQuadrilateralsAndParallelograms) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        double c[8];
        if (trial % 2 == 0) {
            // A convex quadrilateral: four angles about a centre in order,
            // radii varied.
            const double cx = 300 * u(rng), cy = 200 * u(rng), start = 3.0 * u(rng);
            for (int i = 0; i < 4; ++i) {
                const double angle = start + i * 1.5707963 + 0.4 * u(rng), r = 100 + 60 * u(rng);
                c[2 * i] = cx + r * std::cos(angle);
                c[2 * i + 1] = cy + r * std::sin(angle);
            }
        } else {
            // A parallelogram: both vanishing points at infinity.
            const double ox = 500 * u(rng), oy = 500 * u(rng), ax = 200 * u(rng), ay = 200 * u(rng);
            const double bx = -ay + 30 * u(rng), by = ax + 30 * u(rng);
            const double p[4][2] = {{ox, oy}, {ox + ax, oy + ay}, {ox + ax + bx, oy + ay + by}, {ox + bx, oy + by}};
            for (int i = 0; i < 4; ++i) c[2 * i] = p[i][0], c[2 * i + 1] = p[i][1];
        }
        double H[9];
        ASSERT_EQ(HomographyFromFourPoints(H, c), H) << trial;
        EXPECT_EQ(H[8], 1.0);
        ExpectCornersBack(H, c, 1e-12 * 500);
    }
}

TEST(HomographyFromFourPoints, DegenerateCornersGiveNull) {
    struct Case {
        const char* name;
        double c[8];
    };
    const Case cases[] = {
        {"two coincident corners", {0, 0, 10, 0, 10, 0, 0, 10}},
        {"all coincident", {5, 5, 5, 5, 5, 5, 5, 5}},
        {"three collinear", {0, 0, 10, 0, 20, 0, 0, 10}},
        {"all collinear", {0, 0, 1, 1, 2, 2, 3, 3}},
        {"zero spread along x", {3, 0, 3, 1, 3, 2, 3, 5}},
        {"zero spread along y", {0, 7, 1, 7, 4, 7, 9, 7}},
        {"not finite", {0, 0, 10, 0, NAN, 10, 0, 10}},
        {"infinite", {0, 0, 10, 0, INFINITY, 10, 0, 10}},
    };
    for (const Case& c : cases) {
        double H[9];
        for (double& h : H) h = -3.0;
        EXPECT_EQ(HomographyFromFourPoints(H, c.c), nullptr) << c.name;
        for (double h : H) EXPECT_EQ(h, -3.0) << c.name;
    }
}

// Fixture views with fx = fy = 700, principal point at the origin and no
// distortion; corners in the editor's cyclic order C0, C1, C3, C2.
struct PinholeViews {
    PinholeViews(int views, int squareOn, std::uint64_t seed) {
        synthetic::Options options;
        options.views = views;
        options.squareOnViews = squareOn;
        options.seed = seed;
        options.cameraA = camera;
        options.cameraA.cx = 320.0, options.cameraA.cy = 240.0;  // for drawing poses only
        data = synthetic::MakeDataset(options);
        for (synthetic::View& v : data.views) {
            const std::vector<cv::Point2d> p = synthetic::ProjectPoints(camera, v.poseA, data.objectPoints);
            const int n = static_cast<int>(p.size()), sx = options.board.squaresX;
            corners.push_back({p[0], p[sx - 1], p[n - 1], p[n - sx]});
        }
        width = options.board.sizeX * (options.board.squaresX - 1);
        height = options.board.sizeY * (options.board.squaresY - 1);
    }
    double Estimate(int view, bool swapped = false) const {
        const auto& c = corners[view];
        return EstimateScaleFromCorners(c[0].x, c[0].y, c[1].x, c[1].y, c[2].x, c[2].y, c[3].x, c[3].y, 0.0,
                                        swapped ? height : width, swapped ? width : height);
    }

    synthetic::CameraModel camera = [] {
        synthetic::CameraModel c;
        c.fx = c.fy = 700.0;
        c.width = 640, c.height = 480;
        return c;
    }();
    synthetic::Dataset data;
    std::vector<std::array<cv::Point2d, 4>> corners;
    double width = 0, height = 0;
};

TEST(EstimateScaleFromCorners, TiltedBoardsGiveTheFocalLength) {
    const PinholeViews views(6, 0, 21);
    for (int v = 0; v < 6; ++v) {
        EXPECT_NEAR(views.Estimate(v), 700.0, 1e-9) << "view " << v;
        // The extents follow sides 01 and 03: swapped, they give another value.
        EXPECT_GT(std::abs(views.Estimate(v, true) - 700.0), 1.0) << "view " << v;
    }
}

TEST(EstimateScaleFromCorners, SquareOnBoardGivesNoEstimate) {
    const PinholeViews views(3, 3, 4);
    for (int v = 0; v < 3; ++v) EXPECT_EQ(views.Estimate(v), 0.0) << "view " << v;
}

TEST(EstimateScaleFromCorners, DegenerateCornersGiveNoEstimate) {
    EXPECT_EQ(EstimateScaleFromCorners(0, 0, 0, 0, 0, 0, 0, 0, 0.0, 1.0, 1.0), 0.0);
    EXPECT_EQ(EstimateScaleFromCorners(0, 0, 10, 0, 20, 0, 30, 0, 0.0, 1.0, 1.0), 0.0);
}

TEST(MakeSquareFromCorners, BackProjectsToASquare) {
    const PinholeViews views(4, 0, 8);
    for (int v = 0; v < 4; ++v) {
        SCOPED_TRACE(v);
        const auto& c = views.corners[v];
        Vec3d S[4];
        MakeSquareFromCorners({c[0].x, c[0].y, 1}, {c[1].x, c[1].y, 1}, {c[2].x, c[2].y, 1}, {c[3].x, c[3].y, 1},
                              views.width, views.height, S[0], S[1], S[2], S[3]);
        // Back onto the board plane with the truth: the ray through S meets
        // R X + t with X.z = 0.
        const synthetic::Pose& pose = views.data.views[v].poseA;
        const cv::Matx33d Rt = pose.R.t();
        const cv::Vec3d centre = -(Rt * pose.t);
        cv::Vec2d B[4];
        for (int i = 0; i < 4; ++i) {
            EXPECT_DOUBLE_EQ(S[i][2], 1.0);
            const cv::Vec3d d = Rt * cv::Vec3d(S[i][0] / 700.0, S[i][1] / 700.0, 1.0);
            const double lambda = -centre[2] / d[2];
            B[i] = {centre[0] + lambda * d[0], centre[1] + lambda * d[1]};
        }
        const double side = std::sqrt(views.width * views.height);
        EXPECT_NEAR(B[0][0], 0.0, 1e-9);  // corner 0 of the board, (0, 125)
        EXPECT_NEAR(B[0][1], views.height, 1e-9);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(cv::norm(B[(i + 1) % 4] - B[i]), side, 1e-9 * side);
        const cv::Vec2d d02 = B[2] - B[0], d13 = B[3] - B[1];
        EXPECT_NEAR(d02.dot(d13), 0.0, 1e-9 * side * side);
        EXPECT_NEAR(cv::norm(d02), cv::norm(d13), 1e-9 * side);
    }
}

TEST(PlaneEdgesFromCorners, EdgesRunAlongTheSides) {
    const PinholeViews views(1, 0, 2);
    const auto& c = views.corners[0];
    Vec3d e1, e2;
    const Vec3d p0{c[0].x, c[0].y, 1}, p1{c[1].x, c[1].y, 1}, p3{c[3].x, c[3].y, 1};
    PlaneEdgesFromCorners(p0, p1, {c[2].x, c[2].y, 1}, p3, e1, e2);
    // p0 + a e1 lies on the image line p0 p1 for every a (here a = 1).
    auto onLine = [](const Vec3d& a, const Vec3d& b, const Vec3d& q) {
        const double x = q[0] / q[2], y = q[1] / q[2];
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0]);
    };
    const Vec3d q1{p0[0] + e1[0], p0[1] + e1[1], p0[2] + e1[2]};
    const Vec3d q3{p0[0] + e2[0], p0[1] + e2[1], p0[2] + e2[2]};
    EXPECT_NEAR(onLine(p0, p1, q1), 0.0, 1e-6);
    EXPECT_NEAR(onLine(p0, p3, q3), 0.0, 1e-6);
}

}  // namespace
