// The bilinear control-grid transformation and its rigid and single-cell
// views, in both builds: analytic gradients against central differences of
// the cost, the grid operations, rendering and point transforms.
#include "bilinear/bilinear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace MIR::Bilinear;

// A smooth, high-contrast scene (periods of 30 pixels and more, grey 8 to
// 248): the cost samples a piecewise bilinear image whose slope jumps at
// pixel borders, so central differences agree with the analytic slope only
// where neighbouring pixels' slopes differ little.
double Smooth(double x, double y, int) {
  const double t = 2.0 * std::numbers::pi / 48.0;
  return 128.0 + 55.0 * std::sin(1.3 * t * x + 0.4) * std::cos(0.9 * t * y + 0.2) +
         40.0 * std::sin(0.7 * t * (x + y) + 1.0) + 25.0 * std::cos(1.6 * t * (x - 0.5 * y));
}

template <class P>
std::unique_ptr<BasicImage<P>> MakeImage(int side, double shiftX, double wobble) {
  auto image = std::make_unique<BasicImage<P>>();
  image->SetSize(side, side);
  EXPECT_TRUE(image->Allocate());
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const double dx = shiftX + wobble * std::sin(2.0 * std::numbers::pi * y / side);
      const double dy = 0.5 * wobble * std::cos(2.0 * std::numbers::pi * x / side);
      image->GetBuffer()[y * side + x] = static_cast<unsigned char>(std::lround(Smooth(x + dx, y + dy, side)));
    }
  image->ComputeOutsideValue();
  return image;
}

template <class P>
void ToLevel(BasicTransformation<P>& t, int level) {
  t.ResetGrid();
  for (int i = 0; i < level; ++i) t.RefineGrid();
}

enum class View { Grid, Rigid, Cell };

// Dominant components (at least half the largest) and the whole vector,
// relative to the central differences. The coarsest case (16 pixels, one
// cell) differs by about 12 % as a vector: its few samples cross pixel
// borders, where the interpolated image's slope jumps; finer cases by 2-6 %.
constexpr double kDominantTolerance = 0.1;
constexpr double kVectorTolerance = 0.15;

struct GradientCase {
  const char* name;
  bool rectified;
  View view;
  int side, level;
  int cellColumn, cellRow;      // single-cell view
  double rigid[4];              // rigid view parameters
  bool pointBeyondRadius;       // grid: one point moved past the penalty radius
};

// Minus the cost and its gradient at p, and central differences of minus
// the cost, for one view over a fixed target and moving source.
template <class P>
void CheckGradient(const GradientCase& c) {
  SCOPED_TRACE(c.name);
  auto target = MakeImage<P>(c.side, 1.7, 1.2);
  auto source = MakeImage<P>(c.side, 0.0, 0.0);
  BasicTransformation<P> owner(1);
  ToLevel(owner, c.level);
  std::srand(11);
  owner.PerturbGrid();
  if (c.pointBeyondRadius) {
    const double r0 = (1024 / owner.GetColumns()) * 0.25;
    owner.GetGrid(c.level)[1].x = owner.GetReferenceGrid(c.level)[1].x + 1.4 * r0;
    owner.GetGrid(c.level)[1].y = owner.GetReferenceGrid(c.level)[1].y - 0.3 * r0;
  }
  std::unique_ptr<BasicTransformation<P>> view;
  if (c.view == View::Grid) {
    view = std::make_unique<BasicTransformation<P>>(0);
  } else if (c.view == View::Rigid) {
    view = std::make_unique<BasicRigidTransformation<P>>(0);
  } else {
    auto cell = std::make_unique<BasicLocalizedTransformation<P>>(0);
    cell->CopyGridState(owner);
    cell->SetActiveCell(c.cellColumn, c.cellRow);
    view = std::move(cell);
  }
  view->CopyGridState(owner);
  const int n = view->GetNumParams();
  std::vector<double> p(n + 1), g(n + 1);
  if (c.view == View::Rigid)
    std::copy(c.rigid, c.rigid + 4, p.begin() + 1);
  else
    view->GetParams(p.data());
  view->SetParams(p.data());
  view->CostAndGradient(target.get(), source.get());
  view->GetGradient(g.data());

  // Steps of a quarter pixel: long against the fixed-point resolution
  // (1/1024 pixel, truncated steps across a cell), short against the scene.
  const double quarterCellPixels = c.side / (4.0 * (owner.GetColumns() - 1));
  std::vector<double> h(n + 1, 0.25 / quarterCellPixels);
  if (c.view == View::Rigid) {
    // A shift keeps every step: 1/16 pixel exactly, so few samples cross a
    // pixel border. A turn moves the corners by about half a pixel.
    h[1] = h[2] = (1.0 / 16) / (c.side / 2.0);
    h[3] = 0.5 / (0.7 * c.side * 0.05);
    h[4] = 0.5 / (0.7 * c.side / 20.0);
  }
  std::vector<double> fd(n + 1, 0.0);
  double largest = 0.0;
  for (int i = 1; i <= n; ++i) {
    std::vector<double> q = p;
    q[i] = p[i] + h[i];
    view->SetParams(q.data());
    view->Cost(target.get(), source.get());
    const double plus = -view->GetCost();
    q[i] = p[i] - h[i];
    view->SetParams(q.data());
    view->Cost(target.get(), source.get());
    const double minus = -view->GetCost();
    fd[i] = (plus - minus) / (2.0 * h[i]);
    largest = std::max(largest, std::fabs(fd[i]));
  }
  view->SetParams(p.data());
  ASSERT_GT(largest, 0.0);
  double error = 0.0, norm = 0.0;
  for (int i = 1; i <= n; ++i) {
    const bool ignored = (c.rectified && c.view != View::Rigid && i % 2 == 0) ||
                         (c.view == View::Rigid && (c.rectified ? i == 4 : i >= 2));
    if (ignored) {
      // Parameters the setter never reads: no slope either way.
      EXPECT_EQ(g[i], 0.0) << i;
      EXPECT_EQ(fd[i], 0.0) << i;
    } else if (std::fabs(fd[i]) > 0.5 * largest) {
      EXPECT_NEAR(g[i], fd[i], kDominantTolerance * std::fabs(fd[i])) << i;
    }
    error += (g[i] - fd[i]) * (g[i] - fd[i]);
    norm += fd[i] * fd[i];
  }
  EXPECT_LT(std::sqrt(error / norm), kVectorTolerance);
}

TEST(RegistrationTransformation, GradientMatchesCentralDifferences) {
  const GradientCase cases[] = {
      {"grid level 0, 16 px", false, View::Grid, 16, 0, 0, 0, {}, false},
      {"grid level 1, 64 px", false, View::Grid, 64, 1, 0, 0, {}, false},
      {"grid level 2, 128 px, point past r0", false, View::Grid, 128, 2, 0, 0, {}, true},
      {"rectified grid level 2, 128 px", true, View::Grid, 128, 2, 0, 0, {}, true},
      {"rigid, plain", false, View::Rigid, 16, 0, 0, 0, {0.02, 0.0, 0.0, 1.0}, false},
      {"rigid, rectified, no turn", true, View::Rigid, 16, 0, 0, 0, {0.02, -0.015, 0.0, 1.0}, false},
      {"rigid, rectified, 0.1 rad", true, View::Rigid, 16, 0, 0, 0, {0.02, -0.015, 2.0, 1.0}, false},
      {"cell, corner", false, View::Cell, 64, 2, 0, 0, {}, false},
      {"cell, edge", false, View::Cell, 64, 2, 2, 0, {}, false},
      {"cell, inner", false, View::Cell, 128, 2, 1, 2, {}, false},
      {"rectified cell, inner", true, View::Cell, 128, 2, 2, 1, {}, false},
  };
  for (const GradientCase& c : cases) {
    if (c.rectified)
      CheckGradient<RectifiedBuild>(c);
    else
      CheckGradient<PlainBuild>(c);
  }
}

TEST(RegistrationTransformation, FreshGridAndCorrelationOfAnImageWithItself) {
  Transformation t(1);
  EXPECT_EQ(t.GetLevel(), 0);
  ASSERT_EQ(t.GetNumParams(), 8);
  double p[9];
  t.GetParams(p);
  const double expected[8] = {0, 0, 4, 0, 0, 4, 4, 4};
  for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(p[i + 1], expected[i]);

  auto textured = MakeImage<PlainBuild>(512, 0.0, 0.0);
  t.Cost(textured.get(), textured.get());
  EXPECT_NEAR(t.GetCost(), 1.0, 1e-12);

  // Without contrast the correlation is 0 and so is the image gradient.
  Image flat;
  flat.SetSize(64, 64);
  ASSERT_TRUE(flat.Allocate());
  std::memset(flat.GetBuffer(), 77, 64 * 64);
  flat.ComputeOutsideValue();
  auto texturedSmall = MakeImage<PlainBuild>(64, 0.0, 0.0);
  ToLevel(t, 2);
  t.CostAndGradient(&flat, texturedSmall.get());
  EXPECT_EQ(t.GetCost(), 0.0);
  std::vector<double> g(t.GetNumParams() + 1);
  t.GetGradient(g.data());
  for (size_t i = 1; i < g.size(); ++i) EXPECT_EQ(g[i], 0.0);
}

TEST(RegistrationTransformation, RefineGridKeepsTheMapping) {
  Transformation t(1);
  std::srand(3);
  for (int level = 0; level < 4; ++level) {
    t.PerturbGrid();
    t.SetupPointTransform(level, 512.0);
    std::vector<double> before;
    for (double y = 0; y < 512; y += 37.5)
      for (double x = 0; x < 512; x += 23.25) {
        double ox, oy;
        t.TransformPoint(x, y, &ox, &oy);
        before.insert(before.end(), {ox, oy});
      }
    t.RefineGrid();
    ASSERT_EQ(t.GetLevel(), level + 1);
    t.SetupPointTransform(level + 1, 512.0);
    size_t k = 0;
    for (double y = 0; y < 512; y += 37.5)
      for (double x = 0; x < 512; x += 23.25) {
        double ox, oy;
        t.TransformPoint(x, y, &ox, &oy);
        EXPECT_NEAR(ox, before[k++], 1e-9);
        EXPECT_NEAR(oy, before[k++], 1e-9);
      }
  }
  // The finest level refines no further.
  const AffPoint kept = t.GetGrid(4)[100];
  t.RefineGrid();
  EXPECT_EQ(t.GetLevel(), 4);
  EXPECT_EQ(t.GetGrid(4)[100].x, kept.x);
  int count = 0;
  EXPECT_EQ(t.GetFinestGrid(&count), t.GetGrid(4));
  EXPECT_EQ(count, 289);
}

// Against a flat image the correlation is 0 and the cost is minus the
// penalty alone: nothing within r0, exactly 1 at 1.5 r0.
TEST(RegistrationTransformation, DisplacementPenaltyAtEveryLevel) {
  Image flat;
  flat.SetSize(64, 64);
  ASSERT_TRUE(flat.Allocate());
  std::memset(flat.GetBuffer(), 50, 64 * 64);
  flat.ComputeOutsideValue();
  Transformation t(1);
  const double radius[5] = {128, 85.25, 51, 28.25, 15};
  for (int level = 0; level <= 4; ++level) {
    ToLevel(t, level);
    const double r0 = radius[level];
    AffPoint& point = t.GetGrid(level)[t.GetPointCount() - 1];
    const AffPoint reference = t.GetReferenceGrid(level)[t.GetPointCount() - 1];
    point.Set(reference.x - 0.6 * r0, reference.y - 0.8 * r0 * 0.99);
    t.Cost(&flat, &flat);
    EXPECT_EQ(t.GetCost(), 0.0) << level;
    point.Set(reference.x - 0.6 * 1.5 * r0, reference.y - 0.8 * 1.5 * r0);
    t.Cost(&flat, &flat);
    EXPECT_NEAR(t.GetCost(), -1.0, 1e-12) << level;
  }
}

TEST(RegistrationTransformation, RectifiedParametersMoveXOnly) {
  Rectified::Transformation t(1);
  ToLevel(t, 1);
  std::vector<double> p(19), back(19);
  t.GetParams(p.data());
  std::vector<double> wanted = p;
  for (int i = 1; i <= 18; ++i) wanted[i] = p[i] + 0.1 * i;
  t.SetParams(wanted.data());
  t.GetParams(back.data());
  for (int i = 1; i <= 18; ++i) EXPECT_NEAR(back[i], i % 2 ? wanted[i] : p[i], 1e-12) << i;
}

TEST(RegistrationTransformation, PointTransformInPixelsOfAnySide) {
  Transformation t(1);
  // The whole square 64 grid units to the right: 16 px at 256, 32 px at 512.
  for (int k = 0; k < 4; ++k) t.GetGrid(0)[k].x += 64.0;
  for (double side : {256.0, 512.0}) {
    t.SetupPointTransform(0, side);
    double x, y;
    t.TransformPoint(100.0, 50.0, &x, &y);
    EXPECT_NEAR(x, 100.0 + side / 16.0, 1e-9) << side;
    EXPECT_NEAR(y, 50.0, 1e-9) << side;
    float fx, fy;
    t.TransformPoint(100.0f, 50.0f, &fx, &fy);
    EXPECT_NEAR(fx, 100.0 + side / 16.0, 1e-3) << side;
  }
  // Control points as fractions of the side; a null array gets the counts only.
  int columns = 0, rows = 0;
  t.GetControlPoints(nullptr, 3, &columns, &rows);
  EXPECT_EQ(columns, 9);
  EXPECT_EQ(rows, 9);
  double points[8];
  t.GetControlPoints(points, 0, &columns, &rows);
  EXPECT_DOUBLE_EQ(points[2], (1024.0 + 64.0) / 1024.0);
  EXPECT_DOUBLE_EQ(points[5], 1.0);
}

TEST(RegistrationTransformation, PerturbGridDrawsYThenXWithinATwentiethOfACell) {
  Transformation t(1);
  ToLevel(t, 2);
  std::vector<AffPoint> before(t.GetGrid(2), t.GetGrid(2) + 25);
  std::srand(1234);
  t.PerturbGrid();
  std::srand(1234);
  const double span = RAND_MAX + 1.0, cell = 1024.0 / 5;
  for (int k = 0; k < 25; ++k) {
    const int r1 = std::rand(), r2 = std::rand();
    EXPECT_DOUBLE_EQ(t.GetGrid(2)[k].x, before[k].x + (0.5 - r2 / span) * cell * 0.1);
    EXPECT_DOUBLE_EQ(t.GetGrid(2)[k].y, before[k].y + (0.5 - r1 / span) * cell * 0.1);
    EXPECT_LE(std::fabs(t.GetGrid(2)[k].x - before[k].x), 0.05 * cell);
    EXPECT_EQ(t.GetReferenceGrid(2)[k].x, before[k].x);
  }
}

TEST(RegistrationTransformation, RenderWarpRoundsAndKeepsTheFullRange) {
  // The identity reproduces every byte, 0 and 255 included.
  Image source, output;
  for (Image* image : {&source, &output}) {
    image->SetSize(64, 64);
    ASSERT_TRUE(image->Allocate());
  }
  for (int i = 0; i < 64 * 64; ++i) source.GetBuffer()[i] = static_cast<unsigned char>((i * 97) & 0xFF);
  source.GetBuffer()[0] = 255;
  source.GetBuffer()[64 * 64 - 1] = 255;
  source.GetBuffer()[5] = 0;
  source.ComputeOutsideValue();
  Transformation t(1);
  t.RenderWarp(&source, &output);
  EXPECT_EQ(0, std::memcmp(source.GetBuffer(), output.GetBuffer(), 64 * 64));

  // Half a pixel along a ramp of 1 a pixel: x + 0.5 rounds up to x + 1.
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) source.GetBuffer()[y * 64 + x] = static_cast<unsigned char>(3 * x);
  for (int k = 0; k < 4; ++k) t.GetGrid(0)[k].x += 1024.0 / 64 / 2;
  t.RenderWarp(&source, &output);
  for (int x = 0; x < 62; ++x) EXPECT_EQ(output.GetPixel(x, 10), 3 * x + 2) << x;  // 3x + 1.5
}

TEST(RegistrationViews, RigidParametersInBothBuilds) {
  const double shiftRight[5] = {0, 0.0625, 0, 0, 1}, downAndTurn[5] = {0, 0, 0.0625, 2, 1};
  {
    Transformation owner(1);
    RigidTransformation view(0);
    view.CopyGridState(owner);
    view.SetParams(shiftRight);
    for (int k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(owner.GetGrid(0)[k].x, owner.GetReferenceGrid(0)[k].x + 32.0);
    double p[5];
    view.GetParams(p);
    EXPECT_NEAR(p[1], 0.0625, 1e-12);
    EXPECT_NEAR(p[2], 0.0, 1e-12);
    EXPECT_LT(std::fabs(p[3]), 1e-6);
    EXPECT_NEAR(p[4], 1.0, 1e-12);
    view.SetParams(downAndTurn);  // the plain view applies p[1] alone
    for (int k = 0; k < 4; ++k) {
      EXPECT_DOUBLE_EQ(owner.GetGrid(0)[k].x, owner.GetReferenceGrid(0)[k].x);
      EXPECT_DOUBLE_EQ(owner.GetGrid(0)[k].y, owner.GetReferenceGrid(0)[k].y);
    }
  }
  {
    Rectified::Transformation owner(1);
    Rectified::RigidTransformation view(0);
    view.CopyGridState(owner);
    view.SetParams(shiftRight);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(owner.GetGrid(0)[k].x, owner.GetReferenceGrid(0)[k].x + 32.0, 1e-9);
    view.SetParams(downAndTurn);
    // Turned by 0.1 rad about (512, 512), then 32 down: TL (0, 0) goes to
    // 512 + R(-512, -512) + (0, 32).
    const double c = std::cos(0.1), s = std::sin(0.1);
    EXPECT_NEAR(owner.GetGrid(0)[0].x, 512 + c * -512 + s * -512, 1e-9);
    EXPECT_NEAR(owner.GetGrid(0)[0].y, 512 - s * -512 + c * -512 + 32, 1e-9);
    double p[5];
    view.GetParams(p);
    EXPECT_NEAR(p[1], 0.0, 1e-12);
    EXPECT_NEAR(p[2], 0.0625, 1e-12);
    EXPECT_EQ(p[3], 0.0);
    EXPECT_NEAR(p[4], 1.0, 1e-12);
  }
}

TEST(RegistrationViews, ActiveCellOutsideTheGridSelectsTheFirst) {
  Transformation owner(1);
  ToLevel(owner, 2);
  LocalizedTransformation view(0);
  view.CopyGridState(owner);
  view.SetActiveCell(2, 3);
  EXPECT_EQ(view.GetActiveColumn(), 2);
  for (auto cell : {std::pair{4, 0}, std::pair{-1, 0}, std::pair{0, 4}}) {
    view.SetActiveCell(2, 3);
    view.SetActiveCell(cell.first, cell.second);
    EXPECT_EQ(view.GetActiveColumn(), 0);
    EXPECT_EQ(view.GetActiveRow(), 0);
  }
}

// A single-cell gradient leaves every point outside the cell's 3 x 3 region
// at zero; the corner cell's region covers 2 x 2 cells.
TEST(RegistrationViews, SingleCellCostCoversItsRegionOnly) {
  auto target = MakeImage<PlainBuild>(64, 1.0, 1.0), source = MakeImage<PlainBuild>(64, 0.0, 0.0);
  Transformation owner(1);
  ToLevel(owner, 3);  // 9 x 9 points
  LocalizedTransformation view(0);
  view.CopyGridState(owner);
  view.SetActiveCell(0, 0);
  view.CostAndGradient(target.get(), source.get());
  for (int row = 0; row < 9; ++row)
    for (int column = 0; column < 9; ++column) {
      const bool inRegion = row <= 2 && column <= 2;
      const double gx = owner.GetGradientX(row * 9 + column);
      if (!inRegion) {
        EXPECT_EQ(gx, 0.0) << column << "," << row;
      }
    }
  EXPECT_NE(owner.GetGradientX(2 * 9 + 2), 0.0);
}

TEST(RegistrationViews, DestroyedViewLeavesTheOwnerUsable) {
  auto image = MakeImage<PlainBuild>(64, 0.0, 0.0);
  Transformation owner(1);
  ToLevel(owner, 2);
  {
    RigidTransformation rigid(0);
    rigid.CopyGridState(owner);
    LocalizedTransformation cell(0);
    cell.CopyGridState(owner);
  }
  owner.RefineGrid();
  owner.Cost(image.get(), image.get());
  EXPECT_NEAR(owner.GetCost(), 1.0, 1e-12);
}

}  // namespace
