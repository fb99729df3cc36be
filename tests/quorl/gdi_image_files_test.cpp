#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MVG/gdi_image_files.h"
#include "gdiplus/gdiplus.h"
#include "gdiplus/qt_bridge.h"

namespace {

namespace fs = std::filesystem;
using Gdiplus::Bitmap;

// A loaded image and its buffer, freed as the loader's contract says.
struct Loaded {
  Bitmap* bitmap = nullptr;
  unsigned char* pixels = nullptr;
  int width = -1, height = -1, stride = -1;
  ~Loaded() {
    delete bitmap;
    delete[] pixels;
  }
  int At(int x, int y, int c) const { return pixels[y * stride + x * (Bpp()) + c]; }
  int Bpp() const { return bitmap->GetPixelFormat() == PixelFormat32bppARGB ? 4 : 3; }
};

std::unique_ptr<Loaded> Load(const std::string& path) {
  auto l = std::make_unique<Loaded>();
  l->bitmap = GDI::LoadBitmapA(path.c_str(), &l->pixels, l->width, l->height, l->stride);
  return l;
}

class GdiImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quorl-gdi-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string File(const std::string& name) const { return (dir_ / name).string(); }

  // Writes a Qt image with Qt's own writer, independent of the code under test.
  std::string WriteQt(const QImage& image, const char* name, const char* format) const {
    const std::string path = File(name);
    QImageWriter writer(QString::fromStdString(path), format);
    EXPECT_TRUE(writer.write(image)) << name << ": " << writer.errorString().toStdString();
    return path;
  }

  fs::path dir_;
};

TEST(GdiEncoders, MimeByExactExtension) {
  struct Case {
    const char* extension;
    const char* mime;
  } cases[] = {{"tif", "image/tiff"}, {"jpg", "image/jpeg"}, {"bmp", "image/bmp"},
               {"png", "image/png"},  {"gif", "image/gif"},  {"PNG", nullptr},
               {"jpeg", nullptr},     {"tiff", nullptr},     {"", nullptr},
               {nullptr, nullptr}};
  for (const Case& c : cases) {
    const char* got = GDI::GetEncoderMime(c.extension);
    if (c.mime)
      EXPECT_STREQ(got, c.mime) << c.extension;
    else
      EXPECT_EQ(got, nullptr) << (c.extension ? c.extension : "(null)");
  }
}

TEST(GdiEncoders, ClsidIsTheIndexInTheEncoderList) {
  UINT n = 0, size = 0;
  ASSERT_EQ(Gdiplus::GetImageEncodersSize(&n, &size), Gdiplus::Ok);
  std::vector<Gdiplus::ImageCodecInfo> list(n);
  ASSERT_EQ(Gdiplus::GetImageEncoders(n, size, list.data()), Gdiplus::Ok);
  for (const char* mime : {"image/bmp", "image/jpeg", "image/gif", "image/tiff", "image/png"}) {
    GUID clsid = GUID_NULL;
    const int index = GDI::GetEncoderClsid(mime, &clsid);
    ASSERT_GE(index, 0) << mime;
    ASSERT_LT(index, static_cast<int>(n));
    EXPECT_EQ(QString::fromWCharArray(list[index].MimeType).toStdString(), mime);
    EXPECT_EQ(clsid, list[index].Clsid) << mime;
  }
  const GUID sentinel = {0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  for (const char* mime : {"image/webp", "", static_cast<const char*>(nullptr)}) {
    GUID clsid = sentinel;
    EXPECT_EQ(GDI::GetEncoderClsid(mime, &clsid), -1) << (mime ? mime : "(null)");
    EXPECT_EQ(clsid, sentinel);
  }
}

TEST(GdiHitTest, EdgesInclusive) {
  RECT r = {10, 20, 30, 50};
  Gdiplus::RectF f = GDI::GetRectF(&r);
  EXPECT_EQ(f.X, 10.0f);
  EXPECT_EQ(f.Y, 20.0f);
  EXPECT_EQ(f.Width, 20.0f);
  EXPECT_EQ(f.Height, 30.0f);
  struct Case {
    int x, y;
    bool in;
  } cases[] = {{10, 20, true}, {30, 20, true}, {10, 50, true}, {30, 50, true}, {20, 35, true},
               {9, 35, false}, {31, 35, false}, {20, 19, false}, {20, 51, false}, {31, 51, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(GDI::IsPointInRect(c.x, c.y, &r), c.in) << c.x << "," << c.y;
    EXPECT_EQ(GDI::IsPointInRect(c.x, c.y, &f), c.in) << c.x << "," << c.y;
  }
  Gdiplus::RectF frac(10.5f, 20.25f, 2.0f, 3.5f);  // x 10.5..12.5, y 20.25..23.75
  EXPECT_FALSE(GDI::IsPointInRect(10, 21, &frac));
  EXPECT_TRUE(GDI::IsPointInRect(11, 21, &frac));
  EXPECT_TRUE(GDI::IsPointInRect(12, 23, &frac));
  EXPECT_FALSE(GDI::IsPointInRect(13, 23, &frac));
  EXPECT_FALSE(GDI::IsPointInRect(12, 24, &frac));
  EXPECT_FALSE(GDI::IsPointInRect(12, 20, &frac));
  EXPECT_FALSE(GDI::IsPointInRect(0, 0, static_cast<RECT*>(nullptr)));
}

// 91 x 7 at 24 bits: rows of 273 bytes padded to 276, as an IplImage holds them.
constexpr int kW = 91, kH = 7, kStride = 276;

// Exact formats get 200 distinct colours in fine detail; jpeg a smooth gradient.
std::vector<unsigned char> TestImage(bool smooth) {
  std::vector<unsigned char> px(kStride * kH, 0xCD);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      unsigned char* p = &px[y * kStride + x * 3];
      const int k = (x * 7 + y * 31) % 200;
      if (smooth) {
        p[0] = static_cast<unsigned char>(40 + x);
        p[1] = static_cast<unsigned char>(60 + 8 * y);
        p[2] = static_cast<unsigned char>(200 - x);
      } else {
        p[0] = static_cast<unsigned char>(k);
        p[1] = static_cast<unsigned char>((k * 37) % 256);
        p[2] = static_cast<unsigned char>(255 - k);
      }
    }
  return px;
}

TEST_F(GdiImageFiles, RoundTripsEveryFormat) {
  struct Case {
    const char* extension;
    bool smooth;
    int tolerance;
  } cases[] = {{"bmp", false, 0}, {"png", false, 0}, {"tif", false, 0}, {"gif", false, 0}, {"jpg", true, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension);
    std::vector<unsigned char> px = TestImage(c.smooth);
    Bitmap source(kW, kH, kStride, PixelFormat24bppRGB, px.data());
    const std::string path = File(std::string("rt.") + c.extension);
    // tif needs Qt's TIFF plugin (qt6-image-formats-plugins) at run time.
    ASSERT_EQ(GDI::SaveImage(path.c_str(), &source, c.extension), 0)
        << "tif is written by Qt's TIFF plugin, from the package qt6-image-formats-plugins";
    auto l = Load(path);
    ASSERT_NE(l->bitmap, nullptr);
    ASSERT_EQ(l->bitmap->GetLastStatus(), Gdiplus::Ok);
    EXPECT_EQ(l->bitmap->GetPixelFormat(), PixelFormat24bppRGB);
    ASSERT_EQ(l->width, kW);
    ASSERT_EQ(l->height, kH);
    EXPECT_GE(l->stride, 3 * kW);
    EXPECT_EQ(l->stride % 4, 0);
    int worst = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int ch = 0; ch < 3; ++ch) worst = std::max(worst, std::abs(l->At(x, y, ch) - px[y * kStride + x * 3 + ch]));
    EXPECT_LE(worst, c.tolerance);
  }
}

TEST_F(GdiImageFiles, GifOfManyColoursComesBackClose) {
  std::vector<unsigned char> px(kStride * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      px[y * kStride + x * 3 + 0] = static_cast<unsigned char>(x * 2);
      px[y * kStride + x * 3 + 1] = static_cast<unsigned char>(y * 30);
      px[y * kStride + x * 3 + 2] = 90;
    }
  Bitmap source(kW, kH, kStride, PixelFormat24bppRGB, px.data());
  ASSERT_EQ(GDI::SaveImage(File("many.gif").c_str(), &source, "gif"), 0);
  auto l = Load(File("many.gif"));
  ASSERT_EQ(l->width, kW);
  double sum = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int ch = 0; ch < 3; ++ch) sum += std::abs(l->At(x, y, ch) - px[y * kStride + x * 3 + ch]);
  EXPECT_LT(sum / (kW * kH * 3), 12.0);
}

TEST_F(GdiImageFiles, HandsOutTwoFormatsOnly) {
  QImage alpha(3, 2, QImage::Format_ARGB32);
  alpha.fill(qRgba(200, 200, 200, 128));
  QImage grey(3, 2, QImage::Format_Grayscale8);
  grey.fill(77);
  QImage paletted(3, 2, QImage::Format_Indexed8);
  paletted.setColorTable({qRgb(10, 20, 30), qRgb(200, 150, 100)});
  paletted.fill(1);
  QImage deep(3, 2, QImage::Format_RGBX64);
  deep.fill(QColor::fromRgba64(QRgba64::fromRgba64(180 * 257, 90 * 257, 45 * 257, 65535)));

  struct Case {
    std::string path;
    Gdiplus::PixelFormat format;
    int b, g, r, a;
  } cases[] = {
      {WriteQt(alpha, "alpha.png", "png"), PixelFormat32bppARGB, 200, 200, 200, 128},
      {WriteQt(alpha, "alpha.tif", "tiff"), PixelFormat32bppARGB, 200, 200, 200, 128},
      {WriteQt(grey, "grey.png", "png"), PixelFormat24bppRGB, 77, 77, 77, -1},
      {WriteQt(paletted, "pal.png", "png"), PixelFormat24bppRGB, 100, 150, 200, -1},
      {WriteQt(deep, "deep.png", "png"), PixelFormat24bppRGB, 45, 90, 180, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto l = Load(c.path);
    ASSERT_EQ(l->bitmap->GetLastStatus(), Gdiplus::Ok);
    ASSERT_EQ(l->bitmap->GetPixelFormat(), c.format);
    EXPECT_EQ(l->stride % 4, 0);
    // Not premultiplied: 200 at alpha 128 stays 200 (premultiplied is 100).
    EXPECT_NEAR(l->At(2, 1, 0), c.b, 1);
    EXPECT_NEAR(l->At(2, 1, 1), c.g, 1);
    EXPECT_NEAR(l->At(2, 1, 2), c.r, 1);
    if (c.a >= 0) {
      EXPECT_EQ(l->At(2, 1, 3), c.a);
    }
  }
}

TEST_F(GdiImageFiles, GifTransparentColourLoadsAsAlphaZero) {
  std::vector<unsigned char> px = {10, 20, 30, 255, 0, 0, 0, 0};  // opaque, transparent
  Bitmap source(2, 1, 8, PixelFormat32bppARGB, px.data());
  ASSERT_EQ(GDI::SaveImage(File("t.gif").c_str(), &source, "gif"), 0);
  auto l = Load(File("t.gif"));
  ASSERT_EQ(l->bitmap->GetPixelFormat(), PixelFormat32bppARGB);
  EXPECT_EQ(l->At(0, 0, 3), 255);
  EXPECT_EQ(l->At(0, 0, 0), 10);
  EXPECT_EQ(l->At(1, 0, 3), 0);
}

TEST_F(GdiImageFiles, FillsALargeEnoughCallerBuffer) {
  std::vector<unsigned char> px = TestImage(false);
  Bitmap source(kW, kH, kStride, PixelFormat24bppRGB, px.data());
  ASSERT_EQ(GDI::SaveImage(File("c.png").c_str(), &source, "png"), 0);

  auto* buffer = new unsigned char[kStride * kH];
  unsigned char* pixels = buffer;
  int w = kW, h = kH, s = kStride;
  Bitmap* b = GDI::LoadBitmapA(File("c.png").c_str(), &pixels, w, h, s);
  ASSERT_EQ(b->GetLastStatus(), Gdiplus::Ok);
  EXPECT_EQ(pixels, buffer);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);
  Gdiplus::BitmapData data;
  ASSERT_EQ(b->LockBits(nullptr, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &data), Gdiplus::Ok);
  EXPECT_EQ(data.Scan0, buffer);
  EXPECT_EQ(data.Stride, s);
  b->UnlockBits(&data);
  EXPECT_EQ(std::memcmp(buffer + kStride * 3, px.data() + kStride * 3, kW * 3), 0);
  delete b;
  delete[] buffer;
}

TEST_F(GdiImageFiles, RefusesASmallCallerBufferUntouched) {
  std::vector<unsigned char> px = TestImage(false);
  Bitmap source(kW, kH, kStride, PixelFormat24bppRGB, px.data());
  ASSERT_EQ(GDI::SaveImage(File("c.bmp").c_str(), &source, "bmp"), 0);
  struct Case {
    int w, h, s;
  } cases[] = {{kW, kH - 1, kStride}, {kW - 1, kH, kStride}, {kW, kH, kStride - 4}, {0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " stride " << c.s);
    // Exactly the described size on the heap, then guard bytes: ASan reports
    // any write past the described buffer.
    const size_t bytes = static_cast<size_t>(c.s) * c.h;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[bytes + 16]);
    std::memset(buffer.get(), 0xA5, bytes + 16);
    unsigned char* pixels = buffer.get();
    int w = c.w, h = c.h, s = c.s;
    Bitmap* b = GDI::LoadBitmapA(File("c.bmp").c_str(), &pixels, w, h, s);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b->GetLastStatus(), Gdiplus::Ok);
    EXPECT_EQ(b->GetWidth(), 0u);
    EXPECT_EQ(pixels, buffer.get());
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(s, 0);
    EXPECT_TRUE(std::all_of(buffer.get(), buffer.get() + bytes + 16, [](unsigned char v) { return v == 0xA5; }));
    delete b;
  }
}

TEST_F(GdiImageFiles, BadInputGivesAnErrorAndNoBuffer) {
  {
    std::FILE* f = std::fopen(File("garbage.png").c_str(), "wb");
    std::fputs("this is not an image at all", f);
    std::fclose(f);
  }
  {
    std::vector<unsigned char> px = TestImage(false);
    Bitmap source(kW, kH, kStride, PixelFormat24bppRGB, px.data());
    ASSERT_EQ(GDI::SaveImage(File("whole.png").c_str(), &source, "png"), 0);
    const auto size = fs::file_size(File("whole.png"));
    fs::copy_file(File("whole.png"), File("cut.png"));
    fs::resize_file(File("cut.png"), size / 2);
  }
  for (const std::string& path : {File("missing.png"), File("garbage.png"), File("cut.png"), std::string()}) {
    SCOPED_TRACE(path);
    auto l = Load(path);
    ASSERT_NE(l->bitmap, nullptr);
    EXPECT_NE(l->bitmap->GetLastStatus(), Gdiplus::Ok);
    EXPECT_EQ(l->pixels, nullptr);
    EXPECT_EQ(l->width, 0);
    EXPECT_EQ(l->height, 0);
    EXPECT_EQ(l->stride, 0);
  }
  int w = 0, h = 0, s = 0;
  Bitmap* b = GDI::LoadBitmapA(nullptr, nullptr, w, h, s);
  EXPECT_NE(b->GetLastStatus(), Gdiplus::Ok);
  delete b;
}

// 216 colours in blocks (GIF keeps them exactly), with fine detail inside
// each block so that every format's data runs through the whole file.
QImage Blocks() {
  QImage image(160, 120, QImage::Format_RGB888);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, qRgb(51 * ((x / 8 + y / 16) % 6), 51 * ((x / 16 + 2 * (y / 8)) % 6), 51 * ((x / 4 + y / 4) % 6)));
  return image;
}

QByteArray WriteWithQt(const QImage& image, const char* format, bool progressive = false) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setProgressiveScanWrite(progressive);
  EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
  return bytes;
}

void Put16(QByteArray& b, unsigned v) { b.append(static_cast<char>(v & 0xFF)).append(static_cast<char>(v >> 8 & 0xFF)); }
void Put32(QByteArray& b, unsigned v) { Put16(b, v & 0xFFFF); Put16(b, v >> 16); }

// As many other writers lay a TIFF out (Qt puts the directory last): the
// directory first, then the pixels in strips of 10 rows, uncompressed.
QByteArray TiffWithStripsLast(const QImage& image) {
  const unsigned w = image.width(), h = image.height(), rows = 10, strips = (h + rows - 1) / rows;
  const unsigned entries = 10, directoryEnd = 8 + 2 + entries * 12 + 4;
  const unsigned bitsAt = directoryEnd, offsetsAt = bitsAt + 6, countsAt = offsetsAt + 4 * strips,
                 pixelsAt = countsAt + 4 * strips;
  QByteArray b("II*\0", 4);
  Put32(b, 8);
  Put16(b, entries);
  auto entry = [&](unsigned tag, unsigned type, unsigned count, unsigned value) {
    Put16(b, tag);
    Put16(b, type);
    Put32(b, count);
    Put32(b, value);  // a single short sits in the low half (little-endian)
  };
  entry(256, 3, 1, w);
  entry(257, 3, 1, h);
  entry(258, 3, 3, bitsAt);
  entry(259, 3, 1, 1);  // no compression
  entry(262, 3, 1, 2);  // RGB
  entry(273, 4, strips, offsetsAt);
  entry(277, 3, 1, 3);
  entry(278, 3, 1, rows);
  entry(279, 4, strips, countsAt);
  entry(284, 3, 1, 1);  // samples interleaved
  Put32(b, 0);
  for (int i = 0; i < 3; ++i) Put16(b, 8);
  for (unsigned s = 0; s < strips; ++s) Put32(b, pixelsAt + s * rows * w * 3);
  for (unsigned s = 0; s < strips; ++s) Put32(b, std::min(rows, h - s * rows) * w * 3);
  for (unsigned y = 0; y < h; ++y) b.append(reinterpret_cast<const char*>(image.constScanLine(y)), w * 3);
  return b;
}

// A run-length BMP (Qt writes none) of 8 x 4 pixels in four colours: per row
// a run, an absolute stretch of an odd length (padded to a word), the end of
// the line; the end of the bitmap after the last row.
QByteArray RunLengthBmp() {
  QByteArray data;
  for (int y = 0; y < 4; ++y) {
    data.append("\x05", 1).append(static_cast<char>(y));
    data.append("\0\x03", 2).append(static_cast<char>((y + 1) % 4)).append(static_cast<char>((y + 2) % 4));
    data.append(static_cast<char>((y + 3) % 4)).append("\0", 1);
    data.append(y < 3 ? QByteArray("\0\0", 2) : QByteArray("\0\x01", 2));
  }
  const unsigned pixelsAt = 14 + 40 + 4 * 4;
  QByteArray b("BM");
  Put32(b, pixelsAt + data.size());
  Put32(b, 0);
  Put32(b, pixelsAt);
  for (unsigned v : {40u, 8u, 4u}) Put32(b, v);
  Put16(b, 1);
  Put16(b, 8);
  for (unsigned v : {1u, static_cast<unsigned>(data.size()), 2835u, 2835u, 4u, 4u}) Put32(b, v);  // RLE8
  for (unsigned c : {0x000000u, 0xFF0000u, 0x00FF00u, 0x0000FFu}) Put32(b, c);
  return b + data;
}

// Where the first image's data begins (after the descriptor, the code size
// and the first block's length), for a GIF with a global palette only.
qsizetype GifFirstData(const QByteArray& gif) {
  const int flags = static_cast<unsigned char>(gif[10]);
  qsizetype at = 13 + ((flags & 0x80) ? qsizetype(3) << ((flags & 7) + 1) : 0);
  while (gif[at] == '\x21') {  // extensions: label, then blocks
    at += 2;
    while (gif[at] != 0) at += 1 + static_cast<unsigned char>(gif[at]);
    ++at;
  }
  EXPECT_EQ(gif[at], '\x2C');
  return at + 10 + 2;
}

// Where the first scan's coded data begins in a JPEG.
qsizetype JpegScanData(const QByteArray& jpeg) {
  const qsizetype sos = jpeg.indexOf("\xFF\xDA");
  EXPECT_GT(sos, 0);
  return sos + 2 + (static_cast<unsigned char>(jpeg[sos + 2]) << 8 | static_cast<unsigned char>(jpeg[sos + 3]));
}

QByteArray Overwritten(QByteArray bytes, qsizetype at, const QByteArray& with) {
  return bytes.replace(at, with.size(), with);
}

// A file cut short, wherever the cut falls, or whose data its decoder finds
// damaged, is refused like a file that is no image, never handed out with
// the missing part made up; the same formats whole, or with bytes after
// their end, load.
TEST_F(GdiImageFiles, FilesCutShortOrDamagedAreRefusedWholeOnesLoad) {
  const QImage image = Blocks();
  QByteArray gif;
  ASSERT_TRUE(gdiplus::EncodeImage(image, gdiplus::EncoderKind::Gif, &gif));
  const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
  const QByteArray jpeg = WriteWithQt(image, "jpeg");
  const QByteArray png = WriteWithQt(image, "png");
  const QByteArray tiff = TiffWithStripsLast(image);
  const QByteArray bmp = WriteWithQt(image, "bmp");
  struct Case {
    const char* name;
    QByteArray bytes;
    // Mean difference from the image that was written; -1: not compared. A
    // JPEG of hard-edged colour blocks at quality 75 with halved chroma is
    // about 12 off; a channel out of place would be some 80.
    double tolerance;
  } whole[] = {
      {"24 bit.bmp", bmp, 0},
      {"run-length.bmp", RunLengthBmp(), -1},
      {"qt.png", png, 0},
      {"directory last.tif", WriteWithQt(image, "tiff"), 0},
      {"strips last.tif", tiff, 0},
      {"baseline.jpg", jpeg, 16},
      {"progressive.jpg", WriteWithQt(image, "jpeg", true), 16},
      {"grey.jpg", WriteWithQt(grey, "jpeg"), -1},
      {"first frame.gif", gif, 0},
  };
  for (const Case& c : whole) {
    SCOPED_TRACE(c.name);
    // Bytes after the end change nothing.
    for (const QByteArray& tail : {QByteArray(), QByteArray(7, '\x55')}) {
      const std::string path = File(c.name);
      QFile out(QString::fromStdString(path));
      ASSERT_TRUE(out.open(QIODevice::WriteOnly));
      out.write(c.bytes + tail);
      out.close();
      auto l = Load(path);
      ASSERT_EQ(l->bitmap->GetLastStatus(), Gdiplus::Ok) << "tail " << tail.size();
      if (c.tolerance < 0) continue;
      ASSERT_EQ(l->width, image.width());
      ASSERT_EQ(l->height, image.height());
      double sum = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
          const QRgb p = image.pixel(x, y);
          sum += std::abs(l->At(x, y, 0) - qBlue(p)) + std::abs(l->At(x, y, 1) - qGreen(p)) +
                 std::abs(l->At(x, y, 2) - qRed(p));
        }
      EXPECT_LE(sum / (3.0 * image.width() * image.height()), c.tolerance);
    }

    // Cut anywhere: in the header, in the pixels, just before the end.
    const qsizetype n = c.bytes.size();
    for (const qsizetype length : {n / 10, n / 2, n * 9 / 10, n - 2, n - 1}) {
      SCOPED_TRACE(testing::Message() << "cut to " << length << " of " << n);
      const std::string path = File(std::string("cut ") + c.name);
      QFile out(QString::fromStdString(path));
      ASSERT_TRUE(out.open(QIODevice::WriteOnly));
      out.write(c.bytes.left(length));
      out.close();
      auto l = Load(path);
      EXPECT_NE(l->bitmap->GetLastStatus(), Gdiplus::Ok);
      EXPECT_EQ(l->pixels, nullptr);
      EXPECT_EQ(l->width, 0);
      EXPECT_EQ(l->height, 0);
    }
  }

  // Whole in length, damaged inside.
  const qsizetype idat = png.indexOf("IDAT");
  const qsizetype strip = 8 + 2 + 5 * 12 + 8;  // the value of the strip offsets' entry
  struct Damage {
    const char* name;
    QByteArray bytes;
  } damaged[] = {
      // A stretch of the coded data lost: the rest runs out before the last
      // block. (Codes that merely decode wrong are not seen: libjpeg does not
      // report them, and the stream soon falls back into step.)
      {"lost stretch.jpg", QByteArray(jpeg).remove(JpegScanData(jpeg) + 40, 200)},
      // An end marker in the middle of the coded data.
      {"early marker.jpg", Overwritten(jpeg, JpegScanData(jpeg) + 40, QByteArray("\xFF\xD9", 2))},
      {"bad checksum.png", Overwritten(png, idat + 10, QByteArray(1, static_cast<char>(png[idat + 10] ^ 1)))},
      {"codes past the table.gif", Overwritten(gif, GifFirstData(gif), QByteArray(8, '\xFF'))},
      {"unknown record.gif", gif.left(gif.size() - 1) + QByteArray("\x07;", 2)},
      {"pixels past the end.bmp", Overwritten(bmp, 10, QByteArray("\0\0\x10\0", 4))},
      {"strip past the end.tif", [&] {
         QByteArray t = tiff;
         const qsizetype table = static_cast<unsigned char>(t[strip]) | static_cast<unsigned char>(t[strip + 1]) << 8;
         return Overwritten(t, table, QByteArray("\0\0\x10\0", 4));
       }()},
  };
  for (const Damage& d : damaged) {
    SCOPED_TRACE(d.name);
    const std::string path = File(d.name);
    QFile out(QString::fromStdString(path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(d.bytes);
    out.close();
    auto l = Load(path);
    EXPECT_NE(l->bitmap->GetLastStatus(), Gdiplus::Ok);
    EXPECT_EQ(l->pixels, nullptr);
    EXPECT_EQ(l->width, 0);
  }
}

TEST_F(GdiImageFiles, FailedSavesReportAndWriteNothing) {
  Bitmap source(4, 4, PixelFormat24bppRGB);
  struct Case {
    std::string path;
    const char* extension;
  } cases[] = {{File("a.tiff"), "tiff"},
               {File("a.xyz"), "xyz"},
               {File("a.none"), nullptr},
               {File("no/such/dir/a.png"), "png"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const int status = GDI::SaveImage(c.path.c_str(), &source, c.extension);
    EXPECT_NE(status, 0);
    EXPECT_EQ(static_cast<int>(source.GetLastStatus()), status);
    EXPECT_FALSE(fs::exists(c.path));
  }
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_NE(GDI::SaveImage(File("b.png").c_str(), nullptr, "png"), 0);
}

TEST_F(GdiImageFiles, OldFormPathsLandOnTheirDrive) {
  fs::create_directory(dir_ / "sub");
  setenv("QUORL_DRIVE_C", dir_.c_str(), 1);
  Bitmap source(4, 4, PixelFormat24bppRGB);
  EXPECT_EQ(GDI::SaveImage("C:\\sub\\a.png", &source, "png"), 0);
  EXPECT_TRUE(fs::exists(dir_ / "sub" / "a.png"));
  auto l = Load("C:\\sub\\a.png");
  EXPECT_EQ(l->width, 4);
  unsetenv("QUORL_DRIVE_C");
}

// A window of 64 x 48 whose blue encodes the column, green the row, and red
// jumps from 0 to 255 at column 32.
class FakeWindows : public gdiplus::WindowSurfaceSource {
 public:
  static HWND Window() { return reinterpret_cast<HWND>(0x4242); }
  static std::uint32_t Pixel(int x, int y) {
    return 0xFF000000u | (x < 32 ? 0u : 0xFF0000u) | static_cast<std::uint32_t>(y * 5) << 8 |
           static_cast<std::uint32_t>(x * 3);
  }
  bool GetClientSize(HWND hwnd, int* width, int* height) override {
    if (hwnd != Window()) return false;
    *width = 64;
    *height = 48;
    return true;
  }
  bool ReadClient(HWND hwnd, std::uint32_t* pixels, int width, int height, int strideBytes) override {
    if (hwnd != Window() || width != 64 || height != 48) return false;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        // The unused byte of a surface may hold anything.
        reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(pixels) + y * strideBytes)[x] = Pixel(x, y) & 0x00FFFFFFu;
    return true;
  }
};

class GdiWindowCapture : public GdiImageFiles {
 protected:
  void SetUp() override {
    GdiImageFiles::SetUp();
    previous_ = gdiplus::SetWindowSurfaceSource(&windows_);
  }
  void TearDown() override {
    gdiplus::SetWindowSurfaceSource(previous_);
    GdiImageFiles::TearDown();
  }
  FakeWindows windows_;
  gdiplus::WindowSurfaceSource* previous_ = nullptr;
};

TEST_F(GdiWindowCapture, SavesAtClientSizeWhenNoWidth) {
  for (int width : {0, -10}) {
    SCOPED_TRACE(width);
    const std::string path = File("w" + std::to_string(-width) + ".png");
    ASSERT_TRUE(GDI::SaveWindowAsImage(FakeWindows::Window(), 0, path.c_str(), "png", width, 7));
    auto l = Load(path);
    ASSERT_EQ(l->width, 64);
    ASSERT_EQ(l->height, 48);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const std::uint32_t p = FakeWindows::Pixel(x, y);
        ASSERT_EQ(l->At(x, y, 0), static_cast<int>(p & 0xFF)) << x << "," << y;
        ASSERT_EQ(l->At(x, y, 1), static_cast<int>((p >> 8) & 0xFF));
        ASSERT_EQ(l->At(x, y, 2), static_cast<int>((p >> 16) & 0xFF));
      }
  }
}

TEST_F(GdiWindowCapture, StretchesFilteredToTheGivenSize) {
  ASSERT_TRUE(GDI::SaveWindowAsImage(FakeWindows::Window(), 0, File("s.bmp").c_str(), "bmp", 320, 240));
  auto l = Load(File("s.bmp"));
  ASSERT_EQ(l->width, 320);
  ASSERT_EQ(l->height, 240);
  // The red edge at column 32 lies at 160 after scaling by 5: a filtered
  // stretch has values between 0 and 255 there, nearest neighbour none.
  int between = 0;
  for (int x = 150; x < 170; ++x) between += l->At(x, 120, 2) > 0 && l->At(x, 120, 2) < 255;
  EXPECT_GE(between, 2);
  EXPECT_EQ(l->At(10, 120, 2), 0);
  EXPECT_EQ(l->At(310, 120, 2), 255);
}

TEST_F(GdiWindowCapture, FailsWithoutWindowSourceOrHeight) {
  EXPECT_FALSE(GDI::SaveWindowAsImage(reinterpret_cast<HWND>(0x77), 0, File("u.png").c_str(), "png", 0, 0));
  EXPECT_FALSE(GDI::SaveWindowAsImage(FakeWindows::Window(), 0, File("h.png").c_str(), "png", 320, 0));
  EXPECT_FALSE(GDI::SaveWindowAsImage(FakeWindows::Window(), 0, File("m.png").c_str(), "png", 320, -5));
  EXPECT_FALSE(GDI::SaveWindowAsImage(FakeWindows::Window(), 0, nullptr, "png", 0, 0));
  EXPECT_FALSE(GDI::SaveWindowAsImage(FakeWindows::Window(), 0, File("e.xyz").c_str(), "xyz", 0, 0));
  gdiplus::SetWindowSurfaceSource(nullptr);
  EXPECT_FALSE(GDI::SaveWindowAsImage(FakeWindows::Window(), 0, File("n.png").c_str(), "png", 0, 0));
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
