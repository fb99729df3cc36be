#include "quorl_dshow/dshow_graph.h"

#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/com.h"
#include "quorl_dshow/crossbar.h"
#include "quorl_dshow/graph_functions.h"
#include "graph_steps.h"

namespace DShow {

struct CDShowGraph::Shared {
  std::vector<std::unique_ptr<CFrameSampler>> samplers;
  std::vector<std::unique_ptr<CCrossbar>> crossbars;
};

namespace {

using steps::kGraphEventMessage;

}  // namespace

// ------------------------------------------------------------ base graph

CDShowGraph::CDShowGraph(HWND window) : shared_(std::make_shared<Shared>()) {
  CoInitialize(nullptr);
  CComPtr<IUnknown> unknown;
  if (SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IUnknown,
                                 reinterpret_cast<void**>(&unknown))) &&
      unknown) {
    unknown->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&filterGraph_));
    unknown->QueryInterface(IID_IGraphBuilder, reinterpret_cast<void**>(&graphBuilder_));
  }
  if (filterGraph_) AddToRot(filterGraph_, &rotCookie_);
  // The base version also while a subclass is being built.
  if (window) CDShowGraph::InitVMR9(window);
}

CDShowGraph::~CDShowGraph() { Leave(); }

CDShowGraph::CDShowGraph(const CDShowGraph& other) = default;

CDShowGraph& CDShowGraph::operator=(const CDShowGraph& other) {
  if (this == &other) return *this;
  Leave();
  CGraphMembers::operator=(other);
  shared_ = other.shared_;
  return *this;
}

void CDShowGraph::Leave() {
  // The table's entry holds a graph reference until revoked: revoke it
  // first, so that releasing the interfaces ends the graph.
  const bool last = shared_ && shared_.use_count() == 1;
  if (last) RemoveFromRot(rotCookie_);
  ReleaseInterfaces();
  // Samplers and crossbars go only after the graph has stopped calling them.
  shared_.reset();
  sampler_ = nullptr;
}

void CDShowGraph::ReleaseInterfaces() {
  mediaFilter_ = nullptr;
  mediaControl_ = nullptr;
  mediaEvents_ = nullptr;
  rendererConfig_ = nullptr;
  mixerControl_ = nullptr;
  windowlessControl_ = nullptr;
  reserved1_ = nullptr;
  deinterlaceControl_ = nullptr;
  reserved2_ = nullptr;
  renderer_ = nullptr;
  videoCompression_ = nullptr;
  streamConfig_ = nullptr;
  reserved3_ = nullptr;
  grabberFilter_ = nullptr;
  grabber_ = nullptr;
  captureGraphBuilder_ = nullptr;
  graphBuilder_ = nullptr;
  filterGraph_ = nullptr;
}

void CDShowGraph::AdoptCrossbar(CCrossbar* crossbar) {
  if (crossbar) shared_->crossbars.emplace_back(crossbar);
}

HRESULT CDShowGraph::InitVMR9(HWND window) {
  window_ = window;
  if (!graphBuilder_) return E_FAIL;
  const HRESULT hr = steps::AddWindowlessRenderer(
      graphBuilder_, window, {renderer_, rendererConfig_, mixerControl_, windowlessControl_, deinterlaceControl_});
  if (FAILED(hr)) return hr;
  graphBuilder_.QueryInterface(&mediaControl_);
  if (SUCCEEDED(graphBuilder_.QueryInterface(&mediaEvents_)))
    mediaEvents_->SetNotifyWindow(reinterpret_cast<OAHWND>(window), kGraphEventMessage, 0);
  return S_OK;
}

HRESULT CDShowGraph::InitialiseFrameSampler() {
  shared_->samplers.push_back(std::make_unique<CFrameSampler>());
  sampler_ = shared_->samplers.back().get();
  return S_OK;
}

HRESULT CDShowGraph::SetCallback(FrameCallback callback) {
  if (!sampler_) return E_FAIL;
  return sampler_->SetProcessFunction(callback);
}

HRESULT CDShowGraph::SetVideoPosition(RECT* source, RECT* destination) {
  if (!windowlessControl_) return E_FAIL;
  return windowlessControl_->SetVideoPosition(source, destination);
}

HRESULT CDShowGraph::RepaintVideo(HWND window, HDC dc) {
  if (!windowlessControl_) return E_FAIL;
  return windowlessControl_->RepaintVideo(window, dc);
}

HRESULT CDShowGraph::Run() { return mediaControl_ ? mediaControl_->Run() : E_FAIL; }
HRESULT CDShowGraph::Stop() { return mediaControl_ ? mediaControl_->Stop() : E_FAIL; }
HRESULT CDShowGraph::Pause() { return mediaControl_ ? mediaControl_->Pause() : E_FAIL; }

HRESULT CDShowGraph::AddGrabber() { return steps::AddSampleGrabber(graphBuilder_, grabberFilter_, grabber_); }

HRESULT CDShowGraph::ConnectSampler() {
  InitialiseFrameSampler();
  const HRESULT hr = steps::HandToSampler(grabber_, sampler_);
  if (FAILED(hr)) return hr;
  return ConnectFilters(graphBuilder_, grabberFilter_.p(), renderer_.p());
}

HRESULT CDShowGraph::StepTo(IMediaSeeking* seeking, Step step) {
  if (!seeking || !mediaControl_) return E_FAIL;
  LONGLONG current = 0, duration = 0;
  seeking->GetDuration(&duration);
  switch (step) {
    case Step::Forward:
    case Step::Back:
      seeking->GetCurrentPosition(&current);
      current += step == Step::Forward ? 1 : -1;
      break;
    case Step::End:
      current = duration;
      break;
    case Step::Start:
      current = 0;
      break;
  }
  LONGLONG stop = duration;
  seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning);
  return mediaControl_->StopWhenReady();
}

// ------------------------------------------------------------ file graph

CDShowFileGraph::CDShowFileGraph(HWND window) : CDShowGraph(window) {}

CDShowFileGraph::~CDShowFileGraph() { seeking_ = nullptr; }

CDShowFileGraph& CDShowFileGraph::operator=(const CDShowFileGraph& other) {
  if (this == &other) return *this;
  // Our seeking interface holds the graph: let go of it before the base
  // decides whether the graph ends.
  seeking_ = nullptr;
  CDShowGraph::operator=(other);
  seeking_ = other.seeking_;
  return *this;
}

HRESULT CDShowFileGraph::OpenMediaFile(const char* path) {
  if (!graphBuilder_) return E_FAIL;
  if (!path) return E_POINTER;
  Stop();
  CComPtr<IBaseFilter> source;
  HRESULT hr = steps::AddFileSource(graphBuilder_, path, source);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = AddGrabber())) return hr;
  if (FAILED(hr = ConnectFilters(graphBuilder_, source.p(), grabberFilter_.p()))) return hr;
  if (FAILED(hr = ConnectSampler())) return hr;
  if (!seeking_) graphBuilder_.QueryInterface(&seeking_);
  // Every position of the stepping commands is a frame number.
  if (seeking_) seeking_->SetTimeFormat(&TIME_FORMAT_FRAME);
  filterGraph_.QueryInterface(&mediaFilter_);
  return S_OK;
}

HRESULT CDShowFileGraph::FwStep() { return StepTo(seeking_, Step::Forward); }
HRESULT CDShowFileGraph::RwStep() { return StepTo(seeking_, Step::Back); }
HRESULT CDShowFileGraph::FwEnd() { return StepTo(seeking_, Step::End); }
HRESULT CDShowFileGraph::RwStart() { return StepTo(seeking_, Step::Start); }

// ------------------------------------------------------------ live graph

CDShowLiveGraph::CDShowLiveGraph(HWND window) : CDShowGraph(window) {}

CDShowLiveGraph::~CDShowLiveGraph() {
  captureFilter_ = nullptr;
  crossbar_ = nullptr;
}

CDShowLiveGraph& CDShowLiveGraph::operator=(const CDShowLiveGraph& other) {
  if (this == &other) return *this;
  captureFilter_ = nullptr;
  CDShowGraph::operator=(other);
  crossbarInputCount_ = other.crossbarInputCount_;
  crossbar_ = other.crossbar_;
  captureFilter_ = other.captureFilter_;
  return *this;
}

HRESULT CDShowLiveGraph::LiveSource(int deviceIndex) {
  // Device, "Capture Source" and the crossbar search in front of it.
  const HRESULT hr = steps::AddLiveSource(
      graphBuilder_, captureGraphBuilder_, deviceIndex,
      {captureFilter_, crossbar_, crossbarInputCount_, videoCompression_, streamConfig_});
  AdoptCrossbar(crossbar_);
  return hr;
}

HRESULT CDShowLiveGraph::ConnectToLiveSource(int deviceIndex) {
  HRESULT hr = LiveSource(deviceIndex);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = AddGrabber())) return hr;
  if (FAILED(hr = ConnectFilters(graphBuilder_, captureFilter_.p(), grabberFilter_.p()))) return hr;
  return ConnectSampler();
}

// ------------------------------------------------------------ mixed graph

CDShowMixedGraph::CDShowMixedGraph(HWND window) : CDShowGraph(window) {}

CDShowMixedGraph::~CDShowMixedGraph() {
  crossbar_ = nullptr;
  captureFilter_ = nullptr;
  seeking_ = nullptr;
}

CDShowMixedGraph& CDShowMixedGraph::operator=(const CDShowMixedGraph& other) {
  if (this == &other) return *this;
  captureFilter_ = nullptr;
  seeking_ = nullptr;
  CDShowGraph::operator=(other);
  seekingCapabilities_ = other.seekingCapabilities_;
  seeking_ = other.seeking_;
  crossbarInputCount_ = other.crossbarInputCount_;
  crossbar_ = other.crossbar_;
  captureFilter_ = other.captureFilter_;
  return *this;
}

HRESULT CDShowMixedGraph::OpenMediaFile(const char* path) {
  if (!graphBuilder_) return E_FAIL;
  if (!path) return E_POINTER;
  Stop();
  CComPtr<IBaseFilter> source;
  HRESULT hr = steps::AddFileSource(graphBuilder_, path, source);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = AddGrabber())) return hr;
  if (FAILED(hr = ConnectFilters(graphBuilder_, source.p(), grabberFilter_.p()))) return hr;
  if (FAILED(hr = ConnectSampler())) return hr;
  if (!seeking_) graphBuilder_.QueryInterface(&seeking_);
  if (seeking_) {
    seeking_->SetTimeFormat(&TIME_FORMAT_FRAME);
    seeking_->GetCapabilities(&seekingCapabilities_);
  }
  filterGraph_.QueryInterface(&mediaFilter_);
  return S_OK;
}

HRESULT CDShowMixedGraph::ConnectToLiveSource(int) {
  if (!graphBuilder_) return E_FAIL;
  // Always the first device.
  IBaseFilter* capture = nullptr;
  CCrossbar* crossbar = nullptr;
  int inputs = 0;
  HRESULT hr = BuildLiveUpstream(graphBuilder_, 1, &capture, &crossbar, &inputs);
  captureFilter_.Attach(capture);
  crossbar_ = crossbar;
  crossbarInputCount_ = inputs;
  AdoptCrossbar(crossbar);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = AddGrabber())) return hr;
  // The user picks the capture format before the pin is connected.
  CComPtr<IPin> pin;
  if (SUCCEEDED(GetPin(captureFilter_, PINDIR_OUTPUT, &pin, 1)))
    ShowPropertyPage(pin, L"Capture Pin Properties", window_);
  if (FAILED(hr = ConnectFilters(graphBuilder_, captureFilter_.p(), grabberFilter_.p()))) return hr;
  if (FAILED(hr = ConnectSampler())) return hr;
  // No reference clock: every captured frame is shown as soon as it arrives.
  if (SUCCEEDED(filterGraph_.QueryInterface(&mediaFilter_)) && mediaFilter_) mediaFilter_->SetSyncSource(nullptr);
  return S_OK;
}

HRESULT CDShowMixedGraph::FwStep() { return StepTo(seeking_, Step::Forward); }
HRESULT CDShowMixedGraph::RwStep() { return StepTo(seeking_, Step::Back); }
HRESULT CDShowMixedGraph::FwEnd() { return StepTo(seeking_, Step::End); }
HRESULT CDShowMixedGraph::RwStart() { return StepTo(seeking_, Step::Start); }

}  // namespace DShow
