#include "quorl_dshow/multi_graph.h"

#include "com/com.h"
#include "graph_steps.h"
#include "quorl_dshow/graph_functions.h"

namespace DShow {

struct CDShowMultiGraph::Shared {
  std::vector<std::unique_ptr<CFrameSampler>> samplers;
};

namespace {

// {C56E9858-DBF3-4F6B-8119-384AF2060DEB}: kept per stream, never used.
constexpr GUID kFeedExtra = {0xC56E9858, 0xDBF3, 0x4F6B, {0x81, 0x19, 0x38, 0x4A, 0xF2, 0x06, 0x0D, 0xEB}};

template <class T>
void Trim(std::vector<T>& v, std::size_t size) {
  if (v.size() > size) v.resize(size);
}

}  // namespace

CDShowMultiGraph::CDShowMultiGraph() : shared_(std::make_shared<Shared>()) {
  CoInitialize(nullptr);
  CComPtr<IUnknown> unknown;
  if (SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IUnknown,
                                 reinterpret_cast<void**>(&unknown))) &&
      unknown) {
    unknown->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&filterGraph_));
    unknown->QueryInterface(IID_IGraphBuilder, reinterpret_cast<void**>(&graphBuilder_));
  }
  if (filterGraph_) AddToRot(filterGraph_, &rotCookie_);
}

CDShowMultiGraph::CDShowMultiGraph(const CDShowMultiGraph& other)
    : windows_(other.windows_),
      renderers_(other.renderers_),
      rendererConfigs_(other.rendererConfigs_),
      mixerControls_(other.mixerControls_),
      windowless_(other.windowless_),
      deinterlaceControls_(other.deinterlaceControls_),
      grabberFilters_(other.grabberFilters_),
      grabbers_(other.grabbers_),
      samplers_(other.samplers_),
      grabberFeeds_(other.grabberFeeds_),
      feedExtras_(other.feedExtras_),
      rotCookie_(other.rotCookie_),
      filterGraph_(other.filterGraph_),
      graphBuilder_(other.graphBuilder_),
      mediaControl_(other.mediaControl_),
      mediaEvents_(other.mediaEvents_),
      shared_(other.shared_) {
  // Each destructor leaves COM once.
  CoInitialize(nullptr);
}

CDShowMultiGraph& CDShowMultiGraph::operator=(const CDShowMultiGraph& other) {
  if (this == &other) return *this;
  Leave();
  windows_ = other.windows_;
  renderers_ = other.renderers_;
  rendererConfigs_ = other.rendererConfigs_;
  mixerControls_ = other.mixerControls_;
  windowless_ = other.windowless_;
  deinterlaceControls_ = other.deinterlaceControls_;
  grabberFilters_ = other.grabberFilters_;
  grabbers_ = other.grabbers_;
  samplers_ = other.samplers_;
  grabberFeeds_ = other.grabberFeeds_;
  feedExtras_ = other.feedExtras_;
  rotCookie_ = other.rotCookie_;
  filterGraph_ = other.filterGraph_;
  graphBuilder_ = other.graphBuilder_;
  mediaControl_ = other.mediaControl_;
  mediaEvents_ = other.mediaEvents_;
  shared_ = other.shared_;
  return *this;
}

CDShowMultiGraph::~CDShowMultiGraph() {
  Leave();
  CoUninitialize();
}

void CDShowMultiGraph::Leave() {
  // The table's entry holds a graph reference: revoke it first, so that
  // releasing the interfaces ends the graph before the samplers go.
  if (shared_ && shared_.use_count() == 1 && filterGraph_) RemoveFromRot(rotCookie_);
  ReleaseInterfaces();
  samplers_.clear();
  shared_.reset();
}

void CDShowMultiGraph::ReleaseInterfaces() {
  feedExtras_.clear();
  grabberFeeds_.clear();
  grabbers_.clear();
  grabberFilters_.clear();
  deinterlaceControls_.clear();
  windowless_.clear();
  mixerControls_.clear();
  rendererConfigs_.clear();
  renderers_.clear();
  windows_.clear();
  mediaEvents_ = nullptr;
  mediaControl_ = nullptr;
  graphBuilder_ = nullptr;
  filterGraph_ = nullptr;
}

HRESULT CDShowMultiGraph::InitVMR9(HWND* windows, int count) {
  if (count < 1) return E_INVALIDARG;
  if (!windows) return E_POINTER;
  if (!renderers_.empty()) return E_FAIL;  // events already go to the first window
  if (!graphBuilder_) return E_FAIL;
  HRESULT hr = S_OK;
  for (int i = 0; i < count && SUCCEEDED(hr); ++i) {
    CComPtr<IBaseFilter> renderer;
    CComPtr<IVMRFilterConfig9> config;
    CComPtr<IVMRMixerControl9> mixer;
    CComPtr<IVMRWindowlessControl9> windowless;
    CComPtr<IVMRDeinterlaceControl9> deinterlace;
    hr = steps::AddWindowlessRenderer(graphBuilder_, windows[i], {renderer, config, mixer, windowless, deinterlace});
    if (FAILED(hr)) {
      if (renderer) graphBuilder_->RemoveFilter(renderer);
      break;
    }
    windows_.push_back(windows[i]);
    renderers_.push_back(renderer);
    rendererConfigs_.push_back(config);
    mixerControls_.push_back(mixer);
    windowless_.push_back(windowless);
    deinterlaceControls_.push_back(deinterlace);
  }
  if (FAILED(hr)) {
    for (auto& renderer : renderers_) graphBuilder_->RemoveFilter(renderer);
    windows_.clear();
    renderers_.clear();
    rendererConfigs_.clear();
    mixerControls_.clear();
    windowless_.clear();
    deinterlaceControls_.clear();
    return hr;
  }
  graphBuilder_.QueryInterface(&mediaControl_);
  if (SUCCEEDED(graphBuilder_.QueryInterface(&mediaEvents_)))
    mediaEvents_->SetNotifyWindow(reinterpret_cast<OAHWND>(windows[0]), steps::kGraphEventMessage, 0);
  return S_OK;
}

HRESULT CDShowMultiGraph::InitialiseFrameSampler(int) {
  shared_->samplers.push_back(std::make_unique<CFrameSampler>());
  samplers_.push_back(shared_->samplers.back().get());
  return S_OK;
}

CFrameSampler* CDShowMultiGraph::GetSampler(int stream) const {
  if (stream < 0 || stream >= static_cast<int>(samplers_.size())) return nullptr;
  return samplers_[static_cast<std::size_t>(stream)];
}

HRESULT CDShowMultiGraph::OpenMediaFile(const char* path, int stream) {
  if (!graphBuilder_) return E_FAIL;
  if (!path) return E_POINTER;
  // The vectors grow by one per stream: only the next stream, and only one
  // that has a renderer, keeps them aligned with the windows.
  if (stream != static_cast<int>(grabberFilters_.size()) || stream >= static_cast<int>(renderers_.size()))
    return E_INVALIDARG;
  if (mediaControl_) mediaControl_->Stop();

  const std::size_t opened = grabberFilters_.size();
  CComPtr<IBaseFilter> source;
  CComPtr<IBaseFilter> grabberFilter;
  CComPtr<ISampleGrabber> grabber;
  CComPtr<IPin> feed;
  bool samplerMade = false;
  HRESULT hr = [&] {
    HRESULT r = steps::AddFileSource(graphBuilder_, path, source);
    if (FAILED(r)) return r;
    if (FAILED(r = steps::AddSampleGrabber(graphBuilder_, grabberFilter, grabber))) return r;
    if (FAILED(r = ConnectFilters(graphBuilder_, source.p(), grabberFilter.p()))) return r;
    InitialiseFrameSampler(stream);
    samplerMade = true;
    if (FAILED(r = steps::HandToSampler(grabber, samplers_.back()))) return r;
    if (FAILED(r = ConnectFilters(graphBuilder_, grabberFilter.p(), renderers_[opened].p()))) return r;
    CComPtr<IPin> input;
    if (FAILED(r = GetPin(grabberFilter, PINDIR_INPUT, &input, 1))) return r;
    return input->ConnectedTo(&feed);
  }();
  if (FAILED(hr)) {
    // Out of the graph and the vectors again; the grabber lets go of the
    // sampler before it is freed.
    if (grabber) grabber->SetCallback(nullptr, 0);
    if (grabberFilter) NukeUpstream(graphBuilder_, grabberFilter.p());
    if (grabberFilter) graphBuilder_->RemoveFilter(grabberFilter);
    if (source) graphBuilder_->RemoveFilter(source);
    if (samplerMade) {
      samplers_.pop_back();
      shared_->samplers.pop_back();
    }
    return hr;
  }
  grabberFilters_.push_back(grabberFilter);
  grabbers_.push_back(grabber);
  grabberFeeds_.push_back(feed);
  CComPtr<IUnknown> extra;
  feed->QueryInterface(kFeedExtra, reinterpret_cast<void**>(&extra));
  feedExtras_.push_back(extra);
  return S_OK;
}

HRESULT CDShowMultiGraph::SetVideoPosition(RECT* source, RECT* destination, int stream) {
  if (!HasStream(stream) || !windowless_[static_cast<std::size_t>(stream)]) return E_FAIL;
  return windowless_[static_cast<std::size_t>(stream)]->SetVideoPosition(source, destination);
}

HRESULT CDShowMultiGraph::RepaintVideo(HWND window, HDC dc, int stream) {
  if (!HasStream(stream) || !windowless_[static_cast<std::size_t>(stream)]) return E_FAIL;
  return windowless_[static_cast<std::size_t>(stream)]->RepaintVideo(window, dc);
}

HRESULT CDShowMultiGraph::Run() { return mediaControl_ ? mediaControl_->Run() : E_FAIL; }
HRESULT CDShowMultiGraph::Stop() { return mediaControl_ ? mediaControl_->Stop() : E_FAIL; }
HRESULT CDShowMultiGraph::Pause() { return mediaControl_ ? mediaControl_->Pause() : E_FAIL; }

}  // namespace DShow
