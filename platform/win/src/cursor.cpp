#include "win/cursor.h"

#include <atomic>
#include <mutex>

#include "win/messages.h"
#include "win/window_services.h"

namespace win {
namespace {

class BuiltInCursor final : public CursorServices {
 public:
  bool GetCursorPos(POINT* point) override {
    *point = POINT{0, 0};
    return true;
  }
  HWND GetForegroundWindow() override { return nullptr; }
  HWND SetCapture(HWND hwnd) override {
    HWND old;
    {
      std::lock_guard lock(mutex_);
      old = capture_;
      capture_ = hwnd;
    }
    if (old && old != hwnd) ::SendMessage(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
    return old;
  }
  bool ReleaseCapture() override {
    HWND old;
    {
      std::lock_guard lock(mutex_);
      old = capture_;
      capture_ = nullptr;
    }
    if (old) ::SendMessage(old, WM_CAPTURECHANGED, 0, 0);
    return true;
  }
  HWND GetCapture() override {
    std::lock_guard lock(mutex_);
    return capture_;
  }

 private:
  std::mutex mutex_;
  HWND capture_ = nullptr;
};

BuiltInCursor g_builtIn;
std::atomic<CursorServices*> g_services{nullptr};

}  // namespace

CursorServices* SetCursorServices(CursorServices* services) {
  CursorServices* old = g_services.exchange(services);
  return old ? old : &g_builtIn;
}

CursorServices* InstalledCursorServices() { return g_services.load(); }

CursorServices* GetCursorServices() {
  CursorServices* s = g_services.load();
  return s ? s : &g_builtIn;
}

}  // namespace win

BOOL GetCursorPos(POINT* point) {
  if (!point) return FALSE;
  return win::GetCursorServices()->GetCursorPos(point) ? TRUE : FALSE;
}

HWND GetForegroundWindow() { return win::GetCursorServices()->GetForegroundWindow(); }
