#pragma once
// Euclidean <-> homogeneous point sets of dimension 2, 3 or 4, in any of the
// layouts N x d, d x N, 1 x N or N x 1 with d channels.
#include <opencv2/core/core_c.h>

void Quorl_cvConvertPointsHomogenious(const CvMat* src, CvMat* dst);
