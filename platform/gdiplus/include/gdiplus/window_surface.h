#pragma once
// Where window pixels come from: the window stand-in, whose windows own
// client-sized 32-bit surfaces, registers a source; window capture and
// Graphics on a window read through it. Tests register fakes.
#include <cstdint>

#include "win/types.h"

namespace gdiplus {

class WindowSurfaceSource {
 public:
  virtual ~WindowSurfaceSource() = default;
  // False for an unknown window.
  virtual bool GetClientSize(HWND hwnd, int* width, int* height) = 0;
  // Copies the whole client area, top-down, as 32-bit pixels (B, G, R, A in
  // memory) into width x height pixels of strideBytes per row. False for an
  // unknown window or a size other than the client size.
  virtual bool ReadClient(HWND hwnd, std::uint32_t* pixels, int width, int height,
                          int strideBytes) = 0;
};

// Installs the source (null removes it) and returns the previous one. Safe
// from any thread; the source must outlive its registration.
WindowSurfaceSource* SetWindowSurfaceSource(WindowSurfaceSource* source);
WindowSurfaceSource* GetWindowSurfaceSource();

}  // namespace gdiplus
