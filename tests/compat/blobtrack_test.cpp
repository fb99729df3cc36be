// The blob-tracking modules: foreground detector, blob detector, mean-shift
// tracker and the auto tracker that runs them.
#include <gtest/gtest.h>

#include <cvcompat/blobtrack.h>
#include <cvcompat/blobtrack_modules.h>
#include <cvcompat/errstatus.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

struct ModuleReleaser {
    void operator()(CvVSModule* m) const {
        if (m) m->Release();
    }
};
template <class T>
using Owned = std::unique_ptr<T, ModuleReleaser>;

class Modules : public testing::Test {
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

// A textured, slightly noisy background and a square of one colour.
class Scene {
public:
    Scene(int width, int height) : background_(height, width, CV_8UC3), rng_(12345) {
        rng_.fill(background_, cv::RNG::UNIFORM, cv::Scalar(40, 40, 40), cv::Scalar(120, 120, 120));
        cv::GaussianBlur(background_, background_, cv::Size(5, 5), 0);
    }
    cv::Mat Frame(cv::Rect square = {}) {
        cv::Mat noise(background_.size(), CV_16SC3);
        rng_.fill(noise, cv::RNG::UNIFORM, cv::Scalar::all(-2), cv::Scalar::all(3));
        cv::Mat frame;
        cv::add(background_, noise, frame, cv::noArray(), CV_8UC3);
        if (!square.empty()) frame(square).setTo(cv::Scalar(60, 200, 240));
        return frame;
    }
    static cv::Mat Mask(cv::Size size, cv::Rect square) {
        cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
        if (!square.empty()) mask(square).setTo(255);
        return mask;
    }

private:
    cv::Mat background_;
    cv::RNG rng_;
};

TEST_F(Modules, ForegroundDetectorMaskAfterTwoFramesWithoutSpecks) {
    EXPECT_EQ(cvCreateFGDetectorBase(0, nullptr), nullptr);
    EXPECT_EQ(cvCreateFGDetectorBase(2, nullptr), nullptr);
    Owned<CvFGDetector> fg(cvCreateFGDetectorBase(1, nullptr));
    ASSERT_NE(fg, nullptr);
    Scene scene(96, 72);
    cv::Mat first = scene.Frame();
    IplImage f1 = cvIplImage(first);
    fg->Process(&f1);
    EXPECT_EQ(fg->GetMask(), nullptr);
    for (int i = 0; i < 15; ++i) {
        cv::Mat frame = scene.Frame();
        IplImage f = cvIplImage(frame);
        fg->Process(&f);
    }
    ASSERT_NE(fg->GetMask(), nullptr);

    cv::Mat frame = scene.Frame(cv::Rect(30, 20, 20, 20));
    frame(cv::Rect(70, 50, 3, 3)).setTo(cv::Scalar(250, 250, 250));  // 9 pixels: a speck
    const cv::Mat before = frame.clone();
    IplImage f = cvIplImage(frame);
    fg->Process(&f);
    EXPECT_EQ(cv::norm(frame, before, cv::NORM_INF), 0.0);
    const cv::Mat mask = cv::cvarrToMat(fg->GetMask());
    ASSERT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(mask.at<unsigned char>(30, 40), 255);
    EXPECT_EQ(mask.at<unsigned char>(51, 71), 0);
    EXPECT_EQ(cv::countNonZero(mask(cv::Rect(30, 20, 20, 20))), 400);
    EXPECT_EQ(cv::countNonZero(mask), 400);  // nothing of the noise
    EXPECT_EQ(cv::countNonZero((mask != 0) & (mask != 255)), 0);

    cv::Mat small(10, 10, CV_8UC3, cv::Scalar(1, 2, 3));
    IplImage s = cvIplImage(small);
    fg->Process(&s);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    EXPECT_EQ(cv::countNonZero(cv::cvarrToMat(fg->GetMask())), 400);
}

class BlobDetector : public Modules {
protected:
    int Detect(cv::Rect square, CvBlobSeq* old = nullptr) {
        cv::Mat mask = Scene::Mask({64, 48}, square);
        IplImage m = cvIplImage(mask);
        found.Clear();
        return bd->DetectNewBlob(nullptr, &m, &found, old);
    }
    Owned<CvBlobDetector> bd{cvCreateBlobDetectorCC()};
    CvBlobSeq found;
};

TEST_F(BlobDetector, ReportsOnTheThirdConsecutiveCallOnly) {
    EXPECT_EQ(Detect({20, 20, 10, 10}), 0);
    EXPECT_EQ(Detect({22, 20, 10, 10}), 0);  // moved, still continued
    ASSERT_EQ(Detect({24, 21, 10, 10}), 1);
    ASSERT_EQ(found.GetBlobNum(), 1);
    const CvBlob& b = *found.GetBlob(0);
    EXPECT_FLOAT_EQ(b.x, 29.0f);
    EXPECT_FLOAT_EQ(b.y, 26.0f);
    EXPECT_FLOAT_EQ(b.w, 10.0f);
    EXPECT_FLOAT_EQ(b.h, 10.0f);
    EXPECT_EQ(Detect({24, 21, 10, 10}), 0);  // forgotten once reported: counts anew

    Owned<CvBlobDetector> fresh(cvCreateBlobDetectorCC());
    bd.swap(fresh);
    EXPECT_EQ(Detect({20, 20, 10, 10}), 0);
    EXPECT_EQ(Detect({}), 0);  // a gap: the candidate lapses
    EXPECT_EQ(Detect({20, 20, 10, 10}), 0);
    EXPECT_EQ(Detect({20, 20, 10, 10}), 0);
    EXPECT_EQ(Detect({20, 20, 10, 10}), 1);
}

TEST_F(BlobDetector, NeverOnTheBorderSmallOrOverATrackedBlob) {
    CvBlobSeq tracked;
    const CvBlob over = cvBlob(36, 30, 8, 8);
    tracked.AddBlob(&over);
    struct Case {
        const char* name;
        cv::Rect square;
    };
    for (const Case& k : {Case{"left border", {0, 10, 10, 10}}, Case{"bottom border", {20, 38, 10, 10}},
                          Case{"4 wide", {20, 10, 4, 10}}, Case{"over a tracked blob", {30, 25, 8, 8}}}) {
        SCOPED_TRACE(k.name);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(Detect(k.square, &tracked), 0);
    }
}

class MeanShiftTracker : public Modules {
protected:
    void Step(const cv::Rect& square, bool withSquare = true) {
        frame = scene.Frame(withSquare ? square : cv::Rect());
        mask = Scene::Mask(frame.size(), withSquare ? square : cv::Rect());
        IplImage f = cvIplImage(frame), m = cvIplImage(mask);
        if (bt->GetBlobNum() == 0 && !added) {
            CvBlob blob = cvBlob(square.x + 10.0f, square.y + 10.0f, 20, 20);
            blob.ID = 7;
            ASSERT_NE(bt->AddBlob(&blob, &f, &m), nullptr);
            added = true;
        } else {
            bt->Process(&f, &m);
        }
    }
    Scene scene{160, 120};
    Owned<CvBlobTracker> bt{cvCreateBlobTrackerMSFG()};
    cv::Mat frame, mask;
    bool added = false;
};

TEST_F(MeanShiftTracker, FollowsAMovingSquareAndDropsItWhenItsForegroundVanishes) {
    cv::Rect square(30, 40, 20, 20);
    Step(square);
    for (int i = 0; i < 20; ++i) {
        square.x += 2;
        square.y += i % 2;
        Step(square);
        ASSERT_EQ(bt->GetBlobNum(), 1) << i;
        const CvBlob& b = *bt->GetBlob(0);
        EXPECT_NEAR(b.x, square.x + 10, 3) << i;
        EXPECT_NEAR(b.y, square.y + 10, 3) << i;
        EXPECT_NEAR(b.w, 20, 4) << i;
        EXPECT_NEAR(b.h, 20, 4) << i;
        EXPECT_EQ(b.ID, 7);
    }
    EXPECT_EQ(bt->GetBlobByID(7), bt->GetBlob(0));
    for (int i = 0; i < 4; ++i) {
        Step(square, false);
        EXPECT_EQ(bt->GetBlobNum(), 1) << i;
    }
    Step(square, false);
    EXPECT_EQ(bt->GetBlobNum(), 0);
}

TEST_F(MeanShiftTracker, ABlobWhoseCentreLeavesTheImageIsDeleted) {
    cv::Rect square(130, 40, 20, 20);
    Step(square);
    for (int i = 0; i < 20 && bt->GetBlobNum() > 0; ++i) {
        square.x += 3;
        Step(square & cv::Rect(0, 0, 160, 120));
    }
    EXPECT_EQ(bt->GetBlobNum(), 0);
}

TEST_F(Modules, AutoTrackerNumbersBlobsWithoutReuse) {
    Owned<CvBlobDetector> bd(cvCreateBlobDetectorCC());
    Owned<CvBlobTracker> bt(cvCreateBlobTrackerMSFG());
    CvBlobTrackerAutoParam1 param{0, nullptr, bd.get(), bt.get(), nullptr, nullptr, 0, nullptr};
    Owned<CvBlobTrackerAuto> tracker(cvCreateBlobTrackerAuto1(&param));
    ASSERT_NE(tracker, nullptr);
    Scene scene(120, 90);
    const cv::Rect square(40, 30, 20, 20);
    auto run = [&](bool present) {
        cv::Mat frame = scene.Frame(present ? square : cv::Rect());
        cv::Mat mask = Scene::Mask(frame.size(), present ? square : cv::Rect());
        IplImage f = cvIplImage(frame), m = cvIplImage(mask);
        tracker->Process(&f, &m);
        EXPECT_EQ(tracker->GetFGMask(), &m);
    };
    for (int i = 0; i < 3; ++i) run(true);
    ASSERT_EQ(tracker->GetBlobNum(), 1);
    EXPECT_EQ(tracker->GetBlob(0)->ID, 0);
    EXPECT_EQ(tracker->GetState(0), 0.0f);
    EXPECT_EQ(tracker->GetStateDesc(0), nullptr);
    for (int i = 0; i < 5; ++i) run(false);
    EXPECT_EQ(tracker->GetBlobNum(), 0);
    for (int i = 0; i < 3; ++i) run(true);
    ASSERT_EQ(tracker->GetBlobNum(), 1);
    EXPECT_EQ(tracker->GetBlob(0)->ID, 1);
    EXPECT_NE(tracker->GetBlobByID(1), nullptr);
    EXPECT_EQ(tracker->GetBlobByID(0), nullptr);
}

TEST(ModuleBase, NickNamesAreCopiesAndOtherModulesAreNotProvided) {
    Owned<CvBlobDetector> bd(cvCreateBlobDetectorCC());
    EXPECT_EQ(bd->GetNickName(), nullptr);
    char name[] = "BD_CC";
    bd->SetNickName(name);
    std::strcpy(name, "XXXXX");
    EXPECT_STREQ(bd->GetNickName(), "BD_CC");
    bd->SetNickName(nullptr);
    EXPECT_EQ(bd->GetNickName(), nullptr);

    EXPECT_EQ(cvCreateBlobDetectorSimple(), nullptr);
    EXPECT_EQ(cvCreateBlobTrackerCCMSPF(), nullptr);
    EXPECT_EQ(cvCreateBlobTrackerCC(), nullptr);
    EXPECT_EQ(cvCreateBlobTrackerMS(), nullptr);
    EXPECT_EQ(cvCreateBlobTrackerMSPF(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackGenYML(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackGen1(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackPostProcKalman(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackAnalysisHistPVS(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackAnalysisHistP(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackAnalysisHistPV(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackAnalysisHistSS(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackAnalysisTrackDist(), nullptr);
    EXPECT_EQ(cvCreateModuleBlobTrackAnalysisIOR(), nullptr);
    EXPECT_EQ(cvCreateBlobTrackerAuto1(nullptr), nullptr);
}

TEST(BlobSeq, IndexAndIdAccess) {
    CvBlobSeq seq;
    for (int i = 0; i < 3; ++i) {
        CvBlob b = cvBlob(float(i), 0, 1, 1);
        b.ID = 10 + i;
        seq.AddBlob(&b);
    }
    EXPECT_EQ(seq.GetBlob(3), nullptr);
    EXPECT_EQ(seq.GetBlob(-1), nullptr);
    seq.DelBlobByID(11);
    ASSERT_EQ(seq.GetBlobNum(), 2);
    EXPECT_EQ(seq.GetBlob(1)->ID, 12);
    EXPECT_EQ(seq.GetBlobByID(10)->x, 0.0f);
    seq.DelBlob(0);
    EXPECT_EQ(seq.GetBlobByID(10), nullptr);
}

}  // namespace
