#include "calibration/camera_calibration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include <cvcompat/errstatus.h>
#include <opencv2/core.hpp>

#include "calibration/error_source.h"
#include "calibration/gauss_newton.h"
#include "calibration/homography.h"
#include "calibration/projection.h"
#include "calibration/rotation.h"
#include "all_finite.h"

namespace {

using cvcompat::RoutineErrors;

// ---- matrix access -------------------------------------------------------

bool IsMatrix(const CvMat* m) {
    return m != nullptr && CV_IS_MAT(m) && m->rows > 0 && m->cols > 0 && m->data.ptr != nullptr;
}

bool IsFloating(const CvMat* m) { return CV_MAT_DEPTH(m->type) == CV_32F || CV_MAT_DEPTH(m->type) == CV_64F; }

int RowElements(const CvMat* m) { return m->cols * CV_MAT_CN(m->type); }
int Elements(const CvMat* m) { return m->rows * RowElements(m); }

// Element j of row i, channels counted as elements; floating matrices only.
double Get(const CvMat* m, int i, int j) {
    const uchar* p = m->data.ptr + static_cast<size_t>(i) * m->step;
    return CV_MAT_DEPTH(m->type) == CV_64F ? reinterpret_cast<const double*>(p)[j]
                                           : reinterpret_cast<const float*>(p)[j];
}
void Set(CvMat* m, int i, int j, double v) {
    uchar* p = m->data.ptr + static_cast<size_t>(i) * m->step;
    if (CV_MAT_DEPTH(m->type) == CV_64F)
        reinterpret_cast<double*>(p)[j] = v;
    else
        reinterpret_cast<float*>(p)[j] = static_cast<float>(v);
}
// The k-th element in row-major order.
double GetFlat(const CvMat* m, int k) { return Get(m, k / RowElements(m), k % RowElements(m)); }
void SetFlat(CvMat* m, int k, double v) { Set(m, k / RowElements(m), k % RowElements(m), v); }

// A vector of n elements in any of 1 x n, n x 1 or one element of n channels.
bool IsVectorOf(const CvMat* m, int n) {
    return IsMatrix(m) && IsFloating(m) && Elements(m) == n && (m->rows == 1 || RowElements(m) == 1);
}
bool Is3x3(const CvMat* m) {
    return IsMatrix(m) && IsFloating(m) && m->rows == 3 && m->cols == 3 && CV_MAT_CN(m->type) == 1;
}

// Point sets: points are the rows of a matrix with more rows than columns,
// otherwise its columns; coordinates run over the columns (rows) or over
// the channels, never both. Returned as count x 3 doubles; two-dimensional
// points get z = 0, so a board given as 2-D points lies on z = 0.
struct PointSet {
    int count = 0;
    int dims = 0;
    std::vector<double> xyz;
    std::vector<double> xy;  // two-dimensional view: x and y only
};

bool ReadPointSet(const CvMat* m, PointSet& out) {
    if (!IsMatrix(m) || !IsFloating(m)) return false;
    const int cn = CV_MAT_CN(m->type);
    const bool rowsArePoints = m->rows > m->cols;
    const int other = rowsArePoints ? m->cols : m->rows;
    if ((other > 1) == (cn > 1)) return false;
    out.count = rowsArePoints ? m->rows : m->cols;
    out.dims = cn * other;
    if (out.dims < 2 || out.dims > 3) return false;
    out.xyz.assign(static_cast<size_t>(out.count) * 3, 0.0);
    out.xy.assign(static_cast<size_t>(out.count) * 2, 0.0);
    for (int i = 0; i < out.count; ++i)
        for (int d = 0; d < out.dims; ++d) {
            double v;
            if (rowsArePoints)
                v = Get(m, i, d);
            else if (cn > 1)
                v = Get(m, 0, i * cn + d);
            else
                v = Get(m, d, i);
            out.xyz[3 * i + d] = v;
            if (d < 2) out.xy[2 * i + d] = v;
        }
    return true;
}

// ---- small 3-vector and 3x3 helpers --------------------------------------

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<double, 9>;  // row-major

Vec3 Mul(const Mat3& R, const Vec3& x) {
    return {R[0] * x[0] + R[1] * x[1] + R[2] * x[2], R[3] * x[0] + R[4] * x[1] + R[5] * x[2],
            R[6] * x[0] + R[7] * x[1] + R[8] * x[2]};
}
Mat3 Mul(const Mat3& A, const Mat3& B) {
    Mat3 C{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) C[3 * i + j] += A[3 * i + k] * B[3 * k + j];
    return C;
}
double Det(const Mat3& A) {
    return A[0] * (A[4] * A[8] - A[5] * A[7]) - A[1] * (A[3] * A[8] - A[5] * A[6]) +
           A[2] * (A[3] * A[7] - A[4] * A[6]);
}
using calibration_detail::AllFinite;

// Rotation vector <-> matrix through the calibration core's conversion.
Mat3 MatrixOf(Vec3 r) {
    Mat3 R{};
    RodriguesVnl(R.data(), r.data(), 1);
    return R;
}
Vec3 VectorOf(Mat3 R) {
    Vec3 r{};
    RodriguesVnl(R.data(), r.data(), 0);
    return r;
}

// The rotation nearest to A (Frobenius), with a positive determinant.
Mat3 NearestRotation(const Mat3& A) {
    cv::Mat a(3, 3, CV_64F, const_cast<double*>(A.data())), w, u, vt;
    cv::SVD::compute(a, w, u, vt, cv::SVD::FULL_UV);
    cv::Mat R = u * vt;
    if (cv::determinant(R) < 0) R = u * cv::Mat::diag(cv::Mat(cv::Vec3d(1, 1, -1))) * vt;
    Mat3 out;
    for (int k = 0; k < 9; ++k) out[k] = R.at<double>(k / 3, k % 3);
    return out;
}

// ---- pose of one view ------------------------------------------------------

struct Intrinsics {
    double fx, fy, cx, cy;
};

// Planar start: the plane's own frame, its homography to the normalised
// points and the rotation it implies.
bool PlanarStart(const std::vector<double>& M, const std::vector<double>& n, int count, const Vec3& Mc,
                 const cv::Mat& vt, const RoutineErrors& errors, Vec3& r, Vec3& t) {
    Mat3 Rt;
    for (int k = 0; k < 9; ++k) Rt[k] = vt.at<double>(k / 3, k % 3);
    if (Rt[2] * Rt[2] + Rt[5] * Rt[5] < 1e-10) Rt = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (Det(Rt) < 0)
        for (double& v : Rt) v = -v;
    const Vec3 RMc = Mul(Rt, Mc);
    const Vec3 Tt{-RMc[0], -RMc[1], -RMc[2]};

    std::vector<double> plane(static_cast<size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        const Vec3 p = Mul(Rt, Vec3{M[3 * i], M[3 * i + 1], M[3 * i + 2]});
        plane[2 * i] = p[0] + Tt[0];
        plane[2 * i + 1] = p[1] + Tt[1];
    }
    double h[9];
    CvMat source = cvMat(1, count, CV_64FC2, plane.data());
    CvMat destination = cvMat(1, count, CV_64FC2, const_cast<double*>(n.data()));
    CvMat H = cvMat(3, 3, CV_64F, h);
    if (!errors.Call([&] { FindHomographyLmq(&source, &destination, &H); }, __LINE__)) return false;

    const double n1 = std::sqrt(h[0] * h[0] + h[3] * h[3] + h[6] * h[6]);
    const double n2 = std::sqrt(h[1] * h[1] + h[4] * h[4] + h[7] * h[7]);
    const double s = 2.0 / (n1 + n2);
    for (double& v : h) v *= s;
    const double r1n = std::sqrt(h[0] * h[0] + h[3] * h[3] + h[6] * h[6]);
    const Vec3 r1{h[0] / r1n, h[3] / r1n, h[6] / r1n};
    const double along = r1[0] * h[1] + r1[1] * h[4] + r1[2] * h[7];
    const Vec3 r2{h[1] - along * r1[0], h[4] - along * r1[1], h[7] - along * r1[2]};
    const Vec3 r3{r1[1] * r2[2] - r1[2] * r2[1], r1[2] * r2[0] - r1[0] * r2[2], r1[0] * r2[1] - r1[1] * r2[0]};
    const Mat3 R0{r1[0], r2[0], r3[0], r1[1], r2[1], r3[1], r1[2], r2[2], r3[2]};
    const Mat3 R = MatrixOf(VectorOf(R0));
    const Vec3 RTt = Mul(R, Tt);
    t = {h[2] + RTt[0], h[5] + RTt[1], h[8] + RTt[2]};
    r = VectorOf(Mul(R, Rt));
    return true;
}

// Linear start for points that span space: the 3 x 4 matrix P with
// n ~ P (M, 1) from the SVD of the DLT system on centred, scaled points;
// its left 3 x 3 block taken to the nearest rotation and the overall sign
// chosen so that the points lie in front of the camera.
void LinearStart(const std::vector<double>& M, const std::vector<double>& n, int count, const Vec3& Mc, Vec3& r,
                 Vec3& t) {
    double spread = 0.0;
    for (int i = 0; i < count; ++i)
        for (int d = 0; d < 3; ++d) spread += (M[3 * i + d] - Mc[d]) * (M[3 * i + d] - Mc[d]);
    const double s = std::sqrt(spread / count);  // > 0: the points are not coincident
    cv::Mat L(2 * count, 12, CV_64F, cv::Scalar(0));
    for (int i = 0; i < count; ++i) {
        const double X = (M[3 * i] - Mc[0]) / s, Y = (M[3 * i + 1] - Mc[1]) / s, Z = (M[3 * i + 2] - Mc[2]) / s;
        const double x = n[2 * i], y = n[2 * i + 1];
        const double a[12] = {X, Y, Z, 1, 0, 0, 0, 0, -x * X, -x * Y, -x * Z, -x};
        const double b[12] = {0, 0, 0, 0, X, Y, Z, 1, -y * X, -y * Y, -y * Z, -y};
        std::copy(a, a + 12, L.ptr<double>(2 * i));
        std::copy(b, b + 12, L.ptr<double>(2 * i + 1));
    }
    cv::Mat w, u, vt;
    cv::SVD::compute(L.t() * L, w, u, vt, cv::SVD::FULL_UV);
    double P[12];
    for (int k = 0; k < 12; ++k) P[k] = vt.at<double>(11, k);
    // In front: the third row's depth of the (centred) points is positive.
    if (P[11] < 0)
        for (double& v : P) v = -v;
    // Back to the caller's coordinates: P' = P [I / s, -Mc / s; 0, 1].
    Mat3 A{P[0], P[1], P[2], P[4], P[5], P[6], P[8], P[9], P[10]};
    for (double& v : A) v /= s;
    const Vec3 AMc = Mul(A, Mc);
    const Vec3 b{P[3] - AMc[0], P[7] - AMc[1], P[11] - AMc[2]};
    cv::Mat a(3, 3, CV_64F, A.data());
    const double scale = cv::sum(cv::SVD(a, cv::SVD::NO_UV).w)[0] / 3.0;
    const Mat3 R = NearestRotation(A);
    r = VectorOf(R);
    t = {b[0] / scale, b[1] / scale, b[2] / scale};
}

// Gauss-Newton refinement of (rotation vector, translation), at most 20
// iterations.
bool RefinePose(const std::vector<double>& M, const std::vector<double>& m, int count, const CvMat* a,
                const CvMat* k, const RoutineErrors& errors, Vec3& r, Vec3& t) {
    std::vector<double> projected(2 * static_cast<size_t>(count)), dpdrot(6 * static_cast<size_t>(count)),
        dpdt(6 * static_cast<size_t>(count));
    CvMat object = cvMat(1, count, CV_64FC3, const_cast<double*>(M.data()));
    CvMat image = cvMat(1, count, CV_64FC2, projected.data());
    CvMat Jr = cvMat(2 * count, 3, CV_64F, dpdrot.data()), Jt = cvMat(2 * count, 3, CV_64F, dpdt.data());
    cv::Mat J(2 * count, 6, CV_64F), err(2 * count, 1, CV_64F);
    double param[6] = {r[0], r[1], r[2], t[0], t[1], t[2]};
    for (int iteration = 0; iteration < 20; ++iteration) {
        CvMat rv = cvMat(3, 1, CV_64F, param), tv = cvMat(3, 1, CV_64F, param + 3);
        if (!errors.Call([&] { Quorl_cvProjectPoints2(&object, &rv, &tv, a, k, &image, &Jr, &Jt); }, __LINE__))
            return false;
        for (int i = 0; i < 2 * count; ++i) {
            double* row = J.ptr<double>(i);
            for (int c = 0; c < 3; ++c) {
                row[c] = dpdrot[3 * i + c];
                row[3 + c] = dpdt[3 * i + c];
            }
            err.at<double>(i) = m[i] - projected[i];
        }
        const cv::Mat JtJ = J.t() * J, JtErr = J.t() * err;
        const cv::SVD svd(JtJ, cv::SVD::FULL_UV);
        if (svd.w.at<double>(5) < svd.w.at<double>(0) * 1e-12) break;
        cv::Mat delta;
        svd.backSubst(JtErr, delta);
        for (int p = 0; p < 6; ++p) param[p] += delta.at<double>(p);
        if (cv::norm(delta) < cv::norm(cv::Mat(6, 1, CV_64F, param)) * 1e-10) break;
    }
    r = {param[0], param[1], param[2]};
    t = {param[3], param[4], param[5]};
    return true;
}

// The pose of one view from object points (count x 3) and pixel points
// (count x 2). Reports under errors and answers false on failure.
bool EstimatePose(const std::vector<double>& M, const std::vector<double>& m, int count, const Intrinsics& K,
                  const double* distortion, const RoutineErrors& errors, Vec3& r, Vec3& t) {
    if (count < 4) return errors.Fail(CV_StsBadSize, "At least 4 points are needed for a pose", __LINE__), false;
    double kd[4] = {0, 0, 0, 0};
    if (distortion) std::copy(distortion, distortion + 4, kd);

    std::vector<double> n(2 * static_cast<size_t>(count));
    Vec3 Mc{0, 0, 0};
    for (int i = 0; i < count; ++i) {
        const double x0 = (m[2 * i] - K.cx) / K.fx, y0 = (m[2 * i + 1] - K.cy) / K.fy;
        double x = x0, y = y0;
        if (distortion)
            for (int it = 0; it < 20; ++it) {
                const double r2 = x * x + y * y;
                const double icdist = 1.0 / (1.0 + kd[0] * r2 + kd[1] * r2 * r2);
                const double dx = 2 * kd[2] * x * y + kd[3] * (r2 + 2 * x * x);
                const double dy = kd[2] * (r2 + 2 * y * y) + 2 * kd[3] * x * y;
                x = (x0 - dx) * icdist;
                y = (y0 - dy) * icdist;
            }
        n[2 * i] = x;
        n[2 * i + 1] = y;
        for (int d = 0; d < 3; ++d) Mc[d] += M[3 * i + d];
    }
    for (double& v : Mc) v /= count;

    cv::Mat MM(3, 3, CV_64F, cv::Scalar(0));
    for (int i = 0; i < count; ++i) {
        const cv::Vec3d d(M[3 * i] - Mc[0], M[3 * i + 1] - Mc[1], M[3 * i + 2] - Mc[2]);
        MM += cv::Mat(d * d.t());
    }
    cv::Mat W, U, Vt;
    cv::SVD::compute(MM, W, U, Vt, cv::SVD::FULL_UV);
    const double w0 = W.at<double>(0), w1 = W.at<double>(1), w2 = W.at<double>(2);
    // Points on one line (or one point) fix no pose; the planarity ratio
    // below would divide by nothing.
    if (!(w1 > 1e-10 * w0))
        return errors.Fail(CV_StsBadArg, "The object points are collinear or coincident", __LINE__), false;

    Vec3 r0, t0;
    if (w2 / w1 < 1e-3) {
        if (!PlanarStart(M, n, count, Mc, Vt, errors, r0, t0)) return false;
    } else {
        if (count < 6)
            return errors.Fail(CV_StsBadSize, "At least 6 points are needed for a non-planar object", __LINE__),
                   false;
        LinearStart(M, n, count, Mc, r0, t0);
    }

    double a[9] = {K.fx, 0, K.cx, 0, K.fy, K.cy, 0, 0, 1};
    CvMat matA = cvMat(3, 3, CV_64F, a), matK = cvMat(4, 1, CV_64F, kd);
    if (!RefinePose(M, m, count, &matA, &matK, errors, r0, t0)) return false;
    if (!AllFinite(r0.data(), 3) || !AllFinite(t0.data(), 3))
        return errors.Fail(CV_StsNoConv, "The pose could not be estimated", __LINE__), false;
    r = r0;
    t = t0;
    return true;
}

void WriteVector3(CvMat* out, const Vec3& v) {
    for (int k = 0; k < 3; ++k) SetFlat(out, k, v[k]);
}

// ---- initial intrinsics -----------------------------------------------------

// Checked sizes of a pointCounts matrix: one int row or column.
bool ReadPointCounts(const CvMat* pointCounts, std::vector<int>& counts) {
    if (!IsMatrix(pointCounts) || CV_MAT_TYPE(pointCounts->type) != CV_32SC1 ||
        (pointCounts->rows != 1 && pointCounts->cols != 1))
        return false;
    const int views = pointCounts->rows + pointCounts->cols - 1;
    counts.resize(static_cast<size_t>(views));
    for (int v = 0; v < views; ++v)
        counts[v] = pointCounts->rows == 1 ? pointCounts->data.i[v]
                                           : *reinterpret_cast<const int*>(pointCounts->data.ptr +
                                                                           static_cast<size_t>(v) * pointCounts->step);
    return true;
}

long long Sum(const std::vector<int>& counts) {
    long long total = 0;
    for (int c : counts) total += c;
    return total;
}

// The closed form itself, on checked inputs: obj count x 2 plane points,
// img count x 2 pixels.
bool InitIntrinsics(const std::vector<double>& obj, const std::vector<double>& img, const std::vector<int>& counts,
                    int width, int height, double aspectRatio, const RoutineErrors& errors, double A[9]) {
    const int views = static_cast<int>(counts.size());
    const double cx = (width - 1) * 0.5, cy = (height - 1) * 0.5;
    cv::Mat matA(2 * views, 2, CV_64F), b(2 * views, 1, CV_64F), f(2, 1, CV_64F);
    size_t position = 0;
    for (int v = 0; v < views; ++v) {
        const int count = counts[v];
        double h[9];
        CvMat M = cvMat(1, count, CV_64FC2, const_cast<double*>(obj.data() + 2 * position));
        CvMat m = cvMat(1, count, CV_64FC2, const_cast<double*>(img.data() + 2 * position));
        CvMat H = cvMat(3, 3, CV_64F, h);
        if (!errors.Call([&] { Quorl_cvFindHomography(&M, &m, &H); }, __LINE__)) return false;
        position += static_cast<size_t>(count);
        h[0] -= h[6] * cx, h[1] -= h[7] * cx, h[2] -= h[8] * cx;
        h[3] -= h[6] * cy, h[4] -= h[7] * cy, h[5] -= h[8] * cy;
        double e[3] = {h[0], h[3], h[6]}, g[3] = {h[1], h[4], h[7]}, s[3], w[3];
        for (int k = 0; k < 3; ++k) s[k] = (e[k] + g[k]) * 0.5, w[k] = (e[k] - g[k]) * 0.5;
        for (double* vec : {e, g, s, w}) {
            const double length = std::sqrt(vec[0] * vec[0] + vec[1] * vec[1] + vec[2] * vec[2]);
            for (int k = 0; k < 3; ++k) vec[k] /= length;
        }
        matA.at<double>(2 * v, 0) = e[0] * g[0];
        matA.at<double>(2 * v, 1) = e[1] * g[1];
        b.at<double>(2 * v) = -e[2] * g[2];
        matA.at<double>(2 * v + 1, 0) = s[0] * w[0];
        matA.at<double>(2 * v + 1, 1) = s[1] * w[1];
        b.at<double>(2 * v + 1) = -s[2] * w[2];
    }
    CvMat cA = cvMat(matA), cb = cvMat(b), cf = cvMat(f);
    if (!errors.Call([&] { Quorl_icvGaussNewton(&cA, &cb, &cf); }, __LINE__)) return false;
    // Every view parallel to the image plane leaves the system without a
    // solution: f comes out 0 (or not a number) and fx would be infinite.
    // Computed homographies leave rounding noise in b (about 1e-36 against
    // 1e-6 for a board tilted by 10 degrees), which must count as zero too.
    const bool noRightHandSide = cv::norm(b, cv::NORM_INF) <= 1e-15 * cv::norm(matA, cv::NORM_INF);
    const double f0 = noRightHandSide ? 0.0 : f.at<double>(0), f1 = noRightHandSide ? 0.0 : f.at<double>(1);
    if (!(f0 != 0.0 && f1 != 0.0 && std::isfinite(f0) && std::isfinite(f1)))
        return errors.Fail(CV_StsBadArg,
                           "The views fix no focal length (every board parallel to the image plane?)", __LINE__),
               false;
    double fx = std::sqrt(std::fabs(1.0 / f0)), fy = std::sqrt(std::fabs(1.0 / f1));
    if (aspectRatio != 0.0) {
        const double tt = (fx + fy) / (aspectRatio + 1.0);
        fx = aspectRatio * tt;
        fy = tt;
    }
    if (!std::isfinite(fx) || !std::isfinite(fy) || !(fx > 0.0) || !(fy > 0.0))
        return errors.Fail(CV_StsBadArg, "The views fix no focal length", __LINE__), false;
    const double out[9] = {fx, 0, cx, 0, fy, cy, 0, 0, 1};
    std::copy(out, out + 9, A);
    return true;
}

// Both point sets of the intrinsics routine: three-channel and two-channel
// single rows.
bool CheckInitPointSets(const CvMat* objectPoints, const CvMat* imagePoints, const RoutineErrors& errors) {
    if (!IsMatrix(objectPoints) || !IsMatrix(imagePoints) || !IsFloating(objectPoints) ||
        !IsFloating(imagePoints) || CV_MAT_CN(objectPoints->type) != 3 || CV_MAT_CN(imagePoints->type) != 2)
        return errors.Fail(CV_StsUnsupportedFormat, "Both object points and image points must be 2D", __LINE__),
               false;
    if (objectPoints->rows != 1 || imagePoints->rows != 1)
        return errors.Fail(CV_StsBadSize, "object points and image points must be a single-row matrices", __LINE__),
               false;
    return true;
}

}  // namespace

void MakePlanarObjectPoints(double* points, int squaresX, int squaresY, double squareSizeX, double squareSizeY,
                            int viewCount) {
    if (!points || squaresX < 1 || squaresY < 1 || viewCount < 1) return;
    const size_t block = 3 * static_cast<size_t>(squaresX) * squaresY;
    double* p = points;
    for (int i = squaresY - 1; i >= 0; --i)
        for (int j = 0; j < squaresX; ++j) {
            *p++ = j * squareSizeX;
            *p++ = i * squareSizeY;
            *p++ = 0.0;
        }
    for (int v = 1; v < viewCount; ++v) std::copy(points, points + block, points + v * block);
}

void MakePlanarObjectPointsFromSettings(double* points, const CalibrationObjectSettings& s, int viewCount) {
    MakePlanarObjectPoints(points, s.squaresX, s.squaresY, s.squareSizeX, s.squareSizeY, viewCount);
}

void Quorl_icvInitIntrinsicParams2D(const CvMat* objectPoints, const CvMat* imagePoints, const CvMat* pointCounts,
                                    int width, int height, CvMat* intrinsics, double aspectRatio) {
    const RoutineErrors errors("Quorl_icvInitIntrinsicParams2D", calibration::kErrorSource);
    if (!CheckInitPointSets(objectPoints, imagePoints, errors)) return;
    std::vector<int> counts;
    if (!ReadPointCounts(pointCounts, counts))
        return errors.Fail(CV_StsBadArg, "pointCounts must be a single row or column of 32-bit integers", __LINE__);
    if (!Is3x3(intrinsics)) return errors.Fail(CV_StsBadArg, "The intrinsic matrix must be 3 x 3", __LINE__);
    for (int c : counts)
        if (c < 4) return errors.Fail(CV_StsOutOfRange, "Every view needs at least 4 points", __LINE__);
    if (Sum(counts) > objectPoints->cols || Sum(counts) > imagePoints->cols)
        return errors.Fail(CV_StsBadSize, "The point sets hold fewer points than pointCounts adds up to", __LINE__);
    PointSet obj, img;
    ReadPointSet(objectPoints, obj);
    ReadPointSet(imagePoints, img);
    double A[9];
    if (!InitIntrinsics(obj.xy, img.xy, counts, width, height, aspectRatio, errors, A)) return;
    for (int k = 0; k < 9; ++k) Set(intrinsics, k / 3, k % 3, A[k]);
}

void Quorl_cvFindExtrinsicCameraParams2(const CvMat* objectPoints, const CvMat* imagePoints, const CvMat* intrinsics,
                                        const CvMat* distortion, CvMat* rotationVector, CvMat* translation) {
    const RoutineErrors errors("Quorl_cvFindExtrinsicCameraParams2", calibration::kErrorSource);
    if (!IsMatrix(objectPoints) || !IsMatrix(imagePoints) || !IsMatrix(intrinsics) || !IsMatrix(rotationVector) ||
        !IsMatrix(translation))
        return errors.Fail(CV_StsBadArg, "One of required arguments is not a valid matrix", __LINE__);
    PointSet obj, img;
    if (!ReadPointSet(objectPoints, obj) || !ReadPointSet(imagePoints, img) || img.dims != 2)
        return errors.Fail(CV_StsUnsupportedFormat, "Object points must be 2D or 3D and image points 2D", __LINE__);
    if (obj.count != img.count)
        return errors.Fail(CV_StsUnmatchedSizes, "Numbers of object and image points do not match", __LINE__);
    if (!Is3x3(intrinsics)) return errors.Fail(CV_StsBadSize, "The intrinsic matrix must be 3 x 3", __LINE__);
    if (!IsVectorOf(rotationVector, 3) || !IsVectorOf(translation, 3))
        return errors.Fail(CV_StsBadSize, "Rotation vector and translation must hold 3 elements each", __LINE__);
    double k[4];
    if (distortion) {
        if (!IsMatrix(distortion) || !IsFloating(distortion) || (Elements(distortion) != 4 && Elements(distortion) != 5) ||
            (distortion->rows != 1 && RowElements(distortion) != 1))
            return errors.Fail(CV_StsBadSize, "Distortion must hold 4 elements", __LINE__);
        for (int i = 0; i < 4; ++i) k[i] = GetFlat(distortion, i);
    }
    const Intrinsics K{Get(intrinsics, 0, 0), Get(intrinsics, 1, 1), Get(intrinsics, 0, 2), Get(intrinsics, 1, 2)};
    const double entries[4] = {K.fx, K.fy, K.cx, K.cy};
    if (!(K.fx != 0.0 && K.fy != 0.0 && AllFinite(entries, 4)))
        return errors.Fail(CV_StsOutOfRange, "Focal length (fx and fy) must be non-zero and finite", __LINE__);
    Vec3 r, t;
    if (!EstimatePose(obj.xyz, img.xy, obj.count, K, distortion ? k : nullptr, errors, r, t)) return;
    WriteVector3(rotationVector, r);
    WriteVector3(translation, t);
}

namespace {

// Where view v's rotation or translation elements go.
struct PoseOutput {
    CvMat* m = nullptr;
    bool matrices = false;
    int Row(int v) const { return m->rows == 1 ? 0 : v; }
    int Offset(int v) const { return m->rows == 1 ? 3 * v : 0; }
};

bool PlanPoseOutput(CvMat* m, int views, bool allowMatrices, PoseOutput& out) {
    out.m = m;
    if (!m) return true;
    if (!IsMatrix(m) || !IsFloating(m)) return false;
    out.matrices = allowMatrices && m->rows == views && RowElements(m) == 9;
    if (out.matrices) return true;
    if (m->rows == 1) return RowElements(m) >= 3 * views;
    return m->rows >= views && RowElements(m) >= 3;
}

}  // namespace

void Quorl_cvCalibrateCamera2(const CvMat* objectPoints, const CvMat* imagePoints, const CvMat* pointCounts,
                              int width, int height, CvMat* intrinsics, CvMat* distortion, CvMat* rotations,
                              CvMat* translations, int flags) {
    const RoutineErrors errors("Quorl_cvCalibrateCamera2", calibration::kErrorSource);
    std::vector<int> counts;
    if (!ReadPointCounts(pointCounts, counts))
        return errors.Fail(CV_StsBadArg, "pointCounts must be a single row or column of 32-bit integers", __LINE__);
    const int views = static_cast<int>(counts.size());
    PoseOutput rotationOut, translationOut;
    if (!PlanPoseOutput(rotations, views, true, rotationOut))
        return errors.Fail(CV_StsBadSize, "The rotations have room for fewer views than pointCounts holds", __LINE__);
    if (!PlanPoseOutput(translations, views, false, translationOut))
        return errors.Fail(CV_StsBadSize, "The translations have room for fewer views than pointCounts holds",
                           __LINE__);
    for (int v = 0; v < views; ++v)
        if (counts[v] < 4) {
            char message[64];
            std::snprintf(message, sizeof message, "The number of points in the view #%d is <4", v);
            return errors.Fail(CV_StsOutOfRange, message, __LINE__);
        }
    const long long total = Sum(counts);

    PointSet obj, img;
    if (!IsMatrix(objectPoints) || !IsMatrix(imagePoints) || !ReadPointSet(objectPoints, obj) ||
        !ReadPointSet(imagePoints, img) || img.dims != 2)
        return errors.Fail(CV_StsUnsupportedFormat, "Object points must be 2D or 3D and image points 2D", __LINE__);
    if (obj.count < total || img.count < total)
        return errors.Fail(CV_StsBadSize, "The point sets hold fewer points than pointCounts adds up to", __LINE__);
    if (!Is3x3(intrinsics)) return errors.Fail(CV_StsBadArg, "The intrinsic matrix must be 3 x 3", __LINE__);
    if (!IsMatrix(distortion) || !IsFloating(distortion) ||
        (Elements(distortion) != 4 && Elements(distortion) != 5) ||
        (distortion->rows != 1 && RowElements(distortion) != 1))
        return errors.Fail(CV_StsBadArg, "Distortion must hold 4 elements", __LINE__);

    double A[9];
    if (flags & kCalibUseIntrinsicGuess) {
        for (int k = 0; k < 9; ++k) A[k] = Get(intrinsics, k / 3, k % 3);
        if (!(A[0] > 0) || !(A[4] > 0))
            return errors.Fail(CV_StsOutOfRange, "Focal length (fx and fy) must be positive", __LINE__);
        if (!(A[2] >= 0 && A[2] < width && A[5] >= 0 && A[5] < height))
            return errors.Fail(CV_StsOutOfRange, "Principal point must be within the image", __LINE__);
        if (!(std::fabs(A[1]) <= 1e-5))
            return errors.Fail(CV_StsOutOfRange, "Non-zero skew is not supported by the function", __LINE__);
        if (!(std::fabs(A[3]) <= 1e-5 && std::fabs(A[6]) <= 1e-5 && std::fabs(A[7]) <= 1e-5 &&
              std::fabs(A[8] - 1) <= 1e-5))
            return errors.Fail(CV_StsOutOfRange, "The intrinsic matrix must have [fx 0 cx; 0 fy cy; 0 0 1] shape",
                               __LINE__);
        A[1] = A[3] = A[6] = A[7] = 0;
        A[8] = 1;
    } else {
        if (obj.dims == 3) {
            double mean = 0, sq = 0;
            for (long long i = 0; i < total; ++i) mean += obj.xyz[3 * i + 2];
            mean /= static_cast<double>(total);
            for (long long i = 0; i < total; ++i) sq += (obj.xyz[3 * i + 2] - mean) * (obj.xyz[3 * i + 2] - mean);
            const double deviation = std::sqrt(sq / static_cast<double>(total));
            if ((std::fabs(mean) > 1e-5 && std::fabs(mean - 1) > 1e-5) || !(deviation <= 1e-5))
                return errors.Fail(CV_StsBadArg,
                                   "For non-planar calibration rigs the initial intrinsic matrix must be specified",
                                   __LINE__);
        }
        for (long long i = 0; i < total; ++i) obj.xyz[3 * i + 2] = 0.0;
        double aspectRatio = 0.0;
        if (flags & kCalibFixAspectRatio) {
            aspectRatio = Get(intrinsics, 0, 0) / Get(intrinsics, 1, 1);
            if (!(aspectRatio >= 0.01 && aspectRatio <= 100))
                return errors.Fail(CV_StsOutOfRange, "The specified aspect ratio (=a(0,0)/a(1,1)) is incorrect",
                                   __LINE__);
        }
        CvMat M = cvMat(1, static_cast<int>(total), CV_64FC3, obj.xyz.data());
        CvMat m = cvMat(1, static_cast<int>(total), CV_64FC2, img.xy.data());
        CvMat matA = cvMat(3, 3, CV_64F, A);
        if (!errors.Call(
                [&] { Quorl_icvInitIntrinsicParams2D(&M, &m, pointCounts, width, height, &matA, aspectRatio); },
                __LINE__))
            return;
    }

    // Every view's pose from the closed-form K and zero distortion; nothing
    // is written until all views have one.
    const Intrinsics K{A[0], A[4], A[2], A[5]};
    const double zero[4] = {0, 0, 0, 0};
    std::vector<Vec3> r(static_cast<size_t>(views)), t(static_cast<size_t>(views));
    size_t position = 0;
    for (int v = 0; v < views; ++v) {
        const size_t count = static_cast<size_t>(counts[v]);
        const std::vector<double> M(obj.xyz.begin() + 3 * position, obj.xyz.begin() + 3 * (position + count));
        const std::vector<double> m(img.xy.begin() + 2 * position, img.xy.begin() + 2 * (position + count));
        const RoutineErrors inner("Quorl_cvFindExtrinsicCameraParams2", calibration::kErrorSource);
        if (!errors.Call([&] { EstimatePose(M, m, counts[v], K, zero, inner, r[v], t[v]); }, __LINE__)) return;
        position += count;
    }

    for (int k = 0; k < 9; ++k) Set(intrinsics, k / 3, k % 3, A[k]);
    for (int k = 0; k < Elements(distortion); ++k) SetFlat(distortion, k, 0.0);
    for (int v = 0; v < views; ++v) {
        if (rotationOut.m) {
            if (rotationOut.matrices) {
                const Mat3 R = MatrixOf(r[v]);
                for (int k = 0; k < 9; ++k) Set(rotationOut.m, v, k, R[k]);
            } else {
                for (int k = 0; k < 3; ++k) Set(rotationOut.m, rotationOut.Row(v), rotationOut.Offset(v) + k, r[v][k]);
            }
        }
        if (translationOut.m)
            for (int k = 0; k < 3; ++k)
                Set(translationOut.m, translationOut.Row(v), translationOut.Offset(v) + k, t[v][k]);
    }
}
