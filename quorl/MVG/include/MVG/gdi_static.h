#pragma once
// CGDIStatic: a double-buffered text panel drawn with GDI+ into a rectangle
// of a window: the text is painted into a back buffer, which is then drawn
// onto the window at the rectangle.
#include "gdiplus/bitmap.h"
#include "gdiplus/drawing.h"
#include "gdiplus/graphics.h"
#include "win/types.h"

namespace GDI {

class CGDIStatic {
 public:
  static constexpr int kTextSize = 10000;

  CGDIStatic();
  ~CGDIStatic();
  // Every GDI+ object is owned: copies would share, and delete twice, each.
  CGDIStatic(const CGDIStatic&) = delete;
  CGDIStatic& operator=(const CGDIStatic&) = delete;

  // 0; -1 for an empty or inverted rectangle, which creates nothing. A
  // second call frees what the first made.
  long Initialize(HWND window, RECT r);
  // UTF-8; at most kTextSize - 1 bytes are kept. 0, and nothing done, before
  // Initialize or for null.
  long SetText(const char* text);
  // Back buffer cleared, text drawn at (10, 10), then the buffer drawn onto
  // the window at the rectangle. Nothing before Initialize.
  long Paint();

  const char* GetText() const { return m_pText; }
  RECT GetRect() const { return m_rect; }

 private:
  void Free();

  RECT m_rect{0, 0, 0, 0};
  RECT m_rectCopy{0, 0, 0, 0};
  Gdiplus::Bitmap* m_pBackBuffer = nullptr;
  Gdiplus::Graphics* m_pWindowGraphics = nullptr;
  Gdiplus::Graphics* m_pBufferGraphics = nullptr;
  Gdiplus::Font* m_pFont = nullptr;
  char* m_pText = nullptr;
  Gdiplus::SolidBrush* m_pTextBrush = nullptr;
  Gdiplus::ARGB m_clearColour = 0xFF000000;
  Gdiplus::ARGB m_textColour = 0xFFC8C8C8;
};

}  // namespace GDI
