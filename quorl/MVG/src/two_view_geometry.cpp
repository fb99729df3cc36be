#include "MVG/two_view_geometry.h"

#include <vnl/algo/vnl_svd.h>
#include <vnl/vnl_det.h>
#include <vnl/vnl_matrix.h>
#include <vnl/vnl_random.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

namespace MVG {
namespace {

using Mat3 = vnl_matrix_fixed<float, 3, 3>;

std::atomic<unsigned long> g_ransacSeed{0};

// Row-major 3 x 3 products on plain arrays.
void MulMatVec(const float* M, const float* v, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = M[3 * i] * v[0] + M[3 * i + 1] * v[1] + M[3 * i + 2] * v[2];
}
void MulTransposeVec(const float* M, const float* v, float* out) {
  for (int j = 0; j < 3; ++j) out[j] = M[j] * v[0] + M[3 + j] * v[1] + M[6 + j] * v[2];
}
float Dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Relative(const Camera& first, const Camera& second, Mat3& R, vnl_float_3& T) {
  const Mat3 R1(first.R), R2(second.R);
  R = R2 * R1.transpose();
  const vnl_float_3 T1(first.T[0], first.T[1], first.T[2]);
  const vnl_float_3 T2(second.T[0], second.T[1], second.T[2]);
  T = T2 - R * T1;
}

// Null vector of the m x 9 design matrix of the used correspondences, then
// the nearest matrix with singular values (s, s, 0).
int Linear8Point(const std::vector<float>& p1, const std::vector<float>& p2, float* E) {
  const size_t m = p1.size() / 2;
  // Fewer than 8 rows leave a null space of two or more dimensions: any
  // vector of it would be an arbitrary answer.
  if (m < 8) return -1;
  vnl_matrix<float> A(m, 9);
  for (size_t i = 0; i < m; ++i) {
    const float x1 = p1[2 * i], y1 = p1[2 * i + 1], x2 = p2[2 * i], y2 = p2[2 * i + 1];
    const float row[9] = {x2 * x1, x2 * y1, x2, y2 * x1, y2 * y1, y2, x1, y1, 1.0f};
    A.set_row(i, row);
  }
  const vnl_vector<float> e = vnl_svd<float>(A).nullvector();
  const vnl_matrix<float> E0(e.data_block(), 3, 3);
  const vnl_svd<float> svd(E0);
  const float s = (svd.W(0) + svd.W(1)) / 2;
  const vnl_matrix<float>& U = svd.U();
  const vnl_matrix<float>& V = svd.V();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) E[3 * r + c] = s * (U(r, 0) * V(c, 0) + U(r, 1) * V(c, 1));
  return 0;
}

template <class Used>
int Linear8PointOf(const float* x1, const float* x2, int n, Used used, float* E) {
  std::vector<float> p1, p2;
  p1.reserve(2 * static_cast<size_t>(std::max(n, 0)));
  p2.reserve(p1.capacity());
  for (int i = 0; i < n; ++i) {
    if (!used(i)) continue;
    p1.insert(p1.end(), {x1[2 * i], x1[2 * i + 1]});
    p2.insert(p2.end(), {x2[2 * i], x2[2 * i + 1]});
  }
  return Linear8Point(p1, p2, E);
}

// Both squared point-to-epipolar-line distances below bound, without the
// divisions: r^2 < bound |l|^2 over the line's first two coefficients.
bool IsInlier(const float* E, const float* a, const float* b, float bound) {
  const float x1[3] = {a[0], a[1], 1.0f}, x2[3] = {b[0], b[1], 1.0f};
  float l2[3], l1[3];
  MulMatVec(E, x1, l2);
  MulTransposeVec(E, x2, l1);
  const float r = Dot(x2, l2);
  const float r2 = r * r;
  return r2 < bound * (l2[0] * l2[0] + l2[1] * l2[1]) && r2 < bound * (l1[0] * l1[0] + l1[1] * l1[1]);
}

}  // namespace

int Triangulate_Matlab(float* p1, float* p2, float* X, Camera* pair) {
  float n1[2], n2[2];
  NormalizePoint(p1, n1, &pair[0]);
  NormalizePoint(p2, n2, &pair[1]);
  const float x1[3] = {n1[0], n1[1], 1.0f}, x2[3] = {n2[0], n2[1], 1.0f};
  const float* R = pair[1].R;
  const float* T = pair[1].T;
  // Midpoint of the shortest segment between the ray z1 x1 and the second
  // ray R^T (z2 x2 - T), both in the first camera's frame.
  float y[3];
  MulMatVec(R, x1, y);
  const float E = Dot(x2, y), F = Dot(x2, T), G = Dot(y, T);
  const float A = Dot(x2, x2), B = Dot(x1, x1);
  const float D = 1.0f / (A * B - E * E);
  const float z1 = (E * F - G * A) * D;
  const float z2 = (F * B - E * G) * D;
  const float q[3] = {z2 * x2[0] - T[0], z2 * x2[1] - T[1], z2 * x2[2] - T[2]};
  float back[3];
  MulTransposeVec(R, q, back);
  for (int i = 0; i < 3; ++i) X[i] = (z1 * x1[i] + back[i]) / 2;
  return 0;
}

int Triangulate_Rectified_Matlab(float* p1, float* p2, float* X, Camera* pair) {
  auto normalise = [](const float* p, const Camera& c, float* x) {
    x[1] = (p[1] - c.K[5]) / c.K[4];
    x[0] = (p[0] - c.K[2]) / c.K[0] - c.K[1] * x[1];
    x[2] = 1.0f;
  };
  float x1[3], x2[3];
  normalise(p1, pair[0], x1);
  normalise(p2, pair[1], x2);
  const float* T = pair[1].T;
  const float A = Dot(x1, x1), B = Dot(x2, x2), C = Dot(x1, x2);
  const float a = Dot(x1, T), b = Dot(x2, T);
  const float D = 1.0f / (B * A - C * C);
  const float z1 = (b * C - a * B) * D;
  const float z2 = (b * A - a * C) * D;
  for (int i = 0; i < 3; ++i) X[i] = (z2 * x2[i] - T[i] + z1 * x1[i]) / 2;
  return 0;
}

int Triangulate_LstSqr(float* P1, float* P2, float* x1, float* x2, float* X) {
  vnl_matrix<float> A(4, 4);
  for (int c = 0; c < 4; ++c) {
    A(0, c) = x1[0] * P1[8 + c] - P1[c];
    A(1, c) = x1[1] * P1[8 + c] - P1[4 + c];
    A(2, c) = x2[0] * P2[8 + c] - P2[c];
    A(3, c) = x2[1] * P2[8 + c] - P2[4 + c];
  }
  const vnl_vector<float> v = vnl_svd<float>(A, 1e-10).nullvector();
  for (int i = 0; i < 4; ++i) X[i] = v[i];
  return 0;
}

int IntersectRaysWithPlane(float* pixels, float* points, int n, float* plane, Camera* camera) {
  const float* R = camera->R;
  const float* T = camera->T;
  // Camera centre -R^T T; ray directions R^T (x, y, 1). Double precision
  // keeps grazing rays from losing the point to cancellation.
  double C[3];
  for (int j = 0; j < 3; ++j) C[j] = -(double(R[j]) * T[0] + double(R[3 + j]) * T[1] + double(R[6 + j]) * T[2]);
  const double nC = plane[0] * C[0] + plane[1] * C[1] + plane[2] * C[2] + plane[3];
  int result = 0;
  for (int i = 0; i < n; ++i) {
    float xn[2];
    NormalizePoint(pixels + 2 * i, xn, camera);
    const double x[3] = {xn[0], xn[1], 1.0};
    double d[3];
    for (int j = 0; j < 3; ++j) d[j] = double(R[j]) * x[0] + double(R[3 + j]) * x[1] + double(R[6 + j]) * x[2];
    const double nd = plane[0] * d[0] + plane[1] * d[1] + plane[2] * d[2];
    const double s = -nC / nd;
    float* out = points + 3 * i;
    if (nd == 0.0 || !std::isfinite(s) || s <= 0.0) {
      out[0] = out[1] = out[2] = std::numeric_limits<float>::quiet_NaN();
      result = -1;
      continue;
    }
    for (int j = 0; j < 3; ++j) out[j] = static_cast<float>(C[j] + s * d[j]);
  }
  return result;
}

int RelativeExtrinsics(Camera* pair, vnl_matrix_fixed<float, 3, 3>* R, vnl_float_3* T) {
  Relative(pair[0], pair[1], *R, *T);
  return 0;
}

int GetEssentialMatrix(Camera* first, Camera* second, float* E) {
  Mat3 R;
  vnl_float_3 T;
  Relative(*first, *second, R, T);
  const float tx[9] = {0, -T[2], T[1], T[2], 0, -T[0], -T[1], T[0], 0};
  (Mat3(tx) * R).copy_out(E);
  return 0;
}

int EssentialMatrixComputeLinear8Point(float* x1, float* x2, int n, float* E) {
  return Linear8PointOf(x1, x2, n, [](int) { return true; }, E);
}

int EssentialMatrixComputeLinear8Point(float* x1, float* x2, int n, char* status, float* E) {
  return Linear8PointOf(x1, x2, n, [status](int i) { return status[i] == 1; }, E);
}

int EssentialMatrixComputeLinear8Point(CvPoint2D32f* x1, CvPoint2D32f* x2, int n, char* status, float* E) {
  static_assert(sizeof(CvPoint2D32f) == 2 * sizeof(float), "CvPoint2D32f is a float pair");
  return Linear8PointOf(reinterpret_cast<const float*>(x1), reinterpret_cast<const float*>(x2), n,
                        [status](int i) { return status[i] == 1; }, E);
}

void SetRansacSeedForTesting(unsigned long seed) { g_ransacSeed = seed; }

int EssentialMatrixComputeRANSAC8Point(float* x1, float* x2, int n, char* status, float* E,
                                       float maxSquaredDistance) {
  if (!x1 || !x2 || !status || !E || n < 8) return -1;
  std::vector<int> candidates;
  for (int i = 0; i < n; ++i)
    if (status[i] != 0) candidates.push_back(i);
  // Fewer than 8 candidates can never fill a sample.
  if (candidates.size() < 8) return -1;

  const unsigned long seed = g_ransacSeed;
  vnl_random random;
  if (seed != 0) random.reseed(seed);

  std::vector<char> sampled(static_cast<size_t>(n), 0), inliers(static_cast<size_t>(n)), best(static_cast<size_t>(n), 0);
  int bestCount = 0;
  int limit = 1000;
  float model[9] = {};
  std::vector<float> s1(16), s2(16);
  const double logFailure = std::log(0.01);
  for (int iteration = 0;; ++iteration) {
    std::fill(sampled.begin(), sampled.end(), 0);
    for (int k = 0; k < 8; ++k) {
      int index;
      do index = random.lrand32(0, n - 1);
      while (sampled[static_cast<size_t>(index)] || status[index] == 0);
      sampled[static_cast<size_t>(index)] = 1;
      s1[2 * k] = x1[2 * index];
      s1[2 * k + 1] = x1[2 * index + 1];
      s2[2 * k] = x2[2 * index];
      s2[2 * k + 1] = x2[2 * index + 1];
    }
    Linear8Point(s1, s2, model);

    int count = 0;
    for (int i = 0; i < n; ++i) {
      inliers[static_cast<size_t>(i)] = IsInlier(model, x1 + 2 * i, x2 + 2 * i, maxSquaredDistance) ? 1 : 0;
      count += inliers[static_cast<size_t>(i)];
    }
    if (count > 8 && count > bestCount) {
      best = inliers;
      bestCount = count;
      std::copy(model, model + 9, E);
      // Adaptive bound: enough samples that one of them is all inliers with
      // probability 0.99, given the best inlier share so far.
      const double w = static_cast<double>(count) / n;
      if (w >= 1.0) break;
      const double m = std::log(1.0 - std::pow(w, 8));
      if (m < 0.0) limit = static_cast<int>(std::min<double>(limit, std::ceil(logFailure / m)));
    }
    if (iteration + 1 >= limit) break;
  }

  if (bestCount == 0) {
    std::fill(status, status + n, 0);
    std::copy(model, model + 9, E);
    return -1;
  }
  std::copy(best.begin(), best.end(), status);
  EssentialMatrixComputeLinear8Point(x1, x2, n, status, E);
  return 0;
}

int DecomposeEssentialMatrix(const vnl_matrix_fixed<float, 3, 3>& E, vnl_matrix_fixed<float, 3, 3>& R,
                             vnl_float_3& t, const float* x1, const float* x2) {
  const vnl_svd<float> svd(E.as_matrix());
  Mat3 U(svd.U()), V(svd.V());
  // An SVD may return a reflection in U or V; negating the third column
  // keeps E (its singular value is 0) and makes every candidate a rotation.
  if (vnl_det(U[0], U[1], U[2]) < 0)
    for (int r = 0; r < 3; ++r) U(r, 2) = -U(r, 2);
  if (vnl_det(V[0], V[1], V[2]) < 0)
    for (int r = 0; r < 3; ++r) V(r, 2) = -V(r, 2);
  const float w[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  const Mat3 W(w);
  const Mat3 Vt = V.transpose();
  const Mat3 Ra = U * W * Vt, Rb = U * W.transpose() * Vt;
  const vnl_float_3 u3(U(0, 2), U(1, 2), U(2, 2));
  const struct {
    const Mat3* R;
    float sign;
  } candidates[4] = {{&Ra, 1.0f}, {&Ra, -1.0f}, {&Rb, 1.0f}, {&Rb, -1.0f}};

  float P1[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
  float p1[2] = {x1[0], x1[1]}, p2[2] = {x2[0], x2[1]};
  for (const auto& c : candidates) {
    float P2[12];
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < 3; ++k) P2[4 * r + k] = (*c.R)(r, k);
      P2[4 * r + 3] = c.sign * u3[r];
    }
    float X[4];
    Triangulate_LstSqr(P1, P2, p1, p2, X);
    const float s = X[3] < 0 ? -1.0f : 1.0f;
    const float depth1 = s * X[2];
    const float depth2 = s * (P2[8] * X[0] + P2[9] * X[1] + P2[10] * X[2] + P2[11] * X[3]);
    if (depth1 > 0 && depth2 > 0) {
      R = *c.R;
      t = u3 * c.sign;
      return 1;
    }
  }
  return 0;
}

}  // namespace MVG

int RotationMatrixFromEulerXYZ(float a, float b, float c, float* R) {
  const float sa = static_cast<float>(std::sin(double(a))), ca = static_cast<float>(std::cos(double(a)));
  const float sb = static_cast<float>(std::sin(double(b))), cb = static_cast<float>(std::cos(double(b)));
  const float sc = static_cast<float>(std::sin(double(c))), cc = static_cast<float>(std::cos(double(c)));
  const float r[9] = {cc * cb, cc * sb * sa - sc * ca, cc * sb * ca + sc * sa,
                      sc * cb, sc * sb * sa + cc * ca, sc * sb * ca - cc * sa,
                      -sb,     cb * sa,                cb * ca};
  std::copy(r, r + 9, R);
  return 0;
}

int FitPlane(float* points, int n, float* plane) {
  // Three points are the fewest that fix a plane; n = 0 would divide by 0.
  if (!points || !plane || n < 3) return -1;
  float c[3] = {0, 0, 0};
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) c[k] += points[3 * i + k];
  const float inv = 1.0f / static_cast<float>(n);
  for (float& v : c) v *= inv;
  vnl_matrix<float> A(static_cast<size_t>(n), 3);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) A(i, k) = points[3 * i + k] - c[k];
  const vnl_vector<float> normal = vnl_svd<float>(A).nullvector();
  plane[0] = normal[0];
  plane[1] = normal[1];
  plane[2] = normal[2];
  plane[3] = -(normal[0] * c[0] + normal[1] * c[1] + normal[2] * c[2]);
  return 0;
}
