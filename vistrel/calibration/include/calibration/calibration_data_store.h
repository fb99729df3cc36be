#pragma once
// CalibrationDataStore: the workbench's one model of what is being
// calibrated, organised by entries (data-view columns), each a mono camera or
// a stereo rig.
//
// Two index spaces, never mixed:
// - entry: position among all entries, cameras and rigs together
//   (InsertCamera, RemoveEntry, ClearEntryImages, IsCalibrated,
//   SetCalibrated, GetEntryKind, GetMonoCameraOrdinal, GetImageBitmap,
//   AddStereoRig);
// - camera: position among the mono cameras only (every image, parameter,
//   board, engine and per-camera file operation). GetMonoCameraOrdinal turns
//   a camera's entry into its camera index.
// Rigs are named by their position among the rigs (GetStereoPair,
// GetStereoCamera, SetStereoCamera); a rig's StereoPairRecord holds the
// entry indices of its two cameras.
//
// Out-of-range indices give neutral answers (0, false, null, (-1, -1), a
// default record) and change nothing. Images are 8-bit, 3-channel IplImages
// owned by the store; each has a 24bppRGB bitmap laid over its pixels and a
// 68 x 68 thumbnail with its own bitmap. Not thread-safe: the user-interface
// thread only.
#include <memory>
#include <vector>

#include <opencv2/core/types_c.h>

#include "MVG/stereo_camera.h"
#include "calibration/calibration_grid_record.h"
#include "calibration/calibration_records.h"
#include "calibration/homography.h"  // Point2d
#include "calibration/mono_calibration_engine.h"

namespace Gdiplus {
class Bitmap;
}

enum EntryKind : int {
    kMonoCameraEntry = 0,
    kStereoRigEntry = 1,
};

class CalibrationDataStore {
public:
    static constexpr int kThumbnailWidth = 68;
    static constexpr int kThumbnailHeight = 68;

    CalibrationDataStore();
    ~CalibrationDataStore();
    CalibrationDataStore(const CalibrationDataStore&) = delete;
    CalibrationDataStore& operator=(const CalibrationDataStore&) = delete;

    // Releases every image, thumbnail and bitmap; the cameras stay, with
    // empty image lists.
    void ReleaseImages();
    // The board of every camera added later. True (and the defaults set)
    // only when the file held six values forming a valid board.
    bool ReadDefaultCalibPlane(const char* path);
    bool HasDefaultSettings() const { return hasDefaultSettings_; }
    CalibrationObjectSettings GetDefaultSettings() const { return defaultSettings_; }

    // ---- Entries ----
    int GetEntryCount() const { return static_cast<int>(entries_.size()); }
    // kMonoCameraEntry or kStereoRigEntry; -1 out of range.
    int GetEntryKind(int entry) const;
    // Appends a camera with the default board and a new engine. Returns 1.
    int AddCamera();
    // A new camera before entry (0 <= entry < entry count); the rigs' records
    // follow the entries they named. 1, or 0 out of range.
    int InsertCamera(int entry);
    // Appends a rig of two distinct mono-camera entries; 0 (nothing added)
    // for anything else.
    int AddStereoRig(int cameraEntryA, int cameraEntryB);
    // Number of entries removed: 0 out of range; a camera also takes every
    // rig that names it; the rigs' records follow the entries that remain.
    int RemoveEntry(int entry);
    // A camera's images (and its calibrated flag), or both cameras' of a rig.
    // The engines keep their last results. 1, or 0 out of range.
    int ClearEntryImages(int entry);
    // Mono cameras among the first entry entries.
    int GetMonoCameraOrdinal(int entry) const;
    // The entry that holds a camera index (the inverse of
    // GetMonoCameraOrdinal); -1 out of range.
    int GetCameraEntry(int camera) const;
    int GetMonoCameraCount() const { return static_cast<int>(cameras_.size()); }
    int GetStereoRigCount() const { return static_cast<int>(rigs_.size()); }
    bool IsCalibrated(int entry) const;
    void SetCalibrated(int entry);
    // Moves every entry of staged behind this store's own, in order: its
    // cameras follow this store's cameras, its rigs' records are offset by
    // this store's entry count. staged is left empty (its default board
    // stays); appending a store to itself does nothing.
    void AppendFrom(CalibrationDataStore& staged);

    // ---- Images (camera-indexed) ----
    // Takes ownership of image on success only: 1; 0 for a camera out of
    // range or an image that is null or not 8-bit with three channels.
    int AddImage(int camera, IplImage* image);
    // Loads a 24-bit RGB or 32-bit ARGB image file (alpha dropped). With
    // pointsPath, reads the camera board's squaresX x squaresY points; the
    // image keeps detected only when all of them were read (otherwise no
    // points, undetected, a grid record with gridSet and not pointsValid).
    // Without pointsPath the image has no points and is undetected. 1, or 0
    // (nothing added) when the camera is out of range or the image does not
    // load.
    int AddImageFromFile(int camera, const char* imagePath, int enabled, int detected, const char* pointsPath);

    int GetImageCount(int camera) const;
    IplImage* GetImage(int camera, int image) const;
    // By entry: null for a rig's entry.
    Gdiplus::Bitmap* GetImageBitmap(int entry, int image) const;
    // By camera index, for callers that hold one.
    Gdiplus::Bitmap* GetCameraImageBitmap(int camera, int image) const;
    Gdiplus::Bitmap* GetThumbnailBitmap(int camera, int image) const;
    IplImage* GetThumbnail(int camera, int image) const;
    // Of the camera's first image; 0 without images.
    int GetImageWidth(int camera) const;
    int GetImageHeight(int camera) const;
    // format: "bmp", "png", "tif", "jpg" or "gif". True when written.
    bool SaveImage(int camera, int image, const char* path, const char* format) const;

    void EnableImage(int camera, int image);
    void DisableImage(int camera, int image);
    int IsImageEnabled(int camera, int image) const;
    void SetImageDetected(int camera, int image, bool detected);
    int IsImageDetected(int camera, int image) const;
    // Images both enabled and detected: the views of a mono calibration.
    int GetUsableImageCount(int camera) const;
    // Appends their point lists in image order.
    void GetCalibrationImagePoints(int camera, std::vector<std::vector<Point2d>>& pointLists) const;

    // (-1.0, -1.0) when any index is out of range.
    Point2d GetImagePoint(int camera, int image, int index) const;
    int GetImagePointCount(int camera, int image) const;
    // Writes the point into the detected list and into the grid record, each
    // only where index lies inside it. True when it wrote anywhere.
    bool SetImagePoint(int camera, int image, int index, double x, double y);
    void ResetImageDetection(int camera, int image);
    // A copy; a default record out of range.
    CalibrationGridRecord GetGridRecord(int camera, int image) const;

    // The lists the object editor appends to, empties and rewrites; null out
    // of range. Valid until the image leaves the store.
    std::vector<Point2d>* GetCornerPointList(int camera, int image);
    std::vector<Point2d>* GetImagePointList(int camera, int image);
    CalibrationGridRecord* GetMutableGridRecord(int camera, int image);

    // ---- Cameras and rigs ----
    // A copy; the initial record out of range.
    CameraParameters GetCameraParameters(int camera) const;
    void SetCameraParameters(int camera, const CameraParameters& parameters);
    // A copy; (0.0, 0.0, 0, 0, 3, 3) out of range.
    CalibrationObjectSettings GetObjectSettings(int camera) const;
    // Stores the board when it passes IsValidBoard or has both counts 0 ("no
    // board"); true when stored.
    bool SetObjectSettings(int camera, double squareSizeX, double squareSizeY, int squaresX, int squaresY,
                           int windowX, int windowY);
    bool IsObjectDefined(int camera) const;
    // Null out of range; owned by the store.
    CMonoCameraCalibrationEngine* GetCalibrationEngine(int camera);
    const CMonoCameraCalibrationEngine* GetCalibrationEngine(int camera) const;

    // By position among the rigs: a default record, or null, out of range.
    StereoPairRecord GetStereoPair(int rig) const;
    const CStereoCamera* GetStereoCamera(int rig) const;
    void SetStereoCamera(int rig, const CStereoCamera& stereoCamera);

    // ---- Per-camera files; true on success ----
    bool SaveCameraParameters(int camera, const char* path) const;
    // All or nothing, into the record and into the engine (result and image
    // size).
    bool LoadCameraParameters(int camera, const char* path);
    // The engine's views, in view order.
    bool SaveViewExtrinsics(int camera, const char* path) const;
    // Reads up to the engine's view count, stopping at the first incomplete
    // view; the view count becomes the number read. False when none was.
    bool LoadViewExtrinsics(int camera, const char* path);
    bool SaveImagePoints(int camera, int image, const char* path) const;

private:
    struct ImageRecord;
    struct Camera;
    struct Rig {
        StereoPairRecord pair;
        CStereoCamera camera;
    };
    struct Entry {
        EntryKind kind;
        int calibrated;
    };

    Camera* CameraAt(int camera);
    const Camera* CameraAt(int camera) const;
    ImageRecord* ImageAt(int camera, int image);
    const ImageRecord* ImageAt(int camera, int image) const;
    bool IsMonoEntry(int entry) const;
    // Position among the rigs of a rig's entry.
    int RigOrdinal(int entry) const;
    int AppendImage(int camera, IplImage* image, int enabled, int detected, std::vector<Point2d> points,
                    CalibrationGridRecord grid);
    std::unique_ptr<Camera> NewCamera() const;

    std::vector<Entry> entries_;
    std::vector<std::unique_ptr<Camera>> cameras_;
    std::vector<Rig> rigs_;
    bool hasDefaultSettings_ = false;
    CalibrationObjectSettings defaultSettings_;
};
