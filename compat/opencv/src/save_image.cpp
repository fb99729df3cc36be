#include "cvcompat/save_image.h"

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgcodecs.hpp>

#include <vector>

#include "cvcompat/errstatus.h"

int cvSaveImage(const char* path, const CvArr* image, const int* params) {
  const cvcompat::RoutineErrors errors("cvSaveImage", __FILE__);
  if (!path || !*path) {
    errors.Fail(CV_StsNullPtr, "NULL filename", __LINE__);
    return 0;
  }
  if (!image) {
    errors.Fail(CV_StsNullPtr, "NULL image", __LINE__);
    return 0;
  }
  // The old interface ends its parameter list with a 0.
  std::vector<int> options;
  for (const int* p = params; p && *p; p += 2) {
    options.push_back(p[0]);
    options.push_back(p[1]);
  }
  bool written = false;
  const bool ran = cvcompat::Guarded([&] { written = cv::imwrite(path, cv::cvarrToMat(image), options); });
  if (!ran) return 0;  // the thrown exception is already recorded
  if (!written) {
    errors.Fail(CV_StsError, "could not write the image file", __LINE__);
    return 0;
  }
  return 1;
}
