// vgl_h_matrix_2d_optimize_lmq: refines a plane homography from point correspondences by
// Levenberg-Marquardt over its nine entries.
//
// Each point set is normalised (centroid to the origin, then scaled by the reciprocal of the
// mean distance to the centroid), the start matrix is carried into the normalised frames, and
// the transfer residuals (mapped first point minus second point, both dehomogenised, 2 per
// correspondence) plus the residual 1 - |h| that fixes the scale are minimised with x, f and g
// tolerances 1e-9 and the minimiser's own evaluation limit (400 x 9 = 3600). The result is
// carried back to the original frames. Nothing is printed.
#pragma once

#include <vector>

#include <vgl/algo/vgl_h_matrix_2d.h>
#include <vgl/vgl_homg_point_2d.h>

class vgl_h_matrix_2d_optimize_lmq {
 public:
  explicit vgl_h_matrix_2d_optimize_lmq(const vgl_h_matrix_2d<double>& initial_h);

  // Refines the start matrix so that it maps points1[i] onto points2[i]. True when the
  // minimiser converged (MINPACK info 1 to 4); H then holds the refined matrix. Otherwise H
  // holds the start matrix, as it also does when the input cannot be used: fewer than 4 or
  // unequal numbers of points, a point at infinity, or a point set without spread.
  bool optimize(const std::vector<vgl_homg_point_2d<double>>& points1,
                const std::vector<vgl_homg_point_2d<double>>& points2, vgl_h_matrix_2d<double>& H);

 private:
  vgl_h_matrix_2d<double> initial_h_;
};
