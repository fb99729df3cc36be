#pragma once
// Cursor position, foreground window and mouse capture, behind a seam the
// window stand-in fills in and tests replace. The free SetCapture family
// belongs to the window layer; callers that must run without it use the
// seam's capture.
#include "win/types.h"

namespace win {

class CursorServices {
 public:
  virtual ~CursorServices() = default;
  // Screen coordinates.
  virtual bool GetCursorPos(POINT* point) = 0;
  virtual HWND GetForegroundWindow() = 0;
  // The previous owner (null if none); the window losing the capture gets
  // WM_CAPTURECHANGED with the new owner in lParam.
  virtual HWND SetCapture(HWND hwnd) = 0;
  virtual bool ReleaseCapture() = 0;
  virtual HWND GetCapture() = 0;
};

// Installs the implementation (null restores the built-in one) and returns
// the previous one. The built-in one has no cursor (0, 0), no foreground
// window, and keeps the capture in a process-wide variable.
CursorServices* SetCursorServices(CursorServices* services);
CursorServices* GetCursorServices();
// The installed implementation, or null while the built-in one serves.
CursorServices* InstalledCursorServices();

}  // namespace win

BOOL GetCursorPos(POINT* point);
HWND GetForegroundWindow();
