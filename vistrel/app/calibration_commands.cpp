#include "calibration_commands.h"

#include <cstdio>
#include <string>
#include <vector>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "app_core/calibration_checks.h"
#include "app_core/camera_parameters_load.h"
#include "app_core/panel_texts.h"
#include "app_core/source_cameras.h"
#include "calib_scene_target.h"
#include "calibration/calibration_data_store.h"
#include "calibration/mono_calibration_engine.h"
#include "calibration/stereo_calibration_engine.h"
#include "data_view_columns.h"
#include "win/prompts.h"
#include "win/app.h"

namespace {

constexpr const char* kParametersFilter = "Camera Parameters File (*.txt)|*.txt|All Files (*.*)|*.*||";

std::string Format(const char* format, int number, const char* text) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, number, text);
  return buffer;
}

std::string Format(const char* format, const char* text) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, text);
  return buffer;
}

CCamera CameraFrom(const CameraParameters& p) { return CCamera(p.K, p.d, p.R, p.T, p.width, p.height); }

// The store's images of camera, in the given order; owned by the store.
std::vector<IplImage*> ImagesOf(const CalibrationDataStore& store, int camera, const std::vector<int>& indices) {
  std::vector<IplImage*> images;
  images.reserve(indices.size());
  for (int index : indices) images.push_back(store.GetImage(camera, index));
  return images;
}

std::vector<int> AllImages(const CalibrationDataStore& store, int camera) {
  std::vector<int> indices;
  for (int image = 0; image < store.GetImageCount(camera); ++image) indices.push_back(image);
  return indices;
}

std::vector<int> UsableImages(const CalibrationDataStore& store, int camera) {
  std::vector<int> indices;
  for (int image = 0; image < store.GetImageCount(camera); ++image)
    if (store.IsImageEnabled(camera, image) && store.IsImageDetected(camera, image)) indices.push_back(image);
  return indices;
}

}  // namespace

CCalibrationCommands::CCalibrationCommands(CalibrationDataStore& store, IDataViewColumns& columns,
                                           IDataViewPanels& panels, ICalibSceneTarget& scenes)
    : m_Store(store), m_Columns(columns), m_Panels(panels), m_Scenes(scenes) {}

void CCalibrationCommands::Tell(const std::string& text) const {
  // The box carries the application's title, as AfxMessageBox's do.
  CWinApp* app = AfxGetApp();
  ::MessageBox(m_pOwner ? m_pOwner->GetSafeHwnd() : nullptr, text.c_str(),
               app != nullptr ? app->m_pszAppName : nullptr, MB_OK);
}

bool CCalibrationCommands::LoadCameraParameters(int entry) {
  // A rig has no parameters file of its own: no dialog at all.
  if (m_Store.GetEntryKind(entry) != kMonoCameraEntry) return false;
  CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kParametersFilter, m_pOwner);
  if (dialog.DoModal() != IDOK) return false;
  const std::string path = dialog.GetPathName().GetString();

  std::string message;
  switch (LoadCameraParametersForEntry(m_Store, entry, path.c_str(), message)) {
    case LoadParametersResult::kNotApplicable:
      return false;
    case LoadParametersResult::kFailed:
      Tell(message);
      return false;
    case LoadParametersResult::kLoaded:
      break;
  }
  const int camera = m_Store.GetMonoCameraOrdinal(entry);
  m_Panels.SetPanelText(entry, nullptr, LoadedParametersText(m_Store, camera).c_str());
  // The shown scene was built from the old camera; Show 3D view rebuilds it.
  m_Scenes.RemoveScene(entry);
  return true;
}

bool CCalibrationCommands::Calibrate(int entry) {
  const CalibrateCheck check = CheckCalibrate(m_Store, entry);
  if (check.verdict == CommandVerdict::kNothing) return false;
  if (check.verdict == CommandVerdict::kRefused) {
    Tell(check.message);
    return false;
  }
  const int camera = check.camera;
  CMonoCameraCalibrationEngine* engine = m_Store.GetCalibrationEngine(camera);
  if (!engine) return false;

  std::vector<std::vector<Point2d>> points;
  m_Store.GetCalibrationImagePoints(camera, points);
  const CalibrationObjectSettings board = m_Store.GetObjectSettings(camera);
  if (engine->RunCalibration(points, board, check.width, check.height) != 1) {
    Tell(Format("Calibration failed: %s", CalibrationOutcomeText(engine->LastRun().outcome)));
    return false;
  }

  const CameraParameters result = engine->GetCameraParameters();
  m_Panels.SetPanelText(entry, nullptr, CalibrationResultText(result, *engine).c_str());
  m_Store.SetCameraParameters(camera, result);

  // One pose per usable image, in image order: only those images go with them.
  const int views = engine->ViewCount();
  std::vector<int> used = check.usableImages;
  if (static_cast<int>(used.size()) > views) used.resize(static_cast<size_t>(views));
  std::vector<IplImage*> images = ImagesOf(m_Store, camera, used);
  m_Scenes.AddScene(entry, CameraFrom(result), engine->RotationMatrices(), engine->Translations(), views,
                    board.squaresX, board.squaresY, board.squareSizeX, images);
  m_Store.SetCalibrated(entry);
  m_Scenes.ShowResults();
  return true;
}

int CCalibrationCommands::FindRig(int entryA, int entryB) const {
  for (int rig = 0; rig < m_Store.GetStereoRigCount(); ++rig) {
    const StereoPairRecord pair = m_Store.GetStereoPair(rig);
    if (pair.cameraA == entryA && pair.cameraB == entryB) return rig;
  }
  return -1;
}

bool CCalibrationCommands::CalibrateStereo(int entry) {
  const CalibrateStereoCheck check = CheckCalibrateStereo(m_Store, entry);
  if (check.verdict == CommandVerdict::kNothing) return false;
  if (check.verdict == CommandVerdict::kRefused) {
    Tell(check.message);
    return false;
  }

  // Each camera on every one of its images, in order, so the views pair up
  // by position; each run commits to its own engine before the stereo run.
  struct Side {
    int camera;
    int width, height;
  };
  const Side sides[2] = {{check.cameraA, check.widthA, check.heightA}, {check.cameraB, check.widthB, check.heightB}};
  CMonoCameraCalibrationEngine* engines[2] = {nullptr, nullptr};
  for (int i = 0; i < 2; ++i) {
    const int camera = sides[i].camera;
    engines[i] = m_Store.GetCalibrationEngine(camera);
    if (!engines[i]) return false;
    std::vector<std::vector<Point2d>> points;
    for (int image = 0; image < m_Store.GetImageCount(camera); ++image) {
      const std::vector<Point2d>* list = m_Store.GetImagePointList(camera, image);
      points.push_back(list ? *list : std::vector<Point2d>());
    }
    if (engines[i]->RunCalibration(points, m_Store.GetObjectSettings(camera), sides[i].width, sides[i].height) !=
        1) {
      Tell(Format("Calibration of Camera %d failed: %s", camera + 1,
                  CalibrationOutcomeText(engines[i]->LastRun().outcome)));
      return false;
    }
  }

  CStereoCalibrationEngine stereo;
  if (m_nStereoEvaluationLimit > 0) stereo.SetMaxFunctionEvaluationsForTesting(m_nStereoEvaluationLimit);
  if (stereo.RunStereoCalibration(*engines[0], *engines[1]) != 1) {
    Tell(Format("Stereo calibration failed: %s", CalibrationOutcomeText(stereo.LastRun().outcome)));
    return false;
  }
  const CStereoCamera rigCamera(CameraFrom(stereo.ResultA()), CameraFrom(stereo.ResultB()));

  // One rig per pair: a second press replaces the first one's values, since
  // two rigs of one pair would be saved to the same files.
  int rig = FindRig(entry, entry + 1);
  if (rig < 0) {
    m_Columns.BuildStereoRigPanel(entry, entry + 1);
    if (m_Store.AddStereoRig(entry, entry + 1) != 1) return false;
    rig = m_Store.GetStereoRigCount() - 1;
  }
  m_Store.SetStereoCamera(rig, rigCamera);
  const int rigEntry = StereoRigEntry(m_Store, rig);
  m_Panels.SetPanelText(rigEntry, EntryTitle(m_Store, rigEntry).c_str(), StereoRigText(rigCamera, true).c_str());

  const CalibrationObjectSettings board = m_Store.GetObjectSettings(check.cameraA);
  std::vector<IplImage*> left = ImagesOf(m_Store, check.cameraA, AllImages(m_Store, check.cameraA));
  std::vector<IplImage*> right = ImagesOf(m_Store, check.cameraB, AllImages(m_Store, check.cameraB));
  m_Scenes.AddStereoScene(rigEntry, rigCamera, engines[0]->RotationMatrices(), engines[0]->Translations(),
                          engines[0]->ViewCount(), board.squaresX, board.squaresY, board.squareSizeX, left, right);
  m_Store.SetCalibrated(rigEntry);
  m_Scenes.ShowResults();
  return true;
}

bool CCalibrationCommands::Show3DView(int entry) {
  if (entry < 0 || !m_Store.IsCalibrated(entry)) return false;
  if (m_Scenes.GetShownKey() == entry) {
    m_Scenes.ShowResults();
    return true;
  }
  if (m_Store.GetEntryKind(entry) != kMonoCameraEntry) return false;
  const int camera = m_Store.GetMonoCameraOrdinal(entry);
  CMonoCameraCalibrationEngine* engine = m_Store.GetCalibrationEngine(camera);
  if (!engine) return false;

  // The poses belong to the usable images of the last run; when those no
  // longer match (images disabled, added or removed since) the scene goes
  // untextured rather than pairing a pose with the wrong image.
  const int views = engine->ViewCount();
  const std::vector<int> usable = UsableImages(m_Store, camera);
  std::vector<IplImage*> images;
  if (static_cast<int>(usable.size()) == views) images = ImagesOf(m_Store, camera, usable);
  const CalibrationObjectSettings board = m_Store.GetObjectSettings(camera);
  m_Scenes.AddScene(entry, CameraFrom(m_Store.GetCameraParameters(camera)), engine->RotationMatrices(),
                    engine->Translations(), views, board.squaresX, board.squaresY, board.squareSizeX, images);
  m_Scenes.ShowResults();
  return true;
}
