#include "register_engine.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>

namespace MIR {
namespace Bilinear {

namespace {

// Pyramid levels optimised for each grid level: first (coarsest) to last.
struct ScheduleRow {
  int first, last;
};
constexpr ScheduleRow kSchedule[5] = {{5, 3}, {4, 3}, {3, 3}, {2, 2}, {1, 1}};
constexpr int kRigidLevel = 5;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The rigid view with its vertical shift, turn and scale held where the
// start put them: the optimiser sees the horizontal shift p[1] alone.
template <class Policy>
class HorizontalShiftView : public BasicRigidTransformation<Policy> {
  using Base = BasicRigidTransformation<Policy>;

 public:
  explicit HorizontalShiftView(const double* start) : Base(0) { std::copy(start, start + 5, held_); }
  int GetNumParams() const override { return 1; }
  void GetParams(double* p) const override {
    double all[5];
    Base::GetParams(all);
    p[1] = all[1];
  }
  void SetParams(const double* p) override {
    held_[1] = p[1];
    Base::SetParams(held_);
  }
  void GetGradient(double* g) const override {
    double all[5];
    Base::GetGradient(all);
    g[1] = all[1];
  }

 private:
  double held_[5];
};

}  // namespace

template <class Policy>
BasicRegisterEngine<Policy>::BasicRegisterEngine(int log2Size, const unsigned char* target,
                                                const unsigned char* source) {
  if (!target || !source || log2Size < 1 || log2Size > 15 || !transformation_.HasStorage()) return;
  const int side = 1 << kWorkingLog2;
  auto make = [&](const unsigned char* input) -> Image* {
    Image* image = new (std::nothrow) Image;
    if (!image) return nullptr;
    image->SetSize(side, side);
    if (!image->Allocate()) return image;
    if (input) image->ResampleFrom(static_cast<unsigned>(log2Size), input);
    return image;
  };
  target_ = make(target);
  if (!target_ || !target_->GetBuffer() || !targetPyramid_.Build(target_, kPyramidLevels)) return;
  source_ = make(source);
  if (!source_ || !source_->GetBuffer() || !sourcePyramid_.Build(source_, kPyramidLevels)) return;
  output_ = make(nullptr);
  if (!output_ || !output_->GetBuffer() || !outputPyramid_.Allocate(output_, kPyramidLevels)) return;
  output_->ClearPixels();
  level_ = 0;
  ready_ = true;
}

template <class Policy>
BasicRegisterEngine<Policy>::~BasicRegisterEngine() {
  delete target_;
  delete source_;
  delete output_;
}

template <class Policy>
int BasicRegisterEngine<Policy>::GetNumControlPoints() const {
  const int side = (1 << Transformation::kMaxLevel) + 1;
  return side * side;
}

template <class Policy>
void BasicRegisterEngine<Policy>::Fit(Transformation* view, int pyramidLevel, StageRecord& stage) {
  level_ = pyramidLevel;
  optimizer_.Minimize(view, targetPyramid_.GetImage(pyramidLevel), sourcePyramid_.GetImage(pyramidLevel));
  const MinimizeRecord& r = optimizer_.GetLastRecord();
  ++stage.minimizations;
  stage.iterations += r.iterations;
  stage.evaluations += r.evaluations;
  stage.capHits += r.hitIterationCap ? 1 : 0;
}

template <class Policy>
void BasicRegisterEngine<Policy>::RigidSearch() {
  if (!ready_) return;
  const auto start = std::chrono::steady_clock::now();
  StageRecord stage;
  stage.gridLevel = -1;
  BasicRigidTransformation<Policy> view(0);
  transformation_.ResetGrid();
  view.CopyGridState(transformation_);
  level_ = kRigidLevel;
  Image* target = targetPyramid_.GetImage(kRigidLevel);
  Image* source = sourcePyramid_.GetImage(kRigidLevel);
  auto params = [](RigidCandidate c, double* p) {
    p[1] = c.a * 0.0625;
    p[2] = c.b * 0.0625;
    p[3] = 2.0 * c.c;
    p[4] = 1.0;
  };
  double p[5] = {};
  double best = 0.0;
  RigidCandidate chosen{0, 0, 0};
  for (int i = 0; i < Policy::kRigidCandidateCount; ++i) {
    const RigidCandidate c = Policy::RigidCandidateAt(i);
    params(c, p);
    view.SetParams(p);
    transformation_.CopyGridState(view);
    view.Cost(target, source);
    // Strictly better only: ties keep the earlier candidate, and nothing
    // above 0 keeps the identity.
    if (view.GetCost() > best) {
      best = view.GetCost();
      chosen = c;
    }
  }
  rigidChoice_ = chosen;
  params(chosen, p);
  view.SetParams(p);
  transformation_.CopyGridState(view);
  if constexpr (Policy::kRigidTurns) {
    // The rectified rigid view can also shift vertically and turn, but its
    // refinement holds y and the angle where the start put them (at none):
    // every later stage moves x alone, so a vertical shift or a turn fitted
    // on the 16 x 16 images would stay in the result, and those images
    // cannot measure vertical motion to a fraction of a pixel. A pair
    // without vertical motion thus keeps none.
    HorizontalShiftView<Policy> shift(p);
    shift.CopyGridState(transformation_);
    Fit(&shift, kRigidLevel, stage);
    view.CopyGridState(shift);
  } else {
    Fit(&view, kRigidLevel, stage);
  }
  transformation_.CopyGridState(view);
  stage.seconds = Seconds(start);
  stages_.push_back(stage);
}

template <class Policy>
void BasicRegisterEngine<Policy>::GlobalSchedule() {
  if (!ready_) return;
  for (int i = transformation_.GetLevel(); i <= Transformation::kMaxLevel; ++i) {
    const auto start = std::chrono::steady_clock::now();
    StageRecord stage;
    stage.gridLevel = i;
    for (int k = kSchedule[i].first; k >= kSchedule[i].last; --k) Fit(&transformation_, k, stage);
    if (i < Transformation::kMaxLevel) transformation_.RefineGrid();
    stage.seconds = Seconds(start);
    stages_.push_back(stage);
  }
  level_ = kSchedule[Transformation::kMaxLevel].last;
}

template <class Policy>
void BasicRegisterEngine<Policy>::LocalSchedule() {
  if (!ready_) return;
  BasicLocalizedTransformation<Policy> view(0);
  view.CopyGridState(transformation_);
  for (int i = view.GetLevel(); i <= Transformation::kMaxLevel; ++i) {
    const auto start = std::chrono::steady_clock::now();
    StageRecord stage;
    stage.gridLevel = i;
    for (int k = kSchedule[i].first; k >= kSchedule[i].last; --k)
      for (int row = 0; row <= view.GetRows() - 2; ++row)
        for (int column = 0; column <= view.GetColumns() - 2; ++column) {
          view.SetActiveCell(column, row);
          Fit(&view, k, stage);
          transformation_.CopyGridState(view);
        }
    if (i < Transformation::kMaxLevel) {
      view.RefineGrid();
      transformation_.CopyGridState(view);
    }
    stage.seconds = Seconds(start);
    stages_.push_back(stage);
  }
  level_ = kSchedule[Transformation::kMaxLevel].last;
}

template <class Policy>
void BasicRegisterEngine<Policy>::Render() {
  level_ = 0;
  transformation_.RenderWarp(sourcePyramid_.GetImage(0), outputPyramid_.GetImage(0));
}

template <class Policy>
double BasicRegisterEngine<Policy>::Register(float* controlPoints) {
  if (!ready_) return 0.0;
  RigidSearch();
  GlobalSchedule();
  Render();
  if (controlPoints) {
    int count = 0;
    const BasicAffPoint<Policy>* grid = transformation_.GetFinestGrid(&count);
    for (int k = 0; k < count; ++k) {
      controlPoints[2 * k] = static_cast<float>(grid[k].x);
      controlPoints[2 * k + 1] = static_cast<float>(grid[k].y);
    }
  }
  // The source through the final grid, not the already warped output.
  transformation_.Cost(targetPyramid_.GetImage(0), sourcePyramid_.GetImage(0));
  return transformation_.GetCost();
}

template <class Policy>
void BasicRegisterEngine<Policy>::RegisterWithGlobalSchedule() {
  if (!ready_) return;
  RigidSearch();
  GlobalSchedule();
  Render();
}

template <class Policy>
void BasicRegisterEngine<Policy>::RegisterWithLocalSchedule() {
  if (!ready_) return;
  RigidSearch();
  LocalSchedule();
  Render();
}

template <class Policy>
double BasicRegisterEngine<Policy>::GetOutputCost() {
  if (!ready_) return 0.0;
  transformation_.Cost(targetPyramid_.GetImage(level_), sourcePyramid_.GetImage(level_));
  return transformation_.GetCost();
}

template <class Policy>
float* RegisterToControlPointsWith(const unsigned char* target, const unsigned char* source, double* ncc) {
  try {
    auto engine = std::make_unique<BasicRegisterEngine<Policy>>(9, target, source);
    if (!engine->IsReady()) return nullptr;
    const int count = engine->GetNumControlPoints();
    std::unique_ptr<float[]> points(new float[2 * count]);
    const double value = engine->Register(points.get());
    if (ncc) *ncc = value;
    for (int i = 0; i < 2 * count; ++i) points[i] *= 1.0f / 1024.0f;
    return points.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

template class BasicRegisterEngine<PlainBuild>;
template class BasicRegisterEngine<RectifiedBuild>;
template float* RegisterToControlPointsWith<PlainBuild>(const unsigned char*, const unsigned char*, double*);
template float* RegisterToControlPointsWith<RectifiedBuild>(const unsigned char*, const unsigned char*, double*);

}  // namespace Bilinear
}  // namespace MIR
