#pragma once
// A fresh, empty folder per test under the system's temporary folder, named
// by tag, process and test, so parallel runs and repeated tests never meet.
// The caller removes it afterwards.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

namespace quorl_test {

inline std::filesystem::path FreshTestFolder(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / (tag + "_" + std::to_string(::getpid()) + "_" + name);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

}  // namespace quorl_test
