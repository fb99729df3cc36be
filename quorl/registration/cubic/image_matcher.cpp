#include "image_matcher.h"

#include <algorithm>
#include <cstring>

namespace MIR {
namespace Cubic {

ImageMatcher::ImageMatcher(Transformation* model_, unsigned short* a, unsigned short* b, int log2Size)
    : ownsImages(true), rigid(new ScaleableRigidTrafo), model(model_) {
  imageA = new Image;
  imageB = new Image;
  if (a) imageA->Wrap(a, log2Size);
  if (b) imageB->Wrap(b, log2Size);
}

ImageMatcher::ImageMatcher(Transformation* model_, Image* a, Image* b)
    : ownsImages(false), imageA(a), imageB(b), rigid(new ScaleableRigidTrafo), model(model_) {}

ImageMatcher::~ImageMatcher() {
  // The pyramids hold the images as their level 0: drop the levels first.
  pyramidA.ReleaseLevels();
  pyramidB.ReleaseLevels();
  if (ownsImages) {
    delete imageA;
    delete imageB;
  }
  delete rigid;
}

char* ImageMatcher::PrepareSchedule() {
  const int log2Side = imageA ? FloorLog2(imageA->GetWidth()) : -1;
  const bool square = imageA && imageA->GetWidth() == (1 << (log2Side < 0 ? 0 : log2Side)) &&
                      imageA->GetHeight() == imageA->GetWidth();
  if (!square || log2Side < 8 || log2Side > 10) {
    char* message = new char[100];
    std::strcpy(message, "Image Size was not 256x256, 512x512 or 1024x1024");
    return message;
  }
  const int levels = log2Side - 5;  // 3, 4 or 5
  pyramidA.Build(imageA, levels);
  pyramidB.Build(imageB, levels);
  for (int s = 0; s < 6; ++s) stageStepTolerance[s] = 1e-5;
  if (log2Side == 8) {
    const int start[4] = {3, 2, 1, 0}, end[4] = {2, 1, 1, 0};
    for (int s = 0; s < 4; ++s) {
      stageStartLevel[s] = start[s];
      stageEndLevel[s] = end[s];
      stageGradientTolerance[s] = 0.001;
    }
    lastStage = 3;
  } else {
    // 512: levels 4..0; 1024: the same one level coarser, never level 0.
    const int shift = log2Side - 9;
    const int start[5] = {4, 3, 2, 1, 0}, end[5] = {2, 2, 2, 1, 0};
    const double tolerance[5] = {0.001, 0.001, 0.001, 0.002, 0.002};
    for (int s = 0; s < 5; ++s) {
      stageStartLevel[s] = start[s] + shift;
      stageEndLevel[s] = end[s] + shift;
      stageGradientTolerance[s] = tolerance[s];
    }
    lastStage = 4;
  }
  return nullptr;
}

int ImageMatcher::Match(int, int maxStage) {
  if (!imageA || !imageB || !imageA->pixels || !imageB->pixels || !model) return -1;
  if (imageA->GetWidth() != imageB->GetWidth() || imageA->GetHeight() != imageB->GetHeight()) return -1;
  if (char* message = PrepareSchedule()) {
    delete[] message;
    return -1;
  }
  if (pyramidA.levelCount == 0 || pyramidB.levelCount == 0) return -1;
  lastStage = std::min(lastStage, maxStage);
  // Every match fits the rigid start afresh from the identity, so that a
  // second match of the same pair repeats the first.
  const double identity[4] = {0.0, 0.0, 0.0, 1.0};
  rigid->SetNativeParams(identity);
  const int s0 = stageStartLevel[0];
  rigid->SetImages(pyramidA.GetLevelImage(s0), pyramidB.GetLevelImage(s0));
  optimizer.Minimize(rigid, 1e-4, 1e-4);
  model->InitFrom(rigid);
  for (int s = 0; s <= lastStage; ++s) {
    for (int j = stageStartLevel[s]; j >= stageEndLevel[s]; --j) {
      model->SetImages(pyramidA.GetLevelImage(j), pyramidB.GetLevelImage(j));
      optimizer.Minimize(model, stageStepTolerance[s], stageGradientTolerance[s]);
    }
    if (s < lastStage) model->RefineGrid();
  }
  return 0;
}

int ImageMatcher::GetRigidParams(double* tx, double* ty, double* angle, double* scale) {
  double v[4];
  rigid->GetNativeParams(v);
  *tx = v[0];
  *ty = v[1];
  *angle = v[2];
  *scale = v[3];
  return 0;
}

int ImageMatcher::GetRigidTransformation(Transformation** out) {
  *out = rigid;
  return 0;
}

int ImageMatcher::TransformGrid(double* xs, double* ys, int L) {
  rigid->TransformGrid(xs, ys, L);
  return 0;
}

int ImageMatcher::GetSourceLevel(int level, unsigned short** pixels, int* log2Size) {
  Image* image = pyramidA.GetLevelImage(level);
  if (!image) image = imageA;
  *pixels = image ? image->pixels : nullptr;
  *log2Size = image ? image->log2Width : 0;
  return 0;
}

int ImageMatcher::GetReferenceLevel(int level, unsigned short** pixels, int* log2Size) {
  Image* image = pyramidB.GetLevelImage(level);
  if (!image) image = imageB;
  *pixels = image ? image->pixels : nullptr;
  *log2Size = image ? image->log2Width : 0;
  return 0;
}

}  // namespace Cubic
}  // namespace MIR
