#pragma once
// CVideoCaptureControl: the panel of one video source: the "Video View"
// child window the renderer draws the processed video into, a status line
// refreshed every 100 ms, and a toolbar: play, stop/pause, record, grab a
// still image into the data store, and switch lens-distortion removal.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_core/video_sample.h"
#include "calibration/calibration_data_store.h"
#include "gdi_back_buffer.h"
#include "gdiplus/gdiplus.h"
#include "quorlmfc/static_ex.h"
#include "quorlmfc/toolbar_x.h"
#include "video_capture.h"
#include "win/controls.h"

class CObjectEditDlg;
class CVideoCaptureControl;

// The "Video View" window: the renderer draws into it, so its own paint is
// the renderer's repaint (a static's text and background would cover the
// video).
class CVideoView : public CStatic {
 public:
  explicit CVideoView(CVideoCaptureControl* panel) : m_pPanel(panel) {}

 protected:
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  CVideoCaptureControl* m_pPanel;
};

class CVideoCaptureControl : public CStatic {
 public:
  static const CRuntimeClass classCVideoCaptureControl;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCVideoCaptureControl; }

  // Children, commands and the status timer.
  static constexpr UINT kVideoViewId = 1036;
  static constexpr UINT kStatusId = 255;
  static constexpr UINT kToolbarId = 2124;
  static constexpr UINT kPlay = 1030;
  static constexpr UINT kStop = 1031;
  static constexpr UINT kRecord = 1047;
  static constexpr UINT kCaptureImage = 1035;
  static constexpr UINT kRemoveDistortion = 1073;
  static constexpr UINT_PTR kStatusTimer = 1124;
  static constexpr UINT kStatusPeriodMs = 100;

  CVideoCaptureControl();
  ~CVideoCaptureControl() override;

  // The data the sources view hands over: the program folder (button
  // images, the recording dialog), the store grabs go to, and the data view
  // and the calibration object editor to refresh after a grab (either may
  // be null).
  void SetApplicationFolder(const char* folder) { m_strAppFolder = folder ? folder : ""; }
  void SetDataStore(CalibrationDataStore* store) { m_pDataStore = store; }
  void SetDataView(CWnd* view) { m_pDataView = view; }
  void SetObjectEditor(CObjectEditDlg* editor) { m_pEditor = editor; }

  // Once the window exists.
  void Initialise();
  // The renderer's set-up and the open's own failure come back; the panel
  // is opened only on success.
  HRESULT OpenDevice(int deviceIndex);
  // A file waits paused on its first frame: the result of that Pause.
  HRESULT OpenFile(const char* path);

  StreamConfiguration GetStreamConfiguration() const { return m_config; }
  void SetStreamConfiguration(int deinterlace, int splitting, int camera0, int camera1, int camera2, int camera3);
  // Camera indices other than -1 move by offset.
  void OffsetCameraIndices(int offset);
  std::string GetInfoText() { return m_capture.GetInfoText(); }
  // Called from the status tick with the new information text whenever it
  // changed since the last tick: a source opened before its first frame
  // learns its frame size only then.
  void SetInfoChangedHandler(std::function<void(const std::string&)> handler) {
    m_onInfoChanged = std::move(handler);
  }

  // The commands.
  void CaptureImage();
  void Record();
  void RemoveDistortion();

  // State for tests and the sources view.
  bool IsOpened() const { return m_bOpened; }
  CVideoCapture& Capture() { return m_capture; }
  CWnd& VideoWindow() { return m_video; }
  CStaticEx& StatusLabel() { return m_status; }
  CToolbarX& Toolbar() { return m_toolbar; }
  const CRect& VideoRect() const { return m_rcVideo; }
  const std::uint32_t* BackBuffer() const { return m_back.Pixels(); }

 protected:
  void OnPaint();
  void OnTimer(UINT_PTR id);
  void OnClose();
  void OnPlay() { m_capture.Run(); }
  void OnStop() { m_capture.Stop(); }
  DECLARE_MESSAGE_MAP()

 private:
  // A warning box; its answer.
  INT_PTR Warn(const std::string& text);
  friend class CVideoView;
  void RepaintVideo(HDC dc = nullptr);

  GdiBackBuffer m_back;
  CVideoCapture m_capture;
  CVideoSample* m_pSampler = nullptr;
  CRect m_rcVideo;
  std::string m_strAppFolder = "C:\\";
  CalibrationDataStore* m_pDataStore = nullptr;
  CWnd* m_pDataView = nullptr;
  CObjectEditDlg* m_pEditor = nullptr;
  StreamConfiguration m_config;
  bool m_bOpened = false;
  std::function<void(const std::string&)> m_onInfoChanged;
  std::string m_lastInfo;  // as the handler last heard it
  CVideoView m_video{this};
  CToolbarX m_toolbar{0x414141};
  CStaticEx m_status;
};
