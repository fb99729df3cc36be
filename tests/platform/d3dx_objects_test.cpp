// D3DX meshes, lines and fonts on the recording back end.
#include <gtest/gtest.h>

#include <cstring>

#include "d3d9/d3dx9mesh.h"
#include "d3d9/recorder.h"
#include "d3d_presentation/d3d_presentation.h"
#include "fake_window_services.h"

namespace {

struct MeshVertex {
  float x, y, z, nx, ny, nz;
  D3DCOLOR c;
  float u, v;
};
constexpr DWORD kMeshFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class D3dxObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::ResetAll();
    d3d9::SelectBackend(d3d9::Backend::Recorder);
    live = d3d9::LiveObjectCount();
    window = windows.Add(200, 100);
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(true);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &device), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(device->Release(), 0u);
    d3d->Release();
    EXPECT_EQ(d3d9::LiveObjectCount(), live);
    const auto log = d3d9::GetLog();
    EXPECT_TRUE(log.violations.empty()) << (log.violations.empty() ? std::string() : log.violations.front());
    d3d9::ResetAll();
  }

  // Two triangles of a unit square in z = 0, clockwise seen from -z, with a
  // duplicate of vertex 1 and an unused vertex at the end.
  ID3DXMesh* Square(DWORD options = D3DXMESH_MANAGED) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMeshFVF(2, 6, options, kMeshFvf, device, &mesh), S_OK);
    MeshVertex* v = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v)), S_OK);
    const MeshVertex square[6] = {{0, 0, 0, 0, 0, 0, 0xFF000001, 0, 1}, {0, 1, 0, 0, 0, 0, 0xFF000002, 0, 0},
                                  {1, 0, 0, 0, 0, 0, 0xFF000003, 1, 1}, {1, 1, 0, 0, 0, 0, 0xFF000004, 1, 0},
                                  {0, 1, 0, 0, 0, 0, 0xFF000005, 0, 0}, {9, 9, 9, 0, 0, 0, 0xFF000006, 0, 0}};
    std::memcpy(v, square, sizeof square);
    mesh->UnlockVertexBuffer();
    WORD* i = nullptr;
    EXPECT_EQ(mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&i)), S_OK);
    const WORD idx[6] = {0, 1, 2, 2, 4, 3};
    std::memcpy(i, idx, sizeof idx);
    mesh->UnlockIndexBuffer();
    return mesh;
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

TEST_F(D3dxObjects, MeshCreationRefusesWhatSixteenBitIndicesCannotHold) {
  ID3DXMesh* mesh = reinterpret_cast<ID3DXMesh*>(1);
  EXPECT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_32BIT, kMeshFvf, device, &mesh), D3DERR_INVALIDCALL);
  EXPECT_EQ(mesh, nullptr);
  EXPECT_EQ(D3DXCreateMeshFVF(1, 65536, 0, kMeshFvf, device, &mesh), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXCreateMeshFVF(1, 3, 0, D3DFVF_XYZ | 0x1000, device, &mesh), D3DERR_INVALIDCALL);
  ASSERT_EQ(D3DXCreateMeshFVF(1, 65535, 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, device, &mesh), S_OK);
  EXPECT_EQ(mesh->GetNumBytesPerVertex(), 16u);
  mesh->Release();
}

TEST_F(D3dxObjects, DrawSubsetDrawsTheFacesOfOneAttribute) {
  ID3DXMesh* mesh = Square();
  DWORD* attributes = nullptr;
  ASSERT_EQ(mesh->LockAttributeBuffer(0, &attributes), S_OK);
  attributes[1] = 1;
  mesh->UnlockAttributeBuffer();
  const auto draws = InScene([&] { EXPECT_EQ(mesh->DrawSubset(0), S_OK); });
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].primitiveCount, 1u);
  EXPECT_EQ(draws[0].indices, (std::vector<WORD>{0, 1, 2}));
  EXPECT_EQ(draws[0].state.fvf, kMeshFvf);
  device->SetStreamSource(0, nullptr, 0, 0);
  device->SetIndices(nullptr);
  mesh->Release();
}

TEST_F(D3dxObjects, OptimizeWeldCloneAndNormals) {
  ID3DXMesh* mesh = Square();
  ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_COMPACT, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(mesh->GetNumVertices(), 5u);  // the unused vertex went
  ASSERT_EQ(D3DXWeldVertices(mesh, D3DXWELDEPSILONS_WELDALL, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(mesh->GetNumVertices(), 4u);  // the duplicate went
  WORD* i = nullptr;
  mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&i));
  EXPECT_EQ(i[4], 1);
  mesh->UnlockIndexBuffer();

  ASSERT_EQ(D3DXComputeNormals(mesh, nullptr), S_OK);
  MeshVertex* v = nullptr;
  mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
  for (int k = 0; k < 4; ++k) {
    EXPECT_FLOAT_EQ(v[k].nz, -1.0f) << k;  // towards a viewer at -z
  }
  mesh->UnlockVertexBuffer();

  ID3DXMesh* clone = nullptr;
  ASSERT_EQ(mesh->CloneMeshFVF(D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_DIFFUSE, device, &clone), S_OK);
  EXPECT_EQ(clone->GetNumVertices(), 4u);
  EXPECT_EQ(clone->GetNumFaces(), 2u);
  struct Small {
    float x, y, z;
    D3DCOLOR c;
  }* s = nullptr;
  clone->LockVertexBuffer(0, reinterpret_cast<void**>(&s));
  EXPECT_EQ(s[2].c, 0xFF000003u);
  EXPECT_FLOAT_EQ(s[3].y, 1.0f);
  clone->UnlockVertexBuffer();
  ID3DXMesh* noNormals = clone;
  EXPECT_EQ(D3DXComputeNormals(noNormals, nullptr), D3DERR_INVALIDCALL);
  clone->Release();
  mesh->Release();
}

TEST_F(D3dxObjects, LineDrawsScreenQuadsAndRestoresState) {
  ID3DXLine* line = nullptr;
  ASSERT_EQ(D3DXCreateLine(device, &line), S_OK);
  line->SetWidth(3.0f);
  line->SetAntialias(TRUE);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  const D3DXVECTOR2 points[3] = {{10, 10}, {50, 10}, {50, 40}};
  const auto draws = InScene([&] {
    ASSERT_EQ(line->Begin(), S_OK);
    EXPECT_EQ(line->Draw(points, 3, 0xFF00FF00), S_OK);
    EXPECT_EQ(line->End(), S_OK);
  });
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].vertices.size(), 12u);
  EXPECT_EQ(draws[0].state.render[D3DRS_ZENABLE], DWORD(D3DZB_FALSE));
  EXPECT_FLOAT_EQ(draws[0].vertices[0].y, 11.5f);
  DWORD z = 0;
  device->GetRenderState(D3DRS_ZENABLE, &z);
  EXPECT_EQ(z, DWORD(D3DZB_TRUE));
  EXPECT_EQ(line->Draw(points, 1, 0), D3DERR_INVALIDCALL);
  line->Release();
}

TEST_F(D3dxObjects, FontMeasuresCentresAndRestoresState) {
  ID3DXFont* font = nullptr;
  ASSERT_EQ(D3DXCreateFontA(device, -14, 0, 400, 1, FALSE, 0, 0, 0, 0, "Verdana", &font), S_OK);
  RECT r{10, 20, 10, 20};
  const INT h = font->DrawTextA(nullptr, "Hello", -1, &r, DT_CALCRECT, 0xFFFFFFFF);
  EXPECT_GT(h, 0);
  EXPECT_EQ(r.bottom - r.top, h);
  const LONG width = r.right - r.left;
  EXPECT_GT(width, 10);
  EXPECT_TRUE(d3d9::GetLog().draws.empty());

  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  RECT box{0, 0, 200, 100};
  const auto draws = InScene([&] { EXPECT_EQ(font->DrawTextA(nullptr, "Hello", -1, &box, DT_CENTER | DT_VCENTER, 0xFFFF0000), h); });
  ASSERT_EQ(draws.size(), 1u);
  ASSERT_EQ(draws[0].vertices.size(), 30u);
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f;
  for (const auto& v : draws[0].vertices) minX = std::min(minX, v.x), maxX = std::max(maxX, v.x), minY = std::min(minY, v.y);
  EXPECT_NEAR(minX + 0.5f, (200 - width) / 2.0f, 1.0f);
  EXPECT_NEAR(maxX - minX, float(width), 1.0f);
  EXPECT_NEAR(minY + 0.5f, (100 - h) / 2.0f, 1.0f);
  DWORD cull = 0;
  device->GetRenderState(D3DRS_CULLMODE, &cull);
  EXPECT_EQ(cull, DWORD(D3DCULL_CW));
  IDirect3DBaseTexture9* t = reinterpret_cast<IDirect3DBaseTexture9*>(1);
  device->GetTexture(0, &t);
  EXPECT_EQ(t, nullptr);
  ID3DXFont* none = nullptr;
  EXPECT_EQ(D3DXCreateFontA(device, 0, 0, 400, 1, FALSE, 0, 0, 0, 0, "Verdana", &none), E_FAIL);
  EXPECT_EQ(none, nullptr);
  device->SetStreamSource(0, nullptr, 0, 0);
  font->Release();
}

}  // namespace
