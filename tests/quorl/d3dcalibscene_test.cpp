// The calibration scene and its part classes on the recording device.
#include "d3d/d3dcalibscene.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cfloat>
#include <string>
#include <map>
#include <set>
#include <sstream>

#include "d3d_recorder_fixture.h"

namespace {

using namespace d3dfixture;
using D3D::CD3DCalibCamera;
using D3D::CD3DCalibPlane;
using D3D::CD3DCalibScene;
using D3D::CD3DCalibSceneBox;
using D3D::LabelColorTable;
using D3D::LineVertex;

constexpr int kBoardW = 3, kBoardH = 2;
constexpr double kSquare = 10;

// n board poses in front of the camera, each turned a little more.
struct Views {
  std::vector<double> R, T;
  explicit Views(int n) {
    for (int i = 0; i < n; ++i) {
      const double a = 0.1 * (i + 1);
      const double r[9] = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
      R.insert(R.end(), r, r + 9);
      const double t[3] = {-10.0 + 3 * i, -5.0 + i, 120.0 + 10 * i};
      T.insert(T.end(), t, t + 3);
    }
  }
  double* r() { return R.empty() ? nullptr : R.data(); }
  double* t() { return T.empty() ? nullptr : T.data(); }
};

IplImage* SolidImage(unsigned char b, unsigned char g, unsigned char r, int channels = 3) {
  IplImage* image = cvCreateImage(cvSize(40, 30), IPL_DEPTH_8U, channels);
  cvSet(image, cvScalar(b, g, r));
  return image;
}

// A short text per world-space draw: what it draws and with which texture.
std::string Describe(const d3d9::DrawRecord& d, const std::map<const void*, std::string>& names) {
  std::ostringstream s;
  auto it = names.find(d.state.texture0);
  s << d.primitive << "x" << d.primitiveCount << " fvf" << std::hex << d.state.fvf << std::dec << " nv"
    << d.numVertices << " tex:" << (d.state.texture0 ? (it != names.end() ? it->second : "?") : "-")
    << " op" << d.state.stage[0][D3DTSS_COLOROP];
  return s.str();
}
bool ScreenSpace(const d3d9::DrawRecord& d) { return (d.state.fvf & D3DFVF_XYZRHW) != 0; }

class CalibScene : public RecorderDevice {
 protected:
  void SetUp() override {
    RecorderDevice::SetUp();
    font = new D3D::CD3DFont("Verdana", 10, D3D::D3DFONT_BOLD);
    ASSERT_EQ(font->InitDeviceObjects(device), S_OK);
    ASSERT_EQ(font->RestoreDeviceObjects(), S_OK);
    D3DXVECTOR3 eye(150, -150, -250), at(0, 0, 60);
    viewer.SetViewParams(&eye, &at);
    viewer.SetProjParams(D3DX_PI / 4, 2.0f, 1.0f, 2000.0f);
    viewer.SetWindow(200, 100);
  }
  void TearDown() override {
    scene.reset();
    for (IplImage*& i : images) cvReleaseImage(&i);
    for (IplImage*& i : rightImages) cvReleaseImage(&i);
    font->InvalidateDeviceObjects();
    font->DeleteDeviceObjects();
    delete font;
    RecorderDevice::TearDown();
  }

  CD3DCalibScene& Mono(int n, int imageCount, int boardW = kBoardW, int boardH = kBoardH, double square = kSquare) {
    views = Views(n);
    for (int i = 0; i < imageCount; ++i) images.push_back(SolidImage(40 * i, 100, 200));
    scene = std::make_unique<CD3DCalibScene>();
    scene->SetFont(font);
    scene->CreateScene(device, D3DFMT_X8R8G8B8, MakeCamera(), views.r(), views.t(), n, boardW, boardH, square, images);
    return *scene;
  }

  // World-space draws of one frame of the scene, as short texts.
  std::vector<std::string> WorldDraws(bool worldCentred, std::vector<d3d9::DrawRecord>* all = nullptr) {
    const auto draws = InScene([&] {
      if (worldCentred) scene->DrawWorldCenteredScene(device, &viewer);
      else scene->DrawCameraCenteredScene(device, &viewer);
    });
    if (all) *all = draws;
    std::map<const void*, std::string> names{{scene->GetGridTexture(), "grid"}};
    for (std::size_t i = 0; i < scene->GetCameras().size(); ++i)
      if (scene->GetCameras()[i]->GetTexture()) names[scene->GetCameras()[i]->GetTexture()] = "image" + std::to_string(i);
    std::vector<std::string> out;
    for (const auto& d : draws)
      if (!ScreenSpace(d)) out.push_back(Describe(d, names));
    return out;
  }

  D3D::CD3DFont* font = nullptr;
  D3D::CModelViewerCamera viewer;
  Views views{0};
  std::vector<IplImage*> images, rightImages;
  std::unique_ptr<CD3DCalibScene> scene;
};

TEST_F(CalibScene, MonoCompositionByViewCount) {
  struct Case {
    int n, images, textured;
  } cases[] = {{0, 0, 0}, {3, 3, 3}, {9, 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    CD3DCalibScene& s = Mono(c.n, c.images);
    ASSERT_EQ(s.GetCameras().size(), std::size_t(c.n + 1));
    ASSERT_EQ(s.GetPlanes().size(), std::size_t(c.n + 1));
    EXPECT_EQ(s.IsStereo(), 0);
    EXPECT_STREQ(s.GetCameras()[0]->GetLabel(), "");
    EXPECT_STREQ(s.GetPlanes()[0]->GetLabel(), "");
    int textured = 0;
    for (int i = 0; i <= c.n; ++i) {
      EXPECT_EQ(s.GetCameras()[i]->GetLabelColor(), 0xff0000ffu);
      textured += s.GetCameras()[i]->GetTexture() != nullptr;
      if (i > 0) {
        EXPECT_STREQ(s.GetCameras()[i]->GetLabel(), std::to_string(i).c_str());
        EXPECT_STREQ(s.GetPlanes()[i]->GetLabel(), std::to_string(i).c_str());
        // Plane of view i - 1 takes table entry (i - 1) mod 8: plane 9 wraps to 0.
        EXPECT_EQ(s.GetPlanes()[i]->GetLabelColor(), LabelColorTable[(i - 1) % 8]) << i;
      }
    }
    EXPECT_EQ(textured, c.textured);
    EXPECT_FALSE(s.GetCameras()[0]->GetTexture());
    EXPECT_NE(s.GetGridTexture(), nullptr);
    for (IplImage*& i : images) cvReleaseImage(&i);
    images.clear();
  }
}

// The grown union of the parts' boxes.
void ExpectGrownUnion(const CD3DCalibSceneBox& box, D3DXVECTOR3 lo, D3DXVECTOR3 hi) {
  const D3DXVECTOR3 w = (hi - lo) * 0.1f;
  D3DXVECTOR3 min, max;
  box.GetBoundingBox(&min, &max);
  EXPECT_TRUE(Near(min, lo - w, 1e-3f));
  EXPECT_TRUE(Near(max, hi + w, 1e-3f));
  EXPECT_TRUE(Near(box.GetBoxCentre(), (lo + hi) * 0.5f, 1e-3f));
}

TEST_F(CalibScene, BoxesAreTheGrownUnionsOfTheirParts) {
  CD3DCalibScene& s = Mono(3, 3);
  D3DXVECTOR3 lo(1e9f, 1e9f, 1e9f), hi(-1e9f, -1e9f, -1e9f);
  for (CD3DCalibCamera* c : s.GetCameras()) {
    D3DXVECTOR3 a, b;
    c->GetBoundingBox(&a, &b);
    D3DXVec3Minimize(&lo, &lo, &a);
    D3DXVec3Maximize(&hi, &hi, &b);
  }
  ExpectGrownUnion(s.GetBox(0), lo, hi);
  lo = D3DXVECTOR3(1e9f, 1e9f, 1e9f), hi = D3DXVECTOR3(-1e9f, -1e9f, -1e9f);
  for (CD3DCalibPlane* p : s.GetPlanes()) {
    D3DXVECTOR3 a, b;
    p->GetBoundingBox(&a, &b);
    D3DXVec3Minimize(&lo, &lo, &a);
    D3DXVec3Maximize(&hi, &hi, &b);
  }
  ExpectGrownUnion(s.GetBox(1), lo, hi);
  // The origin board alone spans (0, -10, 0)-(20, 0, 0).
  D3DXVECTOR3 a, b;
  s.GetPlanes()[0]->GetBoundingBox(&a, &b);
  EXPECT_TRUE(Near(a, D3DXVECTOR3(0, -10, 0)));
  EXPECT_TRUE(Near(b, D3DXVECTOR3(20, 0, 0)));
  EXPECT_FLOAT_EQ(s.GetSceneRadius(1), s.GetBox(1).GetBoxRadius());
  EXPECT_EQ(s.GetSceneRadius(2), 0.0f);
  EXPECT_EQ(s.GetSceneCentre(-1), D3DXVECTOR3(0, 0, 0));
}

TEST_F(CalibScene, ViewCamerasStandInTheirPoses) {
  CD3DCalibScene& s = Mono(3, 0);
  for (int i = 0; i < 3; ++i) {
    // The label sits a third of the scale (3 squares) behind the view's centre.
    const D3DXVECTOR3 c = Flip(Centre(&views.R[9 * i], &views.T[3 * i]));
    const D3DXVECTOR3 axis = Flip(Ray(&views.R[9 * i], 50, 40));
    EXPECT_TRUE(Near(s.GetCameras()[i + 1]->GetLabelPosition(), c - axis * 10.0f, 1e-2f)) << i;
  }
  EXPECT_TRUE(Near(s.GetCameras()[0]->GetLabelPosition(), D3DXVECTOR3(0, 0, -10), 1e-3f));
}

TEST_F(CalibScene, StereoCompositionAndTheRightCamerasPose) {
  const double Rs[9] = {std::cos(0.2), 0, -std::sin(0.2), 0, 1, 0, std::sin(0.2), 0, std::cos(0.2)};
  const double Ts[3] = {-60, 2, 5};
  CStereoCamera rig(MakeCamera(), MakeCamera(Rs, Ts));
  views = Views(2);
  images = {SolidImage(1, 2, 3), SolidImage(4, 5, 6)};
  rightImages = {SolidImage(7, 8, 9)};
  scene = std::make_unique<CD3DCalibScene>();
  scene->SetFont(font);
  scene->CreateStereoScene(device, D3DFMT_X8R8G8B8, &rig, views.r(), views.t(), 2, kBoardW, kBoardH, kSquare, images,
                           rightImages);
  const auto& cams = scene->GetCameras();
  ASSERT_EQ(cams.size(), 6u);
  EXPECT_EQ(scene->IsStereo(), 1);
  const char* labels[6] = {"Left", "Right", "1", "1", "2", "2"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_STREQ(cams[i]->GetLabel(), labels[i]);
    EXPECT_EQ(cams[i]->GetLabelColor(), LabelColorTable[i % 2]) << i;
  }
  // Left 1, left 2 and right 1 have images; right 2 has none.
  EXPECT_TRUE(cams[2]->GetTexture() && cams[3]->GetTexture() && cams[4]->GetTexture());
  EXPECT_FALSE(cams[5]->GetTexture());
  // The right view camera's centre: −(Rs·R)ᵀ(Rs·T + Ts), y negated; it lies
  // inside its frustum's box, whose other points are 30 away.
  for (int i = 0; i < 2; ++i) {
    double R[9], T[3];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        R[3 * r + c] = 0;
        for (int k = 0; k < 3; ++k) R[3 * r + c] += Rs[3 * r + k] * views.R[9 * i + 3 * k + c];
      }
      T[r] = Ts[r];
      for (int k = 0; k < 3; ++k) T[r] += Rs[3 * r + k] * views.T[3 * i + k];
    }
    const D3DXVECTOR3 expected = Flip(Centre(R, T));
    // The frustum's label sits a third of 30 behind the centre along the axis.
    const D3DXVECTOR3 axis = Flip(Ray(R, 50, 40));
    EXPECT_TRUE(Near(cams[3 + 2 * i]->GetLabelPosition(), expected - axis * 10.0f, 1e-2f)) << i;
  }
  // Box 0 takes in "Right" and the view cameras but not "Left".
  D3DXVECTOR3 lo(1e9f, 1e9f, 1e9f), hi(-1e9f, -1e9f, -1e9f);
  for (int i = 1; i < 6; ++i) {
    D3DXVECTOR3 a, b;
    cams[i]->GetBoundingBox(&a, &b);
    D3DXVec3Minimize(&lo, &lo, &a);
    D3DXVec3Maximize(&hi, &hi, &b);
  }
  ExpectGrownUnion(scene->GetBox(0), lo, hi);
  ASSERT_EQ(scene->GetPlanes().size(), 3u);
}

TEST_F(CalibScene, LoadedParametersWithTheInitialBoard) {
  // No views, a 0 x 0 board of square 0: every plane fails and box 1 is the
  // zero box; the camera still stands (as a point).
  testing::internal::CaptureStderr();
  CD3DCalibScene& s = Mono(0, 0, 0, 0, 0.0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("plane 0"), std::string::npos) << err;
  ASSERT_EQ(s.GetPlanes().size(), 1u);
  EXPECT_FALSE(s.GetPlanes()[0]->IsComplete());
  D3DXVECTOR3 min, max;
  s.GetBox(1).GetBoundingBox(&min, &max);
  EXPECT_EQ(min, D3DXVECTOR3(0, 0, 0));
  EXPECT_EQ(max, D3DXVECTOR3(0, 0, 0));
  EXPECT_EQ(s.GetSceneRadius(1), 0.0f);
  EXPECT_EQ(s.GetGridTexture(), nullptr);
  // Drawing a scene whose board failed draws no board.
  for (const std::string& d : WorldDraws(true)) EXPECT_EQ(d.find("fvf152 nv6"), std::string::npos) << d;
}

TEST_F(CalibScene, FailedViewPlaneKeepsItsPlaceAndStaysOutOfTheBox) {
  // Fail the n-th resource creation for growing n until it hits a view
  // plane while every camera stands.
  views = Views(3);
  bool hit = false;
  for (int failAt = 1; failAt < 200 && !hit; ++failAt) {
    scene = std::make_unique<CD3DCalibScene>();
    d3d9::GetFaults().failCreateAt = failAt;
    testing::internal::CaptureStderr();
    scene->CreateScene(device, D3DFMT_X8R8G8B8, MakeCamera(), views.r(), views.t(), 3, kBoardW, kBoardH, kSquare,
                       images);
    const std::string err = testing::internal::GetCapturedStderr();
    d3d9::GetFaults().failCreateAt = 0;
    bool camerasComplete = true;
    for (CD3DCalibCamera* c : scene->GetCameras()) camerasComplete = camerasComplete && c->IsComplete();
    if (!camerasComplete || !scene->GetBox(0).IsComplete()) continue;
    int broken = -1, brokenCount = 0;
    for (std::size_t i = 1; i < scene->GetPlanes().size(); ++i)
      if (!scene->GetPlanes()[i]->IsComplete()) broken = int(i), ++brokenCount;
    if (brokenCount != 1 || !scene->GetPlanes()[0]->IsComplete()) continue;
    hit = true;
    ASSERT_EQ(scene->GetPlanes().size(), 4u);
    EXPECT_NE(err.find("plane " + std::to_string(broken)), std::string::npos) << err;
    D3DXVECTOR3 lo(1e9f, 1e9f, 1e9f), hi(-1e9f, -1e9f, -1e9f);
    for (CD3DCalibPlane* p : scene->GetPlanes()) {
      if (!p->IsComplete()) continue;
      D3DXVECTOR3 a, b;
      p->GetBoundingBox(&a, &b);
      D3DXVec3Minimize(&lo, &lo, &a);
      D3DXVec3Maximize(&hi, &hi, &b);
    }
    ExpectGrownUnion(scene->GetBox(1), lo, hi);
    // It draws nothing: one board fewer in the camera-centred frame.
    int boards = 0;
    for (const std::string& d : WorldDraws(false)) boards += d.rfind("4x4 fvf152", 0) == 0;
    EXPECT_EQ(boards, 2);
  }
  EXPECT_TRUE(hit);
  d3d9::ClearLog();
}

using SceneBox = RecorderDevice;

TEST_F(SceneBox, EdgesGridAndTicksForEveryCorner) {

  {
    CD3DCalibSceneBox box(device, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(40, 20, 80));
    ASSERT_TRUE(box.IsComplete());
    const D3DXVECTOR3* c = box.GetCorners();
    const auto boxIdx = Read<WORD>(box.GetBoxIndices());
    ASSERT_EQ(boxIdx.size(), 312u);
    const auto gridIdx = Read<WORD>(box.GetGridIndices());
    ASSERT_EQ(gridIdx.size(), 480u);
    const auto grid = Read<LineVertex>(box.GetGridVertices());
    ASSERT_EQ(grid.size(), 60u);
    int covered = 0;
    std::vector<int> order(8);
    for (int k = 0; k < 8; ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](int a, int b) { return box.GetGridStart(a) < box.GetGridStart(b); });
    for (int k : order) {
      SCOPED_TRACE(k);
      std::set<std::pair<int, int>> edges;
      for (int e = 0; e < 9; ++e) {
        const int a = boxIdx[24 + 18 * k + 2 * e], b = boxIdx[24 + 18 * k + 2 * e + 1];
        EXPECT_NE(a, k);
        EXPECT_NE(b, k);
        // A real edge: the corners differ in one coordinate.
        const D3DXVECTOR3 d = c[a] - c[b];
        EXPECT_EQ((d.x != 0) + (d.y != 0) + (d.z != 0), 1);
        edges.insert({std::min(a, b), std::max(a, b)});
      }
      EXPECT_EQ(edges.size(), 9u);
      // Every grid line lies on a face that does not hold the corner.
      EXPECT_EQ(box.GetGridStart(k), covered);
      for (int i = 0; i < 2 * box.GetGridCount(k); i += 2) {
        const LineVertex& a = grid[gridIdx[box.GetGridStart(k) + i]];
        const LineVertex& b = grid[gridIdx[box.GetGridStart(k) + i + 1]];
        bool onFarFace = false;
        for (int axis = 0; axis < 3; ++axis) {
          const float va = (&a.x)[axis], vb = (&b.x)[axis], corner = (&c[k].x)[axis];
          const float other = corner == (&c[0].x)[axis] ? (&c[6].x)[axis] : (&c[0].x)[axis];
          onFarFace = onFarFace || (va == other && vb == other);
        }
        EXPECT_TRUE(onFarFace) << i;
        EXPECT_EQ(a.colour, 0xffc0c0c0u);
      }
      covered += 2 * box.GetGridCount(k);
    }
    EXPECT_EQ(covered, 480);
    // 60 tick labels: value along their axis ("%.0f", y negated), pushed off
    // the box across it.
    const auto* ticks = box.GetTickLabels();
    const float extent[3] = {40, 20, 80};
    for (int a = 0, n = 0; a < 3; ++a)
      for (int e = 0; e < 4; ++e)
        for (int j = 0; j < 5; ++j, ++n) {
          const float value = (&ticks[n].position.x)[a];
          EXPECT_FLOAT_EQ(value, float(j) * extent[a] / 4) << n;
          char text[32];
          std::snprintf(text, sizeof text, "%.0f", a == 1 ? -value : value);
          EXPECT_STREQ(ticks[n].text, text) << n;
        }
    // Spot checks: x tick 1 of edge 0 reads "10" and sits 0.3 x 5 (the
    // smallest spacing) off the box along -z.
    EXPECT_STREQ(ticks[1].text, "10");
    EXPECT_TRUE(Near(ticks[1].position, D3DXVECTOR3(10, 0, -1.5f)));
    // y tick 2 of edge 0 reads "-10" (y negated) and moves along -x.
    EXPECT_STREQ(ticks[20 + 2].text, "-10");
    EXPECT_TRUE(Near(ticks[20 + 2].position, D3DXVECTOR3(-1.5f, 10, 0)));
    EXPECT_STREQ(ticks[40 + 4].text, "80");

    // The nearest corner, lower index on a tie.
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    for (int k = 0; k < 8; ++k) {
      const D3DXVECTOR3 eye = c[k] + (c[k] - box.GetBoxCentre());
      EXPECT_EQ(box.CullPlanes(&world, &eye), k);
    }
    const D3DXVECTOR3 middle = (c[0] + c[1]) * 0.5f;  // as near to 0 as to 1
    EXPECT_EQ(box.CullPlanes(&world, &middle), 0);
  }
}

struct LabelBox {
  float left, top, right, bottom;
};

// The screen boxes of the 15 tick labels of one frame of a box (x, y and z
// in turn, five each), from the glyphs drawn.
std::vector<LabelBox> DrawnTickLabels(const std::vector<d3d9::DrawRecord>& draws) {
  std::vector<LabelBox> labels;
  for (const auto& d : draws) {
    if (!ScreenSpace(d)) continue;
    LabelBox b{1e9f, 1e9f, -1e9f, -1e9f};
    for (const auto& v : d.vertices)
      b = {std::min(b.left, v.x), std::min(b.top, v.y), std::max(b.right, v.x), std::max(b.bottom, v.y)};
    labels.push_back(b);
  }
  return labels;
}

// The space between two boxes: the larger of the horizontal and the
// vertical gap (negative when they overlap).
float Gap(const LabelBox& a, const LabelBox& b) {
  const float gx = std::max(a.left - b.right, b.left - a.right);
  const float gy = std::max(a.top - b.bottom, b.top - a.bottom);
  return std::max(gx, gy);
}

// The end labels of two axes stand off the same corner of the box. Drawn,
// labels of different axes must keep well apart (two numbers a pixel or
// two apart read as one), from every corner, from all round, and in the 3D
// dialog's first view of a real calibration's boards (seen once with
// "-195" right over "156" and "236" right beside "-48").
TEST_F(SceneBox, TickLabelsOfDifferentAxesStandApart) {
  struct Case {
    const char* name;
    D3DXVECTOR3 min, max;
    int width, height;
  };
  const Case cases[] = {
      {"small box", {0, 0, 0}, {40, 20, 80}, 400, 300},
      {"boards of a calibrated camera", {-195.2718f, -155.6685f, -48.0929f}, {235.9338f, 115.1881f, 529.0218f}, 448, 376},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CD3DCalibSceneBox box(device, c.min, c.max);
    ASSERT_TRUE(box.IsComplete());
    const D3DXVECTOR3* corner = box.GetCorners();
    const D3DXVECTOR3 centre = box.GetBoxCentre();
    const float radius = box.GetBoxRadius();
    struct View {
      std::string name;
      D3D::CModelViewerCamera camera;
    };
    std::vector<View> views;
    auto look = [&](std::string name, D3DXVECTOR3 eye, D3DXVECTOR3 at) {
      views.push_back({std::move(name), {}});
      D3D::CModelViewerCamera& v = views.back().camera;
      v.SetViewParams(&eye, &at);
      v.SetProjParams(D3DX_PI / 4, float(c.width) / float(c.height), 1.0f, 20000.0f);
      v.SetWindow(c.width, c.height);
    };
    for (int k = 0; k < 8; ++k) look("corner " + std::to_string(k), corner[k] + (corner[k] - centre) * 1.5f, centre);
    for (int az = 0; az < 360; az += 20)
      for (int el = -60; el <= 60; el += 30) {
        const float a = float(az) * D3DX_PI / 180, e = float(el) * D3DX_PI / 180;
        const D3DXVECTOR3 dir(std::cos(e) * std::cos(a), std::sin(e), std::cos(e) * std::sin(a));
        look("from " + std::to_string(az) + "/" + std::to_string(el), centre + dir * (3.0f * radius), centre);
      }
    // The 3D dialog's first view of the boards, as it sets it up.
    {
      views.push_back({"the dialog's view", {}});
      D3D::CModelViewerCamera& v = views.back().camera;
      D3DXVECTOR3 eye(100, 100, -100), at(0, 0, 0);
      v.SetWindow(c.width, c.height, 0.9f);
      v.Reset();
      v.SetAttachCameraToModel(true);
      v.SetEnablePositionMovement(true);
      v.SetViewParams(&eye, &at);
      v.SetProjParams(D3DX_PI / 4, float(c.width) / float(c.height), radius / 10, radius * 10);
      v.SetModelCenter(centre);
      v.SetRadius(4 * radius, 1.0f, FLT_MAX);
      v.FrameMove(1.0f);
    }
    int moved = 0;
    for (View& view : views) {
      SCOPED_TRACE(view.name);
      const int k = box.CullPlanes(view.camera.GetWorldMatrix(), view.camera.GetEyePt());
      const auto labels = DrawnTickLabels(InScene([&] { box.DrawBoundingBox(device, &view.camera); }));
      ASSERT_EQ(labels.size(), 15u);
      float height = 0;
      for (const LabelBox& b : labels) height = std::max(height, b.bottom - b.top);
      ASSERT_GT(height, 4.0f);
      // Where the box is seen at all, every label of another axis keeps half
      // a label's height off (the old layout left two pixels).
      bool onScreen = true;
      for (const LabelBox& b : labels)
        onScreen = onScreen && b.left > 0 && b.top > 0 && b.right < c.width && b.bottom < c.height;
      if (onScreen)
        for (int i = 0; i < 15; ++i)
          for (int j = i + 1; j < 15; ++j)
            if (i / 5 != j / 5) {
              EXPECT_GE(Gap(labels[i], labels[j]), height / 2) << "label " << i << " and label " << j;
            }
      // A label whose place was clear stays centred on its tick; the first
      // axis never moves.
      const auto* ticks = box.GetTickLabels();
      const D3DVIEWPORT9 vp = view.camera.GetViewPort();
      for (int a = 0, first = 0; a < 3; first += 20, ++a)
        for (int j = 0; j < 5; ++j) {
          const D3DXVECTOR3 p = ticks[first + D3D::TickEdgeTable[k][a] * 5 + j].position;
          D3DXVECTOR3 s;
          D3DXVec3Project(&s, &p, &vp, view.camera.GetProjMatrix(), view.camera.GetViewMatrix(),
                          view.camera.GetWorldMatrix());
          const LabelBox& b = labels[5 * a + j];
          const bool centred =
              std::fabs((b.left + b.right) / 2 - s.x) < 2.5f && std::fabs((b.top + b.bottom) / 2 - s.y) < 2.5f;
          if (a == 0) {
            EXPECT_TRUE(centred) << "the first axis never moves: " << j;
          }
          moved += !centred;
        }
    }
    EXPECT_GT(moved, 0) << "some corner labels had to move";
  }
}

// Where one label goes, given those drawn before it (rectangles of 20 x 10
// pixels, y down).
TEST(TickLabelLayout, PlacesALabelClearOfTheOthers) {
  using D3D::PlacedTick;
  auto at = [](int left, int top) { return RECT{left, top, left + 20, top + 10}; };
  struct Case {
    const char* name;
    RECT centred;
    int axis;
    float pushX, pushY;
    std::vector<PlacedTick> placed;
    RECT expected;
  };
  const Case cases[] = {
      {"nothing near: stays", at(100, 100), 1, 1, 0, {{at(100, 130), 0, false}}, at(100, 100)},
      // Straight right until a label's height (10) lies between them.
      {"meets another axis: moves on in its push direction", at(110, 100), 1, 1, 0, {{at(100, 100), 0, false}},
       at(130, 100)},
      {"two pixels from another axis is too near", at(122, 100), 1, 1, 0, {{at(100, 100), 0, false}}, at(130, 100)},
      {"pushed straight at the eye: moves down", at(100, 105), 2, 0, 0, {{at(100, 100), 0, false}}, at(100, 120)},
      // The push direction (right) is closed by a label of its own axis; the
      // nearest clear place lies turned off it.
      {"keeps off its own axis when it moves", at(110, 100), 1, 1, 0,
       {{at(100, 100), 0, false}, {at(130, 100), 1, false}, {at(160, 100), 1, false}}, RECT{}},
      // Labels of one axis seen end-on meet where they stand: left there.
      {"its own axis where it stands: stays", at(105, 102), 1, 1, 0, {{at(100, 100), 1, false}}, at(105, 102)},
      {"a label of its own axis that moved is avoided", at(105, 102), 1, 0, 1, {{at(100, 100), 1, true}},
       at(105, 120)},
      {"no clear place within reach: stays", at(100, 100), 2, 1, 0,
       [&] {
         std::vector<PlacedTick> wall;
         for (int x = -100; x <= 300; x += 20)
           for (int y = -100; y <= 300; y += 10) wall.push_back({at(x, y), 0, false});
         return wall;
       }(),
       at(100, 100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RECT r = D3D::PlaceTickLabel(c.centred, c.axis, c.pushX, c.pushY, c.placed);
    EXPECT_EQ(r.right - r.left, 20);
    EXPECT_EQ(r.bottom - r.top, 10);
    if (c.expected.right == 0) {
      // Moved, apart from every label.
      EXPECT_FALSE(r.left == c.centred.left && r.top == c.centred.top);
      for (const PlacedTick& p : c.placed) EXPECT_TRUE(D3D::TickLabelsApart(r, p.rect));
      EXPECT_LT(std::abs(r.left - c.centred.left) + std::abs(r.top - c.centred.top), 40);
    } else {
      EXPECT_EQ(r.left, c.expected.left);
      EXPECT_EQ(r.top, c.expected.top);
    }
  }
}

TEST_F(CalibScene, WorldCentredFrameDrawsBoardCamerasBoxAndAxes) {
  Mono(3, 3);
  std::vector<d3d9::DrawRecord> all;
  const auto draws = WorldDraws(true, &all);
  const std::vector<std::string> expected = {
      "4x4 fvf152 nv6 tex:grid op2",    "2x4 fvf42 nv4 tex:- op4",
      "5x2 fvf142 nv0 tex:image1 op2", "2x4 fvf42 nv5 tex:- op4",
      "5x2 fvf142 nv0 tex:image2 op2", "2x4 fvf42 nv5 tex:- op4",
      "5x2 fvf142 nv0 tex:image3 op2", "2x4 fvf42 nv5 tex:- op4",
      "2x30 fvf42 nv60 tex:- op4",      "2x9 fvf152 nv8 tex:- op4"};
  EXPECT_EQ(draws, expected);
  // Each view camera's label is drawn (screen space) right after its frustum,
  // starting at the label's projected position.
  const D3DVIEWPORT9 vp = viewer.GetViewPort();
  int camera = 1, worldSeen = 0;
  for (std::size_t i = 0; i < all.size() && camera <= 3; ++i) {
    if (!ScreenSpace(all[i])) {
      ++worldSeen;
      continue;
    }
    if (worldSeen != 2 + 2 * camera) continue;
    D3DXVECTOR3 p, label = scene->GetCameras()[camera]->GetLabelPosition();
    D3DXVec3Project(&p, &label, &vp, viewer.GetProjMatrix(), viewer.GetViewMatrix(), viewer.GetWorldMatrix());
    ASSERT_FALSE(all[i].vertices.empty());
    float minX = 1e9f, minY = 1e9f;
    for (const auto& v : all[i].vertices) minX = std::min(minX, v.x), minY = std::min(minY, v.y);
    // The font starts its first glyph its own spacing before the point.
    EXPECT_NEAR(minX, p.x, float(font->GetSpacing()) + 1.5f) << camera;
    EXPECT_NEAR(minY, p.y, 1.5f) << camera;
    ++camera;
  }
  EXPECT_EQ(camera, 4);
}

TEST_F(CalibScene, CameraCentredFrameDrawsTheCameraAndOneBoardPerView) {
  Mono(2, 2);
  const std::vector<std::string> expected = {
      "5x2 fvf142 nv0 tex:- op2",    "2x4 fvf42 nv5 tex:- op4",   "4x4 fvf152 nv6 tex:grid op2",
      "2x4 fvf42 nv4 tex:- op4",     "4x4 fvf152 nv6 tex:grid op2", "2x4 fvf42 nv4 tex:- op4",
      "2x30 fvf42 nv60 tex:- op4", "2x9 fvf152 nv8 tex:- op4"};
  EXPECT_EQ(WorldDraws(false), expected);
}

TEST_F(CalibScene, LaterFramesRepeatTheFirst) {
  Mono(3, 2);
  for (bool worldCentred : {true, false}) {
    std::vector<d3d9::DrawRecord> first, second;
    const auto a = WorldDraws(worldCentred, &first);
    const auto b = WorldDraws(worldCentred, &second);
    EXPECT_EQ(a, b);
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
      EXPECT_EQ(first[i].state.stage[0], second[i].state.stage[0]) << i;
      EXPECT_EQ(first[i].state.render, second[i].state.render) << i;
    }
  }
}

TEST_F(CalibScene, WithoutALabelFontOnlyTheGeometryIsDrawn) {
  Mono(3, 3);
  std::vector<d3d9::DrawRecord> labelled, bare;
  const auto withFont = WorldDraws(true, &labelled);
  scene->SetFont(nullptr);
  const auto withoutFont = WorldDraws(true, &bare);
  EXPECT_EQ(withFont, withoutFont);
  // Three camera labels fewer.
  EXPECT_EQ(labelled.size() - bare.size(), 3u);

  CD3DCalibScene empty;
  EXPECT_TRUE(InScene([&] {
                empty.DrawWorldCenteredScene(device, &viewer);
                empty.DrawCameraCenteredScene(device, &viewer);
              }).empty());
}

TEST_F(CalibScene, FrustumDrawReadsFiveVerticesAndTheQuadIsAnUprightImage) {
  Mono(1, 1);
  std::vector<d3d9::DrawRecord> all;
  WorldDraws(true, &all);
  std::vector<d3d9::DrawRecord> world;
  for (const auto& d : all)
    if (!ScreenSpace(d)) world.push_back(d);
  ASSERT_GE(world.size(), 4u);
  const auto& quad = world[2];
  const auto& lines = world[3];
  EXPECT_EQ(lines.numVertices, 5u);
  EXPECT_EQ(lines.indices.size(), 8u);
  for (WORD i : lines.indices) EXPECT_LT(i, 5);
  ASSERT_EQ(quad.vertices.size(), 4u);
  // Corners (0, h), (w, h), (0, 0), (w, 0) carry uv (x / w, y / h).
  const float uv[4][2] = {{0, 1}, {1, 1}, {0, 0}, {1, 0}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(quad.vertices[k].u, uv[k][0]) << k;
    EXPECT_EQ(quad.vertices[k].v, uv[k][1]) << k;
  }
  // uv is affine in the corners: corner 3 - corner 2 = corner 1 - corner 0.
  auto P = [&](int k) { return D3DXVECTOR3(quad.vertices[k].x, quad.vertices[k].y, quad.vertices[k].z); };
  EXPECT_TRUE(Near(P(3) - P(2), P(1) - P(0), 1e-3f));
}

TEST_F(CalibScene, PartsCountReferencesAndRoundTripColours) {
  IDirect3DTexture9* a = nullptr;
  IDirect3DTexture9* b = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &a, nullptr), S_OK);
  ASSERT_EQ(device->CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &b, nullptr), S_OK);
  {
    CD3DCalibCamera camera;
    camera.SetTexture(a);
    camera.SetTexture(a);
    EXPECT_EQ(a->AddRef(), 3u);  // ours, the camera's, this one
    a->Release();
    camera.SetTexture(b);
    EXPECT_EQ(a->AddRef(), 2u);
    a->Release();
    {
      CD3DCalibCamera copy(camera);
      EXPECT_EQ(b->AddRef(), 4u);
      b->Release();
    }
    EXPECT_EQ(b->AddRef(), 3u);
    b->Release();
  }
  EXPECT_EQ(a->Release(), 0u);
  EXPECT_EQ(b->Release(), 0u);

  for (DWORD colour : {0xff0000ffu, 0x80402010u, 0x00ffffffu, 0x7f7f7f7fu}) {
    CD3DCalibPlane plane(device, const_cast<double*>(kIdentity), const_cast<double*>(kZero), 2, 2, 1.0, colour);
    EXPECT_EQ(plane.GetLabelColor(), colour);
    CD3DCalibPlane copy;
    EXPECT_STREQ(copy.GetLabel(), "0");
    copy = plane;
    EXPECT_EQ(copy.GetMesh(), plane.GetMesh());
  }
}

TEST_F(CalibScene, GreyViewImageLeavesTheCameraUntextured) {
  views = Views(1);
  images = {SolidImage(9, 9, 9, 1)};
  scene = std::make_unique<CD3DCalibScene>();
  EXPECT_NO_THROW(scene->CreateScene(device, D3DFMT_X8R8G8B8, MakeCamera(), views.r(), views.t(), 1, kBoardW, kBoardH,
                                     kSquare, images));
  ASSERT_EQ(scene->GetCameras().size(), 2u);
  EXPECT_TRUE(scene->GetCameras()[1]->IsComplete());
  EXPECT_EQ(scene->GetCameras()[1]->GetTexture(), nullptr);
}

TEST_F(CalibScene, SecondCreateHoldsOnlyTheSecondSet) {
  const int start = d3d9::LiveObjectCount();
  Mono(2, 2);
  EXPECT_GT(d3d9::LiveObjectCount(), start);
  for (IplImage*& i : images) cvReleaseImage(&i);
  images.clear();
  views = Views(5);
  scene->CreateScene(device, D3DFMT_X8R8G8B8, MakeCamera(), views.r(), views.t(), 5, kBoardW, kBoardH, kSquare,
                     images);
  EXPECT_EQ(scene->GetCameras().size(), 6u);
  const int afterSecond = d3d9::LiveObjectCount();
  {
    CD3DCalibScene fresh;
    fresh.CreateScene(device, D3DFMT_X8R8G8B8, MakeCamera(), views.r(), views.t(), 5, kBoardW, kBoardH, kSquare,
                      images);
    EXPECT_EQ(d3d9::LiveObjectCount() - afterSecond, afterSecond - start);
  }
  scene.reset();
  EXPECT_EQ(d3d9::LiveObjectCount(), start);
}

}  // namespace
