#pragma once
// Media types and sample buffers for tests and benchmarks of frame
// callbacks: 24-bit frames whose rows are (3 width + 3) & ~3 bytes.
#include <cstdint>
#include <cstring>

#include "com/com.h"
#include "dshow/interfaces.h"

namespace video_frames {

inline int Stride(int width) { return (3 * width + 3) & ~3; }

// An RGB24 VideoInfo type with its own format block (free it with
// FreeMediaType). formatType FORMAT_VideoInfo2 gets a VIDEOINFOHEADER2;
// blockBytes 0 means the header's own size.
inline AM_MEDIA_TYPE MakeVideoType(int width, int height, const GUID& formatType = FORMAT_VideoInfo,
                                   ULONG blockBytes = 0) {
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = MEDIASUBTYPE_RGB24;
  type.formattype = formatType;
  const bool two = formatType == FORMAT_VideoInfo2;
  const ULONG full = two ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
  type.cbFormat = blockBytes ? blockBytes : full;
  type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(full));
  std::memset(type.pbFormat, 0, full);
  BITMAPINFOHEADER* header = two ? &reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader
                                 : &reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = 24;
  header->biCompression = BI_RGB;
  type.lSampleSize = static_cast<ULONG>(Stride(width) * (height < 0 ? -height : height));
  return type;
}

}  // namespace video_frames
