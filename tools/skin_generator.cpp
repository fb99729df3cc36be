// Draws the program's own skin: horizontal four-frame button strips
// (normal, pressed, hovered, disabled), round with transparent corners, and
// the application icon. Glyphs are paths, not text, so the output does not
// depend on installed fonts.
//
//   skin_generator <output folder>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Glyph = std::function<void(QPainter&)>;  // in a 0..100 box

QPen Stroke(QColor c, double w = 8) {
  QPen p(c, w);
  p.setCapStyle(Qt::RoundCap);
  p.setJoinStyle(Qt::RoundJoin);
  return p;
}

// A line through the points, closed back to the first when `closed`.
void Outline(QPainter& p, std::initializer_list<QPointF> points, bool closed) {
  QPainterPath path;
  path.moveTo(*points.begin());
  for (auto it = points.begin() + 1; it != points.end(); ++it) path.lineTo(*it);
  if (closed) path.closeSubpath();
  p.drawPath(path);
}

void Arrow(QPainter& p, QPointF from, QPointF to) {
  p.drawLine(from, to);
  const QLineF l(to, from);
  QLineF a = l, b = l;
  a.setLength(16);
  b.setLength(16);
  a.setAngle(l.angle() + 35);
  b.setAngle(l.angle() - 35);
  p.drawLine(a);
  p.drawLine(b);
}

void Grid(QPainter& p, int n) {
  for (int i = 0; i <= n; ++i) {
    const double t = 25 + 50.0 * i / n;
    p.drawLine(QPointF(t, 25), QPointF(t, 75));
    p.drawLine(QPointF(25, t), QPointF(75, t));
  }
}

void Checker(QPainter& p, int n, QColor c) {
  p.save();
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  const double s = 50.0 / n;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x)
      if ((x + y) % 2 == 0) p.drawRect(QRectF(25 + x * s, 25 + y * s, s, s));
  p.restore();
  p.drawRect(QRectF(25, 25, 50, 50));
}

void Camera(QPainter& p) {
  p.drawRoundedRect(QRectF(20, 35, 60, 40), 6, 6);
  p.drawRect(QRectF(38, 27, 24, 8));
  p.drawEllipse(QPointF(50, 55), 11, 11);
}

void Picture(QPainter& p) {
  p.drawRect(QRectF(22, 28, 56, 44));
  Outline(p, {{26, 68}, {42, 48}, {54, 60}, {62, 52}, {74, 68}}, false);
}

void Folder(QPainter& p) {
  Outline(p, {{20, 72}, {20, 30}, {40, 30}, {46, 38}, {80, 38}, {80, 72}}, true);
}

void Document(QPainter& p) {
  Outline(p, {{30, 20}, {60, 20}, {72, 32}, {72, 80}, {30, 80}}, true);
}

void Gear(QPainter& p, QPointF c, double r) {
  for (int i = 0; i < 8; ++i) {
    const double a = i * M_PI / 4;
    p.drawLine(QPointF(c.x() + r * std::cos(a), c.y() + r * std::sin(a)),
               QPointF(c.x() + (r + 9) * std::cos(a), c.y() + (r + 9) * std::sin(a)));
  }
  p.drawEllipse(c, r, r);
}

void Plus(QPainter& p, QPointF c, double r) {
  p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y()));
  p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));
}

void Minus(QPainter& p, QPointF c, double r) { p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y())); }

void Barrel(QPainter& p) {
  QPainterPath b;
  b.moveTo(30, 25);
  b.quadTo(18, 50, 30, 75);
  b.moveTo(70, 25);
  b.quadTo(82, 50, 70, 75);
  b.moveTo(30, 25);
  b.quadTo(50, 15, 70, 25);
  b.moveTo(30, 75);
  b.quadTo(50, 85, 70, 75);
  p.drawPath(b);
}

struct Button {
  const char* name;
  int size;
  Glyph glyph;
};

std::vector<Button> Buttons() {
  const QColor fill(255, 255, 255, 190);
  return {
      {"power", 24, [](QPainter& p) {
         p.drawArc(QRectF(25, 25, 50, 50), 120 * 16, 300 * 16);
         p.drawLine(QPointF(50, 18), QPointF(50, 48));
       }},
      {"minimize", 24, [](QPainter& p) { p.drawLine(QPointF(28, 68), QPointF(72, 68)); }},
      {"open_image", 24, [](QPainter& p) { Picture(p); }},
      {"remove_image", 24, [](QPainter& p) {
         Picture(p);
         Minus(p, QPointF(72, 28), 12);
       }},
      {"disable_image", 24, [](QPainter& p) {
         Picture(p);
         p.drawLine(QPointF(22, 78), QPointF(78, 22));
       }},
      {"run", 24, [fill](QPainter& p) {
         p.setBrush(fill);
         p.drawPolygon(QPolygonF({QPointF(36, 25), QPointF(76, 50), QPointF(36, 75)}));
       }},
      {"stop", 24, [fill](QPainter& p) {
         p.setBrush(fill);
         p.drawRect(QRectF(32, 32, 36, 36));
       }},
      {"record", 24, [](QPainter& p) {
         p.setBrush(QColor(230, 40, 40));
         p.drawEllipse(QPointF(50, 50), 20, 20);
       }},
      {"capture", 24, [](QPainter& p) { Camera(p); }},
      {"proc_image", 24, [](QPainter& p) { Gear(p, QPointF(50, 50), 16); }},
      {"data_insert_camera", 32, [](QPainter& p) {
         Camera(p);
         Plus(p, QPointF(76, 26), 10);
       }},
      {"open_param", 32, [](QPainter& p) {
         Document(p);
         for (int y : {40, 52, 64}) p.drawLine(QPointF(38, y), QPointF(64, y));
       }},
      {"calib", 32, [fill](QPainter& p) { Checker(p, 3, fill); }},
      {"calib2", 32, [fill](QPainter& p) { Checker(p, 4, fill); }},
      {"show_extrinsics", 32, [](QPainter& p) {
         Arrow(p, QPointF(35, 65), QPointF(78, 65));
         Arrow(p, QPointF(35, 65), QPointF(35, 20));
         Arrow(p, QPointF(35, 65), QPointF(15, 85));
       }},
      {"source_setup", 32, [](QPainter& p) {
         for (int i = 0; i < 3; ++i) {
           const double y = 30 + i * 20;
           p.drawLine(QPointF(22, y), QPointF(78, y));
           p.drawEllipse(QPointF(30 + i * 20, y), 5, 5);
         }
       }},
      {"bin", 32, [](QPainter& p) {
         p.drawLine(QPointF(24, 30), QPointF(76, 30));
         p.drawLine(QPointF(42, 22), QPointF(58, 22));
         p.drawPolyline(QPolygonF({QPointF(30, 30), QPointF(35, 80), QPointF(65, 80), QPointF(70, 30)}));
       }},
      {"open", 36, [](QPainter& p) { Folder(p); }},
      {"save", 36, [](QPainter& p) {
         p.drawRect(QRectF(24, 24, 52, 52));
         p.drawRect(QRectF(34, 24, 32, 16));
         p.drawRect(QRectF(34, 54, 32, 22));
       }},
      {"camera", 36, [](QPainter& p) { Camera(p); }},
      {"settings", 36, [](QPainter& p) { Gear(p, QPointF(50, 50), 18); }},
      {"new", 36, [](QPainter& p) {
         Document(p);
         Plus(p, QPointF(51, 55), 12);
       }},
      {"3d_move", 36, [](QPainter& p) {
         Arrow(p, QPointF(50, 50), QPointF(50, 18));
         Arrow(p, QPointF(50, 50), QPointF(50, 82));
         Arrow(p, QPointF(50, 50), QPointF(18, 50));
         Arrow(p, QPointF(50, 50), QPointF(82, 50));
       }},
      {"3d_view", 36, [](QPainter& p) {
         p.drawRect(QRectF(24, 36, 40, 40));
         p.drawPolyline(QPolygonF({QPointF(24, 36), QPointF(36, 24), QPointF(76, 24), QPointF(76, 64), QPointF(64, 76)}));
         p.drawLine(QPointF(64, 36), QPointF(76, 24));
       }},
      {"gridselect", 36, [fill](QPainter& p) {
         Grid(p, 3);
         p.setBrush(fill);
         p.drawRect(QRectF(41.7, 41.7, 16.6, 16.6));
       }},
      {"gridreset", 36, [](QPainter& p) {
         Grid(p, 3);
         p.drawArc(QRectF(60, 10, 30, 30), 0, 270 * 16);
       }},
      {"gridsettings", 36, [](QPainter& p) {
         Grid(p, 3);
         Gear(p, QPointF(75, 25), 7);
       }},
      {"objedit_magnify", 36, [](QPainter& p) {
         p.drawEllipse(QPointF(44, 44), 18, 18);
         p.drawLine(QPointF(57, 57), QPointF(78, 78));
       }},
      {"objedit_adddistortion", 36, [](QPainter& p) {
         Barrel(p);
         Plus(p, QPointF(50, 50), 10);
       }},
      {"objedit_subdistortion", 36, [](QPainter& p) {
         Barrel(p);
         Minus(p, QPointF(50, 50), 10);
       }},
      {"gridstepback", 36, [](QPainter& p) { Arrow(p, QPointF(75, 50), QPointF(25, 50)); }},
      {"gridstepforward", 36, [](QPainter& p) { Arrow(p, QPointF(25, 50), QPointF(75, 50)); }},
  };
}

struct State {
  QColor face, rim, ink;
  double shift;  // pressed glyphs move down and right
};

// Normal, pressed, hovered, disabled.
const State kStates[4] = {
    {QColor(0x41, 0x41, 0x41), QColor(0x6A, 0x6A, 0x6A), QColor(0xE0, 0xE0, 0xE0), 0},
    {QColor(0x2F, 0x2F, 0x2F), QColor(0x55, 0x55, 0x55), QColor(0xC8, 0xC8, 0xC8), 4},
    {QColor(0x5C, 0x6E, 0x82), QColor(0x9C, 0xB8, 0xD6), QColor(0xFF, 0xFF, 0xFF), 0},
    {QColor(0x41, 0x41, 0x41, 150), QColor(0x55, 0x55, 0x55, 150), QColor(0x80, 0x80, 0x80, 170), 0},
};

void DrawFrame(QPainter& p, const Button& b, int k) {
  const State& s = kStates[k];
  const double n = b.size;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.translate(k * n, 0);
  p.setPen(QPen(s.rim, 1.0));
  p.setBrush(s.face);
  p.drawEllipse(QRectF(0.5, 0.5, n - 1, n - 1));
  p.translate(s.shift * n / 100, s.shift * n / 100);
  p.scale(n / 100, n / 100);
  p.setPen(Stroke(s.ink, n <= 24 ? 9 : 7));
  p.setBrush(Qt::NoBrush);
  b.glyph(p);
  p.restore();
}

bool Save(const QImage& img, const QString& path) {
  if (img.save(path, "PNG")) return true;
  std::fprintf(stderr, "skin_generator: cannot write %s\n", path.toLocal8Bit().constData());
  return false;
}

QImage Icon() {
  QImage img(48, 48, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(QColor(0x9C, 0xB8, 0xD6), 2));
  p.setBrush(QColor(0x2F, 0x2F, 0x2F));
  p.drawRoundedRect(QRectF(1, 1, 46, 46), 8, 8);
  p.scale(0.48, 0.48);
  p.setPen(Stroke(QColor(0xE0, 0xE0, 0xE0), 5));
  Checker(p, 4, QColor(255, 255, 255, 200));
  p.setPen(Stroke(QColor(0x9C, 0xB8, 0xD6), 6));
  p.drawEllipse(QPointF(72, 72), 14, 14);
  p.end();
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: skin_generator <output folder>\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "skin_generator: cannot make %s\n", argv[1]);
    return 1;
  }
  bool ok = true;
  for (const Button& b : Buttons()) {
    QImage strip(4 * b.size, b.size, QImage::Format_ARGB32);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    for (int k = 0; k < 4; ++k) DrawFrame(p, b, k);
    p.end();
    ok = Save(strip, out + "/button_" + b.name + ".png") && ok;
  }
  ok = Save(Icon(), out + "/icon_cameracalibration.png") && ok;
  return ok ? 0 : 1;
}
