// Synthetic-boundary solutions of the Lamm equation (a boundary that starts as
// a step at r_m, no meniscus or bottom conditions): models H, P, S, after
// Fujita, Foundations of Ultracentrifugal Analysis (1975), eqs. 2.162, 2.147,
// 2.115.
//
// Written once per model as a template of the value per unit c0 and
// instantiated for value, parameter derivatives and radial gradient
// (model_common.h). Symbols, scan s at radius r:
//   sw = s·ω² (ω² relative to the first scan)
//   t  = scanTime + slitTimePerCm·(r − first radius)   (H and S; P uses scanTime)
//   t0 = diffusion-time offset (added to the time of the diffusion terms)
//   D  = the D-or-M parameter, or s·dPerS for a molar mass
#include <cmath>

#include "models/model_common.h"

namespace svfit::models::detail {

namespace {

using ad::erfc;
using ad::exp;
using ad::gauss;
using ad::log;
using ad::sqrt;

constexpr double kEpsFloor = 5e-5;
constexpr double kPi = 3.141592653589793;
constexpr int kFujitaExtra = 5;  // k of the S/M layout

// Model H: Hiester and Vermeulen (Fujita 2.162), per unit c0.
//   c/c0 = ½·(Et·erfc(z) + G)
//   τ = sw·t, E0 = e^(2·sw·t0), Et = e^(−2τ), ρ = r·√Et
//   eps = 2D/sw [cm²] ≥ 5e-5 (epsPerS/ω² for a molar mass)
//   z = (r_m − ρ)/√(eps·(E0 − Et))
//   G = √(Et·eps·(E0 − Et))·e^(−z²)/√(π·ρ)/(√r_m + √ρ)
// P[1] c0, P[2] s·ω²_first [1/s], P[3] base line, P[4] r_m [cm], P[5] D or M.
template <class T>
SVFIT_INLINE T unitH(const Vars<T>& v, int k, const ModelParams& p, const ScanContext& sc) {
  const double t = slitTime(sc, val(v.r));
  const T sw = v.s * sc.omega2;
  const T tau = tau2Of(v.s, sc.omega2, t) / 2.0;
  const T E0 = exp(2.0 * sw * sc.diffTimeOffset);
  const T Et = exp(-2.0 * tau);
  const T rho = v.r * sqrt(Et);
  T eps = 2.0 * v.D / sw;
  if (p.molMassGiven[k]) {
    // eps = epsPerS/ω², independent of s.
    if constexpr (std::is_same_v<T, double>) {
      eps = p.epsPerS[k] / sc.omega2;
    } else {
      eps.v = p.epsPerS[k] / sc.omega2;
      if constexpr (T::kLanes > 1) eps.d[kLaneS] = 0.0;  // parameter lanes only
    }
  }
  eps = floored(eps, kEpsFloor);
  const T spread = eps * (E0 - Et);
  const T z = (v.rm - rho) / sqrt(spread);
  // e^(−z²) underflows to an exact 0 in double from |z| = 27.3 on, well inside
  // the 1106.5 guard that the extended-range form needs.
  const T G = sqrt(Et * spread) * gauss(z) / sqrt(kPi * rho) / (sqrt(v.rm) + sqrt(rho));
  return 0.5 * (Et * erfc(z) + G);
}

// Model P: the ln x − τ solution (Fujita 2.147), per unit c0.
//   c/c0 = ½·e^(−2τ)·erfc(z)
//   τ = sw·t_s (t_s = scanTime, no slit correction)
//   z = (τ − ln(r/r_m))·r_m/2 / √((t_s + t0)·D)
// P[1] c0, P[2] s·ω²_first, P[3] base line, P[4] r_m, P[5] D or M.
// With a molar mass D = s·dPerS follows s, and so does the s-derivative. The
// gradient is the exact d/dr (a cut of e^(−z²) at |z| = 20, e^−400, would be
// below double precision and is left out).
template <class T>
SVFIT_INLINE T unitP(const Vars<T>& v, int, const ModelParams&, const ScanContext& sc) {
  const double ts = sc.time;
  const T tau = tau2Of(v.s, sc.omega2, ts) / 2.0;
  const T a = (tau - log(v.x)) * v.rm / 2.0;
  // (t_s + t0)·D at least 1e-300: a zero D would make the width zero.
  const T TD =
      val(v.D) * (ts + sc.diffTimeOffset) > 1e-300 ? v.D * (ts + sc.diffTimeOffset) : T(1e-300);
  const T z = a / sqrt(TD);
  return 0.5 * exp(-2.0 * tau) * erfc(z);
}

// Model S: concentration-dependent s = s0·(1 − c·k) (Fujita 2.115), per unit c0.
//   c/c0 = V/(x·w²·E)
//   τ = sw·t, E = e^(2τ), E' = e^(2τ·(1 + t0/t)), q = e^τ, x = r/r_m
//   eps = 2D/(sw·r_m²) ≥ 5e-5
//   w = √(1 − k·(1 − 1/E)), v = √((E' − 1)·eps), h = eps·(q − 1/q)/4
//   z1 = (w²·q − x + h)/(w·v), z2 = (q − x + h)/v
//   V = (√((E − 1)·eps/π)·w + (x − h)·F1)/(w·F2 + F1)   (fujitaRatio)
// P[1] c0, P[2] s0·ω²_first, P[3] base line, P[4] r_m, P[5] k [1/data unit],
// P[6] D or M.
template <class T>
SVFIT_INLINE T unitS(const Vars<T>& v, int comp, const ModelParams& p, const ScanContext& sc) {
  const double t = slitTime(sc, val(v.r));
  const T& k = v.extra;
  const T tau2 = tau2Of(v.s, sc.omega2, t);
  const T E = exp(tau2);
  const double offsetRatio = t > 0 ? sc.diffTimeOffset / t : 0.0;
  const T Ediff = exp(tau2 * (1.0 + offsetRatio));
  const T q = sqrt(E);
  const T& x = v.x;
  const T eps = floored(epsRatio(v.s, v.D, v.rm, sc.omega2, p, comp), kEpsFloor);
  // w² at least 1e-12: k > 1/(1 − 1/E) has no real boundary.
  T w2 = 1.0 - k * (1.0 - 1.0 / E);
  if (!(val(w2) >= 1e-12)) w2 = T(1e-12);
  const T w = sqrt(w2);
  const T vw = sqrt((Ediff - 1.0) * eps);
  const T h = eps * (q - 1.0 / q) / 4.0;
  const T z1 = (w2 * q - x + h) / (w * vw);
  const T z2 = (q - x + h) / vw;
  const T N0 = sqrt((E - 1.0) * eps / kPi) * w;
  const T V = fujitaRatio(N0, x - h, w, z1, z2);
  return V / (x * w2 * E);
}

auto single = [](int) { return faxenSlots(1); };
auto fujita = [](int) { return fujitaSlots(); };

}  // namespace

// ---- H --------------------------------------------------------------------
SVFIT_HOT double concH(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState*) {
  return concComponents<3>(p, r, deriv, 1, single, 0,
                           [&](const auto& v, int k)
                               SVFIT_LAMBDA_INLINE { return unitH(v, k, p, sc); });
}
SVFIT_HOT double valueH(const ModelParams& p, const ScanContext& sc, double r, PartialTraces*) {
  return valueComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitH(v, k, p, sc);
  });
}
double gradH(const ModelParams& p, const ScanContext& sc, double r) {
  return gradComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitH(v, k, p, sc);
  });
}

// ---- P --------------------------------------------------------------------
SVFIT_HOT double concP(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState*) {
  return concComponents<3>(p, r, deriv, 1, single, 0,
                           [&](const auto& v, int k)
                               SVFIT_LAMBDA_INLINE { return unitP(v, k, p, sc); });
}
SVFIT_HOT double valueP(const ModelParams& p, const ScanContext& sc, double r, PartialTraces*) {
  return valueComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitP(v, k, p, sc);
  });
}
double gradP(const ModelParams& p, const ScanContext& sc, double r) {
  return gradComponents(p, r, 1, single, 0, [&](const auto& v, int k) SVFIT_LAMBDA_INLINE {
    return unitP(v, k, p, sc);
  });
}

// ---- S --------------------------------------------------------------------
SVFIT_HOT double concS(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState*) {
  return concComponents<4>(p, r, deriv, 1, fujita, kFujitaExtra,
                           [&](const auto& v, int k)
                               SVFIT_LAMBDA_INLINE { return unitS(v, k, p, sc); });
}
SVFIT_HOT double valueS(const ModelParams& p, const ScanContext& sc, double r, PartialTraces*) {
  return valueComponents(p, r, 1, fujita, kFujitaExtra,
                         [&](const auto& v, int k)
                             SVFIT_LAMBDA_INLINE { return unitS(v, k, p, sc); });
}
double gradS(const ModelParams& p, const ScanContext& sc, double r) {
  return gradComponents(p, r, 1, fujita, kFujitaExtra,
                        [&](const auto& v, int k)
                            SVFIT_LAMBDA_INLINE { return unitS(v, k, p, sc); });
}

}  // namespace svfit::models::detail
