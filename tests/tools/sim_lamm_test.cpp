// The Lamm equation solver against what the physics fixes exactly: the amount
// of material, the radial dilution of the plateau, the second-moment boundary
// position, the sedimentation equilibrium, and its own convergence claim.
#include "sim/lamm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace svfit::sim {
namespace {

// A protein run: s 4.4 S, D 6e-7 cm²/s at 42000 rpm in a 5.95–7.2 cm column.
Experiment proteinRun(double accelerationTime = 0) {
  Experiment run;
  run.meniscus = 5.95;
  run.bottom = 7.2;
  run.rpm = 42000;
  run.accelerationTime = accelerationTime;
  run.components = {{4.4, 6e-7, 0.8}};
  return run;
}

std::vector<double> everyFewMinutes(int count, double first = 300, double interval = 240) {
  std::vector<double> t;
  for (int i = 0; i < count; ++i) t.push_back(first + interval * i);
  return t;
}

// n + 1 radii from a to b inclusive.
std::vector<double> radiiFromTo(double a, double b, int n) {
  std::vector<double> r;
  for (int k = 0; k <= n; ++k) r.push_back(a + (b - a) * k / n);
  r.back() = b;
  return r;
}

// ∫ c·r dr by Simpson's rule over radii equally spaced, an even number of intervals.
double amount(const std::vector<double>& r, const std::vector<double>& c) {
  const std::size_t n = r.size() - 1;
  const double h = (r.back() - r.front()) / static_cast<double>(n);
  double sum = c[0] * r[0] + c[n] * r[n];
  for (std::size_t k = 1; k < n; ++k) sum += (k % 2 ? 4 : 2) * c[k] * r[k];
  return sum * h / 3;
}

TEST(SvedbergEquation, DiffusionAndMolarMassAreInverse) {
  // 66 kDa, v̄ 0.73 ml/g in water at 20 °C: D = s·R·T/(M·(1 − v̄ρ)).
  const double D = diffusionFromMolarMass(4.4, 66000, 0.73, 1.0, 20.0);
  EXPECT_NEAR(D, 4.4e-13 * 8.314e7 * 293.15 / (66000 * (1 - 0.73)), 1e-15);
  EXPECT_NEAR(D, 6.018e-7, 0.001e-7);
  EXPECT_NEAR(molarMassFromDiffusion(4.4, D, 0.73, 1.0, 20.0), 66000, 1e-6);
  // Denser solvent: less buoyant mass, so a larger D for the same s and M.
  EXPECT_GT(diffusionFromMolarMass(4.4, 66000, 0.73, 1.1, 20.0), D);
}

TEST(RotorSpeed, Omega2tIntegralOfALinearRamp) {
  const Experiment steady = proteinRun();
  const double w2 = std::pow(std::numbers::pi * 42000 / 30, 2);
  EXPECT_NEAR(omega2FromRpm(42000), w2, 1e-6);
  EXPECT_NEAR(omega2tIntegral(steady, 3600), w2 * 3600, 1e-3);

  // With a ramp the integral must agree with a numerical integral of
  // (π·rpm(t)/30)², rpm rising linearly for 240 s, on both sides of its end.
  const Experiment ramp = proteinRun(240);
  for (double t : {100.0, 240.0, 1000.0}) {
    const int steps = 200000;
    double sum = 0;
    for (int k = 0; k < steps; ++k) {
      const double tk = (k + 0.5) * t / steps;
      const double rpm = 42000 * std::min(1.0, tk / 240);
      sum += std::pow(std::numbers::pi * rpm / 30, 2) * t / steps;
    }
    EXPECT_NEAR(omega2tIntegral(ramp, t) / sum, 1.0, 1e-8) << "t " << t;
  }
  // After the ramp the integral lags the steady one by ω²·t_a·2/3.
  EXPECT_NEAR(omega2tIntegral(steady, 1000) - omega2tIntegral(ramp, 1000), w2 * 160, 1e-2);
}

TEST(LammConservation, AmountInTheCellStaysConstant) {
  // Two components with an acceleration phase, 30 scans to a late bottom
  // pile-up: ∫c·r·dr over the column stays c0·(r_b² − r_m²)/2.
  Experiment run = proteinRun(200);
  run.components = {{4.4, 6e-7, 0.5}, {9.0, 4e-7, 0.3}};
  const std::vector<double> r = radiiFromTo(run.meniscus, run.bottom, 5000);
  // The scheme conserves at any resolution; a loose tolerance keeps the test quick.
  const Profiles p = solveLamm(run, everyFewMinutes(30), r, 0, 1e-4);
  ASSERT_TRUE(p.converged) << p.errorEstimate;
  const double loaded = 0.8 * (run.bottom * run.bottom - run.meniscus * run.meniscus) / 2;
  for (std::size_t i = 0; i < p.c.size(); ++i)
    EXPECT_NEAR(amount(r, p.c[i]) / loaded, 1.0, 1e-6) << "scan " << i;
  // The last scan holds a pile-up far above the loading at the bottom.
  EXPECT_GT(p.c.back().back(), 20.0);
}

struct PlateauCase {
  double s, D, rpm, accelerationTime;
};

class LammPlateau : public ::testing::TestWithParam<PlateauCase> {};

// Away from both walls dc/dr = 0 and the Lamm equation leaves
// dc/dt = −2·s·ω²·c: the plateau dilutes as c0·exp(−2·s·∫ω²dt), for floating
// material (s < 0) it concentrates.
TEST_P(LammPlateau, DilutesRadially) {
  const PlateauCase k = GetParam();
  Experiment run = proteinRun(k.accelerationTime);
  run.rpm = k.rpm;
  run.components = {{k.s, k.D, 1.0}};
  const std::vector<double> times = {600, 1200, 2400};
  const std::vector<double> r = {6.75, 6.8, 6.85};
  const Profiles p = solveLamm(run, times, r);
  for (std::size_t i = 0; i < times.size(); ++i) {
    const double expected = std::exp(-2 * k.s * 1e-13 * omega2tIntegral(run, times[i]));
    for (double c : p.c[i]) EXPECT_NEAR(c, expected, 1e-5) << "t " << times[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Components, LammPlateau,
                         ::testing::Values(PlateauCase{4.4, 6e-7, 42000, 0},
                                           PlateauCase{4.4, 6e-7, 42000, 300},
                                           PlateauCase{11.0, 3e-7, 50000, 0},
                                           PlateauCase{-3.0, 4e-7, 42000, 0}),
                         [](const ::testing::TestParamInfo<PlateauCase>& param) {
                           const PlateauCase& k = param.param;
                           if (k.s < 0) return std::string("Floating");
                           if (k.accelerationTime > 0) return std::string("AfterARamp");
                           return k.s > 10 ? std::string("Fast") : std::string("Protein");
                         });

TEST(LammBoundary, SecondMomentMovesAsMeniscusTimesExpSOmega2t) {
  // r̄² = r_p² − (2/c_p)·∫_{r_m}^{r_p} c·r dr with r_p in the plateau;
  // r̄ = r_m·exp(s·∫ω²dt) holds exactly for the Lamm equation, diffusion included.
  const Experiment run = proteinRun(150);
  const double rp = 6.9;
  const std::vector<double> r = radiiFromTo(run.meniscus, rp, 3000);
  const std::vector<double> times = {900, 2400, 4800};
  const Profiles p = solveLamm(run, times, r, 0, 1e-4);
  for (std::size_t i = 0; i < times.size(); ++i) {
    const double cp = p.c[i].back();
    const double rbar = std::sqrt(rp * rp - 2 / cp * amount(r, p.c[i]));
    const double expected = run.meniscus * std::exp(4.4e-13 * omega2tIntegral(run, times[i]));
    EXPECT_NEAR(rbar, expected, 2e-5) << "t " << times[i];
  }
}

TEST(LammEquilibrium, LongRunReachesTheBoltzmannProfile) {
  // A 3 mm column at 12000 rpm, long after the boundary has gone:
  // c ∝ exp(M(1 − v̄ρ)ω²(r² − r_m²)/(2RT)), normalised to the loaded amount.
  Experiment run;
  run.meniscus = 6.9;
  run.bottom = 7.2;
  run.rpm = 12000;
  const double M = 45000, vbar = 0.73, rho = 1.0, temperature = 20.0;
  const double s = 3.5;
  run.components = {{s, diffusionFromMolarMass(s, M, vbar, rho, temperature), 1.0}};
  const std::vector<double> r = radiiFromTo(run.meniscus, run.bottom, 30);
  const Profiles p = solveLamm(run, std::vector<double>{1.0e6}, r);
  const double a = M * (1 - vbar * rho) * omega2FromRpm(run.rpm) /
                   (2 * kGasConstant * (temperature + 273.15));  // [1/cm²]
  const double span = run.bottom * run.bottom - run.meniscus * run.meniscus;
  const double norm = a * span / std::expm1(a * span);
  for (std::size_t j = 0; j < r.size(); ++j) {
    const double expected =
        norm * std::exp(a * (r[j] * r[j] - run.meniscus * run.meniscus));
    EXPECT_NEAR(p.c[0][j], expected, 1e-5) << "r " << r[j];
  }
  EXPECT_GT(p.c[0].back() / p.c[0].front(), 3.0);  // a real gradient, not a flat line
}

TEST(LammConvergence, EstimateBoundsTheDistanceToAFinerSolution) {
  const Experiment run = proteinRun();
  const std::vector<double> times = everyFewMinutes(6, 300, 600);
  const std::vector<double> r = radiiFromTo(5.9, 7.25, 450);
  const Profiles reference = solveLamm(run, times, r, 0, 1e-7);
  for (double tolerance : {1e-3, 1e-5}) {
    const Profiles p = solveLamm(run, times, r, 0, tolerance);
    EXPECT_TRUE(p.converged);
    EXPECT_LE(p.errorEstimate, tolerance);
    double worst = 0;
    for (std::size_t i = 0; i < times.size(); ++i)
      for (std::size_t j = 0; j < r.size(); ++j)
        worst = std::max(worst, std::abs(p.c[i][j] - reference.c[i][j]) /
                                    std::max(0.8, std::abs(reference.c[i][j])));
    EXPECT_LE(worst, tolerance) << "tolerance " << tolerance;
    EXPECT_LE(p.cells, reference.cells);
  }
}

TEST(LammScanningDelay, EachPointIsTakenWhenTheSlitPassesIt) {
  // With 40 s/cm the point at r belongs to time t + 40·(r − r_0): it must equal
  // a snapshot taken at that moment. Radii outside the column read 0.
  const Experiment run = proteinRun();
  const std::vector<double> r = {5.9, 6.05, 6.1, 6.15, 6.5, 7.1, 7.3};
  const Profiles slit = solveLamm(run, std::vector<double>{2900}, r, 40.0);
  for (std::size_t j = 1; j + 1 < r.size(); ++j) {
    const double t = 2900 + 40.0 * (r[j] - r[0]);
    const Profiles snap = solveLamm(run, std::vector<double>{t}, std::vector<double>{r[j]});
    EXPECT_NEAR(slit.c[0][j], snap.c[0][0], 2e-5) << "r " << r[j];
  }
  EXPECT_EQ(slit.c[0].front(), 0.0);
  EXPECT_EQ(slit.c[0].back(), 0.0);
  // The delay matters: the boundary, now at 6.1 cm, has moved on in 8 s.
  const Profiles still = solveLamm(run, std::vector<double>{2900}, r);
  EXPECT_GT(std::abs(still.c[0][2] - slit.c[0][2]), 1e-3);
}

TEST(LammInput, ImpossibleRunsAreRefused) {
  const std::vector<double> t = {600}, r = {6.5};
  Experiment run = proteinRun();
  run.bottom = run.meniscus;
  EXPECT_THROW(solveLamm(run, t, r), std::invalid_argument);
  run = proteinRun();
  run.components[0].D = 0;
  EXPECT_THROW(solveLamm(run, t, r), std::invalid_argument);
  run = proteinRun();
  run.components.assign(5, {4.4, 6e-7, 0.1});
  EXPECT_THROW(solveLamm(run, t, r), std::invalid_argument);
  run.components.clear();
  EXPECT_THROW(solveLamm(run, t, r), std::invalid_argument);
  EXPECT_THROW(solveLamm(proteinRun(), std::vector<double>{-1}, r), std::invalid_argument);
  EXPECT_THROW(solveLamm(proteinRun(), t, r, -5.0), std::invalid_argument);
}

TEST(LammInput, NonSedimentingMaterialStaysUniform) {
  Experiment run = proteinRun();
  run.components = {{0.0, 1e-6, 0.7}};
  const std::vector<double> r = radiiFromTo(run.meniscus, run.bottom, 20);
  const Profiles p = solveLamm(run, std::vector<double>{0, 5000}, r);
  for (const auto& scan : p.c)
    for (double c : scan) EXPECT_NEAR(c, 0.7, 1e-12);
}

}  // namespace
}  // namespace svfit::sim
