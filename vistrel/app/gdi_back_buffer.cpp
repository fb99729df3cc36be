#include "gdi_back_buffer.h"

#include "quorlmfc/win_dib.h"

void GdiBackBuffer::Allocate(int width, int height, std::uint32_t fill) {
  Free();
  m_nWidth = width;
  m_nHeight = height;
  if (m_nWidth <= 0 || m_nHeight <= 0) return;
  m_pixels.assign(static_cast<std::size_t>(m_nWidth) * m_nHeight, fill);
  m_pBitmap = std::make_unique<Gdiplus::Bitmap>(m_nWidth, m_nHeight, 4 * m_nWidth, PixelFormat32bppARGB,
                                                reinterpret_cast<BYTE*>(m_pixels.data()));
  m_pGraphics = std::make_unique<Gdiplus::Graphics>(m_pBitmap.get());
  m_pFont = std::make_unique<Gdiplus::Font>("Verdana Bold", 8.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
}

void GdiBackBuffer::Free() {
  m_pGraphics.reset();
  m_pFont.reset();
  m_pBitmap.reset();
  m_pixels.clear();
  m_pixels.shrink_to_fit();
  m_nWidth = m_nHeight = 0;
}

void GdiBackBuffer::CopyToDisplay(CDC& dc, const CRect& client) {
  if (m_pixels.empty()) return;
  winDIB dib(dc);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(m_pixels.data()), nullptr, m_nWidth, m_nHeight, 32);
  dib.srcRect() = client;
  dib.dstRect() = client;
  dib.copyToDisplay();
}
