#pragma once
// The application object: its main makes the QApplication before
// InitInstance (so GdiplusStartup finds it) and keeps LC_NUMERIC at "C".
#include "win/window.h"

class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(const char* appName = nullptr);
  ~CWinApp() override;
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return 0; }
  // Runs the event loop until the main window is destroyed.
  virtual int Run();
  // Settings live in files here; the key is only remembered.
  void SetRegistryKey(const char* key) { m_pszRegistryKey = key ? key : ""; }
  const char* m_pszRegistryKey = "";
  CWnd* m_pMainWnd = nullptr;
  const char* m_pszAppName = "";
  HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void PostQuitMessage(int code);

namespace win {
// The body of main for a program with one CWinApp object. Without a
// display (none named, or the named one cannot be opened) and with no Qt
// platform chosen in QT_QPA_PLATFORM, it tells the user how to run the
// program under a virtual X server and returns 2 before InitInstance.
// Otherwise InitInstance, then Run, or ExitInstance when InitInstance
// returned FALSE; the result is ExitInstance's.
int RunApplication(int argc, char** argv);
}  // namespace win

// Library start-up of an extension library: always succeeds here (there is
// no MFC module state to join); a CDynLinkLibrary joins nothing either.
struct AFX_EXTENSION_MODULE {
  BOOL bInitialized = FALSE;
  HMODULE hModule = nullptr;
};
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, HMODULE hModule);
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module, BOOL all = FALSE);
class CDynLinkLibrary : public CCmdTarget {
 public:
  explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& module, BOOL system = FALSE) : m_hModule(module.hModule) {
    (void)system;
  }
  HMODULE m_hModule;
};
// Sockets need no start-up on this platform.
BOOL AfxSocketInit(void* data = nullptr);
void AfxEnableControlContainer();
struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
constexpr DWORD ICC_WIN95_CLASSES = 0x000000FF;
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc);
void InitCommonControls();
