#pragma once
// Dense two-view stereo on a rectified pair: disparity space volumes of
// window-aggregated matching costs, a winner-takes-all disparity image, an
// inspection image of one volume row and the disparity bound tables.
//
// Images are IplImage records of 8-bit pixels (colour as B, G, R bytes).
// Element 0 of an image pair is the reference, element 1 the matched image;
// both have image 0's size and row stride. Column x of image 0 meets column
// x + d of image 1 in the same row; the last column of either image never
// enters a cost.
//
// Callers own every buffer. A volume holds (H + 1) x D x (W + 1) int32
// entries with D = |dMax - dMin| + 1: row block r, slice k (disparity
// dMin + k), column c at (r * D + k) * (W + 1) + c. Block r, column c holds the
// cost summed over the (2hx + 1) x (2hy + 1) window whose top-left pixel of
// image 0 is (c, r), for r <= H - 2hy - 1 and, per disparity d, columns
// 0 .. W - 2hx - 2 - d (d > 0) or |d| .. W - 2hx - 2 (d <= 0). Columns before
// the first partner are 0; the columns right of the window sums and the last
// 2hy + 1 blocks are running-sum leftovers, not window sums. A disparity with
// 2hx + 1 + |d| >= W, a window taller than the image and dMax < dMin leave
// their slices 0.
//
// Refused arguments write nothing, record one status through
// cvcompat::RoutineErrors (source "CV") and return; nothing throws.
#include <opencv2/core/types_c.h>

namespace CV {

// Sum over B, G, R of absolute differences.
void SADDisparitySpaceVolume(IplImage** images, int dMin, int dMax, int hx, int hy, int* volume);
// Sum over B, G, R of squared differences.
void SSDDisparitySpaceVolume(IplImage** images, int dMin, int dMax, int hx, int hy, int* volume);
// One-channel images. Despite the name: absolute differences, not squared.
void SSDDisparitySpaceVolume_Mono(IplImage** images, int dMin, int dMax, int hx, int hy, int* volume);

// Winner-takes-all over an 11 x 11 window. Despite the name: the costs are
// sums of absolute differences (SADDisparitySpaceVolume). W and H must be
// image 0's size. For output rows 5 .. H - 6 and columns 5 .. W - 6 it writes
// k * 255 / D into all three bytes of the 3-channel output (row stride of
// image 0), k being the disparity index of the lowest window sum (ties to the
// smaller k; 0 when no disparity has a window there); other pixels are left
// as they were.
void Stereo_WTA_SSD(IplImage** images, int W, int H, int dMin, int dMax, unsigned char* output);

// Draws row block r of a volume (D slices of sliceLength = W + 1 columns)
// into a 3-channel 8-bit image of at least sliceLength x D pixels: image row
// k shows slice k, grey scaled between the block's extremes; an entry of 0
// ("not computed") is drawn red. The third argument is not read.
void GetVolumeSliceY(int* volume, int sliceLength, int ignored, int D, IplImage* image, int r);

// The per-disparity loop bounds of the volume functions, D entries each, for
// n = 0 .. D - 1 and d = dMin + n: byte offsets into a row of image 0 and 1
// (three bytes a pixel), the volume column of the first pixel pair
// (n * sliceLength + 1 + (d <= 0 ? |d| : 0)), and the counter's start (|d|),
// end of the first window and end of the row (both |d| - 1 when
// windowWidth + |d| >= W: nothing is summed).
void DisparityBoundaries(int* offset0, int* offset1, int* sliceStart, int* countFrom, int* windowEnd, int* rowEnd,
                         int W, int sliceLength, int dMin, int dMax, int windowWidth);

// Per-column bound tables of W entries (a and b act as disparity limits, c as
// a window margin). 10000 marks "no admissible lower bound", -10000 "no
// admissible upper bound". Entries outside 0 .. W - 1 are never written.
void DisparityBoundaries(int* lower, int* upper, int W, int a, int b, int c);
void DisparityBoundaries2(int* lower, int* upper, int W, int a, int b, int c);

}  // namespace CV
