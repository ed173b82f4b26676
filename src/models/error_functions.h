// Error-function routines and empirical correction peaks shared by the nine
// sedimentation models.
//
// Two sets of the same functions:
//   * the reference set in 80-bit extended precision (scaledErfc, safeErfc,
//     gaussFactor, combinedExp, logNormalPeak): the defined numerics of the
//     program, used by the tests as the yardstick and by code that is not hot;
//   * fastErfcx, a double-precision exp(x²)·erfc(x) for the model hot path,
//     agreeing with scaledErfc to better than 1e-13 relative over x ≥ 0 (the
//     reference itself is good to ~1e-11 below 4 and ~1e-9 near 4.29).
// Invariant: every routine is total: any finite argument gives a finite
// result, underflow gives an exact 0, and nothing reports an error.
#pragma once

#include "state/state.h"

namespace svfit::models {

// exp(x²)·erfc(x) for x ≥ 0 (callers pass |x|). Continued fraction for
// x ≥ 4.29, the real-axis case of Gautschi's recurrence below.
Extended scaledErfc(Extended x);

// exp(−z²), exactly 0 when |z| ≥ 106.5 (below the extended range).
Extended gaussFactor(Extended z);

// erfc(z) for any z, in [0, 2]: scaledErfc(|z|)·gaussFactor(z), mirrored as
// 2 − erfc(|z|) for z < 0.
Extended safeErfc(Extended z);

// exp(a − z²), formed as one exponent; 0 when |z² − a| > 11356 (just below
// ln of the largest extended value).
Extended combinedExp(Extended a, Extended z);

// Asymmetric log-normal peak: position x0, asymmetry b (> 1), width w,
// amplitude A, offset B.
//   y = 1 + (x − x0)·(b² − 1)/(b·w), floored at 1e-300
//   value = A·exp(−ln 2·(ln y / ln b)²) + B
Extended logNormalPeak(Extended x, double x0, double b, double w, double A, double B);

// The three fixed peaks. eps = 2D/(r_m²·s·ω²) is dimensionless; rm in cm.
double boundaryCorrA(double eps);  // bottom coordinate correction of models R, N
double boundaryCorrB(double eps);  // bottom eps correction of models R, N
double meniscusCorr(double rm);    // validity scale of models R, N

// d/d eps of boundaryCorrA and boundaryCorrB (0 where the floor of y holds).
double boundaryCorrADeriv(double eps);
double boundaryCorrBDeriv(double eps);

// Double-precision exp(x²)·erfc(x) for x ≥ 0 (the hot path of the models).
double fastErfcx(double x);

}  // namespace svfit::models
