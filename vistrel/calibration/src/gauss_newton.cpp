#include "calibration/gauss_newton.h"

#include <calibmath/calibmath.h>

#include "calibration/error_source.h"

void Quorl_icvGaussNewton(const CvMat* J, const CvMat* err, CvMat* delta, CvMat* JtJ, CvMat* JtErr, CvMat* JtJW,
                          CvMat* JtJV) {
    calibmath::GaussNewton(J, err, delta, JtJ, JtErr, JtJW, JtJV, calibration::kErrorSource);
}
