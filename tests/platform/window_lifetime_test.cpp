// Dynamic creation, deferred destruction, the live GDI count and drawing
// before the first show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "win/window.h"

namespace {

class Creatable : public CWnd {
  DECLARE_DYNCREATE(Creatable)
};
IMPLEMENT_DYNCREATE(Creatable, CWnd)

// Never made (only its record is read), so the GetRuntimeClass the macro pair
// declares and defines has no caller in this file; the macros must come as a
// pair, so the compiler's note on it is silenced here alone.
class NotCreatable : public CWnd {
  DECLARE_DYNAMIC(NotCreatable)
};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
IMPLEMENT_DYNAMIC(NotCreatable, CWnd)
#pragma GCC diagnostic pop

TEST(RuntimeClass, CreatesOnlyClassesWithAFactory) {
  CObject* made = RUNTIME_CLASS(Creatable)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(Creatable)));
  EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CWnd)));
  delete made;
  EXPECT_EQ(RUNTIME_CLASS(NotCreatable)->CreateObject(), nullptr);
  EXPECT_EQ(RUNTIME_CLASS(CWnd)->CreateObject(), nullptr);  // a record written as {name, base}
}

// A child that hands itself to the deferred destruction from its own
// handler, and counts its deletion.
class SelfDestroying : public CWnd {
 public:
  explicit SelfDestroying(int* deleted) : deleted_(deleted) {}
  ~SelfDestroying() override { ++*deleted_; }
  bool handlerReturned = false;

 protected:
  LRESULT OnUser(WPARAM, LPARAM) {
    win::DestroyWindowLater(this);
    win::DestroyWindowLater(this);  // twice is once
    // Still alive and usable until the handler has returned.
    EXPECT_NE(m_hWnd, nullptr);
    SetWindowText("still here");
    return 0;
  }
  DECLARE_MESSAGE_MAP()

 private:
  int* deleted_;
};
BEGIN_MESSAGE_MAP(SelfDestroying, CWnd)
ON_MESSAGE(WM_USER + 1, OnUser)
END_MESSAGE_MAP()

// The owner sends the message from a handler of its own: the pump that runs
// inside that handler must not delete the child yet.
class Owner : public CWnd {
 public:
  SelfDestroying* child = nullptr;
  int deletedWhileHandling = -1;
  int* deleted = nullptr;

 protected:
  LRESULT OnUser(WPARAM, LPARAM) {
    child->SendMessage(WM_USER + 1);
    win::PumpMessages();
    deletedWhileHandling = *deleted;
    return 0;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Owner, CWnd)
ON_MESSAGE(WM_USER + 2, OnUser)
END_MESSAGE_MAP()

TEST(DeferredDestruction, RunsOnceTheOutermostMessageHasReturned) {
  int deleted = 0;
  Owner owner;
  ASSERT_TRUE(owner.CreateEx(0, "O", "o", WS_POPUP, CRect(0, 0, 50, 50), nullptr, 0));
  owner.deleted = &deleted;
  owner.child = new SelfDestroying(&deleted);
  ASSERT_TRUE(owner.child->Create(nullptr, "c", WS_CHILD, CRect(0, 0, 10, 10), &owner, 5));
  const HWND childHandle = owner.child->m_hWnd;
  owner.SendMessage(WM_USER + 2);
  EXPECT_EQ(owner.deletedWhileHandling, 0);
  EXPECT_EQ(deleted, 0);
  win::PumpMessages();
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(CWnd::FromHandle(childHandle), nullptr);
  EXPECT_NE(owner.m_hWnd, nullptr);  // the owner is left alone
  owner.DestroyWindow();
}

TEST(DeferredDestruction, AnObjectWhoseWindowIsGoneIsStillDeleted) {
  int deleted = 0;
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP, CRect(0, 0, 50, 50), nullptr, 0));
  auto* child = new SelfDestroying(&deleted);
  ASSERT_TRUE(child->Create(nullptr, "c", WS_CHILD, CRect(0, 0, 10, 10), &parent, 5));
  win::DestroyWindowLater(child);
  parent.DestroyWindow();  // takes the child's window first
  win::RunDeferredDestruction();
  EXPECT_EQ(deleted, 1);
}

TEST(LiveGdiObjects, CountsWhatTheProgramMadeAndFreed) {
  const int before = win::LiveGdiObjectCount();
  HRGN r = CreateRectRgn(0, 0, 5, 5);
  HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
  HFONT f = CreateFontA(13, 5, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 32, "Verdana");
  GetStockObject(WHITE_BRUSH);
  EXPECT_EQ(win::LiveGdiObjectCount(), before + 3);
  {
    CWnd w;
    ASSERT_TRUE(w.CreateEx(0, "W", "w", WS_POPUP, CRect(0, 0, 20, 20), nullptr, 0));
    CClientDC dc(&w);  // device contexts are not counted
    EXPECT_EQ(win::LiveGdiObjectCount(), before + 3);
  }
  DeleteObject(r);
  DeleteObject(b);
  DeleteObject(f);
  EXPECT_EQ(win::LiveGdiObjectCount(), before);
}

// Filled at once after a visible creation (the show has erased already):
// the fill stays through the first paint and the platform's own mapping and
// layout (run a second time on a real X server).
TEST(DrawBeforeShow, TheSurfaceKeepsWhatWasDrawn) {
  CWnd shown;
  ASSERT_TRUE(shown.CreateEx(0, "S", "s", WS_POPUP | WS_VISIBLE, CRect(40, 40, 240, 140), nullptr, 0));
  {
    CClientDC dc(&shown);
    dc.FillSolidRect(0, 0, 200, 100, RGB(0, 128, 255));
  }
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    win::PumpMessages();
  }
  CClientDC a(&shown);
  EXPECT_EQ(a.GetPixel(5, 5), RGB(0, 128, 255));
  EXPECT_EQ(a.GetPixel(199, 99), RGB(0, 128, 255));
  // What the host widget shows is the surface.
  const QImage grabbed = static_cast<QWidget*>(shown.GetHostWidget())->grab().toImage();
  EXPECT_EQ(grabbed.pixel(5, 5) & 0xFFFFFF, 0x0080FFu);
}

// The platform list chosen when none is set: X11 (or XWayland) first with a
// display, offscreen without one; a chosen platform is left alone.
TEST(PlatformChoice, XcbFirstWhereADisplayExists) {
  const QByteArray saved[] = {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY")};
  struct Case {
    const char* platform;
    const char* display;
    const char* wayland;
    const char* chosen;
  };
  const Case cases[] = {
      {"", ":0", "", "xcb;wayland;offscreen"},
      {"", "", "wayland-0", "xcb;wayland;offscreen"},
      {"", "", "", "offscreen"},
      {"wayland", ":0", "", "wayland"},
  };
  for (const Case& c : cases) {
    qputenv("QT_QPA_PLATFORM", c.platform);
    qputenv("DISPLAY", c.display);
    qputenv("WAYLAND_DISPLAY", c.wayland);
    win::ChooseQtPlatform();
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM").toStdString(), c.chosen) << c.display << " " << c.wayland;
  }
  qputenv("QT_QPA_PLATFORM", saved[0]);
  qputenv("DISPLAY", saved[1]);
  qputenv("WAYLAND_DISPLAY", saved[2]);
}

}  // namespace
