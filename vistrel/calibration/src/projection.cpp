#include "calibration/projection.h"

#include <calibmath/calibmath.h>

#include "calibration/error_source.h"
#include "calibration/point_conversion.h"

void Quorl_cvConvertPointsHomogenious(const CvMat* src, CvMat* dst) {
    calibmath::ConvertPointsHomogenious(src, dst, calibration::kErrorSource);
}

void Quorl_cvProjectPoints2(const CvMat* objectPoints, const CvMat* rotation, const CvMat* translation,
                            const CvMat* intrinsics, const CvMat* distortion, CvMat* imagePoints, CvMat* dpdrot,
                            CvMat* dpdt, CvMat* dpdf, CvMat* dpdc, CvMat* dpdk) {
    calibmath::ProjectPoints2(objectPoints, rotation, translation, intrinsics, distortion, imagePoints, dpdrot, dpdt,
                              dpdf, dpdc, dpdk, calibration::kErrorSource);
}
