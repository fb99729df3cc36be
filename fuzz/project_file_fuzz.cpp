// The project file, its data files and every file they name, read from one
// folder into a staged store the way the workbench opens a project.
#include <opencv2/core/types_c.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "calibration/calibration_data_store.h"
#include "calibration/mono_calibration_engine.h"
#include "calibration/project_file.h"
#include "calibration/project_structure.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace {

bool Finite(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// A loaded project: its entries within bounds, every image a usable 8-bit
// three-channel picture, a detected image holding its board's points, finite
// camera records, and every file it skipped inside its own folder.
bool Sound(const CalibrationDataStore& store, const ProjectReadReport& report, const std::filesystem::path& folder) {
  const int entries = store.GetEntryCount();
  if (entries < 1 || entries > kMaxProjectEntries) return false;
  if (store.GetMonoCameraCount() + store.GetStereoRigCount() != entries) return false;
  for (int c = 0; c < store.GetMonoCameraCount(); ++c) {
    const CameraParameters p = store.GetCameraParameters(c);
    if (!Finite(p.K, 9) || !Finite(p.d, 5) || !Finite(p.R, 9) || !Finite(p.T, 3)) return false;
    const CalibrationObjectSettings board = store.GetObjectSettings(c);
    const bool noBoard = board.squaresX == 0 && board.squaresY == 0;
    if (!noBoard && !IsValidBoard(board)) return false;
    const CMonoCameraCalibrationEngine* engine = store.GetCalibrationEngine(c);
    if (!engine || engine->ViewCount() < 0 || engine->ViewCount() > engine->AllocatedViews()) return false;
    for (int j = 0; j < store.GetImageCount(c); ++j) {
      const IplImage* image = store.GetImage(c, j);
      if (!image || image->width <= 0 || image->height <= 0 || image->nChannels != 3 ||
          image->depth != IPL_DEPTH_8U || image->widthStep < 3 * image->width)
        return false;
      const int points = store.GetImagePointCount(c, j);
      if (store.IsImageDetected(c, j) && points != board.squaresX * board.squaresY) return false;
      for (int k = 0; k < points; ++k) {
        const Point2d q = store.GetImagePoint(c, j, k);
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) return false;
      }
    }
  }
  for (int r = 0; r < store.GetStereoRigCount(); ++r) {
    const StereoPairRecord pair = store.GetStereoPair(r);
    if (pair.cameraA == pair.cameraB || store.GetEntryKind(pair.cameraA) != kMonoCameraEntry ||
        store.GetEntryKind(pair.cameraB) != kMonoCameraEntry || !store.GetStereoCamera(r))
      return false;
  }
  for (const std::string& skipped : report.skipped)
    if (std::filesystem::path(skipped).parent_path() != folder) return false;
  return true;
}

}  // namespace

int FuzzProjectFile(const std::uint8_t* data, std::size_t size) {
  const auto path = fuzz::WriteScratchFiles(fuzz::SplitFiles(data, size, "project.txt"));
  CalibrationDataStore staged;
  ProjectReadReport report;
  if (ReadProject(path, staged, &report)) {
    FUZZ_CHECK("project_file", Sound(staged, report, path.parent_path()));
  } else {
    // A refused project adds nothing and says why.
    FUZZ_CHECK("project_file", staged.GetEntryCount() == 0 && !report.message.empty());
  }
  return 0;
}
