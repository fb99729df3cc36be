// Labels and title bars: the back buffer, its colours and lifetime, the
// title bar's buttons, border, icon and callbacks into the owning dialog.
#include "quorlmfc/static_ex.h"

#include <unistd.h>

#include <filesystem>
#include <gtest/gtest.h>

#include <QTest>
#include <set>

#include "quorlmfc/dialog_x.h"
#include "quorlmfc/title_bar.h"
#include "skin_test_support.h"

namespace {

using skin_test::Settle;
using skin_test::Shown;

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new skin_test::GdiplusEnvironment);

constexpr std::uint32_t kLabelGrey = 0xFF2F2F2F;

class LabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(40, 40, 440, 240), nullptr, 0));
  }
  void TearDown() override { parent.DestroyWindow(); }
  void Make(CStaticEx& label, const CRect& rc) {
    ASSERT_TRUE(label.Create("Status", 7 | WS_CHILD | WS_VISIBLE, rc, &parent, 255));
  }
  // Pixels of the back buffer that differ from the background.
  static std::vector<CPoint> TextPixels(const CStaticEx& label, std::uint32_t background) {
    std::vector<CPoint> out;
    for (int y = 0; y < label.BufferHeight(); ++y)
      for (int x = 0; x < label.BufferWidth(); ++x)
        if (label.BackBuffer()[y * label.BufferWidth() + x] != background) out.push_back(CPoint(x, y));
    return out;
  }
  CWnd parent;
};

TEST_F(LabelTest, TextLiesInsideTheLayoutOnTheDarkBackground) {
  CStaticEx label;
  Make(label, CRect(10, 10, 210, 40));
  label.Initialize(8);
  label.SetText("Calibration \xC3\xA9tape");  // UTF-8
  ASSERT_EQ(label.BufferWidth(), 200);
  ASSERT_EQ(label.BufferHeight(), 30);
  EXPECT_EQ(label.BackBuffer()[0], kLabelGrey);
  EXPECT_EQ(label.BackBuffer()[30 * 200 - 1], kLabelGrey);
  const std::vector<CPoint> text = TextPixels(label, kLabelGrey);
  ASSERT_FALSE(text.empty());
  for (const CPoint& p : text) {
    ASSERT_GE(p.x, 2);
    ASSERT_LT(p.x, 198);
    ASSERT_GE(p.y, 2);
    ASSERT_LT(p.y, 28);
  }
  Settle();
  EXPECT_EQ(Shown(parent, 11, 11), RGB(0x2F, 0x2F, 0x2F));
  const CPoint t = text.front();
  const std::uint32_t p = label.BackBuffer()[t.y * 200 + t.x];
  EXPECT_EQ(Shown(parent, 10 + t.x, 10 + t.y), RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
}

TEST_F(LabelTest, TextSetBeforeInitializeShowsOnceInitialised) {
  CStaticEx label;
  label.SetText("early");  // no window, no buffer: stored only
  Make(label, CRect(10, 10, 110, 30));
  label.SetText("still early");
  Settle();  // a paint before Initialize draws nothing
  EXPECT_EQ(label.BackBuffer(), nullptr);
  label.Initialize(8);
  EXPECT_FALSE(TextPixels(label, kLabelGrey).empty());
  EXPECT_EQ(label.GetText(), "still early");
}

TEST_F(LabelTest, ColoursApplyAtTheNextInitialize) {
  CStaticEx label;
  Make(label, CRect(10, 10, 110, 30));
  label.Initialize(8);
  label.SetBackgroundColor(Gdiplus::Color(0xFF102030));
  label.SetTextColor(Gdiplus::Color(0xFF00FF00));
  label.SetText("x");
  EXPECT_EQ(label.BackBuffer()[0], kLabelGrey);
  label.Initialize(8);  // frees the first buffer's objects (leak checker)
  EXPECT_EQ(label.BackBuffer()[0], 0xFF102030u);
  Settle();
  EXPECT_EQ(Shown(parent, 11, 11), RGB(0x10, 0x20, 0x30));
}

TEST_F(LabelTest, AGrownLabelPaintsOnlyWhatItsBufferHolds) {
  CStaticEx label;
  Make(label, CRect(10, 10, 60, 30));
  label.Initialize(8);
  label.SetText("grown");
  label.MoveWindow(10, 10, 300, 120);  // the buffer stays 50 x 20
  Settle();                            // no read past the buffer (sanitizers)
  EXPECT_EQ(label.BufferWidth(), 50);
  EXPECT_EQ(Shown(parent, 11, 11), RGB(0x2F, 0x2F, 0x2F));
}

TEST_F(LabelTest, AnEmptyClientGetsNoBuffer) {
  CStaticEx label;
  Make(label, CRect(10, 10, 10, 30));
  label.Initialize(8);
  label.SetText("none");
  Settle();
  EXPECT_EQ(label.BackBuffer(), nullptr);
}

// ---- Title bar ---------------------------------------------------------------

class TitleBarTest : public LabelTest {
 protected:
  void Make(CTitleBar& bar, int type, const std::string& folder) {
    ASSERT_TRUE(bar.Create("Dummy Text", SS_OWNERDRAW | WS_CHILD | WS_VISIBLE, CRect(0, 0, 300, 29), &parent, 1999));
    bar.SetAppPath(folder.c_str());
    bar.Initialize(10, type);
    bar.SetText("Title");
  }
  // The button's rectangle in the title bar's client coordinates.
  static CRect Placed(CTitleBar& bar, CWnd& button) {
    CRect rc;
    button.GetWindowRect(&rc);
    bar.ScreenToClient(&rc);
    return rc;
  }
  QTemporaryDir dir;
};

TEST_F(TitleBarTest, ButtonsByType) {
  const std::string skins = skin_test::BuiltSkinFolder();
  ASSERT_FALSE(skins.empty());
  struct Case {
    int type;
    bool exit, minimize;
    int exitX;
  };
  const Case cases[] = {{1, true, false, 300 - 26}, {2, true, true, 300 - 27}, {0, false, false, 0}, {7, false, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    CTitleBar bar;
    Make(bar, c.type, skins);
    EXPECT_EQ(bar.ExitButton().m_hWnd != nullptr, c.exit);
    EXPECT_EQ(bar.MinimizeButton().m_hWnd != nullptr, c.minimize);
    if (c.exit) {
      EXPECT_EQ(bar.ExitButton().GetDlgCtrlID(), 1124);
      EXPECT_EQ(Placed(bar, bar.ExitButton()), CRect(c.exitX, 2, c.exitX + 24, 26));
      EXPECT_EQ(bar.ExitButton().FrameWidth(), 24);  // the shipped strip
    }
    if (c.minimize) {
      EXPECT_EQ(bar.MinimizeButton().GetDlgCtrlID(), 1125);
      EXPECT_EQ(Placed(bar, bar.MinimizeButton()), CRect(250, 2, 274, 26));
    }
    // A second Initialize adds nothing and makes nothing.
    const int gdi = win::LiveGdiObjectCount();
    const HWND exit = bar.ExitButton().m_hWnd;
    bar.Initialize(10, 2);
    EXPECT_EQ(bar.ExitButton().m_hWnd, exit);
    EXPECT_EQ(bar.MinimizeButton().m_hWnd != nullptr, c.minimize);
    EXPECT_EQ(win::LiveGdiObjectCount(), gdi);
  }
}

TEST_F(TitleBarTest, WithoutSkinsTheButtonsArePlain) {
  // The build puts Graphics/ beside the test programs too: a folder of
  // its own holds none.
  const std::filesystem::path empty =
      std::filesystem::temp_directory_path() / ("quorl_no_skins_" + std::to_string(::getpid()));
  std::filesystem::create_directories(empty);
  CTitleBar bar;
  Make(bar, 2, empty.string() + "/");  // no Graphics/ there
  EXPECT_EQ(bar.ExitButton().FrameWidth(), 0);
  EXPECT_EQ(bar.MinimizeButton().FrameWidth(), 0);
  std::filesystem::remove_all(empty);
}

TEST_F(TitleBarTest, TheBorderFollowsAWidenedWindow) {
  CTitleBar bar;
  Make(bar, 0, skin_test::BuiltSkinFolder());
  Settle();
  const COLORREF border = RGB(0x64, 0x64, 0x64), grey = RGB(0x2F, 0x2F, 0x2F);
  EXPECT_EQ(Shown(bar, 299, 14), border);
  bar.MoveWindow(0, 0, 400, 29);
  Settle();
  EXPECT_EQ(Shown(bar, 399, 14), border);
  EXPECT_EQ(Shown(bar, 350, 14), grey);
}

TEST_F(TitleBarTest, IconReplacedOrDroppedAndTextMovedPerIconRect) {
  CTitleBar bar;
  Make(bar, 0, skin_test::BuiltSkinFolder());
  const std::string icon = skin_test::BuiltSkinFolder() + "Graphics/icon_cameracalibration.png";
  bar.SetIconImage(icon.c_str());
  EXPECT_TRUE(bar.HasIcon());
  bar.SetIconImage(icon.c_str());  // the first is freed (leak checker)
  EXPECT_TRUE(bar.HasIcon());
  bar.SetIconImage(dir.filePath("missing.png").toStdString().c_str());
  EXPECT_FALSE(bar.HasIcon());
  Gdiplus::RectF r(2, 2, 20, 20);
  const float x0 = bar.LayoutRect().X;
  bar.SetIconRect(r);
  EXPECT_FLOAT_EQ(bar.LayoutRect().X, x0 + 27);
  bar.SetIconRect(r);  // adds again, as its one caller never does twice
  EXPECT_FLOAT_EQ(bar.LayoutRect().X, x0 + 54);
}

TEST_F(TitleBarTest, ClicksOutsideTheCircleOrWithoutAnOwnerDoNothing) {
  CTitleBar bar;
  Make(bar, 1, skin_test::BuiltSkinFolder());
  Settle();
  QWindow* w = skin_test::TopWindow(parent);
  // The square's corner lies outside the circle; then the centre, no owner.
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(274 + 1, 2 + 1));
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(274 + 12, 2 + 12), 600);
  Settle();
  EXPECT_TRUE(parent.IsWindowVisible());
  EXPECT_EQ(bar.GetOwnerDialog(), nullptr);
}

// An owner that records the calls and lets the base act.
class RecordingDialog : public CDialogX {
 public:
  RecordingDialog() : CDialogX(skin_test::kTestTemplate, nullptr, "Owner", 2, nullptr) {}
  std::vector<std::string> calls;
  void TerminateWindow() override {
    calls.push_back("terminate");
    CDialogX::TerminateWindow();
  }
  void MinimizeWindow() override {
    calls.push_back("minimize");
    CDialogX::MinimizeWindow();
  }
};

TEST(TitleBarOwner, ExitAndMinimizeReachTheDialog) {
  skin_test::RegisterTestTemplate();
  RecordingDialog dialog;
  dialog.SetAppPath(skin_test::BuiltSkinFolder().c_str());
  dialog.SetModeless(true);
  ASSERT_TRUE(dialog.Create(skin_test::kTestTemplate));
  dialog.ShowWindow(SW_SHOW);
  Settle();
  QWindow* w = skin_test::TopWindow(dialog);
  CRect client;
  dialog.GetClientRect(&client);
  // Inside the buttons' squares but outside their circles: nothing.
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(client.right - 50 + 1, 2 + 1));
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(client.right - 27 + 22, 2 + 22), 600);
  Settle();
  EXPECT_TRUE(dialog.calls.empty());
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(client.right - 50 + 12, 14), 600);
  Settle();
  ASSERT_EQ(dialog.calls, std::vector<std::string>{"minimize"});
  EXPECT_TRUE(dialog.IsIconic());
  dialog.ShowWindow(SW_RESTORE);
  Settle();
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(client.right - 27 + 12, 14), 600);
  Settle();
  EXPECT_EQ(dialog.calls, (std::vector<std::string>{"minimize", "terminate"}));
  EXPECT_FALSE(dialog.IsWindowVisible());  // modeless: hidden
  dialog.DestroyWindow();
}

}  // namespace
