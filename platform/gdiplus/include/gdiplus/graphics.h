#pragma once
// Graphics: painting onto a bitmap. Interpolation defaults to bilinear
// (stretched images are filtered unless nearest neighbour is asked for);
// smoothing affects lines and shapes only.
#include <memory>

#include "gdiplus/bitmap.h"
#include "gdiplus/drawing.h"
#include "gdiplus/types.h"

namespace gdiplus {
class GraphicsTarget;
struct GraphicsData;
}

namespace Gdiplus {

class Graphics {
 public:
  explicit Graphics(Image* image);
  static Graphics* FromImage(Image* image);
  virtual ~Graphics();
  Graphics(const Graphics&) = delete;
  Graphics& operator=(const Graphics&) = delete;

  Status SetSmoothingMode(SmoothingMode mode);
  SmoothingMode GetSmoothingMode() const;
  Status SetInterpolationMode(InterpolationMode mode);
  InterpolationMode GetInterpolationMode() const;

  Status DrawImage(Image* image, INT x, INT y);
  Status DrawImage(Image* image, INT x, INT y, INT width, INT height);
  Status DrawImage(Image* image, const Rect& rect);
  Status DrawImage(Image* image, REAL x, REAL y, REAL width, REAL height);
  Status DrawImage(Image* image, const RectF& rect);

  // Drawing half: on a device context's target or a window's client area
  // (both stay valid when the window is resized; every call lands at once).
  explicit Graphics(HDC hdc);
  explicit Graphics(HWND hwnd, BOOL icm = FALSE);
  static Graphics* FromHDC(HDC hdc);
  static Graphics* FromHWND(HWND hwnd, BOOL icm = FALSE);

  Status Clear(const Color& colour);
  Status FillRectangle(const Brush* brush, REAL x, REAL y, REAL width, REAL height);
  Status FillRectangle(const Brush* brush, INT x, INT y, INT width, INT height);
  Status FillRectangle(const Brush* brush, const RectF& rect);
  Status FillRectangle(const Brush* brush, const Rect& rect);
  Status DrawRectangle(const Pen* pen, REAL x, REAL y, REAL width, REAL height);
  Status DrawRectangle(const Pen* pen, INT x, INT y, INT width, INT height);
  Status DrawRectangle(const Pen* pen, const RectF& rect);
  Status DrawRectangle(const Pen* pen, const Rect& rect);
  Status DrawLine(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2);
  Status DrawLine(const Pen* pen, INT x1, INT y1, INT x2, INT y2);
  Status DrawLine(const Pen* pen, const PointF& a, const PointF& b);
  Status DrawEllipse(const Pen* pen, REAL x, REAL y, REAL width, REAL height);
  Status DrawEllipse(const Pen* pen, INT x, INT y, INT width, INT height);
  Status DrawEllipse(const Pen* pen, const RectF& rect);
  Status FillEllipse(const Brush* brush, REAL x, REAL y, REAL width, REAL height);
  Status FillEllipse(const Brush* brush, const RectF& rect);
  // From a source rectangle of the image, in pixels (only UnitPixel).
  Status DrawImage(Image* image, const RectF& dest, REAL srcX, REAL srcY, REAL srcWidth, REAL srcHeight,
                   Unit srcUnit, const void* imageAttributes = nullptr, void* callback = nullptr,
                   void* callbackData = nullptr);
  Status DrawImage(Image* image, const Rect& dest, INT srcX, INT srcY, INT srcWidth, INT srcHeight, Unit srcUnit,
                   const void* imageAttributes = nullptr, void* callback = nullptr, void* callbackData = nullptr);
  Status DrawImage(Image* image, INT x, INT y, INT srcX, INT srcY, INT srcWidth, INT srcHeight, Unit srcUnit);
  Status DrawImage(Image* image, const PointF& point);
  Status DrawString(const WCHAR* text, INT length, const Font* font, const RectF& layout,
                    const StringFormat* format, const Brush* brush);
  Status DrawString(const WCHAR* text, INT length, const Font* font, const PointF& origin, const Brush* brush);
  Status DrawString(const WCHAR* text, INT length, const Font* font, const PointF& origin,
                    const StringFormat* format, const Brush* brush);

  // As Image::GetLastStatus: reading it resets it.
  Status GetLastStatus() const;

  gdiplus::GraphicsData& Data() { return *data_; }

 protected:
  // For other targets (window surfaces): the target outlives no Graphics.
  explicit Graphics(std::unique_ptr<gdiplus::GraphicsTarget> target);
  Status SetStatus(Status status) const;

  std::unique_ptr<gdiplus::GraphicsData> data_;
};

}  // namespace Gdiplus
