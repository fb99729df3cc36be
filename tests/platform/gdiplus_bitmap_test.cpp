// The GDI+ stand-in without an application object: bitmaps over caller
// memory, locks, encoders, codecs and stretched drawing.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <cstdio>  // jpeglib.h uses FILE without including it

#include <gif_lib.h>
#include <jpeglib.h>

#include "gdiplus/gdiplus.h"
#include "gdiplus/qt_bridge.h"

namespace {

using namespace Gdiplus;
namespace fs = std::filesystem;

class GdiplusBitmap : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quorl-gdiplus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string File(const char* name) const { return (dir_ / name).string(); }

  static CLSID Encoder(const wchar_t* mime) {
    UINT n = 0, size = 0;
    EXPECT_EQ(GetImageEncodersSize(&n, &size), Ok);
    std::vector<ImageCodecInfo> list(n);
    EXPECT_EQ(GetImageEncoders(n, size, list.data()), Ok);
    for (const ImageCodecInfo& e : list)
      if (std::wcscmp(e.MimeType, mime) == 0) return e.Clsid;
    ADD_FAILURE() << "no encoder";
    return GUID_NULL;
  }

  fs::path dir_;
};

TEST_F(GdiplusBitmap, ImageFilesNeedNoApplicationObject) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  unsigned char px[4] = {1, 2, 3, 0};
  Bitmap b(1, 1, 4, PixelFormat24bppRGB, px);
  const CLSID png = Encoder(L"image/png");
  ASSERT_EQ(b.Save(File("a.png").c_str(), &png), Ok);
  Bitmap back(File("a.png").c_str());
  EXPECT_EQ(back.GetLastStatus(), Ok);
  EXPECT_EQ(back.GetWidth(), 1u);
}

TEST_F(GdiplusBitmap, WidePathsAreMappedLikeNarrowOnes) {
  fs::create_directory(dir_ / "d");
  setenv("QUORL_DRIVE_Q", dir_.c_str(), 1);
  Bitmap b(2, 2, PixelFormat24bppRGB);
  const CLSID bmp = Encoder(L"image/bmp");
  ASSERT_EQ(b.Save(L"Q:\\d\\w\u00e9.bmp", &bmp), Ok);
  EXPECT_TRUE(fs::exists(dir_ / "d" / "w\u00e9.bmp"));
  Bitmap back(L"Q:\\d\\w\u00e9.bmp");
  EXPECT_EQ(back.GetLastStatus(), Ok);
  EXPECT_EQ(back.GetPixelFormat(), PixelFormat24bppRGB);
  unsetenv("QUORL_DRIVE_Q");
}

TEST_F(GdiplusBitmap, FormatsHaveThePlatformsByteOrder) {
  struct Case {
    PixelFormat format;
    std::vector<unsigned char> bytes;
    QRgb expected;
  } cases[] = {
      {PixelFormat24bppRGB, {10, 20, 30}, qRgb(30, 20, 10)},
      {PixelFormat32bppRGB, {10, 20, 30, 255}, qRgb(30, 20, 10)},
      {PixelFormat32bppARGB, {10, 20, 30, 40}, qRgba(30, 20, 10, 40)},  // not premultiplied
  };
  for (Case& c : cases) {
    Bitmap b(1, 1, 4, c.format, c.bytes.data());
    ASSERT_EQ(b.GetLastStatus(), Ok);
    EXPECT_EQ(b.GetPixelFormat(), c.format);
    EXPECT_EQ(gdiplus::QImageOf(&b)->pixel(0, 0), c.expected) << std::hex << c.format;
  }
  EXPECT_EQ(PixelFormat24bppRGB, 0x00021808);
  EXPECT_EQ(PixelFormat32bppARGB, 0x0026200A);
}

TEST_F(GdiplusBitmap, LocksAndPaintsTheCallersBufferWithAnOddStride) {
  // 5 pixels of 24 bits in rows of 17 bytes: neither a multiple of 4.
  std::vector<unsigned char> buffer(17 * 3, 0);
  Bitmap b(5, 3, 17, PixelFormat24bppRGB, buffer.data());
  ASSERT_EQ(b.GetLastStatus(), Ok);
  BitmapData data;
  ASSERT_EQ(b.LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB, &data), Ok);
  EXPECT_EQ(data.Scan0, buffer.data());
  EXPECT_EQ(data.Stride, 17);
  EXPECT_EQ(b.LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &data), WrongState);
  ASSERT_EQ(b.UnlockBits(&data), Ok);

  unsigned char white[4] = {255, 255, 255, 255};
  Bitmap source(1, 1, 4, PixelFormat32bppARGB, white);
  {
    Graphics g(&b);
    ASSERT_EQ(g.DrawImage(&source, 0, 0, 5, 3), Ok);
  }
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 15; ++x) EXPECT_EQ(buffer[y * 17 + x], 255) << y << "," << x;
  EXPECT_EQ(buffer[15], 0);  // row padding stays untouched
}

TEST_F(GdiplusBitmap, LockInAnotherFormatConvertsAndWritesBack) {
  unsigned char px[8] = {10, 20, 30, 40, 50, 60, 0, 0};
  Bitmap b(2, 1, 8, PixelFormat24bppRGB, px);
  BitmapData data;
  const Rect second(1, 0, 1, 1);
  ASSERT_EQ(b.LockBits(&second, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &data), Ok);
  auto* argb = static_cast<unsigned char*>(data.Scan0);
  EXPECT_EQ(argb[0], 40);
  EXPECT_EQ(argb[3], 255);
  argb[0] = 99;
  ASSERT_EQ(b.UnlockBits(&data), Ok);
  EXPECT_EQ(px[3], 99);
  EXPECT_EQ(px[0], 10);
  const Rect outside(1, 0, 2, 1);
  EXPECT_EQ(b.LockBits(&outside, ImageLockModeRead, PixelFormat24bppRGB, &data), InvalidParameter);
}

TEST_F(GdiplusBitmap, RefusesBadConstruction) {
  unsigned char px[8] = {};
  EXPECT_NE(Bitmap(3, 1, 8, PixelFormat24bppRGB, px).GetLastStatus(), Ok);  // stride < 9
  EXPECT_NE(Bitmap(0, 1, PixelFormat24bppRGB).GetLastStatus(), Ok);
  EXPECT_NE(Bitmap(1, 1, 0x00030803 /* 8bpp indexed */).GetLastStatus(), Ok);
  Bitmap missing(File("none.png").c_str());
  EXPECT_EQ(missing.GetLastStatus(), FileNotFound);
  EXPECT_EQ(missing.GetLastStatus(), Ok);  // reading resets it
  EXPECT_EQ(missing.GetWidth(), 0u);
}

TEST_F(GdiplusBitmap, EncoderListIsFixed) {
  UINT n = 0, size = 0;
  ASSERT_EQ(GetImageEncodersSize(&n, &size), Ok);
  ASSERT_EQ(n, 5u);
  std::vector<ImageCodecInfo> list(n);
  EXPECT_EQ(GetImageEncoders(n, size - 1, list.data()), InvalidParameter);
  ASSERT_EQ(GetImageEncoders(n, size, list.data()), Ok);
  const wchar_t* order[] = {L"image/bmp", L"image/jpeg", L"image/gif", L"image/tiff", L"image/png"};
  std::set<GUID> ids;
  for (UINT i = 0; i < n; ++i) {
    EXPECT_STREQ(list[i].MimeType, order[i]);
    ids.insert(list[i].Clsid);
  }
  EXPECT_EQ(ids.size(), 5u);
  Bitmap b(1, 1, PixelFormat24bppRGB);
  const CLSID unknown = GUID_NULL;
  EXPECT_NE(b.Save(File("x.png").c_str(), &unknown), Ok);
  EXPECT_NE(b.GetLastStatus(), Ok);
  EXPECT_FALSE(fs::exists(File("x.png")));
}

// A two-colour image through the quantiser would come back with every
// channel cut to 5 bits; an exact palette keeps it.
TEST_F(GdiplusBitmap, GifKeepsFewColoursExactlyAndTransparency) {
  QImage image(9, 4, QImage::Format_ARGB32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x)
      image.setPixel(x, y, x == 8 ? qRgba(0, 0, 0, 0) : (x + y) % 2 ? qRgb(3, 5, 7) : qRgb(250, 251, 253));
  QByteArray bytes;
  ASSERT_TRUE(gdiplus::EncodeImage(image, gdiplus::EncoderKind::Gif, &bytes));
  const QImage back = gdiplus::DecodeImage(bytes);
  ASSERT_EQ(back.format(), QImage::Format_ARGB32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(back.pixel(x, y), image.pixel(x, y)) << x << "," << y;

  // Qt's own reader sees the same transparent colour.
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  const QImage qt = QImageReader(&buffer, "gif").read();
  ASSERT_FALSE(qt.isNull());
  EXPECT_EQ(qAlpha(qt.pixel(8, 0)), 0);
  EXPECT_EQ(qt.pixel(0, 0), qRgb(250, 251, 253));
}

int AppendBytes(GifFileType* gif, const GifByteType* data, int n) {
  static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
  return n;
}

// Written with giflib directly, as other programs write GIF: an interlaced
// frame with its own palette, placed inside a larger screen whose background
// is palette entry 1 of the global palette.
TEST_F(GdiplusBitmap, ReadsInterlacedOffsetFramesWithALocalPalette) {
  QByteArray bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, AppendBytes, &error);
  ASSERT_NE(gif, nullptr);
  GifColorType global[2] = {{0, 0, 0}, {9, 8, 7}};
  GifColorType local[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {40, 50, 60}};
  ColorMapObject* globalMap = GifMakeMapObject(2, global);
  ColorMapObject* localMap = GifMakeMapObject(4, local);
  ASSERT_EQ(EGifPutScreenDesc(gif, 8, 12, 8, 1, globalMap), GIF_OK);
  ASSERT_EQ(EGifPutImageDesc(gif, 2, 1, 4, 10, true, localMap), GIF_OK);
  // Interlaced rows go out in passes: 0, 8; 4; 2, 6; 1, 3, 5, 7, 9.
  for (int row : {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}) {
    GifPixelType line[4];
    for (int x = 0; x < 4; ++x) line[x] = static_cast<GifPixelType>((row + x) % 4);
    ASSERT_EQ(EGifPutLine(gif, line, 4), GIF_OK);
  }
  ASSERT_EQ(EGifCloseFile(gif, &error), GIF_OK);
  GifFreeMapObject(globalMap);
  GifFreeMapObject(localMap);

  const QImage image = gdiplus::DecodeImage(bytes);
  ASSERT_EQ(image.format(), QImage::Format_BGR888);
  ASSERT_EQ(image.size(), QSize(8, 12));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 2 && x < 6 && y >= 1 && y < 11;
      const GifColorType c = inside ? local[((y - 1) + (x - 2)) % 4] : global[1];
      EXPECT_EQ(image.pixel(x, y), qRgb(c.Red, c.Green, c.Blue)) << x << "," << y;
    }
}

TEST_F(GdiplusBitmap, GifWithAForgedScreenSizeIsRefused) {
  QImage image(2, 2, QImage::Format_BGR888);
  image.fill(qRgb(1, 2, 3));
  QByteArray bytes;
  ASSERT_TRUE(gdiplus::EncodeImage(image, gdiplus::EncoderKind::Gif, &bytes));
  ASSERT_FALSE(gdiplus::DecodeImage(bytes).isNull());
  for (int i = 6; i < 10; ++i) bytes[i] = static_cast<char>(0xFF);  // 65535 x 65535 screen
  EXPECT_TRUE(gdiplus::DecodeImage(bytes).isNull());
}

// Only the first frame is shown, so only it is decoded: frames after it,
// however forged, are only stepped over. A first frame larger than its screen
// would only cost decoding time (a few bytes of LZW expand to millions of
// pixels) and is refused.
TEST_F(GdiplusBitmap, GifReadsTheFirstFrameOnlyAndRefusesOneLargerThanItsScreen) {
  GifColorType palette[2] = {{10, 20, 30}, {200, 100, 50}};
  auto write = [&](int firstWidth, bool forgedSecond) {
    QByteArray bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, AppendBytes, &error);
    ColorMapObject* map = GifMakeMapObject(2, palette);
    EGifPutScreenDesc(gif, 4, 4, 1, 0, map);
    EGifPutImageDesc(gif, 0, 0, firstWidth, 4, false, nullptr);
    std::vector<GifPixelType> line(static_cast<size_t>(firstWidth), 1);
    for (int y = 0; y < 4; ++y) EGifPutLine(gif, line.data(), firstWidth);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    if (forgedSecond) {
      // Before the trailer, a 65535 x 65535 frame whose pixels never come: its
      // descriptor, code size 2 and at once the end of its data.
      bytes.insert(bytes.size() - 1, QByteArray("\x2C\0\0\0\0\xFF\xFF\xFF\xFF\0\x02\0", 12));
    }
    return bytes;
  };
  const QImage first = gdiplus::DecodeImage(write(4, true));
  ASSERT_EQ(first.size(), QSize(4, 4));
  EXPECT_EQ(first.pixel(3, 3), qRgb(200, 100, 50));
  EXPECT_TRUE(gdiplus::DecodeImage(write(8, false)).isNull());
}

TEST_F(GdiplusBitmap, GifOfManyColoursIsQuantisedClosely) {
  QImage image(40, 30, QImage::Format_BGR888);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) image.setPixel(x, y, qRgb(x * 6, y * 8, 128));
  QByteArray bytes;
  ASSERT_TRUE(gdiplus::EncodeImage(image, gdiplus::EncoderKind::Gif, &bytes));
  const QImage back = gdiplus::DecodeImage(bytes);
  ASSERT_EQ(back.format(), QImage::Format_BGR888);
  // giflib's median cut is coarse on a smooth two-axis gradient (mean 12,
  // worst 62 levels here); the bounds catch a broken palette or index order.
  int worst = 0;
  double sum = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const QRgb a = image.pixel(x, y), b = back.pixel(x, y);
      const int e = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
      worst = std::max(worst, e);
      sum += e;
    }
  EXPECT_LE(sum / (40 * 30), 16.0);
  EXPECT_LE(worst, 80);
}

// A JPEG as other programs write one, through libjpeg: the components'
// samples come from sample(x, y, component).
template <class Sample>
QByteArray WriteJpeg(int width, int height, int components, J_COLOR_SPACE space, bool arithmetic,
                     int restartRows, Sample sample) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  info.arith_code = arithmetic ? TRUE : FALSE;
  info.restart_in_rows = restartRows;
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * components);
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) row[static_cast<size_t>(x) * components + c] = sample(x, y, c);
    JSAMPROW line = row.data();
    jpeg_write_scanlines(&info, &line, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
  std::free(out);
  return bytes;
}

// JPEG files of every kind the decoder meets come out as Qt's own reader
// reads them (the same library at the same settings), pixel for pixel, so
// that reading them here refuses damage and changes nothing else.
TEST_F(GdiplusBitmap, JpegOfEveryKindReadsAsQtReadsIt) {
  constexpr int kW = 37, kH = 21;
  auto smooth = [](int x, int y, int c) { return static_cast<JSAMPLE>((x * 6 + y * 11 + c * 70) % 256); };
  QImage colour(kW, kH, QImage::Format_RGB888);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) colour.setPixel(x, y, qRgb(smooth(x, y, 0), smooth(x, y, 1), smooth(x, y, 2)));
  auto qtWritten = [&](const QImage& image, bool progressive) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image));
    return bytes;
  };
  struct Case {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      {"baseline", qtWritten(colour, false)},
      {"progressive", qtWritten(colour, true)},
      {"grey", qtWritten(colour.convertToFormat(QImage::Format_Grayscale8), false)},
      {"restart markers", WriteJpeg(kW, kH, 3, JCS_RGB, false, 1, smooth)},
      {"arithmetic coding", WriteJpeg(kW, kH, 3, JCS_RGB, true, 0, smooth)},
      // Adobe's inverted CMYK; libjpeg's writer adds the Adobe marker.
      {"cmyk", WriteJpeg(kW, kH, 4, JCS_CMYK, false, 0, smooth)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QImage ours = gdiplus::DecodeImage(c.bytes);
    ASSERT_EQ(ours.format(), QImage::Format_BGR888);
    QBuffer buffer;
    buffer.setData(c.bytes);
    buffer.open(QIODevice::ReadOnly);
    const QImage qt = QImageReader(&buffer, "jpeg").read().convertToFormat(QImage::Format_BGR888);
    ASSERT_EQ(ours.size(), QSize(kW, kH));
    ASSERT_EQ(qt.size(), ours.size());
    int differing = 0;
    for (int y = 0; y < kH; ++y)
      differing += std::memcmp(ours.constScanLine(y), qt.constScanLine(y), static_cast<size_t>(kW) * 3) != 0;
    EXPECT_EQ(differing, 0);
  }
  // The first CMYK pixel (C, M, Y, K = 0, 70, 140, 210 as stored): R, G, B =
  // C, M, Y each times K / 255.
  const QImage cmyk = gdiplus::DecodeImage(cases[5].bytes);
  const QRgb p = cmyk.pixel(0, 0);
  EXPECT_NEAR(qRed(p), 0, 4);
  EXPECT_NEAR(qGreen(p), 70 * 210 / 255, 4);
  EXPECT_NEAR(qBlue(p), 140 * 210 / 255, 4);
}

TEST_F(GdiplusBitmap, StretchIsFilteredUnlessNearestNeighbour) {
  unsigned char px[8] = {0, 0, 0, 255, 255, 255, 255, 255};  // black, white
  Bitmap source(2, 1, 8, PixelFormat32bppARGB, px);
  for (const bool nearest : {false, true}) {
    Bitmap target(16, 1, PixelFormat32bppRGB);
    {
      Graphics g(&target);
      EXPECT_EQ(g.GetInterpolationMode(), InterpolationModeBilinear);
      if (nearest) g.SetInterpolationMode(InterpolationModeNearestNeighbor);
      ASSERT_EQ(g.DrawImage(&source, 0, 0, 16, 1), Ok);
    }
    int between = 0;
    for (int x = 0; x < 16; ++x) {
      const int v = qRed(gdiplus::QImageOf(&target)->pixel(x, 0));
      between += v > 10 && v < 245;
    }
    if (nearest)
      EXPECT_EQ(between, 0);
    else
      EXPECT_GT(between, 2);
  }
}

TEST(GdiplusWindowSurface, RegistrationReturnsThePrevious) {
  struct Fake : gdiplus::WindowSurfaceSource {
    bool GetClientSize(HWND, int*, int*) override { return false; }
    bool ReadClient(HWND, std::uint32_t*, int, int, int) override { return false; }
  } a, b;
  // The window services' own source may be installed already: it comes back.
  gdiplus::WindowSurfaceSource* before = gdiplus::SetWindowSurfaceSource(&a);
  EXPECT_EQ(gdiplus::SetWindowSurfaceSource(&b), &a);
  EXPECT_EQ(gdiplus::GetWindowSurfaceSource(), &b);
  EXPECT_EQ(gdiplus::SetWindowSurfaceSource(before), &b);
  EXPECT_EQ(gdiplus::GetWindowSurfaceSource(), before);
}

}  // namespace
