// GIF through giflib: Qt 6 reads GIF but has no GIF writer.
#include <gif_lib.h>

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <algorithm>
#include <cstring>
#include <vector>

#include "gdiplus/qt_bridge.h"

namespace gdiplus {
namespace {

struct ReadCursor {
  const QByteArray* bytes;
  qsizetype pos;
};

int ReadBytes(GifFileType* gif, GifByteType* out, int n) {
  auto* c = static_cast<ReadCursor*>(gif->UserData);
  const qsizetype take = std::min<qsizetype>(n, c->bytes->size() - c->pos);
  if (take <= 0) return 0;
  std::memcpy(out, c->bytes->constData() + c->pos, static_cast<size_t>(take));
  c->pos += take;
  return static_cast<int>(take);
}

int WriteBytes(GifFileType* gif, const GifByteType* data, int n) {
  static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
  return n;
}

struct GifReader {
  GifFileType* gif = nullptr;
  ~GifReader() {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
  }
};

struct GifWriter {
  GifFileType* gif = nullptr;
  ColorMapObject* map = nullptr;
  ~GifWriter() {
    int error = 0;
    if (gif) EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
  }
  // Closing writes the trailer; a failure there is a failed save.
  bool Close() {
    int error = 0;
    GifFileType* g = gif;
    gif = nullptr;
    return EGifCloseFile(g, &error) == GIF_OK;
  }
};

// The records after the first frame are stepped over block by block, never
// decoded, up to the trailer: a file that ends before it is cut short, as one
// holding a record of no known kind is damaged. pos is where giflib, which
// reads no further than it needs, left off.
bool ReachesTrailer(const QByteArray& bytes, qsizetype pos) {
  const qsizetype size = bytes.size();
  auto byte = [&](qsizetype at) { return static_cast<unsigned char>(bytes[at]); };
  // Data sub-blocks, each led by its length, up to the empty one.
  auto skipBlocks = [&] {
    while (pos < size) {
      const int length = byte(pos++);
      if (length == 0) return true;
      pos += length;
    }
    return false;
  };
  while (pos < size) {
    switch (byte(pos++)) {
      case 0x3B:  // trailer
        return true;
      case 0x21:  // extension: its label, then blocks
        if (++pos > size || !skipBlocks()) return false;
        break;
      case 0x2C: {  // image: descriptor, local palette, code size, blocks
        if (size - pos < 9) return false;
        const int flags = byte(pos + 8);
        pos += 9;
        if (flags & 0x80) pos += qsizetype(3) << ((flags & 7) + 1);
        if (++pos > size || !skipBlocks()) return false;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

int PowerOfTwoAtLeast(int n) {
  int size = 2;
  while (size < n) size *= 2;
  return size;
}

}  // namespace

QImage DecodeGif(const QByteArray& bytes) {
  ReadCursor cursor{&bytes, 0};
  int error = 0;
  GifReader r;
  r.gif = DGifOpen(&cursor, ReadBytes, &error);
  if (!r.gif) return {};
  GifFileType* gif = r.gif;
  if (gif->SWidth <= 0 || gif->SHeight <= 0) return {};
  if (ExceedsDecodeLimit(gif->SWidth, gif->SHeight)) return {};

  // Records up to the first image only: its control block (the last one
  // before it) and its descriptor. Later frames are never decoded, so a file
  // of many forged frames costs no more than stepping over its bytes.
  GraphicsControlBlock gcb{};
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  bool haveImage = false;
  while (!haveImage) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return {};
    if (type == TERMINATE_RECORD_TYPE) return {};
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) return {};
      haveImage = true;
    } else if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return {};
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        gcb = GraphicsControlBlock{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifExtensionToGCB(block[0], block + 1, &gcb);
      }
      while (block)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return {};
    } else {
      return {};
    }
  }
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!map || desc.Width <= 0 || desc.Height <= 0) return {};
  // A frame is decoded row by row, clipped to the screen: pixels past the
  // screen's area would only cost time (a small LZW stream can expand to
  // billions of them), so a frame larger than the screen is refused.
  if (static_cast<qint64>(desc.Width) * desc.Height > static_cast<qint64>(gif->SWidth) * gif->SHeight) return {};
  const int transparent = gcb.TransparentColor;

  // First frame only, on its logical screen; outside the frame the screen is
  // transparent when the file has a transparent colour, else its background.
  auto colour = [&](int index) -> QRgb {
    if (index == transparent) return qRgba(0, 0, 0, 0);
    if (index < 0 || index >= map->ColorCount) return qRgb(0, 0, 0);
    const GifColorType& c = map->Colors[index];
    return qRgb(c.Red, c.Green, c.Blue);
  };
  // The background indexes the global palette, not the frame's own.
  QRgb background = qRgb(0, 0, 0);
  if (transparent != NO_TRANSPARENT_COLOR)
    background = qRgba(0, 0, 0, 0);
  else if (gif->SColorMap && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
    const GifColorType& c = gif->SColorMap->Colors[gif->SBackGroundColor];
    background = qRgb(c.Red, c.Green, c.Blue);
  }
  // Straight into the format handed out (a transparent colour keeps alpha):
  // a large screen around a small frame costs one pass, not two.
  const bool clear = transparent != NO_TRANSPARENT_COLOR;
  QImage image(gif->SWidth, gif->SHeight, clear ? QImage::Format_ARGB32 : QImage::Format_BGR888);
  if (image.isNull()) return {};
  image.fill(QColor::fromRgba(background));
  auto put = [&](uchar* row, int x, QRgb c) {
    if (clear) {
      reinterpret_cast<QRgb*>(row)[x] = c;
    } else {
      uchar* p = row + 3 * x;  // bytes B, G, R
      p[0] = static_cast<uchar>(qBlue(c));
      p[1] = static_cast<uchar>(qGreen(c));
      p[2] = static_cast<uchar>(qRed(c));
    }
  };
  // An interlaced frame stores its rows in four passes.
  static constexpr int kInterlacedStart[] = {0, 4, 2, 1}, kInterlacedStep[] = {8, 8, 4, 2};
  std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));
  const int passes = desc.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int first = desc.Interlace ? kInterlacedStart[pass] : 0, step = desc.Interlace ? kInterlacedStep[pass] : 1;
    for (int y = first; y < desc.Height; y += step) {
      if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) return {};
      const int iy = desc.Top + y;
      if (iy < 0 || iy >= image.height()) continue;
      uchar* row = image.scanLine(iy);
      for (int x = 0; x < desc.Width; ++x) {
        const int ix = desc.Left + x;
        if (ix < 0 || ix >= image.width()) continue;
        put(row, ix, colour(line[static_cast<size_t>(x)]));
      }
    }
  }
  // giflib has read the frame's data through its end block: a frame cut
  // short or whose codes do not decode failed above.
  if (!ReachesTrailer(bytes, cursor.pos)) return {};
  return image;
}

bool EncodeGif(const QImage& source, QByteArray* out) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int w = image.width(), h = image.height();
  if (image.isNull() || w > 0xFFFF || h > 0xFFFF) return false;
  const size_t count = static_cast<size_t>(w) * h;

  // An exact palette whenever the colours fit: the quantiser cuts every
  // channel to 5 bits even for a two-colour image. Fully transparent pixels
  // share one transparent entry.
  std::vector<GifByteType> indices(count);
  QHash<QRgb, int> palette;
  std::vector<QRgb> colours;
  int transparent = NO_TRANSPARENT_COLOR;
  bool exact = true;
  for (int y = 0; y < h && exact; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const QRgb key = qAlpha(row[x]) == 0 ? 0u : (row[x] | 0xFF000000u);
      auto it = palette.constFind(key);
      if (it == palette.constEnd()) {
        if (colours.size() == 256) {
          exact = false;
          break;
        }
        if (key == 0) transparent = static_cast<int>(colours.size());
        it = palette.insert(key, static_cast<int>(colours.size()));
        colours.push_back(key);
      }
      indices[static_cast<size_t>(y) * w + x] = static_cast<GifByteType>(*it);
    }
  }

  GifWriter wr;
  if (exact) {
    wr.map = GifMakeMapObject(PowerOfTwoAtLeast(static_cast<int>(colours.size())), nullptr);
    if (!wr.map) return false;
    for (size_t i = 0; i < colours.size(); ++i)
      wr.map->Colors[i] = {static_cast<GifByteType>(qRed(colours[i])),
                           static_cast<GifByteType>(qGreen(colours[i])),
                           static_cast<GifByteType>(qBlue(colours[i]))};
  } else {
    transparent = NO_TRANSPARENT_COLOR;
    std::vector<GifByteType> red(count), green(count), blue(count);
    for (int y = 0; y < h; ++y) {
      const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        red[i] = static_cast<GifByteType>(qRed(row[x]));
        green[i] = static_cast<GifByteType>(qGreen(row[x]));
        blue[i] = static_cast<GifByteType>(qBlue(row[x]));
      }
    }
    wr.map = GifMakeMapObject(256, nullptr);
    int size = 256;
    if (!wr.map || GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &size,
                                     red.data(), green.data(), blue.data(), indices.data(),
                                     wr.map->Colors) != GIF_OK)
      return false;
  }

  int error = 0;
  wr.gif = EGifOpen(out, WriteBytes, &error);
  if (!wr.gif) return false;
  EGifSetGifVersion(wr.gif, transparent != NO_TRANSPARENT_COLOR);
  if (EGifPutScreenDesc(wr.gif, w, h, 8, 0, wr.map) != GIF_OK) return false;
  if (transparent != NO_TRANSPARENT_COLOR) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.TransparentColor = transparent;
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(wr.gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) != GIF_OK)
      return false;
  }
  if (EGifPutImageDesc(wr.gif, 0, 0, w, h, false, nullptr) != GIF_OK) return false;
  for (int y = 0; y < h; ++y)
    if (EGifPutLine(wr.gif, indices.data() + static_cast<size_t>(y) * w, w) != GIF_OK) return false;
  return wr.Close();
}

}  // namespace gdiplus
