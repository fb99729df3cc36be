// The image display seam: a replaceable sink receiving copies, and the
// default sink's Qt windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cvcompat/display.h>
#include <cvcompat/errstatus.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct Shown {
    std::string name;
    cv::Mat image;
};

class Display : public testing::Test {
protected:
    void SetUp() override {
        previousErrors_ = cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) {});
        cvcompat::ClearErrStatus();
    }
    void TearDown() override {
        cvcompat::SetImageSink({});
        cvcompat::SetErrorHandler(previousErrors_);
        cvcompat::ClearErrStatus();
    }
    cvcompat::ErrorHandler previousErrors_;
};

QWidget* WindowTitled(const QString& title) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == title && w->isVisible()) return w;
    return nullptr;
}

TEST_F(Display, SinkGetsACopyAndCanBeReplaced) {
    std::vector<Shown> shown;
    EXPECT_FALSE(cvcompat::SetImageSink([&](const std::string& n, const cv::Mat& m) { shown.push_back({n, m}); }));
    cv::Mat image(4, 6, CV_8UC3, cv::Scalar(1, 2, 3));
    IplImage view = cvIplImage(image);
    cvcompat::ShowImage("FG", &view);
    image.setTo(cv::Scalar(9, 9, 9));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].name, "FG");
    EXPECT_EQ(shown[0].image.size(), cv::Size(6, 4));
    EXPECT_EQ(shown[0].image.at<cv::Vec3b>(3, 5), cv::Vec3b(1, 2, 3));

    cvcompat::ShowImage(nullptr, &view);
    cvcompat::ShowImage("FG", nullptr);
    cv::Mat floats(2, 2, CV_32FC1);
    IplImage f = cvIplImage(floats);
    cvcompat::ShowImage("FG", &f);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(shown.size(), 1u);

    EXPECT_TRUE(cvcompat::SetImageSink({}));
    // The default sink without an application drops the image.
    cvcompat::ShowImage("FG", &view);
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(Display, DefaultSinkShowsAWindowUpdatedOnTheGuiThread) {
    int argc = 1;
    char arg0[] = "display_test";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    cv::Mat grey(30, 40, CV_8UC1, cv::Scalar(128));
    IplImage g = cvIplImage(grey);
    cvcompat::ShowImage("FG", &g);
    QWidget* window = WindowTitled("FG");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(40, 30));

    cv::Mat colour(50, 70, CV_8UC3, cv::Scalar(0, 255, 0));
    std::thread worker([&] {
        IplImage c = cvIplImage(colour);
        cvcompat::ShowImage("FG", &c);
    });
    worker.join();
    EXPECT_EQ(window->size(), QSize(40, 30));  // queued for the GUI thread
    QApplication::processEvents();
    EXPECT_EQ(WindowTitled("FG"), window);
    EXPECT_EQ(window->size(), QSize(70, 50));
}

}  // namespace
