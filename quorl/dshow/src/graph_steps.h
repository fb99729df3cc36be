#pragma once
// Internal: the building steps every graph class of the library shares, so
// each class runs the same code for its renderer, grabber, sampler, source
// and device.
#include "dshow/interfaces.h"
#include "quorl_dshow/frame_sampler.h"

namespace DShow {

class CCrossbar;

namespace steps {

// Graph events reach the owner's window as WM_USER + 100.
constexpr long kGraphEventMessage = 1124;

// What a windowless renderer brings with it.
struct RendererParts {
  CComPtr<IBaseFilter>& renderer;
  CComPtr<IVMRFilterConfig9>& config;
  CComPtr<IVMRMixerControl9>& mixer;
  CComPtr<IVMRWindowlessControl9>& windowless;
  CComPtr<IVMRDeinterlaceControl9>& deinterlace;
};

// Adds "Video Mixing Renderer 9" in windowless mode, clipped to the window,
// stretched (no aspect ratio kept), deinterlacing off. The first failure of
// adding it or setting the mode; the optional controls may stay null.
HRESULT AddWindowlessRenderer(IGraphBuilder* graph, HWND window, const RendererParts& parts);

// Adds "Sample Gabber" asking for 24-bit RGB video.
HRESULT AddSampleGrabber(IGraphBuilder* graph, CComPtr<IBaseFilter>& filter, CComPtr<ISampleGrabber>& grabber);

// Once the grabber's input is connected: the sampler learns the connected
// type and becomes the grabber's SampleCB callback.
HRESULT HandToSampler(ISampleGrabber* grabber, CFrameSampler* sampler);

// The file's source filter "Media File Source": the ASF reader for Windows
// Media names, otherwise the one the platform picks. path: UTF-8.
HRESULT AddFileSource(IGraphBuilder* graph, const char* path, CComPtr<IBaseFilter>& source);

// Device deviceIndex (from 1) as "Capture Source" with its crossbar, and the
// capture pin's compression and stream configuration where it has them.
// The filter and the crossbar are handed over whatever the result; the
// caller owns the crossbar.
struct LiveParts {
  CComPtr<IBaseFilter>& capture;
  CCrossbar*& crossbar;
  int& crossbarInputs;
  CComPtr<IAMVideoCompression>& compression;
  CComPtr<IAMStreamConfig>& streamConfig;
};
HRESULT AddLiveSource(IGraphBuilder* graph, CComPtr<ICaptureGraphBuilder2>& builder, int deviceIndex,
                      const LiveParts& parts);

}  // namespace steps
}  // namespace DShow
