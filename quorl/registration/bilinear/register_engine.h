#pragma once
// Registers a source image onto a target image coarse to fine: a rigid start
// on 16 x 16 images, then control grids of 2 x 2 up to 17 x 17 points fitted
// level by level (all at once, or one cell at a time), then the warped source.
#include "../common/mir_visibility.h"
#include "image.h"
#include "optimizer.h"
#include "transformation.h"
#include "views.h"

#include <vector>

namespace MIR MIR_HIDDEN {
namespace Bilinear {

// Time and work of one grid level's stage of a schedule (or of the rigid
// start, gridLevel -1).
struct StageRecord {
  int gridLevel = 0;
  double seconds = 0.0;
  int minimizations = 0;
  int iterations = 0;
  int evaluations = 0;  // counted only with QUORL_MIR_COUNTERS
  int capHits = 0;      // likewise
};

template <class Policy>
class BasicRegisterEngine {
 public:
  using Image = BasicImage<Policy>;
  using ImagePyramid = BasicImagePyramid<Policy>;
  using Transformation = BasicTransformation<Policy>;
  using Optimizer = BasicOptimizer<Policy>;
  static constexpr int kWorkingLog2 = 9;  // the engines work at 512 x 512
  static constexpr int kPyramidLevels = 5;

  // target and source: squares of side 2^log2Size, rows without gaps.
  BasicRegisterEngine(int log2Size, const unsigned char* target, const unsigned char* source);
  virtual ~BasicRegisterEngine();
  BasicRegisterEngine(const BasicRegisterEngine&) = delete;
  BasicRegisterEngine& operator=(const BasicRegisterEngine&) = delete;

  // False when the inputs were unusable or memory ran short: the register
  // operations then do nothing.
  bool IsReady() const { return ready_; }
  int GetNumControlPoints() const;
  // Global schedule; writes the finest grid (grid units) into controlPoints
  // (2 x 289 floats, may be null) and returns the cost of the target against
  // the source through the final grid.
  double Register(float* controlPoints);
  void RegisterWithGlobalSchedule();
  void RegisterWithLocalSchedule();
  // Cost of the target against the source at the current pyramid level.
  double GetOutputCost();
  void RigidSearch();
  void GlobalSchedule();
  void LocalSchedule();

  Transformation& GetTransformation() { return transformation_; }
  const Image* GetOutputImage() const { return output_; }
  const ImagePyramid& GetTargetPyramid() const { return targetPyramid_; }
  const ImagePyramid& GetSourcePyramid() const { return sourcePyramid_; }
  int GetLevel() const { return level_; }
  const std::vector<StageRecord>& GetStageRecords() const { return stages_; }

 private:
  friend struct RegisterEngineTestAccess;
  void Render();
  void Fit(Transformation* view, int pyramidLevel, StageRecord& stage);

  int level_ = 0;
  Image* target_ = nullptr;
  Image* source_ = nullptr;
  Image* output_ = nullptr;
  ImagePyramid outputPyramid_;
  ImagePyramid targetPyramid_;
  ImagePyramid sourcePyramid_;
  Transformation transformation_{1};
  Optimizer optimizer_;
  bool ready_ = false;
  RigidCandidate rigidChoice_{0, 0, 0};
  std::vector<StageRecord> stages_;
};

extern template class BasicRegisterEngine<PlainBuild>;
extern template class BasicRegisterEngine<RectifiedBuild>;

// Runs an engine on 512 x 512 inputs; returns the finest grid as 2 x 289
// floats in fractions of the side (the caller delete[]s it) and its value in
// *ncc, or null when the engine could not run.
template <class Policy>
float* RegisterToControlPointsWith(const unsigned char* target, const unsigned char* source, double* ncc);

}  // namespace Bilinear
}  // namespace MIR
