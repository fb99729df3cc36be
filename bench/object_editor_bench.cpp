// The object editor from the fourth click to the stored grid (the
// homography, the grey copy, 54 corner refinements and the store's write)
// against the OpenCV work it stands for: cv::cvtColor and one
// cv::cornerSubPix call over the same predicted points, with the same window
// and criteria. On rendered boards of 640 x 480 and 1920 x 1080. Prints
// milliseconds and ours / OpenCV (above 1: ours is slower). Run from a build
// without sanitizers.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include "app_core/object_editor_model.h"
#include "median_time.h"
#include "calibration/calibration_data_store.h"
#include "gdiplus/startup.h"
#include "synthetic_board/synthetic_board.h"

namespace {

// Median milliseconds per call over enough calls to fill about 0.3 s.
double TimeMs(const std::function<void()>& f) { return bench::MedianMs(f, 500); }

synthetic::CameraModel Pinhole(int width, int height) {
  synthetic::CameraModel c;
  c.fx = c.fy = 0.83 * width;
  c.cx = width / 2.0 - 0.5, c.cy = height / 2.0 - 0.5;
  c.width = width, c.height = height;
  return c;
}

void Run(int width, int height) {
  synthetic::Options o;
  o.cameraA = Pinhole(width, height);
  o.views = 1;
  o.seed = 5;
  const synthetic::Dataset data = synthetic::MakeDataset(o);
  synthetic::RenderOptions r;
  r.color = true;
  const cv::Mat render = synthetic::RenderBoard(o.cameraA, o.board, data.views[0].poseA, r);
  IplImage* image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
  cv::Mat wrap = cv::cvarrToMat(image);
  render.copyTo(wrap);

  CalibrationDataStore store;
  store.AddCamera();
  store.SetObjectSettings(0, o.board.sizeX, o.board.sizeY, o.board.squaresX, o.board.squaresY, 3, 3);
  store.AddImage(0, image);
  ObjectEditorModel model;
  model.SetDataStore(&store);
  model.SetViewSize(395, 350);
  model.OpenForCamera(0);
  model.SetImageIndex(0);
  // Clicked in the editor's order: point n - squaresX first, then clockwise.
  const auto& c = data.views[0].cornersA;
  *store.GetCornerPointList(0, 0) = {{c[2].x, c[2].y}, {c[3].x, c[3].y}, {c[1].x, c[1].y}, {c[0].x, c[0].y}};

  // The same predicted points for OpenCV: the unit square to the corners.
  const cv::Point2f unit[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  const cv::Point2f to[4] = {cv::Point2f(c[0]), cv::Point2f(c[1]), cv::Point2f(c[3]), cv::Point2f(c[2])};
  const cv::Mat H = cv::getPerspectiveTransform(unit, to);
  std::vector<cv::Point2f> grid, predicted;
  const int nx = o.board.squaresX, ny = o.board.squaresY;
  for (int row = 0; row < ny; ++row)
    for (int col = 0; col < nx; ++col) grid.emplace_back(float(col) / (nx - 1), float(row) / (ny - 1));
  cv::perspectiveTransform(grid, predicted, H);

  const double ours = TimeMs([&] { model.PredictGrid(); });
  cv::Mat grey;
  std::vector<cv::Point2f> points;
  const double theirs = TimeMs([&] {
    cv::cvtColor(render, grey, cv::COLOR_BGR2GRAY);
    points = predicted;
    cv::cornerSubPix(grey, points, cv::Size(7, 7), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.0003));
  });
  double worst = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    const Point2d p = store.GetImagePoint(0, 0, static_cast<int>(i));
    worst = std::max(worst, std::hypot(p.x - points[i].x, p.y - points[i].y));
  }
  std::printf("%4d x %4d: ours %.3f ms, OpenCV %.3f ms, ours / OpenCV %.2f (largest difference %.2g px)\n", width,
              height, ours, theirs, ours / theirs, worst);
}

}  // namespace

int main() {
  Gdiplus::GdiplusStartupInput in;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &in, nullptr);
  Run(640, 480);
  Run(1920, 1080);
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
