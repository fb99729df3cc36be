#include "quorl_dshow/frame_sampler.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace DShow {

bool GetVideoInfoLayout(const AM_MEDIA_TYPE& type, int* width, int* height, int* stride) {
  if (type.formattype != FORMAT_VideoInfo || !type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER))
    return false;
  VIDEOINFOHEADER header;
  std::memcpy(&header, type.pbFormat, sizeof(header));  // the block need not be aligned
  const long long w = header.bmiHeader.biWidth, h = header.bmiHeader.biHeight;
  if (w <= 0 || h == 0) return false;
  // The row of a 24-bit DIB padded to 32 bits.
  const long long rowBytes = (3 * w + 3) & ~3LL;
  if (rowBytes > INT_MAX || rowBytes * std::llabs(h) > INT_MAX) return false;
  if (width) *width = static_cast<int>(w);
  if (height) *height = static_cast<int>(h);
  if (stride) *stride = static_cast<int>(rowBytes);
  return true;
}

CFrameSampler::CFrameSampler() {
  InitializeCriticalSection(&criticalSection_);
  std::memset(&mediaType_, 0, sizeof(mediaType_));
}

CFrameSampler::~CFrameSampler() {
  FreeMediaType(mediaType_);
  DeleteCriticalSection(&criticalSection_);
}

HRESULT CFrameSampler::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_ISampleGrabberCB || iid == IID_IUnknown) {
    *out = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT CFrameSampler::SampleCB(double, IMediaSample* sample) {
  if (!sample) return S_OK;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const FrameCallback callback = callback_.load();
  if (!callback || !data) return S_OK;
  int width = 0, height = 0, stride = 0;
  {
    // SetMediaType may swap the format block on another thread.
    EnterCriticalSection(&criticalSection_);
    const bool usable = GetVideoInfoLayout(mediaType_, &width, &height, &stride);
    LeaveCriticalSection(&criticalSection_);
    if (!usable) return S_OK;
  }
  if (sample->GetActualDataLength() < static_cast<long>(stride) * std::abs(height)) return S_OK;
  callback(data, width, height, stride);
  return S_OK;
}

HRESULT CFrameSampler::SetProcessFunction(FrameCallback callback) {
  EnterCriticalSection(&criticalSection_);
  callback_.store(callback);
  LeaveCriticalSection(&criticalSection_);
  return S_OK;
}

void CFrameSampler::SetMediaType(AM_MEDIA_TYPE mediaType) {
  AM_MEDIA_TYPE copy;
  std::memset(&copy, 0, sizeof(copy));
  // On failure the sampler keeps no type: no frame is delivered until a
  // usable one arrives.
  if (FAILED(CopyMediaType(&copy, &mediaType))) std::memset(&copy, 0, sizeof(copy));
  EnterCriticalSection(&criticalSection_);
  AM_MEDIA_TYPE old = mediaType_;
  mediaType_ = copy;
  LeaveCriticalSection(&criticalSection_);
  FreeMediaType(old);
}

}  // namespace DShow
