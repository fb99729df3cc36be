#include "calibration/rotation.h"

#include <calibmath/calibmath.h>

#include "calibration/error_source.h"

int Quorl_cvRodrigues2(const CvMat* src, CvMat* dst, CvMat* jacobian) {
    return calibmath::Rodrigues2(src, dst, jacobian, calibration::kErrorSource);
}
