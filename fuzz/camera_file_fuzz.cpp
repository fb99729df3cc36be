// CCamera::Load and CStereoCamera::Load: the camera-parameter file, and the
// stereo file naming two of them.
#include <cmath>
#include <vector>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace {

// Every field a load may change, to compare before and after.
std::vector<double> Fields(const CCamera& c) {
  std::vector<double> v(c.GetK(), c.GetK() + 9);
  v.insert(v.end(), c.Getd(), c.Getd() + 5);
  v.insert(v.end(), c.GetR(), c.GetR() + 9);
  v.insert(v.end(), c.GetT(), c.GetT() + 3);
  v.insert(v.end(), c.GetP(), c.GetP() + 12);
  v.push_back(c.GetWidth());
  v.push_back(c.GetHeight());
  v.push_back(c.IsCalibrated());
  return v;
}

// A camera no file in the corpus holds, so a partial load shows.
CCamera Known(double f) {
  const double K[9] = {f, 0, 320, 0, f, 240, 0, 0, 1};
  const double d[4] = {-0.1, 0.01, 0.001, -0.001};
  const double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double T[3] = {1, 2, 3};
  return CCamera(K, d, R, T, 640, 480);
}

bool Loaded(const CCamera& c) {
  for (int i = 0; i < 9; ++i)
    if (!std::isfinite(c.GetK()[i]) || !std::isfinite(c.GetR()[i])) return false;
  for (int i = 0; i < 5; ++i)
    if (!std::isfinite(c.Getd()[i])) return false;
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(c.GetT()[i])) return false;
  return c.IsCalibrated() && c.GetWidth() >= 0 && c.GetHeight() >= 0;
}

}  // namespace

int FuzzCameraFile(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("camera.txt", data, size);
  CCamera camera = Known(777);
  const std::vector<double> before = Fields(camera);
  if (camera.Load(path.c_str())) {
    FUZZ_CHECK("camera_file", Loaded(camera));
    FUZZ_CHECK("camera_file", camera.Getd()[4] == 0.0);  // k3 is not stored: it stays
  } else {
    FUZZ_CHECK("camera_file", Fields(camera) == before);
  }
  return 0;
}

// The stereo file names its camera files as paths; relative ones are found
// from the working folder, so the input's files are read from there.
int FuzzStereoCameraFile(const std::uint8_t* data, std::size_t size) {
  const auto path = fuzz::WriteScratchFiles(fuzz::SplitFiles(data, size, "rig.txt"));
  CStereoCamera rig(Known(701), Known(702));
  const std::vector<double> before[2] = {Fields(rig.GetCamera(0)), Fields(rig.GetCamera(1))};
  const bool loaded = fuzz::InFolder(path.parent_path(), [&] { return rig.Load(path.filename().c_str()); });
  for (int i = 0; i < 2; ++i) {
    // Each camera either loaded in full or is as it was.
    const CCamera c = rig.GetCamera(i);
    if (loaded) FUZZ_CHECK("stereo_camera_file", Loaded(c));
    else FUZZ_CHECK("stereo_camera_file", Fields(c) == before[i] || Loaded(c));
  }
  return 0;
}
