// Writes the seed corpus of every fuzz target with the program's own writers
// (a synthetic camera, rig, board and poses), so the fuzzers start from files
// the program itself makes. Usage: fuzz_make_corpus <corpus folder>. Seeds
// are named seed_*; other files in the folders (past findings) are kept.
#include <unistd.h>

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MVG/camera.h"
#include "MVG/gdi_image_files.h"
#include "MVG/stereo_camera.h"
#include "calibration/calibration_data_store.h"
#include "calibration/calibration_files.h"
#include "calibration/project_file.h"
#include "com/com.h"
#include "dshow/platform.h"
#include "fuzz_support.h"
#include "gdiplus/gdiplus.h"
#include "quorl/clocale.h"
#include "quorl_dshow/graph_functions.h"
#include "synthetic_board/synthetic_board.h"

namespace fs = std::filesystem;

namespace {

fs::path g_corpus;
fs::path g_work;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  const fs::path folder = g_corpus / target;
  fs::create_directories(folder);
  std::ofstream(folder / ("seed_" + name), std::ios::binary | std::ios::trunc) << bytes;
}

// Writes with `write` into the work folder, then seeds the file's bytes.
template <class F>
void SeedWritten(const std::string& target, const std::string& name, F write) {
  const fs::path path = g_work / name;
  if (!write(path.string())) {
    std::fprintf(stderr, "fuzz_make_corpus: cannot write %s\n", name.c_str());
    std::exit(1);
  }
  Seed(target, name, Slurp(path));
}

template <class... Args>
std::string Format(const char* format, Args... args) {
  quorl::ScopedCLocale c;
  char text[4096];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

CCamera ToCamera(const synthetic::CameraModel& m, const synthetic::Pose& pose) {
  const double K[9] = {m.fx, 0, m.cx, 0, m.fy, m.cy, 0, 0, 1};
  const double d[4] = {m.k1, m.k2, m.p1, m.p2};
  double R[9], T[3];
  for (int i = 0; i < 3; ++i) {
    T[i] = pose.t[i];
    for (int j = 0; j < 3; ++j) R[3 * i + j] = pose.R(i, j);
  }
  return CCamera(K, d, R, T, m.width, m.height);
}

// K (9) and k1 k2 p1 p2 of a model, as the camera-set files hold them.
std::string MvgIntrinsics(const synthetic::CameraModel& m) {
  return Format("%f %f %f\n%f %f %f\n%f %f %f\n%f %f %f %f\n", m.fx, 0.0, m.cx, 0.0, m.fy, m.cy, 0.0, 0.0, 1.0, m.k1,
                m.k2, m.p1, m.p2);
}

std::string MvgPose(const synthetic::Pose& p) {
  return Format("%f %f %f\n%f %f %f\n%f %f %f\n%f %f %f\n", p.R(0, 0), p.R(0, 1), p.R(0, 2), p.R(1, 0), p.R(1, 1),
                p.R(1, 2), p.R(2, 0), p.R(2, 1), p.R(2, 2), p.t[0], p.t[1], p.t[2]);
}

void Cameras(const synthetic::Dataset& set) {
  const synthetic::CameraModel a = set.options.cameraA, b = set.options.cameraB;
  const synthetic::Pose identity;
  SeedWritten("camera_file", "camera_a.txt", [&](const std::string& p) { return ToCamera(a, set.views[0].poseA).Save(p.c_str()); });
  SeedWritten("intrinsics_file", "Camera_0_Intrinsic.txt", [&](const std::string& p) {
    CameraParameters c;
    c.K[0] = a.fx, c.K[2] = a.cx, c.K[4] = a.fy, c.K[5] = a.cy, c.K[8] = 1;
    c.d[0] = a.k1, c.d[1] = a.k2, c.d[2] = a.p1, c.d[3] = a.p2;
    c.width = a.width, c.height = a.height;
    return WriteIntrinsicsFile(p.c_str(), c);
  });

  // The rig: the stereo file names its two camera files beside it.
  {
    const fs::path previous = fs::current_path();
    fs::current_path(g_work);
    const CStereoCamera rig(ToCamera(a, identity), ToCamera(b, set.options.rigPose));
    const bool saved = rig.Save("rig.txt");
    fs::current_path(previous);
    if (!saved) std::exit(1);
    Seed("stereo_camera_file", "rig", fuzz::JoinFiles({{"rig.txt", Slurp(g_work / "rig.txt")},
                                                       {"rig_camera0.txt", Slurp(g_work / "rig_camera0.txt")},
                                                       {"rig_camera1.txt", Slurp(g_work / "rig_camera1.txt")}}));
  }

  // The camera-set files have no writer in the program: written here in the
  // readers' layout.
  const std::string size = Format("%d %d\n", a.width, a.height);
  Seed("mvg_cameras", "one.txt", "1\n" + MvgIntrinsics(a) + size);
  Seed("mvg_cameras", "two.txt", "2\n" + MvgIntrinsics(a) + MvgIntrinsics(b) + MvgPose(set.options.rigPose) + size);
  Seed("mvg_multi_cameras", "three.txt",
       "3\n" + MvgIntrinsics(a) + MvgPose(identity) + MvgIntrinsics(b) + MvgPose(set.options.rigPose) +
           MvgIntrinsics(a) + MvgPose(set.views[0].poseA) + size);
}

void BoardAndViews(const synthetic::Dataset& set) {
  const synthetic::BoardSpec& board = set.options.board;
  Seed("board_file", "default_calib_plane.txt",
       Format("%d %d %f %f %d %d\n", board.squaresX, board.squaresY, board.sizeX, board.sizeY, 5, 5));
  SeedWritten("view_extrinsics_file", "Camera_0_Extrinsic.txt", [&](const std::string& p) {
    std::vector<double> R, r, T;
    for (const synthetic::View& v : set.views) {
      for (int i = 0; i < 3; ++i) {
        r.push_back(v.poseA.rvec[i]);
        T.push_back(v.poseA.t[i]);
        for (int j = 0; j < 3; ++j) R.push_back(v.poseA.R(i, j));
      }
    }
    return WriteViewExtrinsicsFile(p.c_str(), static_cast<int>(set.views.size()), R.data(), r.data(), T.data());
  });
  SeedWritten("image_points_file", "Camera_0_Points_0.txt", [&](const std::string& p) {
    std::vector<Point2d> points;
    for (const cv::Point2d& q : set.views[0].pointsA) points.push_back({q.x, q.y});
    return WriteImagePointsFile(p.c_str(), points.data(), static_cast<int>(points.size()));
  });
}

// A project of two cameras, each with a detected image, and their rig, saved
// by the project writer; and the same layout in the old form (CR LF, the
// rig's camera files named by one index, files it names left out).
void Project(const synthetic::Dataset& set) {
  const synthetic::CameraModel models[2] = {set.options.cameraA, set.options.cameraB};
  CalibrationDataStore store;
  for (int c = 0; c < 2; ++c) {
    store.AddCamera();
    store.SetObjectSettings(c, 25.0, 25.0, 3, 3, 5, 5);
    const synthetic::CameraModel& m = models[c];
    CameraParameters p;
    p.K[0] = m.fx, p.K[2] = m.cx, p.K[4] = m.fy, p.K[5] = m.cy, p.K[8] = 1;
    p.d[0] = m.k1, p.d[1] = m.k2, p.d[2] = m.p1, p.d[3] = m.p2;
    p.width = m.width, p.height = m.height;
    store.SetCameraParameters(c, p);
    IplImage* image = cvCreateImage(cvSize(16, 12), IPL_DEPTH_8U, 3);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16 * 3; ++x) image->imageData[y * image->widthStep + x] = static_cast<char>(x * 5 + y * 9);
    store.AddImage(c, image);
    std::vector<Point2d>* points = store.GetImagePointList(c, 0);
    for (int k = 0; k < 9; ++k) points->push_back({2.0 + 4.0 * (k % 3) + c, 2.0 + 3.5 * (k / 3)});
    store.SetImageDetected(c, 0, true);
  }
  store.AddStereoRig(0, 1);
  store.SetStereoCamera(0, CStereoCamera(ToCamera(models[0], synthetic::Pose()),
                                         ToCamera(models[1], set.options.rigPose)));
  const fs::path folder = g_work / "project";
  fs::create_directories(folder);
  std::string message;
  if (!WriteProject(store, folder / "project.txt", "png", &message)) {
    std::fprintf(stderr, "fuzz_make_corpus: %s\n", message.c_str());
    std::exit(1);
  }
  std::vector<fuzz::InputFile> files{{"project.txt", Slurp(folder / "project.txt")}};
  std::vector<fs::path> others;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename() != "project.txt") others.push_back(entry.path());
  std::sort(others.begin(), others.end());
  for (const fs::path& path : others) files.push_back({path.filename().string(), Slurp(path)});
  Seed("project_file", "two_cameras_and_rig", fuzz::JoinFiles(files));

  const synthetic::BoardSpec& board = set.options.board;
  const std::string camera =
      Format("1 %d %d %f %f 5 5\r\n", board.squaresX, board.squaresY, board.sizeX, board.sizeY);
  Seed("project_file", "old_form",
       fuzz::JoinFiles({{"project.txt", "3\r\nCamera_0_Data.txt\r\n" + camera + "Camera_1_Data.txt\r\n" + camera +
                                            "StereoCamera_01_Data.txt\r\n"},
                        {"Camera_0_Data.txt",
                         "Camera_0_Intrinsic.txt\r\nCamera_0_Extrinsic.txt\r\n1 Camera_0_Image_0.jpg\r\n1 "
                         "Camera_0_Points_0.txt\r\n"},
                        {"Camera_1_Data.txt",
                         "Camera_1_Intrinsic.txt\r\nCamera_1_Extrinsic.txt\r\n1 Camera_1_Image_0.jpg\r\n0 "
                         "Camera_1_Points_0.txt\r\n"},
                        {"StereoCamera_01_Data.txt",
                         "StereoCamera_0_Intrinsic.txt\r\nStereoCamera_1_Intrinsic.txt\r\n"}}));
}

// A small picture in every format the loader reads, by the program's own
// encoders: opaque, and with alpha where the format keeps it.
void Images() {
  constexpr int kWidth = 12, kHeight = 8;
  std::vector<BYTE> opaque(kWidth * 4 * kHeight), clear(kWidth * 4 * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      BYTE* o = &opaque[y * kWidth * 4 + x * 3];
      o[0] = static_cast<BYTE>(20 * x), o[1] = static_cast<BYTE>(30 * y), o[2] = static_cast<BYTE>(x * y);
      BYTE* c = &clear[y * kWidth * 4 + x * 4];
      c[0] = o[0], c[1] = o[1], c[2] = o[2], c[3] = (x + y) % 3 == 0 ? 0 : 255;
    }
  Gdiplus::Bitmap rgb(kWidth, kHeight, kWidth * 4, PixelFormat24bppRGB, opaque.data());
  Gdiplus::Bitmap argb(kWidth, kHeight, kWidth * 4, PixelFormat32bppARGB, clear.data());
  for (const char* extension : {"bmp", "png", "tif", "gif", "jpg"})
    SeedWritten("image_file", std::string("opaque.") + extension,
                [&](const std::string& p) { return GDI::SaveImage(p.c_str(), &rgb, extension) == 0; });
  for (const char* extension : {"png", "tif", "gif"})
    SeedWritten("image_file", std::string("alpha.") + extension,
                [&](const std::string& p) { return GDI::SaveImage(p.c_str(), &argb, extension) == 0; });
}

// Graph files: an empty graph, and one of two filters joined.
void Graphs() {
  CoInitialize(nullptr);
  for (int filters = 0; filters <= 2; filters += 2) {
    SeedWritten("graph_file", "filters_" + std::to_string(filters) + ".grf", [&](const std::string& p) {
      CComPtr<IGraphBuilder> graph;
      CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                       reinterpret_cast<void**>(&graph));
      if (!graph) return false;
      if (filters) {
        CComPtr<IBaseFilter> grabber, renderer;
        if (FAILED(DShow::AddFilterByCLSID(graph, CLSID_SampleGrabber, L"Sample Grabber", &grabber)) ||
            FAILED(DShow::AddFilterByCLSID(graph, CLSID_NullRenderer, L"Renderer", &renderer)))
          return false;
        DShow::ConnectFilters(graph, grabber, renderer);
      }
      return SUCCEEDED(DShow::SaveGraphFile(graph, p.c_str()));
    });
  }
  CoUninitialize();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_corpus <corpus folder>\n");
    return 2;
  }
  g_corpus = fs::absolute(argv[1]);
  g_work = fs::temp_directory_path() / ("fuzz_make_corpus_" + std::to_string(::getpid()));
  fs::create_directories(g_work);

  synthetic::Options options;
  options.views = 3;
  options.rig = true;
  const synthetic::Dataset set = synthetic::MakeDataset(options);
  Cameras(set);
  BoardAndViews(set);
  Project(set);
  Images();
  Graphs();
  fs::remove_all(g_work);
  return 0;
}
