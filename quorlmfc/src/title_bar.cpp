#include "quorlmfc/title_bar.h"

#include "com/bstr.h"
#include "quorlmfc/app_folder.h"
#include "quorlmfc/dialog_x.h"
#include "quorlmfc/win_dib.h"
#include "skinned_button.h"

const CRuntimeClass CTitleBar::classCTitleBar = {"CTitleBar", &CStaticEx::classCStaticEx};

BEGIN_MESSAGE_MAP(CTitleBar, CStaticEx)
ON_WM_PAINT()
ON_BN_CLICKED(CTitleBar::kExitId, OnBnClickedExit)
ON_BN_CLICKED(CTitleBar::kMinimizeId, OnBnClickedMini)
ON_WM_PARENTNOTIFY()
END_MESSAGE_MAP()

namespace {
// The title bar's background behind the buttons' transparent pixels.
constexpr COLORREF kButtonBackground = 0x2F2F2F;
}  // namespace

CTitleBar::CTitleBar(CWnd* owner) : m_pOwner(owner) {}

CTitleBar::~CTitleBar() {
  // The window and its buttons' windows go first; the owner is not touched.
  if (m_hWnd) DestroyWindow();
}

void CTitleBar::SetAppPath(CString folder) {
  m_strAppPath = folder;
  m_bAppPathSet = true;
}

void CTitleBar::Initialize(int, int type) {
  if (!m_bAppPathSet) SetAppPath(QuorlMFC::ApplicationFolder());
  if (m_bInitialized) return;
  CStaticEx::Initialize(8);
  GetClientRect(&m_rcSize);
  HRGN circle = CreateEllipticRgn(0, 0, 24, 24);
  const int right = m_rcSize.right;
  const CString power = m_strAppPath + "\\Graphics\\button_power.png";
  if (type == 1) {
    InitializeButton(&m_btnExit, CRect(right - 26, 2, right - 2, 26), circle, power, "Exit", kExitId, 1, kButtonBackground);
  } else if (type == 2) {
    InitializeButton(&m_btnMini, CRect(right - 50, 2, right - 26, 26), circle,
                     m_strAppPath + "\\Graphics\\button_minimize.png", "Minimize", kMinimizeId, 1, kButtonBackground);
    InitializeButton(&m_btnExit, CRect(right - 27, 2, right - 3, 26), circle, power, "Exit", kExitId, 1, kButtonBackground);
  }
  DeleteObject(circle);
  m_pBorderPen = std::make_unique<Gdiplus::Pen>(m_borderColour, 2.0f);
  m_bInitialized = true;
}

void CTitleBar::InitializeButton(CHoverButtonEx* button, CRect rect, HRGN region, const char* imagePath,
                                 const char* tooltip, UINT id, int backgroundMode, COLORREF colour) {
  QuorlMFC::MakeSkinnedButton(button, {this, BS_OWNERDRAW | BS_NOTIFY, SW_SHOW}, rect, region, imagePath, tooltip, id,
                              backgroundMode, colour);
}

void CTitleBar::PaintBackBuffer() {
  if (!m_bInitialized || !m_pGraphics) return;
  // The buffer's own rectangle: a widened window stretches it (OnPaint).
  m_pGraphics->FillRectangle(m_pBgBrush.get(), 0, 0, m_rcClient.right, m_rcClient.bottom);
  m_pGraphics->DrawRectangle(m_pBorderPen.get(), 0, 0, m_rcClient.right, m_rcClient.bottom);
  if (m_pIcon) m_pGraphics->DrawImage(m_pIcon.get(), m_rcIcon);
  DrawText();
}

void CTitleBar::OnPaint() {
  CPaintDC dc(this);
  if (m_pixels.empty()) return;
  winDIB dib(dc);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(m_pixels.data()), nullptr, m_nWidth, m_nHeight, 32);
  CRect client;
  GetClientRect(&client);
  dib.srcRect() = m_rcSize;
  dib.dstRect() = client;
  dib.stretchToDisplay();
}

void CTitleBar::SetIconImage(CString path) {
  const std::wstring wide = com::Utf8ToWide(path.GetString());
  auto icon = std::make_unique<Gdiplus::Bitmap>(wide.c_str());
  if (icon->GetLastStatus() == Gdiplus::Ok && icon->GetWidth() > 0) m_pIcon = std::move(icon);
  else m_pIcon.reset();
  PaintBackBuffer();
}

void CTitleBar::SetIconRect(Gdiplus::RectF& rect) {
  m_rcIcon = rect;
  m_layout.X += rect.X + rect.Width + 5;
}

void CTitleBar::OnBnClickedExit() {
  if (auto* dialog = dynamic_cast<CDialogX*>(m_pOwner)) dialog->TerminateWindow();
}

void CTitleBar::OnBnClickedMini() {
  if (auto* dialog = dynamic_cast<CDialogX*>(m_pOwner)) dialog->MinimizeWindow();
}
