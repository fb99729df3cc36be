#include "quorlmfc/dialog_x.h"

#include "MVG/gdi_image_files.h"
#include "quorlmfc/app_folder.h"
#include "skinned_button.h"

IMPLEMENT_DYNCREATE(CDialogX, CDialog)

BEGIN_MESSAGE_MAP(CDialogX, CDialog)
ON_WM_CTLCOLOR()
ON_WM_LBUTTONDOWN()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_PARENTNOTIFY()
ON_WM_SHOWWINDOW()
END_MESSAGE_MAP()

namespace {
constexpr COLORREF kDialogGrey = RGB(160, 160, 160);
}  // namespace

CDialogX::CDialogX(UINT templateId, CWnd* parent, const char* title, int titleBarType, CFont* font)
    : CDialog(templateId, parent),
      m_nTitleBarType(titleBarType),
      m_strTitle(title ? title : "DialogX Window"),
      m_pFont(font) {
  m_brush.CreateSolidBrush(kDialogGrey);
}

CDialogX::~CDialogX() {
  Cleanup();
  // The window (and the title bar's) goes while this class's handlers and
  // members still exist.
  if (m_hWnd) DestroyWindow();
}

void CDialogX::SetAppPath(CString folder) {
  m_strAppPath = folder;
  m_bAppPathSet = true;
}

void CDialogX::SetInitialWindowRect(RECT rect, bool use) {
  m_rcInitial = rect;
  m_bUseInitialRect = use;
}

void CDialogX::InitializeButton(CHoverButtonEx* button, CRect rect, HRGN region, const char* imagePath,
                                const char* tooltip, UINT id, int backgroundMode, COLORREF colour) {
  QuorlMFC::MakeSkinnedButton(button, {this, BS_OWNERDRAW, SW_SHOW}, rect, region, imagePath, tooltip, id,
                              backgroundMode, colour);
}

BOOL CDialogX::OnInitDialog() {
  CDialog::OnInitDialog();
  if (m_bUseInitialRect) MoveWindow(&m_rcInitial, FALSE);
  if (!m_bAppPathSet) SetAppPath(QuorlMFC::ApplicationFolder());
  Cleanup();
  CRect client;
  GetClientRect(&client);
  if (!m_pFont) {
    m_pFont = new CFont;
    m_pFont->CreateFont(13, 5, 0, 0, 400, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, FF_SWISS, "Verdana");
    m_bOwnsFont = true;
  }
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_pFont->m_hObject), TRUE);
  if (!m_pTitleBar) {
    m_pTitleBar = new CTitleBar(nullptr);
    m_rcDrag = client;
    m_rcDrag.bottom = kTitleBarHeight;
    m_pTitleBar->Create("Dummy Text", SS_OWNERDRAW | WS_CHILD, m_rcDrag, this, kTitleBarId);
    m_pTitleBar->SetParent(this);
    m_pTitleBar->SetAppPath(m_strAppPath);
    m_pTitleBar->Initialize(10, m_nTitleBarType);
    m_pTitleBar->SetText(m_strTitle);
    m_pTitleBar->SetWindowText(m_strTitle);
    m_pTitleBar->ShowWindow(SW_SHOW);
  }
  m_bInitialized = true;
  return TRUE;
}

void CDialogX::TerminateWindow() {
  if (m_bModeless) {
    ShowWindow(SW_HIDE);
    return;
  }
  Cleanup();
  OnCancel();
}

void CDialogX::MinimizeWindow() { ShowWindow(SW_MINIMIZE); }

void CDialogX::Cleanup() {
  if (m_bOwnsFont) {
    delete m_pFont;
    m_pFont = nullptr;
    m_bOwnsFont = false;
  }
  if (m_pTitleBar) {
    CTitleBar* bar = m_pTitleBar;
    m_pTitleBar = nullptr;
    win::DestroyWindowLater(bar);
  }
}

HBRUSH CDialogX::OnCtlColor(CDC* dc, CWnd* wnd, UINT type) {
  HBRUSH brush = CDialog::OnCtlColor(dc, wnd, type);
  if (type == CTLCOLOR_DLG || type == CTLCOLOR_STATIC) {
    dc->SetBkMode(TRANSPARENT);
    return m_brush;
  }
  return brush;
}

void CDialogX::OnLButtonDown(UINT flags, CPoint point) {
  if (GDI::IsPointInRect(point.x, point.y, &m_rcDrag)) {
    SetCapture();
    m_ptDragStart = point;
    m_bDragging = true;
  }
  CDialog::OnLButtonDown(flags, point);
}

void CDialogX::OnMouseMove(UINT flags, CPoint point) {
  if ((flags & MK_LBUTTON) && m_bDragging) {
    // From the window rectangle in MoveWindow's own coordinates, so the move
    // does not depend on how the placement's work-area origin is emulated.
    CRect rc;
    GetWindowRect(&rc);
    if ((GetStyle() & WS_CHILD) && GetParent()) GetParent()->ScreenToClient(&rc);
    rc.OffsetRect(point.x - m_ptDragStart.x, point.y - m_ptDragStart.y);
    MoveWindow(&rc, TRUE);
  }
  CDialog::OnMouseMove(flags, point);
}

void CDialogX::OnLButtonUp(UINT flags, CPoint point) {
  m_bDragging = false;
  ReleaseCapture();
  CDialog::OnLButtonUp(flags, point);
}

void CDialogX::OnShowWindow(BOOL show, UINT status) {
  CDialog::OnShowWindow(show, status);
  // Cleanup may have released the title bar before the dialog is hidden.
  if (m_pTitleBar && m_pTitleBar->m_hWnd) m_pTitleBar->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

// ---- Message box ----------------------------------------------------------

IMPLEMENT_DYNAMIC(CDialogXMsgBox, CDialogX)

BEGIN_MESSAGE_MAP(CDialogXMsgBox, CDialogX)
END_MESSAGE_MAP()

CDialogXMsgBox::CDialogXMsgBox(CWnd* parent, const char* text, const char* caption)
    : CDialogX(kTemplateId, parent, caption, 1, nullptr), m_strText(text ? text : "") {}

CDialogXMsgBox::~CDialogXMsgBox() {
  // The label's window is a child of this one: both go before the label.
  Cleanup();
  if (m_hWnd) DestroyWindow();
}

BOOL CDialogXMsgBox::OnInitDialog() {
  CDialogX::OnInitDialog();
  CRect rc;
  GetClientRect(&rc);
  if (!m_label.m_hWnd)
    m_label.Create("Status", 7 | WS_CHILD, CRect(rc.left + 5, rc.top + 40, rc.right - 5, rc.bottom - 60), this, kLabelId);
  m_label.Initialize(8);
  m_label.PaintBackBuffer();
  m_label.SetText(m_strText);
  m_label.ShowWindow(SW_SHOW);
  return TRUE;
}
