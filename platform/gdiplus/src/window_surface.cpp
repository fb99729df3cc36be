#include "gdiplus/window_surface.h"

#include <atomic>

namespace gdiplus {
namespace {
std::atomic<WindowSurfaceSource*> g_source{nullptr};
}

WindowSurfaceSource* SetWindowSurfaceSource(WindowSurfaceSource* source) { return g_source.exchange(source); }
WindowSurfaceSource* GetWindowSurfaceSource() { return g_source.load(); }

}  // namespace gdiplus
