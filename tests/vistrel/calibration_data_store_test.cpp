// The calibration data store: index spaces, entries and rigs, images and
// their bitmaps, and the per-camera files. Runs headless: GDI+ is started on
// the offscreen platform.
#include <gtest/gtest.h>

#include <QImage>
#include <QImageWriter>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "MVG/gdi_image_files.h"
#include "calibration/calibration_data_store.h"
#include "calibration/calibration_files.h"
#include "gdiplus/gdiplus.h"
#include "gdiplus/qt_bridge.h"
#include "gdiplus_environment.h"
#include "synthetic_board/synthetic_board.h"

namespace {

namespace fs = std::filesystem;

[[maybe_unused]] ::testing::Environment* const kGdiplus =
    ::testing::AddGlobalTestEnvironment(new quorl_test::GdiplusEnvironment);

// An image whose every byte tells its camera, its image and its position.
IplImage* MakeImage(int width, int height, int tag) {
    IplImage* image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            reinterpret_cast<unsigned char*>(image->imageData)[y * image->widthStep + x] =
                static_cast<unsigned char>(tag * 31 + y * 7 + x);
    return image;
}

bool SameParameters(const CameraParameters& a, const CameraParameters& b) {
    return std::memcmp(a.K, b.K, sizeof a.K) == 0 && std::memcmp(a.d, b.d, sizeof a.d) == 0 &&
           std::memcmp(a.R, b.R, sizeof a.R) == 0 && std::memcmp(a.T, b.T, sizeof a.T) == 0 &&
           a.width == b.width && a.height == b.height;
}

bool SameSettings(const CalibrationObjectSettings& a, const CalibrationObjectSettings& b) {
    return a.squareSizeX == b.squareSizeX && a.squareSizeY == b.squareSizeY && a.squaresX == b.squaresX &&
           a.squaresY == b.squaresY && a.windowX == b.windowX && a.windowY == b.windowY;
}

CameraParameters SomeParameters(int tag) {
    CameraParameters p;
    p.K[0] = 500 + tag;
    p.K[2] = 320.25;
    p.K[4] = 510 + tag;
    p.K[5] = 240.5;
    p.K[8] = 1;
    p.d[0] = -0.125 * tag;
    p.d[1] = 0.0625;
    p.d[2] = 0.001;
    p.d[3] = -0.002;
    p.T[0] = 10.5 * tag;
    p.width = 640;
    p.height = 480;
    return p;
}

// Builds entries from kinds: 0 a camera, 1 a rig of the two cameras just
// before it (by entry).
void AddEntries(CalibrationDataStore& store, const std::vector<int>& kinds) {
    for (int kind : kinds) {
        if (kind == kMonoCameraEntry) {
            ASSERT_EQ(store.AddCamera(), 1);
        } else {
            std::vector<int> cameras;
            for (int e = 0; e < store.GetEntryCount(); ++e)
                if (store.GetEntryKind(e) == kMonoCameraEntry) cameras.push_back(e);
            ASSERT_GE(cameras.size(), 2u);
            ASSERT_EQ(store.AddStereoRig(cameras[cameras.size() - 2], cameras.back()), 1);
        }
    }
}

std::vector<int> Kinds(const CalibrationDataStore& store) {
    std::vector<int> kinds;
    for (int e = 0; e < store.GetEntryCount(); ++e) kinds.push_back(store.GetEntryKind(e));
    return kinds;
}

std::vector<IplImage*> ImagesOf(const CalibrationDataStore& store, int camera) {
    std::vector<IplImage*> images;
    for (int i = 0; i < store.GetImageCount(camera); ++i) images.push_back(store.GetImage(camera, i));
    return images;
}

// The camera's images as pointers, its engine and its board: what must move
// together when entries are inserted or removed.
struct CameraIdentity {
    std::vector<IplImage*> images;
    const CMonoCameraCalibrationEngine* engine;
    CalibrationObjectSettings settings;
};

CameraIdentity IdentityOf(CalibrationDataStore& store, int camera) {
    return {ImagesOf(store, camera), store.GetCalibrationEngine(camera), store.GetObjectSettings(camera)};
}

void ExpectCamera(CalibrationDataStore& store, int camera, const CameraIdentity& expected) {
    EXPECT_EQ(ImagesOf(store, camera), expected.images) << "camera " << camera;
    EXPECT_EQ(store.GetCalibrationEngine(camera), expected.engine) << "camera " << camera;
    EXPECT_TRUE(SameSettings(store.GetObjectSettings(camera), expected.settings)) << "camera " << camera;
}

// Gives camera c (c + 1) images of its own size and a board of its own.
void FillCameras(CalibrationDataStore& store) {
    for (int c = 0; c < store.GetMonoCameraCount(); ++c) {
        for (int i = 0; i <= c; ++i) ASSERT_EQ(store.AddImage(c, MakeImage(8 + c, 6 + c, 10 * c + i)), 1);
        ASSERT_TRUE(store.SetObjectSettings(c, 10.0 + c, 11.0, 3 + c, 2, 3, 3));
    }
}

class StoreFiles : public ::testing::Test {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/vistrel-store-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string File(const std::string& name) const { return (dir_ / name).string(); }
    std::string Missing(const std::string& name) const { return (dir_ / "no_such_folder" / name).string(); }
    std::string WriteText(const std::string& name, const std::string& text) const {
        std::ofstream(File(name)) << text;
        return File(name);
    }
    std::string WriteQt(const QImage& image, const std::string& name, const char* format) const {
        QImageWriter writer(QString::fromStdString(File(name)), format);
        EXPECT_TRUE(writer.write(image)) << name << ": " << writer.errorString().toStdString();
        return File(name);
    }

    fs::path dir_;
};

// ---- Index spaces ----

struct LayoutCase {
    const char* name;
    std::vector<int> kinds;
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }


class IndexSpaces : public StoreFiles, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(IndexSpaces, CameraIndexedOperationsReachTheCamerasAfterTheRig) {
    CalibrationDataStore store;
    AddEntries(store, GetParam().kinds);
    const int cameras = store.GetMonoCameraCount();
    FillCameras(store);
    for (int c = 0; c < cameras; ++c) store.SetCameraParameters(c, SomeParameters(c));

    for (int c = 0; c < cameras; ++c) {
        SCOPED_TRACE("camera " + std::to_string(c));
        ASSERT_EQ(store.GetImageCount(c), c + 1);
        EXPECT_EQ(store.GetImage(c, c)->width, 8 + c);
        EXPECT_EQ(store.GetImageWidth(c), 8 + c);
        EXPECT_EQ(store.GetImageHeight(c), 6 + c);
        store.DisableImage(c, c);
        EXPECT_EQ(store.IsImageEnabled(c, c), 0);
        store.EnableImage(c, c);
        EXPECT_EQ(store.IsImageEnabled(c, c), 1);
        EXPECT_TRUE(SameParameters(store.GetCameraParameters(c), SomeParameters(c)));
        EXPECT_TRUE(store.IsObjectDefined(c));
        EXPECT_EQ(store.GetObjectSettings(c).squaresX, 3 + c);

        const std::string path = File("camera" + std::to_string(c) + ".txt");
        ASSERT_TRUE(store.SaveCameraParameters(c, path.c_str()));
        CameraParameters back;
        ASSERT_TRUE(ReadIntrinsicsFile(path.c_str(), &back));
        EXPECT_EQ(back.K[0], 500 + c);
        EXPECT_EQ(back.T[0], 10.5 * c);
    }

    // One past the last camera: neutral answers, nothing touched.
    const int past = cameras;
    IplImage* refused = MakeImage(4, 4, 99);
    EXPECT_EQ(store.AddImage(past, refused), 0);
    cvReleaseImage(&refused);
    EXPECT_EQ(store.GetImageCount(past), 0);
    EXPECT_EQ(store.GetImage(past, 0), nullptr);
    EXPECT_EQ(store.GetImageWidth(past), 0);
    EXPECT_EQ(store.GetImageHeight(past), 0);
    store.EnableImage(past, 0);
    EXPECT_EQ(store.IsImageEnabled(past, 0), 0);
    store.SetCameraParameters(past, SomeParameters(7));
    EXPECT_TRUE(SameParameters(store.GetCameraParameters(past), CameraParameters()));
    EXPECT_FALSE(store.IsObjectDefined(past));
    EXPECT_FALSE(store.SaveCameraParameters(past, File("past.txt").c_str()));
    EXPECT_FALSE(fs::exists(File("past.txt")));
    EXPECT_EQ(store.GetCalibrationEngine(past), nullptr);
    for (int c = 0; c < cameras; ++c) EXPECT_TRUE(SameParameters(store.GetCameraParameters(c), SomeParameters(c)));

    // Entry-indexed bitmaps: a rig's entry has none; the camera-indexed one
    // of the last camera is that camera's own.
    const int lastEntry = store.GetEntryCount() - 1;
    for (int e = 0; e < store.GetEntryCount(); ++e) {
        if (store.GetEntryKind(e) == kStereoRigEntry) {
            EXPECT_EQ(store.GetImageBitmap(e, 0), nullptr) << "rig entry " << e;
        } else {
            const int c = store.GetMonoCameraOrdinal(e);
            EXPECT_EQ(store.GetImageBitmap(e, 0), store.GetCameraImageBitmap(c, 0)) << "entry " << e;
        }
    }
    const int last = cameras - 1;
    ASSERT_EQ(store.GetEntryKind(lastEntry), kMonoCameraEntry);
    Gdiplus::Bitmap* bitmap = store.GetCameraImageBitmap(last, last);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(static_cast<int>(bitmap->GetWidth()), 8 + last);
    EXPECT_EQ(bitmap->Data().image.constBits(),
              reinterpret_cast<const unsigned char*>(store.GetImage(last, last)->imageData));
    EXPECT_EQ(store.GetCameraImageBitmap(past, 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Layouts, IndexSpaces,
                         ::testing::Values(LayoutCase{"CamCamRigCam", {0, 0, 1, 0}},
                                           LayoutCase{"CamCamRigCamCam", {0, 0, 1, 0, 0}}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST(DataStoreEntries, NewStoreAnswersNeutrally) {
    CalibrationDataStore store;
    EXPECT_EQ(store.GetEntryCount(), 0);
    EXPECT_EQ(store.GetEntryKind(0), -1);
    EXPECT_EQ(store.GetImageCount(0), 0);
    EXPECT_EQ(store.GetImageWidth(0), 0);
    const CalibrationGridRecord grid = store.GetGridRecord(0, 0);
    EXPECT_FALSE(grid.gridSet);
    EXPECT_TRUE(grid.points.empty());
    const Point2d p = store.GetImagePoint(0, 0, 0);
    EXPECT_EQ(p.x, -1.0);
    EXPECT_EQ(p.y, -1.0);
    EXPECT_TRUE(SameSettings(store.GetObjectSettings(0), CalibrationObjectSettings()));
    EXPECT_EQ(store.GetStereoCamera(0), nullptr);
    EXPECT_FALSE(store.IsCalibrated(0));
    store.SetCalibrated(0);
    EXPECT_EQ(store.GetEntryCount(), 0);
    EXPECT_EQ(store.GetMonoCameraOrdinal(5), 0);
}

TEST(DataStoreEntries, CameraAfterARigTakesTheNextCameraIndex) {
    CalibrationDataStore store;
    AddEntries(store, {0, 0, 1, 0});
    EXPECT_EQ(store.GetMonoCameraCount(), 3);
    EXPECT_EQ(store.GetStereoRigCount(), 1);
    EXPECT_EQ(store.GetMonoCameraOrdinal(0), 0);
    EXPECT_EQ(store.GetMonoCameraOrdinal(2), 2);
    EXPECT_EQ(store.GetMonoCameraOrdinal(3), 2);
    EXPECT_EQ(store.GetMonoCameraOrdinal(4), 3);
    EXPECT_EQ(store.GetMonoCameraOrdinal(100), 3);
    EXPECT_EQ(store.GetMonoCameraOrdinal(-1), 0);
    // The inverse: camera index -> its entry; the rig's entry is skipped.
    const int entries[] = {0, 1, 3};
    for (int camera = 0; camera < 3; ++camera) {
        EXPECT_EQ(store.GetCameraEntry(camera), entries[camera]);
        EXPECT_EQ(store.GetMonoCameraOrdinal(entries[camera]), camera);
    }
    EXPECT_EQ(store.GetCameraEntry(3), -1);
    EXPECT_EQ(store.GetCameraEntry(-1), -1);
    const StereoPairRecord pair = store.GetStereoPair(0);
    EXPECT_EQ(pair.cameraA, 0);
    EXPECT_EQ(pair.cameraB, 1);
    EXPECT_EQ(pair.reserved, 0);
}

TEST(DataStoreEntries, InsertCameraMovesTheCameraAndItsRig) {
    CalibrationDataStore store;
    AddEntries(store, {0, 0, 1});
    FillCameras(store);
    store.SetCalibrated(1);
    const CameraIdentity old0 = IdentityOf(store, 0), old1 = IdentityOf(store, 1);

    EXPECT_EQ(store.InsertCamera(1), 1);
    EXPECT_EQ(Kinds(store), (std::vector<int>{0, 0, 0, 1}));
    ExpectCamera(store, 0, old0);
    ExpectCamera(store, 2, old1);
    EXPECT_EQ(store.GetImageCount(1), 0);
    EXPECT_NE(store.GetCalibrationEngine(1), nullptr);
    EXPECT_NE(store.GetCalibrationEngine(1), old1.engine);
    EXPECT_TRUE(SameSettings(store.GetObjectSettings(1), CalibrationObjectSettings()));
    EXPECT_FALSE(store.IsCalibrated(1));
    EXPECT_TRUE(store.IsCalibrated(2));
    EXPECT_EQ(store.GetStereoPair(0).cameraA, 0);
    EXPECT_EQ(store.GetStereoPair(0).cameraB, 2);

    EXPECT_EQ(store.InsertCamera(store.GetEntryCount()), 0);
    EXPECT_EQ(store.InsertCamera(-1), 0);
    EXPECT_EQ(store.GetEntryCount(), 4);
}

TEST(DataStoreEntries, InsertCameraAfterARigUsesTheCameraIndex) {
    CalibrationDataStore store;
    AddEntries(store, {0, 0, 1, 0});
    FillCameras(store);
    const CameraIdentity old2 = IdentityOf(store, 2);

    EXPECT_EQ(store.InsertCamera(3), 1);
    EXPECT_EQ(Kinds(store), (std::vector<int>{0, 0, 1, 0, 0}));
    EXPECT_EQ(store.GetMonoCameraOrdinal(3), 2);
    EXPECT_EQ(store.GetImageCount(2), 0);
    ExpectCamera(store, 3, old2);
    EXPECT_EQ(store.GetStereoPair(0).cameraA, 0);
    EXPECT_EQ(store.GetStereoPair(0).cameraB, 1);
}

CStereoCamera TaggedStereoCamera(int width) {
    CCamera camera;
    camera.SetImageSize(width, 10);
    return CStereoCamera(camera, camera);
}

class RemoveEntryTest : public ::testing::Test {
protected:
    // [cam 0, cam 1, rig (0, 1), cam 3, cam 4, rig (3, 4)]
    void SetUp() override {
        AddEntries(store_, {0, 0, 1, 0, 0, 1});
        FillCameras(store_);
        store_.SetStereoCamera(0, TaggedStereoCamera(111));
        store_.SetStereoCamera(1, TaggedStereoCamera(222));
        for (int e = 0; e < store_.GetEntryCount(); ++e) store_.SetCalibrated(e);
        for (int c = 0; c < 4; ++c) before_.push_back(IdentityOf(store_, c));
    }
    CalibrationDataStore store_;
    std::vector<CameraIdentity> before_;
};

TEST_F(RemoveEntryTest, CameraNamedByARigTakesTheRigAlong) {
    EXPECT_EQ(store_.RemoveEntry(1), 2);
    EXPECT_EQ(Kinds(store_), (std::vector<int>{0, 0, 0, 1}));
    ASSERT_EQ(store_.GetMonoCameraCount(), 3);
    ExpectCamera(store_, 0, before_[0]);
    ExpectCamera(store_, 1, before_[2]);
    ExpectCamera(store_, 2, before_[3]);
    ASSERT_EQ(store_.GetStereoRigCount(), 1);
    EXPECT_EQ(store_.GetStereoPair(0).cameraA, 1);
    EXPECT_EQ(store_.GetStereoPair(0).cameraB, 2);
    EXPECT_EQ(store_.GetStereoCamera(0)->GetCamera(0).GetWidth(), 222);
    EXPECT_TRUE(store_.IsCalibrated(3));
}

TEST_F(RemoveEntryTest, RigLeavesTheCamerasAndMovesLaterRigs) {
    EXPECT_EQ(store_.RemoveEntry(2), 1);
    EXPECT_EQ(Kinds(store_), (std::vector<int>{0, 0, 0, 0, 1}));
    for (int c = 0; c < 4; ++c) ExpectCamera(store_, c, before_[c]);
    ASSERT_EQ(store_.GetStereoRigCount(), 1);
    EXPECT_EQ(store_.GetStereoPair(0).cameraA, 2);
    EXPECT_EQ(store_.GetStereoPair(0).cameraB, 3);
    EXPECT_EQ(store_.GetStereoCamera(0)->GetCamera(0).GetWidth(), 222);
    EXPECT_EQ(store_.GetStereoCamera(1), nullptr);
}

TEST_F(RemoveEntryTest, OutOfRangeRemovesNothing) {
    EXPECT_EQ(store_.RemoveEntry(6), 0);
    EXPECT_EQ(store_.RemoveEntry(-1), 0);
    EXPECT_EQ(store_.GetEntryCount(), 6);
}

// Calibrated flags belong to entries: they move with the entries that stay.
TEST(DataStoreEntries, RemoveEntryKeepsTheCalibratedFlagsOfTheEntriesThatStay) {
    struct Case {
        int removed;
        int count;
        std::vector<int> kinds;
        std::vector<bool> calibrated;
    } cases[] = {
        {2, 1, {0, 0, 0, 0, 1}, {false, false, true, false, true}},  // the first rig
        {1, 2, {0, 0, 0, 1}, {false, true, false, true}},            // a camera of the first rig
        {5, 1, {0, 0, 1, 0, 0}, {false, false, false, true, false}},  // the last rig
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.removed);
        CalibrationDataStore store;
        AddEntries(store, {0, 0, 1, 0, 0, 1});
        store.SetCalibrated(3);
        store.SetCalibrated(5);
        EXPECT_EQ(store.RemoveEntry(c.removed), c.count);
        EXPECT_EQ(Kinds(store), c.kinds);
        std::vector<bool> calibrated;
        for (int e = 0; e < store.GetEntryCount(); ++e) calibrated.push_back(store.IsCalibrated(e));
        EXPECT_EQ(calibrated, c.calibrated);
    }
}

TEST(DataStoreEntries, RemovingAnUnnamedCameraShiftsHigherRecordsDown) {
    CalibrationDataStore store;
    AddEntries(store, {0, 0, 0, 1});
    FillCameras(store);
    store.SetCalibrated(1);
    const CameraIdentity old1 = IdentityOf(store, 1), old2 = IdentityOf(store, 2);

    EXPECT_EQ(store.RemoveEntry(0), 1);
    EXPECT_EQ(Kinds(store), (std::vector<int>{0, 0, 1}));
    ExpectCamera(store, 0, old1);
    ExpectCamera(store, 1, old2);
    EXPECT_TRUE(store.IsCalibrated(0));
    EXPECT_EQ(store.GetStereoPair(0).cameraA, 0);
    EXPECT_EQ(store.GetStereoPair(0).cameraB, 1);
}

TEST(DataStoreEntries, ClearEntryImagesOfARigClearsBothCameras) {
    CalibrationDataStore store;
    AddEntries(store, {0, 0, 0, 1});  // the rig joins entries 1 and 2
    FillCameras(store);
    for (int e = 0; e < 4; ++e) store.SetCalibrated(e);
    for (int c = 1; c <= 2; ++c) store.GetCalibrationEngine(c)->SetResult(SomeParameters(c));

    EXPECT_EQ(store.ClearEntryImages(3), 1);
    EXPECT_EQ(store.GetImageCount(0), 1);
    EXPECT_TRUE(store.IsCalibrated(0));
    for (int c = 1; c <= 2; ++c) {
        EXPECT_EQ(store.GetImageCount(c), 0);
        EXPECT_FALSE(store.IsCalibrated(c));
        EXPECT_EQ(store.GetGridRecord(c, 0).gridSet, false);
        EXPECT_TRUE(SameParameters(store.GetCalibrationEngine(c)->GetCameraParameters(), SomeParameters(c)));
    }
    EXPECT_EQ(store.ClearEntryImages(0), 1);
    EXPECT_EQ(store.GetImageCount(0), 0);
    EXPECT_FALSE(store.IsCalibrated(0));
    EXPECT_EQ(store.ClearEntryImages(4), 0);
}

TEST(DataStoreEntries, AddStereoRigRefusesAnythingButTwoDistinctCameras) {
    CalibrationDataStore store;
    AddEntries(store, {0, 0, 1});
    struct Case {
        int a, b;
    } refused[] = {{2, 0}, {0, 2}, {0, 3}, {-1, 1}, {0, 0}};
    for (const Case& c : refused) EXPECT_EQ(store.AddStereoRig(c.a, c.b), 0) << c.a << ", " << c.b;
    EXPECT_EQ(store.GetEntryCount(), 3);
    EXPECT_EQ(store.GetStereoRigCount(), 1);
    EXPECT_EQ(store.AddStereoRig(1, 0), 1);
    EXPECT_EQ(store.GetStereoRigCount(), 2);
}

TEST(DataStoreEntries, SetStereoCameraByRigPosition) {
    CalibrationDataStore store;
    AddEntries(store, {0, 0, 1, 1});
    store.SetStereoCamera(1, TaggedStereoCamera(77));
    store.SetStereoCamera(2, TaggedStereoCamera(88));  // ignored
    EXPECT_EQ(store.GetStereoCamera(0)->GetCamera(0).GetWidth(), 0);
    EXPECT_EQ(store.GetStereoCamera(1)->GetCamera(0).GetWidth(), 77);
}

// ---- Images ----

TEST(DataStoreImages, AddImageRefusesWhatItCannotHold) {
    CalibrationDataStore store;
    store.AddCamera();
    EXPECT_EQ(store.AddImage(0, nullptr), 0);
    IplImage* grey = cvCreateImage(cvSize(4, 3), IPL_DEPTH_8U, 1);
    IplImage* wide = cvCreateImage(cvSize(4, 3), IPL_DEPTH_16U, 3);
    EXPECT_EQ(store.AddImage(0, grey), 0);
    EXPECT_EQ(store.AddImage(0, wide), 0);
    cvReleaseImage(&grey);  // still the caller's
    cvReleaseImage(&wide);
    EXPECT_EQ(store.GetImageCount(0), 0);

    IplImage* image = MakeImage(90, 50, 3);
    ASSERT_EQ(store.AddImage(0, image), 1);
    EXPECT_EQ(store.GetImage(0, 0), image);
    EXPECT_EQ(store.IsImageEnabled(0, 0), 1);
    EXPECT_EQ(store.IsImageDetected(0, 0), 0);
    IplImage* thumb = store.GetThumbnail(0, 0);
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->width, 68);
    EXPECT_EQ(thumb->height, 68);
    Gdiplus::Bitmap* thumbBitmap = store.GetThumbnailBitmap(0, 0);
    ASSERT_NE(thumbBitmap, nullptr);
    EXPECT_EQ(thumbBitmap->Data().image.constBits(), reinterpret_cast<unsigned char*>(thumb->imageData));
    EXPECT_EQ(store.GetThumbnailBitmap(0, 1), nullptr);
}

TEST(DataStoreImages, UsableImagesAreEnabledAndDetected) {
    CalibrationDataStore store;
    store.AddCamera();
    // Two rounds of the four combinations of (enabled, detected).
    const int flags[][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 1}, {1, 0}, {0, 1}, {0, 0}};
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(store.AddImage(0, MakeImage(4, 3, i)), 1);
        if (!flags[i][0]) store.DisableImage(0, i);
        store.SetImageDetected(0, i, flags[i][1] != 0);
        store.GetImagePointList(0, i)->push_back({static_cast<double>(i), 0.5});
    }
    EXPECT_EQ(store.GetUsableImageCount(0), 2);
    std::vector<std::vector<Point2d>> lists{{{-5, -5}}};  // appended to
    store.GetCalibrationImagePoints(0, lists);
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(lists[1][0].x, 3.0);
    EXPECT_EQ(lists[2][0].x, 4.0);
    EXPECT_EQ(store.GetUsableImageCount(1), 0);
}

class DataStoreFiles : public StoreFiles {
protected:
    void SetUp() override {
        StoreFiles::SetUp();
        store_.AddCamera();
        ASSERT_TRUE(store_.SetObjectSettings(0, 10.0, 12.0, 3, 2, 3, 3));
    }
    static std::string Points(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "%lf %lf\n", 10.123456 + i, 20.654321 + 2 * i);
            text += line;
        }
        return text;
    }
    CalibrationDataStore store_;
};

// The B, G, R bytes of pixel (x, y) of the test images.
struct Bgr {
    int b, g, r;
};
Bgr Colour(int x, int y) { return {20 * x + 3, 40 * y + 5, 200 - 10 * x - 30 * y}; }

struct FileCase {
    const char* name;
    int width;
    // Writes the file of a width x 3 image and returns its path.
    std::string (*write)(const StoreFiles&, const std::string& name, int width);
    bool grey;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }


QImage ColourImage(int width, QImage::Format format) {
    QImage image(width, 3, format);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < width; ++x) {
            const Bgr c = Colour(x, y);
            image.setPixelColor(x, y, QColor(c.r, c.g, c.b, 100 + 40 * y));
        }
    return image;
}

class ImageFileFormats : public DataStoreFiles, public ::testing::WithParamInterface<FileCase> {
public:
    static std::string Png24(const StoreFiles& f, const std::string& name, int width) {
        return f.WriteQt(ColourImage(width, QImage::Format_RGB888), name + ".png", "png");
    }
    static std::string Png32(const StoreFiles& f, const std::string& name, int width) {
        return f.WriteQt(ColourImage(width, QImage::Format_ARGB32), name + ".png", "png");
    }
    static std::string Bmp(const StoreFiles& f, const std::string& name, int width) {
        return f.WriteQt(ColourImage(width, QImage::Format_RGB888), name + ".bmp", "bmp");
    }
    static std::string GreyPng(const StoreFiles& f, const std::string& name, int width) {
        QImage image(width, 3, QImage::Format_Grayscale8);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) image.scanLine(y)[x] = static_cast<uchar>(Colour(x, y).g);
        return f.WriteQt(image, name + ".png", "png");
    }
    // Qt writes no GIF: giflib does, through the GDI+ encoder, with an exact
    // palette for so few colours.
    static std::string Gif(const StoreFiles& f, const std::string& name, int width) {
        const std::string path = f.File(name + ".gif");
        Gdiplus::Bitmap bitmap(width, 3, PixelFormat24bppRGB);
        Gdiplus::BitmapData data;
        EXPECT_EQ(bitmap.LockBits(nullptr, Gdiplus::ImageLockModeWrite, PixelFormat24bppRGB, &data), Gdiplus::Ok);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) {
                unsigned char* p = static_cast<unsigned char*>(data.Scan0) + y * data.Stride + 3 * x;
                const Bgr c = Colour(x, y);
                p[0] = static_cast<unsigned char>(c.b);
                p[1] = static_cast<unsigned char>(c.g);
                p[2] = static_cast<unsigned char>(c.r);
            }
        bitmap.UnlockBits(&data);
        EXPECT_EQ(GDI::SaveImage(path.c_str(), &bitmap, "gif"), 0);
        return path;
    }
};

TEST_P(ImageFileFormats, ArriveAsBgrWithThumbnailAndBitmap) {
    const FileCase& c = GetParam();
    const std::string path = c.write(*this, c.name, c.width);
    ASSERT_EQ(store_.AddImageFromFile(0, path.c_str(), 1, 0, nullptr), 1);
    const IplImage* image = store_.GetImage(0, 0);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->width, c.width);
    ASSERT_EQ(image->height, 3);
    ASSERT_EQ(image->nChannels, 3);
    ASSERT_EQ(image->depth, IPL_DEPTH_8U);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < c.width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(image->imageData) + y * image->widthStep + 3 * x;
            const Bgr want = c.grey ? Bgr{Colour(x, y).g, Colour(x, y).g, Colour(x, y).g} : Colour(x, y);
            EXPECT_EQ(p[0], want.b) << x << ", " << y;
            EXPECT_EQ(p[1], want.g) << x << ", " << y;
            EXPECT_EQ(p[2], want.r) << x << ", " << y;
        }

    const IplImage* thumb = store_.GetThumbnail(0, 0);
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->width, 68);
    EXPECT_EQ(thumb->height, 68);
    cv::Mat expected;
    cv::resize(cv::cvarrToMat(image), expected, cv::Size(68, 68), 0, 0, cv::INTER_LINEAR);
    EXPECT_EQ(cv::norm(expected, cv::cvarrToMat(thumb), cv::NORM_INF), 0.0);

    Gdiplus::Bitmap* bitmap = store_.GetCameraImageBitmap(0, 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(bitmap->Data().image.constBits(), reinterpret_cast<const unsigned char*>(image->imageData));
    EXPECT_EQ(bitmap->Data().image.bytesPerLine(), image->widthStep);
    EXPECT_EQ(store_.IsImageEnabled(0, 0), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ImageFileFormats,
    ::testing::Values(FileCase{"Png24", 4, &ImageFileFormats::Png24, false},
                      FileCase{"Png24PaddedRows", 5, &ImageFileFormats::Png24, false},
                      FileCase{"Png32Alpha", 4, &ImageFileFormats::Png32, false},
                      FileCase{"Png32AlphaPaddedRows", 5, &ImageFileFormats::Png32, false},
                      FileCase{"GreyPng", 4, &ImageFileFormats::GreyPng, true},
                      FileCase{"PaletteGif", 4, &ImageFileFormats::Gif, false},
                      FileCase{"Bmp", 4, &ImageFileFormats::Bmp, false},
                      FileCase{"BmpPaddedRows", 5, &ImageFileFormats::Bmp, false}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return info.param.name; });

TEST_F(DataStoreFiles, ImageFilesThatDoNotLoadAddNothing) {
    const std::string garbage = WriteText("garbage.png", "this is not an image at all");
    const std::string good = WriteQt(ColourImage(4, QImage::Format_RGB888), "good.png", "png");
    EXPECT_EQ(store_.AddImageFromFile(0, File("missing.png").c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(store_.AddImageFromFile(0, garbage.c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(store_.AddImageFromFile(0, nullptr, 1, 0, nullptr), 0);
    EXPECT_EQ(store_.AddImageFromFile(1, good.c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(store_.AddImageFromFile(-1, good.c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(store_.GetImageCount(0), 0);
    EXPECT_EQ(store_.AddImageFromFile(0, good.c_str(), 0, 0, nullptr), 1);
    EXPECT_EQ(store_.IsImageEnabled(0, 0), 0);
    EXPECT_EQ(store_.AddImageFromFile(0, good.c_str(), 7, 0, nullptr), 1);
    EXPECT_EQ(store_.IsImageEnabled(0, 1), 1);
}

TEST_F(DataStoreFiles, FullPointsFileMakesADetectedImageWithItsGrid) {
    const std::string image = WriteQt(ColourImage(4, QImage::Format_RGB888), "image.png", "png");
    const std::string points = WriteText("points.txt", Points(7));  // one more than the board: ignored
    ASSERT_EQ(store_.AddImageFromFile(0, image.c_str(), 1, 1, points.c_str()), 1);
    EXPECT_EQ(store_.IsImageDetected(0, 0), 1);
    ASSERT_EQ(store_.GetImagePointCount(0, 0), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(store_.GetImagePoint(0, 0, i).x, 10.123456 + i, 1e-9);
        EXPECT_NEAR(store_.GetImagePoint(0, 0, i).y, 20.654321 + 2 * i, 1e-9);
    }
    const CalibrationGridRecord grid = store_.GetGridRecord(0, 0);
    EXPECT_TRUE(grid.gridSet);
    EXPECT_TRUE(grid.pointsValid);
    EXPECT_EQ(grid.countA, 3);
    EXPECT_EQ(grid.countB, 2);
    EXPECT_EQ(grid.spacingX, 10.0);
    EXPECT_EQ(grid.spacingY, 12.0);
    ASSERT_EQ(grid.points.size(), 6u);
    EXPECT_EQ(grid.points[5].x, store_.GetImagePoint(0, 0, 5).x);
}

TEST_F(DataStoreFiles, ShortOrMissingPointsFileLoadsUndetectedWithoutPoints) {
    const std::string image = WriteQt(ColourImage(4, QImage::Format_RGB888), "image.png", "png");
    const std::string shortFile = WriteText("short.txt", Points(5));
    const std::string badFile = WriteText("bad.txt", Points(3) + "x y\n" + Points(2));
    const std::string paths[] = {shortFile, badFile, File("missing.txt")};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(paths[i]);
        ASSERT_EQ(store_.AddImageFromFile(0, image.c_str(), 1, 1, paths[i].c_str()), 1);
        EXPECT_EQ(store_.IsImageDetected(0, i), 0);
        EXPECT_EQ(store_.GetImagePointCount(0, i), 0);
        const CalibrationGridRecord grid = store_.GetGridRecord(0, i);
        EXPECT_TRUE(grid.gridSet);
        EXPECT_FALSE(grid.pointsValid);
    }
    EXPECT_EQ(store_.GetUsableImageCount(0), 0);
}

TEST_F(DataStoreFiles, NullPointsPathGivesNoPoints) {
    const std::string image = WriteQt(ColourImage(4, QImage::Format_RGB888), "image.png", "png");
    ASSERT_EQ(store_.AddImageFromFile(0, image.c_str(), 1, 1, nullptr), 1);
    EXPECT_EQ(store_.GetImagePointCount(0, 0), 0);
    EXPECT_EQ(store_.IsImageDetected(0, 0), 0);
    const CalibrationGridRecord grid = store_.GetGridRecord(0, 0);
    EXPECT_FALSE(grid.pointsValid);
    EXPECT_TRUE(grid.points.empty());
}

TEST_F(DataStoreFiles, RenderedBoardRoundTripsThroughImageAndPointsFiles) {
    synthetic::Options options;
    options.views = 1;
    const synthetic::Dataset data = synthetic::MakeDataset(options);
    synthetic::RenderOptions render;
    render.color = true;
    const cv::Mat board = synthetic::RenderBoard(options.cameraA, options.board, data.views[0].poseA, render);
    ASSERT_EQ(board.type(), CV_8UC3);

    CalibrationDataStore store;
    store.AddCamera();
    store.AddCamera();
    for (int c = 0; c < 2; ++c)
        ASSERT_TRUE(store.SetObjectSettings(c, options.board.sizeX, options.board.sizeY, options.board.squaresX,
                                            options.board.squaresY, 5, 5));
    IplImage* image = cvCreateImage(cvSize(board.cols, board.rows), IPL_DEPTH_8U, 3);
    cv::Mat view = cv::cvarrToMat(image);
    board.copyTo(view);
    ASSERT_EQ(store.AddImage(0, image), 1);
    std::vector<Point2d>* points = store.GetImagePointList(0, 0);
    for (const cv::Point2d& p : data.views[0].pointsA) points->push_back({p.x, p.y});
    store.SetImageDetected(0, 0, true);

    const std::string imagePath = File("board.png"), pointsPath = File("board.txt");
    ASSERT_TRUE(store.SaveImage(0, 0, imagePath.c_str(), "png"));
    ASSERT_TRUE(store.SaveImagePoints(0, 0, pointsPath.c_str()));
    ASSERT_EQ(store.AddImageFromFile(1, imagePath.c_str(), 1, 1, pointsPath.c_str()), 1);

    EXPECT_EQ(cv::norm(cv::cvarrToMat(store.GetImage(1, 0)), board, cv::NORM_INF), 0.0);
    EXPECT_EQ(store.IsImageDetected(1, 0), 1);
    ASSERT_EQ(store.GetImagePointCount(1, 0), options.board.PointCount());
    for (int i = 0; i < options.board.PointCount(); ++i) {
        EXPECT_NEAR(store.GetImagePoint(1, 0, i).x, data.views[0].pointsA[i].x, 5e-7);
        EXPECT_NEAR(store.GetImagePoint(1, 0, i).y, data.views[0].pointsA[i].y, 5e-7);
    }
    EXPECT_TRUE(store.GetGridRecord(1, 0).pointsValid);
}

TEST_F(DataStoreFiles, SavesIntoAMissingFolderFail) {
    ASSERT_EQ(store_.AddImage(0, MakeImage(4, 3, 1)), 1);
    store_.GetImagePointList(0, 0)->push_back({1, 2});
    ASSERT_TRUE(store_.GetCalibrationEngine(0)->AllocateViews(2, store_.GetObjectSettings(0)));
    EXPECT_FALSE(store_.SaveImage(0, 0, Missing("a.png").c_str(), "png"));
    EXPECT_FALSE(store_.SaveCameraParameters(0, Missing("a.txt").c_str()));
    EXPECT_FALSE(store_.SaveViewExtrinsics(0, Missing("b.txt").c_str()));
    EXPECT_FALSE(store_.SaveImagePoints(0, 0, Missing("c.txt").c_str()));
    // And the same into a folder that exists, for contrast.
    EXPECT_TRUE(store_.SaveImage(0, 0, File("a.png").c_str(), "png"));
    EXPECT_FALSE(store_.SaveImage(0, 0, File("a.xyz").c_str(), "xyz"));
    EXPECT_TRUE(store_.SaveCameraParameters(0, File("a.txt").c_str()));
    EXPECT_TRUE(store_.SaveViewExtrinsics(0, File("b.txt").c_str()));
    EXPECT_TRUE(store_.SaveImagePoints(0, 0, File("c.txt").c_str()));
}

TEST_F(DataStoreFiles, LoadCameraParametersIsAllOrNothingAndSetsTheEngine) {
    const CameraParameters before = SomeParameters(1);
    store_.SetCameraParameters(0, before);
    const CameraParameters engineBefore = store_.GetCalibrationEngine(0)->GetCameraParameters();
    const std::string shortFile = WriteText("short.txt", "500 0 320\n0 510 240\n");
    for (const std::string& path : {File("missing.txt"), shortFile}) {
        EXPECT_FALSE(store_.LoadCameraParameters(0, path.c_str())) << path;
        EXPECT_TRUE(SameParameters(store_.GetCameraParameters(0), before));
        EXPECT_TRUE(SameParameters(store_.GetCalibrationEngine(0)->GetCameraParameters(), engineBefore));
    }

    CameraParameters saved = SomeParameters(2);
    ASSERT_TRUE(WriteIntrinsicsFile(File("good.txt").c_str(), saved));
    EXPECT_FALSE(store_.LoadCameraParameters(1, File("good.txt").c_str()));
    ASSERT_TRUE(store_.LoadCameraParameters(0, File("good.txt").c_str()));
    const CameraParameters loaded = store_.GetCameraParameters(0);
    EXPECT_NEAR(loaded.K[0], saved.K[0], 1e-6);
    EXPECT_EQ(loaded.width, 640);
    EXPECT_TRUE(SameParameters(store_.GetCalibrationEngine(0)->GetCameraParameters(), loaded));

    double fovX = 0, fovY = 0;
    store_.GetCalibrationEngine(0)->GetFieldOfView(&fovX, &fovY);
    const double k = 180.0 / 3.141592653;
    const double cx = loaded.K[2], cy = loaded.K[5], fx = loaded.K[0], fy = loaded.K[4];
    EXPECT_NEAR(fovX, (std::atan((cx + 0.5) / fx) + std::atan((640 - (cx + 0.5)) / fx)) * k, 1e-9);
    EXPECT_NEAR(fovY, (std::atan((cy + 0.5) / fy) + std::atan((480 - (cy + 0.5)) / fy)) * k, 1e-9);
    EXPECT_GT(fovX, 1.0);
}

// The project reader's order: the intrinsics first, then the board, then the
// engine sized for the images and the poses file.
TEST_F(DataStoreFiles, ProjectLoadOrderKeepsTheFieldOfView) {
    const CameraParameters saved = SomeParameters(3);
    ASSERT_TRUE(WriteIntrinsicsFile(File("intrinsics.txt").c_str(), saved));
    CMonoCameraCalibrationEngine* writer = store_.GetCalibrationEngine(0);
    ASSERT_TRUE(writer->AllocateViews(3, store_.GetObjectSettings(0)));
    ASSERT_TRUE(store_.SaveViewExtrinsics(0, File("views.txt").c_str()));

    store_.AddCamera();
    ASSERT_TRUE(store_.LoadCameraParameters(1, File("intrinsics.txt").c_str()));
    ASSERT_TRUE(store_.SetObjectSettings(1, 10.0, 12.0, 3, 2, 3, 3));
    CMonoCameraCalibrationEngine* engine = store_.GetCalibrationEngine(1);
    ASSERT_TRUE(engine->AllocateViews(5, store_.GetObjectSettings(1)));
    ASSERT_TRUE(store_.LoadViewExtrinsics(1, File("views.txt").c_str()));
    EXPECT_EQ(engine->ViewCount(), 3);

    const CameraParameters loaded = store_.GetCameraParameters(1);
    double fovX = 0, fovY = 0;
    engine->GetFieldOfView(&fovX, &fovY);
    const double k = 180.0 / 3.141592653;
    const double cx = loaded.K[2], cy = loaded.K[5], fx = loaded.K[0], fy = loaded.K[4];
    EXPECT_NEAR(fovX, (std::atan((cx + 0.5) / fx) + std::atan((640 - (cx + 0.5)) / fx)) * k, 1e-9);
    EXPECT_NEAR(fovY, (std::atan((cy + 0.5) / fy) + std::atan((480 - (cy + 0.5)) / fy)) * k, 1e-9);
}

TEST_F(DataStoreFiles, LoadViewExtrinsicsReadsTheViewsTheFileHolds) {
    store_.AddCamera();
    ASSERT_TRUE(store_.SetObjectSettings(1, 10.0, 12.0, 3, 2, 3, 3));
    CMonoCameraCalibrationEngine* writer = store_.GetCalibrationEngine(0);
    ASSERT_TRUE(writer->AllocateViews(5, store_.GetObjectSettings(0)));
    for (int i = 0; i < 45; ++i) writer->RotationMatrices()[i] = 0.5 + i;
    for (int i = 0; i < 15; ++i) {
        writer->RotationVectors()[i] = -0.25 * i;
        writer->Translations()[i] = 100.0 + i;
    }
    const std::string path = File("views.txt");
    ASSERT_TRUE(store_.SaveViewExtrinsics(0, path.c_str()));

    CMonoCameraCalibrationEngine* reader = store_.GetCalibrationEngine(1);
    ASSERT_TRUE(reader->AllocateViews(7, store_.GetObjectSettings(1)));
    // Missing and short files: false, nothing changed.
    const std::string shortFile = WriteText("short.txt", "1 2 3\n4 5 6\n7 8 9\n");
    for (const std::string& bad : {File("missing.txt"), shortFile}) {
        EXPECT_FALSE(store_.LoadViewExtrinsics(1, bad.c_str())) << bad;
        EXPECT_EQ(reader->ViewCount(), 7);
        EXPECT_EQ(reader->RotationMatrices()[0], 1.0);
        EXPECT_EQ(reader->Translations()[0], 0.0);
    }

    ASSERT_TRUE(store_.LoadViewExtrinsics(1, path.c_str()));
    EXPECT_EQ(reader->ViewCount(), 5);
    EXPECT_EQ(reader->AllocatedViews(), 7);
    for (int i = 0; i < 45; ++i) EXPECT_NEAR(reader->RotationMatrices()[i], 0.5 + i, 1e-6);
    for (int i = 0; i < 15; ++i) {
        EXPECT_NEAR(reader->RotationVectors()[i], -0.25 * i, 1e-6);
        EXPECT_NEAR(reader->Translations()[i], 100.0 + i, 1e-6);
    }
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int v = 5; v < 7; ++v) {
        for (int i = 0; i < 9; ++i) EXPECT_EQ(reader->RotationMatrices()[9 * v + i], identity[i]) << v;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(reader->RotationVectors()[3 * v + i], 0.0) << v;
            EXPECT_EQ(reader->Translations()[3 * v + i], 0.0) << v;
        }
    }
    // An engine without views reads nothing.
    store_.AddCamera();
    EXPECT_FALSE(store_.LoadViewExtrinsics(2, path.c_str()));
    EXPECT_FALSE(store_.LoadViewExtrinsics(3, path.c_str()));
}

// A file cut inside its third view: the two whole views are read, the cut
// one leaves its view as AllocateViews made it.
TEST_F(DataStoreFiles, LoadViewExtrinsicsStopsAtTheFirstIncompleteView) {
    CMonoCameraCalibrationEngine* engine = store_.GetCalibrationEngine(0);
    ASSERT_TRUE(engine->AllocateViews(4, store_.GetObjectSettings(0)));
    std::string text;
    for (int v = 0; v < 2; ++v)
        for (int i = 0; i < 15; ++i) text += std::to_string(v * 100 + i + 1) + (i % 3 == 2 ? "\n" : " ");
    text += "7 8 9\n1 0 0\n";  // 6 of the third view's 15 numbers
    const std::string path = WriteText("cut.txt", text);

    ASSERT_TRUE(store_.LoadViewExtrinsics(0, path.c_str()));
    EXPECT_EQ(engine->ViewCount(), 2);
    EXPECT_EQ(engine->AllocatedViews(), 4);
    EXPECT_EQ(engine->RotationMatrices()[0], 1.0);
    EXPECT_EQ(engine->RotationMatrices()[9 + 8], 109.0);
    EXPECT_EQ(engine->Translations()[3 + 2], 115.0);
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int v = 2; v < 4; ++v) {
        for (int i = 0; i < 9; ++i) EXPECT_EQ(engine->RotationMatrices()[9 * v + i], identity[i]) << v;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(engine->RotationVectors()[3 * v + i], 0.0) << v;
            EXPECT_EQ(engine->Translations()[3 * v + i], 0.0) << v;
        }
    }
}

struct DefaultPlaneCase {
    const char* name;
    const char* text;  // null: no file
    bool valid;
};
void PrintTo(const DefaultPlaneCase& c, std::ostream* os) { *os << c.name; }


class DefaultCalibPlane : public StoreFiles, public ::testing::WithParamInterface<DefaultPlaneCase> {};

TEST_P(DefaultCalibPlane, OnlyAValidFileSetsTheDefaults) {
    const DefaultPlaneCase& c = GetParam();
    const std::string path = c.text ? WriteText("default_calib_plane.txt", c.text) : File("default_calib_plane.txt");
    CalibrationDataStore store;
    EXPECT_EQ(store.ReadDefaultCalibPlane(path.c_str()), c.valid);
    EXPECT_EQ(store.HasDefaultSettings(), c.valid);
    store.AddCamera();
    const CalibrationObjectSettings s = store.GetObjectSettings(0);
    if (c.valid) {
        EXPECT_EQ(s.squaresX, 9);
        EXPECT_EQ(s.squaresY, 6);
        EXPECT_EQ(s.squareSizeX, 25.5);
        EXPECT_EQ(s.squareSizeY, 24.5);
        EXPECT_EQ(s.windowX, 5);
        EXPECT_EQ(s.windowY, 4);
        EXPECT_TRUE(store.IsObjectDefined(0));
    } else {
        EXPECT_TRUE(SameSettings(s, CalibrationObjectSettings()));
        EXPECT_FALSE(store.IsObjectDefined(0));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, DefaultCalibPlane,
    ::testing::Values(DefaultPlaneCase{"Missing", nullptr, false},
                      DefaultPlaneCase{"Short", "9 6 25.5", false},
                      DefaultPlaneCase{"NotNumbers", "nine six 25 25 3 3", false},
                      DefaultPlaneCase{"FailsTheBoardRule", "1 6 25.5 24.5 5 4", false},
                      DefaultPlaneCase{"Valid", "9\n6\n25.5 24.5\t5 4\n", true}),
    [](const ::testing::TestParamInfo<DefaultPlaneCase>& info) { return info.param.name; });

TEST(DataStoreSettings, SetObjectSettingsIgnoresBoardsThatFailTheRule) {
    CalibrationDataStore store;
    store.AddCamera();
    ASSERT_TRUE(store.SetObjectSettings(0, 25.0, 25.0, 9, 6, 5, 5));
    struct Case {
        double sx, sy;
        int nx, ny, wx, wy;
    } refused[] = {{25, 25, 1, 6, 5, 5},    {25, 25, 9, 0, 5, 5},  {25, 25, 200000, 200000, 5, 5},
                   {0, 25, 9, 6, 5, 5},     {25, -1, 9, 6, 5, 5},  {NAN, 25, 9, 6, 5, 5},
                   {25, 25, 9, 6, 0, 5},    {25, 25, -9, -6, 5, 5}};
    for (const Case& c : refused) {
        EXPECT_FALSE(store.SetObjectSettings(0, c.sx, c.sy, c.nx, c.ny, c.wx, c.wy)) << c.nx << " x " << c.ny;
        EXPECT_EQ(store.GetObjectSettings(0).squaresX, 9);
    }
    // Both counts 0: "no board", as a new camera has.
    EXPECT_TRUE(store.SetObjectSettings(0, 0.0, 0.0, 0, 0, 3, 3));
    EXPECT_TRUE(SameSettings(store.GetObjectSettings(0), CalibrationObjectSettings()));
    EXPECT_FALSE(store.IsObjectDefined(0));
    EXPECT_FALSE(store.SetObjectSettings(1, 25.0, 25.0, 9, 6, 5, 5));
}

// ---- Points and grid records ----

TEST_F(DataStoreFiles, OutOfRangeRequestsTouchNothing) {
    const std::string image = WriteQt(ColourImage(4, QImage::Format_RGB888), "image.png", "png");
    const std::string points = WriteText("points.txt", Points(6));
    ASSERT_EQ(store_.AddImageFromFile(0, image.c_str(), 1, 1, points.c_str()), 1);
    const CalibrationGridRecord before = store_.GetGridRecord(0, 0);

    struct Index {
        int camera, image, point;
    } outside[] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 6}, {0, 0, -1}};
    for (const Index& i : outside) {
        SCOPED_TRACE(std::to_string(i.camera) + " " + std::to_string(i.image) + " " + std::to_string(i.point));
        EXPECT_FALSE(store_.SetImagePoint(i.camera, i.image, i.point, 1.0, 2.0));
        const Point2d p = store_.GetImagePoint(i.camera, i.image, i.point);
        EXPECT_EQ(p.x, -1.0);
        EXPECT_EQ(p.y, -1.0);
        if (i.point == 0) {
            const std::string out = File("out.png");
            EXPECT_FALSE(store_.SaveImage(i.camera, i.image, out.c_str(), "png"));
            EXPECT_FALSE(fs::exists(out));
            const CalibrationGridRecord grid = store_.GetGridRecord(i.camera, i.image);
            EXPECT_FALSE(grid.gridSet);
            EXPECT_TRUE(grid.points.empty());
            EXPECT_EQ(store_.GetCornerPointList(i.camera, i.image), nullptr);
            EXPECT_EQ(store_.GetImagePointList(i.camera, i.image), nullptr);
            EXPECT_EQ(store_.GetMutableGridRecord(i.camera, i.image), nullptr);
        }
    }
    const CalibrationGridRecord after = store_.GetGridRecord(0, 0);
    ASSERT_EQ(after.points.size(), before.points.size());
    for (size_t k = 0; k < after.points.size(); ++k) {
        EXPECT_EQ(after.points[k].x, before.points[k].x);
        EXPECT_EQ(store_.GetImagePoint(0, 0, static_cast<int>(k)).x, before.points[k].x);
    }
}

TEST_F(DataStoreFiles, SetImagePointWritesWhereTheIndexLies) {
    ASSERT_EQ(store_.AddImage(0, MakeImage(4, 3, 1)), 1);
    // A grid that failed to take its points holds n zeros; the list is empty.
    store_.GetMutableGridRecord(0, 0)->SetGridPoints(3, 2, 10.0, 12.0, {});
    EXPECT_TRUE(store_.SetImagePoint(0, 0, 4, 7.0, 8.0));
    EXPECT_EQ(store_.GetImagePointCount(0, 0), 0);
    EXPECT_EQ(store_.GetGridRecord(0, 0).points[4].x, 7.0);

    store_.GetImagePointList(0, 0)->assign(6, Point2d{1.0, 1.0});
    store_.GetMutableGridRecord(0, 0)->SetGridPoints(3, 2, 10.0, 12.0, *store_.GetImagePointList(0, 0));
    EXPECT_TRUE(store_.SetImagePoint(0, 0, 5, 3.5, 4.5));
    EXPECT_EQ(store_.GetImagePoint(0, 0, 5).x, 3.5);
    EXPECT_EQ(store_.GetImagePoint(0, 0, 5).y, 4.5);
    EXPECT_EQ(store_.GetGridRecord(0, 0).points[5].y, 4.5);

    store_.GetCornerPointList(0, 0)->push_back({1, 1});
    store_.SetImageDetected(0, 0, true);
    store_.ResetImageDetection(0, 0);
    EXPECT_TRUE(store_.GetCornerPointList(0, 0)->empty());
    EXPECT_EQ(store_.GetImagePointCount(0, 0), 0);
    EXPECT_FALSE(store_.GetGridRecord(0, 0).pointsValid);
    EXPECT_TRUE(store_.GetGridRecord(0, 0).points.empty());
    EXPECT_EQ(store_.IsImageDetected(0, 0), 0);
    EXPECT_FALSE(store_.SetImagePoint(0, 0, 0, 1.0, 1.0));
}

// ---- Life ----

TEST(DataStoreLife, FilledStoreIsReleasedWhole) {
    // The sanitizer run fails on any leak or use after free here.
    auto store = std::make_unique<CalibrationDataStore>();
    AddEntries(*store, {0, 0, 1, 0, 0, 1});
    FillCameras(*store);
    for (int c = 0; c < store->GetMonoCameraCount(); ++c)
        ASSERT_TRUE(store->GetCalibrationEngine(c)->AllocateViews(6, store->GetObjectSettings(c)));
    store->SetStereoCamera(1, TaggedStereoCamera(5));
    store->InsertCamera(1);
    store->ReleaseImages();
    EXPECT_EQ(store->GetImageCount(3), 0);
    EXPECT_EQ(store->GetMonoCameraCount(), 5);
    FillCameras(*store);
    EXPECT_EQ(store->RemoveEntry(0), 2);
    store.reset();
}

}  // namespace
