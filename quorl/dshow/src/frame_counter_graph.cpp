#include "quorl_dshow/frame_counter_graph.h"

#include "com/com.h"
#include "graph_steps.h"
#include "quorl_dshow/graph_functions.h"

namespace DShow {

HRESULT CDShowMpeg2FrameCounterGraph::CCounterSampler::SampleCB(double, IMediaSample*) {
  count.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

CDShowMpeg2FrameCounterGraph::CDShowMpeg2FrameCounterGraph() {
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

CDShowMpeg2FrameCounterGraph::~CDShowMpeg2FrameCounterGraph() {
  // The table's entry holds the graph: revoke it first, so that the last
  // release below ends the pipeline while the counter still exists.
  if (filterGraph_) RemoveFromRot(rotCookie_);
  grabber_ = nullptr;
  grabberFilter_ = nullptr;
  mediaFilter_ = nullptr;
  mediaEvents = nullptr;
  mediaControl_ = nullptr;
  graphBuilder_ = nullptr;
  filterGraph_ = nullptr;
}

HRESULT CDShowMpeg2FrameCounterGraph::Count(const char* path) {
  if (counting_ || !graphBuilder_) return E_FAIL;
  if (!path) return E_POINTER;
  counting_ = true;
  CComPtr<IBaseFilter> source;
  HRESULT hr = steps::AddFileSource(graphBuilder_, path, source);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = steps::AddSampleGrabber(graphBuilder_, grabberFilter_, grabber_))) return hr;
  // The grabber's output stays unconnected: nothing is rendered.
  if (FAILED(hr = ConnectFilters(graphBuilder_, source.p(), grabberFilter_.p()))) return hr;
  if (FAILED(hr = grabber_->SetCallback(&counter, 0))) return hr;
  // No reference clock: samples flow as fast as they decode.
  if (SUCCEEDED(filterGraph_.QueryInterface(&mediaFilter_)) && mediaFilter_) mediaFilter_->SetSyncSource(nullptr);
  if (SUCCEEDED(graphBuilder_.QueryInterface(&mediaEvents)) && mediaEvents)
    mediaEvents->SetNotifyWindow(reinterpret_cast<OAHWND>(notifyWindow), steps::kGraphEventMessage, 0);
  if (FAILED(hr = graphBuilder_.QueryInterface(&mediaControl_))) return hr;
  hr = mediaControl_->Run();
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace DShow
