// The project file and the data files it names, read from one folder.
#include <string>
#include <vector>

#include "calibration/project_structure.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace {

bool Sound(const std::vector<ProjectEntryFiles>& entries) {
  if (entries.empty() || entries.size() > static_cast<std::size_t>(kMaxProjectEntries)) return false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ProjectEntryFiles& e = entries[i];
    if (!IsBareProjectName(e.dataName)) return false;
    if (e.isRig) {
      const int n = static_cast<int>(i);
      if (e.entryA < 0 || e.entryB < 0 || e.entryA == e.entryB || e.entryA >= n || e.entryB >= n) return false;
      if (entries[e.entryA].isRig || entries[e.entryB].isRig) return false;
      if (!IsBareProjectName(e.firstCamera) || !IsBareProjectName(e.secondCamera)) return false;
    } else {
      const bool noBoard = e.board.squaresX == 0 && e.board.squaresY == 0;
      if (!noBoard && !IsValidBoard(e.board)) return false;
      if (!IsBareProjectName(e.intrinsics) || !IsBareProjectName(e.extrinsics)) return false;
      for (const ProjectImageFiles& image : e.images)
        if (!IsBareProjectName(image.image) || !IsBareProjectName(image.points)) return false;
    }
  }
  return true;
}

}  // namespace

int FuzzProjectFile(const std::uint8_t* data, std::size_t size) {
  const auto path = fuzz::WriteScratchFiles(fuzz::SplitFiles(data, size, "project.txt"));
  std::vector<ProjectEntryFiles> entries(1);  // stale: a refusal must empty it
  std::string message;
  if (ReadProjectStructure(path, entries, &message)) {
    FUZZ_CHECK("project_file", Sound(entries));
  } else {
    FUZZ_CHECK("project_file", entries.empty() && !message.empty());
  }
  return 0;
}
