#include "win/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <QWheelEvent>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "window_internal.h"
#if __has_include("win/cursor.h")
#include <QCursor>

#include "win/cursor.h"
#endif

const CRuntimeClass CObject::classCObject = {"CObject", nullptr};
const CRuntimeClass CCmdTarget::classCCmdTarget = {"CCmdTarget", &CObject::classCObject};
const CRuntimeClass CWnd::classCWnd = {"CWnd", &CCmdTarget::classCCmdTarget};

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
  for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
    if (c == base) return true;
  return false;
}

namespace win {
namespace {

// ---- Handle table ---------------------------------------------------------

struct Table {
  std::mutex m;
  std::map<std::uintptr_t, WindowData*> windows;  // ordered: creation order
  std::uintptr_t next = 0x10000;
};
Table& T() {
  static Table* t = new Table;  // outlives every static window object
  return *t;
}

std::uintptr_t Key(HWND h) { return reinterpret_cast<std::uintptr_t>(h); }

std::atomic<std::uint64_t> g_generation{1};

// ---- Posted messages ------------------------------------------------------

struct Posted {
  HWND hwnd;
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  std::uint64_t timerKey;
};

struct Queue {
  std::mutex m;
  std::deque<Posted> q;
  bool wakePending = false;
  bool paintPending = false;
};
Queue& Q() {
  static Queue* q = new Queue;
  return *q;
}

class Dispatcher : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      {
        std::lock_guard<std::mutex> g(Q().m);
        Q().wakePending = false;
      }
      PumpMessages();
      return true;
    }
    return QObject::event(e);
  }
};
Dispatcher* g_dispatcher = nullptr;

void Wake() {
  bool post = false;
  {
    std::lock_guard<std::mutex> g(Q().m);
    if (!Q().wakePending && g_dispatcher) {
      Q().wakePending = true;
      post = true;
    }
  }
  if (post) QCoreApplication::postEvent(g_dispatcher, new QEvent(QEvent::User));
}

// ---- Current message (for Default) ---------------------------------------

struct CurrentMsg {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
};
thread_local std::vector<CurrentMsg> t_current;
thread_local UINT t_ctlColor = 0;

// ---- Timers ---------------------------------------------------------------

struct TimerRec {
  HWND hwnd;
  UINT_PTR id;
  DWORD period;
  ScheduleId event = 0;
  bool pending = false;
  std::uint64_t key = 0;
  void (*proc)(HWND, UINT, UINT_PTR, DWORD) = nullptr;
};
struct Timers {
  std::map<std::pair<std::uintptr_t, UINT_PTR>, TimerRec> byWindow;
  std::uint64_t nextKey = 1;
};
Timers& TM() {
  static Timers* t = new Timers;
  return *t;
}
TimerRec* TimerByKey(std::uint64_t key) {
  for (auto& [k, rec] : TM().byWindow)
    if (rec.key == key) return &rec;
  return nullptr;
}
void ArmTimer(TimerRec& rec, DWORD due);
void FireTimer(std::uint64_t key, DWORD due) {
  TimerRec* rec = TimerByKey(key);
  if (!rec) return;
  if (!rec->pending) {
    rec->pending = true;
    std::lock_guard<std::mutex> g(Q().m);
    Q().q.push_back({rec->hwnd, WM_TIMER, rec->id, reinterpret_cast<LPARAM>(rec->proc), key});
  }
  DWORD next = due + rec->period;
  const DWORD now = timeGetTime();
  if (static_cast<std::int32_t>(next - now) <= 0) next = now + rec->period;
  ArmTimer(*rec, next);
  Wake();
}
void ArmTimer(TimerRec& rec, DWORD due) {
  const std::uint64_t key = rec.key;
  rec.event = Schedule(due, [key, due] { FireTimer(key, due); });
}
void KillTimersOf(HWND h) {
  auto& m = TM().byWindow;
  for (auto it = m.begin(); it != m.end();) {
    if (it->first.first == Key(h)) {
      Unschedule(it->second.event);
      it = m.erase(it);
    } else {
      ++it;
    }
  }
}

// ---- Capture and tracking -------------------------------------------------

HWND g_capture = nullptr;
HWND g_cursorWindow = nullptr;  // the window whose WM_SETCURSOR is being handled
std::vector<HWND> g_tracked;

CWnd* Wnd(HWND h) {
  WindowData* d = Lookup(h);
  return d ? d->wnd : nullptr;
}

LRESULT Send(HWND h, UINT msg, WPARAM wp, LPARAM lp);

void CancelTracking(WindowData* d) {
  if (d->hoverEvent) Unschedule(d->hoverEvent);
  d->hoverEvent = 0;
  d->trackFlags = 0;
  g_tracked.erase(std::remove(g_tracked.begin(), g_tracked.end(), d->hwnd), g_tracked.end());
}

void HoverCheck(HWND h) {
  WindowData* d = Lookup(h);
  if (!d || !(d->trackFlags & TME_HOVER)) return;
  d->hoverEvent = 0;
  const DWORD now = timeGetTime();
  const DWORD due = d->lastMoveMs + d->hoverTime;
  if (static_cast<std::int32_t>(due - now) > 0) {
    d->hoverEvent = Schedule(due, [h] { HoverCheck(h); });
    return;
  }
  d->trackFlags &= ~TME_HOVER;
  if (!d->trackFlags) CancelTracking(d);
  const POINT p = d->lastMovePt;
  ::PostMessage(h, WM_MOUSEHOVER, MouseKeyFlags(QApplication::mouseButtons(), QApplication::keyboardModifiers()),
                MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)));
}

// Posts WM_MOUSELEAVE to every tracking window that the pointer is no longer in.
void CheckLeave(HWND under) {
  const std::vector<HWND> tracked = g_tracked;
  for (HWND h : tracked) {
    if (h == under) continue;
    WindowData* d = Lookup(h);
    if (!d || !(d->trackFlags & TME_LEAVE)) continue;
    CancelTracking(d);
    ::PostMessage(h, WM_MOUSELEAVE, 0, 0);
  }
}

void NoteMove(HWND under, POINT client) {
  WindowData* d = Lookup(under);
  if (!d || !d->trackFlags) return;
  d->lastMoveMs = timeGetTime();
  d->lastMovePt = client;
}

// ---- Window services for the lower stand-ins ------------------------------

class Services : public WindowServices {
 public:
  bool IsWindow(HWND hwnd) override { return Lookup(hwnd) != nullptr; }
  bool PostMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override {
    {
      std::lock_guard<std::mutex> g(T().m);
      if (!T().windows.count(Key(hwnd))) return false;
    }
    {
      std::lock_guard<std::mutex> g(Q().m);
      Q().q.push_back({hwnd, msg, wp, lp, 0});
    }
    Wake();
    return true;
  }
  LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override {
    if (IsUiThread() || !qApp) return Send(hwnd, msg, wp, lp);
    LRESULT r = 0;
    QMetaObject::invokeMethod(
        qApp, [&] { r = Send(hwnd, msg, wp, lp); }, Qt::BlockingQueuedConnection);
    return r;
  }
  bool GetClientSize(HWND hwnd, int* w, int* h) override {
    std::lock_guard<std::mutex> g(T().m);
    auto it = T().windows.find(Key(hwnd));
    if (it == T().windows.end()) return false;
    if (w) *w = it->second->clientWidth.load();
    if (h) *h = it->second->clientHeight.load();
    return true;
  }
  bool WriteClient(HWND hwnd, int x, int y, const std::uint32_t* pixels, int width, int height,
                   int strideBytes) override {
    if (!pixels || width <= 0 || height <= 0 || strideBytes < width * 4) return false;
    if (!IsUiThread()) {
      // Other threads (video streaming) never wait for the user-interface
      // thread, which may be waiting for them: the frame is copied and
      // written there later.
      if (!IsWindow(hwnd) || !qApp) return false;
      QImage copy = QImage(reinterpret_cast<const uchar*>(pixels), width, height, strideBytes, QImage::Format_RGB32).copy();
      QMetaObject::invokeMethod(
          qApp,
          [this, hwnd, x, y, copy] {
            WriteClient(hwnd, x, y, reinterpret_cast<const std::uint32_t*>(copy.constBits()), copy.width(), copy.height(),
                        static_cast<int>(copy.bytesPerLine()));
          },
          Qt::QueuedConnection);
      return true;
    }
    QImage* s = SurfaceOf(hwnd);
    if (!s) return false;
    const QImage src(reinterpret_cast<const uchar*>(pixels), width, height, strideBytes, QImage::Format_RGB32);
    QPainter p(s);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(x, y, src);
    p.end();
    SurfaceChanged(hwnd);
    return true;
  }

  bool ReadClient(HWND hwnd, std::uint32_t* pixels, int width, int height, int strideBytes) override {
    if (!pixels || width <= 0 || height <= 0 || strideBytes < width * 4) return false;
    if (!IsUiThread()) {
      bool ok = false;
      QMetaObject::invokeMethod(
          qApp, [&] { ok = ReadClient(hwnd, pixels, width, height, strideBytes); }, Qt::BlockingQueuedConnection);
      return ok;
    }
    const QImage& img = ComposeClient(hwnd);
    if (img.isNull() || img.width() != width || img.height() != height) return false;
    for (int y = 0; y < height; ++y)
      std::memcpy(reinterpret_cast<uchar*>(pixels) + static_cast<size_t>(y) * strideBytes, img.constScanLine(y),
                  static_cast<size_t>(width) * 4);
    return true;
  }
  HDC GetDC(HWND hwnd) override { return ::GetDC(hwnd); }
  void ReleaseDC(HWND hwnd, HDC hdc) override { ::ReleaseDC(hwnd, hdc); }
  // A DC's own target: a window DC reads its surface alone, so writing
  // back never bakes children into it.
  bool GetDCSize(HDC hdc, int* width, int* height) override {
    const QImage* img = DCTarget(hdc, nullptr);
    if (!img) return false;
    if (width) *width = img->width();
    if (height) *height = img->height();
    return true;
  }
  bool ReadDC(HDC hdc, std::uint32_t* pixels, int width, int height, int strideBytes) override {
    const QImage* img = DCTarget(hdc, nullptr);
    if (!img || !pixels || img->width() != width || img->height() != height || strideBytes < width * 4) return false;
    const QImage c = img->convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
      std::memcpy(reinterpret_cast<uchar*>(pixels) + static_cast<size_t>(y) * strideBytes, c.constScanLine(y),
                  static_cast<size_t>(width) * 4);
    return true;
  }
  bool WriteDC(HDC hdc, const std::uint32_t* pixels, int width, int height, int strideBytes) override {
    QRegion clip;
    QImage* img = DCTarget(hdc, &clip);
    if (!img || !pixels || img->width() != width || img->height() != height || strideBytes < width * 4) return false;
    const QImage src(reinterpret_cast<const uchar*>(pixels), width, height, strideBytes, QImage::Format_RGB32);
    QPainter p(img);
    p.setClipRegion(clip);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, src);
    p.end();
    DCChanged(hdc);
    return true;
  }
};
Services g_services_impl;

#if __has_include("win/cursor.h")
// The cursor seam of the lower stand-ins, filled in by the window layer.
class Cursor : public CursorServices {
 public:
  bool GetCursorPos(POINT* p) override {
    if (!p) return false;
    const QPoint q = QCursor::pos();
    *p = POINT{q.x(), q.y()};
    return true;
  }
  HWND GetForegroundWindow() override {
    QWidget* w = QApplication::activeWindow();
    auto* h = dynamic_cast<HostWidget*>(w);
    return h && h->d ? h->d->hwnd : nullptr;
  }
  HWND SetCapture(HWND hwnd) override { return ::SetCapture(hwnd); }
  bool ReleaseCapture() override { return ::ReleaseCapture() != FALSE; }
  HWND GetCapture() override { return ::GetCapture(); }
};
Cursor g_cursor;
#endif

void InstallServices() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetWindowServices(&g_services_impl);
#if __has_include("win/cursor.h")
    SetCursorServices(&g_cursor);
#endif
  });
}
struct AutoInstall {
  AutoInstall() { InstallServices(); }
} g_autoInstall;

// ---- Paint pass -------------------------------------------------------------

bool Visible(WindowData* d) {
  for (WindowData* x = d; x; x = Lookup(x->parent)) {
    if (!(x->style & WS_VISIBLE)) return false;
    if (!x->parent) break;
  }
  return true;
}

void PaintPass() {
  std::vector<HWND> todo;
  {
    std::lock_guard<std::mutex> g(T().m);
    for (auto& [k, d] : T().windows)
      if (!d->update.isEmpty()) todo.push_back(d->hwnd);
  }
  for (HWND h : todo) {
    WindowData* d = Lookup(h);
    if (!d || d->update.isEmpty() || !Visible(d)) continue;
    Send(h, WM_PAINT, 0, 0);
    d = Lookup(h);
    if (d) d->update = QRegion();  // a handler that did not validate gets no second pass
  }
}

QRect ClientQRect(WindowData* d) { return QRect(0, 0, d->surface.width(), d->surface.height()); }

void ResizeSurface(WindowData* d, int w, int h) {
  w = std::max(w, 0);
  h = std::max(h, 0);
  if (d->surface.width() == w && d->surface.height() == h && !d->surface.isNull()) return;
  QImage next(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
  next.fill(0xFFFFFFFF);
  if (w == 0 || h == 0) next = QImage(0, 0, QImage::Format_RGB32);
  const QRect old = ClientQRect(d);
  if (!d->surface.isNull() && !next.isNull()) {
    QPainter p(&next);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, d->surface);
  }
  d->surface = next;
  d->clientWidth = w;
  d->clientHeight = h;
  const QRegion added = QRegion(QRect(0, 0, w, h)) - QRegion(old);
  if (!added.isEmpty()) {
    d->update += added;
    d->erase = true;
    std::lock_guard<std::mutex> g(Q().m);
    Q().paintPending = true;
  }
  d->update &= QRegion(QRect(0, 0, w, h));
  BumpGeneration();
  Wake();
}

// As showing a window does: the background is erased at once, so what the
// caller draws right after the show stays; only the paint is left pending.
void EraseNow(HWND h) {
  WindowData* d = Lookup(h);
  if (!d || !d->erase || d->update.isEmpty() || !Visible(d)) return;
  QRegion clip = d->update;
  if (d->hasRegion) clip &= d->region;
  d->erase = false;
  HDC dc = NewWindowDC(h, &clip);
  const LRESULT done = Send(h, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  FreeDC(dc);
  SurfaceChanged(h);
  if (!done && (d = Lookup(h))) d->erase = true;
}

void ApplyMask(WindowData* d) {
  if (!d->host) return;
  if (d->hasRegion) d->host->setMask(d->region);
  else d->host->clearMask();
}

}  // namespace

// ---- Public helpers ---------------------------------------------------------

WindowData* Lookup(HWND hwnd) {
  if (!hwnd) return nullptr;
  std::lock_guard<std::mutex> g(T().m);
  auto it = T().windows.find(Key(hwnd));
  return it == T().windows.end() ? nullptr : it->second;
}

QImage* SurfaceOf(HWND hwnd) {
  WindowData* d = Lookup(hwnd);
  return d ? &d->surface : nullptr;
}

void BumpGeneration() { g_generation.fetch_add(1); }

void SurfaceChanged(HWND hwnd) {
  BumpGeneration();
  WindowData* d = Lookup(hwnd);
  if (d && d->host) d->host->update();
}

const QImage& ComposeClient(HWND hwnd) {
  struct Cache {
    std::uint64_t gen = 0;
    QImage img;
  };
  static std::unordered_map<std::uintptr_t, Cache>* caches = new std::unordered_map<std::uintptr_t, Cache>;
  static const QImage empty;
  WindowData* d = Lookup(hwnd);
  if (!d) return empty;
  Cache& c = (*caches)[Key(hwnd)];
  const std::uint64_t gen = g_generation.load();
  if (c.gen == gen && !c.img.isNull()) return c.img;
  QImage img = d->surface.copy();
  if (!img.isNull()) {
    QPainter p(&img);
    if (d->native && d->native->isVisible()) p.drawPixmap(0, 0, d->native->grab());
    std::vector<HWND> kids;
    for (QObject* o : d->host->children()) {
      auto* hw = dynamic_cast<HostWidget*>(o);
      if (hw && hw->d && !hw->isWindow() && (hw->d->style & WS_VISIBLE)) kids.push_back(hw->d->hwnd);
    }
    for (HWND k : kids) {
      WindowData* kd = Lookup(k);
      if (!kd) continue;
      const QImage& child = ComposeClient(k);
      const QPoint at = kd->host->pos();
      p.save();
      QRegion clip(QRect(at, child.size()));
      if (kd->hasRegion) clip &= kd->region.translated(at);
      p.setClipRegion(clip);
      p.drawImage(at, child);
      p.restore();
    }
  }
  c.gen = gen;
  c.img = img;
  // Children composed recursively may have refreshed their own entries; the
  // generation did not change, so this one stays valid.
  return (*caches)[Key(hwnd)].img;
}

UINT MouseKeyFlags(Qt::MouseButtons b, Qt::KeyboardModifiers m) {
  UINT f = 0;
  if (b & Qt::LeftButton) f |= MK_LBUTTON;
  if (b & Qt::RightButton) f |= MK_RBUTTON;
  if (b & Qt::MiddleButton) f |= MK_MBUTTON;
  if (m & Qt::ShiftModifier) f |= MK_SHIFT;
  if (m & Qt::ControlModifier) f |= MK_CONTROL;
  return f;
}

namespace {
LRESULT Send(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  CWnd* w = Wnd(h);
  return w ? w->WindowProc(msg, wp, lp) : 0;
}
bool IsInputMessage(UINT msg) {
  return (msg >= WM_KEYFIRST && msg <= WM_KEYLAST) || (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST);
}
}  // namespace

void DispatchInput(HWND target, UINT msg, WPARAM wp, LPARAM lp) {
  MSG m{target, msg, wp, lp, timeGetTime(), {0, 0}};
  for (HWND h = target; h;) {
    WindowData* d = Lookup(h);
    if (!d) return;
    if (d->wnd->PreTranslateMessage(&m)) return;
    if (!(d->style & WS_CHILD)) break;
    h = d->parent;
  }
  Send(target, msg, wp, lp);
}

void RouteMouse(QWidget* receiver, UINT msg, QMouseEvent* e) {
  const QPoint global = e->globalPosition().toPoint();
  QWidget* top = receiver->window();
  QWidget* hit = top->childAt(top->mapFromGlobal(global));
  if (!hit && top->rect().contains(top->mapFromGlobal(global))) hit = top;
  HostWidget* host = nullptr;
  for (QWidget* w = hit; w && !host; w = w->parentWidget()) host = dynamic_cast<HostWidget*>(w);
  while (host && host->d && host->d->passMouse && !host->isWindow())
    host = dynamic_cast<HostWidget*>(host->parentWidget());
  HWND under = host && host->d ? host->d->hwnd : nullptr;
  if (msg == WM_MOUSEMOVE) CheckLeave(under);
  HWND target = g_capture ? g_capture : under;
  WindowData* d = Lookup(target);
  if (!d) return;
  const QPoint c = d->host->mapFromGlobal(global);
  if (msg == WM_MOUSEMOVE && target == under) NoteMove(under, POINT{c.x(), c.y()});
  if (!g_capture && under && (msg == WM_MOUSEMOVE || msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN)) {
    g_cursorWindow = under;
    ::SendMessage(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(HTCLIENT, static_cast<WORD>(msg)));
    if (!Lookup(target)) return;
  }
  const UINT flags = MouseKeyFlags(e->buttons(), e->modifiers());
  if (msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN) {
    // Each parent of a pressed child hears of it first, in its own coordinates.
    for (WindowData* w = Lookup(target); w && (w->style & WS_CHILD) && !(w->exStyle & WS_EX_NOPARENTNOTIFY);) {
      const HWND parent = w->parent;
      WindowData* pd = Lookup(parent);
      if (!pd) break;
      const QPoint pc = pd->host->mapFromGlobal(global);
      ::SendMessage(parent, WM_PARENTNOTIFY, MAKEWPARAM(static_cast<WORD>(msg), 0),
                    MAKELPARAM(static_cast<WORD>(pc.x()), static_cast<WORD>(pc.y())));
      w = Lookup(parent);
    }
    if (!Lookup(target)) return;
  }
  DispatchInput(target, msg, flags, MAKELPARAM(static_cast<WORD>(c.x()), static_cast<WORD>(c.y())));
}

int PumpMessages() {
  int n = 0;
  for (int round = 0; round < 100000; ++round) {
    Posted p;
    {
      std::lock_guard<std::mutex> g(Q().m);
      if (Q().q.empty()) break;
      p = Q().q.front();
      Q().q.pop_front();
    }
    if (p.timerKey) {
      TimerRec* rec = TimerByKey(p.timerKey);
      if (!rec) continue;
      rec->pending = false;
    }
    if (!Lookup(p.hwnd)) continue;  // destroyed since: dropped
    ++n;
    if (IsInputMessage(p.msg)) DispatchInput(p.hwnd, p.msg, p.wp, p.lp);
    else Send(p.hwnd, p.msg, p.wp, p.lp);
  }
  {
    std::lock_guard<std::mutex> g(Q().m);
    Q().paintPending = false;
  }
  PaintPass();
  // Only at the outermost level is no handler of a pending object running.
  if (t_current.empty()) RunDeferredDestruction();
  return n;
}

namespace {
std::vector<CWnd*>& Deferred() {
  static auto* v = new std::vector<CWnd*>;
  return *v;
}
}  // namespace

void DestroyWindowLater(CWnd* wnd) {
  if (!wnd) return;
  auto& v = Deferred();
  if (std::find(v.begin(), v.end(), wnd) == v.end()) v.push_back(wnd);
  Wake();
}

void RunDeferredDestruction() {
  // A destructor may hand over further objects: run until none is left.
  while (!Deferred().empty()) {
    std::vector<CWnd*> batch;
    batch.swap(Deferred());
    for (CWnd* w : batch) {
      if (w->m_hWnd) w->DestroyWindow();
      delete w;
    }
  }
}

void ChooseQtPlatform() {
  if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
  const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  // A Wayland client cannot move its own top-level window (the title-bar
  // drag), so X11 or XWayland comes first; the list falls back in order.
  qputenv("QT_QPA_PLATFORM", display ? "xcb;wayland;offscreen" : "offscreen");
}

void EnsureApplication() {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "vistrel";
    static char* argv[] = {name, nullptr};
    ChooseQtPlatform();
    new QApplication(argc, argv);
  }
  if (!g_dispatcher) g_dispatcher = new Dispatcher;
  InstallServices();
  InstallMessageBoxPrompts();
}

bool IsUiThread() {
  return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// ---- Host widget ----------------------------------------------------------

HostWidget::HostWidget(WindowData* data, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), d(data) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::ClickFocus);
}

void HostWidget::paintEvent(QPaintEvent*) {
  if (!d) return;
  QPainter p(this);
  p.drawImage(0, 0, d->surface);
}

void HostWidget::resizeEvent(QResizeEvent* e) {
  if (!d) return;
  if (e->size().width() == d->surface.width() && e->size().height() == d->surface.height()) return;
  ResizeSurface(d, e->size().width(), e->size().height());
  FitControl(d);
  Send(d->hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(e->size().width()), static_cast<WORD>(e->size().height())));
}

void HostWidget::moveEvent(QMoveEvent*) { BumpGeneration(); }

void HostWidget::mousePressEvent(QMouseEvent* e) {
  e->accept();
  if (!d) return;
  const Qt::MouseButton b = e->button();
  RouteMouse(this, b == Qt::LeftButton ? WM_LBUTTONDOWN : b == Qt::RightButton ? WM_RBUTTONDOWN : WM_MBUTTONDOWN, e);
}

void HostWidget::mouseReleaseEvent(QMouseEvent* e) {
  e->accept();
  if (!d) return;
  const Qt::MouseButton b = e->button();
  RouteMouse(this, b == Qt::LeftButton ? WM_LBUTTONUP : b == Qt::RightButton ? WM_RBUTTONUP : WM_MBUTTONUP, e);
}

void HostWidget::mouseDoubleClickEvent(QMouseEvent* e) {
  e->accept();
  if (!d) return;
  const Qt::MouseButton b = e->button();
  RouteMouse(this, b == Qt::LeftButton ? WM_LBUTTONDBLCLK : b == Qt::RightButton ? WM_RBUTTONDBLCLK : WM_MBUTTONDBLCLK, e);
}

void HostWidget::mouseMoveEvent(QMouseEvent* e) {
  e->accept();
  if (d) RouteMouse(this, WM_MOUSEMOVE, e);
}

void HostWidget::wheelEvent(QWheelEvent* e) {
  e->accept();
  if (!d) return;
  const QPoint g = e->globalPosition().toPoint();
  const int delta = e->angleDelta().y();
  const UINT keys = MouseKeyFlags(e->buttons(), e->modifiers());
  HWND target = g_capture ? g_capture : d->hwnd;
  DispatchInput(target, WM_MOUSEWHEEL, MAKEWPARAM(static_cast<WORD>(keys), static_cast<WORD>(static_cast<short>(delta))),
                MAKELPARAM(static_cast<WORD>(g.x()), static_cast<WORD>(g.y())));
}

namespace {
// The platform's virtual-key code of a key: a letter arrives as its
// upper-case letter whatever the Shift state (Qt names letters so too), the
// keypad's digits and operators have codes of their own, and the main
// block's operator keys are the US layout's OEM keys ('*' is Shift + 8).
// 0 for a key the platform's programs here never see.
int VirtualKey(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::KeypadModifier) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return VK_NUMPAD0 + (key - Qt::Key_0);
    switch (key) {
      case Qt::Key_Asterisk: return VK_MULTIPLY;
      case Qt::Key_Plus: return VK_ADD;
      case Qt::Key_Minus: return VK_SUBTRACT;
      case Qt::Key_Period:
      case Qt::Key_Comma: return VK_DECIMAL;
      case Qt::Key_Slash: return VK_DIVIDE;
      default: break;  // Enter and, without Num Lock, the cursor keys: as on the main block
    }
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return '0' + (key - Qt::Key_0);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return VK_F1 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return VK_OEM_PLUS;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return VK_OEM_MINUS;
    case Qt::Key_Slash:
    case Qt::Key_Question: return VK_OEM_2;
    case Qt::Key_Asterisk: return '8';
    default: return 0;
  }
}
int VirtualKey(const QKeyEvent* e) { return VirtualKey(e->key(), e->modifiers()); }
HWND KeyTarget(HostWidget* self) {
  // Keys go to the focused window; focus inside a native control counts as its host's.
  QWidget* f = QApplication::focusWidget();
  for (QWidget* w = f; w; w = w->parentWidget())
    if (auto* h = dynamic_cast<HostWidget*>(w); h && h->d) return h->d->hwnd;
  return self->d->hwnd;
}
}  // namespace

void HostWidget::keyPressEvent(QKeyEvent* e) {
  if (!d) return;
  const int vk = VirtualKey(e);
  if (!vk) { e->ignore(); return; }
  e->accept();
  const HWND target = KeyTarget(this);
  DispatchInput(target, WM_KEYDOWN, static_cast<WPARAM>(vk), 1);
  const QString t = e->text();
  if (t.size() == 1 && t[0].unicode() >= 0x20 && t[0].unicode() < 0x7F && Lookup(target))
    DispatchInput(target, WM_CHAR, t[0].unicode(), 1);
}

void HostWidget::keyReleaseEvent(QKeyEvent* e) {
  if (!d) return;
  // The press's code: a keypad digit is released as the keypad digit.
  const int vk = VirtualKey(e);
  if (!vk) { e->ignore(); return; }
  e->accept();
  DispatchInput(KeyTarget(this), WM_KEYUP, static_cast<WPARAM>(vk), static_cast<LPARAM>(0xC0000001u));
}

void HostWidget::closeEvent(QCloseEvent* e) {
  e->ignore();
  if (d) Send(d->hwnd, WM_CLOSE, 0, 0);
}

void HostWidget::leaveEvent(QEvent*) {
  if (d && isWindow()) CheckLeave(nullptr);
}

void HostWidget::changeEvent(QEvent* e) {
  if (d && e->type() == QEvent::ActivationChange && isWindow())
    Send(d->hwnd, WM_ACTIVATE, isActiveWindow() ? WA_ACTIVE : WA_INACTIVE, 0);
  QWidget::changeEvent(e);
}

// ---- Scheduler and clocks -------------------------------------------------

namespace {
struct Sched {
  std::mutex m;
  std::multimap<DWORD, std::pair<ScheduleId, std::function<void()>>> events;  // due: wrap ignored
  ScheduleId next = 1;
  bool manual = false;
  DWORD manualNow = 0;
  QTimer* timer = nullptr;
};
Sched& S() {
  static Sched* s = new Sched;
  return *s;
}
DWORD SteadyMs() {
  using namespace std::chrono;
  static const auto start = steady_clock::now();
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now() - start).count()) + 1000;
}
void RunDue(DWORD upTo) {
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> g(S().m);
      auto it = S().events.begin();
      if (it == S().events.end() || it->first > upTo) break;
      if (S().manual && it->first > S().manualNow) S().manualNow = it->first;
      fn = std::move(it->second.second);
      S().events.erase(it);
    }
    fn();
  }
}
void Rearm();
void OnTimerTick() {
  RunDue(timeGetTime());
  Rearm();
}
void Rearm() {
  if (S().manual || !IsUiThread()) return;
  if (!S().timer) {
    S().timer = new QTimer;
    S().timer->setSingleShot(true);
    S().timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(S().timer, &QTimer::timeout, [] { OnTimerTick(); });
  }
  DWORD due = 0;
  {
    std::lock_guard<std::mutex> g(S().m);
    if (S().events.empty()) {
      S().timer->stop();
      return;
    }
    due = S().events.begin()->first;
  }
  const std::int32_t wait = static_cast<std::int32_t>(due - timeGetTime());
  S().timer->start(std::max(0, wait));
}
}  // namespace

ScheduleId Schedule(DWORD due, std::function<void()> fn) {
  ScheduleId id;
  {
    std::lock_guard<std::mutex> g(S().m);
    id = S().next++;
    S().events.emplace(due, std::make_pair(id, std::move(fn)));
  }
  Rearm();
  return id;
}

void Unschedule(ScheduleId id) {
  if (!id) return;
  std::lock_guard<std::mutex> g(S().m);
  for (auto it = S().events.begin(); it != S().events.end(); ++it)
    if (it->second.first == id) {
      S().events.erase(it);
      return;
    }
}

ManualClock::ManualClock(DWORD start) {
  std::lock_guard<std::mutex> g(S().m);
  S().manual = true;
  S().manualNow = start;
  // Events scheduled on the steady clock are re-based onto the manual one.
  decltype(S().events) moved;
  const DWORD steady = SteadyMs();
  for (auto& [due, ev] : S().events) moved.emplace(start + (due - steady), std::move(ev));
  S().events.swap(moved);
  if (S().timer) S().timer->stop();
}

ManualClock::~ManualClock() {
  {
    std::lock_guard<std::mutex> g(S().m);
    decltype(S().events) moved;
    const DWORD steady = SteadyMs();
    for (auto& [due, ev] : S().events) moved.emplace(steady + (due - S().manualNow), std::move(ev));
    S().events.swap(moved);
    S().manual = false;
  }
  Rearm();
}

DWORD ManualClock::Now() const {
  std::lock_guard<std::mutex> g(S().m);
  return S().manualNow;
}

void ManualClock::Advance(DWORD ms) {
  DWORD target;
  {
    std::lock_guard<std::mutex> g(S().m);
    target = S().manualNow + ms;
  }
  RunDue(target);
  {
    std::lock_guard<std::mutex> g(S().m);
    S().manualNow = target;
  }
  PumpMessages();
}

}  // namespace win

using namespace win;

DWORD timeGetTime() {
  {
    std::lock_guard<std::mutex> g(S().m);
    if (S().manual) return S().manualNow;
  }
  return SteadyMs();
}
DWORD GetTickCount() { return timeGetTime(); }
UINT timeBeginPeriod(UINT) { return 0; }
UINT timeEndPeriod(UINT) { return 0; }
void Sleep(DWORD ms) { QThread::msleep(ms); }

// ---- CWnd -------------------------------------------------------------------

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (m_hWnd) DestroyWindow();
}

CWnd* CWnd::FromHandle(HWND hwnd) { return Wnd(hwnd); }

UINT CWnd::CurrentCtlColor() { return t_ctlColor; }

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}
const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CWnd::Create(const char* className, const char* windowName, DWORD style, const RECT& rect,
                  CWnd* parent, UINT id, void*) {
  return CreateEx(0, className, windowName, style | (parent ? 0 : 0), rect, parent, id);
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                    int y, int w, int h, HWND parent, void* menu, void* param) {
  const RECT r{x, y, x + w, y + h};
  return CreateEx(exStyle, className, windowName, style, r, FromHandle(parent),
                  static_cast<UINT>(reinterpret_cast<std::uintptr_t>(menu)), param);
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    const RECT& rect, CWnd* parent, UINT id, void* param) {
  if (m_hWnd) return FALSE;
  if ((style & WS_CHILD) && (!parent || !parent->m_hWnd)) return FALSE;
  EnsureApplication();
  auto* d = new WindowData;
  d->wnd = this;
  d->style = style & ~WS_VISIBLE;
  d->exStyle = exStyle;
  d->id = id;
  d->text = windowName ? windowName : "";
  d->className = className ? className : "";
  d->parent = parent ? parent->m_hWnd : nullptr;
  {
    std::lock_guard<std::mutex> g(T().m);
    d->hwnd = reinterpret_cast<HWND>(T().next);
    T().next += 0x10;
    T().windows[Key(d->hwnd)] = d;
  }
  m_hWnd = d->hwnd;
  m_pData = d;
  CRect rc(rect);
  // Otherwise the window below a drop-down list's closed box would paint
  // over its siblings there.
  if (style & WS_CHILD) rc.bottom = rc.top + CreatedControlHeight(d->className, style, rc.Height());
  if (style & WS_CHILD) {
    d->host = new HostWidget(d, Lookup(d->parent)->host, Qt::Widget);
    d->host->setGeometry(rc.left, rc.top, std::max(rc.Width(), 0), std::max(rc.Height(), 0));
  } else {
    Qt::WindowFlags f = Qt::Window;
    if (!(style & WS_CAPTION) && (style & WS_POPUP)) f |= Qt::FramelessWindowHint;
    WindowData* owner = Lookup(d->parent);
    d->host = new HostWidget(d, owner ? owner->host : nullptr, f);
    d->host->setWindowTitle(QString::fromLocal8Bit(d->text.c_str()));
    d->host->setGeometry(rc.left, rc.top, std::max(rc.Width(), 0), std::max(rc.Height(), 0));
  }
  ResizeSurface(d, rc.Width(), rc.Height());
  d->update = QRegion();
  CreateControl(d);
  if (style & WS_DISABLED) d->host->setEnabled(false);
  CREATESTRUCT cs{param, nullptr, nullptr, d->parent, rc.Height(), rc.Width(), rc.top, rc.left,
                  static_cast<LONG>(style), windowName, className, exStyle};
  if (SendMessage(WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow();
    return FALSE;
  }
  // As window creation does: the first size and position follow WM_CREATE.
  if (m_hWnd) SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(rc.Width()), static_cast<WORD>(rc.Height())));
  if (m_hWnd) SendMessage(WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(rc.left), static_cast<WORD>(rc.top)));
  if (m_hWnd && (style & WS_VISIBLE)) ShowWindow(SW_SHOW);
  return m_hWnd ? TRUE : FALSE;
}

BOOL CWnd::DestroyWindow() {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return FALSE;
  const HWND self = m_hWnd;
  if (g_capture == self) ReleaseCapture();
  ::SendMessage(self, WM_DESTROY, 0, 0);
  // Children: every window whose parent is this one.
  std::vector<HWND> kids;
  {
    std::lock_guard<std::mutex> g(T().m);
    for (auto& [k, w] : T().windows)
      if (w->parent == self) kids.push_back(w->hwnd);
  }
  for (HWND k : kids)
    if (CWnd* c = Wnd(k)) c->DestroyWindow();
  d = Lookup(self);
  if (!d) return TRUE;
  ::SendMessage(self, WM_NCDESTROY, 0, 0);
  KillTimersOf(self);
  CancelTracking(d);
  ForgetControl(self);
  {
    std::lock_guard<std::mutex> g(T().m);
    T().windows.erase(Key(self));
  }
  HostWidget* host = d->host;
  host->d = nullptr;
  host->hide();
  if (host->parentWidget()) host->setParent(nullptr);
  host->deleteLater();
  if (d->ownedRgn) DeleteObject(d->ownedRgn);
  delete d;
  m_hWnd = nullptr;
  m_pData = nullptr;
  BumpGeneration();
  PostNcDestroy();
  return TRUE;
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wp, LPARAM lp) { return ::SendMessage(m_hWnd, msg, wp, lp); }
BOOL CWnd::PostMessage(UINT msg, WPARAM wp, LPARAM lp) { return ::PostMessage(m_hWnd, msg, wp, lp); }

LRESULT CWnd::Default() {
  if (t_current.empty()) return 0;
  const CurrentMsg c = t_current.back();
  return DefWindowProc(c.msg, c.wp, c.lp);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT r = 0;
  t_current.push_back({msg, wp, lp});
  if (!OnWndMsg(msg, wp, lp, &r)) r = DefWindowProc(msg, wp, lp);
  t_current.pop_back();
  return r;
}

BOOL CWnd::OnWndMsg(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  if (msg == WM_COMMAND) {
    if (OnCommand(wp, lp)) { *result = 0; return TRUE; }
    return FALSE;
  }
  if (msg == WM_NOTIFY) return OnNotify(wp, lp, result);
  UINT look = msg;
  const UINT saved = t_ctlColor;
  if (msg >= WM_CTLCOLOREDIT - 1 && msg <= WM_CTLCOLORSTATIC) {
    look = WM_CTLCOLOR;
    t_ctlColor = msg - (WM_CTLCOLOREDIT - 1);
  }
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e) {
      if (e->nMessage == look && look != WM_COMMAND && look != WM_NOTIFY) {
        *result = e->pfn(this, wp, lp);
        t_ctlColor = saved;
        return TRUE;
      }
    }
  }
  t_ctlColor = saved;
  return FALSE;
}

BOOL CWnd::OnCommand(WPARAM wp, LPARAM lp) {
  const UINT id = LOWORD(wp), code = HIWORD(wp);
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr)
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e)
      if (e->nMessage == WM_COMMAND && e->nCode == code && id >= e->nID && id <= e->nLastID) {
        e->pfn(this, wp, lp);
        return TRUE;
      }
  return FALSE;
}

BOOL CWnd::OnNotify(WPARAM wp, LPARAM lp, LRESULT* result) {
  auto* nm = reinterpret_cast<NMHDR*>(lp);
  if (!nm) return FALSE;
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr)
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e)
      if (e->nMessage == WM_NOTIFY && e->nCode == nm->code && nm->idFrom >= e->nID && nm->idFrom <= e->nLastID) {
        *result = e->pfn(this, wp, lp);
        return TRUE;
      }
  return FALSE;
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

void CWnd::DrawItem(LPDRAWITEMSTRUCT) {}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return 0;
  // The control classes' own handling comes after the message map, as a
  // window class procedure does.
  LRESULT r = 0;
  if (ControlMessage(d, msg, wp, lp, &r)) return r;
  if (!(d = Lookup(m_hWnd))) return r;
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(m_hWnd, &ps);
      if (d->defaultPaint && dc) d->defaultPaint(dc);
      EndPaint(m_hWnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush = nullptr;
      if (d->ctlColorMsg && d->parent) brush = reinterpret_cast<HBRUSH>(::SendMessage(d->parent, d->ctlColorMsg, wp, reinterpret_cast<LPARAM>(m_hWnd)));
      else if (d->ctlColorMsg) brush = reinterpret_cast<HBRUSH>(::SendMessage(m_hWnd, d->ctlColorMsg, wp, reinterpret_cast<LPARAM>(m_hWnd)));
      if (!brush) brush = GetSysColorBrush(COLOR_BTNFACE);
      RECT r;
      ::GetClipBox(reinterpret_cast<HDC>(wp), &r);
      ::FillRect(reinterpret_cast<HDC>(wp), &r, brush);
      return TRUE;
    }
    case WM_CLOSE: DestroyWindow(); return 0;
    case WM_DRAWITEM:
      // Owner drawing is reflected to the control itself, as MFC does.
      if (lp) {
        auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        CWnd* item = FromHandle(dis->hwndItem);
        if (item && item != this) {
          item->DrawItem(dis);
          return TRUE;
        }
      }
      return FALSE;
    case WM_SETTEXT:
      d->text = lp ? reinterpret_cast<const char*>(lp) : "";
      if (!(d->style & WS_CHILD)) d->host->setWindowTitle(QString::fromLocal8Bit(d->text.c_str()));
      return TRUE;
    case WM_GETTEXT: {
      if (!lp || wp == 0) return 0;
      const size_t n = std::min(d->text.size(), static_cast<size_t>(wp) - 1);
      std::memcpy(reinterpret_cast<char*>(lp), d->text.data(), n);
      reinterpret_cast<char*>(lp)[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_SETFONT:
      d->font = reinterpret_cast<HFONT>(wp);
      if (d->native) d->native->setFont(FontOf(d->font));
      if (lp) Invalidate();
      return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(d->font);
    case WM_SETICON: {
      const int which = wp == ICON_BIG ? 1 : 0;
      HICON old = d->icons[which];
      d->icons[which] = reinterpret_cast<HICON>(lp);
      return reinterpret_cast<LRESULT>(old);
    }
    case WM_MOUSEWHEEL:
      if ((d->style & WS_CHILD) && d->parent) return ::SendMessage(d->parent, msg, wp, lp);
      return 0;
    case WM_TIMER:
      if (lp) reinterpret_cast<void (*)(HWND, UINT, UINT_PTR, DWORD)>(lp)(m_hWnd, WM_TIMER, wp, timeGetTime());
      return 0;
    case WM_SETCURSOR:
      // A parent may set the cursor for its children; else the arrow.
      if ((d->style & WS_CHILD) && d->parent && ::SendMessage(d->parent, WM_SETCURSOR, wp, lp)) return TRUE;
      if (reinterpret_cast<HWND>(wp) == m_hWnd) ::SetCursor(LoadCursorA(nullptr, IDC_ARROW));
      return FALSE;
    case WM_NCHITTEST: return HTCLIENT;
    default: return 0;
  }
}

BOOL CWnd::ShowWindow(int cmd) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return FALSE;
  const BOOL was = (d->style & WS_VISIBLE) ? TRUE : FALSE;
  const bool show = cmd != SW_HIDE;
  if (show != static_cast<bool>(was)) SendMessage(WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
  d = Lookup(m_hWnd);
  if (!d) return was;
  if (!show) {
    d->style &= ~WS_VISIBLE;
    d->host->hide();
  } else {
    d->style |= WS_VISIBLE;
    if (cmd == SW_MINIMIZE || cmd == SW_SHOWMINIMIZED || cmd == SW_SHOWMINNOACTIVE) {
      d->iconic = true;
      if (d->host->isWindow()) d->host->showMinimized();
      else d->host->show();
    } else {
      if (cmd == SW_RESTORE || cmd == SW_SHOWNORMAL) d->iconic = false;
      if (d->host->isWindow() && (cmd == SW_RESTORE || cmd == SW_SHOWNORMAL)) d->host->showNormal();
      else d->host->show();
    }
    if (!was) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_ERASENOW);
  }
  BumpGeneration();
  return was;
}

BOOL CWnd::IsWindowVisible() const {
  WindowData* d = Lookup(m_hWnd);
  return d && Visible(d) ? TRUE : FALSE;
}

BOOL CWnd::IsIconic() const {
  WindowData* d = Lookup(m_hWnd);
  return d && d->iconic ? TRUE : FALSE;
}

BOOL CWnd::EnableWindow(BOOL enable) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return FALSE;
  const BOOL wasDisabled = (d->style & WS_DISABLED) ? TRUE : FALSE;
  if (enable) d->style &= ~WS_DISABLED;
  else d->style |= WS_DISABLED;
  d->host->setEnabled(enable != FALSE);
  if (static_cast<bool>(wasDisabled) == static_cast<bool>(enable)) {
    SendMessage(WM_ENABLE, enable, 0);
    Invalidate();
  }
  return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
  WindowData* d = Lookup(m_hWnd);
  return d && !(d->style & WS_DISABLED) ? TRUE : FALSE;
}

void CWnd::MoveWindow(int x, int y, int w, int h, BOOL repaint) {
  SetWindowPos(nullptr, x, y, w, h, SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL CWnd::SetWindowPos(const CWnd* after, int x, int y, int cx, int cy, UINT flags) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return FALSE;
  QWidget* h = d->host;
  const QPoint oldPos = h->pos();
  const QSize oldSize(d->surface.width(), d->surface.height());
  if (!(flags & SWP_NOMOVE)) h->move(x, y);
  if (!(flags & SWP_NOSIZE)) {
    cx = std::max(cx, 0);
    cy = std::max(cy, 0);
    h->resize(cx, cy);
    ResizeSurface(d, cx, cy);
    FitControl(d);
  }
  if (!(flags & SWP_NOZORDER)) {
    const HWND a = after ? after->m_hWnd : nullptr;
    if (a == HWND_BOTTOM) h->lower();
    else if (!a || a == HWND_TOPMOST || a == HWND_NOTOPMOST) h->raise();
    else if (WindowData* ad = Lookup(a)) h->stackUnder(ad->host), h->stackUnder(ad->host);
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(SW_HIDE);
  d = Lookup(m_hWnd);
  if (!d) return TRUE;
  const QSize newSize(d->surface.width(), d->surface.height());
  if (h->pos() != oldPos) SendMessage(WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(h->pos().x()), static_cast<WORD>(h->pos().y())));
  if (newSize != oldSize)
    SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(newSize.width()), static_cast<WORD>(newSize.height())));
  BumpGeneration();
  return TRUE;
}

void CWnd::GetClientRect(LPRECT r) const {
  WindowData* d = Lookup(m_hWnd);
  if (!r) return;
  *r = d ? RECT{0, 0, d->surface.width(), d->surface.height()} : RECT{0, 0, 0, 0};
}

void CWnd::GetWindowRect(LPRECT r) const {
  WindowData* d = Lookup(m_hWnd);
  if (!r) return;
  if (!d) { *r = RECT{0, 0, 0, 0}; return; }
  const QPoint g = d->host->mapToGlobal(QPoint(0, 0));
  *r = RECT{g.x(), g.y(), g.x() + d->surface.width(), g.y() + d->surface.height()};
}

BOOL CWnd::GetWindowPlacement(WINDOWPLACEMENT* wp) const {
  WindowData* d = Lookup(m_hWnd);
  if (!d || !wp) return FALSE;
  wp->flags = 0;
  wp->showCmd = d->iconic ? SW_SHOWMINIMIZED : ((d->style & WS_VISIBLE) ? SW_SHOWNORMAL : SW_HIDE);
  wp->ptMinPosition = POINT{-1, -1};
  wp->ptMaxPosition = POINT{-1, -1};
  // The same origin MoveWindow takes, so a placement moves back exactly.
  const QRect g(d->host->pos(), d->host->size());
  wp->rcNormalPosition = RECT{g.left(), g.top(), g.left() + d->surface.width(), g.top() + d->surface.height()};
  return TRUE;
}

BOOL CWnd::SetWindowPlacement(const WINDOWPLACEMENT* wp) {
  if (!wp || !Lookup(m_hWnd)) return FALSE;
  const CRect r(wp->rcNormalPosition);
  SetWindowPos(nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER);
  ShowWindow(static_cast<int>(wp->showCmd));
  return TRUE;
}

void CWnd::MapWindowPoints(CWnd* to, LPPOINT p, UINT n) const {
  ::MapWindowPoints(m_hWnd, to ? to->m_hWnd : nullptr, p, n);
}
void CWnd::MapWindowPoints(CWnd* to, LPRECT r) const { MapWindowPoints(to, reinterpret_cast<LPPOINT>(r), 2); }
void CWnd::ClientToScreen(LPPOINT p) const { ::ClientToScreen(m_hWnd, p); }
void CWnd::ClientToScreen(LPRECT r) const { ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<POINT*>(r), 2); }
void CWnd::ScreenToClient(LPPOINT p) const { ::ScreenToClient(m_hWnd, p); }
void CWnd::ScreenToClient(LPRECT r) const { ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(r), 2); }

CWnd* CWnd::GetParent() const {
  WindowData* d = Lookup(m_hWnd);
  return d ? FromHandle(d->parent) : nullptr;
}

CWnd* CWnd::SetParent(CWnd* newParent) { return FromHandle(::SetParent(m_hWnd, newParent ? newParent->m_hWnd : nullptr)); }

CWnd* CWnd::GetTopLevelParent() const {
  WindowData* d = Lookup(m_hWnd);
  while (d && (d->style & WS_CHILD) && Lookup(d->parent)) d = Lookup(d->parent);
  return d ? d->wnd : nullptr;
}

BOOL CWnd::IsChild(const CWnd* w) const {
  if (!w) return FALSE;
  for (WindowData* d = Lookup(w->m_hWnd); d && (d->style & WS_CHILD); d = Lookup(d->parent))
    if (d->parent == m_hWnd) return TRUE;
  return FALSE;
}

CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }

int CWnd::GetDlgCtrlID() const {
  WindowData* d = Lookup(m_hWnd);
  return d ? static_cast<int>(d->id) : 0;
}

int CWnd::SetDlgCtrlID(int id) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return 0;
  const int old = static_cast<int>(d->id);
  d->id = static_cast<UINT>(id);
  return old;
}

DWORD CWnd::GetStyle() const {
  WindowData* d = Lookup(m_hWnd);
  return d ? d->style : 0;
}
DWORD CWnd::GetExStyle() const {
  WindowData* d = Lookup(m_hWnd);
  return d ? d->exStyle : 0;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return FALSE;
  const DWORD old = d->style;
  d->style = (d->style & ~remove) | add;
  return d->style != old;
}

void CWnd::SetWindowText(const char* text) { SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")); }

void CWnd::GetWindowText(CString& out) const {
  WindowData* d = Lookup(m_hWnd);
  if (!d) { out.Empty(); return; }
  const int n = static_cast<int>(::SendMessage(m_hWnd, WM_GETTEXT, 0, 0));
  (void)n;
  std::vector<char> buf(d->text.size() + 1024 + 1);
  ::SendMessage(m_hWnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
  out = buf.data();
}

int CWnd::GetWindowText(char* buf, int max) const {
  return static_cast<int>(::SendMessage(m_hWnd, WM_GETTEXT, static_cast<WPARAM>(std::max(max, 0)), reinterpret_cast<LPARAM>(buf)));
}

int CWnd::GetWindowTextLength() const {
  CString s;
  GetWindowText(s);
  return s.GetLength();
}

void CWnd::SetDlgItemText(int id, const char* text) {
  if (CWnd* w = GetDlgItem(id)) w->SetWindowText(text);
}

UINT CWnd::GetDlgItemText(int id, CString& out) const {
  out.Empty();
  if (CWnd* w = GetDlgItem(id)) w->GetWindowText(out);
  return static_cast<UINT>(out.GetLength());
}

void CWnd::SetDlgItemInt(int id, UINT value, BOOL isSigned) {
  CString s;
  if (isSigned) s.Format("%d", static_cast<int>(value));
  else s.Format("%u", value);
  SetDlgItemText(id, s);
}

UINT CWnd::GetDlgItemInt(int id, BOOL* ok, BOOL isSigned) const {
  CString s;
  GetDlgItemText(id, s);
  s.Trim();
  char* end = nullptr;
  errno = 0;
  const long long v = isSigned ? std::strtoll(s.GetString(), &end, 10) : static_cast<long long>(std::strtoull(s.GetString(), &end, 10));
  const bool good = !s.IsEmpty() && end && *end == 0 && errno == 0 &&
                    (isSigned ? (v >= INT32_MIN && v <= INT32_MAX) : (v >= 0 && v <= static_cast<long long>(UINT32_MAX)));
  if (ok) *ok = good ? TRUE : FALSE;
  return good ? static_cast<UINT>(v) : 0;
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->m_hObject : nullptr), redraw);
}

CFont* CWnd::GetFont() const {
  HFONT f = reinterpret_cast<HFONT>(::SendMessage(m_hWnd, WM_GETFONT, 0, 0));
  return f ? CFont::FromHandle(f) : nullptr;
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
  return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

int CWnd::SetWindowRgn(HRGN rgn, BOOL redraw) { return ::SetWindowRgn(m_hWnd, rgn, redraw); }

void CWnd::CenterWindow(CWnd* alt) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return;
  CRect outer;
  CWnd* ref = alt ? alt : GetParent();
  if (ref && !(d->style & WS_CHILD)) ref->GetWindowRect(&outer);
  else if (ref) ref->GetClientRect(&outer);
  else SystemParametersInfoA(SPI_GETWORKAREA, 0, &outer, 0);
  const int w = d->surface.width(), h = d->surface.height();
  SetWindowPos(nullptr, outer.left + (outer.Width() - w) / 2, outer.top + (outer.Height() - h) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
}

void CWnd::BringWindowToTop() {
  if (WindowData* d = Lookup(m_hWnd)) d->host->raise();
  BumpGeneration();
}

CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }

void CWnd::Invalidate(BOOL erase) { InvalidateRect(nullptr, erase); }
void CWnd::InvalidateRect(LPCRECT r, BOOL erase) { ::InvalidateRect(m_hWnd, r, erase); }
void CWnd::ValidateRect(LPCRECT r) { ::ValidateRect(m_hWnd, r); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }

BOOL CWnd::RedrawWindow(LPCRECT r, CRgn* rgn, UINT flags) {
  WindowData* d = Lookup(m_hWnd);
  if (!d) return FALSE;
  if (flags & RDW_INVALIDATE) {
    if (rgn) d->update += RegionOf(rgn->m_hObject);
    else InvalidateRect(r, (flags & RDW_ERASE) ? TRUE : FALSE);
    if (rgn && (flags & RDW_ERASE)) d->erase = true;
    if (flags & RDW_ALLCHILDREN) {
      std::vector<HWND> kids;
      {
        std::lock_guard<std::mutex> g(T().m);
        for (auto& [k, w] : T().windows)
          if (w->parent == m_hWnd && (w->style & WS_CHILD)) kids.push_back(w->hwnd);
      }
      for (HWND k : kids)
        if (CWnd* c = FromHandle(k)) c->RedrawWindow(nullptr, nullptr, flags & ~RDW_UPDATENOW);
    }
  }
  if (flags & RDW_ERASENOW) EraseNow(m_hWnd);
  if (flags & RDW_UPDATENOW) UpdateWindow();
  return TRUE;
}

CDC* CWnd::GetDC() {
  HDC h = ::GetDC(m_hWnd);
  if (!h) return nullptr;
  auto* dc = new CDC;
  dc->Attach(h);
  return dc;
}

int CWnd::ReleaseDC(CDC* dc) {
  if (!dc) return 0;
  HDC h = dc->Detach();
  delete dc;
  return ::ReleaseDC(m_hWnd, h);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, void (*proc)(HWND, UINT, UINT_PTR, DWORD)) {
  return ::SetTimer(m_hWnd, id, elapse, proc);
}
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
CWnd* CWnd::SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }
CWnd* CWnd::GetCapture() { return FromHandle(::GetCapture()); }

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
  return ::MessageBox(m_hWnd, text, caption, type);
}

void* CWnd::GetHostWidget() const {
  WindowData* d = Lookup(m_hWnd);
  return d ? static_cast<QWidget*>(d->host) : nullptr;
}

// ---- Free functions over handles ------------------------------------------

#define WND_OR(h, fail) \
  CWnd* w = Wnd(h);     \
  if (!w) return fail;

BOOL DestroyWindow(HWND h) { WND_OR(h, FALSE) return w->DestroyWindow(); }
BOOL ShowWindow(HWND h, int cmd) { WND_OR(h, FALSE) return w->ShowWindow(cmd); }
BOOL IsWindowVisible(HWND h) { WND_OR(h, FALSE) return w->IsWindowVisible(); }
BOOL IsIconic(HWND h) { WND_OR(h, FALSE) return w->IsIconic(); }
BOOL EnableWindow(HWND h, BOOL e) { WND_OR(h, FALSE) return w->EnableWindow(e); }
BOOL IsWindowEnabled(HWND h) { WND_OR(h, FALSE) return w->IsWindowEnabled(); }
BOOL MoveWindow(HWND h, int x, int y, int cx, int cy, BOOL repaint) {
  WND_OR(h, FALSE) w->MoveWindow(x, y, cx, cy, repaint);
  return TRUE;
}
BOOL SetWindowPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags) {
  WND_OR(h, FALSE)
  if (after == HWND_TOP || after == HWND_BOTTOM || after == HWND_TOPMOST || after == HWND_NOTOPMOST) {
    CWnd marker;
    marker.m_hWnd = after;
    const BOOL r = w->SetWindowPos(&marker, x, y, cx, cy, flags);
    marker.m_hWnd = nullptr;
    return r;
  }
  return w->SetWindowPos(Wnd(after), x, y, cx, cy, flags);
}
BOOL GetClientRect(HWND h, RECT* r) { WND_OR(h, FALSE) w->GetClientRect(r); return TRUE; }
BOOL GetWindowRect(HWND h, RECT* r) { WND_OR(h, FALSE) w->GetWindowRect(r); return TRUE; }

int MapWindowPoints(HWND from, HWND to, POINT* pts, UINT n) {
  QPoint off(0, 0);
  if (from) {
    WindowData* d = Lookup(from);
    if (!d) return 0;
    off += d->host->mapToGlobal(QPoint(0, 0));
  }
  if (to) {
    WindowData* d = Lookup(to);
    if (!d) return 0;
    off -= d->host->mapToGlobal(QPoint(0, 0));
  }
  for (UINT i = 0; pts && i < n; ++i) {
    pts[i].x += off.x();
    pts[i].y += off.y();
  }
  return MAKELONG(static_cast<WORD>(off.x()), static_cast<WORD>(off.y()));
}
BOOL ClientToScreen(HWND h, POINT* p) {
  if (!Lookup(h)) return FALSE;
  MapWindowPoints(h, nullptr, p, 1);
  return TRUE;
}
BOOL ScreenToClient(HWND h, POINT* p) {
  if (!Lookup(h)) return FALSE;
  MapWindowPoints(nullptr, h, p, 1);
  return TRUE;
}
HWND SetParent(HWND child, HWND newParent) {
  WindowData* d = Lookup(child);
  if (!d || newParent == child) return nullptr;
  WindowData* np = Lookup(newParent);
  if (newParent && !np) return nullptr;
  const HWND old = d->parent;
  const bool shown = d->host->isVisible();
  const QPoint pos = d->host->pos();
  d->parent = newParent;
  if (d->style & WS_CHILD) d->host->setParent(np ? np->host : nullptr, Qt::Widget);
  else d->host->setParent(np ? np->host : nullptr, d->host->windowFlags());
  d->host->move(pos);
  if (shown || (d->style & WS_VISIBLE)) d->host->show();
  BumpGeneration();
  return old;
}

HWND GetParent(HWND h) {
  WindowData* d = Lookup(h);
  return d ? d->parent : nullptr;
}
HWND GetDlgItem(HWND h, int id) {
  if (!Lookup(h)) return nullptr;
  std::lock_guard<std::mutex> g(T().m);
  for (auto& [k, d] : T().windows)
    if (d->parent == h && (d->style & WS_CHILD) && d->id == static_cast<UINT>(id)) return d->hwnd;
  return nullptr;
}
int GetDlgCtrlID(HWND h) { WND_OR(h, 0) return w->GetDlgCtrlID(); }
BOOL SetWindowTextA(HWND h, const char* t) { WND_OR(h, FALSE) w->SetWindowText(t); return TRUE; }
int GetWindowTextA(HWND h, char* buf, int max) { WND_OR(h, 0) return w->GetWindowText(buf, max); }

BOOL InvalidateRect(HWND h, const RECT* r, BOOL erase) {
  WindowData* d = Lookup(h);
  if (!d) return FALSE;
  const QRect all(0, 0, d->surface.width(), d->surface.height());
  d->update += r ? QRect(QPoint(r->left, r->top), QPoint(r->right - 1, r->bottom - 1)) & all : all;
  if (erase) d->erase = true;
  {
    std::lock_guard<std::mutex> g(Q().m);
    Q().paintPending = true;
  }
  Wake();
  return TRUE;
}

BOOL ValidateRect(HWND h, const RECT* r) {
  WindowData* d = Lookup(h);
  if (!d) return FALSE;
  if (r) d->update -= QRect(QPoint(r->left, r->top), QPoint(r->right - 1, r->bottom - 1));
  else d->update = QRegion();
  return TRUE;
}

BOOL UpdateWindow(HWND h) {
  WindowData* d = Lookup(h);
  if (!d) return FALSE;
  if (!d->update.isEmpty() && Visible(d)) {
    Send(h, WM_PAINT, 0, 0);
    if ((d = Lookup(h))) d->update = QRegion();
  }
  return TRUE;
}

int SetWindowRgn(HWND h, HRGN rgn, BOOL redraw) {
  WindowData* d = Lookup(h);
  if (!d) return 0;
  bool ok = false;
  const QRegion r = rgn ? RegionOf(rgn, &ok) : QRegion();
  d->hasRegion = rgn && ok;
  d->region = r;
  // The window owns the region it was given until it gets another or dies.
  if (d->ownedRgn && d->ownedRgn != rgn) DeleteObject(d->ownedRgn);
  d->ownedRgn = rgn;
  ApplyMask(d);
  BumpGeneration();
  if (redraw) InvalidateRect(h, nullptr, TRUE);
  return 1;
}

UINT_PTR SetTimer(HWND h, UINT_PTR id, UINT elapse, void (*proc)(HWND, UINT, UINT_PTR, DWORD)) {
  if (!Lookup(h)) return 0;
  auto& m = TM().byWindow;
  const auto key = std::make_pair(Key(h), id);
  auto it = m.find(key);
  if (it != m.end()) Unschedule(it->second.event);
  TimerRec& rec = m[key];
  rec.hwnd = h;
  rec.id = id;
  rec.period = std::max<UINT>(elapse, 1);
  rec.proc = proc;
  rec.key = TM().nextKey++;
  rec.pending = false;
  ArmTimer(rec, timeGetTime() + rec.period);
  return id ? id : 1;
}

BOOL KillTimer(HWND h, UINT_PTR id) {
  auto& m = TM().byWindow;
  auto it = m.find(std::make_pair(Key(h), id));
  if (it == m.end()) return FALSE;
  Unschedule(it->second.event);
  m.erase(it);
  return TRUE;
}

HWND SetCapture(HWND h) {
  WindowData* d = Lookup(h);
  if (!d) return g_capture;
  const HWND old = g_capture;
  g_capture = h;
  // The offscreen platform cannot grab; routing by g_capture covers it.
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) d->host->grabMouse();
  if (old && old != h) ::SendMessage(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(h));
  return old;
}

BOOL ReleaseCapture() {
  const HWND old = g_capture;
  g_capture = nullptr;
  if (WindowData* d = Lookup(old); d && QGuiApplication::platformName() != QLatin1String("offscreen")) d->host->releaseMouse();
  if (old) ::SendMessage(old, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() { return Lookup(g_capture) ? g_capture : nullptr; }

HWND SetFocus(HWND h) {
  const HWND old = GetFocus();
  WindowData* d = Lookup(h);
  if (!d) return old;
  QWidget* target = d->native ? d->native : d->host;
  target->setFocus(Qt::OtherFocusReason);
  if (old != h) {
    if (old) ::SendMessage(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(h), 0);
    ::SendMessage(h, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  }
  return old;
}

HWND GetFocus() {
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
    if (auto* hw = dynamic_cast<HostWidget*>(w); hw && hw->d) return hw->d->hwnd;
  return nullptr;
}

BOOL TrackMouseEvent(TRACKMOUSEEVENT* tme) {
  if (!tme) return FALSE;
  WindowData* d = Lookup(tme->hwndTrack);
  if (!d) return FALSE;
  if (tme->dwFlags & TME_CANCEL) {
    d->trackFlags &= ~(tme->dwFlags & (TME_HOVER | TME_LEAVE));
    if (!d->trackFlags) CancelTracking(d);
    return TRUE;
  }
  const HWND h = d->hwnd;
  if (std::find(g_tracked.begin(), g_tracked.end(), h) == g_tracked.end()) g_tracked.push_back(h);
  d->trackFlags |= tme->dwFlags & (TME_HOVER | TME_LEAVE);
  if (tme->dwFlags & TME_HOVER) {
    d->hoverTime = tme->dwHoverTime == HOVER_DEFAULT ? 400 : tme->dwHoverTime;
    d->lastMoveMs = timeGetTime();
    if (d->hoverEvent) Unschedule(d->hoverEvent);
    d->hoverEvent = Schedule(d->lastMoveMs + d->hoverTime, [h] { HoverCheck(h); });
  }
  return TRUE;
}
BOOL _TrackMouseEvent(TRACKMOUSEEVENT* tme) { return TrackMouseEvent(tme); }

UINT GetDoubleClickTime() { return 500; }

BOOL SystemParametersInfoA(UINT action, UINT, void* out, UINT) {
  if (action != SPI_GETWORKAREA || !out) return FALSE;
  EnsureApplication();
  QScreen* s = QGuiApplication::primaryScreen();
  const QRect a = s ? s->availableGeometry() : QRect(0, 0, 1920, 1080);
  *static_cast<RECT*>(out) = RECT{a.left(), a.top(), a.left() + a.width(), a.top() + a.height()};
  return TRUE;
}

int GetSystemMetrics(int index) {
  EnsureApplication();
  QScreen* s = QGuiApplication::primaryScreen();
  const QRect g = s ? s->geometry() : QRect(0, 0, 1920, 1080);
  switch (index) {
    case SM_CXSCREEN: return g.width();
    case SM_CYSCREEN: return g.height();
    case SM_CXICON:
    case SM_CYICON: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    default: return 0;
  }
}

namespace {
// Cursors are the system's shapes by id; a handle holds the id.
Qt::CursorShape Shape(std::uintptr_t id) {
  switch (id) {
    case 32513: return Qt::IBeamCursor;
    case 32514: return Qt::WaitCursor;
    case 32515: return Qt::CrossCursor;
    case 32646: return Qt::SizeAllCursor;
    case 32649: return Qt::PointingHandCursor;
    default: return Qt::ArrowCursor;
  }
}
HCURSOR g_cursor_shape = nullptr;
}  // namespace

HCURSOR SetCursor(HCURSOR c) {
  const HCURSOR old = g_cursor_shape;
  g_cursor_shape = c;
  if (WindowData* d = Lookup(g_cursorWindow))
    d->host->setCursor(Shape(reinterpret_cast<std::uintptr_t>(c) & 0xFFFF));
  return old;
}

namespace {
std::map<UINT, UINT>& CursorResources() {
  static std::map<UINT, UINT> table;
  return table;
}
}  // namespace

void win::RegisterCursorResource(UINT resourceId, const char* systemCursor) {
  if (!IS_INTRESOURCE(systemCursor)) return;
  CursorResources()[resourceId] = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(systemCursor) & 0xFFFF);
}

HCURSOR GetCursor() { return g_cursor_shape; }

HCURSOR LoadCursorA(HINSTANCE inst, const char* name) {
  if (!IS_INTRESOURCE(name)) return nullptr;
  const std::uintptr_t id = reinterpret_cast<std::uintptr_t>(name) & 0xFFFF;
  if (!inst) return reinterpret_cast<HCURSOR>(id);
  // A resource cursor: its handle carries the resource id above the system
  // shape's id, so it differs from the system cursor it looks like.
  const auto it = CursorResources().find(static_cast<UINT>(id));
  if (it == CursorResources().end()) return nullptr;
  return reinterpret_cast<HCURSOR>((id << 16) | it->second);
}
