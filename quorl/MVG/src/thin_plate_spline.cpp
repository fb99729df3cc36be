#include "MVG/thin_plate_spline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace MVG {
namespace {

double Kernel(double s) { return s > 0.0 ? s * std::log(s) : 0.0; }

// A dense row-major matrix with the row-pointer view that inverse() takes.
struct Matrix {
  int rows, cols;
  std::vector<double> data;
  std::vector<double*> row;
  Matrix(int r, int c) : rows(r), cols(c), data(static_cast<size_t>(r) * c, 0.0), row(static_cast<size_t>(r)) {
    for (int i = 0; i < r; ++i) row[static_cast<size_t>(i)] = data.data() + static_cast<size_t>(i) * c;
  }
  double& operator()(int i, int j) { return row[static_cast<size_t>(i)][j]; }
};

double* CopyArray(const double* src, int n) {
  if (!src || n <= 0) return nullptr;
  double* out = new double[static_cast<size_t>(n)];
  std::copy(src, src + n, out);
  return out;
}

}  // namespace

phknDspline::phknDspline()
    : X(nullptr), w(nullptr), a(nullptr), N(0), M(0), reserved(0), lo(nullptr), hi(nullptr), scale(nullptr) {}

phknDspline::~phknDspline() { clean(); }

phknDspline::phknDspline(const phknDspline& other) : phknDspline() { copy_from(other); }

phknDspline& phknDspline::operator=(const phknDspline& other) {
  if (this != &other) {
    clean();
    copy_from(other);
  }
  return *this;
}

void phknDspline::copy_from(const phknDspline& other) {
  N = other.N;
  M = other.M;
  reserved = other.reserved;
  lo = CopyArray(other.lo, N);
  hi = CopyArray(other.hi, N);
  scale = CopyArray(other.scale, N);
  if (other.X) {
    X = new double*[static_cast<size_t>(N)];
    for (int d = 0; d < N; ++d) X[d] = CopyArray(other.X[d], M);
  }
  w = CopyArray(other.w, M);
  a = CopyArray(other.a, N + 1);
}

void phknDspline::release_training() {
  if (X)
    for (int d = 0; d < N; ++d) {
      delete[] X[d];
      X[d] = nullptr;
    }
  delete[] w;
  delete[] a;
  w = a = nullptr;
  M = 0;
}

void phknDspline::clean() {
  release_training();
  delete[] X;
  delete[] lo;
  delete[] hi;
  delete[] scale;
  X = nullptr;
  lo = hi = scale = nullptr;
  N = M = reserved = 0;
}

void phknDspline::init(int n) {
  clean();
  N = n;
  allocate_argument();
}

void phknDspline::allocate_argument() {
  if (N <= 0) return;
  X = new double*[static_cast<size_t>(N)]();
  lo = new double[static_cast<size_t>(N)]();
  hi = new double[static_cast<size_t>(N)]();
  scale = new double[static_cast<size_t>(N)]();
}

double phknDspline::distancesquare(long i, long j) {
  double s = 0.0;
  for (int d = 0; d < N; ++d) {
    const double diff = X[d][i] - X[d][j];
    s += diff * diff;
  }
  return s;
}

double phknDspline::distancesquare(long i, double* x) {
  double s = 0.0;
  for (int d = 0; d < N; ++d) {
    const double diff = X[d][i] - (x[d] - lo[d]) * scale[d];
    s += diff * diff;
  }
  return s;
}

int phknDspline::train(int m, double** positions, double* values, double lambda) {
  if (!X || N <= 0) return 0;
  // The last training goes first, so a failure below leaves an untrained
  // spline and nothing leaks.
  release_training();
  if (m <= 0 || !positions || !values) return 0;
  M = m;
  reserved = 0;
  for (int d = 0; d < N; ++d) {
    X[d] = new double[static_cast<size_t>(M)];
    lo[d] = 1e38;
    hi[d] = -1e38;
    scale[d] = 1.0;
  }
  for (int d = 0; d < N; ++d) {
    for (int i = 0; i < M; ++i) {
      lo[d] = std::min(lo[d], positions[d][i]);
      hi[d] = std::max(hi[d], positions[d][i]);
    }
    if (hi[d] != lo[d]) scale[d] = 1.0 / (hi[d] - lo[d]);
    for (int i = 0; i < M; ++i) X[d][i] = (positions[d][i] - lo[d]) * scale[d];
  }

  const int A = N + 1;
  Matrix K(M, M), P(M, A);
  for (int i = 0; i < M; ++i) {
    K(i, i) = lambda;
    for (int j = i + 1; j < M; ++j) K(i, j) = K(j, i) = Kernel(distancesquare(i, j));
    P(i, 0) = 1.0;
    for (int d = 0; d < N; ++d) P(i, 1 + d) = X[d][i];
  }
  if (!inverse(M, K.row.data())) {
    release_training();
    return 0;
  }
  // Q = P^T K^-1, S = Q P.
  Matrix Q(A, M), S(A, A);
  for (int r = 0; r < A; ++r)
    for (int c = 0; c < M; ++c) {
      double s = 0.0;
      for (int k = 0; k < M; ++k) s += P(k, r) * K(k, c);
      Q(r, c) = s;
    }
  for (int r = 0; r < A; ++r)
    for (int c = 0; c < A; ++c) {
      double s = 0.0;
      for (int k = 0; k < M; ++k) s += Q(r, k) * P(k, c);
      S(r, c) = s;
    }
  if (!inverse(A, S.row.data())) {
    release_training();
    return 0;
  }
  std::vector<double> qv(static_cast<size_t>(A), 0.0), residual(static_cast<size_t>(M));
  for (int r = 0; r < A; ++r)
    for (int k = 0; k < M; ++k) qv[static_cast<size_t>(r)] += Q(r, k) * values[k];
  a = new double[static_cast<size_t>(A)];
  for (int r = 0; r < A; ++r) {
    double s = 0.0;
    for (int k = 0; k < A; ++k) s += S(r, k) * qv[static_cast<size_t>(k)];
    a[r] = s;
  }
  for (int i = 0; i < M; ++i) {
    double s = values[i];
    for (int k = 0; k < A; ++k) s -= P(i, k) * a[k];
    residual[static_cast<size_t>(i)] = s;
  }
  w = new double[static_cast<size_t>(M)];
  for (int i = 0; i < M; ++i) {
    double s = 0.0;
    for (int k = 0; k < M; ++k) s += K(i, k) * residual[static_cast<size_t>(k)];
    w[i] = s;
  }
  return 1;
}

double phknDspline::operator()(double* x) {
  if (!w || !a || !X) return std::numeric_limits<double>::quiet_NaN();
  double value = a[0];
  for (int d = 0; d < N; ++d) value += a[1 + d] * (x[d] - lo[d]) * scale[d];
  for (int i = 0; i < M; ++i) value += w[i] * Kernel(distancesquare(i, x));
  return value;
}

int phknDspline::inverse(int n, double** A) {
  if (n <= 0) return 1;
  // Worked on a copy with its own row pointers: the caller's pointers stay
  // in their order and A is written only on success.
  Matrix work(n, n);
  for (int i = 0; i < n; ++i) std::copy(A[i], A[i] + n, work.row[static_cast<size_t>(i)]);
  double** m = work.row.data();
  std::vector<int> used(static_cast<size_t>(n), 0), rowOf(static_cast<size_t>(n)), colOf(static_cast<size_t>(n));
  for (int step = 0; step < n; ++step) {
    double big = 0.0;
    int prow = 0, pcol = 0;
    for (int j = 0; j < n; ++j) {
      if (used[static_cast<size_t>(j)]) continue;
      for (int k = 0; k < n; ++k)
        if (!used[static_cast<size_t>(k)] && std::fabs(m[j][k]) > big) {
          big = std::fabs(m[j][k]);
          prow = j;
          pcol = k;
        }
    }
    // Only an exact zero counts as singular.
    if (big == 0.0) return 0;
    used[static_cast<size_t>(pcol)] = 1;
    if (prow != pcol) std::swap(m[prow], m[pcol]);
    rowOf[static_cast<size_t>(step)] = prow;
    colOf[static_cast<size_t>(step)] = pcol;
    const double pivinv = 1.0 / m[pcol][pcol];
    m[pcol][pcol] = 1.0;
    for (int k = 0; k < n; ++k) m[pcol][k] *= pivinv;
    for (int r = 0; r < n; ++r) {
      if (r == pcol) continue;
      const double h = m[r][pcol];
      m[r][pcol] = 0.0;
      for (int k = 0; k < n; ++k) m[r][k] -= h * m[pcol][k];
    }
  }
  for (int step = n - 1; step >= 0; --step) {
    const int r = rowOf[static_cast<size_t>(step)], c = colOf[static_cast<size_t>(step)];
    if (r != c)
      for (int k = 0; k < n; ++k) std::swap(m[k][r], m[k][c]);
  }
  for (int i = 0; i < n; ++i) std::copy(m[i], m[i] + n, A[i]);
  return 1;
}

}  // namespace MVG
