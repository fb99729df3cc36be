// Writing a set of files all or nothing.
#include "calibration/file_set_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> FolderContents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    contents[entry.path().filename().string()] = text.str();
  }
  return contents;
}

class FileSetWriter : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("file_set_" + std::to_string(::getpid()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    // An earlier save: two files this one replaces, one it does not name.
    WriteTextFile(folder_ / "Camera_0_Data.txt", "old data\r\n");
    WriteTextFile(folder_ / "project.txt", "old project\n");
    WriteTextFile(folder_ / "Camera_5_Data.txt", "unrelated\n");
    before_ = FolderContents(folder_);
  }
  void TearDown() override {
    FailFileStep(0);
    fs::remove_all(folder_);
  }

  // Data file, a new intrinsics file, then the project file last.
  std::vector<PlannedFile> NewSave() const {
    auto text = [](std::string content) {
      return [content](const fs::path& temporary) { return WriteTextFile(temporary, content); };
    };
    return {{folder_ / "Camera_0_Data.txt", text("new data\n")},
            {folder_ / "Camera_0_Intrinsic.txt", text("1 2 3\n")},
            {folder_ / "project.txt", text("new project\n")}};
  }

  fs::path folder_;
  std::map<std::string, std::string> before_;
};

TEST_F(FileSetWriter, ReplacesNamedFilesAndLeavesOthers) {
  std::string failed;
  ASSERT_TRUE(WriteFileSet(NewSave(), &failed)) << failed;
  const std::map<std::string, std::string> expected = {{"Camera_0_Data.txt", "new data\n"},
                                                       {"Camera_0_Intrinsic.txt", "1 2 3\n"},
                                                       {"project.txt", "new project\n"},
                                                       {"Camera_5_Data.txt", "unrelated\n"}};
  EXPECT_EQ(FolderContents(folder_), expected);  // no temporary or backup left
}

// Steps: three files written (write, close each: 1-6), then renames: the
// data file (aside 7, in place 8), the new intrinsics (in place 9), the
// project (aside 10, in place 11).
TEST_F(FileSetWriter, AnyFailingStepLeavesTheEarlierSaveByteForByte) {
  const char* failingFile[] = {"",  // steps count from 1
                               "Camera_0_Data.txt", "Camera_0_Data.txt", "Camera_0_Intrinsic.txt",
                               "Camera_0_Intrinsic.txt", "project.txt", "project.txt", "Camera_0_Data.txt",
                               "Camera_0_Data.txt", "Camera_0_Intrinsic.txt", "project.txt", "project.txt"};
  for (int n = 1; n <= 11; ++n) {
    SCOPED_TRACE("failing step " + std::to_string(n));
    FailFileStep(n);
    std::string failed;
    EXPECT_FALSE(WriteFileSet(NewSave(), &failed));
    EXPECT_EQ(failed, (folder_ / failingFile[n]).string());
    EXPECT_EQ(FolderContents(folder_), before_);
  }
  FailFileStep(12);  // one past the last step: the save goes through
  std::string failed;
  EXPECT_TRUE(WriteFileSet(NewSave(), &failed)) << failed;
  EXPECT_EQ(FolderContents(folder_).at("project.txt"), "new project\n");
}

TEST_F(FileSetWriter, FailingEncoderAndDuplicateNamesChangeNothing) {
  std::vector<PlannedFile> files = NewSave();
  files.insert(files.begin() + 1, {folder_ / "Camera_0_Image_0.png", [](const fs::path& temporary) {
                                     EXPECT_EQ(temporary.extension(), ".png");  // encoders go by it
                                     WriteTextFile(temporary, "half an image");
                                     return false;
                                   }});
  std::string failed;
  EXPECT_FALSE(WriteFileSet(files, &failed));
  EXPECT_EQ(failed, (folder_ / "Camera_0_Image_0.png").string());
  EXPECT_EQ(FolderContents(folder_), before_);

  files = NewSave();
  files.push_back({folder_ / "." / "Camera_0_Data.txt", files[0].write});
  EXPECT_FALSE(WriteFileSet(files, &failed));
  EXPECT_EQ(failed, (folder_ / "." / "Camera_0_Data.txt").string());
  EXPECT_EQ(FolderContents(folder_), before_);
}

TEST_F(FileSetWriter, UnwritableFolderIsReported) {
  std::string failed;
  const fs::path missing = folder_ / "no_such_folder" / "result.txt";
  EXPECT_FALSE(WriteFileSet({{missing, [](const fs::path& t) { return WriteTextFile(t, "x"); }}}, &failed));
  EXPECT_EQ(failed, missing.string());
  EXPECT_EQ(FolderContents(folder_), before_);
}

}  // namespace
