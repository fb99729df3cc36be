#pragma once
// Mouse capture for the trackball and cameras: the window layer's, unless a
// cursor seam is installed (tests).
#include "win/cursor.h"
#include "win/window.h"

namespace D3D::detail {

inline void CaptureMouse(HWND window) {
  if (win::CursorServices* s = win::InstalledCursorServices()) s->SetCapture(window);
  else ::SetCapture(window);
}

inline void ReleaseMouse() {
  if (win::CursorServices* s = win::InstalledCursorServices()) s->ReleaseCapture();
  else ::ReleaseCapture();
}

}  // namespace D3D::detail
