#include "calibmath/calibmath.h"
#include "matrix_checks.h"

#include <cvcompat/errstatus.h>

namespace calibmath {

using detail::IsValidMatrix;
using detail::OwnedMat;

void GaussNewton(const CvMat* J, const CvMat* err, CvMat* delta, CvMat* JtJ, CvMat* JtErr, CvMat* JtJW,
                 CvMat* JtJV, const char* source) {
    const cvcompat::RoutineErrors errors("Quorl_icvGaussNewton", source);
    if (!IsValidMatrix(J) || !IsValidMatrix(err) || !IsValidMatrix(delta))
        return errors.Fail(CV_StsBadArg, "Some of required arguments is not a valid matrix", __LINE__);

    const int n = J->cols;
    const int type = CV_MAT_TYPE(J->type);
    OwnedMat ownJtJ, ownJtErr, ownJtJW, ownJtJV;
    struct Work {
        CvMat*& given;
        OwnedMat& owned;
        int rows, cols;
        const char* message;
    } work[] = {
        {JtJ, ownJtJ, n, n, "JtJ is not a valid matrix"},
        {JtErr, ownJtErr, n, 1, "JtErr is not a valid matrix"},
        {JtJW, ownJtJW, n, 1, "JtJW is not a valid matrix"},
        {JtJV, ownJtJV, n, n, "JtJV is not a valid matrix"},
    };
    for (Work& w : work) {
        if (w.given == nullptr) {
            if (!errors.Call([&] { w.owned.reset(cvCreateMat(w.rows, w.cols, type)); }, __LINE__)) return;
            w.given = w.owned.get();
        } else if (!IsValidMatrix(w.given)) {
            return errors.Fail(CV_StsBadArg, w.message, __LINE__);
        }
    }

    errors.Call(
        [&] {
            cvMulTransposed(J, JtJ, 1);
            cvGEMM(J, err, 1, nullptr, 0, JtErr, CV_GEMM_A_T);
            cvSVD(JtJ, JtJW, nullptr, JtJV, CV_SVD_MODIFY_A + CV_SVD_V_T);
            cvSVBkSb(JtJW, JtJV, JtJV, JtErr, delta, CV_SVD_U_T + CV_SVD_V_T);
        },
        __LINE__);
}

}  // namespace calibmath
