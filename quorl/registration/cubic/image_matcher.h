#pragma once
// Registers two square 16-bit images of side 256, 512 or 1024: a rigid fit
// with scale on the coarsest pyramid level, then the caller's deformable
// model stage by stage, coarse to fine. Image A is the source (sampled
// through the model), image B the reference.
#include "../common/mir_visibility.h"
#include "image.h"
#include "optimizer.h"
#include "transformation.h"

namespace MIR MIR_HIDDEN {
namespace Cubic {

struct ImageMatcherTestAccess;

class ImageMatcher {
 public:
  // Wraps the caller's pixels (which stay the caller's), side 2^log2Size.
  ImageMatcher(Transformation* model, unsigned short* a, unsigned short* b, int log2Size);
  // Uses the caller's images, which must outlive the matcher.
  ImageMatcher(Transformation* model, Image* a, Image* b);
  virtual ~ImageMatcher();
  ImageMatcher(const ImageMatcher&) = delete;
  ImageMatcher& operator=(const ImageMatcher&) = delete;

  // Builds the pyramids and the schedule for image A's side. For any side
  // other than 256, 512 and 1024: a new char[100] message for the caller to
  // delete[], nothing built.
  char* PrepareSchedule();
  // 0 after registering; -1 (nothing minimised) for a missing image, unequal
  // sides or an unsupported side. Stages beyond maxStage are skipped; a
  // negative maxStage leaves the rigid fit and InitFrom.
  int Match(int ignored, int maxStage);
  int GetRigidParams(double* tx, double* ty, double* angle, double* scale);
  int GetRigidTransformation(Transformation** out);
  int TransformGrid(double* xs, double* ys, int L);
  int GetSourceLevel(int level, unsigned short** pixels, int* log2Size);
  int GetReferenceLevel(int level, unsigned short** pixels, int* log2Size);

 private:
  friend struct ImageMatcherTestAccess;

  bool ownsImages = false;
  Image* imageA = nullptr;
  Image* imageB = nullptr;
  ImagePyramid pyramidA, pyramidB;
  int stageStartLevel[6] = {};
  int stageEndLevel[6] = {};
  double stageGradientTolerance[6] = {};
  double stageStepTolerance[6] = {};
  int lastStage = -1;
  ScaleableRigidTrafo* rigid = nullptr;
  Transformation* model = nullptr;
  Optimizer optimizer;
};

}  // namespace Cubic
}  // namespace MIR
