#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QtEndian>
#include <cstring>

#include "gdiplus/qt_bridge.h"

namespace gdiplus {
namespace {

bool IsGif(const QByteArray& bytes) {
  return bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a");
}

// The signatures by which Qt's own readers know these formats.
bool IsJpeg(const QByteArray& bytes) { return bytes.startsWith("\xFF\xD8"); }
bool IsBmp(const QByteArray& bytes) { return bytes.startsWith("BM"); }
bool IsPng(const QByteArray& bytes) { return bytes.startsWith("\x89PNG\r\n\x1A\n"); }

// A PNG file ends with its IEND chunk. The chunks are stepped over by their
// lengths; a file that ends before IEND's checksum is cut short. (Qt's
// reader refuses most such files, but takes one that lacks only that
// checksum.)
bool PngReachesItsEnd(const QByteArray& bytes) {
  const qsizetype size = bytes.size();
  qsizetype pos = 8;
  while (size - pos >= 12) {  // length, type, checksum
    const quint32 length = qFromBigEndian<quint32>(bytes.constData() + pos);
    if (length > 0x7FFFFFFFu) return false;  // the format's own limit
    const bool last = std::memcmp(bytes.constData() + pos + 4, "IEND", 4) == 0;
    if (size - pos - 12 < static_cast<qsizetype>(length)) return false;
    pos += 12 + static_cast<qsizetype>(length);
    if (last) return true;
  }
  return false;
}

// Qt's BMP reader asks for exactly the bytes a whole file holds (header,
// palette, then row by row or run by run), takes a short read as the end of
// the pixels and hands out the rows it got. A buffer that notes any read or
// seek past its end tells that the file was cut short.
class EndWatchingBuffer : public QBuffer {
 public:
  bool RanPastEnd() const { return ranPastEnd_; }

  bool seek(qint64 pos) override {
    if (pos > size()) {
      ranPastEnd_ = true;
      return false;  // as QBuffer refuses it, without its warning
    }
    return QBuffer::seek(pos);
  }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    const qint64 got = QBuffer::readData(data, maxSize);
    if (got < maxSize) ranPastEnd_ = true;
    return got;
  }

 private:
  bool ranPastEnd_ = false;
};

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
  if (IsJpeg(bytes)) return DecodeJpeg(bytes);
  // A file cut short must not become an image with its missing part made up.
  // Qt's TIFF reader refuses strips that run past the end of the file.
  if (IsPng(bytes) && !PngReachesItsEnd(bytes)) return {};
  const bool bmp = IsBmp(bytes);
  EndWatchingBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer, bmp ? "bmp" : QByteArray());
  // Only Qt's BMP reader may touch the buffer for a BMP file: another
  // format's probe could read past the end of a small file.
  if (bmp) reader.setAutoDetectImageFormat(false);
  reader.setAutoTransform(false);
  QImage image = reader.read();
  if (image.isNull() || (bmp && buffer.RanPastEnd())) return {};
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
