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

namespace calibmath::detail {

// Element access by depth; the routines compute in double and store in the
// caller's precision.
inline double ReadAt(const uchar* p, int depth) {
    return depth == CV_64F ? *reinterpret_cast<const double*>(p) : *reinterpret_cast<const float*>(p);
}
inline void WriteAt(uchar* p, int depth, double v) {
    if (depth == CV_64F)
        *reinterpret_cast<double*>(p) = v;
    else
        *reinterpret_cast<float*>(p) = static_cast<float>(v);
}

// The k-th of the elements of a one-row or one-column matrix (channels
// counted as elements): consecutive along a row, one row step apart down a
// column.
inline uchar* VectorElement(const CvMat* m, int k) {
    const int depth = CV_MAT_DEPTH(m->type);
    const int esz = depth == CV_64F ? 8 : 4;
    if (m->rows == 1) return m->data.ptr + static_cast<size_t>(k) * esz;
    return m->data.ptr + static_cast<size_t>(k) * m->step;
}

inline double ReadVector(const CvMat* m, int k) { return ReadAt(VectorElement(m, k), CV_MAT_DEPTH(m->type)); }
inline void WriteVector(CvMat* m, int k, double v) { WriteAt(VectorElement(m, k), CV_MAT_DEPTH(m->type), v); }

// Element (i, j) of a one-channel matrix.
inline uchar* MatElement(const CvMat* m, int i, int j) {
    const int esz = CV_MAT_DEPTH(m->type) == CV_64F ? 8 : 4;
    return m->data.ptr + static_cast<size_t>(i) * m->step + static_cast<size_t>(j) * esz;
}
inline double ReadMat(const CvMat* m, int i, int j) { return ReadAt(MatElement(m, i, j), CV_MAT_DEPTH(m->type)); }
inline void WriteMat(CvMat* m, int i, int j, double v) { WriteAt(MatElement(m, i, j), CV_MAT_DEPTH(m->type), v); }

}  // namespace calibmath::detail
