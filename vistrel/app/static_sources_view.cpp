#include "static_sources_view.h"

#include <algorithm>
#include <cstdio>

#include "calibration/calibration_data_store.h"
#include "data_view_columns.h"
#include "quorlmfc/dialog_x.h"
#include "source_dialogs.h"
#include "win/prompts.h"

const CRuntimeClass CStaticSourcesView::classCStaticSourcesView = {"CStaticSourcesView", &CStatic::classCStatic};

BEGIN_MESSAGE_MAP(CStaticSourcesView, CStatic)
ON_WM_PAINT()
ON_WM_LBUTTONDOWN()
ON_COMMAND(CStaticSourcesView::kSetupStreams, SetupDataStreams)
ON_COMMAND(CStaticSourcesView::kRemoveSource, RemoveSource)
END_MESSAGE_MAP()

namespace {

constexpr const char* kWarningCaption = "WARNING: Stream configuration change";
constexpr const char* kWarningText =
    "WARNING: Changing the source stream configuration will reset all camera data. Are you sure you want to "
    "continue?";

// The toolbar's strip in the lower left, under the details panels.
constexpr int kToolbarHeight = 42;
constexpr int kToolbarBottomGap = 10;

std::string CannotOpenText(const std::string& what) {
  std::string text = "Cannot open: ";
  text += what;
  text += "!";
  return text;
}

}  // namespace

CStaticSourcesView::CStaticSourcesView() = default;

CStaticSourcesView::~CStaticSourcesView() {
  // Each video panel tears its graph down before its window goes.
  m_sources.clear();
  if (m_hWnd) DestroyWindow();
  m_back.Free();
}

int CStaticSourcesView::ClientHeight() {
  CRect client;
  GetClientRect(&client);
  return client.Height();
}

void CStaticSourcesView::Create() {
  CRect client;
  GetClientRect(&client);
  m_back.Allocate(client.Width(), client.Height(), kBackground);
  if (Gdiplus::Graphics* g = m_back.Graphics()) g->SetInterpolationMode(Gdiplus::InterpolationModeHighQuality);
  DrawBackBuffer();

  const int height = m_back.Height();
  const CRect bar(SourcePanelPlaces::kDetailsLeft, height - kToolbarBottomGap - kToolbarHeight,
                  SourcePanelPlaces::kDetailsRight, height - kToolbarBottomGap);
  m_toolbar.Create("Toolbar Windows", WS_CHILD | WS_VISIBLE, bar, this, kToolbarId);
  m_toolbar.SetRegionSize(32, 32);
  m_toolbar.Initialize(8, 2);
  m_toolbar.AddButton((m_strAppFolder + "\\Graphics\\button_source_setup.png").c_str(), "Setup data streams..",
                      kSetupStreams);
  m_toolbar.AddButton((m_strAppFolder + "\\Graphics\\button_bin.png").c_str(), "Remove source", kRemoveSource);
}

CVideoCaptureControl* CStaticSourcesView::VideoPanel(int source) const {
  return InRange(source) ? m_sources[source].video.get() : nullptr;
}

CSourceDetailsPanel* CStaticSourcesView::DetailsPanel(int source) const {
  return InRange(source) ? m_sources[source].details.get() : nullptr;
}

HRESULT CStaticSourcesView::AddDeviceSource(int deviceIndex, const char* name) {
  const std::string title = name && *name ? name : "Camera";
  return AddSource(true, title, title,
                   [deviceIndex](CVideoCaptureControl& panel) { return panel.OpenDevice(deviceIndex); });
}

HRESULT CStaticSourcesView::AddFileSource(const char* path, const char* name) {
  const std::string file = path ? path : "";
  const std::string title = name && *name ? name : file;
  return AddSource(false, title, file,
                   [file](CVideoCaptureControl& panel) { return panel.OpenFile(file.c_str()); });
}

HRESULT CStaticSourcesView::AddSource(bool live, const std::string& title, const std::string& what,
                                      const std::function<HRESULT(CVideoCaptureControl&)>& open) {
  if (!m_hWnd) return E_FAIL;
  const int height = ClientHeight();
  const StripRect place = m_places.NextVideo(height);
  auto video = std::make_unique<CVideoCaptureControl>();
  // Ids are taken even when the open fails: a counter never goes back.
  const int videoId = m_ids.NextImageListId();
  if (!video->Create(live ? "Camera" : title.c_str(), WS_CHILD, CRect(place.left, place.top, place.right, place.bottom),
                     this, static_cast<UINT>(videoId))) {
    AfxMessageBox(CannotOpenText(what).c_str());
    return E_FAIL;
  }
  video->SetApplicationFolder(m_strAppFolder.c_str());
  video->Initialise();
  // Stream 0 is the camera the caller appends once the source is open.
  const int camera = m_pStore ? m_pStore->GetMonoCameraCount() : 0;
  video->SetStreamConfiguration(0, 0, camera, -1, -1, -1);
  video->SetDataStore(m_pStore);
  video->SetDataView(m_pDataViewWindow);
  video->SetObjectEditor(m_pEditor);
  // A file is tested like a device: a source that shows nothing must not
  // get a camera.
  if (FAILED(open(*video))) {
    video.reset();
    AfxMessageBox(CannotOpenText(what).c_str());
    return E_FAIL;
  }
  video->ShowWindow(SW_SHOW);

  const int source = m_places.Append(height);
  const StripRect d = m_places.Details(source);
  auto details = std::make_unique<CSourceDetailsPanel>();
  details->Create("Source Panel", WS_CHILD, CRect(d.left, d.top, d.right, d.bottom), this,
                  static_cast<UINT>(m_ids.NextPanelId()));
  details->SetColour(kPanelColour);
  details->SetText(title.c_str(), video->GetInfoText().c_str());
  details->ShowWindow(SW_SHOW);
  // The details follow the source between selections: its frame size is
  // known only once the first frame came. Looked up by panel, since a
  // removal moves the later sources down.
  CVideoCaptureControl* panel = video.get();
  video->SetInfoChangedHandler([this, panel](const std::string&) {
    for (int i = 0; i < SourceCount(); ++i)
      if (m_sources[i].video.get() == panel) RefreshDetailsText(i);
  });

  Source s;
  s.video = std::move(video);
  s.details = std::move(details);
  s.live = live;
  s.name = title;
  m_sources.push_back(std::move(s));
  DrawBackBuffer();
  return 0;
}

void CStaticSourcesView::OnLButtonDown(UINT, CPoint point) { PressAt(point); }

void CStaticSourcesView::PressAt(CPoint point) {
  if (point.x >= kVideoAreaLeft) return;
  m_places.Press(point.x, point.y);
  LayOutDetails();
}

void CStaticSourcesView::RefreshDetailsText(int source) {
  if (!InRange(source)) return;
  Source& s = m_sources[source];
  // Only a changed text is drawn again: the tick asks ten times a second.
  const std::string text = s.video->GetInfoText();
  if (text != s.details->GetInfoText()) s.details->SetText(nullptr, text.c_str());
}

void CStaticSourcesView::LayOutDetails() {
  for (int i = 0; i < SourceCount(); ++i) {
    const StripRect d = m_places.Details(i);
    CSourceDetailsPanel& panel = *m_sources[i].details;
    panel.MoveWindow(CRect(d.left, d.top, d.right, d.bottom), TRUE);
    // The text follows the source (its configuration may have changed).
    RefreshDetailsText(i);
  }
  DrawBackBuffer();
}

void CStaticSourcesView::DrawBackBuffer() {
  if (m_back.Graphics()) {
    Gdiplus::Graphics& g = *m_back.Graphics();
    Gdiplus::SolidBrush background{Gdiplus::Color(kBackground)};
    g.FillRectangle(&background, 0, 0, m_back.Width(), m_back.Height());
    Gdiplus::Pen separator{Gdiplus::Color(kSeparator), 1.0f};
    g.DrawLine(&separator, kSeparatorX, 10, kSeparatorX, m_back.Height() - 10);
    const int selected = m_places.Selected();
    if (InRange(selected)) {
      const StripRect d = m_places.Details(selected);
      Gdiplus::Pen highlight{Gdiplus::Color(kHighlight), 1.0f};
      // One pixel outside the panel on every side.
      g.DrawRectangle(&highlight, d.left - 1, d.top - 1, d.right - d.left + 1, d.bottom - d.top + 1);
    }
  }
  if (m_hWnd) Invalidate(FALSE);
}

void CStaticSourcesView::OnPaint() {
  CPaintDC dc(this);
  for (Source& s : m_sources) s.video->Invalidate(FALSE);
  if (m_back.Empty()) return;
  CRect client;
  GetClientRect(&client);
  m_back.CopyToDisplay(dc, client);
}

void CStaticSourcesView::FollowEntryChanges(const std::vector<EntryChange>& changes) {
  if (!m_pColumns) return;
  for (const EntryChange& change : changes) {
    if (change.entry < 0) continue;
    if (change.inserted) {
      m_pColumns->InsertCameraColumn(change.entry);
      continue;
    }
    // The camera and the rigs that went with it, in the numbering before
    // the removal: dropping the highest first keeps the lower ones valid.
    std::vector<int> gone = change.removedRigEntries;
    gone.push_back(change.entry);
    std::sort(gone.rbegin(), gone.rend());
    for (int entry : gone) m_pColumns->RemoveCameraColumn(entry);
  }
}

void CStaticSourcesView::MoveSourceCameras(int except, const std::function<int(int)>& map) {
  for (int i = 0; i < SourceCount(); ++i) {
    if (i == except) continue;
    CVideoCaptureControl& panel = *m_sources[i].video;
    const StreamConfiguration old = panel.GetStreamConfiguration();
    StreamConfiguration moved = old;
    bool changed = false;
    bool oneOffset = true;
    int offset = 0;
    bool first = true;
    for (int& camera : moved.cameras) {
      if (camera == -1) continue;
      const int next = map(camera);
      if (first) {
        offset = next - camera;
        first = false;
      } else if (next - camera != offset) {
        oneOffset = false;
      }
      changed = changed || next != camera;
      camera = next;
    }
    if (!changed) continue;
    // A uniform move is the panel's own offset; a source that straddles the
    // change (a camera inserted by hand between its cameras) gets its
    // cameras one by one.
    if (oneOffset) {
      panel.OffsetCameraIndices(offset);
    } else {
      panel.SetStreamConfiguration(moved.deinterlace, moved.splitting, moved.cameras[0], moved.cameras[1],
                                   moved.cameras[2], moved.cameras[3]);
    }
  }
}

void CStaticSourcesView::OnCameraInserted(int camera) {
  if (camera < 0) return;
  MoveSourceCameras(-1, [camera](int c) { return c >= camera ? c + 1 : c; });
}

void CStaticSourcesView::SetupDataStreams() {
  const int source = m_places.Selected();
  if (!InRange(source)) return;
  CVideoCaptureControl& panel = *m_sources[source].video;
  const StreamConfiguration current = panel.GetStreamConfiguration();

  m_setupDlg.Prepare(m_sources[source].live, &panel.Capture(), current.splitting, current.deinterlace,
                     CString(m_strAppFolder.c_str()));
  if (m_setupDlg.DoModal() != IDOK) return;
  const int splitting = m_setupDlg.GetSplitting();
  const int deinterlace = m_setupDlg.GetDeinterlace();
  if (splitting == current.splitting && deinterlace == current.deinterlace) {
    RefreshDetailsText(source);
    return;
  }
  {
    CDialogXMsgBox warning(this, kWarningText, kWarningCaption);
    warning.SetAppPath(CString(m_strAppFolder.c_str()));
    if (warning.DoModal() != IDOK) return;
  }

  const SourceReconfigurationPlan plan = PlanSourceReconfiguration(current, deinterlace, splitting);
  // Every camera of the source loses its images; through the data view, so
  // the scenes drawn from them go too.
  if (m_pStore && m_pColumns) {
    for (int slot = 0; slot < current.CameraCount(); ++slot) {
      const int entry = m_pStore->GetCameraEntry(current.cameras[slot]);
      if (entry >= 0) m_pColumns->ClearEntryImages(entry);
    }
  }
  if (m_pStore) FollowEntryChanges(ApplySourceReconfiguration(*m_pStore, current, plan));
  const StreamConfiguration& next = plan.next;
  panel.SetStreamConfiguration(next.deinterlace, next.splitting, next.cameras[0], next.cameras[1], next.cameras[2],
                               next.cameras[3]);
  MoveSourceCameras(source, [&plan](int camera) { return plan.MapCamera(camera); });
  RefreshDetailsText(source);
  if (m_pDataViewWindow) m_pDataViewWindow->Invalidate(FALSE);
}

void CStaticSourcesView::RemoveSource() {
  const int source = m_places.Selected();
  if (!InRange(source)) return;
  int answer = CRemoveSourceOptionsDlg::kCancelled;
  {
    CRemoveSourceOptionsDlg options(this);
    options.SetAppPath(CString(m_strAppFolder.c_str()));
    if (options.DoModal() == IDOK) answer = options.GetAnswer();
  }
  if (answer != CRemoveSourceOptionsDlg::kRemoveCameras && answer != CRemoveSourceOptionsDlg::kKeepCameras) return;

  if (answer == CRemoveSourceOptionsDlg::kRemoveCameras && m_pStore) {
    const StreamConfiguration config = m_sources[source].video->GetStreamConfiguration();
    const SourceReconfigurationPlan plan = PlanSourceRemoval(config);
    FollowEntryChanges(ApplySourceReconfiguration(*m_pStore, config, plan));
    MoveSourceCameras(source, [&plan](int camera) { return plan.MapCamera(camera); });
  }
  // Only this source's panels go; the others keep their places and stay
  // shown.
  m_places.Remove(source);
  m_sources.erase(m_sources.begin() + source);
  LayOutDetails();
  if (m_pDataViewWindow) m_pDataViewWindow->Invalidate(FALSE);
}
