// vnl_transpose: the transpose of a dynamic matrix, taken where a product or a copy needs it.
#pragma once

#include <vnl/vnl_matrix.h>
#include <vnl/vnl_vector.h>

class vnl_transpose {
 public:
  explicit vnl_transpose(const vnl_matrix<double>& m) : m_(m) {}

  operator vnl_matrix<double>() const { return m_.transpose(); }
  vnl_matrix<double> as_matrix() const { return m_.transpose(); }

  // (M^T) v without forming M^T.
  vnl_vector<double> operator*(const vnl_vector<double>& v) const { return v * m_; }
  vnl_matrix<double> operator*(const vnl_matrix<double>& b) const { return m_.transpose() * b; }

 private:
  const vnl_matrix<double>& m_;
};

inline vnl_matrix<double> operator*(const vnl_matrix<double>& a, const vnl_transpose& t) { return a * t.as_matrix(); }
