#include "gdiplus/graphics.h"

#include <utility>

#include "gdiplus/qt_bridge.h"

namespace gdiplus {
namespace {

class ImageTarget : public GraphicsTarget {
 public:
  explicit ImageTarget(QImage* image) : image_(image) {}
  QPaintDevice* Device() override { return image_; }

 private:
  QImage* image_;
};

bool Smooths(Gdiplus::SmoothingMode mode) {
  return mode == Gdiplus::SmoothingModeHighQuality || mode == Gdiplus::SmoothingModeAntiAlias ||
         mode == Gdiplus::SmoothingModeAntiAlias8x8;
}

}  // namespace
}  // namespace gdiplus

namespace Gdiplus {

Graphics::Graphics(std::unique_ptr<gdiplus::GraphicsTarget> target)
    : data_(std::make_unique<gdiplus::GraphicsData>()) {
  data_->target = std::move(target);
  QPaintDevice* device = data_->target ? data_->target->Device() : nullptr;
  if (!device || !data_->painter.begin(device)) {
    data_->last = InvalidParameter;
    return;
  }
  // Qt scales by nearest neighbour unless told otherwise; the platform's
  // default is a filtered stretch.
  data_->painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  data_->painter.setRenderHint(QPainter::Antialiasing, false);
}

Graphics::Graphics(Image* image)
    : Graphics(image && !image->Data().image.isNull()
                   ? std::make_unique<gdiplus::ImageTarget>(&image->Data().image)
                   : nullptr) {}

Graphics* Graphics::FromImage(Image* image) { return new Graphics(image); }

Graphics::~Graphics() {
  if (data_->painter.isActive()) {
    data_->target->Flush();
    data_->painter.end();
  }
}

Status Graphics::SetStatus(Status status) const {
  if (status != Ok) data_->last = status;
  return status;
}

Status Graphics::GetLastStatus() const { return std::exchange(data_->last, Ok); }

Status Graphics::SetSmoothingMode(SmoothingMode mode) {
  if (mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias8x8) return SetStatus(InvalidParameter);
  data_->smoothing = mode;
  if (data_->painter.isActive()) data_->painter.setRenderHint(QPainter::Antialiasing, gdiplus::Smooths(mode));
  return Ok;
}

SmoothingMode Graphics::GetSmoothingMode() const { return data_->smoothing; }

Status Graphics::SetInterpolationMode(InterpolationMode mode) {
  if (mode < InterpolationModeDefault || mode > InterpolationModeHighQualityBicubic)
    return SetStatus(InvalidParameter);
  data_->interpolation = mode;
  if (data_->painter.isActive())
    data_->painter.setRenderHint(QPainter::SmoothPixmapTransform,
                                 mode != InterpolationModeNearestNeighbor);
  return Ok;
}

InterpolationMode Graphics::GetInterpolationMode() const { return data_->interpolation; }

Status Graphics::DrawImage(Image* image, INT x, INT y) {
  if (!image) return SetStatus(InvalidParameter);
  return DrawImage(image, RectF(static_cast<REAL>(x), static_cast<REAL>(y),
                                static_cast<REAL>(image->GetWidth()), static_cast<REAL>(image->GetHeight())));
}

Status Graphics::DrawImage(Image* image, INT x, INT y, INT width, INT height) {
  return DrawImage(image, RectF(static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(width),
                                static_cast<REAL>(height)));
}

Status Graphics::DrawImage(Image* image, const Rect& rect) {
  return DrawImage(image, rect.X, rect.Y, rect.Width, rect.Height);
}

Status Graphics::DrawImage(Image* image, REAL x, REAL y, REAL width, REAL height) {
  return DrawImage(image, RectF(x, y, width, height));
}

Status Graphics::DrawImage(Image* image, const RectF& rect) {
  if (!image || image->Data().image.isNull()) return SetStatus(InvalidParameter);
  if (image->Data().locked) return SetStatus(ObjectBusy);
  gdiplus::BeforeDraw(*data_);
  if (!data_->painter.isActive()) return SetStatus(WrongState);
  data_->painter.drawImage(QRectF(rect.X, rect.Y, rect.Width, rect.Height), image->Data().image);
  gdiplus::AfterDraw(*data_);
  return Ok;
}

}  // namespace Gdiplus
