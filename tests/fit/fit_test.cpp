// The fit engine on analytic test models: damping and undo rules, cut-backs by
// model family, noise elimination, statistics, continuation and threads.
#include "fit/fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "console/crt.h"
#include "console/graph.h"
#include "fake_pass.h"

namespace svfit::fit {
namespace {

using testing::fakeControl;
using testing::MakeSeries;

// value = Σ_k P_k·φ_k(r, t): every Gauss-Newton step lands on the optimum of
// the undamped equations, and the predicted decrease is the actual one.
// φ3 = 1 is the base line; all others vary with both r and t, so that neither
// TI nor RI elimination removes them.
double LinearModel(const PerParam<double>& p, double r, double t, int, PerParam<double>& d) {
  const double u = t / 3000.0;
  d[1] = std::exp(-4 * (r - 6.5) * (r - 6.5)) * (1 + 0.5 * u);
  d[2] = (r - 6.0) * std::sin(u + r);
  d[3] = 1.0;
  d[4] = std::cos(5 * r) * u;
  d[5] = (r - 6.2) * (r - 6.2) * u;
  d[6] = std::sin(7 * r + 1.5 * u);
  double v = 0;
  for (int k = 1; k <= 6; ++k) v += p[k] * d[k];
  return v;
}

// A moving boundary: v = ½·P1·erfc((r − P4·e^(P2·t)) / (2√(P5·t))) + P3.
double BoundaryModel(const PerParam<double>& p, double r, double t, int, PerParam<double>& d) {
  const double w = 2 * std::sqrt(p[5] * t);
  const double growth = std::exp(p[2] * t);
  const double rb = p[4] * growth;
  const double z = (r - rb) / w;
  const double dvdz = -p[1] * std::exp(-z * z) / std::sqrt(M_PI);
  d[1] = 0.5 * std::erfc(z);
  d[2] = dvdz * (-rb * t / w);
  d[3] = 1.0;
  d[4] = dvdz * (-growth / w);
  d[5] = dvdz * (-z / (2 * p[5]));
  return 0.5 * p[1] * std::erfc(z) + p[3];
}

PerParam<double> Params(std::initializer_list<double> values) {
  PerParam<double> p{};
  int k = 1;
  for (double v : values) p[k++] = v;
  return p;
}

void Free(AnalysisState& st, std::initializer_list<int> indices) {
  st.freeCount = 0;
  for (int k : indices) st.freeIndex[++st.freeCount] = k;
}

class FitEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeControl() = {};
    setModelPass(&testing::FakeModelPass);
    setThreadCount(0);
    setFitDisplay(false);
    console::StartTestConsole("");
  }
  void TearDown() override {
    setFitDisplay(true);
    setModelPass(nullptr);
    setThreadCount(0);
    fakeControl() = {};
  }
  // Starts a new fit at `start` with damping q.
  static void Prepare(AnalysisState& st, const PerParam<double>& start, double q,
                      char letter = 'C') {
    st.param = start;
    st.dampQ = q;
    st.modelLetter = letter;
    st.postFitOption = ' ';
    st.iterCount = 0;
    st.faultCount = 0;
  }
  // Records q and the parameters at the start of every evaluation.
  void Record() {
    fakeControl().onCall = [this](AnalysisState& st) {
      qAt.push_back(st.dampQ);
      paramAt.push_back(st.param);
    };
  }
  std::vector<double> qAt{0.0};  // index = evaluation number, from 1
  std::vector<PerParam<double>> paramAt{PerParam<double>{}};
};

TEST_F(FitEngine, NoFreeParametersGivesOneEvaluationAndNoIteration) {
  fakeControl().model = LinearModel;
  auto st = MakeSeries(4, 50, Params({1, 0.3, 0.1, 0.2, 0.5, 0.1}),
                       [](int s, int j) { return 0.01 * ((s + j) % 3 - 1); });
  Prepare(*st, Params({1, 0.3, 0.1, 0.2, 0.5, 0.1}), 5);
  Free(*st, {});
  runFit(*st);
  EXPECT_EQ(fakeControl().calls, 1);
  EXPECT_FALSE(st->fitDone);
  EXPECT_EQ(st->iterCount, 0);
  EXPECT_EQ(st->pointTotal, 200);
  EXPECT_GT(st->sumSq, 0);
  EXPECT_DOUBLE_EQ(st->sigma, std::sqrt(st->sumSq / 200));
  EXPECT_EQ(st->dampFinal, 5);
}

TEST_F(FitEngine, LinearModelConvergesWithExactAgreementShrinkingTheDamping) {
  fakeControl().model = LinearModel;
  const PerParam<double> truth = Params({1.2, 0.3, 0.05, 0.2, 0.4, 0.1});
  auto st = MakeSeries(6, 120, truth);
  Prepare(*st, Params({0.8, 0.1, 0.0, 0.1, 0.2, 0.3}), 0.5);
  Free(*st, {1, 2, 3, 4, 5, 6});
  Record();
  runFit(*st);
  ASSERT_GE(qAt.size(), 4u);
  // Step 1 was computed with q = 0.5; the model is linear, so r = 0 and f = 0.55.
  EXPECT_EQ(qAt[2], 0.5);
  EXPECT_NEAR(qAt[3] / qAt[2], 0.55, 1e-9);
  EXPECT_TRUE(st->fitDone);
  EXPECT_EQ(st->faultCount, 0);
  for (int k = 1; k <= 6; ++k) EXPECT_NEAR(st->param[k], truth[k], 1e-6) << k;
  EXPECT_LT(st->sumSq, 1e-8 * st->sumSqData);
  EXPECT_NEAR(st->dampFinal, st->dampQ, 0);
}

TEST_F(FitEngine, FirstUphillStepIsKeptAndASecondIsUndone) {
  fakeControl().model = LinearModel;
  const PerParam<double> truth = Params({1.2, 0.3, 0.05, 0.2, 0.4, 0.1});
  // Evaluations 2 and 3 (after steps 1 and 2) see every residual raised by 1
  // and 2: both steps look uphill.
  fakeControl().residualShift = [](int call) {
    return (call == 2 || call == 3) ? call - 1.0 : 0.0;
  };
  // q of step 1, then after the kept uphill step (× 3, at most 20), then after
  // the undo (× 4, at most 40).
  for (const std::array<double, 3> q : {std::array<double, 3>{0.5, 1.5, 6.0}, {15.0, 20.0, 40.0}}) {
    SCOPED_TRACE(q[0]);
    fakeControl().calls = 0;
    qAt.assign(1, 0.0);
    auto st = MakeSeries(5, 100, truth);
    Prepare(*st, Params({1.0, 0.2, 0.05, 0.0, 0.3, 0.2}), q[0]);
    Free(*st, {1, 2, 4, 5, 6});
    Record();
    runFit(*st);
    ASSERT_GE(qAt.size(), 5u);
    EXPECT_EQ(qAt[2], q[0]);
    EXPECT_EQ(qAt[3], q[1]);
    EXPECT_EQ(qAt[4], q[2]);
    for (double later : qAt) EXPECT_LE(later, 40.0);
    EXPECT_EQ(st->faultCount, 1);
    // The fit stops when SS changes by less than 1e-8 of Σ data²: about 1e-4 in the parameters.
    for (int k : {1, 2, 4, 5, 6}) EXPECT_NEAR(st->param[k] / truth[k], 1.0, 1e-3) << k;
  }
}

TEST_F(FitEngine, KeyIStopsAfterTheCurrentIterationEvenWhenUphill) {
  console::PostKey('i');
  fakeControl().model = LinearModel;
  auto st = MakeSeries(5, 100, Params({1.2, 0.3, 0.05, 0.2, 0.4, 0.1}));
  Prepare(*st, Params({1.0, 0.2, 0.05, 0.0, 0.3, 0.2}), 0.5);
  Free(*st, {1, 2, 4, 5, 6});
  fakeControl().residualShift = [](int call) { return call >= 2 ? 1.0 : 0.0; };
  runFit(*st);
  EXPECT_EQ(st->iterCount, 1);
  EXPECT_EQ(fakeControl().calls, 2);
  EXPECT_EQ(st->faultCount, 0);
  EXPECT_TRUE(st->fitDone);
}

TEST_F(FitEngine, OtherKeysAndExtendedKeysDoNotStopTheFit) {
  // PageUp arrives as 0 and scan code 73, the code of "I".
  console::PostKey('x');
  console::PostExtendedKey(console::kScanPageUp);
  fakeControl().model = LinearModel;
  const PerParam<double> truth = Params({1.2, 0.3, 0.05, 0.2, 0.4, 0.1});
  auto st = MakeSeries(5, 100, truth);
  Prepare(*st, Params({1.0, 0.2, 0.05, 0.0, 0.3, 0.2}), 5.0);
  Free(*st, {1, 2, 4, 5, 6});
  runFit(*st);
  EXPECT_GT(st->iterCount, 2);
  for (int k : {1, 2, 4, 5, 6}) EXPECT_NEAR(st->param[k] / truth[k], 1.0, 1e-3) << k;
}

// One almost undamped step towards a truth with negative parameters 2 and 5.
struct CutBackCase {
  char letter;
  double p2, p5, p6;  // expected after the step; NAN = the value of the step
};

TEST_F(FitEngine, StepsThatTurnParametersNegativeAreCutBackByModelFamily) {
  fakeControl().model = LinearModel;
  const PerParam<double> truth = Params({1.0, -0.5, 0.1, 0.3, -1.0, -0.2});
  const PerParam<double> start = Params({1.0, 0.4, 0.1, 0.3, 0.5, 0.2});
  for (const CutBackCase& c :
       {CutBackCase{'S', 0.8 * 0.4, NAN, 0.8 * 0.2}, CutBackCase{'M', 0.8 * 0.4, NAN, 0.8 * 0.2},
        CutBackCase{'C', 0.5 * 0.4, 0.5 * 0.5, 0.5 * 0.2},
        CutBackCase{'H', 0.5 * 0.4, 0.5 * 0.5, 0.5 * 0.2}, CutBackCase{'N', 0.5 * 0.4, 0.35, NAN},
        CutBackCase{'R', 0.5 * 0.4, 0.35, NAN}}) {
    SCOPED_TRACE(c.letter);
    fakeControl().calls = 0;
    paramAt.assign(1, PerParam<double>{});
    auto st = MakeSeries(4, 100, truth);
    Prepare(*st, start, 1e-4, c.letter);
    st->bottomMin = 0.35;
    Free(*st, {1, 2, 3, 4, 5, 6});
    // The constrained optimum is approached only geometrically: stop after step 1.
    struct StopFit {};
    fakeControl().onCall = [this](AnalysisState& state) {
      paramAt.push_back(state.param);
      if (paramAt.size() > 2) throw StopFit{};
    };
    EXPECT_THROW(runFit(*st), StopFit);
    ASSERT_EQ(paramAt.size(), 3u);
    const PerParam<double>& after = paramAt[2];
    EXPECT_EQ(after[2], c.p2);
    if (std::isnan(c.p5)) {
      EXPECT_NEAR(after[5], -1.0, 1e-6);  // may be negative
    } else {
      EXPECT_EQ(after[5], c.p5);
    }
    if (std::isnan(c.p6)) {
      EXPECT_NEAR(after[6], -0.2, 1e-6);
    } else {
      EXPECT_EQ(after[6], c.p6);
    }
    EXPECT_NEAR(after[3], 0.1, 1e-6);  // the base line is never cut back
  }
}

TEST_F(FitEngine, WithoutNoiseTermsTheFittedValueIsTheModel) {
  fakeControl().model = BoundaryModel;
  const PerParam<double> p = Params({0.8, 1e-5, 0.02, 6.05, 1e-6});
  auto st = MakeSeries(3, 400, p, [](int s, int j) { return 0.003 * std::sin(s * 7.0 + j); });
  Prepare(*st, p, 5);
  Free(*st, {});
  runFit(*st);
  PerParam<double> d{};
  for (int s = 1; s <= 3; ++s) {
    EXPECT_EQ(st->riNoise[s], 0.0);
    for (int j = 1; j <= 400; j += 37) {
      const double model = BoundaryModel(p, st->scanRadius[s][j], st->scanTime[s], s, d);
      EXPECT_NEAR(st->fitCurve[s][j], model, 4e-16) << s << " " << j;
    }
  }
  EXPECT_EQ(st->tiNoise[100], 0.0);
}

TEST_F(FitEngine, NoiseEliminationRecoversTheModelUnderTimeAndRadialOffsets) {
  fakeControl().model = LinearModel;
  const PerParam<double> truth = Params({1.2, 0.3, 0.0, 0.2, 0.4, 0.1});
  auto ti = [](int j) { return 0.02 * std::sin(0.05 * j) + 0.001 * (j % 7); };
  auto ri = [](int s) { return 0.03 * s - 0.01 * (s % 2); };
  auto st = MakeSeries(8, 150, truth, [&](int s, int j) { return ti(j) + ri(s); });
  st->tiNoiseOn = true;
  st->riNoiseOn = true;
  Prepare(*st, Params({1.0, 0.2, 0.05, 0.0, 0.3, 0.2}), 1.0);
  Free(*st, {1, 2, 3, 4, 5, 6});  // the base line has no effect left: its step is 0
  runFit(*st);
  for (int k : {1, 2, 4, 5, 6}) EXPECT_NEAR(st->param[k] / truth[k], 1.0, 1e-3) << k;
  EXPECT_EQ(st->param[3], 0.05);
  // With RI elimination the residuals of every scan sum to zero, at any parameters.
  for (int s = 1; s <= 8; ++s) {
    double sum = 0;
    for (int j = 1; j <= 150; ++j) sum += st->scanValue[s][j] - st->fitCurve[s][j];
    EXPECT_NEAR(sum, 0.0, 1e-12) << s;
  }
  // The noise terms are found up to one constant shared by b and β; together
  // they also take up the base line, kept at 0.05 instead of 0.
  const double shift = st->riNoise[1] - ri(1);
  for (int s = 1; s <= 8; ++s) EXPECT_NEAR(st->riNoise[s] - ri(s), shift, 1e-3) << s;
  for (int j = 1; j <= 150; j += 13) EXPECT_NEAR(st->tiNoise[j] - ti(j), -shift - 0.05, 1e-3) << j;
  EXPECT_LT(st->sigma, 1e-4);
}

TEST_F(FitEngine, StandardDeviationsOfAStraightLineMatchTheClosedForm) {
  // v = P1 + P2·x with x = r − 6.075, noise with a known seed.
  fakeControl().model = [](const PerParam<double>& p, double r, double, int, PerParam<double>& d) {
    d[1] = 1.0;
    d[2] = r - 6.075;
    return p[1] + p[2] * d[2];
  };
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 0.01);
  auto st = MakeSeries(2, 150, Params({0.5, 2.0}), [&](int, int) { return noise(rng); });
  Prepare(*st, Params({0.4, 1.5}), 1.0);
  Free(*st, {1, 2});
  runFit(*st);
  double sx = 0, sxx = 0;
  const int count = 300;
  for (int s = 1; s <= 2; ++s)
    for (int j = 1; j <= 150; ++j) sx += st->scanRadius[s][j] - 6.075;
  const double mean = sx / count;
  for (int s = 1; s <= 2; ++s)
    for (int j = 1; j <= 150; ++j) sxx += std::pow(st->scanRadius[s][j] - 6.075 - mean, 2);
  const double sigma = std::sqrt(st->sumSq / (count - 2));
  EXPECT_DOUBLE_EQ(st->sigma, sigma);
  EXPECT_NEAR(st->sigma, 0.01, 0.002);
  EXPECT_NEAR(st->stdDev[2], sigma / std::sqrt(sxx), 1e-7 * st->stdDev[2]);
  EXPECT_NEAR(st->stdDev[1], sigma * std::sqrt(1.0 / count + mean * mean / sxx),
              1e-7 * st->stdDev[1]);
}

TEST_F(FitEngine, TooFewPointsGiveSigmaZeroInsteadOfADivisionByZero) {
  fakeControl().model = LinearModel;
  auto st = MakeSeries(1, 3, Params({1.2, 0.3, 0.05, 0.2, 0.4, 0.1}));
  Prepare(*st, Params({1.0, 0.2, 0.05, 0.0, 0.3, 0.2}), 1.0);
  Free(*st, {1, 2, 4, 5});
  runFit(*st);
  EXPECT_EQ(st->sigma, 0.0);
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(std::isfinite(st->stdDev[i])) << i;
}

TEST_F(FitEngine, NonlinearBoundaryIsRecoveredFromADistantStart) {
  fakeControl().model = BoundaryModel;
  const PerParam<double> truth = Params({0.8, 1e-5, 0.02, 6.05, 1e-6});
  auto st = MakeSeries(10, 600, truth);
  Prepare(*st, Params({0.6, 1.3e-5, 0.0, 6.03, 2e-6}), 5);
  Free(*st, {1, 2, 3, 4, 5});
  runFit(*st);
  for (int k = 1; k <= 5; ++k) EXPECT_NEAR(st->param[k] / truth[k], 1.0, 1e-5) << k;
  EXPECT_TRUE(st->fitDone);
}

TEST_F(FitEngine, ContinuationResumesWithoutANewStartEvaluation) {
  fakeControl().model = BoundaryModel;
  const PerParam<double> truth = Params({0.8, 1e-5, 0.02, 6.05, 1e-6});
  auto st =
      MakeSeries(6, 400, truth, [](int s, int j) { return 0.004 * std::sin(3.0 * s + 0.7 * j); });
  Prepare(*st, Params({0.7, 1.1e-5, 0.0, 6.04, 1.5e-6}), 5);
  Free(*st, {1, 2, 3, 4, 5});
  runFit(*st);
  const int iterations = st->iterCount;
  EXPECT_EQ(fakeControl().calls, iterations + 1);
  const double ss = st->sumSq;

  st->postFitOption = 'F';
  st->dampQ = std::min(st->dampFinal, 1.0);
  fakeControl().calls = 0;
  runFit(*st);
  EXPECT_TRUE(st->fitDone);
  EXPECT_GT(st->iterCount, iterations);
  EXPECT_EQ(fakeControl().calls, st->iterCount - iterations);  // one evaluation per iteration
  EXPECT_LE(st->sumSq, ss * (1 + 1e-9));

  // A continuation of a single iteration has run an iteration too: the caller
  // must report the parameters it changed.
  st->maxIterations = 1;
  st->dampQ = std::min(st->dampFinal, 1.0);
  const int before = st->iterCount;
  runFit(*st);
  EXPECT_EQ(st->iterCount, before + 1);
  EXPECT_TRUE(st->fitDone);
}

TEST_F(FitEngine, ResultsDoNotDependOnTheNumberOfThreads) {
  fakeControl().model = BoundaryModel;
  const PerParam<double> truth = Params({0.8, 1e-5, 0.02, 6.05, 1e-6});
  auto noise = [](int s, int j) { return 0.004 * std::sin(3.0 * s + 0.7 * j) + 0.001 * (j % 5); };
  std::vector<PerParam<double>> params, devs;
  std::vector<double> sums;
  for (int threads : {1, 2, 3, 5}) {
    setThreadCount(threads);
    auto st = MakeSeries(13, 300, truth, noise);
    st->tiNoiseOn = true;
    st->riNoiseOn = true;
    Prepare(*st, Params({0.7, 1.1e-5, 0.0, 6.04, 1.5e-6}), 5);
    Free(*st, {1, 2, 4, 5});
    runFit(*st);
    params.push_back(st->param);
    devs.push_back(st->stdDev);
    sums.push_back(st->sumSq);
  }
  for (std::size_t i = 1; i < params.size(); ++i) {
    EXPECT_EQ(params[i], params[0]) << i;
    EXPECT_EQ(devs[i], devs[0]) << i;
    EXPECT_EQ(sums[i], sums[0]) << i;
  }
}

TEST_F(FitEngine, TheIterationLimitOfTheSetUpEndsASlowFit) {
  // The optimum lies beyond P2 = 0, which the cut-back approaches only geometrically.
  fakeControl().model = LinearModel;
  auto st = MakeSeries(4, 100, Params({1.0, -0.5, 0.1, 0.3, 1.0, 0.2}));
  Prepare(*st, Params({1.0, 0.4, 0.1, 0.3, 0.5, 0.2}), 1e-4);
  st->maxIterations = 7;
  Free(*st, {1, 2, 3, 4, 5, 6});
  runFit(*st);
  EXPECT_EQ(st->iterCount, 7);
  EXPECT_GT(st->param[2], 0.0);
  // A continuation may run as many again.
  st->postFitOption = 'F';
  st->dampQ = std::min(st->dampFinal, 1.0);
  runFit(*st);
  EXPECT_EQ(st->iterCount, 14);
}

TEST_F(FitEngine, StepsIntoARegionWithoutFiniteValuesAreUndone) {
  // The model has no value for P2 > 0.25; the optimum lies beyond.
  fakeControl().model = LinearModel;
  auto st = MakeSeries(4, 100, Params({1.2, 0.5, 0.05, 0.2, 0.4, 0.1}));
  fakeControl().model = [](const PerParam<double>& p, double r, double t, int s,
                           PerParam<double>& d) {
    const double v = LinearModel(p, r, t, s, d);
    return p[2] > 0.25 ? NAN : v;
  };
  Prepare(*st, Params({1.0, 0.1, 0.05, 0.0, 0.3, 0.2}), 0.5);
  Free(*st, {1, 2, 4, 5, 6});
  runFit(*st);
  EXPECT_GE(st->faultCount, 1);
  EXPECT_LE(st->param[2], 0.25);
  EXPECT_TRUE(std::isfinite(st->sumSq));
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(std::isfinite(st->stdDev[i])) << i;
}

TEST_F(FitEngine, DrawsCurvesIterationNumberAndStatusLineOnTheSurface) {
  console::SetGraphicsFrontend(console::GraphicsFrontend::kHeadless);
  int driver = 0, mode = 1;
  console::OpenGraphics(driver, mode, "");
  setFitDisplay(true);
  fakeControl().model = BoundaryModel;
  auto st = MakeSeries(10, 200, Params({0.8, 1e-5, 0.02, 6.05, 1e-6}));
  Prepare(*st, Params({0.7, 1.1e-5, 0.0, 6.04, 1.5e-6}), 5);
  Free(*st, {1, 2, 3, 4, 5});
  runFit(*st);
  // Scans 9 and 10 are drawn in colours 5 and 4; the status line uses 14 and 13.
  std::array<int, 16> count{};
  for (int y = 0; y <= console::MaxY(); ++y)
    for (int x = 0; x <= console::MaxX(); ++x)
      ++count[static_cast<std::size_t>(console::GetPixel(x, y) & 15)];
  EXPECT_GT(count[5], 100);
  EXPECT_GT(count[4], 100);
  EXPECT_GT(count[14], 50);
  EXPECT_GT(count[13], 50);
  console::CloseGraphics();
}

}  // namespace
}  // namespace svfit::fit
