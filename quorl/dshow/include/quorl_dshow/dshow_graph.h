#pragma once
// Ready-made preview-and-grab graphs: a source, the sample grabber (asking
// for 24-bit RGB) with a CFrameSampler, and a windowless renderer drawing
// into the owner's window. Graph events reach that window as message 1124.
//
// Copies share the filter graph, the samplers and the crossbar. The last
// copy to go revokes the running-object-table entry, releases its
// interfaces (the graph's final release stops the pipeline, so no grabber
// calls a sampler afterwards) and only then frees the samplers and the
// crossbar.
#include <memory>

#include "dshow/interfaces.h"
#include "quorl_dshow/frame_sampler.h"
#include "quorl_dshow/graph_members.h"

namespace DShow {

class CCrossbar;

class CDShowGraph : protected CGraphMembers {
 public:
  explicit CDShowGraph(HWND window = nullptr);
  ~CDShowGraph();
  CDShowGraph(const CDShowGraph& other);
  CDShowGraph& operator=(const CDShowGraph& other);

  // Adds "Video Mixing Renderer 9" in windowless mode. The first failure of
  // adding it or setting the mode; E_FAIL without a graph.
  virtual HRESULT InitVMR9(HWND window);
  // A new sampler, owned by the graph (and its copies); an earlier one
  // stays alive, since the grabber it was given to may still hold it.
  virtual HRESULT InitialiseFrameSampler();

  // E_FAIL before a source has made a sampler.
  HRESULT SetCallback(FrameCallback callback);
  HRESULT SetVideoPosition(RECT* source, RECT* destination);
  HRESULT RepaintVideo(HWND window, HDC dc);
  HRESULT Run();
  HRESULT Stop();
  HRESULT Pause();

 protected:
  // What copies share; see the top of this file.
  struct Shared;
  // Keeps a crossbar for as long as any copy lives.
  void AdoptCrossbar(CCrossbar* crossbar);
  // The grabber steps every source shares: add "Sample Gabber", ask for
  // RGB24; then, once the source is connected, the sampler and the
  // connection to the renderer.
  HRESULT AddGrabber();
  HRESULT ConnectSampler();
  // The stepping commands of the file and mixed graphs.
  enum class Step { Forward, Back, End, Start };
  HRESULT StepTo(IMediaSeeking* seeking, Step step);

 private:
  // Lets go of this copy's share; the last one tears the graph down.
  void Leave();
  void ReleaseInterfaces();
  std::shared_ptr<Shared> shared_;
};

class CDShowFileGraph : public CDShowGraph {
 public:
  explicit CDShowFileGraph(HWND window = nullptr);
  ~CDShowFileGraph();
  CDShowFileGraph(const CDShowFileGraph& other) = default;
  CDShowFileGraph& operator=(const CDShowFileGraph& other);

  HRESULT InitVMR9(HWND window) override { return CDShowGraph::InitVMR9(window); }
  HRESULT InitialiseFrameSampler() override { return CDShowGraph::InitialiseFrameSampler(); }
  // path: UTF-8 (old-form paths are mapped by the media stand-in). The
  // first failure of a step the graph needs; what was built stays.
  virtual HRESULT OpenMediaFile(const char* path);

  // Frame stepping; each ends with StopWhenReady and returns its result,
  // E_FAIL without seeking or media control.
  HRESULT FwStep();
  HRESULT RwStep();
  HRESULT FwEnd();
  HRESULT RwStart();

 protected:
  CComPtr<IMediaSeeking> seeking_;
};

class CDShowLiveGraph : public CDShowGraph {
 public:
  explicit CDShowLiveGraph(HWND window = nullptr);
  ~CDShowLiveGraph();
  CDShowLiveGraph(const CDShowLiveGraph& other) = default;
  CDShowLiveGraph& operator=(const CDShowLiveGraph& other);

  HRESULT InitVMR9(HWND window) override { return CDShowGraph::InitVMR9(window); }
  HRESULT InitialiseFrameSampler() override { return CDShowGraph::InitialiseFrameSampler(); }
  // deviceIndex counts from 1. The graph keeps its reference clock.
  virtual HRESULT ConnectToLiveSource(int deviceIndex);

 protected:
  int crossbarInputCount_ = 0;
  CCrossbar* crossbar_ = nullptr;  // owned by the shared part
  CComPtr<IBaseFilter> captureFilter_;

 private:
  HRESULT LiveSource(int deviceIndex);
};

class CDShowMixedGraph : public CDShowGraph {
 public:
  explicit CDShowMixedGraph(HWND window = nullptr);
  ~CDShowMixedGraph();
  CDShowMixedGraph(const CDShowMixedGraph& other) = default;
  CDShowMixedGraph& operator=(const CDShowMixedGraph& other);

  HRESULT InitVMR9(HWND window) override { return CDShowGraph::InitVMR9(window); }
  HRESULT InitialiseFrameSampler() override { return CDShowGraph::InitialiseFrameSampler(); }
  virtual HRESULT OpenMediaFile(const char* path);
  // Always opens the first device, whatever the index; shows its capture
  // pin's property page before connecting, and runs without a clock.
  virtual HRESULT ConnectToLiveSource(int deviceIndex);

  HRESULT FwStep();
  HRESULT RwStep();
  HRESULT FwEnd();
  HRESULT RwStart();

 protected:
  DWORD seekingCapabilities_ = 0;
  CComPtr<IMediaSeeking> seeking_;
  int crossbarInputCount_ = 0;
  CCrossbar* crossbar_ = nullptr;  // owned by the shared part
  CComPtr<IBaseFilter> captureFilter_;
};

}  // namespace DShow
