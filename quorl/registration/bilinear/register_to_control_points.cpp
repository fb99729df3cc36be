#include "bilinear.h"

namespace MIR {
namespace Bilinear {

float* RegisterToControlPoints(const unsigned char* target, const unsigned char* source, double* ncc) {
  return RegisterToControlPointsWith<PlainBuild>(target, source, ncc);
}

namespace Rectified {

float* RegisterToControlPoints(const unsigned char* target, const unsigned char* source, double* ncc) {
  return RegisterToControlPointsWith<RectifiedBuild>(target, source, ncc);
}

}  // namespace Rectified
}  // namespace Bilinear
}  // namespace MIR
