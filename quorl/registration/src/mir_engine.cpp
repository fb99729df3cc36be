#include "Registration/mir_engine.h"

#include "bilinear/bilinear.h"

#include <memory>
#include <new>
#include <vector>

namespace Quorl {
namespace Registration {

namespace {

using MIR::Bilinear::BasicImage;
using MIR::Bilinear::BasicRegisterEngine;
using MIR::Bilinear::PlainBuild;
using MIR::Bilinear::RectifiedBuild;

constexpr int kSide = 512;
constexpr int kFinestLevel = 4;

template <class Policy>
BasicRegisterEngine<Policy>* EngineOf(const std::shared_ptr<void>& slot) {
  return static_cast<BasicRegisterEngine<Policy>*>(slot.get());
}

// A finished engine, or null when the inputs were unusable or memory ran
// short: nothing escapes the library as an exception.
template <class Policy>
std::shared_ptr<void> RunEngine(int log2Size, const unsigned char* target, const unsigned char* source) {
  try {
    auto engine = std::make_shared<BasicRegisterEngine<Policy>>(log2Size, target, source);
    if (!engine->IsReady()) return nullptr;
    std::vector<float> points(2 * engine->GetNumControlPoints());
    engine->Register(points.data());
    return engine;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

template <class Policy>
void ControlPoints(const std::shared_ptr<void>& slot, int level, double* points, int* columns, int* rows) {
  if (auto* engine = EngineOf<Policy>(slot)) engine->GetTransformation().GetControlPoints(points, level, columns, rows);
}

template <class Policy>
void FillPyramid(const std::shared_ptr<void>& slot, BiTranPyr* pyramid) {
  if (!pyramid || !slot) return;
  pyramid->SetNumLevels(kFinestLevel);
  for (int level = 0; level <= kFinestLevel; ++level) {
    int columns = 0, rows = 0;
    if (double* points = pyramid->GetControlPoints(level)) ControlPoints<Policy>(slot, level, points, &columns, &rows);
  }
}

// The grid a warp uses: level min(L + 1, 4), or 0 for a negative L. The
// transformation keeps that level afterwards.
template <class Policy>
void SelectWarpLevel(BasicRegisterEngine<Policy>& engine, int level) {
  auto& transformation = engine.GetTransformation();
  for (int i = 0; i < 5; ++i) transformation.DecreaseLevel();
  if (level >= 0)
    for (int i = 0; i < level + 1; ++i) transformation.IncreaseLevel();
}

// One 512 x 512 plane through the selected grid. The caller's buffers are
// borrowed by the working images for the call only.
template <class Policy>
void WarpPlane(BasicRegisterEngine<Policy>& engine, unsigned char* input, unsigned char* output) {
  BasicImage<Policy> in, out;
  for (BasicImage<Policy>* image : {&in, &out}) {
    image->SetSize(kSide, kSide);
    image->SetInputSize(kSide, kSide);
  }
  in.AttachBuffer(input);
  out.AttachBuffer(output);
  in.ComputeOutsideValue();
  engine.GetTransformation().RenderWarp(&in, &out);
  in.DetachBuffer();
  out.DetachBuffer();
}

template <class Policy>
void WarpGrey(const std::shared_ptr<void>& slot, unsigned char* input, unsigned char* output, int level) {
  auto* engine = EngineOf<Policy>(slot);
  if (!engine || !input || !output) return;
  SelectWarpLevel(*engine, level);
  WarpPlane(*engine, input, output);
}

template <class Policy>
void WarpRgb(const std::shared_ptr<void>& slot, unsigned char* input, unsigned char* output, int level) {
  auto* engine = EngineOf<Policy>(slot);
  if (!engine || !input || !output) return;
  constexpr size_t kPlane = static_cast<size_t>(kSide) * kSide;
  std::unique_ptr<unsigned char[]> planes(new (std::nothrow) unsigned char[6 * kPlane]);
  if (!planes) return;
  SelectWarpLevel(*engine, level);
  for (int channel = 0; channel < 3; ++channel) {
    unsigned char* in = planes.get() + channel * kPlane;
    unsigned char* out = planes.get() + (3 + channel) * kPlane;
    for (size_t i = 0; i < kPlane; ++i) in[i] = input[3 * i + channel];
    WarpPlane(*engine, in, out);
    for (size_t i = 0; i < kPlane; ++i) output[3 * i + channel] = out[i];
  }
}

template <class Policy>
void Disparity(const std::shared_ptr<void>& slot, float* map, int level, float* minimum, float* maximum) {
  auto* engine = EngineOf<Policy>(slot);
  if (!engine || !map || !minimum || !maximum || level < 0 || level > kFinestLevel) return;
  auto& transformation = engine->GetTransformation();
  transformation.SetupPointTransform(static_cast<unsigned>(level), static_cast<double>(kSide));
  *minimum = 1e9f;
  *maximum = -1e9f;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      float mappedX = 0.0f, mappedY = 0.0f;
      transformation.TransformPoint(static_cast<float>(x), static_cast<float>(y), &mappedX, &mappedY);
      const float d = static_cast<float>(x) - mappedX;
      map[y * kSide + x] = d;
      if (d > *maximum) *maximum = d;
      if (d < *minimum) *minimum = d;
    }
}

}  // namespace

CMIREngine::CMIREngine(RegistrationType type)
    : registeredRectified_(false), registeredBilinear_(false), registeredCubic_(false), type_(type), width_(kSide),
      height_(kSide), log2Size_(9) {}

CMIREngine::~CMIREngine() = default;
CMIREngine::CMIREngine(const CMIREngine& other) = default;
CMIREngine& CMIREngine::operator=(const CMIREngine& other) = default;

bool CMIREngine::IsRegisteredBilinear() {
  return registeredBilinear_;
}

bool CMIREngine::IsRegisteredRectified() {
  return registeredRectified_;
}

bool CMIREngine::IsRegisteredCubic() {
  return registeredCubic_;
}

void CMIREngine::Register(unsigned char* target, unsigned char* source) {
  if (!target || !source) return;
  if (type_ == Bilinear)
    RegisterBilinear(target, source);
  else if (type_ == Rectified)
    RegisterRectified(target, source);
}

void CMIREngine::GetTransformation(BiTranPyr* pyramid) {
  if (type_ == Bilinear)
    GetBiTranPyr(pyramid);
  else if (type_ == Rectified)
    GetRectTranPyr(pyramid);
}

int CMIREngine::RegisterBilinear(unsigned char* target, unsigned char* source) {
  bilinearEngine_ = RunEngine<PlainBuild>(log2Size_, target, source);
  registeredBilinear_ = bilinearEngine_ != nullptr;
  return 0;
}

int CMIREngine::RegisterRectified(unsigned char* target, unsigned char* source) {
  rectifiedEngine_ = RunEngine<RectifiedBuild>(log2Size_, target, source);
  registeredRectified_ = rectifiedEngine_ != nullptr;
  return 0;
}

int CMIREngine::RegisterCubic(unsigned char*, unsigned char*) {
  return 0;
}

void CMIREngine::GetBiControlPoints(int level, double* points, int* columns, int* rows) {
  ControlPoints<PlainBuild>(bilinearEngine_, level, points, columns, rows);
}

void CMIREngine::GetRctControlPoints(int level, double* points, int* columns, int* rows) {
  ControlPoints<RectifiedBuild>(rectifiedEngine_, level, points, columns, rows);
}

void CMIREngine::GetBiTranPyr(BiTranPyr* pyramid) {
  FillPyramid<PlainBuild>(bilinearEngine_, pyramid);
}

void CMIREngine::GetRectTranPyr(BiTranPyr* pyramid) {
  FillPyramid<RectifiedBuild>(rectifiedEngine_, pyramid);
}

void CMIREngine::WarpBilinear(unsigned char* input, unsigned char* output, int level) {
  WarpGrey<PlainBuild>(bilinearEngine_, input, output, level);
}

void CMIREngine::WarpRectified(unsigned char* input, unsigned char* output, int level) {
  WarpGrey<RectifiedBuild>(rectifiedEngine_, input, output, level);
}

void CMIREngine::WarpRgbBilinear(unsigned char* input, unsigned char* output, int level) {
  WarpRgb<PlainBuild>(bilinearEngine_, input, output, level);
}

void CMIREngine::WarpRgbRectified(unsigned char* input, unsigned char* output, int level) {
  WarpRgb<RectifiedBuild>(rectifiedEngine_, input, output, level);
}

void CMIREngine::GetBiDisparity(float* map, int level, float* minimum, float* maximum) {
  Disparity<PlainBuild>(bilinearEngine_, map, level, minimum, maximum);
}

void CMIREngine::GetRctDisparity(float* map, int level, float* minimum, float* maximum) {
  Disparity<RectifiedBuild>(rectifiedEngine_, map, level, minimum, maximum);
}

}  // namespace Registration
}  // namespace Quorl
