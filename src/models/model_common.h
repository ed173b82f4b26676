// Pieces shared by the model families (internal to models/): how a component's
// variables are seeded for the three kinds of evaluation, the slit-corrected
// time, the diffusion ratio eps, the meniscus terms of models C, M and N, the
// Fujita ratio of models S and M, and the declarations of the model
// functions that the catalogue lists.
//
// Kinds of evaluation of one formula template:
//   Value   T = double:   the value only (plots, proposals)
//   Params  T = Jet<L>:   lanes 0 s, 1 D, 2 r_m, 3 the fourth parameter of the
//                         model (r_b of R and N, k of S and M)
//   Radius  T = Jet<1>:   d/dr at fixed time (gradient functions)
#pragma once

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "models/catalogue.h"
#include "models/jet.h"

namespace svfit::models::detail {

using ad::Jet;
using ad::val;

enum class Kind { Value, Params, Radius };

// Lanes of a parameter Jet.
inline constexpr int kLaneS = 0, kLaneD = 1, kLaneRm = 2, kLaneExtra = 3;

// Smallest τ2 = 2·s·ω²·t used: a scan at time 0 or s = 0 would divide by zero
// in every boundary width; at 1e-10 the boundary is a step at the meniscus.
inline constexpr double kMinTau2 = 1e-10;

// The variables of one component, seeded for a kind of evaluation.
template <class T>
struct Vars {
  T s, D, rm, extra, r;
  T x;  // r/r_m, formed once per point (the same for every component)
};

// s, D (or D = s·dPerS from a molar mass), r_m, the extra parameter (index 0 =
// none) and r for component k.
template <class T, Kind K>
SVFIT_INLINE Vars<T> seedVars(const ModelParams& p, const ComponentSlots& slots, int k,
                              int extraIndex, double r) {
  const double s = p.P[slots.s];
  const bool massGiven = p.molMassGiven[k];
  const double D = massGiven ? s * p.dPerS[k] : p.P[slots.dOrM];
  const double extra = extraIndex > 0 ? p.P[extraIndex] : 0.0;
  Vars<T> v;
  if constexpr (K == Kind::Params) {
    constexpr int L = T::kLanes;
    v.s = ad::variable<L>(s, kLaneS);
    v.D = ad::variable<L>(D, kLaneD);
    if (massGiven) v.D.d[kLaneS] = p.dPerS[k];  // D follows s
    v.rm = ad::variable<L>(p.P[4], kLaneRm);
    v.extra = T(extra);
    if constexpr (L > kLaneExtra) {
      if (extraIndex > 0) v.extra = ad::variable<L>(extra, kLaneExtra);
    }
    v.r = T(r);
  } else if constexpr (K == Kind::Radius) {
    v.s = T(s);
    v.D = T(D);
    v.rm = T(p.P[4]);
    v.extra = T(extra);
    v.r = ad::variable<1>(r, 0);
  } else {
    v = Vars<T>{s, D, p.P[4], extra, r, 0.0};
  }
  return v;
}

// Parameter positions of component k (1..4) of the three layouts.
constexpr ComponentSlots faxenSlots(int k) {  // C (and H, P, O, D for k = 1)
  return k == 1 ? ComponentSlots{1, 2, 5} : ComponentSlots{3 * k, 3 * k + 1, 3 * k + 2};
}
constexpr ComponentSlots boundedSlots(int k) {  // N (and R for k = 1)
  return k == 1 ? ComponentSlots{1, 2, 7} : ComponentSlots{3 * k + 2, 3 * k + 3, 3 * k + 4};
}
constexpr ComponentSlots fujitaSlots() { return ComponentSlots{1, 2, 6}; }  // S, M
// Components present: component k (2..4) when paramCount exceeds the
// one-component count + 3·(k − 2), i.e. C: > 5, > 8, > 11; N: > 7, > 10, > 13.
constexpr int componentsAbove(int paramCount, int baseCount) {
  return 1 + (paramCount > baseCount) + (paramCount > baseCount + 3) +
         (paramCount > baseCount + 6);
}
constexpr int faxenComponents(int paramCount) { return componentsAbove(paramCount, 5); }
constexpr int boundedComponents(int paramCount) { return componentsAbove(paramCount, 7); }

// Adds c0·u (u the component's value per unit c0) to value and derivatives.
template <class T>
SVFIT_INLINE void addComponent(double c0, const T& u, const ComponentSlots& slots, int extraIndex,
                               ModelDeriv& deriv) {
  deriv[slots.c0] = u.v;
  deriv[slots.s] += c0 * u.d[kLaneS];
  deriv[slots.dOrM] += c0 * u.d[kLaneD];
  deriv[4] += c0 * u.d[kLaneRm];
  if constexpr (T::kLanes > kLaneExtra) {
    if (extraIndex > 0) deriv[extraIndex] += c0 * u.d[kLaneExtra];
  }
}

// Time at which the scanning slit passed r [s].
SVFIT_INLINE double slitTime(const ScanContext& sc, double r) {
  return sc.time + sc.slitTimePerCm * (r - sc.firstRadius);
}

// τ2 = 2·s·ω²·t, at least kMinTau2.
template <class T>
SVFIT_INLINE T tau2Of(const T& s, double omega2, double t) {
  T tau2 = 2.0 * s * omega2 * t;
  if (!(val(tau2) >= kMinTau2)) tau2 = T(kMinTau2);
  return tau2;
}

// eps = 2D/(s·ω²·r_m²), or epsPerS/(r_m²·ω²) when the molar mass is given (the
// derivative structure is the same: with D = s·dPerS it has no s term).
// Not floored.
template <class T>
SVFIT_INLINE T epsRatio(const T& s, const T& D, const T& rm, double omega2, const ModelParams& p,
                        int k) {
  T eps = 2.0 * D / (s * omega2 * ad::sq(rm));
  if (p.molMassGiven[k]) {
    const double rmv = val(rm);
    if constexpr (std::is_same_v<T, double>) {
      eps = p.epsPerS[k] / (rmv * rmv * omega2);
    } else {
      eps.v = p.epsPerS[k] / (rmv * rmv * omega2);
      if constexpr (T::kLanes > 1) eps.d[kLaneS] = 0.0;  // parameter lanes only
    }
  }
  return eps;
}

// eps at least floor (a NaN from s = 0 and D = 0 also takes the floor).
template <class T>
SVFIT_INLINE T floored(const T& eps, double floor) {
  return val(eps) >= floor ? eps : T(floor);
}

// A term exp(e)·erfc(z)·K with z ≥ 0 and e − z² < −80 is below 2e-35·K: the
// correction terms of the meniscus and the bottom (K ≤ 4e4 by the eps floors)
// are skipped whole where they are that small, far below the double
// precision of any model value. The test runs on the plain values, which the
// Jets share bit for bit, so every kind of evaluation skips alike.
inline constexpr double kNegligibleExponent = -80.0;
inline constexpr double kNegligibleErfcZ = 9.5;  // erfc(9.5) = 7e-41
SVFIT_INLINE bool vanishes(double exponent, double z) {
  return z >= 0 && exponent - z * z < kNegligibleExponent;
}

// Meniscus terms of the improved Faxen solution (models C, M and N):
//   W = b·Kb·erfc(zb) − Ka·erfc(za)
//   a = 1 − eps/2, b = 1 + eps/2, m = 2(q − 1), n = 2·√(eps·m)
//   za = (m·a + 2y)/n, zb = (m·b + 2y)/n
//   Ka = exp(2·a·y/eps)/(eps/2), Kb = exp((2y + (eps/2)·m)/eps)/(eps/2)
// Ka·erfc(za) and Kb·erfc(zb) are formed as exp(…)·erfc(…) pairs: the
// exponentials reach e^10000 for small eps while the erfc values underflow.
// Both terms are Gaussians in y around the boundary and vanish far from it.
template <class T>
struct MeniscusArgs {
  T b, za, zb, expA, expB, twoOverEps;
};
template <class T>
SVFIT_INLINE MeniscusArgs<T> meniscusArgs(const T& eps, const T& q, const T& y) {
  const T a = 1.0 - eps / 2.0;
  const T b = 1.0 + eps / 2.0;
  const T m = 2.0 * (q - 1.0);
  const T invN = 0.5 * ad::rsqrt(eps * m);  // 1/n, n = 2·√(eps·m)
  const T invEps = ad::inv(eps);
  const T za = (m * a + 2.0 * y) * invN;
  const T zb = (m * b + 2.0 * y) * invN;
  const T expA = 2.0 * a * y * invEps;        // exponent of Ka
  const T expB = 2.0 * y * invEps + m / 2.0;  // exponent of Kb: (2y + (eps/2)·m)/eps
  return {b, za, zb, expA, expB, 2.0 * invEps};
}
template <class T>
SVFIT_INLINE T meniscusTerms(const T& eps, const T& q, const T& y) {
  if constexpr (!std::is_same_v<T, double>) {
    const MeniscusArgs<double> pre = meniscusArgs(val(eps), val(q), val(y));
    if (vanishes(pre.expA, pre.za) && vanishes(pre.expB, pre.zb)) return T(0.0);
  }
  const MeniscusArgs<T> g = meniscusArgs(eps, q, y);
  if constexpr (std::is_same_v<T, double>) {
    if (vanishes(g.expA, g.za) && vanishes(g.expB, g.zb)) return 0.0;
  }
  const T KaErfc = ad::expErfc(g.expA, g.za) * g.twoOverEps;
  const T KbErfc = ad::expErfc(g.expB, g.zb) * g.twoOverEps;
  return g.b * KbErfc - KaErfc;
}

// exp(x²)·erfc(x) for x ≥ 0 with its derivative 2x·erfcx(x) − 2/√π; from x = 6
// on that difference cancels, so the derivative comes from the continued
// fraction differentiated term by term (error < 1e-15 there).
SVFIT_INLINE double erfcx(double x) { return erfcxInline(x); }
inline double erfcxDeriv(double x) {
  if (x < 6.0) return 2.0 * x * erfcxInline(x) - ad::kTwoOverSqrtPi;
  Jet<1> t = ad::variable<1>(x, 0);
  const Jet<1> xj = t;
  for (int k = 12; k >= 1; --k) t = xj + (0.5 * k) / t;
  return (0.5641895835477563 / t).d[0];
}
template <int N>
SVFIT_INLINE Jet<N> erfcx(const Jet<N>& x) {
  return ad::chain(x, erfcxInline(x.v), erfcxDeriv(x.v));
}

// exp(z²) is taken as 1e4343 when |z| > 100 (the formula's cap).
inline constexpr double kFujitaCapZ = 100.0;
inline constexpr double kFujitaCapExponent = 10000.056914324917;  // ln(1e4343)

// Fujita's solution for a concentration-dependent s (models S and M):
//   V = (N0 + (x − h)·F1)/(w·F2 + F1),  N0 = √((E − 1)·eps/π)·w
//   F1 = exp(z1²)·erfc(z1),  F2 = exp(z2²)·erfc(−z2)
// An F whose erfc argument is negative is 2·exp(z²) − erfcx(|z|) and may be
// astronomically large; numerator and denominator are both scaled by
// exp(−S), S the largest such exponent, so every term stays finite and the
// ratio is unchanged.
template <class T>
SVFIT_INLINE T fujitaRatio(const T& N0, const T& xMinusH, const T& w, const T& z1, const T& z2) {
  struct Split {
    bool active = false;  // has the 2·exp(Z) part
    T expo{};             // Z = z², or the cap
    T rest{};             // ±erfcx(|z|)
  };
  // F(u) = exp(u²)·erfc(u); F1 = F(z1), F2 = F(−z2).
  auto split = [](const T& u) SVFIT_LAMBDA_INLINE {
    Split f;
    if (val(u) >= 0) {
      f.rest = erfcx(u);
    } else {
      f.active = true;
      f.expo = std::fabs(val(u)) > kFujitaCapZ ? T(kFujitaCapExponent) : u * u;
      f.rest = -erfcx(-u);
    }
    return f;
  };
  const Split f1 = split(z1);
  const Split f2 = split(-z2);
  double S = 0;
  if (f1.active) S = val(f1.expo);
  if (f2.active) S = std::max(S, val(f2.expo));
  const double scale = std::exp(-S);
  auto scaled = [&](const Split& f) SVFIT_LAMBDA_INLINE {
    T r = f.rest * scale;
    if (f.active) r = r + 2.0 * ad::exp(f.expo - S);
    return r;
  };
  const T F1 = scaled(f1);
  const T F2 = scaled(f2);
  return (N0 * scale + xMinusH * F1) / (w * F2 + F1);
}

// Σ over components of c0·unit + base line, with every derivative: unit(v, k)
// is the component's value per unit c0 for the seeded variables v.
template <int L, class SlotsFn, class UnitFn>
SVFIT_INLINE double concComponents(const ModelParams& p, double r, ModelDeriv& deriv,
                                   int components, SlotsFn slotsOf, int extraIndex, UnitFn unit) {
  deriv.fill(0.0);
  double sum = 0;
  Jet<L> x;
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = slotsOf(k);
    auto v = seedVars<Jet<L>, Kind::Params>(p, slots, k, extraIndex, r);
    if (k == 1) x = v.r / v.rm;
    v.x = x;
    const Jet<L> u = unit(v, k);
    const double c0 = p.P[slots.c0];
    sum += c0 * u.v;
    addComponent(c0, u, slots, extraIndex, deriv);
  }
  deriv[3] = 1.0;
  return sum + p.P[3];
}

template <class SlotsFn, class UnitFn>
SVFIT_INLINE double valueComponents(const ModelParams& p, double r, int components, SlotsFn slotsOf,
                                    int extraIndex, UnitFn unit) {
  double sum = 0;
  const double x = r / p.P[4];
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = slotsOf(k);
    auto v = seedVars<double, Kind::Value>(p, slots, k, extraIndex, r);
    v.x = x;
    sum += p.P[slots.c0] * unit(v, k);
  }
  return sum + p.P[3];
}

template <class SlotsFn, class UnitFn>
SVFIT_INLINE double gradComponents(const ModelParams& p, double r, int components, SlotsFn slotsOf,
                                   int extraIndex, UnitFn unit) {
  double sum = 0;
  Jet<1> x;
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = slotsOf(k);
    auto v = seedVars<Jet<1>, Kind::Radius>(p, slots, k, extraIndex, r);
    if (k == 1) x = v.r / v.rm;
    v.x = x;
    sum += p.P[slots.c0] * unit(v, k).d[0];
  }
  return sum;
}

// The concentration and value functions are compiled twice, for AVX2 and for
// the baseline, and the loader picks the one the CPU runs (the four lanes of
// a Jet then fit one register). The arithmetic is the same IEEE arithmetic in
// both, so the results are identical.
#if defined(__x86_64__) && defined(__GNUC__)
#define SVFIT_HOT [[gnu::target_clones("arch=x86-64-v3", "default")]]
#else
#define SVFIT_HOT
#endif

// Declarations of the model functions of the catalogue.
#define SVFIT_MODEL_FUNCTIONS(X)                                                            \
  double conc##X(const ModelParams&, const ScanContext&, double, ModelDeriv&, TraceState*); \
  double value##X(const ModelParams&, const ScanContext&, double, PartialTraces*);          \
  double grad##X(const ModelParams&, const ScanContext&, double);
SVFIT_MODEL_FUNCTIONS(H)
SVFIT_MODEL_FUNCTIONS(P)
SVFIT_MODEL_FUNCTIONS(S)
SVFIT_MODEL_FUNCTIONS(R)
SVFIT_MODEL_FUNCTIONS(N)
SVFIT_MODEL_FUNCTIONS(C)
SVFIT_MODEL_FUNCTIONS(M)
SVFIT_MODEL_FUNCTIONS(O)
SVFIT_MODEL_FUNCTIONS(D)
SVFIT_MODEL_FUNCTIONS(F)
#undef SVFIT_MODEL_FUNCTIONS
std::shared_ptr<const LammSeries> prepareF(const AnalysisState&, const ModelParams&, Derivatives,
                                           int threads);

}  // namespace svfit::models::detail
