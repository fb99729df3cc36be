#pragma once
// The handles and interfaces a single-stream preview-and-grab graph keeps
// (its window, marker, table cookie, graph builders, renderer, grabber and
// current sampler), in one block so that the graph classes copy and assign
// them in one step. Each graph decides what sharing and releasing them means.
#include "dshow/interfaces.h"
#include "quorl_dshow/frame_sampler.h"

namespace DShow {

struct CGraphMembers {
  HWND window_ = nullptr;
  // The same fixed tag in every graph object.
  DWORD marker_ = 0xACDCACDC;
  DWORD rotCookie_ = 0;
  CComPtr<IFilterGraph2> filterGraph_;
  CComPtr<IGraphBuilder> graphBuilder_;
  CComPtr<ICaptureGraphBuilder2> captureGraphBuilder_;
  CComPtr<IMediaFilter> mediaFilter_;
  CComPtr<IMediaControl> mediaControl_;
  CComPtr<IMediaEventEx> mediaEvents_;
  CComPtr<IBaseFilter> renderer_;
  CComPtr<IVMRFilterConfig9> rendererConfig_;
  CComPtr<IVMRMixerControl9> mixerControl_;
  CComPtr<IVMRWindowlessControl9> windowlessControl_;
  CComPtr<IUnknown> reserved1_;
  CComPtr<IVMRDeinterlaceControl9> deinterlaceControl_;
  CComPtr<IUnknown> reserved2_;
  CComPtr<IAMVideoCompression> videoCompression_;
  CComPtr<IAMStreamConfig> streamConfig_;
  CComPtr<IUnknown> reserved3_;
  CComPtr<IBaseFilter> grabberFilter_;
  CComPtr<ISampleGrabber> grabber_;
  CFrameSampler* sampler_ = nullptr;  // owned by the graph's shared part
};

}  // namespace DShow
