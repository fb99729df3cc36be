// vnl_svd<T>: singular value decomposition M = U W V^T of an m x n matrix, VXL's layout:
// U is m x n, W is n x n diagonal with the singular values in descending order, V is n x n.
// Instantiated for float and double.
#pragma once

#include <vnl/vnl_diag_matrix.h>
#include <vnl/vnl_matrix.h>
#include <vnl/vnl_vector.h>

template <class T>
class vnl_svd {
 public:
  using singval_t = T;

  // Singular values with magnitude <= zero_out_tol are set to zero (and left out of the
  // inverse); a negative value zeroes those below -zero_out_tol times the largest.
  explicit vnl_svd(const vnl_matrix<T>& M, double zero_out_tol = 0.0);

  vnl_matrix<T>& U() { return U_; }
  const vnl_matrix<T>& U() const { return U_; }
  T U(unsigned int i, unsigned int j) const { return U_(i, j); }
  vnl_diag_matrix<singval_t>& W() { return W_; }
  const vnl_diag_matrix<singval_t>& W() const { return W_; }
  singval_t& W(unsigned int i) { return W_[i]; }
  singval_t W(unsigned int i) const { return W_[i]; }
  singval_t W(unsigned int i, unsigned int j) const { return W_(i, j); }
  vnl_matrix<T>& V() { return V_; }
  const vnl_matrix<T>& V() const { return V_; }
  T V(unsigned int i, unsigned int j) const { return V_(i, j); }
  // 1 / W with the zeroed values left at 0.
  const vnl_diag_matrix<singval_t>& Winverse() const { return Winverse_; }

  singval_t sigma_max() const { return W_.size() ? W_[0] : singval_t(0); }
  singval_t sigma_min() const { return W_.size() ? W_[W_.size() - 1] : singval_t(0); }
  unsigned int rank() const { return rank_; }
  singval_t well_condition() const { return sigma_max() == singval_t(0) ? singval_t(0) : sigma_min() / sigma_max(); }
  singval_t determinant_magnitude() const;
  singval_t norm() const { return sigma_max(); }
  // Always true: the decomposition here cannot fail to converge.
  bool valid() const { return true; }

  void zero_out_absolute(double tol);
  void zero_out_relative(double tol);

  // U W V^T over the first rank singular values (all by default).
  vnl_matrix<T> recompose(unsigned int rank = ~0u) const;
  // The pseudo-inverse V W^+ U^T (n x m), over the singular values that were not zeroed.
  vnl_matrix<T> inverse() const { return pinverse(); }
  vnl_matrix<T> pinverse(unsigned int rank = ~0u) const;
  // The transpose of the pseudo-inverse.
  vnl_matrix<T> tinverse(unsigned int rank = ~0u) const { return pinverse(rank).transpose(); }
  // Least-squares solutions of M x = b through the pseudo-inverse.
  vnl_matrix<T> solve(const vnl_matrix<T>& B) const;
  vnl_vector<T> solve(const vnl_vector<T>& y) const;
  void solve(const T* rhs, T* lhs) const;

  // The right singular vector of the smallest singular value.
  vnl_vector<T> nullvector() const { return V_.get_column(V_.cols() - 1); }
  // The last required_nullspace_dimension columns of V (by default those of the zeroed values).
  vnl_matrix<T> nullspace() const;
  vnl_matrix<T> nullspace(unsigned int required_nullspace_dimension) const;
  // The left singular vector of the smallest singular value.
  vnl_vector<T> left_nullvector() const { return U_.get_column(U_.cols() - 1); }

  unsigned int rows() const { return m_; }
  unsigned int columns() const { return n_; }
  unsigned int cols() const { return n_; }

 private:
  unsigned int m_, n_;
  vnl_matrix<T> U_;
  vnl_diag_matrix<singval_t> W_;
  vnl_diag_matrix<singval_t> Winverse_;
  vnl_matrix<T> V_;
  unsigned int rank_;
};

extern template class vnl_svd<float>;
extern template class vnl_svd<double>;
