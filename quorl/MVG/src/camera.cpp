#include "MVG/camera.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibmath/calibmath.h"
#include "calibmath/camera_parameter_file.h"
#include "lens_model.h"

namespace {

constexpr const char* kSource = "MVG\\Camera";

template <std::size_t N>
void Copy(double (&to)[N], const double* from) {
  std::copy(from, from + N, to);
}

}  // namespace

CCamera::CCamera() : calibrated_(false), K_(), R_(), r_(), T_(), d_(), P_(), width_(0), height_(0) {
  std::fill(std::begin(activeIntrinsic_), std::end(activeIntrinsic_), true);
  std::fill(std::begin(activeDistortion_), std::end(activeDistortion_), true);
}

CCamera::CCamera(const double* K, const double* d, const double* R, const double* T, int width, int height)
    : CCamera() {
  Copy(K_, K);
  std::copy(d, d + 4, d_);
  Copy(R_, R);
  Copy(T_, T);
  width_ = width;
  height_ = height;
}

CCamera::~CCamera() = default;

CCamera::CCamera(const CCamera& other) = default;

CCamera& CCamera::operator=(const CCamera& other) {
  if (this == &other) return *this;
  std::copy(std::begin(other.activeIntrinsic_), std::end(other.activeIntrinsic_), activeIntrinsic_);
  std::copy(std::begin(other.activeDistortion_), std::end(other.activeDistortion_), activeDistortion_);
  Copy(K_, other.K_);
  Copy(R_, other.R_);
  Copy(r_, other.r_);
  Copy(T_, other.T_);
  Copy(d_, other.d_);
  width_ = other.width_;
  height_ = other.height_;
  return *this;
}

void CCamera::SetK(const double* K) { Copy(K_, K); }
void CCamera::SetR(const double* R) { Copy(R_, R); }
void CCamera::SetT(const double* T) { Copy(T_, T); }
void CCamera::Setd(const double* d) { Copy(d_, d); }
void CCamera::SetImageSize(int width, int height) {
  width_ = width;
  height_ = height;
}

void CCamera::GetK(double* out) const { std::copy(K_, K_ + 9, out); }
void CCamera::GetR(double* out) const { std::copy(R_, R_ + 9, out); }
void CCamera::Getd(double* out) const { std::copy(d_, d_ + 5, out); }
void CCamera::Getr(double* out) const { std::copy(r_, r_ + 3, out); }
void CCamera::GetT(double* out) const { std::copy(T_, T_ + 3, out); }

void CCamera::GetP(double* out) const {
  // out may be P_ itself, which no term reads.
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += K_[3 * i + k] * R_[3 * k + j];
      out[4 * i + j] = s;
    }
    out[4 * i + 3] = K_[3 * i] * T_[0] + K_[3 * i + 1] * T_[1] + K_[3 * i + 2] * T_[2];
  }
}

void CCamera::GetPoint(double X, double Y, double Z, double* u, double* v) const {
  const double xc = R_[0] * X + R_[1] * Y + R_[2] * Z + T_[0];
  const double yc = R_[3] * X + R_[4] * Y + R_[5] * Z + T_[1];
  const double zc = R_[6] * X + R_[7] * Y + R_[8] * Z + T_[2];
  double xd, yd;
  quorl::lens::Distort(xc / zc, yc / zc, d_, &xd, &yd);
  *u = K_[0] * (xd + K_[1] * yd) + K_[2];
  *v = K_[4] * yd + K_[5];
}

void CCamera::GetPointOnRetinalPlane(const float* pixel, float* out) const {
  const double yd = (pixel[1] - K_[5]) / K_[4];
  const double xd = (pixel[0] - K_[2]) / K_[0] - K_[1] * yd;
  double x, y;
  quorl::lens::Undistort(xd, yd, d_, &x, &y);
  out[0] = static_cast<float>(x);
  out[1] = static_cast<float>(y);
}

void CCamera::ComputeUndistortionMap(int* map) const {
  quorl::lens::BuildUndistortionMap(K_[0], K_[4], K_[2], K_[5], d_, width_, height_, 1, map);
}

void CCamera::GetCameraCenter(double* out) const {
  for (int j = 0; j < 3; ++j) out[j] = -(R_[j] * T_[0] + R_[3 + j] * T_[1] + R_[6 + j] * T_[2]);
}

vnl_matrix_fixed<double, 3, 3> CCamera::GetIntrinsicMatrix() const { return vnl_matrix_fixed<double, 3, 3>(K_); }
vnl_matrix_fixed<double, 3, 3> CCamera::GetRotationMatrix() const { return vnl_matrix_fixed<double, 3, 3>(R_); }
vnl_double_3 CCamera::GetRotationVector() const { return vnl_double_3(r_[0], r_[1], r_[2]); }
vnl_double_3 CCamera::GetTranslationVector() const { return vnl_double_3(T_[0], T_[1], T_[2]); }

vnl_matrix_fixed<double, 3, 4> CCamera::GetP(float scale) const {
  double Ks[9];
  for (int i = 0; i < 9; ++i) Ks[i] = K_[i] * scale;
  Ks[8] = 1;
  CCamera scaled(*this);
  scaled.SetK(Ks);
  double P[12];
  scaled.GetP(P);
  return vnl_matrix_fixed<double, 3, 4>(P);
}

vnl_matrix_fixed<double, 3, 3> CCamera::GetHomography(const double* planePoints, int count) const {
  vnl_matrix_fixed<double, 3, 3> zero(0.0);
  if (!planePoints || count < 4) return zero;
  std::vector<double> image(2 * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) GetPoint(planePoints[i], planePoints[count + i], 0, &image[i], &image[count + i]);
  double h[9] = {};
  CvMat src = cvMat(2, count, CV_64FC1, const_cast<double*>(planePoints));
  CvMat dst = cvMat(2, count, CV_64FC1, image.data());
  CvMat H = cvMat(3, 3, CV_64FC1, h);
  // A failing fit reports through the error status and leaves h as it was.
  calibmath::FindHomography(&src, &dst, &H, kSource);
  bool usable = false;
  for (double v : h) {
    if (!std::isfinite(v)) return zero;
    usable = usable || v != 0;
  }
  return usable ? vnl_matrix_fixed<double, 3, 3>(h) : zero;
}

vnl_double_3 CCamera::GetCameraCenter() const {
  double c[3];
  GetCameraCenter(c);
  return vnl_double_3(c[0], c[1], c[2]);
}

vnl_double_3 CCamera::GetRay(const float* pixel) const {
  float n[2];
  GetPointOnRetinalPlane(pixel, n);
  const double p[3] = {n[0] - T_[0], n[1] - T_[1], 1 - T_[2]};
  double c[3], q[3];
  GetCameraCenter(c);
  for (int j = 0; j < 3; ++j) q[j] = R_[j] * p[0] + R_[3 + j] * p[1] + R_[6 + j] * p[2] - c[j];
  const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
  return vnl_double_3(q[0] / length, q[1] / length, q[2] / length);
}

vnl_double_3 CCamera::GetOpticalAxis() const {
  const float principal[2] = {static_cast<float>(K_[2]), static_cast<float>(K_[5])};
  return GetRay(principal);
}

bool CCamera::Save(const char* path) const {
  calibmath::CameraParameterValues v;
  std::copy(K_, K_ + 9, v.K);
  std::copy(d_, d_ + 4, v.distortion);
  std::copy(R_, R_ + 9, v.R);
  std::copy(T_, T_ + 3, v.T);
  v.width = width_;
  v.height = height_;
  return calibmath::WriteCameraParameterFile(path, v);
}

bool CCamera::Load(const char* path) {
  calibmath::CameraParameterValues v;
  if (!calibmath::ReadCameraParameterFile(path, &v)) return false;
  Copy(K_, v.K);
  std::copy(v.distortion, v.distortion + 4, d_);
  Copy(R_, v.R);
  Copy(T_, v.T);
  width_ = v.width;
  height_ = v.height;
  GetP(P_);
  calibrated_ = true;
  return true;
}
