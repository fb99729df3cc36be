#include "gdiplus/graphics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

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

// A 24-bit image shrunk to a small fraction of its size: Qt would convert
// every source pixel to 32 bits before sampling, so the bilinear samples are
// taken here, only at the destination's pixels (centres mapped onto centres,
// edges clamped), into a 32-bit image of the destination's size. Null when
// the draw is not such a shrink.
QImage ShrunkSamples(const QImage& src, const QRectF& dest, const QPainter& p) {
  constexpr double kShrink = 0.5;  // at most half the source's pixels
  if (src.format() != QImage::Format_BGR888 || !p.testRenderHint(QPainter::SmoothPixmapTransform) ||
      !p.worldTransform().isIdentity())
    return QImage();
  const int dw = static_cast<int>(std::lround(dest.width())), dh = static_cast<int>(std::lround(dest.height()));
  if (dw < 1 || dh < 1 || std::abs(dest.width() - dw) > 1e-3 || std::abs(dest.height() - dh) > 1e-3 ||
      static_cast<double>(dw) * dh > kShrink * src.width() * src.height())
    return QImage();
  const int sw = src.width(), sh = src.height();
  // Sample byte offsets and weights (of 256), per column and row.
  struct Tap {
    int o0, o1;
    std::uint32_t w1;  // weight of o1
  };
  auto taps = [](int n, int srcN, int bytes) {
    std::vector<Tap> t(static_cast<size_t>(n));
    const double step = static_cast<double>(srcN) / n;
    for (int i = 0; i < n; ++i) {
      const double at = std::clamp((i + 0.5) * step - 0.5, 0.0, static_cast<double>(srcN - 1));
      const int i0 = static_cast<int>(at);
      t[static_cast<size_t>(i)] = {i0 * bytes, std::min(i0 + 1, srcN - 1) * bytes,
                                   static_cast<std::uint32_t>(std::lround((at - i0) * 256.0))};
    }
    return t;
  };
  const std::vector<Tap> xs = taps(dw, sw, 3), ys = taps(dh, sh, 1);
  QImage out(dw, dh, QImage::Format_RGB32);
  for (int j = 0; j < dh; ++j) {
    const Tap& ty = ys[static_cast<size_t>(j)];
    const uchar* r0 = src.constScanLine(ty.o0);
    const uchar* r1 = src.constScanLine(ty.o1);
    const std::uint32_t wy1 = ty.w1, wy0 = 256 - wy1;
    auto* o = reinterpret_cast<std::uint32_t*>(out.scanLine(j));
    for (int i = 0; i < dw; ++i) {
      const Tap& tx = xs[static_cast<size_t>(i)];
      const std::uint32_t wx1 = tx.w1, wx0 = 256 - wx1;
      const uchar* a = r0 + tx.o0;
      const uchar* b = r0 + tx.o1;
      const uchar* c = r1 + tx.o0;
      const uchar* d = r1 + tx.o1;
      auto mix = [&](int ch) {
        const std::uint32_t top = a[ch] * wx0 + b[ch] * wx1, bottom = c[ch] * wx0 + d[ch] * wx1;
        return (top * wy0 + bottom * wy1 + 32768) >> 16;
      };
      // Format_BGR888 holds B, G, R in memory; RGB32 is 0xffRRGGBB.
      o[i] = 0xFF000000u | (mix(2) << 16) | (mix(1) << 8) | mix(0);
    }
  }
  return out;
}

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
  const QRectF dest(rect.X, rect.Y, rect.Width, rect.Height);
  const QImage shrunk = gdiplus::ShrunkSamples(image->Data().image, dest, data_->painter);
  data_->painter.drawImage(dest, shrunk.isNull() ? image->Data().image : shrunk);
  gdiplus::AfterDraw(*data_);
  return Ok;
}

}  // namespace Gdiplus
