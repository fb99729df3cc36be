#include "object_edit_dlg.h"

#include <algorithm>
#include <string>

#include "calibration/calibration_data_store.h"
#include "object_properties.h"
#include "win/app.h"
#include "win/dialog.h"

namespace {

// 309 x 276 dialog units; the one control is the image view, placed by
// OnInitDialog below the title bar.
win::DialogTemplate ObjectEditTemplate() {
  win::DialogTemplate t;
  t.id = CObjectEditDlg::IDD;
  t.style = WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 309;
  t.cy = 276;
  t.caption = "Calibration Object Editor";
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {
      {"STATIC", CObjectEditDlg::kViewId, "", 40, 26, 262, 200, WS_VISIBLE},
  };
  return t;
}

// The template and the select-mode cursor come with the class. Cursor 148 is
// a cross: the user aims at a board corner with it.
const bool g_registered = [] {
  win::RegisterDialogTemplate(ObjectEditTemplate());
  win::RegisterCursorResource(CObjectEditDlg::kSelectCursor, IDC_CROSS);
  return true;
}();

struct ToolButton {
  const char* image;
  const char* tooltip;
  UINT id;
};

constexpr ToolButton kGridButtons[] = {
    {"\\Graphics\\button_gridselect.png", "Select grid", ObjectEditorModel::kSelectGrid},
    {"\\Graphics\\button_gridreset.png", "Reset points", ObjectEditorModel::kResetPoints},
    {"\\Graphics\\button_gridsettings.png", "Calibration grid properties", ObjectEditorModel::kGridProperties},
    {"\\Graphics\\button_objedit_magnify.png", "Magnify", ObjectEditorModel::kMagnify},
    {"\\Graphics\\button_objedit_adddistortion.png", "More distortion", ObjectEditorModel::kMoreDistortion},
    {"\\Graphics\\button_objedit_subdistortion.png", "Less distortion", ObjectEditorModel::kLessDistortion},
};
constexpr ToolButton kImageButtons[] = {
    {"\\Graphics\\button_gridstepback.png", "Prev image", ObjectEditorModel::kPrevImage},
    {"\\Graphics\\button_gridstepforward.png", "Next image", ObjectEditorModel::kNextImage},
};

constexpr Gdiplus::ARGB kLabelColour = 0xFF0000FF;
constexpr Gdiplus::ARGB kPointColour = 0xFFFF0000;
constexpr Gdiplus::ARGB kMarkColour = 0xFFFF00FF;
constexpr Gdiplus::ARGB kCornerLineColour = 0xFF00FF00;
constexpr Gdiplus::ARGB kEmptyViewColour = 0xFF404040;

Gdiplus::PointF F(const ObjectEditorModel::ViewPoint& p) {
  return {static_cast<REAL>(p.x), static_cast<REAL>(p.y)};
}

}  // namespace

// ---- The view ----

BEGIN_MESSAGE_MAP(CObjectEditView, CStatic)
ON_WM_ERASEBKGND()
ON_WM_PAINT()
END_MESSAGE_MAP()

void CObjectEditView::OnPaint() {
  {
    CPaintDC dc(this);
  }
  if (m_pEditor) m_pEditor->DrawView();
}

// ---- The editor ----

BEGIN_MESSAGE_MAP(CObjectEditDlg, CDialogX)
ON_WM_LBUTTONDOWN()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_RBUTTONDOWN()
ON_WM_RBUTTONUP()
ON_WM_SETCURSOR()
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CObjectEditDlg::CObjectEditDlg(CWnd* parent) : CDialogX(IDD, parent, "Calibration Object Editor", 1, nullptr) {
  // Closing must hide the editor, never end it: the main window keeps it.
  SetModeless(true);
  m_view.SetEditor(this);
}

CObjectEditDlg::~CObjectEditDlg() {
  m_view.SetEditor(nullptr);
  m_pGraphics.reset();
  // Children before the objects they paint from.
  if (m_pInfo && m_pInfo->m_hWnd) m_pInfo->DestroyWindow();
  delete m_pInfo;
  if (m_pEdit && m_pEdit->m_hWnd) m_pEdit->DestroyWindow();
  delete m_pEdit;
  Cleanup();
  if (m_hWnd) DestroyWindow();
}

void CObjectEditDlg::DoDataExchange(CDataExchange* dx) {
  CDialogX::DoDataExchange(dx);
  DDX_Control(dx, kViewId, m_view);
}

BOOL CObjectEditDlg::OnInitDialog() {
  CDialogX::OnInitDialog();
  CRect client;
  GetClientRect(&client);

  m_view.MoveWindow(59, 40, client.Width() - 69, client.Height() - 99);
  m_view.GetClientRect(&m_rcViewClient);
  m_rcView = m_rcViewClient;
  m_view.MapWindowPoints(this, &m_rcView);
  m_model.SetViewSize(m_rcViewClient.Width(), m_rcViewClient.Height());

  m_pGraphics = std::make_unique<Gdiplus::Graphics>(m_view.m_hWnd);
  m_pGraphics->SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
  m_pGraphics->SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);

  // The toolbars' buttons belong to this dialog, so their clicks arrive here.
  const CString appPath = GetAppPath();
  m_gridToolbar.m_bVertical = true;
  m_gridToolbar.SetParent(this);
  m_gridToolbar.SetAppPath(appPath);
  m_gridToolbar.Create("Toolbar Windows", WS_CHILD | WS_VISIBLE, CRect(10, 40, 58, client.Height() - 10), this,
                       kGridToolbarId);
  m_gridToolbar.Initialize(8, 2);
  m_gridToolbar.ShowWindow(SW_SHOW);
  for (const ToolButton& b : kGridButtons) m_gridToolbar.AddButton(appPath + b.image, b.tooltip, b.id);

  m_imageToolbar.m_bVertical = false;
  m_imageToolbar.SetParent(this);
  m_imageToolbar.SetAppPath(appPath);
  m_imageToolbar.Create("Toolbar Windows", WS_CHILD | WS_VISIBLE,
                        CRect(m_rcView.left, m_rcView.bottom + 1, m_rcView.right, m_rcView.bottom + 49), this,
                        kImageToolbarId);
  m_imageToolbar.Initialize(8, 2);
  for (const ToolButton& b : kImageButtons) m_imageToolbar.AddButton(appPath + b.image, b.tooltip, b.id);

  if (!m_pEdit) m_pEdit = new CEdit;
  if (!m_pEdit->m_hWnd) {
    m_pEdit->Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_CENTER, CRect(15, 282, 53, 302), this,
                    kEditId);
    m_pEdit->SetFont(GetDialogFont());
  }
  ShowDistortionText();

  m_pLabelFont = std::make_unique<Gdiplus::Font>("Verdana", 14.0f, Gdiplus::FontStyleRegular);
  m_pLabelBrush = std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(kLabelColour));
  m_pBoardPen = std::make_unique<Gdiplus::Pen>(Gdiplus::Color(kLabelColour), 2.0f);
  m_pPointPen = std::make_unique<Gdiplus::Pen>(Gdiplus::Color(kPointColour), 2.0f);

  // At the template's width the label would start over the Next button: it
  // then starts 5 px right of the image toolbar's last button.
  int infoLeft = m_rcView.right - 350;
  for (CHoverButtonEx* b : m_imageToolbar.Buttons()) {
    CRect rc;
    b->GetWindowRect(&rc);
    ScreenToClient(&rc);
    if (infoLeft < rc.right + 5 && rc.left < m_rcView.right - 5) infoLeft = rc.right + 5;
  }
  if (!m_pInfo) m_pInfo = new CStaticEx;
  if (!m_pInfo->m_hWnd)
    m_pInfo->Create("Info Static", WS_CHILD | WS_VISIBLE,
                    CRect(infoLeft, m_rcView.bottom + 6, m_rcView.right - 5, m_rcView.bottom + 44), this, kInfoId);
  m_pInfo->Initialize(7);
  m_pInfo->ShowWindow(SW_SHOW);
  return TRUE;
}

void CObjectEditDlg::OnCameraImagesAdded(int camera) {
  // A popup of its own: the data view's redraw after a grab never reaches it.
  if (camera == m_model.Camera() && m_view.m_hWnd) m_view.Invalidate(FALSE);
}

void CObjectEditDlg::ShowDistortionText() {
  if (m_pEdit && m_pEdit->m_hWnd) m_pEdit->SetWindowText(m_model.DistortionText().c_str());
}

// ---- Drawing ----

void CObjectEditDlg::DrawView() {
  if (!m_pGraphics || !m_view.m_hWnd) return;
  const ObjectEditorModel::Scene scene = m_model.BuildScene();
  const auto w = static_cast<REAL>(m_rcViewClient.Width());
  const auto h = static_cast<REAL>(m_rcViewClient.Height());
  Gdiplus::Bitmap* bitmap =
      scene.visible ? m_model.DataStore()->GetCameraImageBitmap(scene.camera, scene.image) : nullptr;
  if (!bitmap) {
    // The view draws no background of its own: an empty one is filled.
    Gdiplus::SolidBrush empty{Gdiplus::Color(kEmptyViewColour)};
    m_pGraphics->FillRectangle(&empty, 0.0f, 0.0f, w, h);
    return;
  }
  m_pGraphics->DrawImage(bitmap, Gdiplus::RectF(0.0f, 0.0f, w, h), static_cast<REAL>(scene.sourceX),
                         static_cast<REAL>(scene.sourceY), static_cast<REAL>(scene.sourceWidth),
                         static_cast<REAL>(scene.sourceHeight), Gdiplus::UnitPixel);
  if (scene.detected) {
    static const wchar_t* const kLabels[3] = {L"X", L"Y", L"O"};
    for (int i = 0; i < 3; ++i)
      m_pGraphics->DrawString(kLabels[i], 1, m_pLabelFont.get(), F(scene.labels[i]), m_pLabelBrush.get());
    const Gdiplus::PointF o = F(scene.origin);
    m_pGraphics->DrawEllipse(m_pBoardPen.get(), o.X - 3.5f, o.Y - 3.5f, 7.0f, 7.0f);
    for (int i = 0; i < 4; ++i)
      m_pGraphics->DrawLine(m_pBoardPen.get(), F(scene.outline[i]), F(scene.outline[(i + 1) % 4]));
  }
  for (size_t i = 0; i < scene.corners.size(); ++i) {
    ObjectEditorModel::ClickResult mark;
    mark.cornerPicked = true;
    mark.corner = scene.corners[i];
    mark.hasPrevious = i > 0;
    if (mark.hasPrevious) mark.previous = scene.corners[i - 1];
    DrawMarks(mark);
  }
  for (const auto& p : scene.points) {
    const Gdiplus::PointF q = F(p);
    m_pGraphics->DrawEllipse(m_pPointPen.get(), q.X - 2.0f, q.Y - 2.0f, 5.0f, 5.0f);
  }
  if (m_pInfo && m_pInfo->m_hWnd) m_pInfo->SetText(m_model.InfoText().c_str());
}

void CObjectEditDlg::DrawMarks(const ObjectEditorModel::ClickResult& click) {
  if (!m_pGraphics || !click.cornerPicked) return;
  Gdiplus::Pen mark(Gdiplus::Color(kMarkColour), 2.0f);
  const Gdiplus::PointF c = F(click.corner);
  m_pGraphics->DrawEllipse(&mark, c.X - 5.0f, c.Y - 5.0f, 11.0f, 11.0f);
  Gdiplus::Pen line(Gdiplus::Color(kCornerLineColour), 2.0f);
  if (click.hasPrevious) m_pGraphics->DrawLine(&line, F(click.previous), c);
  if (click.closed) m_pGraphics->DrawLine(&line, c, F(click.first));
}

// ---- Input ----

ObjectEditorModel::ViewPoint CObjectEditDlg::ToView(CPoint point) const {
  return {static_cast<double>(point.x - m_rcView.left), static_cast<double>(point.y - m_rcView.top)};
}

void CObjectEditDlg::OnLButtonDown(UINT flags, CPoint point) {
  const ObjectEditorModel::ClickResult click =
      m_model.LeftButtonDown(ToView(point), m_rcView.PtInRect(point) != FALSE, (flags & MK_CONTROL) != 0);
  DrawMarks(click);
  if (click.redraw) m_view.Invalidate(FALSE);
  CDialogX::OnLButtonDown(flags, point);
}

void CObjectEditDlg::OnMouseMove(UINT flags, CPoint point) {
  if (m_model.MouseMove(ToView(point), m_rcView.PtInRect(point) != FALSE, (flags & MK_LBUTTON) != 0,
                        (flags & MK_RBUTTON) != 0, (flags & MK_CONTROL) != 0))
    DrawView();
  CDialogX::OnMouseMove(flags, point);
}

void CObjectEditDlg::OnLButtonUp(UINT flags, CPoint point) {
  m_model.LeftButtonUp();
  CDialogX::OnLButtonUp(flags, point);
}

void CObjectEditDlg::OnRButtonDown(UINT flags, CPoint point) {
  // The message itself says the right button is down.
  m_model.RightButtonDown(ToView(point), true);
  (void)flags;
  Default();
}

void CObjectEditDlg::OnRButtonUp(UINT, CPoint) {
  m_model.RightButtonUp();
  Default();
}

BOOL CObjectEditDlg::OnSetCursor(CWnd* wnd, UINT hitTest, UINT message) {
  if (m_model.SelectMode()) {
    ::SetCursor(LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(kSelectCursor)));
    return TRUE;
  }
  return CDialogX::OnSetCursor(wnd, hitTest, message);
}

// ---- Commands ----

BOOL CObjectEditDlg::OnCommand(WPARAM wp, LPARAM lp) {
  const int id = LOWORD(wp), code = HIWORD(wp);
  switch (id) {
    case ObjectEditorModel::kGridProperties:
      if (code == BN_CLICKED) EditGridProperties();
      return TRUE;
    case ObjectEditorModel::kMagnify:
      if (code != BN_CLICKED && code != ObjectEditorModel::kDoubleClicked) return TRUE;
      if (m_model.ExecuteCommand(id, code)) DrawView();
      return TRUE;
    case ObjectEditorModel::kSelectGrid:
    case ObjectEditorModel::kResetPoints:
    case ObjectEditorModel::kMoreDistortion:
    case ObjectEditorModel::kLessDistortion:
    case ObjectEditorModel::kPrevImage:
    case ObjectEditorModel::kNextImage:
      if (code != BN_CLICKED) return TRUE;
      if (m_model.ExecuteCommand(id, code)) m_view.Invalidate(FALSE);
      ShowDistortionText();
      return TRUE;
    default:
      return CDialogX::OnCommand(wp, lp);
  }
}

void CObjectEditDlg::EditGridProperties() {
  if (!m_model.CameraSelected()) return;
  CalibrationDataStore* store = m_model.DataStore();
  const int camera = m_model.Camera();
  const CalibrationObjectSettings s = store->GetObjectSettings(camera);
  CObjectProperties dialog(this);
  dialog.SetAppPath(GetAppPath());
  dialog.SetValues(s.squareSizeX, s.squareSizeY, s.squaresX, s.squaresY, s.windowX, s.windowY);
  if (dialog.DoModal() != IDOK) return;
  const CalibrationObjectSettings v = dialog.GetValues();
  store->SetObjectSettings(camera, v.squareSizeX, v.squareSizeY, v.squaresX, v.squaresY, v.windowX, v.windowY);
}

void CObjectEditDlg::OnOK() {
  if (!m_pEdit || !m_pEdit->m_hWnd) return;
  CString text;
  m_pEdit->GetWindowText(text);
  if (!m_model.EnterDistortionText(text.GetString())) ShowDistortionText();
  Invalidate(FALSE);
  m_view.Invalidate(FALSE);
}
