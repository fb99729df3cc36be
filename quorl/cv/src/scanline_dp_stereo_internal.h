#pragma once
// Steps of the scan-line dynamic-programming stereo that tests reach on
// their own: the edge flags of one row and the clean-up of a finished map.
#include <cstdint>

namespace CV::detail {

// Flag bits of one pixel.
constexpr unsigned char kLeftEdge = 1;      // intensity edge in the left image just left of the pixel
constexpr unsigned char kRightEdge = 2;     // intensity edge in the right image just right of the pixel
constexpr unsigned char kVerticalEdge = 4;  // intensity edge along the column

// An intensity range of this many grey levels over three pixels is an edge.
constexpr int kEdgeContrast = 5;

// Writes the flags of one row of W >= 3 pixels: columns 0 .. 2 get
// kRightEdge, then columns W - 3 .. W - 1 get kLeftEdge (for W < 6 the two
// overlap and the latter wins); each column x from 3 to W - 4 gets kLeftEdge
// when the left pixels x - 3 .. x - 1 span kEdgeContrast or more and
// kRightEdge when the right pixels x + 1 .. x + 3 do.
void ScanlineEdgeFlags(const unsigned char* left, const unsigned char* right, int W, unsigned char* flags);

// Vertical smoothing of the map, then kVerticalEdge marks from the left
// image, thinned to runs at least three columns wide. flags is W x H, stride W.
void SmoothAndMarkVerticalEdges(const unsigned char* left, unsigned char* map, int stride, int W, int H,
                                unsigned char* flags);

// Run lengths of equal disparity along columns, propagation of reliable
// disparities along columns up to kVerticalEdge, then the same along rows up
// to kLeftEdge. reliability is W x H int32 work space, stride W.
void PropagateReliableDisparities(unsigned char* map, int stride, int W, int H, const unsigned char* flags,
                                  std::int32_t* reliability, int reliableThreshold, int seedThreshold,
                                  int weakSeedThreshold);

}  // namespace CV::detail
