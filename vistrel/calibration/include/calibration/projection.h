#pragma once
// Pinhole projection with radial (k1, k2) and tangential (p1, p2)
// distortion, and its Jacobians (2N rows, u then v per point).
#include <opencv2/core/core_c.h>

void Quorl_cvProjectPoints2(const CvMat* objectPoints, const CvMat* rotation, const CvMat* translation,
                            const CvMat* intrinsics, const CvMat* distortion, CvMat* imagePoints,
                            CvMat* dpdrot = nullptr, CvMat* dpdt = nullptr, CvMat* dpdf = nullptr,
                            CvMat* dpdc = nullptr, CvMat* dpdk = nullptr);
