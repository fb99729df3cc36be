#pragma once
// MVG::Camera: the single-precision camera record of the multiple-view
// geometry functions, with the lens model of CCamera (MVG/camera.h). Arrays
// of cameras are contiguous; in a stereo pair element 1's R and T give its
// pose relative to element 0.
//
// Warp maps (WeightsIndexMap) built here hold five ints per output pixel in
// row-major order: the byte offset (x + y width) 3 of the top-left source
// sample in a packed three-channel image, then the weights of the samples at
// (x, y), (x, y + 1), (x + 1, y) and (x + 1, y + 1) times 32768, truncated.
// A pixel whose four samples are not all inside the image has five zeros.
// The caller allocates width x height x 5 ints per map. A map is valid only
// for the image size it was built for.
#include <opencv2/core/types_c.h>
#include <vnl/vnl_float_3.h>
#include <vnl/vnl_matrix_fixed.h>

namespace MVG {

struct Camera {
  float d[5];  // k1, k2, p1, p2, k3
  float K[9];  // row-major; K[1] is the skew coefficient
  float R[9];  // world to camera, row-major
  float T[3];
  float width;  // pixel counts held as floats; truncated where a count is needed
  float height;
};

// All fields 0, then K from the arguments with K[8] = 1, R = identity.
Camera CameraAtOrigin(float fx, float fy, float u0, float v0, int width, int height);
// A copy of *c with R = identity and T = 0.
Camera GetCameraAtOrigin(const Camera* c);
void SetCameraRotationMatrix(Camera* c, const float* R);
void SetCameraRotationMatrix(Camera* c, const double* R);
// P = K [R T], 3 x 4 row-major.
void MakePrjMat(const float* K, const float* R, const float* T, float* P);
void MakePrjMat(const Camera* c, float* P);

// direction 0: matrix R to rotation vector r; otherwise r to R.
void Rodrigues(vnl_matrix_fixed<float, 3, 3>& R, vnl_float_3& r, int direction);

// Pixel to normalised undistorted coordinates; d may be null (no distortion
// removal).
void NormalizePoint(const float* pixel, float* out, const float* K, const float* d);
void NormalizePoint(const float* pixel, float* out, const Camera* c);
// The pixel the point would have without lens distortion (same K, skew
// included as in the lens model).
void UndistortPoint(const float* pixel, float* out, const float* K, const float* d);

// Projects a world point to a distorted pixel; 1 when the point lies in
// front of the camera and 0 < u < width, 0 < v < height, else 0.
int PrjPoint3D(const float* X, float* out, const Camera* c);
// n points (X advances by 3, out by 2), no visibility test; returns 0.
int PrjPoint3D(const float* X, float* out, const Camera* c, int n);
// Mean pixel distance between the projections of X and x; NaN for n = 0.
float GetReprojectionError(const Camera* c, const CvPoint3D32f* X, const CvPoint2D32f* x, int n);

// Camera files, read and written in the C locale. An empty path returns false
// at once; a file that cannot be opened shows "Can't open file" and returns
// false. Readers change nothing unless every value converted: reals in
// decimal, finite and in float's range, a width and height of 0 to 2^31 - 1.
//
// Camera set: n (1 or 2), per camera K (9) and k1 k2 p1 p2 (k3 set to 0),
// for n = 2 the second camera's R (9) and T (3), then the width and height,
// which both records get. cameras holds two records; the first gets R = I
// and T = 0.
bool LoadCameras(const char* path, Camera* cameras);
// n (1 to capacity), per camera K, k1 k2 p1 p2 (k3 set to 0), R and T, then
// the first camera's width and height, which all n records get.
bool LoadMultiCameras(const char* path, Camera* cameras, int capacity);
// A readable report of one camera; neither reader reads it.
bool SaveCamera(const char* path, Camera camera);

// One undistortion map per camera: maps[i] for cameras[i]. Returns 0.
int ComputeUndistortionMapCoefficients(const Camera* cameras, int n, int** maps);
// Rectified records of a calibrated pair: R is the rotation from the camera's
// own frame to the common rectified frame, K the shared new intrinsics
// (K[0] = 2 K[4]) with principal points centring the image, d = 0, the first
// camera's size; the second record's T is its translation in the rectified
// frame, along the baseline axis. Returns 0.
int ComputeRectifiedCameras(const Camera* pair, Camera* rectified);
// Two rectification maps; maps[i] takes camera i's image to its rectified
// image. Output and source size are those of rectified[0]. Returns 0.
int ComputeWarpMapCoefficients(const Camera* pair, const Camera* rectified, int** maps);

}  // namespace MVG
