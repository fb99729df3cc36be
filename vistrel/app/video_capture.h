#pragma once
// CVideoCapture: the workbench's own filter graph for one video source, a
// live capture device or a video file: source -> sample grabber (the
// embedded CVideoSample processes every frame) -> tee -> windowless
// renderer. It runs, pauses and stops the graph, records the source to AVI
// with an optional compressor, and words the source's information and the
// recording's progress.
//
// States: 0 no graph, 1 running (preview), 2 stopped, 3 paused, 4 recording,
// 5 recording prepared (waiting for Run). One open per object. All calls on
// the user-interface thread; frames arrive on the streaming thread.
#include <string>

#include "dshow/interfaces.h"
#include "app_core/video_sample.h"
#include "win/window.h"

namespace DShow {
class CCrossbar;
}

class CVideoCapture {
 public:
  enum State { kNoGraph = 0, kRunning = 1, kStopped = 2, kPaused = 3, kRecording = 4, kRecordingPrepared = 5 };
  enum SourceKind { kNoSource = 0, kLiveSource = 1, kFileSource = 2 };
  // Graph events reach the owner window as this message.
  static constexpr UINT kGraphEventMessage = 1124;  // WM_USER + 100

  // With an owner window the renderer is set up at once.
  explicit CVideoCapture(HWND owner = nullptr);
  ~CVideoCapture();
  CVideoCapture(const CVideoCapture&) = delete;
  CVideoCapture& operator=(const CVideoCapture&) = delete;

  // The windowless renderer drawing into owner; the first failure (adding
  // the renderer, the windowless mode) is returned.
  HRESULT InitRenderer(HWND owner);
  // index counts from 1. Builds the live graph and runs it; on failure the
  // state stays 0 and nothing runs.
  HRESULT OpenDevice(int index);
  // Builds the file graph, not started; a missing file gives
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND). On failure the state stays 0.
  HRESULT OpenFile(const char* path);

  HRESULT Run();
  // In states 4 and 5 Pause ends the recording as Stop does (E_FAIL).
  HRESULT Pause();
  HRESULT Stop();
  // Prepares an AVI recording (state 5; Run starts it). Compressor 0 is none,
  // n is compressor n - 1. The two middle arguments play no part. Failures
  // are told in a plain message box; the set-up is then taken out again and
  // the preview left as StopRecording leaves it.
  HRESULT StartRecording(const char* fileName, INT_PTR unused1, int unused2, int compressorIndex);
  HRESULT StartCapture();
  HRESULT StopRecording();

  HRESULT SetVideoPosition(const RECT* source, const RECT* destination);
  HRESULT RepaintVideo(HWND hwnd, HDC dc);
  HRESULT ShowCaptureFilterPages();
  // Live sources only (1 for a file): the graph is stopped and the grabber
  // reconnected after the page, since the format may have changed.
  HRESULT ShowCapturePinPages();

  std::string GetInfoText();
  std::string GetStatusText();

  HRESULT AddCaptureDevice(int index);
  HRESULT ConnectGrabber(IPin* sourcePin);
  // Stops the graph from any state and releases it: no frame reaches the
  // sampler once this returns.
  void Teardown();

  int GetState() const { return state_; }
  int GetSourceKind() const { return sourceKind_; }
  CVideoSample* GetSampler() { return &sampler_; }
  // For tests and the sources view.
  IFilterGraph2* GetFilterGraph() const { return filterGraph_; }
  int GetCrossbarInputCount() const { return static_cast<int>(crossbarInputCount_); }

  // The texts, from plain values.
  // "Captured %d frames (%d dropped) in %d.%dsec".
  static std::string FormatLiveStatus(long delivered, long dropped, DWORD elapsedMs);
  // "Recorded %.1f %%" for a known duration, else "Recording file...".
  static std::string FormatFileStatus(LONGLONG duration, LONGLONG position);
  // Size and frame rate of a VideoInfo or VideoInfo2 type; "" for any other.
  static std::string FormatDeviceText(const AM_MEDIA_TYPE& type);
  // The device text of a pin's connection; "" when it has none.
  static std::string DeviceTextOfPin(IPin* pin);
  static std::string FormatFileText(const char* duration, int width, int height);

 private:
  // Ends what runs before the graph changes: a recording through
  // StopRecording, and the graph through the media control; state 2 after.
  void StopEverything();
  // Takes out what a failed recording set-up added and resumes as
  // StopRecording does.
  void UndoRecordingSetup(IBaseFilter* mux, IBaseFilter* compressor);
  HRESULT Fail(HRESULT hr);
  void ReleaseGrabber();

  HWND owner_ = nullptr;
  int sourceKind_ = kNoSource;
  int state_ = kNoGraph;
  int graphBuilt_ = 0;
  DWORD rotCookie_ = 0;
  int droppedAtStart_ = 0, deliveredAtStart_ = 0;
  DWORD recordingStart_ = 0, recordingStop_ = 0;
  CVideoSample sampler_;
  long crossbarInputCount_ = 0;
  DShow::CCrossbar* crossbar_ = nullptr;
  CComPtr<IFilterGraph2> filterGraph_;
  CComPtr<IGraphBuilder> graphBuilder_;
  CComPtr<ICaptureGraphBuilder2> captureGraphBuilder_;
  CComPtr<IMediaFilter> mediaFilter_;
  CComPtr<IMediaControl> mediaControl_;
  CComPtr<IMediaEventEx> mediaEvents_;
  CComPtr<IMediaSeeking> mediaSeeking_;
  CComPtr<IBaseFilter> renderer_;
  CComPtr<IVMRFilterConfig9> rendererConfig_;
  CComPtr<IVMRMonitorConfig9> monitorConfig_;
  CComPtr<IVMRWindowlessControl9> windowlessControl_;
  CComPtr<IVMRDeinterlaceControl9> deinterlaceControl_;
  CComPtr<IAMVideoCompression> videoCompression_;
  CComPtr<IAMStreamConfig> streamConfig_;
  CComPtr<IAMDroppedFrames> droppedFrames_;
  CComPtr<IBaseFilter> grabberFilter_;
  CComPtr<ISampleGrabber> grabber_;
  CComPtr<IBaseFilter> sourceFilter_;
  bool recordingArmed_ = false;
  CComPtr<IBaseFilter> tee_;
  CComPtr<IAMStreamControl> streamControl_;
  CComPtr<IPin> teePreviewPin_, teeRecordingPin_;
  CComPtr<IReferenceClock> savedClock_;
  bool clockSaved_ = false;
  CComPtr<IPin> sourcePin_;
};
