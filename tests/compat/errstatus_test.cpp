// The old-style error status: per-thread record, replaceable handler, the
// default line on stderr, and the guard around OpenCV C calls.
#include <cvcompat/errstatus.h>

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <thread>
#include <vector>

namespace {

class ErrStatus : public ::testing::Test {
protected:
    void SetUp() override {
        cvcompat::ClearErrStatus();
        previous_ = cvcompat::SetErrorHandler([this](const cvcompat::ErrorReport& r) { seen_.push_back(r); });
    }
    void TearDown() override {
        cvcompat::SetErrorHandler(previous_);
        cvcompat::ClearErrStatus();
    }
    std::vector<cvcompat::ErrorReport> seen_;
    cvcompat::ErrorHandler previous_;
};

TEST_F(ErrStatus, ReportRecordsStatusAndHandsReportOver) {
    const long before = cvcompat::ErrorReportCount();
    cvcompat::ReportError(CV_StsBadArg, "Quorl_cvThing", "Bad thing", "Calibration", 42);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
    EXPECT_EQ(cvcompat::ErrorReportCount(), before + 1);
    const cvcompat::ErrorReport& last = cvcompat::LastErrorReport();
    EXPECT_EQ(last.status, CV_StsBadArg);
    EXPECT_EQ(last.function, "Quorl_cvThing");
    EXPECT_EQ(last.message, "Bad thing");
    EXPECT_EQ(last.source, "Calibration");
    EXPECT_EQ(last.line, 42);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].message, "Bad thing");

    cvcompat::ReportError(CV_StsNullPtr, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(cvcompat::LastErrorReport().function, "");
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsNullPtr);
}

TEST_F(ErrStatus, GetSetClear) {
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);
    cvcompat::SetErrStatus(CV_StsOutOfRange);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOutOfRange);
    cvcompat::ClearErrStatus();
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);
    EXPECT_TRUE(seen_.empty()) << "setting a status reports nothing";
}

TEST_F(ErrStatus, StatusBelongsToTheReportingThread) {
    cvcompat::ReportError(CV_StsBadSize, "main", "here", "src", 1);
    int otherBefore = 1, otherAfter = 0;
    std::thread([&] {
        otherBefore = cvcompat::GetErrStatus();
        cvcompat::ReportError(CV_StsBadArg, "other", "there", "src", 2);
        otherAfter = cvcompat::GetErrStatus();
    }).join();
    EXPECT_EQ(otherBefore, CV_StsOk);
    EXPECT_EQ(otherAfter, CV_StsBadArg);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    EXPECT_EQ(cvcompat::LastErrorReport().function, "main");
}

TEST_F(ErrStatus, DefaultHandlerWritesOneLineAndReturns) {
    cvcompat::SetErrorHandler({});
    testing::internal::CaptureStderr();
    cvcompat::ReportError(CV_StsBadArg, "Quorl_cvRodrigues2", "Input argument is not a valid matrix", "Calibration",
                          7);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_NE(out.find("Quorl_cvRodrigues2"), std::string::npos);
    EXPECT_NE(out.find("Input argument is not a valid matrix"), std::string::npos);
    EXPECT_NE(out.find("Calibration"), std::string::npos);
    EXPECT_TRUE(seen_.empty());
}

TEST_F(ErrStatus, SetHandlerReturnsThePreviousOne) {
    int calls = 0;
    cvcompat::ErrorHandler mine = cvcompat::SetErrorHandler([&](const cvcompat::ErrorReport&) { ++calls; });
    ASSERT_TRUE(mine);
    cvcompat::ReportError(CV_StsBadArg, "f", "m", "s", 1);
    EXPECT_EQ(calls, 1);
    cvcompat::SetErrorHandler(mine);
    cvcompat::ReportError(CV_StsBadArg, "f", "m", "s", 1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen_.size(), 1u);
}

TEST_F(ErrStatus, ThrowingHandlerDoesNotEscape) {
    cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) { throw std::runtime_error("handler"); });
    EXPECT_NO_THROW(cvcompat::ReportError(CV_StsBadArg, "f", "m", "s", 1));
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
}

TEST_F(ErrStatus, GuardTurnsOpenCvExceptionIntoStatus) {
    double a[4] = {1, 2, 3, 4}, b[3] = {1, 2, 3}, c[4];
    CvMat A = cvMat(2, 2, CV_64F, a), B = cvMat(3, 1, CV_64F, b), C = cvMat(2, 2, CV_64F, c);
    const bool ok = cvcompat::Guarded([&] { cvGEMM(&A, &B, 1, nullptr, 0, &C, 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(cvcompat::GetErrStatus(), 0);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].status, cvcompat::GetErrStatus());
    EXPECT_FALSE(seen_[0].message.empty());
}

TEST_F(ErrStatus, GuardNeverRecordsANonNegativeStatusForAFailure) {
    EXPECT_FALSE(cvcompat::Guarded([] { throw cv::Exception(0, "odd", "f", "file", 1); }));
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsError);
}

TEST_F(ErrStatus, GuardKeepsEarlierStatusWhenTheCallSucceeds) {
    cvcompat::SetErrStatus(CV_StsBadSize);
    double a[4] = {1, 2, 3, 4}, c[4];
    CvMat A = cvMat(2, 2, CV_64F, a), C = cvMat(2, 2, CV_64F, c);
    EXPECT_TRUE(cvcompat::Guarded([&] { cvCopy(&A, &C); }));
    EXPECT_EQ(c[3], 4.0);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadSize);
    EXPECT_TRUE(seen_.empty());
}

TEST_F(ErrStatus, GuardFailsWhenInnerCodeRecordsAStatus) {
    EXPECT_FALSE(cvcompat::Guarded([] { cvcompat::ReportError(CV_StsBadArg, "inner", "m", "s", 1); }));
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
}

TEST_F(ErrStatus, RoutineErrorsReportInnerFailureAfterTheInnerReport) {
    const cvcompat::RoutineErrors errors("Quorl_cvOuter", "Calibration");
    EXPECT_FALSE(errors.Call([] { cvcompat::ReportError(CV_StsBadSize, "Quorl_cvInner", "m", "Calibration", 3); },
                             99));
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[0].function, "Quorl_cvInner");
    EXPECT_EQ(seen_[1].status, CV_StsBackTrace);
    EXPECT_EQ(seen_[1].function, "Quorl_cvOuter");
    EXPECT_EQ(seen_[1].message, "Inner function failed.");
    EXPECT_EQ(seen_[1].source, "Calibration");
    EXPECT_EQ(seen_[1].line, 99);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBackTrace);

    seen_.clear();
    errors.Fail(CV_StsBadArg, "Bad", 5);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].function, "Quorl_cvOuter");
}

}  // namespace
