#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include "gdiplus/qt_bridge.h"

namespace gdiplus {
namespace {

bool IsGif(const QByteArray& bytes) {
  return bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a");
}

const char* QtFormatName(EncoderKind kind) {
  switch (kind) {
    case EncoderKind::Bmp: return "bmp";
    case EncoderKind::Jpeg: return "jpeg";
    case EncoderKind::Tiff: return "tiff";
    case EncoderKind::Png: return "png";
    case EncoderKind::Gif: break;
  }
  return nullptr;
}

}  // namespace

QImage DecodeImage(const QByteArray& bytes) {
  // Qt reads GIF too, but only giflib's reading matches its writing (palette,
  // transparent colour), so GIF files go there by signature.
  if (IsGif(bytes)) return DecodeGif(bytes);
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer);
  reader.setAutoTransform(false);
  QImage image = reader.read();
  if (image.isNull()) return {};
  // Qt hands out whatever suits the file (RGB32, ARGB32, premultiplied
  // ARGB32 for tiff with alpha, Grayscale8, Indexed8, RGBX64 ...); callers
  // get two formats only.
  return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                       : QImage::Format_BGR888);
}

bool EncodeImage(const QImage& image, EncoderKind kind, QByteArray* out) {
  if (kind == EncoderKind::Gif) return EncodeGif(image, out);
  QBuffer buffer(out);
  if (!buffer.open(QIODevice::WriteOnly)) return false;
  QImageWriter writer(&buffer, QtFormatName(kind));
  return writer.write(image);
}

}  // namespace gdiplus
