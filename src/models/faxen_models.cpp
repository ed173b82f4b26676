// Faxen-type solutions of the Lamm equation for a sector cell with a meniscus
// and no bottom (the cell is unbounded towards the bottom): models C, M, O, D.
//
// Each model is written once as a template of the component's value per unit
// c0; the concentration, value-only and gradient functions instantiate it
// with Jets (derivatives by s, D, r_m and k), doubles and a radius Jet
// (model_common.h). Products of huge exponentials and tiny erfc values are
// formed as exp(a − z²)·erfcx(z), so double precision suffices.
//
// Common symbols (scan s, radius r):
//   sw = s·ω² (ω² relative to the first scan), τ2 = 2·sw·t, E = e^τ2, q = √E
//   t  = scanTime + slitTimePerCm·(r − first radius)   (C, M, D)
//      = scanTime + slitTimePerCm·((r − 5.0) − 0.0001·first radius)   (O)
//   x = r/r_m, y = x − 1, eps = 2D/(sw·r_m²) ≥ 5e-5 (epsPerS/(r_m²·ω²) for a
//   molar mass); none of the four uses the diffusion-time offset.
// The gradient functions are the radial derivatives of these very formulas at
// fixed t, eps floor included: without the floor the exponentials of O
// overflow for a small D, and the gradient would not belong to the curve.
#include <cmath>

#include "models/model_common.h"

namespace svfit::models::detail {

namespace {

using ad::erfc;
using ad::exp;
using ad::log;
using ad::sq;
using ad::sqrt;

constexpr double kEpsFloor = 5e-5;  // bounds the exponentials of O, C and M
constexpr double kSqrtPi = 1.7724538509055159;
constexpr double kPi = 3.141592653589793;

// Model C: improved Faxen solution (Marand and Kovell 2001), per unit c0.
//   c/c0 = B/(2E)
//   B = erfc(z0) + b·Kb·erfc(zb) − Ka·erfc(za)
//   h = eps·(1/q − q)/4, v = √((E − 1)·eps), z0 = (h + q − y − 1)/v
//   a, b, m, n, za, zb, Ka, Kb: meniscusTerms (model_common.h)
// P[1] c0, P[2] s·ω²_first [1/s], P[3] base line, P[4] r_m [cm], P[5] D [cm²/s]
// or M; components 2..4 at P[6..8], P[9..11], P[12..14].
template <class T>
SVFIT_INLINE T unitC(const Vars<T>& v, int k, const ModelParams& p, const ScanContext& sc) {
  const double t = slitTime(sc, val(v.r));
  const T tau2 = tau2Of(v.s, sc.omega2, t);
  const T q = exp(tau2 / 2.0);  // √E
  const T E = q * q;
  const T y = v.x - 1.0;
  const T eps = floored(epsRatio(v.s, v.D, v.rm, sc.omega2, p, k), kEpsFloor);
  const T h = eps * (ad::inv(q) - q) / 4.0;
  const T invV = ad::rsqrt((E - 1.0) * eps);  // 1/v, v = √((E − 1)·eps)
  const T z0 = (h + q - y - 1.0) * invV;
  const T B = erfc(z0) + meniscusTerms(eps, q, y);
  return B / (2.0 * E);
}

// Model O: Faxen solution (Holladay 1979), per unit c0.
//   c/c0 = ½·e^(−τ2)·B
//   X = x² − 1, u = (E − 1)/τ2, w = 2·√(u·eps·τ2)
//   z1 = (τ2·(u − eps) − X)/w, z2 = (τ2·(u − eps) + X)/w, z3 = (τ2·(u + eps) + X)/w
//   B = erfc(z1) − (u/eps)·exp((u − eps)·X/(u·eps))·erfc(z2)
//       + ((u + eps)/eps)·exp((eps·τ2 + X)/eps)·erfc(z3)
// P[1] c0, P[2] s·ω²_first, P[3] base line, P[4] r_m, P[5] D or M.
template <class T>
SVFIT_INLINE T unitO(const Vars<T>& v, int k, const ModelParams& p, const ScanContext& sc) {
  // Time of the slit at r, referred to 5 cm (the model's own correction).
  const double t = sc.time + sc.slitTimePerCm * ((val(v.r) - 5.0) - 0.0001 * sc.firstRadius);
  const T tau2 = tau2Of(v.s, sc.omega2, t);
  const T E = exp(tau2);
  const T eps = floored(epsRatio(v.s, v.D, v.rm, sc.omega2, p, k), kEpsFloor);
  const T& x = v.x;
  const T X = x * x - 1.0;
  const T u = (E - 1.0) / tau2;
  const T w = 2.0 * sqrt(u * eps * tau2);
  const T z1 = (tau2 * (u - eps) - X) / w;
  const T z2 = (tau2 * (u - eps) + X) / w;
  const T z3 = (tau2 * (u + eps) + X) / w;
  const T B = erfc(z1) - (u / eps) * ad::expErfc((u - eps) * X / (u * eps), z2) +
              ((u + eps) / eps) * ad::expErfc((eps * tau2 + X) / eps, z3);
  return B * exp(-tau2) / 2.0;
}

// Model D: Faxen solution (Philo 1997), per unit c0, α = 0.2487, β = 2.
//   c/c0 = B/(2E)
//   L = 2·ln(r/r_m), a = r_m/(4·√(D·t)), w = a·(τ2 − L)
//   z1 = (α·τ2 + 1)·w, z2 = a·(τ2 + L)
//   B = erfc(z1) − (2/√π)·√(τ2/eps)·exp(−w² − β·(τ2 − L)²/4)
//       + (1 + (τ2 + L)/eps)·exp(L/eps)·erfc(z2)
// P[1] c0, P[2] s·ω²_first, P[3] base line, P[4] r_m, P[5] D or M.
template <class T>
SVFIT_INLINE T unitD(const Vars<T>& v, int k, const ModelParams& p, const ScanContext& sc) {
  constexpr double alpha = 0.2487;
  constexpr double beta = 2.0;
  const double t = slitTime(sc, val(v.r));
  const T tau2 = tau2Of(v.s, sc.omega2, t);
  const T E = exp(tau2);
  const T eps = floored(epsRatio(v.s, v.D, v.rm, sc.omega2, p, k), kEpsFloor);
  const T L = 2.0 * log(v.x);
  // D·t at least 1e-300: a zero or negative D would make the width infinite.
  const T Dt = val(v.D) * t > 1e-300 ? v.D * t : T(1e-300);
  const T a = v.rm / (4.0 * sqrt(Dt));
  const T w = a * (tau2 - L);
  const T z1 = (alpha * tau2 + 1.0) * w;
  const T z2 = a * (tau2 + L);
  // exp(L/eps)·erfc(z2) as one exp(L/eps − z2²)·erfcx(z2) pair.
  const T G = ad::expErfc(L / eps, z2);
  const T B = erfc(z1) -
              (2.0 / kSqrtPi) * sqrt(tau2 / eps) * exp(-w * w - beta * sq(tau2 - L) / 4.0) +
              (1.0 + (tau2 + L) / eps) * G;
  return B / (2.0 * E);
}

// Model M: Faxen solution with s = s0·(1 − c·k) (Marand and Kovell 2001),
// Fujita's concentration-dependent boundary plus the meniscus terms of C:
//   c = c0/(x·w²·E)·V + ½·c0·e^(τ2·k)/E·W
//   w = √(1 − k·(1 − 1/E)), v = √((E − 1)·eps), h = eps·(q − 1/q)/4
//   z1 = (w²·q − x + h)/(w·v), z2 = (q − x + h)/v, V = fujitaRatio
//   W = meniscusTerms with y replaced by Y = (0.475·k + 1)·y
// P[1] c0, P[2] s0·ω²_first, P[3] base line, P[4] r_m, P[5] k [1/data unit],
// P[6] D or M.
template <class T>
SVFIT_INLINE T unitM(const Vars<T>& v, int comp, const ModelParams& p, const ScanContext& sc) {
  const double t = slitTime(sc, val(v.r));
  const T& k = v.extra;  // k of s = s0·(1 − c·k)
  const T tau2 = tau2Of(v.s, sc.omega2, t);
  const T q = exp(tau2 / 2.0);  // √E
  const T E = q * q;
  const T& x = v.x;
  const T y = x - 1.0;
  const T eps = floored(epsRatio(v.s, v.D, v.rm, sc.omega2, p, comp), kEpsFloor);
  // w² at least 1e-12: k > 1/(1 − 1/E) has no real boundary.
  T w2 = 1.0 - k * (1.0 - 1.0 / E);
  if (!(val(w2) >= 1e-12)) w2 = T(1e-12);
  const T w = sqrt(w2);
  const T vw = sqrt((E - 1.0) * eps);
  const T h = eps * (q - 1.0 / q) / 4.0;
  const T z1 = (w2 * q - x + h) / (w * vw);
  const T z2 = (q - x + h) / vw;
  const T N0 = sqrt((E - 1.0) * eps / kPi) * w;
  const T V = fujitaRatio(N0, x - h, w, z1, z2);
  const T Y = (0.475 * k + 1.0) * y;
  const T W = meniscusTerms(eps, q, Y);
  return V / (x * w2 * E) + 0.5 * exp(tau2 * k) / E * W;
}

constexpr int kFujitaExtra = 5;  // k of the S/M layout

auto faxen = [](int k) { return faxenSlots(k); };
auto single = [](int) { return faxenSlots(1); };
auto fujita = [](int) { return fujitaSlots(); };

}  // namespace

// ---- C --------------------------------------------------------------------
SVFIT_HOT double concC(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState*) {
  return concComponents<3>(p, r, deriv, faxenComponents(p.paramCount), faxen, 0,
                           [&](const auto& v, int k)
                               SVFIT_LAMBDA_INLINE { return unitC(v, k, p, sc); });
}
SVFIT_HOT double valueC(const ModelParams& p, const ScanContext& sc, double r, PartialTraces*) {
  return valueComponents(p, r, faxenComponents(p.paramCount), faxen, 0,
                         [&](const auto& v, int k)
                             SVFIT_LAMBDA_INLINE { return unitC(v, k, p, sc); });
}
double gradC(const ModelParams& p, const ScanContext& sc, double r) {
  return gradComponents(p, r, faxenComponents(p.paramCount), faxen, 0,
                        [&](const auto& v, int k)
                            SVFIT_LAMBDA_INLINE { return unitC(v, k, p, sc); });
}

// ---- O --------------------------------------------------------------------
SVFIT_HOT double concO(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState*) {
  return concComponents<3>(p, r, deriv, 1, single, 0,
                           [&](const auto& v, int k)
                               SVFIT_LAMBDA_INLINE { return unitO(v, k, p, sc); });
}
SVFIT_HOT double valueO(const ModelParams& p, const ScanContext& sc, double r, PartialTraces*) {
  return valueComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitO(v, k, p, sc);
  });
}
double gradO(const ModelParams& p, const ScanContext& sc, double r) {
  return gradComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitO(v, k, p, sc);
  });
}

// ---- D --------------------------------------------------------------------
SVFIT_HOT double concD(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState*) {
  return concComponents<3>(p, r, deriv, 1, single, 0,
                           [&](const auto& v, int k)
                               SVFIT_LAMBDA_INLINE { return unitD(v, k, p, sc); });
}
SVFIT_HOT double valueD(const ModelParams& p, const ScanContext& sc, double r, PartialTraces*) {
  return valueComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitD(v, k, p, sc);
  });
}
double gradD(const ModelParams& p, const ScanContext& sc, double r) {
  return gradComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitD(v, k, p, sc);
  });
}

// ---- M --------------------------------------------------------------------
SVFIT_HOT double concM(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState*) {
  return concComponents<4>(p, r, deriv, 1, fujita, kFujitaExtra,
                           [&](const auto& v, int k)
                               SVFIT_LAMBDA_INLINE { return unitM(v, k, p, sc); });
}
SVFIT_HOT double valueM(const ModelParams& p, const ScanContext& sc, double r, PartialTraces*) {
  return valueComponents(p, r, 1, fujita, kFujitaExtra,
                         [&](const auto& v, int k)
                             SVFIT_LAMBDA_INLINE { return unitM(v, k, p, sc); });
}
double gradM(const ModelParams& p, const ScanContext& sc, double r) {
  return gradComponents(p, r, 1, fujita, kFujitaExtra,
                        [&](const auto& v, int k)
                            SVFIT_LAMBDA_INLINE { return unitM(v, k, p, sc); });
}

}  // namespace svfit::models::detail
