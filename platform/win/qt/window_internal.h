#pragma once
// Shared state of the window stand-in's sources (not installed for callers).
#include <QImage>
#include <QRegion>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string>

#include "win/window.h"

namespace win {

class HostWidget;

struct WindowData {
  CWnd* wnd = nullptr;
  HWND hwnd = nullptr;
  HostWidget* host = nullptr;
  QImage surface;  // client-sized, Format_RGB32
  // The client size, readable from any thread under the table lock.
  std::atomic<int> clientWidth{0}, clientHeight{0};
  QRegion update;  // client coordinates
  bool erase = false;
  DWORD style = 0;
  DWORD exStyle = 0;
  UINT id = 0;
  std::string text;
  std::string className;
  HWND parent = nullptr;
  HGDIOBJ font = nullptr;
  HICON icons[2] = {nullptr, nullptr};
  bool hasRegion = false;
  QRegion region;  // window coordinates
  HRGN ownedRgn = nullptr;  // the handle given to SetWindowRgn, deleted with the window
  bool iconic = false;
  // Mouse tracking.
  DWORD trackFlags = 0;
  DWORD hoverTime = 400;
  DWORD lastMoveMs = 0;
  POINT lastMovePt{0, 0};
  ScheduleId hoverEvent = 0;
  // Passes mouse messages to the parent (a static without SS_NOTIFY).
  bool passMouse = false;
  // The Qt control shown in place of the surface, if any.
  QWidget* native = nullptr;
  // Called by the default WM_PAINT after erasing (controls draw themselves).
  std::function<void(HDC)> defaultPaint;
  // The WM_CTLCOLOR* message the default erase asks the parent for.
  UINT ctlColorMsg = 0;
};

class HostWidget : public QWidget {
 public:
  HostWidget(WindowData* d, QWidget* parent, Qt::WindowFlags flags);
  WindowData* d;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void changeEvent(QEvent* e) override;
};

WindowData* Lookup(HWND hwnd);
// The window's surface and bookkeeping after writing into it.
QImage* SurfaceOf(HWND hwnd);
void SurfaceChanged(HWND hwnd);
// The client area as shown: the surface with visible children composed,
// each clipped to its region. Cached until anything changes.
const QImage& ComposeClient(HWND hwnd);
void BumpGeneration();
// Sends a message through the PreTranslateMessage walk (input messages).
void DispatchInput(HWND target, UINT msg, WPARAM wp, LPARAM lp);
// Routes a mouse event arriving anywhere in a top-level window.
void RouteMouse(QWidget* receiver, UINT msg, QMouseEvent* e);
UINT MouseKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods);

// Region handles (gdi.cpp).
QRegion RegionOf(HRGN rgn, bool* ok = nullptr);
HRGN NewRegion(const QRegion& r);
// Device contexts over windows (gdi.cpp).
HDC NewWindowDC(HWND hwnd, const QRegion* clip);
void FreeDC(HDC hdc);
// The image a DC draws on and its clip (device coordinates); null for an
// unknown DC.
QImage* DCTarget(HDC hdc, QRegion* clip);
const QImage* DCSource(HDC hdc);
void DCChanged(HDC hdc);
// Brush colour of a brush handle; false for a null or hollow brush.
bool BrushColour(HBRUSH brush, COLORREF* out);
QFont FontOf(HFONT font);
HFONT DefaultGuiFont();

// Control hooks (controls.cpp): makes the native control for a class name.
void CreateControl(WindowData* d);
// Lays a control's native widget over its whole client area (after a resize).
void FitControl(WindowData* d);
// The height a new control's window gets: a drop-down combo box's window is
// its closed box (the height asked for is how far its list drops); every
// other control keeps what was asked.
int CreatedControlHeight(const std::string& className, DWORD style, int asked);
bool ControlMessage(WindowData* d, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
void ForgetControl(HWND h);
void InstallMessageBoxPrompts();

}  // namespace win
