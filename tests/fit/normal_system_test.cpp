#include "fit/normal_system.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace svfit::fit {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// A dense n×n matrix (0-based) put into the packed upper triangle.
void Load(NormalSystem& ns, const std::vector<std::vector<double>>& a,
          const std::vector<double>& b) {
  const int n = static_cast<int>(b.size());
  ns.setSize(n);
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) ns.normMatrix[ns.at(i, j)] = a[i - 1][j - 1];
    ns.normRhs[i] = b[i - 1];
    ns.dampWeight[i] = 1.0;
  }
}

// The solution sequence of one damped step: solve, then refine twice; z in stepVec.
void SolveRefined(NormalSystem& ns, int refinements) {
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.solvePacked();
  for (int i = 1; i <= ns.freeCount; ++i)
    ns.stepVec[i] = std::ldexp(ns.solveVec[i], ns.scaleExp[i]);
  for (int pass = 1; pass <= refinements; ++pass) {
    ns.residualRefine(false);
    ns.solvePacked();
    for (int i = 1; i <= ns.freeCount; ++i)
      ns.stepVec[i] += std::ldexp(ns.solveVec[i], ns.scaleExp[i]);
  }
}

// Gaussian elimination with partial pivoting in extended precision, on the
// system equilibrated by the given variable units (1 when none are given).
std::vector<double> Reference(const std::vector<std::vector<double>>& a,
                              const std::vector<double>& b, std::vector<double> unit = {}) {
  const int n = static_cast<int>(b.size());
  if (unit.empty()) unit.assign(n, 1.0);
  std::vector<std::vector<Extended>> m(n, std::vector<Extended>(n + 1));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) m[i][j] = a[i][j] / (static_cast<Extended>(unit[i]) * unit[j]);
    m[i][n] = b[i] / static_cast<Extended>(unit[i]);
  }
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
    std::swap(m[p], m[c]);
    for (int r = c + 1; r < n; ++r) {
      const Extended f = m[r][c] / m[c][c];
      for (int k = c; k <= n; ++k) m[r][k] -= f * m[c][k];
    }
  }
  std::vector<Extended> y(n);
  for (int i = n - 1; i >= 0; --i) {
    Extended t = m[i][n];
    for (int k = i + 1; k < n; ++k) t -= m[i][k] * y[k];
    y[i] = t / m[i][i];
  }
  std::vector<double> x(n);
  for (int i = 0; i < n; ++i) x[i] = static_cast<double>(y[i] / unit[i]);
  return x;
}

double RelativeError(const std::vector<double>& x, const std::vector<double>& y) {
  double num = 0, den = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    num += (x[i] - y[i]) * (x[i] - y[i]);
    den += x[i] * x[i];
  }
  return std::sqrt(num / den);
}

TEST(PackedStorage, DiagonalPositionsFollowTheRowStep) {
  NormalSystem ns;
  ns.setSize(4);
  EXPECT_EQ(ns.packStride, 5);
  EXPECT_EQ(ns.packCount, 10);
  EXPECT_EQ(ns.at(1, 1), 1);
  EXPECT_EQ(ns.at(1, 4), 4);
  EXPECT_EQ(ns.at(2, 2), 5);  // d_2 = d_1 + 5 − 1
  EXPECT_EQ(ns.at(3, 3), 8);  // d_3 = d_2 + 5 − 2
  EXPECT_EQ(ns.at(4, 4), 10);
  ns.setSize(16);
  EXPECT_EQ(ns.at(16, 16), kMaxPacked);
}

TEST(EdgeCases, NoVariablesLeavesEverythingAlone) {
  NormalSystem ns;
  ns.setSize(0);
  ns.cholPacked[1] = 7.0;
  ns.solveVec[1] = 3.0;
  ns.stepVec[1] = 5.0;
  ns.dampWeight[1] = 9.0;
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.solvePacked();
  ns.residualRefine(true);
  ns.stdDevFromFactor(2.0);
  EXPECT_EQ(ns.cholPacked[1], 7.0);
  EXPECT_EQ(ns.solveVec[1], 3.0);
  EXPECT_EQ(ns.stepVec[1], 5.0);
  EXPECT_EQ(ns.dampWeight[1], 9.0);
}

TEST(EdgeCases, OneVariableSolvesToBOverAWithScaledDiagonalInOneToFour) {
  for (double a : {1.0, 3.0, 1e-9, 2.5e7, 0.7e-30, 4.0}) {
    const double b = -0.3 * a + 1e-3;
    NormalSystem ns;
    Load(ns, {{a}}, {b});
    ns.lambda = 0;
    ns.scaleAndDamp();
    EXPECT_GT(ns.cholPacked[1], 1.0) << a;
    EXPECT_LE(ns.cholPacked[1], 4.0) << a;
    ns.factorPacked();
    ns.solvePacked();
    const double z = std::ldexp(ns.solveVec[1], ns.scaleExp[1]);
    EXPECT_NEAR(z, b / a, 4 * kEps * std::fabs(b / a)) << a;
  }
}

TEST(EdgeCases, TinyDiagonalGetsTheFixedScale) {
  NormalSystem ns;
  Load(ns, {{1e-120}}, {0.0});
  ns.lambda = 0;
  ns.scaleAndDamp();
  int e = 0;
  std::frexp(1e50, &e);
  EXPECT_EQ(ns.scaleExp[1], e);  // not the exponent of 1/√1e-120 = 1e60
}

TEST(EdgeCases, RefinementOfAnExactSolutionChangesNothing) {
  // A = [[4, 2], [2, 3]], z = (1, −2): B = A·z = (0, −4), all exact in binary.
  NormalSystem ns;
  Load(ns, {{4, 2}, {2, 3}}, {0, -4});
  ns.lambda = 0.5;
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.stepVec[1] = 1.0;
  ns.stepVec[2] = -2.0;
  ns.residualRefine(true);
  EXPECT_EQ(ns.solveVec[1], 0.0);
  EXPECT_EQ(ns.solveVec[2], 0.0);
  EXPECT_EQ(ns.dampWeight[1], 0.0);
  EXPECT_EQ(ns.dampWeight[2], 0.0);
  ns.solvePacked();
  EXPECT_EQ(ns.stepVec[1] + std::ldexp(ns.solveVec[1], ns.scaleExp[1]), 1.0);
  EXPECT_EQ(ns.stepVec[2] + std::ldexp(ns.solveVec[2], ns.scaleExp[2]), -2.0);
}

TEST(StandardDeviations, IdentityFactorGivesSigmaTimesTheScale) {
  NormalSystem ns;
  ns.setSize(3);
  for (int i = 1; i <= 3; ++i)
    for (int j = i; j <= 3; ++j) ns.cholPacked[ns.at(i, j)] = (i == j) ? 1.0 : 0.0;
  ns.scaleExp[1] = 0;
  ns.scaleExp[2] = -20;
  ns.scaleExp[3] = 7;
  ns.stdDevFromFactor(2.0);
  EXPECT_EQ(ns.stepVec[1], 2.0);
  EXPECT_EQ(ns.stepVec[2], 2.0 * std::ldexp(1.0, -20));
  EXPECT_EQ(ns.stepVec[3], 2.0 * 128.0);
}

TEST(StandardDeviations, MatchTheDiagonalOfTheInverse) {
  // A = [[4, 2, 0], [2, 5, 1], [0, 1, 3]]: det = 44, (A⁻¹)_ii = 14/44, 12/44, 16/44.
  NormalSystem ns;
  Load(ns, {{4, 2, 0}, {2, 5, 1}, {0, 1, 3}}, {0, 0, 0});
  ns.lambda = 0;
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.stdDevFromFactor(3.0);
  EXPECT_NEAR(ns.stepVec[1], 3.0 * std::sqrt(14.0 / 44), 1e-14);
  EXPECT_NEAR(ns.stepVec[2], 3.0 * std::sqrt(12.0 / 44), 1e-14);
  EXPECT_NEAR(ns.stepVec[3], 3.0 * std::sqrt(16.0 / 44), 1e-14);
}

TEST(Pivots, ZeroAndNegativePivotsGiveFiniteResults) {
  // Variable 2 has no influence: its row is empty. Its step must be 0, the other exact.
  NormalSystem ns;
  Load(ns, {{2, 0}, {0, 0}}, {1, 0});
  ns.lambda = 0;
  SolveRefined(ns, 2);
  EXPECT_EQ(ns.stepVec[2], 0.0);
  EXPECT_DOUBLE_EQ(ns.stepVec[1], 0.5);
  ns.stdDevFromFactor(1.0);
  EXPECT_TRUE(std::isfinite(ns.stepVec[1]));
  EXPECT_TRUE(std::isfinite(ns.stepVec[2]));

  // Two identical columns: the second pivot cancels to zero or below.
  Load(ns, {{1, 1, 0}, {1, 1, 0}, {0, 0, 1}}, {1, 1, 1});
  SolveRefined(ns, 2);
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::isfinite(ns.stepVec[i])) << i;
  // An indefinite matrix: the negative pivot is floored, not rooted.
  Load(ns, {{1, 2}, {2, 1}}, {1, 0});
  SolveRefined(ns, 0);
  for (int i = 1; i <= 2; ++i) EXPECT_TRUE(std::isfinite(ns.stepVec[i])) << i;
}

TEST(RandomSystems, AgreeWithADirectSolverForOneToSixteenVariables) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<int> magnitude(-8, 8);
  for (int n = 1; n <= kMaxParams; ++n) {
    for (int trial = 0; trial < 5; ++trial) {
      // A = MᵀM + I, then each variable given its own unit: A → D·A·D with D = 10^k.
      std::vector<std::vector<double>> m(n, std::vector<double>(n));
      for (auto& row : m)
        for (double& v : row) v = u(rng);
      std::vector<double> unit(n);
      for (double& d : unit) d = std::pow(10.0, magnitude(rng));
      std::vector<std::vector<double>> a(n, std::vector<double>(n));
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          Extended t = (i == j) ? 1.0L : 0.0L;
          for (int k = 0; k < n; ++k) t += static_cast<Extended>(m[k][i]) * m[k][j];
          a[i][j] = static_cast<double>(t) * unit[i] * unit[j];
        }
      std::vector<double> x(n), b(n);
      for (int i = 0; i < n; ++i) x[i] = u(rng) / unit[i];
      for (int i = 0; i < n; ++i) {
        Extended t = 0;
        for (int j = 0; j < n; ++j) t += static_cast<Extended>(a[i][j]) * x[j];
        b[i] = static_cast<double>(t);
      }
      NormalSystem ns;
      Load(ns, a, b);
      ns.lambda = 0;
      SolveRefined(ns, 2);
      std::vector<double> z(ns.stepVec.begin() + 1, ns.stepVec.begin() + 1 + n);
      // Compare in the scaled variables, where all components have unit size.
      std::vector<double> zs(n), xs(n), rs(n);
      const std::vector<double> ref = Reference(a, b, unit);
      for (int i = 0; i < n; ++i) {
        zs[i] = z[i] * unit[i];
        xs[i] = x[i] * unit[i];
        rs[i] = ref[i] * unit[i];
      }
      EXPECT_LT(RelativeError(xs, zs), 10 * kEps) << "n=" << n;
      EXPECT_LT(RelativeError(rs, zs), 10 * kEps) << "n=" << n;
    }
  }
}

TEST(Refinement, IsIteratedDampingTowardsTheUndampedSolution) {
  // z_0 = (A + λI)⁻¹B, z_(k+1) = z_k + (A + λI)⁻¹(B − A·z_k).
  const std::vector<std::vector<double>> a = {{3, 1}, {1, 2}};
  const std::vector<std::vector<double>> damped = {{7, 1}, {1, 6}};
  const std::vector<double> b = {1, 1};
  std::vector<double> z = Reference(damped, b);
  const double error0 = std::hypot(z[0] - 0.2, z[1] - 0.4);
  NormalSystem ns;
  Load(ns, a, b);
  ns.lambda = 4.0;
  for (int refinements = 0; refinements <= 2; ++refinements) {
    SolveRefined(ns, refinements);
    EXPECT_NEAR(ns.stepVec[1], z[0], 1e-15) << refinements;
    EXPECT_NEAR(ns.stepVec[2], z[1], 1e-15) << refinements;
    const std::vector<double> r = {b[0] - 3 * z[0] - z[1], b[1] - z[0] - 2 * z[1]};
    const std::vector<double> dz = Reference(damped, r);
    z = {z[0] + dz[0], z[1] + dz[1]};
  }
  // The undamped solution is (0.2, 0.4); each solve contracts the distance by at
  // most λ/(λ + smallest eigenvalue of A) = 4/(4 + (5 − √5)/2) < 0.75.
  EXPECT_LT(std::hypot(ns.stepVec[1] - 0.2, ns.stepVec[2] - 0.4), 0.75 * 0.75 * error0);
}

}  // namespace
}  // namespace svfit::fit
