#include "MVG/gdi_graph_2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "gdiplus/gdiplus.h"

namespace {

using Gdiplus::PointF;

constexpr std::uint32_t kWhite = 0xFFFFFFFF;

struct Strings : gdiplus::DrawStringObserver {
  Strings() { gdiplus::SetDrawStringObserver(this); }
  ~Strings() override { gdiplus::SetDrawStringObserver(nullptr); }
  void OnDrawString(const gdiplus::DrawStringCall& c) override { calls.push_back(c); }
  std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> t;
    for (const auto& c : calls) t.push_back(c.text);
    return t;
  }
  const gdiplus::DrawStringCall* Find(const std::wstring& text) const {
    for (const auto& c : calls)
      if (c.text == text) return &c;
    return nullptr;
  }
  std::vector<gdiplus::DrawStringCall> calls;
};

// A white 400 x 265 bitmap as the graph's box. With the default borders
// (left 60, right 40, bottom 40, top 25) the plot spans x 60..360 and y
// 225 (bottom) .. 25 (top): 300 x 200 pixels.
constexpr int kW = 400, kH = 265;
constexpr float kLeft = 60, kRight = 360, kBottom = 225, kTop = 25;

class GraphFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Gdiplus::GdiplusStartupInput in;
    Gdiplus::GdiplusStartup(&token, &in, nullptr);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token); }

  GraphFixture() : pixels(kW * kH, kWhite), bitmap(kW, kH, kW * 4, PixelFormat32bppARGB, Bytes()) {}
  BYTE* Bytes() { return reinterpret_cast<BYTE*>(pixels.data()); }

  template <class G>
  void Prepare(G& g, float xmin, float xmax, float ymin, float ymax) {
    g.SetGraphics(new Gdiplus::Graphics(&bitmap));
    Gdiplus::RectF box(0, 0, kW, kH);
    g.SetGraphBox(&box);
    g.SetAxis(xmin, xmax, ymin, ymax);
    g.InitializeDrawing();
  }
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y * kW + x)]; }
  // Any pixel of colour within r pixels of (x, y): lines land on one side of
  // a coordinate that lies between two pixels.
  bool Near(float fx, float fy, std::uint32_t colour, int r = 1) const {
    const int x = static_cast<int>(std::lround(fx)), y = static_cast<int>(std::lround(fy));
    for (int dy = -r; dy <= r; ++dy)
      for (int dx = -r; dx <= r; ++dx) {
        const int px = x + dx, py = y + dy;
        if (px >= 0 && py >= 0 && px < kW && py < kH && At(px, py) == colour) return true;
      }
    return false;
  }
  int Count(std::uint32_t colour) const {
    int n = 0;
    for (std::uint32_t p : pixels) n += p == colour;
    return n;
  }

  static ULONG_PTR token;
  std::vector<std::uint32_t> pixels;
  Gdiplus::Bitmap bitmap;
};
ULONG_PTR GraphFixture::token = 0;

constexpr std::uint32_t kBlack = 0xFF000000, kRed = 0xFFFF0000;

// ---- Labels ---------------------------------------------------------------------

TEST_F(GraphFixture, LabelsOfTheUsualCaseSitOnTheAxesWithTheirTexts) {
  GDI::CLineGraph2D g;
  Prepare(g, 0, 10, 0, 1);
  g.SetLabels(0, 10, 5, 0, 1, 5);
  Strings seen;
  g.DrawBase();
  const std::vector<std::wstring> xTexts = {L"0.00", L"2.00", L"4.00", L"6.00", L"8.00", L"10.00"};
  const std::vector<std::wstring> yTexts = {L"0.0", L"0.2", L"0.4", L"0.6", L"0.8", L"1.0"};
  ASSERT_EQ(g.GetXLabels().size(), 6u);
  ASSERT_EQ(g.GetYLabels().size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    const GDI::GraphLabel& x = g.GetXLabels()[i];
    const GDI::GraphLabel& y = g.GetYLabels()[i];
    EXPECT_EQ(std::wstring(x.text), xTexts[i]);
    EXPECT_EQ(std::wstring(y.text), yTexts[i]);
    // Every x label on the x axis, 60 pixels apart from the left edge; the y
    // labels up the y axis, 40 pixels apart from the bottom.
    EXPECT_FLOAT_EQ(x.x, kLeft + 60.0f * static_cast<float>(i));
    EXPECT_FLOAT_EQ(x.y, kBottom);
    EXPECT_FLOAT_EQ(y.x, kLeft);
    EXPECT_FLOAT_EQ(y.y, kBottom - 40.0f * static_cast<float>(i));
    // Their ticks hang below and to the left of the axes, their texts are
    // drawn centred beside them.
    EXPECT_TRUE(Near(x.x, kBottom + 2, kBlack)) << i;
    EXPECT_TRUE(Near(kLeft - 2, y.y, kBlack)) << i;
    const gdiplus::DrawStringCall* xc = seen.Find(xTexts[i]);
    const gdiplus::DrawStringCall* yc = seen.Find(yTexts[i]);
    ASSERT_TRUE(xc && yc) << i;
    EXPECT_FLOAT_EQ(xc->layout.X, x.x);
    EXPECT_FLOAT_EQ(xc->layout.Y, kBottom + 4);
    EXPECT_EQ(xc->alignment, Gdiplus::StringAlignmentCenter);
    EXPECT_FLOAT_EQ(yc->layout.X, kLeft - 23);
    EXPECT_FLOAT_EQ(yc->layout.Y, y.y - 6);
  }
}

TEST_F(GraphFixture, LabelsOfANegativeRangeAndEmptyStepCounts) {
  GDI::CBaseGraph2D g;
  Prepare(g, -10, -2, -1, 0.5f);
  g.SetLabels(-10, -2, 4, -1, 0.5f, 3);
  ASSERT_EQ(g.GetXLabels().size(), 5u);
  ASSERT_EQ(g.GetYLabels().size(), 4u);
  EXPECT_EQ(std::wstring(g.GetXLabels()[0].text), L"-10.00");
  EXPECT_EQ(std::wstring(g.GetXLabels()[4].text), L"-2.00");
  EXPECT_EQ(std::wstring(g.GetYLabels()[0].text), L"-1.0");
  EXPECT_EQ(std::wstring(g.GetYLabels()[3].text), L"0.5");
  EXPECT_FLOAT_EQ(g.GetXLabels()[0].x, kLeft);
  EXPECT_FLOAT_EQ(g.GetXLabels()[4].x, kRight);
  // All x values negative: the y axis (and the y labels) stand at the right.
  EXPECT_FLOAT_EQ(g.GetYLabels()[0].x, kRight);
  EXPECT_FLOAT_EQ(g.GetYLabels()[3].y, kTop);

  struct Case {
    float xSteps, ySteps;
    size_t nx, ny;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {{0, 2, 0, 3}, {2, 0, 3, 0}, {0, 0, 0, 0}, {-3, -1, 0, 0}, {inf, std::nanf(""), 0, 0}, {1e9f, 1e9f, 0, 0}};
  for (const Case& c : cases) {
    g.SetLabels(-10, -2, c.xSteps, -1, 0.5f, c.ySteps);
    EXPECT_EQ(g.GetXLabels().size(), c.nx) << c.xSteps;
    EXPECT_EQ(g.GetYLabels().size(), c.ny) << c.ySteps;
  }
}

// ---- Axes and placement ------------------------------------------------------------

struct Range {
  float min, max;
  // Where the axis of the other direction stands: the y axis's x for an x
  // range, the x axis's y for a y range.
  float yAxisX, xAxisY;
};
const Range kRanges[] = {
    {0, 10, kLeft, kBottom},
    {-5, 5, (kLeft + kRight) / 2, (kBottom + kTop) / 2},
    {-12, -2, kRight, kTop},
    {2, 12, kLeft, kBottom},
};

TEST_F(GraphFixture, AxesStandWhereTheRangesPutThem) {
  for (const Range& r : kRanges) {
    SCOPED_TRACE(r.min);
    std::fill(pixels.begin(), pixels.end(), kWhite);
    GDI::CBaseGraph2D g;
    Prepare(g, r.min, r.max, r.min, r.max);
    EXPECT_FLOAT_EQ(g.GetScaleX(), 30);
    EXPECT_FLOAT_EQ(g.GetScaleY(), 20);
    EXPECT_FLOAT_EQ(g.GetYAxisLine()[0].X, r.yAxisX);
    EXPECT_FLOAT_EQ(g.GetXAxisLine()[0].Y, r.xAxisY);
    EXPECT_FLOAT_EQ(g.GetAxisCrossing().X, r.yAxisX);
    EXPECT_FLOAT_EQ(g.GetAxisCrossing().Y, r.xAxisY);
    g.DrawAxis();
    // The y axis runs the plot's height, the x axis its width.
    for (float y : {kTop + 5, (kTop + kBottom) / 2, kBottom - 5}) EXPECT_TRUE(Near(r.yAxisX, y, kBlack)) << y;
    for (float x : {kLeft + 5, (kLeft + kRight) / 2, kRight - 5}) EXPECT_TRUE(Near(x, r.xAxisY, kBlack)) << x;
    EXPECT_FALSE(Near(r.yAxisX, kTop - 10, kBlack, 3));
    EXPECT_FALSE(Near(kRight + 10, r.xAxisY, kBlack, 3));
  }
}

TEST_F(GraphFixture, DataLieUnderTheirTicksInEveryGraphKind) {
  for (const Range& r : kRanges) {
    SCOPED_TRACE(r.min);
    const float mid = r.min + 4;  // a tick of SetLabels(min, max, 5, ...)
    const float tickX = kLeft + 4 * 30, tickY = kBottom - 4 * 20;
    {
      std::fill(pixels.begin(), pixels.end(), kWhite);
      GDI::CLineGraph2D g;
      Prepare(g, r.min, r.max, r.min, r.max);
      g.SetLabels(r.min, r.max, 5, r.min, r.max, 5);
      EXPECT_FLOAT_EQ(g.GetXLabels()[2].x, tickX);
      EXPECT_FLOAT_EQ(g.GetYLabels()[2].y, tickY);
      g.AddPoint(r.min, r.min, nullptr);
      g.AddPoint(mid, mid, nullptr);
      g.AddPoint(r.max, r.max, nullptr);
      g.DrawBase();
      const std::vector<PointF>& p = g.GetPositions();
      ASSERT_EQ(p.size(), 3u);
      EXPECT_FLOAT_EQ(p[0].X, kLeft);
      EXPECT_FLOAT_EQ(p[0].Y, kBottom);
      EXPECT_FLOAT_EQ(p[1].X, tickX);
      EXPECT_FLOAT_EQ(p[1].Y, tickY);
      EXPECT_FLOAT_EQ(p[2].X, kRight);
      EXPECT_FLOAT_EQ(p[2].Y, kTop);
      // The red line passes through all three.
      EXPECT_TRUE(Near(kLeft + 2, kBottom - 2, kRed, 2));
      EXPECT_TRUE(Near(tickX, tickY, kRed));
      EXPECT_TRUE(Near(kRight - 2, kTop + 2, kRed, 2));
    }
    {
      std::fill(pixels.begin(), pixels.end(), kWhite);
      GDI::CScatterGraph2D g;
      Prepare(g, r.min, r.max, r.min, r.max);
      Gdiplus::Color blue(0xFF0000FF);
      g.AddPoint(r.min, r.min, &blue);
      g.AddPoint(mid, mid, nullptr);
      g.AddPoint(r.max, r.max, &blue);
      g.SetDataForDrawing();
      g.DrawBase();
      // Each cross's arms reach 2 pixels from its point.
      EXPECT_TRUE(Near(kLeft + 2, kBottom - 2, 0xFF0000FF));
      EXPECT_TRUE(Near(tickX + 2, tickY + 2, kRed));
      EXPECT_TRUE(Near(tickX - 2, tickY - 2, kRed));
      EXPECT_TRUE(Near(kRight - 2, kTop + 2, 0xFF0000FF));
      EXPECT_FLOAT_EQ(g.GetPositions()[1].X, tickX);
      EXPECT_FLOAT_EQ(g.GetPositions()[1].Y, tickY);
    }
    {
      std::fill(pixels.begin(), pixels.end(), kWhite);
      GDI::CLineGraph2D g;
      Prepare(g, r.min, r.max, r.min, r.max);
      ASSERT_EQ(g.SetCyclicMode(true), 0);
      ASSERT_EQ(g.GetRingBuffer()->capacity(), 10);
      // Value i of the ring lies at x = min + i.
      for (int i = 0; i < 10; ++i) g.AddPoint(0, i == 0 ? r.min : i == 4 ? mid : r.max, nullptr);
      g.DrawBase();
      const std::vector<PointF>& p = g.GetPositions();
      EXPECT_FLOAT_EQ(p[0].X, kLeft);
      EXPECT_FLOAT_EQ(p[0].Y, kBottom);
      EXPECT_FLOAT_EQ(p[4].X, tickX);
      EXPECT_FLOAT_EQ(p[4].Y, tickY);
      EXPECT_FLOAT_EQ(p[9].X, kRight - 30);
      EXPECT_FLOAT_EQ(p[9].Y, kTop);
      EXPECT_TRUE(Near(tickX, tickY, kRed));
    }
  }
}

// ---- Rolling plot ---------------------------------------------------------------------

TEST(FloatRingBuffer, KeepsTheNewestValuesOldestFirst) {
  GDI::FloatRingBuffer b(4);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.size(), 0);
  struct After {
    int size;
    bool full;
  };
  const After after[] = {{1, false}, {2, false}, {3, false}, {4, true}, {4, true}, {4, true}};
  for (int v = 1; v <= 6; ++v) {
    b.add(static_cast<float>(v));
    EXPECT_EQ(b.size(), after[v - 1].size) << v;
    EXPECT_EQ(b.full(), after[v - 1].full) << v;
    EXPECT_FALSE(b.empty());
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(b.get(i), static_cast<float>(i + 3));
  EXPECT_EQ(b.get(4), 0.0f);
  EXPECT_EQ(b.get(-1), 0.0f);
  GDI::FloatRingBuffer none(0);
  none.add(1);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.get(0), 0.0f);
}

TEST_F(GraphFixture, RollingGraphDrawsTheNewestValuesLeftToRightRising) {
  GDI::CLineGraph2D g;
  Prepare(g, 0, 4, 0, 10);
  ASSERT_EQ(g.SetCyclicMode(true), 0);
  for (int v = 1; v <= 6; ++v) g.AddPoint(100, static_cast<float>(v), nullptr);
  g.DrawBase();
  // Values 3, 4, 5, 6 at x 0..3: 75 pixels apart, each 20 pixels higher.
  for (int i = 0; i < 4; ++i) {
    const float x = kLeft + 75.0f * static_cast<float>(i), y = kBottom - 20.0f * static_cast<float>(i + 3);
    EXPECT_FLOAT_EQ(g.GetPositions()[static_cast<size_t>(i)].X, x);
    EXPECT_FLOAT_EQ(g.GetPositions()[static_cast<size_t>(i)].Y, y);
    EXPECT_TRUE(Near(x, y, kRed)) << i;
  }
  // Nothing red right of the last value.
  for (int y = 0; y < kH; ++y)
    for (int x = static_cast<int>(kLeft + 3 * 75 + 2); x < kW; ++x) ASSERT_NE(At(x, y), kRed) << x << "," << y;
}

TEST_F(GraphFixture, CyclicModeRefusesUnusableRangesAndSwitchesBack) {
  struct Case {
    float xmax;
    bool accepted;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {{0.5f, false}, {std::nanf(""), false}, {inf, false}, {1e9f, false},
                        {0, false},    {-4, true},             {4, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xmax);
    GDI::CLineGraph2D g;
    Prepare(g, 0, c.xmax, 0, 10);
    EXPECT_EQ(g.SetCyclicMode(true), c.accepted ? 0 : -1);
    EXPECT_EQ(g.IsCyclic(), c.accepted);
    g.AddPoint(1, 2, nullptr);
    g.AddPoint(2, 3, nullptr);
    g.DrawBase();
    g.SetDataForDrawing();
    if (c.accepted) {
      EXPECT_EQ(g.GetRingBuffer()->size(), 2);
    } else {
      EXPECT_EQ(g.GetRingBuffer(), nullptr);
      EXPECT_EQ(g.GetPositions().size(), 2u);
    }
  }
  // A graph made cyclic before its axis is set has a range of 0.
  GDI::CLineGraph2D early;
  EXPECT_EQ(early.SetCyclicMode(true), -1);
  early.AddPoint(1, 1, nullptr);

  GDI::CLineGraph2D g;
  Prepare(g, 0, 10, 0, 10);
  g.AddPoint(1, 1, nullptr);
  g.AddPoint(2, 2, nullptr);
  EXPECT_EQ(g.SetCyclicMode(false), 0);  // plain already: nothing happens
  EXPECT_FALSE(g.IsCyclic());
  ASSERT_EQ(g.SetCyclicMode(true), 0);
  g.AddPoint(0, 7, nullptr);
  const GDI::FloatRingBuffer* ring = g.GetRingBuffer();
  ASSERT_EQ(g.SetCyclicMode(true), 0);
  EXPECT_EQ(g.GetRingBuffer(), ring);
  EXPECT_EQ(ring->size(), 1);
  EXPECT_EQ(ring->get(0), 7.0f);
  EXPECT_EQ(g.SetCyclicMode(false), 0);
  EXPECT_FALSE(g.IsCyclic());
  EXPECT_EQ(g.GetRingBuffer(), nullptr);
  // The points added before cyclic mode are drawn again.
  g.DrawBase();
  ASSERT_EQ(g.GetPositions().size(), 2u);
  EXPECT_FLOAT_EQ(g.GetPositions()[1].X, kLeft + 60);
}

TEST_F(GraphFixture, ClampedValuesAreDrawnAtTheRangesEdge) {
  for (bool clamp : {true, false}) {
    SCOPED_TRACE(clamp);
    std::fill(pixels.begin(), pixels.end(), kWhite);
    GDI::CLineGraph2D g;
    Prepare(g, 0, 10, 0, 10);
    EXPECT_EQ(g.SetClampMode(clamp), 0);
    // Above the range, then right of it.
    g.AddPoint(4, 20, nullptr);
    g.AddPoint(6, 20, nullptr);
    g.AddPoint(14, 5, nullptr);
    g.AddPoint(16, 3, nullptr);
    g.DrawBase();
    EXPECT_EQ(Near(kLeft + 5 * 30, kTop, kRed), clamp);
    EXPECT_EQ(Near(kRight, kBottom - 4 * 20, kRed), clamp);
  }
}

// ---- Degenerate graphs -----------------------------------------------------------------

TEST_F(GraphFixture, DegenerateGraphsDrawSafely) {
  {
    GDI::CLineGraph2D g;
    Prepare(g, 0, 10, 0, 10);
    g.AddPoint(5, 5, nullptr);
    g.SetDataForDrawing();
    g.DrawData();
    EXPECT_EQ(Count(kRed), 0);
    g.SetLabels(0, 10, 0, 0, 10, 0);  // no labels: no anchor for either title
    g.SetTitles(L"x", L"y");
    g.SetMainTitle(L"main");
    Strings seen;
    EXPECT_EQ(g.DrawBase(), 0);
    EXPECT_EQ(seen.Texts(), std::vector<std::wstring>{L"main"});
    EXPECT_EQ(Count(kRed), 0);
  }
  {
    // One y label and two x labels: only the x title has its anchor.
    GDI::CBaseGraph2D g;
    Prepare(g, 0, 10, 0, 10);
    g.SetLabels(0, 10, 1, 0, 10, 0.5f);
    ASSERT_EQ(g.GetXLabels().size(), 2u);
    ASSERT_EQ(g.GetYLabels().size(), 1u);
    g.SetTitles(L"xt", L"yt");
    Strings seen;
    g.DrawBase();
    EXPECT_NE(seen.Find(L"xt"), nullptr);
    EXPECT_EQ(seen.Find(L"yt"), nullptr);
  }
  {
    GDI::CScatterGraph2D g;
    EXPECT_EQ(g.DrawBase(), 0);
    EXPECT_EQ(g.DrawAxis(), 0);
    EXPECT_EQ(g.DrawLabels(), 0);
    EXPECT_EQ(g.DrawTitles(), 0);
    EXPECT_EQ(g.DrawData(), 0);
    PointF p(3, 3);
    EXPECT_EQ(g.DrawMarker(&p), 0);
    // Geometry starts at zero.
    EXPECT_EQ(g.GetScaleX(), 0);
    EXPECT_EQ(g.GetOrigin().X, 0);
    EXPECT_EQ(g.GetXAxisLine()[1].X, 0);
  }
  // An empty range on either axis: only the background.
  struct Case {
    float xmin, xmax, ymin, ymax;
  };
  for (const Case& c : {Case{3, 3, 0, 10}, Case{0, 10, -2, -2}}) {
    std::fill(pixels.begin(), pixels.end(), 0xFF808080);
    GDI::CLineGraph2D g;
    Prepare(g, c.xmin, c.xmax, c.ymin, c.ymax);
    g.SetLabels(0, 10, 5, 0, 10, 5);
    g.AddPoint(3, 1, nullptr);
    g.AddPoint(3, 2, nullptr);
    g.SetMainTitle(L"t");
    Strings seen;
    g.DrawBase();
    EXPECT_EQ(Count(kWhite), kW * kH);
    EXPECT_TRUE(seen.calls.empty());
    for (const GDI::GraphLabel& l : g.GetXLabels()) EXPECT_TRUE(std::isfinite(l.x) && std::isfinite(l.y));
  }
}

// ---- Titles and ownership ---------------------------------------------------------------

TEST_F(GraphFixture, TitlesAreCutTo49CharactersAndPlacedByTheirLabels) {
  GDI::CLineGraph2D g;
  Prepare(g, 0, 10, 0, 10);
  const std::wstring longTitle(60, L'a');
  g.SetMainTitle(longTitle.c_str());
  g.SetTitles(L"Time [s]", nullptr);
  EXPECT_EQ(std::wstring(g.GetMainTitle().text), std::wstring(49, L'a'));
  EXPECT_EQ(std::wstring(g.GetXTitle().text), L"Time [s]");
  EXPECT_EQ(std::wstring(g.GetYTitle().text), L"");
  g.SetTitles(L"Time [s]", L"Height");
  g.SetLabels(0, 10, 5, 0, 10, 5);
  Strings seen;
  g.DrawTitles();
  const auto* main = seen.Find(std::wstring(49, L'a'));
  const auto* x = seen.Find(L"Time [s]");
  const auto* y = seen.Find(L"Height");
  ASSERT_TRUE(main && x && y);
  EXPECT_FLOAT_EQ(main->layout.X, 200);
  EXPECT_FLOAT_EQ(main->layout.Y, 5);
  // x title under label 3 of 6; y title left of label 2, running downwards.
  EXPECT_FLOAT_EQ(x->layout.X, g.GetXLabels()[3].x - 25);
  EXPECT_FLOAT_EQ(x->layout.Y, kBottom + 4 + 15);
  EXPECT_FLOAT_EQ(y->layout.X, kLeft - 53);
  EXPECT_FLOAT_EQ(y->layout.Y, g.GetYLabels()[2].y);
  EXPECT_EQ(y->formatFlags & Gdiplus::StringFormatFlagsDirectionVertical, Gdiplus::StringFormatFlagsDirectionVertical);
}

TEST_F(GraphFixture, TheGraphOwnsItsGraphics) {
  // Under the leak checker and ASan: a replaced graphics is freed, the same
  // pointer again is kept, and destruction frees the last.
  GDI::CScatterGraph2D g;
  Prepare(g, 0, 10, 0, 10);
  Gdiplus::Graphics* held = g.GetGraphics();
  g.SetGraphics(held);
  EXPECT_EQ(g.GetGraphics(), held);
  g.SetDataForDrawing();
  g.DrawBase();
  g.SetGraphics(new Gdiplus::Graphics(&bitmap));
  g.DrawBase();
  static_assert(!std::is_copy_constructible_v<GDI::CLineGraph2D>);
  static_assert(!std::is_copy_assignable_v<GDI::CScatterGraph2D>);
}

}  // namespace
