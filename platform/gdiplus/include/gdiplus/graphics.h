#pragma once
// Graphics: painting onto a bitmap. Interpolation defaults to bilinear
// (stretched images are filtered unless nearest neighbour is asked for);
// smoothing affects lines and shapes only.
#include <memory>

#include "gdiplus/bitmap.h"
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
