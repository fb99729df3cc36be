#include <vgl/algo/vgl_h_matrix_2d_optimize_lmq.h>

#include <cmath>
#include <cstddef>

#include <vnl/algo/vnl_levenberg_marquardt.h>
#include <vnl/vnl_least_squares_function.h>

namespace {

constexpr double kTolerance = 1e-9;  // x, f and g alike
constexpr std::size_t kMinimumPoints = 4;

struct Point {
  double x, y;
};

// The similarity that moves the centroid to the origin and makes the mean distance to it 1.
struct Normalisation {
  double cx = 0, cy = 0, scale = 1;

  vnl_matrix_fixed<double, 3, 3> forward() const {
    const double m[9] = {scale, 0, -scale * cx, 0, scale, -scale * cy, 0, 0, 1};
    return vnl_matrix_fixed<double, 3, 3>(m);
  }
  vnl_matrix_fixed<double, 3, 3> backward() const {
    const double d = 1.0 / scale;
    const double m[9] = {d, 0, cx, 0, d, cy, 0, 0, 1};
    return vnl_matrix_fixed<double, 3, 3>(m);
  }
  Point apply(const Point& p) const { return {scale * (p.x - cx), scale * (p.y - cy)}; }
};

// False for a point at infinity or a set whose points all coincide.
bool normalise(const std::vector<vgl_homg_point_2d<double>>& in, std::vector<Point>& out, Normalisation& t) {
  out.clear();
  out.reserve(in.size());
  for (const auto& p : in) {
    if (p.w() == 0.0) return false;
    out.push_back({p.x() / p.w(), p.y() / p.w()});
  }
  double sx = 0, sy = 0;
  for (const Point& p : out) {
    sx += p.x;
    sy += p.y;
  }
  t.cx = sx / double(out.size());
  t.cy = sy / double(out.size());
  double distance = 0;
  for (const Point& p : out) distance += std::hypot(p.x - t.cx, p.y - t.cy);
  distance /= double(out.size());
  if (!(distance > 0.0) || !std::isfinite(distance)) return false;
  t.scale = 1.0 / distance;
  for (Point& p : out) p = t.apply(p);
  return true;
}

// Transfer residuals of the nine entries (row-major), plus 1 - |h| to fix the free scale.
class TransferResiduals : public vnl_least_squares_function {
 public:
  TransferResiduals(const std::vector<Point>& from, const std::vector<Point>& to)
      : vnl_least_squares_function(9, unsigned(2 * from.size() + 1), no_gradient), from_(from), to_(to) {}

  void f(const vnl_vector<double>& h, vnl_vector<double>& fx) override {
    const std::size_t n = from_.size();
    for (std::size_t i = 0; i < n; ++i) {
      const Point& p = from_[i];
      const double w = h[6] * p.x + h[7] * p.y + h[8];
      if (w == 0.0) {
        // A correspondence mapped to infinity has no finite residual.
        throw_failure();
        fx.fill(0.0);
        return;
      }
      fx[2 * i] = (h[0] * p.x + h[1] * p.y + h[2]) / w - to_[i].x;
      fx[2 * i + 1] = (h[3] * p.x + h[4] * p.y + h[5]) / w - to_[i].y;
    }
    fx[2 * n] = 1.0 - h.magnitude();
  }

 private:
  const std::vector<Point>& from_;
  const std::vector<Point>& to_;
};

}  // namespace

vgl_h_matrix_2d_optimize_lmq::vgl_h_matrix_2d_optimize_lmq(const vgl_h_matrix_2d<double>& initial_h)
    : initial_h_(initial_h) {}

bool vgl_h_matrix_2d_optimize_lmq::optimize(const std::vector<vgl_homg_point_2d<double>>& points1,
                                            const std::vector<vgl_homg_point_2d<double>>& points2,
                                            vgl_h_matrix_2d<double>& H) {
  H = initial_h_;
  if (points1.size() != points2.size() || points1.size() < kMinimumPoints) return false;
  std::vector<Point> from, to;
  Normalisation t1, t2;
  if (!normalise(points1, from, t1) || !normalise(points2, to, t2)) return false;

  const vnl_matrix_fixed<double, 3, 3> start = t2.forward() * initial_h_.get_matrix() * t1.backward();
  vnl_vector<double> h(start.data_block(), 9);

  TransferResiduals residuals(from, to);
  vnl_levenberg_marquardt lm(residuals);
  lm.set_x_tolerance(kTolerance);
  lm.set_f_tolerance(kTolerance);
  lm.set_g_tolerance(kTolerance);
  if (!lm.minimize(h)) return false;

  const vnl_matrix_fixed<double, 3, 3> refined(h.data_block());
  H = vgl_h_matrix_2d<double>(t2.backward() * refined * t1.forward());
  return true;
}
