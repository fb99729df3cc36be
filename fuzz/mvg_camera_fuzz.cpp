// MVG::LoadCameras and MVG::LoadMultiCameras: the single-precision camera
// files of the multiple-view geometry functions.
#include <cmath>
#include <cstring>

#include "MVG/mvg_camera.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace {

constexpr int kCapacity = 8;

MVG::Camera Known(float f) {
  MVG::Camera c = MVG::CameraAtOrigin(f, f, 320, 240, 640, 480);
  c.d[0] = -0.1f;
  c.T[2] = 5;
  return c;
}

// A size is a pixel count held as a float: the code that truncates it to an
// int needs it to fit.
bool Loaded(const MVG::Camera& c) {
  const float* fields = reinterpret_cast<const float*>(&c);
  for (std::size_t i = 0; i < sizeof c / sizeof(float); ++i)
    if (!std::isfinite(fields[i])) return false;
  return c.width >= 0 && c.height >= 0 && c.width < 2147483648.0f && c.height < 2147483648.0f;
}

bool Same(const MVG::Camera* a, const MVG::Camera* b, int n) { return std::memcmp(a, b, sizeof *a * n) == 0; }

}  // namespace

int FuzzMvgCameras(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("cameras.txt", data, size);
  MVG::Camera cameras[2] = {Known(500), Known(600)};
  MVG::Camera before[2];
  std::memcpy(before, cameras, sizeof cameras);
  if (MVG::LoadCameras(path.c_str(), cameras)) {
    for (const MVG::Camera& c : cameras) FUZZ_CHECK("mvg_cameras", Loaded(c));
    FUZZ_CHECK("mvg_cameras", cameras[0].R[0] == 1 && cameras[0].R[4] == 1 && cameras[0].R[8] == 1);
    FUZZ_CHECK("mvg_cameras", cameras[1].width == cameras[0].width && cameras[1].height == cameras[0].height);
  } else {
    FUZZ_CHECK("mvg_cameras", Same(cameras, before, 2));
  }
  return 0;
}

int FuzzMvgMultiCameras(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("cameras.txt", data, size);
  // One record past the capacity the reader is given: it must stay untouched.
  MVG::Camera cameras[kCapacity + 1];
  for (int i = 0; i <= kCapacity; ++i) cameras[i] = Known(500.0f + i);
  MVG::Camera before[kCapacity + 1];
  std::memcpy(before, cameras, sizeof cameras);
  if (MVG::LoadMultiCameras(path.c_str(), cameras, kCapacity)) {
    int n = 0;
    while (n < kCapacity && !Same(&cameras[n], &before[n], 1)) ++n;
    for (int i = 0; i < n; ++i) FUZZ_CHECK("mvg_multi_cameras", Loaded(cameras[i]));
  } else {
    FUZZ_CHECK("mvg_multi_cameras", Same(cameras, before, kCapacity));
  }
  FUZZ_CHECK("mvg_multi_cameras", Same(&cameras[kCapacity], &before[kCapacity], 1));
  return 0;
}
