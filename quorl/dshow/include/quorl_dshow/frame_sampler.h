#pragma once
// The sample-grabber callback object that hands every decoded frame to a
// plain function, as packed bottom-up 24-bit B, G, R rows.
#include <atomic>

#include "dshow/interfaces.h"
#include "win/sync.h"

namespace DShow {

// data: the sample's buffer; width, height: biWidth and biHeight of the
// connected type; stride: (3 width + 3) rounded down to a multiple of 4.
// The result is ignored.
using FrameCallback = long (*)(unsigned char* data, int width, int height, int stride);

// The stand-in's own interface (the platform's identifier), so a sampler is
// handed to ISampleGrabber::SetCallback as it is.
using ISampleGrabberCB = ::ISampleGrabberCB;

// Width, height (signed, as biHeight) and row stride of a type that carries
// a whole VIDEOINFOHEADER; false for anything else (no format block, a
// VIDEOINFOHEADER2, a zero or negative width, a zero height, a frame whose
// byte count does not fit an int).
bool GetVideoInfoLayout(const AM_MEDIA_TYPE& type, int* width, int* height, int* stride);

class CFrameSampler : public ISampleGrabberCB {
 public:
  CFrameSampler();
  // Graphs free the samplers they make through this class; a derived
  // sampler must be destroyed whole.
  virtual ~CFrameSampler();
  CFrameSampler(const CFrameSampler&) = delete;
  CFrameSampler& operator=(const CFrameSampler&) = delete;

  // A failed query leaves *out untouched.
  HRESULT QueryInterface(REFIID iid, void** out) override;
  // No reference count: the creator decides the sampler's life.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  // Calls the callback only for a usable VideoInfo type and a sample of at
  // least stride x |height| bytes; always S_OK.
  HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
  HRESULT BufferCB(double sampleTime, BYTE* buffer, long length) override { return E_NOTIMPL; }

  // Null stops delivery. A sample being delivered may still reach the old
  // callback once.
  HRESULT SetProcessFunction(FrameCallback callback);
  // Keeps its own copy of the type (format block included); the caller
  // frees what it passed.
  void SetMediaType(AM_MEDIA_TYPE mediaType);

 protected:
  CRITICAL_SECTION criticalSection_;
  std::atomic<FrameCallback> callback_{nullptr};
  AM_MEDIA_TYPE mediaType_;  // zeroed until a source connects
};

}  // namespace DShow
