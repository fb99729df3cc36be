#pragma once
// Text drawn from a texture atlas of the printable ASCII characters, in
// screen space or as geometry of the 3-D scene.
#include "d3d9/d3d9.h"
#include "d3d9/d3dx9.h"

namespace D3D {

// Construction flags.
constexpr DWORD D3DFONT_BOLD = 0x0001;
constexpr DWORD D3DFONT_ITALIC = 0x0002;
constexpr DWORD D3DFONT_ZENABLE = 0x0004;
// Drawing flags.
constexpr DWORD D3DFONT_CENTERED_X = 0x0001;
constexpr DWORD D3DFONT_CENTERED_Y = 0x0002;
constexpr DWORD D3DFONT_TWOSIDED = 0x0004;
constexpr DWORD D3DFONT_FILTERED = 0x0008;

class CD3DFont {
 public:
  CD3DFont(const char* faceName, DWORD height, DWORD flags = 0);
  ~CD3DFont();
  // It owns its texture, buffer and state blocks.
  CD3DFont(const CD3DFont&) = delete;
  CD3DFont& operator=(const CD3DFont&) = delete;

  HRESULT InitDeviceObjects(IDirect3DDevice9* device);
  HRESULT RestoreDeviceObjects();
  HRESULT InvalidateDeviceObjects();
  HRESULT DeleteDeviceObjects();

  HRESULT GetTextExtent(const char* text, SIZE* size);
  HRESULT SetTextPosition(float x, float y, float z);
  HRESULT DrawTextA(float x, float y, DWORD colour, const char* text, DWORD flags = 0);
  // (x, y) in viewport units ([-1, 1], y up), glyphs scaled by the factors.
  HRESULT DrawTextScaled(float x, float y, float z, float xScale, float yScale, DWORD colour, const char* text,
                         DWORD flags = 0);
  HRESULT Render3DText(const char* text, DWORD colour, DWORD flags = 0);
  HRESULT Render3DTextFontFacing(const char* text, const D3DXMATRIX* world, DWORD colour, DWORD flags = 0);

  HRESULT CreateGDIPlusFont() { return 0; }
  HRESULT PaintAlphabetGDIPlus() { return 0; }

  const char* GetFaceName() const { return m_strFontName; }
  float GetTextScale() const { return m_fTextScale; }
  DWORD GetTextureWidth() const { return m_dwTexWidth; }
  DWORD GetTextureHeight() const { return m_dwTexHeight; }
  DWORD GetSpacing() const { return m_dwSpacing; }
  // Texture corners (left, top, right, bottom) of a character from 32 to 127.
  const float* GetGlyph(unsigned char c) const { return m_fTexCoords[c - 32]; }
  IDirect3DTexture9* GetTexture() const { return m_pTexture; }

  // An atlas pixel (white on black) as an A4R4G4B4 texel.
  static WORD AtlasTexel(DWORD pixel);

 protected:
  char m_strFontName[80];
  DWORD m_dwFontHeight;
  DWORD m_dwFontFlags;
  IDirect3DDevice9* m_pd3dDevice = nullptr;
  IDirect3DTexture9* m_pTexture = nullptr;
  IDirect3DVertexBuffer9* m_pVB = nullptr;
  DWORD m_dwTexWidth = 0;
  DWORD m_dwTexHeight = 0;
  float m_fTextScale = 1.0f;
  float m_fTexCoords[96][4];
  DWORD m_dwSpacing = 0;
  float m_fTextPosX = 0, m_fTextPosY = 0, m_fTextPosZ = 0;
  IDirect3DStateBlock9* m_pStateBlockSaved = nullptr;
  IDirect3DStateBlock9* m_pStateBlockDrawText = nullptr;

 private:
  bool ReadyToDraw() const;
  float LineHeight() const;
  float GlyphWidth(unsigned char c) const;
  HRESULT DrawScreenQuads(float x, float y, float z, float xScale, float yScale, DWORD colour, const char* text,
                          DWORD flags);
  HRESULT DrawWorldQuads(const char* text, DWORD colour, DWORD flags);
};

}  // namespace D3D
