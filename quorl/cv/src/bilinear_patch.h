#pragma once
// Sub-pixel patch sampling of an interleaved 8-bit image into floats.
#include <cstdint>

namespace CV::detail {

// Fills out (n x n pixels x channels floats, row-major) with the patch
// centred at (cx, cy): pixel (i, j) is the bilinear value at
// (cx - (n - 1) / 2 + j, cy - (n - 1) / 2 + i). Outside the image the
// nearest edge pixel stands in, as cv::getRectSubPix does, but for any
// channel count. Rows are `step` bytes apart. Non-finite centres sample the
// corner pixel; the caller is expected to keep them out.
void SampleBilinearPatch(const uint8_t* data, int step, int width, int height, int channels, float cx, float cy,
                         int n, float* out);

}  // namespace CV::detail
