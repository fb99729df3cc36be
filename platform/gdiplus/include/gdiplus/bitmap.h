#pragma once
// Image and Bitmap: a pixel buffer in one of the platform's formats, either
// owned or laid over caller memory (never copied, never freed).
#include <memory>

#include "gdiplus/encoders.h"
#include "gdiplus/types.h"

namespace gdiplus {
struct ImageData;
}

namespace Gdiplus {

class Image {
 public:
  virtual ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  UINT GetWidth() const;
  UINT GetHeight() const;
  ::Gdiplus::PixelFormat GetPixelFormat() const;
  // The failure of the most recent failed call (or of the constructor) since
  // the previous GetLastStatus, else Ok: reading it resets it, as the platform.
  Status GetLastStatus() const;

  // Old-form paths ("C:\x.png") are mapped; the encoder is chosen by class id
  // (GetImageEncoders). No file is created when the save fails.
  Status Save(const WCHAR* filename, const CLSID* clsidEncoder,
              const EncoderParameters* encoderParams = nullptr);
  Status Save(const char* utf8Filename, const CLSID* clsidEncoder,
              const EncoderParameters* encoderParams = nullptr);

  gdiplus::ImageData& Data() { return *data_; }
  const gdiplus::ImageData& Data() const { return *data_; }

 protected:
  Image();
  Status SetStatus(Status status) const;

  std::unique_ptr<gdiplus::ImageData> data_;
};

class Bitmap : public Image {
 public:
  // Over caller memory of height rows of stride bytes; scan0 null allocates an
  // owned, zeroed buffer. Any positive stride holding a row is accepted.
  Bitmap(INT width, INT height, INT stride, ::Gdiplus::PixelFormat format, BYTE* scan0);
  Bitmap(INT width, INT height, ::Gdiplus::PixelFormat format = PixelFormat32bppARGB);
  // A file bitmap is 32bppARGB (not premultiplied) when the file has alpha or
  // a transparent colour, else 24bppRGB.
  explicit Bitmap(const WCHAR* filename, BOOL useEmbeddedColorManagement = FALSE);
  explicit Bitmap(const char* utf8Filename);

  static Bitmap* FromFile(const WCHAR* filename, BOOL useEmbeddedColorManagement = FALSE);

  // rect null locks the whole bitmap. A format other than the bitmap's own
  // gives a converted copy, written back on unlock when locked for writing.
  Status LockBits(const Rect* rect, UINT flags, ::Gdiplus::PixelFormat format,
                  BitmapData* lockedBitmapData);
  Status UnlockBits(BitmapData* lockedBitmapData);
};

}  // namespace Gdiplus
