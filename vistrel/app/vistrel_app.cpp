#include "vistrel_app.h"

#include <cstdio>

#include "com/com.h"
#include "win/prompts.h"
#include "vistrel_dlg.h"

CVistrelApp::CVistrelApp() : CWinApp("Vistrel") {}

BOOL CVistrelApp::InitInstance() {
  m_nStartupFailure = 0;
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  CWinApp::InitInstance();

  if (!AfxSocketInit()) {
    AfxMessageBox("Initialising MFC Sockets failed");
    return FALSE;
  }
  timeBeginPeriod(1);
  m_bTimerSet = true;
  AfxEnableControlContainer();
  SetRegistryKey("Local AppWizard-Generated Applications");

  // Without GDI+ no window can draw, and without COM no video source can be
  // made: both end the program before any window exists.
  Gdiplus::GdiplusStartupInput input;
  const Gdiplus::Status gdiplus = Gdiplus::GdiplusStartup(&m_gdiplusToken, &input, nullptr);
  if (gdiplus != Gdiplus::Ok) {
    std::fprintf(stderr, "Vistrel: GDI+ could not be started (status %d).\n", static_cast<int>(gdiplus));
    m_nStartupFailure = 3;
    return FALSE;
  }
  m_bGdiplusStarted = true;
  // S_FALSE (COM already initialised on this thread) is a success.
  const HRESULT com = CoInitialize(nullptr);
  if (FAILED(com)) {
    std::fprintf(stderr, "Vistrel: COM could not be initialised (0x%08x).\n", static_cast<unsigned>(com));
    m_nStartupFailure = 3;
    return FALSE;
  }
  m_bComStarted = true;

  {
    CVistrelDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
  }
  return FALSE;
}

int CVistrelApp::ExitInstance() {
  if (m_bTimerSet) timeEndPeriod(1);
  m_bTimerSet = false;
  if (m_bGdiplusStarted) Gdiplus::GdiplusShutdown(m_gdiplusToken);
  m_bGdiplusStarted = false;
  m_gdiplusToken = 0;
  if (m_bComStarted) CoUninitialize();
  m_bComStarted = false;
  const int base = CWinApp::ExitInstance();
  return m_nStartupFailure ? m_nStartupFailure : base;
}
