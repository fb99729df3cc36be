#pragma once
// CVideoControl: a video panel frame: a dark back buffer, a "Video View"
// child where video is shown, and a toolbar of five buttons (New, Open,
// Save, Connect to device, Options) whose clicks reach the control as
// WM_COMMAND 1 to 5. It handles neither paint nor commands itself: its user
// shows the back buffer (GetBackBuffer) and handles the commands.
#include "gdiplus/bitmap.h"
#include "gdiplus/drawing.h"
#include "gdiplus/graphics.h"
#include "quorlmfc/static_ex.h"
#include "quorlmfc/toolbar_x.h"
#include "win/controls.h"
#include "win/window.h"

class CVideoControl : public CStatic {
 public:
  static constexpr UINT kVideoViewId = 2023;
  static constexpr UINT kToolbarId = 2022;

  CVideoControl();
  ~CVideoControl() override;

  // The folder the button images are found under; set before Initialize.
  void SetAppPath(CString folder) { m_strAppPath = folder; }
  // Back buffer at the client size filled with the background, the video
  // view and the toolbar. A second call makes the back buffer anew and
  // leaves the children as they are.
  void Initialize();
  // 32-bit ARGB pixels, 4 x width bytes per row; null before Initialize or
  // for an empty client area.
  const BYTE* GetBackBuffer(int* width, int* height) const;

  // For owners and tests.
  CStatic& VideoView() { return m_videoView; }
  CToolbarX& Toolbar() { return m_toolbar; }
  const CString& GetAppPath() const { return m_strAppPath; }

 private:
  void FreeBackBuffer();

  CString m_strAppPath;
  RECT m_clientRect{0, 0, 0, 0};
  BYTE* m_pBackPixels = nullptr;
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nStride = 0;
  Gdiplus::Bitmap* m_pBackBitmap = nullptr;
  CStatic m_videoView;
  int m_nMarginLeft = 10;
  int m_nMarginTop = 10;
  int m_nMarginRight = 10;
  int m_nMarginBottom = 10;
  CToolbarX m_toolbar{0x646464};
  CStaticEx m_label;
  Gdiplus::Graphics* m_pGraphics = nullptr;
  Gdiplus::Graphics* m_pWindowGraphics = nullptr;
  Gdiplus::ARGB m_backgroundColour = 0xFF414141;
  Gdiplus::SolidBrush* m_pBackgroundBrush = nullptr;
};
