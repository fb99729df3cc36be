#pragma once
// The camera-parameter text file of one camera: K in three lines, k1 k2 p1 p2,
// R in three lines, T, then width and height. k3 is not stored. Written and
// read in the C locale; a CR LF file reads like an LF one.
namespace calibmath {

extern const char* const kCameraParameterFormat;

struct CameraParameterValues {
  double K[9];
  double distortion[4];  // k1 k2 p1 p2
  double R[9];
  double T[3];
  int width;
  int height;
};

// Creates or truncates the file ("w+"); false when it cannot be opened or a
// write or the close fails.
bool WriteCameraParameterFile(const char* path, const CameraParameterValues& values);

// Opens with "r"; true and *out written only when all 25 reals and both
// integers convert (decimal tokens: no "nan", "inf" or hex float), every real
// is finite and width, height >= 0.
bool ReadCameraParameterFile(const char* path, CameraParameterValues* out);

}  // namespace calibmath
