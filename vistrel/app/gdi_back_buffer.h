#pragma once
// GdiBackBuffer: a panel's off-screen picture: 32-bit pixels with a GDI+
// bitmap and graphics drawn over them, the font its texts use, and the copy
// onto the window when it paints.
#include <cstdint>
#include <memory>
#include <vector>

#include "gdiplus/gdiplus.h"
#include "win/controls.h"

class GdiBackBuffer {
 public:
  GdiBackBuffer() = default;
  GdiBackBuffer(const GdiBackBuffer&) = delete;
  GdiBackBuffer& operator=(const GdiBackBuffer&) = delete;
  ~GdiBackBuffer() { Free(); }

  // Drops the old buffer, then makes one of width x height, every pixel
  // `fill` (0xAARRGGBB). Without area there are no pixels, but Width() and
  // Height() still say the size asked for (panels lay out by it).
  void Allocate(int width, int height, std::uint32_t fill);
  // The graphics and font, then the bitmap, then the pixels it lies over.
  void Free();
  // Copies the pixels onto dc over the window's client rectangle; nothing
  // while there are none.
  void CopyToDisplay(CDC& dc, const CRect& client);

  bool Empty() const { return m_pixels.empty(); }
  const std::uint32_t* Pixels() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  Gdiplus::Graphics* Graphics() const { return m_pGraphics.get(); }

 private:
  std::vector<std::uint32_t> m_pixels;  // rows of m_nWidth pixels, 0xAARRGGBB
  int m_nWidth = 0, m_nHeight = 0;
  std::unique_ptr<Gdiplus::Bitmap> m_pBitmap;
  std::unique_ptr<Gdiplus::Graphics> m_pGraphics;
  std::unique_ptr<Gdiplus::Font> m_pFont;
};
