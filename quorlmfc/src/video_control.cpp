#include "quorlmfc/video_control.h"

#include <algorithm>

namespace {

// Each control is made a child, as the platform's Create does for every
// window it makes with a parent; 7 is the plain static style the panel's
// children are created with.
constexpr DWORD kChildStyle = WS_CHILD | 7;

struct ButtonSpec {
  const char* tooltip;
  const char* image;
  UINT id;
};
constexpr ButtonSpec kButtons[] = {
    {"New", "\\Graphics\\button_new.png", 1},
    {"Open", "\\Graphics\\button_open.png", 2},
    {"Save", "\\Graphics\\button_save.png", 3},
    {"Connect to device", "\\Graphics\\button_camera.png", 4},
    {"Options", "\\Graphics\\button_settings.png", 5},
};

}  // namespace

CVideoControl::CVideoControl() = default;

CVideoControl::~CVideoControl() {
  // The window and its children go before the drawing objects.
  if (m_hWnd) DestroyWindow();
  FreeBackBuffer();
}

void CVideoControl::FreeBackBuffer() {
  delete m_pWindowGraphics;
  delete m_pGraphics;
  delete m_pBackBitmap;
  delete[] m_pBackPixels;
  delete m_pBackgroundBrush;
  m_pWindowGraphics = m_pGraphics = nullptr;
  m_pBackBitmap = nullptr;
  m_pBackPixels = nullptr;
  m_pBackgroundBrush = nullptr;
  m_nWidth = m_nHeight = m_nStride = 0;
}

void CVideoControl::Initialize() {
  FreeBackBuffer();
  GetClientRect(&m_clientRect);
  const int right = m_clientRect.right, bottom = m_clientRect.bottom;
  m_nWidth = std::max(0, static_cast<int>(m_clientRect.right - m_clientRect.left));
  m_nHeight = std::max(0, static_cast<int>(m_clientRect.bottom - m_clientRect.top));
  m_nStride = 4 * m_nWidth;
  m_pBackgroundBrush = new Gdiplus::SolidBrush(Gdiplus::Color(m_backgroundColour));
  if (m_nWidth > 0 && m_nHeight > 0) {
    m_pBackPixels = new BYTE[static_cast<size_t>(m_nStride) * m_nHeight]();
    m_pBackBitmap = new Gdiplus::Bitmap(m_nWidth, m_nHeight, m_nStride, PixelFormat32bppARGB, m_pBackPixels);
    m_pGraphics = new Gdiplus::Graphics(m_pBackBitmap);
    m_pGraphics->FillRectangle(m_pBackgroundBrush, 0, 0, m_nWidth, m_nHeight);
  }
  // Kept for the control's life: here it follows the window through resizes.
  m_pWindowGraphics = new Gdiplus::Graphics(m_hWnd);

  if (m_videoView.m_hWnd) return;
  m_videoView.Create("Video View", kChildStyle,
                     CRect(m_nMarginLeft, m_nMarginTop, right - m_nMarginRight, bottom - 50), this, kVideoViewId);
  m_videoView.ShowWindow(SW_SHOW);
  m_toolbar.m_bVertical = false;
  m_toolbar.SetParent(this);
  m_toolbar.Create("Toolbar Windows", kChildStyle,
                   CRect(m_nMarginLeft, bottom - 46, right - m_nMarginRight, bottom - m_nMarginBottom), this, kToolbarId);
  m_toolbar.Initialize(8, 2);
  m_toolbar.ShowWindow(SW_SHOW);
  for (const ButtonSpec& b : kButtons) m_toolbar.AddButton(m_strAppPath + b.image, CString(b.tooltip), b.id);
}

const BYTE* CVideoControl::GetBackBuffer(int* width, int* height) const {
  if (width) *width = m_nWidth;
  if (height) *height = m_nHeight;
  return m_pBackPixels;
}
