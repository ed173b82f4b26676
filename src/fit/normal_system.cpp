// Scaling, Cholesky factorisation, solution and refinement of the packed
// normal equations (see normal_system.h for the storage).
//
// Every variable i is scaled by 2^e_i, chosen so that the damped, scaled
// diagonal lies in (1, 4]: the factorisation then works on a matrix of unit
// size whatever the units of the parameters (an initial absorbance near 1, a
// sedimentation parameter near 1e-6, a diffusion coefficient near 1e-7 cm²/s).
// Scaling only adds to binary exponents (ldexp), so it introduces no rounding.
//
// A pivot that is not positive (a parameter with no influence, or columns that
// depend on each other to rounding) is replaced by 1e-100. For a variable with
// no influence at all this gives a zero step; otherwise a huge but finite step
// that the fit's cut-back and uphill rules deal with. Zero is treated like a
// negative value, so no division by zero can happen.
#include "fit/normal_system.h"

#include <cassert>
#include <cmath>

namespace svfit::fit {

namespace {

constexpr double kTinyDiagonal = 1e-100;  // below this a diagonal counts as empty
constexpr double kEmptyScale = 1e50;      // scale of an empty diagonal
constexpr double kPivotFloor = 1e-100;    // replaces a pivot that is not positive

}  // namespace

void NormalSystem::setSize(int n) {
  assert(n >= 0 && n <= kMaxParams);
  freeCount = n;
  packStride = n + 1;
  packCount = n * (n + 1) / 2;
  normMatrix.fill(0.0L);
  normRhs.fill(0.0L);
}

int NormalSystem::at(int i, int j) const {
  assert(1 <= i && i <= j && j <= freeCount);
  // d_i = 1 + Σ_(k<i) (packStride − k); element (i, j) lies at d_i + (j − i).
  const int diag = 1 + (i - 1) * packStride - (i - 1) * i / 2;
  return diag + (j - i);
}

void NormalSystem::scaleAndDamp() {
  const int n = freeCount;
  int diag = 1;
  for (int i = 1; i <= n; ++i) {
    const double v = static_cast<double>(std::fabs(static_cast<Extended>(lambda) * dampWeight[i]) +
                                         std::fabs(normMatrix[diag]));
    const double scale = (v <= kTinyDiagonal) ? kEmptyScale : 1.0 / std::sqrt(v);
    int e = 0;
    std::frexp(scale, &e);  // scale = m·2^e, 0.5 <= m < 1
    scaleExp[i] = e;
    diag += packStride - i;
  }
  diag = 1;
  for (int i = 1; i <= n; ++i) {
    const Extended damped = normMatrix[diag] + static_cast<Extended>(lambda) * dampWeight[i];
    cholPacked[diag] = static_cast<double>(std::ldexp(damped, 2 * scaleExp[i]));
    for (int j = i + 1; j <= n; ++j) {
      const int ij = diag + (j - i);
      cholPacked[ij] = static_cast<double>(std::ldexp(normMatrix[ij], scaleExp[i] + scaleExp[j]));
    }
    solveVec[i] = static_cast<double>(std::ldexp(normRhs[i], scaleExp[i]));
    diag += packStride - i;
  }
}

void NormalSystem::factorPacked() {
  const int n = freeCount;
  for (int i = 1; i <= n; ++i) {
    const int ii = at(i, i);
    Extended s = cholPacked[ii];
    for (int k = 1; k < i; ++k) {
      const Extended u = cholPacked[at(k, i)];
      s -= u * u;
    }
    if (!(s > 0)) s = kPivotFloor;  // zero or negative (or NaN): see the file comment
    const double pivot = static_cast<double>(std::sqrt(s));
    cholPacked[ii] = pivot;
    for (int j = i + 1; j <= n; ++j) {
      Extended t = cholPacked[at(i, j)];
      for (int k = 1; k < i; ++k) {
        t -= static_cast<Extended>(cholPacked[at(k, i)]) * cholPacked[at(k, j)];
      }
      cholPacked[at(i, j)] = static_cast<double>(t / pivot);
    }
  }
}

void NormalSystem::solvePacked() {
  const int n = freeCount;
  // Uᵀ·w = y, forward.
  for (int i = 1; i <= n; ++i) {
    Extended t = solveVec[i];
    for (int k = 1; k < i; ++k) t -= static_cast<Extended>(cholPacked[at(k, i)]) * solveVec[k];
    solveVec[i] = static_cast<double>(t / cholPacked[at(i, i)]);
  }
  // U·y = w, backward.
  for (int i = n; i >= 1; --i) {
    Extended t = solveVec[i];
    for (int j = i + 1; j <= n; ++j) t -= static_cast<Extended>(cholPacked[at(i, j)]) * solveVec[j];
    solveVec[i] = static_cast<double>(t / cholPacked[at(i, i)]);
  }
}

void NormalSystem::residualRefine(bool storeInWeights) {
  const int n = freeCount;
  for (int i = 1; i <= n; ++i) {
    // r_i = B_i − Σ_j A_ij·z_j with the undamped A, read symmetrically.
    Extended r = normRhs[i];
    for (int j = 1; j <= n; ++j) {
      const Extended a = (j >= i) ? normMatrix[at(i, j)] : normMatrix[at(j, i)];
      r -= a * stepVec[j];
    }
    solveVec[i] = static_cast<double>(std::ldexp(r, scaleExp[i]));
    if (storeInWeights) dampWeight[i] = static_cast<double>(r);
  }
}

void NormalSystem::stdDevFromFactor(double sigma) {
  const int n = freeCount;
  // diag(C⁻¹) = row sums of squares of U⁻¹. Column j of U⁻¹ solves U·w = e_j
  // (w_i = 0 for i > j); each column is added into the sums and then dropped.
  std::array<Extended, kMaxParams + 1> rowSumSq{};
  std::array<double, kMaxParams + 1> w{};
  for (int j = n; j >= 1; --j) {
    w[j] = 1.0 / cholPacked[at(j, j)];
    for (int i = j - 1; i >= 1; --i) {
      Extended t = 0;
      for (int k = i + 1; k <= j; ++k) t += static_cast<Extended>(cholPacked[at(i, k)]) * w[k];
      w[i] = static_cast<double>(-t / cholPacked[at(i, i)]);
    }
    for (int i = 1; i <= j; ++i) rowSumSq[i] += static_cast<Extended>(w[i]) * w[i];
  }
  for (int i = 1; i <= n; ++i) {
    stepVec[i] = std::ldexp(static_cast<double>(std::sqrt(rowSumSq[i])) * sigma, scaleExp[i]);
  }
}

}  // namespace svfit::fit
