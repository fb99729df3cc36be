#include "quorlmfc/win_dib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "quorlmfc/mem_dc.h"
#include "win/window.h"

namespace {

// A frame buffer of w x h pixels with a guard band on both sides, and a
// memory DC for the winDIB to sit on.
struct Buffer {
  Buffer(int w, int h, std::uint32_t fill = 0) : width(w), height(h), mem(static_cast<size_t>(w * h + 2 * kGuard), fill) {
    for (int i = 0; i < kGuard; ++i) mem[static_cast<size_t>(i)] = mem[mem.size() - 1 - static_cast<size_t>(i)] = kCanary;
    dc.CreateCompatibleDC(nullptr);
  }
  unsigned char* pixels() { return reinterpret_cast<unsigned char*>(mem.data() + kGuard); }
  std::uint32_t at(int x, int y) const { return mem[static_cast<size_t>(kGuard + y * width + x)]; }
  bool guardsIntact() const {
    for (int i = 0; i < kGuard; ++i)
      if (mem[static_cast<size_t>(i)] != kCanary || mem[mem.size() - 1 - static_cast<size_t>(i)] != kCanary) return false;
    return true;
  }
  // Rows of '#' for pixels equal to colour, '.' otherwise.
  std::vector<std::string> map(std::uint32_t colour) const {
    std::vector<std::string> rows;
    for (int y = 0; y < height; ++y) {
      std::string r;
      for (int x = 0; x < width; ++x) r += at(x, y) == colour ? '#' : '.';
      rows.push_back(r);
    }
    return rows;
  }
  static constexpr int kGuard = 64;
  static constexpr std::uint32_t kCanary = 0xDEADBEEF;
  int width, height;
  std::vector<std::uint32_t> mem;
  CDC dc;
};

winDIB Attached(Buffer& b) {
  winDIB d(b.dc);
  d.frameBuffer(b.pixels(), nullptr, b.width, b.height, 32);
  d.srcRect() = CRect(0, 0, b.width, b.height);
  return d;
}

TEST(WinDib, StartsEmptyAndNotInitialised) {
  CDC dc;
  dc.CreateCompatibleDC(nullptr);
  winDIB d(dc);
  EXPECT_TRUE(d.srcRect().IsRectNull());
  EXPECT_TRUE(d.dstRect().IsRectNull());
  EXPECT_FALSE(d.isInitialized());
  EXPECT_EQ(d.info()->bmiHeader.biSize, 40u);
  EXPECT_EQ(d.info()->bmiHeader.biPlanes, 1);
  EXPECT_EQ(d.info()->bmiHeader.biXPelsPerMeter, 72);
  // Primitives without a frame buffer do nothing.
  d.line(0, 0, 5, 5, 0xFFFFFFFF);
  d.aaLine(0, 0, 5, 5, 0xFFFFFFFF);
  d.fillRect(0, 0, 5, 5, 0xFFFFFFFF);
  EXPECT_EQ(d.copyToDisplay(), 0);
}

TEST(WinDib, DepthTable) {
  struct Case {
    unsigned short bits;
    std::uint32_t compression, bitCount, r, g, b, size;
  };
  // 10 x 6 pixels.
  const Case cases[] = {
      {15, BI_BITFIELDS, 16, 0x7C00, 0x03E0, 0x001F, 120}, {16, BI_BITFIELDS, 16, 0xF800, 0x07E0, 0x001F, 120},
      {24, BI_RGB, 24, 0, 0, 0, 180},                      {32, BI_RGB, 32, 0, 0, 0, 240},
      {8, 77, 77, 0, 0, 0, 60},                            {11, 77, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Buffer b(10, 6);
    winDIB d(b.dc);
    // A marker state shows what depth 8 and unknown depths leave unchanged.
    d.frameBuffer(b.pixels(), nullptr, 10, 6, 0);
    const_cast<BITMAPINFOHEADER&>(d.info()->bmiHeader).biCompression = 77;
    const_cast<BITMAPINFOHEADER&>(d.info()->bmiHeader).biBitCount = 77;
    d.depth(c.bits);
    EXPECT_EQ(d.compression(), c.compression) << c.bits;
    EXPECT_EQ(d.depth(), c.bitCount) << c.bits;
    EXPECT_EQ(d.imageSize(), c.size) << c.bits;
    if (c.compression == BI_BITFIELDS) {
      EXPECT_EQ(d.mask(0), c.r);
      EXPECT_EQ(d.mask(1), c.g);
      EXPECT_EQ(d.mask(2), c.b);
    }
  }
  // Height is stored negated (top-down) and read back positive; image size
  // uses the positive height whatever sign the caller gave.
  Buffer b(4, 3);
  winDIB d(b.dc);
  d.frameBuffer(b.pixels(), nullptr, 4, -3, 32);
  EXPECT_EQ(d.info()->bmiHeader.biHeight, -3);
  EXPECT_EQ(d.height(), 3);
  EXPECT_EQ(d.imageSize(), 48u);
  EXPECT_TRUE(d.isInitialized());
  winDIB copy(d);
  EXPECT_EQ(copy.frameBuffer(), d.frameBuffer());
  EXPECT_EQ(copy.imageSize(), 48u);
}

TEST(WinDib, ClipLineTable) {
  struct Case {
    const char* what;
    float x0, y0, x1, y1;
    bool visible;
    float ex0, ey0, ex1, ey1;
  };
  // Source rectangle (0, 0, 20, 20): bottom - 2 = 18, right - 2 = 18.
  const Case cases[] = {
      {"above top", 2, -5, 8, -1, false, 0, 0, 0, 0},
      {"start at bottom - 2", 2, 18, 5, 19, false, 0, 0, 0, 0},
      {"bottom clip", 0, 10, 10, 20, true, 0, 10, 8, 17},
      {"swapped ends", 10, 20, 0, 10, true, 0, 10, 8, 17},
      {"left side", -10, 5, 10, 5, true, 0, 5, 10, 5},
      {"right side", 5, 5, 30, 10, true, 5, 5, 18, 7.6f},
      {"left of all", -10, 5, -2, 6, false, 0, 0, 0, 0},
      {"right of all", 19, 5, 25, 6, false, 0, 0, 0, 0},
      {"top clip", 4, -4, 4, 4, true, 4, 0, 4, 4},
  };
  Buffer b(32, 32);
  winDIB d = Attached(b);
  d.srcRect() = CRect(0, 0, 20, 20);
  for (const Case& c : cases) {
    float x0 = c.x0, y0 = c.y0, x1 = c.x1, y1 = c.y1;
    ASSERT_EQ(d.clipLine(x0, y0, x1, y1), c.visible) << c.what;
    if (!c.visible) continue;
    EXPECT_FLOAT_EQ(x0, c.ex0) << c.what;
    EXPECT_FLOAT_EQ(y0, c.ey0) << c.what;
    EXPECT_FLOAT_EQ(x1, c.ex1) << c.what;
    EXPECT_NEAR(y1, c.ey1, 1e-5) << c.what;
  }
}

TEST(WinDib, LinesAgainstPixelMaps) {
  struct Case {
    const char* what;
    float x0, y0, x1, y1;
    std::vector<std::string> want;
  };
  const std::uint32_t c = 0xFF123456;
  const Case cases[] = {
      {"horizontal writes x 0..9", 0, 5, 10, 5,
       {"............", "............", "............", "............", "............", "##########..", "............",
        "............"}},
      {"vertical", 3, 1, 3, 6,
       {"............", "...#........", "...#........", "...#........", "...#........", "...#........", "............",
        "............"}},
      {"45 degrees lags one row on its strict error test", 0, 0, 4, 4,
       {"#...........", "#...........", ".#..........", "..#.........", "............", "............", "............",
        "............"}},
      {"leftward: the clip puts the left end first", 9, 2, 1, 2,
       {"............", "............", ".########...", "............", "............", "............", "............",
        "............"}},
      {"steep", 1, 0, 3, 6,
       {".#..........", ".#..........", ".#..........", ".#..........", "..#.........", "..#.........", "............",
        "............"}},
      {"shorter than a pixel", 0, 0, 0.5f, 0,
       {"............", "............", "............", "............", "............", "............", "............",
        "............"}},
  };
  for (const Case& k : cases) {
    Buffer b(12, 8);
    winDIB d = Attached(b);
    d.line(k.x0, k.y0, k.x1, k.y1, c);
    EXPECT_EQ(b.map(c), k.want) << k.what;
  }
}

TEST(WinDib, FillRectTable) {
  Buffer b(4, 4, 0xFFFFFFFF);
  winDIB d = Attached(b);
  d.fillRect(1, 1, 2, 2, 0xFF102030);  // opaque: exact value
  EXPECT_EQ(b.at(1, 1), 0xFF102030u);
  EXPECT_EQ(b.at(2, 2), 0xFF102030u);
  EXPECT_EQ(b.at(3, 3), 0xFFFFFFFFu);
  d.fillRect(0, 3, 0, 3, 0x80000000);  // alpha 128 black over white, alpha byte 0
  EXPECT_EQ(b.at(0, 3), 0x007E7E7Eu);
  d.fillRect(-5, -5, 0, 0, 0xFF0000FF);  // clamped
  EXPECT_EQ(b.at(0, 0), 0xFF0000FFu);
  d.fillRect(3, 0, 100, 0, 0xFF00FF00);
  EXPECT_EQ(b.at(3, 0), 0xFF00FF00u);
  const std::vector<std::uint32_t> before = b.mem;
  d.fillRect(2, 0, 1, 3, 0xFF000000);  // x1 < x0
  d.fillRect(4, 0, 9, 3, 0xFF000000);  // outside
  d.fillRect(0, -9, 3, -1, 0xFF000000);
  EXPECT_EQ(b.mem, before);
}

TEST(WinDib, RandomPrimitivesStayInsideTheBuffer) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> coord(-80.f, 120.f);
  std::uniform_real_distribution<float> tiny(0.f, 1.f / 512);
  std::uniform_int_distribution<int> icoord(-60, 100);
  std::uniform_int_distribution<unsigned> colour;
  for (int round = 0; round < 40; ++round) {
    Buffer b(17 + round % 5, 13 + round % 7);
    winDIB d = Attached(b);
    // Source rectangles larger than the buffer, and off its edges.
    d.srcRect() = CRect(icoord(rng) % 8 - 4, icoord(rng) % 8 - 4, 40 + round, 30 + round);
    for (int i = 0; i < 150; ++i) {
      d.line(coord(rng), coord(rng), coord(rng), coord(rng), colour(rng));
      d.aaLine(coord(rng), coord(rng), coord(rng), coord(rng), colour(rng));
      // Fractions below 1/256 at the end points.
      const float x = static_cast<float>(icoord(rng) % 20) + tiny(rng), y = static_cast<float>(icoord(rng) % 20) + tiny(rng);
      d.aaLine(x, y, x + 7 + tiny(rng), y + 3 + tiny(rng), colour(rng));
      d.aaLine(x, y, x + tiny(rng), y + 9, colour(rng));
      d.fillRect(icoord(rng), icoord(rng), icoord(rng), icoord(rng), colour(rng));
    }
    ASSERT_TRUE(b.guardsIntact()) << round;
  }
}

TEST(WinDib, AntiAliasedLineCoversTwoPixelsPerStep) {
  Buffer b(16, 8);
  winDIB d = Attached(b);
  d.aaLine(1, 2.5f, 9, 2.5f, 0xFFFFFFFF);
  // Half on row 2, half on row 3.
  EXPECT_EQ(b.at(4, 2) & 0xFF, 126u);  // coverage 128, alpha 127, (255 * 127) >> 8
  EXPECT_EQ(b.at(4, 3) & 0xFF, 126u);
  EXPECT_EQ(b.at(4, 1), 0u);
  EXPECT_EQ(b.at(4, 4), 0u);
}

// Coverage (0 to 256) of each pixel an anti-aliased line should touch,
// from the line's exact geometry: from its end with the smaller y, one
// pixel at a time along its longer axis, for the whole pixels of its
// length; each step shares full coverage between the two pixels across
// the shorter axis that the line passes between, by how near it runs to
// each. The first pair fades with the start's fraction along the longer
// axis as well, and is marked.
struct Cover {
  int x, y;
  double coverage;
  bool fade;
};

std::vector<Cover> ExpectedCoverage(double x0, double y0, double x1, double y1) {
  if (y0 > y1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const bool xMajor = y1 - y0 < std::fabs(x1 - x0);
  const double major0 = xMajor ? x0 : y0, minor0 = xMajor ? y0 : x0;
  const double majorLength = xMajor ? std::fabs(x1 - x0) : y1 - y0;
  const double minorPerStep = (xMajor ? y1 - y0 : x1 - x0) / majorLength;
  const int step = xMajor && x1 < x0 ? -1 : 1;
  const double startFraction = major0 - std::floor(major0);
  std::vector<Cover> covers;
  for (int i = 0; i < static_cast<int>(majorLength); ++i) {
    const int major = static_cast<int>(std::floor(major0)) + i * step;
    const double minor = minor0 + i * minorPerStep;
    const int near = static_cast<int>(std::floor(minor));
    const double f = minor - near;
    const double along = i == 0 ? 1 - startFraction : 1;
    for (const auto& [at, share] : {std::pair{near, 1 - f}, std::pair{near + 1, f}}) {
      const int x = xMajor ? major : at, y = xMajor ? at : major;
      covers.push_back({x, y, 256 * along * share, i == 0});
    }
  }
  return covers;
}

TEST(WinDib, AntiAliasedLinesShareEachStepBetweenTwoPixels) {
  struct Case {
    const char* what;
    float x0, y0, x1, y1;
    std::uint32_t colour;
  };
  // Slopes of a quarter pixel a step, so that every coverage is exact.
  const Case cases[] = {
      {"x-major, going down to the right", 1, 2.5f, 9, 4.5f, 0xFFFFFFFF},
      {"x-major, going up to the right", 1, 4.5f, 9, 2.5f, 0xFFFFFFFF},
      {"y-major, going down to the right", 2.5f, 1, 4.5f, 9, 0xFFFFFFFF},
      {"y-major, going down to the left", 6.5f, 1, 4.5f, 9, 0xFFFFFFFF},
      {"y-major, written bottom end first", 4.5f, 9, 6.5f, 1, 0xFFFFFFFF},
      {"x-major fades in over its first pixel", 1.75f, 3.25f, 9.75f, 3.25f, 0xFFFFFFFF},
      {"y-major fades in over its first pixel", 4.25f, 1.5f, 4.25f, 9.5f, 0xFFFFFFFF},
      {"leftward x-major fades with the start's fraction", 9.25f, 6, 1.25f, 8, 0xFFFFFFFF},
      {"half alpha halves every coverage", 1, 2.5f, 9, 4.5f, 0x80FFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Buffer b(16, 16);
    winDIB d = Attached(b);
    d.aaLine(c.x0, c.y0, c.x1, c.y1, c.colour);
    std::vector<double> coverage(16 * 16, 0);
    std::vector<bool> fades(16 * 16, false);
    for (const Cover& k : ExpectedCoverage(c.x0, c.y0, c.x1, c.y1)) {
      ASSERT_TRUE(k.x >= 0 && k.x < 16 && k.y >= 0 && k.y < 16);
      coverage[static_cast<size_t>(k.y * 16 + k.x)] = k.coverage;
      fades[static_cast<size_t>(k.y * 16 + k.x)] = k.fade;
    }
    const unsigned alpha = c.colour >> 24;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const size_t i = static_cast<size_t>(y * 16 + x);
        // The pixel is blended in at alpha coverage x A / 256 over black:
        // its alpha byte is that alpha, each channel 255 x alpha / 256.
        const std::uint32_t got = b.at(x, y);
        const unsigned gotAlpha = got >> 24;
        EXPECT_EQ(got & 0xFF, (255 * gotAlpha) >> 8) << x << ", " << y;
        EXPECT_EQ(got & 0xFFFFFF, (got & 0xFF) * 0x010101u) << x << ", " << y;
        const double want = std::min(coverage[i] * alpha / 256, 255.0);
        // The first pair's weights come from a table of 8-bit fractions.
        if (fades[i])
          EXPECT_NEAR(gotAlpha, want, 2.0) << x << ", " << y;
        else
          EXPECT_EQ(gotAlpha, static_cast<unsigned>(want)) << x << ", " << y;
      }
  }
}

// A window whose client area the DIB calls land in.
class Panel : public CWnd {};

TEST(WinDib, DibCallsIntoAWindowSurfaceReadBackTopDown) {
  Panel panel;
  ASSERT_TRUE(panel.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(0, 0, 8, 8), nullptr, 0));
  std::vector<std::uint32_t> px(4 * 3, 0);
  px[0] = 0x00FF0000;           // row 0: top
  px[2 * 4 + 3] = 0x000000FF;   // row 2, last column
  CClientDC dc(&panel);
  dc.FillSolidRect(0, 0, 8, 8, RGB(0, 255, 0));
  winDIB d(dc);
  d.frameBuffer(reinterpret_cast<unsigned char*>(px.data()), nullptr, 4, 3, 32);
  d.srcRect() = CRect(0, 0, 4, 3);
  d.dstRect() = CRect(1, 1, 5, 4);
  EXPECT_EQ(d.copyToDisplay(), 3);
  EXPECT_EQ(dc.GetPixel(1, 1), RGB(255, 0, 0));
  EXPECT_EQ(dc.GetPixel(4, 3), RGB(0, 0, 255));
  EXPECT_EQ(dc.GetPixel(0, 0), RGB(0, 255, 0));
  // An oversize source rectangle is clipped to the buffer, never read past.
  d.srcRect() = CRect(0, 0, 40, 30);
  d.dstRect() = CRect(0, 0, 8, 8);
  EXPECT_EQ(d.stretchToDisplay(), 3);
  d.dstRect() = CRect(0, 0, 40, 30);
  EXPECT_EQ(d.copyToDisplay(), 3);
  // 24-bit rows of 4 * 3 bytes need no padding; 3 * 3 would, and show nothing.
  std::vector<std::uint8_t> rgb(3 * 3 * 3 + 16, 0);
  d.frameBuffer(rgb.data(), nullptr, 3, 3, 24);
  d.srcRect() = CRect(0, 0, 3, 3);
  d.dstRect() = CRect(0, 0, 3, 3);
  EXPECT_EQ(d.copyToDisplay(), 0);
  EXPECT_EQ(d.stretchToDisplay(), 0);
  d.frameBuffer(rgb.data(), nullptr, 4, 2, 24);
  d.srcRect() = CRect(0, 0, 4, 2);
  d.dstRect() = CRect(0, 0, 4, 2);
  EXPECT_EQ(d.copyToDisplay(), 2);
  panel.DestroyWindow();
}

TEST(MemDc, LandsOnlyAtDestruction) {
  CDC target;
  target.CreateCompatibleDC(nullptr);
  CBitmap bmp;
  bmp.CreateCompatibleBitmap(&target, 20, 20);
  CBitmap* old = target.SelectObject(&bmp);
  target.FillSolidRect(0, 0, 20, 20, RGB(255, 255, 255));
  target.SetBkColor(RGB(9, 9, 9));
  const CRect area(5, 5, 15, 15);
  {
    CMemDC mem(&target, &area);
    mem->FillSolidRect(6, 6, 2, 2, RGB(200, 0, 0));
    EXPECT_EQ(mem.GetPixel(6, 6), RGB(200, 0, 0));  // logical coordinates of the target
    EXPECT_EQ(target.GetPixel(6, 6), RGB(255, 255, 255));
    EXPECT_EQ(target.GetPixel(10, 10), RGB(255, 255, 255));
  }
  EXPECT_EQ(target.GetPixel(6, 6), RGB(200, 0, 0));
  EXPECT_EQ(target.GetPixel(10, 10), RGB(9, 9, 9));  // the background colour fill
  EXPECT_EQ(target.GetPixel(2, 2), RGB(255, 255, 255));
  // On a printing DC everything goes straight through.
  target.m_bPrinting = TRUE;
  {
    CMemDC mem(&target, &area);
    EXPECT_TRUE(mem.IsPrinting());
    mem.FillSolidRect(12, 12, 1, 1, RGB(0, 0, 200));
    EXPECT_EQ(target.GetPixel(12, 12), RGB(0, 0, 200));
  }
  EXPECT_NE(target.GetSafeHdc(), nullptr);
  EXPECT_EQ(target.GetPixel(12, 12), RGB(0, 0, 200));
  target.m_bPrinting = FALSE;
  target.SelectObject(old);
}

}  // namespace
