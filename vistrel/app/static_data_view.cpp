#include "static_data_view.h"

#include <algorithm>
#include <cstdio>

#include "app_core/panel_texts.h"
#include "app_core/source_cameras.h"
#include "calib_scene_target.h"
#include "calibration/calibration_data_store.h"
#include "image_list_control.h"
#include "object_edit_dlg.h"
#include "quorl/paths.h"
#include "quorlmfc/win_dib.h"
#include "source_details_panel.h"
#include "calibration_commands.h"

const CRuntimeClass CStaticDataView::classCStaticDataView = {"CStaticDataView", &CStatic::classCStatic};

BEGIN_MESSAGE_MAP(CStaticDataView, CStatic)
ON_WM_PAINT()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONDBLCLK()
END_MESSAGE_MAP()

namespace {

constexpr const char* kNotCalibrated = "Not calibrated.";
// What a panel inserted for a source's new stream shows until it is
// calibrated or refreshed.
constexpr const char* kInsertedText = "Image files";

struct ToolButton {
  UINT id;
  const char* tooltip;
  const char* image;
};
constexpr ToolButton kButtons[] = {
    {CStaticDataView::kInsertCamera, "Insert new camera...", "\\Graphics\\button_data_insert_camera.png"},
    {CStaticDataView::kLoadCameraParameters, "Load camera parameters", "\\Graphics\\button_open_param.png"},
    {CStaticDataView::kCalibrate, "Calibrate", "\\Graphics\\button_calib.png"},
    {CStaticDataView::kCalibrateStereo, "Calibrate Stereo", "\\Graphics\\button_calib2.png"},
    {CStaticDataView::kShow3DView, "Show 3D view", "\\Graphics\\button_show_extrinsics.png"},
};

// Stands in for the 3D dialog until the main dialog hands its own over.
class NoScenes : public ICalibSceneTarget {
 public:
  void AddScene(int, CCamera, double*, double*, int, int, int, double, std::vector<IplImage*>&) override {}
  void AddStereoScene(int, CStereoCamera, double*, double*, int, int, int, double, std::vector<IplImage*>&,
                      std::vector<IplImage*>&) override {}
  void RemoveScene(int) override {}
  int GetShownKey() const override { return -1; }
  void OnEntryInserted(int) override {}
  void OnEntryRemoved(int) override {}
  void ShowResults() override {}
};

CRect ToRect(const StripRect& r) { return CRect(r.left, r.top, r.right, r.bottom); }

std::string CameraTitle(int camera) {
  char title[32];
  std::snprintf(title, sizeof title, "Camera %d", camera + 1);
  return title;
}

}  // namespace

struct CStaticDataView::Column {
  CImageListControl list;
  CSourceDetailsPanel panel;
};

CStaticDataView::CStaticDataView()
    : m_strProgramFolder(quorl::ProgramFolder()), m_pNoScenes(std::make_unique<NoScenes>()) {}

CStaticDataView::~CStaticDataView() {
  // The columns' windows go first, while their parent still exists; no
  // paint may reach the buffer once it is gone.
  m_pCommands.reset();
  m_columns.clear();
  if (m_hWnd) DestroyWindow();
  FreeBuffer();
}

void CStaticDataView::SetDataStore(CalibrationDataStore* store) {
  m_pStore = store;
  m_pCommands.reset();
}

void CStaticDataView::SetSceneTarget(ICalibSceneTarget* scenes) {
  m_pScenes = scenes;
  m_pCommands.reset();
}

void CStaticDataView::FreeBuffer() {
  // The graphics draws on the bitmap, which lies over the pixels.
  m_pGraphics.reset();
  m_pBitmap.reset();
  m_pixels.clear();
  m_nWidth = m_nHeight = 0;
}

void CStaticDataView::Initialize() {
  if (!m_hWnd) return;
  CRect client;
  GetClientRect(&client);
  FreeBuffer();
  m_nWidth = std::max(0, static_cast<int>(client.right));
  m_nHeight = std::max(0, static_cast<int>(client.bottom));
  m_pixels.assign(static_cast<size_t>(m_nWidth) * m_nHeight, kBackground);
  if (m_nWidth > 0 && m_nHeight > 0) {
    m_pBitmap = std::make_unique<Gdiplus::Bitmap>(m_nWidth, m_nHeight, 4 * m_nWidth, PixelFormat32bppARGB,
                                                  reinterpret_cast<BYTE*>(m_pixels.data()));
    m_pGraphics = std::make_unique<Gdiplus::Graphics>(m_pBitmap.get());
  }

  if (!m_toolbar.m_hWnd) {
    // Below the panel strip, left of the separator: one row of five.
    const int top = m_nHeight - 10 - (kButtonSize + 10);
    m_toolbar.m_bVertical = false;
    m_toolbar.SetParent(this);
    m_toolbar.SetRegionSize(kButtonSize, kButtonSize);
    m_toolbar.SetAppPath(m_strProgramFolder.c_str());
    m_toolbar.Create("Toolbar Windows", WS_CHILD | WS_VISIBLE,
                     CRect(PanelStripLayout::kLeft, top, PanelStripLayout::kRight, m_nHeight - 10), this, kToolbarId);
    m_toolbar.Initialize(8, 2);
    m_toolbar.ShowWindow(SW_SHOW);
    for (const ToolButton& b : kButtons)
      m_toolbar.AddButton(quorl::JoinPath(m_strProgramFolder, b.image).c_str(), b.tooltip, b.id);
  }
  RepaintBackBuffer();
  Invalidate(FALSE);
}

void CStaticDataView::RepaintBackBuffer() {
  if (!m_pGraphics) return;
  Gdiplus::SolidBrush background{Gdiplus::Color(kBackground)};
  m_pGraphics->FillRectangle(&background, 0, 0, m_nWidth, m_nHeight);
  Gdiplus::Pen separator(Gdiplus::Color(kSeparatorColour), 1.0f);
  m_pGraphics->DrawLine(&separator, kSeparatorX, 10, kSeparatorX, m_nHeight - 10);
  const int selected = m_layout.Selected();
  if (selected >= 0) {
    // One pixel outside the panel all round.
    const StripRect r = m_layout.Panel(selected);
    Gdiplus::Pen frame(Gdiplus::Color(kSelectionColour), 1.0f);
    m_pGraphics->DrawRectangle(&frame, r.left - 1, r.top - 1, r.right - r.left + 1, r.bottom - r.top + 1);
  }
}

void CStaticDataView::OnPaint() {
  CPaintDC dc(this);
  if (m_pixels.empty()) return;
  const CRect all(0, 0, m_nWidth, m_nHeight);
  winDIB dib(dc);
  dib.frameBuffer(reinterpret_cast<unsigned char*>(m_pixels.data()), nullptr, m_nWidth, m_nHeight, 32);
  dib.srcRect() = all;
  dib.dstRect() = all;
  dib.copyToDisplay();
}

// ---- Columns ------------------------------------------------------------

std::unique_ptr<CStaticDataView::Column> CStaticDataView::MakeColumn(int entry, const std::string& title,
                                                                     const std::string& text) {
  auto column = std::make_unique<Column>();
  column->list.Create("Video Player", WS_CHILD | WS_VISIBLE, ToRect(PanelStripLayout::Column(entry, m_nHeight)), this,
                      m_ids.NextImageListId());
  column->list.SetDataStore(m_pStore);
  column->list.SetAppPath(m_strProgramFolder.c_str());
  column->panel.Create("Source Panel", WS_CHILD | WS_VISIBLE, ToRect(m_layout.Panel(entry)), this,
                       m_ids.NextPanelId());
  column->panel.SetColour(kPanelColour);
  column->panel.SetText(title.c_str(), text.c_str());
  return column;
}

void CStaticDataView::AddCameraColumn() {
  const int entry = GetColumnCount();
  // Normally the store appends the camera right after this; a loader that
  // filled the store first already holds a camera at this entry.
  int camera = entry;
  if (m_pStore) {
    camera = entry < m_pStore->GetEntryCount() && m_pStore->GetEntryKind(entry) == kMonoCameraEntry
                 ? m_pStore->GetMonoCameraOrdinal(entry)
                 : m_pStore->GetMonoCameraCount();
  }
  m_layout.Add();
  auto column = MakeColumn(entry, CameraTitle(camera), kNotCalibrated);
  column->list.SetCurrentCamera(camera);
  column->list.Initialize();
  m_columns.push_back(std::move(column));
  RepaintBackBuffer();
  Invalidate(FALSE);
}

void CStaticDataView::BuildStereoRigPanel(int entryA, int entryB) {
  const int entry = GetColumnCount();
  auto cameraOf = [this](int e) {
    return m_pStore && m_pStore->GetEntryKind(e) == kMonoCameraEntry ? m_pStore->GetMonoCameraOrdinal(e) : -1;
  };
  char title[32];
  std::snprintf(title, sizeof title, "Stereo Rig %d", entry + 1);
  m_layout.Add();
  auto column = MakeColumn(entry, title, kNotCalibrated);
  column->list.SetStereoCameras(cameraOf(entryA), cameraOf(entryB));
  column->list.Initialize();
  m_columns.push_back(std::move(column));
  RepaintBackBuffer();
  Invalidate(FALSE);
}

void CStaticDataView::InsertCameraColumn(int entry) {
  if (entry < 0 || entry > GetColumnCount()) return;
  m_layout.Insert(entry);
  const std::string title = m_pStore ? EntryTitle(*m_pStore, entry) : std::string();
  auto column = MakeColumn(entry, title, kInsertedText);
  column->list.Initialize();
  m_columns.insert(m_columns.begin() + entry, std::move(column));
  if (m_pScenes) m_pScenes->OnEntryInserted(entry);
  Relayout(true);
}

void CStaticDataView::RemoveCameraColumn(int entry) {
  if (entry < 0 || entry >= GetColumnCount()) return;
  m_layout.Remove(entry);
  m_columns.erase(m_columns.begin() + entry);
  if (m_pScenes) m_pScenes->OnEntryRemoved(entry);
  Relayout(true);
}

void CStaticDataView::PointImageList(int entry) {
  if (!m_pStore || entry < 0 || entry >= GetColumnCount()) return;
  CImageListControl& list = m_columns[entry]->list;
  switch (m_pStore->GetEntryKind(entry)) {
    case kMonoCameraEntry:
      list.SetStereoMode(false);
      list.SetCurrentCamera(m_pStore->GetMonoCameraOrdinal(entry));
      break;
    case kStereoRigEntry: {
      // Rigs are numbered by their entries' order.
      const StereoPairRecord pair = m_pStore->GetStereoPair(entry - m_pStore->GetMonoCameraOrdinal(entry));
      list.SetStereoCameras(m_pStore->GetMonoCameraOrdinal(pair.cameraA), m_pStore->GetMonoCameraOrdinal(pair.cameraB));
      break;
    }
    default:
      return;
  }
  if (list.m_hWnd) {
    list.RepaintBackBuffer();
    list.Invalidate(FALSE);
  }
}

void CStaticDataView::Relayout(bool renumber) {
  for (int e = 0; e < GetColumnCount(); ++e) {
    Column& column = *m_columns[e];
    column.panel.MoveWindow(ToRect(m_layout.Panel(e)), TRUE);
    column.list.MoveWindow(ToRect(PanelStripLayout::Column(e, m_nHeight)), TRUE);
    if (!renumber || !m_pStore) {
      column.panel.Redraw();
      continue;
    }
    PointImageList(e);
    const std::string title = EntryTitle(*m_pStore, e);
    if (!title.empty()) column.panel.SetText(title.c_str(), nullptr);
    column.panel.Redraw();
  }
  RepaintBackBuffer();
  Invalidate(FALSE);
}

void CStaticDataView::RefreshPanels(int what) {
  if (what != 1000 || !m_pStore) return;
  const int count = std::min(GetColumnCount(), m_pStore->GetEntryCount());
  for (int e = 0; e < count; ++e) {
    std::string text;
    switch (m_pStore->GetEntryKind(e)) {
      case kMonoCameraEntry:
        text = RefreshedCameraText(*m_pStore, e);
        break;
      case kStereoRigEntry:
        text = RefreshedRigText(*m_pStore, e - m_pStore->GetMonoCameraOrdinal(e));
        break;
      default:
        continue;
    }
    const std::string title = EntryTitle(*m_pStore, e);
    m_columns[e]->panel.SetText(title.empty() ? nullptr : title.c_str(), text.c_str());
  }
}

void CStaticDataView::SetPanelText(int entry, const char* title, const char* text) {
  if (entry < 0 || entry >= GetColumnCount()) return;
  m_columns[entry]->panel.SetText(title, text);
}

void CStaticDataView::ClearEntryImages(int entry) {
  if (!m_pStore || !m_pStore->ClearEntryImages(entry)) return;
  // A scene drawn from the cleared images would show what is gone: the
  // entry's own, and those of the rigs built on its cameras.
  if (m_pScenes)
    for (int key : ScenesDrawnFromClearedImages(*m_pStore, entry)) m_pScenes->RemoveScene(key);
  for (int e = 0; e < GetColumnCount(); ++e) {
    CImageListControl& list = m_columns[e]->list;
    list.RepaintBackBuffer();
    list.Invalidate(FALSE);
  }
}

CRect CStaticDataView::GetPanelRect(int entry) const {
  if (entry < 0 || entry >= GetColumnCount()) return CRect();
  return ToRect(m_layout.Panel(entry));
}

CRect CStaticDataView::GetColumnRect(int entry) const {
  if (entry < 0 || entry >= GetColumnCount()) return CRect();
  return ToRect(PanelStripLayout::Column(entry, m_nHeight));
}

CSourceDetailsPanel* CStaticDataView::GetPanel(int entry) const {
  return entry >= 0 && entry < GetColumnCount() ? &m_columns[entry]->panel : nullptr;
}

CImageListControl* CStaticDataView::GetImageList(int entry) const {
  return entry >= 0 && entry < GetColumnCount() ? &m_columns[entry]->list : nullptr;
}

// ---- Presses ------------------------------------------------------------

int CStaticDataView::ColumnAt(CPoint point) const {
  for (int e = 0; e < GetColumnCount(); ++e)
    if (PanelStripLayout::Column(e, m_nHeight).Contains(point.x, point.y)) return e;
  return -1;
}

void CStaticDataView::OnLButtonDown(UINT flags, CPoint point) {
  if (point.x >= PanelStripLayout::kColumnsLeft) {
    const int entry = ColumnAt(point);
    if (entry < 0) return;
    const StripRect column = PanelStripLayout::Column(entry, m_nHeight);
    m_columns[entry]->list.SendMessage(WM_LBUTTONDOWN, flags,
                                       MAKELPARAM(point.x - column.left, point.y - column.top));
    return;
  }
  const int before = m_layout.Selected();
  m_layout.Press(point.x, point.y);
  if (m_layout.Selected() != before) Relayout(false);
  else {
    RepaintBackBuffer();
    Invalidate(FALSE);
  }
}

void CStaticDataView::OnLButtonDblClk(UINT, CPoint point) {
  if (point.x < PanelStripLayout::kColumnsLeft || !m_pStore || !m_pEditor) return;
  const int entry = ColumnAt(point);
  // A rig's column has no one camera to mark.
  if (entry < 0 || m_pStore->GetEntryKind(entry) != kMonoCameraEntry) return;
  m_pEditor->OpenForCamera(m_pStore->GetMonoCameraOrdinal(entry));
  m_pEditor->SetImageIndex(0);
  if (m_pEditor->m_hWnd) {
    m_pEditor->ShowWindow(SW_SHOW);
    m_pEditor->Invalidate(FALSE);
  }
}

// ---- Commands -----------------------------------------------------------

BOOL CStaticDataView::OnCommand(WPARAM wp, LPARAM lp) {
  if (HIWORD(wp) == BN_CLICKED) {
    switch (LOWORD(wp)) {
      case kInsertCamera: InsertNewCamera(); return TRUE;
      case kLoadCameraParameters: LoadCameraParameters(); return TRUE;
      case kCalibrate: Calibrate(); return TRUE;
      case kCalibrateStereo: CalibrateStereo(); return TRUE;
      case kShow3DView: Show3DView(); return TRUE;
      case kIdleCommand: return TRUE;
      default: break;
    }
  }
  return CStatic::OnCommand(wp, lp);
}

void CStaticDataView::InsertNewCamera() {
  if (!m_pStore) return;
  AddCameraColumn();
  m_pStore->AddCamera();
}

CCalibrationCommands* CStaticDataView::Commands() {
  if (!m_pStore) return nullptr;
  if (!m_pCommands) {
    m_pCommands = std::make_unique<CCalibrationCommands>(*m_pStore, *this, *this, m_pScenes ? *m_pScenes : *m_pNoScenes);
    m_pCommands->SetOwner(this);
  }
  return m_pCommands.get();
}

void CStaticDataView::LoadCameraParameters() {
  if (CCalibrationCommands* commands = Commands()) commands->LoadCameraParameters(GetSelectedEntry());
}

void CStaticDataView::Calibrate() {
  if (CCalibrationCommands* commands = Commands()) commands->Calibrate(GetSelectedEntry());
}

void CStaticDataView::CalibrateStereo() {
  if (CCalibrationCommands* commands = Commands()) commands->CalibrateStereo(GetSelectedEntry());
}

void CStaticDataView::Show3DView() {
  if (CCalibrationCommands* commands = Commands()) commands->Show3DView(GetSelectedEntry());
}
