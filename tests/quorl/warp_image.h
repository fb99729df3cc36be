#pragma once
// 8-bit test images over exactly sized buffers (so the sanitizer sees any
// read past the last row) with a chosen row stride.
#include <opencv2/core/core_c.h>

#include <cstdint>
#include <random>
#include <vector>

namespace warp_image {

struct Image {
  Image(int width, int height, int channels, int step, unsigned char fill = 0)
      : data(static_cast<size_t>(step) * height, fill) {
    cvInitImageHeader(&header, cvSize(width, height), IPL_DEPTH_8U, channels, IPL_ORIGIN_TL, 4);
    cvSetData(&header, data.data(), step);
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  // Rows padded to 4 bytes, as cvCreateImage makes them.
  static int PaddedStep(int width, int channels) { return (width * channels + 3) & ~3; }
  unsigned char* Row(int y) { return data.data() + static_cast<size_t>(y) * header.widthStep; }
  const unsigned char* Row(int y) const { return data.data() + static_cast<size_t>(y) * header.widthStep; }
  void Randomise(unsigned seed) {
    std::mt19937 rng(seed);
    for (unsigned char& b : data) b = static_cast<unsigned char>(rng() & 0xFF);
  }
  std::vector<unsigned char> data;
  IplImage header;
};

}  // namespace warp_image
