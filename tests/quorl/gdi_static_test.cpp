#include "MVG/gdi_static.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "gdiplus/gdiplus.h"
#include "win/window.h"
#include "win/window_services.h"

namespace {

static_assert(!std::is_copy_constructible_v<GDI::CGDIStatic>);
static_assert(!std::is_copy_assignable_v<GDI::CGDIStatic>);

class Panel : public CWnd {};

constexpr int kW = 260, kH = 170;
constexpr std::uint32_t kGround = 0xFF2080C0;
const RECT kRect{20, 30, 220, 130};

class GdiStaticTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(w.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(0, 0, kW, kH), nullptr, 0));
    CClientDC dc(&w);
    dc.FillSolidRect(0, 0, kW, kH, RGB(0x20, 0x80, 0xC0));
  }
  void TearDown() override { w.DestroyWindow(); }
  std::vector<std::uint32_t> Client() {
    std::vector<std::uint32_t> px(kW * kH, 0);
    EXPECT_TRUE(win::GetWindowServices()->ReadClient(w.m_hWnd, px.data(), kW, kH, kW * 4));
    return px;
  }
  static bool Inside(int x, int y, const RECT& r) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
  Panel w;
};

TEST_F(GdiStaticTest, PaintFillsExactlyItsRectangleAndDrawsTheText) {
  GDI::CGDIStatic s;
  ASSERT_EQ(s.Initialize(w.m_hWnd, kRect), 0);
  EXPECT_EQ(s.SetText("Focal length 812.4"), 0);
  EXPECT_STREQ(s.GetText(), "Focal length 812.4");
  EXPECT_EQ(s.Paint(), 0);
  const std::vector<std::uint32_t> px = Client();
  int text = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const std::uint32_t p = px[static_cast<size_t>(y * kW + x)] | 0xFF000000;
      if (!Inside(x, y, kRect)) {
        ASSERT_EQ(p, kGround) << x << "," << y;
      } else if (p != 0xFF000000) {
        // The text starts 10 pixels in from the rectangle's corner.
        ASSERT_GE(x, kRect.left + 10) << y << " " << std::hex << p;
        ASSERT_GE(y, kRect.top + 10) << x;
        ++text;
      }
    }
  EXPECT_GT(text, 20);
  // The corners of the rectangle hold the clear colour.
  EXPECT_EQ(px[static_cast<size_t>(kRect.top * kW + kRect.left)] | 0xFF000000, 0xFF000000u);
  EXPECT_EQ(px[static_cast<size_t>((kRect.bottom - 1) * kW + kRect.right - 1)] | 0xFF000000, 0xFF000000u);
}

TEST_F(GdiStaticTest, LongTextIsCutToTheBuffer) {
  GDI::CGDIStatic s;
  ASSERT_EQ(s.Initialize(w.m_hWnd, kRect), 0);
  EXPECT_STREQ(s.GetText(), "This is just a test\n of multiple line\n drawing\n");
  const std::string big(20000, 'w');
  EXPECT_EQ(s.SetText(big.c_str()), 0);
  EXPECT_EQ(std::strlen(s.GetText()), static_cast<size_t>(GDI::CGDIStatic::kTextSize - 1));
  EXPECT_EQ(s.Paint(), 0);
  EXPECT_EQ(s.SetText(nullptr), 0);
  EXPECT_EQ(std::strlen(s.GetText()), static_cast<size_t>(GDI::CGDIStatic::kTextSize - 1));
}

TEST_F(GdiStaticTest, LifecycleBeforeAndBetweenInitializations) {
  const std::vector<std::uint32_t> before = Client();
  {
    GDI::CGDIStatic s;
    EXPECT_EQ(s.SetText("ignored"), 0);
    EXPECT_EQ(s.Paint(), 0);
    EXPECT_EQ(s.GetText(), nullptr);
    // Empty and inverted rectangles create nothing.
    for (const RECT& r : {RECT{20, 30, 20, 130}, RECT{220, 30, 20, 130}, RECT{20, 130, 220, 30}})
      EXPECT_EQ(s.Initialize(w.m_hWnd, r), -1);
    EXPECT_EQ(s.Paint(), 0);
    EXPECT_EQ(Client(), before);
    // A second initialisation frees the first (leak checker) and takes the
    // new rectangle.
    ASSERT_EQ(s.Initialize(w.m_hWnd, kRect), 0);
    ASSERT_EQ(s.Initialize(w.m_hWnd, RECT{0, 0, 10, 10}), 0);
    s.SetText("");
    s.Paint();
  }
  const std::vector<std::uint32_t> px = Client();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      ASSERT_EQ(px[static_cast<size_t>(y * kW + x)] | 0xFF000000, x < 10 && y < 10 ? 0xFF000000u : kGround)
          << x << "," << y;
}

}  // namespace
