#include "calibration/calibration_data_store.h"

#include <MVG/gdi_image_files.h>
#include <gdiplus/bitmap.h>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "calibration/calibration_files.h"

namespace {

struct IplImageDeleter {
    void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using ImagePtr = std::unique_ptr<IplImage, IplImageDeleter>;
using BitmapPtr = std::unique_ptr<Gdiplus::Bitmap>;

// A bitmap over the image's own rows: never a copy, never the owner.
BitmapPtr BitmapOver(IplImage* image) {
    return BitmapPtr(new Gdiplus::Bitmap(image->width, image->height, image->widthStep, PixelFormat24bppRGB,
                                         reinterpret_cast<BYTE*>(image->imageData)));
}

bool IsStorable(const IplImage* image) {
    return image && image->depth == IPL_DEPTH_8U && image->nChannels == 3 && image->width > 0 && image->height > 0 &&
           image->imageData;
}

// The loader hands out 24bppRGB or 32bppARGB rows (B, G, R[, A]) with its
// own stride; the store's images are B, G, R with theirs.
ImagePtr CopyToImage(const unsigned char* pixels, int width, int height, int stride, Gdiplus::PixelFormat format) {
    int bytesPerPixel = 0;
    if (format == PixelFormat24bppRGB)
        bytesPerPixel = 3;
    else if (format == PixelFormat32bppARGB)
        bytesPerPixel = 4;
    else
        return nullptr;
    if (!pixels || width <= 0 || height <= 0 || stride < width * bytesPerPixel) return nullptr;
    ImagePtr image(cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3));
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = pixels + static_cast<size_t>(y) * stride;
        auto* dst = reinterpret_cast<unsigned char*>(image->imageData) + static_cast<size_t>(y) * image->widthStep;
        if (bytesPerPixel == 3) {
            std::memcpy(dst, src, static_cast<size_t>(width) * 3);
        } else {
            for (int x = 0; x < width; ++x, src += 4, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
        }
    }
    return image;
}

template <typename T>
bool InRange(int index, const std::vector<T>& list) {
    return index >= 0 && static_cast<size_t>(index) < list.size();
}

}  // namespace

// Members are destroyed in reverse order: each bitmap goes before the pixels
// it lies over.
struct CalibrationDataStore::ImageRecord {
    ImagePtr image;
    BitmapPtr bitmap;
    ImagePtr thumbnail;
    BitmapPtr thumbnailBitmap;
    std::vector<Point2d> imagePoints;
    std::vector<Point2d> cornerPoints;
    int enabled = 1;
    int detected = 0;
    CalibrationGridRecord grid;
};

struct CalibrationDataStore::Camera {
    std::vector<ImageRecord> images;
    CameraParameters parameters;
    CalibrationObjectSettings settings;
    // Held by pointer: the engine points into itself and must not move.
    std::unique_ptr<CMonoCameraCalibrationEngine> engine;
};

CalibrationDataStore::CalibrationDataStore() = default;

CalibrationDataStore::~CalibrationDataStore() { ReleaseImages(); }

void CalibrationDataStore::ReleaseImages() {
    for (auto& camera : cameras_) camera->images.clear();
}

bool CalibrationDataStore::ReadDefaultCalibPlane(const char* path) {
    CalibrationObjectSettings read = defaultSettings_;
    if (!ReadDefaultBoardFile(path, &read)) return false;
    defaultSettings_ = read;
    hasDefaultSettings_ = true;
    return true;
}

// ---- Entries ----

int CalibrationDataStore::GetEntryKind(int entry) const { return InRange(entry, entries_) ? entries_[entry].kind : -1; }

bool CalibrationDataStore::IsMonoEntry(int entry) const {
    return InRange(entry, entries_) && entries_[entry].kind == kMonoCameraEntry;
}

int CalibrationDataStore::RigOrdinal(int entry) const {
    int rigs = 0;
    for (int i = 0; i < entry; ++i) rigs += entries_[i].kind == kStereoRigEntry;
    return rigs;
}

std::unique_ptr<CalibrationDataStore::Camera> CalibrationDataStore::NewCamera() const {
    auto camera = std::make_unique<Camera>();
    camera->settings = defaultSettings_;
    camera->engine = std::make_unique<CMonoCameraCalibrationEngine>();
    return camera;
}

int CalibrationDataStore::AddCamera() {
    cameras_.push_back(NewCamera());
    entries_.push_back({kMonoCameraEntry, 0});
    return 1;
}

int CalibrationDataStore::InsertCamera(int entry) {
    if (!InRange(entry, entries_)) return 0;
    auto camera = NewCamera();
    cameras_.insert(cameras_.begin() + GetMonoCameraOrdinal(entry), std::move(camera));
    entries_.insert(entries_.begin() + entry, {kMonoCameraEntry, 0});
    for (Rig& rig : rigs_) {
        if (rig.pair.cameraA >= entry) ++rig.pair.cameraA;
        if (rig.pair.cameraB >= entry) ++rig.pair.cameraB;
    }
    return 1;
}

int CalibrationDataStore::AddStereoRig(int cameraEntryA, int cameraEntryB) {
    if (!IsMonoEntry(cameraEntryA) || !IsMonoEntry(cameraEntryB) || cameraEntryA == cameraEntryB) return 0;
    rigs_.push_back({StereoPairRecord{cameraEntryA, cameraEntryB, 0}, CStereoCamera()});
    entries_.push_back({kStereoRigEntry, 0});
    return 1;
}

int CalibrationDataStore::RemoveEntry(int entry) {
    if (!InRange(entry, entries_)) return 0;
    std::vector<int> removed{entry};
    if (entries_[entry].kind == kMonoCameraEntry) {
        for (int e = 0, rig = 0; e < GetEntryCount(); ++e) {
            if (entries_[e].kind != kStereoRigEntry) continue;
            const StereoPairRecord& pair = rigs_[rig++].pair;
            if (pair.cameraA == entry || pair.cameraB == entry) removed.push_back(e);
        }
    }
    // From the last entry down, so the positions still to erase stay valid.
    std::sort(removed.rbegin(), removed.rend());
    for (int e : removed) {
        if (entries_[e].kind == kStereoRigEntry)
            rigs_.erase(rigs_.begin() + RigOrdinal(e));
        else
            cameras_.erase(cameras_.begin() + GetMonoCameraOrdinal(e));
        entries_.erase(entries_.begin() + e);
    }
    auto renumber = [&removed](int& value) {
        value -= static_cast<int>(std::count_if(removed.begin(), removed.end(), [value](int e) { return e < value; }));
    };
    for (Rig& rig : rigs_) {
        renumber(rig.pair.cameraA);
        renumber(rig.pair.cameraB);
    }
    return static_cast<int>(removed.size());
}

int CalibrationDataStore::ClearEntryImages(int entry) {
    if (!InRange(entry, entries_)) return 0;
    std::vector<int> cameraEntries{entry};
    if (entries_[entry].kind == kStereoRigEntry) {
        const StereoPairRecord& pair = rigs_[RigOrdinal(entry)].pair;
        cameraEntries = {pair.cameraA, pair.cameraB};
    }
    for (int e : cameraEntries) {
        if (!IsMonoEntry(e)) continue;
        cameras_[GetMonoCameraOrdinal(e)]->images.clear();
        entries_[e].calibrated = 0;
    }
    return 1;
}

int CalibrationDataStore::GetMonoCameraOrdinal(int entry) const {
    const int end = std::clamp(entry, 0, GetEntryCount());
    int cameras = 0;
    for (int i = 0; i < end; ++i) cameras += entries_[i].kind == kMonoCameraEntry;
    return cameras;
}

int CalibrationDataStore::GetCameraEntry(int camera) const {
    if (camera < 0) return -1;
    int cameras = 0;
    for (int i = 0; i < GetEntryCount(); ++i) {
        if (entries_[i].kind != kMonoCameraEntry) continue;
        if (cameras++ == camera) return i;
    }
    return -1;
}

bool CalibrationDataStore::IsCalibrated(int entry) const {
    return InRange(entry, entries_) && entries_[entry].calibrated == 1;
}

void CalibrationDataStore::SetCalibrated(int entry) {
    if (InRange(entry, entries_)) entries_[entry].calibrated = 1;
}

// ---- Images ----

CalibrationDataStore::Camera* CalibrationDataStore::CameraAt(int camera) {
    return InRange(camera, cameras_) ? cameras_[camera].get() : nullptr;
}

const CalibrationDataStore::Camera* CalibrationDataStore::CameraAt(int camera) const {
    return InRange(camera, cameras_) ? cameras_[camera].get() : nullptr;
}

CalibrationDataStore::ImageRecord* CalibrationDataStore::ImageAt(int camera, int image) {
    Camera* c = CameraAt(camera);
    return c && InRange(image, c->images) ? &c->images[image] : nullptr;
}

const CalibrationDataStore::ImageRecord* CalibrationDataStore::ImageAt(int camera, int image) const {
    const Camera* c = CameraAt(camera);
    return c && InRange(image, c->images) ? &c->images[image] : nullptr;
}

int CalibrationDataStore::AppendImage(int camera, IplImage* image, int enabled, int detected,
                                      std::vector<Point2d> points, CalibrationGridRecord grid) {
    ImageRecord record;
    record.image.reset(image);
    record.bitmap = BitmapOver(image);
    record.thumbnail.reset(cvCreateImage(cvSize(kThumbnailWidth, kThumbnailHeight), IPL_DEPTH_8U, 3));
    cvResize(image, record.thumbnail.get(), CV_INTER_LINEAR);
    record.thumbnailBitmap = BitmapOver(record.thumbnail.get());
    record.imagePoints = std::move(points);
    record.enabled = enabled;
    record.detected = detected;
    record.grid = std::move(grid);
    cameras_[camera]->images.push_back(std::move(record));
    return 1;
}

int CalibrationDataStore::AddImage(int camera, IplImage* image) {
    if (!CameraAt(camera) || !IsStorable(image)) return 0;
    return AppendImage(camera, image, 1, 0, {}, CalibrationGridRecord());
}

int CalibrationDataStore::AddImageFromFile(int camera, const char* imagePath, int enabled, int detected,
                                           const char* pointsPath) {
    const Camera* c = CameraAt(camera);
    if (!c || !imagePath) return 0;

    ImagePtr image;
    {
        unsigned char* buffer = nullptr;
        int width = 0, height = 0, stride = 0;
        Gdiplus::Bitmap* loaded = GDI::LoadBitmapA(imagePath, &buffer, width, height, stride);
        // The loader's bitmap lies over its buffer: the bitmap goes first.
        std::unique_ptr<unsigned char[]> pixels(buffer);
        BitmapPtr bitmap(loaded);
        if (bitmap && width > 0 && height > 0)
            image = CopyToImage(pixels.get(), width, height, stride, bitmap->GetPixelFormat());
    }
    if (!image) return 0;

    std::vector<Point2d> points;
    CalibrationGridRecord grid;
    const CalibrationObjectSettings& board = c->settings;
    bool complete = false;
    if (pointsPath) {
        const int expected = board.squaresX > 0 && board.squaresY > 0 ? board.squaresX * board.squaresY : 0;
        points.resize(expected);
        const int read = expected > 0 ? ReadImagePointsFile(pointsPath, expected, points.data()) : 0;
        complete = expected > 0 && read == expected;
        if (!complete) points.clear();
        grid = CalibrationGridRecord(board.squaresX, board.squaresY, board.squareSizeX, board.squareSizeY, points);
    }
    // A detected image without its board's points would hand calibration a
    // short or empty list.
    const int detectedFlag = complete && detected ? 1 : 0;
    // Project files may hold any number for a flag.
    return AppendImage(camera, image.release(), enabled ? 1 : 0, detectedFlag, std::move(points), std::move(grid));
}

int CalibrationDataStore::GetImageCount(int camera) const {
    const Camera* c = CameraAt(camera);
    return c ? static_cast<int>(c->images.size()) : 0;
}

IplImage* CalibrationDataStore::GetImage(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? r->image.get() : nullptr;
}

Gdiplus::Bitmap* CalibrationDataStore::GetImageBitmap(int entry, int image) const {
    if (!IsMonoEntry(entry)) return nullptr;
    return GetCameraImageBitmap(GetMonoCameraOrdinal(entry), image);
}

Gdiplus::Bitmap* CalibrationDataStore::GetCameraImageBitmap(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? r->bitmap.get() : nullptr;
}

Gdiplus::Bitmap* CalibrationDataStore::GetThumbnailBitmap(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? r->thumbnailBitmap.get() : nullptr;
}

IplImage* CalibrationDataStore::GetThumbnail(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? r->thumbnail.get() : nullptr;
}

int CalibrationDataStore::GetImageWidth(int camera) const {
    const IplImage* first = GetImage(camera, 0);
    return first ? first->width : 0;
}

int CalibrationDataStore::GetImageHeight(int camera) const {
    const IplImage* first = GetImage(camera, 0);
    return first ? first->height : 0;
}

bool CalibrationDataStore::SaveImage(int camera, int image, const char* path, const char* format) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r && path && GDI::SaveImage(path, r->bitmap.get(), format) == 0;
}

void CalibrationDataStore::EnableImage(int camera, int image) {
    if (ImageRecord* r = ImageAt(camera, image)) r->enabled = 1;
}

void CalibrationDataStore::DisableImage(int camera, int image) {
    if (ImageRecord* r = ImageAt(camera, image)) r->enabled = 0;
}

int CalibrationDataStore::IsImageEnabled(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? r->enabled : 0;
}

void CalibrationDataStore::SetImageDetected(int camera, int image, bool detected) {
    if (ImageRecord* r = ImageAt(camera, image)) r->detected = detected ? 1 : 0;
}

int CalibrationDataStore::IsImageDetected(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? r->detected : 0;
}

int CalibrationDataStore::GetUsableImageCount(int camera) const {
    const Camera* c = CameraAt(camera);
    if (!c) return 0;
    return static_cast<int>(
        std::count_if(c->images.begin(), c->images.end(), [](const ImageRecord& r) { return r.enabled && r.detected; }));
}

void CalibrationDataStore::GetCalibrationImagePoints(int camera,
                                                     std::vector<std::vector<Point2d>>& pointLists) const {
    const Camera* c = CameraAt(camera);
    if (!c) return;
    for (const ImageRecord& r : c->images)
        if (r.enabled && r.detected) pointLists.push_back(r.imagePoints);
}

Point2d CalibrationDataStore::GetImagePoint(int camera, int image, int index) const {
    const ImageRecord* r = ImageAt(camera, image);
    if (!r || !InRange(index, r->imagePoints)) return {-1.0, -1.0};
    return r->imagePoints[index];
}

int CalibrationDataStore::GetImagePointCount(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? static_cast<int>(r->imagePoints.size()) : 0;
}

bool CalibrationDataStore::SetImagePoint(int camera, int image, int index, double x, double y) {
    ImageRecord* r = ImageAt(camera, image);
    if (!r) return false;
    bool wrote = false;
    if (InRange(index, r->imagePoints)) {
        r->imagePoints[index] = {x, y};
        wrote = true;
    }
    // After a failed SetGridPoints the record holds its zeros while the
    // detected list may be empty: the two are checked apart.
    if (InRange(index, r->grid.points)) {
        r->grid.points[index] = {x, y};
        wrote = true;
    }
    return wrote;
}

void CalibrationDataStore::ResetImageDetection(int camera, int image) {
    ImageRecord* r = ImageAt(camera, image);
    if (!r) return;
    r->cornerPoints.clear();
    r->imagePoints.clear();
    r->grid.ClearGrid();
    r->detected = 0;
}

CalibrationGridRecord CalibrationDataStore::GetGridRecord(int camera, int image) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r ? r->grid : CalibrationGridRecord();
}

std::vector<Point2d>* CalibrationDataStore::GetCornerPointList(int camera, int image) {
    ImageRecord* r = ImageAt(camera, image);
    return r ? &r->cornerPoints : nullptr;
}

std::vector<Point2d>* CalibrationDataStore::GetImagePointList(int camera, int image) {
    ImageRecord* r = ImageAt(camera, image);
    return r ? &r->imagePoints : nullptr;
}

CalibrationGridRecord* CalibrationDataStore::GetMutableGridRecord(int camera, int image) {
    ImageRecord* r = ImageAt(camera, image);
    return r ? &r->grid : nullptr;
}

// ---- Cameras and rigs ----

CameraParameters CalibrationDataStore::GetCameraParameters(int camera) const {
    const Camera* c = CameraAt(camera);
    return c ? c->parameters : CameraParameters();
}

void CalibrationDataStore::SetCameraParameters(int camera, const CameraParameters& parameters) {
    if (Camera* c = CameraAt(camera)) c->parameters = parameters;
}

CalibrationObjectSettings CalibrationDataStore::GetObjectSettings(int camera) const {
    const Camera* c = CameraAt(camera);
    return c ? c->settings : CalibrationObjectSettings();
}

bool CalibrationDataStore::SetObjectSettings(int camera, double squareSizeX, double squareSizeY, int squaresX,
                                             int squaresY, int windowX, int windowY) {
    Camera* c = CameraAt(camera);
    if (!c) return false;
    const CalibrationObjectSettings settings{squareSizeX, squareSizeY, squaresX, squaresY, windowX, windowY};
    // The counts size grids and engines; a project file can hold any numbers.
    const bool noBoard = squaresX == 0 && squaresY == 0;
    if (!noBoard && !IsValidBoard(settings)) return false;
    c->settings = settings;
    return true;
}

bool CalibrationDataStore::IsObjectDefined(int camera) const {
    const Camera* c = CameraAt(camera);
    return c && c->settings.squaresX > 1;
}

CMonoCameraCalibrationEngine* CalibrationDataStore::GetCalibrationEngine(int camera) {
    Camera* c = CameraAt(camera);
    return c ? c->engine.get() : nullptr;
}

const CMonoCameraCalibrationEngine* CalibrationDataStore::GetCalibrationEngine(int camera) const {
    const Camera* c = CameraAt(camera);
    return c ? c->engine.get() : nullptr;
}

StereoPairRecord CalibrationDataStore::GetStereoPair(int rig) const {
    return InRange(rig, rigs_) ? rigs_[rig].pair : StereoPairRecord();
}

const CStereoCamera* CalibrationDataStore::GetStereoCamera(int rig) const {
    return InRange(rig, rigs_) ? &rigs_[rig].camera : nullptr;
}

void CalibrationDataStore::SetStereoCamera(int rig, const CStereoCamera& stereoCamera) {
    if (InRange(rig, rigs_)) rigs_[rig].camera = stereoCamera;
}

// ---- Per-camera files ----

bool CalibrationDataStore::SaveCameraParameters(int camera, const char* path) const {
    const Camera* c = CameraAt(camera);
    return c && path && WriteIntrinsicsFile(path, c->parameters);
}

bool CalibrationDataStore::LoadCameraParameters(int camera, const char* path) {
    Camera* c = CameraAt(camera);
    if (!c || !path) return false;
    CameraParameters read = c->parameters;
    if (!ReadIntrinsicsFile(path, &read)) return false;
    c->parameters = read;
    c->engine->SetResult(read);
    return true;
}

bool CalibrationDataStore::SaveViewExtrinsics(int camera, const char* path) const {
    const Camera* c = CameraAt(camera);
    if (!c || !path) return false;
    const CMonoCameraCalibrationEngine& e = *c->engine;
    return WriteViewExtrinsicsFile(path, e.ViewCount(), e.RotationMatrices(), e.RotationVectors(), e.Translations());
}

bool CalibrationDataStore::LoadViewExtrinsics(int camera, const char* path) {
    Camera* c = CameraAt(camera);
    if (!c || !path) return false;
    CMonoCameraCalibrationEngine& e = *c->engine;
    if (e.ViewCount() <= 0) return false;
    const int read = ReadViewExtrinsicsFile(path, e.ViewCount(), e.RotationMatrices(), e.RotationVectors(),
                                            e.Translations());
    if (read <= 0) return false;
    return e.SetViewCount(read);
}

bool CalibrationDataStore::SaveImagePoints(int camera, int image, const char* path) const {
    const ImageRecord* r = ImageAt(camera, image);
    return r && path && WriteImagePointsFile(path, r->imagePoints.data(), static_cast<int>(r->imagePoints.size()));
}

void CalibrationDataStore::AppendFrom(CalibrationDataStore& staged) {
    if (&staged == this) return;
    const int offset = GetEntryCount();
    entries_.insert(entries_.end(), staged.entries_.begin(), staged.entries_.end());
    for (auto& camera : staged.cameras_) cameras_.push_back(std::move(camera));
    for (Rig& rig : staged.rigs_) {
        rig.pair.cameraA += offset;
        rig.pair.cameraB += offset;
        rigs_.push_back(std::move(rig));
    }
    staged.entries_.clear();
    staged.cameras_.clear();
    staged.rigs_.clear();
}
