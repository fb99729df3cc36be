// The object editor against OpenCV, in two parts.
//
//   object_editor_bench                  timing
//   object_editor_bench --photos FOLDER  marking real photos
//
// Timing: the editor from the fourth click to the stored grid (the
// homography, the grey copy, 54 corner refinements and the store's write)
// against the OpenCV work it stands for: cv::cvtColor and one
// cv::cornerSubPix call over the same predicted points, with the same window
// and criteria. On rendered boards of 640 x 480 and 1920 x 1080. Prints
// milliseconds and ours / OpenCV (above 1: ours is slower). Run from a build
// without sanitizers.
//
// Marking: real photos of a 9 x 6 point chessboard (bench/
// fetch_chessboard_photos.sh puts OpenCV's sample photos left??.jpg and
// right??.jpg into the build folder) marked through the editor's model as a
// user marks them, four clicks on the outer corners, for the board windows 2
// to 7. Compares every point with cv::findChessboardCorners +
// cv::cornerSubPix and each camera's calibration (the workbench's engine on
// the editor's points) with cv::calibrateCamera on OpenCV's corners, in
// OpenCV's standard deviations. Any build.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app_core/object_editor_model.h"
#include "median_time.h"
#include "calibration/calibration_data_store.h"
#include "calibration/mono_calibration_engine.h"
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

// ---- Marking real photos ----

namespace photos {

constexpr int kNx = 9, kNy = 6, kN = kNx * kNy;  // points along x and y
constexpr double kSquare = 25.0;
constexpr int kFirstWindow = 2, kLastWindow = 7;
// The reference: OpenCV's detector, then cv::cornerSubPix with half window
// 6 (13 x 13), 30 iterations or a move below 1e-4 px. The reference check
// printed first shows why: from half window 4 to 7 OpenCV's corners agree
// and calibrate to the least reprojection error, from 9 on the larger
// window pulls corners of the small, steep squares towards their
// neighbours (half window 11, OpenCV's sample setting, doubles the error).
// 6 is no board window's (their half windows 2 w + 1 are odd), so no
// window under test starts out equal to the reference.
constexpr int kReferenceHalf = 6;
constexpr int kCheckedHalves[] = {3, 4, 5, 6, 7, 9, 11};

struct Photo {
  std::string name;
  int camera = 0;  // one camera per file-name prefix
  cv::Mat colour, grey;
  // OpenCV's detected corners, in the editor's order: point r nx + c, the
  // grid's x axis along OpenCV's rows of 9.
  std::vector<cv::Point2f> detected;
  std::vector<cv::Point2d> reference;  // refined with kReferenceHalf
  double smallestSpacing = 0.0;  // between neighbouring corners, px
  double predictionError = 0.0;  // largest, of the grid predicted from the four outer corners
};

// One way a user clicks: the view the editor shows the photo in and how far
// off each of the four clicks lands (image pixels, before the click is
// rounded to a view pixel).
struct ClickStyle {
  const char* name;
  int viewWidth, viewHeight;
  double offset;
};
constexpr ClickStyle kStyles[] = {
    {"on the corner (640 x 480 view)", 640, 480, 0.0},
    {"2 px off (395 x 350 view)", 395, 350, 2.0},
};

struct Marking {
  bool detected = false;
  std::vector<cv::Point2d> points;
};

// Signed area on screen (y down): positive when a -> b -> c -> d runs
// clockwise as seen.
double ScreenArea(const cv::Point2d& a, const cv::Point2d& b, const cv::Point2d& c, const cv::Point2d& d) {
  const cv::Point2d p[4] = {a, b, c, d};
  double area = 0.0;
  for (int i = 0; i < 4; ++i) area += p[i].x * p[(i + 1) % 4].y - p[(i + 1) % 4].x * p[i].y;
  return area / 2.0;
}

std::vector<cv::Point2d> Refine(const Photo& photo, int half) {
  std::vector<cv::Point2f> points = photo.detected;
  cv::cornerSubPix(photo.grey, points, cv::Size(half, half), cv::Size(-1, -1),
                   cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 30, 1e-4));
  return {points.begin(), points.end()};
}

// The largest distance between OpenCV's corners and the grid the editor
// predicts from the four outer ones (before any refinement).
double PredictionError(const std::vector<cv::Point2d>& reference) {
  const std::array<Point2d, 4> sorted = ObjectEditorModel::SortCorners(
      {Point2d{reference[kN - kNx].x, reference[kN - kNx].y}, Point2d{reference[kN - 1].x, reference[kN - 1].y},
       Point2d{reference[kNx - 1].x, reference[kNx - 1].y}, Point2d{reference[0].x, reference[0].y}});
  const cv::Point2f unit[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  cv::Point2f quad[4];
  for (int i = 0; i < 4; ++i) quad[i] = cv::Point2f(static_cast<float>(sorted[i].x), static_cast<float>(sorted[i].y));
  const cv::Matx33d H = cv::getPerspectiveTransform(unit, quad);
  double worst = 0.0;
  for (int r = 0; r < kNy; ++r)
    for (int c = 0; c < kNx; ++c) {
      const cv::Vec3d p = H * cv::Vec3d(static_cast<double>(c) / (kNx - 1), static_cast<double>(r) / (kNy - 1), 1.0);
      worst = std::max(worst, cv::norm(cv::Point2d(p[0] / p[2], p[1] / p[2]) - reference[r * kNx + c]));
    }
  return worst;
}

bool FindReference(Photo& photo) {
  cv::cvtColor(photo.colour, photo.grey, cv::COLOR_BGR2GRAY);
  std::vector<cv::Point2f> found;
  if (!cv::findChessboardCorners(photo.grey, cv::Size(kNx, kNy), found,
                                 cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE))
    return false;
  // The editor's grid runs clockwise on screen from point 0 (0, nx - 1,
  // n - 1, n - nx); OpenCV's may run the other way round, and then its rows
  // are taken from the last to the first.
  const bool clockwise = ScreenArea(found[0], found[kNx - 1], found[kN - 1], found[kN - kNx]) > 0.0;
  photo.detected.clear();
  for (int r = 0; r < kNy; ++r)
    for (int c = 0; c < kNx; ++c) photo.detected.push_back(found[(clockwise ? r : kNy - 1 - r) * kNx + c]);
  photo.reference = Refine(photo, kReferenceHalf);
  double smallest = INFINITY;
  for (int r = 0; r < kNy; ++r)
    for (int c = 0; c < kNx; ++c) {
      const cv::Point2d& p = photo.reference[r * kNx + c];
      if (c + 1 < kNx) smallest = std::min(smallest, cv::norm(p - photo.reference[r * kNx + c + 1]));
      if (r + 1 < kNy) smallest = std::min(smallest, cv::norm(p - photo.reference[(r + 1) * kNx + c]));
    }
  photo.smallestSpacing = smallest;
  photo.predictionError = PredictionError(photo.reference);
  return true;
}

IplImage* ToIpl(const cv::Mat& m) {
  IplImage* image = cvCreateImage(cvSize(m.cols, m.rows), IPL_DEPTH_8U, m.channels());
  cv::Mat target = cv::cvarrToMat(image);
  m.copyTo(target);
  return image;
}

// The four clicks on the true outer corners, the first at point n - nx (the
// corner the editor labels O), then the other three; the editor refines each
// click with the board's window, predicts the grid and refines every point.
Marking Mark(CalibrationDataStore& store, int camera, int image, const Photo& photo, const ClickStyle& style) {
  store.ResetImageDetection(camera, image);
  ObjectEditorModel model;
  model.SetDataStore(&store);
  model.SetViewSize(style.viewWidth, style.viewHeight);
  model.OpenForCamera(camera);
  model.SetImageIndex(image);
  model.ExecuteCommand(ObjectEditorModel::kSelectGrid, 0);
  const int order[4] = {kN - kNx, kN - 1, kNx - 1, 0};
  for (int k = 0; k < 4; ++k) {
    const double angle = CV_PI / 4 + k * CV_PI / 2;  // each click off in its own direction
    const cv::Point2d at =
        photo.reference[order[k]] + style.offset * cv::Point2d(std::cos(angle), std::sin(angle));
    const ObjectEditorModel::ViewPoint v = model.ImageToView({at.x, at.y});
    model.LeftButtonDown({std::round(v.x), std::round(v.y)}, true, false);
  }
  Marking m;
  m.detected = store.IsImageDetected(camera, image) != 0;
  for (int i = 0; i < store.GetImagePointCount(camera, image); ++i) {
    const Point2d p = store.GetImagePoint(camera, image, i);
    m.points.emplace_back(p.x, p.y);
  }
  return m;
}

struct PointErrors {
  double sumSquares = 0.0;
  int count = 0;
  double worst = 0.0;
  int far = 0;  // points more than 1 px off
  void Add(double e) {
    sumSquares += e * e;
    ++count;
    worst = std::max(worst, e);
    if (e > 1.0) ++far;
  }
  double Rms() const { return count ? std::sqrt(sumSquares / count) : 0.0; }
};

struct Calibration {
  bool ok = false;
  double v[8] = {};     // fx fy cx cy k1 k2 p1 p2
  double sigma[8] = {};  // OpenCV's only
  double rms = 0.0;
};

// k3 fixed at 0: the workbench's lens model has k1, k2, p1 and p2.
Calibration OpenCvCalibration(const std::vector<std::vector<cv::Point2d>>& lists, cv::Size size) {
  std::vector<cv::Point3f> board;
  for (int r = 0; r < kNy; ++r)
    for (int c = 0; c < kNx; ++c) board.emplace_back(static_cast<float>(c * kSquare), static_cast<float>(r * kSquare), 0.f);
  std::vector<std::vector<cv::Point3f>> objects(lists.size(), board);
  std::vector<std::vector<cv::Point2f>> images;
  for (const auto& list : lists) images.emplace_back(list.begin(), list.end());
  cv::Mat K, d, rvecs, tvecs, deviations, extrinsicDeviations, perView;
  Calibration out;
  try {
    out.rms = cv::calibrateCamera(objects, images, size, K, d, rvecs, tvecs, deviations, extrinsicDeviations,
                                  perView, cv::CALIB_FIX_K3);
  } catch (const cv::Exception&) {
    return out;  // too few views
  }
  const double v[8] = {K.at<double>(0, 0), K.at<double>(1, 1), K.at<double>(0, 2), K.at<double>(1, 2),
                       d.at<double>(0),    d.at<double>(1),    d.at<double>(2),    d.at<double>(3)};
  for (int k = 0; k < 8; ++k) out.v[k] = v[k], out.sigma[k] = deviations.at<double>(k);
  out.ok = true;
  return out;
}

// The workbench's engine, as Calibrate runs it, on the given point lists.
Calibration EngineCalibration(const std::vector<std::vector<cv::Point2d>>& lists, int width, int height) {
  std::vector<std::vector<Point2d>> points;
  for (const auto& list : lists) {
    points.emplace_back();
    for (const cv::Point2d& p : list) points.back().push_back({p.x, p.y});
  }
  CMonoCameraCalibrationEngine engine;
  const CalibrationObjectSettings board{kSquare, kSquare, kNx, kNy, 3, 3};
  Calibration out;
  if (engine.RunCalibration(points, board, width, height) != 1) return out;
  const CameraParameters p = engine.GetCameraParameters();
  const double v[8] = {p.K[0], p.K[4], p.K[2], p.K[5], p.d[0], p.d[1], p.d[2], p.d[3]};
  std::copy(v, v + 8, out.v);
  double ex = 0, ey = 0, distance = 0;
  engine.ComputeReprojectionError(&ex, &ey, &distance);
  out.rms = distance;
  out.ok = true;
  return out;
}

void PrintSigmas(const char* label, const Calibration& ours, const Calibration& reference) {
  if (!reference.ok) {
    std::printf("    %-26s no reference calibration\n", label);
    return;
  }
  if (!ours.ok) {
    std::printf("    %-26s did not calibrate\n", label);
    return;
  }
  std::printf("    %-26s", label);
  for (int k = 0; k < 8; ++k) std::printf(" %+6.2f", (ours.v[k] - reference.v[k]) / reference.sigma[k]);
  std::printf("   (fx %.2f fy %.2f cx %.2f cy %.2f k1 %.4f, mean distance %.3f px)\n", ours.v[0], ours.v[1], ours.v[2],
              ours.v[3], ours.v[4], ours.rms);
}

int Run(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    std::fprintf(stderr, "No folder %s: bench/fetch_chessboard_photos.sh fetches the photos\n",
                 folder.string().c_str());
    return 1;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".jpg") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::map<std::string, int> cameras;  // file-name prefix -> camera
  std::vector<std::string> cameraNames;
  std::vector<Photo> photos;
  for (const auto& file : files) {
    Photo photo;
    photo.name = file.filename().string();
    photo.colour = cv::imread(file.string(), cv::IMREAD_COLOR);
    if (photo.colour.empty()) {
      std::printf("%s: does not load\n", photo.name.c_str());
      continue;
    }
    if (!FindReference(photo)) {
      std::printf("%s: OpenCV finds no %d x %d board, left out\n", photo.name.c_str(), kNx, kNy);
      continue;
    }
    std::string prefix = photo.name.substr(0, photo.name.find_first_of("0123456789."));
    if (!cameras.count(prefix)) cameras[prefix] = static_cast<int>(cameraNames.size()), cameraNames.push_back(prefix);
    photo.camera = cameras[prefix];
    photos.push_back(std::move(photo));
  }
  if (photos.empty()) {
    std::fprintf(stderr, "No photo in %s holds a board OpenCV finds\n", folder.string().c_str());
    return 1;
  }
  const cv::Size size = photos[0].colour.size();
  auto listsOf = [&](size_t camera, auto&& points) {
    std::vector<std::vector<cv::Point2d>> lists;
    for (const Photo& p : photos)
      if (p.camera == static_cast<int>(camera)) lists.push_back(points(p));
    return lists;
  };
  std::printf("%zu photos:", photos.size());
  for (size_t c = 0; c < cameraNames.size(); ++c)
    std::printf(" %s %zu,", cameraNames[c].c_str(), listsOf(c, [](const Photo& p) { return p.reference; }).size());
  std::printf(" reference cv::findChessboardCorners + cv::cornerSubPix, half window %d\n", kReferenceHalf);

  std::printf("\nReference check: OpenCV's corners refined with other half windows, their distance from the\n"
              "reference (rms, max) and OpenCV's calibration rms on them, per camera\n");
  for (int half : kCheckedHalves) {
    PointErrors apart;
    for (const Photo& p : photos) {
      const std::vector<cv::Point2d> refined = Refine(p, half);
      for (int k = 0; k < kN; ++k) apart.Add(cv::norm(refined[k] - p.reference[k]));
    }
    std::printf("  half window %2d: %.3f, %.3f px; calibration rms", half, apart.Rms(), apart.worst);
    for (size_t c = 0; c < cameraNames.size(); ++c)
      std::printf(" %s %.3f px", cameraNames[c].c_str(),
                  OpenCvCalibration(listsOf(c, [&](const Photo& p) { return Refine(p, half); }), size).rms);
    std::printf("\n");
  }

  // The calibrations the editor's are measured against.
  std::vector<Calibration> reference(cameraNames.size()), engineOnReference(cameraNames.size());
  std::printf("\nOpenCV's calibration on the reference corners (k3 = 0):\n");
  for (size_t c = 0; c < cameraNames.size(); ++c) {
    const auto lists = listsOf(c, [](const Photo& p) { return p.reference; });
    reference[c] = OpenCvCalibration(lists, size);
    engineOnReference[c] = EngineCalibration(lists, size.width, size.height);
    const Calibration& r = reference[c];
    std::printf("  %s: rms %.3f px, fx %.2f +- %.2f, fy %.2f +- %.2f, cx %.2f +- %.2f, cy %.2f +- %.2f, k1 %.4f +- "
                "%.4f,\n      k2 %.4f +- %.4f, p1 %.5f +- %.5f, p2 %.5f +- %.5f\n",
                cameraNames[c].c_str(), r.rms, r.v[0], r.sigma[0], r.v[1], r.sigma[1], r.v[2], r.sigma[2], r.v[3],
                r.sigma[3], r.v[4], r.sigma[4], r.v[5], r.sigma[5], r.v[6], r.sigma[6], r.v[7], r.sigma[7]);
  }
  std::printf("  the workbench's engine on the same corners, (engine - OpenCV) / OpenCV's sigma:\n");
  for (size_t c = 0; c < cameraNames.size(); ++c)
    PrintSigmas(cameraNames[c].c_str(), engineOnReference[c], reference[c]);

  CalibrationDataStore store;
  std::vector<int> imageOf(photos.size());
  for (size_t c = 0; c < cameraNames.size(); ++c) store.AddCamera();
  for (size_t i = 0; i < photos.size(); ++i) {
    imageOf[i] = store.GetImageCount(photos[i].camera);
    IplImage* copy = ToIpl(photos[i].colour);
    if (store.AddImage(photos[i].camera, copy) != 1) {
      cvReleaseImage(&copy);
      std::fprintf(stderr, "The store refused %s\n", photos[i].name.c_str());
      return 1;
    }
  }

  constexpr int kWindows = kLastWindow - kFirstWindow + 1;
  for (const ClickStyle& style : kStyles) {
    std::printf("\n== clicks %s ==\n", style.name);
    // worst[photo][window]: the largest point error of that photo.
    std::vector<std::array<double, kWindows>> worst(photos.size());
    for (int window = kFirstWindow; window <= kLastWindow; ++window) {
      PointErrors all;
      std::vector<std::vector<std::vector<cv::Point2d>>> lists(cameraNames.size());
      int undetected = 0, farPhotos = 0;
      std::string worstPhoto;
      double worstOfAll = -1.0;
      for (size_t c = 0; c < cameraNames.size(); ++c)
        store.SetObjectSettings(static_cast<int>(c), kSquare, kSquare, kNx, kNy, window, window);
      for (size_t i = 0; i < photos.size(); ++i) {
        const Photo& photo = photos[i];
        const Marking m = Mark(store, photo.camera, imageOf[i], photo, style);
        PointErrors own;
        if (!m.detected || m.points.size() != static_cast<size_t>(kN)) {
          ++undetected;
          worst[i][window - kFirstWindow] = INFINITY;
          continue;
        }
        for (int k = 0; k < kN; ++k) {
          const double e = cv::norm(m.points[k] - photo.reference[k]);
          own.Add(e);
          all.Add(e);
        }
        worst[i][window - kFirstWindow] = own.worst;
        if (own.far) ++farPhotos;
        if (own.worst > worstOfAll) worstOfAll = own.worst, worstPhoto = photo.name;
        lists[photo.camera].push_back(m.points);
      }
      const int search = 2 * (2 * window + 1) + 1;
      std::printf("window %d (search %d x %d): points rms %.3f px, max %.3f px (%s); %d of %d points, in %d photos, "
                  "more than 1 px off; %d photos undetected\n",
                  window, search, search, all.Rms(), all.worst, worstPhoto.c_str(), all.far, all.count, farPhotos,
                  undetected);
      std::printf("    %-26s %6s %6s %6s %6s %6s %6s %6s %6s   (ours - OpenCV) / OpenCV's sigma\n", "camera", "fx",
                  "fy", "cx", "cy", "k1", "k2", "p1", "p2");
      for (size_t c = 0; c < cameraNames.size(); ++c) {
        const Calibration ours = EngineCalibration(lists[c], photos[0].colour.cols, photos[0].colour.rows);
        PrintSigmas(cameraNames[c].c_str(), ours, reference[c]);
      }
    }
    std::printf("  largest point error per photo (px) by window; the smallest corner spacing and the largest\n"
                "  error of the grid predicted from the four outer corners (px)\n  %-12s", "photo");
    for (int window = kFirstWindow; window <= kLastWindow; ++window) std::printf("      w%d", window);
    std::printf("  spacing  predicted\n");
    for (size_t i = 0; i < photos.size(); ++i) {
      std::printf("  %-12s", photos[i].name.c_str());
      for (double e : worst[i]) std::printf(" %7.3f", e);
      std::printf("  %7.1f  %9.2f\n", photos[i].smallestSpacing, photos[i].predictionError);
    }
  }
  return 0;
}

}  // namespace photos

}  // namespace

int main(int argc, char** argv) {
  if (argc != 1 && !(argc == 3 && std::strcmp(argv[1], "--photos") == 0)) {
    std::fprintf(stderr, "usage: %s [--photos FOLDER]\n", argv[0]);
    return 2;
  }
  Gdiplus::GdiplusStartupInput in;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &in, nullptr);
  int code = 0;
  if (argc == 3) {
    code = photos::Run(argv[2]);
  } else {
    Run(640, 480);
    Run(1920, 1080);
  }
  Gdiplus::GdiplusShutdown(token);
  return code;
}
