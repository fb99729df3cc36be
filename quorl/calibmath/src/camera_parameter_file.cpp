#include "calibmath/camera_parameter_file.h"

#include <cmath>
#include <cstdio>

#include "quorl/clocale.h"
#include "quorl/paths.h"
#include "quorl/text_numbers.h"

namespace calibmath {

const char* const kCameraParameterFormat =
    "%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%d %d\n";

bool WriteCameraParameterFile(const char* path, const CameraParameterValues& v) {
  FILE* f = quorl::OpenFile(path, "w+");
  if (!f) return false;
  quorl::ScopedCLocale c;
  const int n = std::fprintf(f, kCameraParameterFormat, v.K[0], v.K[1], v.K[2], v.K[3], v.K[4], v.K[5], v.K[6],
                             v.K[7], v.K[8], v.distortion[0], v.distortion[1], v.distortion[2], v.distortion[3],
                             v.R[0], v.R[1], v.R[2], v.R[3], v.R[4], v.R[5], v.R[6], v.R[7], v.R[8], v.T[0], v.T[1],
                             v.T[2], v.width, v.height);
  const bool wrote = n > 0 && !std::ferror(f);
  return std::fclose(f) == 0 && wrote;
}

bool ReadCameraParameterFile(const char* path, CameraParameterValues* out) {
  if (!out) return false;
  FILE* f = quorl::OpenFile(path, "r");
  if (!f) return false;
  // The layout's line breaks are white space like any other: the values are
  // read as tokens, reals in decimal only and finite.
  CameraParameterValues v{};
  double* reals[] = {v.K, v.distortion, v.R, v.T};
  const int counts[] = {9, 4, 9, 3};
  bool ok = true;
  for (int i = 0; i < 4 && ok; ++i)
    for (int j = 0; j < counts[i] && ok; ++j) ok = quorl::ReadReal(f, &reals[i][j]);
  ok = ok && quorl::ReadInt(f, &v.width) && quorl::ReadInt(f, &v.height);
  std::fclose(f);
  if (!ok || v.width < 0 || v.height < 0) return false;
  *out = v;
  return true;
}

}  // namespace calibmath
