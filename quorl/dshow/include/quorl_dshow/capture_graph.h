#pragma once
// A live-capture graph for a multithreaded caller: a capture device
// ("Capture Source") with its crossbar, the sample grabber feeding a
// CFrameSampler, and a windowless "Video Mixing Renderer 9" preview. Beyond
// the live graph it sets the capture format, reports dropped frames and
// shows the capture filter's property pages.
//
// Copies share the graph, the crossbar, the samplers and the
// running-object-table entry. Each destructor stops the shared graph; the
// last copy revokes the entry, destroys the crossbar, releases its
// interfaces (the graph's final release stops the pipeline) and only then
// frees the samplers. Each copy joins COM and each destructor leaves it.
#include <memory>

#include "dshow/interfaces.h"
#include "quorl_dshow/frame_sampler.h"
#include "quorl_dshow/graph_members.h"

namespace DShow {

class CCrossbar;

class CDShowCaptureGraph : private CGraphMembers {
 public:
  explicit CDShowCaptureGraph(HWND window = nullptr);
  ~CDShowCaptureGraph();
  CDShowCaptureGraph(const CDShowCaptureGraph& other);
  CDShowCaptureGraph& operator=(const CDShowCaptureGraph& other);

  // As the graph family: the renderer in windowless mode, events to the
  // window as message 1124.
  virtual HRESULT InitVMR9(HWND window);
  // A new sampler; an earlier one stays alive while the graph does.
  virtual HRESULT InitialiseFrameSampler();
  // deviceIndex counts from 1. Adds "Capture Source" (and its crossbar)
  // only when there is none yet or it was made for another device, so a
  // format set after LiveSource holds. The first failure of the device,
  // grabber and connection steps; what was built stays.
  virtual HRESULT ConnectToLiveSource(int deviceIndex);

  // Adds the device's "Capture Source"; one made earlier is taken out of
  // the graph and its crossbar freed.
  HRESULT LiveSource(int deviceIndex);
  // E_FAIL before a source has made a sampler.
  HRESULT SetCallback(FrameCallback callback);
  // Before the capture pin is connected. subtype null: the device's
  // default format. E_FAIL without a capture filter or capture pin; S_FALSE
  // for a Video for Windows device (its own dialogs set the format);
  // VFW_E_ALREADY_CONNECTED once connected; E_INVALIDARG for a rate that is
  // not finite and positive.
  HRESULT SetVideoFormat(const GUID* subtype, int width, int height, float framesPerSecond);
  // E_FAIL without a capture filter or one without IAMDroppedFrames;
  // otherwise the first failing call, the outputs after it untouched.
  HRESULT GetDroppedFrames(long* dropped, long* notDropped, long* averageFrameSize);
  // The capture filter's pages, owned by the graph's window when it has one.
  HRESULT ShowCaptureFilterProperties();
  HRESULT SetVideoPosition(RECT* source, RECT* destination);
  HRESULT RepaintVideo(HWND window, HDC dc);
  // E_FAIL without a media control (no window was given).
  HRESULT Run();
  HRESULT Stop();
  HRESULT Pause();

 private:
  struct Shared;
  void Leave();
  void ReleaseInterfaces();

  CComPtr<IBaseFilter> captureFilter_;
  int captureDevice_ = 0;  // the device captureFilter_ was made for
  // The crossbar in front of the device lives in the shared part: a copy
  // that replaces the device frees it for all.
  int crossbarInputCount_ = 0;
  std::shared_ptr<Shared> shared_;
};

}  // namespace DShow
