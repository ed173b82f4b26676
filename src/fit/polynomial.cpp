// Polynomial window fits. The power basis on 6..7 cm is badly conditioned;
// the binary scaling of NormalSystem, a damping of 1e-6 relative to the
// diagonal and one refinement step against the undamped equations give
// curves and slopes far below the noise of a scan.
#include "fit/polynomial.h"

#include <algorithm>
#include <cmath>

namespace svfit::fit {

void AddPolynomialPoint(std::array<Extended, kMaxPacked + 1>& a,
                        std::array<Extended, kMaxParams + 1>& b, int m, double r, double y) {
  std::array<double, kMaxParams + 1> basis{};  // r^(k−1) of the point
  basis[1] = 1.0;
  for (int k = 2; k <= m; ++k) basis[static_cast<std::size_t>(k)] = basis[static_cast<std::size_t>(k - 1)] * r;
  std::size_t at = 1;  // packed position of (i, j), row by row
  for (int i = 1; i <= m; ++i) {
    const Extended bi = basis[static_cast<std::size_t>(i)];
    for (int j = i; j <= m; ++j) a[at++] += bi * basis[static_cast<std::size_t>(j)];
    b[static_cast<std::size_t>(i)] += bi * y;
  }
}

void SolvePolynomial(NormalSystem& ns, int m) {
  for (int k = 1; k <= m; ++k) ns.dampWeight[static_cast<std::size_t>(k)] = 1.0;
  ns.lambda = 1e-6;
  ns.scaleAndDamp();
  ns.factorPacked();
  ns.solvePacked();
  for (int k = 1; k <= m; ++k) {
    const auto kk = static_cast<std::size_t>(k);
    ns.stepVec[kk] = std::ldexp(ns.solveVec[kk], ns.scaleExp[kk]);
  }
  ns.residualRefine(false);
  ns.solvePacked();
  for (int k = 1; k <= m; ++k) {
    const auto kk = static_cast<std::size_t>(k);
    ns.stepVec[kk] += std::ldexp(ns.solveVec[kk], ns.scaleExp[kk]);
  }
}

void FitPolynomial(const AnalysisState& st, NormalSystem& ns, int scan, int m, int first, int last) {
  ns.setSize(m);
  const double* r = st.scanRadius[scan];
  const double* y = st.scanValue[scan];
  for (int i = std::max(first, 1); i <= last; ++i) AddPolynomialPoint(ns.normMatrix, ns.normRhs, m, r[i], y[i]);
  SolvePolynomial(ns, m);
}

}  // namespace svfit::fit
