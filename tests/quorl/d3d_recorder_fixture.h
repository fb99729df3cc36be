#pragma once
// A recording device for the builder and calibration-scene tests, with a
// small camera: 100 x 80 pixels, fx = fy = 100, principal point (50, 40),
// no distortion, so viewing rays are K⁻¹(u, v, 1) turned by Rᵀ.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "MVG/camera.h"
#include "MVG/mvg_camera.h"
#include "d3d/d3dbuilders.h"
#include "d3d9/d3dx9mesh.h"
#include "d3d9/recorder.h"
#include "d3d_presentation/d3d_presentation.h"
#include "fake_window_services.h"

namespace d3dfixture {

inline constexpr int kWidth = 100, kHeight = 80;
inline constexpr double kK[9] = {100, 0, 50, 0, 100, 40, 0, 0, 1};
inline constexpr double kNoDistortion[4] = {0, 0, 0, 0};
inline constexpr double kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
inline constexpr double kZero[3] = {0, 0, 0};
// A quarter turn about y, then a tilt about x, and a shift.
inline const double* RotatedR() {
  static double R[9];
  const double a = 0.3, b = std::acos(-1.0) / 2;
  const double Rx[9] = {1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)};
  const double Ry[9] = {std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b)};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      R[3 * i + j] = 0;
      for (int k = 0; k < 3; ++k) R[3 * i + j] += Rx[3 * i + k] * Ry[3 * k + j];
    }
  return R;
}
inline constexpr double kShift[3] = {20, -10, 150};

inline CCamera MakeCamera(const double* R = kIdentity, const double* T = kZero) {
  return CCamera(kK, kNoDistortion, R, T, kWidth, kHeight);
}

inline MVG::Camera MakeMvgCamera(const double* R = kIdentity, const double* T = kZero) {
  MVG::Camera c = MVG::CameraAtOrigin(100, 100, 50, 40, kWidth, kHeight);
  for (int i = 0; i < 9; ++i) c.R[i] = float(R[i]);
  for (int i = 0; i < 3; ++i) c.T[i] = float(T[i]);
  return c;
}

// Centre −RᵀT and the unit ray of a pixel, in the camera model's frame.
inline D3DXVECTOR3 Centre(const double* R, const double* T) {
  D3DXVECTOR3 c;
  for (int j = 0; j < 3; ++j) (&c.x)[j] = float(-(R[j] * T[0] + R[3 + j] * T[1] + R[6 + j] * T[2]));
  return c;
}
inline D3DXVECTOR3 Ray(const double* R, double u, double v) {
  const double n[3] = {(u - 50) / 100, (v - 40) / 100, 1};
  D3DXVECTOR3 r;
  for (int j = 0; j < 3; ++j) (&r.x)[j] = float(R[j] * n[0] + R[3 + j] * n[1] + R[6 + j] * n[2]);
  D3DXVec3Normalize(&r, &r);
  return r;
}
inline D3DXVECTOR3 Flip(const D3DXVECTOR3& v) { return D3DXVECTOR3(v.x, -v.y, v.z); }

inline ::testing::AssertionResult Near(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float tolerance = 1e-3f) {
  const D3DXVECTOR3 d = a - b;
  if (D3DXVec3Length(&d) <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", " << b.y
                                       << ", " << b.z << ")";
}

template <class T, class Buffer>
std::vector<T> Read(Buffer* buffer) {
  std::vector<T> out;
  if (!buffer) return out;
  UINT size = 0;
  if constexpr (std::is_same_v<Buffer, IDirect3DVertexBuffer9>) {
    D3DVERTEXBUFFER_DESC d{};
    buffer->GetDesc(&d);
    size = d.Size;
  } else {
    D3DINDEXBUFFER_DESC d{};
    buffer->GetDesc(&d);
    size = d.Size;
  }
  void* p = nullptr;
  if (FAILED(buffer->Lock(0, 0, &p, 0))) return out;
  out.assign(static_cast<T*>(p), static_cast<T*>(p) + size / sizeof(T));
  buffer->Unlock();
  return out;
}

template <class T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

class RecorderDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::ResetAll();
    d3d9::SelectBackend(d3d9::Backend::Recorder);
    live = d3d9::LiveObjectCount();
    window = windows.Add(200, 100);
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(true);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &device), S_OK);
  }
  void TearDown() override {
    if (device) {
      EXPECT_EQ(device->Release(), 0u);
    }
    if (d3d) d3d->Release();
    EXPECT_EQ(d3d9::LiveObjectCount(), live);
    const auto log = d3d9::GetLog();
    EXPECT_TRUE(log.violations.empty()) << (log.violations.empty() ? std::string() : log.violations.front());
    d3d9::ResetAll();
  }

  std::vector<d3d9::DrawRecord> InScene(const std::function<void()>& f) {
    d3d9::ClearLog();
    device->BeginScene();
    f();
    device->EndScene();
    return d3d9::GetLog().draws;
  }

  test::FakeWindowServices windows;
  HWND window = nullptr;
  int live = 0;
  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
};

}  // namespace d3dfixture
