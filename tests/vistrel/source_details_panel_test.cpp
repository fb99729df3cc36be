// The strip's details panel: texts kept or replaced, the background colour,
// title and text drawn inside the panel, the buffer following a grown panel.
#include "source_details_panel.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "gdiplus/startup.h"
#include "win/window.h"

namespace {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput in;
    Gdiplus::GdiplusStartup(&token_, &in, nullptr);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

constexpr std::uint32_t kPanelGrey = 0xFF3C3C3C;

class DetailsPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(40, 40, 440, 340), nullptr, 0));
    ASSERT_TRUE(panel.Create("Source Panel", WS_CHILD | WS_VISIBLE, CRect(10, 10, 200, 40), &parent, 100190));
  }
  void TearDown() override {
    panel.DestroyWindow();
    parent.DestroyWindow();
  }
  // Rows [from, to) holding a pixel other than the background.
  int InkRows(int from, int to, std::uint32_t background) const {
    int rows = 0;
    for (int y = from; y < to && y < panel.BufferHeight(); ++y) {
      for (int x = 0; x < panel.BufferWidth(); ++x) {
        if (panel.BackBuffer()[y * panel.BufferWidth() + x] != background) {
          ++rows;
          break;
        }
      }
    }
    return rows;
  }
  CWnd parent;
  CSourceDetailsPanel panel;
};

TEST_F(DetailsPanelTest, NullKeepsAndTextReplaces) {
  panel.SetText("Camera", "Not calibrated.");
  panel.SetText(nullptr, "Image files");
  EXPECT_EQ(panel.GetTitle(), "Camera");
  EXPECT_EQ(panel.GetInfoText(), "Image files");
  panel.SetText("Camera 2", nullptr);
  EXPECT_EQ(panel.GetTitle(), "Camera 2");
  EXPECT_EQ(panel.GetInfoText(), "Image files");
}

TEST_F(DetailsPanelTest, DrawsTitleOnItsBackgroundAndFollowsAGrownPanel) {
  panel.SetColour(kPanelGrey);
  panel.SetText("Camera 1", "F: 800.0000 790.0000\nP: 320.0000 240.0000\nD: 0 0 0 0\n");
  ASSERT_EQ(panel.BufferWidth(), 190);
  ASSERT_EQ(panel.BufferHeight(), 30);
  EXPECT_EQ(panel.BackBuffer()[0], kPanelGrey);
  EXPECT_EQ(panel.BackBuffer()[30 * 190 - 1], kPanelGrey);
  EXPECT_GT(InkRows(0, 18, kPanelGrey), 0) << "title";
  // Selected: 75 pixels taller, the text shows below the title.
  panel.MoveWindow(10, 10, 190, 105);
  panel.Redraw();
  ASSERT_EQ(panel.BufferHeight(), 105);
  EXPECT_GT(InkRows(18, 101, kPanelGrey), 10) << "text lines";
  EXPECT_EQ(InkRows(101, 105, kPanelGrey), 0) << "bottom margin";

  panel.SetColour(0xFF202020);
  EXPECT_EQ(panel.GetColour(), 0xFF202020u);
  EXPECT_EQ(panel.BackBuffer()[0], 0xFF202020u);
  // Shrunk back: the buffer shrinks too (no read past the window).
  panel.MoveWindow(10, 10, 190, 30);
  panel.Redraw();
  EXPECT_EQ(panel.BufferHeight(), 30);
}

}  // namespace
