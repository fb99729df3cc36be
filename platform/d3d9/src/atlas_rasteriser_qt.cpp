// The atlas rasteriser over QtGui: a QFont by pixel size painted with grey
// antialiasing into a QImage.
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <optional>

#include "d3d9/atlas_rasteriser.h"

namespace d3d9 {
namespace {

// Fonts need an application object; one is made when the caller has none.
void EnsureGuiApplication() {
  if (QCoreApplication::instance()) return;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!std::getenv("QT_QPA_PLATFORM") && !(x && *x) && !(wayland && *wayland))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "quorl";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

class QtRasteriser final : public AtlasRasteriser {
 public:
  QtRasteriser() { EnsureGuiApplication(); }

  int LogPixelsY() const override { return 96; }

  bool SelectFont(const char* face, int height, int weight, bool italic) override {
    if (height == 0 || !face) return false;
    QFont font(QString::fromLatin1(face));
    int pixels = height < 0 ? -height : height;
    if (height > 0) {
      // A cell height: scale the em so that ascent + descent matches it.
      font.setPixelSize(100);
      const int cell = QFontMetrics(font).height();
      pixels = cell > 0 ? std::max(1, pixels * 100 / cell) : pixels;
    }
    font.setPixelSize(pixels);
    font.setBold(weight >= 550);
    font.setItalic(italic);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    font.setHintingPreference(QFont::PreferNoHinting);
    font_ = font;
    if (painter_) painter_->setFont(*font_);
    return true;
  }

  SIZE Extent(const char* text, int length) const override {
    if (!font_) return SIZE{0, 0};
    QFontMetrics m(*font_);
    return SIZE{m.horizontalAdvance(QString::fromLatin1(text, length)), m.height()};
  }

  bool CreateSurface(int width, int height) override {
    if (width <= 0 || height <= 0) return false;
    if (painter_) painter_->end();
    painter_.reset();
    image_ = QImage(width, height, QImage::Format_RGB32);
    if (image_.isNull()) return false;
    image_.fill(Qt::black);
    painter_.emplace(&image_);
    painter_->setRenderHint(QPainter::TextAntialiasing, true);
    painter_->setPen(Qt::white);
    if (font_) painter_->setFont(*font_);
    return true;
  }

  void DrawOpaque(int x, int y, const char* text, int length) override {
    if (!painter_ || !font_) return;
    const QString s = QString::fromLatin1(text, length);
    QFontMetrics m(*font_);
    painter_->fillRect(QRect(x, y, m.horizontalAdvance(s), m.height()), Qt::black);
    painter_->drawText(x, y + m.ascent(), s);
  }

  const std::uint32_t* Pixels() override {
    if (painter_) painter_->end();
    painter_.reset();
    return reinterpret_cast<const std::uint32_t*>(image_.constBits());
  }

 private:
  std::optional<QFont> font_;
  QImage image_;
  std::optional<QPainter> painter_;
};

}  // namespace

std::unique_ptr<AtlasRasteriser> CreateAtlasRasteriser() { return std::make_unique<QtRasteriser>(); }

}  // namespace d3d9
