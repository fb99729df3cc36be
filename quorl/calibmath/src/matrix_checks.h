#pragma once
// Checks on OpenCV C matrix headers shared by the maths routines.
#include <opencv2/core/core_c.h>

namespace calibmath::detail {

// A non-null header carrying the matrix signature with a positive size and
// data; anything else (an image header, a freed matrix) is not a matrix.
inline bool IsValidMatrix(const CvMat* m) {
    return m != nullptr && (m->type & CV_MAGIC_MASK) == CV_MAT_MAGIC_VAL && m->rows > 0 && m->cols > 0 &&
           m->data.ptr != nullptr;
}

inline bool IsFloatingDepth(int type) {
    const int depth = CV_MAT_DEPTH(type);
    return depth == CV_32F || depth == CV_64F;
}

// Owns a matrix made with cvCreateMat so every return path releases it.
class OwnedMat {
public:
    OwnedMat() = default;
    explicit OwnedMat(CvMat* m) : m_(m) {}
    OwnedMat(const OwnedMat&) = delete;
    OwnedMat& operator=(const OwnedMat&) = delete;
    ~OwnedMat() { reset(); }
    void reset(CvMat* m = nullptr) {
        if (m_) cvReleaseMat(&m_);
        m_ = m;
    }
    CvMat* get() const { return m_; }
    explicit operator bool() const { return m_ != nullptr; }

private:
    CvMat* m_ = nullptr;
};

}  // namespace calibmath::detail
