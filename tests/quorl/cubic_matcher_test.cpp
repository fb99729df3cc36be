// The spline family's image matcher: its schedule on a recording model, its
// refusals, the rigid start, the level accessors, and registrations of a
// smooth deformation and of horizontal shifts with each spline model.
#include "cubic/cubic.h"
#include "registration_texture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace MIR::Cubic {
// Reads the matcher's schedule.
struct ImageMatcherTestAccess {
  static int LastStage(const ImageMatcher& m) { return m.lastStage; }
  static double StepTolerance(const ImageMatcher& m, int s) { return m.stageStepTolerance[s]; }
  static double GradientTolerance(const ImageMatcher& m, int s) { return m.stageGradientTolerance[s]; }
  static int StartLevel(const ImageMatcher& m, int s) { return m.stageStartLevel[s]; }
  static int EndLevel(const ImageMatcher& m, int s) { return m.stageEndLevel[s]; }
};
}  // namespace MIR::Cubic

namespace {

using namespace MIR::Cubic;
using Access = ImageMatcherTestAccess;

// Low-frequency content of a side-pixel image at (x, y) in 512-pixel units.
double Scene(double x, double y) {
  return 30000 + 9000 * std::sin(x / 37.0 + 0.3) * std::cos(y / 53.0) + 7000 * std::sin((x + 2 * y) / 71.0) +
         12000 * std::exp(-((x - 300) * (x - 300) + (y - 200) * (y - 200)) / 5000.0) + 20.0 * (x - 256);
}

std::vector<unsigned short> Render(int side, const std::function<void(double, double, double*, double*)>& map) {
  std::vector<unsigned short> p(static_cast<size_t>(side) * side);
  const double unit = 512.0 / side;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      double u = x, v = y;
      map(x, y, &u, &v);
      p[static_cast<size_t>(y) * side + x] =
          static_cast<unsigned short>(std::clamp(Scene(u * unit, v * unit), 0.0, 65535.0));
    }
  return p;
}

auto Identity = [](double x, double y, double* u, double* v) {
  *u = x;
  *v = y;
};

// A model that records what the matcher does with it, over one parameter
// with a bowl-shaped similarity.
struct Recorder : Transformation {
  std::vector<std::string> events;
  double p1 = 0.5;
  Recorder() : Transformation(9) {}
  int GetNumParams() override { return 1; }
  void SetParams(const double* p) override { p1 = p[1]; }
  void GetParams(double* p) override { p[1] = p1; }
  void RefineGrid() override { events.push_back("refine"); }
  void InitFrom(Transformation* other) override {
    events.push_back(dynamic_cast<ScaleableRigidTrafo*>(other) ? "init rigid" : "init ?");
  }
  void SetImages(Image* s, Image* r) override {
    Transformation::SetImages(s, r);
    events.push_back("images " + std::to_string(s->GetWidth()) + " " + std::to_string(r->GetWidth()));
  }
  void Cost(const double* p, double* c) override { *c = 1 - (p[1] - 0.1) * (p[1] - 0.1); }
  void CostAndGradient(const double* p, double* g, double* c) override {
    Cost(p, c);
    g[1] = 2 * (p[1] - 0.1);
  }
};

TEST(CubicMatcher, ScheduleBySideAndLastStage) {
  struct Stage {
    int start, end;
    double gradientTolerance;
  };
  const std::vector<Stage> s256 = {{3, 2, 0.001}, {2, 1, 0.001}, {1, 1, 0.001}, {0, 0, 0.001}};
  const std::vector<Stage> s512 = {{4, 2, 0.001}, {3, 2, 0.001}, {2, 2, 0.001}, {1, 1, 0.002}, {0, 0, 0.002}};
  std::vector<Stage> s1024 = s512;
  for (Stage& s : s1024) ++s.start, ++s.end;
  for (int log2 : {8, 9, 10}) {
    const int side = 1 << log2;
    const std::vector<Stage>& schedule = log2 == 8 ? s256 : log2 == 9 ? s512 : s1024;
    std::vector<unsigned short> a = Render(side, Identity), b = a;
    for (int maxStage : {-1, 0, 2, 99}) {
      Recorder model;
      ImageMatcher matcher(&model, a.data(), b.data(), log2);
      ASSERT_EQ(matcher.Match(0, maxStage), 0);
      const int last = std::min<int>(static_cast<int>(schedule.size()) - 1, maxStage);
      EXPECT_EQ(Access::LastStage(matcher), last);
      std::vector<std::string> expected = {"init rigid"};
      for (int s = 0; s <= last; ++s) {
        EXPECT_EQ(Access::StartLevel(matcher, s), schedule[s].start);
        EXPECT_EQ(Access::EndLevel(matcher, s), schedule[s].end);
        EXPECT_EQ(Access::GradientTolerance(matcher, s), schedule[s].gradientTolerance);
        EXPECT_EQ(Access::StepTolerance(matcher, s), 1e-5);
        for (int j = schedule[s].start; j >= schedule[s].end; --j) {
          const int levelSide = side >> j;
          expected.push_back("images " + std::to_string(levelSide) + " " + std::to_string(levelSide));
        }
        if (s < last) expected.push_back("refine");
      }
      EXPECT_EQ(model.events, expected) << side << " " << maxStage;
      EXPECT_NEAR(model.p1, last >= 0 ? 0.1 : 0.5, 1e-6);
      // The 1024 schedule never works on the full-resolution image.
      if (log2 == 10) {
        for (const std::string& e : model.events) EXPECT_NE(e, "images 1024 1024");
      }
    }
  }
}

TEST(CubicMatcher, RefusesWhatItCannotMatch) {
  Recorder model;
  std::vector<unsigned short> small(128 * 128, 100), big(256 * 256, 100);
  {
    ImageMatcher matcher(&model, small.data(), small.data(), 7);
    EXPECT_EQ(matcher.Match(0, 99), -1);
    char* message = matcher.PrepareSchedule();
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message, "Image Size was not 256x256, 512x512 or 1024x1024");
    delete[] message;
  }
  {
    ImageMatcher matcher(&model, big.data(), nullptr, 8);
    EXPECT_EQ(matcher.Match(0, 99), -1);
  }
  {
    Image a, b;
    a.Wrap(big.data(), 8);
    b.Wrap(small.data(), 7);
    ImageMatcher matcher(&model, &a, &b);
    EXPECT_EQ(matcher.Match(0, 99), -1);
    ImageMatcher none(&model, &a, nullptr);
    EXPECT_EQ(none.Match(0, 99), -1);
  }
  EXPECT_TRUE(model.events.empty());
}

TEST(CubicMatcher, RigidStartAndLevelAccessors) {
  struct Case {
    double tx, ty, angle, scale;  // normalised units
  };
  // Scales below 1, so that the whole reference maps into the source: above
  // 1 the reference's border shows what the source lacks, and the source's
  // last row and column read the background, both of which pull the fit on
  // the 32-pixel level back toward 1 (1.05 is found as 1.002).
  for (const Case c : {Case{6.0 / 256, -4.0 / 256, 0.0, 1.0}, Case{0.0, 0.0, 0.06, 1.0},
                       Case{0.0, 0.0, 0.0, 0.96}, Case{-3.0 / 256, 2.0 / 256, -0.04, 0.97}}) {
    ScaleableRigidTrafo truth;
    const double v[4] = {c.tx, c.ty, c.angle, c.scale};
    truth.SetNativeParams(v);
    const int side = 256;
    // The reference at r shows the source at truth(r).
    std::vector<unsigned short> a = Render(side, Identity);
    std::vector<unsigned short> b = Render(side, [&](double x, double y, double* u, double* w) {
      truth.TransformPoint(x / side, y / side, u, w);
      *u *= side;
      *w *= side;
    });
    Image source, reference;
    source.Wrap(a.data(), 8);
    reference.Wrap(b.data(), 8);
    Recorder model;
    {
      ImageMatcher matcher(&model, &source, &reference);
      ASSERT_EQ(matcher.Match(0, -1), 0);
      double tx, ty, angle, scale;
      EXPECT_EQ(matcher.GetRigidParams(&tx, &ty, &angle, &scale), 0);
      // Within a pixel over the image.
      double fx[4], fy[4], gx[4], gy[4];
      truth.TransformGrid(fx, fy, 0);
      EXPECT_EQ(matcher.TransformGrid(gx, gy, 0), 0);
      for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(gx[k] * side, fx[k] * side, 1.0) << c.tx << " " << c.angle << " " << c.scale << " found " << tx << " " << ty << " " << angle << " " << scale;
        EXPECT_NEAR(gy[k] * side, fy[k] * side, 1.0);
      }
      Transformation* rigid = nullptr;
      EXPECT_EQ(matcher.GetRigidTransformation(&rigid), 0);
      ASSERT_NE(rigid, nullptr);
      double native[4];
      rigid->GetNativeParams(native);
      EXPECT_EQ(native[0], tx);
      EXPECT_EQ(native[3], scale);

      unsigned short* pixels = nullptr;
      int log2 = -1;
      EXPECT_EQ(matcher.GetSourceLevel(2, &pixels, &log2), 0);
      EXPECT_EQ(log2, 6);
      EXPECT_NE(pixels, a.data());
      EXPECT_EQ(matcher.GetReferenceLevel(0, &pixels, &log2), 0);
      EXPECT_EQ(pixels, b.data());
      EXPECT_EQ(log2, 8);
      EXPECT_EQ(matcher.GetReferenceLevel(9, &pixels, &log2), 0);  // out of range: level 0
      EXPECT_EQ(log2, 8);
    }
    // The caller's images outlive the matcher.
    EXPECT_EQ(source.pixels, a.data());
    EXPECT_EQ(source.GetPixel(10, 10), a[10 * side + 10]);
  }
}

// ---------------------------------------------------------------- registrations

// A smooth deformation: the reference at r shows the source at phi(r).
void Phi(double x, double y, double* u, double* v) {
  const double k = 2 * M_PI / 256.0;
  *u = x + 2.5 + 2.0 * std::sin(k * y) * std::cos(0.5 * k * x);
  *v = y - 1.5 + 1.5 * std::cos(k * x + 0.4);
}

void QuadraticAt(const TrafoQuadraticSpline& t, int l, double x, double y, double* X, double* Y) {
  const int cells = 1 << l, n = cells + 2;
  const int i = std::min(static_cast<int>(x * cells), cells - 1), j = std::min(static_cast<int>(y * cells), cells - 1);
  auto basis = [](double t, double n[3]) {
    n[0] = (1 - t) * (1 - t) / 2;
    n[1] = (1 + 2 * t - 2 * t * t) / 2;
    n[2] = t * t / 2;
  };
  double nu[3], nv[3];
  basis(x * cells - i, nu);
  basis(y * cells - j, nv);
  *X = *Y = 0;
  for (int b = 0; b < 3; ++b)
    for (int a = 0; a < 3; ++a) {
      *X += nu[a] * nv[b] * t.controlX[l][(j + b) * n + i + a];
      *Y += nu[a] * nv[b] * t.controlY[l][(j + b) * n + i + a];
    }
}

// RMS endpoint error in pixels inside a 16-pixel margin.
double RmsError(const std::function<void(int, int, double*, double*)>& mapped, int side) {
  double sum = 0;
  int count = 0;
  for (int y = 16; y < side - 16; ++y)
    for (int x = 16; x < side - 16; ++x) {
      double u, v, tu, tv;
      mapped(x, y, &u, &v);
      Phi(x, y, &tu, &tv);
      sum += (u - tu) * (u - tu) + (v - tv) * (v - tv);
      ++count;
    }
  return std::sqrt(sum / count);
}

TEST(CubicMatcherRegistration, EachModelFollowsASmoothField) {
  const int side = 256;
  std::vector<unsigned short> a = Render(side, Identity), b = Render(side, Phi);
  double start = RmsError(
      [](int x, int y, double* u, double* v) {
        *u = x;
        *v = y;
      },
      side);
  struct Case {
    const char* name;
    double bound;  // pixels: the first run (0.76, 0.64, 0.65) with some room
  };
  for (const Case c : {Case{"cubic spline", 0.9}, Case{"cubic sampling", 0.8}, Case{"quadratic spline", 0.8}}) {
    const std::string name = c.name;
    double rms = 0;
    if (name == "quadratic spline") {
      TrafoQuadraticSpline model(3, 0);
      ImageMatcher matcher(&model, a.data(), b.data(), 8);
      ASSERT_EQ(matcher.Match(0, 99), 0);
      const int l = model.GetLevel();
      rms = RmsError(
          [&](int x, int y, double* u, double* v) {
            QuadraticAt(model, l, static_cast<double>(x) / side, static_cast<double>(y) / side, u, v);
            *u *= side;
            *v *= side;
          },
          side);
      // A second match starts over from the coarse grid and ends where the
      // first did.
      std::vector<double> first = model.controlX[l];
      ASSERT_EQ(matcher.Match(0, 99), 0);
      ASSERT_EQ(model.GetLevel(), l);
      for (size_t k = 0; k < first.size(); ++k) EXPECT_NEAR(model.controlX[l][k], first[k], 1e-12);
    } else {
      std::unique_ptr<TrafoCubicSpline> model(name == "cubic spline" ? new TrafoCubicSpline(3)
                                                                     : new TrafoCubicIntensityCubic(3));
      ImageMatcher matcher(model.get(), a.data(), b.data(), 8);
      ASSERT_EQ(matcher.Match(0, 99), 0);
      std::vector<double> xs(side * side), ys(side * side);
      model->TransformGrid(xs.data(), ys.data(), 8);
      rms = RmsError(
          [&](int x, int y, double* u, double* v) {
            *u = xs[y * side + x];
            *v = ys[y * side + x];
          },
          side);
    }
    std::printf("%-18s RMS %.3f px (unregistered %.3f)\n", c.name, rms, start);
    EXPECT_LT(rms, c.bound) << c.name;
  }
}

// Forwards every slot to a model and keeps, per minimisation, the cost it
// started from and the cost of the parameters it left, the latter measured
// on the same images before the matcher moves on to the next level.
struct Climb : Transformation {
  Transformation* inner;
  std::vector<double> before, after;
  bool open = false, startPending = false;
  explicit Climb(Transformation* t) : Transformation(t->maxLevel), inner(t) {}
  int GetNumParams() override { return inner->GetNumParams(); }
  int GetLevel() override { return inner->GetLevel(); }
  void RefineGrid() override {
    Close();
    inner->RefineGrid();
  }
  void InitFrom(Transformation* other) override { inner->InitFrom(other); }
  void PrepareOptimization() override {
    Close();
    open = startPending = true;
    inner->PrepareOptimization();
  }
  void SetParams(const double* p) override { inner->SetParams(p); }
  void GetParams(double* p) override { inner->GetParams(p); }
  double GetCost() override { return inner->GetCost(); }
  void GetGradient(double* g) override { inner->GetGradient(g); }
  void SetImages(Image* s, Image* r) override {
    Close();
    Transformation::SetImages(s, r);
    inner->SetImages(s, r);
  }
  void CostAndGradient(const double* p, double* g, double* c) override {
    inner->CostAndGradient(p, g, c);
    if (startPending) before.push_back(*c);
    startPending = false;
  }
  void Cost(const double* p, double* c) override { inner->Cost(p, c); }
  void Close() {
    if (!open) return;
    open = false;
    std::vector<double> p(inner->GetNumParams() + 1);
    inner->GetParams(p.data());
    double c = kNoSimilarity;
    inner->Cost(p.data(), &c);
    after.push_back(c);
  }
};

// Pure horizontal shifts of the registration texture in 16 bits (0..60000),
// given in 512-pixel units and registered at 256. Up to about 10 units the
// rigid fit on the 32-pixel level stays in the start's basin and every model
// ends within a few hundredths of a pixel. At 15 the fit's first trial is a
// unit step, which in translation is half the image; backtracking from it
// stops about 100 units on, two periods of the texture's 64-unit stripes
// away, where the correlation already beats the start's, and the fit climbs
// that lesser peak. Whatever the basin, no minimisation of the rigid fit or
// of a model may end below the cost it started from.
TEST(CubicMatcherRegistration, HorizontalShiftsClimbAndRegister) {
  const int side = 256;
  auto render = [side](double shift) {
    std::vector<unsigned short> p(static_cast<size_t>(side) * side);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const double f = registration_texture::Texture(2.0 * x + shift, 2.0 * y);
        p[static_cast<size_t>(y) * side + x] = static_cast<unsigned short>(std::lround((f - 20) / 160 * 60000));
      }
    return p;
  };
  struct Case {
    double shift;  // 512-pixel units
    bool inBasin;  // the rigid fit stays in the start's basin
  };
  struct Model {
    const char* name;
    double rmsBound;  // pixels inside a 16-pixel margin: the first run (0.024, 0.013, 0.097) with room
  };
  for (const Case c : {Case{2, true}, Case{6, true}, Case{10, true}, Case{15, false}}) {
    std::vector<unsigned short> a = render(0), b = render(c.shift);
    const double truth = c.shift / 2;  // pixels of the side
    for (const Model m :
         {Model{"cubic spline", 0.05}, Model{"cubic sampling", 0.05}, Model{"quadratic spline", 0.15}}) {
      const std::string which = m.name;
      std::unique_ptr<Transformation> model;
      if (which == "cubic spline") model = std::make_unique<TrafoCubicSpline>(4);
      if (which == "cubic sampling") model = std::make_unique<TrafoCubicIntensityCubic>(4);
      if (which == "quadratic spline") model = std::make_unique<TrafoQuadraticSpline>(4, 0);
      Climb climb(model.get());
      ImageMatcher matcher(&climb, a.data(), b.data(), 8);
      ASSERT_EQ(matcher.Match(0, 99), 0);
      climb.Close();
      SCOPED_TRACE(which + ", shift " + std::to_string(c.shift));

      // The rigid fit from the identity on its own level.
      Transformation* rigid = nullptr;
      matcher.GetRigidTransformation(&rigid);
      double p[5], identity[5] = {0, 0, 0, 0, 1}, start = kNoSimilarity, end = kNoSimilarity;
      rigid->GetParams(p);
      rigid->Cost(identity, &start);
      rigid->Cost(p, &end);
      EXPECT_GE(end, start);
      double gx[4], gy[4];
      matcher.TransformGrid(gx, gy, 0);
      double rigidError = 0;
      for (int k = 0; k < 4; ++k)
        rigidError =
            std::max(rigidError, std::hypot(gx[k] * side - (k % 2) * side - truth, gy[k] * side - (k / 2) * side));
      if (c.inBasin) {
        EXPECT_LT(rigidError, 0.5);
      }

      ASSERT_EQ(climb.before.size(), climb.after.size());
      ASSERT_EQ(climb.before.size(), 6u);  // levels 3 and 2, 2 and 1, 1, 0
      for (size_t k = 0; k < climb.before.size(); ++k)
        EXPECT_GE(climb.after[k], climb.before[k]) << "minimisation " << k;

      double sum = 0;
      int count = 0;
      std::vector<double> xs(side * side), ys(side * side);
      if (which != "quadratic spline")
        static_cast<TrafoCubicSpline*>(model.get())->TransformGrid(xs.data(), ys.data(), 8);
      for (int y = 16; y < side - 16; ++y)
        for (int x = 16; x < side - 16; ++x) {
          double u = xs[y * side + x], v = ys[y * side + x];
          if (which == "quadratic spline") {
            auto* q = static_cast<TrafoQuadraticSpline*>(model.get());
            QuadraticAt(*q, q->GetLevel(), static_cast<double>(x) / side, static_cast<double>(y) / side, &u, &v);
            u *= side;
            v *= side;
          }
          sum += (u - x - truth) * (u - x - truth) + (v - y) * (v - y);
          ++count;
        }
      const double rms = std::sqrt(sum / count);
      std::printf("shift %4.1f %-16s rigid %.3f px, RMS %.3f px\n", c.shift, m.name, rigidError, rms);
      if (c.inBasin) {
        EXPECT_LT(rms, m.rmsBound);
      }
    }
  }
}

}  // namespace
