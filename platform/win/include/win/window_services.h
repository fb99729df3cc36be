#pragma once
// The seam through which stand-ins below the window layer (video renderer,
// 3D device, window capture) reach windows without depending on Qt. The
// window stand-in installs the real implementation; tests may install fakes.
#include <cstdint>

#include "win/types.h"

namespace win {

class WindowServices {
 public:
  virtual ~WindowServices() = default;

  virtual bool IsWindow(HWND hwnd) = 0;
  // Queued; safe from any thread. False for an unknown window.
  virtual bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) = 0;
  // Synchronous, on the calling thread.
  virtual LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) = 0;
  virtual bool GetClientSize(HWND hwnd, int* width, int* height) = 0;
  // Copies a 32-bit (0xAARRGGBB in memory as B, G, R, A) top-down image into
  // the window's client surface at (x, y), clipped to it, and repaints.
  virtual bool WriteClient(HWND hwnd, int x, int y, const std::uint32_t* pixels, int width,
                           int height, int strideBytes) = 0;
};

// Installs the implementation (null removes it) and returns the previous one.
WindowServices* SetWindowServices(WindowServices* services);
WindowServices* GetWindowServices();

}  // namespace win

// The free functions forward to the installed services; without any, they
// fail (FALSE, 0).
BOOL IsWindow(HWND hwnd);
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
