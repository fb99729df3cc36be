#include "video_capture.h"

#include <cstdio>

#include "com/bstr.h"
#include "com/com.h"
#include "quorl_dshow/crossbar.h"
#include "quorl_dshow/graph_functions.h"
#include "win/messagebox.h"

namespace {

// The recording set-up's messages: plain boxes, no caption, no flags.
void Tell(const char* text) { ::MessageBox(nullptr, text, nullptr, 0); }

// An interface of the capture pin: interleaved streams first, then video.
template <class Interface>
HRESULT FindOnCapturePin(ICaptureGraphBuilder2* builder, IBaseFilter* source, CComPtr<Interface>& out) {
  if (!builder || !source) return E_POINTER;
  HRESULT hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, source, IidOf<Interface>(),
                                      reinterpret_cast<void**>(&out));
  if (FAILED(hr))
    hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source, IidOf<Interface>(),
                                reinterpret_cast<void**>(&out));
  return hr;
}

}  // namespace

CVideoCapture::CVideoCapture(HWND owner) {
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IFilterGraph2,
                   reinterpret_cast<void**>(&filterGraph_));
  if (filterGraph_) filterGraph_.QueryInterface(&graphBuilder_);
  CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                   reinterpret_cast<void**>(&captureGraphBuilder_));
  if (captureGraphBuilder_ && graphBuilder_) captureGraphBuilder_->SetFiltergraph(graphBuilder_);
  // Made once here, removed once at teardown.
  if (filterGraph_) DShow::AddToRot(filterGraph_, &rotCookie_);
  if (owner) InitRenderer(owner);
}

CVideoCapture::~CVideoCapture() { Teardown(); }

HRESULT CVideoCapture::InitRenderer(HWND owner) {
  owner_ = owner;
  if (!graphBuilder_) return E_FAIL;
  HRESULT hr =
      DShow::AddFilterByCLSID(graphBuilder_, CLSID_VideoMixingRenderer9, L"Video Mixing Renderer 9", &renderer_);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = renderer_.QueryInterface(&rendererConfig_))) return hr;
  if (FAILED(hr = rendererConfig_->SetRenderingMode(VMR9Mode_Windowless))) return hr;
  renderer_.QueryInterface(&monitorConfig_);
  if (SUCCEEDED(renderer_.QueryInterface(&windowlessControl_))) {
    windowlessControl_->SetVideoClippingWindow(owner);
    windowlessControl_->SetAspectRatioMode(VMR9ARMode_None);
  }
  graphBuilder_.QueryInterface(&mediaControl_);
  if (SUCCEEDED(graphBuilder_.QueryInterface(&mediaEvents_)))
    mediaEvents_->SetNotifyWindow(reinterpret_cast<OAHWND>(owner), kGraphEventMessage, 0);
  if (SUCCEEDED(renderer_.QueryInterface(&deinterlaceControl_)))
    deinterlaceControl_->SetDeinterlaceMode(0xFFFFFFFF, &GUID_NULL);
  return S_OK;
}

HRESULT CVideoCapture::Fail(HRESULT hr) {
  state_ = kNoGraph;
  graphBuilt_ = 0;
  sourceKind_ = kNoSource;
  return hr;
}

HRESULT CVideoCapture::AddCaptureDevice(int index) {
  if (!graphBuilder_) return E_FAIL;
  sourceFilter_ = nullptr;
  HRESULT hr = DShow::GetVideoCaptureDevice(&sourceFilter_, index);
  if (FAILED(hr) || !sourceFilter_) return FAILED(hr) ? hr : E_FAIL;
  if (FAILED(hr = graphBuilder_->AddFilter(sourceFilter_, L"Capture Source"))) return hr;
  FindOnCapturePin(captureGraphBuilder_.p(), sourceFilter_.p(), videoCompression_);
  FindOnCapturePin(captureGraphBuilder_.p(), sourceFilter_.p(), streamConfig_);
  // A crossbar in front of the first analogue video input; one whose build
  // fails is deleted and left null.
  CComPtr<IEnumPins> pins;
  if (FAILED(sourceFilter_->EnumPins(&pins)) || !pins) return S_OK;
  CComPtr<IPin> pin;
  ULONG fetched = 0;
  while (pins->Next(1, &pin, &fetched) == S_OK) {
    PIN_DIRECTION direction;
    const bool analogue = SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT &&
                          DShow::PinMatchesCategory(pin, PIN_CATEGORY_ANALOGVIDEOIN);
    if (analogue) {
      HRESULT built = E_FAIL;
      auto* crossbar = new DShow::CCrossbar(pin, &built);
      if (FAILED(built)) {
        delete crossbar;
      } else {
        crossbar_ = crossbar;
        int count = 0;
        crossbar_->GetInputCount(&count);
        crossbarInputCount_ = count;
      }
      break;
    }
    pin = nullptr;
  }
  return S_OK;
}

void CVideoCapture::ReleaseGrabber() {
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  grabberFilter_ = nullptr;
  grabber_ = nullptr;
  tee_ = nullptr;
  teePreviewPin_ = nullptr;
  teeRecordingPin_ = nullptr;
}

HRESULT CVideoCapture::ConnectGrabber(IPin* sourcePin) {
  if (!graphBuilder_ || !sourcePin) return E_POINTER;
  DShow::NukeGraphSegment(filterGraph_, sourcePin, renderer_);
  if (grabberFilter_) ReleaseGrabber();
  HRESULT hr = DShow::AddFilterByCLSID(graphBuilder_, CLSID_SampleGrabber, L"Sample Gabber", &grabberFilter_);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = grabberFilter_.QueryInterface(&grabber_))) return hr;
  AM_MEDIA_TYPE wanted{};
  wanted.majortype = MEDIATYPE_Video;
  wanted.subtype = MEDIASUBTYPE_RGB24;
  if (FAILED(hr = grabber_->SetMediaType(&wanted))) return hr;
  if (FAILED(hr = DShow::ConnectFilters(graphBuilder_, sourcePin, grabberFilter_))) return hr;
  AM_MEDIA_TYPE connected{};
  if (FAILED(hr = grabber_->GetConnectedMediaType(&connected))) return hr;
  sampler_.SetMediaType(connected);  // takes its own copy
  FreeMediaType(connected);
  if (FAILED(hr = grabber_->SetCallback(&sampler_, 0))) return hr;  // 0: SampleCB
  const bool live = sourceKind_ == kLiveSource;
  hr = DShow::AddFilterByCLSID(graphBuilder_, live ? CLSID_SmartTee : CLSID_InfTee, live ? L"Smart Tee" : L"Inf Tee",
                               &tee_);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = DShow::ConnectFilters(graphBuilder_, grabberFilter_.p(), tee_.p()))) return hr;
  if (!renderer_) return E_FAIL;
  if (live) {
    // The smart tee's outputs: capture first, then preview.
    if (FAILED(hr = DShow::GetPin(tee_, PINDIR_OUTPUT, &teeRecordingPin_, 1))) return hr;
    if (FAILED(hr = DShow::GetPin(tee_, PINDIR_OUTPUT, &teePreviewPin_, 2))) return hr;
    return DShow::ConnectFilters(graphBuilder_, teePreviewPin_, renderer_);
  }
  if (FAILED(hr = DShow::GetPin(tee_, PINDIR_OUTPUT, &teePreviewPin_, 1))) return hr;
  if (FAILED(hr = DShow::ConnectFilters(graphBuilder_, teePreviewPin_, renderer_))) return hr;
  return DShow::GetUnconnectedPin(tee_, PINDIR_OUTPUT, &teeRecordingPin_);
}

HRESULT CVideoCapture::OpenDevice(int index) {
  if (!graphBuilder_) return E_FAIL;
  sourceKind_ = kLiveSource;
  HRESULT hr = AddCaptureDevice(index);
  if (FAILED(hr)) return Fail(hr);
  CComPtr<IPin> pin;
  pin.Attach(DShow::FindCategoryPin(sourceFilter_, PIN_CATEGORY_CAPTURE));
  if (!pin) pin.Attach(DShow::FindCategoryPin(sourceFilter_, PIN_CATEGORY_PREVIEW));
  if (!pin) DShow::GetPin(sourceFilter_, PINDIR_OUTPUT, &pin, 1);
  if (!pin) return Fail(E_FAIL);
  if (FAILED(hr = ConnectGrabber(pin))) return Fail(hr);
  sourcePin_ = pin;
  state_ = kStopped;
  graphBuilt_ = 1;
  Run();
  return S_OK;
}

HRESULT CVideoCapture::OpenFile(const char* path) {
  if (!graphBuilder_) return E_FAIL;
  if (!path) return E_POINTER;
  StopEverything();
  sourceKind_ = kFileSource;
  const std::wstring wide = com::Utf8ToWide(path);
  CComPtr<IBaseFilter> source;
  HRESULT hr;
  if (DShow::IsWindowsMediaFile(path)) {
    hr = DShow::AddFilterByCLSID(graphBuilder_, CLSID_WMAsfReader, L"Media File Source", &source);
    CComPtr<IFileSourceFilter> load;
    if (SUCCEEDED(hr)) hr = source.QueryInterface(&load);
    if (SUCCEEDED(hr)) hr = load->Load(wide.c_str(), nullptr);
  } else {
    hr = graphBuilder_->AddSourceFilter(wide.c_str(), L"Media File Source", &source);
  }
  if (FAILED(hr) || !source) {
    if (source) graphBuilder_->RemoveFilter(source);
    return Fail(FAILED(hr) ? hr : E_FAIL);
  }
  CComPtr<IPin> pin;
  if (FAILED(hr = DShow::GetPin(source, PINDIR_OUTPUT, &pin, 1)) || !pin) return Fail(FAILED(hr) ? hr : E_FAIL);
  if (FAILED(hr = ConnectGrabber(pin))) return Fail(hr);
  sourceFilter_ = source;
  sourcePin_ = pin;
  if (!mediaSeeking_) graphBuilder_.QueryInterface(&mediaSeeking_);
  state_ = kStopped;
  graphBuilt_ = 1;
  return S_OK;
}

HRESULT CVideoCapture::Run() {
  switch (state_) {
    case kStopped:
    case kPaused:
      if (!mediaControl_) return E_FAIL;
      state_ = kRunning;
      return mediaControl_->Run();
    case kRecordingPrepared:
      StartCapture();
      return E_FAIL;
    default:
      return E_FAIL;
  }
}

HRESULT CVideoCapture::Pause() {
  if (!mediaControl_) return E_FAIL;
  switch (state_) {
    case kRecording:
    case kRecordingPrepared:
      // Ends the recording as Stop does, so that the file is finished.
      StopRecording();
      return E_FAIL;
    case kNoGraph:
      return E_FAIL;  // nothing is open
    default:
      state_ = kPaused;
      return mediaControl_->Pause();
  }
}

HRESULT CVideoCapture::Stop() {
  switch (state_) {
    case kRunning:
    case kPaused:
      if (!mediaControl_) return E_FAIL;
      state_ = kStopped;
      return mediaControl_->Stop();
    case kRecording:
    case kRecordingPrepared:
      StopRecording();
      return E_FAIL;
    default:
      return E_FAIL;
  }
}

void CVideoCapture::StopEverything() {
  if (state_ == kRecording || state_ == kRecordingPrepared) StopRecording();
  // StopRecording resumes a live preview; the caller is about to change
  // the graph.
  if (state_ == kRunning || state_ == kPaused || state_ == kStopped) {
    state_ = kStopped;
    if (mediaControl_) mediaControl_->Stop();
  }
}

HRESULT CVideoCapture::StartRecording(const char* fileName, INT_PTR, int, int compressorIndex) {
  recordingArmed_ = false;
  if (!graphBuilt_ || !teeRecordingPin_ || !captureGraphBuilder_) return E_FAIL;
  StopEverything();
  const bool live = sourceKind_ == kLiveSource;

  CComPtr<IBaseFilter> mux;
  const std::wstring wide = com::Utf8ToWide(fileName ? fileName : "");
  HRESULT hr = captureGraphBuilder_->SetOutputFileName(&MEDIASUBTYPE_Avi, wide.c_str(), &mux, nullptr);
  if (FAILED(hr) || !mux) {
    Tell("Failed to set the capture file!");
    UndoRecordingSetup(mux, nullptr);
    return FAILED(hr) ? hr : E_FAIL;
  }
  CComPtr<IConfigAviMux> config;
  if (SUCCEEDED(mux.QueryInterface(&config))) config->SetOutputCompatibilityIndex(TRUE);

  // Every link is tried; any one failing is reported (a later link may
  // succeed after an earlier one failed).
  bool linkFailed = false;
  CComPtr<IBaseFilter> middle;
  if (compressorIndex <= 0) {
    if (live) {
      hr = DShow::AddFilterByCLSID(graphBuilder_, CLSID_Colour, L"Null Colour", &middle);
      if (SUCCEEDED(hr)) {
        linkFailed |= FAILED(DShow::ConnectFilters(graphBuilder_, teeRecordingPin_, middle));
        linkFailed |= FAILED(DShow::ConnectFilters(graphBuilder_, middle.p(), mux.p()));
      } else {
        linkFailed = true;
      }
    } else {
      linkFailed |= FAILED(DShow::ConnectFilters(graphBuilder_, teeRecordingPin_, mux));
    }
  } else {
    if (FAILED(hr = DShow::GetCompressor(compressorIndex - 1, &middle)) || !middle) {
      Tell("Unable to fetch compressor!");
      UndoRecordingSetup(mux, nullptr);
      return FAILED(hr) ? hr : E_FAIL;
    }
    if (FAILED(hr = graphBuilder_->AddFilter(middle, L"Compression Filter"))) {
      Tell("Unable to add compressor to graph!");
      UndoRecordingSetup(mux, nullptr);
      return hr;
    }
    linkFailed |= FAILED(DShow::ConnectFilters(graphBuilder_, teeRecordingPin_, middle));
    linkFailed |= FAILED(DShow::ConnectFilters(graphBuilder_, middle.p(), mux.p()));
  }
  if (linkFailed) {
    Tell("Unable to connect to the Avi Multiplexor input pin!");
    UndoRecordingSetup(mux, middle);
    return E_FAIL;
  }

  if (live) {
    if (!droppedFrames_) FindOnCapturePin(captureGraphBuilder_.p(), sourceFilter_.p(), droppedFrames_);
    droppedAtStart_ = deliveredAtStart_ = 0;
  } else {
    if (!mediaFilter_) filterGraph_.QueryInterface(&mediaFilter_);
    if (mediaFilter_) {
      if (!clockSaved_) {
        mediaFilter_->GetSyncSource(&savedClock_);
        clockSaved_ = true;
      }
      // No clock: the file is recorded as fast as it decodes.
      mediaFilter_->SetSyncSource(nullptr);
    }
  }

  if (live) {
    recordingArmed_ = SUCCEEDED(teeRecordingPin_.QueryInterface(&streamControl_)) && streamControl_;
    if (streamConfig_) {
      AM_MEDIA_TYPE* format = nullptr;
      if (SUCCEEDED(streamConfig_->GetFormat(&format)) && format) {
        if (format->formattype == FORMAT_VideoInfo && format->pbFormat &&
            format->cbFormat >= sizeof(VIDEOINFOHEADER)) {
          reinterpret_cast<VIDEOINFOHEADER*>(format->pbFormat)->AvgTimePerFrame = 400000;  // 25 a second
          streamConfig_->SetFormat(format);
        }
        DeleteMediaType(format);
      }
    }
  }
  if (recordingArmed_) {
    // The recording branch stays closed until Run.
    streamControl_->StopAt(nullptr, FALSE, 0);
    if (mediaControl_) mediaControl_->Run();
  } else if (mediaControl_) {
    mediaControl_->Pause();
  }
  state_ = kRecordingPrepared;
  return S_OK;
}

void CVideoCapture::UndoRecordingSetup(IBaseFilter* mux, IBaseFilter* compressor) {
  if (teeRecordingPin_) DShow::NukeDownstream(filterGraph_, teeRecordingPin_);
  // What never got linked to the recording pin: the multiplexer with its
  // writer, a compressor or converter left standing.
  if (mux) {
    DShow::NukeDownstream(filterGraph_, mux);
    filterGraph_->RemoveFilter(mux);
  }
  if (compressor) filterGraph_->RemoveFilter(compressor);
  streamControl_ = nullptr;
  recordingArmed_ = false;
  state_ = kStopped;
  if (sourceKind_ == kLiveSource) {
    Run();
  } else if (mediaFilter_ && clockSaved_) {
    mediaFilter_->SetSyncSource(savedClock_);
  }
}

HRESULT CVideoCapture::StartCapture() {
  if (recordingArmed_ && streamControl_) {
    streamControl_->StartAt(nullptr, 0);
  } else if (mediaControl_) {
    mediaControl_->Run();
  }
  if (sourceKind_ == kLiveSource && droppedFrames_) {
    long dropped = 0, delivered = 0;
    droppedFrames_->GetNumDropped(&dropped);
    droppedFrames_->GetNumNotDropped(&delivered);
    droppedAtStart_ = static_cast<int>(dropped);
    deliveredAtStart_ = static_cast<int>(delivered);
  }
  recordingStart_ = timeGetTime();
  state_ = kRecording;
  return S_OK;
}

HRESULT CVideoCapture::StopRecording() {
  if (recordingArmed_ && streamControl_) streamControl_->StopAt(nullptr, FALSE, 0);
  streamControl_ = nullptr;
  recordingArmed_ = false;
  state_ = kStopped;
  if (mediaControl_) mediaControl_->Stop();
  recordingStop_ = timeGetTime();
  if (teeRecordingPin_) DShow::NukeDownstream(filterGraph_, teeRecordingPin_);
  if (sourceKind_ == kLiveSource) {
    Run();
  } else if (mediaFilter_ && clockSaved_) {
    mediaFilter_->SetSyncSource(savedClock_);
  }
  return S_OK;
}

HRESULT CVideoCapture::SetVideoPosition(const RECT* source, const RECT* destination) {
  if (!windowlessControl_) return E_FAIL;
  return windowlessControl_->SetVideoPosition(source, destination);
}

HRESULT CVideoCapture::RepaintVideo(HWND hwnd, HDC dc) {
  if (!windowlessControl_) return E_FAIL;
  return windowlessControl_->RepaintVideo(hwnd, dc);
}

HRESULT CVideoCapture::ShowCaptureFilterPages() {
  return DShow::ShowPropertyPage(sourceFilter_, L"Capture Filter Property Pages", nullptr);
}

HRESULT CVideoCapture::ShowCapturePinPages() {
  if (sourceKind_ != kLiveSource || !sourcePin_) return 1;
  StopEverything();
  DShow::NukeGraphSegment(filterGraph_, sourcePin_, renderer_);
  const HRESULT page = DShow::ShowPropertyPage(sourcePin_, L"Capture Pin Properties", owner_);
  ConnectGrabber(sourcePin_);
  Run();
  return page;
}

std::string CVideoCapture::FormatLiveStatus(long delivered, long dropped, DWORD elapsedMs) {
  char text[128];
  std::snprintf(text, sizeof(text), "Captured %d frames (%d dropped) in %d.%dsec", static_cast<int>(delivered),
                static_cast<int>(dropped), static_cast<int>(elapsedMs / 1000), static_cast<int>((elapsedMs / 100) % 10));
  return text;
}

std::string CVideoCapture::FormatFileStatus(LONGLONG duration, LONGLONG position) {
  if (duration == 0) return "Recording file...";
  char text[64];
  std::snprintf(text, sizeof(text), "Recorded %.1f %%",
                100.0 * static_cast<double>(position) / (static_cast<double>(duration) + 1.0));
  return text;
}

std::string CVideoCapture::FormatDeviceText(const AM_MEDIA_TYPE& type) {
  int width = 0, height = 0;
  REFERENCE_TIME frameTime = 0;
  if (type.formattype == FORMAT_VideoInfo && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    width = vih->bmiHeader.biWidth;
    height = vih->bmiHeader.biHeight;
    frameTime = vih->AvgTimePerFrame;
  } else if (type.formattype == FORMAT_VideoInfo2 && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
    width = vih->bmiHeader.biWidth;
    height = vih->bmiHeader.biHeight;
    frameTime = vih->AvgTimePerFrame;
  } else {
    return {};
  }
  // A source without a fixed rate reports 0: not "inf".
  const float rate = frameTime > 0 ? 10000000.0f / static_cast<float>(frameTime) : 0.0f;
  char text[128];
  std::snprintf(text, sizeof(text), "Video Size: %d x %d\nFrame Rate: %.1f\n", width, height, rate);
  return text;
}

std::string CVideoCapture::DeviceTextOfPin(IPin* pin) {
  if (!pin) return {};
  AM_MEDIA_TYPE type{};
  if (FAILED(pin->ConnectionMediaType(&type))) return {};  // unconnected: nothing was filled
  std::string text = FormatDeviceText(type);
  FreeMediaType(type);
  return text;
}

std::string CVideoCapture::FormatFileText(const char* duration, int width, int height) {
  char text[160];
  std::snprintf(text, sizeof(text), "Duration: %s\nVideo Size: %d x %d\n", duration ? duration : "", width, height);
  return text;
}

std::string CVideoCapture::GetInfoText() {
  if (sourceKind_ == kLiveSource && sourceFilter_) {
    CComPtr<IPin> first;
    DShow::GetPin(sourceFilter_, PINDIR_OUTPUT, &first, 1);
    return DeviceTextOfPin(first) + sampler_.GetConfigurationText();
  }
  if (sourceKind_ == kFileSource) {
    char duration[64] = "";
    DShow::GetDurationString(mediaSeeking_, duration, sizeof(duration), nullptr, 0);
    const SampleFrameInfo info = sampler_.GetFrameInfo();
    return FormatFileText(duration, info.frameWidth, info.frameHeight) + sampler_.GetConfigurationText();
  }
  return "No source information";
}

std::string CVideoCapture::GetStatusText() {
  if (sourceKind_ == kLiveSource) {
    long dropped = 0, delivered = 0;
    if (droppedFrames_) {  // a device without the counts reports 0
      droppedFrames_->GetNumDropped(&dropped);
      droppedFrames_->GetNumNotDropped(&delivered);
    }
    return FormatLiveStatus(delivered - deliveredAtStart_, dropped - droppedAtStart_, timeGetTime() - recordingStart_);
  }
  if (sourceKind_ == kFileSource && mediaSeeking_) {
    LONGLONG duration = 0, position = 0;
    mediaSeeking_->GetDuration(&duration);
    if (duration != 0) mediaSeeking_->GetCurrentPosition(&position);
    return FormatFileStatus(duration, position);
  }
  return {};
}

void CVideoCapture::Teardown() {
  if (mediaControl_) StopEverything();
  // No frame reaches the sampler after this: SetCallback waits for a call
  // under way.
  ReleaseGrabber();
  graphBuilt_ = 0;
  if (rotCookie_) DShow::RemoveFromRot(rotCookie_);
  rotCookie_ = 0;
  delete crossbar_;
  crossbar_ = nullptr;
  crossbarInputCount_ = 0;
  streamControl_ = nullptr;
  recordingArmed_ = false;
  savedClock_ = nullptr;
  sourcePin_ = nullptr;
  mediaFilter_ = nullptr;
  mediaControl_ = nullptr;
  mediaEvents_ = nullptr;
  mediaSeeking_ = nullptr;
  deinterlaceControl_ = nullptr;
  windowlessControl_ = nullptr;
  monitorConfig_ = nullptr;
  rendererConfig_ = nullptr;
  renderer_ = nullptr;
  videoCompression_ = nullptr;
  streamConfig_ = nullptr;
  droppedFrames_ = nullptr;
  sourceFilter_ = nullptr;
  captureGraphBuilder_ = nullptr;
  graphBuilder_ = nullptr;
  // The graph itself goes too: a kept reference would keep the pipeline and
  // its streaming thread alive.
  filterGraph_ = nullptr;
  sourceKind_ = kNoSource;
  state_ = kNoGraph;
}
