// Files for further analysis. The distribution g(s*): smoothing kernels and
// end rules, plateau search and range, derivative profiles, peaks of
// simulated and real runs, the file. The SEDFIT export: texts against golden
// files made by hand (tests/testdata/sedfit/README.md) and the slot rules of
// models C, N and M. Their dialogues run in a session of
// tests/driver/app_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <tuple>

#include "../scans/scan_fixture.h"
#include "console/crt.h"
#include "results/distribution.h"
#include "results/max_absorbance.h"
#include "results/sedfit_export.h"
#include "scans/reader.h"
#include "sim/lamm.h"

namespace svfit::results {
namespace {

namespace fs = std::filesystem;

// Scans of `points` points at 6.0 + 0.001 i cm, run times 600 s apart (or
// given), values value(s, i).
std::unique_ptr<AnalysisState> Series(int scans, int points, const std::function<double(int, int)>& value,
                                      std::vector<double> times = {}, char kind = 'R',
                                      double step = 0.001) {
  auto st = std::make_unique<AnalysisState>();
  st->dataKind = kind;
  st->omega2First = sim::omega2FromRpm(50000);
  st->scanCount = st->seqLast = scans;
  st->meniscusMarked = 6.05;
  for (int s = 1; s <= scans; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = st->scanLastPoint[s] = points;
    st->scanRunTime[s] = times.empty() ? 600.0 * s : times[s - 1];
    for (int i = 1; i <= points; ++i) {
      st->scanRadius[s][i] = 6.0 + step * i;
      st->scanValue[s][i] = value(s, i);
    }
  }
  return st;
}

TEST(DistributionSmoothing, KernelsKeepQuadraticsEndMeansKeepLinesAndRunInPlace) {
  const int n = 300;
  std::vector<double> quad(n + 1), line(n + 1), v;
  for (int i = 1; i <= n; ++i) quad[i] = 0.3 + 0.02 * i - 1e-4 * i * i, line[i] = 1.5 - 0.01 * i;
  // Scans: the 53-point kernel is exact from point 27 on, the last 26 keep
  // their values, so the 27-point kernel reads exact values from point 40 on.
  SmoothScanPass(v = quad, n);
  for (int i = 40; i <= n; ++i) EXPECT_NEAR(v[i], quad[i], 1e-12) << i;
  SmoothProfilePass(v = quad, n);
  for (int i = 52; i <= n - 51; ++i) EXPECT_NEAR(v[i], quad[i], 1e-12) << i;
  for (auto pass : {SmoothScanPass, SmoothProfilePass}) {
    pass(v = line, n);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(v[i], line[i], 1e-12) << i;
  }
  // An impulse at point 1 reaches centre 52 with weight 1591 − 51²; point 51
  // then averages 1..101, point 50 averages 1..99 with 51 already updated.
  v.assign(n + 1, 0.0);
  v[1] = 1;
  SmoothProfilePass(v, n);
  const double k52 = (1591.0 - 51 * 51) / 72821, m51 = (1 + k52) / 101;
  EXPECT_NEAR(v[52], k52, 1e-15);
  EXPECT_NEAR(v[51], m51, 1e-15);
  EXPECT_NEAR(v[50], (1 + m51 + k52) / 99, 1e-15);
  EXPECT_EQ(v[1] + v[53], 1.0);
}

TEST(DistributionRange, PlateauSearchReductionsAndDerivatives) {
  // Scan 4 rises 0.002 per point; scan 3 is flat at 150 but bent (0.001 per
  // point²); scan 2 is flat from 200 − 13 = 187 on, above a boundary at 80:
  // p = round(0.98 · 186).
  auto st = Series(4, 200, [](int s, int i) {
    return s == 3 ? 0.001 * (i - 150) * (i - 150) : s == 2 ? (i > 80 ? 1.0 : 0.0) : 0.002 * i;
  });
  Plateau p = FindPlateau(*st, 4, 77);
  EXPECT_EQ(std::tuple(p.found, p.scan, p.index), std::tuple(true, 2, 182));
  // Flat without a boundary on its meniscus side (the depleted region behind
  // a boundary that has passed), or rising: no plateau.
  for (const double rise : {0.0, 0.002}) {
    for (int i = 1; i <= 200; ++i) st->scanValue[2][i] = 0.01 + rise * i;
    p = FindPlateau(*st, 4, 77);
    EXPECT_EQ(std::tuple(p.found, p.scan, p.index), std::tuple(false, 1, 77));
  }

  // n_avg and d by method and data kind, reduced for short series, refused
  // with fewer than n_avg + d + 1 scans from seqFirst on (scans with a
  // boundary at point 60: the last one has the plateau).
  struct Case { char kind, method; int scans, seqFirst, nAvg, d; };  // nAvg < 0: refused
  for (const Case c : {Case{'R', 'T', 3, 1, 1, 1}, Case{'R', 'T', 2, 1, -1, 0}, Case{'R', 'R', 2, 1, 1, 0},
                       Case{'R', 'R', 1, 1, -1, 0}, Case{'R', 'T', 4, 3, -1, 0}, Case{'P', 'T', 20, 1, 10, 3},
                       Case{'P', 'R', 20, 1, 10, 0}, Case{'R', 'R', 20, 1, 3, 0}}) {
    st = Series(c.scans, 200, [](int, int i) { return i > 60 ? 1.0 : 0.0; }, {}, c.kind);
    st->seqFirst = c.seqFirst;
    DistributionRange r;
    ASSERT_EQ(ChooseDistributionRange(*st, c.method, c.scans, r), c.nAvg > 0) << c.method << c.scans;
    if (c.nAvg > 0) {
      EXPECT_EQ(std::tuple(r.nAvg, r.d, r.k, r.k0), std::tuple(c.nAvg, c.d, c.scans, c.scans - c.nAvg - c.d));
    }
  }
  st = Series(1, 200, [](int, int) { return 1.0; });
  console::StartTestConsole("R");  // the dialogue then leads on to the fit set-up
  EXPECT_FALSE(ComputeDistribution(*st, {}));

  // Time: values growing as 0.001·t give 0.001·t̄² per pair (t̄ = 150, 300 s).
  const std::vector<double> t = {100, 200, 400};
  st = Series(3, 200, [&](int s, int) { return 0.001 * t[s - 1]; }, t);
  DistributionRange r;
  ASSERT_TRUE(ChooseDistributionRange(*st, 'T', 3, r));
  std::vector<double> g = DerivativeProfile(*st, r);
  for (int i = 1; i <= 200; ++i) EXPECT_NEAR(g[i], 0.001 * (150.0 * 150 + 300.0 * 300), 1e-9) << i;
  // Scans spanning 300 s around a mean run time of 250 s: the console warns.
  console::StartTestConsole("T\rN");
  EXPECT_FALSE(ComputeDistribution(*st, {}));
  EXPECT_NE(console::TestTranscript().find("note: the scans used span 300 s, 120 % of"), std::string::npos);
  // Radial: slopes 0.003 and 0.004 per point give Σ t_j·slope_j, 0 within 51
  // points of either end.
  st = Series(2, 200, [](int s, int i) { return 0.001 * (s + 2) * i; });
  ASSERT_TRUE(ChooseDistributionRange(*st, 'R', 2, r));
  g = DerivativeProfile(*st, r);
  for (int i = 1; i <= 200; ++i) EXPECT_NEAR(g[i], i >= 52 && i <= 149 ? 600 * 0.003 + 1200 * 0.004 : 0, 1e-9) << i;
}

// s* [S] of the local maxima of g shown from 1 S on that reach a fifth of the
// largest there (the time method's 1/ln(r/r_m) lifts the points next to the
// meniscus of these series, whose scans begin 0.05 cm inside it).
std::vector<double> Peaks(const AnalysisState& st) {
  int from = st.distStart + 1;
  while (from < st.distEnd && st.distS[from] < 1.0) ++from;
  const double top = *std::max_element(&st.distG[from], &st.distG[st.distEnd] + 1);
  std::vector<double> s;
  for (int i = from; i < st.distEnd; ++i)
    if (st.distG[i] > st.distG[i - 1] && st.distG[i] >= st.distG[i + 1] && st.distG[i] > 0.2 * top)
      s.push_back(st.distS[i]);
  return s;
}

TEST(DistributionPeaks, SimulatedRunsOfOneAndTwoSpecies) {
  // 50000 rpm, meniscus 6.05 cm, bottom 7.2 cm, scans every 300 s from 600 s,
  // 6.0 .. 7.1 cm every 0.001 cm (and, as absorbance scans often are, every
  // 0.003 cm: the peak must not fall into the margin before the plateau),
  // noise 0.002 OD.
  const std::vector<sim::Component> one = {{4.4, 6e-7, 0.8}};
  // The last run: 3 and 9 S on the coarse grid, which smoothing windows
  // counted in points merge into one peak (its 3 S boundary lies too near the
  // meniscus at these times for the time method).
  const std::tuple<std::vector<sim::Component>, int, double, std::string> runs[] = {
      {one, 31, 0.001, "RT"}, {{{4.4, 6e-7, 0.5}, {7.5, 4.5e-7, 0.3}}, 19, 0.001, "RT"},
      {one, 31, 0.003, "RT"}, {{{3.0, 7e-7, 0.4}, {9.0, 3.5e-7, 0.4}}, 12, 0.003, "R"}};
  for (const auto& [species, scans, step, methods] : runs) {
    const sim::Experiment run{6.05, 7.2, 50000, 0, species};
    const int points = static_cast<int>(std::lround(1.1 / step)) + 1;
    std::vector<double> times, radii;
    for (int s = 0; s < scans; ++s) times.push_back(600 + 300.0 * s);
    for (int i = 1; i <= points; ++i) radii.push_back(6.0 + step * i);
    const sim::Profiles c = sim::solveLamm(run, times, radii);
    std::mt19937 rng(99);
    std::normal_distribution<double> noise(0, 0.002);
    auto st = Series(scans, points, [&](int s, int i) { return c.c[s - 1][i - 1] + noise(rng); },
                     times, 'R', step);
    const std::vector<double> loaded(st->scanValue[9], st->scanValue[9] + points + 1);
    for (char method : methods) {
      ASSERT_TRUE(CalculateDistribution(*st, method, scans));
      const std::vector<double> peaks = Peaks(*st);
      ASSERT_EQ(peaks.size(), species.size()) << method;
      for (std::size_t k = 0; k < peaks.size(); ++k)
        EXPECT_NEAR(peaks[k] / species[k].s, 1.0, species.size() == 1 ? 0.02 : 0.03) << method << k;
    }
    EXPECT_EQ(std::vector<double>(st->scanValue[9], st->scanValue[9] + points + 1), loaded);
  }
}

// The BSA run (SOURCES.md) with the published meniscus and fitted range.
TEST(DistributionPeaks, RealBsaRunHasItsMonomerPeakAndADimerShoulder) {
  const std::string start = SVFIT_SOURCE_DIR "/../shared/data/real/sedfit-bsa-ip4/00001.IP4";
  if (!fs::exists(start)) GTEST_SKIP() << "real data not found: " << start;
  AnalysisState st;
  st.fileGeneration = 'I', st.dataKind = 'P', st.valueLimit = 15;
  console::StartTestConsole("E");
  ASSERT_TRUE(scans::SetStartFile(st, start));
  scans::LoadHooks hooks;
  hooks.pickRange = [](AnalysisState&, int) { return scans::RadialPick{6.2532, 7.155, 6.2299, 7.155}; };
  ASSERT_EQ(scans::LoadSeries(st, hooks), scans::LoadOutcome::kLoaded);
  scans::FinishLoading(st, hooks);
  ApplyLoadingCut(st);
  for (int last : {129, 100}) {  // the dimer reaches the bottom in the last scans; 87..100 show it
    ASSERT_TRUE(CalculateDistribution(st, 'T', last));
    const std::vector<double> peaks = Peaks(st);
    ASSERT_EQ(peaks.size(), 1u) << last;
    EXPECT_TRUE(peaks[0] > 4.2 && peaks[0] < 4.6) << peaks[0];
  }
  // One species alone falls off ever faster beyond its peak (ln g concave);
  // d(ln g)/ds* rising again from 5.5 to 6.5 S is the dimer's shoulder.
  auto slope = [&](double s) {
    int i = st.distStart;
    while (st.distS[i + 1] < s) ++i;
    return std::log(st.distG[i + 10] / st.distG[i - 10]) / (st.distS[i + 10] - st.distS[i - 10]);
  };
  EXPECT_GT(slope(6.5), slope(5.5) + 0.3);
  EXPECT_LT(slope(6.5), 0.0);
}

// A golden file under tests/testdata.
std::string Golden(const std::string& name) {
  return scans::testing::ReadFile(SVFIT_SOURCE_DIR "/tests/testdata/" + name);
}

TEST(DistributionFile, GoldenTextAndNameRule) {
  // The state of tests/testdata/distribution/README.md.
  auto st = Series(2, 40, [](int, int) { return 0.0; });
  for (int i = 1; i <= 40; ++i) st->scanRadius[2][i] = 6.0 + 0.01 * i, st->distG[i] = (i - 10) / 4.0;
  st->infoLines[0] = "svfit test run, cell 2";
  st->distMidScan = 2, st->distStart = 2, st->distEnd = 32;
  st->distFirstScan = 12, st->distAverage = 3, st->distDistance = 1;
  st->distMidTime = 5400.5, st->meniscusMarked = 5.95, st->omega2First = 27415567.5;
  EXPECT_EQ(DistributionFileText(*st, 0.736), Golden("distribution/run.FHT"));

  // Named after the folder above the run folder; old files after the file.
  for (const auto& [path, name] : {std::pair{"/data/bsa/run0427/00001.IP4", "bsa.FHT"}, {"/00001.RA2", "00001.FHT"}}) {
    st->firstFileName = path;
    EXPECT_EQ(DistributionFileName(*st), name);
  }
  st->fileGeneration = 'O';
  st->firstFileName = "/data/old/CELL2R07";
  EXPECT_EQ(DistributionFileName(*st), "CELL2R07.FHT");  // a failed write: the session test
}

// The state of the golden files: model N, two components, two scans of 14
// points, points 2..12 used.
std::unique_ptr<AnalysisState> GoldenState() {
  auto st = std::make_unique<AnalysisState>();
  st->modelLetter = 'N';
  st->componentCount = 2;
  st->omega2First = 27415567.5;
  st->scanCount = st->seqLast = 2;
  st->infoLines[0] = "svfit test run";
  st->scanTitle[1] = "R 2 20.0 50000 0001000 2.7416E10 280 1";
  st->scanTitle[2] = "P 2 20.0 50000 0001600 4.3866E10 675 50";
  for (int s = 1; s <= 2; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = 14, st->scanFirstPoint[s] = 2, st->scanLastPoint[s] = 12;
    for (int i = 1; i <= 14; ++i) st->scanRadius[s][i] = 6.0 + 0.01 * i, st->scanValue[s][i] = 0.1 * i + (s == 2 ? 0.05 : 0.0);
  }
  const double sv = 1e-13 * st->omega2First;  // 1 S as s·ω²
  st->param = {0, 0.6, 4.4 * sv, 0.01, 6.05, 7.2, 0, 6e-7, 0.2, 6.8 * sv, 4.65e-7};
  st->meniscusMarked = 6.04, st->bottomMarked = 7.19;
  st->riNoiseOn = true;
  st->updatePsvRho();
  return st;
}

TEST(SedfitExport, GoldenFilesOENamesOnlyTheRadiiAndTheSlotRulesOfCAndM) {
  auto st = GoldenState();
  EXPECT_EQ(SedfitDataText(*st, 1, 2.0), Golden("sedfit/00001.ra9"));
  EXPECT_EQ(SedfitListText(*st, "/data/export/", true), Golden("sedfit/list.ra9"));
  const SedfitSlotArray e = SedfitSlots(*st, 2.0, true);
  EXPECT_EQ(SedfitParameterText(e), Golden("sedfit/~tmppars.ra9"));
  // O: the radii as marked in the viewer, nothing else changes.
  const SedfitSlotArray o = SedfitSlots(*st, 2.0, false);
  for (int k = 1; k <= kSedfitSlots; ++k) EXPECT_EQ(o[k], k == 40 ? 6.04 : k == 41 ? 7.19 : e[k]) << k;
  EXPECT_EQ(SedfitExtension(*st, false), "ra0");
  // Model F has N's parameters and writes N's files.
  st->modelLetter = 'F';
  EXPECT_EQ(SedfitDataText(*st, 1, 2.0), Golden("sedfit/00001.ra9"));
  EXPECT_EQ(SedfitParameterText(SedfitSlots(*st, 2.0, true)), Golden("sedfit/~tmppars.ra9"));
  st->modelLetter = 'N';

  // Interference: offset and base-line term instead of the "1" column.
  st->dataKind = 'P', st->dataOffset = 0.5, st->startValue[3] = 0.02, st->meanRiOffset = 0.003;
  st->tiNoiseOn = true;
  EXPECT_EQ(SedfitDataText(*st, 2, 2.0), Golden("sedfit/00002.ip0"));
  EXPECT_EQ(SedfitExtension(*st, false), "ip0");

  // Model C, one component: the bottom as marked, the range to the last
  // loaded point, and nothing in the slots of further components.
  st = GoldenState();
  st->modelLetter = 'C', st->componentCount = 1, st->param[5] = 6e-7;  // C: P[5] is D
  SedfitSlotArray v = SedfitSlots(*st, 1.0, true);
  EXPECT_EQ(v[41], 7.19);
  EXPECT_DOUBLE_EQ(v[43], 6.13);  // point 14 − 1
  EXPECT_DOUBLE_EQ(v[5], 6.0);
  for (int k = 11; k <= 35; ++k) EXPECT_EQ(v[k], 0.0) << k;
  const std::string data = SedfitDataText(*st, 1, 1.0);
  EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), 2 + 13 + 1);  // points 2..14 and "0  0  0"

  // Model M: P[5] = mu, P[6] = D. mu exactly 0 goes the mu >= 0 way as 1e-20.
  st->modelLetter = 'M', st->param[5] = 0, st->param[6] = 6e-7;
  v = SedfitSlots(*st, 2.0, true);
  EXPECT_DOUBLE_EQ(v[12], std::log10(1e-20 / 0.6 * 2.0));
  EXPECT_EQ(std::tuple(v[13], v[21], v[72], st->param[5]), std::tuple(1.0, -20.0, 1.0, 0.0));  // the fit stays
  for (int k = 11; k <= 35; ++k) EXPECT_EQ(v[k], k == 12 ? v[12] : k == 13 ? 1 : k == 21 ? -20 : 0) << k;

  // mu < 0: the monomer M1 in slot 5, the dimer at 2·M1; f = 5 for 0.05 < |mu| <= 0.104.
  st->param[5] = -0.07;
  v = SedfitSlots(*st, 2.0, true);
  EXPECT_EQ(std::tuple(v[14], v[21], v[3] + v[12] + v[24] + v[4] + v[39]), std::tuple(2 * v[5], 0.6 / 2.0, 3.0));
  EXPECT_DOUBLE_EQ(v[23], std::log10(5 * 0.07 * 2.0 / 0.6));

  // Before any fit (0 iterations, no set-up): the marked radii and the
  // default psv·rho, not zeros.
  st->modelLetter = 'N', st->param.fill(0), st->psvRho.fill(0);
  v = SedfitSlots(*st, 1.0, true);
  EXPECT_EQ(std::tuple(v[40], v[41], v[53]),
            std::tuple(st->meniscusMarked, st->bottomMarked, st->psv[1] * st->rho));
  EXPECT_GT(v[40] * v[53], 0);
}

}  // namespace
}  // namespace svfit::results
