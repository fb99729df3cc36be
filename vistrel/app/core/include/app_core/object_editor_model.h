#pragma once
// ObjectEditorModel: everything the calibration object editor does, without
// its window. The dialog hands it view points, commands and typed text and
// draws what it answers; the model reads and writes the data store.
//
// One mapping serves picking, marks, grabbing and painting:
//   image = view point x source size / view size + source origin,
// where the source rectangle is the part of the image the view shows. View
// points are relative to the view's top-left corner.
//
// "Selected" means 0 <= camera < camera count and 0 <= image < image count
// of that camera, checked at each use: the editor is modeless and outlives
// images cleared under it. Every size used is the current image's own.
#include <array>
#include <string>
#include <vector>

#include "calibration/calibration_records.h"
#include "calibration/homography.h"  // Point2d

class CalibrationDataStore;

class ObjectEditorModel {
public:
    // Command identifiers (the editor's buttons) and the one notification
    // code that changes a command's meaning.
    enum Command : int {
        kSelectGrid = 1030,
        kResetPoints = 1011,
        kGridProperties = 1017,
        kMagnify = 1072,
        kMoreDistortion = 1067,
        kLessDistortion = 1068,
        kPrevImage = 4,
        kNextImage = 3,
    };
    static constexpr int kDoubleClicked = 5;
    static constexpr double kGrabRadius = 3.0;

    struct ViewPoint {
        double x = 0.0;
        double y = 0.0;
    };

    // What a left click did, for the marks drawn at once on the view.
    struct ClickResult {
        bool cornerPicked = false;
        ViewPoint corner;  // the refined corner, in view coordinates
        bool hasPrevious = false;
        ViewPoint previous;  // the corner before it: a line joins them
        bool closed = false;
        ViewPoint first;  // after the fourth corner: a line back to the first
        bool grabbed = false;
        bool redraw = false;
    };

    // What to paint, in view coordinates.
    struct Scene {
        bool visible = false;
        int camera = -1;
        int image = -1;
        // The source rectangle in image pixels, stretched over the view.
        double sourceX = 0.0, sourceY = 0.0, sourceWidth = 0.0, sourceHeight = 0.0;
        bool detected = false;
        std::array<ViewPoint, 3> labels{};  // "X", "Y", "O"
        ViewPoint origin;                   // grid point 0
        std::array<ViewPoint, 4> outline{};  // 0, squaresX - 1, n - 1, n - squaresX
        std::vector<ViewPoint> points;       // the detected point list
        // The clicked corners of an undetected image, so that a repaint
        // between two clicks keeps their marks.
        std::vector<ViewPoint> corners;
    };

    ObjectEditorModel() = default;

    void SetDataStore(CalibrationDataStore* store) { store_ = store; }
    CalibrationDataStore* DataStore() const { return store_; }
    // Source origin (0, 0) and the camera's image size, zoom 1; the image
    // index, the magnified flag and the distortion state stay.
    void OpenForCamera(int camera);
    void SetImageIndex(int image) { image_ = image; }
    void SetViewSize(int width, int height);

    int Camera() const { return camera_; }
    int Image() const { return image_; }
    bool CameraSelected() const;
    bool Selected() const;

    // Left button inside the dialog; inView tells whether the point lies in
    // the view (corner picking needs it, grabbing does not).
    ClickResult LeftButtonDown(ViewPoint p, bool inView, bool ctrl);
    // True when the view must be redrawn at once.
    bool MouseMove(ViewPoint p, bool inView, bool leftButton, bool rightButton, bool ctrl);
    void LeftButtonUp() { grabbed_ = false; }
    void RightButtonDown(ViewPoint p, bool rightButton);
    void RightButtonUp() { panning_ = false; }

    // True when the view must be redrawn. Grid properties (1017) is the
    // dialog's: it only answers whether a camera is selected.
    bool ExecuteCommand(int id, int notification);
    // The distortion edit box's Enter. "%lf" keeps a leading number; text
    // with none, or a non-finite one, is refused: the setting stays and the
    // box shows it again. True when accepted.
    bool EnterDistortionText(const std::string& text);

    // The whole board prediction from the current image's four corners.
    // True when the grid was stored.
    bool PredictGrid();
    // Runs the distortion step for setting a (already stored).
    void DistortionStep();

    Scene BuildScene() const;
    // The info label's text; empty while nothing is selected.
    std::string InfoText() const;
    const std::string& DistortionText() const { return distortionText_; }

    // Mapping between view and image (the current source rectangle).
    Point2d ViewToImage(ViewPoint p) const;
    ViewPoint ImageToView(Point2d p) const;

    bool SelectMode() const { return selectMode_; }
    bool Magnified() const { return magnified_; }
    float Zoom() const { return zoom_; }
    double SourceX() const { return sourceX_; }
    double SourceY() const { return sourceY_; }
    double SourceWidth() const { return sourceWidth_; }
    double SourceHeight() const { return sourceHeight_; }
    bool Panning() const { return panning_; }
    bool PointGrabbed() const { return grabbed_; }
    int GrabbedIndex() const { return grabbedIndex_; }
    double DistortionSetting() const { return distortion_; }
    bool FocalEstimateValid() const { return focalValid_; }
    double FocalEstimate() const { return focal_; }

    // The corner-search half window for an image of the given size: 2 x
    // window + 1 on each axis, clamped so that the refinement accepts it;
    // false when the image is too small to refine at all.
    static bool HalfWindow(int windowX, int windowY, int width, int height, int* halfX, int* halfY);
    // ru with ru + a ru^3 = r (Cardano); beyond the model's turning radius
    // (a < 0) the turning radius 1 / sqrt(-3a) itself.
    static double UndistortRadius(double a, double r);
    // The four corners in the order the grid is predicted from: clockwise
    // on screen from the first click, which comes last.
    static std::array<Point2d, 4> SortCorners(const std::array<Point2d, 4>& clicked);

private:
    void ResetDistortionState();
    // Makes the source rectangle lie inside the current image (whole image
    // at zoom 1 otherwise). False while nothing is selected.
    bool EnsureSource() const;
    bool PickCorner(ViewPoint p, ClickResult* result);
    void BeginGrab(ViewPoint p);
    int ImageWidth() const;
    int ImageHeight() const;

    CalibrationDataStore* store_ = nullptr;
    int camera_ = -1;
    int image_ = -1;
    int viewWidth_ = 0;
    int viewHeight_ = 0;

    double distortion_ = 0.0;
    bool focalValid_ = false;
    double focal_ = 1.0;
    std::string distortionText_ = "0.0";

    bool selectMode_ = false;
    bool panning_ = false;
    double lastPanX_ = 0.0, lastPanY_ = 0.0;
    bool magnified_ = false;
    // Mutable: a rectangle left by another image is repaired on use.
    mutable float zoom_ = 1.0f;
    mutable double sourceX_ = 0.0, sourceY_ = 0.0, sourceWidth_ = 0.0, sourceHeight_ = 0.0;
    bool grabbed_ = false;
    double lastGrabX_ = 0.0, lastGrabY_ = 0.0;
    int grabbedIndex_ = -1;
};
