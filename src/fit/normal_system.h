// The packed normal equations of a least-squares problem of at most 16
// variables, shared by the damped fit and the polynomial fits of the data
// cleaning (one user at a time).
//
// Packed upper triangle, row by row: row i holds (i,i), (i,i+1), ..., (i,n);
// d_1 = 1, d_(i+1) = d_i + packStride − i, element (i,j), j ≥ i, at d_i + (j − i).
// The matrix A and right-hand side B are sums over up to two million points
// and are kept in extended precision. The system factored is
// C = S·(A + λ·diag(X))·S with S = diag(2^e_i): every scaling adds to binary
// exponents, so it is exact.
#pragma once

#include <array>

#include "state/state.h"

namespace svfit::fit {

inline constexpr int kMaxPacked = kMaxParams * (kMaxParams + 1) / 2;  // 136

struct NormalSystem {
  int freeCount = 0;                                  // n, variables 0..16
  int packStride = 1;                                 // n + 1
  int packCount = 0;                                  // n(n+1)/2
  std::array<Extended, kMaxPacked + 1> normMatrix{};  // A, packed [1..136]
  std::array<Extended, kMaxParams + 1> normRhs{};     // B [1..16]
  std::array<double, kMaxParams + 1> dampWeight{};    // X [1..16]
  double lambda = 0;                                  // damping added to the diagonal times X_i
  std::array<int, kMaxParams + 1> scaleExp{};         // e_i
  std::array<double, kMaxPacked + 1> cholPacked{};    // C, then its factor U
  std::array<double, kMaxParams + 1> solveVec{};      // S·B, then the scaled solution
  std::array<double, kMaxParams + 1> stepVec{};       // unscaled solution z / std. deviations

  // Sets n, packStride and packCount, and clears A and B.
  void setSize(int n);
  // Position of element (i, j) of the packed triangle, 1 <= i <= j <= n.
  int at(int i, int j) const;

  // The caller fills freeCount (setSize), normMatrix, normRhs, dampWeight and
  // lambda first. None of the operations reports an error; n = 0 does nothing.

  // scaleExp from the damped diagonal (scale 1/√v, or 1e50 when v <= 1e-100),
  // cholPacked = S·(A + λ·diag(X))·S, solveVec = S·B.
  void scaleAndDamp();
  // cholPacked = U with C = UᵀU, in place. A pivot <= 0 becomes 1e-100.
  void factorPacked();
  // solveVec = C⁻¹·solveVec with the factor U.
  void solvePacked();
  // r = B − A·z with the undamped A and z = stepVec; solveVec = S·r, and when
  // storeInWeights also dampWeight = r. Solving again and adding S·y to z is
  // one step of refinement towards the undamped solution.
  void residualRefine(bool storeInWeights);
  // stepVec_i = sigma·2^e_i·√((C⁻¹)_ii) from the factor U: the standard
  // deviations of the unscaled variables.
  void stdDevFromFactor(double sigma);
};

}  // namespace svfit::fit
