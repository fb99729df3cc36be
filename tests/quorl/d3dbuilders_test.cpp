// The mesh, texture and pyramid builders on the recording device.
#include "d3d/d3dbuilders.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <array>
#include <set>
#include <cstdint>

#include "d3d_recorder_fixture.h"

namespace {

using namespace d3dfixture;
using D3D::LineVertex;
using D3D::MeshVertex;
using D3D::TexturedVertex;

D3DXVECTOR3 Pos(const LineVertex& v) { return D3DXVECTOR3(v.x, v.y, v.z); }
D3DXVECTOR3 Pos(const TexturedVertex& v) { return D3DXVECTOR3(v.x, v.y, v.z); }
D3DXVECTOR3 Pos(const MeshVertex& v) { return D3DXVECTOR3(v.x, v.y, v.z); }

class Builders : public RecorderDevice {
 protected:
  void TearDown() override {
    Release(lines), Release(quad), Release(indices), Release(texture), Release(mesh), Release(outline),
        Release(outlineIndices);
    RecorderDevice::TearDown();
  }
  IDirect3DVertexBuffer9* lines = nullptr;
  IDirect3DVertexBuffer9* quad = nullptr;
  IDirect3DIndexBuffer9* indices = nullptr;
  IDirect3DTexture9* texture = nullptr;
  ID3DXMesh* mesh = nullptr;
  IDirect3DVertexBuffer9* outline = nullptr;
  IDirect3DIndexBuffer9* outlineIndices = nullptr;
};

struct PoseCase {
  const char* name;
  const double* R;
  const double* T;
};
const PoseCase kPoses[] = {{"identity", kIdentity, kZero}, {"turned", RotatedR(), kShift}};

TEST_F(Builders, CameraPyramidStandsOnTheImageCornerRays) {
  for (const PoseCase& pose : kPoses) {
    SCOPED_TRACE(pose.name);
    CCamera camera = MakeCamera(pose.R, pose.T);
    float uv[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};
    D3DXVECTOR3 label;
    const float s = 30;
    ASSERT_EQ(D3D::CameraPyramidDrawing(device, &camera, uv, &lines, &quad, &indices, s, 0xff123456, &label), S_OK);
    const D3DXVECTOR3 c = Centre(pose.R, pose.T);
    const double corners[4][2] = {{0, kHeight}, {kWidth, kHeight}, {0, 0}, {kWidth, 0}};
    const auto q = Read<TexturedVertex>(quad);
    const auto l = Read<LineVertex>(lines);
    ASSERT_EQ(q.size(), 4u);
    ASSERT_EQ(l.size(), 6u);
    for (int k = 0; k < 4; ++k) {
      const D3DXVECTOR3 expected = Flip(c + Ray(pose.R, corners[k][0], corners[k][1]) * s);
      EXPECT_TRUE(Near(Pos(q[k]), expected, 1e-3f)) << k;
      EXPECT_TRUE(Near(Pos(l[k]), expected, 1e-3f)) << k;
      EXPECT_EQ(q[k].u, uv[2 * k]);
      EXPECT_EQ(q[k].v, uv[2 * k + 1]);
      EXPECT_EQ(q[k].colour, 0xff123456u);
      EXPECT_EQ(l[k].colour, 0xff123456u);
    }
    EXPECT_TRUE(Near(Pos(l[4]), Flip(c)));
    EXPECT_TRUE(Near(Pos(l[5]), D3DXVECTOR3(0, 0, 0)));
    EXPECT_EQ(l[5].colour, 0u);
    const auto idx = Read<WORD>(indices);
    ASSERT_EQ(idx.size(), 18u);
    const std::vector<WORD> expectedIdx = {4, 0, 4, 1, 4, 2, 4, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(idx, expectedIdx);
    // The label sits behind the centre, away from the image.
    const D3DXVECTOR3 axis = Ray(pose.R, 50, 40);
    EXPECT_TRUE(Near(label, Flip(c - axis * (s / 3))));
    Release(lines), Release(quad), Release(indices);
  }
}

TEST_F(Builders, SecondPyramidCallRefillsTheGivenBuffers) {
  CCamera a = MakeCamera(), b = MakeCamera(RotatedR(), kShift);
  float uv[8] = {};
  ASSERT_EQ(D3D::CameraPyramidDrawing(device, &a, uv, &lines, &quad, &indices, 10, 0xffffffff, nullptr), S_OK);
  IDirect3DVertexBuffer9* first = lines;
  const int alive = d3d9::LiveObjectCount();
  ASSERT_EQ(D3D::CameraPyramidDrawing(device, &b, uv, &lines, &quad, &indices, 10, 0xffffffff, nullptr), S_OK);
  EXPECT_EQ(lines, first);
  EXPECT_EQ(d3d9::LiveObjectCount(), alive);
  EXPECT_TRUE(Near(Pos(Read<LineVertex>(lines)[4]), Flip(Centre(RotatedR(), kShift))));
}

TEST_F(Builders, MvgPyramidHasDepthFiveAndFixedColours) {
  for (const PoseCase& pose : kPoses) {
    SCOPED_TRACE(pose.name);
    MVG::Camera camera = MakeMvgCamera(pose.R, pose.T);
    float uv[8] = {};
    ASSERT_EQ(D3D::CameraPyramidDrawing(device, &camera, uv, &lines, &quad, &indices), S_OK);
    const D3DXVECTOR3 c = Centre(pose.R, pose.T);
    const double corners[4][2] = {{0, kHeight}, {kWidth, kHeight}, {0, 0}, {kWidth, 0}};
    const auto q = Read<TexturedVertex>(quad);
    const auto l = Read<LineVertex>(lines);
    for (int k = 0; k < 4; ++k) {
      const D3DXVECTOR3 expected = Flip(c + Ray(pose.R, corners[k][0], corners[k][1]) * 5.0f);
      EXPECT_TRUE(Near(Pos(l[k]), expected, 1e-3f)) << k;
      EXPECT_EQ(q[k].colour, 0xffffffffu);
      EXPECT_EQ(l[k].colour, 0xffffff00u);
    }
    EXPECT_TRUE(Near(Pos(l[4]), Flip(c), 1e-3f));
    EXPECT_EQ(l[4].colour, 0xffff00ffu);
    Release(lines), Release(quad), Release(indices);
  }
}

TEST_F(Builders, AntiAliasedPyramidLiesInThePlaneAcrossTheCentralRay) {
  for (const PoseCase& pose : kPoses) {
    SCOPED_TRACE(pose.name);
    MVG::Camera camera = MakeMvgCamera(pose.R, pose.T);
    float uv[8] = {0, 0, 0, 1, 1, 1, 1, 0};
    D3DXVECTOR3 ends[18];
    ASSERT_EQ(D3D::CameraPyramidDrawingAA(device, &camera, uv, ends, &lines, &quad, &indices, 0xff00ff00), S_OK);
    const D3DXVECTOR3 c = Flip(Centre(pose.R, pose.T));
    const D3DXVECTOR3 axis = Flip(Ray(pose.R, 50, 40));
    const D3DXVECTOR3 q = c + axis * 10.0f;
    const auto l = Read<LineVertex>(lines);
    const double corners[4][2] = {{0, 0}, {0, kHeight}, {kWidth, kHeight}, {kWidth, 0}};
    for (int k = 0; k < 4; ++k) {
      const D3DXVECTOR3 d = Pos(l[k]) - q;
      EXPECT_NEAR(D3DXVec3Dot(&d, &axis), 0.0f, 1e-3f) << k;
      // On the corner's ray.
      D3DXVECTOR3 dir = Pos(l[k]) - c, expected = Flip(Ray(pose.R, corners[k][0], corners[k][1]));
      D3DXVec3Normalize(&dir, &dir);
      EXPECT_TRUE(Near(dir, expected, 1e-4f)) << k;
    }
    EXPECT_TRUE(Near(Pos(l[4]), c));
    EXPECT_TRUE(Near(Pos(l[5]), q));
    const D3DXVECTOR3 expectedEnds[18] = {c,         Pos(l[0]), c,         Pos(l[1]), c,         Pos(l[2]),
                                          c,         Pos(l[3]), Pos(l[0]), Pos(l[1]), Pos(l[1]), Pos(l[2]),
                                          Pos(l[2]), Pos(l[3]), Pos(l[3]), Pos(l[0]), c,         q};
    for (int i = 0; i < 18; ++i) EXPECT_TRUE(Near(ends[i], expectedEnds[i])) << i;
    const std::vector<WORD> idx = {4, 0, 4, 1, 4, 2, 4, 3, 0, 1, 1, 2, 2, 3, 3, 0, 4, 5};
    EXPECT_EQ(Read<WORD>(indices), idx);
    Release(lines), Release(quad), Release(indices);
  }
}

TEST(ViewAndPerspective, CornerPixelRaysMapToTheViewportCorners) {
  for (const PoseCase& pose : kPoses) {
    SCOPED_TRACE(pose.name);
    MVG::Camera camera = MakeMvgCamera(pose.R, pose.T);
    D3DXMATRIXA16 view, projection;
    ASSERT_EQ(D3D::D3DXMatrixViewAndPerspective(&camera, &view, &projection), S_OK);
    const D3DXMATRIX vp = view * projection;
    const D3DXVECTOR3 c = Centre(pose.R, pose.T);
    const struct {
      double u, v;
      float x, y;
    } cases[] = {{0, 0, -1, 1}, {kWidth - 1, kHeight - 1, 1, -1}};
    for (const auto& k : cases)
      for (float depth : {2.0f, 40.0f}) {
        // Along the pixel's ray to the given depth in front of the camera.
        const D3DXVECTOR3 r = Ray(pose.R, k.u, k.v), axis = Ray(pose.R, 50, 40);
        const D3DXVECTOR3 p = Flip(c + r * (depth / D3DXVec3Dot(&r, &axis)));
        D3DXVECTOR3 ndc;
        D3DXVec3TransformCoord(&ndc, &p, &vp);
        EXPECT_NEAR(ndc.x, k.x, 1e-3f) << depth;
        EXPECT_NEAR(ndc.y, k.y, 1e-3f) << depth;
        EXPECT_GT(ndc.z, 0.0f);
        EXPECT_LT(ndc.z, 1.0f);
      }
  }
}

// Buffers sized for `room` patches.
struct PatchBuffers {
  IDirect3DVertexBuffer9* patches = nullptr;
  IDirect3DVertexBuffer9* lines = nullptr;
  IDirect3DIndexBuffer9* patchIndices = nullptr;
  IDirect3DIndexBuffer9* lineIndices = nullptr;
  PatchBuffers(IDirect3DDevice9* d, int room) {
    d->CreateVertexBuffer(UINT(room) * 4 * sizeof(MeshVertex), 0, D3D::kMeshFvf, D3DPOOL_DEFAULT, &patches, nullptr);
    d->CreateVertexBuffer(UINT(room) * 2 * sizeof(LineVertex), 0, D3D::kLineFvf, D3DPOOL_DEFAULT, &lines, nullptr);
    d->CreateIndexBuffer(UINT(room) * 12, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &patchIndices, nullptr);
    d->CreateIndexBuffer(UINT(room) * 4, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &lineIndices, nullptr);
  }
  ~PatchBuffers() { Release(patches), Release(lines), Release(patchIndices), Release(lineIndices); }
  // Nothing is left locked: every buffer locks again.
  bool AllUnlocked() const {
    void* p = nullptr;
    bool ok = true;
    ok = ok && SUCCEEDED(patches->Lock(0, 0, &p, 0)) && SUCCEEDED(patches->Unlock());
    ok = ok && SUCCEEDED(lines->Lock(0, 0, &p, 0)) && SUCCEEDED(lines->Unlock());
    ok = ok && SUCCEEDED(patchIndices->Lock(0, 0, &p, 0)) && SUCCEEDED(patchIndices->Unlock());
    ok = ok && SUCCEEDED(lineIndices->Lock(0, 0, &p, 0)) && SUCCEEDED(lineIndices->Unlock());
    return ok;
  }
};

struct PatchCase {
  const char* name;
  std::vector<char> mask;
  int room;
  int expected;
};

TEST_F(Builders, PatchesForMaskedPointsWithinTheBuffers) {
  const PatchCase cases[] = {
      {"all zero", {0, 0, 0, 0, 0}, 5, 0},
      {"alternating", {1, 0, 1, 0, 1}, 5, 3},
      {"single", {0, 0, 0, 1, 0}, 5, 1},
      {"more points than room", {1, 1, 1, 1, 1}, 2, 2},
  };
  CvPoint2D32f image[5];
  CvPoint3D32f points[5];
  for (int i = 0; i < 5; ++i) {
    image[i] = cvPoint2D32f(10 + 7 * i, 20 + 3 * i);
    points[i] = cvPoint3D32f(i, 2 * i + 1, 30 + i);
  }
  for (const PatchCase& c : cases) {
    SCOPED_TRACE(c.name);
    PatchBuffers b(device, c.room);
    std::vector<char> mask = c.mask;
    const int n = D3D::Create3DPatchesForPoints(image, points, 5, mask.data(), b.patches, b.lines, b.patchIndices,
                                                b.lineIndices, 100, 80, 2, 3);
    ASSERT_EQ(n, c.expected);
    const auto pv = Read<MeshVertex>(b.patches);
    const auto lv = Read<LineVertex>(b.lines);
    const auto pi = Read<WORD>(b.patchIndices);
    const auto li = Read<WORD>(b.lineIndices);
    int k = 0;
    for (int i = 0; i < 5 && k < n; ++i) {
      if (!mask[i]) continue;
      const int du[4] = {-2, 2, -2, 2}, dv[4] = {-3, -3, 3, 3};
      for (int v = 0; v < 4; ++v) {
        const MeshVertex& m = pv[4 * k + v];
        EXPECT_TRUE(Near(Pos(m), D3DXVECTOR3(points[i].x + 0.1f * du[v], -points[i].y + 0.1f * dv[v], points[i].z)));
        EXPECT_EQ(m.colour, 0x00ffffffu);
        EXPECT_EQ(m.nz, -1.0f);
        EXPECT_FLOAT_EQ(m.u, (image[i].x + du[v]) / 100.0f);
        EXPECT_FLOAT_EQ(m.v, 1 - (image[i].y + dv[v]) / 80.0f);
      }
      const std::vector<WORD> tri = {WORD(4 * k),     WORD(4 * k + 1), WORD(4 * k + 2),
                                     WORD(4 * k + 2), WORD(4 * k + 1), WORD(4 * k + 3)};
      EXPECT_EQ(std::vector<WORD>(pi.begin() + 6 * k, pi.begin() + 6 * k + 6), tri);
      EXPECT_EQ(li[2 * k], 2 * k);
      EXPECT_EQ(li[2 * k + 1], 2 * k + 1);
      EXPECT_EQ(lv[2 * k].colour, 0xff00ffffu);
      EXPECT_EQ(lv[2 * k + 1].colour, 0x00ffffffu);
      EXPECT_TRUE(Near(Pos(lv[2 * k + 1]), D3DXVECTOR3(points[i].x, -points[i].y, points[i].z + 1)));
      ++k;
    }
    // An all-zero mask writes no index.
    if (n == 0) {
      for (WORD w : pi) EXPECT_EQ(w, 0);
    }
  }
}

TEST_F(Builders, EachFailingPatchLockGivesEFailWithNothingLocked) {
  CvPoint2D32f image[2] = {cvPoint2D32f(10, 10), cvPoint2D32f(20, 20)};
  CvPoint3D32f points[2] = {cvPoint3D32f(0, 0, 5), cvPoint3D32f(1, 1, 5)};
  char mask[2] = {1, 1};
  for (int failing = 1; failing <= 4; ++failing) {
    SCOPED_TRACE(failing);
    PatchBuffers b(device, 2);
    d3d9::GetFaults().failLockAt = failing;
    EXPECT_EQ(D3D::Create3DPatchesForPoints(image, points, 2, mask, b.patches, b.lines, b.patchIndices, b.lineIndices,
                                            100, 80, 1, 1),
              E_FAIL);
    d3d9::GetFaults().failLockAt = 0;
    EXPECT_TRUE(b.AllUnlocked());
  }
  d3d9::ClearLog();
}

TEST_F(Builders, FacingPatchesLieInThePlaneAcrossTheirRay) {
  MVG::Camera camera = MakeMvgCamera(RotatedR(), kShift);
  const D3DXVECTOR3 c = Flip(Centre(RotatedR(), kShift));
  // Points in front of the camera along known pixels.
  float image[6] = {30, 20, 70, 50, 50, 40};
  float points[9];
  for (int i = 0; i < 3; ++i) {
    const D3DXVECTOR3 p = Centre(RotatedR(), kShift) + Ray(RotatedR(), image[2 * i], image[2 * i + 1]) * 40.0f;
    points[3 * i] = p.x, points[3 * i + 1] = p.y, points[3 * i + 2] = p.z;
  }
  char mask[3] = {1, 1, 1};
  PatchBuffers b(device, 3);
  int count = -1;
  ASSERT_EQ(D3D::MakePointPatches(image, points, &camera, 3, mask, b.patches, b.lines, b.patchIndices, b.lineIndices,
                                  count, 4, 4),
            S_OK);
  ASSERT_EQ(count, 3);
  const auto pv = Read<MeshVertex>(b.patches);
  const auto lv = Read<LineVertex>(b.lines);
  for (int k = 0; k < 3; ++k) {
    const D3DXVECTOR3 p(points[3 * k], -points[3 * k + 1], points[3 * k + 2]);
    const D3DXVECTOR3 ray = Flip(Ray(RotatedR(), image[2 * k], image[2 * k + 1]));
    for (int v = 0; v < 4; ++v) {
      const D3DXVECTOR3 d = Pos(pv[4 * k + v]) - p;
      EXPECT_NEAR(D3DXVec3Dot(&d, &ray), 0.0f, 1e-3f);
      D3DXVECTOR3 toCorner = Pos(pv[4 * k + v]) - c;
      D3DXVec3Normalize(&toCorner, &toCorner);
      const D3DXVECTOR3 negatedNormal(-pv[4 * k + v].nx, -pv[4 * k + v].ny, -pv[4 * k + v].nz);
      EXPECT_TRUE(Near(toCorner, negatedNormal, 1e-4f));
    }
    EXPECT_TRUE(Near(Pos(lv[2 * k + 1]), p - ray));
  }
  // The pointer overload gives the same patches.
  CvPoint2D32f image2[3];
  CvPoint3D32f points2[3];
  for (int i = 0; i < 3; ++i) {
    image2[i] = cvPoint2D32f(image[2 * i], image[2 * i + 1]);
    points2[i] = cvPoint3D32f(points[3 * i], points[3 * i + 1], points[3 * i + 2]);
  }
  PatchBuffers b2(device, 3);
  int count2 = -1;
  ASSERT_EQ(D3D::MakePointPatches(image2, points2, &camera, 3, mask, b2.patches, b2.lines, b2.patchIndices,
                                  b2.lineIndices, &count2, 4, 4),
            S_OK);
  EXPECT_EQ(count2, 3);
  const auto pv2 = Read<MeshVertex>(b2.patches);
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(Near(Pos(pv2[i]), Pos(pv[i])));
}

TEST_F(Builders, AxisLinesInTheirColours) {
  ASSERT_EQ(D3D::D3DCreateAxis(device, &lines, &indices), S_OK);
  const auto v = Read<LineVertex>(lines);
  const struct {
    D3DXVECTOR3 p;
    D3DCOLOR c;
  } expected[6] = {{{-10, 0, 0}, 0xff0000ff}, {{10, 0, 0}, 0xff0000ff},  {{0, -10, 0}, 0xff00ff00},
                   {{0, 10, 0}, 0xff00ff00},  {{0, 0, -10}, 0xffff0000}, {{0, 0, 10}, 0xffff0000}};
  ASSERT_EQ(v.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Pos(v[i]), expected[i].p) << i;
    EXPECT_EQ(v[i].colour, expected[i].c) << i;
  }
  EXPECT_EQ(Read<WORD>(indices), (std::vector<WORD>{0, 1, 2, 3, 4, 5}));
  Release(lines), Release(indices);
  for (int failing : {1, 2}) {
    d3d9::GetFaults().failCreateAt = failing;
    EXPECT_EQ(D3D::D3DCreateAxis(device, &lines, &indices), E_FAIL) << failing;
    d3d9::GetFaults().failCreateAt = 0;
    Release(lines), Release(indices);
  }
}

// The texels of a lockable texture, row by row.
std::vector<std::array<unsigned char, 4>> Texels(IDirect3DTexture9* t, UINT* width, UINT* height) {
  D3DSURFACE_DESC d{};
  t->GetLevelDesc(0, &d);
  *width = d.Width, *height = d.Height;
  D3DLOCKED_RECT r{};
  std::vector<std::array<unsigned char, 4>> out;
  if (FAILED(t->LockRect(0, &r, nullptr, D3DLOCK_READONLY))) return out;
  for (UINT y = 0; y < d.Height; ++y)
    for (UINT x = 0; x < d.Width; ++x) {
      const unsigned char* p = static_cast<unsigned char*>(r.pBits) + y * r.Pitch + 4 * x;
      out.push_back({p[0], p[1], p[2], p[3]});
    }
  t->UnlockRect(0);
  return out;
}

TEST_F(Builders, TextureFromAPaddedImage) {
  IplImage* image = cvCreateImage(cvSize(3, 2), IPL_DEPTH_8U, 3);
  ASSERT_GT(image->widthStep, 9);  // rows are padded to 4 bytes
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c) image->imageData[y * image->widthStep + 3 * x + c] = char(100 * y + 10 * x + c);
  ASSERT_EQ(D3D::D3DXCreateTextureFromImage(device, D3DFMT_X8R8G8B8, image, &texture), S_OK);
  UINT w = 0, h = 0;
  const auto t = Texels(texture, &w, &h);
  ASSERT_EQ(w, 3u);
  ASSERT_EQ(h, 2u);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const auto& p = t[std::size_t(y * 3 + x)];
      EXPECT_EQ(p[0], 100 * y + 10 * x);
      EXPECT_EQ(p[1], 100 * y + 10 * x + 1);
      EXPECT_EQ(p[2], 100 * y + 10 * x + 2);
      EXPECT_EQ(p[3], 0);
    }
  cvReleaseImage(&image);
}

TEST_F(Builders, TextureFallsBackToAnUploadWhenDynamicIsRefused) {
  IplImage* image = cvCreateImage(cvSize(4, 4), IPL_DEPTH_8U, 3);
  cvSet(image, cvScalar(1, 2, 3));
  d3d9::GetFaults().refuseDynamic = true;
  d3d9::ClearLog();
  const int before = d3d9::LiveObjectCount();
  ASSERT_EQ(D3D::D3DXCreateTextureFromImage(device, D3DFMT_X8R8G8B8, image, &texture), S_OK);
  // Only the render target stays: the system-memory copy was released.
  EXPECT_EQ(d3d9::LiveObjectCount(), before + 1);
  D3DSURFACE_DESC d{};
  texture->GetLevelDesc(0, &d);
  EXPECT_EQ(d.Pool, D3DPOOL_DEFAULT);
  EXPECT_EQ(d.Usage, D3DUSAGE_RENDERTARGET);
  d3d9::ClearLog();
  cvReleaseImage(&image);
}

TEST_F(Builders, TextureFailuresLeaveNothing) {
  IplImage* colour = cvCreateImage(cvSize(4, 4), IPL_DEPTH_8U, 3);
  IplImage* grey = cvCreateImage(cvSize(4, 4), IPL_DEPTH_8U, 1);
  cvSet(colour, cvScalar(1, 2, 3));
  cvSet(grey, cvScalar(9));
  const int before = d3d9::LiveObjectCount();
  struct Case {
    const char* name;
    IplImage* image;
    D3DFORMAT format;
    int failCreateAt;
  } cases[] = {{"grey image", grey, D3DFMT_X8R8G8B8, 0},
               {"two-byte format", colour, D3DFMT_R5G6B5, 0},
               {"system copy fails", colour, D3DFMT_X8R8G8B8, 1},
               {"render target fails", colour, D3DFMT_X8R8G8B8, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    d3d9::GetFaults().refuseDynamic = c.failCreateAt != 0;
    d3d9::GetFaults().failCreateAt = c.failCreateAt;
    texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(D3D::D3DXCreateTextureFromImage(device, c.format, c.image, &texture), E_FAIL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(d3d9::LiveObjectCount(), before);
    d3d9::GetFaults() = d3d9::Faults{};
  }
  d3d9::ClearLog();
  cvReleaseImage(&colour);
  cvReleaseImage(&grey);
}

TEST_F(Builders, GridTextureIsAnExactChequer) {
  const D3DXCOLOR black(0, 0, 0, 255), white(255, 255, 255, 255);
  ASSERT_EQ(D3D::D3DXCreateTextureGridImage(3, 3, 2.0, 2.0, device, D3DFMT_X8R8G8B8, &texture, black, white), S_OK);
  UINT w = 0, h = 0;
  const auto t = Texels(texture, &w, &h);
  ASSERT_EQ(w, 4u);
  ASSERT_EQ(h, 4u);
  const char* expected[4] = {"BBWW", "BBWW", "WWBB", "WWBB"};
  for (UINT y = 0; y < 4; ++y)
    for (UINT x = 0; x < 4; ++x) {
      const auto& p = t[y * 4 + x];
      const unsigned char v = expected[y][x] == 'B' ? 0 : 255;
      EXPECT_EQ(p, (std::array<unsigned char, 4>{v, v, v, 255})) << x << "," << y;
    }
  // A texture already there is kept, and the call refused.
  IDirect3DTexture9* held = texture;
  EXPECT_EQ(D3D::D3DXCreateTextureGridImage(3, 3, 2.0, 2.0, device, D3DFMT_X8R8G8B8, &texture, black, white), E_FAIL);
  EXPECT_EQ(texture, held);
  Release(texture);

  ASSERT_EQ(D3D::D3DXCreateTextureGridImage(2, 2, 9.5, 9.5, device, D3DFMT_X8R8G8B8, &texture, black, white), S_OK);
  Texels(texture, &w, &h);
  EXPECT_EQ(w, 10u);
  EXPECT_EQ(h, 10u);
  Release(texture);

  EXPECT_EQ(D3D::D3DXCreateTextureGridImage(3, 3, 0.4, 0.4, device, D3DFMT_X8R8G8B8, &texture, black, white), E_FAIL);
  EXPECT_EQ(D3D::D3DXCreateTextureGridImage(1, 3, 2, 2, device, D3DFMT_X8R8G8B8, &texture, black, white), E_FAIL);
  EXPECT_EQ(texture, nullptr);
}

std::vector<MeshVertex> MeshVertices(ID3DXMesh* m) {
  void* p = nullptr;
  m->LockVertexBuffer(D3DLOCK_READONLY, &p);
  std::vector<MeshVertex> v(static_cast<MeshVertex*>(p), static_cast<MeshVertex*>(p) + m->GetNumVertices());
  m->UnlockVertexBuffer();
  return v;
}
std::vector<WORD> MeshIndices(ID3DXMesh* m) {
  void* p = nullptr;
  m->LockIndexBuffer(D3DLOCK_READONLY, &p);
  std::vector<WORD> v(static_cast<WORD*>(p), static_cast<WORD*>(p) + 3 * m->GetNumFaces());
  m->UnlockIndexBuffer();
  return v;
}

TEST_F(Builders, PlaneMeshInItsPose) {
  const double quarter[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  const double shift[3] = {5, 7, 100};
  const PoseCase poses[] = {{"identity", kIdentity, kZero}, {"quarter turn", quarter, shift}};
  const int bw = 3, bh = 2;
  const double sq = 10;
  for (const PoseCase& pose : poses) {
    SCOPED_TRACE(pose.name);
    D3DXVECTOR3 label;
    ASSERT_EQ(D3D::D3DXCreateCalibPlaneMesh(device, const_cast<double*>(pose.R), const_cast<double*>(pose.T), bw, bh,
                                            sq, &mesh, 0xff336699, &label, &outline, &outlineIndices),
              S_OK);
    auto world = [&](int r, int j) {
      const double p[3] = {j * sq, (bh - 1 - r) * sq, 0};
      double q[3];
      for (int i = 0; i < 3; ++i)
        q[i] = pose.R[3 * i] * p[0] + pose.R[3 * i + 1] * p[1] + pose.R[3 * i + 2] * p[2] + pose.T[i];
      return D3DXVECTOR3(float(q[0]), float(-q[1]), float(q[2]));
    };
    const auto v = MeshVertices(mesh);
    ASSERT_EQ(v.size(), 6u);
    ASSERT_EQ(mesh->GetNumFaces(), 4u);
    // Every board point appears once with its uv.
    for (int r = 0; r < bh; ++r)
      for (int j = 0; j < bw; ++j) {
        int found = 0;
        for (const MeshVertex& m : v)
          if (Near(Pos(m), world(r, j), 1e-4f)) {
            ++found;
            EXPECT_FLOAT_EQ(m.u, j / 2.0f);
            EXPECT_FLOAT_EQ(m.v, float(r));
            EXPECT_EQ(m.colour, 0xff336699u);
          }
        EXPECT_EQ(found, 1) << r << "," << j;
      }
    // The faces, as position triangles, are the cells' two triangles each.
    std::vector<std::array<int, 3>> faces;
    const auto idx = MeshIndices(mesh);
    for (WORD i : idx) ASSERT_LT(i, v.size());
    auto pointOf = [&](WORD i) {
      for (int r = 0; r < bh; ++r)
        for (int j = 0; j < bw; ++j)
          if (Near(Pos(v[i]), world(r, j), 1e-4f)) return r * bw + j;
      return -1;
    };
    std::multiset<std::array<int, 3>> got, want;
    for (std::size_t f = 0; f < idx.size(); f += 3) {
      std::array<int, 3> t{pointOf(idx[f]), pointOf(idx[f + 1]), pointOf(idx[f + 2])};
      std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
      got.insert(t);
    }
    for (int r = 0; r < bh - 1; ++r)
      for (int j = 0; j < bw - 1; ++j) {
        const int w = r * bw + j;
        std::array<int, 3> a{w, w + bw, w + 1}, b{w + 1, w + bw, w + bw + 1};
        std::rotate(a.begin(), std::min_element(a.begin(), a.end()), a.end());
        std::rotate(b.begin(), std::min_element(b.begin(), b.end()), b.end());
        want.insert(a), want.insert(b);
      }
    EXPECT_EQ(got, want);
    // The outline joins the four corners in a loop.
    const auto o = Read<LineVertex>(outline);
    ASSERT_EQ(o.size(), 4u);
    const int corners[4][2] = {{0, 0}, {0, bw - 1}, {bh - 1, 0}, {bh - 1, bw - 1}};
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(Near(Pos(o[k]), world(corners[k][0], corners[k][1]))) << k;
    EXPECT_EQ(Read<WORD>(outlineIndices), (std::vector<WORD>{0, 1, 1, 3, 3, 2, 2, 0}));
    // One square beyond the origin corner, away from the far corner.
    D3DXVECTOR3 d = world(bh - 1, 0) - world(0, bw - 1);
    D3DXVec3Normalize(&d, &d);
    EXPECT_TRUE(Near(label, world(bh - 1, 0) + d * float(sq)));
    Release(mesh), Release(outline), Release(outlineIndices);
  }
  EXPECT_EQ(D3D::D3DXCreateCalibPlaneMesh(device, const_cast<double*>(kIdentity), const_cast<double*>(kZero), 1, 5,
                                          10, &mesh, 0, nullptr, &outline, &outlineIndices),
            E_FAIL);
  EXPECT_EQ(mesh, nullptr);
}

TEST_F(Builders, DepthMeshIndicesNameWrittenVertices) {
  IplImage* depth = cvCreateImage(cvSize(40, 30), IPL_DEPTH_32F, 1);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) CV_IMAGE_ELEM(depth, float, y, x) = 100.0f + float(x + 1000 * y);
  ASSERT_EQ(D3D::D3DXCreateDepthMapMesh(device, depth, 5, 3, &mesh, 0xff00ff00, 0, 0, 0), S_OK);
  const auto v = MeshVertices(mesh);
  ASSERT_EQ(v.size(), 15u);
  EXPECT_EQ(mesh->GetNumFaces(), 16u);
  std::set<std::pair<int, int>> grid;
  for (const MeshVertex& m : v) {
    // Every vertex is a grid sample carrying its pixel's depth.
    EXPECT_EQ(int(m.x) % 8, 0);
    EXPECT_EQ(int(m.y) % 10, 0);
    EXPECT_FLOAT_EQ(m.z, 100.0f + m.x + 1000 * m.y);
    EXPECT_FLOAT_EQ(m.u, m.x / 40);
    grid.insert({int(m.x), int(m.y)});
  }
  EXPECT_EQ(grid.size(), 15u);
  for (WORD i : MeshIndices(mesh)) EXPECT_LT(i, v.size());
  Release(mesh);

  IplImage* grey = cvCreateImage(cvSize(40, 30), IPL_DEPTH_8U, 1);
  EXPECT_EQ(D3D::D3DXCreateDepthMapMesh(device, grey, 5, 3, &mesh, 0, 0, 0, 0), E_FAIL);
  EXPECT_EQ(D3D::D3DXCreateDepthMapMesh(device, depth, 300, 300, &mesh, 0, 0, 0, 0), E_FAIL);
  EXPECT_EQ(D3D::D3DXCreateDepthMapMesh(device, depth, 1, 3, &mesh, 0, 0, 0, 0), E_FAIL);
  EXPECT_EQ(mesh, nullptr);
  cvReleaseImage(&grey);
  cvReleaseImage(&depth);
}

}  // namespace
