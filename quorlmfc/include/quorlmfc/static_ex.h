#pragma once
// CStaticEx: a label that paints itself from a private 32-bit back buffer
// drawn with GDI+: a filled background and one text, vertically centred, in
// "Verdana". Texts are UTF-8.
#include <cstdint>
#include <memory>
#include <vector>

#include "gdiplus/gdiplus.h"
#include "win/controls.h"
#include "win/window.h"

class CStaticEx : public CStatic {
 public:
  static const CRuntimeClass classCStaticEx;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCStaticEx; }

  CStaticEx();
  ~CStaticEx() override;

  // Builds the back buffer at the current client size with the current
  // colours (a second call frees the first buffer's objects), then paints
  // it. A client of zero width or height gets no buffer.
  virtual void Initialize(int fontSize);
  // Background and text into the back buffer; nothing before Initialize.
  virtual void PaintBackBuffer();

  void SetText(const char* text);
  // Taken by the brushes at the next Initialize.
  void SetBackgroundColor(Gdiplus::Color colour) { m_bgColour = colour; }
  void SetTextColor(Gdiplus::Color colour) { m_textColour = colour; }

  // State for tests and for the title bar.
  const CString& GetText() const { return m_strText; }
  const std::uint32_t* BackBuffer() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
  int BufferWidth() const { return m_nWidth; }
  int BufferHeight() const { return m_nHeight; }
  Gdiplus::RectF LayoutRect() const { return m_layout; }

 protected:
  void OnPaint();
  // Frees the buffer and every drawing object made by Initialize.
  void FreeBackBuffer();
  // The text with the font, layout rectangle, format and text brush.
  void DrawText();
  DECLARE_MESSAGE_MAP()

  std::unique_ptr<Gdiplus::Bitmap> m_pBitmap;
  std::vector<std::uint32_t> m_pixels;  // rows of width pixels, 0xAARRGGBB
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nStride = 0;
  CRect m_rcClient;
  std::unique_ptr<Gdiplus::Graphics> m_pGraphics;
  std::unique_ptr<Gdiplus::Font> m_pFont;
  CString m_strText;
  Gdiplus::StringFormat m_format;
  Gdiplus::RectF m_layout;
  Gdiplus::Color m_bgColour{0xFF2F2F2F};
  Gdiplus::Color m_textColour{0xFFFFFFFF};
  std::unique_ptr<Gdiplus::SolidBrush> m_pBgBrush;
  std::unique_ptr<Gdiplus::SolidBrush> m_pTextBrush;
};
