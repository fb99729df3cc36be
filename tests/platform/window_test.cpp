#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "win/window.h"

namespace {

// A window that records the messages its map sees, in order.
class Probe : public CWnd {
 public:
  std::vector<std::string> log;
  std::vector<std::pair<UINT, LPARAM>> mouse;
  int timers = 0;
  BOOL eraseResult = FALSE;
  BOOL consumeInPre = FALSE;
  std::string name = "probe";
  std::vector<std::string>* shared = nullptr;

  BOOL PreTranslateMessage(MSG* m) override {
    if (shared && m->message == WM_LBUTTONDOWN) shared->push_back(name);
    return consumeInPre;
  }

 protected:
  LRESULT OnUser(WPARAM w, LPARAM) {
    log.push_back("user" + std::to_string(w));
    return 7;
  }
  BOOL OnEraseBkgnd(CDC* dc) {
    log.push_back("erase");
    if (!eraseResult) return CWnd::OnEraseBkgnd(dc);
    return TRUE;
  }
  void OnPaint() {
    CPaintDC dc(this);
    log.push_back("paint");
  }
  void OnTimer(UINT_PTR id) {
    ++timers;
    log.push_back("timer" + std::to_string(id));
  }
  void OnMouseMove(UINT, CPoint p) { mouse.push_back({WM_MOUSEMOVE, MAKELPARAM(p.x, p.y)}); }
  void OnLButtonDown(UINT f, CPoint p) {
    log.push_back("down" + std::to_string(f & MK_LBUTTON));
    mouse.push_back({WM_LBUTTONDOWN, MAKELPARAM(p.x, p.y)});
  }
  void OnLButtonUp(UINT, CPoint p) { mouse.push_back({WM_LBUTTONUP, MAKELPARAM(p.x, p.y)}); }
  void OnCaptureChanged(CWnd* w) { log.push_back(std::string("capturechanged:") + (w ? "wnd" : "null")); }
  LRESULT OnHover(WPARAM, LPARAM) {
    log.push_back("hover");
    return 0;
  }
  LRESULT OnLeave(WPARAM, LPARAM) {
    log.push_back("leave");
    return 0;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Probe, CWnd)
ON_MESSAGE(WM_USER + 100, OnUser)
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_TIMER()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_WM_CAPTURECHANGED()
ON_MESSAGE(WM_MOUSEHOVER, OnHover)
ON_MESSAGE(WM_MOUSELEAVE, OnLeave)
END_MESSAGE_MAP()

// A derived class with an empty map of its own: lookup goes on to the base.
class DerivedProbe : public Probe {
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(DerivedProbe, Probe)
END_MESSAGE_MAP()

QWindow* TopWindow(CWnd& w) {
  auto* widget = static_cast<QWidget*>(w.GetTopLevelParent()->GetHostWidget());
  return widget->windowHandle();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(top.CreateEx(0, "Probe", "top", WS_POPUP | WS_VISIBLE, CRect(100, 100, 300, 250), nullptr, 0));
    win::PumpMessages();
    top.log.clear();
  }
  void TearDown() override {
    top.DestroyWindow();
    win::PumpMessages();
  }
  DerivedProbe top;
};

TEST_F(WindowTest, HandlesAreDistinctAndStaleOnesFailCleanly) {
  Probe child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(0, 0, 10, 10), &top, 5));
  const HWND h = child.m_hWnd;
  EXPECT_NE(h, top.m_hWnd);
  EXPECT_TRUE(::IsWindow(h));
  EXPECT_EQ(::GetDlgItem(top.m_hWnd, 5), h);
  EXPECT_EQ(CWnd::FromHandle(h), &child);
  child.DestroyWindow();
  EXPECT_FALSE(::IsWindow(h));
  EXPECT_EQ(CWnd::FromHandle(h), nullptr);
  RECT r{1, 2, 3, 4};
  EXPECT_FALSE(::GetClientRect(h, &r));
  EXPECT_EQ(::SendMessage(h, WM_USER + 100, 1, 0), 0);
  EXPECT_FALSE(::PostMessage(h, WM_USER + 100, 1, 0));
  EXPECT_EQ(::GetDC(h), nullptr);
}

TEST_F(WindowTest, MessageNumbersKeepThePlatformValues) {
  EXPECT_EQ(WM_USER + 100, 1124u);
  EXPECT_EQ(WM_MOUSEHOVER, 0x2A1u);
  EXPECT_EQ(WM_MOUSELEAVE, 0x2A3u);
  EXPECT_EQ(WM_MOUSEFIRST, WM_MOUSEMOVE);
  EXPECT_EQ(WM_MOUSELAST, WM_MOUSEWHEEL);
  EXPECT_EQ(WM_RBUTTONDBLCLK - WM_MOUSEMOVE, 6u);
  EXPECT_EQ(sizeof(LONG), 4u);
  EXPECT_EQ(sizeof(COLORREF), 4u);
  EXPECT_EQ(sizeof(LPARAM), sizeof(void*));
}

TEST_F(WindowTest, SendIsSynchronousAndSearchesBaseMaps) {
  EXPECT_EQ(top.SendMessage(WM_USER + 100, 3, 0), 7);
  ASSERT_EQ(top.log.size(), 1u);
  EXPECT_EQ(top.log[0], "user3");
}

TEST_F(WindowTest, CrossThreadPostIsDeliveredOnceOnTheUiThread) {
  std::thread t([h = top.m_hWnd] { EXPECT_TRUE(::PostMessage(h, WM_USER + 100, 9, 0)); });
  t.join();
  EXPECT_TRUE(top.log.empty());  // queued, not yet delivered
  EXPECT_EQ(win::PumpMessages(), 1);
  EXPECT_EQ(win::PumpMessages(), 0);
  ASSERT_EQ(top.log.size(), 1u);
  EXPECT_EQ(top.log[0], "user9");
}

TEST_F(WindowTest, MessagesPostedToADestroyedWindowAreDropped) {
  auto* child = new Probe;
  ASSERT_TRUE(child->Create(nullptr, "c", WS_CHILD, CRect(0, 0, 10, 10), &top, 1));
  const HWND h = child->m_hWnd;
  std::thread t([h] { ::PostMessage(h, WM_USER + 100, 1, 0); });
  t.join();
  child->DestroyWindow();
  EXPECT_EQ(win::PumpMessages(), 0);
  EXPECT_TRUE(child->log.empty());
  delete child;
}

TEST_F(WindowTest, DestroyIsRecursive) {
  Probe mid, leaf;
  ASSERT_TRUE(mid.Create(nullptr, "m", WS_CHILD, CRect(0, 0, 50, 50), &top, 1));
  ASSERT_TRUE(leaf.Create(nullptr, "l", WS_CHILD, CRect(0, 0, 5, 5), &mid, 2));
  const HWND lh = leaf.m_hWnd;
  mid.DestroyWindow();
  EXPECT_FALSE(::IsWindow(lh));
  EXPECT_EQ(leaf.m_hWnd, nullptr);
}

TEST_F(WindowTest, InvalidateGivesEraseThenPaintAndTrueSkipsTheFill) {
  top.Invalidate();
  win::PumpMessages();
  ASSERT_EQ(top.log.size(), 2u);
  EXPECT_EQ(top.log[0], "erase");
  EXPECT_EQ(top.log[1], "paint");
  // Default erase filled the surface with the dialog colour.
  CClientDC dc(&top);
  EXPECT_EQ(dc.GetPixel(5, 5), GetSysColor(COLOR_BTNFACE));
  dc.FillSolidRect(0, 0, 10, 10, RGB(1, 2, 3));
  top.eraseResult = TRUE;
  top.log.clear();
  top.Invalidate(TRUE);
  win::PumpMessages();
  EXPECT_EQ(dc.GetPixel(5, 5), RGB(1, 2, 3));  // not filled over
  top.log.clear();
  top.Invalidate(FALSE);
  win::PumpMessages();
  ASSERT_EQ(top.log.size(), 1u);
  EXPECT_EQ(top.log[0], "paint");
}

TEST_F(WindowTest, GetDcDrawingPersistsAndResizeKeepsOldContent) {
  {
    CDC* dc = top.GetDC();
    ASSERT_NE(dc, nullptr);
    dc->FillSolidRect(10, 10, 20, 20, RGB(200, 0, 0));
    top.ReleaseDC(dc);
  }
  win::PumpMessages();
  CClientDC dc(&top);
  EXPECT_EQ(dc.GetPixel(15, 15), RGB(200, 0, 0));
  top.log.clear();
  top.SetWindowPos(nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
  CRect rc;
  top.GetClientRect(&rc);
  EXPECT_EQ(rc, CRect(0, 0, 300, 200));
  EXPECT_EQ(dc.GetPixel(15, 15), RGB(200, 0, 0));
  win::PumpMessages();
  // Only the new area was invalidated: old content survives the repaint.
  EXPECT_EQ(dc.GetPixel(15, 15), RGB(200, 0, 0));
  EXPECT_EQ(dc.GetPixel(250, 180), GetSysColor(COLOR_BTNFACE));
}

TEST_F(WindowTest, WindowDcReadsChildrenComposedAndClippedToTheirRegion) {
  Probe child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(20, 20, 44, 44), &top, 1));
  {
    CClientDC cdc(&child);
    cdc.FillSolidRect(0, 0, 24, 24, RGB(0, 0, 255));
  }
  CClientDC dc(&top);
  dc.FillSolidRect(0, 0, 200, 150, RGB(0, 255, 0));
  EXPECT_EQ(dc.GetPixel(32, 32), RGB(0, 0, 255));
  EXPECT_EQ(dc.GetPixel(20, 20), RGB(0, 0, 255));
  child.SetWindowRgn(CreateEllipticRgn(0, 0, 24, 24), FALSE);
  EXPECT_EQ(dc.GetPixel(32, 32), RGB(0, 0, 255));
  EXPECT_EQ(dc.GetPixel(20, 20), RGB(0, 255, 0));  // corner outside the ellipse
  child.ShowWindow(SW_HIDE);
  EXPECT_EQ(dc.GetPixel(32, 32), RGB(0, 255, 0));
}

TEST_F(WindowTest, PreTranslateRunsFromTargetUpToTopLevelAndTrueConsumes) {
  std::vector<std::string> order;
  Probe child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(10, 10, 60, 60), &top, 1));
  child.name = "child";
  top.name = "top";
  child.shared = top.shared = &order;
  // Showing erased the child at once; only the click's messages count here.
  child.log.clear();
  QWindow* w = TopWindow(top);
  ASSERT_NE(w, nullptr);
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], "child");
  EXPECT_EQ(order[1], "top");
  EXPECT_EQ(child.log.front(), "down1");
  child.log.clear();
  top.consumeInPre = TRUE;
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20), 600);
  EXPECT_TRUE(std::find(child.log.begin(), child.log.end(), "down1") == child.log.end());
}

TEST_F(WindowTest, MouseMessagesUseClientCoordinatesAndCaptureRoutesEverything) {
  Probe child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(50, 40, 90, 80), &top, 1));
  QWindow* w = TopWindow(top);
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(60, 45));
  ASSERT_FALSE(child.mouse.empty());
  EXPECT_EQ(child.mouse.back().first, WM_LBUTTONDOWN);
  EXPECT_EQ(GET_X_LPARAM(child.mouse.back().second), 10);
  EXPECT_EQ(GET_Y_LPARAM(child.mouse.back().second), 5);
  child.SetCapture();
  EXPECT_EQ(CWnd::GetCapture(), &child);
  child.mouse.clear();
  top.mouse.clear();
  QTest::mouseMove(w, QPoint(10, 10));
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  ASSERT_FALSE(child.mouse.empty());
  EXPECT_TRUE(top.mouse.empty());
  EXPECT_EQ(child.mouse.back().first, WM_LBUTTONUP);
  EXPECT_EQ(GET_X_LPARAM(child.mouse.back().second), -40);
  EXPECT_EQ(GET_Y_LPARAM(child.mouse.back().second), -30);
  // A new owner tells the loser, naming itself.
  top.SetCapture();
  EXPECT_EQ(child.log.back(), "capturechanged:wnd");
  ReleaseCapture();
  EXPECT_EQ(top.log.back(), "capturechanged:null");
  EXPECT_EQ(CWnd::GetCapture(), nullptr);
}

TEST_F(WindowTest, ManualClockFiresTimersInOrderAndCoalesces) {
  win::ManualClock clock;
  top.SetTimer(1124, 100);
  top.SetTimer(2, 250);
  clock.Advance(99);
  EXPECT_EQ(top.timers, 0);
  clock.Advance(1);
  EXPECT_EQ(top.timers, 1);
  top.log.clear();
  // Ten periods pass before the queue is pumped: one pending WM_TIMER each.
  clock.Advance(1000);
  ASSERT_EQ(top.log.size(), 2u);
  EXPECT_EQ(top.log[0], "timer1124");
  EXPECT_EQ(top.log[1], "timer2");
  top.KillTimer(1124);
  top.log.clear();
  clock.Advance(250);
  ASSERT_EQ(top.log.size(), 1u);
  EXPECT_EQ(top.log[0], "timer2");
  EXPECT_EQ(timeGetTime(), clock.Now());
}

TEST_F(WindowTest, HoverAfterRestAndLeaveOnExit) {
  win::ManualClock clock;
  Probe child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(50, 40, 90, 80), &top, 1));
  QWindow* w = TopWindow(top);
  QTest::mouseMove(w, QPoint(60, 50));
  TRACKMOUSEEVENT tme{sizeof(TRACKMOUSEEVENT), TME_HOVER | TME_LEAVE, child.m_hWnd, 1};
  ASSERT_TRUE(_TrackMouseEvent(&tme));
  clock.Advance(0);
  EXPECT_TRUE(std::find(child.log.begin(), child.log.end(), "hover") == child.log.end());
  clock.Advance(1);
  EXPECT_EQ(std::count(child.log.begin(), child.log.end(), "hover"), 1);
  QTest::mouseMove(w, QPoint(10, 10));
  win::PumpMessages();
  EXPECT_EQ(child.log.back(), "leave");
  // Tracking ended with the leave.
  child.log.clear();
  QTest::mouseMove(w, QPoint(60, 50));
  QTest::mouseMove(w, QPoint(12, 12));
  clock.Advance(10);
  EXPECT_TRUE(child.log.empty());
}

TEST_F(WindowTest, GeometryMapping) {
  Probe child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(50, 40, 90, 80), &top, 1));
  CPoint p(1, 2);
  child.MapWindowPoints(&top, &p, 1);
  EXPECT_EQ(p, CPoint(51, 42));
  CRect r;
  child.GetWindowRect(&r);
  top.ScreenToClient(&r);
  EXPECT_EQ(r, CRect(50, 40, 90, 80));
  child.MoveWindow(5, 6, 7, 8);
  child.GetWindowRect(&r);
  top.ScreenToClient(&r);
  EXPECT_EQ(r, CRect(5, 6, 12, 14));
  EXPECT_TRUE(child.IsWindowVisible());
  top.ShowWindow(SW_HIDE);
  EXPECT_FALSE(child.IsWindowVisible());
  top.ShowWindow(SW_SHOW);
  top.ShowWindow(SW_MINIMIZE);
  EXPECT_TRUE(top.IsIconic());
  top.ShowWindow(SW_RESTORE);
  EXPECT_FALSE(top.IsIconic());
  RECT work;
  EXPECT_TRUE(SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_GT(work.right - work.left, 0);
}

// A window that records its key messages: (message, code) in order.
class KeyProbe : public CWnd {
 public:
  std::vector<std::pair<UINT, UINT>> keys;

 protected:
  void OnKeyDown(UINT code, UINT, UINT) { keys.push_back({WM_KEYDOWN, code}); }
  void OnKeyUp(UINT code, UINT, UINT) { keys.push_back({WM_KEYUP, code}); }
  void OnChar(UINT code, UINT, UINT) { keys.push_back({WM_CHAR, code}); }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(KeyProbe, CWnd)
ON_WM_KEYDOWN()
ON_WM_KEYUP()
ON_WM_CHAR()
END_MESSAGE_MAP()

// What a key press delivers: a letter its upper-case code with Shift or
// without (the case is in WM_CHAR only), function keys 0x70 on, the
// keypad its own codes for digits and operators, press and release alike.
TEST(KeyMessages, CodesAreThePlatformsVirtualKeys) {
  KeyProbe probe;
  ASSERT_TRUE(probe.CreateEx(0, "K", "keys", WS_POPUP | WS_VISIBLE, CRect(0, 0, 80, 60), nullptr, 0));
  win::PumpMessages();
  QWindow* window = TopWindow(probe);
  ASSERT_NE(window, nullptr);
  // Each key with the text a real press carries (none for function keys).
  const struct {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* text;
    UINT code;
  } cases[] = {
      {"w", Qt::Key_W, Qt::NoModifier, "w", 'W'},
      {"W", Qt::Key_W, Qt::ShiftModifier, "W", 'W'},
      {"5", Qt::Key_5, Qt::NoModifier, "5", '5'},
      {"F1", Qt::Key_F1, Qt::NoModifier, "", 0x70},
      {"F3", Qt::Key_F3, Qt::NoModifier, "", 0x72},
      {"F8", Qt::Key_F8, Qt::NoModifier, "", 0x77},
      {"keypad 5", Qt::Key_5, Qt::KeypadModifier, "5", 0x65},
      {"keypad divide", Qt::Key_Slash, Qt::KeypadModifier, "/", 0x6F},
      {"keypad times", Qt::Key_Asterisk, Qt::KeypadModifier, "*", 0x6A},
      {"keypad minus", Qt::Key_Minus, Qt::KeypadModifier, "-", 0x6D},
      {"slash", Qt::Key_Slash, Qt::NoModifier, "/", 0xBF},
      {"minus", Qt::Key_Minus, Qt::NoModifier, "-", 0xBD},
  };
  for (const auto& c : cases) {
    probe.keys.clear();
    QTest::sendKeyEvent(QTest::Click, window, c.key, QString::fromLatin1(c.text), c.modifiers);
    win::PumpMessages();
    std::vector<std::pair<UINT, UINT>> want = {{WM_KEYDOWN, c.code}};
    if (*c.text) want.push_back({WM_CHAR, static_cast<UINT>(static_cast<unsigned char>(*c.text))});
    want.push_back({WM_KEYUP, c.code});
    // Shift's own press and release come around the key's.
    std::vector<std::pair<UINT, UINT>> got;
    for (const auto& k : probe.keys)
      if (k.second != static_cast<UINT>(VK_SHIFT) || k.first == WM_CHAR) got.push_back(k);
    EXPECT_EQ(got, want) << c.name;
  }
  probe.DestroyWindow();
  win::PumpMessages();
}

TEST(Module, SplitPathKeepsTheDirectorySeparator) {
  char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath("/opt/vistrel/bin/Vistrel.exe", drive, dir, fname, ext);
  EXPECT_STREQ(drive, "");
  EXPECT_STREQ(dir, "/opt/vistrel/bin/");
  EXPECT_STREQ(fname, "Vistrel");
  EXPECT_STREQ(ext, ".exe");
  _splitpath("C:\\a\\b.txt", drive, dir, fname, ext);
  EXPECT_STREQ(drive, "C:");
  EXPECT_STREQ(dir, "/a/");
  EXPECT_STREQ(fname, "b");
  char path[MAX_PATH];
  EXPECT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  EXPECT_EQ(GetModuleFileNameA(nullptr, path, 2), 2u);  // truncated, as on the platform
  EXPECT_EQ(std::string(path).size(), 1u);
}

}  // namespace

#include <mutex>

#include "win/sync.h"

namespace {

TEST(CriticalSection, IsRecursive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  LeaveCriticalSection(&cs);
  std::atomic<bool> got{true};
  std::thread t([&] { got = TryEnterCriticalSection(&cs) != FALSE; });
  t.join();
  EXPECT_FALSE(got);
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
}

}  // namespace

namespace {

TEST(WindowServicesImpl, OtherThreadsWriteWithoutWaiting) {
  CWnd w;
  ASSERT_TRUE(w.CreateEx(0, "W", "w", WS_POPUP | WS_VISIBLE, CRect(0, 0, 16, 8), nullptr, 0));
  win::WindowServices* s = win::GetWindowServices();
  ASSERT_NE(s, nullptr);
  std::vector<std::uint32_t> red(4 * 4, 0xFFFF0000);
  std::thread t([&] {
    int cw = 0, ch = 0;
    EXPECT_TRUE(s->GetClientSize(w.m_hWnd, &cw, &ch));
    EXPECT_EQ(cw, 16);
    EXPECT_EQ(ch, 8);
    EXPECT_TRUE(s->WriteClient(w.m_hWnd, 2, 2, red.data(), 4, 4, 16));
    EXPECT_FALSE(s->WriteClient(reinterpret_cast<HWND>(0x42), 0, 0, red.data(), 4, 4, 16));
  });
  t.join();
  QCoreApplication::processEvents();
  CClientDC dc(&w);
  EXPECT_EQ(dc.GetPixel(3, 3), RGB(255, 0, 0));
  EXPECT_EQ(dc.GetPixel(7, 3), GetPixel(dc, 7, 3));
  // Written after the window died: dropped.
  std::thread late([&, h = w.m_hWnd] { s->WriteClient(h, 0, 0, red.data(), 4, 4, 16); });
  late.join();
  w.DestroyWindow();
  QCoreApplication::processEvents();
}

}  // namespace

namespace {

class Notified : public CWnd {
 public:
  std::vector<std::pair<UINT, CPoint>> notes;

 protected:
  void OnParentNotify(UINT msg, LPARAM lp) {
    notes.push_back({LOWORD(msg), CPoint(GET_X_LPARAM(lp), GET_Y_LPARAM(lp))});
    CWnd::OnParentNotify(msg, lp);
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Notified, CWnd)
ON_WM_PARENTNOTIFY()
END_MESSAGE_MAP()

TEST(ParentNotify, PressOnAChildTellsTheParentFirst) {
  Notified top;
  ASSERT_TRUE(top.CreateEx(0, "N", "n", WS_POPUP | WS_VISIBLE, CRect(0, 0, 100, 100), nullptr, 0));
  CWnd child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(10, 10, 50, 50), &top, 1));
  QWindow* w = static_cast<QWidget*>(top.GetHostWidget())->windowHandle();
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
  ASSERT_EQ(top.notes.size(), 1u);
  EXPECT_EQ(top.notes[0].first, WM_LBUTTONDOWN);
  EXPECT_EQ(top.notes[0].second, CPoint(20, 30));
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(80, 80), 1000);  // on the parent itself
  EXPECT_EQ(top.notes.size(), 1u);
  // A placement moves a window back where it was.
  WINDOWPLACEMENT wp{};
  ASSERT_TRUE(top.GetWindowPlacement(&wp));
  CRect r(wp.rcNormalPosition);
  r.OffsetRect(7, 3);
  top.MoveWindow(&r);
  ASSERT_TRUE(top.GetWindowPlacement(&wp));
  EXPECT_EQ(CRect(wp.rcNormalPosition), r);
  top.DestroyWindow();
}

}  // namespace

namespace {

class CursorSetter : public CWnd {
 public:
  int asked = 0;

 protected:
  BOOL OnSetCursor(CWnd*, UINT hit, UINT msg) {
    ++asked;
    EXPECT_EQ(hit, HTCLIENT);
    EXPECT_EQ(msg, WM_MOUSEMOVE);
    ::SetCursor(LoadCursor(nullptr, IDC_CROSS));
    return TRUE;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CursorSetter, CWnd)
ON_WM_SETCURSOR()
END_MESSAGE_MAP()

TEST(SetCursor, ParentsChooseTheCursorOverTheirChildren) {
  CursorSetter top;
  ASSERT_TRUE(top.CreateEx(0, "S", "s", WS_POPUP | WS_VISIBLE, CRect(0, 0, 100, 100), nullptr, 0));
  CWnd child;
  ASSERT_TRUE(child.Create(nullptr, "c", WS_CHILD | WS_VISIBLE, CRect(10, 10, 50, 50), &top, 1));
  auto* widget = static_cast<QWidget*>(child.GetHostWidget());
  QTest::mouseMove(static_cast<QWidget*>(top.GetHostWidget())->windowHandle(), QPoint(20, 20));
  EXPECT_EQ(top.asked, 1);
  EXPECT_EQ(widget->cursor().shape(), Qt::CrossCursor);
  EXPECT_EQ(LoadCursorA(nullptr, "custom"), nullptr);
  top.DestroyWindow();
}

}  // namespace

namespace {

TEST(DlgItems, IntegersThroughTheText) {
  CWnd top;
  ASSERT_TRUE(top.CreateEx(0, "D", "d", WS_POPUP, CRect(0, 0, 50, 50), nullptr, 0));
  CWnd item;
  ASSERT_TRUE(item.Create(nullptr, "", WS_CHILD, CRect(0, 0, 5, 5), &top, 7));
  top.SetDlgItemInt(7, static_cast<UINT>(-12));
  BOOL ok = FALSE;
  EXPECT_EQ(static_cast<int>(top.GetDlgItemInt(7, &ok)), -12);
  EXPECT_TRUE(ok);
  top.SetDlgItemText(7, "12x");
  EXPECT_EQ(top.GetDlgItemInt(7, &ok), 0u);
  EXPECT_FALSE(ok);
  top.SetDlgItemText(7, "-3");
  EXPECT_EQ(top.GetDlgItemInt(7, &ok, FALSE), 0u);
  EXPECT_FALSE(ok);
  CString s("kept");
  EXPECT_FALSE(s.LoadString(101));
  EXPECT_TRUE(s.IsEmpty());
  top.DestroyWindow();
}

}  // namespace
