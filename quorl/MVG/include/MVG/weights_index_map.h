#pragma once
// Resamplers of warp maps (WeightsIndexMap, see MVG/mvg_camera.h): each
// output pixel is (w1 s(x, y) + w2 s(x, y + 1) + w3 s(x + 1, y) +
// w4 s(x + 1, y + 1)) >> 15, integer-only and without per-pixel bounds tests,
// so a map must have been built for the size of src.
//
// Source rows are read by src's widthStep and output rows written by dst's,
// so padded rows (an IplImage's rows are padded to 4 bytes) work; the map
// offsets themselves carry no padding. Nothing is written unless both images
// are 8-bit with the right channel count, of equal size, and distinct.
#include <opencv2/core/types_c.h>

namespace IP {

// Three channels; map offsets are (x + y width) 3.
void WarpByWeightsIndex(const IplImage* src, IplImage* dst, const int* map);
// One channel; map offsets are x + y width (CCamera::ComputeUndistortionMap).
void WarpByWeightsIndexGray(const IplImage* src, IplImage* dst, const int* map);

}  // namespace IP
