#pragma once
// Image encoders. The list and its order are fixed: bmp, jpeg, gif, tiff, png.
// Class ids are this stand-in's own. bmp, jpeg, tiff and png go through Qt's
// image writers (tiff is a run-time plugin: without it a tiff save fails);
// gif through giflib.
#include "gdiplus/types.h"

namespace Gdiplus {

struct ImageCodecInfo {
  CLSID Clsid;
  GUID FormatID;
  const WCHAR* CodecName;
  const WCHAR* DllName;
  const WCHAR* FormatDescription;
  const WCHAR* FilenameExtension;
  const WCHAR* MimeType;
  DWORD Flags;
  DWORD Version;
  DWORD SigCount;
  DWORD SigSize;
  const BYTE* SigPattern;
  const BYTE* SigMask;
};

struct EncoderParameter {
  GUID Guid;
  ULONG NumberOfValues;
  ULONG Type;
  void* Value;
};

// No encoder parameter is honoured: every caller saves with the defaults.
struct EncoderParameters {
  UINT Count;
  EncoderParameter Parameter[1];
};

// size receives the bytes GetImageEncoders needs for num entries.
Status GetImageEncodersSize(UINT* numEncoders, UINT* size);
// Fills the caller's buffer of size bytes; its strings live in static storage.
Status GetImageEncoders(UINT numEncoders, UINT size, ImageCodecInfo* encoders);

}  // namespace Gdiplus

namespace gdiplus {

enum class EncoderKind { Bmp, Jpeg, Gif, Tiff, Png };
// Null for a class id that names no encoder of the list.
const EncoderKind* FindEncoder(const CLSID& clsid);

}  // namespace gdiplus
