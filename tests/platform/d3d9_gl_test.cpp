// The OpenGL back end on the software rasteriser, read back from the
// window surface that Present writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "d3d9/d3d9.h"
#include "d3d9/d3dx9.h"
#include "d3d9/recorder.h"
#include "d3d_presentation/d3d_presentation.h"
#include "fake_window_services.h"

namespace {

struct XyzColour {
  float x, y, z;
  D3DCOLOR c;
};
struct XyzColourTex {
  float x, y, z;
  D3DCOLOR c;
  float u, v;
};
struct Rhw {
  float x, y, z, rhw;
  D3DCOLOR c;
  float u, v;
};

constexpr int kW = 64, kH = 48;

class GlDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::ResetAll();
    window = windows.Add(kW, kH);
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(true);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device), S_OK);
    EXPECT_EQ(pp.BackBufferWidth, UINT(kW));
    EXPECT_EQ(pp.BackBufferHeight, UINT(kH));
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
  }
  void TearDown() override {
    if (device) {
      EXPECT_EQ(device->Release(), 0u);
    }
    if (d3d) {
      EXPECT_EQ(d3d->Release(), 0u);
    }
    const auto log = d3d9::GetLog();
    EXPECT_TRUE(log.violations.empty()) << (log.violations.empty() ? "" : log.violations.front());
  }

  template <class V>
  IDirect3DVertexBuffer9* Buffer(const std::vector<V>& v, DWORD fvf) {
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(UINT(v.size() * sizeof(V)), D3DUSAGE_WRITEONLY, fvf, D3DPOOL_DEFAULT, &vb,
                                         nullptr),
              S_OK);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), S_OK);
    std::memcpy(p, v.data(), v.size() * sizeof(V));
    vb->Unlock();
    return vb;
  }

  template <class V>
  void Draw(const std::vector<V>& v, DWORD fvf, D3DPRIMITIVETYPE type, UINT count) {
    IDirect3DVertexBuffer9* vb = Buffer(v, fvf);
    device->SetFVF(fvf);
    device->SetStreamSource(0, vb, 0, sizeof(V));
    EXPECT_EQ(device->DrawPrimitive(type, 0, count), S_OK);
    device->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
  }

  void Frame(const std::function<void()>& body, D3DCOLOR background = 0xFF000000) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0), S_OK);
    ASSERT_EQ(device->BeginScene(), S_OK);
    body();
    ASSERT_EQ(device->EndScene(), S_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK);
  }

  std::uint32_t At(int x, int y) { return windows.Pixel(window, x, y); }

  test::FakeWindowServices windows;
  HWND window = nullptr;
  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
};

// A quad in the z = 0.5 plane with identity transforms, clockwise on screen.
std::vector<XyzColour> Quad(float x0, float y0, float x1, float y1, float z, D3DCOLOR c) {
  return {{x0, y1, z, c}, {x1, y1, z, c}, {x0, y0, z, c}, {x1, y0, z, c}};
}

TEST_F(GlDevice, SelectArg1WithoutTextureGivesTheVertexColour) {
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  Frame([&] { Draw(Quad(-1, -1, 1, 1, 0.5f, 0xFF336699), D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLESTRIP, 2); });
  EXPECT_EQ(At(kW / 2, kH / 2), 0xFF336699u);
  EXPECT_EQ(At(0, 0), 0xFF336699u);
  EXPECT_EQ(windows.Get(window).writes, 1);
}

TEST_F(GlDevice, LitVerticesWithoutLightsAreBlack) {
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  Frame([&] { Draw(Quad(-1, -1, 1, 1, 0.5f, 0xFFFFFFFF), D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLESTRIP, 2); },
        0xFF808080);
  EXPECT_EQ(At(kW / 2, kH / 2), 0xFF000000u);
}

TEST_F(GlDevice, DepthTestKeepsTheNearerQuadWhateverTheOrder) {
  Frame([&] {
    Draw(Quad(-1, -1, 1, 1, 0.2f, 0xFFFF0000), D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLESTRIP, 2);
    Draw(Quad(-1, -1, 1, 1, 0.7f, 0xFF00FF00), D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLESTRIP, 2);
  });
  EXPECT_EQ(At(kW / 2, kH / 2), 0xFFFF0000u);
}

TEST_F(GlDevice, CounterClockwiseCullingKeepsClockwiseAndDropsCounterClockwise) {
  // Left half clockwise on screen, right half counter-clockwise.
  const std::vector<XyzColour> tris = {
      {-1, 1, 0.5f, 0xFF0000FF}, {0, -1, 0.5f, 0xFF0000FF}, {-1, -1, 0.5f, 0xFF0000FF},
      {0.1f, 1, 0.5f, 0xFFFFFF00}, {0.1f, -1, 0.5f, 0xFFFFFF00}, {1, -1, 0.5f, 0xFFFFFF00}};
  Frame([&] { Draw(tris, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLELIST, 2); });
  EXPECT_EQ(At(4, kH - 4), 0xFF0000FFu);
  EXPECT_EQ(At(kW - 4, kH - 4), 0xFF000000u);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  Frame([&] { Draw(tris, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLELIST, 2); });
  EXPECT_EQ(At(4, kH - 4), 0xFF000000u);
  EXPECT_EQ(At(kW - 4, kH - 4), 0xFFFFFF00u);
}

TEST_F(GlDevice, TopLeftOfTheSceneIsTopLeftOfTheWindow) {
  // NDC y up: the quad in the upper-left quadrant must land in the first rows.
  Frame([&] { Draw(Quad(-1, 0, 0, 1, 0.5f, 0xFFFFFFFF), D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLESTRIP, 2); });
  EXPECT_EQ(At(2, 2), 0xFFFFFFFFu);
  EXPECT_EQ(At(kW - 3, 2), 0xFF000000u);
  EXPECT_EQ(At(2, kH - 3), 0xFF000000u);
}

TEST_F(GlDevice, TransformedRectangleCoversExactlyItsPixels) {
  // Pixel centres at integers: the rectangle [10, 20) x [5, 9) minus 0.5.
  const float l = 9.5f, t = 4.5f, r = 19.5f, b = 8.5f;
  const std::vector<Rhw> quad = {{l, b, 0.5f, 1, 0xFFFFFFFF, 0, 1}, {l, t, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                 {r, b, 0.5f, 1, 0xFFFFFFFF, 1, 1}, {r, t, 0.5f, 1, 0xFFFFFFFF, 1, 0}};
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  Frame([&] { Draw(quad, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, D3DPT_TRIANGLESTRIP, 2); });
  int covered = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 10 && x < 20 && y >= 5 && y < 9;
      EXPECT_EQ(At(x, y) == 0xFFFFFFFFu, inside) << x << "," << y;
      covered += At(x, y) == 0xFFFFFFFFu;
    }
  EXPECT_EQ(covered, 40);
}

TEST_F(GlDevice, X8TextureUnderAlphaTestShowsItsTexels) {
  // Four solid 4 x 4 quadrants, so linear filtering keeps the colours at
  // their centres.
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), S_OK);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), S_OK);
  // The X byte is 0: a texture read as having alpha would fail the test below.
  const std::uint32_t quadrant[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      reinterpret_cast<std::uint32_t*>(static_cast<char*>(lr.pBits) + y * lr.Pitch)[x] = quadrant[(y / 4) * 2 + x / 4];
  tex->UnlockRect(0);
  device->SetTexture(0, tex);
  // The results dialog's preamble.
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHAREF, 16);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
  const std::vector<XyzColourTex> quad = {{-1, -1, 0.5f, 0xFFFFFFFF, 0, 1}, {-1, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                                          {1, -1, 0.5f, 0xFFFFFFFF, 1, 1}, {1, 1, 0.5f, 0xFFFFFFFF, 1, 0}};
  Frame([&] { Draw(quad, D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, D3DPT_TRIANGLESTRIP, 2); }, 0xFF808080);
  EXPECT_EQ(At(kW / 4, kH / 4), 0xFFFF0000u);
  EXPECT_EQ(At(3 * kW / 4, kH / 4), 0xFF00FF00u);
  EXPECT_EQ(At(kW / 4, 3 * kH / 4), 0xFF0000FFu);
  EXPECT_EQ(At(3 * kW / 4, 3 * kH / 4), 0xFFFFFFFFu);
  device->SetTexture(0, nullptr);
  EXPECT_EQ(tex->Release(), 0u);
}

TEST_F(GlDevice, PresentScalesToAClientAreaThatChanged) {
  windows.Resize(window, kW * 2, kH * 2);
  Frame([&] { Draw(Quad(-1, 0, 0, 1, 0.5f, 0xFFFFFFFF), D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPT_TRIANGLESTRIP, 2); });
  EXPECT_EQ(At(4, 4), 0xFFFFFFFFu);
  EXPECT_EQ(At(kW * 2 - 4, 4), 0xFF000000u);
  EXPECT_EQ(At(kW - 4, kH - 4), 0xFFFFFFFFu);
}

TEST(GlBackend, WithoutAContextCreateDeviceFails) {
  d3d9::ResetAll();
  test::FakeWindowServices windows;
  HWND window = windows.Add(8, 8);
  d3d9::GetFaults().noContext = true;
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(false);
  IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(1);
  EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &device), E_FAIL);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(d3d->Release(), 0u);
  d3d9::ResetAll();
}

// A full-window textured quad with the texture's colour selected.
void FillTexture(IDirect3DTexture9* t, std::uint32_t texel, DWORD flags = 0) {
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, flags), S_OK);
  D3DSURFACE_DESC desc{};
  t->GetLevelDesc(0, &desc);
  for (UINT y = 0; y < desc.Height; ++y)
    for (UINT x = 0; x < desc.Width; ++x)
      reinterpret_cast<std::uint32_t*>(static_cast<char*>(lr.pBits) + y * lr.Pitch)[x] = texel;
  ASSERT_EQ(t->UnlockRect(0), S_OK);
}

class GlTexture : public GlDevice {
 protected:
  void DrawTextured(IDirect3DTexture9* t) {
    device->SetTexture(0, t);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const std::vector<XyzColourTex> quad = {{-1, -1, 0.5f, 0xFFFFFFFF, 0, 1}, {-1, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                                            {1, -1, 0.5f, 0xFFFFFFFF, 1, 1}, {1, 1, 0.5f, 0xFFFFFFFF, 1, 0}};
    Frame([&] { Draw(quad, D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, D3DPT_TRIANGLESTRIP, 2); });
    device->SetTexture(0, nullptr);
  }
};

TEST_F(GlTexture, ManagedTextureWaitsForItsDirtyRectAfterANoDirtyUpdateLock) {
  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), S_OK);
  FillTexture(t, 0x00FF0000);
  DrawTextured(t);
  EXPECT_EQ(At(kW / 2, kH / 2), 0xFFFF0000u);
  FillTexture(t, 0x0000FF00, D3DLOCK_NO_DIRTY_UPDATE);
  DrawTextured(t);
  EXPECT_EQ(At(kW / 2, kH / 2), 0xFFFF0000u);
  ASSERT_EQ(t->AddDirtyRect(nullptr), S_OK);
  DrawTextured(t);
  EXPECT_EQ(At(kW / 2, kH / 2), 0xFF00FF00u);
  EXPECT_EQ(t->Release(), 0u);
}

TEST_F(GlTexture, SystemMemoryTextureFilledOnAnotherThreadReachesTheDefaultPool) {
  IDirect3DTexture9* staging = nullptr;
  IDirect3DTexture9* shown = nullptr;
  ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &shown, nullptr), S_OK);
  std::thread([&] {
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &staging, nullptr), S_OK);
    FillTexture(staging, 0xFF0000FF);
  }).join();
  ASSERT_EQ(device->UpdateTexture(staging, shown), S_OK);
  DrawTextured(shown);
  EXPECT_EQ(At(3, 3), 0xFF0000FFu);
  // Released from another thread: the GL name goes on the device's thread.
  std::thread([&] { EXPECT_EQ(shown->Release(), 0u); }).join();
  DrawTextured(nullptr);
  EXPECT_EQ(staging->Release(), 0u);
}

TEST(GlBackend, UsesSurfacelessWithoutADisplay) {
  d3d9::ResetAll();
  test::FakeWindowServices windows;
  HWND window = windows.Add(8, 8);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(false);
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &device), S_OK);
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
    EXPECT_EQ(d3d9::EglPlatformInUse(), "surfaceless");
  }
  device->Release();
  d3d->Release();
}

}  // namespace
