#include "graph_steps.h"

#include <string>

#include "com/bstr.h"
#include "com/com.h"
#include "quorl_dshow/crossbar.h"
#include "quorl_dshow/graph_functions.h"

namespace DShow::steps {

HRESULT AddWindowlessRenderer(IGraphBuilder* graph, HWND window, const RendererParts& parts) {
  if (!graph) return E_FAIL;
  HRESULT hr = AddFilterByCLSID(CComPtr<IGraphBuilder>(graph), CLSID_VideoMixingRenderer9, L"Video Mixing Renderer 9",
                                &parts.renderer);
  if (FAILED(hr)) return hr;
  // Windowless before any pin of the renderer is connected.
  if (FAILED(hr = parts.renderer.QueryInterface(&parts.config))) return hr;
  if (FAILED(hr = parts.config->SetRenderingMode(VMR9Mode_Windowless))) return hr;
  parts.renderer.QueryInterface(&parts.mixer);
  if (SUCCEEDED(parts.renderer.QueryInterface(&parts.windowless))) {
    parts.windowless->SetVideoClippingWindow(window);
    parts.windowless->SetAspectRatioMode(VMR9ARMode_None);  // stretched to the destination
  }
  if (SUCCEEDED(parts.renderer.QueryInterface(&parts.deinterlace)))
    parts.deinterlace->SetDeinterlaceMode(0xFFFFFFFF, &GUID_NULL);  // every stream
  return S_OK;
}

HRESULT AddSampleGrabber(IGraphBuilder* graph, CComPtr<IBaseFilter>& filter, CComPtr<ISampleGrabber>& grabber) {
  if (!graph) return E_FAIL;
  HRESULT hr = AddFilterByCLSID(CComPtr<IGraphBuilder>(graph), CLSID_SampleGrabber, L"Sample Gabber", &filter);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = filter.QueryInterface(&grabber))) return hr;
  // Only 24-bit RGB: the platform inserts the decoder and converter.
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = MEDIASUBTYPE_RGB24;
  return grabber->SetMediaType(&type);
}

HRESULT HandToSampler(ISampleGrabber* grabber, CFrameSampler* sampler) {
  if (!grabber || !sampler) return E_FAIL;
  AM_MEDIA_TYPE type{};
  HRESULT hr = grabber->GetConnectedMediaType(&type);
  if (FAILED(hr)) return hr;
  sampler->SetMediaType(type);
  FreeMediaType(type);
  return grabber->SetCallback(sampler, 0);  // 0: SampleCB
}

HRESULT AddFileSource(IGraphBuilder* graph, const char* path, CComPtr<IBaseFilter>& source) {
  if (!graph) return E_FAIL;
  if (!path) return E_POINTER;
  const std::wstring wide = com::Utf8ToWide(path);
  if (!IsWindowsMediaFile(path)) return graph->AddSourceFilter(wide.c_str(), L"Media File Source", &source);
  HRESULT hr = AddFilterByCLSID(CComPtr<IGraphBuilder>(graph), CLSID_WMAsfReader, L"Media File Source", &source);
  if (FAILED(hr)) return hr;
  CComPtr<IFileSourceFilter> file;
  if (FAILED(hr = source.QueryInterface(&file))) return hr;
  return file->Load(wide.c_str(), nullptr);
}

HRESULT AddLiveSource(IGraphBuilder* graph, CComPtr<ICaptureGraphBuilder2>& builder, int deviceIndex,
                      const LiveParts& parts) {
  if (!graph) return E_FAIL;
  IBaseFilter* capture = nullptr;
  CCrossbar* crossbar = nullptr;
  int inputs = 0;
  const HRESULT hr = BuildLiveUpstream(graph, deviceIndex, &capture, &crossbar, &inputs);
  parts.capture.Attach(capture);
  parts.crossbar = crossbar;
  parts.crossbarInputs = inputs;
  if (FAILED(hr)) return hr;
  if (!builder && SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                                             IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder))))
    builder->SetFiltergraph(graph);
  if (builder) {
    // Either interface may be missing; neither is needed to preview.
    for (const GUID* type : {&MEDIATYPE_Interleaved, &MEDIATYPE_Video})
      if (SUCCEEDED(builder->FindInterface(&PIN_CATEGORY_CAPTURE, type, parts.capture, IID_IAMVideoCompression,
                                           reinterpret_cast<void**>(&parts.compression))))
        break;
    for (const GUID* type : {&MEDIATYPE_Interleaved, &MEDIATYPE_Video})
      if (SUCCEEDED(builder->FindInterface(&PIN_CATEGORY_CAPTURE, type, parts.capture, IID_IAMStreamConfig,
                                           reinterpret_cast<void**>(&parts.streamConfig))))
        break;
  }
  return S_OK;
}

}  // namespace DShow::steps
