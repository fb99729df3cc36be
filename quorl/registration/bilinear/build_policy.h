#pragma once
// The two builds of the bilinear engine differ only in what these policies
// say: whether grid and single-cell parameters move y as well as x (the
// rectified build keeps every y where it is, and reports a zero slope for the
// y parameters it never reads), how the rigid view maps its four parameters,
// and which rigid start candidates are tried.
#include "../common/mir_visibility.h"

namespace MIR MIR_HIDDEN {
namespace Bilinear {

struct RigidCandidate {
  int a, b, c;  // shift x, shift y (in 1/32 of the side), angle (in 0.1 rad)
};

struct PlainBuild {
  static constexpr bool kMovesY = true;
  // The plain rigid view applies only the horizontal shift p[1].
  static constexpr bool kRigidTurns = false;
  static constexpr int kRigidCandidateCount = 27;
  static constexpr RigidCandidate RigidCandidateAt(int i) { return {i / 9 - 1, (i / 3) % 3 - 1, i % 3 - 1}; }
};

struct RectifiedBuild {
  static constexpr bool kMovesY = false;
  // The rectified rigid view applies shift and rotation about the centre.
  static constexpr bool kRigidTurns = true;
  static constexpr int kRigidCandidateCount = 3;
  static constexpr RigidCandidate RigidCandidateAt(int i) { return {i - 1, 0, 0}; }
};

}  // namespace Bilinear
}  // namespace MIR
