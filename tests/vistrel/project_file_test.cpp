// Saving a workbench as a project and reading it back: the files, the round
// trip per image format, older projects, skipped files, failed saves and the
// writer's refusals.
#include "calibration/project_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "calibration/calibration_files.h"
#include "calibration/file_set_writer.h"
#include "calibration/project_structure.h"
#include "comma_locale/comma_locale.h"
#include "project_fixture.h"

namespace fs = std::filesystem;

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new quorl_test::GdiplusEnvironment);

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ProjectFile : public testing::Test {
 protected:
  void SetUp() override { folder_ = quorl_test::FreshTestFolder("project_file"); }
  void TearDown() override {
    FailFileStep(0);
    fs::remove_all(folder_);
  }
  fs::path folder_;
};

struct FormatCase {
  const char* extension;
  double tolerance;  // mean absolute pixel difference; 0: exact
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.extension; }

class ProjectRoundTrip : public ProjectFile, public testing::WithParamInterface<FormatCase> {};

TEST_P(ProjectRoundTrip, ReloadsEveryField) {
  CalibrationDataStore saved;
  BuildProjectWorkbench(saved);
  std::string message;
  ASSERT_TRUE(WriteProject(saved, folder_ / "calib.txt", GetParam().extension, &message)) << message;
  EXPECT_TRUE(fs::exists(folder_ / (std::string("Camera_0_Image_3.") + GetParam().extension)));

  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "calib.txt", loaded, &report)) << report.message;
  EXPECT_EQ(report.skipped, std::vector<std::string>{});
  ExpectSameWorkbench(saved, loaded, GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(Formats, ProjectRoundTrip,
                         testing::Values(FormatCase{"bmp", 0}, FormatCase{"png", 0}, FormatCase{"tif", 0},
                                         FormatCase{"gif", 0}, FormatCase{"jpg", 3}),
                         [](const auto& info) { return std::string(info.param.extension); });

// An image file cut short is skipped and reported as one that cannot be
// opened: the project reader and Add images share one loader.
TEST_F(ProjectFile, ImageCutShortIsSkippedAndReported) {
  CalibrationDataStore saved;
  BuildProjectWorkbench(saved);
  std::string message;
  ASSERT_TRUE(WriteProject(saved, folder_ / "calib.txt", "jpg", &message)) << message;
  // The last bytes of its coded data and its end marker lost.
  const fs::path cut = folder_ / "Camera_0_Image_1.jpg";
  fs::resize_file(cut, fs::file_size(cut) - 10);

  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "calib.txt", loaded, &report)) << report.message;
  const bool reported = std::find(report.skipped.begin(), report.skipped.end(), cut.string()) != report.skipped.end();
  EXPECT_TRUE(reported) << SkippedFilesMessage(report);
  ASSERT_EQ(loaded.GetImageCount(0), saved.GetImageCount(0) - 1);
  ExpectSameImage(saved.GetImage(0, 2), loaded.GetImage(0, 1), 3);  // the old image 2 moved up
}

TEST_F(ProjectFile, WritesTheNamedFilesInTheCLocale) {
  quorl_test::CommaLocaleScope comma;  // "%lf" must still write a point
  CalibrationDataStore store;
  BuildProjectWorkbench(store);
  std::string message;
  ASSERT_TRUE(WriteProject(store, folder_ / "calib.txt", "png", &message)) << message;

  EXPECT_EQ(ReadAll(folder_ / "calib.txt"),
            "3\nCamera_0_Data.txt\n4 4 3 25.500000 30.250000 5 6\nCamera_1_Data.txt\n"
            "2 4 3 26.500000 30.250000 5 6\nStereoCamera_01_Data.txt\n");
  EXPECT_EQ(ReadAll(folder_ / "Camera_1_Data.txt"),
            "Camera_1_Intrinsic.txt\nCamera_1_Extrinsic.txt\n1 Camera_1_Image_0.png\n1 Camera_1_Points_0.txt\n"
            "0 Camera_1_Image_1.png\n0 Camera_1_Points_1.txt\n");
  EXPECT_EQ(ReadAll(folder_ / "StereoCamera_01_Data.txt"),
            "StereoCamera_01_Intrinsic_0.txt\nStereoCamera_01_Intrinsic_1.txt\n");
  // Nothing but the project's files, no temporaries.
  EXPECT_EQ(ProjectFolderContents(folder_).size(), 1u + 3u + 2u + (2u + 2u * 4u) + (2u + 2u * 2u));
}

// A camera after a rig is written under its entry index but saved from its
// camera index; two rigs sharing camera 1 keep their own copies of it.
TEST_F(ProjectFile, RigsSharingACameraKeepTheirOwnCameras) {
  CalibrationDataStore saved;
  AddProjectTestCamera(saved, 0, {{1, 1}});
  AddProjectTestCamera(saved, 1, {{1, 1}});
  AddProjectTestRig(saved, 0, 1, 0, 1);
  AddProjectTestCamera(saved, 2, {{1, 0}, {1, 1}});
  AddProjectTestRig(saved, 1, 3, 5, 2);  // camera 1 differs from rig (0, 1)'s copy
  AddProjectTestRig(saved, 0, 3, 0, 2);
  std::string message;
  ASSERT_TRUE(WriteProject(saved, folder_ / "calib.txt", "bmp", &message)) << message;
  EXPECT_TRUE(fs::exists(folder_ / "Camera_3_Image_1.bmp"));
  EXPECT_TRUE(fs::exists(folder_ / "StereoCamera_01_Intrinsic_1.txt"));
  EXPECT_TRUE(fs::exists(folder_ / "StereoCamera_13_Intrinsic_1.txt"));

  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "calib.txt", loaded, &report)) << report.message;
  ExpectSameWorkbench(saved, loaded, 0);
  EXPECT_EQ(loaded.GetStereoPair(1).cameraA, 1);
  EXPECT_EQ(loaded.GetStereoPair(1).cameraB, 3);
  EXPECT_NEAR(loaded.GetStereoCamera(1)->GetCamera(0).Getfx(), ProjectTestParameters(5).K[0], 1e-9);
}

TEST_F(ProjectFile, RigsZeroOneAndOneTwoRoundTrip) {
  CalibrationDataStore saved;
  for (int c = 0; c < 3; ++c) AddProjectTestCamera(saved, c, {{1, 1}});
  AddProjectTestRig(saved, 0, 1, 0, 1);
  AddProjectTestRig(saved, 1, 2, 6, 2);
  std::string message;
  ASSERT_TRUE(WriteProject(saved, folder_ / "calib.txt", "png", &message)) << message;
  EXPECT_NE(ReadAll(folder_ / "StereoCamera_01_Intrinsic_1.txt"), ReadAll(folder_ / "StereoCamera_12_Intrinsic_1.txt"));
  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "calib.txt", loaded, &report)) << report.message;
  ExpectSameWorkbench(saved, loaded, 0);
}

// The old format: CR LF, JPEG, a rig's camera files named by one index, a
// camera with zero intrinsics, extrinsics with fewer views than images and
// an empty extrinsics file.
TEST_F(ProjectFile, LegacyProjectLoads) {
  CalibrationDataStore images;
  AddProjectTestCamera(images, 0, {{1, 1}, {1, 1}, {1, 1}});
  for (int j = 0; j < 3; ++j) {
    const std::string name = "Camera_" + std::to_string(j < 2 ? 0 : 1) + "_Image_" + std::to_string(j < 2 ? j : 0) + ".jpg";
    ASSERT_TRUE(images.SaveImage(0, j, (folder_ / name).c_str(), "jpg"));
  }
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary) << text;
  };
  write("project.txt",
        "3\r\nCamera_0_Data.txt\r\n2 4 3 25.000000 30.000000 5 6\r\nCamera_1_Data.txt\r\n"
        "1 4 3 20.000000 20.000000 3 3\r\nStereoCamera_01_Data.txt\r\n");
  write("Camera_0_Data.txt",
        "Camera_0_Intrinsic.txt\r\nCamera_0_Extrinsic.txt\r\n1 Camera_0_Image_0.jpg\r\n1 Camera_0_Points_0.txt\r\n"
        "0 Camera_0_Image_1.jpg\r\n0 Camera_0_Points_1.txt\r\n");
  write("Camera_1_Data.txt",
        "Camera_1_Intrinsic.txt\r\nCamera_1_Extrinsic.txt\r\n1 Camera_1_Image_0.jpg\r\n1 Camera_1_Points_0.txt\r\n");
  write("StereoCamera_01_Data.txt", "StereoCamera_0_Intrinsic.txt\r\nStereoCamera_1_Intrinsic.txt\r\n");
  const std::string intrinsics0 =
      "500.000000 0.000000 32.000000\r\n0.000000 490.000000 24.000000\r\n0.000000 0.000000 1.000000\r\n"
      "-0.100000 0.010000 0.000000 0.000000\r\n1.000000 0.000000 0.000000\r\n0.000000 1.000000 0.000000\r\n"
      "0.000000 0.000000 1.000000\r\n0.000000 0.000000 0.000000\r\n64 48\r\n";
  write("Camera_0_Intrinsic.txt", intrinsics0);
  write("StereoCamera_0_Intrinsic.txt", intrinsics0);
  std::string zero = intrinsics0;
  zero.replace(0, zero.find(" 0.000000 32"), "0.000000");  // fx = 0: never calibrated
  write("Camera_1_Intrinsic.txt", zero);
  std::string second = intrinsics0;
  second.replace(second.find("0.000000 0.000000 0.000000\r\n64"), 8, "-100.000000");  // Tx
  write("StereoCamera_1_Intrinsic.txt", second);
  // One view for two images; camera 1 never ran.
  write("Camera_0_Extrinsic.txt",
        "0.000000 -1.000000 0.000000\r\n1.000000 0.000000 0.000000\r\n0.000000 0.000000 1.000000\r\n"
        "0.000000 0.000000 1.570796\r\n1.000000 2.000000 300.000000\r\n");
  write("Camera_1_Extrinsic.txt", "");
  std::string points;
  for (int k = 0; k < 12; ++k) points += std::to_string(10 + k) + ".500000 " + std::to_string(20 + k) + ".250000\r\n";
  write("Camera_0_Points_0.txt", points);
  write("Camera_0_Points_1.txt", "");
  write("Camera_1_Points_0.txt", points);

  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "project.txt", loaded, &report)) << report.message;
  EXPECT_EQ(report.skipped, std::vector<std::string>{});
  ASSERT_EQ(loaded.GetEntryCount(), 3);
  EXPECT_TRUE(loaded.IsCalibrated(0));
  EXPECT_FALSE(loaded.IsCalibrated(1));
  EXPECT_TRUE(loaded.IsCalibrated(2));

  EXPECT_DOUBLE_EQ(loaded.GetCameraParameters(0).K[0], 500.0);
  EXPECT_DOUBLE_EQ(loaded.GetCameraParameters(0).K[4], 490.0);
  EXPECT_DOUBLE_EQ(loaded.GetCameraParameters(0).d[0], -0.1);
  EXPECT_EQ(loaded.GetObjectSettings(0).squaresX, 4);
  EXPECT_DOUBLE_EQ(loaded.GetObjectSettings(0).squareSizeY, 30.0);
  EXPECT_EQ(loaded.GetObjectSettings(0).windowY, 6);
  ASSERT_EQ(loaded.GetCalibrationEngine(0)->ViewCount(), 1);
  EXPECT_DOUBLE_EQ(loaded.GetCalibrationEngine(0)->Translations()[2], 300.0);
  EXPECT_EQ(loaded.GetCalibrationEngine(1)->ViewCount(), 0);

  ASSERT_EQ(loaded.GetImageCount(0), 2);
  EXPECT_EQ(loaded.IsImageEnabled(0, 0), 1);
  EXPECT_EQ(loaded.IsImageDetected(0, 0), 1);
  EXPECT_EQ(loaded.IsImageEnabled(0, 1), 0);
  EXPECT_EQ(loaded.IsImageDetected(0, 1), 0);
  ASSERT_EQ(loaded.GetImagePointCount(0, 0), 12);
  EXPECT_DOUBLE_EQ(loaded.GetImagePoint(0, 0, 11).x, 21.5);
  ExpectSameImage(images.GetImage(0, 0), loaded.GetImage(0, 0), 6);
  ASSERT_EQ(loaded.GetImageCount(1), 1);
  EXPECT_EQ(loaded.IsImageDetected(1, 0), 1);

  EXPECT_EQ(loaded.GetStereoPair(0).cameraA, 0);
  EXPECT_EQ(loaded.GetStereoPair(0).cameraB, 1);
  EXPECT_DOUBLE_EQ(loaded.GetStereoCamera(0)->GetCamera(1).GetT()[0], -100.0);
}

// Each of a camera's own files that is missing: the project loads without
// it, with the effect that file had, and every one is reported.
TEST_F(ProjectFile, MissingOwnFilesAreSkippedAndReported) {
  CalibrationDataStore saved;
  BuildProjectWorkbench(saved);
  std::string message;
  ASSERT_TRUE(WriteProject(saved, folder_ / "calib.txt", "png", &message)) << message;
  const std::vector<std::string> removed = {"Camera_0_Extrinsic.txt", "Camera_0_Image_1.png", "Camera_1_Intrinsic.txt",
                                            "Camera_1_Points_0.txt", "StereoCamera_01_Intrinsic_1.txt"};
  for (const std::string& name : removed) ASSERT_TRUE(fs::remove(folder_ / name)) << name;

  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "calib.txt", loaded, &report)) << report.message;
  std::vector<std::string> expected;
  for (const std::string& name : removed) expected.push_back((folder_ / name).string());
  EXPECT_EQ(report.skipped, expected);
  // Camera 0 had no views left to lose (its extrinsics went); camera 1's
  // went with the points of a usable image.
  EXPECT_EQ(report.camerasWithoutViews, std::vector<int>{1});
  EXPECT_EQ(SkippedFilesMessage(report),
            "The project was opened without the files below, and Camera 2 without its views:\nCannot open: " +
                expected[0] + "!\nCannot open: " + expected[1] + "!\nCannot open: " + expected[2] +
                "!\nCannot open: " + expected[3] + "!\nCannot open: " + expected[4] + "!");

  ASSERT_EQ(loaded.GetEntryCount(), 3);
  EXPECT_TRUE(loaded.IsCalibrated(0));
  EXPECT_EQ(loaded.GetCalibrationEngine(0)->ViewCount(), 0);  // extrinsics
  ASSERT_EQ(loaded.GetImageCount(0), 3);                       // image 1 left out with its points
  EXPECT_EQ(loaded.IsImageEnabled(0, 1), 0);                   // the old image 2 moved up
  ExpectSameImage(saved.GetImage(0, 2), loaded.GetImage(0, 1), 0);
  EXPECT_FALSE(loaded.IsCalibrated(1));  // intrinsics
  EXPECT_DOUBLE_EQ(loaded.GetCameraParameters(1).K[0], 0.0);
  ASSERT_EQ(loaded.GetImageCount(1), 2);
  EXPECT_EQ(loaded.IsImageDetected(1, 0), 0);  // points
  EXPECT_EQ(loaded.GetImagePointCount(1, 0), 0);
  EXPECT_EQ(loaded.GetCalibrationEngine(1)->ViewCount(), 0);
  EXPECT_FALSE(loaded.IsCalibrated(2));  // a rig camera file
  EXPECT_EQ(SkippedFilesMessage(ProjectReadReport{}), "");
  // Cameras that lost their views, numbered behind the cameras already there.
  ProjectReadReport several;
  several.skipped = {"a.png", "b.png", "c.png"};
  several.camerasWithoutViews = {0, 2, 3};
  EXPECT_EQ(SkippedFilesMessage(several, 2),
            "The project was opened without the files below, and Cameras 3, 5 and 6 without their views:\n"
            "Cannot open: a.png!\nCannot open: b.png!\nCannot open: c.png!");
}

TEST_F(ProjectFile, BadProjectAddsNothing) {
  std::ofstream(folder_ / "calib.txt", std::ios::binary) << "1\nCamera_0_Data.txt\n0 4 3 25 25 5 5\n";
  CalibrationDataStore staged;
  ProjectReadReport report;
  report.skipped.push_back("stale");
  EXPECT_FALSE(ReadProject(folder_ / "calib.txt", staged, &report));
  EXPECT_EQ(report.message, "Cannot open: " + (folder_ / "Camera_0_Data.txt").string() + "!");
  EXPECT_TRUE(report.skipped.empty());
  EXPECT_EQ(staged.GetEntryCount(), 0);
}

// Every step of a save failing in turn: the earlier project stays byte for
// byte, nothing else is left behind and the message names a file of the
// save; once no step fails the new project is in place.
TEST_F(ProjectFile, FailedSaveLeavesTheEarlierProject) {
  CalibrationDataStore store;
  AddProjectTestCamera(store, 0, {{1, 1}, {0, 0}});
  AddProjectTestCamera(store, 1, {{1, 1}});
  AddProjectTestRig(store, 0, 1, 0, 1);
  std::string message;
  ASSERT_TRUE(WriteProject(store, folder_ / "calib.txt", "png", &message)) << message;
  std::ofstream(folder_ / "notes.txt") << "not the project's\n";
  const auto before = ProjectFolderContents(folder_);

  // The new save differs in parameters, flags and its image count.
  CameraParameters p = store.GetCameraParameters(0);
  p.K[0] = 777.5;
  store.SetCameraParameters(0, p);
  store.EnableImage(0, 1);
  store.AddImage(1, ProjectTestImage(7));

  int n = 1;
  for (; n < 200; ++n) {
    SCOPED_TRACE("failing step " + std::to_string(n));
    FailFileStep(n);
    message.clear();
    const bool saved = WriteProject(store, folder_ / "calib.txt", "png", &message);
    FailFileStep(0);
    if (saved) break;
    EXPECT_EQ(ProjectFolderContents(folder_), before);
    const std::string prefix = "Cannot write: " + folder_.string() + "/";
    ASSERT_EQ(message.compare(0, prefix.size(), prefix), 0) << message;
    const std::string name = message.substr(prefix.size(), message.size() - prefix.size() - 1);
    EXPECT_TRUE(name == "calib.txt" || name.rfind("Camera_", 0) == 0 || name.rfind("StereoCamera_01_", 0) == 0)
        << name;
    EXPECT_EQ(message.back(), '!');
  }
  EXPECT_GT(n, 20);  // every write, close, encode and rename was counted
  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "calib.txt", loaded, &report)) << report.message;
  ExpectSameWorkbench(store, loaded, 0);
  EXPECT_EQ(ReadAll(folder_ / "notes.txt"), "not the project's\n");
}

TEST_F(ProjectFile, WriterRefusesWhatCannotBeLoadedBack) {
  CalibrationDataStore empty;
  std::string message;
  EXPECT_FALSE(WriteProject(empty, folder_ / "calib.txt", "png", &message));
  EXPECT_EQ(message, "There is nothing to save: the workbench has no entries!");

  CalibrationDataStore ten;
  for (int i = 0; i < 10; ++i) ten.AddCamera();
  EXPECT_FALSE(WriteProject(ten, folder_ / "calib.txt", "png", &message));
  EXPECT_EQ(message, "A project holds at most 9 entries; this one has 10!");

  CalibrationDataStore store;
  BuildProjectWorkbench(store);
  for (const char* name : {"Camera_0_Data.txt", "Camera_0_Image_3.png", "StereoCamera_01_Intrinsic_1.txt"}) {
    EXPECT_FALSE(WriteProject(store, folder_ / name, "png", &message));
    EXPECT_EQ(message, std::string(name) + " is the name of a file the project writes!");
  }
  EXPECT_TRUE(fs::is_empty(folder_));

  // Nine entries is the most, and it loads.
  CalibrationDataStore nine;
  for (int i = 0; i < 9; ++i) nine.AddCamera();
  ASSERT_TRUE(WriteProject(nine, folder_ / "calib.txt", "png", &message)) << message;
  CalibrationDataStore loaded;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(folder_ / "calib.txt", loaded, &report)) << report.message;
  EXPECT_EQ(loaded.GetEntryCount(), 9);
  EXPECT_FALSE(loaded.IsCalibrated(0));
}

}  // namespace
