#include "app_core/calibration_checks.h"

#include <cstdio>

#include <opencv2/core/types_c.h>

#include "calibration/calibration_data_store.h"

const char kNotConstrainedMessage[] =
    "The calibration problem is not constrained by less than 5 images!\n"
    "A restricted solver will be available soon but meanwhile \n"
    "add/detect/active more images!";
const char kNotConstrainedStereoMessage[] =
    "The calibration problem is not constrained by less than 5 images!\n"
    "A restricted solver will be available soon...";

namespace {

std::string Format(const char* format, int a, int b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

bool IsMono(const CalibrationDataStore& store, int entry) {
  return store.GetEntryKind(entry) == kMonoCameraEntry;
}

}  // namespace

bool CommonImageSize(const CalibrationDataStore& store, int camera, const std::vector<int>& images, int& width,
                     int& height, std::string& message) {
  width = height = 0;
  for (size_t i = 0; i < images.size(); ++i) {
    const IplImage* image = store.GetImage(camera, images[i]);
    const bool same = image && (i == 0 || (image->width == width && image->height == height));
    if (!same) {
      width = height = 0;
      message = Format("The images of Camera %d do not all have the same size!", camera + 1);
      return false;
    }
    width = image->width;
    height = image->height;
  }
  return true;
}

CalibrateCheck CheckCalibrate(const CalibrationDataStore& store, int entry) {
  CalibrateCheck check;
  if (!IsMono(store, entry)) return check;
  check.camera = store.GetMonoCameraOrdinal(entry);
  for (int image = 0; image < store.GetImageCount(check.camera); ++image) {
    if (store.IsImageEnabled(check.camera, image) && store.IsImageDetected(check.camera, image))
      check.usableImages.push_back(image);
  }
  check.verdict = CommandVerdict::kRefused;
  if (static_cast<int>(check.usableImages.size()) < kMinimumCalibrationImages) {
    check.message = kNotConstrainedMessage;
    return check;
  }
  if (!CommonImageSize(store, check.camera, check.usableImages, check.width, check.height, check.message))
    return check;
  check.verdict = CommandVerdict::kRun;
  return check;
}

CalibrateStereoCheck CheckCalibrateStereo(const CalibrationDataStore& store, int entry) {
  CalibrateStereoCheck check;
  if (entry < 0 || entry >= store.GetEntryCount()) return check;
  check.verdict = CommandVerdict::kRefused;
  // A rig at either place, or no entry + 1, has no images of its own.
  const bool pair = IsMono(store, entry) && IsMono(store, entry + 1);
  const int countA = pair ? store.GetImageCount(store.GetMonoCameraOrdinal(entry)) : 0;
  const int countB = pair ? store.GetImageCount(store.GetMonoCameraOrdinal(entry + 1)) : 0;
  if (countA < kMinimumCalibrationImages || countB < kMinimumCalibrationImages) {
    check.message = kNotConstrainedStereoMessage;
    return check;
  }
  check.cameraA = store.GetMonoCameraOrdinal(entry);
  check.cameraB = store.GetMonoCameraOrdinal(entry + 1);
  if (countA != countB) {
    check.message = Format("Calibrate Stereo needs the same number of images in Camera %d and Camera %d!",
                           check.cameraA + 1, check.cameraB + 1);
    return check;
  }
  std::vector<int> all;
  for (int image = 0; image < countA; ++image) all.push_back(image);
  for (int camera : {check.cameraA, check.cameraB}) {
    for (int image : all) {
      if (!store.IsImageDetected(camera, image)) {
        check.message =
            Format("Calibrate Stereo needs every image marked: image %d of Camera %d is not!", image + 1, camera + 1);
        return check;
      }
    }
  }
  if (!CommonImageSize(store, check.cameraA, all, check.widthA, check.heightA, check.message)) return check;
  if (!CommonImageSize(store, check.cameraB, all, check.widthB, check.heightB, check.message)) return check;
  check.verdict = CommandVerdict::kRun;
  return check;
}
