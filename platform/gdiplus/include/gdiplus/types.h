#pragma once
// Value types of the GDI+ stand-in: status codes, pixel formats, rectangles,
// lock data and rendering modes.
#include <cstdint>

#include "com/guid.h"
#include "win/types.h"

using ULONG_PTR = std::uintptr_t;
using UINT32 = std::uint32_t;
using WCHAR = wchar_t;  // 32 bits here; wide paths are converted from UTF-32
using REAL = float;

namespace Gdiplus {

enum Status {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
  FileNotFound = 10,
  ValueOverflow = 11,
  AccessDenied = 12,
  UnknownImageFormat = 13,
  FontFamilyNotFound = 14,
  FontStyleNotFound = 15,
  NotTrueTypeFont = 16,
  UnsupportedGdiplusVersion = 17,
  GdiplusNotInitialized = 18,
  PropertyNotFound = 19,
  PropertyNotSupported = 20,
};

// Pixel formats keep the platform's numeric values (index, bits per pixel and
// flags packed into one int), since stored values and callers compare them.
using PixelFormat = INT;
inline constexpr PixelFormat PixelFormatUndefined = 0;
inline constexpr PixelFormat PixelFormat24bppRGB = 0x00021808;  // bytes B, G, R
inline constexpr PixelFormat PixelFormat32bppRGB = 0x00022009;  // bytes B, G, R, unused
inline constexpr PixelFormat PixelFormat32bppARGB = 0x0026200A;  // bytes B, G, R, A; not premultiplied

inline constexpr UINT GetPixelFormatSize(PixelFormat format) { return (format >> 8) & 0xFF; }

enum ImageLockMode {
  ImageLockModeRead = 1,
  ImageLockModeWrite = 2,
  ImageLockModeUserInputBuf = 4,
};

enum SmoothingMode {
  SmoothingModeInvalid = -1,
  SmoothingModeDefault = 0,
  SmoothingModeHighSpeed = 1,
  SmoothingModeHighQuality = 2,
  SmoothingModeNone = 3,
  SmoothingModeAntiAlias = 4,
  SmoothingModeAntiAlias8x8 = 5,
};

enum InterpolationMode {
  InterpolationModeInvalid = -1,
  InterpolationModeDefault = 0,
  InterpolationModeLowQuality = 1,
  InterpolationModeHighQuality = 2,
  InterpolationModeBilinear = 3,
  InterpolationModeBicubic = 4,
  InterpolationModeNearestNeighbor = 5,
  InterpolationModeHighQualityBilinear = 6,
  InterpolationModeHighQualityBicubic = 7,
};

struct Point {
  Point() = default;
  Point(INT x, INT y) : X(x), Y(y) {}
  INT X = 0;
  INT Y = 0;
};

struct PointF {
  PointF() = default;
  PointF(REAL x, REAL y) : X(x), Y(y) {}
  REAL X = 0;
  REAL Y = 0;
};

struct Rect {
  Rect() = default;
  Rect(INT x, INT y, INT width, INT height) : X(x), Y(y), Width(width), Height(height) {}
  INT GetLeft() const { return X; }
  INT GetTop() const { return Y; }
  INT GetRight() const { return X + Width; }
  INT GetBottom() const { return Y + Height; }
  INT X = 0;
  INT Y = 0;
  INT Width = 0;
  INT Height = 0;
};

struct RectF {
  RectF() = default;
  RectF(REAL x, REAL y, REAL width, REAL height) : X(x), Y(y), Width(width), Height(height) {}
  REAL GetLeft() const { return X; }
  REAL GetTop() const { return Y; }
  REAL GetRight() const { return X + Width; }
  REAL GetBottom() const { return Y + Height; }
  REAL X = 0;
  REAL Y = 0;
  REAL Width = 0;
  REAL Height = 0;
};

struct BitmapData {
  UINT Width = 0;
  UINT Height = 0;
  INT Stride = 0;
  ::Gdiplus::PixelFormat PixelFormat = PixelFormatUndefined;
  void* Scan0 = nullptr;
  ULONG_PTR Reserved = 0;
};

}  // namespace Gdiplus

// The platform's pixel-format names are global macros; callers use them
// unqualified.
using Gdiplus::PixelFormat24bppRGB;
using Gdiplus::PixelFormat32bppARGB;
using Gdiplus::PixelFormat32bppRGB;
