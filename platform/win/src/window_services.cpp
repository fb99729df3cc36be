#include "win/window_services.h"

#include <atomic>

namespace win {
namespace {
std::atomic<WindowServices*> g_services{nullptr};
}

WindowServices* SetWindowServices(WindowServices* services) { return g_services.exchange(services); }

WindowServices* GetWindowServices() { return g_services.load(); }

}  // namespace win

BOOL IsWindow(HWND hwnd) {
  win::WindowServices* s = win::GetWindowServices();
  return s && hwnd && s->IsWindow(hwnd) ? TRUE : FALSE;
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  win::WindowServices* s = win::GetWindowServices();
  return s && hwnd && s->PostMessage(hwnd, msg, wparam, lparam) ? TRUE : FALSE;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  win::WindowServices* s = win::GetWindowServices();
  return s && hwnd ? s->SendMessage(hwnd, msg, wparam, lparam) : 0;
}
