// JPEG reading through libjpeg itself. Qt's reader hands out whatever libjpeg
// makes of a file that ends early or whose coded data is damaged (the missing
// part grey), with only a warning on standard error; here libjpeg's warnings
// are seen by the decoder, and such a file is refused.
#include <cstdio>  // jpeglib.h uses FILE without including it

#include <jpeglib.h>  // before jerror.h: its configuration decides the codes
#include <jerror.h>

#include <QByteArray>
#include <QImage>
#include <csetjmp>
#include <utility>
#include <vector>

#include "gdiplus/qt_bridge.h"

namespace gdiplus {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;  // first: libjpeg hands back a pointer to it
  std::jmp_buf escape;
};

[[noreturn]] void Escape(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}

// The warnings by which libjpeg says it is making data up: the file ran out
// (it then feeds itself an end marker), or a scan's coded data does not
// decode or does not end where the markers say.
bool IsDamage(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_EXTRANEOUS_DATA:
      return true;
    default:
      return false;
  }
}

// Level -1 is a warning, higher levels are trace messages. Nothing is
// printed: the caller learns of a refusal from the result.
void OnMessage(j_common_ptr info, int level) {
  if (level < 0 && IsDamage(info->err->msg_code)) Escape(info);
}

struct Decoder {
  jpeg_decompress_struct info{};  // mem null until created: destroying is safe
  ErrorManager errors{};
  QImage image;
  std::vector<JSAMPLE> row;  // one CMYK row
  ~Decoder() { jpeg_destroy_decompress(&info); }
};

// Every object lives in d, outside this frame, so the jump out of libjpeg
// skips no destructor and leaves no local of this frame in doubt.
bool Decode(Decoder& d, const QByteArray& bytes) {
  d.info.err = jpeg_std_error(&d.errors.base);
  d.errors.base.error_exit = Escape;
  d.errors.base.emit_message = OnMessage;
  if (setjmp(d.errors.escape)) return false;
  jpeg_create_decompress(&d.info);
  // The memory source warns when asked for bytes past the end: a file that
  // lacks only its end marker is cut short too.
  jpeg_mem_src(&d.info, reinterpret_cast<const unsigned char*>(bytes.constData()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&d.info, TRUE);
  const JDIMENSION width = d.info.image_width, height = d.info.image_height;
  if (ExceedsDecodeLimit(width, height)) return false;
  // CMYK comes out as libjpeg stores it (YCCK turned into CMYK); every other
  // colour space (grey, YCbCr, RGB) straight in the B, G, R order handed out.
  const bool cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
  d.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_start_decompress(&d.info);
  d.image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_BGR888);
  if (d.image.isNull()) return false;
  if (cmyk) d.row.resize(static_cast<size_t>(width) * 4);
  while (d.info.output_scanline < height) {
    const int y = static_cast<int>(d.info.output_scanline);
    JSAMPROW line = cmyk ? d.row.data() : d.image.scanLine(y);
    if (jpeg_read_scanlines(&d.info, &line, 1) != 1) return false;
    if (cmyk) {
      // Inverted, as Adobe's writers store it and as Qt's reader takes it:
      // 255 is no ink.
      uchar* out = d.image.scanLine(y);
      for (JDIMENSION x = 0; x < width; ++x, out += 3, line += 4) {
        const int k = line[3];
        out[0] = static_cast<uchar>(line[2] * k / 255);
        out[1] = static_cast<uchar>(line[1] * k / 255);
        out[2] = static_cast<uchar>(line[0] * k / 255);
      }
    }
  }
  jpeg_finish_decompress(&d.info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
  Decoder d;
  if (!Decode(d, bytes)) return {};
  return std::move(d.image);
}

}  // namespace gdiplus
