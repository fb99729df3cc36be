#include "MVG/gdi_static.h"

#include <cstdio>
#include <string>

#include "com/bstr.h"

namespace GDI {

CGDIStatic::CGDIStatic() = default;

CGDIStatic::~CGDIStatic() { Free(); }

void CGDIStatic::Free() {
  // The graphics go before the bitmap they paint on.
  delete m_pBufferGraphics;
  delete m_pWindowGraphics;
  delete m_pBackBuffer;
  delete m_pFont;
  delete[] m_pText;
  delete m_pTextBrush;
  m_pBufferGraphics = m_pWindowGraphics = nullptr;
  m_pBackBuffer = nullptr;
  m_pFont = nullptr;
  m_pText = nullptr;
  m_pTextBrush = nullptr;
}

long CGDIStatic::Initialize(HWND window, RECT r) {
  if (r.right <= r.left || r.bottom <= r.top) return -1;
  Free();
  // The buffer is the rectangle's own size, drawn back at its corner.
  m_pBackBuffer = new Gdiplus::Bitmap(r.right - r.left, r.bottom - r.top, PixelFormat32bppARGB);
  m_pWindowGraphics = new Gdiplus::Graphics(window);
  m_pBufferGraphics = new Gdiplus::Graphics(m_pBackBuffer);
  m_pFont = new Gdiplus::Font(L"Arial", 10);
  m_pText = new char[kTextSize];
  std::snprintf(m_pText, kTextSize, "%s", "This is just a test\n of multiple line\n drawing\n");
  m_pTextBrush = new Gdiplus::SolidBrush(Gdiplus::Color(m_textColour));
  m_rect = m_rectCopy = r;
  return 0;
}

long CGDIStatic::SetText(const char* text) {
  if (!m_pText || !text) return 0;
  std::snprintf(m_pText, kTextSize, "%s", text);
  return 0;
}

long CGDIStatic::Paint() {
  if (!m_pBufferGraphics) return 0;
  m_pBufferGraphics->Clear(Gdiplus::Color(m_clearColour));
  const std::wstring wide = com::Utf8ToWide(m_pText);
  m_pBufferGraphics->DrawString(wide.c_str(), -1, m_pFont, Gdiplus::PointF(10, 10), m_pTextBrush);
  m_pWindowGraphics->DrawImage(m_pBackBuffer, Gdiplus::RectF(static_cast<REAL>(m_rect.left), static_cast<REAL>(m_rect.top),
                                                             static_cast<REAL>(m_rect.right - m_rect.left),
                                                             static_cast<REAL>(m_rect.bottom - m_rect.top)));
  return 0;
}

}  // namespace GDI
