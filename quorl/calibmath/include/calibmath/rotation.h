#pragma once
// Pieces of the rotation conversion shared by both implementations.
namespace calibmath {

// Rotation vector of the row-major rotation matrix R of a rotation close to
// a half turn (cos theta near -1). The axis comes from the diagonal: its
// largest component is taken positive and the other two get their signs
// from the symmetric off-diagonal entries of that component's row, so no
// relative sign is lost when a component is 0. The antisymmetric part, when
// not 0, then fixes the overall sign for angles just short of pi.
void HalfTurnRotationVector(const double R[9], double r[3]);

}  // namespace calibmath
