// The live stereo-video scene on the OpenGL back end: a frame handed over on
// a capture thread shows on the frusta once the device thread draws.
#include <opencv2/core/core_c.h>

#include <thread>

#include "d3d/d3dbasescene.h"
#include "d3d/d3dsurgeryscene.h"
#include "d3d_recorder_fixture.h"

namespace {

using namespace d3dfixture;

constexpr int kW = 320, kH = 240;

bool Close(std::uint32_t p, int r, int g, int b, int tolerance = 40) {
  return std::abs(int(p >> 16 & 0xFF) - r) <= tolerance && std::abs(int(p >> 8 & 0xFF) - g) <= tolerance &&
         std::abs(int(p & 0xFF) - b) <= tolerance;
}

// A side-by-side frame: the left half red, the right half green.
IplImage* SideBySide(int width, int height) {
  IplImage* image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      auto* p = reinterpret_cast<unsigned char*>(image->imageData + y * image->widthStep + 3 * x);
      const bool left = x < width / 2;
      p[0] = 0, p[1] = left ? 0 : 255, p[2] = left ? 255 : 0;
    }
  return image;
}

TEST(SurgerySceneGl, AFrameFromACaptureThreadShowsOnBothFrusta) {
  d3d9::ResetAll();
  test::FakeWindowServices windows;
  HWND window = windows.Add(kW, kH);
  D3D::CD3DBaseScene base;
  ASSERT_EQ(base.Init(window), S_OK) << "no EGL device for the GL back end";
  IDirect3DDevice9* device = base.GetDevice();
  const double shifted[3] = {-10, 0, 0};  // the right camera's centre at x = 10
  CStereoCamera rig(MakeCamera(), MakeCamera(kIdentity, shifted));
  D3D::CModelViewerCamera viewer;
  D3DXVECTOR3 eye(5, 0, -25), at(5, 0, 6);
  viewer.SetViewParams(&eye, &at);
  viewer.SetProjParams(D3DX_PI / 4, float(kW) / kH, 1.0f, 2000.0f);
  viewer.SetWindow(kW, kH);
  {
    D3D::CD3DSurgeryScene scene;
    ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, nullptr), S_OK);
    IplImage* frame = SideBySide(200, 80);
    HRESULT fed = E_FAIL;
    std::thread capture([&] { fed = scene.SetVideoTexture(frame); });
    capture.join();
    cvReleaseImage(&frame);
    ASSERT_EQ(fed, S_OK);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f, 0);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->BeginScene();
    device->SetTransform(D3DTS_WORLD, viewer.GetWorldMatrix());
    device->SetTransform(D3DTS_VIEW, viewer.GetViewMatrix());
    device->SetTransform(D3DTS_PROJECTION, viewer.GetProjMatrix());
    scene.DrawScene(device, &viewer);
    device->EndScene();
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK);

    // Each quad's middle: its centre plus the central ray at the frustum's
    // scale of 7, y negated for the scene.
    const D3DVIEWPORT9 vp = viewer.GetViewPort();
    for (int side = 0; side < 2; ++side) {
      const D3DXVECTOR3 centre(side == 0 ? 0.0f : 10.0f, 0, 0);
      const D3DXVECTOR3 middle = Flip(centre + Ray(kIdentity, 50, 40) * 7.0f);
      D3DXVECTOR3 s;
      D3DXVec3Project(&s, &middle, &vp, viewer.GetProjMatrix(), viewer.GetViewMatrix(), viewer.GetWorldMatrix());
      int matching = 0;
      for (int y = int(s.y) - 3; y <= int(s.y) + 3; ++y)
        for (int x = int(s.x) - 3; x <= int(s.x) + 3; ++x)
          matching += side == 0 ? Close(windows.Pixel(window, x, y), 255, 0, 0) : Close(windows.Pixel(window, x, y), 0, 255, 0);
      EXPECT_GE(matching, 40) << (side == 0 ? "left" : "right") << " frustum at (" << s.x << ", " << s.y << ")";
    }
  }
  d3d9::ResetAll();
}

}  // namespace
