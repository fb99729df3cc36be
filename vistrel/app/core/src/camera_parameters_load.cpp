#include "app_core/camera_parameters_load.h"

#include <cmath>
#include <cstdio>

#include "calibration/calibration_data_store.h"
#include "calibration/calibration_files.h"
#include "quorl/paths.h"

namespace {

std::string PathMessage(const char* format, const char* path) {
  const int size = std::snprintf(nullptr, 0, format, path);
  std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, format, path);
  return text;
}

}  // namespace

LoadParametersResult LoadCameraParametersForEntry(CalibrationDataStore& store, int entry, const char* path,
                                                  std::string& message) {
  message.clear();
  if (store.GetEntryKind(entry) != kMonoCameraEntry || !path) return LoadParametersResult::kNotApplicable;
  const int camera = store.GetMonoCameraOrdinal(entry);

  FILE* file = quorl::OpenFile(path, "r");
  if (!file) {
    message = PathMessage("Cannot open: %s!", path);
    return LoadParametersResult::kFailed;
  }
  std::fclose(file);

  // Read into a copy first: the store commits to record and engine at once.
  CameraParameters read = store.GetCameraParameters(camera);
  const bool converts = ReadIntrinsicsFile(path, &read);
  if (!converts || !(read.K[0] > 0) || !(read.K[4] > 0) || !store.LoadCameraParameters(camera, path)) {
    message = PathMessage("No calibrated camera parameters in: %s!", path);
    return LoadParametersResult::kFailed;
  }
  store.SetCalibrated(entry);
  return LoadParametersResult::kLoaded;
}

std::string LoadedParametersText(const CalibrationDataStore& store, int camera) {
  const CameraParameters p = store.GetCameraParameters(camera);
  char text[512];
  std::snprintf(text, sizeof text, "F: %.4lf %.4lf\nP: %.4lf %.4lf\nD: %.4lf %.4lf %.4lf %.4lf\n", p.K[0], p.K[4],
                p.K[2], p.K[5], p.d[0], p.d[1], p.d[2], p.d[3]);
  return text;
}
