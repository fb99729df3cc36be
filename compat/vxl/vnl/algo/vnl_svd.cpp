#include <vnl/algo/vnl_svd.h>

#include <Eigen/SVD>
#include <algorithm>
#include <cmath>

template <class T>
vnl_svd<T>::vnl_svd(const vnl_matrix<T>& M, double zero_out_tol)
    : m_(unsigned(M.rows())), n_(unsigned(M.cols())), U_(M.rows(), M.cols()), W_(M.cols()),
      Winverse_(M.cols()), V_(M.cols(), M.cols()), rank_(0) {
  using Mat = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  if (m_ == 0 || n_ == 0) return;
  const Eigen::Map<const Mat> A(M.data_block(), m_, n_);
  // Full V so that a wide matrix (m < n) still has its n right singular vectors; U stays thin.
  Eigen::JacobiSVD<Mat> svd(A, Eigen::ComputeThinU | Eigen::ComputeFullV);
  const auto& s = svd.singularValues();  // descending, min(m, n) of them
  const auto& u = svd.matrixU();
  const auto& v = svd.matrixV();
  const unsigned k = unsigned(s.size());
  for (unsigned i = 0; i < k; ++i) W_[i] = s[i];
  // Columns of U beyond min(m, n) have no singular value behind them: left at zero.
  for (unsigned r = 0; r < m_; ++r)
    for (unsigned c = 0; c < k; ++c) U_(r, c) = u(r, c);
  for (unsigned r = 0; r < n_; ++r)
    for (unsigned c = 0; c < n_; ++c) V_(r, c) = v(r, c);
  if (zero_out_tol >= 0)
    zero_out_absolute(zero_out_tol);
  else
    zero_out_relative(-zero_out_tol);
}

template <class T>
void vnl_svd<T>::zero_out_absolute(double tol) {
  rank_ = unsigned(W_.size());
  for (unsigned k = 0; k < W_.size(); ++k) {
    T& w = W_[k];
    if (std::abs(double(w)) <= tol) {
      Winverse_[k] = T(0);
      w = T(0);
      --rank_;
    } else {
      Winverse_[k] = T(1) / w;
    }
  }
}

template <class T>
void vnl_svd<T>::zero_out_relative(double tol) {
  zero_out_absolute(tol * std::abs(double(sigma_max())));
}

template <class T>
typename vnl_svd<T>::singval_t vnl_svd<T>::determinant_magnitude() const {
  singval_t d(1);
  for (unsigned k = 0; k < W_.size(); ++k) d *= W_[k];
  return d;
}

namespace {

// The sum over the first `rank` k of w_k a_k b_k^T (a_k, b_k the k-th
// columns of A and B): an a.rows x b.rows matrix.
template <class T, class Weights>
vnl_matrix<T> WeightedOuterSum(const vnl_matrix<T>& A, const Weights& w, const vnl_matrix<T>& B, unsigned rank,
                               unsigned rows, unsigned cols) {
  rank = std::min(rank, unsigned(w.size()));
  vnl_matrix<T> r(rows, cols);
  for (unsigned k = 0; k < rank; ++k)
    for (unsigned i = 0; i < rows; ++i) {
      const T aw = A(i, k) * w[k];
      for (unsigned j = 0; j < cols; ++j) r(i, j) += aw * B(j, k);
    }
  return r;
}

}  // namespace

template <class T>
vnl_matrix<T> vnl_svd<T>::recompose(unsigned int rank) const {
  return WeightedOuterSum(U_, W_, V_, rank, m_, n_);
}

template <class T>
vnl_matrix<T> vnl_svd<T>::pinverse(unsigned int rank) const {
  return WeightedOuterSum(V_, Winverse_, U_, rank, n_, m_);
}

template <class T>
vnl_matrix<T> vnl_svd<T>::solve(const vnl_matrix<T>& B) const {
  return pinverse() * B;
}

template <class T>
vnl_vector<T> vnl_svd<T>::solve(const vnl_vector<T>& y) const {
  // V W^+ (U^T y) without forming the pseudo-inverse.
  vnl_vector<T> uty = y * U_;
  for (unsigned k = 0; k < n_; ++k) uty[k] *= Winverse_[k];
  return V_ * uty;
}

template <class T>
void vnl_svd<T>::solve(const T* rhs, T* lhs) const {
  solve(vnl_vector<T>(rhs, m_)).copy_out(lhs);
}

template <class T>
vnl_matrix<T> vnl_svd<T>::nullspace() const {
  return nullspace(n_ - rank_);
}

template <class T>
vnl_matrix<T> vnl_svd<T>::nullspace(unsigned int required_nullspace_dimension) const {
  required_nullspace_dimension = std::min(required_nullspace_dimension, n_);
  return V_.extract(n_, required_nullspace_dimension, 0, n_ - required_nullspace_dimension);
}

template class vnl_svd<float>;
template class vnl_svd<double>;
