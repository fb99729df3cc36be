// The object editor's window-free model against rendered boards of known
// geometry: the mapping, the corner order, detection, the guards, the
// distortion step and point grabbing.
#include "app_core/object_editor_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include <opencv2/core/core_c.h>

#include "calibration/board_geometry.h"
#include "calibration/calibration_data_store.h"
#include "gdiplus/startup.h"
#include "synthetic_board/synthetic_board.h"

namespace {

using View = ObjectEditorModel::ViewPoint;
constexpr int kViewW = 395, kViewH = 350;

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput in;
        Gdiplus::GdiplusStartup(&token_, &in, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};
::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

IplImage* ToIpl(const cv::Mat& m) {
    IplImage* image = cvCreateImage(cvSize(m.cols, m.rows), IPL_DEPTH_8U, m.channels());
    cv::Mat dst = cv::cvarrToMat(image);
    m.copyTo(dst);
    return image;
}

IplImage* Uniform(int w, int h, int value) {
    IplImage* image = cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, 3);
    cvSet(image, cvScalarAll(value));
    return image;
}

synthetic::CameraModel Pinhole() { return synthetic::CameraA().WithoutDistortion(); }

// The lens of the distortion tests: k1 only, principal point at the editor's
// image centre.
synthetic::CameraModel K1Lens() {
    synthetic::CameraModel c;
    c.fx = c.fy = 533.0;
    c.cx = 320.5, c.cy = 240.5;
    c.k1 = -0.29;
    c.width = 640, c.height = 480;
    return c;
}

class ObjectEditorModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.AddCamera();
        store.SetObjectSettings(0, 25.0, 25.0, 9, 6, 3, 3);
        model.SetDataStore(&store);
        model.SetViewSize(kViewW, kViewH);
    }

    // Renders the views into the store, opens the editor on image 0.
    void Load(const synthetic::CameraModel& camera, const std::vector<synthetic::Pose>& poses) {
        synthetic::Options o;
        o.cameraA = camera;
        o.poses = poses;
        Use(synthetic::MakeDataset(o));
    }
    void LoadDefault(const synthetic::CameraModel& camera, int views, int seed) {
        synthetic::Options o;
        o.cameraA = camera;
        o.views = views;
        o.seed = seed;
        Use(synthetic::MakeDataset(o));
    }
    void Use(const synthetic::Dataset& d) {
        data = d;
        for (const auto& v : data.views) {
            synthetic::RenderOptions r;
            r.color = true;
            ASSERT_EQ(store.AddImage(0, ToIpl(synthetic::RenderBoard(data.options.cameraA, data.options.board, v.poseA, r))), 1);
        }
        model.OpenForCamera(0);
        model.SetImageIndex(0);
    }

    View Nearest(cv::Point2d p) const {
        const View v = model.ImageToView({p.x, p.y});
        return {std::round(v.x), std::round(v.y)};
    }

    // Four clicks at the true outer corners, the first at point n - squaresX.
    void ClickCorners(int view, bool panEachClick = false) {
        const auto& c = data.views[view].cornersA;  // 0, sx - 1, n - sx, n - 1
        const cv::Point2d order[4] = {c[2], c[3], c[1], c[0]};
        for (const cv::Point2d& p : order) {
            if (panEachClick) PanTo(p);
            model.LeftButtonDown(Nearest(p), true, false);
        }
    }

    // Pans with the right button until p lies inside the view's middle.
    void PanTo(cv::Point2d p) {
        model.RightButtonDown({200, 175}, true);
        for (int guard = 0; guard < 20; ++guard) {
            const View v = model.ImageToView({p.x, p.y});
            if (v.x > 40 && v.x < kViewW - 40 && v.y > 40 && v.y < kViewH - 40) break;
            const double dx = std::clamp(v.x - kViewW / 2.0, -150.0, 150.0);
            const double dy = std::clamp(v.y - kViewH / 2.0, -150.0, 150.0);
            model.MouseMove({200 - dx, 175 - dy}, true, false, true, false);
            model.RightButtonUp();
            model.RightButtonDown({200, 175}, true);
        }
        model.RightButtonUp();
    }

    void Select() {
        model.ExecuteCommand(ObjectEditorModel::kSelectGrid, 0);
        ASSERT_TRUE(model.SelectMode());
    }

    std::vector<Point2d> Detected(int image = 0) {
        std::vector<Point2d> p;
        for (int i = 0; i < store.GetImagePointCount(0, image); ++i) p.push_back(store.GetImagePoint(0, image, i));
        return p;
    }

    void ExpectNearTruth(int view, const std::vector<Point2d>& points, double maxError, double meanError) {
        const auto& truth = data.views[view].truePointsA;
        ASSERT_EQ(points.size(), truth.size());
        double sx = 0, sy = 0;
        for (size_t i = 0; i < truth.size(); ++i) {
            EXPECT_NEAR(points[i].x, truth[i].x, maxError) << "point " << i;
            EXPECT_NEAR(points[i].y, truth[i].y, maxError) << "point " << i;
            sx += points[i].x - truth[i].x;
            sy += points[i].y - truth[i].y;
        }
        // The mean signed error: a bias of the mapping shows here.
        EXPECT_LT(std::abs(sx) / truth.size(), meanError);
        EXPECT_LT(std::abs(sy) / truth.size(), meanError);
    }

    CalibrationDataStore store;
    ObjectEditorModel model;
    synthetic::Dataset data;
};

// ---- Mapping ----

TEST_F(ObjectEditorModelTest, OneMappingForPickingMarksAndGrabbing) {
    store.AddImage(0, Uniform(640, 480, 128));
    model.OpenForCamera(0);
    model.SetImageIndex(0);
    struct Case {
        int magnifies;
        View pan;  // right-button drag in view pixels
        View at;
        Point2d image;
    };
    // Unmagnified: 640 / 395, 480 / 350. Zoom 2 from (0, 0). Zoom 4 panned
    // to (100, 50): a drag of -400, -200 view px moves the source by +100, +50.
    const Case cases[] = {
        {0, {0, 0}, {0, 0}, {0, 0}},
        {0, {0, 0}, {395, 350}, {640, 480}},
        {0, {0, 0}, {100, 70}, {100 * 640.0 / 395, 70 * 480.0 / 350}},
        {1, {0, 0}, {395, 350}, {320, 240}},
        {1, {0, 0}, {79, 35}, {79 * 320.0 / 395, 35 * 240.0 / 350}},
        {2, {-400, -200}, {0, 0}, {100, 50}},
        {2, {-400, -200}, {395, 350}, {260, 170}},
    };
    for (const Case& c : cases) {
        model.ExecuteCommand(ObjectEditorModel::kMagnify, ObjectEditorModel::kDoubleClicked);
        for (int i = 0; i < c.magnifies; ++i) model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
        if (c.pan.x || c.pan.y) {
            model.RightButtonDown({395, 350}, true);
            model.MouseMove({395 + c.pan.x, 350 + c.pan.y}, true, false, true, false);
            model.RightButtonUp();
        }
        const Point2d p = model.ViewToImage(c.at);
        EXPECT_NEAR(p.x, c.image.x, 1e-9);
        EXPECT_NEAR(p.y, c.image.y, 1e-9);
        const View back = model.ImageToView(p);
        EXPECT_NEAR(back.x, c.at.x, 1e-9);
        EXPECT_NEAR(back.y, c.at.y, 1e-9);
    }
}

TEST_F(ObjectEditorModelTest, MagnifyStopsAtOnePixelAndPanStaysInside) {
    store.AddImage(0, Uniform(640, 480, 128));
    model.OpenForCamera(0);
    model.SetImageIndex(0);
    for (int i = 0; i < 20; ++i) model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    // 480 / 256 = 1.875 px; one more doubling would leave 0.94 px.
    EXPECT_FLOAT_EQ(model.Zoom(), 256.0f);
    EXPECT_GE(model.SourceHeight(), 1.0);
    EXPECT_NE(model.InfoText().find("Zoom: X256.0"), std::string::npos);

    model.ExecuteCommand(ObjectEditorModel::kMagnify, ObjectEditorModel::kDoubleClicked);
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    EXPECT_FLOAT_EQ(model.Zoom(), 4.0f);
    EXPECT_DOUBLE_EQ(model.SourceWidth(), 160.0);
    model.RightButtonDown({300, 300}, true);
    EXPECT_TRUE(model.MouseMove({260, 280}, true, false, true, false));  // -40, -20 view px
    EXPECT_DOUBLE_EQ(model.SourceX(), 10.0);
    EXPECT_DOUBLE_EQ(model.SourceY(), 5.0);
    model.MouseMove({-5000, -5000}, true, false, true, false);
    EXPECT_DOUBLE_EQ(model.SourceX(), 640.0 - 160.0);
    EXPECT_DOUBLE_EQ(model.SourceY(), 480.0 - 120.0);
    model.MouseMove({5000, 5000}, true, false, true, false);
    EXPECT_DOUBLE_EQ(model.SourceX(), 0.0);
    EXPECT_DOUBLE_EQ(model.SourceY(), 0.0);
    model.RightButtonUp();
    EXPECT_FALSE(model.MouseMove({0, 0}, true, false, true, false));
}

// ---- Corner order ----

TEST(ObjectEditorCornerOrder, ClockwiseFromTheFirstClickWhichComesLast) {
    // Screen positions (y down) of top-left, top-right, bottom-right,
    // bottom-left: a rectangle and a perspective quadrilateral.
    const std::array<std::array<Point2d, 4>, 2> shapes = {{
        {{{100, 100}, {500, 100}, {500, 400}, {100, 400}}},
        {{{150, 80}, {470, 130}, {430, 390}, {90, 420}}},
    }};
    for (const auto& shape : shapes) {
        std::array<int, 4> order = {0, 1, 2, 3};
        do {
            const std::array<Point2d, 4> clicked = {shape[order[0]], shape[order[1]], shape[order[2]], shape[order[3]]};
            const auto sorted = ObjectEditorModel::SortCorners(clicked);
            // Clockwise on screen: TL -> TR -> BR -> BL.
            for (int i = 0; i < 4; ++i) {
                const int expected = (order[0] + 1 + i) % 4;
                EXPECT_DOUBLE_EQ(sorted[i].x, shape[expected].x);
                EXPECT_DOUBLE_EQ(sorted[i].y, shape[expected].y);
            }
        } while (std::next_permutation(order.begin(), order.end()));
    }
}

// ---- Detection ----

TEST_F(ObjectEditorModelTest, DetectsZeroDistortionBoards) {
    LoadDefault(Pinhole(), 3, 7);
    Select();
    for (int v = 0; v < 3; ++v) {
        model.SetImageIndex(v);
        ClickCorners(v);
        ASSERT_TRUE(store.IsImageDetected(0, v)) << "view " << v;
        ExpectNearTruth(v, Detected(v), 0.3, 0.03);
        const CalibrationGridRecord record = store.GetGridRecord(0, v);
        EXPECT_TRUE(record.gridSet && record.pointsValid);
        EXPECT_EQ(record.points.size(), 54u);
        EXPECT_EQ(store.GetCornerPointList(0, v)->size(), 4u);
        const auto before = Detected(v);
        model.LeftButtonDown(Nearest(data.views[v].truePointsA[20]), true, false);  // a fifth click
        EXPECT_EQ(store.GetCornerPointList(0, v)->size(), 4u);
        EXPECT_EQ(Detected(v)[20].x, before[20].x);
    }
}

TEST_F(ObjectEditorModelTest, DetectsCentredBoardsThroughCameraA) {
    std::vector<synthetic::Pose> poses;
    const cv::Vec3d centre(100.0, 62.5, 0.0);
    const double tilts[][2] = {{0.15, 0.0}, {-0.1, 0.2}, {0.0, -0.25}};
    const double depths[] = {380.0, 410.0, 450.0};
    for (int i = 0; i < 3; ++i) {
        const cv::Matx33d R = synthetic::Pose::FromVector({tilts[i][0], tilts[i][1], 0.05}, {0, 0, 0}).R *
                              synthetic::SquareOnRotation();
        // Board centre on the image's centre line.
        const cv::Vec3d toward((320.0 - 342.49) / 533.09 * depths[i], (240.0 - 233.87) / 533.21 * depths[i], depths[i]);
        poses.push_back(synthetic::Pose::FromRotation(R, toward - R * centre));
    }
    Load(synthetic::CameraA(), poses);
    Select();
    for (int v = 0; v < 3; ++v) {
        model.SetImageIndex(v);
        ClickCorners(v);
        ASSERT_TRUE(store.IsImageDetected(0, v));
        ExpectNearTruth(v, Detected(v), 0.3, 0.03);
    }
}

TEST_F(ObjectEditorModelTest, DetectsMagnifiedWithPanning) {
    LoadDefault(Pinhole(), 2, 11);
    Select();
    for (int v = 0; v < 2; ++v) {
        model.SetImageIndex(v);
        model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
        ClickCorners(v, true);
        ASSERT_TRUE(store.IsImageDetected(0, v));
        ExpectNearTruth(v, Detected(v), 0.3, 0.03);
        model.ExecuteCommand(ObjectEditorModel::kMagnify, ObjectEditorModel::kDoubleClicked);
    }
}

// What the user's first click decides, on an upright 9 x 6 board (9 points
// across): the first corner clicked is labelled O; the x axis, squaresX
// points, runs from it to the next corner counter-clockwise on screen (X
// beside that edge), y to the next corner clockwise (Y), and grid point 0
// (the circle) is that clockwise corner. The other three clicks may come in
// any order. A first click that puts x along the 6-point side gives a grid
// that is not the board.
TEST_F(ObjectEditorModelTest, FirstClickSetsOriginAndAxes) {
    synthetic::Options o;
    o.cameraA = Pinhole();
    o.views = 1;
    o.squareOnViews = 1;
    o.seed = 3;
    Use(synthetic::MakeDataset(o));
    Select();
    const std::vector<cv::Point2d>& truth = data.views[0].truePointsA;
    const int n = static_cast<int>(truth.size()), nx = 9;
    enum Corner { kTopLeft, kTopRight, kBottomRight, kBottomLeft };  // clockwise on screen
    const cv::Point2d corner[4] = {truth[0], truth[nx - 1], truth[n - 1], truth[n - nx]};
    ASSERT_LT(corner[kTopLeft].x + 100, corner[kTopRight].x);  // upright: 9 across, 6 down
    ASSERT_LT(corner[kTopLeft].y + 50, corner[kBottomLeft].y);
    // Edge e runs from corner e to corner e + 1: top, right, bottom, left.
    auto nearestEdge = [&](const Point2f& p) {
        int best = 0;
        double bestDistance = INFINITY;
        for (int e = 0; e < 4; ++e) {
            const cv::Point2d mid = (corner[e] + corner[(e + 1) % 4]) * 0.5;
            const double d = std::hypot(p.x - mid.x, p.y - mid.y);
            if (d < bestDistance) bestDistance = d, best = e;
        }
        return best;
    };
    auto nearestCorner = [&](double x, double y) {
        int best = 0;
        for (int c = 1; c < 4; ++c)
            if (std::hypot(x - corner[c].x, y - corner[c].y) < std::hypot(x - corner[best].x, y - corner[best].y))
                best = c;
        return best;
    };
    enum Grid { kAsTheBoard, kReversed, kNotTheBoard };
    const struct {
        const char* name;
        Corner first, origin, xEdge, yEdge, pointZero;
        Grid grid;
    } cases[] = {
        {"bottom-left first", kBottomLeft, kBottomLeft, kBottomRight /* bottom edge */, kBottomLeft /* left */,
         kTopLeft, kAsTheBoard},
        {"top-right first", kTopRight, kTopRight, kTopLeft /* top */, kTopRight /* right */, kBottomRight, kReversed},
        {"top-left first", kTopLeft, kTopLeft, kBottomLeft /* left */, kTopLeft /* top */, kTopRight, kNotTheBoard},
        {"bottom-right first", kBottomRight, kBottomRight, kTopRight /* right */, kBottomRight /* bottom */,
         kBottomLeft, kNotTheBoard},
    };
    for (const auto& c : cases) {
        std::array<int, 3> rest;
        for (int k = 0, i = 0; k < 4; ++k)
            if (k != c.first) rest[i++] = k;
        do {
            SCOPED_TRACE(::testing::Message() << c.name << ", then " << rest[0] << rest[1] << rest[2]);
            store.ResetImageDetection(0, 0);
            model.LeftButtonDown(Nearest(corner[c.first]), true, false);
            for (int k : rest) model.LeftButtonDown(Nearest(corner[k]), true, false);
            ASSERT_TRUE(store.IsImageDetected(0, 0));
            const CalibrationGridRecord record = store.GetGridRecord(0, 0);
            // The labels are drawn at the record's anchors: "X", "Y", "O".
            EXPECT_EQ(nearestEdge(record.labelAnchors[0]), c.xEdge);
            EXPECT_EQ(nearestEdge(record.labelAnchors[1]), c.yEdge);
            EXPECT_EQ(nearestCorner(record.labelAnchors[2].x, record.labelAnchors[2].y), c.origin);
            const std::vector<Point2d> points = Detected();
            ASSERT_EQ(points.size(), truth.size());
            EXPECT_EQ(nearestCorner(points[0].x, points[0].y), c.pointZero);
            double asBoard = 0, reversed = 0;
            for (int i = 0; i < n; ++i) {
                asBoard = std::max(asBoard, std::hypot(points[i].x - truth[i].x, points[i].y - truth[i].y));
                reversed = std::max(reversed, std::hypot(points[i].x - truth[n - 1 - i].x, points[i].y - truth[n - 1 - i].y));
            }
            switch (c.grid) {
            case kAsTheBoard: EXPECT_LT(asBoard, 0.3); break;
            case kReversed: EXPECT_LT(reversed, 0.3); break;
            case kNotTheBoard: EXPECT_GT(std::min(asBoard, reversed), 3.0); break;
            }
        } while (std::next_permutation(rest.begin(), rest.end()));
    }
}

// ---- Guards ----

TEST_F(ObjectEditorModelTest, GuardsStoreNothingWhereTheyShouldNot) {
    // Nothing opened: every entry point is a no-op.
    ObjectEditorModel fresh;
    fresh.SetDataStore(&store);
    fresh.SetViewSize(kViewW, kViewH);
    EXPECT_FALSE(fresh.ExecuteCommand(ObjectEditorModel::kMagnify, 0));
    EXPECT_FALSE(fresh.LeftButtonDown({10, 10}, true, false).cornerPicked);
    EXPECT_FALSE(fresh.BuildScene().visible);
    EXPECT_TRUE(fresh.InfoText().empty());
    fresh.OpenForCamera(0);  // a camera without images
    fresh.SetImageIndex(0);
    EXPECT_FALSE(fresh.ExecuteCommand(ObjectEditorModel::kSelectGrid, 0));
    EXPECT_FALSE(fresh.BuildScene().visible);
    EXPECT_FALSE(fresh.EnterDistortionText("0.5"));

    // An image index past a cleared list.
    store.AddImage(0, Uniform(640, 480, 100));
    fresh.SetImageIndex(0);
    EXPECT_TRUE(fresh.BuildScene().visible);  // the empty source is repaired
    EXPECT_DOUBLE_EQ(fresh.SourceWidth(), 640.0);
    store.ClearEntryImages(0);
    EXPECT_FALSE(fresh.BuildScene().visible);
    EXPECT_FALSE(fresh.ExecuteCommand(ObjectEditorModel::kResetPoints, 0));
    EXPECT_FALSE(fresh.ExecuteCommand(ObjectEditorModel::kNextImage, 0));
}

TEST_F(ObjectEditorModelTest, HalfWindowFitsTheImage) {
    int hx = 0, hy = 0;
    ASSERT_TRUE(ObjectEditorModel::HalfWindow(3, 3, 640, 480, &hx, &hy));
    EXPECT_EQ(hx, 7);
    ASSERT_TRUE(ObjectEditorModel::HalfWindow(100, 1000, 640, 480, &hx, &hy));
    EXPECT_EQ(hx, 201);
    EXPECT_EQ(hy, 237);
    ASSERT_TRUE(ObjectEditorModel::HalfWindow(3, 3, 7, 7, &hx, &hy));
    EXPECT_EQ(hx, 1);
    EXPECT_FALSE(ObjectEditorModel::HalfWindow(3, 3, 6, 6, &hx, &hy));

    // A big window and a tiny image detect without throwing.
    store.SetObjectSettings(0, 25.0, 25.0, 9, 6, 100, 100);
    store.AddImage(0, Uniform(640, 480, 90));
    store.AddImage(0, Uniform(6, 6, 90));
    model.OpenForCamera(0);
    model.SetImageIndex(0);
    Select();
    for (int image : {0, 1}) {
        model.SetImageIndex(image);
        for (View p : {View{50, 250}, View{50, 50}, View{300, 50}, View{300, 250}}) model.LeftButtonDown(p, true, false);
        EXPECT_TRUE(store.IsImageDetected(0, image)) << image;
        EXPECT_EQ(store.GetImagePointCount(0, image), 54);
    }
}

TEST_F(ObjectEditorModelTest, BadCornerSetsPredictNothing) {
    store.AddImage(0, Uniform(640, 480, 90));
    model.OpenForCamera(0);
    model.SetImageIndex(0);
    Select();
    const std::vector<std::vector<Point2d>> bad = {
        {{100, 100}, {100, 100}, {100, 100}, {100, 100}},       // one corner
        {{100, 100}, {200, 200}, {300, 300}, {100, 300}},       // three collinear
        {{100, 100}, {400, 100}, {250, 150}, {250, 400}},       // not convex
        {{100, 100}, {400, 100}, {400, 400}, {1e12, 0}},        // far outside
        {{100, 100}, {400, 100}, {400, 400}, {std::numeric_limits<double>::quiet_NaN(), 0}},
    };
    for (const auto& corners : bad) {
        *store.GetCornerPointList(0, 0) = corners;
        EXPECT_FALSE(model.PredictGrid());
        EXPECT_FALSE(store.IsImageDetected(0, 0));
        EXPECT_EQ(store.GetImagePointCount(0, 0), 0);
    }
    // Four clicks on one corner through the view: no grid either.
    store.ResetImageDetection(0, 0);
    for (int i = 0; i < 4; ++i) model.LeftButtonDown({100, 100}, true, false);
    EXPECT_FALSE(store.IsImageDetected(0, 0));
    EXPECT_EQ(store.GetImagePointCount(0, 0), 0);
}

TEST_F(ObjectEditorModelTest, SingleRowBoardIsNotSelectable) {
    store.AddImage(0, Uniform(640, 480, 90));
    store.SetObjectSettings(0, 0.0, 0.0, 0, 0, 3, 3);  // no board
    model.OpenForCamera(0);
    model.SetImageIndex(0);
    model.ExecuteCommand(ObjectEditorModel::kSelectGrid, 0);
    EXPECT_FALSE(model.SelectMode());
    // A record with one row reaching the distortion step changes nothing.
    store.GetMutableGridRecord(0, 0)->SetGridPoints(9, 1, 25.0, 25.0, std::vector<Point2d>(9, Point2d{10, 10}));
    *store.GetImagePointList(0, 0) = std::vector<Point2d>(9, Point2d{10, 10});
    model.ExecuteCommand(ObjectEditorModel::kMoreDistortion, 0);
    for (const Point2d& p : Detected()) EXPECT_EQ(p.x, 10.0);
}

TEST_F(ObjectEditorModelTest, ImagesOfTwoSizesUseTheirOwn) {
    LoadDefault(Pinhole(), 1, 3);
    store.AddImage(0, Uniform(320, 200, 90));
    model.SetImageIndex(1);
    EXPECT_TRUE(model.BuildScene().visible);
    EXPECT_DOUBLE_EQ(model.SourceWidth(), 320.0);  // the 640-wide source was repaired
    Select();
    for (View p : {View{50, 300}, View{50, 50}, View{300, 50}, View{300, 300}}) model.LeftButtonDown(p, true, false);
    EXPECT_TRUE(store.IsImageDetected(0, 1));
    model.ExecuteCommand(ObjectEditorModel::kPrevImage, 0);
    EXPECT_TRUE(model.BuildScene().visible);
    EXPECT_DOUBLE_EQ(model.SourceWidth(), 320.0);  // inside the larger image: kept
}

TEST_F(ObjectEditorModelTest, FarRecordCornerThroughMoreAndLess) {
    LoadDefault(Pinhole(), 1, 3);
    Select();
    ClickCorners(0);
    ASSERT_TRUE(store.IsImageDetected(0, 0));
    store.SetImagePoint(0, 0, 0, 1e12, 0.0);
    model.ExecuteCommand(ObjectEditorModel::kMoreDistortion, 0);
    model.ExecuteCommand(ObjectEditorModel::kLessDistortion, 0);
    EXPECT_EQ(model.DistortionText(), "0.0");
    for (const Point2d& p : Detected()) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    EXPECT_TRUE(store.IsImageDetected(0, 0));
}

TEST_F(ObjectEditorModelTest, OpeningAnotherCameraKeepsDistortionAndMagnification) {
    LoadDefault(Pinhole(), 1, 3);
    store.AddCamera();
    store.AddImage(1, Uniform(640, 480, 90));
    Select();
    ClickCorners(0);
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    model.ExecuteCommand(ObjectEditorModel::kMoreDistortion, 0);
    ASSERT_TRUE(model.FocalEstimateValid());
    model.OpenForCamera(1);
    EXPECT_TRUE(model.Magnified());
    EXPECT_FLOAT_EQ(model.Zoom(), 1.0f);
    EXPECT_TRUE(model.FocalEstimateValid());
    EXPECT_DOUBLE_EQ(model.DistortionSetting(), 0.5);
}

// ---- The radial model ----

TEST(ObjectEditorRadius, SolvesTheCubicOrClampsAtTheTurn) {
    const double as[] = {0.5, 0.05, 1e-9, 1e-40, -1e-40, -0.05, -0.29, -0.5, -1.5};
    const double rs[] = {0.0, 0.1, 0.5, 1.0};
    for (double a : as) {
        for (double r : rs) {
            const double ru = ObjectEditorModel::UndistortRadius(a, r);
            ASSERT_TRUE(std::isfinite(ru)) << a << " " << r;
            if (a < 0.0 && a < -1e-12) {
                const double turn = 1.0 / std::sqrt(-3.0 * a);
                const double rMax = turn + a * turn * turn * turn;
                if (r > rMax) {
                    EXPECT_NEAR(ru, turn, 1e-12) << a << " " << r;
                    continue;
                }
            }
            EXPECT_NEAR(ru + a * ru * ru * ru, r, 1e-9) << a << " " << r;
        }
    }
}

// ---- Distortion step ----

TEST_F(ObjectEditorModelTest, BentGridFollowsARadialLens) {
    LoadDefault(K1Lens(), 4, 5);
    Select();
    for (int v = 0; v < 4; ++v) {
        model.SetImageIndex(v);
        ClickCorners(v);
        ASSERT_TRUE(store.IsImageDetected(0, v));
        const CalibrationGridRecord record = store.GetGridRecord(0, v);
        ASSERT_TRUE(model.EnterDistortionText("0.5"));
        ASSERT_TRUE(model.FocalEstimateValid());
        const double fe = model.FocalEstimate();
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", -0.29 * (fe / 533.0) * (fe / 533.0));
        ASSERT_TRUE(model.EnterDistortionText(text));
        ExpectNearTruth(v, Detected(v), 0.3, 0.3);
        EXPECT_TRUE(store.IsImageDetected(0, v));
        const CalibrationGridRecord after = store.GetGridRecord(0, v);
        for (size_t i = 0; i < record.points.size(); ++i) EXPECT_EQ(after.points[i].x, record.points[i].x);
        if (model.ExecuteCommand(ObjectEditorModel::kNextImage, 0)) {
            EXPECT_FALSE(model.FocalEstimateValid());
            EXPECT_EQ(model.DistortionText(), "0.0");
        }
    }
}

TEST_F(ObjectEditorModelTest, TinySettingIsTheCornerHomographyAndLessRestoresTheGrid) {
    LoadDefault(Pinhole(), 1, 9);
    Select();
    ClickCorners(0);
    const std::vector<Point2d> refined = Detected();
    const CalibrationGridRecord record = store.GetGridRecord(0, 0);
    ASSERT_TRUE(model.EnterDistortionText("1e-9"));
    const int nx = 9, n = 54;
    const double corners[8] = {record.points[0].x,      record.points[0].y,      record.points[nx - 1].x,
                               record.points[nx - 1].y, record.points[n - 1].x,  record.points[n - 1].y,
                               record.points[n - nx].x, record.points[n - nx].y};
    double H[9];
    ASSERT_TRUE(HomographyFromFourPoints(H, corners));
    const auto bent = Detected();
    for (int j = 0; j < n; ++j) {
        const double u = (j % nx) / 8.0, v = (j / nx) / 5.0, w = H[6] * u + H[7] * v + H[8];
        EXPECT_NEAR(bent[j].x, (H[0] * u + H[1] * v + H[2]) / w, 1e-3) << j;
        EXPECT_NEAR(bent[j].y, (H[3] * u + H[4] * v + H[5]) / w, 1e-3) << j;
    }
    EXPECT_NE(model.InfoText().find("F Estimate: "), std::string::npos);

    model.ExecuteCommand(ObjectEditorModel::kLessDistortion, 0);  // 1e-9 - 0.5
    ASSERT_TRUE(model.EnterDistortionText("0.0"));
    model.ExecuteCommand(ObjectEditorModel::kMoreDistortion, 0);
    EXPECT_EQ(model.DistortionText(), "0.5");
    model.ExecuteCommand(ObjectEditorModel::kLessDistortion, 0);
    EXPECT_EQ(model.DistortionText(), "0.0");
    const auto back = Detected();
    for (int j = 0; j < n; ++j) {
        EXPECT_NEAR(back[j].x, refined[j].x, 0.01) << j;
        EXPECT_NEAR(back[j].y, refined[j].y, 0.01) << j;
    }
}

TEST_F(ObjectEditorModelTest, DistortionTextIsParsedOrRefused) {
    LoadDefault(Pinhole(), 1, 9);
    Select();
    ClickCorners(0);
    struct Case {
        const char* text;
        bool accepted;
        double setting;
    };
    const Case cases[] = {{"-1.5", true, -1.5}, {"0.5x", true, 0.5}, {"nan", false, 0.5},
                          {"inf", false, 0.5},  {"x", false, 0.5},   {"", false, 0.5}};
    for (const Case& c : cases) {
        EXPECT_EQ(model.EnterDistortionText(c.text), c.accepted) << c.text;
        EXPECT_DOUBLE_EQ(model.DistortionSetting(), c.setting) << c.text;
        if (!c.accepted) {
            EXPECT_EQ(model.DistortionText(), "0.5");
        }
        for (const Point2d& p : Detected()) ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << c.text;
    }
}

TEST_F(ObjectEditorModelTest, SquareOnViewGivesNoEstimate) {
    // A board seen exactly square-on: an axis-aligned grid.
    store.AddImage(0, Uniform(640, 480, 90));
    model.OpenForCamera(0);
    model.SetImageIndex(0);
    std::vector<Point2d> grid;
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 9; ++c) grid.push_back({100.0 + 40.0 * c, 80.0 + 40.0 * r});
    store.GetMutableGridRecord(0, 0)->SetGridPoints(9, 6, 25.0, 25.0, grid);
    *store.GetImagePointList(0, 0) = grid;
    store.SetImageDetected(0, 0, true);
    const auto before = Detected();
    model.ExecuteCommand(ObjectEditorModel::kMoreDistortion, 0);
    EXPECT_FALSE(model.FocalEstimateValid());
    const auto after = Detected();
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i].x, before[i].x);
    EXPECT_EQ(model.InfoText().find("F Estimate"), std::string::npos);
}

// ---- Grabbing ----

TEST_F(ObjectEditorModelTest, GrabsWithinTheRadiusAndDragsByTheImageDelta) {
    store.AddImage(0, Uniform(640, 480, 90));
    model.OpenForCamera(0);
    model.SetImageIndex(0);
    std::vector<Point2d> pts(54, Point2d{600, 400});
    pts[3] = {100.0, 100.0};
    pts[4] = {102.0, 100.0};  // within 3 px of 3
    *store.GetImagePointList(0, 0) = pts;
    store.GetMutableGridRecord(0, 0)->SetGridPoints(9, 6, 25, 25, pts);
    // Zoom 2 so that one view pixel is half an image pixel.
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    struct Case {
        double dx;
        bool grabbed;
        int index;
    };
    for (const Case& c : {Case{-2.9, true, 3}, Case{-3.0, false, -1}, Case{0.5, true, 3}}) {
        model.LeftButtonUp();
        const auto r = model.LeftButtonDown(model.ImageToView({100.0 + c.dx, 100.0}), true, true);
        EXPECT_EQ(r.grabbed, c.grabbed) << c.dx;
        if (c.grabbed) {
            EXPECT_EQ(model.GrabbedIndex(), c.index);
        }
    }
    // Dragging 10 view px right and 4 down moves the point by the image
    // delta at zoom 2: 10 x 320 / 395 and 4 x 240 / 350.
    const View from = model.ImageToView({100.5, 100.0});
    EXPECT_TRUE(model.MouseMove({from.x + 10, from.y + 4}, true, true, false, true));
    const double dx = 10 * 320.0 / kViewW, dy = 4 * 240.0 / kViewH;
    EXPECT_NEAR(store.GetImagePoint(0, 0, 3).x, 100.0 + dx, 1e-9);
    EXPECT_NEAR(store.GetImagePoint(0, 0, 3).y, 100.0 + dy, 1e-9);
    EXPECT_NEAR(store.GetGridRecord(0, 0).points[3].x, 100.0 + dx, 1e-9);
    EXPECT_NEAR(store.GetGridRecord(0, 0).points[3].y, 100.0 + dy, 1e-9);
    model.LeftButtonUp();
    EXPECT_FALSE(model.MouseMove({from.x + 30, from.y}, true, true, false, true));
}

TEST_F(ObjectEditorModelTest, AfterABendTheShownPointIsGrabbed) {
    LoadDefault(Pinhole(), 1, 9);
    Select();
    ClickCorners(0);
    ASSERT_TRUE(model.EnterDistortionText("1.5"));
    // The point the bend moved furthest from its grid record.
    const CalibrationGridRecord record = store.GetGridRecord(0, 0);
    int j = 0;
    double moved = 0.0;
    for (int i = 0; i < 54; ++i) {
        const Point2d s = store.GetImagePoint(0, 0, i);
        const double d = std::hypot(s.x - record.points[i].x, s.y - record.points[i].y);
        if (d > moved) moved = d, j = i;
    }
    ASSERT_GT(moved, 6.0);
    const Point2d shown = store.GetImagePoint(0, 0, j);
    const auto r = model.LeftButtonDown(model.ImageToView(shown), true, true);
    ASSERT_TRUE(r.grabbed);
    EXPECT_EQ(model.GrabbedIndex(), j);
    const View v = model.ImageToView(shown);
    model.MouseMove({v.x + 5, v.y}, true, true, false, true);
    EXPECT_NEAR(store.GetImagePoint(0, 0, j).x, shown.x + 5 * 640.0 / kViewW, 1e-6);
    EXPECT_NEAR(store.GetGridRecord(0, 0).points[j].x, shown.x + 5 * 640.0 / kViewW, 1e-6);
}

// ---- Info text ----

TEST_F(ObjectEditorModelTest, InfoTextTable) {
    LoadDefault(Pinhole(), 1, 9);
    EXPECT_EQ(model.InfoText(), "Camera 1, Image 1 - Status: Undetected, Zoom: X1.0\n");
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    EXPECT_EQ(model.InfoText(), "Camera 1, Image 1 - Status: Undetected, Zoom: X4.0\n");
    model.ExecuteCommand(ObjectEditorModel::kMagnify, ObjectEditorModel::kDoubleClicked);
    Select();
    ClickCorners(0);
    EXPECT_EQ(model.InfoText(), "Camera 1, Image 1 - Status: Detected, Zoom: X1.0\n");
    model.ExecuteCommand(ObjectEditorModel::kMoreDistortion, 0);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "Camera 1, Image 1 - Status: Detected, Zoom: X1.0\nF Estimate: %.2f Distortion Setting: 0.5",
                  model.FocalEstimate());
    EXPECT_EQ(model.InfoText(), expected);
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    model.ExecuteCommand(ObjectEditorModel::kMagnify, 0);
    std::snprintf(expected, sizeof expected,
                  "Camera 1, Image 1 - Status: Detected, Zoom: X4.0\nF Estimate: %.2f Distortion Setting: 0.5",
                  model.FocalEstimate());
    EXPECT_EQ(model.InfoText(), expected);
}

}  // namespace
