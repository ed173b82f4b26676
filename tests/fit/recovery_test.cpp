// The whole fit on simulated runs: numerical solutions of the Lamm equation
// with Gaussian noise (and TI and RI baseline noise for interference data),
// fitted with the approximate models from estimated or perturbed start values.
// The sedimentation and diffusion coefficients must come back within the
// accuracy a user relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "driver/state.h"
#include "fit/fit.h"
#include "models/catalogue.h"
#include "results/start_values.h"
#include "sim/lamm.h"

namespace svfit::fit {
namespace {

constexpr double kRpm = 42000;

struct Series {
  sim::Experiment run;
  int scans = 24;
  double firstTime = 600, interval = 400;           // [s]
  double rFirst = 6.02, rLast = 6.9, step = 0.003;  // fitted radii [cm]
  double noise = 0.004;                             // Gaussian noise [data units]
  std::function<double(int j)> ti;                  // TI baseline of radial index j
  std::function<double(int s)> ri;                  // RI baseline of scan s
};

std::unique_ptr<AnalysisState> Simulate(const Series& series) {
  std::vector<double> times, radii;
  for (int s = 0; s < series.scans; ++s) times.push_back(series.firstTime + series.interval * s);
  for (double r = series.rFirst; r <= series.rLast + 1e-9; r += series.step) radii.push_back(r);
  const sim::Profiles profiles = sim::solveLamm(series.run, times, radii);
  EXPECT_TRUE(profiles.converged);

  auto st = std::make_unique<AnalysisState>();
  const int points = static_cast<int>(radii.size());
  st->omega2First = sim::omega2FromRpm(kRpm);
  st->rpmFirst = kRpm;
  st->temperature = 20;
  st->scanCount = series.scans;
  st->seqFirst = 1;
  st->seqLast = series.scans;
  st->maxPointCount = points;
  st->meniscusMarked = series.run.meniscus;
  st->bottomMarked = series.run.bottom;
  st->linearRefRadius = series.rFirst;
  std::mt19937 rng(4711);
  std::normal_distribution<double> gauss(0.0, series.noise);
  for (int s = 1; s <= series.scans; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = points;
    st->scanFirstPoint[s] = 1;
    st->scanLastPoint[s] = points;
    st->scanOmega2[s] = 1.0;
    st->scanTime[s] = times[static_cast<std::size_t>(s - 1)];
    st->scanRunTime[s] = st->scanTime[s];
    for (int j = 1; j <= points; ++j) {
      st->scanRadius[s][j] = radii[static_cast<std::size_t>(j - 1)];
      double v = profiles.c[static_cast<std::size_t>(s - 1)][static_cast<std::size_t>(j - 1)];
      v += gauss(rng);
      if (series.ti) v += series.ti(j);
      if (series.ri) v += series.ri(s);
      st->scanValue[s][j] = v;
      st->pointMultiplicity[s][j] = 1;
    }
  }
  for (int j = 1; j <= points; ++j) st->pointScanCount[j] = series.scans;
  return st;
}

// Model, components and the free list: every parameter, less the base line
// with RI elimination and parameter 6 with TI elimination (as the set-up does).
void UseModel(AnalysisState& st, char letter, int components) {
  const models::ModelInfo& m = models::modelInfo(letter);
  st.modelLetter = letter;
  st.componentCount = components;
  st.paramCount = models::paramCountFor(m, components);
  st.dParamIndex = m.dParamIndex;
  st.bottomMin = 7.0;
  st.freeCount = 0;
  for (int k = 1; k <= st.paramCount; ++k) {
    if (k == 3 && (st.riNoiseOn || st.tiNoiseOn)) continue;
    if (k == 6 && st.tiNoiseOn) continue;
    st.freeIndex[++st.freeCount] = k;
  }
}

void Fit(AnalysisState& st) {
  models::classifyDiffusionOrMass(st);
  st.startValue = st.param;
  st.dampQ = 5;
  st.maxIterations = 200;
  st.iterCount = 0;
  st.faultCount = 0;
  st.postFitOption = ' ';
  runFit(st);
}

double Svedberg(const AnalysisState& st, int k) { return st.param[k] * 1e13 / st.omega2First; }

class Recovery : public ::testing::Test {
 protected:
  void SetUp() override { setFitDisplay(false); }
  void TearDown() override { setFitDisplay(true); }
};

TEST_F(Recovery, OneSpeciesWithModelC) {
  Series series;
  series.run.components = {{4.4, 6e-7, 0.8}};
  auto st = Simulate(series);
  UseModel(*st, 'C', 1);
  results::EstimateStartValues(*st, st->dParamIndex);
  Fit(*st);
  RecordProperty("s", std::to_string(Svedberg(*st, 2)));
  EXPECT_NEAR(Svedberg(*st, 2) / 4.4, 1.0, 0.005);
  EXPECT_NEAR(st->param[5] / 6e-7, 1.0, 0.03);
  EXPECT_NEAR(st->sigma, 0.004, 0.0004);
  EXPECT_TRUE(st->fitDone);
}

TEST_F(Recovery, OneSpeciesWithModelNOverTheWholeCell) {
  Series series;
  series.run.components = {{4.4, 6e-7, 0.8}};
  series.rLast = 7.15;
  series.scans = 30;
  series.interval = 600;
  auto st = Simulate(series);
  UseModel(*st, 'N', 1);
  results::EstimateStartValues(*st, st->dParamIndex);
  Fit(*st);
  EXPECT_NEAR(Svedberg(*st, 2) / 4.4, 1.0, 0.005);
  EXPECT_NEAR(st->param[7] / 6e-7, 1.0, 0.03);
  EXPECT_NEAR(st->param[5], 7.2, 0.02);  // bottom radius [cm]
  EXPECT_NEAR(st->sigma, 0.004, 0.0004);
}

TEST_F(Recovery, TwoSpeciesWithModelC) {
  Series series;
  series.run.components = {{3.0, 7e-7, 0.4}, {9.0, 4e-7, 0.4}};
  series.scans = 30;
  series.interval = 300;
  auto st = Simulate(series);
  UseModel(*st, 'C', 2);
  // Start values as picked in the viewer: 15 % off.
  const double unit = 1e-13 * st->omega2First;
  st->param = {};
  st->param[1] = 0.35;
  st->param[2] = 3.4 * unit;
  st->param[4] = 5.99;
  st->param[5] = 6e-7;
  st->param[6] = 0.45;
  st->param[7] = 7.8 * unit;
  st->param[8] = 5e-7;
  Fit(*st);
  EXPECT_NEAR(Svedberg(*st, 2) / 3.0, 1.0, 0.02);
  EXPECT_NEAR(Svedberg(*st, 7) / 9.0, 1.0, 0.02);
  EXPECT_NEAR(st->sigma, 0.004, 0.0005);
}

TEST_F(Recovery, InterferenceDataWithTimeAndRadialNoise) {
  Series series;
  series.run.components = {{4.4, 6e-7, 3.0}};  // 3 fringes
  series.noise = 0.01;
  series.ti = [](int j) { return 0.3 * std::sin(0.05 * j) + 0.02 * std::cos(0.7 * j); };
  series.ri = [](int s) { return 0.5 - 0.04 * s + 0.1 * (s % 3); };
  auto st = Simulate(series);
  st->dataKind = 'P';
  st->riNoiseOn = true;
  st->tiNoiseOn = true;
  UseModel(*st, 'C', 1);
  results::EstimateStartValues(*st, st->dParamIndex);
  Fit(*st);
  EXPECT_NEAR(Svedberg(*st, 2) / 4.4, 1.0, 0.01);
  EXPECT_NEAR(st->param[5] / 6e-7, 1.0, 0.05);
  EXPECT_NEAR(st->sigma, 0.01, 0.0015);
  // The RI noise follows the offsets of the scans, up to one shared constant.
  const double shift = st->riNoise[1] - series.ri(1);
  for (int s = 2; s <= series.scans; ++s)
    EXPECT_NEAR(st->riNoise[s] - series.ri(s), shift, 0.01) << s;
}

}  // namespace
}  // namespace svfit::fit
