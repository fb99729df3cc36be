// The strip's details panel: texts kept or replaced, the background colour,
// title and text drawn inside the panel, the buffer following a grown panel.
#include "source_details_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

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

// A collapsed panel (30 pixels) shows its title and the first line of its
// text whole: the rows it draws are those of the same panel grown, and the
// grown panel draws nothing of that line below the collapsed panel's bottom
// margin. (The first line of a rig's text once lost the bottom of its
// brackets.)
TEST_F(DetailsPanelTest, ACollapsedPanelShowsTheTitleAndTheFirstLineWhole) {
  struct Case {
    const char* title;
    const char* text;
  };
  const Case cases[] = {
      {"Stereo Rig - Camera 1 & 2", "R: [1.000 0.004 0.004]"},
      {"Camera 1", "F: 533.0900 533.2100"},
      {"Camera 2", "Not calibrated."},
      {"Camera", "Image files"},
      {"qypgj_Q", "[]{}()|qypgj_,;"},
  };
  panel.SetColour(kPanelGrey);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    panel.MoveWindow(10, 10, 190, 105);
    panel.SetText(c.title, c.text);
    ASSERT_EQ(panel.BufferHeight(), 105);
    const std::vector<std::uint32_t> grown(panel.BackBuffer(), panel.BackBuffer() + 190 * 105);
    EXPECT_EQ(InkRows(26, 105, kPanelGrey), 0) << "the line runs past a collapsed panel's bottom margin";
    panel.MoveWindow(10, 10, 190, 30);
    panel.Redraw();
    ASSERT_EQ(panel.BufferHeight(), 30);
    const std::vector<std::uint32_t> collapsed(panel.BackBuffer(), panel.BackBuffer() + 190 * 30);
    EXPECT_TRUE(std::equal(collapsed.begin(), collapsed.end(), grown.begin())) << "the collapsed panel cuts the line";
    // Inside the 4-pixel margins.
    int firstInk = -1, lastInk = -1;
    for (int y = 0; y < 30; ++y)
      if (InkRows(y, y + 1, kPanelGrey) > 0) {
        if (firstInk < 0) firstInk = y;
        lastInk = y;
      }
    EXPECT_GE(firstInk, 4);
    EXPECT_LT(lastInk, 26);
  }
}

}  // namespace
