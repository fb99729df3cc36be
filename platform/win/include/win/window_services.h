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

  // Reading back and drawing through device contexts (GDI+ on a window or
  // an HDC). Not every implementation offers them: the defaults fail.
  // Copies the client area as shown (visible children composed), top-down,
  // into width x height pixels; false unless width and height are the
  // client size.
  virtual bool ReadClient(HWND hwnd, std::uint32_t* pixels, int width, int height, int strideBytes) {
    (void)hwnd, (void)pixels, (void)width, (void)height, (void)strideBytes;
    return false;
  }
  // A device context over the window's own surface (children not composed).
  virtual HDC GetDC(HWND hwnd) {
    (void)hwnd;
    return nullptr;
  }
  virtual void ReleaseDC(HWND hwnd, HDC hdc) { (void)hwnd, (void)hdc; }
  // The size of what a device context draws on, in device pixels.
  virtual bool GetDCSize(HDC hdc, int* width, int* height) {
    (void)hdc, (void)width, (void)height;
    return false;
  }
  // Reads or writes the whole target of a device context (writes keep to
  // its clip region).
  virtual bool ReadDC(HDC hdc, std::uint32_t* pixels, int width, int height, int strideBytes) {
    (void)hdc, (void)pixels, (void)width, (void)height, (void)strideBytes;
    return false;
  }
  virtual bool WriteDC(HDC hdc, const std::uint32_t* pixels, int width, int height, int strideBytes) {
    (void)hdc, (void)pixels, (void)width, (void)height, (void)strideBytes;
    return false;
  }
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
