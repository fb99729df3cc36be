#include "calibration/board_geometry.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core/core_c.h>

namespace {

Vec3d Cross(const Vec3d& a, const Vec3d& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec3d& a, const Vec3d& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm(const Vec3d& a) { return std::sqrt(Dot(a, a)); }
Vec3d Scale(const Vec3d& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
Vec3d Add(const Vec3d& a, const Vec3d& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3d Sub(const Vec3d& a, const Vec3d& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3d Dehomogenise(const Vec3d& a) { return Scale(a, 1.0 / a[2]); }

// Normalised corners are of order 1, so an absolute tolerance tells a real
// triangle from three points on one line.
constexpr double kCollinear = 1e-12;

// The left singular vector of the smallest singular value of the 3 x 2
// matrix [a b]: the line through two points, or the point on two lines.
Vec3d NullVector(const Vec3d& a, const Vec3d& b) {
    CvMat* A = cvCreateMat(3, 2, CV_64FC1);
    CvMat* W = cvCreateMat(3, 2, CV_64FC1);
    CvMat* U = cvCreateMat(3, 3, CV_64FC1);
    CvMat* V = cvCreateMat(2, 2, CV_64FC1);
    for (int i = 0; i < 3; ++i) {
        cvmSet(A, i, 0, a[i]);
        cvmSet(A, i, 1, b[i]);
    }
    cvSVD(A, W, U, V, CV_SVD_MODIFY_A);
    const Vec3d n{cvmGet(U, 0, 2), cvmGet(U, 1, 2), cvmGet(U, 2, 2)};
    cvReleaseMat(&A);
    cvReleaseMat(&W);
    cvReleaseMat(&U);
    cvReleaseMat(&V);
    return n;
}

Vec3d RemoveComponent(const Vec3d& line, const Vec3d& vp) { return Sub(line, Scale(vp, Dot(vp, line) / Dot(vp, vp))); }

// Least-squares solution of the 2 x 2 system through its pseudo-inverse;
// singular values of exactly 0 are left out.
void SolvePseudoInverse(const double A[4], const double b[2], double x[2]) {
    double copy[4] = {A[0], A[1], A[2], A[3]};
    double w[2], u[4], v[4];
    CvMat Am = cvMat(2, 2, CV_64FC1, copy), Wm = cvMat(2, 1, CV_64FC1, w);
    CvMat Um = cvMat(2, 2, CV_64FC1, u), Vm = cvMat(2, 2, CV_64FC1, v);
    cvSVD(&Am, &Wm, &Um, &Vm, 0);
    // x = V diag(1 / w) U^T b
    double y[2];
    for (int i = 0; i < 2; ++i) {
        const double projected = u[0 * 2 + i] * b[0] + u[1 * 2 + i] * b[1];
        y[i] = w[i] != 0.0 ? projected / w[i] : 0.0;
    }
    x[0] = v[0] * y[0] + v[1] * y[1];
    x[1] = v[2] * y[0] + v[3] * y[1];
}

// Sides parallel to working precision meet at infinity. Left as the SVD
// gives it, the rounding noise of a square-on board turns into an arbitrary
// finite "focal length" instead of the infinite one the geometry implies.
Vec3d AtInfinityWhenParallel(Vec3d unitPoint) {
    if (std::abs(unitPoint[2]) < 1e-12) unitPoint[2] = 0.0;
    return unitPoint;
}

bool FinitePositive(double v) { return std::isfinite(v) && v > 0.0; }

}  // namespace

double* HomographyFromFourPoints(double H[9], const double c[8]) {
    const double cx = (c[0] + c[2] + c[4] + c[6]) * 0.25, cy = (c[1] + c[3] + c[5] + c[7]) * 0.25;
    const double sx = (std::abs(c[0] - cx) + std::abs(c[2] - cx) + std::abs(c[4] - cx) + std::abs(c[6] - cx)) * 0.25;
    const double sy = (std::abs(c[1] - cy) + std::abs(c[3] - cy) + std::abs(c[5] - cy) + std::abs(c[7] - cy)) * 0.25;
    if (!(sx > 0.0) || !(sy > 0.0)) return nullptr;
    Vec3d q[4];
    for (int i = 0; i < 4; ++i) q[i] = {(c[2 * i] - cx) / sx, (c[2 * i + 1] - cy) / sy, 1.0};
    // Coincident corners make three of them collinear too.
    const int triples[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
    for (const auto& t : triples)
        if (!(std::abs(Dot(Cross(q[t[0]], q[t[1]]), q[t[2]])) > kCollinear)) return nullptr;

    const Vec3d L01 = Cross(q[0], q[1]), L32 = Cross(q[3], q[2]);
    const Vec3d L03 = Cross(q[0], q[3]), L12 = Cross(q[1], q[2]);
    const Vec3d VP1 = Cross(L01, L32), VP2 = Cross(L03, L12);
    const double n1 = Norm(VP1), n2 = Norm(VP2);
    if (!(n1 > 0.0) || !(n2 > 0.0)) return nullptr;
    const Vec3d g1 = Scale(VP1, 1.0 / n1), g2 = Scale(VP2, 1.0 / n2);
    const double denominatorAlpha = q[1][0] * g1[1] - q[1][1] * g1[0];
    const double denominatorBeta = q[3][0] * g2[1] - q[3][1] * g2[0];
    if (denominatorAlpha == 0.0 || denominatorBeta == 0.0) return nullptr;
    const double alpha = L01[2] / denominatorAlpha, beta = L03[2] / denominatorBeta;

    // H = Tinv [alpha g1 | beta g2 | q0], Tinv = [sx 0 cx; 0 sy cy; 0 0 1].
    const Vec3d columns[3] = {Scale(g1, alpha), Scale(g2, beta), q[0]};
    double out[9];
    for (int j = 0; j < 3; ++j) {
        const Vec3d& h = columns[j];
        out[0 + j] = sx * h[0] + cx * h[2];
        out[3 + j] = sy * h[1] + cy * h[2];
        out[6 + j] = h[2];
    }
    if (!std::all_of(out, out + 9, [](double v) { return std::isfinite(v); })) return nullptr;
    std::copy(out, out + 9, H);
    return H;
}

void PlaneEdgesFromCorners(Vec3d p0, Vec3d p1, Vec3d p2, Vec3d p3, Vec3d& e1, Vec3d& e2) {
    const Vec3d VP1 = Cross(Cross(p0, p1), Cross(p3, p2));
    const Vec3d VP2 = Cross(Cross(p1, p2), Cross(p0, p3));
    Vec3d N = Cross(VP1, VP2);
    if (N[2] < 0.0) N = Scale(N, -1.0);
    N = Scale(N, 1.0 / Norm(N));
    const Vec3d q0 = Scale(p0, 1.0 / Dot(N, p0));
    const Vec3d q1 = Scale(p1, 1.0 / Dot(N, p1));
    const Vec3d q3 = Scale(p3, 1.0 / Dot(N, p3));
    e1 = Scale(Sub(q1, q0), 1.0 / q0[2]);
    e2 = Scale(Sub(q3, q0), 1.0 / q0[2]);
}

void MakeSquareFromCorners(Vec3d p0, Vec3d p1, Vec3d p2, Vec3d p3, double width, double height, Vec3d& S0,
                           Vec3d& S1, Vec3d& S2, Vec3d& S3) {
    Vec3d e1, e2;
    PlaneEdgesFromCorners(p0, p1, p2, p3, e1, e2);
    const double s = std::sqrt(height / width);
    const Vec3d a = p0, b = Add(p0, Scale(e1, s)), c = Add(b, Scale(e2, 1.0 / s)), d = Add(p0, Scale(e2, 1.0 / s));
    S0 = Dehomogenise(a);
    S1 = Dehomogenise(b);
    S2 = Dehomogenise(c);
    S3 = Dehomogenise(d);
}

double EstimateScaleFromCorners(double x0, double y0, double x1, double y1, double x2, double y2, double x3,
                                double y3, double k, double width, double height) {
    const double cx[4] = {x0, x1, x2, x3}, cy[4] = {y0, y1, y2, y3};
    double Sx = 1.0, Sy = 1.0;
    Vec3d w[4];
    for (int i = 0; i < 4; ++i) w[i] = {cx[i], cy[i], 1.0};
    for (int pass = 0; pass < 100; ++pass) {
        Vec3d L03 = NullVector(w[0], w[3]), L12 = NullVector(w[1], w[2]);
        Vec3d L01 = NullVector(w[0], w[1]), L23 = NullVector(w[2], w[3]);
        const Vec3d VP1 = AtInfinityWhenParallel(NullVector(L03, L12));
        const Vec3d VP2 = AtInfinityWhenParallel(NullVector(L01, L23));
        L03 = RemoveComponent(L03, VP1);
        L12 = RemoveComponent(L12, VP1);
        L01 = RemoveComponent(L01, VP2);
        L23 = RemoveComponent(L23, VP2);
        const Vec3d m0 = Dehomogenise(Cross(L01, L03)), m1 = Dehomogenise(Cross(L01, L12));
        const Vec3d m2 = Dehomogenise(Cross(L23, L12)), m3 = Dehomogenise(Cross(L23, L03));
        Vec3d S0, S1, S2, S3;
        MakeSquareFromCorners(m0, m1, m2, m3, width, height, S0, S1, S2, S3);
        const Vec3d h = Cross(VP1, VP2);
        Vec3d VP3 = Cross(Cross(S0, S2), h), VP4 = Cross(Cross(S1, S3), h);
        VP3 = Scale(VP3, 1.0 / Norm(VP3));
        VP4 = Scale(VP4, 1.0 / Norm(VP4));
        // The image of the absolute conic diag(w1, w2, 1): VP1 _|_ VP2 and
        // VP3 _|_ VP4.
        const double A[4] = {VP1[0] * VP2[0], VP1[1] * VP2[1], VP3[0] * VP4[0], VP3[1] * VP4[1]};
        const double b[2] = {-VP1[2] * VP2[2], -VP3[2] * VP4[2]};
        double omega[2];
        SolvePseudoInverse(A, b, omega);
        const double fx = std::sqrt(std::abs(1.0 / omega[0])), fy = std::sqrt(std::abs(1.0 / omega[1]));
        Sx *= fx;
        Sy *= fy;
        if (!FinitePositive(fx) || !FinitePositive(fy) || !FinitePositive(Sx) || !FinitePositive(Sy)) return 0.0;
        for (int i = 0; i < 4; ++i) {
            const double X = cx[i] / Sx, Y = cy[i] / Sy;
            const double r2 = X * X + Y * Y;
            // As the only caller uses it (k = 0); the form is kept as given.
            const double d = 1.0 + k * r2 / (1.0 + k * r2);
            w[i] = {X / d, Y / d, 1.0};
        }
    }
    return (Sx + Sy) * 0.5;
}
