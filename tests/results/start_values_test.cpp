// Start values on step-shaped series whose plateau and boundary radii are known.
#include "results/start_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace svfit::results {
namespace {

constexpr int kPoints = 600;
constexpr double kMeniscus = 5.95;  // [cm]

double Radius(int j) { return 6.0 + 1.2 * (j - 1) / (kPoints - 1); }  // 6.0 .. 7.2 cm

// Scan s: 0 below its boundary radius boundary(s), `plateau` from there on,
// plus extra(s, j). Scans every 600 s at 42000 rpm.
std::unique_ptr<AnalysisState> StepSeries(int scans, double plateau,
                                          const std::function<double(int)>& boundary,
                                          const std::function<double(int, int)>& extra = nullptr,
                                          char letter = 'C') {
  auto st = std::make_unique<AnalysisState>();
  st->modelLetter = letter;
  st->scanCount = scans;
  st->seqFirst = 1;
  st->seqLast = scans;
  st->omega2First = std::pow(M_PI * 42000 / 30, 2);
  st->temperature = 20;
  st->meniscusMarked = kMeniscus;
  st->bottomMarked = 7.25;
  for (int s = 1; s <= scans; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = kPoints;
    st->scanFirstPoint[s] = 1;
    st->scanLastPoint[s] = kPoints;
    st->scanTime[s] = 600.0 * s;
    st->scanOmega2[s] = 1;
    for (int j = 1; j <= kPoints; ++j) {
      st->scanRadius[s][j] = Radius(j);
      st->scanValue[s][j] =
          (Radius(j) >= boundary(s) ? plateau : 0.0) + (extra ? extra(s, j) : 0.0);
    }
  }
  for (int k = 1; k <= 4; ++k) st->param[k + 8] = 0.5;  // values that must stay
  return st;
}

// The first grid radius at or beyond r.
double GridRadius(double r) {
  for (int j = 1; j <= kPoints; ++j)
    if (Radius(j) >= r) return Radius(j);
  return Radius(kPoints);
}

double Svedberg(const AnalysisState& st) { return 1e-13 * st.omega2First; }

void ExpectSedimentation(const AnalysisState& st, double expected) {
  EXPECT_NEAR(st.param[2], expected, 1e-12 * expected);
}

// A boundary moving out from the meniscus at 5 S.
double Boundary5S(int s) {
  return kMeniscus * std::exp(5e-13 * std::pow(M_PI * 42000 / 30, 2) * 600.0 * s);
}

TEST(StartValues, PlateauAndBoundaryOfAStepSeries) {
  auto st = StepSeries(10, 0.8, Boundary5S);
  st->param[6] = 0.3;
  EstimateStartValues(*st, 5);
  EXPECT_NEAR(st->param[1], 0.8, 1e-3);  // a cubic through a flat plateau
  // Middle scan 10/2 + 1 = 6: the first point at half the plateau.
  ExpectSedimentation(*st, std::log(GridRadius(Boundary5S(6)) / kMeniscus) / 3600.0);
  EXPECT_NEAR(st->param[2] / Svedberg(*st), 5.0, 0.1);
  EXPECT_EQ(st->param[3], 0.0);
  EXPECT_EQ(st->param[4], kMeniscus);
  EXPECT_EQ(st->param[6], 0.0);   // cleared for every model
  EXPECT_GT(st->param[5], 1e-7);  // D [cm²/s] in the D position of model C
  EXPECT_LT(st->param[5], 1e-6);
  EXPECT_EQ(st->param[9], 0.5);  // later components keep their values
  EXPECT_EQ(st->displayOffset, 0.0);
}

TEST(StartValues, FewScansTakeThePlateauFromScanOneAndTheBoundaryFromTheLast) {
  auto st = StepSeries(3, 0.6, Boundary5S, [](int s, int j) {
    return (s == 1 && Radius(j) >= Boundary5S(1)) ? 0.4 : 0.0;  // scan 1 stands at 1.0
  });
  EstimateStartValues(*st, 5);
  EXPECT_NEAR(st->param[1], 1.0, 1e-3);
  // Scan 3 reaches half of 1.0 only at its own boundary (0.6 >= 0.5).
  ExpectSedimentation(*st, std::log(GridRadius(Boundary5S(3)) / kMeniscus) / 1800.0);
}

TEST(StartValues, BoundaryAwayFromTheMeniscusMovesToTheLastScanWithALowerThreshold) {
  // Every scan is at 0.5 of the plateau from its first point; the full plateau
  // lies beyond the boundary. Point 1 of the middle scan (0.4) is above
  // half/1.5 = 0.267: the last scan is searched for 0.8/1.5 = 0.533.
  auto st = StepSeries(10, 0.4, Boundary5S, [](int, int) { return 0.4; });
  EstimateStartValues(*st, 5);
  EXPECT_NEAR(st->param[1], 0.8, 1e-3);  // a cubic through a flat plateau
  ExpectSedimentation(*st, std::log(GridRadius(Boundary5S(10)) / kMeniscus) / 6000.0);
}

TEST(StartValues, SlowBoundariesGetTheSedimentationFloors) {
  // Every scan is at the plateau from its first point (6.0 cm): the last scan
  // (6000 s) is searched, and its boundary is at 6.0 cm. The meniscus is placed
  // for 0.1 S, then for 0.2 S.
  auto st = StepSeries(10, 0.8, [](int) { return 6.0; });
  st->meniscusMarked = 6.0 * std::exp(-0.1 * Svedberg(*st) * 6000.0);
  EstimateStartValues(*st, 5);
  EXPECT_DOUBLE_EQ(st->param[2], 0.16 * Svedberg(*st));
  st->meniscusMarked = 6.0 * std::exp(-0.2 * Svedberg(*st) * 6000.0);
  EstimateStartValues(*st, 5);
  EXPECT_DOUBLE_EQ(st->param[2], 0.3 * Svedberg(*st));
  st->meniscusMarked = 6.0 * std::exp(-0.4 * Svedberg(*st) * 6000.0);
  EstimateStartValues(*st, 5);
  EXPECT_NEAR(st->param[2], 0.4 * Svedberg(*st), 1e-12 * Svedberg(*st));
}

TEST(StartValues, BoundarySearchStopsAtTheLastUsedPoint) {
  // The middle scan never reaches half the plateau.
  auto st = StepSeries(10, 0.8, [](int s) { return s == 6 ? 99.0 : Boundary5S(s); });
  st->scanLastPoint[6] = 500;
  EstimateStartValues(*st, 5);
  ExpectSedimentation(*st, std::log(Radius(500) / kMeniscus) / 3600.0);
}

TEST(StartValues, NegativePlateauEndsAtZero) {
  auto st = StepSeries(10, -0.3, Boundary5S);
  EstimateStartValues(*st, 5);
  EXPECT_EQ(st->param[1], 0.0);
  EXPECT_GE(st->param[2], 0.16 * Svedberg(*st));
}

TEST(StartValues, TiModeLeavesTheScansAsTheyWereAndSeesThroughTheProfile) {
  auto profile = [](int, int j) { return 0.05 * std::sin(0.03 * j) + 0.0001 * (j % 11); };
  auto clean = StepSeries(10, 0.8, Boundary5S);
  auto st = StepSeries(10, 0.8, Boundary5S, profile);
  st->tiNoiseOn = true;
  auto before = StepSeries(10, 0.8, Boundary5S, profile);
  EstimateStartValues(*clean, 5);
  EstimateStartValues(*st, 5);
  for (int s = 1; s <= 10; ++s)
    for (int j = 1; j <= kPoints; ++j)
      ASSERT_EQ(st->scanValue[s][j], before->scanValue[s][j]) << s << " " << j;
  EXPECT_EQ(st->param[2], clean->param[2]);
  EXPECT_NEAR(st->param[1], 0.8, 0.06);  // plateau plus the mean of the profile
}

TEST(StartValues, ModelFamiliesSetBaseLineAndBottom) {
  // S: point 1 of the last scan is above 0, so the base line is point 1 of the middle scan.
  auto st = StepSeries(
      10, 0.8, Boundary5S, [](int, int) { return 0.05; }, 'S');
  EstimateStartValues(*st, 6);
  EXPECT_DOUBLE_EQ(st->param[3], 0.05);
  EXPECT_EQ(st->param[5], 0.0);
  EXPECT_GT(st->param[6], 0.0);
  EXPECT_NEAR(st->param[1] + st->param[3], std::max(0.85, 2.5 * 0.85),
              1e-9);  // plateau from the point

  st = StepSeries(10, 0.8, Boundary5S, nullptr, 'N');
  EstimateStartValues(*st, 7);
  EXPECT_EQ(st->param[5], 7.25);
  EXPECT_EQ(st->param[3], 0.0);
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

TEST(StartValues, DiffusionFollowsTheInverseRootOfTheSedimentation) {
  auto slow = StepSeries(10, 0.8, Boundary5S);
  auto fast = StepSeries(10, 0.8, [](int s) {
    return kMeniscus * std::exp(20e-13 * std::pow(M_PI * 42000 / 30, 2) * 600.0 * s);
  });
  EstimateStartValues(*slow, 5);
  EstimateStartValues(*fast, 5);
  EXPECT_NEAR(slow->param[5] * std::sqrt(slow->param[2]),
              fast->param[5] * std::sqrt(fast->param[2]),
              1e-12 * slow->param[5] * std::sqrt(slow->param[2]));
  // A 5 S sphere in water at 20 °C diffuses with a few 1e-7 cm²/s.
  EXPECT_GT(slow->param[5], 2e-7);
  EXPECT_LT(slow->param[5], 8e-7);
  // Warmer water is less viscous: the same s gives a larger D, by more than
  // the absolute temperature alone (η^(−3/2) at 4 °C against 20 °C).
  auto cold = StepSeries(10, 0.8, Boundary5S);
  cold->temperature = 4;
  EstimateStartValues(*cold, 5);
  const double ratio = slow->param[5] / cold->param[5];
  const double viscosityRatio = WaterFluidity(20) / WaterFluidity(4);
  EXPECT_NEAR(ratio, 293.15 / 277.15 * std::pow(viscosityRatio, 1.5), 1e-9 * ratio);
}

TEST(WaterFluidity, MatchesTheViscosityOfWater) {
  // Viscosity of water [cP] at 5, 10, 20, 25, 30 and 40 °C.
  const double table[][2] = {{5, 1.519},  {10, 1.307}, {20, 1.002},
                             {25, 0.890}, {30, 0.797}, {40, 0.653}};
  for (const auto& row : table) EXPECT_NEAR(WaterFluidity(row[0]) * row[1], 1.0, 0.01) << row[0];
}

}  // namespace
}  // namespace svfit::results
