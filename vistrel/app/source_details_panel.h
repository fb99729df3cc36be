#pragma once
// CSourceDetailsPanel: one panel of the sources view's and the data view's
// left strip: a title over an information text, white "Verdana" 7 points on
// a background set by the owner, drawn with GDI+ into a private 32-bit
// buffer. The owner grows and shrinks the window (selection); the buffer
// follows the client size at the next drawing. Texts are UTF-8.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gdiplus/gdiplus.h"
#include "win/controls.h"
#include "win/window.h"

class CSourceDetailsPanel : public CStatic {
 public:
  static const CRuntimeClass classCSourceDetailsPanel;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCSourceDetailsPanel; }

  CSourceDetailsPanel();
  ~CSourceDetailsPanel() override;

  // Replaces whichever of the two is given (null keeps it) and redraws.
  void SetText(const char* title, const char* text);
  // Replaces the background (ARGB) and redraws.
  void SetColour(Gdiplus::ARGB colour);
  // Draws into the buffer at the current client size (nothing for a window
  // of no width or height) and invalidates the window.
  void Redraw();

  const std::string& GetTitle() const { return m_title; }
  const std::string& GetInfoText() const { return m_text; }
  Gdiplus::ARGB GetColour() const { return m_colour; }
  const std::uint32_t* BackBuffer() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
  int BufferWidth() const { return m_nWidth; }
  int BufferHeight() const { return m_nHeight; }

 protected:
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  void FreeBuffer();
  // (Re)builds the buffer when the client size changed; false without one.
  bool EnsureBuffer();
  // Background, title and text into the buffer; false without a buffer.
  bool DrawBuffer();

  std::string m_title;
  std::string m_text;
  Gdiplus::ARGB m_colour = 0xFF3C3C3C;
  std::vector<std::uint32_t> m_pixels;
  int m_nWidth = 0;
  int m_nHeight = 0;
  std::unique_ptr<Gdiplus::Bitmap> m_pBitmap;
  std::unique_ptr<Gdiplus::Graphics> m_pGraphics;
  std::unique_ptr<Gdiplus::Font> m_pFont;
};
