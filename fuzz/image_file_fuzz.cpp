// GDI::LoadBitmapA over every image format the program opens (bmp, png, tif,
// gif, jpg), found by content.
#include <cstring>
#include <memory>

#include "MVG/gdi_image_files.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "gdiplus/startup.h"

namespace {

// A loaded image: a bitmap over the returned buffer, of the returned size, in
// one of the two formats, rows of at least width pixels rounded to 4 bytes.
bool Sound(Gdiplus::Bitmap* bitmap, const unsigned char* pixels, int width, int height, int stride) {
  if (!bitmap || !pixels || width <= 0 || height <= 0 || stride % 4 != 0) return false;
  const Gdiplus::PixelFormat format = bitmap->GetPixelFormat();
  int bytesPerPixel = 0;
  if (format == PixelFormat24bppRGB) bytesPerPixel = 3;
  else if (format == PixelFormat32bppARGB) bytesPerPixel = 4;
  else return false;
  if (stride < width * bytesPerPixel || stride > width * bytesPerPixel + 3) return false;
  if (bitmap->GetWidth() != static_cast<UINT>(width) || bitmap->GetHeight() != static_cast<UINT>(height))
    return false;
  // Touch both ends of every row the caller was promised: the sanitizer sees
  // a short buffer (every byte would cost more than the decoding).
  volatile unsigned sum = 0;
  for (long y = 0; y < height; ++y) sum = sum + pixels[y * stride] + pixels[y * stride + stride - 1];
  return true;
}

}  // namespace

int FuzzImageFile(const std::uint8_t* data, std::size_t size) {
  static const bool started = [] {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  }();
  FUZZ_CHECK("image_file", started);
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("image", data, size);

  // The buffer made by the loader.
  unsigned char* pixels = nullptr;
  int width = 0, height = 0, stride = 0;
  std::unique_ptr<Gdiplus::Bitmap> bitmap(GDI::LoadBitmapA(path.c_str(), &pixels, width, height, stride));
  FUZZ_CHECK("image_file", bitmap != nullptr);
  if (width != 0 || pixels) {
    FUZZ_CHECK("image_file", Sound(bitmap.get(), pixels, width, height, stride));
  } else {
    FUZZ_CHECK("image_file", width == 0 && height == 0 && stride == 0);
  }
  bitmap.reset();
  delete[] pixels;
  // The caller's-buffer road below decodes again before it refuses a larger
  // image: a large one has shown that already.
  if (static_cast<long>(width) * height > (1L << 20)) return 0;

  // A caller's buffer: a larger image is refused and the buffer left as it was.
  constexpr int kSide = 16, kStride = kSide * 4;
  unsigned char buffer[kStride * kSide];
  std::memset(buffer, 0xA5, sizeof buffer);
  unsigned char* own = buffer;
  width = height = kSide;
  stride = kStride;
  bitmap.reset(GDI::LoadBitmapA(path.c_str(), &own, width, height, stride));
  FUZZ_CHECK("image_file", bitmap != nullptr && own == buffer);
  if (width != 0) {
    FUZZ_CHECK("image_file", width <= kSide && height <= kSide && stride <= kStride);
    FUZZ_CHECK("image_file", Sound(bitmap.get(), own, width, height, stride));
  } else {
    FUZZ_CHECK("image_file", height == 0 && stride == 0);
    for (unsigned char b : buffer) FUZZ_CHECK("image_file", b == 0xA5);
  }
  return 0;
}
