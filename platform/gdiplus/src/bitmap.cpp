#include <QFile>
#include <QSaveFile>
#include <QString>
#include <cstring>
#include <utility>

#include "gdiplus/bitmap.h"
#include "gdiplus/qt_bridge.h"
#include "quorl/paths.h"

namespace gdiplus {

QImage::Format QtFormat(Gdiplus::PixelFormat format) {
  switch (format) {
    case Gdiplus::PixelFormat24bppRGB: return QImage::Format_BGR888;
    case Gdiplus::PixelFormat32bppRGB: return QImage::Format_RGB32;
    case Gdiplus::PixelFormat32bppARGB: return QImage::Format_ARGB32;
    default: return QImage::Format_Invalid;
  }
}

QImage* QImageOf(Gdiplus::Image* image) { return image ? &image->Data().image : nullptr; }

std::string NativePath(const WCHAR* filename) {
  if (!filename) return {};
  return NativePath(QString::fromWCharArray(filename).toUtf8().constData());
}

std::string NativePath(const char* utf8Filename) {
  if (!utf8Filename) return {};
  return quorl::MapPath(utf8Filename);
}

}  // namespace gdiplus

namespace Gdiplus {
namespace {

using gdiplus::ImageData;

PixelFormat FormatOf(const QImage& image) {
  switch (image.format()) {
    case QImage::Format_BGR888: return PixelFormat24bppRGB;
    case QImage::Format_RGB32: return PixelFormat32bppRGB;
    case QImage::Format_ARGB32: return PixelFormat32bppARGB;
    default: return PixelFormatUndefined;
  }
}

void LoadFile(ImageData& data, const std::string& path) {
  // Regular files only: a named pipe or a device would block the open or
  // never end the read. The file is read up to the size it had when opened.
  QFile file(QString::fromStdString(path));
  if (path.empty() || !quorl::IsReadableFile(path) || !file.open(QIODevice::ReadOnly)) {
    data.last = FileNotFound;
    return;
  }
  QImage image = gdiplus::DecodeImage(file.read(file.size()));
  if (image.isNull()) {
    data.last = UnknownImageFormat;
    return;
  }
  data.format = FormatOf(image);
  data.image = std::move(image);
}

int BytesPerPixel(PixelFormat format) { return static_cast<int>(GetPixelFormatSize(format) / 8); }

}  // namespace

Image::Image() : data_(std::make_unique<gdiplus::ImageData>()) {}
Image::~Image() = default;

Status Image::SetStatus(Status status) const {
  if (status != Ok) data_->last = status;
  return status;
}

UINT Image::GetWidth() const { return static_cast<UINT>(data_->image.width()); }
UINT Image::GetHeight() const { return static_cast<UINT>(data_->image.height()); }
PixelFormat Image::GetPixelFormat() const { return data_->format; }
Status Image::GetLastStatus() const { return std::exchange(data_->last, Ok); }

Status Image::Save(const WCHAR* filename, const CLSID* clsidEncoder,
                   const EncoderParameters* encoderParams) {
  if (!filename) return SetStatus(InvalidParameter);
  return Save(QString::fromWCharArray(filename).toUtf8().constData(), clsidEncoder, encoderParams);
}

Status Image::Save(const char* utf8Filename, const CLSID* clsidEncoder,
                   const EncoderParameters*) {
  if (!utf8Filename || !*utf8Filename || !clsidEncoder) return SetStatus(InvalidParameter);
  const gdiplus::EncoderKind* kind = gdiplus::FindEncoder(*clsidEncoder);
  if (!kind) return SetStatus(UnknownImageFormat);
  if (data_->image.isNull()) return SetStatus(InvalidParameter);
  QByteArray bytes;
  if (!gdiplus::EncodeImage(data_->image, *kind, &bytes)) return SetStatus(Win32Error);
  // Written beside the target and renamed on success: a failed save leaves
  // no file and no half-written one.
  QSaveFile file(QString::fromStdString(gdiplus::NativePath(utf8Filename)));
  if (!file.open(QIODevice::WriteOnly)) return SetStatus(Win32Error);
  if (file.write(bytes) != bytes.size() || !file.commit()) return SetStatus(Win32Error);
  return Ok;
}

Bitmap::Bitmap(INT width, INT height, INT stride, PixelFormat format, BYTE* scan0) {
  const QImage::Format qf = gdiplus::QtFormat(format);
  if (width <= 0 || height <= 0 || qf == QImage::Format_Invalid) {
    data_->last = InvalidParameter;
    return;
  }
  if (!scan0) {
    data_->image = QImage(width, height, qf);
  } else {
    if (stride < static_cast<qint64>(width) * BytesPerPixel(format)) {
      data_->last = InvalidParameter;
      return;
    }
    data_->image = QImage(scan0, width, height, stride, qf);
  }
  if (data_->image.isNull()) {
    data_->last = OutOfMemory;
    return;
  }
  if (!scan0) data_->image.fill(0);
  data_->format = format;
}

Bitmap::Bitmap(INT width, INT height, PixelFormat format) : Bitmap(width, height, 0, format, nullptr) {}

Bitmap::Bitmap(const WCHAR* filename, BOOL) { LoadFile(*data_, gdiplus::NativePath(filename)); }

Bitmap::Bitmap(const char* utf8Filename) { LoadFile(*data_, gdiplus::NativePath(utf8Filename)); }

Bitmap* Bitmap::FromFile(const WCHAR* filename, BOOL useEmbeddedColorManagement) {
  return new Bitmap(filename, useEmbeddedColorManagement);
}

Status Bitmap::LockBits(const Rect* rect, UINT flags, PixelFormat format,
                        BitmapData* lockedBitmapData) {
  ImageData& d = *data_;
  if (!lockedBitmapData || d.image.isNull()) return SetStatus(InvalidParameter);
  if (d.locked) return SetStatus(WrongState);
  if (flags & ImageLockModeUserInputBuf) return SetStatus(NotImplemented);
  const Rect whole(0, 0, d.image.width(), d.image.height());
  const Rect r = rect ? *rect : whole;
  if (r.X < 0 || r.Y < 0 || r.Width <= 0 || r.Height <= 0 || r.GetRight() > whole.Width ||
      r.GetBottom() > whole.Height)
    return SetStatus(InvalidParameter);
  const QImage::Format qf = gdiplus::QtFormat(format);
  if (qf == QImage::Format_Invalid) return SetStatus(InvalidParameter);

  BYTE* scan0 = nullptr;
  INT stride = 0;
  if (format == d.format) {
    // bits() on the unshared image is the caller's own buffer.
    stride = static_cast<INT>(d.image.bytesPerLine());
    scan0 = d.image.bits() + static_cast<qsizetype>(r.Y) * stride + r.X * BytesPerPixel(format);
    d.lockConverted = false;
  } else {
    d.lockCopy = d.image.copy(r.X, r.Y, r.Width, r.Height).convertToFormat(qf);
    if (d.lockCopy.isNull()) return SetStatus(OutOfMemory);
    stride = static_cast<INT>(d.lockCopy.bytesPerLine());
    scan0 = d.lockCopy.bits();
    d.lockConverted = true;
  }
  d.locked = true;
  d.lockFlags = flags;
  d.lockRect = r;
  lockedBitmapData->Width = static_cast<UINT>(r.Width);
  lockedBitmapData->Height = static_cast<UINT>(r.Height);
  lockedBitmapData->Stride = stride;
  lockedBitmapData->PixelFormat = format;
  lockedBitmapData->Scan0 = scan0;
  lockedBitmapData->Reserved = 0;
  return Ok;
}

Status Bitmap::UnlockBits(BitmapData* lockedBitmapData) {
  ImageData& d = *data_;
  if (!lockedBitmapData) return SetStatus(InvalidParameter);
  if (!d.locked) return SetStatus(WrongState);
  if (d.lockConverted && (d.lockFlags & ImageLockModeWrite)) {
    const QImage back = d.lockCopy.convertToFormat(d.image.format());
    const int bpp = BytesPerPixel(d.format);
    const size_t rowBytes = static_cast<size_t>(d.lockRect.Width) * bpp;
    for (int y = 0; y < d.lockRect.Height; ++y)
      std::memcpy(d.image.scanLine(d.lockRect.Y + y) + d.lockRect.X * bpp, back.constScanLine(y),
                  rowBytes);
  }
  d.lockCopy = QImage();
  d.locked = false;
  d.lockConverted = false;
  return Ok;
}

}  // namespace Gdiplus
