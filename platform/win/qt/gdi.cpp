#include "win/gdi.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "quorl/paths.h"
#include "win/window.h"
#include "window_internal.h"

namespace win {
namespace {

enum class Kind { DC, Bitmap, Brush, Pen, Font, Region };

struct Obj;
using ObjPtr = std::shared_ptr<Obj>;

struct DCState {
  HWND hwnd = nullptr;  // window DC when set
  ObjPtr bitmap, brush, pen, font;
  COLORREF text = 0x000000;
  COLORREF bk = 0xFFFFFF;
  int bkMode = OPAQUE;
  UINT align = 0;
  QPoint windowOrg{0, 0};
  QPoint viewportOrg{0, 0};
  bool hasPaintClip = false;
  QRegion paintClip;  // device coordinates
  bool hasClip = false;
  QRegion clip;  // device coordinates
  QPoint penPos{0, 0};
  bool printing = false;
};

struct Obj {
  Kind kind;
  bool stock = false;
  // Bitmap: pixels, with owned storage for DIB sections.
  QImage img;
  std::unique_ptr<uchar[]> bits;
  int bitCount = 32;
  // Brush and pen.
  COLORREF colour = 0;
  bool hollow = false;
  int penStyle = PS_SOLID;
  int penWidth = 1;
  // Font.
  QFont font;
  LOGFONTA lf{};
  // Region.
  QRegion rgn;
  // Device context.
  DCState dc;
  std::vector<DCState> saved;
};

struct Table {
  std::recursive_mutex m;
  std::map<std::uintptr_t, ObjPtr> objs;
  std::uintptr_t next = 0x100000;
  std::map<int, HGDIOBJ> stock;
};
Table& G() {
  static Table* t = new Table;
  return *t;
}

HGDIOBJ Add(ObjPtr o) {
  std::lock_guard<std::recursive_mutex> g(G().m);
  const std::uintptr_t k = G().next;
  G().next += 0x10;
  G().objs[k] = std::move(o);
  return reinterpret_cast<HGDIOBJ>(k);
}

ObjPtr Get(HGDIOBJ h, Kind kind) {
  if (!h) return nullptr;
  std::lock_guard<std::recursive_mutex> g(G().m);
  auto it = G().objs.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == G().objs.end() || it->second->kind != kind) return nullptr;
  return it->second;
}

ObjPtr GetAny(HGDIOBJ h) {
  if (!h) return nullptr;
  std::lock_guard<std::recursive_mutex> g(G().m);
  auto it = G().objs.find(reinterpret_cast<std::uintptr_t>(h));
  return it == G().objs.end() ? nullptr : it->second;
}

HGDIOBJ HandleOf(const ObjPtr& o) {
  if (!o) return nullptr;
  std::lock_guard<std::recursive_mutex> g(G().m);
  for (auto& [k, v] : G().objs)
    if (v == o) return reinterpret_cast<HGDIOBJ>(k);
  return nullptr;
}

DCState* DC(HDC h) {
  ObjPtr o = Get(h, Kind::DC);
  return o ? &o->dc : nullptr;
}

QColor Colour(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
COLORREF ToColorref(QRgb p) { return RGB(qRed(p), qGreen(p), qBlue(p)); }

ObjPtr NewBitmap(int w, int h) {
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Bitmap;
  o->img = QImage(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
  o->img.fill(0xFF000000);
  return o;
}

ObjPtr DefaultBitmap() {
  static ObjPtr b = NewBitmap(1, 1);
  return b;
}

// The image a DC draws into, or null (unknown window, nothing selected).
QImage* Target(DCState* s) {
  if (!s) return nullptr;
  if (s->hwnd) return SurfaceOf(s->hwnd);
  return s->bitmap ? &s->bitmap->img : nullptr;
}

QPoint Offset(const DCState* s) { return s->viewportOrg - s->windowOrg; }

QRegion EffectiveClip(DCState* s, const QImage& img) {
  QRegion r(QRect(0, 0, img.width(), img.height()));
  if (s->hasPaintClip) r &= s->paintClip;
  if (s->hasClip) r &= s->clip;
  return r;
}

void Changed(DCState* s) {
  if (s->hwnd) SurfaceChanged(s->hwnd);
  else BumpGeneration();
}

template <typename F>
bool Paint(HDC hdc, F&& f) {
  DCState* s = DC(hdc);
  QImage* img = Target(s);
  if (!img || img->isNull()) return false;
  {
    QPainter p(img);
    p.setClipRegion(EffectiveClip(s, *img));
    p.translate(Offset(s));
    f(p, *s);
  }
  Changed(s);
  return true;
}

QRect QR(const RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

// The pixels a DC shows: a window's composed client area or a bitmap.
const QImage* Source(DCState* s) {
  if (!s) return nullptr;
  if (s->hwnd) {
    const QImage& c = ComposeClient(s->hwnd);
    return c.isNull() ? nullptr : &c;
  }
  return s->bitmap ? &s->bitmap->img : nullptr;
}

// A copy of pixels of 32 bits read as B, G, R, X whatever the image format.
std::uint32_t PixelAt(const QImage& img, int x, int y) {
  if (img.format() == QImage::Format_RGB32 || img.format() == QImage::Format_ARGB32)
    return reinterpret_cast<const std::uint32_t*>(img.constScanLine(y))[x];
  return img.pixel(x, y);
}
void SetPixelAt(QImage& img, int x, int y, std::uint32_t v) {
  if (img.format() == QImage::Format_RGB32 || img.format() == QImage::Format_ARGB32)
    reinterpret_cast<std::uint32_t*>(img.scanLine(y))[x] = v;
  else
    img.setPixel(x, y, v | 0xFF000000u);
}

std::uint32_t Rop(std::uint32_t src, std::uint32_t dst, std::uint32_t pat, DWORD rop) {
  switch (rop) {
    case SRCPAINT: return src | dst;
    case SRCAND: return src & dst;
    case SRCINVERT: return src ^ dst;
    case PATCOPY: return pat;
    case DSTINVERT: return ~dst;
    case BLACKNESS: return 0xFF000000u;
    case WHITENESS: return 0xFFFFFFFFu;
    default: return src;
  }
}

bool UsesSource(DWORD rop) { return rop != PATCOPY && rop != DSTINVERT && rop != BLACKNESS && rop != WHITENESS; }

std::uint32_t BrushPixel(DCState* s) {
  COLORREF c = 0xFFFFFF;
  if (s->brush && !s->brush->hollow) c = s->brush->colour;
  return 0xFF000000u | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// Nearest-neighbour transfer from a source image (or none) into a DC, with
// destination (x, y, w, h) and source (sx, sy, sw, sh) in device pixels. A
// negative width or height mirrors.
bool Transfer(DCState* d, int x, int y, int w, int h, const QImage* src, int sx, int sy, int sw, int sh, DWORD rop) {
  QImage* dst = Target(d);
  if (!dst || dst->isNull()) return false;
  if (w == 0 || h == 0) return true;
  if (UsesSource(rop) && (!src || sw == 0 || sh == 0)) return false;
  const QPoint off = Offset(d);
  x += off.x();
  y += off.y();
  const bool flipX = (w < 0) != (sw < 0), flipY = (h < 0) != (sh < 0);
  if (w < 0) { x += w; w = -w; }
  if (h < 0) { y += h; h = -h; }
  if (sw < 0) { sx += sw; sw = -sw; }
  if (sh < 0) { sy += sh; sh = -sh; }
  const QRegion clip = EffectiveClip(d, *dst) & QRegion(QRect(x, y, w, h));
  const std::uint32_t pat = BrushPixel(d);
  // When reading and writing the same image, read from a copy.
  QImage copy;
  if (src == dst) {
    copy = src->copy();
    src = &copy;
  }
  const bool dst32 = dst->format() == QImage::Format_RGB32 || dst->format() == QImage::Format_ARGB32;
  if (dst32 && rop == SRCCOPY) {
    // The common road (video frames, panels): row pointers and a column map.
    QImage converted;
    if (src->format() != QImage::Format_RGB32 && src->format() != QImage::Format_ARGB32) {
      converted = src->convertToFormat(QImage::Format_RGB32);
      src = &converted;
    }
    std::vector<int> xmap;
    for (const QRect& r : clip) {
      xmap.resize(static_cast<size_t>(r.width()));
      for (int dx = r.left(); dx <= r.right(); ++dx) {
        const int rx = dx - x;
        xmap[static_cast<size_t>(dx - r.left())] =
            sx + static_cast<int>((static_cast<std::int64_t>(flipX ? w - 1 - rx : rx) * sw) / w);
      }
      const bool identity = !flipX && sw == w && xmap.front() >= 0 && xmap.back() < src->width();
      for (int dy = r.top(); dy <= r.bottom(); ++dy) {
        const int ry = dy - y;
        const int syy = sy + static_cast<int>((static_cast<std::int64_t>(flipY ? h - 1 - ry : ry) * sh) / h);
        if (syy < 0 || syy >= src->height()) continue;
        const auto* srow = reinterpret_cast<const std::uint32_t*>(src->constScanLine(syy));
        auto* drow = reinterpret_cast<std::uint32_t*>(dst->scanLine(dy)) + r.left();
        if (identity) {
          std::memcpy(drow, srow + xmap.front(), static_cast<size_t>(r.width()) * 4);
          continue;
        }
        for (int i = 0; i < r.width(); ++i) {
          const int sxx = xmap[static_cast<size_t>(i)];
          if (sxx >= 0 && sxx < src->width()) drow[i] = srow[sxx];
        }
      }
    }
    Changed(d);
    return true;
  }
  for (const QRect& r : clip) {
    for (int dy = r.top(); dy <= r.bottom(); ++dy) {
      const int ry = dy - y;
      int syy = sy + static_cast<int>((static_cast<std::int64_t>(flipY ? h - 1 - ry : ry) * sh) / h);
      for (int dx = r.left(); dx <= r.right(); ++dx) {
        const int rx = dx - x;
        std::uint32_t sv = 0;
        if (UsesSource(rop)) {
          const int sxx = sx + static_cast<int>((static_cast<std::int64_t>(flipX ? w - 1 - rx : rx) * sw) / w);
          if (sxx < 0 || syy < 0 || sxx >= src->width() || syy >= src->height()) continue;
          sv = PixelAt(*src, sxx, syy);
        }
        SetPixelAt(*dst, dx, dy, Rop(sv, PixelAt(*dst, dx, dy), pat, rop));
      }
    }
  }
  Changed(d);
  return true;
}

// Wraps caller DIB bits as an image of the visible rows. Supports BI_RGB
// 24 and 32 bits, either row order; rows padded to 4 bytes.
bool WrapDib(const void* bits, const BITMAPINFO* bmi, UINT lines, QImage* out, bool* bottomUp) {
  if (!bits || !bmi) return false;
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  if (h.biCompression != BI_RGB || (h.biBitCount != 24 && h.biBitCount != 32) || h.biWidth <= 0 || h.biHeight == 0)
    return false;
  const int width = h.biWidth;
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  const int rows = std::min<int>(height, static_cast<int>(std::min<UINT>(lines, 1u << 30)));
  if (rows <= 0) return false;
  const int stride = ((width * h.biBitCount + 31) / 32) * 4;
  *bottomUp = h.biHeight > 0;
  *out = QImage(static_cast<const uchar*>(bits), width, rows, stride,
                h.biBitCount == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888);
  return true;
}

QFont MakeFont(int height, int width, int weight, bool italic, bool underline, bool strike, DWORD quality,
               const char* face) {
  QFont f(QString::fromLatin1(face && *face ? face : "Sans Serif"));
  // A negative height is the character height, a positive one the cell
  // height (character plus internal leading).
  if (height < 0) f.setPixelSize(-height);
  else if (height > 0) {
    f.setPixelSize(height);
    const int cell = QFontMetrics(f).height();
    if (cell > height) f.setPixelSize(std::max(1, height * height / cell));
  } else {
    f.setPixelSize(13);
  }
  if (width > 0) {
    QFontMetrics m(f);
    const int avg = std::max(1, m.averageCharWidth());
    f.setStretch(std::clamp(width * 100 / avg, 1, 4000));
  }
  f.setWeight(weight >= FW_BOLD ? QFont::Bold : weight > 0 && weight < FW_NORMAL ? QFont::Light : QFont::Normal);
  f.setItalic(italic);
  f.setUnderline(underline);
  f.setStrikeOut(strike);
  if (quality == NONANTIALIASED_QUALITY) f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

ObjPtr FontObj(DCState* s) {
  if (s->font) return s->font;
  return Get(GetStockObject(DEFAULT_GUI_FONT), Kind::Font);
}

QString Text(const char* s, int n) {
  if (!s) return QString();
  if (n < 0) n = static_cast<int>(std::strlen(s));
  return QString::fromLatin1(s, n);
}

}  // namespace

QRegion RegionOf(HRGN rgn, bool* ok) {
  ObjPtr o = Get(rgn, Kind::Region);
  if (ok) *ok = o != nullptr;
  return o ? o->rgn : QRegion();
}

HRGN NewRegion(const QRegion& r) {
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Region;
  o->rgn = r;
  return Add(o);
}

HDC NewWindowDC(HWND hwnd, const QRegion* clip) {
  if (!Lookup(hwnd)) return nullptr;
  auto o = std::make_shared<Obj>();
  o->kind = Kind::DC;
  o->dc.hwnd = hwnd;
  if (clip) {
    o->dc.hasPaintClip = true;
    o->dc.paintClip = *clip;
  }
  if (WindowData* d = Lookup(hwnd); d && d->font) o->dc.font = Get(d->font, Kind::Font);
  return Add(o);
}

void DropTemps(HGDIOBJ h);

void FreeDC(HDC hdc) {
  if (!Get(hdc, Kind::DC)) return;
  {
    std::lock_guard<std::recursive_mutex> g(G().m);
    G().objs.erase(reinterpret_cast<std::uintptr_t>(hdc));
  }
  DropTemps(hdc);
}

bool BrushColour(HBRUSH brush, COLORREF* out) {
  ObjPtr o = Get(brush, Kind::Brush);
  if (!o || o->hollow) return false;
  if (out) *out = o->colour;
  return true;
}

QFont FontOf(HFONT font) {
  ObjPtr o = Get(font, Kind::Font);
  if (!o) o = Get(GetStockObject(DEFAULT_GUI_FONT), Kind::Font);
  return o ? o->font : QFont();
}

HFONT DefaultGuiFont() { return GetStockObject(DEFAULT_GUI_FONT); }

QImage* DCTarget(HDC hdc, QRegion* clip) {
  DCState* s = DC(hdc);
  QImage* img = Target(s);
  if (!img) return nullptr;
  if (clip) *clip = EffectiveClip(s, *img);
  return img;
}

const QImage* DCSource(HDC hdc) { return Source(DC(hdc)); }

void DCChanged(HDC hdc) {
  if (DCState* s = DC(hdc)) Changed(s);
}

void SetPrinting(HDC hdc, bool printing) {
  if (DCState* s = DC(hdc)) s->printing = printing;
}
bool IsPrinting(HDC hdc) {
  DCState* s = DC(hdc);
  return s && s->printing;
}

int LiveGdiObjectCount() {
  std::lock_guard<std::recursive_mutex> g(G().m);
  int n = 0;
  for (const auto& [k, o] : G().objs)
    if (!o->stock && o->kind != Kind::DC) ++n;
  return n;
}

}  // namespace win

using namespace win;

// ---- Device contexts ------------------------------------------------------

HDC CreateCompatibleDC(HDC) {
  auto o = std::make_shared<Obj>();
  o->kind = Kind::DC;
  o->dc.bitmap = DefaultBitmap();
  return Add(o);
}

BOOL DeleteDC(HDC hdc) {
  if (!Get(hdc, Kind::DC)) return FALSE;
  FreeDC(hdc);
  return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  WindowData* d = Lookup(hwnd);
  if (!d || !ps) return nullptr;
  QRegion clip = d->update;
  if (clip.isEmpty()) clip = QRegion();
  if (d->hasRegion) clip &= d->region;
  const bool erase = d->erase;
  d->update = QRegion();
  d->erase = false;
  HDC dc = NewWindowDC(hwnd, &clip);
  const QRect b = clip.boundingRect();
  ps->hdc = dc;
  ps->rcPaint = RECT{b.left(), b.top(), b.left() + b.width(), b.top() + b.height()};
  ps->fErase = FALSE;
  if (erase) ps->fErase = ::SendMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
  return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (ps) FreeDC(ps->hdc);
  SurfaceChanged(hwnd);
  return TRUE;
}

HDC GetDC(HWND hwnd) { return NewWindowDC(hwnd, nullptr); }

int ReleaseDC(HWND, HDC hdc) {
  if (!Get(hdc, Kind::DC)) return 0;
  FreeDC(hdc);
  return 1;
}

HWND WindowFromDC(HDC hdc) {
  DCState* s = DC(hdc);
  return s ? s->hwnd : nullptr;
}

int GetDeviceCaps(HDC hdc, int index) {
  DCState* s = DC(hdc);
  QImage* img = Target(s);
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case HORZRES: return img ? img->width() : 0;
    case VERTRES: return img ? img->height() : 0;
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case RASTERCAPS: return 0x0001 | 0x0008 | 0x0800;  // bitblt, bitmap64, stretchblt
    default: return 0;
  }
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  ObjPtr dco = Get(hdc, Kind::DC);
  ObjPtr o = GetAny(h);
  if (!dco || !o) return nullptr;
  DCState& s = dco->dc;
  ObjPtr old;
  switch (o->kind) {
    case Kind::Bitmap:
      if (s.hwnd) return nullptr;
      old = s.bitmap;
      s.bitmap = o;
      break;
    case Kind::Brush: old = s.brush; s.brush = o; break;
    case Kind::Pen: old = s.pen; s.pen = o; break;
    case Kind::Font: old = s.font ? s.font : Get(GetStockObject(DEFAULT_GUI_FONT), Kind::Font); s.font = o; break;
    case Kind::Region:
      s.hasClip = true;
      s.clip = o->rgn;
      return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(o->rgn.rectCount() > 1 ? COMPLEXREGION : SIMPLEREGION));
    default: return nullptr;
  }
  if (!old) {
    if (o->kind == Kind::Brush) return GetStockObject(WHITE_BRUSH);
    if (o->kind == Kind::Pen) return GetStockObject(BLACK_PEN);
    return nullptr;
  }
  if (old == DefaultBitmap()) {
    static HGDIOBJ def = Add(DefaultBitmap());
    return def;
  }
  return HandleOf(old);
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  DCState* s = DC(hdc);
  if (!s) return nullptr;
  switch (type) {
    case 7: return HandleOf(s->bitmap);  // OBJ_BITMAP
    case 2: return HandleOf(s->brush);   // OBJ_BRUSH
    case 1: return HandleOf(s->pen);     // OBJ_PEN
    case 6: return HandleOf(FontObj(s));  // OBJ_FONT
    default: return nullptr;
  }
}

BOOL DeleteObject(HGDIOBJ h) {
  ObjPtr o = GetAny(h);
  if (!o || o->stock || o->kind == Kind::DC) return FALSE;
  {
    std::lock_guard<std::recursive_mutex> g(G().m);
    G().objs.erase(reinterpret_cast<std::uintptr_t>(h));
  }
  DropTemps(h);
  return TRUE;
}

HGDIOBJ GetStockObject(int which) {
  std::lock_guard<std::recursive_mutex> g(G().m);
  auto it = G().stock.find(which);
  if (it != G().stock.end()) return it->second;
  auto o = std::make_shared<Obj>();
  o->stock = true;
  switch (which) {
    case WHITE_BRUSH: o->kind = Kind::Brush; o->colour = RGB(255, 255, 255); break;
    case LTGRAY_BRUSH: o->kind = Kind::Brush; o->colour = RGB(192, 192, 192); break;
    case GRAY_BRUSH: o->kind = Kind::Brush; o->colour = RGB(128, 128, 128); break;
    case DKGRAY_BRUSH: o->kind = Kind::Brush; o->colour = RGB(64, 64, 64); break;
    case BLACK_BRUSH: o->kind = Kind::Brush; o->colour = RGB(0, 0, 0); break;
    case NULL_BRUSH: o->kind = Kind::Brush; o->hollow = true; break;
    case WHITE_PEN: o->kind = Kind::Pen; o->colour = RGB(255, 255, 255); break;
    case BLACK_PEN: o->kind = Kind::Pen; o->colour = 0; break;
    case NULL_PEN: o->kind = Kind::Pen; o->penStyle = PS_NULL; break;
    case ANSI_VAR_FONT:
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT:
      o->kind = Kind::Font;
      o->font = MakeFont(-11, 0, FW_NORMAL, false, false, false, DEFAULT_QUALITY, "Sans Serif");
      o->lf.lfHeight = -11;
      o->lf.lfWeight = FW_NORMAL;
      std::strcpy(o->lf.lfFaceName, "MS Shell Dlg");
      break;
    default: return nullptr;
  }
  HGDIOBJ h = Add(o);
  G().stock[which] = h;
  return h;
}

int GetObjectA(HGDIOBJ h, int size, void* out) {
  ObjPtr o = GetAny(h);
  if (!o) return 0;
  if (o->kind == Kind::Bitmap) {
    if (!out) return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    BITMAP bm{};
    bm.bmWidth = o->img.width();
    bm.bmHeight = o->img.height();
    bm.bmWidthBytes = static_cast<LONG>(o->img.bytesPerLine());
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(o->bitCount);
    bm.bmBits = o->bits ? o->bits.get() : nullptr;
    std::memcpy(out, &bm, sizeof bm);
    return sizeof(BITMAP);
  }
  if (o->kind == Kind::Font) {
    if (!out) return sizeof(LOGFONTA);
    if (size < static_cast<int>(sizeof(LOGFONTA))) return 0;
    std::memcpy(out, &o->lf, sizeof(LOGFONTA));
    return sizeof(LOGFONTA);
  }
  return 0;
}

int SaveDC(HDC hdc) {
  ObjPtr o = Get(hdc, Kind::DC);
  if (!o) return 0;
  o->saved.push_back(o->dc);
  return static_cast<int>(o->saved.size());
}

BOOL RestoreDC(HDC hdc, int saved) {
  ObjPtr o = Get(hdc, Kind::DC);
  if (!o || o->saved.empty()) return FALSE;
  const int n = static_cast<int>(o->saved.size());
  const int idx = saved < 0 ? n + saved : saved - 1;
  if (idx < 0 || idx >= n) return FALSE;
  o->dc = o->saved[static_cast<size_t>(idx)];
  o->saved.resize(static_cast<size_t>(idx));
  return TRUE;
}

#define DC_OR(h, fail)   \
  DCState* s = DC(h);    \
  if (!s) return fail;

COLORREF SetTextColor(HDC h, COLORREF c) { DC_OR(h, CLR_INVALID) std::swap(s->text, c); return c; }
COLORREF GetTextColor(HDC h) { DC_OR(h, CLR_INVALID) return s->text; }
COLORREF SetBkColor(HDC h, COLORREF c) { DC_OR(h, CLR_INVALID) std::swap(s->bk, c); return c; }
COLORREF GetBkColor(HDC h) { DC_OR(h, CLR_INVALID) return s->bk; }
int SetBkMode(HDC h, int m) { DC_OR(h, 0) std::swap(s->bkMode, m); return m; }
int GetBkMode(HDC h) { DC_OR(h, 0) return s->bkMode; }
UINT SetTextAlign(HDC h, UINT a) { DC_OR(h, 0) std::swap(s->align, a); return a; }
int SetStretchBltMode(HDC h, int) { DC_OR(h, 0) return COLORONCOLOR; }
int SetMapMode(HDC h, int) { DC_OR(h, 0) return MM_TEXT; }
int GetMapMode(HDC h) { DC_OR(h, 0) return MM_TEXT; }
namespace {
// The previous origin into `old` (when given), then the new one.
BOOL MoveOrigin(QPoint& origin, int x, int y, POINT* old) {
  if (old) *old = POINT{origin.x(), origin.y()};
  origin = QPoint(x, y);
  return TRUE;
}
BOOL ReadOrigin(const QPoint& origin, POINT* out) {
  if (out) *out = POINT{origin.x(), origin.y()};
  return TRUE;
}
}  // namespace
BOOL SetWindowOrgEx(HDC h, int x, int y, POINT* old) {
  DC_OR(h, FALSE)
  return MoveOrigin(s->windowOrg, x, y, old);
}
BOOL GetWindowOrgEx(HDC h, POINT* out) {
  DC_OR(h, FALSE)
  return ReadOrigin(s->windowOrg, out);
}
BOOL SetViewportOrgEx(HDC h, int x, int y, POINT* old) {
  DC_OR(h, FALSE)
  return MoveOrigin(s->viewportOrg, x, y, old);
}
BOOL GetViewportOrgEx(HDC h, POINT* out) {
  DC_OR(h, FALSE)
  return ReadOrigin(s->viewportOrg, out);
}
BOOL LPtoDP(HDC h, POINT* p, int n) {
  DC_OR(h, FALSE)
  const QPoint o = Offset(s);
  for (int i = 0; p && i < n; ++i) p[i].x += o.x(), p[i].y += o.y();
  return TRUE;
}
BOOL DPtoLP(HDC h, POINT* p, int n) {
  DC_OR(h, FALSE)
  const QPoint o = Offset(s);
  for (int i = 0; p && i < n; ++i) p[i].x -= o.x(), p[i].y -= o.y();
  return TRUE;
}
int GetClipBox(HDC h, RECT* out) {
  DC_OR(h, ERROR)
  QImage* img = Target(s);
  if (!img || !out) return ERROR;
  const QRegion c = EffectiveClip(s, *img);
  const QRect b = c.boundingRect().translated(-Offset(s));
  *out = RECT{b.left(), b.top(), b.left() + b.width(), b.top() + b.height()};
  return c.isEmpty() ? NULLREGION : c.rectCount() > 1 ? COMPLEXREGION : SIMPLEREGION;
}
int SelectClipRgn(HDC h, HRGN rgn) {
  DC_OR(h, ERROR)
  if (!rgn) {
    s->hasClip = false;
    return SIMPLEREGION;
  }
  bool ok = false;
  const QRegion r = RegionOf(rgn, &ok);
  if (!ok) return ERROR;
  s->hasClip = true;
  s->clip = r;  // device coordinates, as on the platform
  return r.isEmpty() ? NULLREGION : SIMPLEREGION;
}
int IntersectClipRect(HDC h, int l, int t, int r, int b) {
  DC_OR(h, ERROR)
  const QRegion add(QRect(l, t, r - l, b - t).translated(Offset(s)));
  if (s->hasClip) s->clip &= add;
  else s->clip = add;
  s->hasClip = true;
  return s->clip.isEmpty() ? NULLREGION : SIMPLEREGION;
}
BOOL PtVisible(HDC h, int x, int y) {
  DC_OR(h, FALSE)
  QImage* img = Target(s);
  return img && EffectiveClip(s, *img).contains(QPoint(x, y) + Offset(s)) ? TRUE : FALSE;
}
BOOL RectVisible(HDC h, const RECT* r) {
  DC_OR(h, FALSE)
  QImage* img = Target(s);
  return img && r && EffectiveClip(s, *img).intersects(QR(*r).translated(Offset(s))) ? TRUE : FALSE;
}

// ---- Bitmaps ----------------------------------------------------------------

HBITMAP CreateCompatibleBitmap(HDC, int w, int h) {
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > (1 << 28)) return nullptr;
  return Add(NewBitmap(w, h));
}

HBITMAP CreateBitmap(int w, int h, UINT, UINT bitCount, const void* bits) {
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > (1 << 28)) return nullptr;
  ObjPtr o = NewBitmap(w, h);
  if (bits && bitCount == 32)
    for (int y = 0; y < h; ++y)
      std::memcpy(o->img.scanLine(y), static_cast<const uchar*>(bits) + static_cast<size_t>(y) * w * 4, static_cast<size_t>(w) * 4);
  return Add(o);
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* bmi, UINT, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  if (!bmi) return nullptr;
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  // Top-down (negative height) 24- and 32-bit BI_RGB only: a bottom-up
  // section cannot share its memory with a drawable image.
  if (h.biCompression != BI_RGB || (h.biBitCount != 32 && h.biBitCount != 24) || h.biWidth <= 0 || h.biHeight >= 0)
    return nullptr;
  const int w = h.biWidth, ht = -h.biHeight;
  if (static_cast<std::int64_t>(w) * ht > (1 << 28)) return nullptr;
  const int stride = ((w * h.biBitCount + 31) / 32) * 4;
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Bitmap;
  o->bitCount = h.biBitCount;
  o->bits.reset(new uchar[static_cast<size_t>(stride) * ht]());
  o->img = QImage(o->bits.get(), w, ht, stride, h.biBitCount == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888);
  if (bits) *bits = o->bits.get();
  return Add(o);
}

HANDLE LoadImageA(HINSTANCE, const char* name, UINT type, int, int, UINT flags) {
  // Resources by id or name: the module resource table is empty.
  if (!name || IS_INTRESOURCE(name) || type != IMAGE_BITMAP || !(flags & LR_LOADFROMFILE)) return nullptr;
  QImage img(QString::fromStdString(quorl::MapPath(name)), "BMP");
  if (img.isNull()) return nullptr;
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Bitmap;
  o->bitCount = img.depth() >= 24 ? img.depth() : 24;
  o->img = img.convertToFormat(QImage::Format_RGB32);
  return Add(o);
}

// ---- Pixels and blits -----------------------------------------------------

COLORREF GetPixel(HDC h, int x, int y) {
  DC_OR(h, CLR_INVALID)
  const QImage* img = Source(s);
  if (!img) return CLR_INVALID;
  const QPoint p = QPoint(x, y) + Offset(s);
  if (!img->rect().contains(p)) return CLR_INVALID;
  return ToColorref(PixelAt(*img, p.x(), p.y()));
}

COLORREF SetPixel(HDC h, int x, int y, COLORREF c) {
  DC_OR(h, CLR_INVALID)
  QImage* img = Target(s);
  if (!img) return CLR_INVALID;
  const QPoint p = QPoint(x, y) + Offset(s);
  if (!EffectiveClip(s, *img).contains(p)) return CLR_INVALID;
  SetPixelAt(*img, p.x(), p.y(), 0xFF000000u | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
  Changed(s);
  return c;
}

BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
  return StretchBlt(dst, x, y, w, h, src, sx, sy, w, h, rop);
}

BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh, DWORD rop) {
  DCState* d = DC(dst);
  if (!d) return FALSE;
  const QImage* simg = nullptr;
  QImage snapshot;
  if (UsesSource(rop)) {
    DCState* s = DC(src);
    if (!s) return FALSE;
    simg = Source(s);
    if (!simg) return FALSE;
    snapshot = *simg;  // shared, detached on write
    simg = &snapshot;
    const QPoint o = Offset(s);
    sx += o.x();
    sy += o.y();
  }
  return Transfer(d, x, y, w, h, simg, sx, sy, sw, sh, rop) ? TRUE : FALSE;
}

namespace {
// Clips a source rectangle to the image, moving the destination with it.
// Returns false when nothing is left.
bool ClipSource(int imgW, int imgH, int* sx, int* sy, int* sw, int* sh, int* dx, int* dy, int* dw, int* dh) {
  const double fx = static_cast<double>(*dw) / *sw, fy = static_cast<double>(*dh) / *sh;
  const int x0 = std::max(*sx, 0), y0 = std::max(*sy, 0);
  const int x1 = std::min(*sx + *sw, imgW), y1 = std::min(*sy + *sh, imgH);
  if (x1 <= x0 || y1 <= y0) return false;
  const int ndx0 = *dx + static_cast<int>(std::lround((x0 - *sx) * fx));
  const int ndx1 = *dx + static_cast<int>(std::lround((x1 - *sx) * fx));
  const int ndy0 = *dy + static_cast<int>(std::lround((y0 - *sy) * fy));
  const int ndy1 = *dy + static_cast<int>(std::lround((y1 - *sy) * fy));
  *sx = x0; *sy = y0; *sw = x1 - x0; *sh = y1 - y0;
  *dx = ndx0; *dy = ndy0; *dw = ndx1 - ndx0; *dh = ndy1 - ndy0;
  return *dw > 0 && *dh > 0;
}
}  // namespace

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* bmi, UINT) {
  DCState* d = DC(hdc);
  QImage img;
  bool bottomUp = false;
  if (!d || startScan != 0 || !WrapDib(bits, bmi, 1u << 30, &img, &bottomUp)) return 0;
  // The scan count limits how many rows are set.
  h = std::min<DWORD>(h, lines);
  if (w == 0 || h == 0 || w > (1u << 20) || h > (1u << 20)) return 0;
  int sw = static_cast<int>(w), sh = static_cast<int>(h);
  // Bottom-up DIBs measure ySrc from the bottom row of the image.
  int sy = bottomUp ? img.height() - ySrc - sh : ySrc;
  int sx = xSrc, dx = xDest, dy = yDest, dw = sw, dh = sh;
  QImage view = bottomUp ? img.mirrored(false, true) : img;
  if (!ClipSource(view.width(), view.height(), &sx, &sy, &sw, &sh, &dx, &dy, &dw, &dh)) return 0;
  if (!Transfer(d, dx, dy, dw, dh, &view, sx, sy, sw, sh, SRCCOPY)) return 0;
  return sh;
}

int StretchDIBits(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc, int hSrc,
                  const void* bits, const BITMAPINFO* bmi, UINT, DWORD rop) {
  DCState* d = DC(hdc);
  QImage img;
  bool bottomUp = false;
  if (!d || !WrapDib(bits, bmi, 1u << 30, &img, &bottomUp)) return 0;
  if (wDest == 0 || hDest == 0 || wSrc == 0 || hSrc == 0) return 0;
  // Mirroring by sign is folded into the destination.
  if (wSrc < 0) { xSrc += wSrc; wSrc = -wSrc; xDest += wDest; wDest = -wDest; }
  if (hSrc < 0) { ySrc += hSrc; hSrc = -hSrc; yDest += hDest; hDest = -hDest; }
  const bool flipX = wDest < 0, flipY = hDest < 0;
  if (flipX) { xDest += wDest; wDest = -wDest; }
  if (flipY) { yDest += hDest; hDest = -hDest; }
  int sy = bottomUp ? img.height() - ySrc - hSrc : ySrc;
  int sx = xSrc, sw = wSrc, sh = hSrc, dx = xDest, dy = yDest, dw = wDest, dh = hDest;
  QImage view = bottomUp ? img.mirrored(false, true) : img;
  if (!ClipSource(view.width(), view.height(), &sx, &sy, &sw, &sh, &dx, &dy, &dw, &dh)) return 0;
  if (!Transfer(d, dx, dy, flipX ? -dw : dw, flipY ? -dh : dh, &view, sx, sy, sw, sh, rop)) return 0;
  return sh;
}

// ---- Brushes, pens, shapes --------------------------------------------------

HBRUSH CreateSolidBrush(COLORREF c) {
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Brush;
  o->colour = c & 0xFFFFFF;
  return Add(o);
}

HPEN CreatePen(int style, int width, COLORREF c) {
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Pen;
  o->penStyle = style;
  o->penWidth = std::max(width, 1);
  o->colour = c & 0xFFFFFF;
  return Add(o);
}

COLORREF GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNSHADOW: return RGB(160, 160, 160);
    case COLOR_BTNHIGHLIGHT:
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_HIGHLIGHT: return RGB(0, 120, 215);
    case COLOR_BTNFACE:
    default: return RGB(240, 240, 240);
  }
}

HBRUSH GetSysColorBrush(int index) {
  static std::mutex m;
  static std::map<int, HBRUSH> brushes;
  std::lock_guard<std::mutex> g(m);
  HBRUSH& b = brushes[index];
  if (!b) {
    b = CreateSolidBrush(GetSysColor(index));
    if (ObjPtr o = Get(b, Kind::Brush)) o->stock = true;
  }
  return b;
}

int FillRect(HDC h, const RECT* r, HBRUSH brush) {
  ObjPtr b = Get(brush, Kind::Brush);
  if (!r || !b) return 0;
  if (b->hollow) return 1;
  return Paint(h, [&](QPainter& p, DCState&) { p.fillRect(QR(*r), Colour(b->colour)); }) ? 1 : 0;
}

int FrameRect(HDC h, const RECT* r, HBRUSH brush) {
  ObjPtr b = Get(brush, Kind::Brush);
  if (!r || !b) return 0;
  if (b->hollow) return 1;
  return Paint(h, [&](QPainter& p, DCState&) {
           const QRect q = QR(*r);
           const QColor c = Colour(b->colour);
           p.fillRect(QRect(q.left(), q.top(), q.width(), 1), c);
           p.fillRect(QRect(q.left(), q.bottom(), q.width(), 1), c);
           p.fillRect(QRect(q.left(), q.top(), 1, q.height()), c);
           p.fillRect(QRect(q.right(), q.top(), 1, q.height()), c);
         })
             ? 1
             : 0;
}

namespace {
void ApplyPenBrush(QPainter& p, DCState& s) {
  ObjPtr pen = s.pen ? s.pen : Get(GetStockObject(BLACK_PEN), Kind::Pen);
  if (pen->penStyle == PS_NULL) {
    p.setPen(Qt::NoPen);
  } else {
    QPen q(Colour(pen->colour));
    q.setWidth(pen->penWidth);
    q.setStyle(pen->penStyle == PS_DASH ? Qt::DashLine : pen->penStyle == PS_DOT ? Qt::DotLine : Qt::SolidLine);
    q.setJoinStyle(Qt::MiterJoin);
    p.setPen(q);
  }
  ObjPtr br = s.brush ? s.brush : Get(GetStockObject(WHITE_BRUSH), Kind::Brush);
  if (br->hollow) p.setBrush(Qt::NoBrush);
  else p.setBrush(Colour(br->colour));
}
}  // namespace

BOOL Rectangle(HDC h, int l, int t, int r, int b) {
  // The outline lies inside the rectangle; right and bottom are exclusive.
  return Paint(h, [&](QPainter& p, DCState& s) {
    ApplyPenBrush(p, s);
    if (r - l < 1 || b - t < 1) return;
    p.drawRect(QRect(l, t, r - l - 1, b - t - 1));
  });
}

BOOL Ellipse(HDC h, int l, int t, int r, int b) {
  return Paint(h, [&](QPainter& p, DCState& s) {
    ApplyPenBrush(p, s);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawEllipse(QRect(l, t, r - l - 1, b - t - 1));
  });
}

BOOL MoveToEx(HDC h, int x, int y, POINT* old) {
  DC_OR(h, FALSE)
  if (old) *old = POINT{s->penPos.x(), s->penPos.y()};
  s->penPos = QPoint(x, y);
  return TRUE;
}

BOOL LineTo(HDC h, int x, int y) {
  DCState* st = DC(h);
  if (!st) return FALSE;
  const QPoint from = st->penPos, to(x, y);
  const BOOL ok = Paint(h, [&](QPainter& p, DCState& s) {
    ApplyPenBrush(p, s);
    // The end point itself is not drawn.
    if (from == to) return;
    QLineF line(from, to);
    const double len = line.length();
    line.setLength(std::max(0.0, len - 1.0));
    p.drawLine(QLineF(line.p1(), line.p2()));
  });
  st->penPos = to;
  return ok;
}

HICON CreateIconIndirect(const ICONINFO* info) {
  ObjPtr colour = info ? Get(info->hbmColor, Kind::Bitmap) : nullptr;
  if (!colour) return nullptr;
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Bitmap;
  const QImage& src = colour->img;
  if (src.depth() == 32)
    o->img = QImage(src.constBits(), src.width(), src.height(), src.bytesPerLine(), QImage::Format_ARGB32).copy();
  else
    o->img = src.convertToFormat(QImage::Format_ARGB32);
  return Add(o);
}

BOOL DestroyIcon(HICON icon) { return DeleteObject(icon); }

BOOL DrawIcon(HDC h, int x, int y, HICON icon) {
  ObjPtr o = Get(icon, Kind::Bitmap);
  if (!o) return FALSE;
  return Paint(h, [&](QPainter& p, DCState&) { p.drawImage(x, y, o->img); });
}

// ---- Regions ----------------------------------------------------------------

HRGN CreateRectRgn(int l, int t, int r, int b) {
  const QRect q = QRect(QPoint(std::min(l, r), std::min(t, b)), QPoint(std::max(l, r) - 1, std::max(t, b) - 1));
  return NewRegion(q.isValid() ? QRegion(q) : QRegion());
}

HRGN CreateEllipticRgn(int l, int t, int r, int b) {
  const QRect q(QPoint(std::min(l, r), std::min(t, b)), QPoint(std::max(l, r) - 1, std::max(t, b) - 1));
  return NewRegion(q.isValid() ? QRegion(q, QRegion::Ellipse) : QRegion());
}

HRGN CreateRoundRectRgn(int l, int t, int r, int b, int w, int h) {
  QPainterPath path;
  path.addRoundedRect(QRectF(l, t, r - l, b - t), w / 2.0, h / 2.0);
  return NewRegion(QRegion(path.toFillPolygon().toPolygon()));
}

int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode) {
  ObjPtr d = Get(dst, Kind::Region), ra = Get(a, Kind::Region), rb = Get(b, Kind::Region);
  if (!d || !ra || (mode != RGN_COPY && !rb)) return ERROR;
  switch (mode) {
    case RGN_AND: d->rgn = ra->rgn & rb->rgn; break;
    case RGN_OR: d->rgn = ra->rgn | rb->rgn; break;
    case RGN_XOR: d->rgn = ra->rgn ^ rb->rgn; break;
    case RGN_DIFF: d->rgn = ra->rgn - rb->rgn; break;
    case RGN_COPY: d->rgn = ra->rgn; break;
    default: return ERROR;
  }
  return d->rgn.isEmpty() ? NULLREGION : d->rgn.rectCount() > 1 ? COMPLEXREGION : SIMPLEREGION;
}

BOOL PtInRegion(HRGN rgn, int x, int y) {
  ObjPtr o = Get(rgn, Kind::Region);
  return o && o->rgn.contains(QPoint(x, y)) ? TRUE : FALSE;
}

int GetRgnBox(HRGN rgn, RECT* out) {
  ObjPtr o = Get(rgn, Kind::Region);
  if (!o || !out) return ERROR;
  const QRect b = o->rgn.boundingRect();
  *out = o->rgn.isEmpty() ? RECT{0, 0, 0, 0} : RECT{b.left(), b.top(), b.left() + b.width(), b.top() + b.height()};
  return o->rgn.isEmpty() ? NULLREGION : o->rgn.rectCount() > 1 ? COMPLEXREGION : SIMPLEREGION;
}

int OffsetRgn(HRGN rgn, int dx, int dy) {
  ObjPtr o = Get(rgn, Kind::Region);
  if (!o) return ERROR;
  o->rgn.translate(dx, dy);
  return o->rgn.isEmpty() ? NULLREGION : SIMPLEREGION;
}

BOOL EqualRgn(HRGN a, HRGN b) {
  ObjPtr ra = Get(a, Kind::Region), rb = Get(b, Kind::Region);
  return ra && rb && ra->rgn == rb->rgn ? TRUE : FALSE;
}

// ---- Fonts and text ---------------------------------------------------------

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, const char* face) {
  EnsureApplication();
  auto o = std::make_shared<Obj>();
  o->kind = Kind::Font;
  o->font = MakeFont(height, width, weight, italic, underline, strikeOut, quality, face);
  LOGFONTA& lf = o->lf;
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = static_cast<BYTE>(italic);
  lf.lfUnderline = static_cast<BYTE>(underline);
  lf.lfStrikeOut = static_cast<BYTE>(strikeOut);
  lf.lfCharSet = static_cast<BYTE>(charSet);
  lf.lfOutPrecision = static_cast<BYTE>(outPrecision);
  lf.lfClipPrecision = static_cast<BYTE>(clipPrecision);
  lf.lfQuality = static_cast<BYTE>(quality);
  lf.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
  std::strncpy(lf.lfFaceName, face ? face : "", sizeof lf.lfFaceName - 1);
  return Add(o);
}

HFONT CreateFontIndirectA(const LOGFONTA* lf) {
  if (!lf) return nullptr;
  char face[33] = {};
  std::memcpy(face, lf->lfFaceName, 32);
  return CreateFontA(lf->lfHeight, lf->lfWidth, lf->lfEscapement, lf->lfOrientation, lf->lfWeight, lf->lfItalic,
                     lf->lfUnderline, lf->lfStrikeOut, lf->lfCharSet, lf->lfOutPrecision, lf->lfClipPrecision,
                     lf->lfQuality, lf->lfPitchAndFamily, face);
}

namespace {
// Draws text with its cell's top-left at (x, y) (or as aligned), on the
// background colour when the mode is OPAQUE.
bool DrawTextAt(HDC h, int x, int y, const QString& t, const QRect* opaque, const QRect* clip) {
  return Paint(h, [&](QPainter& p, DCState& s) {
    ObjPtr f = FontObj(&s);
    p.setFont(f->font);
    const QFontMetrics m(f->font);
    const int w = m.horizontalAdvance(t);
    int left = x, top = y;
    if ((s.align & TA_CENTER) == TA_CENTER) left -= w / 2;
    else if (s.align & TA_RIGHT) left -= w;
    if ((s.align & TA_BASELINE) == TA_BASELINE) top -= m.ascent();
    else if (s.align & TA_BOTTOM) top -= m.height();
    if (clip) p.setClipRect(*clip, Qt::IntersectClip);
    if (opaque) p.fillRect(*opaque, Colour(s.bk));
    else if (s.bkMode == OPAQUE) p.fillRect(QRect(left, top, w, m.height()), Colour(s.bk));
    p.setPen(Colour(s.text));
    p.drawText(QPoint(left, top + m.ascent()), t);
  });
}
}  // namespace

BOOL TextOutA(HDC h, int x, int y, const char* s, int n) {
  if (!s || n < 0) return FALSE;
  return DrawTextAt(h, x, y, Text(s, n), nullptr, nullptr) ? TRUE : FALSE;
}

BOOL ExtTextOutA(HDC h, int x, int y, UINT options, const RECT* r, const char* s, UINT n, const int*) {
  if (!DC(h)) return FALSE;
  const QRect q = r ? QR(*r) : QRect();
  const QString t = s ? Text(s, static_cast<int>(n)) : QString();
  if (t.isEmpty()) {
    if ((options & ETO_OPAQUE) && r) {
      DCState* st = DC(h);
      return Paint(h, [&](QPainter& p, DCState&) { p.fillRect(q, Colour(st->bk)); }) ? TRUE : FALSE;
    }
    return TRUE;
  }
  return DrawTextAt(h, x, y, t, (options & ETO_OPAQUE) && r ? &q : nullptr, (options & ETO_CLIPPED) && r ? &q : nullptr)
             ? TRUE
             : FALSE;
}

int DrawTextA(HDC h, const char* s, int n, RECT* r, UINT format) {
  DCState* st = DC(h);
  if (!st || !r) return 0;
  QString t = Text(s, n);
  if (!(format & DT_NOPREFIX)) {
    t.replace(QLatin1String("&&"), QLatin1String("\x01"));
    t.remove(QLatin1Char('&'));
    t.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  }
  ObjPtr f = FontObj(st);
  const QFontMetrics m(f->font);
  int flags = 0;
  flags |= (format & DT_CENTER) ? Qt::AlignHCenter : (format & DT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
  if (format & DT_SINGLELINE) {
    flags |= (format & DT_VCENTER) ? Qt::AlignVCenter : (format & DT_BOTTOM) ? Qt::AlignBottom : Qt::AlignTop;
    flags |= Qt::TextSingleLine;
  } else {
    flags |= Qt::AlignTop;
  }
  if (format & DT_WORDBREAK) flags |= Qt::TextWordWrap;
  if (format & DT_EXPANDTABS) flags |= Qt::TextExpandTabs;
  const QRect box = QR(*r);
  if (format & DT_CALCRECT) {
    const QRect need = m.boundingRect(QRect(box.left(), box.top(), (format & DT_WORDBREAK) ? std::max(box.width(), 1) : 1 << 20, 1 << 20),
                                      flags & ~(Qt::AlignHCenter | Qt::AlignRight | Qt::AlignVCenter | Qt::AlignBottom), t);
    r->right = r->left + need.width();
    r->bottom = r->top + need.height();
    return need.height();
  }
  const QRect used = m.boundingRect(box, flags, t);
  Paint(h, [&](QPainter& p, DCState& s2) {
    p.setFont(f->font);
    if (!(format & DT_NOCLIP)) p.setClipRect(box, Qt::IntersectClip);
    if (s2.bkMode == OPAQUE) p.fillRect(used, Colour(s2.bk));
    p.setPen(Colour(s2.text));
    p.drawText(box, flags, t);
  });
  return used.height();
}

BOOL GetTextExtentPoint32A(HDC h, const char* s, int n, SIZE* out) {
  DCState* st = DC(h);
  if (!st || !out || n < 0) return FALSE;
  ObjPtr f = FontObj(st);
  const QFontMetrics m(f->font);
  out->cx = m.horizontalAdvance(Text(s, n));
  out->cy = m.height();
  return TRUE;
}

BOOL GetTextMetricsA(HDC h, TEXTMETRICA* tm) {
  DCState* st = DC(h);
  if (!st || !tm) return FALSE;
  ObjPtr f = FontObj(st);
  const QFontMetrics m(f->font);
  tm->tmHeight = m.height();
  tm->tmAscent = m.ascent();
  tm->tmDescent = m.descent();
  tm->tmInternalLeading = std::max(0, m.height() - f->font.pixelSize());
  tm->tmExternalLeading = m.leading();
  tm->tmAveCharWidth = m.averageCharWidth();
  tm->tmMaxCharWidth = m.maxWidth();
  tm->tmWeight = f->font.bold() ? FW_BOLD : FW_NORMAL;
  return TRUE;
}

// ---- MFC wrappers -----------------------------------------------------------

namespace {
struct TempWrappers {
  std::mutex m;
  std::map<HGDIOBJ, std::unique_ptr<CGdiObject>> objs;
  std::map<HDC, std::unique_ptr<CDC>> dcs;
};
TempWrappers& TW() {
  static TempWrappers* t = new TempWrappers;
  return *t;
}
}  // namespace

namespace win {
// Temporary wrappers never own their handle: detach before destroying.
void DropTemps(HGDIOBJ h) {
  std::unique_ptr<CGdiObject> obj;
  std::unique_ptr<CDC> dc;
  {
    std::lock_guard<std::mutex> g(TW().m);
    if (auto it = TW().objs.find(h); it != TW().objs.end()) {
      obj = std::move(it->second);
      TW().objs.erase(it);
    }
    if (auto it = TW().dcs.find(h); it != TW().dcs.end()) {
      dc = std::move(it->second);
      TW().dcs.erase(it);
    }
  }
  if (obj) obj->m_hObject = nullptr;
  if (dc) dc->m_hDC = dc->m_hAttribDC = nullptr;
}
}  // namespace win

CGdiObject::~CGdiObject() { DeleteObject(); }

BOOL CGdiObject::Attach(HGDIOBJ h) {
  if (m_hObject || !h) return FALSE;
  m_hObject = h;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ h = m_hObject;
  m_hObject = nullptr;
  return h;
}

BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  HGDIOBJ h = Detach();
  return ::DeleteObject(h);
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ h) {
  ObjPtr o = GetAny(h);
  if (!o) return nullptr;
  std::lock_guard<std::mutex> g(TW().m);
  auto& slot = TW().objs[h];
  if (!slot) {
    switch (o->kind) {
      case Kind::Bitmap: slot.reset(new CBitmap); break;
      case Kind::Brush: slot.reset(new CBrush); break;
      case Kind::Pen: slot.reset(new CPen); break;
      case Kind::Font: slot.reset(new CFont); break;
      case Kind::Region: slot.reset(new CRgn); break;
      default: slot.reset(new CGdiObject); break;
    }
    slot->m_hObject = h;
  }
  return slot.get();
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int w, int h) {
  return Attach(::CreateCompatibleBitmap(dc ? dc->m_hDC : nullptr, w, h));
}
BOOL CBitmap::CreateBitmap(int w, int h, UINT planes, UINT bits, const void* data) {
  return Attach(::CreateBitmap(w, h, planes, bits, data));
}
BOOL CBrush::CreateSolidBrush(COLORREF c) { return Attach(::CreateSolidBrush(c)); }
BOOL CPen::CreatePen(int style, int width, COLORREF c) { return Attach(::CreatePen(style, width, c)); }
BOOL CFont::CreateFont(int h, int w, int e, int o, int weight, BYTE i, BYTE u, BYTE s, BYTE cs, BYTE op, BYTE cp,
                       BYTE q, BYTE pf, const char* face) {
  return Attach(::CreateFontA(h, w, e, o, weight, i, u, s, cs, op, cp, q, pf, face));
}
BOOL CFont::CreateFontIndirect(const LOGFONTA* lf) { return Attach(::CreateFontIndirectA(lf)); }
BOOL CFont::CreatePointFont(int tenths, const char* face, CDC*) {
  // Points at 96 dpi.
  return Attach(::CreateFontA(-static_cast<int>(std::lround(tenths / 10.0 * 96.0 / 72.0)), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                              DEFAULT_CHARSET, 0, 0, 0, 0, face));
}
BOOL CRgn::CreateRectRgn(int l, int t, int r, int b) { return Attach(::CreateRectRgn(l, t, r, b)); }
BOOL CRgn::CreateEllipticRgn(int l, int t, int r, int b) { return Attach(::CreateEllipticRgn(l, t, r, b)); }
BOOL CRgn::CreateRoundRectRgn(int l, int t, int r, int b, int w, int h) {
  return Attach(::CreateRoundRectRgn(l, t, r, b, w, h));
}
int CRgn::CombineRgn(const CRgn* a, const CRgn* b, int mode) {
  return ::CombineRgn(m_hObject, a ? a->m_hObject : nullptr, b ? b->m_hObject : nullptr, mode);
}
int CRgn::CopyRgn(const CRgn* src) {
  if (!m_hObject && !CreateRectRgn(0, 0, 0, 0)) return ERROR;
  return ::CombineRgn(m_hObject, src ? src->m_hObject : nullptr, nullptr, RGN_COPY);
}

CDC::~CDC() {
  if (m_bOwnsHandle) DeleteDC();
}

BOOL CDC::Attach(HDC h) {
  if (m_hDC || !h) return FALSE;
  m_hDC = m_hAttribDC = h;
  m_bOwnsHandle = true;
  return TRUE;
}

HDC CDC::Detach() {
  HDC h = m_hDC;
  m_hDC = m_hAttribDC = nullptr;
  m_bOwnsHandle = false;
  return h;
}

BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  HDC h = Detach();
  if (WindowFromDC(h)) return ::ReleaseDC(WindowFromDC(h), h);
  return ::DeleteDC(h);
}

BOOL CDC::CreateCompatibleDC(CDC* dc) { return Attach(::CreateCompatibleDC(dc ? dc->m_hDC : nullptr)); }

CDC* CDC::FromHandle(HDC h) {
  if (!DC(h)) return nullptr;
  std::lock_guard<std::mutex> g(TW().m);
  auto& slot = TW().dcs[h];
  if (!slot) {
    slot.reset(new CDC);
    slot->m_hDC = slot->m_hAttribDC = h;
    slot->m_bPrinting = win::IsPrinting(h) ? TRUE : FALSE;
  }
  return slot.get();
}

CWnd* CDC::GetWindow() const { return CWnd::FromHandle(WindowFromDC(m_hDC)); }

CGdiObject* CDC::SelectObject(CGdiObject* obj) {
  if (!obj) return nullptr;
  return CGdiObject::FromHandle(::SelectObject(m_hDC, obj->m_hObject));
}

CGdiObject* CDC::SelectStockObject(int which) { return CGdiObject::FromHandle(::SelectObject(m_hDC, GetStockObject(which))); }

CFont* CDC::GetCurrentFont() const { return CFont::FromHandle(GetCurrentObject(m_hDC, 6)); }

void CDC::FillSolidRect(LPCRECT r, COLORREF c) {
  const COLORREF old = ::SetBkColor(m_hDC, c);
  ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, r, nullptr, 0, nullptr);
  ::SetBkColor(m_hDC, old);
}

void CDC::Draw3dRect(LPCRECT r, COLORREF tl, COLORREF br) {
  const CRect q(r);
  FillSolidRect(q.left, q.top, q.Width() - 1, 1, tl);
  FillSolidRect(q.left, q.top, 1, q.Height() - 1, tl);
  FillSolidRect(q.right - 1, q.top, 1, q.Height(), br);
  FillSolidRect(q.left, q.bottom - 1, q.Width(), 1, br);
}

void CDC::DrawFocusRect(LPCRECT r) {
  if (!r) return;
  const CRect q(r);
  Paint(m_hDC, [&](QPainter& p, DCState&) {
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    QPen pen(Qt::white);
    pen.setStyle(Qt::DotLine);
    p.setPen(pen);
    p.drawRect(QRect(q.left, q.top, q.Width() - 1, q.Height() - 1));
  });
}

BOOL CDC::TextOut(int x, int y, const char* s, int n) { return ::TextOutA(m_hDC, x, y, s, n); }
BOOL CDC::ExtTextOut(int x, int y, UINT o, LPCRECT r, const char* s, UINT n, const int* dx) {
  return ::ExtTextOutA(m_hDC, x, y, o, r, s, n, dx);
}
CSize CDC::TabbedTextOut(int x, int y, const char* s, int n, int, const int*, int) {
  std::string t(s ? s : "", s ? static_cast<size_t>(std::max(n, 0)) : 0);
  for (char& c : t)
    if (c == '\t') c = ' ';
  ::TextOutA(m_hDC, x, y, t.c_str(), static_cast<int>(t.size()));
  return GetTextExtent(t.c_str(), static_cast<int>(t.size()));
}
int CDC::DrawText(const char* s, int n, LPRECT r, UINT f) { return ::DrawTextA(m_hDC, s, n, r, f); }
int CDC::DrawTextEx(char* s, int n, LPRECT r, UINT f, void*) { return ::DrawTextA(m_hDC, s, n, r, f); }
BOOL CDC::GrayString(CBrush*, BOOL (*output)(HDC, LPARAM, int), LPARAM data, int n, int x, int y, int, int) {
  if (output) return output(m_hDC, data, n);
  const COLORREF old = ::SetTextColor(m_hDC, GetSysColor(COLOR_BTNSHADOW));
  const BOOL r = ::TextOutA(m_hDC, x, y, reinterpret_cast<const char*>(data), n);
  ::SetTextColor(m_hDC, old);
  return r;
}
int CDC::Escape(int, int, const char*, void*) { return 0; }
CSize CDC::GetTextExtent(const char* s, int n) const {
  SIZE sz{0, 0};
  ::GetTextExtentPoint32A(m_hDC, s, n, &sz);
  return sz;
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) {
  HDC h = ::BeginPaint(m_hWnd, &m_ps);
  m_hDC = m_hAttribDC = h;
}

CPaintDC::~CPaintDC() {
  if (m_hDC) ::EndPaint(m_hWnd, &m_ps);
  m_hDC = m_hAttribDC = nullptr;
}

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) { m_hDC = m_hAttribDC = ::GetDC(m_hWnd); }

CClientDC::~CClientDC() {
  if (m_hDC) ::ReleaseDC(m_hWnd, m_hDC);
  m_hDC = m_hAttribDC = nullptr;
}
