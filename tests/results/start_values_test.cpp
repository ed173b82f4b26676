// Preparing the fit of a loaded series: start values on step-shaped series
// whose plateau and boundary radii are known, and the common near-bottom
// radius and maximal absorbance cut with the counts derived from the used
// points.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "results/max_absorbance.h"
#include "results/start_values.h"

namespace svfit::results {
namespace {

constexpr int kPoints = 600;
constexpr double kMeniscus = 5.95;                                    // [cm]
const double kOmega2 = std::pow(M_PI * 42000 / 30, 2);                // 42000 rpm [rad²/s²]
const double kSvedberg = 1e-13 * kOmega2;                             // 1 S as s·ω² [1/s]
double Radius(int j) { return 6.0 + 1.2 * (j - 1) / (kPoints - 1); }  // 6.0 .. 7.2 cm
// The first grid radius at or beyond r.
double GridRadius(double r) {
  int j = 1;
  while (j < kPoints && Radius(j) < r) ++j;
  return Radius(j);
}
// A boundary leaving the meniscus at `svedberg`, at the time of scan s (600 s apart).
double Boundary(double svedberg, int s) {
  return kMeniscus * std::exp(svedberg * kSvedberg * 600.0 * s);
}
double Boundary5S(int s) { return Boundary(5, s); }
// s·ω² = ln(r_b/r_m)/t of a boundary at r_b at time t [s].
void ExpectSedimentation(const AnalysisState& st, double rb, double t) {
  const double expected = std::log(rb / kMeniscus) / t;
  EXPECT_NEAR(st.param[2], expected, 1e-12 * expected);
}

// Scan s is 0 below its boundary radius boundary(s) and `plateau` from there
// on, plus extra(s, j).
std::unique_ptr<AnalysisState> StepSeries(int scans, double plateau,
                                          const std::function<double(int)>& boundary,
                                          const std::function<double(int, int)>& extra = {},
                                          char letter = 'C') {
  auto st = std::make_unique<AnalysisState>();
  st->modelLetter = letter;
  st->scanCount = st->seqLast = scans;
  st->omega2First = kOmega2;
  st->temperature = 20;
  st->meniscusMarked = kMeniscus;
  st->bottomMarked = 7.25;
  for (int s = 1; s <= scans; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = st->scanLastPoint[s] = kPoints;
    st->scanTime[s] = 600.0 * s;
    for (int j = 1; j <= kPoints; ++j) {
      st->scanRadius[s][j] = Radius(j);
      st->scanValue[s][j] =
          (Radius(j) >= boundary(s) ? plateau : 0.0) + (extra ? extra(s, j) : 0.0);
    }
  }
  for (int k = 9; k <= 12; ++k) st->param[k] = 0.5;  // later components: must stay
  return st;
}

TEST(StartValues, PlateauBoundaryAndDiffusionOfAStepSeries) {
  auto st = StepSeries(10, 0.8, Boundary5S);
  st->param[6] = 0.3;
  EstimateStartValues(*st, 5);
  EXPECT_NEAR(st->param[1], 0.8, 1e-3);  // a cubic through a flat plateau
  // Middle scan 10/2 + 1 = 6: the first point at half the plateau.
  ExpectSedimentation(*st, GridRadius(Boundary5S(6)), 3600.0);
  EXPECT_NEAR(st->param[2] / kSvedberg, 5.0, 0.1);
  EXPECT_EQ(st->param[3], 0.0);
  EXPECT_EQ(st->param[4], kMeniscus);
  EXPECT_EQ(st->param[6], 0.0);  // cleared for every model
  EXPECT_EQ(st->param[9], 0.5);
  EXPECT_EQ(st->displayOffset, 0.0);
  // D of a sphere: a few 1e-7 cm²/s at 5 S, ∝ 1/√s, and ∝ T·η^(−3/2) with
  // the viscosity of water at the run's temperature.
  EXPECT_GT(st->param[5], 2e-7);
  EXPECT_LT(st->param[5], 8e-7);
  auto fast = StepSeries(10, 0.8, [](int s) { return Boundary(20, s); });
  EstimateStartValues(*fast, 5);
  EXPECT_NEAR(fast->param[5] / st->param[5], std::sqrt(st->param[2] / fast->param[2]), 1e-12);
  auto cold = StepSeries(10, 0.8, Boundary5S);
  cold->temperature = 4;
  EstimateStartValues(*cold, 5);
  EXPECT_NEAR(st->param[5] / cold->param[5],
              293.15 / 277.15 * std::pow(WaterFluidity(20) / WaterFluidity(4), 1.5), 1e-9);
}

TEST(StartValues, WhichScanIsSearchedForTheBoundary) {
  // Three scans: the plateau from scan 1 (1.0 here), the boundary from scan 3.
  auto few = StepSeries(3, 0.6, Boundary5S, [](int s, int j) {
    return s == 1 && Radius(j) >= Boundary5S(1) ? 0.4 : 0.0;
  });
  EstimateStartValues(*few, 5);
  EXPECT_NEAR(few->param[1], 1.0, 1e-3);
  ExpectSedimentation(*few, GridRadius(Boundary5S(3)), 1800.0);
  // Point 1 of the middle scan (0.4 of 0.8) is above half/1.5: the boundary
  // has left the meniscus, and the last scan is searched for 0.8/1.5.
  auto away = StepSeries(10, 0.4, Boundary5S, [](int, int) { return 0.4; });
  EstimateStartValues(*away, 5);
  ExpectSedimentation(*away, GridRadius(Boundary5S(10)), 6000.0);
  // A middle scan that never reaches half the plateau: its last used point.
  auto never = StepSeries(10, 0.8, [](int s) { return s == 6 ? 99.0 : Boundary5S(s); });
  never->scanLastPoint[6] = 500;
  EstimateStartValues(*never, 5);
  ExpectSedimentation(*never, Radius(500), 3600.0);
}

TEST(StartValues, SlowBoundariesGetTheFloorsAndANegativePlateauEndsAtZero) {
  // Every scan at the plateau from 6.0 cm; the meniscus placed for 0.1, 0.2
  // and 0.4 S at the last scan (6000 s).
  auto st = StepSeries(10, 0.8, [](int) { return 6.0; });
  for (const auto& [s, expected] : {std::pair{0.1, 0.16}, {0.2, 0.3}, {0.4, 0.4}}) {
    st->meniscusMarked = 6.0 * std::exp(-s * kSvedberg * 6000.0);
    EstimateStartValues(*st, 5);
    EXPECT_NEAR(st->param[2] / kSvedberg, expected, 1e-12) << s;
  }
  auto negative = StepSeries(10, -0.3, Boundary5S);
  EstimateStartValues(*negative, 5);
  EXPECT_EQ(negative->param[1], 0.0);
}

TEST(StartValues, WhenTheEstimateFailsPlateauAndSComeFromTheStepInTheData) {
  // Scans after the first sit 2 units lower: the plateau of scan 2 comes out
  // negative. The middle scan (6) still steps up by 0.8 at its boundary; under
  // TI noise elimination the first scan (all plateau, same pattern) is taken off.
  const auto pattern = [](int j) { return 0.3 * std::sin(0.02 * j); };
  for (const bool ti : {false, true}) {
    SCOPED_TRACE(ti);
    auto st = StepSeries(10, 0.8, Boundary5S, [&](int s, int j) {
      return (s >= 2 ? -2.0 : 0.0) + (ti ? pattern(j) : 0.0);
    });
    st->tiNoiseOn = ti;
    EstimateStartValues(*st, 5);
    EXPECT_NEAR(st->param[1], 0.8, 1e-9);
    ExpectSedimentation(*st, GridRadius(Boundary5S(6)), 3600.0);
  }
}

TEST(StartValues, TiModeSeesThroughTheProfileAndLeavesTheScansAsTheyWere) {
  const auto profile = [](int, int j) { return 0.05 * std::sin(0.03 * j) + 0.0001 * (j % 11); };
  auto clean = StepSeries(10, 0.8, Boundary5S);
  auto st = StepSeries(10, 0.8, Boundary5S, profile);
  const auto before = StepSeries(10, 0.8, Boundary5S, profile);
  st->tiNoiseOn = true;
  EstimateStartValues(*clean, 5);
  EstimateStartValues(*st, 5);
  EXPECT_EQ(st->param[2], clean->param[2]);
  EXPECT_NEAR(st->param[1], 0.8, 0.06);  // plateau plus the mean of the profile
  for (int s = 1; s <= 10; ++s)
    for (int j = 1; j <= kPoints; ++j) ASSERT_EQ(st->scanValue[s][j], before->scanValue[s][j]);
}

TEST(StartValues, ModelFamiliesSetBaseLineAndBottom) {
  // S: the base line is point 1 of the middle scan. The plateau, raised to
  // 2.5 times the plateau point, is never reached by half in the middle scan:
  // plateau and s come from the step in the data instead.
  for (const char letter : {'S', 'H', 'P', 'R'}) {
    auto st = StepSeries(
        10, 0.8, Boundary5S, [](int, int) { return 0.05; }, letter);
    const int d = letter == 'S' ? 6 : letter == 'R' ? 7 : 5;  // where D goes
    EstimateStartValues(*st, d);
    EXPECT_DOUBLE_EQ(st->param[3], letter == 'S' || letter == 'H' ? 0.05 : 0.0) << letter;
    EXPECT_NEAR(st->param[1], 0.8, 1e-9) << letter;
    ExpectSedimentation(*st, GridRadius(Boundary5S(6)), 3600.0);
    EXPECT_GT(st->param[d], 0.0);
  }
  auto st = StepSeries(10, 0.8, Boundary5S, {}, 'S');
  EstimateStartValues(*st, 6);
  EXPECT_EQ(st->param[5], 0.0);
  st = StepSeries(10, 0.8, Boundary5S, {}, 'N');  // the bottom marked in the viewer
  EstimateStartValues(*st, 7);
  EXPECT_EQ(st->param[5], 7.25);
  EXPECT_GT(st->param[7], 0.0);
  // With the 3000 rpm contour subtracted the data offset becomes the base line.
  st = StepSeries(10, 0.8, Boundary5S);
  st->contourSubtraction = true;
  st->dataOffset = 0.25;
  EstimateStartValues(*st, 5);
  EXPECT_NEAR(st->param[1], 0.55, 1e-3);
  EXPECT_EQ(st->param[3], 0.25);
  EXPECT_EQ(st->displayOffset, 0.25);
}

TEST(WaterFluidity, MatchesTheViscosityOfWater) {
  // Viscosity of water [cP] at 5, 10, 20, 25, 30 and 40 °C.
  const double table[][2] = {{5, 1.519},  {10, 1.307}, {20, 1.002},
                             {25, 0.890}, {30, 0.797}, {40, 0.653}};
  for (const auto& row : table) EXPECT_NEAR(WaterFluidity(row[0]) * row[1], 1.0, 0.01) << row[0];
}

// Two scans of 50 points from 6.00 cm every 0.02 cm, value = radius − 6
// (0 .. 0.98); ends at 7.0 cm, no absorbance limit.
class MaxAbsorbance : public ::testing::Test {
 protected:
  AnalysisState st;
  void SetUp() override {
    st.scanCount = st.seqLast = 2;
    for (int s = 1; s <= 2; ++s) {
      for (int i = 1; i <= 50; ++i) {
        st.scanRadius[s][i] = 6.0 + 0.02 * (i - 1);
        st.scanValue[s][i] = 0.02 * (i - 1);
      }
      st.scanPointCount[s] = 50;
      st.scanLastPoint[s] = 30;
      st.scanSequence[s] = s;
    }
    st.nearBottomRadius = 7.0;
  }
  int CutAt(double aMax) {
    st.maxAbsorbance = aMax;
    SetCommonMaxAbsorbance(st, false);
    return st.scanLastPoint[1];
  }
};

TEST_F(MaxAbsorbance, CutAtTheRadiusThenAtTheLastNoiseCorrectedValueNotAboveTheLimit) {
  EXPECT_EQ(CutAt(0), 50);  // every loaded point back: 6.98 cm <= 7.0 cm
  st.bottomPoint[1] = 44;   // the cell bottom found at loading, when asked for, stays the end
  EXPECT_EQ(CutAt(0), 44);
  st.bottomPoint[1] = 0;
  st.nearBottomRadius = 6.5;
  EXPECT_EQ(CutAt(0), 26);  // 6.50 cm
  EXPECT_EQ(CutAt(5.0), 26);
  EXPECT_EQ(CutAt(0.5), 26);  // value 0.50
  // RI noise of the scan and TI noise of the index are taken off first.
  st.riNoise[2] = 0.1;
  CutAt(0.5);
  EXPECT_EQ(st.scanLastPoint[2], 26);  // the radius cut comes first
  st.nearBottomRadius = 7.0;
  CutAt(0.5);
  EXPECT_EQ(st.scanLastPoint[2], 31);  // 0.60 − 0.1
  st.tiNoise[28] = 0.1;
  EXPECT_EQ(CutAt(0.5), 26);  // 0.54 − 0.1 at index 28 is below, but 27 is not
  st.tiNoise[27] = 0.1;
  EXPECT_EQ(CutAt(0.5), 28);
  // Single low points inside the rise do not end it.
  for (int i = 1; i <= 50; ++i) st.scanValue[1][i] = i < 30 ? 0.1 : 0.9;
  st.scanValue[1][34] = st.scanValue[1][38] = 0.2;
  EXPECT_EQ(CutAt(0.5), 29);
  // A single noisy point above the limit just inside the cut is cut away too.
  st.scanValue[1][27] = 0.9;
  EXPECT_EQ(CutAt(0.5), 26);
  // The walk stops at the first used point.
  st.scanFirstPoint[1] = 5;
  for (int i = 1; i <= 50; ++i) st.scanValue[1][i] = 2.0;
  EXPECT_EQ(CutAt(0.5), 5);
}

TEST_F(MaxAbsorbance, CountsAndSumsOfTheUsedPointsAndTheLoadingRange) {
  st.scanFirstPoint[2] = 3;
  for (int i = 1; i <= 50; ++i) st.pointMultiplicity[1][i] = 1;  // stale marks must clear
  EXPECT_EQ(CutAt(0.3), 16);  // 0.02·(i − 1) <= 0.3 up to i = 16
  EXPECT_EQ(st.scanLastPoint[2], 16);
  EXPECT_EQ(st.maxPointCount, 16);
  EXPECT_EQ(st.maxPointScan, 1);
  EXPECT_EQ(st.pointMultiplicity[1][16], 1);
  EXPECT_EQ(st.pointMultiplicity[1][17] + st.pointMultiplicity[1][50], 0);
  EXPECT_EQ(st.pointScanCount[1], 2);  // scan 2 starts at point 3 but is marked from 1
  EXPECT_EQ(st.pointScanCount[16], 2);
  EXPECT_EQ(st.pointScanCount[17], 0);
  double sum = 0;  // Σv² over points 1..16 of scan 1 and 3..16 of scan 2
  for (int i = 1; i <= 16; ++i) sum += (i >= 3 ? 2 : 1) * (0.02 * (i - 1)) * (0.02 * (i - 1));
  EXPECT_NEAR(st.sumSqData, sum, 1e-12);
  EXPECT_EQ(st.pointTotal, 16 + 14);
  // At loading: only the used scans count, and their value range is kept.
  st.seqLast = 1;
  st.nearBottomRadius = 6.3;
  st.maxAbsorbance = 0;
  ApplyLoadingCut(st);
  EXPECT_EQ(st.scanLastPoint[1], 16);
  EXPECT_EQ(st.pointScanCount[1], 1);
  EXPECT_EQ(st.pointTotal, 16);
  EXPECT_DOUBLE_EQ(st.minValue, 0.0);
  EXPECT_NEAR(st.maxValue, 0.30, 1e-12);
  EXPECT_NEAR(st.origMaxValue, 0.30, 1e-12);
}

}  // namespace
}  // namespace svfit::results
