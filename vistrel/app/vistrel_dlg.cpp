#include "vistrel_dlg.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "MVG/gdi_image_files.h"
#include "gdiplus/gdiplus.h"
#include "quorl/paths.h"
#include "project_commands.h"
#include "relative_orientation_dlg.h"
#include "source_dialogs.h"
#include "sync_player_dlg.h"
#include "win/dialog.h"
#include "win/prompts.h"

namespace {

// The window is moved onto the work area in OnInitDialog; the template's
// size only matters until then.
win::DialogTemplate MainTemplate() {
  win::DialogTemplate t;
  t.id = CVistrelDlg::IDD;
  t.style = WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT;
  t.x = 0;
  t.y = 0;
  t.cx = 640;
  t.cy = 420;
  t.caption = "Vistrel Toolkit";
  t.fontFace = "MS Shell Dlg";
  t.fontPoints = 8;
  return t;
}

const bool g_registered = [] {
  win::RegisterDialogTemplate(MainTemplate());
  return true;
}();

// Screenshots, each at its window's client size.
constexpr int kClientSize = -10;

// An icon from a PNG with alpha; null when the file does not load.
HICON IconFromFile(const std::string& path) {
  Gdiplus::Bitmap bitmap(path.c_str());
  if (bitmap.GetLastStatus() != Gdiplus::Ok || bitmap.GetWidth() == 0) return nullptr;
  Gdiplus::BitmapData data{};
  if (bitmap.LockBits(nullptr, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) != Gdiplus::Ok) return nullptr;
  // CreateBitmap takes rows of width x 4 bytes, without padding.
  std::string rows(static_cast<size_t>(data.Width) * data.Height * 4, '\0');
  for (UINT y = 0; y < data.Height; ++y)
    std::memcpy(&rows[static_cast<size_t>(y) * data.Width * 4], static_cast<const char*>(data.Scan0) + static_cast<size_t>(y) * data.Stride,
                static_cast<size_t>(data.Width) * 4);
  bitmap.UnlockBits(&data);
  HBITMAP colour = CreateBitmap(static_cast<int>(data.Width), static_cast<int>(data.Height), 1, 32, rows.data());
  ICONINFO info{TRUE, 0, 0, nullptr, colour};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  return icon;
}

// A point of this window's client area in a view's own coordinates.
CPoint InView(CPoint point, const CRect& view) { return CPoint(point.x - view.left, point.y - view.top); }

}  // namespace

BEGIN_MESSAGE_MAP(CVistrelDlg, CDialogX)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONDBLCLK()
ON_WM_KEYDOWN()
ON_COMMAND(CVistrelDlg::kOpen, OnOpen)
ON_COMMAND(CVistrelDlg::kSave, OnSave)
ON_COMMAND(CVistrelDlg::kConnect, OnConnect)
ON_COMMAND(CVistrelDlg::kOptions, OnOptions)
ON_COMMAND(CVistrelDlg::kOptionsCommand, OnOptions)
ON_COMMAND(CVistrelDlg::kUnused1, OnUnused)
ON_COMMAND(CVistrelDlg::kUnused2, OnUnused)
END_MESSAGE_MAP()

CVistrelDlg::CVistrelDlg(CWnd* parent)
    : CDialogX(IDD, parent, "Vistrel Suite - Morvath", 2, nullptr),
      m_Toolbar(0x414141),
      m_ObjectEditor(this),
      m_Calib3D(this),
      m_Options(this) {}

CVistrelDlg::~CVistrelDlg() {
  if (m_hIcon) DestroyIcon(m_hIcon);
}

BOOL CVistrelDlg::OnInitDialog() {
  RECT work{};
  SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
  MoveWindow(work.left, work.top, work.right - work.left, work.bottom - work.top);
  if (m_strProgramFolder.IsEmpty()) m_strProgramFolder = quorl::ProgramFolder().c_str();

  CDialogX::OnInitDialog();
  if (CTitleBar* bar = GetTitleBar()) {
    Gdiplus::RectF iconRect(4.0f, 2.0f, 26.0f, 25.0f);
    bar->SetIconRect(iconRect);
    bar->SetIconImage(quorl::JoinPath(m_strProgramFolder.str(), "\\Graphics\\icon_cameracalibration.png").c_str());
  }
  LoadIcon();
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);
  SetWindowText("Vistrel Toolkit");

  m_ObjectEditor.SetModeless(true);
  m_ObjectEditor.SetDataStore(&m_Store);
  m_ObjectEditor.Create(CObjectEditDlg::IDD, this);
  m_ObjectEditor.ShowWindow(SW_HIDE);
  m_Calib3D.SetModeless(true);
  m_Calib3D.Create(CCalib3DScene::IDD, this);
  m_Calib3D.ShowWindow(SW_HIDE);

  CRect client;
  GetClientRect(&client);
  LayoutViews(client);

  m_Toolbar.Create("Toolbar Windows", WS_CHILD | WS_VISIBLE, m_rcToolbar, this, kToolbarId);
  m_Toolbar.SetParent(this);
  m_Toolbar.SetAppPath(m_strProgramFolder);
  m_Toolbar.Initialize(8, 2);
  const struct {
    UINT id;
    const char* tooltip;
    const char* image;
  } buttons[] = {
      {kOpen, "Open project / Video file source", "\\Graphics\\button_open.png"},
      {kSave, "Save project", "\\Graphics\\button_save.png"},
      {kConnect, "Connect to video device", "\\Graphics\\button_camera.png"},
      {kOptions, "Project options", "\\Graphics\\button_settings.png"},
  };
  for (const auto& b : buttons)
    m_Toolbar.AddButton(quorl::JoinPath(m_strProgramFolder.str(), b.image).c_str(), b.tooltip, b.id);
  m_Toolbar.ShowWindow(SW_SHOW);

  m_SourcesTitle.Create("Source View Title", WS_CHILD | WS_VISIBLE, m_rcSourcesTitle, this, kSourcesTitleId);
  m_SourcesTitle.SetText("Source View");
  m_SourcesTitle.Initialize(8);
  m_SourcesTitle.ShowWindow(SW_SHOW);

  m_SourcesView.SetApplicationFolder(m_strProgramFolder);
  m_SourcesView.SetDataStore(&m_Store);
  m_SourcesView.SetDataView(&m_DataView, &m_DataView);
  m_SourcesView.SetObjectEditor(&m_ObjectEditor);
  m_SourcesView.Create("Source View", WS_CHILD | WS_VISIBLE, m_rcSourcesView, this, kSourcesViewId);
  m_SourcesView.Create();
  m_SourcesView.ShowWindow(SW_SHOW);

  m_DataTitle.Create("Data View Title", WS_CHILD | WS_VISIBLE, m_rcDataTitle, this, kDataTitleId);
  m_DataTitle.SetText("Calibration Data View");
  m_DataTitle.Initialize(8);
  m_DataTitle.ShowWindow(SW_SHOW);

  m_DataView.SetDataStore(&m_Store);
  m_DataView.SetObjectEditor(&m_ObjectEditor);
  m_DataView.SetSceneTarget(&m_Calib3D);
  m_DataView.SetProgramFolder(m_strProgramFolder.str());
  m_DataView.Create("Data View", WS_CHILD | WS_VISIBLE, m_rcDataView, this, kDataViewId);
  m_DataView.Initialize();
  m_DataView.ShowWindow(SW_SHOW);

  m_bRouteDoubleClicks = true;
  const std::string board = quorl::JoinPath(m_strProgramFolder.str(), "default_calib_plane.txt");
  m_Store.ReadDefaultCalibPlane(board.c_str());
  return TRUE;
}

// Below the title bar: the toolbar, then the sources view and the data view,
// each under its title, across the client width inside the margins. The
// sources view takes two fifths of the height the two views share: the
// data view's image columns need the room more than the video panels.
void CVistrelDlg::LayoutViews(const CRect& client) {
  const int left = client.left + m_nMarginLeft;
  const int right = client.right - m_nMarginRight;
  const int toolbarTop = client.top + CDialogX::kTitleBarHeight + m_nMarginTop;
  // Four 36-pixel buttons two apart, five pixels in from the toolbar's top.
  m_rcToolbar = CRect(left, toolbarTop, left + 4 * 38 + 5, toolbarTop + 46);
  const int top = m_rcToolbar.bottom + m_nSpacing;
  const int bottom = client.bottom - m_nMarginBottom;
  const int views = std::max(0, bottom - top - 2 * m_nTitleHeight - m_nSpacing);
  const int sources = views * 2 / 5;
  m_rcSourcesTitle = CRect(left, top, right, top + m_nTitleHeight);
  m_rcSourcesView = CRect(left, m_rcSourcesTitle.bottom, right, m_rcSourcesTitle.bottom + sources);
  m_rcDataTitle = CRect(left, m_rcSourcesView.bottom + m_nSpacing, right, m_rcSourcesView.bottom + m_nSpacing + m_nTitleHeight);
  m_rcDataView = CRect(left, m_rcDataTitle.bottom, right, std::max<int>(m_rcDataTitle.bottom, bottom));
}

void CVistrelDlg::LoadIcon() {
  if (m_hIcon) return;
  m_hIcon = IconFromFile(quorl::JoinPath(m_strProgramFolder.str(), "\\Graphics\\icon_cameracalibration.png"));
}

void CVistrelDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  CPaintDC dc(this);
  CRect rect;
  GetClientRect(&rect);
  const int x = (rect.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rect.Height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
  if (m_hIcon) dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CVistrelDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

// The views are statics that let presses pass to this window: each press
// is handed to the view under it once, in the view's coordinates. The data
// view is tried first: after R it lies over part of the sources view, and
// being the later sibling it is the one drawn there.
void CVistrelDlg::OnLButtonDown(UINT flags, CPoint point) {
  if (m_DataView.m_hWnd && m_rcDataView.PtInRect(point))
    m_DataView.OnLButtonDown(flags, InView(point, m_rcDataView));
  else if (m_SourcesView.m_hWnd && m_rcSourcesView.PtInRect(point))
    m_SourcesView.PressAt(InView(point, m_rcSourcesView));
  CDialogX::OnLButtonDown(flags, point);
}

void CVistrelDlg::OnLButtonDblClk(UINT flags, CPoint point) {
  if (m_bRouteDoubleClicks && m_DataView.m_hWnd && m_rcDataView.PtInRect(point))
    m_DataView.OnLButtonDblClk(flags, InView(point, m_rcDataView));
}

BOOL CVistrelDlg::PreTranslateMessage(MSG* msg) {
  // Every key-down is the shortcuts' (Enter and Escape included, so they
  // never end the main window). Keys typed into the editor or a modal
  // dialog never come here: those windows are top levels of their own.
  if (msg->message == WM_KEYDOWN) {
    SendMessage(WM_KEYDOWN, msg->wParam, msg->lParam);
    return TRUE;
  }
  return CDialogX::PreTranslateMessage(msg);
}

void CVistrelDlg::OnKeyDown(UINT key, UINT repeat, UINT flags) {
  // A letter key arrives as its upper-case code with or without Shift, so
  // these cases are the letters in either case. The lower-case codes are
  // other keys (0x70 F1, 0x72 F3, 0x77 F8, 0x6F the keypad's divide): folding
  // the case would make them shortcuts too.
  switch (key) {
    case 'W':
      SaveScreenshots();
      break;
    case 'P': {
      CSyncPlayerDlg player(this);
      player.DoModal();
      break;
    }
    case 'O': {
      CRelativeOrientationDlg dialog(this, &m_Store);
      dialog.DoModal();
      break;
    }
    case 'R': {
      CRect client;
      GetClientRect(&client);
      MoveDataView(CRect(60, 350, client.right - 10, client.bottom - 10));
      break;
    }
    default:
      break;
  }
  (void)repeat;
  (void)flags;
  Default();
}

void CVistrelDlg::MoveDataView(const CRect& rect) {
  // Press routing goes by this rectangle: it moves with the view.
  m_rcDataView = rect;
  if (!m_DataView.m_hWnd) return;
  m_DataView.MoveWindow(&m_rcDataView);
  m_DataView.ShowWindow(SW_SHOW);
}

void CVistrelDlg::SaveScreenshots() {
  struct Shot {
    CWnd* window;
    const char* path;
  };
  const Shot shots[] = {
      {this, "C:\\Main.png"},
      {m_ObjectEditor.IsWindowVisible() ? &m_ObjectEditor : nullptr, "C:\\Obj.png"},
      {m_Calib3D.IsWindowVisible() ? &m_Calib3D : nullptr, "C:\\3D.png"},
  };
  for (const Shot& shot : shots) {
    if (!shot.window) continue;
    if (GDI::SaveWindowAsImage(shot.window->GetSafeHwnd(), 0, shot.path, "png", kClientSize, kClientSize)) continue;
    CString text;
    text.Format("Cannot write: %s!", shot.path);
    AfxMessageBox(text);
  }
}

void CVistrelDlg::AddSourceCamera() {
  m_DataView.AddCameraColumn();
  m_Store.AddCamera();
}

void CVistrelDlg::OnOpen() {
  CFileDialog dialog(TRUE, "txt", "Calib Proj", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                     "Calibration Project Files (*.txt)|*.txt|Video Files (*.avi;*.mpg;*.wmv)|*.avi; *.mpg; "
                     "*.wmv|All Files (*.*)|*.*||",
                     this);
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName().str();
  // The Video Files filter offers "clip.AVI" too: extensions match in any case.
  std::string extension = dialog.GetFileExt().str();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "avi" || extension == "mpg" || extension == "wmv") {
    // The sources view tells the user itself when the file does not open.
    if (m_SourcesView.AddFileSource(path.c_str(), dialog.GetFileName()) == 0) AddSourceCamera();
  } else if (extension == "txt") {
    LoadProject(path, m_Store, m_DataView, this);
  }
}

void CVistrelDlg::OnSave() { SaveProject(m_Store, this, m_Options.GetExtension()); }

void CVistrelDlg::OnConnect() {
  CSourceSelectDlg dialog(this);
  dialog.SetAppPath(m_strProgramFolder);
  if (dialog.DoModal() != IDOK || dialog.GetSelectedIndex() == -1) return;
  // The sources view counts devices from 1.
  if (m_SourcesView.AddDeviceSource(dialog.GetSelectedIndex() + 1, dialog.GetSelectedName().c_str()) == 0)
    AddSourceCamera();
}

void CVistrelDlg::OnOptions() { m_Options.DoModal(); }
