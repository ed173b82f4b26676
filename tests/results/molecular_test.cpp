// Molecular quantities against the textbook formulas, written out here in
// plain double arithmetic with the program's constants.
#include <gtest/gtest.h>

#include <cmath>

#include "report_fixture.h"
#include "results/molecular.h"

namespace svfit::results {
namespace {

using testing::kOmega2;
using testing::kPi;
using testing::Sw;

constexpr double kR = 8.316e7;      // erg/(mol·K)
constexpr double kNA = 6.0247e23;   // 1/mol
constexpr double kT = 293.15;       // 20 °C
constexpr double kEtaPoise = 0.01002;

struct Case {
  std::unique_ptr<AnalysisState> st = testing::MakeFittedState('C');
  ComponentInput c;
  Case() {
    st->temperature = 20.0;
    st->viscosity = 1.002;  // cP
    st->rho = 1.0;
    c.vbar = 0.73;
    c.vrho = 0.73;
    c.D = 6.1e-7;
    c.sw = Sw(4.35);
  }
};

TEST(MolecularQuantities, SvedbergEquationStokesRadiusAndFrictionRatio) {
  Case k;
  const MolecularQuantities q = ComputeMolecularQuantities(*k.st, k.c);
  const double s = 4.35e-13;
  const double M = kR * kT * s / (6.1e-7 * (1 - 0.73));
  EXPECT_NEAR(static_cast<double>(q.molarMass) / M, 1.0, 1e-13);
  EXPECT_NEAR(M, 64387.0, 1.0);  // the figure of the golden reports

  const double rs = (kR / kNA) * kT / (6 * kPi * kEtaPoise * 6.1e-7);  // cm
  EXPECT_NEAR(static_cast<double>(q.stokesRadius) / rs, 1.0, 1e-13);

  const double r0 = std::cbrt(3 * 0.73 * M / (4 * kPi * kNA));
  EXPECT_NEAR(static_cast<double>(q.anhydrousRadius) / r0, 1.0, 1e-13);
  const double f = M * (1 - 0.73) / (kNA * s * 6 * kPi * kEtaPoise * r0);
  EXPECT_NEAR(static_cast<double>(q.frictionRatio) / f, 1.0, 1e-12);
  // With M from s and D the friction ratio is the ratio of the two radii.
  EXPECT_NEAR(static_cast<double>(q.frictionRatio) / (rs / r0), 1.0, 1e-12);

  const double vex = 4 * (4 * kPi / 3) * rs * rs * rs * kNA / M / 1000;  // l/g
  EXPECT_NEAR(static_cast<double>(q.excludedVolume) / vex, 1.0, 1e-12);
  const double water = (4 * kPi / 3) * (rs * rs * rs - r0 * r0 * r0) * kNA / M;  // ml/g
  EXPECT_NEAR(static_cast<double>(q.waterVolume) / water, 1.0, 1e-11);
}

TEST(MolecularQuantities, StandardDeviationOfTheMolarMass) {
  Case k;
  const double K = kR * kT / 6.1e-7 / (1 - 0.73) / kOmega2;
  // D fixed: only the deviation of s counts.
  k.c.sdSw = Sw(0.012);
  k.c.sdD = 0;
  EXPECT_NEAR(static_cast<double>(ComputeMolecularQuantities(*k.st, k.c).sdMolarMass) /
                  (K * Sw(0.012)),
              1.0, 1e-13);
  // Both fitted: relative deviations add in quadrature.
  k.c.sdD = 2.3e-9;
  const double both = K * k.c.sw * std::hypot(0.012 / 4.35, 2.3e-9 / 6.1e-7);
  EXPECT_NEAR(static_cast<double>(ComputeMolecularQuantities(*k.st, k.c).sdMolarMass) / both,
              1.0, 1e-12);
  // D tied to a given molar mass: no deviation.
  k.c.tied = true;
  EXPECT_EQ(ComputeMolecularQuantities(*k.st, k.c).sdMolarMass, 0);
}

}  // namespace
}  // namespace svfit::results
