// The live scene's frame copy: SetVideoTexture of a 1440 x 576 frame (the
// copy into the locked texture, under the scene's lock) against
// cv::cvtColor BGR to BGRA into a buffer of the same pitch on one OpenCV
// thread; prints the ratio ours / OpenCV (target: at most 1.5).
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "d3d/d3dsurgeryscene.h"
#include "d3d9/d3d9.h"
#include "d3d9/recorder.h"
#include "win/window_services.h"

namespace {

constexpr int kWidth = 1440, kHeight = 576, kRepeats = 200, kRounds = 5;
using Clock = std::chrono::steady_clock;

class Surface final : public win::WindowServices {
 public:
  bool IsWindow(HWND) override { return true; }
  bool PostMessage(HWND, UINT, WPARAM, LPARAM) override { return true; }
  LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM) override { return 0; }
  bool GetClientSize(HWND, int* w, int* h) override {
    *w = 64;
    *h = 64;
    return true;
  }
  bool WriteClient(HWND, int, int, const std::uint32_t*, int, int, int) override { return true; }
};

template <class F>
double BestMs(F&& f) {
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    for (int i = 0; i < kRepeats; ++i) f(i);
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kRepeats);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const bool recorder = argc > 1 && std::string(argv[1]) == "--recorder";
  d3d9::SelectBackend(recorder ? d3d9::Backend::Recorder : d3d9::Backend::OpenGL);
  Surface surface;
  win::WindowServices* previous = win::SetWindowServices(&surface);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp{};
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.Windowed = TRUE;
  IDirect3DDevice9* device = nullptr;
  if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(0x1), 0x20, &pp, &device))) {
    std::fprintf(stderr, "no device\n");
    return 1;
  }
  const double K[9] = {800, 0, 360, 0, 800, 288, 0, 0, 1}, d[4] = {0, 0, 0, 0}, R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1},
               T[3] = {0, 0, 0}, T2[3] = {-10, 0, 0};
  CStereoCamera rig(CCamera(K, d, R, T, kWidth / 2, kHeight), CCamera(K, d, R, T2, kWidth / 2, kHeight));
  std::vector<IplImage*> frames;
  for (int k = 0; k < 2; ++k) {
    IplImage* f = cvCreateImage(cvSize(kWidth, kHeight), IPL_DEPTH_8U, 3);
    cv::Mat m = cv::cvarrToMat(f);
    cv::randu(m, cv::Scalar::all(0), cv::Scalar::all(255));
    frames.push_back(f);
  }
  double ours = 0, opencv = 0;
  {
    D3D::CD3DSurgeryScene scene;
    scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, frames[0]);
    if (FAILED(scene.SetVideoTexture(frames[1]))) {
      std::fprintf(stderr, "the video texture cannot be locked here\n");
      return 1;
    }
    ours = BestMs([&](int i) { scene.SetVideoTexture(frames[i % 2]); });
  }
  // The floor: locking and unlocking a texture of that size, copying nothing.
  double lockOnly = 0;
  {
    IDirect3DTexture9* texture = nullptr;
    if (SUCCEEDED(device->CreateTexture(kWidth, kHeight, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                        &texture, nullptr))) {
      lockOnly = BestMs([&](int) {
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(texture->LockRect(0, &locked, nullptr, D3DLOCK_NO_DIRTY_UPDATE))) texture->UnlockRect(0);
      });
      texture->Release();
    }
  }
  cv::setNumThreads(1);
  const int pitch = kWidth * 4;
  std::vector<unsigned char> buffer(std::size_t(pitch) * kHeight);
  cv::Mat target(kHeight, kWidth, CV_8UC4, buffer.data(), pitch);
  opencv = BestMs([&](int i) { cv::cvtColor(cv::cvarrToMat(frames[i % 2]), target, cv::COLOR_BGR2BGRA); });
  std::printf("%s back end: SetVideoTexture %.3f ms, cv::cvtColor %.3f ms, ratio ours / OpenCV %.2f (target <= 1.5)\n",
              recorder ? "recording" : "GL", ours, opencv, ours / opencv);
  std::printf("of which locking and unlocking the texture alone: %.3f ms\n", lockOnly);
  for (IplImage*& f : frames) cvReleaseImage(&f);
  device->Release();
  d3d->Release();
  win::SetWindowServices(previous);
  return 0;
}
