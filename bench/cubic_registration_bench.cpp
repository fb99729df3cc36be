// The spline registration family (MIR::Cubic::ImageMatcher with its three
// spline models) on analytic pairs: the bilinear benchmark's texture f scaled
// to 0..60000 in 16 bits, source f(x), reference f(phi(x)), at sides 256, 512
// and 1024 (content and phi in 512-pixel units), so the true mapping is known
// at every pixel.
//
// Per case and model (maxLevel 4, the full schedule): RMS, median and maximum
// endpoint error inside a 16-pixel margin (TransformGrid; the quadratic model
// from its control points), the largest vertical endpoint error, the rigid
// stage's error, NCC of reference and warped source, time per Match (median
// of 5), evaluations, minimisations, iteration-cap hits and reports, the
// iterations per minimisation of each stage, and for the fields ours/floor,
// the floor being the least-squares fit of phi over the whole image in the
// model's own finest B-spline basis (19 x 19 cubic, 18 x 18 quadratic). At
// 512, errors and times per last stage (maxStage 0..4). Set-up costs and
// peak memory. Then, on the same content,
// the bilinear engine (8 bits, 512, global schedule), cv::DISOpticalFlow
// (PRESET_MEDIUM, 8-bit copies, one thread) at every side and
// cv::findTransformECC (MOTION_AFFINE, CV_32F copies, one thread) against the
// rigid stage, with the ratios ours / theirs.
//
// Run by hand, from a Release build (no sanitizers):
//   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
//         -DQUORL_SANITIZE=OFF -DQUORL_BUILD_TESTS=OFF
//   cmake --build build/release --target cubic_registration_bench
//   build/release/bin/cubic_registration_bench [-quick]
#include "Registration/bi_tran_pyr.h"
#include "bilinear/bilinear.h"
#include "cubic/cubic.h"
#include "cubic/spline_weights.h"
#include "registration_texture.h"

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Mapping = std::function<void(double&, double&)>;  // in 512-pixel units
using namespace MIR::Cubic;
constexpr int kMargin = 16;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Stats {
  double rms = 0, median = 0, max = 0;
  double maxVertical = 0;  // largest |y error|
};

Stats Summarise(std::vector<double> errors) {
  Stats s;
  double sum = 0;
  for (double e : errors) sum += e * e, s.max = std::max(s.max, e);
  s.rms = std::sqrt(sum / errors.size());
  std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
  s.median = errors[errors.size() / 2];
  return s;
}

struct Case {
  std::string name;
  bool rigid;  // a shift, rotation or scale: ECC applies
  Mapping phi;
};

// phi in pixels of a side-pixel image.
void PhiAt(const Case& c, int side, double x, double y, double* u, double* v) {
  const double k = 512.0 / side;
  double px = x * k, py = y * k;
  c.phi(px, py);
  *u = px / k;
  *v = py / k;
}

// Endpoint errors in pixels of the side, mapped(x, y) against phi.
template <class F>
Stats Endpoints(const Case& c, int side, F&& mapped) {
  std::vector<double> errors;
  double vertical = 0;
  for (int y = kMargin; y < side - kMargin; ++y)
    for (int x = kMargin; x < side - kMargin; ++x) {
      double ex, ey, gx, gy;
      PhiAt(c, side, x, y, &ex, &ey);
      mapped(x, y, &gx, &gy);
      errors.push_back(std::hypot(gx - ex, gy - ey));
      vertical = std::max(vertical, std::fabs(gy - ey));
    }
  Stats s = Summarise(errors);
  s.maxVertical = vertical;
  return s;
}

// f(phi(x)) in 16 bits (0..60000) and its 8-bit twin.
std::vector<unsigned short> Render16(int side, const Mapping& phi) {
  std::vector<unsigned short> image(static_cast<size_t>(side) * side);
  const double k = 512.0 / side;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      double px = x * k, py = y * k;
      phi(px, py);
      const double f = registration_texture::Texture(px, py);
      image[static_cast<size_t>(y) * side + x] = static_cast<unsigned short>(std::lround((f - 20.0) / 160.0 * 60000.0));
    }
  return image;
}

std::vector<unsigned char> To8(const std::vector<unsigned short>& a) {
  std::vector<unsigned char> b(a.size());
  for (size_t i = 0; i < a.size(); ++i) b[i] = static_cast<unsigned char>(std::lround(20.0 + a[i] * 160.0 / 60000.0));
  return b;
}

double Ncc(const unsigned short* a, const unsigned short* b, int side) {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (int y = kMargin; y < side - kMargin; ++y)
    for (int x = kMargin; x < side - kMargin; ++x) {
      const double u = a[y * side + x], v = b[y * side + x];
      n += 1, sa += u, sb += v, saa += u * u, sbb += v * v, sab += u * v;
    }
  return (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

// Forwards every slot to a model and counts the evaluations, and per stage
// (the matcher refines the grid between stages) the minimisations and their
// iterations: every line search starts with a value right after a gradient.
struct Counting : Transformation {
  Transformation* inner;
  long evaluations = 0, minimisations = 0;
  int stage = 0;
  bool afterGradient = false;
  std::vector<long> stageMinimisations, stageIterations;
  explicit Counting(Transformation* t) : Transformation(t->maxLevel), inner(t) {}
  void ResetLevel() override { inner->ResetLevel(); }
  void IncreaseLevel() override { inner->IncreaseLevel(); }
  void DecreaseLevel() override { inner->DecreaseLevel(); }
  int GetLevel() override { return inner->GetLevel(); }
  void SetLevel(int l) override { inner->SetLevel(l); }
  int GetNumParams() override { return inner->GetNumParams(); }
  void RefineGrid() override {
    ++stage;
    inner->RefineGrid();
  }
  void SetNativeParams(const double* v) override { inner->SetNativeParams(v); }
  void InitFrom(Transformation* o) override {
    stage = 0;
    inner->InitFrom(o);
  }
  void GetNativeParams(double* v) override { inner->GetNativeParams(v); }
  void TransformGrid(double* x, double* y, int l) override { inner->TransformGrid(x, y, l); }
  void TransformPoint(double x, double y, double* u, double* v) override { inner->TransformPoint(x, y, u, v); }
  void PrepareOptimization() override {
    ++minimisations;
    if (static_cast<int>(stageMinimisations.size()) <= stage) {
      stageMinimisations.resize(stage + 1, 0);
      stageIterations.resize(stage + 1, 0);
    }
    ++stageMinimisations[stage];
    afterGradient = false;
    inner->PrepareOptimization();
  }
  void SetParams(const double* p) override { inner->SetParams(p); }
  void GetParams(double* p) override { inner->GetParams(p); }
  double GetCost() override { return inner->GetCost(); }
  void GetGradient(double* g) override { inner->GetGradient(g); }
  void SetImages(Image* s, Image* r) override { inner->SetImages(s, r); }
  void CostAndGradient(const double* p, double* g, double* c) override {
    ++evaluations;
    afterGradient = true;
    inner->CostAndGradient(p, g, c);
  }
  void Cost(const double* p, double* c) override {
    ++evaluations;
    if (afterGradient && stage < static_cast<int>(stageIterations.size())) ++stageIterations[stage];
    afterGradient = false;
    inner->Cost(p, c);
  }
  // "i0 i1 ...": iterations per minimisation of every stage run.
  std::string IterationsPerStage() const {
    std::string text;
    char item[24];
    for (size_t s = 0; s < stageMinimisations.size(); ++s) {
      std::snprintf(item, sizeof item, "%s%.1f", s ? " " : "",
                    double(stageIterations[s]) / std::max(stageMinimisations[s], 1L));
      text += item;
    }
    return text;
  }
};

// The floor of a B-spline model: the least-squares fit of phi over every
// pixel of the side in the model's finest basis (cells 2^level a side,
// coefficient k of a cell's first one standing at (k - offset) / 2^level),
// measured like the models themselves. Tensor basis over a square sample
// grid: the fit separates, C = P X P^T with P = (B^T B)^-1 B^T.
Stats BsplineFloor(const Case& c, int side, bool cubic, int level) {
  const int cells = 1 << level, order = cubic ? 4 : 3, n = cells + order - 1;
  auto basis = [cubic](double t, double* w) {
    if (cubic) {
      w[0] = (1 - t) * (1 - t) * (1 - t) / 6;
      w[1] = (3 * t * t * t - 6 * t * t + 4) / 6;
      w[2] = (-3 * t * t * t + 3 * t * t + 3 * t + 1) / 6;
      w[3] = t * t * t / 6;
    } else {
      w[0] = (1 - t) * (1 - t) / 2, w[1] = (-2 * t * t + 2 * t + 1) / 2, w[2] = t * t / 2;
    }
  };
  // B: side x n, one row per pixel position x / side.
  std::vector<double> B(static_cast<size_t>(side) * n, 0.0);
  std::vector<int> first(side);
  for (int x = 0; x < side; ++x) {
    const double u = static_cast<double>(x) / side * cells;
    const int i = std::min(static_cast<int>(u), cells - 1);
    first[x] = i;
    double w[4];
    basis(u - i, w);
    for (int m = 0; m < order; ++m) B[static_cast<size_t>(x) * n + i + m] = w[m];
  }
  // P = (B^T B)^-1 B^T by Gauss-Jordan on [B^T B | B^T].
  const int cols = n + side;
  std::vector<double> a(static_cast<size_t>(n) * cols, 0.0);
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k)
      for (int x = 0; x < side; ++x) a[r * cols + k] += B[static_cast<size_t>(x) * n + r] * B[static_cast<size_t>(x) * n + k];
    for (int x = 0; x < side; ++x) a[r * cols + n + x] = B[static_cast<size_t>(x) * n + r];
  }
  for (int r = 0; r < n; ++r) {
    int pivot = r;
    for (int k = r + 1; k < n; ++k)
      if (std::fabs(a[k * cols + r]) > std::fabs(a[pivot * cols + r])) pivot = k;
    for (int k = 0; k < cols; ++k) std::swap(a[r * cols + k], a[pivot * cols + k]);
    const double d = a[r * cols + r];
    for (int k = 0; k < cols; ++k) a[r * cols + k] /= d;
    for (int q = 0; q < n; ++q)
      if (q != r) {
        const double f = a[q * cols + r];
        if (f != 0)
          for (int k = 0; k < cols; ++k) a[q * cols + k] -= f * a[r * cols + k];
      }
  }
  auto P = [&](int r, int x) { return a[r * cols + n + x]; };
  // phi in fractions of the side, X[y][x] and Y[y][x]; C = P X P^T.
  std::vector<double> X(static_cast<size_t>(side) * side), Y(X.size());
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      double u, v;
      PhiAt(c, side, x, y, &u, &v);
      X[static_cast<size_t>(y) * side + x] = u / side;
      Y[static_cast<size_t>(y) * side + x] = v / side;
    }
  std::vector<double> cx(static_cast<size_t>(n) * n), cy(cx.size());
  {
    std::vector<double> tx(static_cast<size_t>(n) * side, 0.0), ty(tx.size(), 0.0);  // P X: n x side
    for (int r = 0; r < n; ++r)
      for (int y = 0; y < side; ++y) {
        const double w = P(r, y);
        for (int x = 0; x < side; ++x) {
          tx[static_cast<size_t>(r) * side + x] += w * X[static_cast<size_t>(y) * side + x];
          ty[static_cast<size_t>(r) * side + x] += w * Y[static_cast<size_t>(y) * side + x];
        }
      }
    for (int r = 0; r < n; ++r)
      for (int k = 0; k < n; ++k) {
        double sx = 0, sy = 0;
        for (int x = 0; x < side; ++x) {
          sx += tx[static_cast<size_t>(r) * side + x] * P(k, x);
          sy += ty[static_cast<size_t>(r) * side + x] * P(k, x);
        }
        cx[static_cast<size_t>(r) * n + k] = sx;
        cy[static_cast<size_t>(r) * n + k] = sy;
      }
  }
  return Endpoints(c, side, [&](int x, int y, double* u, double* v) {
    *u = *v = 0;
    for (int q = 0; q < order; ++q)
      for (int m = 0; m < order; ++m) {
        const double w = B[static_cast<size_t>(y) * n + first[y] + q] * B[static_cast<size_t>(x) * n + first[x] + m];
        *u += w * cx[static_cast<size_t>(first[y] + q) * n + first[x] + m] * side;
        *v += w * cy[static_cast<size_t>(first[y] + q) * n + first[x] + m] * side;
      }
  });
}

enum class Model { Cubic, CubicSampling, Quadratic };
const char* Name(Model m) {
  return m == Model::Cubic ? "TrafoCubicSpline" : m == Model::CubicSampling ? "TrafoCubicIntensityCubic"
                                                                           : "TrafoQuadraticSpline";
}

std::string MessageFile() { return std::string(std::getenv("QUORL_DRIVE_C")) + "/MessageFile.txt"; }

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct Result {
  Stats error, rigid;
  double ncc = 0, seconds = 0;
  long evaluations = 0, minimisations = 0;
  int reports = 0, caps = 0;
  std::string iterations;  // per minimisation, stage by stage
};

Result RunOurs(const Case& c, Model which, int side, std::vector<unsigned short>& source,
               std::vector<unsigned short>& reference, int maxStage, int repeats) {
  const int log2 = FloorLog2(side);
  Result r;
  std::vector<double> times;
  for (int run = 0; run < repeats; ++run) {
    std::filesystem::remove(MessageFile());
    std::unique_ptr<Transformation> model;
    if (which == Model::Cubic) model = std::make_unique<TrafoCubicSpline>(4);
    if (which == Model::CubicSampling) model = std::make_unique<TrafoCubicIntensityCubic>(4);
    if (which == Model::Quadratic) model = std::make_unique<TrafoQuadraticSpline>(4, 0);
    Counting counting(model.get());
    Image a, b;
    a.Wrap(source.data(), log2);
    b.Wrap(reference.data(), log2);
    ImageMatcher matcher(&counting, &a, &b);
    const auto start = Clock::now();
    matcher.Match(0, maxStage);
    times.push_back(Seconds(start));
    if (run > 0) continue;
    std::ifstream in(MessageFile());
    std::stringstream text;
    text << in.rdbuf();
    r.reports = CountOf(text.str(), "Numberical");
    r.caps = CountOf(text.str(), "too many iterations");
    r.evaluations = counting.evaluations;
    r.minimisations = counting.minimisations;
    r.iterations = counting.IterationsPerStage();
    Transformation* rigid = nullptr;
    matcher.GetRigidTransformation(&rigid);
    r.rigid = Endpoints(c, side, [&](int x, int y, double* u, double* v) {
      rigid->TransformPoint(static_cast<double>(x) / side, static_cast<double>(y) / side, u, v);
      *u *= side, *v *= side;
    });
    std::vector<unsigned short> warped(source.size(), 0);
    if (which == Model::Quadratic) {
      auto* q = static_cast<TrafoQuadraticSpline*>(model.get());
      const int l = q->GetLevel(), n = (1 << l) + 2;
      // The quadratic spline maps no point itself: evaluate its control grid.
      r.error = Endpoints(c, side, [&](int x, int y, double* u, double* v) {
        const int cells = 1 << l;
        const double sx = static_cast<double>(x) / side * cells, sy = static_cast<double>(y) / side * cells;
        const int i = std::min(static_cast<int>(sx), cells - 1), j = std::min(static_cast<int>(sy), cells - 1);
        auto basis = [](double t, double w[3]) {
          w[0] = (1 - t) * (1 - t) / 2, w[1] = (1 + 2 * t - 2 * t * t) / 2, w[2] = t * t / 2;
        };
        double nu[3], nv[3];
        basis(sx - i, nu);
        basis(sy - j, nv);
        *u = *v = 0;
        for (int bb = 0; bb < 3; ++bb)
          for (int aa = 0; aa < 3; ++aa) {
            *u += nu[aa] * nv[bb] * q->controlX[l][(j + bb) * n + i + aa] * side;
            *v += nu[aa] * nv[bb] * q->controlY[l][(j + bb) * n + i + aa] * side;
          }
      });
      q->RenderWarped(source.data(), warped.data(), a.background, log2);
    } else {
      auto* s = static_cast<TrafoCubicSpline*>(model.get());
      std::vector<double> xs(source.size()), ys(source.size());
      s->TransformGrid(xs.data(), ys.data(), log2);
      r.error = Endpoints(c, side, [&](int x, int y, double* u, double* v) {
        *u = xs[static_cast<size_t>(y) * side + x], *v = ys[static_cast<size_t>(y) * side + x];
      });
      if (which == Model::CubicSampling) {
        a.PrepareSplineCoefficients();
        static_cast<TrafoCubicIntensityCubic*>(s)->RenderWarped(a.splineCoefficients, warped.data(), 0, log2);
      } else {
        s->RenderWarped(source.data(), warped.data(), a.background, log2);
      }
    }
    r.ncc = Ncc(reference.data(), warped.data(), side);
  }
  r.seconds = Median(times);
  return r;
}

struct Theirs {
  Stats error;
  double seconds = 0;
  bool failed = false;
};

Theirs RunBilinear(const Case& c, const std::vector<unsigned char>& reference, const std::vector<unsigned char>& source,
                   int repeats) {
  Theirs r;
  std::vector<double> times;
  for (int run = 0; run < repeats; ++run) {
    const auto start = Clock::now();
    MIR::Bilinear::BasicRegisterEngine<MIR::Bilinear::PlainBuild> engine(9, reference.data(), source.data());
    engine.RegisterWithGlobalSchedule();
    times.push_back(Seconds(start));
    if (run > 0) continue;
    Quorl::Registration::BiTranPyr pyramid;
    pyramid.SetNumLevels(4);
    for (int level = 0; level <= 4; ++level) {
      int columns, rows;
      engine.GetTransformation().GetControlPoints(pyramid.GetControlPoints(level), level, &columns, &rows);
    }
    r.error = Endpoints(c, 512, [&](int x, int y, double* u, double* v) {
      double point[2] = {double(x), double(y)}, out[2];
      pyramid.TransformPoint(point, out, 4);
      *u = out[0], *v = out[1];
    });
  }
  r.seconds = Median(times);
  return r;
}

Theirs RunDis(const Case& c, int side, const cv::Mat& reference, const cv::Mat& source, int repeats) {
  Theirs r;
  cv::Mat flow;
  std::vector<double> times;
  for (int run = 0; run < repeats; ++run) {
    auto dis = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM);
    const auto start = Clock::now();
    dis->calc(reference, source, flow);
    times.push_back(Seconds(start));
  }
  r.seconds = Median(times);
  r.error = Endpoints(c, side, [&](int x, int y, double* u, double* v) {
    const cv::Vec2f f = flow.at<cv::Vec2f>(y, x);
    *u = x + f[0], *v = y + f[1];
  });
  return r;
}

Theirs RunEcc(const Case& c, int side, const cv::Mat& reference, const cv::Mat& source, int repeats) {
  Theirs r;
  cv::Mat warp;
  std::vector<double> times;
  for (int run = 0; run < repeats; ++run) {
    warp = cv::Mat::eye(2, 3, CV_32F);
    const auto start = Clock::now();
    try {
      cv::findTransformECC(reference, source, warp, cv::MOTION_AFFINE,
                           cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100, 1e-6),
                           cv::noArray(), 5);
    } catch (const cv::Exception&) {
      r.failed = true;
    }
    times.push_back(Seconds(start));
  }
  r.seconds = Median(times);
  const cv::Mat_<float> w = warp;
  r.error = Endpoints(c, side, [&](int x, int y, double* u, double* v) {
    *u = w(0, 0) * x + w(0, 1) * y + w(0, 2);
    *v = w(1, 0) * x + w(1, 1) * y + w(1, 2);
  });
  return r;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  cases.push_back({"identity", true, [](double&, double&) {}});
  for (double s : {2.0, 8.0, 15.0})
    cases.push_back({"shift " + std::to_string(int(s)) + " px", true, [s](double& x, double&) { x += s; }});
  cases.push_back({"rotation 0.03 rad, scale 0.98", true, [](double& x, double& y) {
                     const double c = 0.98 * std::cos(0.03), s = 0.98 * std::sin(0.03);
                     const double u = x - 256, v = y - 256;
                     x = 256 + c * u - s * v;
                     y = 256 + s * u + c * v;
                   }});
  for (double lambda : {64.0, 128.0, 256.0})
    for (double a : {1.0, 3.0, 6.0}) {
      const double k = 2 * std::numbers::pi / lambda;
      cases.push_back({"field A " + std::to_string(int(a)) + " L " + std::to_string(int(lambda)), false,
                       [a, k](double& x, double& y) {
                         const double dx = a * std::sin(k * x) * std::sin(k * y);
                         const double dy = a * std::cos(k * x) * std::sin(k * y + 0.5);
                         x += dx, y += dy;
                       }});
    }
  return cases;
}

long PeakKilobytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "-quick";
  const int repeats = quick ? 1 : 5;
  // Reports go to a scratch folder.
  const std::string scratch = (std::filesystem::temp_directory_path() / "quorl-cubic-bench").string();
  std::filesystem::create_directories(scratch);
  setenv("QUORL_DRIVE_C", scratch.c_str(), 1);
  setenv("QUORL_DRIVE_D", scratch.c_str(), 1);
  cv::setNumThreads(1);
  {
    std::ifstream cpu("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpu, line))
      if (line.rfind("model name", 0) == 0) {
        std::printf("machine: %s, %u hardware threads\n", line.substr(line.find(':') + 2).c_str(),
                    std::thread::hardware_concurrency());
        break;
      }
  }
  // Set-up costs.
  {
    std::vector<unsigned short> s = Render16(512, [](double&, double&) {});
    Image image;
    image.Wrap(s.data(), 9);
    auto start = Clock::now();
    image.PrepareSplineCoefficients();
    std::printf("set-up: prefilter and weight table at 512 %.4f s", Seconds(start));
    start = Clock::now();
    std::unique_ptr<double[]> table(NewSplineWeightTable());
    std::printf(", weight table alone %.4f s", Seconds(start));
    start = Clock::now();
    TrafoQuadraticSpline first(4, 0);
    const double firstSeconds = Seconds(start);
    start = Clock::now();
    TrafoQuadraticSpline second(4, 0);
    std::printf(", quadratic basis tables %.3f s (first model), %.5f s (next)\n", firstSeconds, Seconds(start));
  }
  std::printf("errors in pixels of the side (RMS / median / max inside a %d-pixel margin), times in seconds\n",
              kMargin);
  for (const Case& c : Cases()) {
    std::printf("\n== %s\n", c.name.c_str());
    double bilinearRms = 0, bilinearTime = 0;
    for (int side : {256, 512, 1024}) {
      std::vector<unsigned short> source = Render16(side, [](double&, double&) {});
      std::vector<unsigned short> reference = Render16(side, c.phi);
      const std::vector<unsigned char> source8 = To8(source), reference8 = To8(reference);
      const cv::Mat s8(side, side, CV_8U, const_cast<unsigned char*>(source8.data()));
      const cv::Mat r8(side, side, CV_8U, const_cast<unsigned char*>(reference8.data()));
      if (side == 512) {
        const Theirs bi = RunBilinear(c, reference8, source8, repeats);
        bilinearRms = bi.error.rms, bilinearTime = bi.seconds;
        std::printf("  512  bilinear (8 bit, global)      %.3f / %.3f / %.3f  %.3f s\n", bi.error.rms, bi.error.median,
                    bi.error.max, bi.seconds);
      }
      const Theirs dis = RunDis(c, side, r8, s8, repeats);
      std::printf("  %4d DIS medium                     %.3f / %.3f / %.3f  %.3f s\n", side, dis.error.rms,
                  dis.error.median, dis.error.max, dis.seconds);
      Theirs ecc;
      if (c.rigid) {
        cv::Mat s32, r32;
        s8.convertTo(s32, CV_32F);
        r8.convertTo(r32, CV_32F);
        ecc = RunEcc(c, side, r32, s32, repeats);
        std::printf("  %4d ECC affine                     %.3f / %.3f / %.3f  %.3f s%s\n", side, ecc.error.rms,
                    ecc.error.median, ecc.error.max, ecc.seconds, ecc.failed ? "  FAILED" : "");
      }
      Stats cubicFloor, quadraticFloor;
      if (!c.rigid) {
        cubicFloor = BsplineFloor(c, side, true, 4);
        quadraticFloor = BsplineFloor(c, side, false, 4);
        std::printf("  %4d floor (least squares, finest basis): cubic %.3f / %.3f / %.3f, quadratic %.3f / %.3f / "
                    "%.3f\n",
                    side, cubicFloor.rms, cubicFloor.median, cubicFloor.max, quadraticFloor.rms,
                    quadraticFloor.median, quadraticFloor.max);
      }
      for (Model m : {Model::Cubic, Model::CubicSampling, Model::Quadratic}) {
        const Result r = RunOurs(c, m, side, source, reference, 4, repeats);
        std::printf("  %4d %-29s %.3f / %.3f / %.3f  vertical %.3f  NCC %.5f  %.3f s  rigid %.3f  %ld evaluations, "
                    "%ld minimisations, %d cap hits, %d reports\n",
                    side, Name(m), r.error.rms, r.error.median, r.error.max, r.error.maxVertical, r.ncc, r.seconds,
                    r.rigid.rms, r.evaluations, r.minimisations, r.caps, r.reports);
        std::printf("       iterations per minimisation, stages 0-4: %s\n", r.iterations.c_str());
        std::printf("       ratios: ours/DIS error %.2f time %.2f", r.error.rms / std::max(dis.error.rms, 1e-9),
                    r.seconds / dis.seconds);
        if (!c.rigid) {
          const Stats& floor = m == Model::Quadratic ? quadraticFloor : cubicFloor;
          std::printf(", ours/floor %.2f", r.error.rms / std::max(floor.rms, 1e-9));
        }
        if (side == 512)
          std::printf(", ours/bilinear error %.2f time %.2f", r.error.rms / std::max(bilinearRms, 1e-9),
                      r.seconds / bilinearTime);
        if (c.rigid)
          std::printf(", rigid/ECC error %.2f, Match/ECC time %.2f", r.rigid.rms / std::max(ecc.error.rms, 1e-9),
                      r.seconds / ecc.seconds);
        std::printf("\n");
        // Stage by stage on the fields at 512.
        if (side == 512 && !c.rigid && !quick)
          for (int stage = 0; stage < 4; ++stage) {
            const Result s = RunOurs(c, m, side, source, reference, stage, 3);
            std::printf("         up to stage %d: %.3f / %.3f / %.3f  %.3f s\n", stage, s.error.rms, s.error.median,
                        s.error.max, s.seconds);
          }
      }
    }
  }
  // The rigid stage alone (maxStage -1) against ECC at every side, for time.
  std::printf("\n== rigid stage alone (shift 8 px)\n");
  const Case shift = Cases()[2];
  for (int side : {256, 512, 1024}) {
    std::vector<unsigned short> source = Render16(side, [](double&, double&) {});
    std::vector<unsigned short> reference = Render16(side, shift.phi);
    const Result r = RunOurs(shift, Model::Cubic, side, source, reference, -1, repeats);
    std::printf("  %4d rigid %.3f px  %.4f s\n", side, r.rigid.rms, r.seconds);
  }
  std::printf("\npeak memory %.1f MB\n", PeakKilobytes() / 1024.0);
  return 0;
}
