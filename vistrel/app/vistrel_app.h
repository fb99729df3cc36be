#pragma once
// CVistrelApp: starts the workbench and runs its main dialog modally; the
// program ends when the dialog closes.
#include "gdiplus/gdiplus.h"
#include "win/app.h"

class CVistrelApp : public CWinApp {
 public:
  CVistrelApp();

  // Runs the main dialog to its end and returns FALSE (no message loop
  // follows). FALSE at once, with the reason on standard error, when
  // GDI+ or COM cannot be started.
  BOOL InitInstance() override;
  // Timer resolution, GDI+ and COM are released in that order. Non-zero
  // when start-up failed.
  int ExitInstance() override;

 private:
  ULONG_PTR m_gdiplusToken = 0;
  bool m_bGdiplusStarted = false;
  bool m_bComStarted = false;
  bool m_bTimerSet = false;
  int m_nStartupFailure = 0;
};
