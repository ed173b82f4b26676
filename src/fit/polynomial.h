// Small polynomial least-squares fits on the packed normal equations: the
// window fits of the data cleaning (bottom slopes) and of the start-value
// estimate.
#pragma once

#include <array>

#include "fit/normal_system.h"
#include "state/state.h"

namespace svfit::fit {

// Adds one point (r, y) to packed normal equations a, b of the basis
// 1, r, r², ..., r^(m−1). m = 1..16.
void AddPolynomialPoint(std::array<Extended, kMaxPacked + 1>& a,
                        std::array<Extended, kMaxParams + 1>& b, int m, double r, double y);

// Solves the filled normal equations of ns (size m) with a tiny damping and
// one step of refinement against the undamped system; c1..cm end in stepVec.
void SolvePolynomial(NormalSystem& ns, int m);

// Least-squares polynomial y ≈ c1 + c2·r + ... + cm·r^(m−1) through the points
// first..last of a scan (r = scanRadius [cm], y = scanValue). Uses and
// overwrites `ns`: the coefficients end in ns.stepVec[1..m]. m = 1..16.
void FitPolynomial(const AnalysisState& st, NormalSystem& ns, int scan, int m, int first,
                   int last);

}  // namespace svfit::fit
