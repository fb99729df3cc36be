// The blob tracker: module tables, the drawing rules, and the whole pipeline
// on a synthetic video with the display sink recorded.
#include "CV/blob_tracker.h"

#include <gtest/gtest.h>

#include <cvcompat/display.h>
#include <cvcompat/errstatus.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "blob_drawing.h"

namespace {

using namespace CV::PeopleTracking;

struct Row {
    const char* nickname;
    const char* description;
    bool provided;
};

void ExpectTable(const VisionModuleEntry* table, const std::vector<Row>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].nickname);
        EXPECT_STREQ(table[i].nickname, rows[i].nickname);
        EXPECT_STREQ(table[i].description, rows[i].description);
        CvVSModule* module = table[i].create ? table[i].create() : nullptr;
        EXPECT_EQ(module != nullptr, rows[i].provided);
        if (module) module->Release();
    }
    const VisionModuleEntry& end = table[rows.size()];
    EXPECT_EQ(end.create, nullptr);
    EXPECT_EQ(end.nickname, nullptr);
    EXPECT_EQ(end.description, nullptr);
}

TEST(BlobTrackerTables, TextsRowsAndModules) {
    ExpectTable(ForegroundDetectorTable,
                {{"FG_0", "Foreground Object Detection from Videos Containing Complex Background. ACM MM2003.", false},
                 {"FG_0S", "Simplyfied version of FG_0", false},
                 {"FG_1", "Adaptive background mixture models for real-time tracking. CVPR1999", true}});
    ExpectTable(BlobDetectorTable,
                {{"BD_CC", "Detect new blob by tracking CC of FG mask", true},
                 {"BD_Simple", "Detect new blob by uniform moving of connected components of FG mask", false}});
    ExpectTable(TrackGeneratorTable,
                {{"YML", "Generate track record in YML format as synthetic video data", false},
                 {"RawTracks", "Generate raw track record (x,y,sx,sy),()... in each line", false}});
    ExpectTable(BlobTrackerTable, {{"CCMSPF", "connected component tracking and MSPF resolver for collision", false},
                                   {"CC", "Simple connected component tracking", false},
                                   {"MS", "Mean shift algorithm ", false},
                                   {"MSFG", "Mean shift algorithm with FG mask using", true},
                                   {"MSPF", "Particle filtering based on MS weight", false}});
    ExpectTable(TrackPostProcessTable, {{"Kalman", "Kalman filtering of blob position and size", false},
                                        {"None", "No post processing filter", false}});
    EXPECT_EQ(TrackPostProcessTable[1].create, nullptr);
    ExpectTable(TrackAnalysisTable,
                {{"HistPVS", "Histogramm of 5D feture vector analysis (x,y,vx,vy,state)", false},
                 {"None", "No trajectory analiser", false},
                 {"HistP", "Histogramm of 2D feture vector analysis (x,y)", false},
                 {"HistPV", "Histogramm of 4D feture vector analysis (x,y,vx,vy)", false},
                 {"HistSS", "Histogramm of 4D feture vector analysis (startpos,endpos)", false},
                 {"TrackDist", "Compare tracks directly", false},
                 {"IOR", "Integrator (by OR operation) of several analysers ", false}});
    EXPECT_EQ(TrackAnalysisTable[1].create, nullptr);
    EXPECT_EQ(ForegroundDetectorSelection, ForegroundDetectorTable);
    EXPECT_EQ(TrackAnalysisSelection, TrackAnalysisTable);
}

TEST(BlobDrawing, ThicknessAndColourByState) {
    const CvBlob blob = cvBlob(10.4f, 20.6f, 9.0f, 5.0f);
    struct Case {
        int c;
        int thickness;
    };
    for (const Case& k : {Case{0, 1}, Case{84, 1}, Case{85, 2}, Case{169, 2}, Case{170, 3}, Case{254, 3},
                          Case{255, 4}}) {
        SCOPED_TRACE(k.c);
        const auto view = detail::ViewEllipse(blob, k.c / 255.0f);
        EXPECT_EQ(view.thickness, k.thickness);
        EXPECT_EQ(view.colour, cv::Scalar(0, 255 - k.c, k.c));
        const auto frame = detail::FrameEllipse(blob, k.c / 255.0f);
        EXPECT_EQ(frame.thickness, 1);
        EXPECT_EQ(frame.colour, view.colour);
    }
    const auto view = detail::ViewEllipse(blob, 0.0f);
    EXPECT_EQ(view.centre, cv::Point(10, 21));
    EXPECT_EQ(view.axes, cv::Size(4, 2));  // nearest(4.5) is even
    EXPECT_EQ(view.shift, 0);
    EXPECT_EQ(view.lineType, cv::LINE_8);
    const auto frame = detail::FrameEllipse(blob, 0.0f);
    EXPECT_EQ(frame.centre, cv::Point(2662, 5274));
    EXPECT_EQ(frame.axes, cv::Size(1152, 640));
    EXPECT_EQ(frame.shift, 8);
    EXPECT_EQ(frame.lineType, cv::LINE_AA);
}

TEST(BlobDrawing, APixelWideBlob) {
    const auto view = detail::ViewEllipse(cvBlob(5, 5, 1.0f, 0.2f), 0.0f);
    EXPECT_EQ(view.axes, cv::Size(1, 1));
    const auto frame = detail::FrameEllipse(cvBlob(5, 5, 1.0f, 0.001f), 0.0f);
    EXPECT_EQ(frame.axes, cv::Size(128, 1));
    cv::Mat image(11, 11, CV_8UC3, cv::Scalar::all(0));
    detail::DrawBlobEllipse(image, frame);
    EXPECT_GT(cv::countNonZero(image.reshape(1)), 0);
}

// A still, noisy, textured background; a bright square that may move.
class Video {
public:
    explicit Video(cv::Size size) : background_(size, CV_8UC3), rng_(777) {
        rng_.fill(background_, cv::RNG::UNIFORM, cv::Scalar::all(50), cv::Scalar::all(110));
        cv::GaussianBlur(background_, background_, cv::Size(5, 5), 0);
    }
    cv::Mat Frame(cv::Rect square = {}) {
        cv::Mat noise(background_.size(), CV_16SC3);
        rng_.fill(noise, cv::RNG::UNIFORM, cv::Scalar::all(-2), cv::Scalar::all(3));
        cv::Mat frame;
        cv::add(background_, noise, frame, cv::noArray(), CV_8UC3);
        if (!square.empty()) frame(square).setTo(cv::Scalar(235, 240, 245));
        return frame;
    }

private:
    cv::Mat background_;
    cv::RNG rng_;
};

class Pipeline : public testing::Test {
protected:
    void SetUp() override {
        previousErrors_ = cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) {});
        cvcompat::ClearErrStatus();
        cvcompat::SetImageSink([this](const std::string& name, const cv::Mat& image) {
            shown.push_back({name, image});
        });
    }
    void TearDown() override {
        cvcompat::SetImageSink({});
        cvcompat::SetErrorHandler(previousErrors_);
        cvcompat::ClearErrStatus();
    }
    void Process(COCVBlobTracker& tracker, cv::Mat& frame) {
        IplImage view = cvIplImage(frame);
        tracker.ProcessFrame(&view);
    }

    struct Shown {
        std::string name;
        cv::Mat image;
    };
    std::vector<Shown> shown;
    cvcompat::ErrorHandler previousErrors_;
};

TEST_F(Pipeline, TracksAMovingSquareAndDrawsOnlyItsEllipse) {
    COCVBlobTracker tracker;
    Video video({160, 120});
    for (int i = 0; i < 20; ++i) {
        cv::Mat frame = video.Frame();
        const cv::Mat before = frame.clone();
        Process(tracker, frame);
        ASSERT_EQ(cv::norm(frame, before, cv::NORM_INF), 0.0) << i;  // no blob, nothing drawn
        ASSERT_EQ(shown.size(), static_cast<size_t>(i)) << "no view before the first mask";
    }
    ASSERT_EQ(shown.back().name, "FG");
    EXPECT_EQ(shown.back().image.size(), cv::Size(160, 120));
    EXPECT_EQ(shown.back().image.type(), CV_8UC3);

    cv::Rect square(40, 50, 20, 20);
    int id = -1;
    for (int i = 0; i < 20; ++i) {
        square.x += 2;
        cv::Mat frame = video.Frame(square);
        const cv::Mat before = frame.clone();
        Process(tracker, frame);
        CvBlobTrackerAuto* automatic = tracker.AutoTracker();
        if (i < 2) {
            EXPECT_EQ(automatic->GetBlobNum(), 0) << i;
            continue;
        }
        ASSERT_EQ(automatic->GetBlobNum(), 1) << i;
        const CvBlob& b = *automatic->GetBlob(0);
        if (id < 0) id = b.ID;
        EXPECT_EQ(b.ID, id);
        EXPECT_NEAR(b.x, square.x + 10, 3) << i;
        EXPECT_NEAR(b.y, square.y + 10, 3) << i;

        // Changed pixels move towards green and lie near the blob.
        cv::Mat changed;
        cv::compare(frame.reshape(1), before.reshape(1), changed, cv::CMP_NE);
        changed = changed.reshape(3);
        int count = 0;
        for (int y = 0; y < frame.rows; ++y)
            for (int x = 0; x < frame.cols; ++x) {
                if (changed.at<cv::Vec3b>(y, x) == cv::Vec3b(0, 0, 0)) continue;
                ++count;
                const cv::Vec3b now = frame.at<cv::Vec3b>(y, x), was = before.at<cv::Vec3b>(y, x);
                EXPECT_LE(now[0], was[0]);
                EXPECT_GE(now[1], was[1]);
                EXPECT_LE(now[2], was[2]);
                EXPECT_LE(std::abs(x - b.x), 0.5 * b.w + 2) << x << "," << y;
                EXPECT_LE(std::abs(y - b.y), 0.5 * b.h + 2) << x << "," << y;
            }
        EXPECT_GT(count, 20) << i;
        // The view shows the mask with the ellipse in green.
        const cv::Mat& view = shown.back().image;
        const int leftmost = cvRound(b.x) - std::max(1, cvRound(0.5 * b.w));
        EXPECT_EQ(view.at<cv::Vec3b>(cvRound(b.y), leftmost), cv::Vec3b(0, 255, 0)) << i;
    }

    // A null frame runs no step: only the view is shown again.
    const size_t views = shown.size();
    const CvBlob last = *tracker.AutoTracker()->GetBlob(0);
    tracker.ProcessFrame(nullptr);
    EXPECT_EQ(shown.size(), views + 1);
    EXPECT_EQ(tracker.AutoTracker()->GetBlob(0)->x, last.x);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);

    cv::Mat grey(120, 160, CV_8UC1, cv::Scalar(3));
    IplImage g = cvIplImage(grey);
    tracker.ProcessFrame(&g);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(shown.size(), views + 1);
}

TEST_F(Pipeline, TrackersOnTwoFrameSizesAndSharedCopies) {
    COCVBlobTracker large, small;
    Video a({160, 120}), b({80, 60});
    for (int i = 0; i < 4; ++i) {
        cv::Mat fa = a.Frame(), fb = b.Frame();
        Process(large, fa);
        Process(small, fb);
    }
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[4].image.size(), cv::Size(160, 120));
    EXPECT_EQ(shown[5].image.size(), cv::Size(80, 60));

    auto copy = std::make_unique<COCVBlobTracker>();
    CvBlobTrackerAuto* own = copy->AutoTracker();
    ASSERT_NE(own, nullptr);
    *copy = small;  // releases the copy's own tracker and modules
    EXPECT_EQ(copy->AutoTracker(), small.AutoTracker());
    {
        COCVBlobTracker held(large);
        EXPECT_EQ(held.AutoTracker(), large.AutoTracker());
    }
    cv::Mat fa = a.Frame();
    Process(large, fa);  // still alive after the copy went
    small = COCVBlobTracker();
    cv::Mat fb = b.Frame();
    Process(*copy, fb);  // the copy keeps what the source gave up
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);
    EXPECT_EQ(shown.back().image.size(), cv::Size(80, 60));
}

}  // namespace
