#pragma once
// N-dimensional thin-plate spline: trained on M scattered samples (a
// position and a value each) with a smoothing parameter lambda, then
// evaluated anywhere. Positions are normalised per dimension to [0, 1] as
// (x - lo) scale, with scale = 1 / (hi - lo), or 1 where a dimension's
// samples are all equal (that dimension then makes the affine part singular
// and training fails). Kernel U(s) = s ln s of a squared distance s > 0.

namespace MVG {

class phknDspline {
 public:
  phknDspline();
  ~phknDspline();
  // Copies own their arrays.
  phknDspline(const phknDspline& other);
  phknDspline& operator=(const phknDspline& other);

  // Frees everything and resets every field to null or 0.
  void clean();
  // clean, then room for N dimensions; training needs it first.
  void init(int N);
  // positions: N arrays of M coordinates; values: M sample values. Returns 1
  // on success, 0 without init, with no samples, or when a matrix is
  // singular (lambda 0 with two equal positions, a constant dimension); a
  // failed train leaves the spline untrained. A new train replaces the last.
  int train(int M, double** positions, double* values, double lambda);
  // The value at an N-dimensional position; NaN until a train has succeeded.
  double operator()(double* x);

 protected:
  void allocate_argument();
  // Gauss-Jordan inversion in place with full pivoting of n rows given by
  // pointer; 0 (A unchanged) when a pivot is exactly 0. The row pointers
  // themselves are left as they are.
  int inverse(int n, double** A);
  // Squared distance between normalised samples i and j.
  double distancesquare(long i, long j);
  // Squared distance between normalised sample i and the position x.
  double distancesquare(long i, double* x);

  double** X;  // N arrays of M normalised coordinates
  double* w;   // M kernel weights; null while untrained
  double* a;   // N + 1 affine coefficients, a[0] the constant
  int N;
  int M;
  int reserved;  // 0; nothing reads it
  double* lo;
  double* hi;
  double* scale;

 private:
  void release_training();
  void copy_from(const phknDspline& other);
};

}  // namespace MVG
