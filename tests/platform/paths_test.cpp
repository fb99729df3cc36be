#include <gtest/gtest.h>

#include <cstdlib>
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

}  // namespace
