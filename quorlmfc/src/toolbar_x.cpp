#include "quorlmfc/toolbar_x.h"

#include "quorlmfc/app_folder.h"
#include "skinned_button.h"

const CRuntimeClass CToolbarX::classCToolbarX = {"CToolbarX", &CStatic::classCStatic};

BEGIN_MESSAGE_MAP(CToolbarX, CStatic)
ON_WM_CTLCOLOR()
ON_WM_PAINT()
END_MESSAGE_MAP()

CToolbarX::CToolbarX(COLORREF background) : m_crBackground(background) {}

CToolbarX::~CToolbarX() {
  if (m_hWnd) DestroyWindow();
  for (CHoverButtonEx* b : m_buttons) delete b;
  delete m_pBrush;
  if (m_hRegion) DeleteObject(m_hRegion);
}

void CToolbarX::SetAppPath(CString folder) {
  m_strAppPath = folder;
  m_bAppPathSet = true;
}

void CToolbarX::SetRegionSize(int width, int height) {
  if (m_hRegion) DeleteObject(m_hRegion);
  m_hRegion = CreateRectRgn(0, 0, width, height);
  m_nButtonWidth = width;
  m_nButtonHeight = height;
}

CWnd* CToolbarX::ButtonParent() const { return m_pParent ? m_pParent : GetParent(); }

void CToolbarX::Initialize(int, int) {
  if (!m_bAppPathSet) SetAppPath(QuorlMFC::ApplicationFolder());
  if (m_bInitialized) return;
  GetClientRect(&m_rcClient);
  m_rcOrigin = m_rcClient;
  MapWindowPoints(ButtonParent(), &m_rcOrigin);
  m_pBrush = new CBrush(m_crBackground);
  SetRegionSize(m_nButtonWidth, m_nButtonHeight);
  m_bInitialized = true;
}

void CToolbarX::AddButton(CString imagePath, CString tooltip, UINT id) {
  auto* button = new CHoverButtonEx;
  const int n = static_cast<int>(m_buttons.size());
  // The step is the button width in both layouts.
  const int step = n * (m_nButtonWidth + 2);
  const int x = m_bVertical ? m_rcOrigin.left + 5 : m_rcOrigin.left + step;
  const int y = m_bVertical ? m_rcOrigin.top + 5 + step : m_rcOrigin.top + 5;
  InitializeButton(button, CRect(x, y, x + m_nButtonWidth, y + m_nButtonHeight), m_hRegion, imagePath, tooltip, id, 1,
                   m_crBackground);
  m_buttons.push_back(button);
}

void CToolbarX::InitializeButton(CHoverButtonEx* button, CRect rect, HRGN, const char* imagePath, const char* tooltip,
                                 UINT id, int backgroundMode, COLORREF colour) {
  QuorlMFC::MakeSkinnedButton(button, {ButtonParent(), BS_OWNERDRAW, SW_SHOWNORMAL}, rect, m_hRegion, imagePath,
                              tooltip, id, backgroundMode, colour);
}

void CToolbarX::OnPaint() {
  CPaintDC dc(this);
  if (m_pBrush) dc.FillRect(&m_rcClient, m_pBrush);
  // Buttons above the toolbar redraw over the fresh background; their
  // paints never reach the toolbar, so this does not cycle.
  for (CHoverButtonEx* b : m_buttons)
    if (b->m_hWnd) b->Invalidate(TRUE);
}
