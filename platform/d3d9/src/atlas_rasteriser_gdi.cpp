// The atlas rasteriser as GDI calls: a memory device context in MM_TEXT mode,
// a font by height, and a 32-bit top-down DIB section painted white on black.
#include "d3d9/atlas_rasteriser.h"
#include "win/gdi.h"

namespace d3d9 {
namespace {

class GdiRasteriser final : public AtlasRasteriser {
 public:
  GdiRasteriser() : dc_(CreateCompatibleDC(nullptr)) {
    if (dc_) SetMapMode(dc_, MM_TEXT);
  }
  // The GDI objects and the device context go whatever happened.
  ~GdiRasteriser() override {
    if (dc_) {
      if (oldFont_) SelectObject(dc_, oldFont_);
      if (oldBitmap_) SelectObject(dc_, oldBitmap_);
      DeleteDC(dc_);
    }
    if (font_) DeleteObject(font_);
    if (bitmap_) DeleteObject(bitmap_);
  }

  int LogPixelsY() const override { return dc_ ? GetDeviceCaps(dc_, LOGPIXELSY) : 96; }

  bool SelectFont(const char* face, int height, int weight, bool italic) override {
    if (!dc_ || height == 0) return false;
    HFONT font = CreateFontA(height, 0, 0, 0, weight, italic ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH,
                             face ? face : "");
    if (!font) return false;
    HGDIOBJ previous = SelectObject(dc_, font);
    if (!oldFont_) oldFont_ = previous;
    if (font_) DeleteObject(font_);
    font_ = font;
    return true;
  }

  SIZE Extent(const char* text, int length) const override {
    SIZE size{0, 0};
    if (dc_ && font_) GetTextExtentPoint32(dc_, text, length, &size);
    return size;
  }

  bool CreateSurface(int width, int height) override {
    if (!dc_ || width <= 0 || height <= 0) return false;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc_, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) return false;
    HGDIOBJ previous = SelectObject(dc_, bitmap);
    if (!oldBitmap_) oldBitmap_ = previous;
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = bitmap;
    bits_ = static_cast<const std::uint32_t*>(bits);
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkColor(dc_, 0x00000000);
    SetTextAlign(dc_, TA_TOP);
    return true;
  }

  void DrawOpaque(int x, int y, const char* text, int length) override {
    if (dc_ && bitmap_) ExtTextOutA(dc_, x, y, ETO_OPAQUE, nullptr, text, UINT(length), nullptr);
  }

  const std::uint32_t* Pixels() override { return bits_; }

 private:
  HDC dc_ = nullptr;
  HFONT font_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ oldFont_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  const std::uint32_t* bits_ = nullptr;
};

}  // namespace

std::unique_ptr<AtlasRasteriser> CreateAtlasRasteriser() { return std::make_unique<GdiRasteriser>(); }

}  // namespace d3d9
