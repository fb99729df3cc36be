#pragma once
// Shared pieces of the calibration-maths tests: matrices filled with a
// sentinel, and a fixture that captures error reports instead of printing.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <cvcompat/errstatus.h>

#include <string>
#include <vector>

namespace calibtest {

inline constexpr double kSentinel = 777.0;

// A cv::Mat with its C header; the header stays valid while the object lives.
struct TestMat {
    cv::Mat mat;
    CvMat hdr{};

    TestMat() = default;
    TestMat(int rows, int cols, int type, double fill = kSentinel) : mat(rows, cols, type, cv::Scalar::all(fill)) {
        hdr = cvMat(mat);
    }
    explicit TestMat(const cv::Mat& m) : mat(m.clone()) { hdr = cvMat(mat); }
    CvMat* get() { return &hdr; }

    bool AllEqual(double v) const {
        cv::Mat d;
        mat.reshape(1).convertTo(d, CV_64F);
        for (int i = 0; i < d.rows; ++i)
            for (int j = 0; j < d.cols; ++j)
                if (d.at<double>(i, j) != v) return false;
        return true;
    }
    bool Untouched() const { return AllEqual(kSentinel); }
};

class ReportCapture : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = cvcompat::SetErrorHandler([this](const cvcompat::ErrorReport& r) { reports_.push_back(r); });
        cvcompat::ClearErrStatus();
    }
    void TearDown() override {
        cvcompat::SetErrorHandler(previous_);
        cvcompat::ClearErrStatus();
    }
    const std::vector<cvcompat::ErrorReport>& reports() const { return reports_; }
    void ClearReports() {
        reports_.clear();
        cvcompat::ClearErrStatus();
    }

private:
    std::vector<cvcompat::ErrorReport> reports_;
    cvcompat::ErrorHandler previous_;
};

}  // namespace calibtest
