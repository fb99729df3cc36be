#include <vnl/vnl_least_squares_function.h>

#include <cmath>

vnl_least_squares_function::vnl_least_squares_function(unsigned int number_of_unknowns,
                                                       unsigned int number_of_residuals, UseGradient g)
    : p_(number_of_unknowns), n_(number_of_residuals), use_gradient_(g == use_gradient) {}

vnl_least_squares_function::~vnl_least_squares_function() = default;

void vnl_least_squares_function::gradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian) {
  fdgradf(x, jacobian, 1e-5);
}

void vnl_least_squares_function::fdgradf(const vnl_vector<double>& x, vnl_matrix<double>& jacobian,
                                         double stepsize) {
  const unsigned int p = get_number_of_unknowns();
  const unsigned int n = get_number_of_residuals();
  jacobian.set_size(n, p);
  vnl_vector<double> tx(x);
  vnl_vector<double> fplus(n), fminus(n);
  for (unsigned int j = 0; j < p; ++j) {
    const double plus = x[j] + stepsize;
    const double minus = x[j] - stepsize;
    tx[j] = plus;
    f(tx, fplus);
    tx[j] = minus;
    f(tx, fminus);
    tx[j] = x[j];
    // Divide by the step actually taken, after rounding of x[j] +- stepsize.
    const double scale = 1.0 / (plus - minus);
    for (unsigned int i = 0; i < n; ++i) jacobian(i, j) = (fplus[i] - fminus[i]) * scale;
  }
}

void vnl_least_squares_function::trace(int, const vnl_vector<double>&, const vnl_vector<double>&) {}

double vnl_least_squares_function::rms(const vnl_vector<double>& x) {
  vnl_vector<double> fx(get_number_of_residuals());
  f(x, fx);
  return fx.rms();
}
