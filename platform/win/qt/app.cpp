#include "win/app.h"

#include <QApplication>
#include <QEventLoop>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "window_internal.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char* name) : m_pszAppName(name ? name : "") { g_app = this; }
CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

int CWinApp::Run() {
  if (!m_pMainWnd || !m_pMainWnd->m_hWnd) return ExitInstance();
  QApplication::exec();
  return ExitInstance();
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() {
  return g_app && g_app->m_pMainWnd && g_app->m_pMainWnd->m_hWnd ? g_app->m_pMainWnd : nullptr;
}
HINSTANCE AfxGetInstanceHandle() { return g_app ? g_app->m_hInstance : nullptr; }
// The program's own module: the one that holds its resources (cursors). Never
// null, so that resource loads are told apart from system ones.
HINSTANCE AfxGetResourceHandle() {
  static char programModule;
  HINSTANCE instance = AfxGetInstanceHandle();
  return instance ? instance : reinterpret_cast<HINSTANCE>(&programModule);
}
void PostQuitMessage(int code) { QCoreApplication::exit(code); }

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, HMODULE hModule) {
  module.hModule = hModule;
  module.bInitialized = TRUE;
  return TRUE;
}
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module, BOOL) { module.bInitialized = FALSE; }
BOOL AfxSocketInit(void*) { return TRUE; }
void AfxEnableControlContainer() {}
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) { return icc ? TRUE : FALSE; }
void InitCommonControls() {}

namespace win {
namespace {

// The program's name as the user started it: the last part of argv[0].
std::string ProgramName(int argc, char** argv) {
  const std::string path = argc > 0 && argv[0] ? argv[0] : "";
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? "The program" : name;
}

// The program's own file, absolute and with links resolved, so that the
// command below works from any folder; argv[0] as given where /proc cannot
// tell.
std::string ProgramPath(int argc, char** argv) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && !self.empty()) return self.string();
  return argc > 0 && argv[0] ? argv[0] : "";
}

// text as one word of a POSIX shell: as it is when no character in it means
// anything to the shell, else in single quotes (a quote inside as '\'').
std::string ShellWord(const std::string& text) {
  static const char kPlain[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
  if (!text.empty() && text.find_first_not_of(kPlain) == std::string::npos) return text;
  std::string word = "'";
  for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

// The command goes on a line of its own, so that it can be pasted as it
// stands: nothing of the sentence around it becomes part of it.
int NoDisplay(const std::string& program, const std::string& path, const std::string& display) {
  if (!display.empty()) std::fprintf(stderr, "%s could not open the display \"%s\".\n", program.c_str(), display.c_str());
  std::fprintf(stderr,
               "%s needs a display, and none could be opened.\n"
               "To run it without one: sudo apt-get install xvfb, then start it under xvfb-run:\n"
               "  xvfb-run -a -s \"-screen 0 1600x1000x24\" %s\n",
               program.c_str(), ShellWord(path).c_str());
  return 2;
}

}  // namespace

int RunApplication(int argc, char** argv) {
  // Qt aborts the process when the display it was asked for cannot be
  // opened; a platform list falls back to its next entry instead. So the
  // program asks for its display's platform with offscreen last, and an
  // offscreen result means the display was not there. A platform the user
  // chose, offscreen included, runs as asked.
  const std::string program = ProgramName(argc, argv);
  const bool chosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
  std::string display;
  if (!chosen) {
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!x11 && !wayland) return NoDisplay(program, ProgramPath(argc, argv), "");
    display = qgetenv(x11 ? "DISPLAY" : "WAYLAND_DISPLAY").toStdString();
    // X11 (or XWayland) first: only there may the program move its own
    // top-level window (the title-bar drag).
    qputenv("QT_QPA_PLATFORM", x11 ? (wayland ? "xcb;wayland;offscreen" : "xcb;offscreen") : "wayland;offscreen");
  }
  QApplication qapp(argc, argv);
  if (!chosen && QGuiApplication::platformName() == "offscreen")
    return NoDisplay(program, ProgramPath(argc, argv), display);
  // Qt sets the locale from the environment; numbers in files stay C.
  std::setlocale(LC_NUMERIC, "C");
  EnsureApplication();
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  const int rc = app->InitInstance() ? app->Run() : app->ExitInstance();
  RunDeferredDestruction();
  return rc;
}

}  // namespace win
