// The calibration scene drawn by the OpenGL back end on the software
// rasteriser, read back from the window surface that Present writes.
#include <opencv2/core/core_c.h>

#include "d3d/d3dbasescene.h"
#include "d3d/d3dcalibscene.h"
#include "d3d_recorder_fixture.h"

namespace {

using namespace d3dfixture;
using D3D::CD3DCalibScene;

constexpr int kW = 320, kH = 240;

struct Rgb {
  int r, g, b;
};
Rgb Split(std::uint32_t p) { return {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)}; }
bool Close(std::uint32_t p, Rgb want, int tolerance = 40) {
  const Rgb c = Split(p);
  return std::abs(c.r - want.r) <= tolerance && std::abs(c.g - want.g) <= tolerance &&
         std::abs(c.b - want.b) <= tolerance;
}

// A four-quadrant image: top left red, top right green, bottom left blue,
// bottom right yellow (image rows run down).
IplImage* Quadrants() {
  IplImage* image = cvCreateImage(cvSize(40, 30), IPL_DEPTH_8U, 3);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool right = x >= 20, bottom = y >= 15;
      const unsigned char r = (!right && !bottom) || (right && bottom) ? 255 : 0;
      const unsigned char g = right ? 255 : 0;
      const unsigned char b = (!right && bottom) ? 255 : 0;
      auto* p = reinterpret_cast<unsigned char*>(image->imageData + y * image->widthStep + 3 * x);
      p[0] = b, p[1] = g, p[2] = r;
    }
  return image;
}

IplImage* Solid(unsigned char r, unsigned char g, unsigned char b) {
  IplImage* image = cvCreateImage(cvSize(40, 30), IPL_DEPTH_8U, 3);
  cvSet(image, cvScalar(b, g, r));
  return image;
}

class CalibSceneGl : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::ResetAll();
    window = windows.Add(kW, kH);
    ASSERT_EQ(base.Init(window), S_OK) << "no EGL device for the GL back end";
    device = base.GetDevice();
    // Three views, turned and shifted a little each.
    for (int i = 0; i < 3; ++i) {
      const double a = 0.15 * (i - 1);
      const double r[9] = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
      const double t[3] = {-50.0 + 45 * i, -5.0, 120.0};
      R.insert(R.end(), r, r + 9);
      T.insert(T.end(), t, t + 3);
    }
  }
  void TearDown() override {
    scene.reset();
    for (IplImage*& i : images) cvReleaseImage(&i);
  }

  void Build(int n) {
    scene = std::make_unique<CD3DCalibScene>();
    scene->CreateScene(device, D3DFMT_X8R8G8B8, MakeCamera(), R.data(), T.data(), n, 3, 2, 10.0, images);
  }

  void LookFrom(const D3DXVECTOR3& eye, const D3DXVECTOR3& at) {
    D3DXVECTOR3 e = eye, a = at;
    viewer.SetViewParams(&e, &a);
    viewer.SetProjParams(D3DX_PI / 4, float(kW) / kH, 1.0f, 2000.0f);
    viewer.SetWindow(kW, kH);
  }

  // One frame as the results dialog draws it.
  void Render(bool worldCentred) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f, 0);
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
    device->BeginScene();
    device->SetTransform(D3DTS_WORLD, viewer.GetWorldMatrix());
    device->SetTransform(D3DTS_VIEW, viewer.GetViewMatrix());
    device->SetTransform(D3DTS_PROJECTION, viewer.GetProjMatrix());
    if (worldCentred) scene->DrawWorldCenteredScene(device, &viewer);
    else scene->DrawCameraCenteredScene(device, &viewer);
    device->EndScene();
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK);
  }

  D3DXVECTOR3 Screen(const D3DXVECTOR3& p) {
    const D3DVIEWPORT9 vp = viewer.GetViewPort();
    D3DXVECTOR3 s;
    D3DXVec3Project(&s, &p, &vp, viewer.GetProjMatrix(), viewer.GetViewMatrix(), viewer.GetWorldMatrix());
    return s;
  }

  // How many pixels within `radius` of a scene point have the colour.
  int Around(const D3DXVECTOR3& p, Rgb colour, int radius, int tolerance = 40) {
    const D3DXVECTOR3 s = Screen(p);
    int n = 0;
    for (int y = int(s.y) - radius; y <= int(s.y) + radius; ++y)
      for (int x = int(s.x) - radius; x <= int(s.x) + radius; ++x)
        if (x >= 0 && y >= 0 && x < kW && y < kH) n += Close(windows.Pixel(window, x, y), colour, tolerance);
    return n;
  }

  // The point of view i's image quad at image fraction (fx, fy).
  D3DXVECTOR3 OnQuad(int i, float fx, float fy) {
    const double* Ri = &R[9 * i];
    const D3DXVECTOR3 c = Centre(Ri, &T[3 * i]);
    auto corner = [&](double u, double v) { return Flip(c + Ray(Ri, u, v) * 30.0f); };
    const D3DXVECTOR3 topLeft = corner(0, 0), topRight = corner(kWidth, 0), bottomLeft = corner(0, kHeight);
    return topLeft + (topRight - topLeft) * fx + (bottomLeft - topLeft) * fy;
  }
  D3DXVECTOR3 ViewCentre(int i) { return Flip(Centre(&R[9 * i], &T[3 * i])); }

  test::FakeWindowServices windows;
  HWND window = nullptr;
  D3D::CD3DBaseScene base;
  IDirect3DDevice9* device = nullptr;
  D3D::CModelViewerCamera viewer;
  std::vector<double> R, T;
  std::vector<IplImage*> images;
  std::unique_ptr<CD3DCalibScene> scene;
};

TEST_F(CalibSceneGl, WorldCentredShowsEachFrustumAndItsImage) {
  images = {Solid(255, 0, 0), Solid(0, 255, 0), Solid(255, 0, 255)};
  const Rgb colours[3] = {{255, 0, 0}, {0, 255, 0}, {255, 0, 255}};
  Build(3);
  // From behind and above the cameras, looking at the board.
  LookFrom(D3DXVECTOR3(30, 60, -260), D3DXVECTOR3(0, 0, -60));
  Render(true);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_GT(Around(ViewCentre(i), {0, 0, 255}, 2), 0);
    EXPECT_GT(Around(OnQuad(i, 0.3f, 0.6f), colours[i], 2), 15);
  }
  // Far from the box the background stays white.
  EXPECT_TRUE(Close(windows.Pixel(window, 2, kH - 3), {255, 255, 255}, 0));
}

TEST_F(CalibSceneGl, QuadShowsTheImageUprightAndUnmirrored) {
  images = {Quadrants()};
  Build(1);
  // Behind the view camera, along its axis: the quad fills the middle of the
  // window as the camera saw its image.
  const D3DXVECTOR3 c = ViewCentre(0), axis = Flip(Ray(&R[0], 50, 40));
  LookFrom(c - axis * 40.0f, c + axis * 30.0f);
  Render(true);
  const struct {
    float fx, fy;
    Rgb colour;
  } samples[] = {{0.35f, 0.1f, {255, 0, 0}},
                 {0.9f, 0.3f, {0, 255, 0}},
                 {0.1f, 0.7f, {0, 0, 255}},
                 {0.65f, 0.9f, {255, 255, 0}}};
  for (const auto& s : samples) {
    SCOPED_TRACE(testing::Message() << s.fx << "," << s.fy);
    EXPECT_GT(Around(OnQuad(0, s.fx, s.fy), s.colour, 2), 20);
  }
}

TEST_F(CalibSceneGl, CameraCentredShowsTheChequeredBoards) {
  Build(3);
  LookFrom(D3DXVECTOR3(60, 100, 0), D3DXVECTOR3(0, 0, 125));
  Render(false);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    // The board's middle is where its black and white squares meet.
    const double* Ri = &R[9 * i];
    const double* Ti = &T[3 * i];
    double m[3];
    for (int k = 0; k < 3; ++k) m[k] = Ri[3 * k] * 10 + Ri[3 * k + 1] * 5 + Ti[k];
    const D3DXVECTOR3 middle(float(m[0]), float(-m[1]), float(m[2]));
    EXPECT_GT(Around(middle, {0, 0, 0}, 4, 30), 5);
    EXPECT_GT(Around(middle, {255, 255, 255}, 4, 30), 5);
  }
  EXPECT_TRUE(Close(windows.Pixel(window, 2, 2), {255, 255, 255}, 0));
  EXPECT_TRUE(Close(windows.Pixel(window, kW - 3, kH - 3), {255, 255, 255}, 0));
}

}  // namespace
