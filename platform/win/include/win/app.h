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
// The body of main for a program with one CWinApp object.
int RunApplication(int argc, char** argv);
}  // namespace win
