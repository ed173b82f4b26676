// The packed normal equations: edge cases of scaling, factoring and
// refinement, standard deviations, degenerate pivots, agreement with a
// straightforward solver on random systems, and the polynomial window fit.
#include "fit/normal_system.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "fit/polynomial.h"

namespace svfit::fit {
namespace {

using Matrix = std::vector<std::vector<double>>;
constexpr double kEps = std::numeric_limits<double>::epsilon();

// A dense n×n matrix (0-based) put into the packed upper triangle, damping λ.
void Load(NormalSystem& ns, const Matrix& a, const std::vector<double>& b, double lambda = 0) {
  const int n = static_cast<int>(b.size());
  ns.setSize(n);
  ns.lambda = lambda;
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) ns.normMatrix[ns.at(i, j)] = a[i - 1][j - 1];
    ns.normRhs[i] = b[i - 1];
    ns.dampWeight[i] = 1.0;
  }
}

// One damped step as the fit takes it: solve, then refine; z in stepVec.
void SolveRefined(NormalSystem& ns, int refinements) {
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.solvePacked();
  for (int i = 1; i <= ns.freeCount; ++i) ns.stepVec[i] = std::ldexp(ns.solveVec[i], ns.scaleExp[i]);
  for (int pass = 1; pass <= refinements; ++pass) {
    ns.residualRefine(false);
    ns.solvePacked();
    for (int i = 1; i <= ns.freeCount; ++i) ns.stepVec[i] += std::ldexp(ns.solveVec[i], ns.scaleExp[i]);
  }
}

// Gauss-Jordan elimination with partial pivoting in extended precision.
std::vector<Extended> Reference(const Matrix& a, const std::vector<double>& b) {
  const std::size_t n = b.size();
  std::vector<std::vector<Extended>> m(n);
  for (std::size_t i = 0; i < n; ++i) {
    m[i].assign(a[i].begin(), a[i].end());
    m[i].push_back(b[i]);
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
    std::swap(m[p], m[c]);
    for (std::size_t r = 0; r < n; ++r) {
      const Extended f = r == c ? 0 : m[r][c] / m[c][c];
      for (std::size_t k = c; k <= n; ++k) m[r][k] -= f * m[c][k];
    }
  }
  std::vector<Extended> x(n);
  for (std::size_t i = 0; i < n; ++i) x[i] = m[i][n] / m[i][i];
  return x;
}

TEST(NormalSystem, NoVariablesLeaveEverythingAlone) {
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
  EXPECT_EQ(std::vector<double>({ns.cholPacked[1], ns.solveVec[1], ns.stepVec[1], ns.dampWeight[1]}),
            std::vector<double>({7, 3, 5, 9}));
}

TEST(NormalSystem, OneVariableSolvesToBOverAWithTheScaledDiagonalInOneToFour) {
  for (double a : {1.0, 3.0, 1e-9, 2.5e7, 0.7e-30, 4.0}) {
    const double b = -0.3 * a + 1e-3;
    NormalSystem ns;
    Load(ns, {{a}}, {b});
    ns.scaleAndDamp();
    EXPECT_GT(ns.cholPacked[1], 1.0) << a;
    EXPECT_LE(ns.cholPacked[1], 4.0) << a;
    ns.factorPacked();
    ns.solvePacked();
    EXPECT_NEAR(std::ldexp(ns.solveVec[1], ns.scaleExp[1]), b / a, 4 * kEps * std::fabs(b / a)) << a;
  }
  // A diagonal of 1e-120 gets the fixed scale 1e50, not 1/√1e-120 = 1e60.
  NormalSystem ns;
  Load(ns, {{1e-120}}, {0.0});
  ns.scaleAndDamp();
  int e = 0;
  std::frexp(1e50, &e);
  EXPECT_EQ(ns.scaleExp[1], e);
}

TEST(NormalSystem, RefinementOfAnExactSolutionChangesNothing) {
  // A = [[4, 2], [2, 3]], z = (1, −2): B = A·z = (0, −4), all exact in binary.
  NormalSystem ns;
  Load(ns, {{4, 2}, {2, 3}}, {0, -4}, 0.5);
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.stepVec[1] = 1.0;
  ns.stepVec[2] = -2.0;
  ns.residualRefine(true);
  EXPECT_EQ(std::vector<double>({ns.solveVec[1], ns.solveVec[2], ns.dampWeight[1], ns.dampWeight[2]}),
            std::vector<double>(4, 0.0));
  ns.solvePacked();
  EXPECT_EQ(ns.stepVec[1] + std::ldexp(ns.solveVec[1], ns.scaleExp[1]), 1.0);
  EXPECT_EQ(ns.stepVec[2] + std::ldexp(ns.solveVec[2], ns.scaleExp[2]), -2.0);
}

TEST(NormalSystem, RefinementIsIteratedDampingTowardsTheUndampedSolution) {
  // A = [[3, 1], [1, 2]], B = (1, 1), λ = 4: z_0 = (A + λI)⁻¹B and
  // z_(k+1) = z_k + (A + λI)⁻¹(B − A·z_k), towards the undamped (0.2, 0.4).
  auto dampedSolve = [](double b1, double b2) {  // [[7, 1], [1, 6]]⁻¹ by Cramer's rule, det 41
    return std::vector<double>{(6 * b1 - b2) / 41, (7 * b2 - b1) / 41};
  };
  std::vector<double> z = dampedSolve(1, 1);
  const double error0 = std::hypot(z[0] - 0.2, z[1] - 0.4);
  NormalSystem ns;
  Load(ns, {{3, 1}, {1, 2}}, {1, 1}, 4.0);
  for (int refinements = 0; refinements <= 2; ++refinements) {
    SolveRefined(ns, refinements);
    EXPECT_NEAR(ns.stepVec[1], z[0], 1e-15) << refinements;
    EXPECT_NEAR(ns.stepVec[2], z[1], 1e-15) << refinements;
    const std::vector<double> dz = dampedSolve(1 - 3 * z[0] - z[1], 1 - z[0] - 2 * z[1]);
    z = {z[0] + dz[0], z[1] + dz[1]};
  }
  // Each solve contracts the distance by at most λ/(λ + smallest eigenvalue
  // of A) = 4/(4 + (5 − √5)/2) < 0.75.
  EXPECT_LT(std::hypot(ns.stepVec[1] - 0.2, ns.stepVec[2] - 0.4), 0.75 * 0.75 * error0);
}

TEST(NormalSystem, StandardDeviationsFromTheFactor) {
  // The identity factor gives σ times the scale of each variable.
  NormalSystem ns;
  ns.setSize(3);
  for (int i = 1; i <= 3; ++i)
    for (int j = i; j <= 3; ++j) ns.cholPacked[ns.at(i, j)] = (i == j) ? 1.0 : 0.0;
  ns.scaleExp = {0, 0, -20, 7};
  ns.stdDevFromFactor(2.0);
  EXPECT_EQ(std::vector<double>(ns.stepVec.begin() + 1, ns.stepVec.begin() + 4),
            std::vector<double>({2.0, 2.0 * std::ldexp(1.0, -20), 2.0 * 128.0}));
  // A = [[4, 2, 0], [2, 5, 1], [0, 1, 3]]: det = 44, (A⁻¹)_ii = 14/44, 12/44, 16/44.
  Load(ns, {{4, 2, 0}, {2, 5, 1}, {0, 1, 3}}, {0, 0, 0});
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.stdDevFromFactor(3.0);
  for (int i = 1; i <= 3; ++i) EXPECT_NEAR(ns.stepVec[i], 3.0 * std::sqrt((i == 1 ? 14 : i == 2 ? 12 : 16) / 44.0), 1e-14);
}

TEST(NormalSystem, ZeroAndNegativePivotsGiveFiniteResults) {
  // A variable without influence (its step is 0), two identical columns, an
  // indefinite matrix: pivots of 0 or below are floored, never rooted.
  const std::pair<Matrix, std::vector<double>> cases[] = {
      {{{2, 0}, {0, 0}}, {1, 0}}, {{{1, 1, 0}, {1, 1, 0}, {0, 0, 1}}, {1, 1, 1}}, {{{1, 2}, {2, 1}}, {1, 0}}};
  for (const auto& [a, b] : cases) {
    NormalSystem ns;
    Load(ns, a, b);
    SolveRefined(ns, 2);
    if (a[1][1] == 0) {
      EXPECT_EQ(std::vector<double>({ns.stepVec[1], ns.stepVec[2]}), std::vector<double>({0.5, 0}));
    }
    for (int i = 1; i <= ns.freeCount; ++i) EXPECT_TRUE(std::isfinite(ns.stepVec[i])) << i;
    ns.stdDevFromFactor(1.0);
    for (int i = 1; i <= ns.freeCount; ++i) EXPECT_TRUE(std::isfinite(ns.stepVec[i])) << i;
  }
}

TEST(NormalSystem, RandomSystemsAgreeWithEliminationForOneToSixteenVariables) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<int> magnitude(-8, 8);
  for (int n = 1; n <= kMaxParams; ++n) {
    for (int trial = 0; trial < 5; ++trial) {
      // A = D·(MᵀM + I)·D with each variable in its own unit D_i = 10^k, b = A·x.
      Matrix m(n, std::vector<double>(n)), a = m;
      for (auto& row : m)
        for (double& v : row) v = u(rng);
      std::vector<double> unit(n), x(n), b(n);
      for (double& d : unit) d = std::pow(10.0, magnitude(rng));
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          Extended t = (i == j) ? 1.0L : 0.0L;
          for (int k = 0; k < n; ++k) t += static_cast<Extended>(m[k][i]) * m[k][j];
          a[i][j] = static_cast<double>(t) * unit[i] * unit[j];
        }
      for (int i = 0; i < n; ++i) x[i] = u(rng) / unit[i];
      for (int i = 0; i < n; ++i) {
        Extended t = 0;
        for (int j = 0; j < n; ++j) t += static_cast<Extended>(a[i][j]) * x[j];
        b[i] = static_cast<double>(t);
      }
      NormalSystem ns;
      Load(ns, a, b);
      SolveRefined(ns, 2);
      // Compared in the unit variables, where all components have unit size.
      const std::vector<Extended> ref = Reference(a, b);
      double err = 0, errRef = 0, size = 0;
      for (int i = 0; i < n; ++i) {
        err += std::pow((ns.stepVec[i + 1] - x[i]) * unit[i], 2);
        errRef += std::pow(static_cast<double>((ns.stepVec[i + 1] - ref[i]) * unit[i]), 2);
        size += std::pow(x[i] * unit[i], 2);
      }
      EXPECT_LT(std::sqrt(err / size), 10 * kEps) << "n=" << n << ": against the exact solution";
      EXPECT_LT(std::sqrt(errRef / size), 10 * kEps) << "n=" << n << ": against elimination";
    }
  }
}

// The power basis on 6..7 cm is badly conditioned, so the coefficients are
// judged by what the callers use: the curve and its slope, to far below the
// noise of a scan (about 0.005 OD).
TEST(FitPolynomial, ReproducesACubicAndItsSlopeInsideTheWindow) {
  AnalysisState st;
  auto cubic = [](double r) { return 1.0 + 2.0 * r - 0.5 * r * r + 0.1 * r * r * r; };
  for (int i = 1; i <= 120; ++i) {
    st.scanRadius[1][i] = 5.9 + 0.01 * (i - 1);
    st.scanValue[1][i] = cubic(st.scanRadius[1][i]);
  }
  st.scanValue[1][5] += 10;  // outside the window: no effect
  NormalSystem ns;
  FitPolynomial(st, ns, 1, 4, 10, 110);
  const auto& c = ns.stepVec;
  for (int i = 10; i <= 110; i += 10) {
    const double r = st.scanRadius[1][i];
    EXPECT_NEAR(c[1] + c[2] * r + c[3] * r * r + c[4] * r * r * r, cubic(r), 1e-5) << r;
  }
  const double rb = st.scanRadius[1][110];
  EXPECT_NEAR(c[2] + 2 * c[3] * rb + 3 * c[4] * rb * rb, 2.0 - rb + 0.3 * rb * rb, 1e-3);
}

}  // namespace
}  // namespace svfit::fit
