#include "win/app.h"

#include <QApplication>
#include <QEventLoop>
#include <clocale>
#include <cstdlib>

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
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }
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

int RunApplication(int argc, char** argv) {
  ChooseQtPlatform();
  QApplication qapp(argc, argv);
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
