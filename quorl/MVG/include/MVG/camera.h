#pragma once
// CCamera: calibrated pinhole camera with lens distortion. World points map to
// camera coordinates as R X + T. The lens model, shared by the whole library:
// normalised (x, y), s2 = x^2 + y^2, radial = 1 + k1 s2 + k2 s2^2 + k3 s2^3,
//   xd = radial x + 2 p1 x y + p2 (s2 + 2 x^2)
//   yd = radial y + p1 (s2 + 2 y^2) + 2 p2 x y
//   u = fx (xd + K[1] yd) + u0,  v = fy yd + v0
// so K[1] is a dimensionless skew coefficient; GetP treats K as a plain 3x3
// matrix instead (the two agree for K[1] = 0, which calibration produces).
#include <vnl/vnl_double_3.h>
#include <vnl/vnl_matrix_fixed.h>

class CCamera {
 public:
  CCamera();
  // Copies K (9), the first four distortion coefficients (k1 k2 p1 p2), R (9),
  // T (3) and the size; k3 stays 0.
  CCamera(const double* K, const double* d, const double* R, const double* T, int width, int height);
  ~CCamera();
  // Copies every field.
  CCamera(const CCamera& other);
  // Copies everything but calibrated and P: the target keeps its own.
  CCamera& operator=(const CCamera& other);

  void SetK(const double* K);
  void SetR(const double* R);
  void SetT(const double* T);
  void Setd(const double* d);
  void SetImageSize(int width, int height);

  double* GetK() { return K_; }
  double* GetR() { return R_; }
  double* Getd() { return d_; }
  double* Getr() { return r_; }
  double* GetT() { return T_; }
  double* GetP() { return P_; }
  bool* GetActiveIntrinsic() { return activeIntrinsic_; }
  bool* GetActiveDistortion() { return activeDistortion_; }
  const double* GetK() const { return K_; }
  const double* GetR() const { return R_; }
  const double* Getd() const { return d_; }
  const double* Getr() const { return r_; }
  const double* GetT() const { return T_; }
  const double* GetP() const { return P_; }
  const bool* GetActiveIntrinsic() const { return activeIntrinsic_; }
  const bool* GetActiveDistortion() const { return activeDistortion_; }
  void GetK(double* out) const;
  void GetR(double* out) const;
  void Getd(double* out) const;
  void Getr(double* out) const;
  void GetT(double* out) const;

  bool IsIntrinsicActive(unsigned i) const { return activeIntrinsic_[i]; }
  bool IsDistortionActive(unsigned i) const { return activeDistortion_[i]; }
  bool IsCalibrated() const { return calibrated_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }

  double Getfx() const { return K_[0]; }
  double Getfy() const { return K_[4]; }
  double Getu() const { return K_[2]; }
  double Getv() const { return K_[5]; }
  double Gets() const { return K_[1]; }
  // Aspect ratio fx / fy; infinite or NaN when fy is 0.
  double Geta() const { return K_[0] / K_[4]; }

  // P = K [R T], 3 rows of 4, row-major. GetP(GetP()) brings the stored P up
  // to date with K, R and T.
  void GetP(double* out) const;

  // Projects a world point to a distorted pixel; no visibility test.
  void GetPoint(double X, double Y, double Z, double* u, double* v) const;
  // Pixel (u, v) to undistorted normalised coordinates (20 fixed-point rounds).
  void GetPointOnRetinalPlane(const float* pixel, float* out) const;
  // Fills width x height x 5 ints: a one-channel warp map whose entry[0] is a
  // pixel index x + y width; read by IP::WarpByWeightsIndexGray.
  void ComputeUndistortionMap(int* map) const;

  void GetCameraCenter(double* out) const;

  vnl_matrix_fixed<double, 3, 3> GetIntrinsicMatrix() const;
  vnl_matrix_fixed<double, 3, 3> GetRotationMatrix() const;
  vnl_double_3 GetRotationVector() const;
  vnl_double_3 GetTranslationVector() const;
  // Ks [R T], Ks being K times scale with its bottom-right entry 1: the camera
  // of an image resampled by scale.
  vnl_matrix_fixed<double, 3, 4> GetP(float scale) const;
  // Homography from the board plane Z = 0 to this camera's distorted image,
  // fitted through the projections of count points (planePoints: count X
  // values, then count Y values). The zero matrix for count < 4, null points
  // or a failed fit.
  vnl_matrix_fixed<double, 3, 3> GetHomography(const double* planePoints, int count) const;
  vnl_double_3 GetCameraCenter() const;
  // Unit world direction of the viewing ray through a pixel.
  vnl_double_3 GetRay(const float* pixel) const;
  vnl_double_3 GetOpticalAxis() const;

  // The camera-parameter text file. Load changes nothing unless all 27 values
  // convert; then it sets K, k1 k2 p1 p2, R, T and the size (k3, r and the
  // flags stay), P = K [R T] and calibrated.
  bool Save(const char* path) const;
  bool Load(const char* path);

 private:
  bool calibrated_;
  bool activeIntrinsic_[5];
  bool activeDistortion_[5];
  double K_[9];
  double R_[9];
  double r_[3];
  double T_[3];
  double d_[5];
  double P_[12];
  int width_;
  int height_;
};
