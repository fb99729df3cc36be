#pragma once
// Counts the video frames of a media file by decoding it once without a
// reference clock (as fast as the machine decodes), through a grabber whose
// callback only counts. Nothing is rendered. The end of the run reaches the
// notify window as message 1124 (WM_USER + 100); the owner then reads the
// events from mediaEvents and the count from counter.count.
#include <atomic>

#include "dshow/interfaces.h"
#include "quorl_dshow/frame_sampler.h"

namespace DShow {

class CDShowMpeg2FrameCounterGraph {
 public:
  // Counts samples; never reads them and never calls a FrameCallback.
  class CCounterSampler : public CFrameSampler {
   public:
    HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
    // Written on the streaming thread; final once the completion message
    // has arrived.
    std::atomic<int> count{0};
  };

  // Joins the thread to COM (left initialised by the destructor), makes the
  // graph and enters it in the running object table.
  CDShowMpeg2FrameCounterGraph();
  // Revokes the table entry and releases the graph; its final release
  // stops the pipeline before the counter goes.
  ~CDShowMpeg2FrameCounterGraph();
  // The grabber calls the counter by address: no copies.
  CDShowMpeg2FrameCounterGraph(const CDShowMpeg2FrameCounterGraph&) = delete;
  CDShowMpeg2FrameCounterGraph& operator=(const CDShowMpeg2FrameCounterGraph&) = delete;

  // Builds the counting graph for path (UTF-8) and runs it. The first
  // failure of the source, grabber, connection and run steps; a failure
  // while running arrives as EC_ERRORABORT. Once per graph: E_FAIL after.
  HRESULT Count(const char* path);

  CCounterSampler counter;

 private:
  DWORD rotCookie_ = 0;
  CComPtr<IFilterGraph2> filterGraph_;
  CComPtr<IGraphBuilder> graphBuilder_;

 public:
  // Set by the owner before Count; null: no completion message.
  HWND notifyWindow = nullptr;

 private:
  CComPtr<IMediaControl> mediaControl_;

 public:
  CComPtr<IMediaEventEx> mediaEvents;

 private:
  CComPtr<IMediaFilter> mediaFilter_;
  CComPtr<IBaseFilter> grabberFilter_;
  CComPtr<ISampleGrabber> grabber_;
  bool counting_ = false;
};

}  // namespace DShow
