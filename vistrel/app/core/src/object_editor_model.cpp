#include "app_core/object_editor_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "calibration/board_geometry.h"
#include "calibration/calibration_data_store.h"
#include "cvcompat/errstatus.h"

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

bool Finite(const Point2d& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double Cross(const Point2d& o, const Point2d& a, const Point2d& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// A grey copy of a three-channel image, made and released around the corner
// searches; null when the conversion fails.
struct GreyImage {
    explicit GreyImage(const IplImage* colour) {
        if (!colour || colour->nChannels != 3 || colour->depth != IPL_DEPTH_8U) return;
        IplImage* grey = nullptr;
        const bool ok = cvcompat::Guarded([&] {
            grey = cvCreateImage(cvSize(colour->width, colour->height), IPL_DEPTH_8U, 1);
            cvCvtColor(colour, grey, CV_BGR2GRAY);
        });
        if (ok) image = grey;
        else if (grey) cvReleaseImage(&grey);
    }
    ~GreyImage() {
        if (image) cvReleaseImage(&image);
    }
    GreyImage(const GreyImage&) = delete;
    GreyImage& operator=(const GreyImage&) = delete;
    IplImage* image = nullptr;
};

// The area where a point may be refined: the image grown by the half window.
struct RefineArea {
    double left, top, right, bottom;
    bool Contains(const Point2d& p) const {
        return Finite(p) && p.x >= left && p.x <= right && p.y >= top && p.y <= bottom;
    }
};

// Refines the points that lie in the area, all in one search (each point is
// refined on its own either way); the others, and all of them when the
// search fails, stay as they are.
void RefinePoints(IplImage* grey, int halfX, int halfY, const RefineArea& area, std::vector<Point2d>& points) {
    std::vector<CvPoint2D32f> inside;
    std::vector<size_t> where;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!area.Contains(points[i])) continue;
        inside.push_back(cvPoint2D32f(static_cast<float>(points[i].x), static_cast<float>(points[i].y)));
        where.push_back(i);
    }
    if (inside.empty() || !grey) return;
    const bool ok = cvcompat::Guarded([&] {
        cvFindCornerSubPix(grey, inside.data(), static_cast<int>(inside.size()), cvSize(halfX, halfY),
                           cvSize(-1, -1), cvTermCriteria(CV_TERMCRIT_ITER | CV_TERMCRIT_EPS, 20, 0.0003));
    });
    if (!ok) return;
    for (size_t k = 0; k < where.size(); ++k) points[where[k]] = {inside[k].x, inside[k].y};
}

}  // namespace

// ---- Selection and mapping ----

bool ObjectEditorModel::CameraSelected() const {
    return store_ && camera_ >= 0 && camera_ < store_->GetMonoCameraCount();
}

bool ObjectEditorModel::Selected() const {
    return CameraSelected() && image_ >= 0 && image_ < store_->GetImageCount(camera_) &&
           store_->GetImage(camera_, image_) != nullptr;
}

int ObjectEditorModel::ImageWidth() const { return Selected() ? store_->GetImage(camera_, image_)->width : 0; }
int ObjectEditorModel::ImageHeight() const { return Selected() ? store_->GetImage(camera_, image_)->height : 0; }

void ObjectEditorModel::OpenForCamera(int camera) {
    camera_ = camera;
    sourceX_ = sourceY_ = 0.0;
    const bool known = store_ && camera >= 0 && camera < store_->GetMonoCameraCount();
    sourceWidth_ = known ? store_->GetImageWidth(camera) : 0.0;
    sourceHeight_ = known ? store_->GetImageHeight(camera) : 0.0;
    zoom_ = 1.0f;
}

void ObjectEditorModel::SetViewSize(int width, int height) {
    viewWidth_ = std::max(width, 0);
    viewHeight_ = std::max(height, 0);
}

bool ObjectEditorModel::EnsureSource() const {
    if (!Selected()) return false;
    const double w = ImageWidth(), h = ImageHeight();
    const bool inside = std::isfinite(sourceX_) && std::isfinite(sourceY_) && sourceWidth_ > 0.0 &&
                        sourceHeight_ > 0.0 && sourceX_ >= 0.0 && sourceY_ >= 0.0 &&
                        sourceX_ + sourceWidth_ <= w && sourceY_ + sourceHeight_ <= h;
    if (!inside) {
        sourceX_ = sourceY_ = 0.0;
        sourceWidth_ = w;
        sourceHeight_ = h;
        zoom_ = 1.0f;
    }
    return viewWidth_ > 0 && viewHeight_ > 0;
}

Point2d ObjectEditorModel::ViewToImage(ViewPoint p) const {
    if (viewWidth_ <= 0 || viewHeight_ <= 0) return {sourceX_, sourceY_};
    return {p.x * sourceWidth_ / viewWidth_ + sourceX_, p.y * sourceHeight_ / viewHeight_ + sourceY_};
}

ObjectEditorModel::ViewPoint ObjectEditorModel::ImageToView(Point2d p) const {
    if (sourceWidth_ <= 0.0 || sourceHeight_ <= 0.0) return {0.0, 0.0};
    return {(p.x - sourceX_) * viewWidth_ / sourceWidth_, (p.y - sourceY_) * viewHeight_ / sourceHeight_};
}

// ---- Geometry helpers ----

bool ObjectEditorModel::HalfWindow(int windowX, int windowY, int width, int height, int* halfX, int* halfY) {
    // The corner search asks for each side >= 2 x half + 5.
    const long limitX = (static_cast<long>(width) - 5) / 2, limitY = (static_cast<long>(height) - 5) / 2;
    if (limitX < 1 || limitY < 1) return false;
    *halfX = static_cast<int>(std::clamp(2L * windowX + 1, 1L, limitX));
    *halfY = static_cast<int>(std::clamp(2L * windowY + 1, 1L, limitY));
    return true;
}

double ObjectEditorModel::UndistortRadius(double a, double r) {
    // Below this the cubic term is under 1e-12 of r and Cardano's terms lose
    // every digit.
    if (std::abs(a) < 1e-12) return r;
    const double I = -1.0 / (3.0 * a);
    const double K = -r / (2.0 * a);
    if (a > 0.0) {
        const double L = std::sqrt(K * K - I * I * I) - K;
        const double u = std::cbrt(L);
        return u + I / u;
    }
    const double L = K / std::sqrt(I * I * I);
    // Outside [-1, 1] r lies beyond the radius where the model turns; M = 0
    // answers that radius.
    const double M = (L >= -1.0 && L <= 1.0) ? std::acos(L) : 0.0;
    return -2.0 * std::sqrt(I) * std::cos((M - kTwoPi) / 3.0);
}

std::array<Point2d, 4> ObjectEditorModel::SortCorners(const std::array<Point2d, 4>& clicked) {
    Point2d centre{0.0, 0.0};
    for (const Point2d& c : clicked) centre.x += c.x / 4.0, centre.y += c.y / 4.0;
    // Angles as seen on screen (y down): counter-clockwise grows.
    auto angle = [&](const Point2d& c) { return std::atan2(-(c.y - centre.y), c.x - centre.x); };
    const double first = angle(clicked[0]);
    std::array<std::pair<double, int>, 4> keyed;
    for (int i = 0; i < 4; ++i) {
        double rel = angle(clicked[i]) - first;
        if (std::abs(rel) < 1e-5) rel = 0.0;
        rel -= kTwoPi * std::floor(rel / kTwoPi);
        keyed[i] = {rel, i};
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::array<Point2d, 4> sorted;
    for (int i = 0; i < 4; ++i) sorted[i] = clicked[keyed[i].second];
    return sorted;
}

// ---- Clicks and moves ----

ObjectEditorModel::ClickResult ObjectEditorModel::LeftButtonDown(ViewPoint p, bool inView, bool ctrl) {
    ClickResult result;
    if (!EnsureSource()) return result;
    if (ctrl) {
        BeginGrab(p);
        result.grabbed = grabbed_;
        return result;
    }
    if (selectMode_ && inView) PickCorner(p, &result);
    return result;
}

bool ObjectEditorModel::PickCorner(ViewPoint p, ClickResult* result) {
    std::vector<Point2d>* corners = store_->GetCornerPointList(camera_, image_);
    if (!corners || corners->size() >= 4) return false;
    const IplImage* image = store_->GetImage(camera_, image_);
    const CalibrationObjectSettings board = store_->GetObjectSettings(camera_);
    std::vector<Point2d> point{ViewToImage(p)};
    int halfX = 0, halfY = 0;
    if (HalfWindow(board.windowX, board.windowY, image->width, image->height, &halfX, &halfY)) {
        GreyImage grey(image);
        RefinePoints(grey.image, halfX, halfY, {0.0, 0.0, image->width - 1.0, image->height - 1.0}, point);
    }
    corners->push_back(point[0]);
    result->cornerPicked = true;
    result->corner = ImageToView(point[0]);
    if (corners->size() >= 2) {
        result->hasPrevious = true;
        result->previous = ImageToView((*corners)[corners->size() - 2]);
    }
    if (corners->size() == 4) {
        result->closed = true;
        result->first = ImageToView((*corners)[0]);
        result->redraw = PredictGrid();
    }
    return true;
}

void ObjectEditorModel::BeginGrab(ViewPoint p) {
    const Point2d at = ViewToImage(p);
    const int count = store_->GetImagePointCount(camera_, image_);
    for (int i = 0; i < count; ++i) {
        const Point2d q = store_->GetImagePoint(camera_, image_, i);
        if (std::hypot(q.x - at.x, q.y - at.y) < kGrabRadius) {
            grabbed_ = true;
            grabbedIndex_ = i;
            lastGrabX_ = at.x;
            lastGrabY_ = at.y;
            return;
        }
    }
}

bool ObjectEditorModel::MouseMove(ViewPoint p, bool inView, bool leftButton, bool rightButton, bool ctrl) {
    if (!inView || !EnsureSource()) return false;
    bool redraw = false;
    if (rightButton && panning_ && magnified_) {
        const double w = ImageWidth(), h = ImageHeight();
        sourceX_ = std::clamp(sourceX_ - (p.x - lastPanX_) / zoom_, 0.0, w - sourceWidth_);
        sourceY_ = std::clamp(sourceY_ - (p.y - lastPanY_) / zoom_, 0.0, h - sourceHeight_);
        lastPanX_ = p.x;
        lastPanY_ = p.y;
        redraw = true;
    }
    if (leftButton && ctrl && grabbed_) {
        const Point2d at = ViewToImage(p);
        // The point moves from where it is shown: the detected list, which a
        // distortion step may have bent away from the grid record.
        const Point2d shown = store_->GetImagePoint(camera_, image_, grabbedIndex_);
        if (grabbedIndex_ < store_->GetImagePointCount(camera_, image_)) {
            store_->SetImagePoint(camera_, image_, grabbedIndex_, shown.x + at.x - lastGrabX_,
                                  shown.y + at.y - lastGrabY_);
            redraw = true;
        }
        lastGrabX_ = at.x;
        lastGrabY_ = at.y;
    }
    return redraw;
}

void ObjectEditorModel::RightButtonDown(ViewPoint p, bool rightButton) {
    if (!rightButton || !magnified_) return;
    panning_ = true;
    lastPanX_ = p.x;
    lastPanY_ = p.y;
}

// ---- Commands ----

void ObjectEditorModel::ResetDistortionState() {
    focalValid_ = false;
    distortion_ = 0.0;
    focal_ = 1.0;
    distortionText_ = "0.0";
}

static std::string FormatSetting(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1lf", value);
    return text;
}

bool ObjectEditorModel::ExecuteCommand(int id, int notification) {
    if (id == kGridProperties) return false;
    if (!Selected()) return false;
    switch (id) {
    case kSelectGrid: {
        const CalibrationObjectSettings board = store_->GetObjectSettings(camera_);
        if (store_->IsObjectDefined(camera_) && board.squaresX >= 2 && board.squaresY >= 2)
            selectMode_ = !selectMode_;
        return false;
    }
    case kResetPoints:
        store_->ResetImageDetection(camera_, image_);
        return true;
    case kMagnify: {
        const double w = ImageWidth(), h = ImageHeight();
        if (notification == kDoubleClicked) {
            zoom_ = 1.0f;
            magnified_ = false;
            sourceX_ = sourceY_ = 0.0;
            sourceWidth_ = w;
            sourceHeight_ = h;
            return true;
        }
        EnsureSource();
        const float zoom = zoom_ * 2.0f;
        // Stop before the source would be narrower than one image pixel.
        if (w / zoom < 1.0 || h / zoom < 1.0) return false;
        magnified_ = true;
        zoom_ = zoom;
        sourceX_ = sourceY_ = 0.0;
        sourceWidth_ = w / zoom;
        sourceHeight_ = h / zoom;
        return true;
    }
    case kMoreDistortion:
    case kLessDistortion:
        distortion_ += id == kMoreDistortion ? 0.5 : -0.5;
        DistortionStep();
        distortionText_ = FormatSetting(distortion_);
        return true;
    case kPrevImage:
        if (image_ <= 0) return false;
        --image_;
        ResetDistortionState();
        return true;
    case kNextImage:
        if (image_ >= store_->GetImageCount(camera_) - 1) return false;
        ++image_;
        ResetDistortionState();
        return true;
    default:
        return false;
    }
}

bool ObjectEditorModel::EnterDistortionText(const std::string& text) {
    double value = 0.0;
    if (!Selected() || std::sscanf(text.c_str(), "%lf", &value) != 1 || !std::isfinite(value)) {
        distortionText_ = FormatSetting(distortion_);
        return false;
    }
    distortion_ = value;
    distortionText_ = text;
    DistortionStep();
    return true;
}

// ---- Prediction and the distortion step ----

bool ObjectEditorModel::PredictGrid() {
    if (!Selected()) return false;
    std::vector<Point2d>* corners = store_->GetCornerPointList(camera_, image_);
    if (!corners || corners->size() != 4) return false;
    const CalibrationObjectSettings board = store_->GetObjectSettings(camera_);
    if (board.squaresX < 2 || board.squaresY < 2) return false;
    const IplImage* image = store_->GetImage(camera_, image_);
    int halfX = 0, halfY = 0;
    const bool refine = HalfWindow(board.windowX, board.windowY, image->width, image->height, &halfX, &halfY);
    const RefineArea area{-static_cast<double>(halfX), -static_cast<double>(halfY),
                          image->width - 1.0 + halfX, image->height - 1.0 + halfY};

    const std::array<Point2d, 4> sorted = SortCorners({(*corners)[0], (*corners)[1], (*corners)[2], (*corners)[3]});
    // A folded or collapsed quadrilateral puts the line at infinity through
    // the board, and corners far outside the image predict points the
    // corner search cannot take: neither predicts anything.
    for (int i = 0; i < 4; ++i) {
        if (!area.Contains(sorted[i])) return false;
        for (int j = i + 1; j < 4; ++j)
            if (std::hypot(sorted[i].x - sorted[j].x, sorted[i].y - sorted[j].y) < 1.0) return false;
    }
    int sign = 0;
    for (int i = 0; i < 4; ++i) {
        const double c = Cross(sorted[i], sorted[(i + 1) % 4], sorted[(i + 2) % 4]);
        const int s = c > 0.0 ? 1 : (c < 0.0 ? -1 : 0);
        if (s == 0 || (sign != 0 && s != sign)) return false;
        sign = s;
    }

    double src[8] = {0, 1, 1, 0, 0, 0, 1, 1};  // rows x and y of (0,0) (1,0) (1,1) (0,1)
    double dst[8];
    for (int i = 0; i < 4; ++i) dst[i] = sorted[i].x, dst[4 + i] = sorted[i].y;
    double h[9] = {};
    CvMat srcMat = cvMat(2, 4, CV_64FC1, src), dstMat = cvMat(2, 4, CV_64FC1, dst), hMat = cvMat(3, 3, CV_64FC1, h);
    if (!cvcompat::Guarded([&] { Quorl_cvFindHomography(&srcMat, &dstMat, &hMat); })) return false;
    for (double v : h)
        if (!std::isfinite(v)) return false;

    const int nx = board.squaresX, ny = board.squaresY;
    std::vector<Point2d> points;
    points.reserve(static_cast<size_t>(nx) * ny);
    for (int r = 0; r < ny; ++r) {
        for (int c = 0; c < nx; ++c) {
            const double u = static_cast<double>(c) / (nx - 1), v = static_cast<double>(r) / (ny - 1);
            const double w = h[6] * u + h[7] * v + h[8];
            // Single precision, as the corner search takes its points.
            points.push_back({static_cast<float>((h[0] * u + h[1] * v + h[2]) / w),
                              static_cast<float>((h[3] * u + h[4] * v + h[5]) / w)});
        }
    }
    if (refine) {
        GreyImage grey(image);
        RefinePoints(grey.image, halfX, halfY, area, points);
    }
    std::vector<Point2d>* detected = store_->GetImagePointList(camera_, image_);
    CalibrationGridRecord* record = store_->GetMutableGridRecord(camera_, image_);
    if (!detected || !record) return false;
    *detected = points;
    record->SetGridPoints(nx, ny, board.squareSizeX, board.squareSizeY, points);
    store_->SetImageDetected(camera_, image_, true);
    return true;
}

void ObjectEditorModel::DistortionStep() {
    if (!Selected()) return;
    const CalibrationGridRecord record = store_->GetGridRecord(camera_, image_);
    const int nx = record.countA, ny = record.countB, n = nx * ny;
    if (!record.gridSet || !record.pointsValid || nx < 2 || ny < 2 || static_cast<int>(record.points.size()) != n)
        return;
    const IplImage* image = store_->GetImage(camera_, image_);
    const double centreX = image->width * 0.5 + 0.5, centreY = image->height * 0.5 + 0.5;
    const Point2d C[4] = {record.points[0], record.points[nx - 1], record.points[n - nx], record.points[n - 1]};

    if (distortion_ == 0.0) {
        std::vector<Point2d>* corners = store_->GetCornerPointList(camera_, image_);
        if (!corners) return;
        *corners = {C[2], C[3], C[1], C[0]};
        PredictGrid();
        return;
    }
    for (const Point2d& c : C)
        if (!Finite(c)) return;
    if (!focalValid_) {
        const double f = EstimateScaleFromCorners(
            C[0].x - centreX, C[0].y - centreY, C[1].x - centreX, C[1].y - centreY, C[3].x - centreX,
            C[3].y - centreY, C[2].x - centreX, C[2].y - centreY, 0.0, record.spacingX * (nx - 1),
            record.spacingY * (ny - 1));
        if (!(f > 0.0) || !std::isfinite(f)) return;  // no estimate: nothing changes
        focal_ = f;
        focalValid_ = true;
    }
    const double f = focal_, a = distortion_;
    Point2d U[4];
    for (int i = 0; i < 4; ++i) {
        const double x = (C[i].x - centreX) / f, y = (C[i].y - centreY) / f;
        const double theta = std::atan2(y, x);
        const double ru = UndistortRadius(a, std::hypot(x, y));
        U[i] = {ru * std::cos(theta), ru * std::sin(theta)};
    }
    const double corners[8] = {U[0].x, U[0].y, U[1].x, U[1].y, U[3].x, U[3].y, U[2].x, U[2].y};
    double G[9];
    if (!HomographyFromFourPoints(G, corners)) return;
    std::vector<Point2d> bent(static_cast<size_t>(n));
    for (int r = 0; r < ny; ++r) {
        for (int c = 0; c < nx; ++c) {
            // Grid position of point j = r nx + c, the order of the record.
            const double u = static_cast<double>(c) / (nx - 1), v = static_cast<double>(r) / (ny - 1);
            const double w = G[6] * u + G[7] * v + G[8];
            const double p = (G[0] * u + G[1] * v + G[2]) / w, q = (G[3] * u + G[4] * v + G[5]) / w;
            const double s = a * (p * p + q * q) + 1.0;
            const Point2d b{p * s * f + centreX, q * s * f + centreY};
            if (!Finite(b)) return;
            bent[static_cast<size_t>(r) * nx + c] = b;
        }
    }
    std::vector<Point2d>* detected = store_->GetImagePointList(camera_, image_);
    if (detected) *detected = std::move(bent);
}

// ---- What to show ----

ObjectEditorModel::Scene ObjectEditorModel::BuildScene() const {
    Scene scene;
    if (!EnsureSource()) return scene;
    scene.visible = true;
    scene.camera = camera_;
    scene.image = image_;
    scene.sourceX = sourceX_;
    scene.sourceY = sourceY_;
    scene.sourceWidth = sourceWidth_;
    scene.sourceHeight = sourceHeight_;
    if (store_->IsImageDetected(camera_, image_)) {
        const CalibrationGridRecord record = store_->GetGridRecord(camera_, image_);
        const int nx = record.countA, n = record.countA * record.countB;
        if (nx >= 1 && n >= 1 && static_cast<int>(record.points.size()) == n) {
            scene.detected = true;
            for (int i = 0; i < 3; ++i)
                scene.labels[i] = ImageToView({record.labelAnchors[i].x, record.labelAnchors[i].y});
            scene.origin = ImageToView(record.points[0]);
            scene.outline = {ImageToView(record.points[0]), ImageToView(record.points[nx - 1]),
                             ImageToView(record.points[n - 1]), ImageToView(record.points[n - nx])};
        }
    }
    if (!scene.detected)
        if (const std::vector<Point2d>* corners = store_->GetCornerPointList(camera_, image_))
            for (const Point2d& c : *corners) scene.corners.push_back(ImageToView(c));
    const int count = store_->GetImagePointCount(camera_, image_);
    for (int i = 0; i < count; ++i) scene.points.push_back(ImageToView(store_->GetImagePoint(camera_, image_, i)));
    return scene;
}

std::string ObjectEditorModel::InfoText() const {
    if (!Selected()) return {};
    EnsureSource();
    char text[256];
    std::snprintf(text, sizeof text, "Camera %d, Image %d - Status: %s, Zoom: X%.1f\n", camera_ + 1, image_ + 1,
                  store_->IsImageDetected(camera_, image_) ? "Detected" : "Undetected", zoom_);
    std::string info = text;
    if (focalValid_) {
        std::snprintf(text, sizeof text, "F Estimate: %.2f Distortion Setting: %.1f", focal_, distortion_);
        info += text;
    }
    return info;
}
