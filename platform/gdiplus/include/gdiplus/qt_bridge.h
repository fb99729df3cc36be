#pragma once
// The Qt side of the stand-in, for its own sources and for the parts that
// paint (fonts, pens, window graphics): the QImage behind a bitmap and the
// painter behind a Graphics.
//
// The QImage is kept unshared: bits() on a shared image detaches a copy, and
// a lock or a painter would then write the copy instead of the caller's
// buffer. Never copy it; move it or use constBits().
#include <QImage>
#include <QPainter>
#include <memory>
#include <string>

#include "gdiplus/graphics.h"

namespace gdiplus {

struct ImageData {
  QImage image;
  Gdiplus::PixelFormat format = Gdiplus::PixelFormatUndefined;
  mutable Gdiplus::Status last = Gdiplus::Ok;
  // Lock state: at most one lock at a time, as the platform.
  bool locked = false;
  bool lockConverted = false;
  UINT lockFlags = 0;
  Gdiplus::Rect lockRect;
  QImage lockCopy;
};

QImage::Format QtFormat(Gdiplus::PixelFormat format);  // Format_Invalid when unsupported
QImage* QImageOf(Gdiplus::Image* image);  // null for a null image

// What a Graphics paints on. Flush runs before the painter ends, e.g. to
// hand a window surface back to its window.
class GraphicsTarget {
 public:
  virtual ~GraphicsTarget() = default;
  virtual QPaintDevice* Device() = 0;
  virtual void Flush() {}
};

struct GraphicsData {
  std::unique_ptr<GraphicsTarget> target;
  QPainter painter;
  Gdiplus::SmoothingMode smoothing = Gdiplus::SmoothingModeNone;
  Gdiplus::InterpolationMode interpolation = Gdiplus::InterpolationModeBilinear;
  mutable Gdiplus::Status last = Gdiplus::Ok;
};

// Around each drawing call: a window or device-context target is read again
// before it (its size may have changed) and written back after it, so every
// call lands at once. Nothing for a bitmap target.
void BeforeDraw(GraphicsData& d);
void AfterDraw(GraphicsData& d);

// File codecs: the bytes of a whole file. Decode gives ARGB32 (alpha or a
// transparent colour) or BGR888; a null image on failure, and for a file cut
// short or whose data the decoder finds damaged (never a partial image).
QImage DecodeImage(const QByteArray& bytes);
bool EncodeImage(const QImage& image, EncoderKind kind, QByteArray* out);
QImage DecodeGif(const QByteArray& bytes);
QImage DecodeJpeg(const QByteArray& bytes);
// The decoders of our own keep Qt's readers' ceiling (128 MiB at four bytes
// a pixel), so that a forged size in a header never becomes a giant
// allocation.
inline bool ExceedsDecodeLimit(qint64 width, qint64 height) { return width * height * 4 > (qint64(128) << 20); }
bool EncodeGif(const QImage& image, QByteArray* out);

// Wide and UTF-8 file names to a native path (old-form paths mapped).
std::string NativePath(const WCHAR* filename);
std::string NativePath(const char* utf8Filename);

}  // namespace gdiplus
