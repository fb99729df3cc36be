#include "app_core/panel_texts.h"

#include <cstdio>

#include "MVG/stereo_camera.h"
#include "app_core/source_cameras.h"
#include "calibration/calibration_data_store.h"
#include "calibration/mono_calibration_engine.h"

namespace {

constexpr char kNotCalibrated[] = "Not calibrated.";

}  // namespace

std::string CalibrationResultText(const CameraParameters& p, const CMonoCameraCalibrationEngine& engine) {
  double ex = 0, ey = 0, distance = 0, fovX = 0, fovY = 0;
  engine.ComputeReprojectionError(&ex, &ey, &distance);
  engine.GetFieldOfView(&fovX, &fovY);
  char text[640];
  std::snprintf(text, sizeof text,
                "F: %.4lf %.4lf\nP: %.4lf %.4lf\nD: %.4lf %.4lf %.4lf %.4lf\nE: %lf %lf %lf\nFOV: %lf %lf", p.K[0],
                p.K[4], p.K[2], p.K[5], p.d[0], p.d[1], p.d[2], p.d[3], ex, ey, distance, fovX, fovY);
  return text;
}

std::string RefreshedCameraText(const CalibrationDataStore& store, int entry) {
  if (store.GetEntryKind(entry) != kMonoCameraEntry || !store.IsCalibrated(entry)) return kNotCalibrated;
  const int camera = store.GetMonoCameraOrdinal(entry);
  const CameraParameters p = store.GetCameraParameters(camera);
  double fovX = 0, fovY = 0;
  if (const CMonoCameraCalibrationEngine* engine = store.GetCalibrationEngine(camera))
    engine->GetFieldOfView(&fovX, &fovY);
  char text[640];
  std::snprintf(text, sizeof text, "F: %.4lf %.4lf\nP: %.4lf %.4lf\nD: %.4lf %.4lf %.4lf %.4lf\nFOV: %.4lf %.4lf\nSize: %d x %d",
                p.K[0], p.K[4], p.K[2], p.K[5], p.d[0], p.d[1], p.d[2], p.d[3], fovX, fovY, p.width, p.height);
  return text;
}

std::string StereoRigText(const CStereoCamera& rig, bool reoptimized) {
  // The relative pose is computed on request into the object: a copy.
  CStereoCamera copy(rig);
  const double* t = copy.GetRelativeTranslation();
  const double* r = copy.GetRelativeRotation();
  char text[640];
  std::snprintf(text, sizeof text,
                "%sR: [%.3lf %.3lf %.3lf]\n   [%.3lf %.3lf %.3lf]\n   [%.3lf %.3lf %.3lf]\nT: [ %.3lf %.3lf %.3lf ]\n",
                reoptimized ? "Intrinsic parameters reoptimized!\n" : "", r[0], r[1], r[2], r[3], r[4], r[5], r[6],
                r[7], r[8], t[0], t[1], t[2]);
  return text;
}

std::string RefreshedRigText(const CalibrationDataStore& store, int rig) {
  // Every rig holds a stereo camera, a default one (K = 0) until it is
  // calibrated: only the entry's flag tells.
  const CStereoCamera* stereo = store.GetStereoCamera(rig);
  if (!stereo || !store.IsCalibrated(StereoRigEntry(store, rig))) return kNotCalibrated;
  return StereoRigText(*stereo, false);
}
