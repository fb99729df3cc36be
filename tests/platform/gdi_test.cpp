#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "win/window.h"

namespace {

BITMAPINFO Info(int w, int h, int bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = static_cast<WORD>(bits);
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

// A memory DC with a top-down 32-bit DIB section selected.
struct Section {
  Section(int w, int h) : width(w), height(h) {
    dc = CreateCompatibleDC(nullptr);
    const BITMAPINFO bi = Info(w, -h, 32);
    bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bmp);
  }
  ~Section() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  std::uint32_t At(int x, int y) const { return bits[y * width + x] & 0xFFFFFF; }
  int width, height;
  HDC dc;
  HBITMAP bmp;
  HGDIOBJ old;
  std::uint32_t* bits = nullptr;
};

TEST(Gdi, DibSectionSharesItsMemoryWithTheDc) {
  Section s(8, 4);
  ASSERT_NE(s.bits, nullptr);
  RECT r{2, 1, 4, 3};
  HBRUSH b = CreateSolidBrush(RGB(10, 20, 30));
  FillRect(s.dc, &r, b);
  DeleteObject(b);
  EXPECT_EQ(s.At(2, 1), 0x0A141Eu);  // B, G, R in memory: 0x00RRGGBB
  EXPECT_EQ(s.At(3, 2), 0x0A141Eu);
  EXPECT_EQ(s.At(4, 2), 0u);
  EXPECT_EQ(s.At(2, 3), 0u);
  s.bits[0] = 0x00FF0000;
  EXPECT_EQ(GetPixel(s.dc, 0, 0), RGB(255, 0, 0));
  BITMAP bm{};
  ASSERT_EQ(GetObject(s.bmp, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 8);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(bm.bmBits, s.bits);
  // Only top-down 24/32-bit sections are made; others fail cleanly.
  const BITMAPINFO up = Info(4, 4, 32);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateDIBSection(s.dc, &up, DIB_RGB_COLORS, &p, nullptr, 0), nullptr);
  EXPECT_EQ(p, nullptr);
}

TEST(Gdi, BitBltAndNearestStretch) {
  Section src(2, 2), dst(4, 4);
  src.bits[0] = 0x000000FF;
  src.bits[1] = 0x0000FF00;
  src.bits[2] = 0x00FF0000;
  src.bits[3] = 0x00FFFFFF;
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 4, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
  const std::uint32_t want[4] = {0xFF, 0xFF00, 0xFF0000, 0xFFFFFF};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.At(x, y), want[(y / 2) * 2 + x / 2]) << x << "," << y;
  Section d2(4, 4);
  ASSERT_TRUE(BitBlt(d2.dc, 1, 1, 2, 2, src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(d2.At(0, 0), 0u);
  EXPECT_EQ(d2.At(1, 1), 0xFFu);
  EXPECT_EQ(d2.At(2, 2), 0xFFFFFFu);
  // Blits clip to the target and read nothing outside the source.
  ASSERT_TRUE(BitBlt(d2.dc, 3, 3, 10, 10, src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(d2.At(3, 3), 0xFFu);
  ASSERT_TRUE(BitBlt(d2.dc, 0, 0, 4, 4, nullptr, 0, 0, BLACKNESS));
  EXPECT_EQ(d2.At(2, 2), 0u);
  EXPECT_FALSE(BitBlt(d2.dc, 0, 0, 4, 4, nullptr, 0, 0, SRCCOPY));
}

TEST(Gdi, DibTransfersHonourRowOrderPaddingAndClipping) {
  // 3 x 2, 24-bit: rows padded to 12 bytes.
  std::vector<std::uint8_t> rgb24(24, 0);
  auto put = [&](int x, int row, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::uint8_t* p = &rgb24[static_cast<size_t>(row) * 12 + static_cast<size_t>(x) * 3];
    p[0] = b;
    p[1] = g;
    p[2] = r;
  };
  put(0, 0, 255, 0, 0);
  put(2, 1, 0, 0, 255);
  Section s(3, 2);
  {
    // Top-down: row 0 is the top.
    const BITMAPINFO bi = Info(3, -2, 24);
    EXPECT_EQ(SetDIBitsToDevice(s.dc, 0, 0, 3, 2, 0, 0, 0, 2, rgb24.data(), &bi, DIB_RGB_COLORS), 2);
    EXPECT_EQ(GetPixel(s.dc, 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(s.dc, 2, 1), RGB(0, 0, 255));
  }
  {
    // Bottom-up: row 0 is the bottom.
    const BITMAPINFO bi = Info(3, 2, 24);
    EXPECT_EQ(SetDIBitsToDevice(s.dc, 0, 0, 3, 2, 0, 0, 0, 2, rgb24.data(), &bi, DIB_RGB_COLORS), 2);
    EXPECT_EQ(GetPixel(s.dc, 0, 1), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(s.dc, 2, 0), RGB(0, 0, 255));
  }
  {
    // An oversize source rectangle is clipped to the DIB's declared size.
    std::vector<std::uint32_t> px = {0x111111, 0x222222, 0x333333, 0x444444};
    const BITMAPINFO bi = Info(2, -2, 32);
    Section big(6, 6);
    EXPECT_EQ(StretchDIBits(big.dc, 0, 0, 6, 6, 0, 0, 6, 6, px.data(), &bi, DIB_RGB_COLORS, SRCCOPY), 2);
    EXPECT_EQ(big.At(0, 0), 0x111111u);
    EXPECT_EQ(big.At(1, 1), 0x444444u);
    EXPECT_EQ(big.At(2, 2), 0u);
    EXPECT_EQ(SetDIBitsToDevice(big.dc, 3, 3, 100, 100, 0, 0, 0, 100, px.data(), &bi, DIB_RGB_COLORS), 2);
    EXPECT_EQ(big.At(3, 3), 0x111111u);
    EXPECT_EQ(big.At(4, 4), 0x444444u);
    EXPECT_EQ(big.At(5, 5), 0u);
    // Stretching a 2 x 2 DIB to 4 x 4 is exact nearest neighbour.
    EXPECT_EQ(StretchDIBits(big.dc, 0, 0, 4, 4, 0, 0, 2, 2, px.data(), &bi, DIB_RGB_COLORS, SRCCOPY), 2);
    EXPECT_EQ(big.At(1, 1), 0x111111u);
    EXPECT_EQ(big.At(2, 1), 0x222222u);
    EXPECT_EQ(big.At(3, 3), 0x444444u);
  }
  {
    // Unsupported formats show nothing.
    BITMAPINFO bi = Info(2, -2, 16);
    std::uint16_t px[4] = {};
    EXPECT_EQ(SetDIBitsToDevice(s.dc, 0, 0, 2, 2, 0, 0, 0, 2, px, &bi, DIB_RGB_COLORS), 0);
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_BITFIELDS;
    EXPECT_EQ(StretchDIBits(s.dc, 0, 0, 2, 2, 0, 0, 2, 2, px, &bi, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(SetDIBitsToDevice(s.dc, 0, 0, 2, 2, 0, 0, 0, 2, nullptr, &bi, DIB_RGB_COLORS), 0);
  }
}

TEST(Gdi, TextOnAMemoryDcWithASection) {
  EXPECT_EQ(GetDeviceCaps(nullptr, LOGPIXELSY), 96);
  Section s(128, 32);
  EXPECT_EQ(GetDeviceCaps(s.dc, LOGPIXELSY), 96);
  HFONT f = CreateFontA(-MulDiv(12, GetDeviceCaps(s.dc, LOGPIXELSY), 72), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH, "Arial");
  ASSERT_NE(f, nullptr);
  HGDIOBJ oldFont = SelectObject(s.dc, f);
  ASSERT_NE(oldFont, nullptr);
  SetTextColor(s.dc, RGB(255, 255, 255));
  SetBkColor(s.dc, RGB(0, 0, 0));
  SetBkMode(s.dc, TRANSPARENT);
  SIZE wide{}, narrow{};
  ASSERT_TRUE(GetTextExtentPoint32A(s.dc, "WWWW", 4, &wide));
  ASSERT_TRUE(GetTextExtentPoint32A(s.dc, "i", 1, &narrow));
  EXPECT_GT(wide.cx, narrow.cx);
  EXPECT_GE(wide.cy, 12);
  ASSERT_TRUE(TextOutA(s.dc, 2, 2, "Ag", 2));
  int lit = 0, outside = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 128; ++x) {
      if (!s.At(x, y)) continue;
      ++lit;
      if (x < 2 || y < 2 || x > 2 + wide.cx || y > 2 + wide.cy) ++outside;
    }
  EXPECT_GT(lit, 10);
  EXPECT_EQ(outside, 0);
  // OPAQUE mode fills the text cell with the background colour.
  SetBkMode(s.dc, OPAQUE);
  SetBkColor(s.dc, RGB(0, 0, 200));
  ExtTextOutA(s.dc, 60, 2, 0, nullptr, "x", 1, nullptr);
  EXPECT_EQ(GetPixel(s.dc, 60, 3), RGB(0, 0, 200));
  RECT box{0, 0, 128, 32};
  EXPECT_GT(DrawTextA(s.dc, "centre", -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE), 0);
  RECT calc{0, 0, 0, 0};
  DrawTextA(s.dc, "abc", 3, &calc, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_GT(calc.right, 0);
  EXPECT_GT(calc.bottom, 0);
  SelectObject(s.dc, oldFont);
  EXPECT_TRUE(DeleteObject(f));
  EXPECT_FALSE(DeleteObject(f));
}

TEST(Gdi, RegionsAndObjects) {
  HRGN e = CreateEllipticRgn(0, 0, 24, 24);
  EXPECT_TRUE(PtInRegion(e, 12, 12));
  EXPECT_FALSE(PtInRegion(e, 0, 0));
  EXPECT_FALSE(PtInRegion(e, 24, 12));
  RECT box;
  EXPECT_NE(GetRgnBox(e, &box), ERROR);
  EXPECT_EQ(CRect(box), CRect(0, 0, 24, 24));
  HRGN r = CreateRectRgn(0, 0, 10, 10);
  EXPECT_FALSE(PtInRegion(r, 10, 5));
  EXPECT_EQ(CombineRgn(r, r, e, RGN_AND), COMPLEXREGION);
  EXPECT_FALSE(PtInRegion(r, 0, 0));
  CRgn copy;
  CRgn* src = CRgn::FromHandle(e);
  ASSERT_NE(src, nullptr);
  EXPECT_NE(copy.CopyRgn(src), ERROR);
  EXPECT_TRUE(EqualRgn(copy, e));
  DeleteObject(e);
  DeleteObject(r);
  EXPECT_TRUE(copy.PtInRegion(12, 12));  // a copy outlives its source
  EXPECT_EQ(CRgn::FromHandle(e), nullptr);
  EXPECT_EQ(SelectObject(nullptr, GetStockObject(WHITE_BRUSH)), nullptr);
  EXPECT_FALSE(DeleteObject(GetStockObject(WHITE_BRUSH)));
  EXPECT_EQ(LoadImageA(nullptr, MAKEINTRESOURCE(101), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR), nullptr);
  EXPECT_EQ(LoadImageA(nullptr, "/nonexistent/x.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
}

TEST(Gdi, WindowOriginMovesLogicalCoordinates) {
  Section s(10, 10);
  SetWindowOrgEx(s.dc, 5, 5, nullptr);
  RECT r{5, 5, 6, 6};
  HBRUSH b = CreateSolidBrush(RGB(0, 255, 0));
  FillRect(s.dc, &r, b);
  DeleteObject(b);
  EXPECT_EQ(s.At(0, 0), 0x00FF00u);
  EXPECT_EQ(GetPixel(s.dc, 5, 5), RGB(0, 255, 0));
  POINT p{5, 5};
  LPtoDP(s.dc, &p, 1);
  EXPECT_EQ(p.x, 0);
}

TEST(Gdi, OriginsReportTheirPreviousValues) {
  Section s(10, 10);
  struct Origin {
    const char* name;
    BOOL (*set)(HDC, int, int, POINT*);
    BOOL (*get)(HDC, POINT*);
  };
  const Origin origins[] = {{"window", &SetWindowOrgEx, &GetWindowOrgEx},
                            {"viewport", &SetViewportOrgEx, &GetViewportOrgEx}};
  for (const Origin& o : origins) {
    SCOPED_TRACE(o.name);
    POINT old{-1, -1};
    EXPECT_TRUE(o.set(s.dc, 3, -4, &old));
    EXPECT_EQ(old.x, 0);
    EXPECT_EQ(old.y, 0);
    EXPECT_TRUE(o.set(s.dc, 7, 8, nullptr));
    POINT now{};
    EXPECT_TRUE(o.get(s.dc, &now));
    EXPECT_EQ(now.x, 7);
    EXPECT_EQ(now.y, 8);
    EXPECT_TRUE(o.get(s.dc, nullptr));
    EXPECT_FALSE(o.set(nullptr, 1, 1, &old));
    EXPECT_FALSE(o.get(nullptr, &now));
    EXPECT_EQ(now.x, 7);
  }
  // Logical (0, 0) lands at the viewport origin less the window origin.
  POINT p{0, 0};
  LPtoDP(s.dc, &p, 1);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
}

}  // namespace
