// Skinned dialogs and the message box: title, fonts, re-initialisation,
// control colours, the title-bar drag, placement, folders, closing roads,
// runtime classes and the background mode of skinned buttons.
#include "quorlmfc/dialog_x.h"

#include <gtest/gtest.h>

#include <QTest>
#include <functional>
#include <string>
#include <utility>

#include "quorlmfc/app_folder.h"
#include "quorlmfc/toolbar_x.h"
#include "skin_test_support.h"

namespace {

using skin_test::Settle;
using skin_test::Shown;
using skin_test::TopWindow;

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new skin_test::GdiplusEnvironment);

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { skin_test::RegisterTestTemplate(); }
  void TearDown() override { Settle(); }
  // A modeless dialog on the test template, shown.
  static void Open(CDialogX& d) {
    d.SetModeless(true);
    ASSERT_TRUE(d.Create(skin_test::kTestTemplate));
    d.ShowWindow(SW_SHOW);
    Settle();
  }
};

TEST_F(DialogTest, ANullTitleGivesTheDefaultCaption) {
  CDialogX d(skin_test::kTestTemplate, nullptr, nullptr, 1, nullptr);
  Open(d);
  EXPECT_EQ(d.GetTitle(), "DialogX Window");
  ASSERT_NE(d.GetTitleBar(), nullptr);
  EXPECT_EQ(d.GetTitleBar()->GetText(), "DialogX Window");
  CString text;
  d.GetTitleBar()->GetWindowText(text);
  EXPECT_EQ(text, "DialogX Window");
  EXPECT_EQ(d.GetTitleBar()->GetDlgCtrlID(), 1999);
  CRect bar, client;
  d.GetTitleBar()->GetWindowRect(&bar);
  d.ScreenToClient(&bar);
  d.GetClientRect(&client);
  EXPECT_EQ(bar, CRect(0, 0, client.right, 29));
}

TEST_F(DialogTest, AGivenFontIsUsedAndOutlivesTheDialog) {
  CFont font;
  ASSERT_TRUE(font.CreateFont(15, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, "Verdana"));
  {
    CDialogX d(skin_test::kTestTemplate, nullptr, "Font", 1, &font);
    Open(d);
    EXPECT_EQ(reinterpret_cast<HFONT>(d.SendMessage(WM_GETFONT)), font.m_hObject);
    EXPECT_FALSE(d.OwnsFont());
    d.Cleanup();
    EXPECT_EQ(d.GetDialogFont(), &font);
  }
  Settle();
  LOGFONTA lf{};
  EXPECT_GT(font.GetObject(sizeof lf, &lf), 0);
  EXPECT_EQ(lf.lfWeight, 700);
}

TEST_F(DialogTest, TheDefaultFontIsMadeAndFreedOnce) {
  CDialogX d(skin_test::kTestTemplate, nullptr, "Default", 1, nullptr);
  Open(d);
  ASSERT_TRUE(d.OwnsFont());
  ASSERT_NE(d.GetDialogFont(), nullptr);
  LOGFONTA lf{};
  ASSERT_GT(d.GetDialogFont()->GetObject(sizeof lf, &lf), 0);
  EXPECT_EQ(lf.lfHeight, 13);
  EXPECT_EQ(lf.lfWidth, 5);
  EXPECT_STREQ(lf.lfFaceName, "Verdana");
  EXPECT_EQ(reinterpret_cast<HFONT>(d.SendMessage(WM_GETFONT)), d.GetDialogFont()->m_hObject);
  const int live = win::LiveGdiObjectCount();
  d.Cleanup();
  Settle();
  EXPECT_EQ(d.GetDialogFont(), nullptr);
  EXPECT_EQ(d.GetTitleBar(), nullptr);
  EXPECT_LT(win::LiveGdiObjectCount(), live);
  const int after = win::LiveGdiObjectCount();
  d.Cleanup();
  EXPECT_EQ(win::LiveGdiObjectCount(), after);
}

TEST_F(DialogTest, ASecondInitialisationLeavesOneTitleBarAndNoLeak) {
  CDialogX d(skin_test::kTestTemplate, nullptr, "Twice", 2, nullptr);
  d.SetAppPath(skin_test::BuiltSkinFolder().c_str());
  Open(d);
  const int live = win::LiveGdiObjectCount();
  const HWND first = d.GetTitleBar()->m_hWnd;
  d.SendMessage(WM_INITDIALOG);
  Settle();
  ASSERT_NE(d.GetTitleBar(), nullptr);
  EXPECT_EQ(CWnd::FromHandle(first), nullptr);  // the old one is gone
  EXPECT_EQ(d.GetDlgItem(1999), d.GetTitleBar());
  EXPECT_EQ(win::LiveGdiObjectCount(), live);
}

TEST_F(DialogTest, ControlColours) {
  CDialogX d(skin_test::kTestTemplate, nullptr, "Colours", 1, nullptr);
  Open(d);
  struct Case {
    UINT message;
    bool grey;
  };
  const Case cases[] = {{WM_CTLCOLORDLG, true},   {WM_CTLCOLORSTATIC, true}, {WM_CTLCOLOREDIT, false},
                        {WM_CTLCOLORBTN, false}, {WM_CTLCOLORDLG + 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CWnd scratch;
    ASSERT_TRUE(scratch.CreateEx(0, "S", "s", WS_POPUP, CRect(0, 0, 4, 4), nullptr, 0));
    CClientDC dc(&scratch);
    dc.SetBkMode(OPAQUE);
    const HBRUSH brush = reinterpret_cast<HBRUSH>(
        d.SendMessage(c.message, reinterpret_cast<WPARAM>(dc.m_hDC), reinterpret_cast<LPARAM>(scratch.m_hWnd)));
    EXPECT_EQ(brush != nullptr, c.grey);
    EXPECT_EQ(dc.GetBkMode(), c.grey ? TRANSPARENT : OPAQUE);
    if (brush) {
      const RECT all{0, 0, 4, 4};
      FillRect(dc.m_hDC, &all, brush);
      EXPECT_EQ(dc.GetPixel(1, 1), RGB(160, 160, 160));
    }
  }
}

// Press, move with and without the left button, release: through the
// top-level window, as a user drags (run a second time on a real X server).
TEST_F(DialogTest, DraggingTheTitleBarMovesTheWindowByTheDelta) {
  struct Case {
    int y;
    bool drags;
  };
  const Case cases[] = {{0, true}, {29, true}, {30, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y);
    CDialogX d(skin_test::kTestTemplate, nullptr, "Drag", 1, nullptr);
    Open(d);
    QWindow* w = TopWindow(d);
    CRect before;
    d.GetWindowRect(&before);
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(60, c.y));
    Settle();
    EXPECT_EQ(d.IsDragging(), c.drags);
    EXPECT_EQ(CWnd::GetCapture() == &d, c.drags);
    QTest::mouseMove(w, QPoint(60 + 30, c.y + 20));
    Settle();
    CRect moved;
    d.GetWindowRect(&moved);
    CRect expected = before;
    if (c.drags) expected.OffsetRect(30, 20);
    EXPECT_EQ(moved, expected);
    // A move without the left button held leaves the window where it is.
    d.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    d.GetWindowRect(&moved);
    EXPECT_EQ(moved, expected);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(60, c.y));
    Settle();
    EXPECT_FALSE(d.IsDragging());
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    d.DestroyWindow();
  }
}

TEST_F(DialogTest, AnInitialRectPlacesTheWindowBeforeTheTitleBarIsBuilt) {
  CDialogX placed(skin_test::kTestTemplate, nullptr, "Placed", 1, nullptr);
  placed.SetInitialWindowRect(CRect(120, 140, 520, 340), true);
  Open(placed);
  CRect rc;
  placed.GetWindowRect(&rc);
  EXPECT_EQ(rc, CRect(120, 140, 520, 340));
  CRect bar;
  placed.GetTitleBar()->GetClientRect(&bar);
  EXPECT_EQ(bar.right, 400);

  CDialogX plain(skin_test::kTestTemplate, nullptr, "Plain", 1, nullptr);
  plain.SetInitialWindowRect(CRect(120, 140, 520, 340), false);
  Open(plain);
  plain.GetWindowRect(&rc);
  EXPECT_EQ(rc.TopLeft(), CPoint(win::DialogUnitsToPixelsX(20), win::DialogUnitsToPixelsY(30)));
  EXPECT_EQ(rc.Width(), win::DialogUnitsToPixelsX(200));
}

TEST_F(DialogTest, AnExplicitFolderIsUsedElseTheProgramsOwn) {
  const std::string own = skin_test::ProgramFolder();
  ASSERT_EQ(std::string(QuorlMFC::ApplicationFolder().GetString()), own);
  ASSERT_EQ(own.back(), '/');
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP, CRect(0, 0, 300, 100), nullptr, 0));
  for (const char* folder : {static_cast<const char*>("/opt/skins/"), static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(folder ? folder : "derived");
    const std::string want = folder ? folder : own;
    CDialogX d(skin_test::kTestTemplate, nullptr, "Folder", 1, nullptr);
    CTitleBar bar;
    CToolbarX toolbar;
    if (folder) {
      d.SetAppPath(folder);
      bar.SetAppPath(folder);
      toolbar.SetAppPath(folder);
    }
    Open(d);
    ASSERT_TRUE(bar.Create("t", SS_OWNERDRAW | WS_CHILD, CRect(0, 0, 300, 29), &parent, 1999));
    bar.Initialize(10, 1);
    ASSERT_TRUE(toolbar.Create("", WS_CHILD, CRect(0, 40, 300, 90), &parent, 2000));
    toolbar.Initialize(8, 2);
    EXPECT_EQ(std::string(d.GetAppPath().GetString()), want);
    EXPECT_EQ(std::string(d.GetTitleBar()->GetAppPath().GetString()), want);
    EXPECT_EQ(std::string(bar.GetAppPath().GetString()), want);
    EXPECT_EQ(std::string(toolbar.GetAppPath().GetString()), want);
  }
}

TEST_F(DialogTest, AModelessDialogHidesOnExitAndEscapeAndKeepsItsTitleBar) {
  CDialogX d(skin_test::kTestTemplate, nullptr, "Modeless", 1, nullptr);
  Open(d);
  CTitleBar* bar = d.GetTitleBar();
  const std::function<void(CDialogX&)> closers[] = {
      [](CDialogX& x) {
        CRect rc;
        x.GetClientRect(&rc);
        QTest::mouseClick(TopWindow(x), Qt::LeftButton, Qt::NoModifier, QPoint(rc.right - 26 + 12, 14));
      },
      [](CDialogX& x) { QTest::keyClick(TopWindow(x), Qt::Key_Escape); },
  };
  for (const auto& close : closers) {
    close(d);
    Settle();
    EXPECT_FALSE(d.IsWindowVisible());
    EXPECT_NE(d.m_hWnd, nullptr);
    d.ShowWindow(SW_SHOW);
    Settle();
    EXPECT_EQ(d.GetTitleBar(), bar);
    EXPECT_TRUE(bar->IsWindowVisible());
  }
}

TEST(DialogRuntimeClasses, CreatableAndKinds) {
  CObject* made = RUNTIME_CLASS(CDialogX)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CDialog)));
  auto* dialog = dynamic_cast<CDialogX*>(made);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->GetTitle(), "DialogX Window");
  delete made;
  CDialogXMsgBox box(nullptr, "text", "caption");
  EXPECT_TRUE(box.IsKindOf(RUNTIME_CLASS(CDialogX)));
  EXPECT_FALSE(box.IsKindOf(RUNTIME_CLASS(CTitleBar)));
}

// ---- Message box ---------------------------------------------------------------

INT_PTR RunBox(const std::function<void(CDialog&)>& answer) {
  CDialogXMsgBox box(nullptr, "Delete the selected images?", "Confirm");
  box.SetAppPath(skin_test::BuiltSkinFolder().c_str());
  win::SetNextModalHook([&](CDialog& d) {
    Settle();
    answer(d);
  });
  const INT_PTR result = box.DoModal();
  Settle();
  return result;
}

QPoint CentreOf(CDialog& d, int id) {
  CRect rc;
  d.GetDlgItem(id)->GetWindowRect(&rc);
  d.ScreenToClient(&rc);
  return QPoint(rc.CenterPoint().x, rc.CenterPoint().y);
}

// Answered through the modal hook (run a second time on a real X server).
TEST(MessageBox, EveryAnswerRoad) {
  struct Case {
    const char* name;
    std::function<void(CDialog&)> answer;
    INT_PTR result;
  };
  const Case cases[] = {
      {"OK", [](CDialog& d) { QTest::mouseClick(TopWindow(d), Qt::LeftButton, Qt::NoModifier, CentreOf(d, IDOK)); }, IDOK},
      {"Enter", [](CDialog& d) { QTest::keyClick(TopWindow(d), Qt::Key_Return); }, IDOK},
      {"Cancel", [](CDialog& d) { QTest::mouseClick(TopWindow(d), Qt::LeftButton, Qt::NoModifier, CentreOf(d, IDCANCEL)); },
       IDCANCEL},
      {"Escape", [](CDialog& d) { QTest::keyClick(TopWindow(d), Qt::Key_Escape); }, IDCANCEL},
      {"exit button",
       [](CDialog& d) {
         CRect rc;
         d.GetClientRect(&rc);
         QTest::mouseClick(TopWindow(d), Qt::LeftButton, Qt::NoModifier, QPoint(rc.right - 26 + 12, 14));
       },
       IDCANCEL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunBox(c.answer), c.result);
  }
}

TEST(MessageBox, LayoutOfTemplate1008AndTheShippedButtons) {
  CRect ok, label, client;
  CString text;
  int exitFrame = -1;
  bool textShown = false;
  RunBox([&](CDialog& d) {
    d.GetClientRect(&client);
    d.GetDlgItem(IDOK)->GetWindowRect(&ok);
    d.ScreenToClient(&ok);
    auto& box = static_cast<CDialogXMsgBox&>(d);
    box.Label().GetWindowRect(&label);
    d.ScreenToClient(&label);
    text = box.Label().GetText();
    exitFrame = box.GetTitleBar()->ExitButton().FrameWidth();
    for (int i = 0; i < box.Label().BufferWidth() * box.Label().BufferHeight() && !textShown; ++i)
      textShown = box.Label().BackBuffer()[i] != 0xFF2F2F2F;
    d.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(ok, CRect(144, 193, 144 + 75, 193 + 26));
  EXPECT_EQ(client, CRect(0, 0, 306, 231));
  EXPECT_EQ(label, CRect(5, 40, client.right - 5, client.bottom - 60));
  EXPECT_EQ(text, "Delete the selected images?");
  EXPECT_TRUE(textShown);
  EXPECT_EQ(exitFrame, 24);
}

// ---- Background mode before the first show -------------------------------------

// A strip fully transparent inside its circle, made by each owner's
// InitializeButton with mode 1: the colour shows there from the first paint.
// One button of background mode 1 on each owner: the dialog at (20, 60), its
// title bar at (100, 2) and a toolbar's at (150, 60), all 24 x 24.
struct ButtonOnEveryOwner {
  CDialogX dialog{skin_test::kTestTemplate, nullptr, "Mode", 0, nullptr};
  CToolbarX toolbar{RGB(90, 90, 90)};
  CHoverButtonEx onDialog, onBar, onToolbar;
};

void MakeButtonOnEveryOwner(ButtonOnEveryOwner& o, HRGN region, bool toolbarInitialised, const std::string& strip,
                            COLORREF colour) {
  o.dialog.InitializeButton(&o.onDialog, CRect(20, 60, 44, 84), region, strip.c_str(), "tip", 3001, 1, colour);
  o.dialog.GetTitleBar()->InitializeButton(&o.onBar, CRect(100, 2, 124, 26), region, strip.c_str(), "tip", 3002, 1,
                                           colour);
  ASSERT_TRUE(o.toolbar.Create("", WS_CHILD | WS_VISIBLE, CRect(100, 60, 200, 100), &o.dialog, 3003));
  if (toolbarInitialised) {
    o.toolbar.SetRegionSize(24, 24);
    o.toolbar.Initialize(8, 2);
  }
  o.toolbar.InitializeButton(&o.onToolbar, CRect(150, 60, 174, 84), region, strip.c_str(), "tip", 3004, 1, colour);
}

TEST_F(DialogTest, SolidBackgroundModeIsSetBeforeTheButtonShows) {
  QTemporaryDir dir;
  const std::string clear = skin_test::WriteStrip(dir, "clear.png", 24, 24, qRgba(255, 255, 255, 0));
  const COLORREF colour = RGB(10, 200, 30);
  ButtonOnEveryOwner o;
  Open(o.dialog);
  HRGN circle = CreateEllipticRgn(0, 0, 24, 24);
  MakeButtonOnEveryOwner(o, circle, true, clear, colour);
  DeleteObject(circle);
  Settle();
  EXPECT_EQ(Shown(o.dialog, 32, 72), colour);
  EXPECT_EQ(Shown(*o.dialog.GetTitleBar(), 112, 14), colour);
  EXPECT_EQ(Shown(o.dialog, 162, 72), colour);
}

// Without a region each owner's button still blends its strip over the
// colour, over its whole rectangle (a toolbar not yet initialised has no
// button region).
TEST_F(DialogTest, ButtonWithoutRegionBlendsOverItsWholeRectangle) {
  QTemporaryDir dir;
  const std::string clear = skin_test::WriteStrip(dir, "clear.png", 24, 24, qRgba(255, 255, 255, 0));
  const COLORREF colour = RGB(10, 200, 30);
  ButtonOnEveryOwner o;
  Open(o.dialog);
  MakeButtonOnEveryOwner(o, nullptr, false, clear, colour);
  Settle();
  CDialogX& d = o.dialog;
  CTitleBar* bar = d.GetTitleBar();
  struct Case {
    const char* owner;
    CWnd* window;
    int left, top;
  };
  const Case cases[] = {{"dialog", &d, 20, 60}, {"title bar", bar, 100, 2}, {"toolbar", &d, 150, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    for (const auto& [x, y] : {std::pair{12, 12}, std::pair{0, 0}, std::pair{23, 23}})
      EXPECT_EQ(Shown(*c.window, c.left + x, c.top + y), colour) << x << "," << y;
  }
}

}  // namespace
