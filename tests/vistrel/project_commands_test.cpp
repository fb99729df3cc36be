// Save project and Open of a project file as the main dialog runs them: the
// scripted save dialog, the columns the data view gets, the panel texts and
// the messages.
#include "project_commands.h"

#include <gtest/gtest.h>

#include "app_core/panel_texts.h"
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
  EXPECT_EQ(prompts_.boxes[0].text, "Cannot open: " + (folder_ / "Camera_0_Image_0.png").string() +
                                        "!\nCannot open: " + (folder_ / "Camera_1_Intrinsic.txt").string() +
                                        "!\nCannot open: " + (folder_ / "StereoCamera_01_Intrinsic_0.txt").string() +
                                        "!");
  EXPECT_EQ(view.texts[1], "Not calibrated.");
  EXPECT_EQ(store.GetImageCount(0), 3);
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
