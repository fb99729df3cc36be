#include "d3d/d3dfont.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "d3d9/atlas_rasteriser.h"

namespace D3D {

namespace {

constexpr UINT kBufferBytes = 10800;
// Drawn once this many vertices wait, leaving room for one more glyph.
constexpr UINT kFlushAbove = 294;
constexpr int kShrinkTries = 20;

struct ScreenVertex {
  float x, y, z, rhw;
  DWORD colour;
  float u, v;
};
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct WorldVertex {
  float x, y, z;
  float nx, ny, nz;
  DWORD colour;
  float u, v;
};
constexpr DWORD kWorldFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

bool Printable(unsigned char c) { return c >= 32 && c <= 126; }

int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>((p >= 0 ? p + c / 2 : p - c / 2) / c);
}

// Measures (paint false) or paints the alphabet; D3DERR_MOREDATA when it
// does not fit the texture.
HRESULT PaintAlphabet(d3d9::AtlasRasteriser& r, bool paint, DWORD texWidth, DWORD texHeight, DWORD* spacing,
                      float (*glyphs)[4]) {
  const LONG lineHeight = r.Extent("x", 1).cy;
  const DWORD space = DWORD(std::ceil(lineHeight * 0.3f));
  *spacing = space;
  LONG x = LONG(space), y = 0;
  for (int c = 32; c < 127; ++c) {
    const char ch = char(c);
    const SIZE size = r.Extent(&ch, 1);
    if (x + size.cx + LONG(space) > LONG(texWidth)) {
      x = LONG(space);
      y += lineHeight + 1;
    }
    if (y + lineHeight > LONG(texHeight)) return D3DERR_MOREDATA;
    if (paint) {
      r.DrawOpaque(x, y, &ch, 1);
      float* g = glyphs[c - 32];
      g[0] = float(x - LONG(space)) / texWidth;
      g[1] = float(y) / texHeight;
      g[2] = float(x + size.cx + LONG(space)) / texWidth;
      g[3] = float(y + lineHeight) / texHeight;
    }
    x += size.cx + 2 * LONG(space);
  }
  return S_OK;
}

template <class T>
void SafeRelease(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace

WORD CD3DFont::AtlasTexel(DWORD pixel) {
  const WORD alpha = WORD((pixel & 0xFF) >> 4);
  return alpha ? WORD((alpha << 12) | 0x0FFF) : WORD(0);
}

CD3DFont::CD3DFont(const char* faceName, DWORD height, DWORD flags) : m_dwFontHeight(height), m_dwFontFlags(flags) {
  std::memset(m_strFontName, 0, sizeof m_strFontName);
  if (faceName) std::strncpy(m_strFontName, faceName, sizeof m_strFontName - 1);
  std::memset(m_fTexCoords, 0, sizeof m_fTexCoords);
}

CD3DFont::~CD3DFont() {
  InvalidateDeviceObjects();
  SafeRelease(m_pTexture);
}

HRESULT CD3DFont::InitDeviceObjects(IDirect3DDevice9* device) {
  if (!device) return E_FAIL;
  SafeRelease(m_pTexture);
  m_pd3dDevice = device;
  m_fTextScale = 1.0f;
  std::memset(m_fTexCoords, 0, sizeof m_fTexCoords);

  std::unique_ptr<d3d9::AtlasRasteriser> r = d3d9::CreateAtlasRasteriser();
  const auto selectFont = [&] {
    const int pixels = MulDiv(int(m_dwFontHeight), int(r->LogPixelsY() * m_fTextScale), 72);
    if (pixels == 0) return false;
    return r->SelectFont(m_strFontName, -pixels, (m_dwFontFlags & D3DFONT_BOLD) ? 700 : 400,
                         (m_dwFontFlags & D3DFONT_ITALIC) != 0);
  };
  if (!selectFont()) return E_FAIL;

  D3DCAPS9 caps{};
  device->GetDeviceCaps(&caps);
  m_dwTexWidth = m_dwTexHeight = 128;
  HRESULT hr;
  while ((hr = PaintAlphabet(*r, false, m_dwTexWidth, m_dwTexHeight, &m_dwSpacing, m_fTexCoords)) == D3DERR_MOREDATA) {
    if (m_dwTexWidth >= 65536) return E_FAIL;
    m_dwTexWidth *= 2;
    m_dwTexHeight *= 2;
  }
  if (FAILED(hr)) return hr;

  if (m_dwTexWidth > caps.MaxTextureWidth) {
    m_fTextScale = float(caps.MaxTextureWidth) / m_dwTexWidth;
    m_dwTexWidth = m_dwTexHeight = caps.MaxTextureWidth;
    // Shrink the font until the alphabet fits; a font too small to draw, or
    // one that never fits, is a failure rather than an endless loop.
    bool fits = false;
    for (int attempt = 0; attempt < kShrinkTries && !fits; ++attempt) {
      if (attempt > 0) m_fTextScale *= 0.9f;
      if (!selectFont()) return E_FAIL;
      hr = PaintAlphabet(*r, false, m_dwTexWidth, m_dwTexHeight, &m_dwSpacing, m_fTexCoords);
      if (FAILED(hr) && hr != D3DERR_MOREDATA) return hr;
      fits = hr == S_OK;
    }
    if (!fits) return E_FAIL;
  }

  hr = device->CreateTexture(m_dwTexWidth, m_dwTexHeight, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &m_pTexture, nullptr);
  if (FAILED(hr)) return hr;
  if (!r->CreateSurface(int(m_dwTexWidth), int(m_dwTexHeight))) return E_FAIL;
  hr = PaintAlphabet(*r, true, m_dwTexWidth, m_dwTexHeight, &m_dwSpacing, m_fTexCoords);
  if (FAILED(hr)) return hr;

  D3DLOCKED_RECT locked{};
  hr = m_pTexture->LockRect(0, &locked, nullptr, 0);
  if (FAILED(hr)) return hr;
  const std::uint32_t* pixels = r->Pixels();
  for (DWORD y = 0; y < m_dwTexHeight; ++y) {
    WORD* row = reinterpret_cast<WORD*>(static_cast<std::uint8_t*>(locked.pBits) + std::size_t(y) * locked.Pitch);
    for (DWORD x = 0; x < m_dwTexWidth; ++x) row[x] = AtlasTexel(pixels[std::size_t(y) * m_dwTexWidth + x]);
  }
  m_pTexture->UnlockRect(0);
  return S_OK;
}

HRESULT CD3DFont::RestoreDeviceObjects() {
  if (!m_pd3dDevice || !m_pTexture) return E_FAIL;
  InvalidateDeviceObjects();
  HRESULT hr = m_pd3dDevice->CreateVertexBuffer(kBufferBytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT,
                                                &m_pVB, nullptr);
  if (FAILED(hr)) return hr;

  bool blending = false;
  IDirect3D9* d3d = nullptr;
  if (SUCCEEDED(m_pd3dDevice->GetDirect3D(&d3d))) {
    D3DDEVICE_CREATION_PARAMETERS creation{};
    D3DDISPLAYMODE mode{};
    m_pd3dDevice->GetCreationParameters(&creation);
    m_pd3dDevice->GetDisplayMode(0, &mode);
    blending = SUCCEEDED(d3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format,
                                                D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING,
                                                D3DRTYPE_SURFACE, mode.Format));
    d3d->Release();
  }

  IDirect3DDevice9* d = m_pd3dDevice;
  for (IDirect3DStateBlock9** block : {&m_pStateBlockSaved, &m_pStateBlockDrawText}) {
    hr = d->BeginStateBlock();
    if (FAILED(hr)) {
      InvalidateDeviceObjects();
      return hr;
    }
    d->SetTexture(0, m_pTexture);
    d->SetRenderState(D3DRS_ZENABLE, (m_dwFontFlags & D3DFONT_ZENABLE) ? D3DZB_TRUE : D3DZB_FALSE);
    if (blending) {
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
      d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    } else {
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 0x08);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    d->SetRenderState(D3DRS_CLIPPING, TRUE);
    d->SetRenderState(D3DRS_CLIPPLANEENABLE, FALSE);
    d->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    d->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN |
                                                  D3DCOLORWRITEENABLE_BLUE | D3DCOLORWRITEENABLE_ALPHA);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    hr = d->EndStateBlock(block);
    if (FAILED(hr)) {
      InvalidateDeviceObjects();
      return hr;
    }
  }
  return S_OK;
}

HRESULT CD3DFont::InvalidateDeviceObjects() {
  SafeRelease(m_pVB);
  SafeRelease(m_pStateBlockSaved);
  SafeRelease(m_pStateBlockDrawText);
  return S_OK;
}

HRESULT CD3DFont::DeleteDeviceObjects() {
  SafeRelease(m_pTexture);
  m_pd3dDevice = nullptr;
  return S_OK;
}

bool CD3DFont::ReadyToDraw() const {
  return m_pd3dDevice && m_pTexture && m_pVB && m_pStateBlockSaved && m_pStateBlockDrawText;
}

float CD3DFont::LineHeight() const { return (m_fTexCoords[0][3] - m_fTexCoords[0][1]) * m_dwTexHeight / m_fTextScale; }

float CD3DFont::GlyphWidth(unsigned char c) const {
  const float* g = m_fTexCoords[c - 32];
  return (g[2] - g[0]) * m_dwTexWidth / m_fTextScale;
}

HRESULT CD3DFont::GetTextExtent(const char* text, SIZE* size) {
  if (!text || !size) return E_FAIL;
  // The drawing's own measures, so that centring matches what is drawn.
  const float lineHeight = LineHeight();
  float width = 0, lineWidth = 0, height = lineHeight;
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\n') {
      lineWidth = 0;
      height += lineHeight;
      continue;
    }
    if (!Printable(c)) continue;
    lineWidth += GlyphWidth(c) - 2.0f * m_dwSpacing;
    width = std::max(width, lineWidth);
  }
  size->cx = LONG(width);
  size->cy = LONG(height);
  return S_OK;
}

HRESULT CD3DFont::SetTextPosition(float x, float y, float z) {
  m_fTextPosX = x;
  m_fTextPosY = y;
  m_fTextPosZ = z;
  return 0;
}

HRESULT CD3DFont::DrawTextA(float x, float y, DWORD colour, const char* text, DWORD flags) {
  return DrawScreenQuads(x, y, 0.9f, 1.0f, 1.0f, colour, text, flags);
}

HRESULT CD3DFont::DrawTextScaled(float x, float y, float z, float xScale, float yScale, DWORD colour, const char* text,
                                 DWORD flags) {
  if (!ReadyToDraw()) return E_FAIL;
  D3DVIEWPORT9 vp{};
  m_pd3dDevice->GetViewport(&vp);
  const float sx = vp.X + (x + 1.0f) * vp.Width / 2.0f, sy = vp.Y + (1.0f - y) * vp.Height / 2.0f;
  return DrawScreenQuads(sx, sy, z, xScale, yScale, colour, text, flags);
}

HRESULT CD3DFont::DrawScreenQuads(float x, float y, float z, float xScale, float yScale, DWORD colour, const char* text,
                                  DWORD flags) {
  if (!ReadyToDraw() || !text) return E_FAIL;
  IDirect3DDevice9* d = m_pd3dDevice;
  m_pStateBlockSaved->Capture();
  m_pStateBlockDrawText->Apply();
  d->SetFVF(kScreenFvf);
  d->SetPixelShader(nullptr);
  d->SetStreamSource(0, m_pVB, 0, sizeof(ScreenVertex));
  if (flags & D3DFONT_FILTERED) {
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  }
  const float lineHeight = LineHeight() * yScale;
  if (flags & (D3DFONT_CENTERED_X | D3DFONT_CENTERED_Y)) {
    D3DVIEWPORT9 vp{};
    d->GetViewport(&vp);
    SIZE extent{};
    if (flags & D3DFONT_CENTERED_X) {
      // The first line only.
      const char* end = std::strchr(text, '\n');
      std::string first(text, end ? std::size_t(end - text) : std::strlen(text));
      GetTextExtent(first.c_str(), &extent);
      x = (float(vp.Width) - extent.cx * xScale) / 2.0f;
    }
    if (flags & D3DFONT_CENTERED_Y) y = (float(vp.Height) - lineHeight) / 2.0f;
  }
  x -= m_dwSpacing * xScale;
  const float startX = x;

  HRESULT hr = S_OK;
  ScreenVertex* v = nullptr;
  if (FAILED(hr = m_pVB->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_DISCARD))) {
    m_pStateBlockSaved->Apply();
    return hr;
  }
  UINT pending = 0;
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\n') {
      x = startX;
      y += lineHeight;
      continue;
    }
    if (!Printable(c)) continue;
    const float* g = m_fTexCoords[c - 32];
    const float w = GlyphWidth(c) * xScale, h = LineHeight() * yScale;
    if (c != ' ') {
      const float l = x - 0.5f, t = y - 0.5f, r = x + w - 0.5f, b = y + h - 0.5f;
      const ScreenVertex quad[6] = {{l, b, z, 1.0f, colour, g[0], g[3]}, {l, t, z, 1.0f, colour, g[0], g[1]},
                                    {r, b, z, 1.0f, colour, g[2], g[3]}, {r, t, z, 1.0f, colour, g[2], g[1]},
                                    {r, b, z, 1.0f, colour, g[2], g[3]}, {l, t, z, 1.0f, colour, g[0], g[1]}};
      std::memcpy(v + pending, quad, sizeof quad);
      pending += 6;
    }
    x += w - 2.0f * m_dwSpacing * xScale;
    if (pending > kFlushAbove) {
      m_pVB->Unlock();
      d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, pending / 3);
      pending = 0;
      if (FAILED(hr = m_pVB->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_DISCARD))) break;
    }
  }
  if (SUCCEEDED(hr)) {
    m_pVB->Unlock();
    if (pending > 0) hr = d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, pending / 3);
  }
  m_pStateBlockSaved->Apply();
  return hr;
}

HRESULT CD3DFont::DrawWorldQuads(const char* text, DWORD colour, DWORD flags) {
  IDirect3DDevice9* d = m_pd3dDevice;
  d->SetFVF(kWorldFvf);
  d->SetPixelShader(nullptr);
  d->SetStreamSource(0, m_pVB, 0, sizeof(WorldVertex));
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  if (flags & D3DFONT_FILTERED) {
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  }
  // World units: ten pixels of the atlas make one.
  const float lineHeight = LineHeight() / 10.0f, spacing = m_dwSpacing / 10.0f;
  float x = 0, y = 0;
  if (flags & D3DFONT_CENTERED_X) {
    SIZE extent{};
    const char* end = std::strchr(text, '\n');
    GetTextExtent(std::string(text, end ? std::size_t(end - text) : std::strlen(text)).c_str(), &extent);
    x = -extent.cx / 20.0f;
  }
  if (flags & D3DFONT_CENTERED_Y) y = lineHeight / 2.0f;
  x -= spacing;
  const float startX = x;
  HRESULT hr = S_OK;
  WorldVertex* v = nullptr;
  if (FAILED(hr = m_pVB->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_DISCARD))) return hr;
  UINT pending = 0;
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\n') {
      x = startX;
      y -= lineHeight;
      continue;
    }
    if (!Printable(c)) continue;
    const float* g = m_fTexCoords[c - 32];
    const float w = GlyphWidth(c) / 10.0f;
    if (c != ' ') {
      const float l = x, r = x + w, t = y, b = y - lineHeight;
      const WorldVertex quad[6] = {
          {l, b, 0, 0, 0, -1, colour, g[0], g[3]}, {l, t, 0, 0, 0, -1, colour, g[0], g[1]},
          {r, b, 0, 0, 0, -1, colour, g[2], g[3]}, {r, t, 0, 0, 0, -1, colour, g[2], g[1]},
          {r, b, 0, 0, 0, -1, colour, g[2], g[3]}, {l, t, 0, 0, 0, -1, colour, g[0], g[1]}};
      std::memcpy(v + pending, quad, sizeof quad);
      pending += 6;
    }
    x += w - 2.0f * spacing;
    if (pending > kFlushAbove) {
      m_pVB->Unlock();
      d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, pending / 3);
      pending = 0;
      if (FAILED(hr = m_pVB->Lock(0, 0, reinterpret_cast<void**>(&v), D3DLOCK_DISCARD))) return hr;
    }
  }
  m_pVB->Unlock();
  if (pending > 0) hr = d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, pending / 3);
  return hr;
}

HRESULT CD3DFont::Render3DText(const char* text, DWORD colour, DWORD flags) {
  if (!ReadyToDraw() || !text) return E_FAIL;
  m_pStateBlockSaved->Capture();
  m_pStateBlockDrawText->Apply();
  const HRESULT hr = DrawWorldQuads(text, colour, flags);
  m_pStateBlockSaved->Apply();
  return hr;
}

HRESULT CD3DFont::Render3DTextFontFacing(const char* text, const D3DXMATRIX* world, DWORD colour, DWORD flags) {
  if (!ReadyToDraw() || !text || !world) return E_FAIL;
  IDirect3DDevice9* d = m_pd3dDevice;
  D3DXMATRIX savedWorld, view;
  d->GetTransform(D3DTS_WORLD, &savedWorld);
  d->GetTransform(D3DTS_VIEW, &view);
  // The view's rotation undone, so the quads face the viewer at the world
  // matrix's position.
  D3DXMATRIX facing;
  view._41 = view._42 = view._43 = 0;
  if (!D3DXMatrixTranspose(&facing, &view)) return E_FAIL;
  D3DXVECTOR3 origin(0, 0, 0), position;
  D3DXVec3TransformCoord(&position, &origin, world);
  facing._41 = position.x;
  facing._42 = position.y;
  facing._43 = position.z;
  m_pStateBlockSaved->Capture();
  m_pStateBlockDrawText->Apply();
  d->SetTransform(D3DTS_WORLD, &facing);
  const HRESULT hr = DrawWorldQuads(text, colour, flags);
  d->SetTransform(D3DTS_WORLD, &savedWorld);
  m_pStateBlockSaved->Apply();
  return hr;
}

}  // namespace D3D
