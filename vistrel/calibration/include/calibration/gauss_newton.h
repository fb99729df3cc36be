#pragma once
// One Gauss-Newton step: delta is the least-squares solution of
// (J^T J) delta = J^T err. Work matrices may be null (created with J's type).
#include <opencv2/core/core_c.h>

void Quorl_icvGaussNewton(const CvMat* J, const CvMat* err, CvMat* delta, CvMat* JtJ = nullptr,
                          CvMat* JtErr = nullptr, CvMat* JtJW = nullptr, CvMat* JtJV = nullptr);
