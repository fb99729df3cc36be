#include "calibration/relative_orientation.h"

#include <cstdio>

#include <quorl/clocale.h>

#include "calibration/calibration_data_store.h"
#include "calibration/file_set_writer.h"
#include "calibration/rotation.h"

namespace {

int OfferedViews(const CalibrationDataStore& store, int camera) {
  const CMonoCameraCalibrationEngine* engine = store.GetCalibrationEngine(camera);
  if (!engine || !store.IsCalibrated(store.GetCameraEntry(camera))) return 0;
  return engine->ViewCount() > 0 ? engine->ViewCount() : 0;
}

}  // namespace

RelativeOrientation ComputeRelativeOrientation(const std::array<double, 9>& R1, const std::array<double, 3>& T1,
                                               const std::array<double, 9>& R2, const std::array<double, 3>& T2) {
  RelativeOrientation result;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += R2[i * 3 + k] * R1[j * 3 + k];  // R1 transposed
      result.R[i * 3 + j] = sum;
    }
  for (int i = 0; i < 3; ++i)
    result.T[i] = T2[i] - (result.R[i * 3] * T1[0] + result.R[i * 3 + 1] * T1[1] + result.R[i * 3 + 2] * T1[2]);
  // The conversion takes a writable matrix; hand it a copy so R stays as computed.
  std::array<double, 9> R = result.R;
  RodriguesVnl(R.data(), result.r.data(), 0);
  return result;
}

std::string FormatRelativeOrientationLabel(const RelativeOrientation& o) {
  quorl::ScopedCLocale cLocale;
  char text[512];
  std::snprintf(text, sizeof text,
                "%.7f %.7f %.7f\n%.7f %.7f %.7f\n%.7f %.7f %.7f\n%.7f %.7f %.7f\n%.7f %.7f %.7f\n", o.R[0], o.R[1],
                o.R[2], o.R[3], o.R[4], o.R[5], o.R[6], o.R[7], o.R[8], o.T[0], o.T[1], o.T[2], o.r[0], o.r[1],
                o.r[2]);
  return text;
}

std::string FormatRelativeOrientationFile(const RelativeOrientation& o) {
  quorl::ScopedCLocale cLocale;
  std::string text;
  char value[64];
  for (int i = 0; i < 12; ++i) {
    std::snprintf(value, sizeof value, "%lf ", i < 9 ? o.R[i] : o.T[i - 9]);
    text += value;
    if (i == 2 || i == 5 || i == 8) text += '\n';
  }
  return text;
}

std::vector<std::string> RelativeOrientationViewLabels(const CalibrationDataStore& store, int camera) {
  const int views = OfferedViews(store, camera);
  std::vector<std::string> labels;
  const bool byImage = store.GetUsableImageCount(camera) == views;
  for (int image = 0, view = 0; view < views; ++view) {
    if (byImage) {
      while (!(store.IsImageEnabled(camera, image) && store.IsImageDetected(camera, image))) ++image;
      labels.push_back(std::to_string(image++));
    } else {
      labels.push_back(std::to_string(view));
    }
  }
  return labels;
}

bool ComputeRelativeOrientation(const CalibrationDataStore& store, int a, int viewA, int b, int viewB,
                                RelativeOrientation& result) {
  if (viewA < 0 || viewA >= OfferedViews(store, a) || viewB < 0 || viewB >= OfferedViews(store, b)) return false;
  const CMonoCameraCalibrationEngine* first = store.GetCalibrationEngine(a);
  const CMonoCameraCalibrationEngine* second = store.GetCalibrationEngine(b);
  result = ComputeRelativeOrientation(first->GetViewRotation(viewA), first->GetViewTranslation(viewA),
                                      second->GetViewRotation(viewB), second->GetViewTranslation(viewB));
  return true;
}

bool SaveRelativeOrientation(const std::string& path, const RelativeOrientation& result, std::string* message) {
  const std::string text = FormatRelativeOrientationFile(result);
  std::string failed;
  if (WriteFileSet({{path, [&](const std::filesystem::path& t) { return WriteTextFile(t, text); }}}, &failed))
    return true;
  if (message) *message = "Cannot write: " + failed + "!";
  return false;
}
