// The spline family's optimiser: its policy over the shared quasi-Newton core
// (reports, stops, sentinel costs) on mock transformations, and its storage
// routines.
#include "cubic/cubic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace MIR::Cubic;

std::string MessageFilePath(const char* drive) {
  return std::string(std::getenv(drive)) + "/MessageFile.txt";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const std::string kReportLines[2] = {"Numberical Recipes run-time error... \n", "...now exiting to system...\n"};

std::string Report(const std::string& message) { return kReportLines[0] + message + " \n" + kReportLines[1]; }

// A model over n parameters with a similarity and its gradient given as
// functions (the gradient of the similarity itself; the model hands out its
// negation as the interface asks). Either may be left out: the model then
// writes nothing for that call.
struct Mock : Transformation {
  int n;
  std::vector<double> p;
  std::function<double(const double*)> similarity;
  std::function<void(const double*, double*)> gradient;
  std::vector<char> calls;  // 'c' Cost, 'g' CostAndGradient
  int prepared = 0;
  explicit Mock(int n_) : Transformation(0), n(n_), p(n_ + 1, 0.0) {}
  int GetNumParams() override { return n; }
  void PrepareOptimization() override { ++prepared; }
  void SetParams(const double* q) override { std::copy(q + 1, q + 1 + n, p.begin() + 1); }
  void GetParams(double* q) override { std::copy(p.begin() + 1, p.end(), q + 1); }
  void Cost(const double* q, double* c) override {
    calls.push_back('c');
    if (similarity) *c = similarity(q);
  }
  void CostAndGradient(const double* q, double* g, double* c) override {
    calls.push_back('g');
    if (!similarity || !gradient) return;
    *c = similarity(q);
    gradient(q, g);
    for (int i = 1; i <= n; ++i) g[i] = -g[i];
  }
};

// Similarity 1 - sum w_i (p_i - 0.1 i)^2.
void MakeBowl(Mock& m) {
  const int n = m.n;
  m.similarity = [n](const double* q) {
    double f = 0.0;
    for (int i = 1; i <= n; ++i) f += (1.0 + i % 3) * (q[i] - 0.1 * i) * (q[i] - 0.1 * i);
    return 1.0 - f;
  };
  m.gradient = [n](const double* q, double* g) {
    for (int i = 1; i <= n; ++i) g[i] = -2.0 * (1.0 + i % 3) * (q[i] - 0.1 * i);
  };
}

class CubicOptimizer : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove(MessageFilePath("QUORL_DRIVE_C"));
    testing::internal::CaptureStderr();
  }
  // stderr since SetUp.
  std::string Stderr() {
    if (!captured_) {
      stderr_ = testing::internal::GetCapturedStderr();
      captured_ = true;
    }
    return stderr_;
  }
  void TearDown() override { Stderr(); }
  std::string File() { return ReadFile(MessageFilePath("QUORL_DRIVE_C")); }

  Optimizer optimizer;

 private:
  bool captured_ = false;
  std::string stderr_;
};

TEST_F(CubicOptimizer, ConvergesOnABowlWithoutReports) {
  for (int n : {1, 4, 30}) {
    Mock m(n);
    MakeBowl(m);
    optimizer.Minimize(&m, 1e-9, 1e-9);
    EXPECT_EQ(m.prepared, 1);
    EXPECT_EQ(optimizer.errorFlag, 0) << n;
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(m.p[i], 0.1 * i, 1e-5) << n << " " << i;
  }
  EXPECT_EQ(Stderr(), "");
  EXPECT_EQ(File(), "");
}

TEST_F(CubicOptimizer, ReportWritesThreeLinesToStderrAndTheFile) {
  optimizer.ReportNumericalError("first");
  EXPECT_EQ(optimizer.errorFlag, 1);
  optimizer.ReportNumericalError("second");
  EXPECT_EQ(Stderr(), Report("first") + Report("second"));
  EXPECT_EQ(File(), Report("first") + Report("second"));
  EXPECT_EQ(optimizer.messageFile, nullptr);
}

TEST_F(CubicOptimizer, DirectionThatIsNotDownhillIsReportedAndStops) {
  // A flat gradient away from the optimum: the first direction has slope 0.
  Mock m(3);
  MakeBowl(m);
  m.gradient = [](const double*, double* g) {
    for (int i = 1; i <= 3; ++i) g[i] = 0.0;
  };
  m.p = {0, 1, 1, 1};
  optimizer.Minimize(&m, 1e-9, 1e-9);
  EXPECT_EQ(optimizer.errorFlag, 1);
  EXPECT_EQ(m.p, (std::vector<double>{0, 1, 1, 1}));
  EXPECT_EQ(File(), Report("Roundofffff problem in lnsrch."));
  EXPECT_EQ(Stderr(), Report("Roundofffff problem in lnsrch."));
  // No trial was evaluated.
  EXPECT_EQ(std::count(m.calls.begin(), m.calls.end(), 'c'), 0);

  // The line search entry reports the same on its own and keeps xold.
  optimizer.errorFlag = 0;
  double xold[3] = {0, 1, 2}, g[3] = {0, 1, 1}, dir[3] = {0, 1, 0}, x[3] = {0, 0, 0}, f = 0.0;
  int check = -1;
  optimizer.transformation = &m;
  optimizer.lnsrch(2, xold, 5.0, g, dir, x, &f, 1.0, &check, 1e-6);
  EXPECT_EQ(optimizer.errorFlag, 1);
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(x[2], 2.0);
  EXPECT_EQ(f, 5.0);
}

TEST_F(CubicOptimizer, TwoHundredIterationsAreReported) {
  // A similarity that grows without bound along p[1]: every step is taken.
  Mock m(1);
  m.similarity = [](const double* q) { return q[1]; };
  m.gradient = [](const double*, double* g) { g[1] = 1.0; };
  int iterations = 0;
  double value = 0.0;
  optimizer.transformation = &m;
  double p[2] = {0.0, 0.0};
  optimizer.dfpmin(p, 1, 1e-5, 1e-3, &iterations, &value);
  EXPECT_EQ(iterations, 200);
  EXPECT_DOUBLE_EQ(p[1], 200.0);
  EXPECT_EQ(optimizer.errorFlag, 1);
  EXPECT_EQ(File(), Report("too many iterations in dfpmin"));
  // The next run clears the flag.
  Mock bowl(2);
  MakeBowl(bowl);
  optimizer.Minimize(&bowl, 1e-8, 1e-8);
  EXPECT_EQ(optimizer.errorFlag, 0);
}

TEST_F(CubicOptimizer, NoSimilarityAcceptsTheFullStepEveryTime) {
  int costs = 0;
  // Cost reports -99 (what the base's GetCost gives); the gradient path works.
  struct NoCost : Mock {
    using Mock::Mock;
    void Cost(const double*, double* c) override {
      calls.push_back('c');
      *c = kNoSimilarity;
    }
  } model(2);
  MakeBowl(model);
  model.p = {0, 3, -2};
  optimizer.Minimize(&model, 1e-6, 1e-6);
  costs = static_cast<int>(std::count(model.calls.begin(), model.calls.end(), 'c'));
  ASSERT_GT(costs, 0);
  // One trial per line search: never two Cost calls in a row.
  for (size_t i = 1; i < model.calls.size(); ++i) EXPECT_FALSE(model.calls[i] == 'c' && model.calls[i - 1] == 'c');
  EXPECT_EQ(Stderr().find("Roundofffff"), std::string::npos);
}

TEST_F(CubicOptimizer, ModelThatWritesNothingEndsUnchangedWithOneReport) {
  Mock m(4);  // no similarity, no gradient: nothing is written
  m.p = {0, 0.5, -1, 2, 7};
  optimizer.Minimize(&m, 1e-5, 1e-3);
  EXPECT_EQ(m.p, (std::vector<double>{0, 0.5, -1, 2, 7}));
  EXPECT_EQ(optimizer.errorFlag, 1);
  EXPECT_EQ(File(), Report("Roundofffff problem in lnsrch."));
}

TEST_F(CubicOptimizer, NotANumberEnds) {
  Mock m(2);
  MakeBowl(m);
  m.similarity = [](const double*) { return std::numeric_limits<double>::quiet_NaN(); };
  m.p = {0, 1, 2};
  optimizer.Minimize(&m, 1e-5, 1e-3);
  EXPECT_EQ(m.p, (std::vector<double>{0, 1, 2}));
  // A NaN appearing after the start fails every sufficient-decrease test and
  // the step shrinks to nothing.
  Mock later(2);
  MakeBowl(later);
  auto bowl = later.similarity;
  later.similarity = [bowl](const double* q) {
    return q[1] == 0.0 ? bowl(q) : std::numeric_limits<double>::quiet_NaN();
  };
  optimizer.Minimize(&later, 1e-5, 1e-3);
  EXPECT_EQ(later.p, (std::vector<double>{0, 0, 0}));
}

TEST_F(CubicOptimizer, StorageRoutinesAndTheirFailures) {
  double* v = optimizer.vector(1, 5);
  ASSERT_TRUE(v);
  for (int i = 1; i <= 5; ++i) v[i] = i;
  optimizer.free_vector(v, 1, 5);
  double** m = optimizer.matrix(1, 3, 1, 4);
  ASSERT_TRUE(m);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 4; ++j) m[i][j] = 10 * i + j;
  EXPECT_EQ(&m[2][1], &m[1][4] + 1);  // one contiguous block
  optimizer.free_matrix(m, 1, 3, 1, 4);
  EXPECT_EQ(optimizer.errorFlag, 0);
  // Impossible sizes fail as allocations do.
  EXPECT_EQ(optimizer.nrvector(1, -3), nullptr);
  EXPECT_EQ(optimizer.matrix(2, 1, 1, 1), nullptr);
  EXPECT_EQ(optimizer.matrix(1, 1, 2, 1), nullptr);
  EXPECT_EQ(File(), Report("allocation failure in nrvector()") + Report("allocation failure 1 in matrix()") +
                        Report("allocation failure 2 in matrix()"));
}

TEST_F(CubicOptimizer, AppendMessageFileWritesTheTextAsItStands) {
  const std::filesystem::path d = std::filesystem::path(std::getenv("QUORL_DRIVE_C")) / "drive_d";
  std::filesystem::create_directories(d);
  const std::string saved = std::getenv("QUORL_DRIVE_D");
  setenv("QUORL_DRIVE_D", d.c_str(), 1);
  optimizer.AppendMessageFile("one");
  optimizer.AppendMessageFile(" two\n");
  setenv("QUORL_DRIVE_D", saved.c_str(), 1);
  EXPECT_EQ(ReadFile((d / "MessageFile.txt").string()), "one two\n");
  EXPECT_EQ(File(), "");
}

}  // namespace
