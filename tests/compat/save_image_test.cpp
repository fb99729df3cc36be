#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cvcompat/errstatus.h"
#include "cvcompat/save_image.h"

namespace {

namespace fs = std::filesystem;

class SaveImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/save_image_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) {});
    cvcompat::ClearErrStatus();
  }
  void TearDown() override {
    cvcompat::SetErrorHandler(previous_);
    cvcompat::ClearErrStatus();
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
  cvcompat::ErrorHandler previous_;
};

TEST_F(SaveImageTest, BmpRoundTripKeepsEveryByte) {
  // Odd width: the IplImage rows are padded, the file's are not.
  IplImage* image = cvCreateImage(cvSize(7, 5), IPL_DEPTH_8U, 3);
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width * 3; ++x)
      reinterpret_cast<unsigned char*>(image->imageData + y * image->widthStep)[x] =
          static_cast<unsigned char>(y * 40 + x * 7);
  const long reports = cvcompat::ErrorReportCount();
  EXPECT_NE(cvSaveImage(Path("a.bmp").c_str(), image), 0);
  EXPECT_EQ(cvcompat::ErrorReportCount(), reports);
  EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);

  const cv::Mat back = cv::imread(Path("a.bmp"), cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(cv::norm(back, cv::cvarrToMat(image), cv::NORM_INF), 0.0);
  cvReleaseImage(&image);
}

TEST_F(SaveImageTest, FailuresAnswerZeroAndRecordAStatus) {
  cv::Mat grey(4, 4, CV_8UC1, cv::Scalar(9));
  CvMat header = cvMat(grey.rows, grey.cols, CV_8UC1, grey.data);
  struct Case {
    const char* what;
    std::string path;
  } cases[] = {
      {"unknown extension", Path("a.unknownext")},
      {"missing folder", Path("no/such/folder/a.bmp")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cvcompat::ClearErrStatus();
    const long reports = cvcompat::ErrorReportCount();
    EXPECT_EQ(cvSaveImage(c.path.c_str(), &header), 0);
    EXPECT_LT(cvcompat::GetErrStatus(), 0);
    EXPECT_EQ(cvcompat::ErrorReportCount(), reports + 1);
    EXPECT_FALSE(fs::exists(c.path));
  }
  cvcompat::ClearErrStatus();
  EXPECT_EQ(cvSaveImage(nullptr, &header), 0);
  EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsNullPtr);
  EXPECT_EQ(cvSaveImage(Path("b.bmp").c_str(), nullptr), 0);
}

}  // namespace
