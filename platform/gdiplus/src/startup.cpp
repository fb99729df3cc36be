#include "gdiplus/startup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <clocale>
#include <cstdlib>
#include <mutex>

namespace Gdiplus {
namespace {

std::mutex g_mutex;
int g_count = 0;
QGuiApplication* g_ownApp = nullptr;
Status g_nextFailure = Ok;

// Qt keeps references to argc and argv for the application's lifetime.
int g_argc = 1;
char g_arg0[] = "quorl";
char* g_argv[] = {g_arg0, nullptr};

bool IsSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

void ChoosePlatform() {
  if (IsSet("QT_QPA_PLATFORM")) return;
  // Without a usable display the application constructor aborts the process;
  // a platform list falls back to the next entry instead.
  const bool display = IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
  setenv("QT_QPA_PLATFORM", display ? "xcb;offscreen" : "offscreen", 1);
}

}  // namespace

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput*) {
  if (!token) return InvalidParameter;
  if (input && input->GdiplusVersion != 1) return UnsupportedGdiplusVersion;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_nextFailure != Ok) {
    const Status failure = g_nextFailure;
    g_nextFailure = Ok;
    *token = 0;
    return failure;
  }
  // A process that needs widgets makes its QApplication first; that one is used.
  if (!QCoreApplication::instance()) {
    ChoosePlatform();
    g_ownApp = new QGuiApplication(g_argc, g_argv);
    // The application object sets the process locale from the environment;
    // numbers in text files must stay in the C locale.
    std::setlocale(LC_NUMERIC, "C");
  }
  ++g_count;
  *token = static_cast<ULONG_PTR>(g_count);
  return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (token == 0 || g_count == 0) return;
  if (--g_count == 0 && g_ownApp) {
    delete g_ownApp;
    g_ownApp = nullptr;
  }
}

void FailNextStartupForTesting(Status status) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_nextFailure = status;
}

}  // namespace Gdiplus
