#include "MVG/mvg_camera.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "calibmath/calibmath.h"
#include "lens_model.h"
#include "quorl/clocale.h"
#include "quorl/paths.h"
#include "quorl/text_numbers.h"
#include "win/messagebox.h"

namespace {

constexpr const char* kSource = "MVG\\Camera";
constexpr float kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// ---- small float linear algebra, row-major 3x3 ----

void MatMul(const float* A, const float* B, float* out) {
  float r[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[3 * i + j] = A[3 * i] * B[j] + A[3 * i + 1] * B[3 + j] + A[3 * i + 2] * B[6 + j];
  std::copy(r, r + 9, out);
}

void MatVec(const float* A, const float* v, float* out) {
  float r[3];
  for (int i = 0; i < 3; ++i) r[i] = A[3 * i] * v[0] + A[3 * i + 1] * v[1] + A[3 * i + 2] * v[2];
  std::copy(r, r + 3, out);
}

void Transpose(const float* A, float* out) {
  float r[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[3 * j + i] = A[3 * i + j];
  std::copy(r, r + 9, out);
}

float Dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Both directions of the shared rotation conversion on single-precision
// matrices; false when it reports a failure.
bool RotationVectorToMatrix(const float* r, float* R) {
  float rv[3] = {r[0], r[1], r[2]};
  CvMat src = cvMat(3, 1, CV_32FC1, rv);
  CvMat dst = cvMat(3, 3, CV_32FC1, R);
  return calibmath::Rodrigues2(&src, &dst, nullptr, kSource) != 0;
}

bool RotationMatrixToVector(const float* R, float* r) {
  float m[9];
  std::copy(R, R + 9, m);
  CvMat src = cvMat(3, 3, CV_32FC1, m);
  CvMat dst = cvMat(3, 1, CV_32FC1, r);
  return calibmath::Rodrigues2(&src, &dst, nullptr, kSource) != 0;
}

// ---- camera files ----

// Opens a camera file; an unopenable one is reported to the user (with the
// same caption for readers and writer), an empty path silently refused.
FILE* OpenCameraFile(const char* path, const char* mode) {
  if (!path || !*path) return nullptr;
  FILE* f = quorl::OpenFile(path, mode);
  if (!f) MessageBox(nullptr, "Can't open file", "Save camera parameters", MB_OK | MB_ICONERROR);
  return f;
}

// Reads decimal values (quorl::ReadReal: finite, in float's range) and
// remembers the first failure, so a whole record can be read and then
// committed or dropped at once.
class ValueReader {
 public:
  explicit ValueReader(FILE* f) : f_(f) {}
  void Read(float* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = Next();
  }
  float Next() {
    float v = 0;
    if (ok_ && !quorl::ReadReal(f_, &v)) ok_ = false;
    return v;
  }
  // A pixel count held as a float: whatever truncates it to an int needs it
  // to fit one.
  float Size() {
    const float v = Next();
    if (!(v >= 0.0f && v < 2147483648.0f)) ok_ = false;
    return v;
  }
  int Count() {
    int n = 0;
    if (ok_ && !quorl::ReadInt(f_, &n)) ok_ = false;
    return n;
  }
  void Refuse() { ok_ = false; }
  bool ok() const { return ok_; }

 private:
  FILE* f_;
  bool ok_ = true;
};

void ReadIntrinsics(ValueReader& in, MVG::Camera& c) {
  in.Read(c.K, 9);
  in.Read(c.d, 4);
  c.d[4] = 0;  // k3 is not stored
}

}  // namespace

namespace MVG {

Camera CameraAtOrigin(float fx, float fy, float u0, float v0, int width, int height) {
  Camera c{};
  c.K[0] = fx;
  c.K[2] = u0;
  c.K[4] = fy;
  c.K[5] = v0;
  c.K[8] = 1;
  std::copy(kIdentity, kIdentity + 9, c.R);
  c.width = static_cast<float>(width);
  c.height = static_cast<float>(height);
  return c;
}

Camera GetCameraAtOrigin(const Camera* c) {
  Camera out = *c;
  std::copy(kIdentity, kIdentity + 9, out.R);
  std::fill(out.T, out.T + 3, 0.0f);
  return out;
}

void SetCameraRotationMatrix(Camera* c, const float* R) { std::copy(R, R + 9, c->R); }

void SetCameraRotationMatrix(Camera* c, const double* R) {
  for (int i = 0; i < 9; ++i) c->R[i] = static_cast<float>(R[i]);
}

void MakePrjMat(const float* K, const float* R, const float* T, float* P) {
  float p[12];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) p[4 * i + j] = K[3 * i] * R[j] + K[3 * i + 1] * R[3 + j] + K[3 * i + 2] * R[6 + j];
    p[4 * i + 3] = K[3 * i] * T[0] + K[3 * i + 1] * T[1] + K[3 * i + 2] * T[2];
  }
  std::copy(p, p + 12, P);
}

void MakePrjMat(const Camera* c, float* P) { MakePrjMat(c->K, c->R, c->T, P); }

void Rodrigues(vnl_matrix_fixed<float, 3, 3>& R, vnl_float_3& r, int direction) {
  float m[9], v[3];
  for (int i = 0; i < 3; ++i) {
    v[i] = r[i];
    for (int j = 0; j < 3; ++j) m[3 * i + j] = R(i, j);
  }
  if (direction == 0)
    RotationMatrixToVector(m, v);
  else
    RotationVectorToMatrix(v, m);
  for (int i = 0; i < 3; ++i) {
    r[i] = v[i];
    for (int j = 0; j < 3; ++j) R(i, j) = m[3 * i + j];
  }
}

void NormalizePoint(const float* pixel, float* out, const float* K, const float* d) {
  const float yd = (pixel[1] - K[5]) / K[4];
  const float xd = (pixel[0] - K[2]) / K[0] - K[1] * yd;
  float x = xd, y = yd;
  if (d) quorl::lens::Undistort(xd, yd, d, &x, &y);
  out[0] = x;
  out[1] = y;
}

void NormalizePoint(const float* pixel, float* out, const Camera* c) { NormalizePoint(pixel, out, c->K, c->d); }

void UndistortPoint(const float* pixel, float* out, const float* K, const float* d) {
  float n[2];
  NormalizePoint(pixel, n, K, d);
  // Skew multiplies the normalised y, as in the lens model.
  out[0] = K[0] * (n[0] + K[1] * n[1]) + K[2];
  out[1] = K[4] * n[1] + K[5];
}

int PrjPoint3D(const float* X, float* out, const Camera* c) {
  float p[3];
  MatVec(c->R, X, p);
  for (int i = 0; i < 3; ++i) p[i] += c->T[i];
  float xd, yd;
  quorl::lens::Distort(p[0] / p[2], p[1] / p[2], c->d, &xd, &yd);
  const float u = c->K[0] * (xd + c->K[1] * yd) + c->K[2];
  const float v = c->K[4] * yd + c->K[5];
  out[0] = u;
  out[1] = v;
  return p[2] > 0 && u > 0 && u < c->width && v > 0 && v < c->height ? 1 : 0;
}

int PrjPoint3D(const float* X, float* out, const Camera* c, int n) {
  for (int i = 0; i < n; ++i) PrjPoint3D(X + 3 * i, out + 2 * i, c);
  return 0;
}

float GetReprojectionError(const Camera* c, const CvPoint3D32f* X, const CvPoint2D32f* x, int n) {
  float sum = 0;
  for (int i = 0; i < n; ++i) {
    const float world[3] = {X[i].x, X[i].y, X[i].z};
    float p[2];
    PrjPoint3D(world, p, c);
    sum += std::sqrt((p[0] - x[i].x) * (p[0] - x[i].x) + (p[1] - x[i].y) * (p[1] - x[i].y));
  }
  return sum / static_cast<float>(n);  // NaN for n = 0, as callers expect
}

bool LoadCameras(const char* path, Camera* cameras) {
  FILE* f = OpenCameraFile(path, "r");
  if (!f) return false;
  Camera read[2] = {cameras[0], cameras[1]};
  bool ok;
  {
    quorl::ScopedCLocale c;
    ValueReader in(f);
    const int n = in.Count();
    if (n < 1 || n > 2) in.Refuse();
    for (int i = 0; i < n && in.ok(); ++i) ReadIntrinsics(in, read[i]);
    if (n == 2) {
      in.Read(read[1].R, 9);
      in.Read(read[1].T, 3);
    }
    read[0].width = in.Size();
    read[0].height = in.Size();
    ok = in.ok();
  }
  std::fclose(f);
  if (!ok) return false;
  read[1].width = read[0].width;
  read[1].height = read[0].height;
  std::copy(kIdentity, kIdentity + 9, read[0].R);
  std::fill(read[0].T, read[0].T + 3, 0.0f);
  cameras[0] = read[0];
  cameras[1] = read[1];
  return true;
}

bool LoadMultiCameras(const char* path, Camera* cameras, int capacity) {
  FILE* f = OpenCameraFile(path, "r");
  if (!f) return false;
  std::vector<Camera> read;
  bool ok;
  {
    quorl::ScopedCLocale c;
    ValueReader in(f);
    const int n = in.Count();
    if (n < 1 || n > capacity) in.Refuse();
    if (in.ok()) read.assign(cameras, cameras + n);
    for (Camera& camera : read) {
      ReadIntrinsics(in, camera);
      in.Read(camera.R, 9);
      in.Read(camera.T, 3);
    }
    const float width = in.Size(), height = in.Size();
    for (Camera& camera : read) {
      camera.width = width;
      camera.height = height;
    }
    ok = in.ok();
  }
  std::fclose(f);
  if (!ok) return false;
  std::copy(read.begin(), read.end(), cameras);
  return true;
}

bool SaveCamera(const char* path, Camera camera) {
  FILE* f = OpenCameraFile(path, "w+");
  if (!f) return false;
  bool ok = true;
  {
    quorl::ScopedCLocale c;
    auto values = [&](const float* v, int n, bool lineEnd) {
      for (int i = 0; i < n; ++i) ok = std::fprintf(f, "%.5f ", v[i]) > 0 && ok;
      if (lineEnd) ok = std::fputs("\n", f) >= 0 && ok;
    };
    ok = std::fputs("Intrinsic Matrix:\n", f) >= 0 && ok;
    for (int row = 0; row < 3; ++row) values(camera.K + 3 * row, 3, true);
    ok = std::fputs("Distortion Coefficients:\n", f) >= 0 && ok;
    values(camera.d, 5, true);
    ok = std::fputs("Rotation Matrix:\n", f) >= 0 && ok;
    for (int row = 0; row < 3; ++row) values(camera.R + 3 * row, 3, true);
    ok = std::fputs("Translation Vector:\n", f) >= 0 && ok;
    values(camera.T, 3, false);
  }
  ok = !std::ferror(f) && ok;
  return std::fclose(f) == 0 && ok;
}

int ComputeUndistortionMapCoefficients(const Camera* cameras, int n, int** maps) {
  for (int i = 0; i < n; ++i) {
    const Camera& c = cameras[i];
    quorl::lens::BuildUndistortionMap(c.K[0], c.K[4], c.K[2], c.K[5], c.d, static_cast<int>(c.width),
                                      static_cast<int>(c.height), 3, maps[i]);
  }
  return 0;
}

int ComputeRectifiedCameras(const Camera* pair, Camera* rectified) {
  const Camera& second = pair[1];

  // Rotate both cameras half way towards each other.
  float om[3] = {};
  RotationMatrixToVector(second.R, om);
  const float half[3] = {-om[0] / 2, -om[1] / 2, -om[2] / 2};
  float rr[9], rl[9];
  std::copy(kIdentity, kIdentity + 9, rr);
  RotationVectorToMatrix(half, rr);
  Transpose(rr, rl);
  float t[3];
  MatVec(rr, second.T, t);

  // Then turn the baseline onto the nearer image axis.
  const bool horizontal = std::fabs(t[0]) > std::fabs(t[1]);
  float e[3] = {horizontal ? 1.0f : 0.0f, horizontal ? 0.0f : 1.0f, 0};
  if (Dot(t, e) < 0)
    for (float& v : e) v = -v;
  const float w[3] = {t[1] * e[2] - t[2] * e[1], t[2] * e[0] - t[0] * e[2], t[0] * e[1] - t[1] * e[0]};
  const float wLength = std::sqrt(Dot(w, w));
  float R2[9];
  std::copy(kIdentity, kIdentity + 9, R2);
  if (wLength > 0) {
    // Rounding may put the cosine a hair above 1.
    const float cosine = std::min(1.0f, std::fabs(Dot(t, e)) / std::sqrt(Dot(t, t)));
    const float angle = std::acos(cosine);
    const float axis[3] = {w[0] / wLength * angle, w[1] / wLength * angle, w[2] / wLength * angle};
    RotationVectorToMatrix(axis, R2);
  }

  float newR[2][9];
  MatMul(R2, rl, newR[0]);
  MatMul(R2, rr, newR[1]);

  const float width = pair[0].width, height = pair[0].height;
  float f[2];
  for (int i = 0; i < 2; ++i) {
    const float fy = pair[i].K[4], k1 = pair[i].d[0];
    f[i] = k1 >= 0 ? fy : fy * (1 + k1 * (width * width + height * height) / (4 * fy * fy));
  }
  const float fnew = f[0] < f[1] ? f[0] : f[1];

  for (int i = 0; i < 2; ++i) {
    Camera& out = rectified[i];
    out = Camera{};
    std::copy(newR[i], newR[i] + 9, out.R);
    out.K[0] = 2 * fnew;  // twice fy: both cameras share it, so rows stay aligned
    out.K[4] = fnew;
    out.K[8] = 1;
    out.width = width;
    out.height = height;
  }

  // Centre each camera's image corners; the shared direction gets the mean of
  // both offsets so that rows (or columns) stay aligned.
  float offset[2][2];
  const float corners[4][2] = {{0, 0}, {0, height - 1}, {width - 1, 0}, {width - 1, height - 1}};
  for (int i = 0; i < 2; ++i) {
    float mean[2] = {0, 0};
    for (const auto& corner : corners) {
      float n[2], p[2];
      NormalizePoint(corner, n, &pair[i]);
      const float X[3] = {n[0], n[1], 1};
      PrjPoint3D(X, p, &rectified[i]);  // T is still 0: rotation only
      mean[0] += p[0] / 4;
      mean[1] += p[1] / 4;
    }
    offset[i][0] = (width - 1) / 2 - mean[0];
    offset[i][1] = (height - 1) / 2 - mean[1];
  }
  const int shared = horizontal ? 1 : 0;
  const float sharedOffset = (offset[0][shared] + offset[1][shared]) / 2;
  for (int i = 0; i < 2; ++i) {
    offset[i][shared] = sharedOffset;
    rectified[i].K[2] = offset[i][0];
    rectified[i].K[5] = offset[i][1];
  }

  float T[3];
  MatVec(newR[1], second.T, T);
  std::copy(T, T + 3, rectified[1].T);
  return 0;
}

int ComputeWarpMapCoefficients(const Camera* pair, const Camera* rectified, int** maps) {
  const int W = static_cast<int>(rectified[0].width), H = static_cast<int>(rectified[0].height);
  for (int i = 0; i < 2; ++i) {
    const Camera& c = pair[i];
    const Camera& rect = rectified[i];
    // Inverse of the rectified K (upper triangular, K[8] = 1 as built above,
    // but kept general) by cofactors.
    double k[9];
    for (int j = 0; j < 9; ++j) k[j] = rect.K[j];
    const double det =
        k[0] * (k[4] * k[8] - k[5] * k[7]) - k[1] * (k[3] * k[8] - k[5] * k[6]) + k[2] * (k[3] * k[7] - k[4] * k[6]);
    const double inv[9] = {
        (k[4] * k[8] - k[5] * k[7]) / det, (k[2] * k[7] - k[1] * k[8]) / det, (k[1] * k[5] - k[2] * k[4]) / det,
        (k[5] * k[6] - k[3] * k[8]) / det, (k[0] * k[8] - k[2] * k[6]) / det, (k[2] * k[3] - k[0] * k[5]) / det,
        (k[3] * k[7] - k[4] * k[6]) / det, (k[1] * k[6] - k[0] * k[7]) / det, (k[0] * k[4] - k[1] * k[3]) / det};
    const double d[5] = {c.d[0], c.d[1], c.d[2], c.d[3], c.d[4]};
    int* entry = maps[i];
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x, entry += 5) {
        double p[3], q[3];
        for (int r = 0; r < 3; ++r) p[r] = inv[3 * r] * x + inv[3 * r + 1] * y + inv[3 * r + 2];
        for (int r = 0; r < 3; ++r) q[r] = rect.R[r] * p[0] + rect.R[3 + r] * p[1] + rect.R[6 + r] * p[2];
        double xd, yd;
        quorl::lens::Distort(q[0] / q[2], q[1] / q[2], d, &xd, &yd);
        const double u = c.K[0] * (xd + c.K[1] * yd) + c.K[2];
        const double v = c.K[4] * yd + c.K[5];
        // Floor, not truncation: between -1 and 0 a truncated index would
        // give weights outside [0, 32768].
        quorl::lens::SetMapEntry(entry, u, v, W, H, 3);
      }
    }
  }
  return 0;
}

}  // namespace MVG
