// The shared maths routines report under the caller's source name, so the
// vision library's build and the calibration core's tell their errors apart.
#include <calibmath/calibmath.h>

#include <gtest/gtest.h>

#include <cvcompat/errstatus.h>

#include <vector>

namespace {

TEST(CalibMathSource, ReportsCarryTheCallersSourceName) {
    std::vector<cvcompat::ErrorReport> seen;
    auto previous = cvcompat::SetErrorHandler([&](const cvcompat::ErrorReport& r) { seen.push_back(r); });
    double h[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
    CvMat H = cvMat(3, 3, CV_64F, h);
    calibmath::FindHomography(nullptr, nullptr, &H, "MVG\\Camera");

    // An inner failure: both reports name the caller's source.
    double obj[12] = {};
    double img[8] = {};
    CvMat object = cvMat(3, 2, CV_64FC2, obj), image = cvMat(4, 2, CV_64F, img);
    double r[3] = {}, t[3] = {0, 0, 1}, a[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    CvMat R = cvMat(3, 1, CV_64F, r), T = cvMat(3, 1, CV_64F, t), A = cvMat(3, 3, CV_64F, a);
    calibmath::ProjectPoints2(&object, &R, &T, &A, nullptr, &image, nullptr, nullptr, nullptr, nullptr, nullptr,
                              "MVG\\Camera");
    cvcompat::SetErrorHandler(previous);
    cvcompat::ClearErrStatus();

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].function, "Quorl_cvFindHomography");
    EXPECT_EQ(seen[0].source, "MVG\\Camera");
    EXPECT_EQ(seen[1].function, "Quorl_cvConvertPointsHomogenious");
    EXPECT_EQ(seen[1].source, "MVG\\Camera");
    EXPECT_EQ(seen[2].function, "Quorl_cvProjectPoints2");
    EXPECT_EQ(seen[2].source, "MVG\\Camera");
    EXPECT_EQ(h[0], 7.0);
}

}  // namespace
