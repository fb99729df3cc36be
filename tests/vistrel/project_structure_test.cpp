// Reading a saved project's structure: entries, file names and rigs, and
// every way a bad project is refused whole.
#include "calibration/project_structure.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, std::optional<std::string>>;  // nullopt: no such file

// Two cameras and their rig in the old format: CR LF, JPEG images, the rig's
// camera files named by one index.
Files LegacyProject() {
  return {
      {"project.txt",
       "3\r\nCamera_0_Data.txt\r\n2 9 7 25.000000 30.000000 5 6\r\nCamera_1_Data.txt\r\n"
       "1 0 0 0.000000 0.000000 3 3\r\nStereoCamera_01_Data.txt\r\n"},
      {"Camera_0_Data.txt",
       "Camera_0_Intrinsic.txt\r\nCamera_0_Extrinsic.txt\r\n1 Camera_0_Image_0.jpg\r\n1 Camera_0_Points_0.txt\r\n"
       "0 Camera_0_Image_1.jpg\r\n0 Camera_0_Points_1.txt\r\n"},
      {"Camera_1_Data.txt",
       "Camera_1_Intrinsic.txt\r\nCamera_1_Extrinsic.txt\r\n1 Camera_1_Image_0.jpg\r\n0 Camera_1_Points_0.txt\r\n"},
      {"StereoCamera_01_Data.txt", "StereoCamera_0_Intrinsic.txt\r\nStereoCamera_1_Intrinsic.txt\r\n"},
  };
}

class ProjectStructure : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("project_structure_" + std::to_string(::getpid()) + "_" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const Files& files) {
    for (const auto& [name, text] : files) {
      if (text) std::ofstream(folder_ / name, std::ios::binary) << *text;
      else fs::remove(folder_ / name);
    }
  }
  bool Read(std::vector<ProjectEntryFiles>& entries, std::string& message) {
    // Stale entries from an earlier read must not survive a refusal.
    entries.assign(1, ProjectEntryFiles());
    return ReadProjectStructure(folder_ / "project.txt", entries, &message);
  }

  fs::path folder_;
};

TEST_F(ProjectStructure, LegacyProjectReadsWithCrLf) {
  Write(LegacyProject());
  std::vector<ProjectEntryFiles> entries;
  std::string message;
  ASSERT_TRUE(Read(entries, message)) << message;
  ASSERT_EQ(entries.size(), 3u);

  const ProjectEntryFiles& first = entries[0];
  EXPECT_FALSE(first.isRig);
  EXPECT_EQ(first.intrinsics, "Camera_0_Intrinsic.txt");
  EXPECT_EQ(first.extrinsics, "Camera_0_Extrinsic.txt");
  EXPECT_EQ(first.board.squaresX, 9);
  EXPECT_EQ(first.board.squaresY, 7);
  EXPECT_DOUBLE_EQ(first.board.squareSizeX, 25.0);
  EXPECT_DOUBLE_EQ(first.board.squareSizeY, 30.0);
  EXPECT_EQ(first.board.windowX, 5);
  EXPECT_EQ(first.board.windowY, 6);
  ASSERT_EQ(first.images.size(), 2u);
  EXPECT_TRUE(first.images[0].enabled);
  EXPECT_TRUE(first.images[0].detected);
  EXPECT_EQ(first.images[1].image, "Camera_0_Image_1.jpg");
  EXPECT_FALSE(first.images[1].enabled);
  EXPECT_EQ(first.images[1].points, "Camera_0_Points_1.txt");

  EXPECT_EQ(entries[1].board.squaresX, 0);  // no board
  ASSERT_EQ(entries[1].images.size(), 1u);
  EXPECT_FALSE(entries[1].images[0].detected);

  const ProjectEntryFiles& rig = entries[2];
  EXPECT_TRUE(rig.isRig);
  EXPECT_EQ(rig.firstCamera, "StereoCamera_0_Intrinsic.txt");
  EXPECT_EQ(rig.secondCamera, "StereoCamera_1_Intrinsic.txt");
  EXPECT_EQ(rig.entryA, 0);
  EXPECT_EQ(rig.entryB, 1);
}

TEST_F(ProjectStructure, RigDigitsChooseTheirCamerasElseTheTwoBefore) {
  const std::string camera = "Camera_0_Intrinsic.txt Camera_0_Extrinsic.txt\n";
  const std::string rigFiles = "StereoCamera_02_Intrinsic_0.txt\nStereoCamera_02_Intrinsic_2.txt\n";
  const struct {
    const char* rigName;
    int a, b;
  } cases[] = {
      {"StereoCamera_02_Data.txt", 0, 2},  // not the two just before it
      {"StereoCamera_20_Data.txt", 2, 0},
      {"StereoCamera_11_Data.txt", 1, 2},  // one camera twice: the two before
      {"StereoCamera_39_Data.txt", 1, 2},  // itself and past the end
      {"StereoCamera_Data.txt", 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rigName);
    Write({{"project.txt", "4\nC0.txt\n0 0 0 0 0 3 3\nC1.txt\n0 0 0 0 0 3 3\nC2.txt\n0 0 0 0 0 3 3\n" +
                               std::string(c.rigName) + "\n"},
           {"C0.txt", camera},
           {"C1.txt", camera},
           {"C2.txt", camera},
           {c.rigName, rigFiles}});
    std::vector<ProjectEntryFiles> entries;
    std::string message;
    ASSERT_TRUE(Read(entries, message)) << message;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[3].entryA, c.a);
    EXPECT_EQ(entries[3].entryB, c.b);
    fs::remove(folder_ / c.rigName);
  }
}

struct BadCase {
  const char* label;
  Files change;  // applied over the legacy project
  std::string message;  // empty: the invalid-project message; %F the folder
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.label; }

class BadProject : public ProjectStructure, public testing::WithParamInterface<BadCase> {};

TEST_P(BadProject, RefusedWholeWithItsMessage) {
  Files files = LegacyProject();
  for (const auto& [name, text] : GetParam().change) files[name] = text;
  Write(files);
  std::vector<ProjectEntryFiles> entries;
  std::string message;
  EXPECT_FALSE(Read(entries, message));
  EXPECT_TRUE(entries.empty());
  std::string expected = GetParam().message.empty() ? kInvalidProjectMessage : GetParam().message;
  if (const auto at = expected.find("%F"); at != std::string::npos) expected.replace(at, 2, folder_.string());
  EXPECT_EQ(message, expected);
}

std::string WithProject(const std::string& from, const std::string& to) {
  std::string text = *LegacyProject()["project.txt"];
  text.replace(text.find(from), from.size(), to);
  return text;
}

const std::string kTail = "\r\nCamera_0_Data.txt\r\n2 9 7 25.000000 30.000000 5 6\r\n";

const std::vector<BadCase> kBadCases = {
        BadCase{"CountZero", {{"project.txt", "0\r\n"}}, ""},
        BadCase{"CountTen", {{"project.txt", WithProject("3\r\n", "10\r\n")}}, ""},
        BadCase{"CountNegative", {{"project.txt", WithProject("3\r\n", "-1\r\n")}}, ""},
        BadCase{"CountNotANumber", {{"project.txt", "abc\r\n"}}, ""},
        BadCase{"EmptyFile", {{"project.txt", ""}}, ""},
        BadCase{"MissingProject", {{"project.txt", std::nullopt}}, "Cannot open: %F/project.txt!"},
        BadCase{"MissingDataFile", {{"Camera_1_Data.txt", std::nullopt}}, "Cannot open: %F/Camera_1_Data.txt!"},
        BadCase{"KindX", {{"project.txt", WithProject("Camera_1_Data", "Xamera_1_Data")}}, ""},
        BadCase{"NameOf5000", {{"project.txt", WithProject("Camera_1_Data.txt", std::string(5000, 'C'))}}, ""},
        BadCase{"NameWithSlash", {{"project.txt", WithProject("Camera_1_Data.txt", "C/Camera_1_Data.txt")}}, ""},
        BadCase{"NameWithDotDot", {{"project.txt", WithProject("Camera_1_Data.txt", "C..Camera_1_Data.txt")}}, ""},
        // Every name is joined to the project's folder: one reaching outside
        // it, absolute or upwards, in either separator, is refused.
        BadCase{"ImageNameAbsolute", {{"Camera_1_Data.txt", "Camera_1_Intrinsic.txt\r\nCamera_1_Extrinsic.txt\r\n"
                                                            "1 /tmp/Camera_1_Image_0.jpg\r\n0 Camera_1_Points_0.txt\r\n"}},
                ""},
        BadCase{"PointsNameUpwards", {{"Camera_1_Data.txt", "Camera_1_Intrinsic.txt\r\nCamera_1_Extrinsic.txt\r\n"
                                                            "1 Camera_1_Image_0.jpg\r\n0 ..\\Camera_1_Points_0.txt\r\n"}},
                ""},
        BadCase{"IntrinsicsOnADrive", {{"Camera_1_Data.txt", "C:\\Camera_1_Intrinsic.txt\r\nCamera_1_Extrinsic.txt\r\n"
                                                             "1 Camera_1_Image_0.jpg\r\n0 Camera_1_Points_0.txt\r\n"}},
                ""},
        BadCase{"RigCameraUpwards", {{"StereoCamera_01_Data.txt", "../StereoCamera_0_Intrinsic.txt\r\nStereoCamera_1_Intrinsic.txt\r\n"}},
                ""},
        // The engine is sized for a view per image before any is read.
        BadCase{"ImageCountBeyondTheViewBound", {{"project.txt", WithProject("2 9 7 25", "266306 9 7 25")}}, ""},
        BadCase{"ShortCameraLine", {{"project.txt", WithProject("2 9 7 25.000000 30.000000 5 6", "2 9 7")}}, ""},
        BadCase{"InvalidBoard", {{"project.txt", WithProject("2 9 7 25", "2 1 7 25")}}, ""},
        BadCase{"NegativeImageCount", {{"project.txt", WithProject("2 9 7 25", "-2 9 7 25")}}, ""},
        BadCase{"TooFewImageLines", {{"project.txt", WithProject("2 9 7 25", "3 9 7 25")}}, ""},
        BadCase{"FlagTwo", {{"Camera_1_Data.txt", "Camera_1_Intrinsic.txt\r\nCamera_1_Extrinsic.txt\r\n"
                                                  "2 Camera_1_Image_0.jpg\r\n0 Camera_1_Points_0.txt\r\n"}},
                ""},
        BadCase{"RigWithOneName", {{"StereoCamera_01_Data.txt", "StereoCamera_0_Intrinsic.txt\r\n"}}, ""},
        BadCase{"RigFirstNamingItself",
                {{"project.txt", "2\r\nStereoCamera_01_Data.txt" + kTail}, {"StereoCamera_01_Data.txt", "a b\r\n"}},
                ""},
        BadCase{"RigFirstNamingLaterEntries",
                {{"project.txt", "3\r\nStereoCamera_12_Data.txt" + kTail + "Camera_1_Data.txt\r\n1 0 0 0 0 3 3\r\n"},
                 {"StereoCamera_12_Data.txt", "a b\r\n"}},
                ""}};

INSTANTIATE_TEST_SUITE_P(
    Cases, BadProject, testing::ValuesIn(kBadCases),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.label); });

TEST(ProjectNames, BareNamesOnly) {
  EXPECT_TRUE(IsBareProjectName("Camera_0_Image_0.jpg"));
  EXPECT_TRUE(IsBareProjectName(std::string(255, 'a')));
  EXPECT_FALSE(IsBareProjectName(std::string(256, 'a')));
  for (const char* bad : {"", "a/b", "a\\b", "..", "a..b", "a b"}) EXPECT_FALSE(IsBareProjectName(bad)) << bad;
}

// A data file that is a named pipe would block the read until some writer
// came; one that is a folder never reads. Both are files that cannot be read.
TEST_F(ProjectStructure, DataFileThatIsNotARegularFileCannotBeOpened) {
  Write(LegacyProject());
  fs::remove(folder_ / "Camera_1_Data.txt");
  ASSERT_EQ(::mkfifo((folder_ / "Camera_1_Data.txt").c_str(), 0600), 0);
  std::vector<ProjectEntryFiles> entries;
  std::string message;
  EXPECT_FALSE(Read(entries, message));
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(message, "Cannot open: " + (folder_ / "Camera_1_Data.txt").string() + "!");

  fs::remove(folder_ / "Camera_1_Data.txt");
  fs::create_directory(folder_ / "Camera_1_Data.txt");
  EXPECT_FALSE(Read(entries, message));
  EXPECT_EQ(message, "Cannot open: " + (folder_ / "Camera_1_Data.txt").string() + "!");
}

}  // namespace
