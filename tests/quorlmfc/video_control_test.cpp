// The video panel frame: its children where the panel puts them, the five
// toolbar buttons with their strips and tooltips, clicks reaching the panel
// as commands, and its back buffer.
#include "quorlmfc/video_control.h"

#include <gtest/gtest.h>

#include <QTest>
#include <cstdint>
#include <string>
#include <vector>

#include "skin_test_support.h"

namespace {

using skin_test::Settle;

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new skin_test::GdiplusEnvironment);

// The control's user handles its commands.
class RecordingVideoControl : public CVideoControl {
 public:
  std::vector<UINT> commands;

 protected:
  BOOL OnCommand(WPARAM wp, LPARAM) override {
    commands.push_back(LOWORD(wp));
    return TRUE;
  }
};

class VideoControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(skin_test::BuiltSkinFolder().empty());
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(40, 40, 520, 400), nullptr, 0));
    // Client 400 x 300 at (20, 20) of the top-level window.
    ASSERT_TRUE(control.Create("", WS_CHILD | WS_VISIBLE, CRect(20, 20, 420, 320), &parent, 3000));
    control.SetAppPath(CString(skin_test::BuiltSkinFolder().c_str()));
    control.Initialize();
    Settle();
  }
  void TearDown() override {
    control.DestroyWindow();
    parent.DestroyWindow();
  }
  // A child's rectangle in the control's client coordinates.
  CRect InControl(CWnd& w) {
    CRect rc;
    w.GetWindowRect(&rc);
    control.ScreenToClient(&rc);
    return rc;
  }
  CWnd parent;
  RecordingVideoControl control;
};

TEST_F(VideoControlTest, ChildrenStandWhereThePanelPutsThem) {
  CWnd* view = control.GetDlgItem(CVideoControl::kVideoViewId);
  ASSERT_EQ(view, &control.VideoView());
  CString text;
  view->GetWindowText(text);
  EXPECT_STREQ(text, "Video View");
  EXPECT_TRUE(view->IsWindowVisible());
  EXPECT_EQ(InControl(*view), CRect(10, 10, 390, 250));
  CWnd* bar = control.GetDlgItem(CVideoControl::kToolbarId);
  ASSERT_EQ(bar, &control.Toolbar());
  EXPECT_TRUE(bar->IsWindowVisible());
  EXPECT_EQ(InControl(*bar), CRect(10, 254, 390, 290));
  // The buttons belong to the control, in a row from the toolbar's corner.
  const auto& buttons = control.Toolbar().Buttons();
  ASSERT_EQ(buttons.size(), 5u);
  for (size_t n = 0; n < buttons.size(); ++n) {
    EXPECT_EQ(buttons[n]->GetParent(), &control);
    EXPECT_EQ(buttons[n]->GetDlgCtrlID(), static_cast<int>(n + 1));
    EXPECT_EQ(InControl(*buttons[n]).TopLeft(), CPoint(10 + static_cast<int>(n) * 38, 259));
    // Drawn from its strip in the Graphics folder: one frame of it.
    EXPECT_GT(buttons[n]->FrameWidth(), 0) << n;
  }
}

TEST_F(VideoControlTest, ButtonsShowTheirTooltipsAndSendTheirCommands) {
  win::ManualClock clock;
  const char* tips[] = {"New", "Open", "Save", "Connect to device", "Options"};
  QWindow* w = skin_test::TopWindow(parent);
  const auto& buttons = control.Toolbar().Buttons();
  ASSERT_EQ(buttons.size(), 5u);
  for (size_t n = 0; n < 5; ++n) {
    SCOPED_TRACE(tips[n]);
    CRect rc;
    buttons[n]->GetWindowRect(&rc);
    parent.ScreenToClient(&rc);
    const CPoint c = rc.CenterPoint();
    QTest::mouseMove(w, QPoint(c.x, c.y));
    clock.Advance(1);
    // Hovering re-creates the tip; it shows once the pointer has rested on
    // the button after that.
    QTest::mouseMove(w, QPoint(c.x + 1, c.y));
    clock.Advance(2000);
    ASSERT_NE(buttons[n]->ToolTip(), nullptr);
    EXPECT_EQ(buttons[n]->ToolTip()->ShownText(), tips[n]);
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(c.x, c.y), n == 0 ? -1 : 600);
    Settle();
    QTest::mouseMove(w, QPoint(5, 5));
    clock.Advance(1);
  }
  EXPECT_EQ(control.commands, (std::vector<UINT>{1, 2, 3, 4, 5}));
}

TEST_F(VideoControlTest, BackBufferIsThePanelsDarkGrey) {
  int width = 0, height = 0;
  const BYTE* pixels = control.GetBackBuffer(&width, &height);
  ASSERT_NE(pixels, nullptr);
  ASSERT_EQ(width, 400);
  ASSERT_EQ(height, 300);
  const auto* argb = reinterpret_cast<const std::uint32_t*>(pixels);
  for (int i = 0; i < width * height; ++i) ASSERT_EQ(argb[i], 0xFF414141u) << i;
  // Nothing before Initialize; a second Initialize keeps one set of children.
  CVideoControl fresh;
  EXPECT_EQ(fresh.GetBackBuffer(&width, &height), nullptr);
  EXPECT_EQ(width, 0);
  control.Initialize();
  EXPECT_EQ(control.Toolbar().Buttons().size(), 5u);
  EXPECT_NE(control.GetBackBuffer(nullptr, nullptr), nullptr);
}

}  // namespace
