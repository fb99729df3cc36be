// The bilinear registration engine in both builds and both schedules, on
// analytic pairs whose true mapping is known.
#include "bilinear/bilinear.h"
#include "registration_texture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace MIR::Bilinear {
// Test-only view of the rigid start the engine chose.
struct RegisterEngineTestAccess {
  template <class P>
  static RigidCandidate Choice(const BasicRegisterEngine<P>& engine) {
    return engine.rigidChoice_;
  }
};
}  // namespace MIR::Bilinear

namespace {

using namespace MIR::Bilinear;
using registration_texture::Render;

using Mapping = std::function<void(double&, double&)>;

const Mapping kIdentity = [](double&, double&) {};
const Mapping kShift8 = [](double& x, double&) { x += 8.0; };
// A smooth field of 2.5 pixels at a wavelength of 128 pixels (x only, so
// that the rectified build can follow it too).
const Mapping kField = [](double& x, double& y) {
  const double k = 2.0 * std::numbers::pi / 128.0;
  x += 2.5 * std::sin(k * x) * std::sin(k * y);
};

// RMS endpoint errors inside a 16-pixel margin, of the finest grid's point
// transform against the true mapping: both coordinates, and x alone.
struct Errors {
  double rms = 0.0, rmsX = 0.0;
};

template <class P>
Errors EndpointErrors(BasicRegisterEngine<P>& engine, const Mapping& phi) {
  auto& t = engine.GetTransformation();
  t.SetupPointTransform(4, 512.0);
  double sum = 0.0, sumX = 0.0;
  int count = 0;
  for (int y = 16; y < 496; y += 4)
    for (int x = 16; x < 496; x += 4) {
      double ex = x, ey = y, gx, gy;
      phi(ex, ey);
      t.TransformPoint(static_cast<double>(x), static_cast<double>(y), &gx, &gy);
      sum += (gx - ex) * (gx - ex) + (gy - ey) * (gy - ey);
      sumX += (gx - ex) * (gx - ex);
      ++count;
    }
  return {std::sqrt(sum / count), std::sqrt(sumX / count)};
}

struct Pair {
  std::vector<unsigned char> target, source;
};

Pair MakePair(const Mapping& phi) {
  return {Render(512, phi), Render(512)};
}

enum class Schedule { Global, Local };

// The rectified build moves y only in its rigid stage: every finer grid
// keeps the y that the rigid start gave, so the finest grid's y follows the
// level-0 grid's bilinear map exactly.
template <class P>
void ExpectYFromTheRigidStage(BasicRegisterEngine<P>& engine) {
  auto& t = engine.GetTransformation();
  const auto* level0 = t.GetGrid(0);
  const auto* finest = t.GetGrid(4);
  for (int row = 0; row < 17; ++row)
    for (int column = 0; column < 17; ++column) {
      const double u = column / 16.0, v = row / 16.0;
      const double y = (1 - u) * (1 - v) * level0[0].y + u * (1 - v) * level0[1].y + (1 - u) * v * level0[2].y +
                       u * v * level0[3].y;
      ASSERT_NEAR(finest[row * 17 + column].y, y, 1e-9) << column << "," << row;
    }
}

template <class P>
Errors RegisterAndMeasure(const Pair& pair, Schedule schedule, const Mapping& phi) {
  BasicRegisterEngine<P> engine(9, pair.target.data(), pair.source.data());
  EXPECT_TRUE(engine.IsReady());
  if (schedule == Schedule::Global)
    engine.RegisterWithGlobalSchedule();
  else
    engine.RegisterWithLocalSchedule();
  if (!P::kMovesY) ExpectYFromTheRigidStage(engine);
  const Errors e = EndpointErrors(engine, phi);
  std::printf("  %s %s: RMS endpoint error %.3f px (x alone %.3f)\n", P::kMovesY ? "bilinear" : "rectified",
              schedule == Schedule::Global ? "global" : "local", e.rms, e.rmsX);
  return e;
}

struct EngineCase {
  const char* name;
  const Mapping* phi;
  double bound;  // RMS of both coordinates, pixels, in both builds
};

class RegistrationEngine : public ::testing::TestWithParam<EngineCase> {};

// The pairs move x only, so the rectified build can follow them as well as
// the bilinear one. The field needs the finest levels to iterate until the
// gradient is small on their own images' scale; stopping them after an
// iteration or two leaves about 0.7 pixels RMS in the global schedule.
TEST_P(RegistrationEngine, RecoversTheMappingInBothBuildsAndSchedules) {
  const EngineCase& c = GetParam();
  const Pair pair = MakePair(*c.phi);
  for (Schedule schedule : {Schedule::Global, Schedule::Local}) {
    EXPECT_LT(RegisterAndMeasure<PlainBuild>(pair, schedule, *c.phi).rms, c.bound);
    EXPECT_LT(RegisterAndMeasure<RectifiedBuild>(pair, schedule, *c.phi).rms, c.bound);
  }
}

INSTANTIATE_TEST_SUITE_P(AnalyticPairs, RegistrationEngine,
                         ::testing::Values(EngineCase{"identity", &kIdentity, 0.25},
                                           EngineCase{"shift8", &kShift8, 0.3},
                                           EngineCase{"field", &kField, 0.4}),
                         [](const auto& info) { return std::string(info.param.name); });

// The rectified build on pairs without vertical motion: whatever the rigid
// start makes of the coarsest images, no endpoint moves off its row. Every
// pixel of the image, at every grid level.
TEST(RegistrationEngineRectified, PairsWithoutVerticalMotionKeepEveryRow) {
  const Mapping kShiftLeft5 = [](double& x, double&) { x -= 5.0; };
  const Mapping kShift6 = [](double& x, double&) { x += 6.0; };
  const struct {
    const char* name;
    const Mapping* phi;
  } cases[] = {{"+6 px", &kShift6}, {"-5 px", &kShiftLeft5}, {"field", &kField}};
  for (const auto& c : cases) {
    const Pair pair = MakePair(*c.phi);
    for (Schedule schedule : {Schedule::Global, Schedule::Local}) {
      SCOPED_TRACE(std::string(c.name) + (schedule == Schedule::Global ? ", global" : ", local"));
      Rectified::CRegisterEngine engine(9, pair.target.data(), pair.source.data());
      if (schedule == Schedule::Global)
        engine.RegisterWithGlobalSchedule();
      else
        engine.RegisterWithLocalSchedule();
      auto& t = engine.GetTransformation();
      for (unsigned level = 0; level <= 4; ++level) {
        t.SetupPointTransform(level, 512.0);
        double worst = 0.0;
        for (int y = 0; y < 512; ++y)
          for (int x = 0; x < 512; ++x) {
            double gx, gy;
            t.TransformPoint(static_cast<double>(x), static_cast<double>(y), &gx, &gy);
            worst = std::max(worst, std::fabs(gy - y));
          }
        EXPECT_LE(worst, 0.25) << "level " << level;
      }
    }
  }
}

struct RigidCase {
  const char* name;
  double shift;  // pixels
  bool inverted;
  int a;
};

// The rigid start: the identity for identical images, a whole 1/32 of the
// side for a 16-pixel shift either way, and the identity when no candidate
// correlates above 0 (a negative image).
TEST(RegistrationEngineRigidSearch, ChoosesTheBestCandidateOrTheIdentity) {
  const RigidCase cases[] = {
      {"identical", 0.0, false, 0}, {"+16 px", 16.0, false, 1}, {"-16 px", -16.0, false, -1},
      {"negative", 0.0, true, 0}};
  for (const RigidCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> target = Render(512, [&](double& x, double&) { x += c.shift; });
    if (c.inverted)
      for (unsigned char& b : target) b = static_cast<unsigned char>(255 - b);
    const std::vector<unsigned char> source = Render(512);
    CRegisterEngine plain(9, target.data(), source.data());
    plain.RigidSearch();
    const RigidCandidate chosen = RegisterEngineTestAccess::Choice(plain);
    EXPECT_EQ(chosen.a, c.a);
    // The plain build applies the shift alone: nine candidates tie for each
    // a, and the first of them (b = -1, c = -1) is kept, unless none counts.
    EXPECT_EQ(chosen.b, c.inverted ? 0 : -1);
    EXPECT_EQ(chosen.c, c.inverted ? 0 : -1);
    Rectified::CRegisterEngine rectified(9, target.data(), source.data());
    rectified.RigidSearch();
    EXPECT_EQ(RegisterEngineTestAccess::Choice(rectified).a, c.a);
  }
}

TEST(RegistrationEngineRegister, ValueIsTheCostOfTheSourceThroughTheFinalGridAndRerunsAgree) {
  const Pair pair = MakePair(kField);
  CRegisterEngine engine(9, pair.target.data(), pair.source.data());
  EXPECT_EQ(engine.GetNumControlPoints(), 289);
  std::vector<float> points(2 * 289);
  const double value = engine.Register(points.data());
  auto& t = engine.GetTransformation();
  EXPECT_EQ(t.GetLevel(), 4);
  EXPECT_EQ(engine.GetLevel(), 0);
  t.Cost(engine.GetTargetPyramid().GetImage(0), engine.GetSourcePyramid().GetImage(0));
  EXPECT_EQ(value, t.GetCost());
  EXPECT_EQ(engine.GetOutputCost(), t.GetCost());
  EXPECT_GT(value, 0.9);
  int count = 0;
  const auto* finest = t.GetFinestGrid(&count);
  ASSERT_EQ(count, 289);
  for (int k = 0; k < count; ++k) {
    EXPECT_EQ(points[2 * k], static_cast<float>(finest[k].x));
    EXPECT_EQ(points[2 * k + 1], static_cast<float>(finest[k].y));
  }
  // The output is the source warped through the final grid.
  std::vector<unsigned char> warped(512 * 512);
  Image out;
  out.SetSize(512, 512);
  ASSERT_TRUE(out.Allocate());
  t.RenderWarp(engine.GetSourcePyramid().GetImage(0), &out);
  EXPECT_EQ(0, std::memcmp(out.GetBuffer(), engine.GetOutputImage()->GetBuffer(), 512 * 512));

  CRegisterEngine again(9, pair.target.data(), pair.source.data());
  std::vector<float> pointsAgain(2 * 289);
  EXPECT_EQ(again.Register(pointsAgain.data()), value);
  EXPECT_EQ(pointsAgain, points);
}

TEST(RegistrationEngineRegister, ControlPointsOfTheIdentityInBothBuilds) {
  const std::vector<unsigned char> image = Render(512);
  for (auto run : {&RegisterToControlPoints, &Rectified::RegisterToControlPoints}) {
    double ncc = 0.0;
    std::unique_ptr<float[]> points(run(image.data(), image.data(), &ncc));
    ASSERT_TRUE(points);
    EXPECT_NEAR(ncc, 1.0, 1e-9);
    for (int row = 0; row < 17; ++row)
      for (int column = 0; column < 17; ++column) {
        EXPECT_NEAR(points[2 * (row * 17 + column)], column / 16.0, 0.25 / 512);
        EXPECT_NEAR(points[2 * (row * 17 + column) + 1], row / 16.0, 0.25 / 512);
      }
  }
  // Without images there is nothing to register.
  double ncc = -5.0;
  EXPECT_EQ(RegisterToControlPoints(nullptr, image.data(), &ncc), nullptr);
  EXPECT_EQ(ncc, -5.0);
  CRegisterEngine idle(9, nullptr, nullptr);
  EXPECT_FALSE(idle.IsReady());
  EXPECT_EQ(idle.Register(nullptr), 0.0);
}

}  // namespace
