#include "calibration/calibration_grid_record.h"
#include "calibration/calibration_records.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

std::vector<Point2d> Grid(int countA, int countB, double step = 10.0) {
    std::vector<Point2d> p;
    for (int b = 0; b < countB; ++b)
        for (int a = 0; a < countA; ++a) p.push_back({100.0 + a * step, 50.0 + b * step});
    return p;
}

bool AllFinite(const CalibrationGridRecord& r) {
    for (const Point2f& a : r.labelAnchors)
        if (!std::isfinite(a.x) || !std::isfinite(a.y)) return false;
    return true;
}

TEST(CalibrationGridRecord, StartsEmpty) {
    const CalibrationGridRecord r;
    EXPECT_EQ(r.scale, 1.0);
    EXPECT_FALSE(r.gridSet);
    EXPECT_FALSE(r.pointsValid);
    EXPECT_EQ(r.n, 0);
    EXPECT_TRUE(r.points.empty());
}

struct GridCase {
    const char* name;
    int countA, countB;
    size_t given;
    bool valid;
    size_t held;  // points in the record afterwards
};

TEST(CalibrationGridRecord, SetGridPointsTable) {
    const GridCase cases[] = {
        {"9 x 6 with 54 points", 9, 6, 54, true, 54},
        {"9 x 6 with 53 points", 9, 6, 53, false, 54},
        {"9 x 6 with no points", 9, 6, 0, false, 54},
        {"a single row", 9, 1, 9, true, 9},
        {"a single column", 1, 6, 6, true, 6},
        {"negative count", -9, 6, 54, false, 0},
        {"both negative", -9, -6, 54, false, 0},
        {"zero count", 0, 6, 0, false, 0},
        {"above 101 x 101", 102, 2, 204, false, 0},
    };
    for (const GridCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Point2d> given;
        if (c.countA > 0 && c.countB > 0) given = Grid(c.countA, c.countB);
        given.resize(c.given, Point2d{1.0, 1.0});
        CalibrationGridRecord r;
        r.SetGridPoints(c.countA, c.countB, 25.0, 20.0, given);
        EXPECT_TRUE(r.gridSet);
        EXPECT_EQ(r.pointsValid, c.valid);
        ASSERT_EQ(r.points.size(), c.held);
        EXPECT_EQ(r.n, static_cast<int>(c.held));
        EXPECT_EQ(r.spacingX, 25.0);
        EXPECT_EQ(r.spacingY, 20.0);
        if (c.valid) {
            EXPECT_EQ(r.points[c.held - 1].x, given[c.held - 1].x);
            EXPECT_TRUE(AllFinite(r));
        } else {
            for (const Point2d& p : r.points) EXPECT_TRUE(p.x == 0.0 && p.y == 0.0);
        }
    }
}

TEST(CalibrationGridRecord, AnchorsOfASmallBoardByHand) {
    // 3 x 3 board, corners c0 (0, 0), c1 (20, 0), c2 (0, 20), c3 (20, 20):
    // the diagonals cross at (10, 10).
    const CalibrationGridRecord r(3, 3, 1.0, 1.0, [] {
        std::vector<Point2d> p;
        for (int b = 0; b < 3; ++b)
            for (int a = 0; a < 3; ++a) p.push_back({10.0 * a, 10.0 * b});
        return p;
    }());
    ASSERT_TRUE(r.pointsValid);
    const double d = 35.0 / std::sqrt(2.0);
    EXPECT_FLOAT_EQ(r.labelAnchors[0].x, 10.0f);  // midpoint of c2 c3, pushed down
    EXPECT_FLOAT_EQ(r.labelAnchors[0].y, 55.0f);
    EXPECT_FLOAT_EQ(r.labelAnchors[1].x, -35.0f);  // midpoint of c0 c2, pushed left
    EXPECT_FLOAT_EQ(r.labelAnchors[1].y, 10.0f);
    EXPECT_FLOAT_EQ(r.labelAnchors[2].x, static_cast<float>(-d));  // c2, along the diagonal
    EXPECT_FLOAT_EQ(r.labelAnchors[2].y, static_cast<float>(20.0 + d));
}

TEST(CalibrationGridRecord, SingleRowUsesTheCornersMean) {
    // c2 = c0 and c3 = c1: both diagonals are the row itself.
    const CalibrationGridRecord r(5, 1, 1.0, 1.0, Grid(5, 1));
    ASSERT_TRUE(r.pointsValid);
    ASSERT_TRUE(AllFinite(r));
    // Anchor 1 (midpoint of c2 c3) is the mean itself and stays; anchors 2
    // and 3 (at c0) move 35 px away from it along the row.
    EXPECT_FLOAT_EQ(r.labelAnchors[0].x, 120.0f);
    EXPECT_FLOAT_EQ(r.labelAnchors[0].y, 50.0f);
    EXPECT_FLOAT_EQ(r.labelAnchors[1].x, 65.0f);
    EXPECT_FLOAT_EQ(r.labelAnchors[2].x, 65.0f);
}

TEST(CalibrationGridRecord, CopyAndClear) {
    CalibrationGridRecord r(9, 6, 25.0, 25.0, Grid(9, 6));
    CalibrationGridRecord copy = r;
    r.ClearGrid();
    EXPECT_TRUE(r.points.empty());
    EXPECT_FALSE(r.pointsValid);
    EXPECT_TRUE(r.gridSet);
    EXPECT_EQ(copy.points.size(), 54u);
    EXPECT_TRUE(copy.pointsValid);
    copy = r;
    EXPECT_TRUE(copy.points.empty());
}

TEST(CalibrationRecords, InitialStates) {
    CameraParameters p;
    p.d[4] = 5.0;
    p.K[8] = 1.0;
    p.R[0] = 3.0;
    p.width = 7;
    EXPECT_EQ(InitCameraParameters(&p), &p);
    const CameraParameters fresh;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(p.d[i], 0.0);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(p.K[i], 0.0);
        EXPECT_EQ(p.R[i], (i % 4 == 0) ? 1.0 : 0.0);
        EXPECT_EQ(fresh.R[i], p.R[i]);
    }
    EXPECT_EQ(p.width, 0);
    CalibrationObjectSettings s{25.0, 25.0, 9, 6, 5, 5};
    EXPECT_EQ(InitCalibrationObjectSettings(&s), &s);
    EXPECT_EQ(s.squareSizeX, 0.0);
    EXPECT_EQ(s.squaresX, 0);
    EXPECT_EQ(s.windowX, 3);
    EXPECT_EQ(s.windowY, 3);
}

TEST(CalibrationRecords, BoardPredicate) {
    struct Case {
        const char* name;
        CalibrationObjectSettings s;
        bool valid;
    };
    const double inf = INFINITY;
    const Case cases[] = {
        {"default 9 x 6", {25, 25, 9, 6, 3, 3}, true},
        {"metres", {0.025, 0.025, 9, 6, 3, 3}, true},
        {"smallest", {1e-9, 1e-9, 2, 2, 1, 1}, true},
        {"largest", {1e6, 1e6, 101, 101, 100, 1000}, true},
        {"initial settings", {}, false},
        {"one point along x", {25, 25, 1, 6, 3, 3}, false},
        {"102 points along y", {25, 25, 9, 102, 3, 3}, false},
        {"negative count", {25, 25, -9, 6, 3, 3}, false},
        {"zero size", {0, 25, 9, 6, 3, 3}, false},
        {"negative size", {25, -25, 9, 6, 3, 3}, false},
        {"infinite size", {inf, 25, 9, 6, 3, 3}, false},
        {"NaN size", {25, NAN, 9, 6, 3, 3}, false},
        {"window x 0", {25, 25, 9, 6, 0, 3}, false},
        {"window x 101", {25, 25, 9, 6, 101, 3}, false},
        {"window y 1001", {25, 25, 9, 6, 3, 1001}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidBoard(c.s), c.valid) << c.name;
}

}  // namespace
