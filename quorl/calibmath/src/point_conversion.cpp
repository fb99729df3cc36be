#include <cstdlib>

#include <cvcompat/errstatus.h>

#include "calibmath/calibmath.h"
#include "matrix_checks.h"
#include "point_conversion.h"

namespace calibmath {

using namespace detail;

namespace detail {

uchar* PointLayout::Coordinate(int i, int j) const {
    if (pointsAreRows) return data + static_cast<size_t>(i) * step + static_cast<size_t>(j) * elemSize;
    if (channels > 1) return data + (static_cast<size_t>(i) * channels + j) * elemSize;
    return data + static_cast<size_t>(j) * step + static_cast<size_t>(i) * elemSize;
}

// Points are the rows of a matrix with more rows than columns, otherwise its
// columns; the coordinates run over the columns (rows) or the channels, never
// both.
static bool ReadLayout(const CvMat* m, PointLayout& layout) {
    const int cn = CV_MAT_CN(m->type);
    layout.data = m->data.ptr;
    layout.step = m->step;
    layout.depth = CV_MAT_DEPTH(m->type);
    layout.elemSize = static_cast<int>(CV_ELEM_SIZE1(m->type));
    layout.channels = cn;
    if (m->rows > m->cols) {
        layout.pointsAreRows = true;
        layout.count = m->rows;
        layout.dims = cn * m->cols;
        return (m->cols > 1) != (cn > 1);
    }
    layout.pointsAreRows = false;
    layout.count = m->cols;
    layout.dims = cn * m->rows;
    return (m->rows > 1) != (cn > 1);
}

bool PlanPointConversion(const CvMat* src, const CvMat* dst, const cvcompat::RoutineErrors& errors,
                         PointConversion& plan) {
    plan.nothingToDo = false;
    if (!IsValidMatrix(src))
        return errors.Fail(src ? CV_StsBadArg : CV_StsNullPtr, "The input parameter is not a valid matrix", __LINE__),
               false;
    if (!IsValidMatrix(dst))
        return errors.Fail(dst ? CV_StsBadArg : CV_StsNullPtr, "The output parameter is not a valid matrix",
                           __LINE__),
               false;
    if (src == dst) return plan.nothingToDo = true;
    if (src->data.ptr == dst->data.ptr) {
        if (CV_MAT_TYPE(src->type) == CV_MAT_TYPE(dst->type) && src->rows == dst->rows && src->cols == dst->cols)
            return plan.nothingToDo = true;
        return errors.Fail(CV_StsBadArg, "Invalid inplace operation", __LINE__), false;
    }
    if (!ReadLayout(src, plan.src))
        return errors.Fail(CV_StsBadSize, "Either the number of channels or columns or rows must be =1", __LINE__),
               false;
    if (!ReadLayout(dst, plan.dst))
        return errors.Fail(CV_StsBadSize,
                           "Either the number of channels or columns or rows in the output matrix must be =1",
                           __LINE__),
               false;
    if (plan.src.count != plan.dst.count)
        return errors.Fail(CV_StsUnmatchedSizes, "Both matrices must have the same number of points", __LINE__),
               false;
    if (!IsFloatingDepth(src->type) || !IsFloatingDepth(dst->type))
        return errors.Fail(CV_StsUnsupportedFormat,
                           "Both matrices must be floating-point (single or double precision)", __LINE__),
               false;
    if (plan.src.dims < 2 || plan.src.dims > 4 || plan.dst.dims < 2 || plan.dst.dims > 4)
        return errors.Fail(CV_StsOutOfRange, "Both input and output point dimensionality must be 2, 3 or 4",
                           __LINE__),
               false;
    if (std::abs(plan.src.dims - plan.dst.dims) > 1)
        return errors.Fail(CV_StsUnmatchedSizes, "The dimensionalities of input and output point sets differ too much",
                           __LINE__),
               false;
    return true;
}

void RunPointConversion(const PointConversion& plan) {
    if (plan.nothingToDo) return;
    const PointLayout& s = plan.src;
    const PointLayout& d = plan.dst;
    double p[4];
    for (int i = 0; i < s.count; ++i) {
        for (int j = 0; j < s.dims; ++j) p[j] = ReadAt(s.Coordinate(i, j), s.depth);
        if (d.dims == s.dims + 1) {
            p[s.dims] = 1;
        } else if (d.dims + 1 == s.dims) {
            // A point at infinity keeps its coordinates rather than dividing by 0.
            if (d.depth == CV_32F) {
                // Single precision throughout, as a conversion to the
                // destination's type first would give.
                const float wf = static_cast<float>(p[d.dims]);
                const float iw = 1.0f / (wf == 0 ? 1.0f : wf);
                for (int j = 0; j < d.dims; ++j) p[j] = static_cast<float>(p[j]) * iw;
            } else {
                const double iw = 1.0 / (p[d.dims] == 0 ? 1.0 : p[d.dims]);
                for (int j = 0; j < d.dims; ++j) p[j] *= iw;
            }
        }
        for (int j = 0; j < d.dims; ++j) WriteAt(d.Coordinate(i, j), d.depth, p[j]);
    }
}

}  // namespace detail

void ConvertPointsHomogenious(const CvMat* src, CvMat* dst, const char* source) {
    const cvcompat::RoutineErrors errors("Quorl_cvConvertPointsHomogenious", source);
    PointConversion plan;
    if (PlanPointConversion(src, dst, errors, plan)) RunPointConversion(plan);
}

}  // namespace calibmath
