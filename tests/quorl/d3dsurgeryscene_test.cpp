// The live stereo-video scene on the recording device: what it draws, the
// video texture's texels, the patches and their limits, two threads, and
// what is left after it.
#include <opencv2/core/core_c.h>

#include <atomic>
#include <memory>
#include <thread>

#include "d3d/d3dsurgeryscene.h"
#include "d3d_recorder_fixture.h"

namespace {

using namespace d3dfixture;
using D3D::CD3DSurgeryScene;

// Texel (x, y) of frame k: b = x + k, g = y, r = 7 k (mod 256).
IplImage* Frame(int width, int height, int k = 0, int channels = 3) {
  IplImage* image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, channels);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      auto* p = reinterpret_cast<unsigned char*>(image->imageData + y * image->widthStep + channels * x);
      p[0] = static_cast<unsigned char>(x + k);
      if (channels == 3) {
        p[1] = static_cast<unsigned char>(y);
        p[2] = static_cast<unsigned char>(7 * k);
      }
    }
  return image;
}

struct ImageDeleter {
  void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

class SurgeryScene : public RecorderDevice {
 protected:
  void SetUp() override {
    RecorderDevice::SetUp();
    const double shifted[3] = {-10, 0, 0};
    rig = CStereoCamera(MakeCamera(), MakeCamera(kIdentity, shifted));
    D3DXVECTOR3 eye(0, 0, -80), at(0, 0, 20);
    viewer.SetViewParams(&eye, &at);
    viewer.SetProjParams(D3DX_PI / 4, 2.0f, 1.0f, 2000.0f);
    viewer.SetWindow(200, 100);
  }

  std::vector<d3d9::DrawRecord> Draw(CD3DSurgeryScene& scene) {
    return InScene([&] { scene.DrawScene(device, &viewer); });
  }
  static std::vector<d3d9::DrawRecord> Patches(const std::vector<d3d9::DrawRecord>& draws) {
    std::vector<d3d9::DrawRecord> out;
    for (const auto& d : draws)
      if (d.indexed && d.primitive == D3DPT_TRIANGLELIST && d.state.fvf == D3D::kMeshFvf) out.push_back(d);
    return out;
  }
  // The frusta's image quads, left then right.
  static std::vector<d3d9::DrawRecord> Quads(const std::vector<d3d9::DrawRecord>& draws) {
    std::vector<d3d9::DrawRecord> out;
    for (const auto& d : draws)
      if (!d.indexed && d.primitive == D3DPT_TRIANGLESTRIP && d.state.fvf == D3D::kTexturedFvf) out.push_back(d);
    return out;
  }

  CStereoCamera rig;
  D3D::CModelViewerCamera viewer;
};

TEST_F(SurgeryScene, NothingIsDrawnBeforeTheSceneOrWithoutAViewAndItIsBuiltOnce) {
  CD3DSurgeryScene scene;
  EXPECT_TRUE(Draw(scene).empty());
  EXPECT_EQ(scene.CreateScene(nullptr, D3DFMT_X8R8G8B8, &rig, nullptr), E_POINTER);
  EXPECT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, nullptr, nullptr), E_POINTER);
  EXPECT_TRUE(Draw(scene).empty());
  ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, nullptr), S_OK);
  const std::size_t drawn = Draw(scene).size();
  EXPECT_GE(drawn, 4u);
  EXPECT_TRUE(InScene([&] { scene.DrawScene(device, nullptr); }).empty());
  EXPECT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, nullptr), E_FAIL);
  EXPECT_EQ(Draw(scene).size(), drawn) << "a second CreateScene added to the scene";
  // Setters before a scene exists change nothing.
  CD3DSurgeryScene empty;
  Image frame(Frame(40, 10));
  EXPECT_EQ(empty.SetVideoTexture(frame.get()), E_FAIL);
  EXPECT_EQ(empty.SetPatches(nullptr, nullptr, nullptr, 0), E_FAIL);
}

TEST_F(SurgeryScene, TheFirstFrameMakesTheTextureBothCamerasShowAndLaterFramesAreCopied) {
  CD3DSurgeryScene scene;
  ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, nullptr), S_OK);
  auto quads = Quads(Draw(scene));
  ASSERT_EQ(quads.size(), 2u);
  EXPECT_EQ(quads[0].state.texture0, nullptr);
  // An odd width: the frame's rows are padded and the texture's pitch
  // differs from the frame's row step.
  constexpr int kW = 37, kH = 9;
  Image first(Frame(kW, kH, 0));
  ASSERT_EQ(scene.SetVideoTexture(first.get()), S_OK);
  quads = Quads(Draw(scene));
  ASSERT_EQ(quads.size(), 2u);
  ASSERT_NE(quads[0].state.texture0, nullptr);
  EXPECT_EQ(quads[0].state.texture0, quads[1].state.texture0) << "both cameras show one texture";
  auto* texture = static_cast<IDirect3DTexture9*>(quads[0].state.texture0);
  auto texels = [&](int k, int* wrong) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), S_OK);
    *wrong = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const auto* t = static_cast<const unsigned char*>(locked.pBits) + y * locked.Pitch + 4 * x;
        *wrong += t[0] != static_cast<unsigned char>(x + k) || t[1] != y || t[2] != static_cast<unsigned char>(7 * k) ||
                  t[3] != 0;
      }
    texture->UnlockRect(0);
  };
  int wrong = -1;
  texels(0, &wrong);
  EXPECT_EQ(wrong, 0);
  Image second(Frame(kW, kH, 3));
  ASSERT_EQ(scene.SetVideoTexture(second.get()), S_OK);
  texels(3, &wrong);
  EXPECT_EQ(wrong, 0) << "texels are B, G, R, 0 of the new frame";
  // Another size or one channel is refused and copies nothing.
  Image wide(Frame(kW + 1, kH, 9)), grey(Frame(kW, kH, 9, 1));
  EXPECT_EQ(scene.SetVideoTexture(wide.get()), E_FAIL);
  EXPECT_EQ(scene.SetVideoTexture(grey.get()), E_FAIL);
  EXPECT_EQ(scene.SetVideoTexture(nullptr), E_FAIL);
  texels(3, &wrong);
  EXPECT_EQ(wrong, 0);
  // A texture that cannot be locked: the frame is not copied.
  d3d9::GetFaults().failLockAt = 1;
  Image third(Frame(kW, kH, 5));
  EXPECT_EQ(scene.SetVideoTexture(third.get()), E_FAIL);
  d3d9::GetFaults().failLockAt = 0;
  texels(3, &wrong);
  EXPECT_EQ(wrong, 0);
}

TEST_F(SurgeryScene, EveryRowWidthIsCopiedWholeAndNothingBeyondIt) {
  // Narrow frames end inside the copy's four-pixel steps: each width takes
  // another mix of whole steps and single pixels.
  for (int width : {1, 2, 5, 6, 7, 8, 13}) {
    SCOPED_TRACE(width);
    CD3DSurgeryScene scene;
    Image first(Frame(width, 3, 0));
    ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, first.get()), S_OK);
    Image second(Frame(width, 3, 4));
    ASSERT_EQ(scene.SetVideoTexture(second.get()), S_OK);
    const auto quads = Quads(Draw(scene));
    ASSERT_EQ(quads.size(), 2u);
    auto* texture = static_cast<IDirect3DTexture9*>(quads[0].state.texture0);
    ASSERT_NE(texture, nullptr);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), S_OK);
    int wrong = 0;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < width; ++x) {
        const auto* t = static_cast<const unsigned char*>(locked.pBits) + y * locked.Pitch + 4 * x;
        wrong += t[0] != x + 4 || t[1] != y || t[2] != 28 || t[3] != 0;
      }
    texture->UnlockRect(0);
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(SurgeryScene, TheLeftFrustumShowsTheLeftHalfAndTheRightTheRight) {
  CD3DSurgeryScene scene;
  Image frame(Frame(64, 16));
  ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, frame.get()), S_OK);
  const auto quads = Quads(Draw(scene));
  ASSERT_EQ(quads.size(), 2u);
  const float want[2][4][2] = {{{0, 0}, {0.5f, 0}, {0, 1}, {0.5f, 1}}, {{0.5f, 0}, {1, 0}, {0.5f, 1}, {1, 1}}};
  for (int side = 0; side < 2; ++side) {
    ASSERT_EQ(quads[side].vertices.size(), 4u);
    EXPECT_NE(quads[side].state.texture0, nullptr) << "the frame given to CreateScene";
    for (int k = 0; k < 4; ++k) {
      EXPECT_FLOAT_EQ(quads[side].vertices[k].u, want[side][k][0]) << side << " corner " << k;
      EXPECT_FLOAT_EQ(quads[side].vertices[k].v, want[side][k][1]) << side << " corner " << k;
    }
  }
}

TEST_F(SurgeryScene, PatchesFollowTheMaskTheTextureSizeAndTheirCapacity) {
  CD3DSurgeryScene scene;
  ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, nullptr), S_OK);
  EXPECT_TRUE(Patches(Draw(scene)).empty()) << "no patch before SetPatches";
  constexpr int kPoints = 600;
  std::vector<CvPoint2D32f> image(kPoints);
  std::vector<CvPoint3D32f> world(kPoints);
  for (int i = 0; i < kPoints; ++i) {
    image[i] = cvPoint2D32f(100 + i % 50, 60 + i / 50);
    world[i] = cvPoint3D32f(i % 7, 2.0f * (i % 5), 30 + i % 3);
  }
  std::vector<char> mask(kPoints, 0);
  ASSERT_EQ(scene.SetPatches(image.data(), world.data(), mask.data(), 5), S_OK);
  EXPECT_EQ(scene.GetPatchCount(), 0);
  EXPECT_TRUE(Patches(Draw(scene)).empty()) << "an all-zero mask draws no patch";

  // Three of five points; uv from the texture size, 720 x 288 before any frame.
  mask[0] = mask[2] = mask[4] = 1;
  struct Size {
    int width, height;
  };
  for (Size size : {Size{720, 288}, Size{1440, 576}}) {
    SCOPED_TRACE(size.width);
    if (size.width != 720) {
      Image frame(Frame(size.width, size.height));
      ASSERT_EQ(scene.SetVideoTexture(frame.get()), S_OK);
    }
    ASSERT_EQ(scene.SetPatches(image.data(), world.data(), mask.data(), 5), S_OK);
    const auto patches = Patches(Draw(scene));
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(patches[0].numVertices, 12u);
    EXPECT_EQ(patches[0].primitiveCount, 6u);
    ASSERT_EQ(patches[0].vertices.size(), 12u);
    const CvPoint2D32f q = image[2];  // the second masked point
    const d3d9::RecordedVertex& corner = patches[0].vertices[4];
    EXPECT_NEAR(corner.u, (q.x - 5) / size.width, 1e-6);
    EXPECT_NEAR(corner.v, 1 - (q.y - 5) / size.height, 1e-6);
    EXPECT_NEAR(corner.x, world[2].x - 0.5f, 1e-5);
  }

  // Refusals change nothing.
  EXPECT_EQ(scene.SetPatches(image.data(), world.data(), mask.data(), -1), E_INVALIDARG);
  EXPECT_EQ(scene.SetPatches(nullptr, world.data(), mask.data(), 3), E_INVALIDARG);
  EXPECT_EQ(scene.GetPatchCount(), 3);

  // 600 masked points fill the 500 the buffers hold, and no more.
  std::fill(mask.begin(), mask.end(), 1);
  ASSERT_EQ(scene.SetPatches(image.data(), world.data(), mask.data(), kPoints), S_OK);
  EXPECT_EQ(scene.GetPatchCount(), 500);
  const auto full = Patches(Draw(scene));
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0].numVertices, 2000u);
  EXPECT_EQ(full[0].primitiveCount, 1000u);

  // A buffer that cannot be locked leaves no patch to draw.
  d3d9::GetFaults().failLockAt = 1;
  EXPECT_EQ(scene.SetPatches(image.data(), world.data(), mask.data(), 5), E_FAIL);
  d3d9::GetFaults().failLockAt = 0;
  EXPECT_EQ(scene.GetPatchCount(), 0);
  EXPECT_TRUE(Patches(Draw(scene)).empty());
}

TEST_F(SurgeryScene, ACaptureThreadFeedsWhileTheDeviceThreadDraws) {
  CD3DSurgeryScene scene;
  ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, nullptr), S_OK);
  std::vector<CvPoint2D32f> image(20, cvPoint2D32f(300, 100));
  std::vector<CvPoint3D32f> world(20, cvPoint3D32f(0, 0, 30));
  std::vector<char> mask(20, 1);
  std::atomic<bool> stop{false};
  std::atomic<int> fed{0};
  std::thread capture([&] {
    std::vector<Image> frames;
    for (int k = 0; k < 4; ++k) frames.emplace_back(Frame(720, 288, k));
    for (int k = 0; !stop; ++k) {
      scene.SetVideoTexture(frames[k % 4].get());
      scene.SetPatches(image.data(), world.data(), mask.data(), 1 + k % 20);
      ++fed;
    }
  });
  d3d9::ClearLog();
  for (int i = 0; i < 200 || fed < 20; ++i) {
    device->BeginScene();
    scene.DrawScene(device, &viewer);
    device->EndScene();
    if (i > 20000) break;
  }
  stop = true;
  capture.join();
  const auto log = d3d9::GetLog();
  EXPECT_TRUE(log.violations.empty()) << log.violations.front();
  EXPECT_GE(fed, 20);
}

TEST_F(SurgeryScene, NothingOfTheSceneOutlivesIt) {
  const int before = d3d9::LiveObjectCount();
  {
    CD3DSurgeryScene scene;
    Image frame(Frame(64, 16));
    ASSERT_EQ(scene.CreateScene(device, D3DFMT_X8R8G8B8, &rig, frame.get()), S_OK);
    CvPoint2D32f q = cvPoint2D32f(10, 8);
    CvPoint3D32f p = cvPoint3D32f(0, 0, 30);
    char one = 1;
    ASSERT_EQ(scene.SetPatches(&q, &p, &one, 1), S_OK);
    Draw(scene);
    // The device holds what was bound last, as a real one does.
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    device->SetTexture(0, nullptr);
    EXPECT_GT(d3d9::LiveObjectCount(), before);
  }
  EXPECT_EQ(d3d9::LiveObjectCount(), before);
}

}  // namespace
