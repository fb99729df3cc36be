// Writes the sample project shipped in sample/: two cameras (the fixture's
// cameras A and B) and their rig, six views of the 9 x 6 board of 25 mm,
// images rendered from the known cameras, detected points the noise-free
// projections, both cameras calibrated by the mono engine and the rig by
// the stereo engine. Run by hand:
//   sample_generator <folder>      (writes <folder>/sample_project.txt)
#include <opencv2/core/core_c.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "calibration/calibration_data_store.h"
#include "calibration/project_file.h"
#include "calibration/stereo_calibration_engine.h"
#include "gdiplus/startup.h"
#include "sample_project/sample_project.h"
#include "synthetic_board/synthetic_board.h"

namespace {

CCamera CameraFrom(const CameraParameters& p) {
  CameraParameters copy = p;
  return CCamera(copy.K, copy.d, copy.R, copy.T, copy.width, copy.height);
}

// The rendered view as a store image (8-bit, three channels; the store
// takes it).
IplImage* ToIplImage(const cv::Mat& bgr) {
  IplImage* image = cvCreateImage(cvSize(bgr.cols, bgr.rows), IPL_DEPTH_8U, 3);
  for (int y = 0; y < bgr.rows; ++y)
    std::memcpy(image->imageData + static_cast<size_t>(y) * image->widthStep, bgr.ptr(y), static_cast<size_t>(bgr.cols) * 3);
  return image;
}

bool AddCamera(CalibrationDataStore& store, const synthetic::Dataset& data, bool cameraB) {
  const int camera = store.GetMonoCameraCount();
  store.AddCamera();
  const synthetic::BoardSpec& board = data.options.board;
  store.SetObjectSettings(camera, board.sizeX, board.sizeY, board.squaresX, board.squaresY, sample_project::kWindow,
                          sample_project::kWindow);
  const synthetic::CameraModel& model = cameraB ? data.options.cameraB : data.options.cameraA;
  synthetic::RenderOptions render;
  render.color = true;
  for (size_t v = 0; v < data.views.size(); ++v) {
    const synthetic::View& view = data.views[v];
    const cv::Mat pixels = synthetic::RenderBoard(model, board, cameraB ? view.poseB : view.poseA, render);
    if (store.AddImage(camera, ToIplImage(pixels)) != 1) return false;
    std::vector<Point2d>* points = store.GetImagePointList(camera, static_cast<int>(v));
    if (!points) return false;
    points->clear();
    for (const cv::Point2d& p : cameraB ? view.truePointsB : view.truePointsA) points->push_back(Point2d{p.x, p.y});
    store.SetImageDetected(camera, static_cast<int>(v), true);
  }
  std::vector<std::vector<Point2d>> lists;
  store.GetCalibrationImagePoints(camera, lists);
  CMonoCameraCalibrationEngine* engine = store.GetCalibrationEngine(camera);
  if (!engine || engine->RunCalibration(lists, store.GetObjectSettings(camera), model.width, model.height) != 1)
    return false;
  store.SetCameraParameters(camera, engine->GetCameraParameters());
  store.SetCalibrated(store.GetCameraEntry(camera));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 1;
  }
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;

  const synthetic::Dataset data = synthetic::MakeDataset(sample_project::Options());
  CalibrationDataStore store;
  int rc = 0;
  if (!AddCamera(store, data, false) || !AddCamera(store, data, true)) {
    std::fprintf(stderr, "sample_generator: a camera did not calibrate\n");
    rc = 1;
  }
  CStereoCalibrationEngine stereo;
  if (rc == 0 &&
      stereo.RunStereoCalibration(*store.GetCalibrationEngine(0), *store.GetCalibrationEngine(1)) != 1) {
    std::fprintf(stderr, "sample_generator: the rig did not calibrate\n");
    rc = 1;
  }
  if (rc == 0) {
    store.AddStereoRig(0, 1);
    CCamera left = CameraFrom(stereo.ResultA());
    CCamera right = CameraFrom(stereo.ResultB());
    store.SetStereoCamera(0, CStereoCamera(left, right));
    store.SetCalibrated(2);
    std::filesystem::create_directories(argv[1]);
    std::string message;
    const std::filesystem::path project = std::filesystem::path(argv[1]) / sample_project::kProjectFile;
    if (!WriteProject(store, project, "png", &message)) {
      std::fprintf(stderr, "sample_generator: %s\n", message.c_str());
      rc = 1;
    } else {
      std::printf("%s\n", project.string().c_str());
    }
  }
  store.ReleaseImages();
  Gdiplus::GdiplusShutdown(token);
  return rc;
}
