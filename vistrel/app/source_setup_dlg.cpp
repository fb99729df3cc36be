#include "source_setup_dlg.h"

#include <cstdio>
#include <string>

#include "com/bstr.h"
#include "quorlmfc/win_dib.h"
#include "video_capture.h"
#include "win/dialog.h"

namespace {

// 283 x 171 dialog units: the drawn groups above, the property-page buttons
// and OK / Cancel along the bottom.
win::DialogTemplate SourceSetupTemplate() {
  win::DialogTemplate t;
  t.id = CSourceSetupDlg::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.cx = 283;
  t.cy = 171;
  t.caption = "Video Source Setup";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {
      {"STATIC", CSourceSetupDlg::kInfoText, "", 7, 134, 269, 10, WS_VISIBLE},
      {"BUTTON", CSourceSetupDlg::kCaptureFilter, "Capture Filter...", 7, 150, 66, 14,
       BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", CSourceSetupDlg::kCapturePin, "Capture Pin...", 78, 150, 66, 14,
       BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDOK, "OK", 170, 150, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
      {"BUTTON", IDCANCEL, "Cancel", 226, 150, 50, 14, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
  };
  return t;
}

const bool g_registered = [] {
  win::RegisterDialogTemplate(SourceSetupTemplate());
  return true;
}();

constexpr int kTop = CDialogX::kTitleBarHeight;
constexpr Gdiplus::ARGB kBackground = 0xFF4B4B4B;
constexpr Gdiplus::ARGB kBox = 0xFF3C3C3C;
constexpr Gdiplus::ARGB kChosen = 0xFFFFBF00;
constexpr Gdiplus::ARGB kText = 0xFFFFFFFF;
constexpr int kDiagramLeft = 215, kDiagramRight = 410;

const char* const kSplittingNames[] = {"None", "Stereo", "Quad"};
const char* const kDeinterlaceNames[] = {"None", "Fields"};

void DrawLabel(Gdiplus::Graphics& g, const Gdiplus::Font& font, const char* text, const Gdiplus::RectF& box,
               bool centred) {
  const std::wstring wide = com::Utf8ToWide(text);
  Gdiplus::StringFormat format;
  if (centred) {
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  } else {
    format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
  }
  Gdiplus::SolidBrush white{Gdiplus::Color(kText)};
  g.DrawString(wide.c_str(), static_cast<INT>(wide.size()), &font, box, &format, &white);
}

Gdiplus::RectF ToRectF(const CRect& r) {
  return Gdiplus::RectF(static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.Width()),
                        static_cast<float>(r.Height()));
}

}  // namespace

BEGIN_MESSAGE_MAP(CSourceSetupDlg, CDialogX)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_LBUTTONDOWN()
ON_BN_CLICKED(CSourceSetupDlg::kCaptureFilter, OnCaptureFilter)
ON_BN_CLICKED(CSourceSetupDlg::kCapturePin, OnCapturePin)
END_MESSAGE_MAP()

CSourceSetupDlg::CSourceSetupDlg(CWnd* parent) : CDialogX(IDD, parent, "Video Source Setup", 1, nullptr) {}

CSourceSetupDlg::~CSourceSetupDlg() {
  if (m_hWnd) DestroyWindow();
  FreeBuffer();
}

void CSourceSetupDlg::FreeBuffer() {
  m_pGraphics.reset();
  m_pBitmap.reset();
  m_pixels.clear();
  m_nWidth = m_nHeight = 0;
}

void CSourceSetupDlg::Prepare(bool live, CVideoCapture* capture, int splitting, int deinterlace,
                              const CString& appFolder) {
  m_bLive = live;
  m_pCapture = capture;
  m_nSplitting = splitting >= 0 && splitting <= 2 ? splitting : 0;
  m_nDeinterlace = deinterlace == 1 ? 1 : 0;
  // An empty folder leaves the dialog to find its own (button images).
  if (!appFolder.IsEmpty()) SetAppPath(appFolder);
}

CRect CSourceSetupDlg::SplittingBox(int option) {
  if (option < 0 || option > 2) return CRect();
  return CRect(15, kTop + 40 + 35 * option, 90, kTop + 70 + 35 * option);
}

CRect CSourceSetupDlg::DeinterlaceBox(int option) {
  if (option < 0 || option > 1) return CRect();
  return CRect(115, kTop + 40 + 35 * option, 190, kTop + 70 + 35 * option);
}

bool CSourceSetupDlg::SelectAt(CPoint point) {
  for (int option = 0; option < 3; ++option) {
    if (SplittingBox(option).PtInRect(point)) {
      m_nSplitting = option;
      return true;
    }
  }
  for (int option = 0; option < 2; ++option) {
    if (DeinterlaceBox(option).PtInRect(point)) {
      m_nDeinterlace = option;
      return true;
    }
  }
  return false;
}

BOOL CSourceSetupDlg::OnInitDialog() {
  CDialogX::OnInitDialog();
  // The property pages belong to a capture device; a file has none.
  for (UINT id : {kCaptureFilter, kCapturePin}) {
    if (CWnd* button = GetDlgItem(id)) button->EnableWindow(m_bLive ? TRUE : FALSE);
  }
  // The dialog draws its whole face itself; the information static has no
  // text to give, and shown it would be a bar of the system's face colour
  // across the drawn background.
  if (CWnd* info = GetDlgItem(kInfoText)) info->ShowWindow(SW_HIDE);
  Draw();
  return TRUE;
}

void CSourceSetupDlg::Draw() {
  CRect client;
  GetClientRect(&client);
  if (client.right <= 0 || client.bottom <= 0) {
    FreeBuffer();
    return;
  }
  if (!m_pGraphics || client.right != m_nWidth || client.bottom != m_nHeight) {
    FreeBuffer();
    m_nWidth = client.right;
    m_nHeight = client.bottom;
    m_pixels.assign(static_cast<size_t>(m_nWidth) * m_nHeight, 0);
    m_pBitmap = std::make_unique<Gdiplus::Bitmap>(m_nWidth, m_nHeight, 4 * m_nWidth, PixelFormat32bppARGB,
                                                  reinterpret_cast<BYTE*>(m_pixels.data()));
    m_pGraphics = std::make_unique<Gdiplus::Graphics>(m_pBitmap.get());
    m_pGraphics->SetInterpolationMode(Gdiplus::InterpolationModeHighQuality);
  }
  Gdiplus::Graphics& g = *m_pGraphics;
  Gdiplus::SolidBrush background{Gdiplus::Color(kBackground)};
  g.FillRectangle(&background, 0, 0, m_nWidth, m_nHeight);
  const Gdiplus::Font heading("Verdana", 7.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPoint);
  const Gdiplus::Font label("Verdana", 7.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
  DrawLabel(g, heading, " Stream Splitting", Gdiplus::RectF(10, kTop + 15, 104, 18), false);
  DrawLabel(g, heading, " Deinterlacing", Gdiplus::RectF(115, kTop + 15, 100, 18), false);
  DrawLabel(g, heading, " Camera Config ", Gdiplus::RectF(kDiagramLeft, kTop + 15, 150, 18), false);

  Gdiplus::SolidBrush box{Gdiplus::Color(kBox)};
  Gdiplus::SolidBrush chosen{Gdiplus::Color(kChosen)};
  for (int option = 0; option < 3; ++option) {
    const CRect r = SplittingBox(option);
    g.FillRectangle(option == m_nSplitting ? &chosen : &box, r.left, r.top, r.Width(), r.Height());
    DrawLabel(g, label, kSplittingNames[option], ToRectF(r), true);
  }
  for (int option = 0; option < 2; ++option) {
    const CRect r = DeinterlaceBox(option);
    g.FillRectangle(option == m_nDeinterlace ? &chosen : &box, r.left, r.top, r.Width(), r.Height());
    DrawLabel(g, label, kDeinterlaceNames[option], ToRectF(r), true);
  }

  // The frame as the sampler cuts it: one, two side by side or four in a
  // square; one field halves each image's height.
  const int columns = m_nSplitting == 0 ? 1 : 2;
  const int rows = m_nSplitting == 2 ? 2 : 1;
  const int frameTop = kTop + 40, frameHeight = m_nDeinterlace ? 50 : 100;
  const int cellWidth = (kDiagramRight - kDiagramLeft) / columns;
  const int cellHeight = frameHeight / rows;
  Gdiplus::Pen outline{Gdiplus::Color(kText), 1.0f};
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const CRect cell(kDiagramLeft + column * cellWidth + 2, frameTop + row * cellHeight + 2,
                       kDiagramLeft + (column + 1) * cellWidth - 2, frameTop + (row + 1) * cellHeight - 2);
      g.FillRectangle(&box, cell.left, cell.top, cell.Width(), cell.Height());
      g.DrawRectangle(&outline, cell.left, cell.top, cell.Width(), cell.Height());
      char text[16];
      std::snprintf(text, sizeof text, "Data %d", row * columns + column);
      DrawLabel(g, label, text, ToRectF(cell), true);
    }
  }
  if (m_hWnd) Invalidate(FALSE);
}

void CSourceSetupDlg::OnPaint() {
  CPaintDC dc(this);
  if (m_pixels.empty()) return;
  winDIB dib(dc);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(m_pixels.data()), nullptr, m_nWidth, m_nHeight, 32);
  // Below the title bar, which paints itself.
  const CRect area(0, kTop, m_nWidth, m_nHeight);
  dib.srcRect() = area;
  dib.dstRect() = area;
  dib.copyToDisplay();
}

void CSourceSetupDlg::OnLButtonDown(UINT flags, CPoint point) {
  if (SelectAt(point)) {
    Draw();
    return;
  }
  CDialogX::OnLButtonDown(flags, point);
}

void CSourceSetupDlg::OnCaptureFilter() {
  if (m_bLive && m_pCapture) m_pCapture->ShowCaptureFilterPages();
}

void CSourceSetupDlg::OnCapturePin() {
  if (m_bLive && m_pCapture) m_pCapture->ShowCapturePinPages();
}
