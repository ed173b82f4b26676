// Molecular quantities against the textbook formulas, written out here in
// plain double arithmetic with the program's constants.
#include "results/molecular.h"

#include <gtest/gtest.h>

#include <cmath>

#include "report_fixture.h"

namespace svfit::results {
namespace {

using testing::kPi;
using testing::Sw;

constexpr double kR = 8.316e7;     // erg/(mol·K)
constexpr double kNA = 6.0247e23;  // 1/mol
constexpr double kT = 293.15;      // 20 °C
constexpr double kEta = 0.01002;   // poise

// 4.35 S, D = 6.1e-7 cm²/s, v̄ = 0.73 ml/g in water at 20 °C.
ComponentInput Component() {
  ComponentInput c;
  c.vbar = c.vrho = 0.73;
  c.D = 6.1e-7;
  c.sw = Sw(4.35);
  return c;
}

double Rel(Extended value, double expected) { return static_cast<double>(value) / expected - 1; }

TEST(MolecularQuantities, SvedbergEquationStokesRadiusAndFrictionRatio) {
  auto st = testing::MakeFittedState('C');  // 20.0 °C, 1.002 cP, ρ = 1
  const MolecularQuantities q = ComputeMolecularQuantities(*st, Component());
  const double s = 4.35e-13;
  const double M = kR * kT * s / (6.1e-7 * (1 - 0.73));
  EXPECT_NEAR(Rel(q.molarMass, M), 0, 1e-13);
  EXPECT_NEAR(M, 64387.0, 1.0);  // the figure of the golden reports
  const double rs = (kR / kNA) * kT / (6 * kPi * kEta * 6.1e-7);  // cm
  EXPECT_NEAR(Rel(q.stokesRadius, rs), 0, 1e-13);
  const double r0 = std::cbrt(3 * 0.73 * M / (4 * kPi * kNA));
  EXPECT_NEAR(Rel(q.anhydrousRadius, r0), 0, 1e-13);
  EXPECT_NEAR(Rel(q.frictionRatio, M * (1 - 0.73) / (kNA * s * 6 * kPi * kEta * r0)), 0, 1e-12);
  // With M from s and D the friction ratio is the ratio of the two radii.
  EXPECT_NEAR(Rel(q.frictionRatio, rs / r0), 0, 1e-12);
  EXPECT_NEAR(Rel(q.excludedVolume, 4 * (4 * kPi / 3) * rs * rs * rs * kNA / M / 1000), 0, 1e-12);
  EXPECT_NEAR(Rel(q.waterVolume, (4 * kPi / 3) * (rs * rs * rs - r0 * r0 * r0) * kNA / M), 0,
              1e-11);
}

TEST(MolecularQuantities, StandardDeviationOfTheMolarMass) {
  auto st = testing::MakeFittedState('C');
  ComponentInput c = Component();
  const double K = kR * kT / 6.1e-7 / (1 - 0.73) / testing::kOmega2;  // M = K·sw
  c.sdSw = Sw(0.012);  // D fixed: only the deviation of s counts
  EXPECT_NEAR(Rel(ComputeMolecularQuantities(*st, c).sdMolarMass, K * Sw(0.012)), 0, 1e-13);
  c.sdD = 2.3e-9;  // both fitted: relative deviations add in quadrature
  EXPECT_NEAR(Rel(ComputeMolecularQuantities(*st, c).sdMolarMass,
                  K * c.sw * std::hypot(0.012 / 4.35, 2.3e-9 / 6.1e-7)),
              0, 1e-12);
  c.tied = true;  // D follows from a given molar mass: no deviation
  EXPECT_EQ(ComputeMolecularQuantities(*st, c).sdMolarMass, 0);
}

}  // namespace
}  // namespace svfit::results
