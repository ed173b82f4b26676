// The Lamm equation solver against what the physics fixes exactly: the amount
// of material, the radial dilution of the plateau, the second-moment boundary
// position, the sedimentation equilibrium, and its own convergence claim.
#include "sim/lamm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace svfit::sim {
namespace {

// A protein run: s 4.4 S, D 6e-7 cm²/s at 42000 rpm in a 5.95–7.2 cm column.
Experiment proteinRun(double accelerationTime = 0) {
  return {5.95, 7.2, 42000, accelerationTime, {{4.4, 6e-7, 0.8}}};
}

// n + 1 radii from a to b inclusive.
std::vector<double> radiiFromTo(double a, double b, int n) {
  std::vector<double> r;
  for (int k = 0; k <= n; ++k) r.push_back(k == n ? b : a + (b - a) * k / n);
  return r;
}

// ∫ c·r dr by Simpson's rule over radii equally spaced, an even number of intervals.
double amount(const std::vector<double>& r, const std::vector<double>& c) {
  const std::size_t n = r.size() - 1;
  double sum = c[0] * r[0] + c[n] * r[n];
  for (std::size_t k = 1; k < n; ++k) sum += (k % 2 ? 4 : 2) * c[k] * r[k];
  return sum * (r.back() - r.front()) / static_cast<double>(n) / 3;
}

TEST(RotorAndSvedberg, Omega2tIntegralOfALinearRampAndDFromM) {
  const double w2 = std::pow(std::numbers::pi * 42000 / 30, 2);
  EXPECT_NEAR(omega2FromRpm(42000), w2, 1e-6);
  EXPECT_NEAR(omega2tIntegral(proteinRun(), 3600), w2 * 3600, 1e-3);
  // With a 240 s ramp: a midpoint-rule integral of (π·rpm(t)/30)², on both
  // sides of the end of the ramp.
  const Experiment ramp = proteinRun(240);
  for (double t : {100.0, 240.0, 1000.0}) {
    double sum = 0;
    for (int k = 0; k < 100000; ++k) sum += std::pow(std::min(1.0, (k + 0.5) * t / 1e5 / 240), 2);
    EXPECT_NEAR(omega2tIntegral(ramp, t) / (w2 * sum * t / 1e5), 1.0, 1e-8) << "t " << t;
  }
  // D from M (checked by the equilibrium below) and back.
  const double D = diffusionFromMolarMass(4.4, 66000, 0.73, 1.0, 20.0);
  EXPECT_NEAR(molarMassFromDiffusion(4.4, D, 0.73, 1.0, 20.0), 66000, 1e-6);
}

TEST(LammConservation, AmountInTheCellStaysConstant) {
  // Two components with an acceleration phase, 30 scans to a late bottom
  // pile-up: ∫c·r·dr over the column stays c0·(r_b² − r_m²)/2.
  const Experiment run{5.95, 7.2, 42000, 200, {{4.4, 6e-7, 0.5}, {9.0, 4e-7, 0.3}}};
  const std::vector<double> r = radiiFromTo(run.meniscus, run.bottom, 5000);
  std::vector<double> times;
  for (int i = 0; i < 30; ++i) times.push_back(300 + 240 * i);
  // The scheme conserves at any resolution; a loose tolerance keeps the test quick.
  const Profiles p = solveLamm(run, times, r, 0, 1e-4);
  ASSERT_TRUE(p.converged) << p.errorEstimate;
  const double loaded = 0.8 * (run.bottom * run.bottom - run.meniscus * run.meniscus) / 2;
  for (std::size_t i = 0; i < p.c.size(); ++i)
    EXPECT_NEAR(amount(r, p.c[i]) / loaded, 1.0, 1e-6) << "scan " << i;
  EXPECT_GT(p.c.back().back(), 20.0);  // a pile-up far above the loading at the bottom
}

TEST(LammPlateau, DilutesRadially) {
  // Away from both walls dc/dr = 0 and the Lamm equation leaves
  // dc/dt = −2·s·ω²·c: the plateau dilutes as c0·exp(−2·s·∫ω²dt), floating
  // material (s < 0) concentrates. Protein, after a ramp, fast, floating:
  struct Case { double s, D, rpm, accelerationTime; };
  for (const Case k : {Case{4.4, 6e-7, 42000, 0}, Case{4.4, 6e-7, 42000, 300},
                       Case{11.0, 3e-7, 50000, 0}, Case{-3.0, 4e-7, 42000, 0}}) {
    const Experiment run{5.95, 7.2, k.rpm, k.accelerationTime, {{k.s, k.D, 1.0}}};
    const std::vector<double> times = {600, 1200, 2400};
    const Profiles p = solveLamm(run, times, std::vector<double>{6.75, 6.8, 6.85});
    for (std::size_t i = 0; i < times.size(); ++i) {
      const double expected = std::exp(-2 * k.s * 1e-13 * omega2tIntegral(run, times[i]));
      for (double c : p.c[i]) EXPECT_NEAR(c, expected, 1e-5) << "s " << k.s << " t " << times[i];
    }
  }
}

TEST(LammBoundary, SecondMomentMovesAsMeniscusTimesExpSOmega2t) {
  // r̄² = r_p² − (2/c_p)·∫_{r_m}^{r_p} c·r dr with r_p in the plateau;
  // r̄ = r_m·exp(s·∫ω²dt) holds exactly for the Lamm equation, diffusion included.
  const Experiment run = proteinRun(150);
  const double rp = 6.9;
  const std::vector<double> r = radiiFromTo(run.meniscus, rp, 3000);
  const std::vector<double> times = {900, 2400, 4800};
  const Profiles p = solveLamm(run, times, r, 0, 1e-4);
  for (std::size_t i = 0; i < times.size(); ++i) {
    const double rbar = std::sqrt(rp * rp - 2 / p.c[i].back() * amount(r, p.c[i]));
    const double expected = run.meniscus * std::exp(4.4e-13 * omega2tIntegral(run, times[i]));
    EXPECT_NEAR(rbar, expected, 2e-5) << "t " << times[i];
  }
}

TEST(LammEquilibrium, LongRunReachesTheBoltzmannProfile) {
  // A 3 mm column at 12000 rpm, long after the boundary has gone:
  // c ∝ exp(M(1 − v̄ρ)ω²(r² − r_m²)/(2RT)), normalised to the loaded amount.
  const double M = 45000, vbar = 0.73, temperature = 20.0;
  const Experiment run{6.9, 7.2, 12000, 0,
                       {{3.5, diffusionFromMolarMass(3.5, M, vbar, 1.0, temperature), 1.0}}};
  const std::vector<double> r = radiiFromTo(run.meniscus, run.bottom, 30);
  const Profiles p = solveLamm(run, std::vector<double>{1.0e6}, r);
  const double a = M * (1 - vbar) * omega2FromRpm(run.rpm) /
                   (2 * kGasConstant * (temperature + 273.15));  // [1/cm²]
  const double rm2 = run.meniscus * run.meniscus, span = run.bottom * run.bottom - rm2;
  const double norm = a * span / std::expm1(a * span);
  for (std::size_t j = 0; j < r.size(); ++j)
    EXPECT_NEAR(p.c[0][j], norm * std::exp(a * (r[j] * r[j] - rm2)), 1e-5) << "r " << r[j];
  EXPECT_GT(p.c[0].back() / p.c[0].front(), 3.0);  // a real gradient, not a flat line
}

TEST(LammConvergence, EstimateBoundsTheDistanceToAFinerSolution) {
  const Experiment run = proteinRun();
  const std::vector<double> times = {300, 900, 1500, 2100, 2700, 3300};
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

TEST(LammInput, ImpossibleRunsAreRefusedAndStillMaterialStaysUniform) {
  const std::vector<double> t = {600}, r = {6.5};
  std::vector<Experiment> bad(4, proteinRun());
  bad[0].bottom = bad[0].meniscus;
  bad[1].components[0].D = 0;
  bad[2].components.assign(5, {4.4, 6e-7, 0.1});
  bad[3].components.clear();
  for (const Experiment& run : bad) EXPECT_THROW(solveLamm(run, t, r), std::invalid_argument);
  EXPECT_THROW(solveLamm(proteinRun(), std::vector<double>{-1}, r), std::invalid_argument);
  EXPECT_THROW(solveLamm(proteinRun(), t, r, -5.0), std::invalid_argument);

  const Experiment still{5.95, 7.2, 42000, 0, {{0.0, 1e-6, 0.7}}};
  const std::vector<double> times{0, 5000};
  for (const auto& scan : solveLamm(still, times, radiiFromTo(5.95, 7.2, 20)).c)
    for (double c : scan) EXPECT_NEAR(c, 0.7, 1e-12);
}

}  // namespace
}  // namespace svfit::sim
