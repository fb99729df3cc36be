#include <array>
#include <cstring>

#include "gdiplus/encoders.h"

namespace gdiplus {
namespace {

struct Entry {
  EncoderKind kind;
  CLSID clsid;
  const WCHAR* name;
  const WCHAR* extensions;
  const WCHAR* mime;
};

// Class ids of this stand-in (not the platform's): one family, the last byte
// numbering the encoder.
constexpr CLSID EncoderClsid(std::uint8_t n) {
  return CLSID{0x5151A0E0, 0x6D1C, 0x4F3B, {0x9E, 0x27, 0x51, 0x75, 0x6F, 0x72, 0x6C, n}};
}

const std::array<Entry, 5> kEncoders = {{
    {EncoderKind::Bmp, EncoderClsid(1), L"Built-in BMP Codec", L"*.BMP;*.DIB;*.RLE", L"image/bmp"},
    {EncoderKind::Jpeg, EncoderClsid(2), L"Built-in JPEG Codec", L"*.JPG;*.JPEG;*.JPE;*.JFIF",
     L"image/jpeg"},
    {EncoderKind::Gif, EncoderClsid(3), L"Built-in GIF Codec", L"*.GIF", L"image/gif"},
    {EncoderKind::Tiff, EncoderClsid(4), L"Built-in TIFF Codec", L"*.TIF;*.TIFF", L"image/tiff"},
    {EncoderKind::Png, EncoderClsid(5), L"Built-in PNG Codec", L"*.PNG", L"image/png"},
}};

}  // namespace

const EncoderKind* FindEncoder(const CLSID& clsid) {
  for (const Entry& e : kEncoders)
    if (e.clsid == clsid) return &e.kind;
  return nullptr;
}

}  // namespace gdiplus

namespace Gdiplus {

Status GetImageEncodersSize(UINT* numEncoders, UINT* size) {
  if (!numEncoders || !size) return InvalidParameter;
  *numEncoders = static_cast<UINT>(gdiplus::kEncoders.size());
  *size = static_cast<UINT>(gdiplus::kEncoders.size() * sizeof(ImageCodecInfo));
  return Ok;
}

Status GetImageEncoders(UINT numEncoders, UINT size, ImageCodecInfo* encoders) {
  if (!encoders || numEncoders != gdiplus::kEncoders.size() ||
      size < gdiplus::kEncoders.size() * sizeof(ImageCodecInfo))
    return InvalidParameter;
  for (size_t i = 0; i < gdiplus::kEncoders.size(); ++i) {
    const gdiplus::Entry& e = gdiplus::kEncoders[i];
    ImageCodecInfo info{};
    info.Clsid = e.clsid;
    info.FormatID = GUID_NULL;
    info.CodecName = e.name;
    info.DllName = nullptr;
    info.FormatDescription = e.name;
    info.FilenameExtension = e.extensions;
    info.MimeType = e.mime;
    info.Flags = 0x00010007;  // encoder | decoder | supports bitmap | built in
    info.Version = 1;
    std::memcpy(&encoders[i], &info, sizeof(info));
  }
  return Ok;
}

}  // namespace Gdiplus
