// The drawing half of the GDI+ stand-in: shapes, images from source
// rectangles and strings, on bitmaps, device contexts and windows.
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <cmath>
#include <cstring>
#include <vector>

#include "gdiplus/draw_string_observer.h"
#include "gdiplus/graphics.h"
#include "gdiplus/qt_bridge.h"
#include "gdiplus/window_surface.h"
#include "win/window_services.h"

namespace gdiplus {
namespace {

// A copy of a window's client area or of a device context's target: every
// drawing call is written back at once, and the copy follows size changes.
class SyncTarget : public GraphicsTarget {
 public:
  QPaintDevice* Device() override { return &image_; }
  void Flush() override { Store(); }
  bool Valid() const { return !image_.isNull(); }
  virtual bool Load() = 0;
  virtual void Store() = 0;

 protected:
  QImage image_;
};

class DcTarget : public SyncTarget {
 public:
  explicit DcTarget(HDC hdc) : hdc_(hdc) { Load(); }
  bool Load() override {
    win::WindowServices* s = win::GetWindowServices();
    int w = 0, h = 0;
    if (!s || !s->GetDCSize(hdc_, &w, &h) || w <= 0 || h <= 0) {
      image_ = QImage();
      return false;
    }
    if (image_.width() != w || image_.height() != h) image_ = QImage(w, h, QImage::Format_RGB32);
    if (!s->ReadDC(hdc_, reinterpret_cast<std::uint32_t*>(image_.bits()), w, h, static_cast<int>(image_.bytesPerLine()))) {
      image_ = QImage();
      return false;
    }
    return true;
  }
  QImage Image() { return std::move(image_); }
  void Store() override {
    win::WindowServices* s = win::GetWindowServices();
    if (s && !image_.isNull())
      s->WriteDC(hdc_, reinterpret_cast<const std::uint32_t*>(image_.constBits()), image_.width(), image_.height(),
                 static_cast<int>(image_.bytesPerLine()));
  }

 private:
  HDC hdc_;
};

// A window's own surface through a device context taken for each call.
class WindowTarget : public SyncTarget {
 public:
  explicit WindowTarget(HWND hwnd) : hwnd_(hwnd) { Load(); }
  bool Load() override {
    win::WindowServices* s = win::GetWindowServices();
    HDC dc = s ? s->GetDC(hwnd_) : nullptr;
    if (!dc) {
      image_ = QImage();
      return false;
    }
    DcTarget t(dc);
    image_ = t.Image();
    s->ReleaseDC(hwnd_, dc);
    return !image_.isNull();
  }
  void Store() override {
    win::WindowServices* s = win::GetWindowServices();
    HDC dc = s ? s->GetDC(hwnd_) : nullptr;
    if (!dc || image_.isNull()) return;
    s->WriteDC(dc, reinterpret_cast<const std::uint32_t*>(image_.constBits()), image_.width(), image_.height(),
               static_cast<int>(image_.bytesPerLine()));
    s->ReleaseDC(hwnd_, dc);
  }

 private:
  HWND hwnd_;
};

// Window capture reads through the window services.
class ServicesSurfaceSource : public WindowSurfaceSource {
 public:
  bool GetClientSize(HWND hwnd, int* width, int* height) override {
    win::WindowServices* s = win::GetWindowServices();
    return s && s->GetClientSize(hwnd, width, height);
  }
  bool ReadClient(HWND hwnd, std::uint32_t* pixels, int width, int height, int strideBytes) override {
    win::WindowServices* s = win::GetWindowServices();
    return s && s->ReadClient(hwnd, pixels, width, height, strideBytes);
  }
};
ServicesSurfaceSource g_source;
struct RegisterSource {
  RegisterSource() {
    if (!GetWindowSurfaceSource()) SetWindowSurfaceSource(&g_source);
  }
} g_register;

bool Smooth(Gdiplus::SmoothingMode m) {
  return m == Gdiplus::SmoothingModeHighQuality || m == Gdiplus::SmoothingModeAntiAlias ||
         m == Gdiplus::SmoothingModeAntiAlias8x8;
}

void ApplyHints(GraphicsData& d) {
  d.painter.setRenderHint(QPainter::Antialiasing, Smooth(d.smoothing));
  d.painter.setRenderHint(QPainter::SmoothPixmapTransform, d.interpolation != Gdiplus::InterpolationModeNearestNeighbor);
}

QColor QtColour(const Gdiplus::Color& c) { return QColor(c.GetR(), c.GetG(), c.GetB(), c.GetA()); }

QString Text(const WCHAR* s, INT length) {
  if (!s) return QString();
  if (length < 0) length = static_cast<INT>(std::wcslen(s));
  return QString::fromWCharArray(s, length);
}

QFont QtFont(const Gdiplus::Font& f) {
  QFont q(QString::fromStdString(f.Family()));
  q.setPixelSize(std::max(1, static_cast<int>(std::lround(f.PixelSize()))));
  q.setBold(f.GetStyle() & Gdiplus::FontStyleBold);
  q.setItalic(f.GetStyle() & Gdiplus::FontStyleItalic);
  q.setUnderline(f.GetStyle() & Gdiplus::FontStyleUnderline);
  q.setStrikeOut(f.GetStyle() & Gdiplus::FontStyleStrikeout);
  return q;
}

}  // namespace

void BeforeDraw(GraphicsData& d) {
  auto* t = dynamic_cast<SyncTarget*>(d.target.get());
  if (!t) return;
  if (d.painter.isActive()) d.painter.end();
  if (t->Load() && d.painter.begin(t->Device())) ApplyHints(d);
}

void AfterDraw(GraphicsData& d) {
  auto* t = dynamic_cast<SyncTarget*>(d.target.get());
  if (!t || !d.painter.isActive()) return;
  d.painter.end();
  t->Store();
  if (d.painter.begin(t->Device())) ApplyHints(d);
}

}  // namespace gdiplus

namespace Gdiplus {

namespace {
std::unique_ptr<gdiplus::GraphicsTarget> Valid(std::unique_ptr<gdiplus::SyncTarget> t) {
  if (!t->Valid()) return nullptr;
  return t;
}
}  // namespace

Graphics::Graphics(HDC hdc) : Graphics(Valid(std::make_unique<gdiplus::DcTarget>(hdc))) {}
Graphics::Graphics(HWND hwnd, BOOL) : Graphics(Valid(std::make_unique<gdiplus::WindowTarget>(hwnd))) {}
Graphics* Graphics::FromHDC(HDC hdc) { return new Graphics(hdc); }
Graphics* Graphics::FromHWND(HWND hwnd, BOOL icm) { return new Graphics(hwnd, icm); }

#define PAINTER_OR_FAIL                                            \
  gdiplus::BeforeDraw(*data_);                                     \
  if (!data_->painter.isActive()) return SetStatus(WrongState); \
  QPainter& p = data_->painter;

Status Graphics::Clear(const Color& c) {
  PAINTER_OR_FAIL
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(QRectF(0, 0, p.device()->width(), p.device()->height()), gdiplus::QtColour(c));
  p.restore();
  gdiplus::AfterDraw(*data_);
  return Ok;
}

Status Graphics::FillRectangle(const Brush* brush, REAL x, REAL y, REAL w, REAL h) {
  if (!brush || w < 0 || h < 0) return SetStatus(InvalidParameter);
  PAINTER_OR_FAIL
  p.fillRect(QRectF(x, y, w, h), gdiplus::QtColour(brush->GetColor()));
  gdiplus::AfterDraw(*data_);
  return Ok;
}
Status Graphics::FillRectangle(const Brush* b, INT x, INT y, INT w, INT h) {
  return FillRectangle(b, static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(w), static_cast<REAL>(h));
}
Status Graphics::FillRectangle(const Brush* b, const RectF& r) { return FillRectangle(b, r.X, r.Y, r.Width, r.Height); }
Status Graphics::FillRectangle(const Brush* b, const Rect& r) { return FillRectangle(b, r.X, r.Y, r.Width, r.Height); }

namespace {
QPen QtPen(const Pen& pen) {
  QPen q(gdiplus::QtColour(pen.GetColor()));
  q.setWidthF(std::max(pen.GetWidth(), 0.0f));
  q.setJoinStyle(Qt::MiterJoin);
  q.setCapStyle(Qt::FlatCap);
  return q;
}
// Draws with the pen, unfilled, and leaves the painter's state as it was.
template <class F>
void Outlined(QPainter& p, const Pen& pen, F&& draw) {
  p.save();
  p.setPen(QtPen(pen));
  p.setBrush(Qt::NoBrush);
  draw();
  p.restore();
}
}  // namespace

Status Graphics::DrawRectangle(const Pen* pen, REAL x, REAL y, REAL w, REAL h) {
  if (!pen || w < 0 || h < 0) return SetStatus(InvalidParameter);
  PAINTER_OR_FAIL
  Outlined(p, *pen, [&] { p.drawRect(QRectF(x, y, w, h)); });
  gdiplus::AfterDraw(*data_);
  return Ok;
}
Status Graphics::DrawRectangle(const Pen* pen, INT x, INT y, INT w, INT h) {
  return DrawRectangle(pen, static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(w), static_cast<REAL>(h));
}
Status Graphics::DrawRectangle(const Pen* pen, const RectF& r) { return DrawRectangle(pen, r.X, r.Y, r.Width, r.Height); }
Status Graphics::DrawRectangle(const Pen* pen, const Rect& r) { return DrawRectangle(pen, r.X, r.Y, r.Width, r.Height); }

Status Graphics::DrawLine(const Pen* pen, REAL x1, REAL y1, REAL x2, REAL y2) {
  if (!pen) return SetStatus(InvalidParameter);
  PAINTER_OR_FAIL
  p.save();
  p.setPen(QtPen(*pen));
  p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
  p.restore();
  gdiplus::AfterDraw(*data_);
  return Ok;
}
Status Graphics::DrawLine(const Pen* pen, INT x1, INT y1, INT x2, INT y2) {
  return DrawLine(pen, static_cast<REAL>(x1), static_cast<REAL>(y1), static_cast<REAL>(x2), static_cast<REAL>(y2));
}
Status Graphics::DrawLine(const Pen* pen, const PointF& a, const PointF& b) { return DrawLine(pen, a.X, a.Y, b.X, b.Y); }

Status Graphics::DrawEllipse(const Pen* pen, REAL x, REAL y, REAL w, REAL h) {
  if (!pen) return SetStatus(InvalidParameter);
  PAINTER_OR_FAIL
  Outlined(p, *pen, [&] { p.drawEllipse(QRectF(x, y, w, h)); });
  gdiplus::AfterDraw(*data_);
  return Ok;
}
Status Graphics::DrawEllipse(const Pen* pen, INT x, INT y, INT w, INT h) {
  return DrawEllipse(pen, static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(w), static_cast<REAL>(h));
}
Status Graphics::DrawEllipse(const Pen* pen, const RectF& r) { return DrawEllipse(pen, r.X, r.Y, r.Width, r.Height); }

Status Graphics::FillEllipse(const Brush* brush, REAL x, REAL y, REAL w, REAL h) {
  if (!brush) return SetStatus(InvalidParameter);
  PAINTER_OR_FAIL
  p.save();
  p.setPen(Qt::NoPen);
  p.setBrush(gdiplus::QtColour(brush->GetColor()));
  p.drawEllipse(QRectF(x, y, w, h));
  p.restore();
  gdiplus::AfterDraw(*data_);
  return Ok;
}
Status Graphics::FillEllipse(const Brush* b, const RectF& r) { return FillEllipse(b, r.X, r.Y, r.Width, r.Height); }

Status Graphics::DrawImage(Image* image, const RectF& dest, REAL sx, REAL sy, REAL sw, REAL sh, Unit unit, const void*,
                           void*, void*) {
  if (!image || image->Data().image.isNull() || unit != UnitPixel || sw <= 0 || sh <= 0)
    return SetStatus(InvalidParameter);
  PAINTER_OR_FAIL
  if (image->Data().locked) return SetStatus(ObjectBusy);
  p.drawImage(QRectF(dest.X, dest.Y, dest.Width, dest.Height), image->Data().image, QRectF(sx, sy, sw, sh));
  gdiplus::AfterDraw(*data_);
  return Ok;
}
Status Graphics::DrawImage(Image* image, const Rect& d, INT sx, INT sy, INT sw, INT sh, Unit unit, const void* a, void* c,
                           void* cd) {
  return DrawImage(image, RectF(static_cast<REAL>(d.X), static_cast<REAL>(d.Y), static_cast<REAL>(d.Width), static_cast<REAL>(d.Height)),
                   static_cast<REAL>(sx), static_cast<REAL>(sy), static_cast<REAL>(sw), static_cast<REAL>(sh), unit, a, c, cd);
}
Status Graphics::DrawImage(Image* image, INT x, INT y, INT sx, INT sy, INT sw, INT sh, Unit unit) {
  return DrawImage(image, RectF(static_cast<REAL>(x), static_cast<REAL>(y), static_cast<REAL>(sw), static_cast<REAL>(sh)),
                   static_cast<REAL>(sx), static_cast<REAL>(sy), static_cast<REAL>(sw), static_cast<REAL>(sh), unit);
}
Status Graphics::DrawImage(Image* image, const PointF& pt) {
  if (!image) return SetStatus(InvalidParameter);
  return DrawImage(image, RectF(pt.X, pt.Y, static_cast<REAL>(image->GetWidth()), static_cast<REAL>(image->GetHeight())));
}

Status Graphics::DrawString(const WCHAR* text, INT length, const Font* font, const RectF& layout,
                            const StringFormat* format, const Brush* brush) {
  if (!text || !font || !brush) return SetStatus(InvalidParameter);
  PAINTER_OR_FAIL
  const StringFormat plain;
  const StringFormat& f = format ? *format : plain;
  int flags = 0;
  flags |= f.GetAlignment() == StringAlignmentCenter ? Qt::AlignHCenter : f.GetAlignment() == StringAlignmentFar ? Qt::AlignRight : Qt::AlignLeft;
  flags |= f.GetLineAlignment() == StringAlignmentCenter ? Qt::AlignVCenter
           : f.GetLineAlignment() == StringAlignmentFar  ? Qt::AlignBottom
                                                         : Qt::AlignTop;
  if (!(f.GetFormatFlags() & StringFormatFlagsNoWrap)) flags |= Qt::TextWordWrap;
  const QRectF box(layout.X, layout.Y, layout.Width, layout.Height);
  const bool unbounded = layout.Width <= 0 || layout.Height <= 0;
  p.save();
  p.setFont(gdiplus::QtFont(*font));
  p.setPen(gdiplus::QtColour(brush->GetColor()));
  if (!unbounded && !(f.GetFormatFlags() & StringFormatFlagsNoClip)) p.setClipRect(box, Qt::IntersectClip);
  const QString s = gdiplus::Text(text, length);
  if (gdiplus::DrawStringObserver* o = gdiplus::GetDrawStringObserver())
    o->OnDrawString({s.toStdWString(), layout, f.GetFormatFlags(), f.GetAlignment(), f.GetLineAlignment()});
  if (f.GetFormatFlags() & StringFormatFlagsDirectionVertical) {
    // Vertical text runs downwards, glyphs turned a quarter clockwise.
    p.translate(box.right(), box.top());
    p.rotate(90);
    p.drawText(QRectF(0, 0, unbounded ? 1e6 : box.height(), unbounded ? 1e6 : box.width()), flags, s);
  } else if (unbounded) {
    // From a point, the alignments place the text around it: centred text is
    // centred on the point, far text ends at it.
    auto span = [](StringAlignment a, qreal at) {
      const qreal extent = 1e6;
      return a == StringAlignmentCenter ? at - extent / 2 : a == StringAlignmentFar ? at - extent : at;
    };
    p.drawText(QRectF(span(f.GetAlignment(), box.x()), span(f.GetLineAlignment(), box.y()), 1e6, 1e6),
               flags & ~Qt::TextWordWrap, s);
  } else {
    p.drawText(box, flags, s);
  }
  p.restore();
  gdiplus::AfterDraw(*data_);
  return Ok;
}

Status Graphics::DrawString(const WCHAR* text, INT length, const Font* font, const PointF& origin, const Brush* brush) {
  return DrawString(text, length, font, RectF(origin.X, origin.Y, 0, 0), nullptr, brush);
}

Status Graphics::DrawString(const WCHAR* text, INT length, const Font* font, const PointF& origin,
                            const StringFormat* format, const Brush* brush) {
  return DrawString(text, length, font, RectF(origin.X, origin.Y, 0, 0), format, brush);
}

// ---- Font -------------------------------------------------------------------

Font::Font(const WCHAR* family, REAL emSize, INT style, Unit unit) {
  Init(QString::fromWCharArray(family ? family : L"").toStdString(), emSize, style, unit);
}

Font::Font(const char* family, REAL emSize, INT style, Unit unit) { Init(family ? family : "", emSize, style, unit); }

void Font::Init(std::string family, REAL emSize, INT style, Unit unit) {
  // "Verdana Bold" is the family Verdana with bold added.
  struct Word {
    const char* text;
    INT style;
  };
  for (const Word& w : {Word{" Bold", FontStyleBold}, Word{" Italic", FontStyleItalic}}) {
    const size_t n = std::strlen(w.text);
    if (family.size() > n && family.compare(family.size() - n, n, w.text) == 0) {
      family.resize(family.size() - n);
      style |= w.style;
    }
  }
  family_ = family;
  size_ = emSize;
  style_ = style;
  unit_ = unit;
}

REAL Font::PixelSize() const {
  switch (unit_) {
    case UnitPoint: return size_ * 96.0f / 72.0f;
    case UnitInch: return size_ * 96.0f;
    case UnitMillimeter: return size_ * 96.0f / 25.4f;
    case UnitDocument: return size_ * 96.0f / 300.0f;
    default: return size_;
  }
}

REAL Font::GetHeight(const Graphics*) const { return GetHeight(96.0f); }

REAL Font::GetHeight(REAL dpi) const {
  // Measured on the font that DrawString draws with.
  const REAL spacing = static_cast<REAL>(QFontMetricsF(gdiplus::QtFont(*this)).lineSpacing());
  return dpi > 0 ? spacing * dpi / 96.0f : spacing;
}

}  // namespace Gdiplus
