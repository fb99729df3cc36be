#include "quorl_dshow/capture_graph.h"

#include <vector>

#include "com/com.h"
#include "graph_steps.h"
#include "quorl_dshow/crossbar.h"
#include "quorl_dshow/graph_functions.h"

namespace DShow {

struct CDShowCaptureGraph::Shared {
  std::unique_ptr<CCrossbar> crossbar;
  std::vector<std::unique_ptr<CFrameSampler>> samplers;
};

CDShowCaptureGraph::CDShowCaptureGraph(HWND window) : shared_(std::make_shared<Shared>()) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CComPtr<IUnknown> unknown;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IUnknown,
                              reinterpret_cast<void**>(&unknown))) ||
      !unknown)
    return;
  if (FAILED(unknown->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&filterGraph_)))) return;
  if (FAILED(unknown->QueryInterface(IID_IGraphBuilder, reinterpret_cast<void**>(&graphBuilder_)))) return;
  if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                              reinterpret_cast<void**>(&captureGraphBuilder_))) ||
      !captureGraphBuilder_)
    return;
  if (FAILED(captureGraphBuilder_->SetFiltergraph(graphBuilder_))) return;
  AddToRot(filterGraph_, &rotCookie_);
  if (window) {
    window_ = window;
    CDShowCaptureGraph::InitVMR9(window);
  }
  sampler_ = nullptr;
}

CDShowCaptureGraph::CDShowCaptureGraph(const CDShowCaptureGraph& other)
    : CGraphMembers(other),
      captureFilter_(other.captureFilter_),
      captureDevice_(other.captureDevice_),
      crossbarInputCount_(other.crossbarInputCount_),
      shared_(other.shared_) {
  // Each destructor leaves COM once.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

CDShowCaptureGraph& CDShowCaptureGraph::operator=(const CDShowCaptureGraph& other) {
  if (this == &other) return *this;
  Leave();
  CGraphMembers::operator=(other);
  captureFilter_ = other.captureFilter_;
  captureDevice_ = other.captureDevice_;
  crossbarInputCount_ = other.crossbarInputCount_;
  shared_ = other.shared_;
  return *this;
}

CDShowCaptureGraph::~CDShowCaptureGraph() {
  if (mediaControl_) mediaControl_->Stop();
  Leave();
  CoUninitialize();
}

void CDShowCaptureGraph::Leave() {
  // The table's entry holds a graph reference: revoke it first, so that
  // releasing the interfaces ends the graph before crossbar and samplers go.
  const bool last = shared_ && shared_.use_count() == 1;
  if (last && filterGraph_) RemoveFromRot(rotCookie_);
  if (last) shared_->crossbar.reset();
  ReleaseInterfaces();
  shared_.reset();
  sampler_ = nullptr;
}

void CDShowCaptureGraph::ReleaseInterfaces() {
  captureFilter_ = nullptr;
  grabber_ = nullptr;
  grabberFilter_ = nullptr;
  reserved3_ = nullptr;
  streamConfig_ = nullptr;
  videoCompression_ = nullptr;
  reserved2_ = nullptr;
  deinterlaceControl_ = nullptr;
  reserved1_ = nullptr;
  windowlessControl_ = nullptr;
  mixerControl_ = nullptr;
  rendererConfig_ = nullptr;
  renderer_ = nullptr;
  mediaEvents_ = nullptr;
  mediaControl_ = nullptr;
  mediaFilter_ = nullptr;
  captureGraphBuilder_ = nullptr;
  graphBuilder_ = nullptr;
  filterGraph_ = nullptr;
}

HRESULT CDShowCaptureGraph::InitVMR9(HWND window) {
  window_ = window;
  if (!graphBuilder_) return E_FAIL;
  const HRESULT hr = steps::AddWindowlessRenderer(
      graphBuilder_, window, {renderer_, rendererConfig_, mixerControl_, windowlessControl_, deinterlaceControl_});
  if (FAILED(hr)) return hr;
  graphBuilder_.QueryInterface(&mediaControl_);
  if (SUCCEEDED(graphBuilder_.QueryInterface(&mediaEvents_)))
    mediaEvents_->SetNotifyWindow(reinterpret_cast<OAHWND>(window), steps::kGraphEventMessage, 0);
  return S_OK;
}

HRESULT CDShowCaptureGraph::InitialiseFrameSampler() {
  shared_->samplers.push_back(std::make_unique<CFrameSampler>());
  sampler_ = shared_->samplers.back().get();
  return S_OK;
}

HRESULT CDShowCaptureGraph::LiveSource(int deviceIndex) {
  if (!graphBuilder_) return E_FAIL;
  if (captureFilter_) {
    // The earlier device and the crossbars in front of it leave the graph.
    NukeUpstream(graphBuilder_, captureFilter_.p());
    graphBuilder_->RemoveFilter(captureFilter_);
    captureFilter_ = nullptr;
    streamConfig_ = nullptr;
    videoCompression_ = nullptr;
  }
  shared_->crossbar.reset();
  CCrossbar* crossbar = nullptr;
  const HRESULT hr = steps::AddLiveSource(
      graphBuilder_, captureGraphBuilder_, deviceIndex,
      {captureFilter_, crossbar, crossbarInputCount_, videoCompression_, streamConfig_});
  shared_->crossbar.reset(crossbar);
  captureDevice_ = captureFilter_ ? deviceIndex : 0;
  return hr;
}

HRESULT CDShowCaptureGraph::ConnectToLiveSource(int deviceIndex) {
  HRESULT hr = S_OK;
  if (!captureFilter_ || captureDevice_ != deviceIndex) hr = LiveSource(deviceIndex);
  if (FAILED(hr)) return hr;
  if (!captureFilter_) return E_FAIL;
  if (FAILED(hr = steps::AddSampleGrabber(graphBuilder_, grabberFilter_, grabber_))) return hr;
  if (FAILED(hr = ConnectFilters(graphBuilder_, captureFilter_.p(), grabberFilter_.p()))) return hr;
  InitialiseFrameSampler();
  if (FAILED(hr = steps::HandToSampler(grabber_, sampler_))) return hr;
  return ConnectFilters(graphBuilder_, grabberFilter_.p(), renderer_.p());
}

HRESULT CDShowCaptureGraph::SetCallback(FrameCallback callback) {
  if (!sampler_) return E_FAIL;
  return sampler_->SetProcessFunction(callback);
}

HRESULT CDShowCaptureGraph::SetVideoFormat(const GUID* subtype, int width, int height, float framesPerSecond) {
  if (!captureFilter_) return E_FAIL;
  CComPtr<IAMVfwCaptureDialogs> dialogs;
  // Video for Windows drivers set their format through their own dialogs.
  if (SUCCEEDED(captureFilter_.QueryInterface(&dialogs)) && dialogs) return S_FALSE;
  CComPtr<IPin> pin;
  pin.Attach(FindCategoryPin(captureFilter_, PIN_CATEGORY_CAPTURE));
  if (!pin) return E_FAIL;
  CComPtr<IPin> peer;
  if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) return VFW_E_ALREADY_CONNECTED;
  CComPtr<IAMStreamConfig> config;
  if (FAILED(pin.QueryInterface(&config)) || !config) return E_NOINTERFACE;
  if (!subtype) return config->SetFormat(nullptr);  // the pin's default format
  VIDEOINFOHEADER header{};
  AM_MEDIA_TYPE type{};
  type.pbFormat = reinterpret_cast<BYTE*>(&header);
  type.cbFormat = sizeof(header);
  const HRESULT hr = InitMediaType(&type, subtype, width, height, framesPerSecond, FORMAT_VideoInfo);
  if (FAILED(hr)) return hr;
  return config->SetFormat(&type);
}

HRESULT CDShowCaptureGraph::GetDroppedFrames(long* dropped, long* notDropped, long* averageFrameSize) {
  if (!captureFilter_) return E_FAIL;
  CComPtr<IAMDroppedFrames> frames;
  if (FAILED(captureFilter_.QueryInterface(&frames)) || !frames) return E_FAIL;
  HRESULT hr = frames->GetNumDropped(dropped);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = frames->GetNumNotDropped(notDropped))) return hr;
  return frames->GetAverageFrameSize(averageFrameSize);
}

HRESULT CDShowCaptureGraph::ShowCaptureFilterProperties() {
  return ShowPropertyPage(captureFilter_, L"Capture Filter Property Pages", window_);
}

HRESULT CDShowCaptureGraph::SetVideoPosition(RECT* source, RECT* destination) {
  if (!windowlessControl_) return E_FAIL;
  return windowlessControl_->SetVideoPosition(source, destination);
}

HRESULT CDShowCaptureGraph::RepaintVideo(HWND window, HDC dc) {
  if (!windowlessControl_) return E_FAIL;
  return windowlessControl_->RepaintVideo(window, dc);
}

HRESULT CDShowCaptureGraph::Run() { return mediaControl_ ? mediaControl_->Run() : E_FAIL; }
HRESULT CDShowCaptureGraph::Stop() { return mediaControl_ ? mediaControl_->Stop() : E_FAIL; }
HRESULT CDShowCaptureGraph::Pause() { return mediaControl_ ? mediaControl_->Pause() : E_FAIL; }

}  // namespace DShow
