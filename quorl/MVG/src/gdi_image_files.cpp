#include <cstring>
#include <memory>
#include <new>

#include "MVG/gdi_image_files.h"
#include "gdiplus/encoders.h"
#include "gdiplus/graphics.h"
#include "gdiplus/qt_bridge.h"
#include "gdiplus/window_surface.h"

namespace GDI {
namespace {

// A bitmap with no pixels whose last status tells why.
Gdiplus::Bitmap* Failed(Gdiplus::Bitmap* bitmap, Gdiplus::Status status) {
  gdiplus::ImageData& d = bitmap->Data();
  d.image = QImage();
  d.format = Gdiplus::PixelFormatUndefined;
  d.last = status;
  return bitmap;
}

}  // namespace

Gdiplus::RectF GetRectF(RECT* r) {
  if (!r) return {};
  return Gdiplus::RectF(static_cast<float>(r->left), static_cast<float>(r->top),
                        static_cast<float>(r->right - r->left), static_cast<float>(r->bottom - r->top));
}

bool IsPointInRect(int x, int y, RECT* r) {
  return r && r->left <= x && x <= r->right && r->top <= y && y <= r->bottom;
}

bool IsPointInRect(int x, int y, Gdiplus::RectF* r) {
  if (!r) return false;
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  return r->X <= fx && fx <= r->X + r->Width && r->Y <= fy && fy <= r->Y + r->Height;
}

Gdiplus::Bitmap* LoadBitmapA(const char* path, unsigned char** pixels, int& width, int& height,
                             int& stride) {
  const int bufferWidth = width, bufferHeight = height, bufferStride = stride;
  width = height = stride = 0;
  auto* file = new Gdiplus::Bitmap(path ? path : "");
  if (const Gdiplus::Status status = file->GetLastStatus(); status != Gdiplus::Ok) return Failed(file, status);
  if (!pixels) return Failed(file, Gdiplus::InvalidParameter);

  const QImage& image = file->Data().image;
  const int w = image.width(), h = image.height();
  const int rowStride = static_cast<int>(image.bytesPerLine());
  const size_t bytes = static_cast<size_t>(rowStride) * h;
  const Gdiplus::PixelFormat format = file->GetPixelFormat();
  unsigned char* buffer = *pixels;
  if (buffer) {
    // The caller's buffer is bufferStride x bufferHeight bytes: a larger
    // image would run past it.
    if (w > bufferWidth || h > bufferHeight || rowStride > bufferStride)
      return Failed(file, Gdiplus::InsufficientBuffer);
  } else {
    buffer = new (std::nothrow) unsigned char[bytes];
    if (!buffer) return Failed(file, Gdiplus::OutOfMemory);
  }
  std::memcpy(buffer, image.constBits(), bytes);
  delete file;
  *pixels = buffer;
  width = w;
  height = h;
  stride = rowStride;
  return new Gdiplus::Bitmap(w, h, rowStride, format, buffer);
}

const char* GetEncoderMime(const char* extension) {
  if (!extension) return nullptr;
  static const struct {
    const char* extension;
    const char* mime;
  } kTable[] = {{"tif", "image/tiff"}, {"jpg", "image/jpeg"}, {"bmp", "image/bmp"},
                {"png", "image/png"},  {"gif", "image/gif"}};
  for (const auto& e : kTable)
    if (std::strcmp(extension, e.extension) == 0) return e.mime;
  return nullptr;
}

int GetEncoderClsid(const char* mime, GUID* clsid) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || count == 0 || size == 0)
    return -1;
  const size_t entries = (size + sizeof(Gdiplus::ImageCodecInfo) - 1) / sizeof(Gdiplus::ImageCodecInfo);
  std::unique_ptr<Gdiplus::ImageCodecInfo[]> list(new (std::nothrow) Gdiplus::ImageCodecInfo[entries]);
  if (!list || Gdiplus::GetImageEncoders(count, size, list.get()) != Gdiplus::Ok) return -1;
  if (!mime) return -1;
  for (UINT i = 0; i < count; ++i) {
    const WCHAR* m = list[i].MimeType;
    size_t k = 0;
    // MIME types are ASCII: a byte compares with a wide character directly.
    while (m[k] && mime[k] && m[k] == static_cast<WCHAR>(static_cast<unsigned char>(mime[k]))) ++k;
    if (m[k] == 0 && mime[k] == 0) {
      if (clsid) *clsid = list[i].Clsid;
      return static_cast<int>(i);
    }
  }
  return -1;
}

int SaveImage(const char* path, Gdiplus::Bitmap* bitmap, const char* extension) {
  if (!bitmap) return Gdiplus::InvalidParameter;
  // An extension without an encoder goes to the save as no encoder at all, so
  // the bitmap keeps the failure as its status and no file is written.
  GUID clsid = GUID_NULL;
  GetEncoderClsid(GetEncoderMime(extension), &clsid);
  return bitmap->Save(path, &clsid, nullptr);
}

bool SaveWindowAsImage(HWND window, int, const char* path, const char* extension, int width,
                       int height) {
  gdiplus::WindowSurfaceSource* source = gdiplus::GetWindowSurfaceSource();
  int cw = 0, ch = 0;
  if (!source || !source->GetClientSize(window, &cw, &ch) || cw < 1 || ch < 1) return false;
  if (width >= 1 && height < 1) return false;

  Gdiplus::Bitmap capture(cw, ch, PixelFormat32bppRGB);
  Gdiplus::BitmapData data;
  if (capture.LockBits(nullptr, Gdiplus::ImageLockModeWrite, PixelFormat32bppRGB, &data) != Gdiplus::Ok)
    return false;
  auto* scan0 = static_cast<std::uint32_t*>(data.Scan0);
  const bool read = source->ReadClient(window, scan0, cw, ch, data.Stride);
  // The fourth byte of a 32bppRGB pixel is unused, but Qt's painting reads it
  // as opaque alpha.
  for (int y = 0; read && y < ch; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(reinterpret_cast<unsigned char*>(scan0) + y * data.Stride);
    for (int x = 0; x < cw; ++x) row[x] |= 0xFF000000u;
  }
  capture.UnlockBits(&data);
  if (!read) return false;

  if (width < 1) return SaveImage(path, &capture, extension) == 0;
  Gdiplus::Bitmap scaled(width, height, PixelFormat32bppRGB);
  if (scaled.GetLastStatus() != Gdiplus::Ok) return false;
  {
    Gdiplus::Graphics graphics(&scaled);
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    if (graphics.DrawImage(&capture, 0, 0, width, height) != Gdiplus::Ok) return false;
  }
  return SaveImage(path, &scaled, extension) == 0;
}

}  // namespace GDI
