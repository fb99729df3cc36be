// Histogram background segmentation, its post-filter, and the person tracker's
// box search, metric and output file.
#include "CV/person_tracker.h"

#include <gtest/gtest.h>

#include <cvcompat/errstatus.h>

#include <array>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "person_box.h"
#include "tracking_images.h"

namespace {

namespace fs = std::filesystem;
using CV::PeopleTracking::CPersonTracker;
using CV::PeopleTracking::PersonMetric;
using tracking_test::At;
using tracking_test::Fill;
using tracking_test::Image;
using tracking_test::MakeImage;
using Bgr = std::array<unsigned char, 3>;

class QuietErrors : public testing::Test {
protected:
    void SetUp() override {
        previous_ = cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) {});
        cvcompat::ClearErrStatus();
    }
    void TearDown() override {
        cvcompat::SetErrorHandler(previous_);
        cvcompat::ClearErrStatus();
    }
    cvcompat::ErrorHandler previous_;
};

Image Grey(int width, int height, unsigned char value) {
    Image image = MakeImage(width, height);
    Fill(image.get(), 0, 0, width, height, {value, value, value});
    return image;
}

struct SegmentationCase {
    const char* name;
    unsigned char seed;
    unsigned char value;
    int frames;
    bool mark;
    unsigned char background;
    unsigned char out;  // every byte of the last frame's output pixel
};

TEST(HistogramSegmentation, OnePixelSequences) {
    const SegmentationCase cases[] = {
        {"255 is bin 8, background 255, after a lead of 31", 0, 255, 32, false, 255, 0},
        {"a lead of 30 keeps the background", 0, 255, 31, false, 0, 255},
        {"0 is bin 0, background 15", 255, 0, 32, false, 15, 0},
        {"a difference of 30 is background", 100, 130, 1, false, 100, 0},
        {"a difference of 31 is foreground", 100, 131, 1, false, 100, 131},
        {"marked foreground", 100, 131, 1, true, 100, 255},
    };
    for (const SegmentationCase& k : cases) {
        SCOPED_TRACE(k.name);
        CBackgroundForegroundSegmentation segmentation;
        segmentation.markForeground = k.mark;
        segmentation.Initialize(Grey(1, 1, k.seed).get());
        Image frame;
        for (int i = 0; i < k.frames; ++i) {
            frame = Grey(1, 1, k.value);
            segmentation.Process(frame.get(), frame.get());
        }
        EXPECT_EQ(*At(const_cast<IplImage*>(segmentation.Background()), 0, 0), k.background);
        EXPECT_EQ(tracking_test::Pixel(frame.get(), 0, 0), (Bgr{k.out, k.out, k.out}));
    }
}

TEST_F(QuietErrors, PostFilterRunsInPlaceRowsThenColumns) {
    // 1 marks a pixel whose first byte is set. Pixels set by the filter are
    // white; the others keep their bytes.
    const int before[5][6] = {{1, 0, 1, 0, 0, 0},
                              {0, 0, 0, 0, 0, 0},
                              {1, 1, 1, 1, 1, 1},
                              {0, 0, 0, 0, 0, 1},
                              {1, 0, 0, 0, 0, 0}};
    // Row 0, column 2 stays set because column 1 was set just before it;
    // row 2, columns 3 and 4 clear because row 1 was filled just before.
    const int after[5][6] = {{1, 1, 1, 0, 0, 0},
                             {1, 1, 1, 0, 0, 0},
                             {1, 1, 1, 0, 0, 1},
                             {1, 0, 0, 0, 0, 1},
                             {1, 0, 0, 0, 0, 0}};
    Image image = MakeImage(6, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            if (before[y][x]) Fill(image.get(), x, y, 1, 1, {200, 10, 20});
    CBackgroundForegroundSegmentation segmentation;
    segmentation.PostFilterForeground(image.get(), nullptr, image.get(), 30.0f);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(*At(image.get(), x, y) != 0, after[y][x] == 1) << x << "," << y;
    EXPECT_EQ(tracking_test::Pixel(image.get(), 0, 0), (Bgr{200, 10, 20}));
    EXPECT_EQ(tracking_test::Pixel(image.get(), 0, 1), (Bgr{255, 255, 255}));

    const Image kept = tracking_test::Clone(image.get());
    Image big = MakeImage(7, 5);
    segmentation.PostFilterForeground(big.get(), nullptr, image.get(), 30.0f);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    cvcompat::ClearErrStatus();
    Image grey = MakeImage(6, 5, 1);
    segmentation.PostFilterForeground(image.get(), nullptr, grey.get(), 30.0f);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_TRUE(tracking_test::SameBytes(image.get(), kept.get()));
}

struct BoxCase {
    const char* name;
    int rowRun;     // fine rows above the threshold, from row 4
    int columnRun;  // fine columns above the threshold, from column 4
    bool accepted;
    int shape;
};

TEST(PersonBox, SidesAndShapeFromCraftedProjections) {
    // A run of n cells gives a side of 4 (n + 1) pixels: the bounds stop on
    // the first cell at or below a tenth of the maximum on either side.
    const BoxCase cases[] = {
        {"40 high", 9, 7, false, 0},         {"28 wide", 10, 6, false, 0},
        {"44 x 32 kept", 10, 7, true, 2},    {"width - height = -20", 12, 7, true, 2},
        {"width - height = -24", 13, 7, true, 1},
    };
    for (const BoxCase& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<int> rows(24, 0), columns(32, 0);
        for (int i = 0; i < k.rowRun; ++i) rows[4 + i] = 100;
        for (int j = 0; j < k.columnRun; ++j) columns[4 + j] = 100;
        rows[3] = 10;  // exactly a tenth: not above it
        const auto box = CV::PeopleTracking::detail::GrowBox(rows.data(), 24, 100, columns.data(), 32, 100, 6, 6);
        EXPECT_EQ(box.top, 3);
        EXPECT_EQ(box.bottom, 4 + k.rowRun);
        const int height = 4 * (box.bottom - box.top), width = 4 * (box.right - box.left);
        EXPECT_EQ(CV::PeopleTracking::detail::Accepted(width, height), k.accepted);
        if (k.accepted) {
            EXPECT_EQ(CV::PeopleTracking::detail::Shape(width, height), k.shape);
        }
    }
    // A run from the first row ends the scan at -1.
    std::vector<int> rows(24, 100), columns(32, 100);
    const auto box = CV::PeopleTracking::detail::GrowBox(rows.data(), 24, 100, columns.data(), 32, 100, 1, 30);
    EXPECT_EQ(box.top, -1);
    EXPECT_EQ(box.bottom, 24);
    EXPECT_EQ(box.right, 32);
}

// A 128 x 96 scene: an empty grey floor, objects of bright grey.
class PersonScene : public QuietErrors {
protected:
    static Image Empty() { return Grey(128, 96, 40); }
    static Image WithObject(int x, int y, int w, int h) {
        Image frame = Empty();
        Fill(frame.get(), x, y, w, h, {200, 200, 200});
        return frame;
    }
    PersonMetric Track(Image frame) {
        tracker.ProcessVideoFrame(frame.get());
        return tracker.GetCurMetric();
    }
    CPersonTracker tracker;
};

TEST_F(PersonScene, FindsATallObjectAroundACoarseCellCentre) {
    EXPECT_FALSE(Track(Empty()).found);
    // 32 x 72 centred on the centre (48, 48) of coarse cell (1, 1).
    const PersonMetric m = Track(WithObject(32, 12, 32, 72));
    ASSERT_TRUE(m.found);
    EXPECT_EQ(m.shape, 1);
    EXPECT_EQ(m.left % 4, 0);
    EXPECT_EQ(m.right % 4, 0);
    EXPECT_EQ(m.bottom % 4, 0);
    EXPECT_LE(m.left, 32);
    EXPECT_GE(m.left, 32 - 8);
    EXPECT_GE(m.right, 64);
    EXPECT_LE(m.right, 64 + 8);
    EXPECT_GE(m.bottom, 84);
    EXPECT_LE(m.bottom, 84 + 8);
    EXPECT_NEAR(m.centreX, 48, 4);
    EXPECT_NEAR(m.centreY, 48, 4);
    EXPECT_EQ(m.reserved, 0);
    EXPECT_EQ(m.motionX, 0.0f);  // no person in the frame before

    const PersonMetric moved = Track(WithObject(36, 12, 32, 72));
    ASSERT_TRUE(moved.found);
    EXPECT_EQ(moved.motionX, -4.0f);
    EXPECT_EQ(moved.motionY, 0.0f);
    EXPECT_EQ(moved.centreX, m.centreX + 4);
    EXPECT_EQ(tracker.GetFrameCount(), 3u);
}

TEST_F(PersonScene, AWideObjectIsShapeTwoAndDrawsBoxAndCentre) {
    tracker.drawBox = true;
    tracker.drawCentre = true;
    Track(Empty());
    Image frame = WithObject(32, 24, 64, 48);
    const PersonMetric m = Track(std::move(frame));
    ASSERT_TRUE(m.found);
    EXPECT_EQ(m.shape, 2);
    Image drawn = WithObject(32, 24, 64, 48);
    tracker.ProcessVideoFrame(drawn.get());
    const PersonMetric again = tracker.GetCurMetric();
    // The box's left edge in blue, the centre's ring in green.
    EXPECT_EQ(tracking_test::Pixel(drawn.get(), again.left, static_cast<int>(again.centreY)), (Bgr{255, 0, 0}));
    EXPECT_EQ(tracking_test::Pixel(drawn.get(), static_cast<int>(again.centreX) + 5,
                                   static_cast<int>(again.centreY))[1],
              255);
}

TEST_F(PersonScene, EmptySceneWritesTheOutputLine) {
    const fs::path dir = fs::temp_directory_path() / ("person_tracker_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    setenv("QUORL_DRIVE_C", dir.c_str(), 1);
    {
        CPersonTracker writer;
        writer.writeOutput = true;
        for (int i = 0; i < 3; ++i) {
            Image frame = Empty();
            writer.ProcessVideoFrame(frame.get());
            const PersonMetric m = writer.GetCurMetric();
            EXPECT_FALSE(m.found);
            EXPECT_EQ(m.shape, 0);
            EXPECT_EQ(m.centreX, 0.0f);
        }
    }
    unsetenv("QUORL_DRIVE_C");
    std::ifstream in(dir / "TrackingOutput.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "0 0 -1 -1 0\n1 0 -1 -1 0\n2 0 -1 -1 0\n");
    fs::remove_all(dir);
}

TEST_F(PersonScene, UnopenableOutputIsReportedOnceAndLinesDropped) {
    setenv("QUORL_DRIVE_C", "/nonexistent/folder/for/tracking", 1);
    CPersonTracker writer;
    writer.writeOutput = true;
    const long reports = cvcompat::ErrorReportCount();
    for (int i = 0; i < 3; ++i) {
        Image frame = Empty();
        writer.ProcessVideoFrame(frame.get());
    }
    unsetenv("QUORL_DRIVE_C");
    EXPECT_EQ(cvcompat::ErrorReportCount(), reports + 1);
    EXPECT_EQ(writer.GetFrameCount(), 3u);
}

TEST_F(PersonScene, RefusedFramesChangeNothing) {
    CPersonTracker fresh;
    Image grey = MakeImage(128, 96, 1);
    fresh.ProcessVideoFrame(grey.get());
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(fresh.GetFrameCount(), 0u);
    fresh.FindPerson();  // nothing before a first frame
    EXPECT_FALSE(fresh.GetCurMetric().found);

    Track(Empty());
    const PersonMetric found = Track(WithObject(32, 12, 32, 72));
    ASSERT_TRUE(found.found);
    cvcompat::ClearErrStatus();
    Image other = Grey(96, 96, 40);
    const Image kept = tracking_test::Clone(other.get());
    tracker.ProcessVideoFrame(other.get());
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    EXPECT_TRUE(tracking_test::SameBytes(other.get(), kept.get()));
    EXPECT_EQ(tracker.GetFrameCount(), 2u);
    EXPECT_EQ(tracker.GetCurMetric().centreX, found.centreX);
    cvcompat::ClearErrStatus();
    tracker.ProcessVideoFrame(nullptr);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(tracker.GetFrameCount(), 2u);

    int histogram[12] = {}, maximum = -1;
    cvcompat::ClearErrStatus();
    tracker.Histogram2D(other.get(), histogram, 0, &maximum);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(maximum, -1);
    cvcompat::ClearErrStatus();
    tracker.Histogram2D(nullptr, histogram, 32, &maximum);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
}

TEST(PersonHistogram, CountsNonBlackPixelsInWholeCells) {
    CPersonTracker tracker;
    Image image = MakeImage(70, 40);  // partial cells at the right and bottom
    Fill(image.get(), 0, 0, 3, 2, {0, 0, 9});
    Fill(image.get(), 40, 0, 2, 2, {5, 0, 0});
    Fill(image.get(), 66, 36, 4, 4, {9, 9, 9});  // outside every whole cell
    int histogram[2] = {-1, -1}, maximum = -1;
    tracker.Histogram2D(image.get(), histogram, 32, &maximum);
    EXPECT_EQ(histogram[0], 6);
    EXPECT_EQ(histogram[1], 4);
    EXPECT_EQ(maximum, 6);
}

TEST(HistogramSegmentation, CopiesAreDeep) {
    CBackgroundForegroundSegmentation a;
    a.Initialize(Grey(2, 2, 0).get());
    CBackgroundForegroundSegmentation b(a);
    for (int i = 0; i < 32; ++i) {
        Image frame = Grey(2, 2, 255);
        a.Process(frame.get(), frame.get());
    }
    EXPECT_EQ(*At(const_cast<IplImage*>(a.Background()), 1, 1), 255);
    EXPECT_EQ(*At(const_cast<IplImage*>(b.Background()), 1, 1), 0);
    b = a;
    EXPECT_EQ(*At(const_cast<IplImage*>(b.Background()), 1, 1), 255);
}

}  // namespace
