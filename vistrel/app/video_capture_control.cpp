#include "video_capture_control.h"

#include <cstdio>

#include <opencv2/core/core_c.h>

#include "MVG/gdi_frames.h"
#include "capture_settings_dlg.h"
#include "object_edit_dlg.h"
#include "quorlmfc/dialog_x.h"

const CRuntimeClass CVideoCaptureControl::classCVideoCaptureControl = {"CVideoCaptureControl",
                                                                         &CStatic::classCStatic};

BEGIN_MESSAGE_MAP(CVideoCaptureControl, CStatic)
ON_WM_PAINT()
ON_WM_TIMER()
ON_WM_CLOSE()
ON_COMMAND(CVideoCaptureControl::kPlay, OnPlay)
ON_COMMAND(CVideoCaptureControl::kStop, OnStop)
ON_COMMAND(CVideoCaptureControl::kRecord, Record)
ON_COMMAND(CVideoCaptureControl::kCaptureImage, CaptureImage)
ON_COMMAND(CVideoCaptureControl::kRemoveDistortion, RemoveDistortion)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CVideoView, CStatic)
ON_WM_PAINT()
END_MESSAGE_MAP()

void CVideoView::OnPaint() {
  CPaintDC dc(this);
  if (m_pPanel && m_pPanel->IsOpened()) m_pPanel->RepaintVideo(dc.m_hDC);
}

namespace {

struct Button {
  UINT id;
  const char* tooltip;
  const char* image;
};
constexpr Button kButtons[] = {
    {CVideoCaptureControl::kPlay, "Play", "\\Graphics\\button_run.png"},
    {CVideoCaptureControl::kStop, "Stop/Pause", "\\Graphics\\button_stop.png"},
    {CVideoCaptureControl::kRecord, "Capture video...", "\\Graphics\\button_record.png"},
    {CVideoCaptureControl::kCaptureImage, "Capture image", "\\Graphics\\button_capture.png"},
    {CVideoCaptureControl::kRemoveDistortion, "Remove distortion", "\\Graphics\\button_proc_image.png"},
};

constexpr const char* kWarningCaption = "WARNING: Lens Distortion Correction";

std::string NotCalibratedText(bool single, int stream) {
  if (single) return "WARNING: Distortion cannot be removed:\nThe camera is not calibrated!\n";
  char text[160];
  std::snprintf(text, sizeof(text),
                "WARNING: Distortion cannot be removed on data stream %d:\nThe camera is not calibrated!\n", stream);
  return text;
}

std::string SizeText(bool single, int stream) {
  if (single)
    return "WARNING: Distortion cannot be corrected:\nThe camera's image size does not agree with the data stream "
           "setup!\n";
  char text[200];
  std::snprintf(text, sizeof(text),
                "WARNING: Distortion cannot be removed on data stream %d:\nThe camera's image size does not agree "
                "with the data stream setup!\n",
                stream);
  return text;
}

}  // namespace

CVideoCaptureControl::CVideoCaptureControl() = default;

CVideoCaptureControl::~CVideoCaptureControl() {
  // The graph first: no frame may be drawn into a window being destroyed.
  m_capture.Teardown();
  if (m_hWnd) DestroyWindow();
  m_back.Free();
}

void CVideoCaptureControl::Initialise() {
  CRect client;
  GetClientRect(&client);
  m_back.Allocate(client.Width(), client.Height(), 0xff414141u);

  const CRect videoRect(10, 10, m_back.Width() - 10, m_back.Height() - 60);
  m_video.Create("Video View", WS_CHILD | WS_VISIBLE, videoRect, this, kVideoViewId);
  m_video.ShowWindow(SW_SHOW);
  m_video.GetClientRect(&m_rcVideo);
  m_rcVideo.DeflateRect(2, 2);

  const int bottom = videoRect.bottom;
  m_status.Create("Status", WS_CHILD | WS_VISIBLE, CRect(videoRect.left, bottom + 2, videoRect.right, bottom + 20),
                  this, kStatusId);
  m_status.SetText("");
  m_status.Initialize(8);

  m_toolbar.Create("Toolbar Window", WS_CHILD | WS_VISIBLE,
                   CRect(videoRect.left, bottom + 22, videoRect.right, bottom + 54), this, kToolbarId);
  m_toolbar.SetRegionSize(24, 24);
  m_toolbar.Initialize(8, 2);
  for (const Button& b : kButtons) m_toolbar.AddButton((m_strAppFolder + b.image).c_str(), b.tooltip, b.id);

  m_pSampler = m_capture.GetSampler();
  SetTimer(kStatusTimer, kStatusPeriodMs);
}

void CVideoCaptureControl::RepaintVideo(HDC dc) {
  if (!m_video.m_hWnd) return;
  if (dc) {
    m_capture.RepaintVideo(m_video.m_hWnd, dc);
    return;
  }
  CClientDC client(&m_video);
  m_capture.RepaintVideo(m_video.m_hWnd, client.m_hDC);
}

HRESULT CVideoCaptureControl::OpenDevice(int deviceIndex) {
  HRESULT hr = m_capture.InitRenderer(m_video.m_hWnd);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = m_capture.OpenDevice(deviceIndex))) return hr;
  m_capture.SetVideoPosition(nullptr, &m_rcVideo);
  RepaintVideo();
  m_capture.Pause();
  m_capture.Run();
  m_bOpened = true;
  return S_OK;
}

HRESULT CVideoCaptureControl::OpenFile(const char* path) {
  HRESULT hr = m_capture.InitRenderer(m_video.m_hWnd);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = m_capture.OpenFile(path))) return hr;
  m_capture.SetVideoPosition(nullptr, &m_rcVideo);
  RepaintVideo();
  hr = m_capture.Pause();
  m_bOpened = SUCCEEDED(hr);
  return hr;
}

void CVideoCaptureControl::SetStreamConfiguration(int deinterlace, int splitting, int camera0, int camera1,
                                                  int camera2, int camera3) {
  m_config.deinterlace = deinterlace;
  m_config.splitting = splitting;
  m_config.cameras[0] = camera0;
  m_config.cameras[1] = camera1;
  m_config.cameras[2] = camera2;
  m_config.cameras[3] = camera3;
  m_capture.GetSampler()->SetStreamConfiguration(deinterlace, splitting, camera0, camera1, camera2, camera3);
}

void CVideoCaptureControl::OffsetCameraIndices(int offset) {
  for (int& camera : m_config.cameras)
    if (camera != -1) camera += offset;
}

void CVideoCaptureControl::OnPaint() {
  CPaintDC dc(this);
  if (!m_back.Empty()) {
    CRect client;
    GetClientRect(&client);
    m_back.CopyToDisplay(dc, client);
  }
  if (m_bOpened) RepaintVideo();
}

void CVideoCaptureControl::OnTimer(UINT_PTR id) {
  if (id != kStatusTimer) return;
  // The renderer draws when asked: the tick presents its newest frame.
  if (m_bOpened) RepaintVideo();
  switch (m_capture.GetState()) {
    case CVideoCapture::kRunning:
      m_status.SetText("Running");
      break;
    case CVideoCapture::kStopped:
      m_status.SetText("Stopped");
      break;
    case CVideoCapture::kRecording:
      m_status.SetText(m_capture.GetStatusText().c_str());
      break;
    case CVideoCapture::kRecordingPrepared:
      m_status.SetText("Press run to start capture...");
      break;
    default:
      break;  // states 0 and 3 leave the label as it is
  }
  if (m_bOpened && m_onInfoChanged) {
    std::string info = m_capture.GetInfoText();
    if (info != m_lastInfo) {
      m_lastInfo = std::move(info);
      m_onInfoChanged(m_lastInfo);
    }
  }
}

void CVideoCaptureControl::OnClose() {
  KillTimer(kStatusTimer);
  Default();
}

void CVideoCaptureControl::CaptureImage() {
  if (!m_pSampler) m_pSampler = m_capture.GetSampler();
  SampleFrameInfo info;
  IplImage* clone = m_pSampler->CloneFrame(&info);
  if (!clone) return;  // no frame in the current format yet
  const StreamConfiguration& how = info.configuration;
  const bool field = how.deinterlace != 0;
  std::vector<int> added;  // cameras that got an image
  auto add = [&](int stream, IplImage* image) {
    const int camera = m_config.cameras[stream];
    // The store takes only what it accepts.
    if (camera == -1 || !m_pDataStore || !m_pDataStore->AddImage(camera, image)) cvReleaseImage(&image);
    else added.push_back(camera);
  };
  const CvSize cameraSize = cvSize(info.cameraWidth, info.cameraHeight);
  if (how.splitting == 0 && !field) {
    if (info.bottomUp) cvFlip(clone, nullptr, 0);
    add(0, clone);
    clone = nullptr;
  } else if (how.splitting == 0) {
    // One field at the stream's own size (w x h/2), as the sampler cuts it.
    IplImage* image = cvCreateImage(cameraSize, IPL_DEPTH_8U, 3);
    GDI::SplitFrameField(clone, image, info.bottomUp ? 1 : 0);
    add(0, image);
  } else if (how.splitting == 1 || how.splitting == 2) {
    const int count = how.splitting == 1 ? 2 : 4;
    IplImage* images[4] = {};
    for (int i = 0; i < count; ++i) images[i] = cvCreateImage(cameraSize, IPL_DEPTH_8U, 3);
    if (how.splitting == 1) GDI::SplitFrameStereo(clone, images, info.bottomUp, field);
    else GDI::SplitFrameQuad(clone, images, info.bottomUp, field);
    for (int i = 0; i < count; ++i) add(i, images[i]);
  }
  if (clone) cvReleaseImage(&clone);
  // The thumbnails are drawn by the view's image lists, its children: an
  // invalidated parent alone leaves them showing the old images.
  if (m_pDataView && m_pDataView->m_hWnd)
    m_pDataView->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  if (m_pEditor)
    for (int camera : added) m_pEditor->OnCameraImagesAdded(camera);
}

void CVideoCaptureControl::Record() {
  CCaptureSettingsDlg dialog(this);
  dialog.SetAppPath(m_strAppFolder.c_str());
  if (dialog.DoModal() != IDOK) return;
  m_capture.StartRecording(dialog.GetFileName().GetString(), reinterpret_cast<INT_PTR>(m_hWnd), 0,
                           dialog.GetCompressorIndex());
}

INT_PTR CVideoCaptureControl::Warn(const std::string& text) {
  CDialogXMsgBox box(this, text.c_str(), kWarningCaption);
  box.SetAppPath(m_strAppFolder.c_str());
  return box.DoModal();
}

void CVideoCaptureControl::RemoveDistortion() {
  if (!m_pSampler) m_pSampler = m_capture.GetSampler();
  const bool single = m_config.splitting != 1 && m_config.splitting != 2;
  const int streams = single ? 1 : (m_config.splitting == 1 ? 2 : 4);
  for (int stream = 0; stream < streams; ++stream) {
    const int camera = m_config.cameras[stream];
    // The configuration holds camera indices; the flag lives on the entry.
    const int entry = m_pDataStore ? m_pDataStore->GetCameraEntry(camera) : -1;
    std::string warning;
    if (!m_pDataStore || !m_pDataStore->IsCalibrated(entry)) {
      warning = NotCalibratedText(single, stream);
    } else {
      const CameraParameters parameters = m_pDataStore->GetCameraParameters(camera);
      const SampleFrameInfo info = m_pSampler->GetFrameInfo();
      if (parameters.width != info.cameraWidth || parameters.height != info.cameraHeight) {
        warning = SizeText(single, stream);
      } else if (!m_pSampler->ToggleUndistortion(parameters, stream)) {
        // Refused: the stream changed size since the check, or the camera's
        // focal lengths are unusable.
        const SampleFrameInfo now = m_pSampler->GetFrameInfo();
        const bool sizeChanged = now.cameraWidth != parameters.width || now.cameraHeight != parameters.height;
        warning = sizeChanged ? SizeText(single, stream) : NotCalibratedText(single, stream);
      }
    }
    if (warning.empty()) continue;
    const INT_PTR answer = Warn(warning);
    if (single || answer != IDOK) return;
  }
}
