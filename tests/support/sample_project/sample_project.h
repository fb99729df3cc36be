#pragma once
// The sample project shipped in sample/: what tools/sample_generator wrote
// it from (its default seed), so that tests compare what the workbench
// loads or marks with the truth.
#include "synthetic_board/synthetic_board.h"

namespace sample_project {

constexpr const char* kProjectFile = "sample_project.txt";
constexpr int kViews = 6;
constexpr int kWindow = 5;
// The generator's default: the grid predicted from a view's four outer
// corners alone lands every point within the refinement window.
constexpr std::uint64_t kSeed = 2;

// Cameras A and B of the fixture and its default rig, the 9 x 6 board of
// 25 mm, noise-free.
inline synthetic::Options Options() {
  synthetic::Options options;
  options.views = kViews;
  options.seed = kSeed;
  options.rig = true;
  return options;
}

}  // namespace sample_project
