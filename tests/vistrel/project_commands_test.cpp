// Save project and Open of a project file as the main dialog runs them: the
// scripted save dialog, the columns the data view gets, the panel texts and
// the messages.
#include "project_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include "app_core/panel_texts.h"
#include "calib_scene_target.h"
#include "calibration_commands.h"
#include "calibration/project_file.h"
#include "project_fixture.h"
#include "recording_data_view.h"
#include "win/prompts.h"

namespace fs = std::filesystem;

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new quorl_test::GdiplusEnvironment);

using Calls = std::vector<std::string>;

class ProjectCommands : public testing::Test {
 protected:
  void SetUp() override { folder_ = quorl_test::FreshTestFolder("project_commands"); }
  void TearDown() override {
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder_);
  }
  // Saves the test workbench as folder/calib.txt without the dialog.
  void SaveWorkbench(CalibrationDataStore& store) {
    BuildProjectWorkbench(store);
    std::string message;
    ASSERT_TRUE(WriteProject(store, folder_ / "calib.txt", "png", &message)) << message;
  }

  fs::path folder_;
  win::ScriptedPrompts prompts_;
};

TEST_F(ProjectCommands, SavedWorkbenchReloadsWithItsColumnsAndPanelTexts) {
  CalibrationDataStore saved;
  BuildProjectWorkbench(saved);
  // The working directory is elsewhere; the name is typed without ".txt".
  const fs::path elsewhere = folder_ / "elsewhere";
  const fs::path chosen = folder_ / "chosen";
  fs::create_directories(elsewhere);
  fs::create_directories(chosen);
  fs::current_path(elsewhere);
  prompts_.fileAnswers.push_back({true, {(chosen / "calib").string()}});
  ASSERT_TRUE(SaveProject(saved, nullptr, "tif"));

  ASSERT_EQ(prompts_.files.size(), 1u);
  EXPECT_FALSE(prompts_.files[0].open);
  EXPECT_EQ(prompts_.files[0].defaultExt, ".txt");
  EXPECT_EQ(prompts_.files[0].flags, DWORD(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT));
  EXPECT_TRUE(prompts_.boxes.empty());
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(fs::exists(chosen / "calib.txt"));
  EXPECT_TRUE(fs::exists(chosen / "Camera_1_Image_1.tif"));

  CalibrationDataStore loaded;
  RecordingDataView view(loaded);
  ASSERT_TRUE(LoadProject((chosen / "calib.txt").string(), loaded, view, nullptr));
  EXPECT_EQ(view.calls, (Calls{"camera", "camera", "rig 0 1", "refresh 1000"}));
  EXPECT_TRUE(prompts_.boxes.empty());
  ExpectSameWorkbench(saved, loaded, 0);
  const std::vector<std::string> expected = RecordingDataView::PanelTexts(saved);
  EXPECT_EQ(view.texts, expected);
  EXPECT_NE(expected[0], "Not calibrated.");
}

TEST_F(ProjectCommands, CancelledRefusedAndFailedSaves) {
  CalibrationDataStore store;
  BuildProjectWorkbench(store);
  EXPECT_FALSE(SaveProject(store, nullptr, "png"));  // no answer: cancelled
  EXPECT_TRUE(prompts_.boxes.empty());

  const fs::path missing = folder_ / "missing" / "calib.txt";
  prompts_.fileAnswers.push_back({true, {missing.string()}});
  prompts_.fileAnswers.push_back({true, {(folder_ / "Camera_0_Points_2.txt").string()}});
  EXPECT_FALSE(SaveProject(store, nullptr, "png"));
  EXPECT_FALSE(SaveProject(store, nullptr, "png"));
  ASSERT_EQ(prompts_.boxes.size(), 2u);
  EXPECT_EQ(prompts_.boxes[0].text, "Cannot write: " + (folder_ / "missing" / "Camera_0_Data.txt").string() + "!");
  EXPECT_EQ(prompts_.boxes[1].text, "Camera_0_Points_2.txt is the name of a file the project writes!");
  EXPECT_TRUE(fs::is_empty(folder_));
}

// The workbench before a load: [camera with images, camera, rig (0, 1)].
void BuildExisting(CalibrationDataStore& store) {
  AddProjectTestCamera(store, 3, {{1, 1}, {1, 0}});
  AddProjectTestCamera(store, 4, {});
  AddProjectTestRig(store, 0, 1, 3, 4);
}

TEST_F(ProjectCommands, LoadAppendsBehindTheEntriesThere) {
  CalibrationDataStore saved;
  SaveWorkbench(saved);
  CalibrationDataStore store, before;
  BuildExisting(store);
  BuildExisting(before);
  RecordingDataView view(store);
  ASSERT_TRUE(LoadProject((folder_ / "calib.txt").string(), store, view, nullptr));
  EXPECT_EQ(view.calls, (Calls{"camera", "camera", "rig 3 4", "refresh 1000"}));
  ASSERT_EQ(store.GetEntryCount(), 6);
  ExpectSameEntries(before, 0, 3, store, 0, 0);
  ExpectSameEntries(saved, 0, 3, store, 3, 0);
  EXPECT_EQ(store.GetStereoPair(0).cameraA, 0);
  EXPECT_EQ(store.GetStereoPair(1).cameraA, 3);
  EXPECT_EQ(store.GetStereoPair(1).cameraB, 4);
  EXPECT_EQ(view.texts.size(), 6u);
  EXPECT_TRUE(prompts_.boxes.empty());
}

TEST_F(ProjectCommands, SkippedFilesAreListedInOneMessage) {
  CalibrationDataStore saved;
  SaveWorkbench(saved);
  for (const char* name : {"Camera_0_Image_0.png", "Camera_1_Intrinsic.txt", "StereoCamera_01_Intrinsic_0.txt"})
    ASSERT_TRUE(fs::remove(folder_ / name));
  CalibrationDataStore store;
  RecordingDataView view(store);
  ASSERT_TRUE(LoadProject((folder_ / "calib.txt").string(), store, view, nullptr));
  EXPECT_EQ(view.calls, (Calls{"camera", "camera", "rig 0 1", "refresh 1000"}));
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  // Camera 1's views went with the images it had: it lost one.
  EXPECT_EQ(prompts_.boxes[0].text, "The project was opened without the files below, and Camera 1 without its "
                                    "views:\nCannot open: " + (folder_ / "Camera_0_Image_0.png").string() +
                                        "!\nCannot open: " + (folder_ / "Camera_1_Intrinsic.txt").string() +
                                        "!\nCannot open: " + (folder_ / "StereoCamera_01_Intrinsic_0.txt").string() +
                                        "!");
  EXPECT_EQ(view.texts[1], "Not calibrated.");
  EXPECT_EQ(store.GetImageCount(0), 3);

  // Opened again behind the two cameras there, the camera is named as its
  // column is.
  prompts_.boxes.clear();
  ASSERT_TRUE(LoadProject((folder_ / "calib.txt").string(), store, view, nullptr));
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text.substr(0, prompts_.boxes[0].text.find('\n')),
            "The project was opened without the files below, and Camera 3 without its views:");
}

// Show 3D view's scene of an entry: its poses and the images handed with
// them (null where a pose goes untextured).
struct ShownScenes : ICalibSceneTarget {
  struct Scene {
    std::vector<double> R;
    int views = 0;
    std::vector<IplImage*> images;
  };
  void AddScene(int key, CCamera, double* R, double*, int views, int, int, double,
                std::vector<IplImage*>& images) override {
    Scene& s = scenes[key];
    s.R.assign(R, R + 9 * std::max(views, 0));
    s.views = views;
    s.images = images;
  }
  void AddStereoScene(int, CStereoCamera, double*, double*, int, int, int, double, std::vector<IplImage*>&,
                      std::vector<IplImage*>&) override {}
  void RemoveScene(int key) override { scenes.erase(key); }
  int GetShownKey() const override { return -1; }
  void OnEntryInserted(int) override {}
  void OnEntryRemoved(int) override {}
  void ShowResults() override {}
  std::map<int, Scene> scenes;
};

struct NoPanels : IDataViewPanels {
  void SetPanelText(int, const char*, const char*) override {}
};

// The test workbench, with camera 0 given a fifth image, detected after its
// calibration: its two poses belong to images 0 and 1 while three images are
// usable, so a lost usable image would leave two usable images for two poses
// that are not theirs.
void BuildPairingWorkbench(CalibrationDataStore& store) {
  BuildProjectWorkbench(store);
  ASSERT_EQ(store.AddImage(0, ProjectTestImage(4)), 1);
  std::vector<Point2d>& points = *store.GetImagePointList(0, 4);
  for (int k = 0; k < 12; ++k) points.push_back({12.5 + 3.5 * k, 9.25 + 2.5 * (k / 4)});
  store.SetImageDetected(0, 4, true);
}

// The saved images each camera's poses belong to, pose by pose.
const std::vector<int> kPosedImages[2] = {{0, 1}, {0}};

struct MissingFileCase {
  const char* name;
  std::vector<std::string> removed;
  std::string headline;  // the message's first line; empty: no message
  int images[2];         // images each camera loads
  int views[2];          // poses each camera keeps
  bool calibrated[3];    // cameras and rig
  int textured[2];       // poses Show 3D view draws on an image
};

TEST_F(ProjectCommands, MissingFilesLoadWithoutThemAndNoPoseGoesWithAnotherImage) {
  const std::string without = "The project was opened without the files below";
  const MissingFileCase cases[] = {
      {"nothing missing", {}, "", {5, 2}, {2, 1}, {true, true, true}, {0, 1}},
      {"a usable image", {"Camera_0_Image_0.png"}, without + ", and Camera 1 without its views:", {4, 2}, {0, 1},
       {true, true, true}, {0, 1}},
      {"the image detected after the calibration", {"Camera_0_Image_4.png"},
       without + ", and Camera 1 without its views:", {4, 2}, {0, 1}, {true, true, true}, {0, 1}},
      {"a disabled image", {"Camera_0_Image_2.png"}, without + ", and Camera 1 without its views:", {4, 2}, {0, 1},
       {true, true, true}, {0, 1}},
      {"an image of each camera", {"Camera_0_Image_1.png", "Camera_1_Image_0.png"},
       without + ", and Cameras 1 and 2 without their views:", {4, 1}, {0, 0}, {true, true, true}, {0, 0}},
      {"the points of a usable image", {"Camera_0_Points_1.txt"}, without + ", and Camera 1 without its views:",
       {5, 2}, {0, 1}, {true, true, true}, {0, 1}},
      {"the points of a disabled image", {"Camera_0_Points_2.txt"}, without + ":", {5, 2}, {2, 1},
       {true, true, true}, {0, 1}},
      {"intrinsics", {"Camera_1_Intrinsic.txt"}, without + ":", {5, 2}, {2, 1}, {true, false, true}, {0, 0}},
      {"extrinsics", {"Camera_0_Extrinsic.txt"}, without + ":", {5, 2}, {0, 1}, {true, true, true}, {0, 1}},
      {"extrinsics and an image", {"Camera_0_Extrinsic.txt", "Camera_0_Image_0.png"}, without + ":", {4, 2}, {0, 1},
       {true, true, true}, {0, 1}},
      {"a rig camera file", {"StereoCamera_01_Intrinsic_1.txt"}, without + ":", {5, 2}, {2, 1},
       {true, true, false}, {0, 1}},
  };
  for (const MissingFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    prompts_.boxes.clear();
    CalibrationDataStore saved;
    BuildPairingWorkbench(saved);
    std::string message;
    ASSERT_TRUE(WriteProject(saved, folder_ / "calib.txt", "png", &message)) << message;
    for (const std::string& name : c.removed) ASSERT_TRUE(fs::remove(folder_ / name)) << name;

    CalibrationDataStore store;
    RecordingDataView view(store);
    ASSERT_TRUE(LoadProject((folder_ / "calib.txt").string(), store, view, nullptr));
    EXPECT_EQ(view.calls, (Calls{"camera", "camera", "rig 0 1", "refresh 1000"}));
    if (c.headline.empty()) {
      EXPECT_TRUE(prompts_.boxes.empty());
    } else {
      std::string expected = c.headline;
      for (const std::string& name : c.removed) expected += "\nCannot open: " + (folder_ / name).string() + "!";
      ASSERT_EQ(prompts_.boxes.size(), 1u);
      EXPECT_EQ(prompts_.boxes[0].text, expected);
    }
    ASSERT_EQ(store.GetEntryCount(), 3);
    for (int e = 0; e < 3; ++e) EXPECT_EQ(store.IsCalibrated(e), c.calibrated[e]) << "entry " << e;
    EXPECT_EQ(view.texts[2] == "Not calibrated.", !c.calibrated[2]) << view.texts[2];

    ShownScenes scenes;
    NoPanels panels;
    CCalibrationCommands commands(store, view, panels, scenes);
    for (int camera = 0; camera < 2; ++camera) {
      SCOPED_TRACE("camera " + std::to_string(camera));
      EXPECT_EQ(store.GetImageCount(camera), c.images[camera]);
      const CMonoCameraCalibrationEngine& engine = *store.GetCalibrationEngine(camera);
      ASSERT_EQ(engine.ViewCount(), c.views[camera]);
      // The intrinsics do not depend on the images.
      if (c.calibrated[camera])
        ExpectNear(store.GetCameraParameters(camera).K, saved.GetCameraParameters(camera).K, 9, "K");
      if (!commands.Show3DView(camera)) {
        EXPECT_FALSE(c.calibrated[camera]);
        EXPECT_EQ(c.textured[camera], 0);
        continue;
      }
      const ShownScenes::Scene& scene = scenes.scenes[camera];
      ASSERT_EQ(scene.views, c.views[camera]);
      ExpectNear(scene.R.data(), saved.GetCalibrationEngine(camera)->RotationMatrices(), 9 * scene.views, "pose");
      ASSERT_LE(scene.images.size(), static_cast<size_t>(scene.views));
      // A pose is drawn bare or on the image it was found in, never another.
      int textured = 0;
      for (size_t v = 0; v < scene.images.size(); ++v) {
        if (!scene.images[v]) continue;
        SCOPED_TRACE("pose " + std::to_string(v));
        ++textured;
        ExpectSameImage(scene.images[v], saved.GetImage(camera, kPosedImages[camera][v]), 0);
      }
      EXPECT_EQ(textured, c.textured[camera]);
    }
  }
}

// A rig that never ran holds a default stereo camera (K = 0): saved and
// opened again, and saved and opened once more, it stays "Not calibrated.",
// as does a rig whose camera file has fx or fy 0.
TEST_F(ProjectCommands, UncalibratedRigOpensUncalibrated) {
  const struct {
    const char* name;
    std::function<void(CalibrationDataStore&)> rig;
  } cases[] = {
      {"never calibrated", [](CalibrationDataStore& s) { ASSERT_EQ(s.AddStereoRig(0, 1), 1); }},
      {"a stereo camera without the calibrated flag",
       [](CalibrationDataStore& s) {
         ASSERT_EQ(s.AddStereoRig(0, 1), 1);
         s.SetStereoCamera(0, CStereoCamera(ProjectTestCamera(0), ProjectTestCamera(1)));
       }},
      {"fx 0 in the first camera",
       [](CalibrationDataStore& s) {
         CCamera first = ProjectTestCamera(0);
         first.GetK()[0] = 0;
         ASSERT_EQ(s.AddStereoRig(0, 1), 1);
         s.SetStereoCamera(0, CStereoCamera(first, ProjectTestCamera(1)));
         s.SetCalibrated(2);
       }},
      {"fy 0 in the second camera",
       [](CalibrationDataStore& s) {
         CCamera second = ProjectTestCamera(1);
         second.GetK()[4] = 0;
         ASSERT_EQ(s.AddStereoRig(0, 1), 1);
         s.SetStereoCamera(0, CStereoCamera(ProjectTestCamera(0), second));
         s.SetCalibrated(2);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The workbench saved in each round: the built one, then the one the
    // round before opened.
    auto store = std::make_unique<CalibrationDataStore>();
    AddProjectTestCamera(*store, 0, {{1, 1}});
    AddProjectTestCamera(*store, 1, {{1, 1}});
    c.rig(*store);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      fs::remove_all(folder_);
      fs::create_directories(folder_);
      std::string message;
      ASSERT_TRUE(WriteProject(*store, folder_ / "calib.txt", "png", &message)) << message;
      auto loaded = std::make_unique<CalibrationDataStore>();
      RecordingDataView view(*loaded);
      ASSERT_TRUE(LoadProject((folder_ / "calib.txt").string(), *loaded, view, nullptr));
      EXPECT_TRUE(prompts_.boxes.empty()) << "the rig's files are there";
      ASSERT_EQ(loaded->GetEntryKind(2), kStereoRigEntry);
      EXPECT_TRUE(loaded->IsCalibrated(0));
      EXPECT_TRUE(loaded->IsCalibrated(1));
      EXPECT_FALSE(loaded->IsCalibrated(2));
      ASSERT_EQ(view.texts.size(), 3u);
      EXPECT_EQ(view.texts[2], "Not calibrated.");
      store = std::move(loaded);
    }
  }
}

struct BadProjectCase {
  const char* name;
  std::string project;
  std::string data;  // Camera_0_Data.txt; empty: no such file
  bool cannotOpen;   // the message names the missing data file
};

void PrintTo(const BadProjectCase& c, std::ostream* os) { *os << c.name; }

const char* const kData = "Camera_0_Intrinsic.txt\nCamera_0_Extrinsic.txt\n";

std::vector<BadProjectCase> BadProjects() {
  const std::string camera = "Camera_0_Data.txt\n0 4 3 25 25 5 5\n";
  const std::string twoCameras = "Camera_0_Data.txt\n0 4 3 25 25 5 5\nCamera_0_Data.txt\n0 4 3 25 25 5 5\n";
  return {
      {"count_0", "0\n" + camera, kData, false},
      {"count_10", "10\n" + camera, kData, false},
      {"count_negative", "-1\n" + camera, kData, false},
      {"count_text", "abc\n" + camera, kData, false},
      {"empty_file", "", kData, false},
      {"missing_data_file", "1\n" + camera, "", true},
      {"kind_X", "1\nXamera_0_Data.txt\n0 4 3 25 25 5 5\n", kData, false},
      {"long_name", "1\nC" + std::string(5000, 'a') + "\n0 4 3 25 25 5 5\n", kData, false},
      {"slash", "1\nCamera/0_Data.txt\n0 4 3 25 25 5 5\n", kData, false},
      {"dots", "1\nC..amera_0_Data.txt\n0 4 3 25 25 5 5\n", kData, false},
      {"short_camera_line", "1\nCamera_0_Data.txt\n0 4 3 25 25 5\n", kData, false},
      {"invalid_board", "1\nCamera_0_Data.txt\n0 1 3 25 25 5 5\n", kData, false},
      {"too_few_images", "1\nCamera_0_Data.txt\n2 4 3 25 25 5 5\n",
       std::string(kData) + "1 Camera_0_Image_0.png\n1 Camera_0_Points_0.txt\n", false},
      {"flag_2", "1\nCamera_0_Data.txt\n1 4 3 25 25 5 5\n",
       std::string(kData) + "2 Camera_0_Image_0.png\n1 Camera_0_Points_0.txt\n", false},
      {"rig_names_itself", "3\nStereoCamera_00_Data.txt\n" + twoCameras, kData, false},
      {"rig_names_later", "3\nStereoCamera_12_Data.txt\n" + twoCameras, kData, false},
  };
}

class BadProjectLoad : public ProjectCommands, public testing::WithParamInterface<BadProjectCase> {};

TEST_P(BadProjectLoad, ChangesNeitherStoreNorView) {
  const BadProjectCase& c = GetParam();
  std::ofstream(folder_ / "calib.txt", std::ios::binary) << c.project;
  if (!c.data.empty()) std::ofstream(folder_ / "Camera_0_Data.txt", std::ios::binary) << c.data;
  std::ofstream(folder_ / "StereoCamera_00_Data.txt") << "a.txt\nb.txt\n";
  std::ofstream(folder_ / "StereoCamera_12_Data.txt") << "a.txt\nb.txt\n";

  CalibrationDataStore store, before;
  BuildExisting(store);
  BuildExisting(before);
  RecordingDataView view(store);
  EXPECT_FALSE(LoadProject((folder_ / "calib.txt").string(), store, view, nullptr));
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text, c.cannotOpen ? "Cannot open: " + (folder_ / "Camera_0_Data.txt").string() + "!"
                                                 : "This does not appear to be a valid calibration project..!!");
  EXPECT_TRUE(view.calls.empty());
  ASSERT_EQ(store.GetEntryCount(), 3);
  EXPECT_EQ(store.GetMonoCameraCount(), 2);
  EXPECT_EQ(store.GetStereoRigCount(), 1);
  ExpectSameEntries(before, 0, 3, store, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, BadProjectLoad, testing::ValuesIn(BadProjects()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
