// The whole fit on simulated runs: numerical solutions of the Lamm equation
// with Gaussian noise (and TI and RI baseline noise for interference data),
// fitted with the approximate models from estimated or perturbed start values,
// and with model F, the numerical solutions themselves, on a run read back
// from its scan files. The sedimentation and diffusion coefficients must come
// back within the accuracy a user relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "console/crt.h"
#include "fit/fit.h"
#include "models/catalogue.h"
#include "results/fit_outcome.h"
#include "results/max_absorbance.h"
#include "results/start_values.h"
#include "scans/reader.h"
#include "sim/lamm.h"
#include "sim/scan_series.h"
#include "state/state.h"

namespace svfit::fit {
namespace {

constexpr double kRpm = 42000;
const double kUnit = 1e-13 * sim::omega2FromRpm(kRpm);  // the parameter value s·ω² of 1 S

struct Series {
  sim::Experiment run{.components = {{4.4, 6e-7, 0.8}}};  // meniscus 6.0 cm, bottom 7.2 cm
  int scans = 24;
  double firstTime = 600, interval = 400;           // [s]
  double rFirst = 6.02, rLast = 6.9, step = 0.003;  // fitted radii [cm]
  double noise = 0.004;                             // Gaussian noise [data units]
  double ceiling = 0;                               // readings above it are written as it; 0: none
  std::function<double(int j)> ti{};                // TI baseline of radial index j
  std::function<double(int s)> ri{};                // RI baseline of scan s
  double meniscusMark = 0;                          // meniscus marked [cm]; 0: the true one
  bool fileRadii = false;  // the files hold only the fitted radii: the meniscus stays in them
  int fixedParam = 0;      // a parameter held at its start value; 0: none
};

// Fits from the parameters as they stand, with the start values, damping and
// iteration limit of the set-up; no fit may end above the SS it started from.
void Fit(AnalysisState& st) {
  st.startValue = st.param;
  st.dampQ = 5;
  st.maxIterations = 200;
  st.postFitOption = ' ';
  double ssStart = -1;
  FitObserver observer;
  observer.evaluated = [&](const AnalysisState& a) { if (ssStart < 0) ssStart = a.sumSq; };
  runFit(st, observer);
  EXPECT_LE(st.sumSq, ssStart);
}

// Simulates the series and fits it with `components` components of model
// `letter` from `start`, or from estimated start values when none are given.
// The free list is every parameter, less the base line with noise elimination
// and parameter 6 with TI elimination (as the set-up does); interference data
// (a TI or RI baseline) are fitted with both noise terms.
std::unique_ptr<AnalysisState> FitSimulated(const Series& series, char letter, int components,
                                            const PerParam<double>* start = nullptr) {
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
  st->scanCount = st->seqLast = series.scans;
  st->seqFirst = 1;
  st->maxPointCount = points;
  st->meniscusMarked = series.meniscusMark > 0 ? series.meniscusMark : series.run.meniscus;
  if (series.fileRadii) {
    st->fileMinRadius = radii.front();
    st->fileMaxRadius = radii.back();
  }
  st->bottomMarked = series.run.bottom;
  st->linearRefRadius = series.rFirst;
  std::mt19937 rng(4711);
  std::normal_distribution<double> gauss(0.0, series.noise);
  for (int s = 1; s <= series.scans; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = st->scanLastPoint[s] = points;
    st->scanFirstPoint[s] = 1;
    st->scanOmega2[s] = 1.0;
    st->scanTime[s] = st->scanRunTime[s] = times[static_cast<std::size_t>(s - 1)];
    for (int j = 1; j <= points; ++j) {
      double& v = st->scanValue[s][j];
      st->scanRadius[s][j] = radii[static_cast<std::size_t>(j - 1)];
      v = profiles.c[static_cast<std::size_t>(s - 1)][static_cast<std::size_t>(j - 1)] +
          gauss(rng) + (series.ti ? series.ti(j) : 0.0) + (series.ri ? series.ri(s) : 0.0);
      if (series.ceiling > 0) v = std::min(v, series.ceiling);
      st->pointMultiplicity[s][j] = 1;
    }
  }
  for (int j = 1; j <= points; ++j) st->pointScanCount[j] = series.scans;

  const models::ModelInfo& m = models::modelInfo(letter);
  st->dataKind = series.ti || series.ri ? 'P' : 'R';
  st->riNoiseOn = st->tiNoiseOn = st->dataKind == 'P';
  st->modelLetter = letter;
  st->componentCount = components;
  st->paramCount = models::paramCountFor(m, components);
  st->dParamIndex = m.dParamIndex;
  st->bottomMin = 7.0;
  for (int k = 1; k <= st->paramCount; ++k)
    if (!(k == 3 && st->riNoiseOn) && !(k == 6 && st->tiNoiseOn) && k != series.fixedParam)
      st->freeIndex[++st->freeCount] = k;
  if (start) {
    st->param = *start;
  } else {
    results::EstimateStartValues(*st, st->dParamIndex);
  }
  models::classifyDiffusionOrMass(*st);
  Fit(*st);
  return st;
}

// Loads a series of scan files as the program does (generation 'N' with
// absorbance 'R', or 'I' with interference 'P') and uses the radii from
// rFirst to rLast [cm] of every scan.
std::unique_ptr<AnalysisState> LoadFiles(const std::string& start, char generation, char kind,
                                         double rFirst, double rLast) {
  auto st = std::make_unique<AnalysisState>();
  console::StartTestConsole("E");
  st->fileGeneration = generation;
  st->dataKind = kind;
  st->valueLimit = kind == 'P' ? 15.0 : 3.0;
  st->fileStep = 1;
  EXPECT_TRUE(scans::SetStartFile(*st, start));
  EXPECT_EQ(scans::LoadSeries(*st), scans::LoadOutcome::kLoaded);
  scans::FinishLoading(*st);
  for (int s = 1; s <= st->scanCount; ++s) {
    while (st->scanRadius[s][st->scanFirstPoint[s]] < rFirst) ++st->scanFirstPoint[s];
    while (st->scanRadius[s][st->scanLastPoint[s]] > rLast) --st->scanLastPoint[s];
  }
  return st;
}

// s of component slot k [S] and D of slot d [cm²/s] (d = 0: not checked)
// within their relative tolerances, and σ after the fit.
void ExpectRecovered(const AnalysisState& st, int k, double s, double sTol, int d, double D,
                     double dTol, double sigma, double sigmaTol) {
  SCOPED_TRACE(std::string("model ") + st.modelLetter + ", slot " + std::to_string(k));
  EXPECT_NEAR(st.param[k] * 1e13 / st.omega2First / s, 1.0, sTol);
  if (d > 0) {
    EXPECT_NEAR(st.param[d] / D, 1.0, dTol);
  }
  EXPECT_NEAR(st.sigma, sigma, sigmaTol);
  EXPECT_TRUE(st.fitDone);
}

// One species with model C, and with model N over the whole cell; two species
// with model C from start values as picked in the viewer (15 % off).
TEST(Recovery, OneSpeciesWithModelsCAndNTwoSpeciesWithModelC) {
  auto st = FitSimulated(Series{}, 'C', 1);
  ExpectRecovered(*st, 2, 4.4, 0.005, 5, 6e-7, 0.03, 0.004, 0.0004);
  st = FitSimulated(Series{.scans = 30, .interval = 600, .rLast = 7.15}, 'N', 1);
  ExpectRecovered(*st, 2, 4.4, 0.005, 7, 6e-7, 0.03, 0.004, 0.0004);
  EXPECT_NEAR(st->param[5], 7.2, 0.02);  // bottom radius [cm]
  const Series two{.run = {.components = {{3.0, 7e-7, 0.4}, {9.0, 4e-7, 0.4}}}, .scans = 30,
                   .interval = 300};
  const PerParam<double> start = {0, 0.35, 3.4 * kUnit, 0, 5.99, 6e-7, 0.45, 7.8 * kUnit, 5e-7};
  st = FitSimulated(two, 'C', 2, &start);
  ExpectRecovered(*st, 2, 3.0, 0.02, 0, 0, 0, 0.004, 0.0005);
  ExpectRecovered(*st, 7, 9.0, 0.02, 0, 0, 0, 0.004, 0.0005);
}

// The optics saturate near the bottom: the pile-up of a 1.0 OD solute reads
// 2.9 OD wherever it is higher. Fitted with model N up to 0.01 cm before the
// bottom, the flat tops pull s (4.478 S, D 1.7e-6 cm²/s, rmsd 0.14 OD);
// option L proposes 2.664 OD, and cut there the fit gives s and D back
// (4.400 S, 5.98e-7 cm²/s, rmsd 0.0040 OD).
TEST(Recovery, ModelNWithTheBottomPileUpClippedTakesTheProposedMaximalAbsorbance) {
  const Series series{.run = {.components = {{4.4, 6e-7, 1.0}}}, .scans = 30, .interval = 600,
                      .rLast = 7.19, .ceiling = 2.9};
  auto st = FitSimulated(series, 'N', 1);
  EXPECT_GT(std::fabs(st->param[2] * 1e13 / st->omega2First / 4.4 - 1), 0.005);
  st->nearBottomRadius = series.rLast;
  st->origMaxValue = series.ceiling;
  console::StartTestConsole("\r");  // the proposal; Enter keeps A_max (none)
  results::SetCommonMaxAbsorbance(*st, true);
  const std::string line = "Calculated proposal for maximal absorbance(fringes) orig :  2.900  :";
  ASSERT_EQ(console::TestTranscript().rfind(line, 0), 0u) << console::TestTranscript();
  console::StartTestConsole(console::TestTranscript().substr(line.size(), 6) + "\r");
  results::SetCommonMaxAbsorbance(*st, true);
  st->dampQ = 1;
  runFit(*st);
  ExpectRecovered(*st, 2, 4.4, 0.005, 7, 6e-7, 0.02, 0.004, 0.0004);
}

// Model S (a synthetic-boundary solution) on a sector-cell run, from the
// estimate for it (1.97 OD, 12.9 S) with the meniscus marked at the first
// radius of the files: without bounds the meniscus left the cell and the fit
// ended at σ = 1e11. Inside the cell it converges to the model's own best s,
// 3 % low (its concentration dependence takes up the radial dilution): the
// same s as from the true values.
TEST(Recovery, ModelSFromPoorStartValuesConvergesInsideTheCell) {
  Series series{.scans = 40, .interval = 300, .rFirst = 5.98, .rLast = 7.05, .meniscusMark = 5.98,
                .fileRadii = true};
  auto st = FitSimulated(series, 'S', 1);
  EXPECT_EQ(st->fitOutcome, FitOutcome::kFitted);
  EXPECT_GE(st->param[4], 5.98);
  ExpectRecovered(*st, 2, 4.4 * 0.9694, 0.002, 0, 0, 0, 0.004, 0.0005);
  EXPECT_LT(st->param[5], 0);  // the concentration dependence k < 0 takes up the dilution
  // Held at k = 0 (an ideal solute), the same model recovers s within 0.2 %.
  series.fixedParam = 5;
  st = FitSimulated(series, 'S', 1);
  EXPECT_EQ(st->param[5], 0.0);
  ExpectRecovered(*st, 2, 4.4, 0.002, 0, 0, 0, 0.0045, 0.0005);
}

// Two components with the same start values have the same derivatives: no
// step can tell them apart, and the fit says so instead of reporting numbers.
TEST(Recovery, TwoComponentsStartedAlikeAreReportedAsNotDetermined) {
  const PerParam<double> start = {0, 0.4, 4.0 * kUnit, 0, 6.0, 6e-7, 0.4, 4.0 * kUnit, 6e-7};
  auto st = FitSimulated(Series{}, 'C', 2, &start);
  EXPECT_NE(st->fitOutcome, FitOutcome::kFitted);
  EXPECT_EQ(st->undeterminedParams & 0b111100110u, 0b111100110u);  // c0, s and D of both
  EXPECT_EQ(results::FitOutcomeLine(*st).substr(0, 12), "FIT FAILED: ");
  EXPECT_NE(results::UndeterminedLine(*st).find("(components 1 and 2: same s)"), std::string::npos)
      << results::UndeterminedLine(*st);
}

TEST(Recovery, InterferenceDataWithTimeAndRadialNoise) {
  const Series series{
      .run = {.components = {{4.4, 6e-7, 3.0}}},  // 3 fringes
      .noise = 0.01,
      .ti = [](int j) { return 0.3 * std::sin(0.05 * j) + 0.02 * std::cos(0.7 * j); },
      .ri = [](int s) { return 0.5 - 0.04 * s + 0.1 * (s % 3); }};
  auto st = FitSimulated(series, 'C', 1);
  ExpectRecovered(*st, 2, 4.4, 0.01, 5, 6e-7, 0.05, 0.01, 0.0015);
  // The RI noise follows the offsets of the scans, up to one shared constant.
  const double shift = st->riNoise[1] - series.ri(1);
  for (int s = 2; s <= series.scans; ++s)
    EXPECT_NEAR(st->riNoise[s] - series.ri(s), shift, 0.01) << s;
}

// A run whose first ten scans are taken while the rotor still accelerates (a
// 600 s ramp, scans every minute from 60 s on), written as absorbance files
// with a scanning slit and read back: the headers' elapsed times and ω²t
// carry the acceleration. Model F rebuilds it and lets diffusion act over the
// real time; models C and N take the run time ω²t/ω² (0.2 s instead of 60 s
// for the first scan), see too sharp early boundaries and answer with a D
// about 3.5 % too large. All three start from the same values, about 10 % off.
TEST(Recovery, AccelerationPhaseWithModelFAgainstCAndN) {
  const sim::SeriesSetup setup{.run = {6.05, 7.2, 50000, 600, {{4.4, 6e-7, 0.8}}},
                               .cell = 2,
                               .radiusStart = 5.95,
                               .radiusEnd = 7.25,
                               .firstScan = 60,
                               .interval = 60,
                               .scanCount = 60,
                               .secondsPerCm = 40,
                               .noise = 0.004,
                               .seed = 13};
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / "svfit_recovery_acceleration";
  std::filesystem::remove_all(dir);
  sim::writeSeries(sim::simulateSeries(setup), dir.string(), true);

  double s[3], D[3];  // [S], [cm²/s] of F, C and N
  for (int i = 0; i < 3; ++i) {
    const char letter = "FCN"[i];
    auto st = LoadFiles((dir / "00001.RA2").string(), 'N', 'R', 6.07, 7.0);
    EXPECT_EQ(st->scanCount, 60);
    EXPECT_NEAR(st->slitTimePerCm, 40.0, 1e-12);  // 120 s/cm over a step of 3 thousandths
    const models::ModelInfo& m = models::modelInfo(letter);
    st->modelLetter = letter;
    st->componentCount = 1;
    st->paramCount = m.baseParamCount;
    st->dParamIndex = m.dParamIndex;
    const models::ComponentSlots slot = models::componentSlots(m, 1);
    st->param[slot.c0] = 0.75;
    st->param[slot.s] = 4.0e-13 * st->omega2First;
    st->param[slot.dOrM] = 6.6e-7;
    st->param[4] = 6.04;
    if (m.hasBottom) st->param[5] = 7.2;
    models::classifyDiffusionOrMass(*st);
    for (int k = 1; k <= st->paramCount; ++k) st->freeIndex[++st->freeCount] = k;
    Fit(*st);
    EXPECT_TRUE(st->fitDone) << letter;
    EXPECT_NEAR(st->sigma, 0.004, 0.0003) << letter;
    s[i] = st->param[slot.s] * 1e13 / st->omega2First;
    D[i] = st->param[slot.dOrM];
  }
  std::filesystem::remove_all(dir);
  EXPECT_NEAR(s[0] / 4.4, 1.0, 0.001);
  EXPECT_NEAR(D[0] / 6e-7, 1.0, 0.01);
  for (int i : {1, 2}) EXPECT_GT(D[i] / 6e-7 - 1, 0.02) << s[i] << " S, " << D[i];
}

// The real BSA interference run (../shared/data/real/sedfit-bsa-ip4, see its
// SOURCES.md), every scan from the first at 190 s, range 6.2532-7.1550 cm, TI
// and RI noise: model F at the result of its four-component fit (monomer,
// dimer, trimer and the buffer salts the interference optics see; lamm_bench
// fits it) describes the run to the noise of the optics. A check of the whole
// path from the headers' times to the numerical solutions.
TEST(Recovery, RealBsaRunWithModelF) {
  const std::string start = SVFIT_SOURCE_DIR "/../shared/data/real/sedfit-bsa-ip4/00001.IP4";
  if (!std::filesystem::exists(start)) GTEST_SKIP() << "real data not found: " << start;
  auto st = LoadFiles(start, 'I', 'P', 6.2532, 7.1550);
  ASSERT_EQ(st->scanCount, 129);
  st->modelLetter = 'F';
  st->paramCount = 16;
  const double unit = 1e-13 * st->omega2First;  // the parameter value of 1 S
  // c0 [fringes], s, base line, r_m, r_b [cm], slope, D [cm²/s]; components 2..4.
  st->param = {0,           1.8137, 4.5165 * unit, 0,      6.2297,        7.2183,
               0,           6.3429e-7, 0.2475,     6.6305 * unit, 5.1250e-7, 0.0748,
               8.8548 * unit, 8.5033e-7, 0.8029,   0.2504 * unit, 2.5895e-5};
  // Every D as fitted (the salts' D is above the 2e-5 that the set-up would
  // read as a molar mass).
  st->riNoiseOn = st->tiNoiseOn = true;
  for (int k = 1; k <= 16; ++k)
    if (k != 3 && k != 6) st->freeIndex[++st->freeCount] = k;  // as under TI and RI noise
  computeFitTotals(*st);
  fitEvaluate(*st);
  const double rmsd = std::sqrt(st->sumSq / static_cast<double>(st->pointTotal - st->freeCount));
  EXPECT_LT(rmsd, 0.00405);  // fringes; the published analysis: 0.0036
  EXPECT_GT(rmsd, 0.0035);
}

}  // namespace
}  // namespace svfit::fit
