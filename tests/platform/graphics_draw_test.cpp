#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "gdiplus/gdiplus.h"
#include "win/window.h"

namespace {

using namespace Gdiplus;

TEST(GraphicsDraw, OnABitmapWritesTheCallersMemory) {
  std::vector<std::uint32_t> px(8 * 4, 0);
  Bitmap bmp(8, 4, 8 * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(px.data()));
  {
    Graphics g(&bmp);
    SolidBrush red(Color(255, 255, 0, 0));
    EXPECT_EQ(g.FillRectangle(&red, 2, 1, 3, 2), Ok);
    EXPECT_EQ(g.FillRectangle(nullptr, 0, 0, 1, 1), InvalidParameter);
    EXPECT_EQ(g.GetLastStatus(), InvalidParameter);
  }
  EXPECT_EQ(px[1 * 8 + 2], 0xFFFF0000u);
  EXPECT_EQ(px[2 * 8 + 4], 0xFFFF0000u);
  EXPECT_EQ(px[1 * 8 + 5], 0u);
  EXPECT_EQ(px[0], 0u);
}

TEST(GraphicsDraw, OutlinesLeaveTheirInsideAlone) {
  std::vector<std::uint32_t> px(20 * 20, 0);
  Bitmap bmp(20, 20, 20 * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(px.data()));
  auto at = [&](int x, int y) { return px[static_cast<size_t>(y * 20 + x)]; };
  for (bool ellipse : {false, true}) {
    SCOPED_TRACE(ellipse ? "ellipse" : "rectangle");
    std::fill(px.begin(), px.end(), 0u);
    {
      Graphics g(&bmp);
      Pen red(Color(255, 255, 0, 0), 1);
      SolidBrush blue(Color(255, 0, 0, 255));
      const Status drawn = ellipse ? g.DrawEllipse(&red, 4, 4, 10, 10) : g.DrawRectangle(&red, 4, 4, 10, 10);
      EXPECT_EQ(drawn, Ok);
      EXPECT_EQ(ellipse ? g.DrawEllipse(nullptr, 4, 4, 10, 10) : g.DrawRectangle(nullptr, 4, 4, 10, 10),
                InvalidParameter);
      // The pen goes with the outline: a fill after it has no red border.
      EXPECT_EQ(g.FillEllipse(&blue, 16.0f, 16.0f, 3.0f, 3.0f), Ok);
    }
    EXPECT_EQ(at(4, 9), 0xFFFF0000u);
    EXPECT_EQ(at(9, 9), 0u);
    EXPECT_EQ(at(1, 1), 0u);
    for (int y = 15; y < 20; ++y)
      for (int x = 15; x < 20; ++x) EXPECT_NE(at(x, y) & 0x00FF0000u, 0x00FF0000u) << x << "," << y;
  }
  Graphics g(&bmp);
  Pen red(Color(255, 255, 0, 0), 1);
  EXPECT_EQ(g.DrawRectangle(&red, 4, 4, -1, 10), InvalidParameter);
}

TEST(GraphicsDraw, NearestDrawImageOfACheckerIsExact) {
  Bitmap checker(2, 2, PixelFormat24bppRGB);
  std::vector<std::uint32_t> out(4 * 4, 0);
  Bitmap target(4, 4, 16, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(out.data()));
  {
    Graphics g(&checker);
    SolidBrush white(Color(255, 255, 255, 255)), black(Color(255, 0, 0, 0));
    g.FillRectangle(&white, 0, 0, 2, 2);
    g.FillRectangle(&black, 0, 0, 1, 1);
    g.FillRectangle(&black, 1, 1, 1, 1);
  }
  {
    Graphics g(&target);
    g.SetInterpolationMode(InterpolationModeNearestNeighbor);
    EXPECT_EQ(g.DrawImage(&checker, RectF(0, 0, 4, 4), 0, 0, 2, 2, UnitPixel), Ok);
    EXPECT_EQ(g.DrawImage(&checker, RectF(0, 0, 4, 4), 0, 0, 2, 2, UnitPoint), InvalidParameter);
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool dark = (x / 2 + y / 2) % 2 == 0;
      EXPECT_EQ(out[static_cast<size_t>(y * 4 + x)], dark ? 0xFF000000u : 0xFFFFFFFFu) << x << "," << y;
    }
}

TEST(GraphicsDraw, TextStaysInsideItsLayoutRectangle) {
  std::vector<std::uint32_t> px(120 * 60, 0xFF000000);
  Bitmap bmp(120, 60, 120 * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(px.data()));
  const RectF box(10, 10, 60, 20);
  for (INT flags : {0, static_cast<INT>(StringFormatFlagsDirectionVertical)}) {
    std::fill(px.begin(), px.end(), 0xFF000000);
    {
      Graphics g(&bmp);
      Font font(L"Verdana Bold", 8);
      EXPECT_EQ(font.Family(), "Verdana");
      EXPECT_EQ(font.GetStyle(), FontStyleBold);
      EXPECT_NEAR(font.PixelSize(), 8 * 96 / 72.0, 1e-4);
      StringFormat f(flags);
      f.SetAlignment(StringAlignmentCenter);
      f.SetLineAlignment(StringAlignmentCenter);
      SolidBrush white(Color(255, 255, 255, 255));
      EXPECT_EQ(g.DrawString(L"Calibration data", -1, &font, box, &f, &white), Ok);
    }
    int inside = 0, outside = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 120; ++x) {
        if (px[static_cast<size_t>(y * 120 + x)] == 0xFF000000) continue;
        (x >= 10 && x < 70 && y >= 10 && y < 30 ? inside : outside)++;
      }
    EXPECT_GT(inside, 0) << flags;
    EXPECT_EQ(outside, 0) << flags;
  }
}

struct RecordedStrings : gdiplus::DrawStringObserver {
  void OnDrawString(const gdiplus::DrawStringCall& c) override { calls.push_back(c); }
  std::vector<gdiplus::DrawStringCall> calls;
};

TEST(GraphicsDraw, StringObserverSeesEachDrawnTextAndItsLayout) {
  std::vector<std::uint32_t> px(120 * 40, 0xFF000000);
  Bitmap bmp(120, 40, 120 * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(px.data()));
  RecordedStrings seen;
  ASSERT_EQ(gdiplus::SetDrawStringObserver(&seen), nullptr);
  {
    Graphics g(&bmp);
    Font font(L"Arial", 8);
    SolidBrush white(Color(255, 255, 255, 255));
    StringFormat vertical(StringFormatFlagsDirectionVertical);
    EXPECT_EQ(g.DrawString(L"abcdef", 3, &font, RectF(1, 2, 30, 10), &vertical, &white), Ok);
    EXPECT_EQ(g.DrawString(L"x", -1, &font, PointF(5, 6), &white), Ok);
    EXPECT_EQ(g.DrawString(L"refused", -1, nullptr, PointF(5, 6), &white), InvalidParameter);
  }
  EXPECT_EQ(gdiplus::SetDrawStringObserver(nullptr), &seen);
  {
    Graphics g(&bmp);
    Font font(L"Arial", 8);
    SolidBrush white(Color(255, 255, 255, 255));
    g.DrawString(L"unobserved", -1, &font, PointF(5, 6), &white);
  }
  ASSERT_EQ(seen.calls.size(), 2u);
  EXPECT_EQ(seen.calls[0].text, L"abc");
  EXPECT_EQ(seen.calls[0].layout.X, 1);
  EXPECT_EQ(seen.calls[0].layout.Height, 10);
  EXPECT_EQ(seen.calls[0].formatFlags, StringFormatFlagsDirectionVertical);
  EXPECT_EQ(seen.calls[1].text, L"x");
  EXPECT_EQ(seen.calls[1].layout.Width, 0);
}

TEST(GraphicsDraw, AlignmentsPlaceTextAroundAPointOrigin) {
  // Near text starts at the point, centred text straddles it, far text ends
  // at it.
  const StringAlignment alignments[] = {StringAlignmentNear, StringAlignmentCenter, StringAlignmentFar};
  for (StringAlignment a : alignments) {
    std::vector<std::uint32_t> px(200 * 30, 0xFF000000);
    Bitmap bmp(200, 30, 200 * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(px.data()));
    {
      Graphics g(&bmp);
      Font font(L"Arial", 10);
      SolidBrush white(Color(255, 255, 255, 255));
      StringFormat f;
      f.SetAlignment(a);
      EXPECT_EQ(g.DrawString(L"WWWWWW", -1, &font, PointF(100, 5), &f, &white), Ok);
    }
    int left = 200, right = -1;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 200; ++x)
        if (px[static_cast<size_t>(y * 200 + x)] != 0xFF000000) left = std::min(left, x), right = std::max(right, x);
    ASSERT_GE(right, 0) << a;
    if (a == StringAlignmentNear) {
      EXPECT_GE(left, 99);
    } else if (a == StringAlignmentCenter) {
      EXPECT_TRUE(left < 95 && right > 105) << left << " " << right;
    } else {
      EXPECT_LE(right, 101);
    }
  }
}

class Panel : public CWnd {};

TEST(GraphicsDraw, ShrunkTwentyFourBitImagesMatchAFilteredThirtyTwoBitDraw) {
  // A large 24-bit image drawn small is sampled at the destination's pixels
  // only; the result is the filtered draw of the same image in 32 bits.
  const int sw = 320, sh = 240;
  std::vector<BYTE> rgb(static_cast<size_t>(sw) * 3 * sh);
  std::vector<std::uint32_t> argb(static_cast<size_t>(sw) * sh);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x) {
      const int b = (x * 255) / sw, g = (y * 255) / sh, r = 128 + static_cast<int>(100 * std::sin(x / 23.0 + y / 31.0));
      BYTE* p = &rgb[static_cast<size_t>((y * sw + x) * 3)];
      p[0] = static_cast<BYTE>(b), p[1] = static_cast<BYTE>(g), p[2] = static_cast<BYTE>(r);
      argb[static_cast<size_t>(y * sw + x)] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
  Bitmap src24(sw, sh, sw * 3, PixelFormat24bppRGB, rgb.data());
  Bitmap src32(sw, sh, sw * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(argb.data()));
  for (const RectF& dest : {RectF(3, 4, 80, 60), RectF(0, 0, 40, 100)}) {
    std::vector<std::uint32_t> a(100 * 110, 0), b(100 * 110, 0);
    Bitmap ta(100, 110, 400, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(a.data()));
    Bitmap tb(100, 110, 400, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(b.data()));
    {
      Graphics ga(&ta), gb(&tb);
      ga.SetInterpolationMode(InterpolationModeLowQuality);
      EXPECT_EQ(ga.DrawImage(&src24, dest), Ok);
      EXPECT_EQ(gb.DrawImage(&src32, dest), Ok);
    }
    for (size_t i = 0; i < a.size(); ++i)
      for (int s = 0; s < 32; s += 8)
        ASSERT_NEAR(static_cast<int>((a[i] >> s) & 0xFF), static_cast<int>((b[i] >> s) & 0xFF), 6)
            << i % 100 << "," << i / 100 << " shift " << s;
  }
}

TEST(GraphicsDraw, ImagesDrawnOnAWindowLandAtOnce) {
  Panel w;
  ASSERT_TRUE(w.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(0, 0, 40, 30), nullptr, 0));
  Bitmap red(4, 4, PixelFormat32bppARGB);
  {
    Graphics g(&red);
    g.Clear(Color(255, 255, 0, 0));
  }
  Graphics g(w.m_hWnd);
  EXPECT_EQ(g.DrawImage(&red, RectF(10, 12, 4, 4)), Ok);
  CClientDC dc(&w);
  EXPECT_EQ(dc.GetPixel(11, 13), RGB(255, 0, 0));
  EXPECT_NE(dc.GetPixel(9, 13), RGB(255, 0, 0));
}

TEST(GraphicsDraw, OnAWindowLandsAtOnceAndFollowsResizes) {
  Panel w;
  ASSERT_TRUE(w.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(0, 0, 40, 30), nullptr, 0));
  Graphics g(w.m_hWnd);
  SolidBrush blue(Color(255, 0, 0, 255));
  EXPECT_EQ(g.FillRectangle(&blue, 0, 0, 10, 10), Ok);
  CClientDC dc(&w);
  EXPECT_EQ(dc.GetPixel(5, 5), RGB(0, 0, 255));
  w.SetWindowPos(nullptr, 0, 0, 80, 60, SWP_NOMOVE | SWP_NOZORDER);
  SolidBrush green(Color(255, 0, 255, 0));
  EXPECT_EQ(g.FillRectangle(&green, 70, 50, 5, 5), Ok);
  EXPECT_EQ(dc.GetPixel(72, 52), RGB(0, 255, 0));
  EXPECT_EQ(dc.GetPixel(5, 5), RGB(0, 0, 255));
  // Window capture reads the same client area.
  gdiplus::WindowSurfaceSource* src = gdiplus::GetWindowSurfaceSource();
  ASSERT_NE(src, nullptr);
  int cw = 0, ch = 0;
  ASSERT_TRUE(src->GetClientSize(w.m_hWnd, &cw, &ch));
  EXPECT_EQ(cw, 80);
  std::vector<std::uint32_t> px(static_cast<size_t>(cw * ch));
  ASSERT_TRUE(src->ReadClient(w.m_hWnd, px.data(), cw, ch, cw * 4));
  EXPECT_EQ(px[5 * 80 + 5] & 0xFFFFFF, 0x0000FFu);
  EXPECT_FALSE(src->ReadClient(w.m_hWnd, px.data(), 10, 10, 40));
  w.DestroyWindow();
  EXPECT_EQ(g.FillRectangle(&blue, 0, 0, 1, 1), WrongState);
}

TEST(GraphicsDraw, OnAMemoryDc) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(dc, 16, 16);
  HGDIOBJ old = SelectObject(dc, bmp);
  {
    Graphics g(dc);
    Pen pen(Color(255, 255, 0, 0), 1);
    EXPECT_EQ(g.DrawLine(&pen, 0, 8, 16, 8), Ok);
  }
  EXPECT_EQ(GetPixel(dc, 8, 8), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 8, 2), RGB(0, 0, 0));
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  Graphics none(static_cast<HDC>(nullptr));
  EXPECT_EQ(none.Clear(Color(0xFF000000)), WrongState);
}

}  // namespace
