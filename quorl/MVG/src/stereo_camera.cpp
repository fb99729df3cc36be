#include "MVG/stereo_camera.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "quorl/paths.h"

namespace {

// The stereo file's tokens were read into 260 characters (a path limit of the
// platform the files come from); longer ones are refused, never truncated.
constexpr std::size_t kMaxToken = 259;

bool HasWhiteSpace(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c) != 0; });
}

// Stem of path: everything before the extension of its last component.
std::string Stem(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

}  // namespace

CStereoCamera::CStereoCamera() : Rrel_(), Trel_() {}

CStereoCamera::CStereoCamera(const CCamera& first, const CCamera& second) : Rrel_(), Trel_() {
  SetCamera(first, second);
}

CStereoCamera& CStereoCamera::operator=(const CStereoCamera& other) {
  if (this == &other) return *this;
  cameras_[0] = other.cameras_[0];
  cameras_[1] = other.cameras_[1];
  std::copy(std::begin(other.Rrel_), std::end(other.Rrel_), Rrel_);
  std::copy(std::begin(other.Trel_), std::end(other.Trel_), Trel_);
  return *this;
}

void CStereoCamera::SetCamera(const CCamera& first, const CCamera& second) {
  cameras_[0] = first;
  cameras_[1] = second;
}

void CStereoCamera::ZeroDistortion() {
  const double zero[5] = {};
  cameras_[0].Setd(zero);
  cameras_[1].Setd(zero);
}

double* CStereoCamera::GetRelativeRotation() {
  const double* R1 = cameras_[0].GetR();
  const double* R2 = cameras_[1].GetR();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      Rrel_[3 * i + j] = R2[3 * i] * R1[3 * j] + R2[3 * i + 1] * R1[3 * j + 1] + R2[3 * i + 2] * R1[3 * j + 2];
  return Rrel_;
}

double* CStereoCamera::GetRelativeTranslation() {
  GetRelativeRotation();
  const double* T1 = cameras_[0].GetT();
  const double* T2 = cameras_[1].GetT();
  for (int i = 0; i < 3; ++i)
    Trel_[i] = T2[i] - (Rrel_[3 * i] * T1[0] + Rrel_[3 * i + 1] * T1[1] + Rrel_[3 * i + 2] * T1[2]);
  return Trel_;
}

CvPoint3D32f CStereoCamera::Triangulate3DPoint(const CvPoint2D32f* first, const CvPoint2D32f* second) const {
  const float p1[2] = {first->x, first->y};
  const float p2[2] = {second->x, second->y};
  float n1[2], n2[2];
  cameras_[0].GetPointOnRetinalPlane(p1, n1);
  cameras_[1].GetPointOnRetinalPlane(p2, n2);
  const float x1[3] = {n1[0], n1[1], 1};
  const float x2[3] = {n2[0], n2[1], 1};
  const double* R = cameras_[1].GetR();
  const double* T = cameras_[1].GetT();

  // The sums are single precision, the products with R and T double.
  float y[3];
  for (int i = 0; i < 3; ++i) y[i] = static_cast<float>(R[3 * i] * x1[0] + R[3 * i + 1] * x1[1] + R[3 * i + 2] * x1[2]);
  const float E = x2[0] * y[0] + x2[1] * y[1] + x2[2] * y[2];
  const float F = static_cast<float>(x2[0] * T[0] + x2[1] * T[1] + x2[2] * T[2]);
  const float G = static_cast<float>(y[0] * T[0] + y[1] * T[1] + y[2] * T[2]);
  const float A = x2[0] * x2[0] + x2[1] * x2[1] + x2[2] * x2[2];
  const float B = x1[0] * x1[0] + x1[1] * x1[1] + x1[2] * x1[2];
  const float D = 1.0f / (A * B - E * E);
  const float z1 = (E * F - G * A) * D;
  const float z2 = (F * B - E * G) * D;

  double back[3];
  const double q[3] = {z2 * x2[0] - T[0], z2 * x2[1] - T[1], z2 * x2[2] - T[2]};
  for (int j = 0; j < 3; ++j) back[j] = R[j] * q[0] + R[3 + j] * q[1] + R[6 + j] * q[2];
  CvPoint3D32f result;
  result.x = static_cast<float>((z1 * x1[0] + back[0]) / 2);
  result.y = static_cast<float>((z1 * x1[1] + back[1]) / 2);
  result.z = static_cast<float>((z1 * x1[2] + back[2]) / 2);
  return result;
}

bool CStereoCamera::Load(const char* path) {
  FILE* f = quorl::OpenFile(path, "r");
  if (!f) return false;
  // One character more than allowed, so an over-long token shows as such.
  char tokens[2][kMaxToken + 2] = {};
  const int read = std::fscanf(f, "%260s\n%260s", tokens[0], tokens[1]);
  std::fclose(f);
  if (read != 2 || std::strlen(tokens[0]) > kMaxToken || std::strlen(tokens[1]) > kMaxToken) return false;
  const bool first = cameras_[0].Load(tokens[0]);
  const bool second = cameras_[1].Load(tokens[1]);
  return first && second;
}

bool CStereoCamera::Save(const char* firstPath, const char* secondPath) const {
  const bool first = cameras_[0].Save(firstPath);
  const bool second = cameras_[1].Save(secondPath);
  return first && second;
}

bool CStereoCamera::Save(const char* path) const {
  if (!path || !*path) return false;
  const std::string stereo(path);
  const std::string stem = Stem(stereo);
  const std::string names[2] = {stem + "_camera0.txt", stem + "_camera1.txt"};
  if (HasWhiteSpace(stereo) || names[1].size() > kMaxToken) return false;
  if (!Save(names[0].c_str(), names[1].c_str())) return false;
  FILE* f = quorl::OpenFile(path, "w+");
  if (!f) return false;
  const bool wrote = std::fprintf(f, "%s\n%s\n", names[0].c_str(), names[1].c_str()) > 0 && !std::ferror(f);
  return std::fclose(f) == 0 && wrote;
}
