#pragma once
// Dense stereo of a rectified grey pair by dynamic programming along each
// scan line, over a pixel dissimilarity that is insensitive to image
// sampling, with an occlusion penalty, a match reward and intensity-edge
// conditions on occlusions; the map is then cleaned by propagating reliable
// disparities along columns and rows up to intensity edges.
#include <opencv2/core/types_c.h>

namespace CV {

// left, right and disparities are one byte a pixel, size.width x
// size.height, all with row stride `stride`. Left column x with disparity d
// meets right column x - d; disparities run 0 .. maxD (larger values than
// size.width - 1 are taken as size.width - 1). The five parameters are
// rounded to integers, halves to even. Refused arguments (null buffers,
// width < 3, height < 1, maxD < 0, stride < width, non-finite parameters, a
// penalty and reward so large that a path sum could leave int32) leave the
// map untouched and record one status (source "CV").
void BirchfieldDynamicProgramming(unsigned char* left, unsigned char* right, unsigned char* disparities, CvSize size,
                                  int stride, int maxD, float occlusionPenalty, float matchReward,
                                  float reliableThreshold, float seedThreshold, float weakSeedThreshold);

}  // namespace CV
