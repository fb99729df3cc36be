// Headless end to end: a base scene on the GL back end, a model-viewer camera
// driven by window messages, a frame with text presented into the window.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "d3d/d3dbasescene.h"
#include "d3d/d3dcamera.h"
#include "d3d9/recorder.h"
#include "fake_cursor_services.h"
#include "fake_window_services.h"
#include "win/messages.h"

namespace {

struct V {
  float x, y, z;
  D3DCOLOR c;
};

LPARAM Point(int x, int y) { return LPARAM((unsigned(y) & 0xFFFF) << 16 | (unsigned(x) & 0xFFFF)); }

class Scene : public D3D::CD3DBaseScene {
 public:
  // An off-centre quad in the z = 0 plane, seen through the camera.
  HRESULT Render(D3D::CModelViewerCamera& camera, bool text) {
    IDirect3DDevice9* d = m_pd3dDevice;
    if (!vb_) {
      const V quad[4] = {{0.5f, -1, 0, 0xFFFF8000}, {0.5f, 1, 0, 0xFFFF8000}, {2, -1, 0, 0xFFFF8000}, {2, 1, 0, 0xFFFF8000}};
      HRESULT hr = d->CreateVertexBuffer(sizeof quad, D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED,
                                         &vb_, nullptr);
      if (FAILED(hr)) return hr;
      void* p = nullptr;
      vb_->Lock(0, 0, &p, 0);
      std::memcpy(p, quad, sizeof quad);
      vb_->Unlock();
    }
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202020, 1.0f, 0);
    d->BeginScene();
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetTransform(D3DTS_WORLD, camera.GetWorldMatrix());
    d->SetTransform(D3DTS_VIEW, camera.GetViewMatrix());
    d->SetTransform(D3DTS_PROJECTION, camera.GetProjMatrix());
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    d->SetStreamSource(0, vb_, 0, sizeof(V));
    d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    d->SetStreamSource(0, nullptr, 0, 0);
    if (text) m_pFont->DrawTextA(4, 4, 0xFFFFFFFF, "Camera 1");
    d->EndScene();
    return d->Present(nullptr, nullptr, nullptr, nullptr);
  }
  ~Scene() override {
    if (vb_) vb_->Release();
  }

 private:
  IDirect3DVertexBuffer9* vb_ = nullptr;
};

TEST(SceneEndToEnd, DraggingTheViewAndTextChangeThePresentedFrame) {
  d3d9::ResetAll();
  test::FakeWindowServices windows;
  test::FakeCursorServices cursor;
  const int w = 200, h = 150;
  HWND window = windows.Add(w, h);
  cursor.foreground = window;

  Scene scene;
  ASSERT_EQ(scene.Init(window), S_OK);
  D3D::CModelViewerCamera camera;
  D3DXVECTOR3 eye(0, 0, -6), at(0, 0, 0);
  camera.SetViewParams(&eye, &at);
  camera.SetProjParams(D3DX_PI / 4, float(w) / h, 0.1f, 100.0f);
  camera.SetWindow(w, h);
  windows.Get(window).handler = [&](UINT m, WPARAM wp, LPARAM lp) { return camera.HandleMessages(window, m, wp, lp); };

  camera.FrameMove(0);
  ASSERT_EQ(scene.Render(camera, false), S_OK);
  const std::vector<std::uint32_t> plain = windows.Get(window).pixels;
  int orange = 0;
  for (std::uint32_t p : plain) orange += p == 0xFFFF8000u;
  EXPECT_GT(orange, 100);
  // The quad lies right of centre: the left edge of the window is background.
  EXPECT_EQ(windows.Pixel(window, 2, h / 2), 0xFF202020u);

  ASSERT_EQ(scene.Render(camera, true), S_OK);
  const std::vector<std::uint32_t> labelled = windows.Get(window).pixels;
  int changed = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x) changed += labelled[y * w + x] != plain[y * w + x];
  EXPECT_GT(changed, 10);

  // A right drag turns the view about the look-at point.
  SendMessage(window, WM_RBUTTONDOWN, MK_RBUTTON, Point(100, 75));
  for (int x = 100; x <= 160; x += 10) SendMessage(window, WM_MOUSEMOVE, MK_RBUTTON, Point(x, 75));
  SendMessage(window, WM_RBUTTONUP, 0, Point(160, 75));
  camera.FrameMove(0.016f);
  ASSERT_EQ(scene.Render(camera, true), S_OK);
  const std::vector<std::uint32_t> turned = windows.Get(window).pixels;
  int moved = 0;
  for (size_t i = 0; i < turned.size(); ++i) moved += turned[i] != labelled[i];
  EXPECT_GT(moved, 200);
  EXPECT_EQ(windows.Get(window).writes, 3);
  EXPECT_TRUE(d3d9::GetLog().violations.empty());
}

}  // namespace
