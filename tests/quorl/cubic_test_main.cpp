// Main of the spline registration tests: the optimiser appends its reports
// to "c:\MessageFile.txt" and "d:\MessageFile.txt", so both drives point at
// a fresh temporary folder, removed afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string pattern = (std::filesystem::temp_directory_path() / "quorl-cubic-XXXXXX").string();
  char* folder = mkdtemp(pattern.data());
  if (!folder) return 2;
  setenv("QUORL_DRIVE_C", folder, 1);
  setenv("QUORL_DRIVE_D", folder, 1);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return result;
}
