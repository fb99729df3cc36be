// The data view's calibration commands against recording stand-ins for the
// columns, the panels and the 3D dialog: which camera each command reaches
// under the entry numbering, what a successful run hands on, and that every
// refusal and failure says why and changes nothing.
#include "calibration_commands.h"

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/core/core_c.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app_core/calibration_checks.h"
#include "app_core/panel_texts.h"
#include "calib_scene_target.h"
#include "calibration/calibration_data_store.h"
#include "calibration/calibration_files.h"
#include "calibration/mono_calibration_engine.h"
#include "data_view_columns.h"
#include "recording_data_view.h"
#include "synthetic_board/synthetic_board.h"
#include "win/prompts.h"
#include "window_test_support.h"

namespace {

namespace fs = std::filesystem;

::testing::Environment* const gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

// ---- Recording stand-ins ----

struct RecordingPanels : IDataViewPanels {
  struct Panel {
    std::string title, text;
  };
  void SetPanelText(int entry, const char* title, const char* text) override {
    Panel& p = panels[entry];
    if (title) p.title = title;
    if (text) p.text = text;
    ++calls;
  }
  std::map<int, Panel> panels;
  int calls = 0;
};

struct RecordedScene {
  bool stereo = false;
  CCamera camera;
  CStereoCamera rig;
  std::vector<double> R, T;
  int views = 0, boardW = 0, boardH = 0;
  double square = 0;
  std::vector<IplImage*> images, rightImages;
};

// Behaves as the dialog does for keys: adding replaces the key's scene and
// shows it.
struct RecordingScenes : ICalibSceneTarget {
  void AddScene(int key, CCamera camera, double* R, double* T, int views, int boardW, int boardH, double square,
                std::vector<IplImage*>& images) override {
    RecordedScene& s = Record(key, R, T, views, boardW, boardH, square);
    s.camera = camera;
    s.images = images;
  }
  void AddStereoScene(int key, CStereoCamera rig, double* R, double* T, int views, int boardW, int boardH,
                      double square, std::vector<IplImage*>& left, std::vector<IplImage*>& right) override {
    RecordedScene& s = Record(key, R, T, views, boardW, boardH, square);
    s.stereo = true;
    s.rig = rig;
    s.images = left;
    s.rightImages = right;
  }
  void RemoveScene(int key) override {
    removed.push_back(key);
    scenes.erase(key);
    if (shown == key) shown = -1;
  }
  int GetShownKey() const override { return shown; }
  void OnEntryInserted(int) override {}
  void OnEntryRemoved(int) override {}
  void ShowResults() override { ++showCalls; }

  RecordedScene& Record(int key, const double* R, const double* T, int views, int boardW, int boardH, double square) {
    ++addCalls;
    RecordedScene s;
    // The poses are read now: they live in the engine.
    if (views > 0 && R && T) {
      s.R.assign(R, R + 9 * views);
      s.T.assign(T, T + 3 * views);
    }
    s.views = views;
    s.boardW = boardW;
    s.boardH = boardH;
    s.square = square;
    shown = key;
    return scenes[key] = s;
  }

  std::map<int, RecordedScene> scenes;
  std::vector<int> removed;
  int shown = -1;
  int addCalls = 0, showCalls = 0;
};

// ---- Store fixtures ----

constexpr int kWidth = 640, kHeight = 480;

void SetBoard(CalibrationDataStore& store, int camera, int squaresX = 9, int squaresY = 6) {
  ASSERT_TRUE(store.SetObjectSettings(camera, 25.0, 25.0, squaresX, squaresY, 3, 3));
}

// An image of camera with its detected points (none: undetected).
void AddView(CalibrationDataStore& store, int camera, const std::vector<cv::Point2d>& points, int width = kWidth,
             int height = kHeight) {
  IplImage* image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
  cvZero(image);
  ASSERT_EQ(store.AddImage(camera, image), 1);
  const int index = store.GetImageCount(camera) - 1;
  std::vector<Point2d>* list = store.GetImagePointList(camera, index);
  ASSERT_NE(list, nullptr);
  list->clear();
  for (const cv::Point2d& p : points) list->push_back({p.x, p.y});
  store.SetImageDetected(camera, index, !points.empty());
}

void SetViewPoints(CalibrationDataStore& store, int camera, int image, const std::vector<cv::Point2d>& points) {
  std::vector<Point2d>* list = store.GetImagePointList(camera, image);
  list->clear();
  for (const cv::Point2d& p : points) list->push_back({p.x, p.y});
}

double Angle(const cv::Matx33d& A, const cv::Matx33d& B) {
  cv::Vec3d r;
  cv::Rodrigues(cv::Mat(A * B.t()), r);
  return cv::norm(r);
}

synthetic::Dataset MonoData(int views, std::uint64_t seed = 1) {
  synthetic::Options options;
  options.views = views;
  options.seed = seed;
  return synthetic::MakeDataset(options);
}

synthetic::Dataset RigData(int views, double sigma, std::uint64_t seed = 1) {
  synthetic::Options options;
  options.rig = true;
  options.views = views;
  options.noiseSigma = sigma;
  options.seed = seed;
  return synthetic::MakeDataset(options);
}

class CalibrationCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vistrel_commands_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path(const char* name) const { return (dir / name).string(); }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const win::MessageRequest& r : prompts.boxes) texts.push_back(r.text);
    return texts;
  }
  void AnswerFile(const std::string& path) { prompts.fileAnswers.push_back({true, {path}}); }

  fs::path dir;
  win::ScriptedPrompts prompts;
  CalibrationDataStore store;
  RecordingDataView columns;
  RecordingPanels panels;
  RecordingScenes scenes;
  CCalibrationCommands commands{store, columns, panels, scenes};
};

// ---- Calibrate and Show 3D view ----

TEST_F(CalibrationCommands, CalibrateUsesTheUsableImagesAndHandsThemOnInOrder) {
  const synthetic::Dataset data = MonoData(7);
  store.AddCamera();
  SetBoard(store, 0);
  for (int v = 0; v < 7; ++v) AddView(store, 0, v == 5 ? std::vector<cv::Point2d>() : data.views[v].pointsA);
  store.DisableImage(0, 2);
  const std::vector<int> usable = {0, 1, 3, 4, 6};

  ASSERT_TRUE(commands.Calibrate(0));
  EXPECT_TRUE(Boxes().empty());

  // The panel's numbers are the truth.
  const synthetic::CameraModel truth = synthetic::CameraA();
  double fx, fy, cx, cy, k1, k2, p1, p2, ex, ey, ed, fovX, fovY;
  ASSERT_EQ(std::sscanf(panels.panels[0].text.c_str(),
                        "F: %lf %lf\nP: %lf %lf\nD: %lf %lf %lf %lf\nE: %lf %lf %lf\nFOV: %lf %lf", &fx, &fy, &cx,
                        &cy, &k1, &k2, &p1, &p2, &ex, &ey, &ed, &fovX, &fovY),
            13)
      << panels.panels[0].text;
  EXPECT_NEAR(fx, truth.fx, 0.01);
  EXPECT_NEAR(fy, truth.fy, 0.01);
  EXPECT_NEAR(cx, truth.cx, 0.01);
  EXPECT_NEAR(cy, truth.cy, 0.01);
  EXPECT_NEAR(k1, truth.k1, 1e-3);
  EXPECT_NEAR(k2, truth.k2, 1e-3);
  EXPECT_NEAR(p1, truth.p1, 1e-4);
  EXPECT_NEAR(p2, truth.p2, 1e-4);
  EXPECT_LT(ed, 1e-3);
  double engineFovX = 0, engineFovY = 0;
  store.GetCalibrationEngine(0)->GetFieldOfView(&engineFovX, &engineFovY);
  EXPECT_NEAR(fovX, engineFovX, 1e-6);
  EXPECT_NEAR(fovY, engineFovY, 1e-6);
  EXPECT_GT(fovX, 50);
  EXPECT_EQ(panels.panels[0].title, "");  // the title stays the view's

  const CameraParameters stored = store.GetCameraParameters(0);
  EXPECT_EQ(stored.K[0], store.GetCalibrationEngine(0)->GetCameraParameters().K[0]);
  EXPECT_EQ(stored.width, kWidth);
  EXPECT_TRUE(store.IsCalibrated(0));

  // Five views, each with the image it was seen in.
  ASSERT_EQ(scenes.scenes.count(0), 1u);
  const RecordedScene& scene = scenes.scenes[0];
  EXPECT_FALSE(scene.stereo);
  ASSERT_EQ(scene.views, 5);
  ASSERT_EQ(scene.images.size(), 5u);
  for (int v = 0; v < 5; ++v) {
    SCOPED_TRACE(v);
    EXPECT_EQ(scene.images[v], store.GetImage(0, usable[v]));
    EXPECT_LT(Angle(cv::Matx33d(&scene.R[9 * v]), data.views[usable[v]].poseA.R), 1e-4);
    EXPECT_NEAR(scene.T[3 * v + 2], data.views[usable[v]].poseA.t[2], 0.05);
  }
  EXPECT_EQ(scene.boardW, 9);
  EXPECT_EQ(scene.boardH, 6);
  EXPECT_EQ(scene.square, 25.0);
  EXPECT_NEAR(scene.camera.Getfx(), stored.K[0], 1e-12);
  EXPECT_EQ(scenes.showCalls, 1);

  // One more image disabled and another scene on show: the poses no longer
  // pair with the usable images, so the scene is rebuilt untextured.
  store.DisableImage(0, 0);
  scenes.shown = 7;
  ASSERT_TRUE(commands.Show3DView(0));
  EXPECT_EQ(scenes.scenes[0].views, 5);
  EXPECT_TRUE(scenes.scenes[0].images.empty());
  EXPECT_EQ(scenes.showCalls, 2);

  // Already on show: only shown again.
  const int adds = scenes.addCalls;
  ASSERT_TRUE(commands.Show3DView(0));
  EXPECT_EQ(scenes.addCalls, adds);
  EXPECT_EQ(scenes.showCalls, 3);
}

TEST_F(CalibrationCommands, CalibrateRefusalsAndFailuresChangeNothing) {
  const synthetic::Dataset data = MonoData(6);
  synthetic::Options squareOn;
  squareOn.cameraA = squareOn.cameraA.WithoutDistortion();
  squareOn.views = 6;
  squareOn.squareOnViews = 6;
  const synthetic::Dataset flat = synthetic::MakeDataset(squareOn);

  struct Case {
    const char* name;
    std::function<void(CalibrationDataStore&)> change;
    std::string message;
  };
  const Case cases[] = {
      {"four usable images",
       [](CalibrationDataStore& s) {
         s.DisableImage(0, 0);
         s.SetImageDetected(0, 1, false);
       },
       kNotConstrainedMessage},
      {"a usable image of another size", [&](CalibrationDataStore& s) { AddView(s, 0, data.views[0].pointsA, 320, 240); },
       "The images of Camera 1 do not all have the same size!"},
      {"board changed after detection", [](CalibrationDataStore& s) { SetBoard(s, 0, 8, 6); },
       std::string("Calibration failed: ") + CalibrationOutcomeText(CalibrationOutcome::kPointCountMismatch)},
      {"square-on noise-free views",
       [&](CalibrationDataStore& s) {
         for (int v = 0; v < 6; ++v) SetViewPoints(s, 0, v, flat.views[v].pointsA);
       },
       std::string("Calibration failed: ") + CalibrationOutcomeText(CalibrationOutcome::kClosedFormFailed)},
      {"refinement stopped",
       [](CalibrationDataStore& s) { s.GetCalibrationEngine(0)->SetMaxFunctionEvaluationsForTesting(1); },
       std::string("Calibration failed: ") + CalibrationOutcomeText(CalibrationOutcome::kRefinementFailed)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CalibrationDataStore s;
    RecordingPanels p;
    RecordingScenes sc;
    CCalibrationCommands cmd(s, columns, p, sc);
    prompts.boxes.clear();
    s.AddCamera();
    SetBoard(s, 0);
    for (int v = 0; v < 6; ++v) AddView(s, 0, data.views[v].pointsA);
    CameraParameters before;
    before.K[0] = 111;
    s.SetCameraParameters(0, before);
    p.SetPanelText(0, "Camera 1", "before");
    c.change(s);

    EXPECT_FALSE(cmd.Calibrate(0));
    EXPECT_EQ(Boxes(), std::vector<std::string>{c.message});
    EXPECT_EQ(s.GetCameraParameters(0).K[0], 111);
    EXPECT_FALSE(s.IsCalibrated(0));
    EXPECT_EQ(p.panels[0].text, "before");
    EXPECT_EQ(p.calls, 1);
    EXPECT_EQ(sc.addCalls, 0);
    EXPECT_EQ(sc.showCalls, 0);
    EXPECT_FALSE(s.GetCalibrationEngine(0)->HoldsCalibratedViews());
  }
  EXPECT_TRUE(columns.calls.empty());
}

// ---- The entry numbering ----

TEST_F(CalibrationCommands, CommandsReachTheLastEntrysCameraInEveryLayout) {
  const synthetic::Dataset data = MonoData(5);
  CameraParameters loaded;
  loaded.K[0] = 801.5;
  loaded.K[4] = 799.25;
  loaded.K[2] = 321;
  loaded.K[5] = 239;
  loaded.width = kWidth;
  loaded.height = kHeight;
  const std::string file = Path("loaded.txt");
  ASSERT_TRUE(WriteIntrinsicsFile(file.c_str(), loaded));

  struct Layout {
    const char* name;
    std::function<void(CalibrationDataStore&)> build;
    int lastEntry, lastCamera, rigEntry;
  };
  const Layout layouts[] = {
      {"[cam, cam, rig, cam]",
       [](CalibrationDataStore& s) {
         s.AddCamera();
         s.AddCamera();
         s.AddStereoRig(0, 1);
         s.AddCamera();
       },
       3, 2, 2},
      {"[cam, cam, rig, cam, cam]",
       [](CalibrationDataStore& s) {
         s.AddCamera();
         s.AddCamera();
         s.AddStereoRig(0, 1);
         s.AddCamera();
         s.AddCamera();
       },
       4, 3, 2},
      {"a camera inserted between the rig's cameras",
       [](CalibrationDataStore& s) {
         s.AddCamera();
         s.AddCamera();
         s.AddStereoRig(0, 1);
         s.AddCamera();
         s.InsertCamera(1);
       },
       4, 3, 3},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    CalibrationDataStore s;
    RecordingPanels p;
    RecordingScenes sc;
    CCalibrationCommands cmd(s, columns, p, sc);
    prompts.boxes.clear();
    prompts.files.clear();
    layout.build(s);
    ASSERT_EQ(s.GetEntryKind(layout.rigEntry), kStereoRigEntry);
    ASSERT_EQ(s.GetMonoCameraOrdinal(layout.lastEntry), layout.lastCamera);
    const int cameras = s.GetMonoCameraCount();
    for (int camera = 0; camera < cameras; ++camera) SetBoard(s, camera);
    // Only the last camera has images: any other camera would refuse.
    for (int v = 0; v < 5; ++v) AddView(s, layout.lastCamera, data.views[v].pointsA);

    ASSERT_TRUE(cmd.Calibrate(layout.lastEntry));
    EXPECT_TRUE(Boxes().empty());
    for (int entry = 0; entry < s.GetEntryCount(); ++entry)
      EXPECT_EQ(s.IsCalibrated(entry), entry == layout.lastEntry) << entry;
    for (int camera = 0; camera < cameras; ++camera)
      EXPECT_EQ(s.GetCameraParameters(camera).K[0] > 0, camera == layout.lastCamera) << camera;
    EXPECT_EQ(sc.scenes.size(), 1u);
    EXPECT_EQ(sc.scenes.count(layout.lastEntry), 1u);
    EXPECT_EQ(p.panels.size(), 1u);
    EXPECT_EQ(p.panels.count(layout.lastEntry), 1u);

    sc.shown = -1;
    ASSERT_TRUE(cmd.Show3DView(layout.lastEntry));
    EXPECT_EQ(sc.scenes.size(), 1u);
    EXPECT_EQ(sc.scenes[layout.lastEntry].views, 5);
    EXPECT_EQ(sc.scenes[layout.lastEntry].images.size(), 5u);

    AnswerFile(file);
    ASSERT_TRUE(cmd.LoadCameraParameters(layout.lastEntry));
    EXPECT_EQ(s.GetCameraParameters(layout.lastCamera).K[0], 801.5);
    for (int camera = 0; camera < cameras; ++camera) {
      if (camera != layout.lastCamera) {
        EXPECT_EQ(s.GetCameraParameters(camera).K[0], 0) << camera;
      }
    }
    EXPECT_EQ(sc.removed, std::vector<int>{layout.lastEntry});
    EXPECT_EQ(p.panels[layout.lastEntry].text.substr(0, 22), "F: 801.5000 799.2500\nP");

    // The loaded camera's scene is built from the loaded values.
    ASSERT_TRUE(cmd.Show3DView(layout.lastEntry));
    EXPECT_EQ(sc.scenes[layout.lastEntry].camera.Getfx(), 801.5);

    // A rig selected: nothing at all, not even a dialog, calibrated or not.
    const int adds = sc.addCalls, shows = sc.showCalls, texts = p.calls;
    for (bool calibrated : {false, true}) {
      if (calibrated) s.SetCalibrated(layout.rigEntry);
      EXPECT_FALSE(cmd.Calibrate(layout.rigEntry));
      EXPECT_FALSE(cmd.LoadCameraParameters(layout.rigEntry));
      EXPECT_FALSE(cmd.Show3DView(layout.rigEntry));
    }
    EXPECT_EQ(prompts.files.size(), 1u);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(sc.addCalls, adds);
    EXPECT_EQ(sc.showCalls, shows);
    EXPECT_EQ(p.calls, texts);
    // No selection either.
    EXPECT_FALSE(cmd.Calibrate(-1));
    EXPECT_FALSE(cmd.LoadCameraParameters(-1));
    EXPECT_FALSE(cmd.Show3DView(-1));
    EXPECT_FALSE(cmd.CalibrateStereo(-1));
    EXPECT_TRUE(Boxes().empty());
  }
  EXPECT_TRUE(columns.calls.empty());
}

// ---- Load camera parameters ----

TEST_F(CalibrationCommands, LoadCameraParametersSetsThePanelOrSaysWhyNot) {
  store.AddCamera();
  store.AddCamera();
  CameraParameters before;
  before.K[0] = 111;
  store.SetCameraParameters(1, before);

  CameraParameters good;
  good.K[0] = 700.25;
  good.K[4] = 701.5;
  good.K[2] = 300;
  good.K[5] = 200;
  good.d[0] = -0.125;
  good.width = 600;
  good.height = 400;
  const std::string goodFile = Path("good.txt");
  ASSERT_TRUE(WriteIntrinsicsFile(goodFile.c_str(), good));
  const std::string zeros = Path("zeros.txt");
  ASSERT_TRUE(WriteIntrinsicsFile(zeros.c_str(), CameraParameters()));
  const std::string garbage = Path("garbage.txt");
  std::ofstream(garbage) << "1 2 3 not a camera\n";
  const std::string missing = Path("missing.txt");

  struct Case {
    const char* name;
    std::string path;  // empty: the dialog is cancelled
    std::string message;
  };
  const Case cases[] = {
      {"cancelled", "", ""},
      {"missing file", missing, "Cannot open: " + missing + "!"},
      {"garbage file", garbage, "No calibrated camera parameters in: " + garbage + "!"},
      {"all-zero file", zeros, "No calibrated camera parameters in: " + zeros + "!"},
  };
  scenes.scenes[1] = RecordedScene();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompts.boxes.clear();
    if (!c.path.empty()) AnswerFile(c.path);
    EXPECT_FALSE(commands.LoadCameraParameters(1));
    EXPECT_EQ(Boxes(), c.message.empty() ? std::vector<std::string>() : std::vector<std::string>{c.message});
    EXPECT_EQ(store.GetCameraParameters(1).K[0], 111);
    EXPECT_EQ(store.GetCalibrationEngine(1)->GetCameraParameters().K[0], 0);
    EXPECT_FALSE(store.IsCalibrated(1));
    EXPECT_EQ(panels.calls, 0);
    EXPECT_TRUE(scenes.removed.empty());
  }
  // The dialog asked for a parameters file.
  ASSERT_FALSE(prompts.files.empty());
  const win::FileRequest& request = prompts.files.back();
  EXPECT_TRUE(request.open);
  ASSERT_EQ(request.filters.size(), 2u);
  EXPECT_EQ(request.filters[0].description, "Camera Parameters File (*.txt)");
  EXPECT_EQ(request.filters[0].patterns, std::vector<std::string>{"*.txt"});

  prompts.boxes.clear();
  AnswerFile(goodFile);
  ASSERT_TRUE(commands.LoadCameraParameters(1));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(panels.panels[1].text, "F: 700.2500 701.5000\nP: 300.0000 200.0000\nD: -0.1250 0.0000 0.0000 0.0000\n");
  EXPECT_TRUE(store.IsCalibrated(1));
  EXPECT_FALSE(store.IsCalibrated(0));
  EXPECT_EQ(store.GetCalibrationEngine(1)->GetCameraParameters().K[0], 700.25);
  // No stale scene: Show 3D view builds one from the loaded camera, with
  // no views for a camera that never ran.
  EXPECT_EQ(scenes.removed, std::vector<int>{1});
  EXPECT_EQ(scenes.scenes.count(1), 0u);
  ASSERT_TRUE(commands.Show3DView(1));
  EXPECT_EQ(scenes.scenes[1].views, 0);
  EXPECT_TRUE(scenes.scenes[1].images.empty());
  EXPECT_EQ(scenes.scenes[1].camera.Getfx(), 700.25);
  EXPECT_EQ(scenes.scenes[1].camera.GetWidth(), 600);
}

// ---- Calibrate Stereo ----

class StereoCalibrationCommands : public CalibrationCommands {
 protected:
  // [camera 0, camera 1] with the same views of the known rig.
  void Build(const synthetic::Dataset& data) {
    store.AddCamera();
    store.AddCamera();
    SetBoard(store, 0);
    SetBoard(store, 1);
    for (const synthetic::View& v : data.views) {
      AddView(store, 0, v.pointsA);
      AddView(store, 1, v.pointsB);
    }
  }
  void Repoint(const synthetic::Dataset& data) {
    for (int v = 0; v < static_cast<int>(data.views.size()); ++v) {
      SetViewPoints(store, 0, v, data.views[v].pointsA);
      SetViewPoints(store, 1, v, data.views[v].pointsB);
    }
  }
};

TEST_F(StereoCalibrationCommands, AddsTheRigOnceAndReplacesItOnTheNextPress) {
  const synthetic::Dataset data = RigData(6, 0.0);
  Build(data);
  ASSERT_TRUE(commands.CalibrateStereo(0));
  EXPECT_TRUE(Boxes().empty());

  ASSERT_EQ(store.GetEntryCount(), 3);
  ASSERT_EQ(store.GetStereoRigCount(), 1);
  EXPECT_EQ(store.GetStereoPair(0).cameraA, 0);
  EXPECT_EQ(store.GetStereoPair(0).cameraB, 1);
  EXPECT_EQ(columns.calls, std::vector<std::string>{"rig 0 1"});
  EXPECT_TRUE(store.IsCalibrated(2));
  EXPECT_FALSE(store.IsCalibrated(0));

  // The rig's relative pose is the truth; the panel shows it.
  CStereoCamera stored = *store.GetStereoCamera(0);
  const synthetic::Pose truth = synthetic::DefaultRigRelativePose();
  const double* R = stored.GetRelativeRotation();
  const double* T = stored.GetRelativeTranslation();
  EXPECT_LT(Angle(cv::Matx33d(R), truth.R), 1e-4);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(T[k], truth.t[k], 0.01);
  EXPECT_EQ(panels.panels[2].title, "Stereo Rig - Camera 1 & 2");
  char expected[400];
  std::snprintf(expected, sizeof expected,
                "Intrinsic parameters reoptimized!\nR: [%.3lf %.3lf %.3lf]\n   [%.3lf %.3lf %.3lf]\n"
                "   [%.3lf %.3lf %.3lf]\nT: [ %.3lf %.3lf %.3lf ]\n",
                truth.R(0, 0), truth.R(0, 1), truth.R(0, 2), truth.R(1, 0), truth.R(1, 1), truth.R(1, 2),
                truth.R(2, 0), truth.R(2, 1), truth.R(2, 2), truth.t[0], truth.t[1], truth.t[2]);
  EXPECT_EQ(panels.panels[2].text, expected);

  // The scene: camera A's poses with both cameras' images, view by view.
  ASSERT_EQ(scenes.scenes.count(2), 1u);
  const RecordedScene& scene = scenes.scenes[2];
  EXPECT_TRUE(scene.stereo);
  ASSERT_EQ(scene.views, 6);
  ASSERT_EQ(scene.images.size(), 6u);
  ASSERT_EQ(scene.rightImages.size(), 6u);
  for (int v = 0; v < 6; ++v) {
    EXPECT_EQ(scene.images[v], store.GetImage(0, v));
    EXPECT_EQ(scene.rightImages[v], store.GetImage(1, v));
    EXPECT_LT(Angle(cv::Matx33d(&scene.R[9 * v]), data.views[v].poseA.R), 1e-4);
  }
  EXPECT_EQ(scenes.showCalls, 1);

  // A second press on noisier marks: still one rig, new values and scene.
  Repoint(RigData(6, 0.3, 1));
  ASSERT_TRUE(commands.CalibrateStereo(0));
  EXPECT_EQ(store.GetEntryCount(), 3);
  EXPECT_EQ(store.GetStereoRigCount(), 1);
  EXPECT_EQ(columns.calls.size(), 1u);
  CStereoCamera again = *store.GetStereoCamera(0);
  EXPECT_NE(again.GetRelativeTranslation()[0], stored.GetRelativeTranslation()[0]);
  EXPECT_EQ(panels.panels[2].text, StereoRigText(again, true));
  EXPECT_EQ(scenes.addCalls, 2);
  EXPECT_EQ(scenes.scenes.size(), 1u);
  EXPECT_EQ(scenes.scenes[2].rig.GetRelativeTranslation()[0], again.GetRelativeTranslation()[0]);
  EXPECT_EQ(scenes.showCalls, 2);
}

TEST_F(StereoCalibrationCommands, RefusalsAndFailedRunsAddNothing) {
  const synthetic::Dataset data = RigData(6, 0.0);
  const std::string notConstrained = kNotConstrainedStereoMessage;
  struct Case {
    const char* name;
    std::function<void(CalibrationDataStore&)> change;
    int entry;
    std::string message;
  };
  const Case cases[] = {
      {"unequal counts", [&](CalibrationDataStore& s) { AddView(s, 1, data.views[0].pointsB); }, 0,
       "Calibrate Stereo needs the same number of images in Camera 1 and Camera 2!"},
      {"an undetected image", [](CalibrationDataStore& s) { s.SetImageDetected(1, 3, false); }, 0,
       "Calibrate Stereo needs every image marked: image 4 of Camera 2 is not!"},
      {"mixed sizes",
       [&](CalibrationDataStore& s) {
         AddView(s, 0, data.views[0].pointsA, 320, 240);
         AddView(s, 1, data.views[0].pointsB);
       },
       0, "The images of Camera 1 do not all have the same size!"},
      {"the last entry selected", nullptr, 1, notConstrained},
      {"a rig selected", [](CalibrationDataStore& s) { s.AddStereoRig(0, 1); }, 2, notConstrained},
      {"camera 2's board changed", [](CalibrationDataStore& s) { SetBoard(s, 1, 8, 6); }, 0,
       std::string("Calibration of Camera 2 failed: ") +
           CalibrationOutcomeText(CalibrationOutcome::kPointCountMismatch)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CalibrationDataStore s;
    RecordingDataView col;
    RecordingPanels p;
    RecordingScenes sc;
    CCalibrationCommands cmd(s, col, p, sc);
    prompts.boxes.clear();
    s.AddCamera();
    s.AddCamera();
    SetBoard(s, 0);
    SetBoard(s, 1);
    for (const synthetic::View& v : data.views) {
      AddView(s, 0, v.pointsA);
      AddView(s, 1, v.pointsB);
    }
    if (c.change) c.change(s);
    const int entries = s.GetEntryCount(), rigs = s.GetStereoRigCount();

    EXPECT_FALSE(cmd.CalibrateStereo(c.entry));
    EXPECT_EQ(Boxes(), std::vector<std::string>{c.message});
    EXPECT_EQ(s.GetEntryCount(), entries);
    EXPECT_EQ(s.GetStereoRigCount(), rigs);
    EXPECT_TRUE(col.calls.empty());
    EXPECT_EQ(p.calls, 0);
    EXPECT_EQ(sc.addCalls, 0);
    EXPECT_EQ(sc.showCalls, 0);
    for (int entry = 0; entry < s.GetEntryCount(); ++entry) EXPECT_FALSE(s.IsCalibrated(entry)) << entry;
  }
}

TEST_F(StereoCalibrationCommands, AFailedStereoRunLeavesAnExistingRigAlone) {
  // Noisy marks: a refinement stopped after one evaluation cannot converge.
  Build(RigData(6, 0.3, 1));
  const std::string failed =
      std::string("Stereo calibration failed: ") + CalibrationOutcomeText(CalibrationOutcome::kRefinementFailed);

  // No rig yet: none is added.
  commands.SetStereoEvaluationLimitForTesting(1);
  EXPECT_FALSE(commands.CalibrateStereo(0));
  EXPECT_EQ(Boxes(), std::vector<std::string>{failed});
  EXPECT_EQ(store.GetEntryCount(), 2);
  EXPECT_TRUE(columns.calls.empty());
  EXPECT_EQ(panels.calls, 0);
  EXPECT_EQ(scenes.addCalls, 0);
  // The mono runs were committed before the stereo run.
  EXPECT_TRUE(store.GetCalibrationEngine(0)->HoldsCalibratedViews());
  EXPECT_TRUE(store.GetCalibrationEngine(1)->HoldsCalibratedViews());

  // With a rig: its values, panel and scene stay.
  commands.SetStereoEvaluationLimitForTesting(0);
  ASSERT_TRUE(commands.CalibrateStereo(0));
  CStereoCamera kept = *store.GetStereoCamera(0);
  const std::string text = panels.panels[2].text;
  Repoint(RigData(6, 0.3, 2));
  commands.SetStereoEvaluationLimitForTesting(1);
  prompts.boxes.clear();
  EXPECT_FALSE(commands.CalibrateStereo(0));
  EXPECT_EQ(Boxes(), std::vector<std::string>{failed});
  EXPECT_EQ(store.GetEntryCount(), 3);
  CStereoCamera now = *store.GetStereoCamera(0);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(now.GetRelativeTranslation()[k], kept.GetRelativeTranslation()[k]);
  EXPECT_EQ(panels.panels[2].text, text);
  EXPECT_EQ(scenes.addCalls, 1);
  EXPECT_EQ(scenes.showCalls, 1);
}

}  // namespace
