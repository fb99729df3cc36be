// Replays every file of each fuzz target's corpus (seeds and past findings)
// through the target's own function, invariant checks included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "calibration/calibration_data_store.h"
#include "calibration/project_file.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace fs = std::filesystem;

namespace {

struct Target {
  const char* name;  // its folder in the corpus
  int (*function)(const std::uint8_t*, std::size_t);
};

const Target kTargets[] = {
    {"camera_file", FuzzCameraFile},
    {"stereo_camera_file", FuzzStereoCameraFile},
    {"mvg_cameras", FuzzMvgCameras},
    {"mvg_multi_cameras", FuzzMvgMultiCameras},
    {"board_file", FuzzBoardFile},
    {"intrinsics_file", FuzzIntrinsicsFile},
    {"view_extrinsics_file", FuzzViewExtrinsicsFile},
    {"image_points_file", FuzzImagePointsFile},
    {"project_file", FuzzProjectFile},
    {"image_file", FuzzImageFile},
    {"graph_file", FuzzGraphFile},
};

// Test names and failure messages show the target's name.
void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

class CorpusReplay : public testing::TestWithParam<Target> {};

TEST_P(CorpusReplay, EveryFileKeepsTheInvariants) {
  const fs::path folder = fs::path(QUORL_FUZZ_CORPUS) / GetParam().name;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  // The writers' seeds at least: an empty folder would pass unseen.
  ASSERT_FALSE(files.empty()) << folder;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A broken invariant aborts the process: the name shows which file did it.
    std::fprintf(stderr, "replaying %s\n", file.c_str());
    EXPECT_EQ(GetParam().function(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(FuzzTargets, CorpusReplay, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

// The seed the project writer made unpacks into a project that reads back
// whole: otherwise the fuzzer would start from a refusal and never reach the
// loading of cameras, images and rigs.
TEST(CorpusSeeds, SavedProjectReadsBackWhole) {
  std::ifstream in(fs::path(QUORL_FUZZ_CORPUS) / "project_file" / "seed_two_cameras_and_rig", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const fs::path project =
      fuzz::WriteScratchFiles(fuzz::SplitFiles(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                               "project.txt"));
  CalibrationDataStore staged;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(project, staged, &report)) << report.message;
  EXPECT_TRUE(report.skipped.empty()) << SkippedFilesMessage(report);
  EXPECT_EQ(staged.GetMonoCameraCount(), 2);
  EXPECT_EQ(staged.GetStereoRigCount(), 1);
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(staged.GetImageCount(c), 1);
    EXPECT_TRUE(staged.IsImageDetected(c, 0));
  }
}

}  // namespace
