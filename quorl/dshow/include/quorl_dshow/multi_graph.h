#pragma once
// Several media files side by side in one filter graph, each in its own
// window with its own windowless renderer, grabber and sampler, started,
// paused and stopped together under one media control (one clock).
//
// Streams are numbered by window (0 for the first) and opened in that
// order. Copies share the graph and the samplers; the last copy revokes the
// running-object-table entry, releases its interfaces and only then frees
// the samplers.
#include <memory>
#include <vector>

#include "dshow/interfaces.h"
#include "quorl_dshow/frame_sampler.h"

namespace DShow {

class CDShowMultiGraph {
 public:
  CDShowMultiGraph();
  ~CDShowMultiGraph();
  CDShowMultiGraph(const CDShowMultiGraph& other);
  CDShowMultiGraph& operator=(const CDShowMultiGraph& other);

  // One renderer per window, each added as "Video Mixing Renderer 9" (the
  // graph tells them apart by suffix); graph events go to windows[0] as
  // message 1124. E_INVALIDARG for count < 1, E_POINTER for null windows,
  // E_FAIL once renderers exist: nothing added. Otherwise the first failing
  // step, with the renderers of this call taken out again.
  virtual HRESULT InitVMR9(HWND* windows, int count);
  // Appends a new sampler (the argument is not used: samplers are numbered
  // in the order they are made).
  virtual HRESULT InitialiseFrameSampler(int stream);

  // path: UTF-8. stream must be the next to open (the number opened so far)
  // and have a renderer, else E_INVALIDARG. The first failing step; a
  // failure takes out of the graph what the call added, so the stream can
  // be opened again.
  HRESULT OpenMediaFile(const char* path, int stream);
  // The stream's sampler (set its FrameCallback there); null out of range.
  CFrameSampler* GetSampler(int stream) const;

  // E_FAIL for a stream out of range or without a windowless control.
  HRESULT SetVideoPosition(RECT* source, RECT* destination, int stream);
  HRESULT RepaintVideo(HWND window, HDC dc, int stream);
  // All streams together; E_FAIL without a media control.
  HRESULT Run();
  HRESULT Stop();
  HRESULT Pause();

 private:
  struct Shared;
  void Leave();
  void ReleaseInterfaces();
  bool HasStream(int stream) const { return stream >= 0 && stream < static_cast<int>(windowless_.size()); }

  std::vector<HWND> windows_;
  std::vector<CComPtr<IBaseFilter>> renderers_;
  std::vector<CComPtr<IVMRFilterConfig9>> rendererConfigs_;
  std::vector<CComPtr<IVMRMixerControl9>> mixerControls_;
  std::vector<CComPtr<IVMRWindowlessControl9>> windowless_;
  std::vector<CComPtr<IVMRDeinterlaceControl9>> deinterlaceControls_;
  std::vector<CComPtr<IBaseFilter>> grabberFilters_;
  std::vector<CComPtr<ISampleGrabber>> grabbers_;
  std::vector<CFrameSampler*> samplers_;  // owned by the shared part
  std::vector<CComPtr<IPin>> grabberFeeds_;
  // No pin here offers the interface the original kept per stream: null.
  std::vector<CComPtr<IUnknown>> feedExtras_;
  DWORD rotCookie_ = 0;
  CComPtr<IFilterGraph2> filterGraph_;
  CComPtr<IGraphBuilder> graphBuilder_;
  CComPtr<IMediaControl> mediaControl_;
  CComPtr<IMediaEventEx> mediaEvents_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace DShow
