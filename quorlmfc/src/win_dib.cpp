#include "quorlmfc/win_dib.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace {

struct BlendTable {
  unsigned char t[256][256];
  BlendTable() {
    for (int i = 0; i < 256; ++i)
      for (int j = 0; j < 256; ++j) t[i][j] = static_cast<unsigned char>((i * j) >> 8);
  }
};

// Filled once, thread-safely, by the first user.
const BlendTable& Table() {
  static const BlendTable table;
  return table;
}

constexpr int kOne = 65536;

int Fixed(float v) {
  // 16.16, truncated toward zero; clipped coordinates stay far inside int.
  const double f = static_cast<double>(v) * kOne;
  return static_cast<int>(std::clamp(f, -2.0e9, 2.0e9));
}

int Index(int coverage) { return std::clamp(coverage, 0, 255); }

}  // namespace

winDIB::winDIB(CDC& dc) : dc_(&dc) {
  info_.header.biSize = 40;
  info_.header.biPlanes = 1;
  info_.header.biBitCount = 0;
  info_.header.biXPelsPerMeter = 72;
  info_.header.biYPelsPerMeter = 72;
  Table();
}

winDIB::winDIB(const winDIB& o)
    : src_(o.src_), dst_(o.dst_), dc_(o.dc_), buffer_(o.buffer_), zBuffer_(o.zBuffer_), info_(o.info_) {}

const unsigned char (&winDIB::blendTable())[256][256] { return Table().t; }

unsigned short winDIB::depth(unsigned short bits) {
  BITMAPINFOHEADER& h = info_.header;
  // Image sizes come from the positive height; rows are taken unpadded.
  const std::uint64_t pixels = static_cast<std::uint64_t>(std::max<long>(width(), 0)) *
                               static_cast<std::uint64_t>(std::max<long>(height(), 0));
  auto size = [&](unsigned bytes) { return static_cast<DWORD>(std::min<std::uint64_t>(pixels * bytes, 0xFFFFFFFFu)); };
  auto bitfields = [&](std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    h.biCompression = BI_BITFIELDS;
    h.biBitCount = 16;
    info_.masks[0] = red;
    info_.masks[1] = green;
    info_.masks[2] = blue;
    h.biSizeImage = size(2);
  };
  auto rgb = [&](WORD count) {
    h.biCompression = BI_RGB;
    h.biBitCount = count;
    h.biSizeImage = size(count / 8u);
  };
  switch (bits) {
    case 15: bitfields(0x7C00, 0x03E0, 0x001F); break;
    case 16: bitfields(0xF800, 0x07E0, 0x001F); break;
    case 24: rgb(24); break;
    case 32: rgb(32); break;
    case 8: h.biSizeImage = size(1); break;
    default:
      h.biBitCount = 0;
      h.biSizeImage = 0;
      break;
  }
  return h.biBitCount;
}

unsigned char* winDIB::frameBuffer(unsigned char* pixels, float* z, long w, long h, unsigned short bits) {
  buffer_ = pixels;
  zBuffer_ = z;
  info_.header.biWidth = static_cast<LONG>(w);
  info_.header.biHeight = -static_cast<LONG>(h < 0 ? -h : h);
  if (bits) depth(bits);
  return buffer_;
}

bool winDIB::isInitialized() const {
  return dc_ && dc_->GetSafeHdc() && buffer_ && info_.header.biSizeImage && info_.header.biBitCount;
}

bool winDIB::RowsNeedPadding() const {
  // The DIB calls read rows padded to 4 bytes; the buffer's rows are not.
  const long rowBytes = width() * info_.header.biBitCount / 8;
  return info_.header.biBitCount != 32 && rowBytes % 4 != 0;
}

int winDIB::copyToDisplay() {
  if (!isInitialized() || RowsNeedPadding()) return 0;
  return ::SetDIBitsToDevice(dc_->GetSafeHdc(), dst_.left, dst_.top, static_cast<DWORD>(std::max(dst_.Width(), 0)),
                             static_cast<DWORD>(std::max(dst_.Height(), 0)), src_.left, src_.top, 0,
                             static_cast<UINT>(std::max(dst_.Height(), 0)), buffer_, info(), DIB_RGB_COLORS);
}

int winDIB::stretchToDisplay() {
  if (!isInitialized() || RowsNeedPadding()) return 0;
  return ::StretchDIBits(dc_->GetSafeHdc(), dst_.left, dst_.top, dst_.Width(), dst_.Height(), src_.left, src_.top,
                         src_.Width(), src_.Height(), buffer_, info(), DIB_RGB_COLORS, SRCCOPY);
}

CRect winDIB::ClipRect() const {
  if (!buffer_) return src_;
  CRect r;
  const CRect all(0, 0, static_cast<int>(width()), static_cast<int>(height()));
  r.IntersectRect(&src_, &all);
  return r;
}

bool winDIB::clipLine(float& x0, float& y0, float& x1, float& y1) const {
  const CRect c = ClipRect();
  const float L = static_cast<float>(c.left), T = static_cast<float>(c.top);
  const float R = static_cast<float>(c.right), B = static_cast<float>(c.bottom);
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return false;
  if (y0 > y1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  if (T > y1 || y0 >= B - 2) return false;
  if (y0 < T) {
    x0 += (T - y0) / (y1 - y0) * (x1 - x0);
    y0 = T;
  }
  if (y1 > B - 2) {
    x1 -= (y1 - (B - 2)) / (y1 - y0) * (x1 - x0);
    y1 = B - 3;
  }
  if (x0 > x1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  if (L > x1 || x0 > R - 2) return false;
  if (x0 < L) {
    y0 += (L - x0) / (x1 - x0) * (y1 - y0);
    x0 = L;
  }
  if (x1 > R - 2) {
    y1 -= (x1 - (R - 2)) / (x1 - x0) * (y1 - y0);
    x1 = R - 2;
  }
  return true;
}

void winDIB::Plot(int x, int y, const CRect& clip, std::uint32_t rgb, unsigned alpha) {
  if (!clip.PtInRect(CPoint(x, y))) return;
  auto* px = reinterpret_cast<std::uint32_t*>(buffer_) + static_cast<std::ptrdiff_t>(y) * width() + x;
  *px = blend(*px, rgb, std::min(alpha, 255u));
}

std::uint32_t winDIB::blend(std::uint32_t d, std::uint32_t s, unsigned a) {
  const std::uint32_t b = 255 - a;
  const std::uint32_t rb = (((d & 0xFF00FF) * b + (s & 0xFF00FF) * a) >> 8) & 0xFF00FF;
  const std::uint32_t g = (((d & 0x00FF00) * b + (s & 0x00FF00) * a) >> 8) & 0x00FF00;
  return (a << 24) | rb | g;
}

void winDIB::line(float x0, float y0, float x1, float y1, unsigned colour) {
  if (!buffer_ || !clipLine(x0, y0, x1, y1)) return;
  const CRect clip = ClipRect();
  int fx0 = Fixed(x0), fy0 = Fixed(y0), fx1 = Fixed(x1), fy1 = Fixed(y1);
  if (fy0 > fy1) {
    std::swap(fx0, fx1);
    std::swap(fy0, fy1);
  }
  const int step = fx0 < fx1 ? 1 : -1;
  const int dx = std::abs(fx1 - fx0), dy = fy1 - fy0;
  int x = fx0 >> 16, y = fy0 >> 16;
  auto* pixels = reinterpret_cast<std::uint32_t*>(buffer_);
  auto put = [&] {
    if (clip.PtInRect(CPoint(x, y))) pixels[static_cast<std::ptrdiff_t>(y) * width() + x] = colour;
  };
  if (dy < dx) {
    if (dx < kOne) return;
    const int slope = static_cast<int>(static_cast<double>(dy) / dx * kOne);
    int err = fy0 & 0xFFFF;
    for (int i = 0, n = dx >> 16; i < n; ++i) {
      if (err > kOne) {
        ++y;
        err -= kOne;
      }
      put();
      x += step;
      err += slope;
    }
  } else {
    if (dy < kOne) return;
    const int slope = static_cast<int>(static_cast<double>(dx) / dy * kOne);
    int err = fx0 & 0xFFFF;
    if (step < 0) err = kOne - err;
    for (int i = 0, n = dy >> 16; i < n; ++i) {
      int e = err;
      if (err > kOne) {
        x += step;
        e = err - kOne;
      }
      put();
      ++y;
      err = slope + e;
    }
  }
}

void winDIB::aaLine(float x0, float y0, float x1, float y1, unsigned colour) {
  if (!buffer_ || !clipLine(x0, y0, x1, y1)) return;
  const CRect clip = ClipRect();
  const auto& table = Table().t;
  int fx0 = Fixed(x0), fy0 = Fixed(y0), fx1 = Fixed(x1), fy1 = Fixed(y1);
  if (fy0 > fy1) {
    std::swap(fx0, fx1);
    std::swap(fy0, fy1);
  }
  const unsigned alpha = colour >> 24;
  const std::uint32_t rgb = colour & 0xFFFFFF;
  const int dx = std::abs(fx1 - fx0), dy = fy1 - fy0;
  auto shade = [&](int x, int y, int coverage) {
    Plot(x, y, clip, rgb, (static_cast<unsigned>(std::clamp(coverage, 0, 256)) * alpha) >> 8);
  };
  if (dy < dx) {
    if (dx < kOne) return;
    const int step = fx0 < fx1 ? 1 : -1;
    const int slope = static_cast<int>(static_cast<double>(dy) / dx * kOne);
    int x = fx0 >> 16;
    std::int64_t minor = fy0;
    // The end pixels fade with both start fractions; indices stay in the table.
    const int fxc = Index((kOne - (fx0 & 0xFFFF)) >> 8), fy = fy0 & 0xFFFF;
    shade(x, static_cast<int>(minor >> 16), table[fxc][Index((kOne - fy) >> 8)]);
    shade(x, static_cast<int>(minor >> 16) + 1, table[fxc][Index(fy >> 8)]);
    for (int i = 1, n = dx >> 16; i < n; ++i) {
      x += step;
      minor += slope;
      const int f = static_cast<int>(minor & 0xFFFF);
      const int y = static_cast<int>(minor >> 16);
      shade(x, y, (kOne - f) >> 8);
      shade(x, y + 1, f >> 8);
    }
  } else {
    if (dy < kOne) return;
    const int sign = fx0 < fx1 ? 1 : -1;
    const int slope = static_cast<int>(static_cast<double>(dx) / dy * kOne) * sign;
    int y = fy0 >> 16;
    std::int64_t minor = fx0;
    const int fyc = Index((kOne - (fy0 & 0xFFFF)) >> 8), fx = fx0 & 0xFFFF;
    shade(static_cast<int>(minor >> 16), y, table[fyc][Index((kOne - fx) >> 8)]);
    shade(static_cast<int>(minor >> 16) + 1, y, table[fyc][Index(fx >> 8)]);
    for (int i = 1, n = dy >> 16; i < n; ++i) {
      ++y;
      minor += slope;
      const int f = static_cast<int>(minor & 0xFFFF);
      const int x = static_cast<int>(minor >> 16);
      shade(x, y, (kOne - f) >> 8);
      shade(x + 1, y, f >> 8);
    }
  }
}

void winDIB::fillRect(int x0, int y0, int x1, int y1, unsigned colour) {
  if (!buffer_) return;
  const int w = static_cast<int>(width()), h = static_cast<int>(height());
  if (x0 >= w || x1 < 0 || y0 >= h || y1 < 0) return;
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, w - 1);
  y1 = std::min(y1, h - 1);
  if (x1 < x0 || y1 < y0) return;
  auto* pixels = reinterpret_cast<std::uint32_t*>(buffer_);
  const unsigned a = colour >> 24;
  for (int y = y0; y <= y1; ++y) {
    std::uint32_t* row = pixels + static_cast<std::ptrdiff_t>(y) * w;
    if (a == 255) {
      std::fill(row + x0, row + x1 + 1, colour);
      continue;
    }
    // A translucent fill leaves alpha 0, as the original does. The colour's
    // share is the same for every pixel.
    const std::uint32_t b = 255 - a, srb = (colour & 0xFF00FF) * a, sg = (colour & 0x00FF00) * a;
    for (int x = x0; x <= x1; ++x) {
      const std::uint32_t d = row[x];
      row[x] = ((((d & 0xFF00FF) * b + srb) >> 8) & 0xFF00FF) | ((((d & 0x00FF00) * b + sg) >> 8) & 0x00FF00);
    }
  }
}
