#pragma once
// The point conversion split into its checks and its work, so a routine can
// check an output conversion before it writes any of its outputs.
#include <opencv2/core/core_c.h>

namespace cvcompat {
class RoutineErrors;
}

namespace calibmath::detail {

struct PointLayout {
    uchar* data = nullptr;
    int step = 0;
    int depth = 0;
    int elemSize = 0;
    int channels = 1;
    bool pointsAreRows = false;
    int count = 0;
    int dims = 0;
    uchar* Coordinate(int point, int coordinate) const;
};

struct PointConversion {
    bool nothingToDo = false;
    PointLayout src, dst;
};

// Reports through errors (the point conversion's own name) and answers false
// when the conversion is refused.
bool PlanPointConversion(const CvMat* src, const CvMat* dst, const cvcompat::RoutineErrors& errors,
                         PointConversion& plan);
void RunPointConversion(const PointConversion& plan);

}  // namespace calibmath::detail
