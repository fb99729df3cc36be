// The texture-atlas font on the recording back end (and one GL frame).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "d3d/d3dfont.h"
#include "d3d9/recorder.h"
#include "d3d_presentation/d3d_presentation.h"
#include "fake_window_services.h"

namespace {

using D3D::CD3DFont;

class FontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::ResetAll();
    d3d9::SelectBackend(d3d9::Backend::Recorder);
    window = windows.Add(320, 240);
  }
  void TearDown() override {
    if (device) {
      EXPECT_EQ(device->Release(), 0u);
    }
    if (d3d) d3d->Release();
    const auto log = d3d9::GetLog();
    EXPECT_TRUE(log.violations.empty()) << (log.violations.empty() ? std::string() : log.violations.front());
    d3d9::ResetAll();
  }
  void MakeDevice() {
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(true);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &device), S_OK);
  }
  // The draws of one DrawTextA call.
  std::vector<d3d9::DrawRecord> Draw(CD3DFont& font, const char* text, float x = 10, float y = 20) {
    d3d9::ClearLog();
    device->BeginScene();
    EXPECT_EQ(font.DrawTextA(x, y, 0xFFFFFF00, text), S_OK);
    device->EndScene();
    return d3d9::GetLog().draws;
  }
  static size_t Vertices(const std::vector<d3d9::DrawRecord>& draws) {
    size_t n = 0;
    for (const auto& d : draws) n += d.vertices.size();
    return n;
  }

  test::FakeWindowServices windows;
  HWND window = nullptr;
  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* device = nullptr;
};

TEST_F(FontTest, DrawingNeedsInitAndRestoreAndFailsAfterInvalidate) {
  CD3DFont font("Verdana", 10, D3D::D3DFONT_BOLD);
  EXPECT_EQ(font.DrawTextA(0, 0, 0xFFFFFFFF, "x"), E_FAIL);
  EXPECT_EQ(font.Render3DText("x", 0xFFFFFFFF), E_FAIL);
  MakeDevice();
  ASSERT_EQ(font.InitDeviceObjects(device), S_OK);
  EXPECT_EQ(font.DrawTextA(0, 0, 0xFFFFFFFF, "x"), E_FAIL);
  ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
  EXPECT_EQ(Draw(font, "x").size(), 1u);
  font.InvalidateDeviceObjects();
  EXPECT_EQ(font.DrawTextA(0, 0, 0xFFFFFFFF, "x"), E_FAIL);
  EXPECT_EQ(font.DrawTextScaled(0, 0, 0.5f, 1, 1, 0xFFFFFFFF, "x"), E_FAIL);
  font.DeleteDeviceObjects();
  SIZE size{};
  EXPECT_EQ(font.GetTextExtent(nullptr, &size), E_FAIL);
  EXPECT_EQ(font.GetTextExtent("x", nullptr), E_FAIL);
}

TEST_F(FontTest, FaceNameIsCutTo79Characters) {
  const std::string longName(90, 'F');
  CD3DFont font(longName.c_str(), 10);
  EXPECT_EQ(std::strlen(font.GetFaceName()), 79u);
}

TEST_F(FontTest, GlyphBoxesLieInTheTextureAndDoNotOverlap) {
  MakeDevice();
  CD3DFont font("Verdana", 10, D3D::D3DFONT_BOLD);
  ASSERT_EQ(font.InitDeviceObjects(device), S_OK);
  EXPECT_FLOAT_EQ(font.GetTextScale(), 1.0f);
  for (int c = 32; c < 127; ++c) {
    const float* g = font.GetGlyph(static_cast<unsigned char>(c));
    for (int i = 0; i < 4; ++i) {
      EXPECT_GE(g[i], 0.0f) << c;
      EXPECT_LE(g[i], 1.0f) << c;
    }
    EXPECT_LT(g[0], g[2]) << c;
    EXPECT_LT(g[1], g[3]) << c;
    for (int d = 32; d < c; ++d) {
      const float* h = font.GetGlyph(static_cast<unsigned char>(d));
      const bool apart = g[2] <= h[0] || h[2] <= g[0] || g[3] <= h[1] || h[3] <= g[1];
      EXPECT_TRUE(apart) << c << " overlaps " << d;
    }
  }
  const float* del = font.GetGlyph(127);
  EXPECT_EQ(del[0] + del[1] + del[2] + del[3], 0.0f);
}

TEST_F(FontTest, AtlasShrinksToTheMaximumTextureSizeOrFails) {
  d3d9::GetFaults().maxTextureSize = 128;
  MakeDevice();
  CD3DFont big("Verdana", 40, D3D::D3DFONT_BOLD);
  ASSERT_EQ(big.InitDeviceObjects(device), S_OK);
  EXPECT_LT(big.GetTextScale(), 1.0f);
  EXPECT_EQ(big.GetTextureWidth(), 128u);
  ASSERT_EQ(big.RestoreDeviceObjects(), S_OK);
  EXPECT_FALSE(Draw(big, "Big").empty());

  d3d9::GetFaults().maxTextureSize = 8;
  IDirect3DDevice9* tiny = nullptr;
  D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(false);
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &tiny), S_OK);
  CD3DFont font("Verdana", 40);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(font.InitDeviceObjects(tiny), E_FAIL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(font.GetTexture(), nullptr);
  font.DeleteDeviceObjects();
  big.InvalidateDeviceObjects();
  big.DeleteDeviceObjects();
  tiny->Release();
}

TEST(FontTexel, TopNibbleOfTheLowByteIsAlphaOverWhite) {
  const struct {
    DWORD pixel;
    WORD texel;
  } cases[] = {{0x00, 0x0000}, {0x0F, 0x0000}, {0x10, 0x1FFF}, {0xFF, 0xFFFF}, {0xFFFFFF80, 0x8FFF}};
  for (const auto& c : cases) EXPECT_EQ(CD3DFont::AtlasTexel(c.pixel), c.texel) << c.pixel;
}

class ReadyFont : public FontTest {
 protected:
  void SetUp() override {
    FontTest::SetUp();
    MakeDevice();
    ASSERT_EQ(font.InitDeviceObjects(device), S_OK);
    ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
  }
  void TearDown() override {
    font.InvalidateDeviceObjects();
    font.DeleteDeviceObjects();
    FontTest::TearDown();
  }
  CD3DFont font{"Verdana", 10, D3D::D3DFONT_BOLD};
};

TEST_F(ReadyFont, QuadsSitHalfAPixelUpLeftAtDepthPointNine) {
  const auto draws = Draw(font, "AB", 10, 20);
  ASSERT_EQ(draws.size(), 1u);
  const auto& d = draws[0];
  EXPECT_EQ(d.primitive, D3DPT_TRIANGLELIST);
  EXPECT_EQ(d.state.fvf, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  ASSERT_EQ(d.vertices.size(), 12u);
  float minX = 1e9f, minY = 1e9f;
  for (const auto& v : d.vertices) {
    EXPECT_FLOAT_EQ(v.z, 0.9f);
    EXPECT_FLOAT_EQ(v.rhw, 1.0f);
    EXPECT_EQ(v.diffuse, 0xFFFFFF00u);
    minX = std::min(minX, v.x);
    minY = std::min(minY, v.y);
  }
  EXPECT_FLOAT_EQ(minX, 10.0f - font.GetSpacing() - 0.5f);
  EXPECT_FLOAT_EQ(minY, 20.0f - 0.5f);
  // The drawing state: atlas texture, alpha test at 8.
  EXPECT_EQ(d.state.texture0, font.GetTexture());
  EXPECT_EQ(d.state.render[D3DRS_ALPHATESTENABLE], DWORD(TRUE));
  EXPECT_EQ(d.state.render[D3DRS_ALPHAREF], 8u);
}

TEST_F(ReadyFont, SpacesAdvanceAndUnprintableCharactersAreSkipped) {
  const float a = Draw(font, "A")[0].vertices[0].x;
  const float spaced = Draw(font, " A")[0].vertices[0].x;
  const float advance = (font.GetGlyph(' ')[2] - font.GetGlyph(' ')[0]) * font.GetTextureWidth() - 2.0f * font.GetSpacing();
  EXPECT_FLOAT_EQ(spaced - a, advance);
  const char skipped[] = {'A', 1, 31, 127, char(200), 'B', 0};
  const auto withJunk = Draw(font, skipped);
  const auto plain = Draw(font, "AB");
  ASSERT_EQ(withJunk.size(), 1u);
  ASSERT_EQ(withJunk[0].vertices.size(), 12u);
  for (size_t i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(withJunk[0].vertices[i].x, plain[0].vertices[i].x);
  // A newline returns to the starting x one line lower.
  const auto lines = Draw(font, "A\nA", 10, 20);
  ASSERT_EQ(lines[0].vertices.size(), 12u);
  EXPECT_FLOAT_EQ(lines[0].vertices[6].x, lines[0].vertices[0].x);
  const float lineHeight = (font.GetGlyph(' ')[3] - font.GetGlyph(' ')[1]) * font.GetTextureHeight();
  EXPECT_FLOAT_EQ(lines[0].vertices[6].y - lines[0].vertices[0].y, lineHeight);
}

TEST_F(ReadyFont, LongTextIsDrawnInBatches) {
  const auto draws = Draw(font, std::string(60, 'M').c_str());
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(Vertices(draws), 360u);
}

TEST_F(ReadyFont, StatesAreRestoredAfterText) {
  IDirect3DTexture9* mine = nullptr;
  device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &mine, nullptr);
  device->SetTexture(0, mine);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  Draw(font, "text");
  DWORD v = 0;
  device->GetRenderState(D3DRS_ZENABLE, &v);
  EXPECT_EQ(v, DWORD(FALSE));
  device->GetRenderState(D3DRS_CULLMODE, &v);
  EXPECT_EQ(v, DWORD(D3DCULL_NONE));
  device->GetRenderState(D3DRS_ALPHATESTENABLE, &v);
  EXPECT_EQ(v, DWORD(FALSE));
  device->GetSamplerState(0, D3DSAMP_MAGFILTER, &v);
  EXPECT_EQ(v, DWORD(D3DTEXF_LINEAR));
  IDirect3DBaseTexture9* t = nullptr;
  device->GetTexture(0, &t);
  EXPECT_EQ(t, mine);
  t->Release();
  device->SetTexture(0, nullptr);
  mine->Release();
}

TEST_F(ReadyFont, Render3DTextUsesWorldVerticesWithoutCulling) {
  d3d9::ClearLog();
  device->BeginScene();
  ASSERT_EQ(font.Render3DText("AB", 0xFFFFFFFF), S_OK);
  D3DXMATRIX world;
  D3DXMatrixTranslation(&world, 1, 2, 3);
  ASSERT_EQ(font.Render3DTextFontFacing("AB", &world, 0xFFFFFFFF), S_OK);
  device->EndScene();
  const auto log = d3d9::GetLog();
  ASSERT_EQ(log.draws.size(), 2u);
  EXPECT_EQ(log.draws[0].state.fvf, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  EXPECT_EQ(log.draws[0].state.render[D3DRS_CULLMODE], DWORD(D3DCULL_NONE));
  EXPECT_EQ(log.draws[1].state.world._43, 3.0f);
  D3DXMATRIX after;
  device->GetTransform(D3DTS_WORLD, &after);
  EXPECT_EQ(after._43, 0.0f);
}

class ShrunkFont : public FontTest {};

TEST_F(ShrunkFont, ExtentsMatchTheDrawnQuads) {
  d3d9::GetFaults().maxTextureSize = 256;
  MakeDevice();
  CD3DFont font("Verdana", 30, D3D::D3DFONT_BOLD);
  ASSERT_EQ(font.InitDeviceObjects(device), S_OK);
  ASSERT_LT(font.GetTextScale(), 1.0f);
  ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
  const char* text = "Wide text\nline";
  SIZE extent{};
  ASSERT_EQ(font.GetTextExtent(text, &extent), S_OK);
  const auto draws = Draw(font, text, 0, 0);
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
  for (const auto& d : draws)
    for (const auto& v : d.vertices) {
      minX = std::min(minX, v.x), maxX = std::max(maxX, v.x);
      minY = std::min(minY, v.y), maxY = std::max(maxY, v.y);
    }
  // Quads include the spacing on both sides of each glyph.
  const float spacing = float(font.GetSpacing());
  EXPECT_NEAR(maxX - minX, extent.cx + 2 * spacing, 1.5f);
  EXPECT_NEAR(maxY - minY, extent.cy, 1.5f);
  font.InvalidateDeviceObjects();
  font.DeleteDeviceObjects();
}

TEST(FontOnGl, TextStaysInsideItsExtent) {
  d3d9::ResetAll();
  test::FakeWindowServices windows;
  HWND window = windows.Add(160, 60);
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp = d3dtest::WindowedPresentation(true);
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x20, &pp, &device), S_OK);
  {
    CD3DFont font("Verdana", 12, D3D::D3DFONT_BOLD);
    ASSERT_EQ(font.InitDeviceObjects(device), S_OK);
    ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
    const char* text = "Hello 3D";
    SIZE extent{};
    font.GetTextExtent(text, &extent);
    const int x0 = 20, y0 = 15;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    ASSERT_EQ(font.DrawTextA(float(x0), float(y0), 0xFFFFFFFF, text), S_OK);
    device->EndScene();
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK);
    int lit = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 160; ++x) {
        if ((windows.Pixel(window, x, y) & 0x00FFFFFF) == 0) continue;
        ++lit;
        EXPECT_GE(x, x0 - 2);
        EXPECT_LT(x, x0 + extent.cx + 2);
        EXPECT_GE(y, y0 - 2);
        EXPECT_LT(y, y0 + extent.cy + 2);
      }
    EXPECT_GT(lit, 20);
    font.InvalidateDeviceObjects();
    font.DeleteDeviceObjects();
  }
  EXPECT_EQ(device->Release(), 0u);
  d3d->Release();
  EXPECT_TRUE(d3d9::GetLog().violations.empty());
}

}  // namespace
