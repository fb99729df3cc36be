// The recording back end: every misuse a debug runtime would refuse is
// refused and logged once; faults can be injected; counts are real.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "d3d9/d3d9.h"
#include "d3d9/recorder.h"
#include "d3d_presentation/d3d_presentation.h"
#include "fake_window_services.h"

namespace {

struct V {
  float x, y, z;
  D3DCOLOR c;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

class Recorder : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::ResetAll();
    d3d9::SelectBackend(d3d9::Backend::Recorder);
    liveBefore = d3d9::LiveObjectCount();
    window = windows.Add(320, 200);
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    ASSERT_EQ(CreateDevice(&device), S_OK);
    ASSERT_EQ(device->CreateVertexBuffer(3 * sizeof(V), D3DUSAGE_WRITEONLY, kFvf, D3DPOOL_DEFAULT, &vb, nullptr), S_OK);
    void* p = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &p, 0), S_OK);
    const V v[3] = {{0, 0, 0, 0xFF112233}, {1, 0, 0, 0xFF445566}, {0, 1, 0, 0xFF778899}};
    std::memcpy(p, v, sizeof v);
    ASSERT_EQ(vb->Unlock(), S_OK);
    ASSERT_EQ(device->CreateIndexBuffer(6, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr), S_OK);
    ASSERT_EQ(ib->Lock(0, 0, &p, 0), S_OK);
    const WORD idx[3] = {0, 1, 2};
    std::memcpy(p, idx, sizeof idx);
    ASSERT_EQ(ib->Unlock(), S_OK);
    Bind();
    d3d9::ClearLog();
  }
  void Bind() {
    device->SetFVF(kFvf);
    device->SetStreamSource(0, vb, 0, sizeof(V));
    device->SetIndices(ib);
  }
  void TearDown() override {
    if (ib) ib->Release();
    if (vb) vb->Release();
    if (device) device->Release();
    if (d3d) d3d->Release();
    EXPECT_EQ(d3d9::LiveObjectCount(), liveBefore);
    d3d9::ResetAll();
  }
  HRESULT CreateDevice(IDirect3DDevice9** out) {
    D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(true);
    return d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, out);
  }
  size_t Violations() { return d3d9::GetLog().violations.size(); }

 public:
  test::FakeWindowServices windows;
  HWND window = nullptr;
  int liveBefore = 0;
  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
};

struct MisuseCase {
  const char* name;
  std::function<HRESULT(Recorder&)> misuse;
  std::function<HRESULT(Recorder&)> correct;
};

HRESULT InScene(Recorder& r, const std::function<HRESULT()>& f) {
  r.device->BeginScene();
  const HRESULT hr = f();
  r.device->EndScene();
  return hr;
}

// Each row also checks that its setup calls logged nothing of their own.
const MisuseCase kMisuses[] = {
    {"draw outside a scene", [](Recorder& r) { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); }},
    {"unpaired EndScene", [](Recorder& r) { return r.device->EndScene(); },
     [](Recorder& r) { r.device->BeginScene(); return r.device->EndScene(); }},
    {"BeginScene twice",
     [](Recorder& r) { r.device->BeginScene(); const HRESULT hr = r.device->BeginScene(); r.device->EndScene(); return hr; },
     [](Recorder& r) { const HRESULT hr = r.device->BeginScene(); r.device->EndScene(); return hr; }},
    {"Present inside a scene",
     [](Recorder& r) { return InScene(r, [&] { return r.device->Present(nullptr, nullptr, nullptr, nullptr); }); },
     [](Recorder& r) { return r.device->Present(nullptr, nullptr, nullptr, nullptr); }},
    {"no stream source",
     [](Recorder& r) { r.device->SetStreamSource(0, nullptr, 0, 0); return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); }},
    {"unsupported FVF",
     [](Recorder& r) { r.device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL); return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); }},
    {"stride unlike the FVF",
     [](Recorder& r) { r.device->SetStreamSource(0, r.vb, 0, 12); return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_LINELIST, 0, 1); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_LINELIST, 0, 1); }); }},
    {"32-bit indices",
     [](Recorder& r) { IDirect3DIndexBuffer9* b = nullptr; return r.device->CreateIndexBuffer(12, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT, &b, nullptr); },
     [](Recorder& r) { IDirect3DIndexBuffer9* b = nullptr; const HRESULT hr = r.device->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &b, nullptr); b->Release(); return hr; }},
    {"indices past the index buffer",
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, 3, 2, 1); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, 3, 1, 1); }); }},
    {"index outside [MinIndex, MinIndex + NumVertices)",
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 2, 0, 1); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1); }); }},
    {"vertices past the vertex buffer",
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_LINELIST, 2, 1); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_LINELIST, 1, 1); }); }},
    {"indexed vertices past the vertex buffer",
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 3, 0, 1); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1); }); }},
    {"zero primitives",
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0); }); },
     [](Recorder& r) { return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); }},
    {"lock past the end", [](Recorder& r) { void* p; return r.vb->Lock(16, 48, &p, 0); },
     [](Recorder& r) { void* p; const HRESULT hr = r.vb->Lock(16, 32, &p, 0); r.vb->Unlock(); return hr; }},
    {"lock twice",
     [](Recorder& r) { void* p; r.vb->Lock(0, 0, &p, 0); const HRESULT hr = r.vb->Lock(0, 0, &p, 0); r.vb->Unlock(); return hr; },
     [](Recorder& r) { void* p; r.vb->Lock(0, 0, &p, 0); r.vb->Unlock(); const HRESULT hr = r.vb->Lock(0, 0, &p, 0); r.vb->Unlock(); return hr; }},
    {"unlock unlocked", [](Recorder& r) { return r.ib->Unlock(); },
     [](Recorder& r) { void* p; r.ib->Lock(0, 0, &p, 0); return r.ib->Unlock(); }},
    {"drawing locked data",
     [](Recorder& r) { void* p; r.vb->Lock(0, 0, &p, 0); const HRESULT hr = InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); r.vb->Unlock(); return hr; },
     [](Recorder& r) { void* p; r.vb->Lock(0, 0, &p, 0); r.vb->Unlock(); return InScene(r, [&] { return r.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }); }},
    {"READONLY lock of WRITEONLY data", [](Recorder& r) { void* p; return r.vb->Lock(0, 0, &p, D3DLOCK_READONLY); },
     [](Recorder& r) { void* p; const HRESULT hr = r.vb->Lock(0, 0, &p, D3DLOCK_DISCARD); r.vb->Unlock(); return hr; }},
    {"LockRect of a non-DYNAMIC default-pool texture",
     [](Recorder& r) {
       IDirect3DTexture9* t = nullptr;
       r.device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr);
       D3DLOCKED_RECT lr;
       const HRESULT hr = t->LockRect(0, &lr, nullptr, 0);
       t->Release();
       return hr;
     },
     [](Recorder& r) {
       IDirect3DTexture9* t = nullptr;
       r.device->CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr);
       D3DLOCKED_RECT lr;
       const HRESULT hr = t->LockRect(0, &lr, nullptr, 0);
       t->UnlockRect(0);
       t->Release();
       return hr;
     }},
    {"a foreign thread",
     [](Recorder& r) { HRESULT hr = S_OK; std::thread([&] { hr = r.device->SetRenderState(D3DRS_ZENABLE, FALSE); }).join(); return hr; },
     [](Recorder& r) { return r.device->SetRenderState(D3DRS_ZENABLE, FALSE); }},
};

TEST_F(Recorder, EachMisuseIsRefusedAndLoggedOnceAndTheCorrectCallIsNot) {
  for (const MisuseCase& c : kMisuses) {
    SCOPED_TRACE(c.name);
    Bind();
    d3d9::ClearLog();
    EXPECT_EQ(c.misuse(*this), D3DERR_INVALIDCALL);
    const auto log = d3d9::GetLog();
    EXPECT_EQ(log.violations.size(), 1u);
    Bind();
    d3d9::ClearLog();
    EXPECT_EQ(c.correct(*this), S_OK);
    EXPECT_EQ(Violations(), 0u) << d3d9::GetLog().violations.front();
  }
}

TEST_F(Recorder, LocksAndCreationWorkFromAnyThread) {
  std::thread([&] {
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), S_OK);
    EXPECT_EQ(vb->Unlock(), S_OK);
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &t, nullptr), S_OK);
    t->Release();
  }).join();
  EXPECT_EQ(Violations(), 0u);
}

TEST_F(Recorder, DrawRecordHoldsStateAndDecodedVertices) {
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->BeginScene();
  ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 1, 2, 1, 1), S_OK);
  device->EndScene();
  const auto log = d3d9::GetLog();
  ASSERT_EQ(log.draws.size(), 1u);
  const d3d9::DrawRecord& d = log.draws[0];
  EXPECT_EQ(d.primitive, D3DPT_LINELIST);
  EXPECT_EQ(d.primitiveCount, 1u);
  EXPECT_EQ(d.state.render[D3DRS_ZENABLE], DWORD(FALSE));
  EXPECT_EQ(d.state.render[D3DRS_CULLMODE], DWORD(D3DCULL_CCW));
  EXPECT_EQ(d.state.fvf, kFvf);
  ASSERT_EQ(d.indices, (std::vector<WORD>{1, 2}));
  ASSERT_EQ(d.vertices.size(), 2u);  // [MinIndex, MinIndex + NumVertices)
  EXPECT_EQ(d.vertices[0].diffuse, 0xFF445566u);
  EXPECT_EQ(d.vertices[1].y, 1.0f);
}

TEST_F(Recorder, DefaultStateIsThePlatforms) {
  DWORD v = 0;
  const std::pair<D3DRENDERSTATETYPE, DWORD> render[] = {
      {D3DRS_ZENABLE, D3DZB_TRUE}, {D3DRS_ZFUNC, D3DCMP_LESSEQUAL}, {D3DRS_LIGHTING, TRUE},
      {D3DRS_CULLMODE, D3DCULL_CCW}, {D3DRS_ALPHABLENDENABLE, FALSE}, {D3DRS_COLORWRITEENABLE, 0xF}};
  for (auto [state, value] : render) {
    device->GetRenderState(state, &v);
    EXPECT_EQ(v, value) << state;
  }
  device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, DWORD(D3DTOP_MODULATE));
  device->GetTextureStageState(0, D3DTSS_ALPHAOP, &v);
  EXPECT_EQ(v, DWORD(D3DTOP_SELECTARG1));
  device->GetTextureStageState(1, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, DWORD(D3DTOP_DISABLE));
  device->GetSamplerState(0, D3DSAMP_MINFILTER, &v);
  EXPECT_EQ(v, DWORD(D3DTEXF_POINT));
  device->GetSamplerState(0, D3DSAMP_ADDRESSU, &v);
  EXPECT_EQ(v, DWORD(D3DTADDRESS_WRAP));
  D3DVIEWPORT9 vp{};
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 320u);
  EXPECT_EQ(vp.Height, 200u);
}

TEST_F(Recorder, NewBuffersAndTexturesAreZeroFilled) {
  IDirect3DTexture9* t = nullptr;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), S_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), S_OK);
  EXPECT_EQ(lr.Pitch, 16);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<unsigned char*>(lr.pBits)[i], 0);
  t->UnlockRect(0);
  t->Release();
}

TEST_F(Recorder, BindingsKeepObjectsAliveWithoutChangingCounts) {
  EXPECT_EQ(vb->AddRef(), 2u);
  EXPECT_EQ(vb->Release(), 1u);
  const int live = d3d9::LiveObjectCount();
  // Bound as the stream: released by us, still there for the draw.
  EXPECT_EQ(vb->Release(), 0u);
  vb = nullptr;
  EXPECT_EQ(d3d9::LiveObjectCount(), live);
  device->BeginScene();
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), S_OK);
  device->EndScene();
  device->SetStreamSource(0, nullptr, 0, 0);
  EXPECT_EQ(d3d9::LiveObjectCount(), live - 1);

  IDirect3DTexture9* t = nullptr;
  device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t, nullptr);
  device->SetTexture(0, t);
  EXPECT_EQ(t->AddRef(), 2u);
  EXPECT_EQ(t->Release(), 1u);
  IDirect3DBaseTexture9* got = nullptr;
  device->GetTexture(0, &got);
  EXPECT_EQ(got, t);
  EXPECT_EQ(got->Release(), 1u);
  EXPECT_EQ(t->Release(), 0u);
  device->SetTexture(0, nullptr);
  EXPECT_EQ(Violations(), 0u);
}

TEST_F(Recorder, ResourcesKeepTheirDeviceAliveAndLeaksAreReported) {
  IDirect3DTexture9* t = nullptr;
  device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t, nullptr);
  ib->Release();
  ib = nullptr;
  vb->Release();
  vb = nullptr;
  EXPECT_EQ(device->Release(), 0u);
  device = nullptr;
  const auto log = d3d9::GetLog();
  ASSERT_EQ(log.violations.size(), 1u);
  EXPECT_NE(log.violations[0].find("alive"), std::string::npos);
  IDirect3DDevice9* owner = nullptr;
  EXPECT_EQ(t->GetDevice(&owner), S_OK);
  ASSERT_NE(owner, nullptr);
  owner->Release();
  t->Release();
}

TEST_F(Recorder, RecordingAStateBlockChangesNothing) {
  IDirect3DTexture9* t = nullptr;
  device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t, nullptr);
  ASSERT_EQ(device->BeginStateBlock(), S_OK);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetTexture(0, t);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  IDirect3DStateBlock9* block = nullptr;
  ASSERT_EQ(device->EndStateBlock(&block), S_OK);
  DWORD v = 0;
  device->GetRenderState(D3DRS_ZENABLE, &v);
  EXPECT_EQ(v, DWORD(D3DZB_TRUE));
  device->GetSamplerState(0, D3DSAMP_MAGFILTER, &v);
  EXPECT_EQ(v, DWORD(D3DTEXF_POINT));
  IDirect3DBaseTexture9* got = reinterpret_cast<IDirect3DBaseTexture9*>(1);
  device->GetTexture(0, &got);
  EXPECT_EQ(got, nullptr);

  // Apply sets what was recorded, texture included.
  ASSERT_EQ(block->Apply(), S_OK);
  device->GetRenderState(D3DRS_ZENABLE, &v);
  EXPECT_EQ(v, DWORD(FALSE));
  device->GetTexture(0, &got);
  EXPECT_EQ(got, t);
  got->Release();

  // Capture takes the present values of the recorded states only.
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetTexture(0, nullptr);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  ASSERT_EQ(block->Capture(), S_OK);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetTexture(0, t);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  block->Apply();
  device->GetRenderState(D3DRS_ZENABLE, &v);
  EXPECT_EQ(v, DWORD(D3DZB_TRUE));
  device->GetRenderState(D3DRS_LIGHTING, &v);
  EXPECT_EQ(v, DWORD(TRUE));
  device->GetTexture(0, &got);
  EXPECT_EQ(got, nullptr);
  // The block's texture binding does not show in the count.
  device->SetTexture(0, t);
  block->Capture();
  device->SetTexture(0, nullptr);
  EXPECT_EQ(t->Release(), 0u);
  EXPECT_EQ(block->Release(), 0u);
  EXPECT_EQ(Violations(), 0u);
}

TEST_F(Recorder, FaultInjection) {
  d3d9::Faults& f = d3d9::GetFaults();
  f.failCreateAt = 2;
  IDirect3DVertexBuffer9* a = nullptr;
  IDirect3DVertexBuffer9* b = nullptr;
  EXPECT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &a, nullptr), S_OK);
  EXPECT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &b, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &b, nullptr), S_OK);
  b->Release();

  f.failLockAt = 1;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(a->Lock(0, 0, &p, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(a->Lock(0, 0, &p, 0), S_OK);
  a->Unlock();
  a->Release();

  f.refuseDynamic = true;
  EXPECT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT, &b, nullptr), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &b, nullptr), S_OK);
  b->Release();

  f.maxTextureSize = 256;
  IDirect3DDevice9* small = nullptr;
  ASSERT_EQ(CreateDevice(&small), S_OK);
  D3DCAPS9 caps{};
  small->GetDeviceCaps(&caps);
  EXPECT_EQ(caps.MaxTextureWidth, 256u);
  IDirect3DTexture9* t = nullptr;
  EXPECT_EQ(small->CreateTexture(512, 512, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(small->CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &t, nullptr), S_OK);
  t->Release();
  small->Release();

  f.failCreateDevice = true;
  EXPECT_EQ(CreateDevice(&small), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(small, nullptr);
  f.noDirect3D = true;
  EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
}

TEST_F(Recorder, BackBufferTakesTheClientSizeAtLeastOnePixel) {
  HWND empty = windows.Add(0, 0);
  D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(false);
  IDirect3DDevice9* d = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, empty, 0x20, &pp, &d), S_OK);
  EXPECT_EQ(pp.BackBufferWidth, 1u);
  EXPECT_EQ(pp.BackBufferHeight, 1u);
  D3DDEVICE_CREATION_PARAMETERS cp{};
  d->GetCreationParameters(&cp);
  EXPECT_EQ(cp.hFocusWindow, empty);
  EXPECT_EQ(cp.BehaviorFlags, 0x20u);
  D3DDISPLAYMODE mode{};
  d->GetDisplayMode(0, &mode);
  EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
  d->Release();
}

}  // namespace
