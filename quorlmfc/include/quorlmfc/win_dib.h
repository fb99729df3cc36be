#pragma once
// winDIB: shows a caller-owned block of pixels through a device context as
// a top-down DIB, and draws clipped lines, anti-aliased lines and blended
// rectangles into it in 16.16 fixed point. Primitives work on 32-bit pixels
// 0xAARRGGBB (in memory B, G, R, A), rows of width pixels without padding.
#include <cstdint>

#include "win/gdi.h"
#include "win/geometry.h"

class winDIB {
 public:
  explicit winDIB(CDC& dc);
  winDIB(const winDIB& other);
  winDIB& operator=(const winDIB&) = delete;

  // Sets compression, bit count, masks and image size for a depth.
  virtual unsigned short depth(unsigned short bits);
  // Attaches the buffers; bits 0 leaves the depth as it was.
  virtual unsigned char* frameBuffer(unsigned char* pixels, float* zBuffer, long width, long height,
                                     unsigned short bits);
  // Scan lines copied; 0 when nothing can be shown.
  virtual int stretchToDisplay();
  virtual int copyToDisplay();
  // Clips to the source rectangle (and the buffer once one is attached);
  // false when nothing is left.
  virtual bool clipLine(float& x0, float& y0, float& x1, float& y1) const;
  virtual void line(float x0, float y0, float x1, float y1, unsigned colour);
  virtual void aaLine(float x0, float y0, float x1, float y1, unsigned colour);
  // Inclusive corners.
  virtual void fillRect(int x0, int y0, int x1, int y1, unsigned colour);

  const CRect& srcRect() const { return src_; }
  CRect& srcRect() { return src_; }
  const CRect& dstRect() const { return dst_; }
  CRect& dstRect() { return dst_; }
  unsigned short depth() const { return info_.header.biBitCount; }
  CDC* dc() const { return dc_; }
  unsigned char* frameBuffer() const { return buffer_; }
  float* zBuffer() const { return zBuffer_; }
  long width() const { return info_.header.biWidth; }
  long height() const { return -info_.header.biHeight; }
  bool isInitialized() const;

  // The header as the DIB calls see it.
  const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(&info_); }
  std::uint32_t compression() const { return info_.header.biCompression; }
  std::uint32_t imageSize() const { return info_.header.biSizeImage; }
  std::uint32_t mask(int i) const { return info_.masks[i]; }

  // The shared coverage table: entry [i][j] = (i * j) >> 8.
  static const unsigned char (&blendTable())[256][256];
  // Blend of a pixel with alpha a over dst: per channel (d (255 - a) + s a) >> 8,
  // alpha byte a.
  static std::uint32_t blend(std::uint32_t dst, std::uint32_t src, unsigned a);

 private:
  CRect ClipRect() const;
  void Plot(int x, int y, const CRect& clip, std::uint32_t rgb, unsigned alpha);
  bool RowsNeedPadding() const;

  CRect src_;
  CRect dst_;
  CDC* dc_;
  unsigned char* buffer_ = nullptr;
  float* zBuffer_ = nullptr;
  struct {
    BITMAPINFOHEADER header;
    std::uint32_t masks[3];
  } info_{};
};
