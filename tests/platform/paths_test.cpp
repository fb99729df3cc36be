#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "quorl/paths.h"

namespace {

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HOME", "/home/tester", 1);
    setenv("QUORL_DRIVE_C", "/tmp/cdrive", 1);
    unsetenv("QUORL_DRIVE_D");
  }
};

TEST_F(PathsTest, MapsOldFormPaths) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\Main.png", "/tmp/cdrive/Main.png"},
      {"c:\\sub\\a.png", "/tmp/cdrive/sub/a.png"},
      {"d:\\MessageFile.txt", "/home/tester/drive_d/MessageFile.txt"},
      {"C:", "/tmp/cdrive"},
      {"C:relative\\x", "/tmp/cdrive/relative/x"},
      {"\\Graphics\\button.png", "/Graphics/button.png"},
      {"dir\\file.txt", "dir/file.txt"},
      {"/already/native", "/already/native"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(quorl::MapPath(c.in), c.out) << c.in;
}

TEST_F(PathsTest, DriveCDefaultsToHome) {
  unsetenv("QUORL_DRIVE_C");
  EXPECT_EQ(quorl::MapPath("C:\\x.txt"), "/home/tester/x.txt");
  setenv("QUORL_DRIVE_D", "/mnt/d/", 1);
  EXPECT_EQ(quorl::MapPath("D:\\y"), "/mnt/d/y");
}

TEST_F(PathsTest, JoinsFolderAndLiteral) {
  EXPECT_EQ(quorl::JoinPath("/opt/app/", "\\Graphics\\b.png"), "/opt/app/Graphics/b.png");
  EXPECT_EQ(quorl::JoinPath("/opt/app", "\\Graphics\\b.png"), "/opt/app/Graphics/b.png");
  EXPECT_EQ(quorl::JoinPath("/opt/app", "b.png"), "/opt/app/b.png");
  EXPECT_EQ(quorl::JoinPath("", "b.png"), "b.png");
}

TEST_F(PathsTest, ProgramFolderEndsInSlashAndHoldsTheTest) {
  const std::string folder = quorl::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_NE(quorl::OpenFile((folder + "platform_base_test").c_str(), "rb"), nullptr);
}

TEST_F(PathsTest, OpenFileRefusesNull) {
  EXPECT_EQ(quorl::OpenFile(nullptr, "r"), nullptr);
  EXPECT_EQ(quorl::OpenFile("x", nullptr), nullptr);
}

// A reader handed a pipe with no writer would wait forever, and one handed a
// device such as /dev/zero would read without end: reading opens regular
// files only, at once; writing is unchanged.
TEST_F(PathsTest, OpenFileReadsRegularFilesOnly) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("paths_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string pipe = (folder / "pipe").string(), file = (folder / "file.txt").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& path : {pipe, std::string("/dev/zero"), folder.string()})
    for (const char* mode : {"r", "rb"}) EXPECT_EQ(quorl::OpenFile(path.c_str(), mode), nullptr) << path << mode;

  FILE* written = quorl::OpenFile(file.c_str(), "w+");
  ASSERT_NE(written, nullptr);
  std::fputs("12 34\n", written);
  std::fclose(written);
  FILE* read = quorl::OpenFile(file.c_str(), "r");
  ASSERT_NE(read, nullptr);
  int a = 0, b = 0;
  EXPECT_EQ(std::fscanf(read, "%d %d", &a, &b), 2);
  EXPECT_EQ(a + b, 46);
  std::fclose(read);
  EXPECT_TRUE(quorl::IsReadableFile(file));
  EXPECT_FALSE(quorl::IsReadableFile(pipe));
  EXPECT_FALSE(quorl::IsReadableFile(folder.string()));
  std::filesystem::remove_all(folder);
}

}  // namespace
