#pragma once
// The bilinear registration engine in its two builds: MIR::Bilinear moves
// control points in x and y; MIR::Bilinear::Rectified, for rectified pairs,
// moves them horizontally only. One implementation serves both.
#include "../common/mir_visibility.h"
#include "build_policy.h"
#include "geometry.h"
#include "image.h"
#include "optimizer.h"
#include "register_engine.h"
#include "transformation.h"
#include "views.h"

namespace MIR MIR_HIDDEN {
namespace Bilinear {

using Image = BasicImage<PlainBuild>;
using ImagePyramid = BasicImagePyramid<PlainBuild>;
using AffPoint = BasicAffPoint<PlainBuild>;
using Vector = BasicVector<PlainBuild>;
using Transformation = BasicTransformation<PlainBuild>;
using RigidTransformation = BasicRigidTransformation<PlainBuild>;
using LocalizedTransformation = BasicLocalizedTransformation<PlainBuild>;
using Optimizer = BasicOptimizer<PlainBuild>;
using CRegisterEngine = BasicRegisterEngine<PlainBuild>;

// Registers two 512 x 512 images; the finest grid as 2 x 289 floats in
// fractions of the side (delete[] by the caller), or null.
float* RegisterToControlPoints(const unsigned char* target, const unsigned char* source, double* ncc);

namespace Rectified {

using Bilinear::FloorLog2;
using Image = BasicImage<RectifiedBuild>;
using ImagePyramid = BasicImagePyramid<RectifiedBuild>;
using AffPoint = BasicAffPoint<RectifiedBuild>;
using Vector = BasicVector<RectifiedBuild>;
using Transformation = BasicTransformation<RectifiedBuild>;
using RigidTransformation = BasicRigidTransformation<RectifiedBuild>;
using LocalizedTransformation = BasicLocalizedTransformation<RectifiedBuild>;
using Optimizer = BasicOptimizer<RectifiedBuild>;
using CRegisterEngine = BasicRegisterEngine<RectifiedBuild>;

float* RegisterToControlPoints(const unsigned char* target, const unsigned char* source, double* ncc);

}  // namespace Rectified
}  // namespace Bilinear
}  // namespace MIR
