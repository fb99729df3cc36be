// Bilinear registration against OpenCV on analytic 512 x 512 pairs: a
// band-limited texture f, source f(x), target f(phi(x)), so the true mapping
// phi is known at every pixel and free of interpolation error.
//
// Per case, build (bilinear, rectified) and schedule (global, local): RMS,
// median and maximum endpoint error inside a 16-pixel margin (the finest grid
// through BiTranPyr), the largest vertical endpoint error, NCC of target and
// warped source, time (median of 5) and iterations per minimisation in each
// stage (the rigid start, then grid levels 0 to 4); with -v, every stage's
// time and, when built with QUORL_MIR_COUNTERS, its evaluations and
// iteration-cap hits. Then cv::findTransformECC (shifts: translation,
// rotation and scale: affine) and cv::DISOpticalFlow on one thread and on
// OpenCV's default threads, and the ratios ours / theirs. For fields, the
// floor: what the best 17 x 17 bilinear grid could do. A summary of the
// shifts, the rotation and the fields closes the run.
//
// Run by hand, from a Release build (no sanitizers):
//   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
//         -DQUORL_SANITIZE=OFF -DQUORL_MIR_COUNTERS=ON -DQUORL_BUILD_TESTS=OFF
//   cmake --build build/release --target registration_bench
//   build/release/bin/registration_bench [-v]   (-v: stages of every run)
#include "Registration/bi_tran_pyr.h"
#include "bilinear/bilinear.h"
#include "registration_texture.h"

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Mapping = std::function<void(double&, double&)>;
using registration_texture::Render;
constexpr int kSide = 512;
constexpr int kMargin = 16;

enum class Kind { Shift, RotationScale, Field, Other };

struct Case {
  std::string name;
  Kind kind;
  Mapping phi;
  bool horizontal;    // phi moves x only: the rectified build applies
  double noise = 0.0;  // sigma of added Gaussian noise, grey levels
  bool gain = false;   // target 1.3 f + 20
};

struct Stats {
  double rms = 0, median = 0, max = 0;
  double maxVertical = 0;  // largest |y error|
};

Stats Summarise(std::vector<double> errors) {
  Stats s;
  if (errors.empty()) return s;
  double sum = 0;
  for (double e : errors) sum += e * e, s.max = std::max(s.max, e);
  s.rms = std::sqrt(sum / errors.size());
  std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
  s.median = errors[errors.size() / 2];
  return s;
}

template <class F>
Stats Endpoints(const Case& c, F&& mapped) {
  std::vector<double> errors;
  double vertical = 0;
  for (int y = kMargin; y < kSide - kMargin; ++y)
    for (int x = kMargin; x < kSide - kMargin; ++x) {
      double ex = x, ey = y;
      c.phi(ex, ey);
      double gx, gy;
      mapped(x, y, gx, gy);
      errors.push_back(std::hypot(gx - ex, gy - ey));
      vertical = std::max(vertical, std::fabs(gy - ey));
    }
  Stats s = Summarise(errors);
  s.maxVertical = vertical;
  return s;
}

double Ncc(const unsigned char* a, const unsigned char* b) {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (int y = kMargin; y < kSide - kMargin; ++y)
    for (int x = kMargin; x < kSide - kMargin; ++x) {
      const double u = a[y * kSide + x], v = b[y * kSide + x];
      n += 1, sa += u, sb += v, saa += u * u, sbb += v * v, sab += u * v;
    }
  return (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The best a 17 x 17 bilinear grid can do: phi interpolated from its nodes.
Stats Floor(const Case& c) {
  Quorl::Registration::BiTranPyr grid;
  grid.SetNumLevels(4);
  double* p = grid.GetControlPoints(4);
  for (int row = 0; row <= 16; ++row)
    for (int column = 0; column <= 16; ++column) {
      double x = column * 32.0, y = row * 32.0;
      c.phi(x, y);
      p[2 * (row * 17 + column)] = x / kSide;
      p[2 * (row * 17 + column) + 1] = y / kSide;
    }
  return Endpoints(c, [&](int x, int y, double& gx, double& gy) {
    double point[2] = {double(x), double(y)}, out[2];
    grid.TransformPoint(point, out, 4);
    gx = out[0], gy = out[1];
  });
}

struct OurResult {
  Stats error;
  double ncc = 0, seconds = 0;
  std::vector<MIR::Bilinear::StageRecord> stages;
};

template <class Policy>
OurResult RunOurs(const Case& c, const std::vector<unsigned char>& target, const std::vector<unsigned char>& source,
                  bool local) {
  OurResult r;
  std::vector<double> times;
  for (int run = 0; run < 5; ++run) {
    const auto start = Clock::now();
    MIR::Bilinear::BasicRegisterEngine<Policy> engine(9, target.data(), source.data());
    if (local)
      engine.RegisterWithLocalSchedule();
    else
      engine.RegisterWithGlobalSchedule();
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (run > 0) continue;
    Quorl::Registration::BiTranPyr pyramid;
    pyramid.SetNumLevels(4);
    for (int level = 0; level <= 4; ++level) {
      int columns, rows;
      engine.GetTransformation().GetControlPoints(pyramid.GetControlPoints(level), level, &columns, &rows);
    }
    r.error = Endpoints(c, [&](int x, int y, double& gx, double& gy) {
      double point[2] = {double(x), double(y)}, out[2];
      pyramid.TransformPoint(point, out, 4);
      gx = out[0], gy = out[1];
    });
    r.ncc = Ncc(target.data(), engine.GetOutputImage()->GetBuffer());
    r.stages = engine.GetStageRecords();
  }
  r.seconds = Median(times);
  return r;
}

struct TheirResult {
  Stats error;
  double seconds1 = 0, secondsN = 0;
  bool failed = false;
};

TheirResult RunEcc(const Case& c, const cv::Mat& target, const cv::Mat& source) {
  TheirResult r;
  const int motion = c.kind == Kind::Shift ? cv::MOTION_TRANSLATION : cv::MOTION_AFFINE;
  cv::Mat warp;
  for (int threads : {1, -1}) {
    cv::setNumThreads(threads);
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
      warp = cv::Mat::eye(2, 3, CV_32F);
      const auto start = Clock::now();
      try {
        cv::findTransformECC(target, source, warp, motion,
                             cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100, 1e-6),
                             cv::noArray(), 5);
      } catch (const cv::Exception&) {
        r.failed = true;
      }
      times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    (threads == 1 ? r.seconds1 : r.secondsN) = Median(times);
  }
  const cv::Mat_<float> w = warp;
  r.error = Endpoints(c, [&](int x, int y, double& gx, double& gy) {
    gx = w(0, 0) * x + w(0, 1) * y + w(0, 2);
    gy = w(1, 0) * x + w(1, 1) * y + w(1, 2);
  });
  return r;
}

TheirResult RunDis(const Case& c, const cv::Mat& target, const cv::Mat& source) {
  TheirResult r;
  cv::Mat flow;
  for (int threads : {1, -1}) {
    cv::setNumThreads(threads);
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
      auto dis = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM);
      const auto start = Clock::now();
      dis->calc(target, source, flow);
      times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    (threads == 1 ? r.seconds1 : r.secondsN) = Median(times);
  }
  r.error = Endpoints(c, [&](int x, int y, double& gx, double& gy) {
    const cv::Vec2f f = flow.at<cv::Vec2f>(y, x);
    gx = x + f[0], gy = y + f[1];
  });
  return r;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  cases.push_back({"identity", Kind::Shift, [](double&, double&) {}, true});
  for (double s : {2.0, 8.0, 15.0, 24.0})
    cases.push_back({"shift " + std::to_string(int(s)) + " px", Kind::Shift, [s](double& x, double&) { x += s; }, true});
  cases.push_back({"rotation 0.03 rad, scale 1.02", Kind::RotationScale,
                   [](double& x, double& y) {
                     const double c = 1.02 * std::cos(0.03), s = 1.02 * std::sin(0.03);
                     const double u = x - 256, v = y - 256;
                     x = 256 + c * u - s * v;
                     y = 256 + s * u + c * v;
                   },
                   false});
  for (double lambda : {64.0, 128.0, 256.0})
    for (double a : {1.0, 3.0, 6.0}) {
      const double k = 2 * std::numbers::pi / lambda;
      const std::string name = "field A " + std::to_string(int(a)) + " L " + std::to_string(int(lambda));
      cases.push_back({name, Kind::Field,
                       [a, k](double& x, double& y) {
                         const double dx = a * std::sin(k * x) * std::sin(k * y);
                         const double dy = a * std::cos(k * x) * std::sin(k * y + 0.5);
                         x += dx, y += dy;
                       },
                       false});
      cases.push_back({name + " (x only)", Kind::Field,
                       [a, k](double& x, double& y) { x += a * std::sin(k * x) * std::sin(k * y); }, true});
    }
  for (double sigma : {2.0, 8.0}) {
    Case c{"shift 8 px, noise " + std::to_string(int(sigma)), Kind::Shift, [](double& x, double&) { x += 8; }, true};
    c.noise = sigma;
    cases.push_back(c);
  }
  Case g{"shift 8 px, target 1.3 f + 20", Kind::Shift, [](double& x, double&) { x += 8; }, true};
  g.gain = true;
  cases.push_back(g);
  return cases;
}

std::vector<unsigned char> Target(const Case& c) {
  std::vector<unsigned char> t = Render(kSide, c.phi);
  std::mt19937 rng(17);
  std::normal_distribution<double> noise(0.0, c.noise > 0 ? c.noise : 1.0);
  for (unsigned char& b : t) {
    double v = b;
    if (c.gain) v = 1.3 * v + 20;
    if (c.noise > 0) v += noise(rng);
    b = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
  }
  return t;
}

void PrintMachine() {
  std::ifstream cpu("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpu, line))
    if (line.rfind("model name", 0) == 0) {
      std::printf("machine: %s, %u hardware threads\n", line.substr(line.find(':') + 2).c_str(),
                  std::thread::hardware_concurrency());
      break;
    }
#ifdef QUORL_MIR_COUNTERS
  std::printf("counters: on\n");
#else
  std::printf("counters: off (configure with -DQUORL_MIR_COUNTERS=ON to count evaluations)\n");
#endif
}

void PrintStages(const std::vector<MIR::Bilinear::StageRecord>& stages) {
  for (const auto& s : stages) {
    const int m = std::max(s.minimizations, 1);
    std::printf("      stage %2d: %7.4f s, %4d minimisations, %.1f iterations, %.1f evaluations, %d cap hits per stage\n",
                s.gridLevel, s.seconds, s.minimizations, double(s.iterations) / m, double(s.evaluations) / m,
                s.capHits);
  }
}

// Iterations per minimisation, stage by stage: "rigid r | g0 g1 g2 g3 g4".
std::string IterationsPerStage(const std::vector<MIR::Bilinear::StageRecord>& stages) {
  std::string text;
  char item[32];
  for (const auto& s : stages) {
    std::snprintf(item, sizeof item, s.gridLevel < 0 ? "rigid %.1f |" : " %.1f",
                  double(s.iterations) / std::max(s.minimizations, 1));
    text += item;
  }
  return text;
}

// One line of the closing summary.
struct Row {
  std::string name;
  Kind kind;
  OurResult ours[2][2];  // [rectified][local]
  bool rectified = false;
  double eccRms = -1, disRms = -1, floorRms = -1;
  bool eccFailed = false;
};

void PrintSummary(const std::vector<Row>& rows) {
  std::printf("\n== summary: RMS / median / max, vertical max (px); time (s)\n");
  std::printf("%-30s %-37s %-37s %-37s %s\n", "case", "bilinear global", "rectified global", "rectified local",
              "ECC / DIS RMS");
  auto cell = [](const OurResult& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f / %.3f / %.3f, %.3f; %.3f", r.error.rms, r.error.median, r.error.max,
                  r.error.maxVertical, r.seconds);
    return std::string(text);
  };
  for (const Row& row : rows) {
    if (row.kind != Kind::Shift && row.kind != Kind::RotationScale) continue;
    char theirs[48];
    if (row.eccFailed)
      std::snprintf(theirs, sizeof theirs, "fails / %.3f", row.disRms);
    else if (row.eccRms >= 0)
      std::snprintf(theirs, sizeof theirs, "%.3f / %.3f", row.eccRms, row.disRms);
    else
      std::snprintf(theirs, sizeof theirs, "- / %.3f", row.disRms);
    std::printf("%-30s %-37s %-37s %-37s %s\n", row.name.c_str(), cell(row.ours[0][0]).c_str(),
                row.rectified ? cell(row.ours[1][0]).c_str() : "-", row.rectified ? cell(row.ours[1][1]).c_str() : "-",
                theirs);
  }
  std::printf("\n%-30s %-14s %-14s %-14s %-14s %s\n", "field: ours/floor", "bilinear glob", "bilinear local",
              "rectif. glob", "rectif. local", "floor RMS");
  for (const Row& row : rows) {
    if (row.kind != Kind::Field) continue;
    auto ratio = [&](const OurResult& r) { return r.error.rms / std::max(row.floorRms, 1e-9); };
    std::printf("%-30s %-14.2f %-14.2f ", row.name.c_str(), ratio(row.ours[0][0]), ratio(row.ours[0][1]));
    if (row.rectified)
      std::printf("%-14.2f %-14.2f ", ratio(row.ours[1][0]), ratio(row.ours[1][1]));
    else
      std::printf("%-14s %-14s ", "-", "-");
    std::printf("%.3f\n", row.floorRms);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool verbose = argc > 1 && std::string(argv[1]) == "-v";
  PrintMachine();
  const std::vector<unsigned char> source = Render(kSide);
  const cv::Mat sourceMat(kSide, kSide, CV_8U, const_cast<unsigned char*>(source.data()));
  std::printf("errors in pixels (RMS / median / max inside a %d-pixel margin; the largest vertical error), times "
              "in seconds; iterations per minimisation in the rigid start | grid levels 0 to 4\n",
              kMargin);
  std::vector<Row> rows;
  for (const Case& c : Cases()) {
    const std::vector<unsigned char> target = Target(c);
    const cv::Mat targetMat(kSide, kSide, CV_8U, const_cast<unsigned char*>(target.data()));
    std::printf("\n== %s\n", c.name.c_str());
    Row row;
    row.name = c.name;
    row.kind = c.kind;
    row.rectified = c.horizontal;
    for (bool rectified : {false, true}) {
      if (rectified && !c.horizontal) continue;
      for (bool local : {false, true}) {
        const OurResult r = rectified ? RunOurs<MIR::Bilinear::RectifiedBuild>(c, target, source, local)
                                      : RunOurs<MIR::Bilinear::PlainBuild>(c, target, source, local);
        std::printf("  ours %-9s %-6s %.3f / %.3f / %.3f  vertical %.3f  NCC %.4f  %.3f s  iterations %s\n",
                    rectified ? "rectified" : "bilinear", local ? "local" : "global", r.error.rms, r.error.median,
                    r.error.max, r.error.maxVertical, r.ncc, r.seconds, IterationsPerStage(r.stages).c_str());
        if (verbose) PrintStages(r.stages);
        row.ours[rectified][local] = r;
      }
    }
    const double oursGlobal = row.ours[0][0].error.rms, oursGlobalTime = row.ours[0][0].seconds;
    if (c.kind == Kind::Shift || c.kind == Kind::RotationScale) {
      const TheirResult ecc = RunEcc(c, targetMat, sourceMat);
      std::printf("  ECC %-16s %.3f / %.3f / %.3f  %.3f s (1 thread), %.3f s (default)%s\n",
                  c.kind == Kind::Shift ? "translation" : "affine", ecc.error.rms, ecc.error.median, ecc.error.max,
                  ecc.seconds1, ecc.secondsN, ecc.failed ? "  FAILED" : "");
      std::printf("  ours/ECC: error %.2f, time %.2f (1 thread)\n", oursGlobal / std::max(ecc.error.rms, 1e-9),
                  oursGlobalTime / ecc.seconds1);
      row.eccRms = ecc.error.rms;
      row.eccFailed = ecc.failed;
    }
    const TheirResult dis = RunDis(c, targetMat, sourceMat);
    std::printf("  DIS medium           %.3f / %.3f / %.3f  %.3f s (1 thread), %.3f s (default)\n", dis.error.rms,
                dis.error.median, dis.error.max, dis.seconds1, dis.secondsN);
    std::printf("  ours/DIS: error %.2f, time %.2f (1 thread)\n", oursGlobal / std::max(dis.error.rms, 1e-9),
                oursGlobalTime / dis.seconds1);
    row.disRms = dis.error.rms;
    if (c.kind == Kind::Field) {
      const Stats floor = Floor(c);
      std::printf("  floor (17 x 17 bilinear interpolant of phi): RMS %.3f; ours/floor %.2f\n", floor.rms,
                  oursGlobal / floor.rms);
      row.floorRms = floor.rms;
    }
    rows.push_back(row);
  }
  PrintSummary(rows);
  return 0;
}
