// Bounded-cell solutions with a bottom boundary: model R (synthetic boundary
// with a bottom, no meniscus condition) and model N (standard sector cell with
// meniscus and bottom, up to four components).
//
// Each component contributes c0/(2E)·(T_m + T_b): a boundary trace T_m (R: the
// Faxen boundary erfc(z0); N: with the meniscus terms of model C) and a bottom
// trace T_b built from the image of the boundary at the bottom, whose
// position and width are corrected by the empirical peaks A(eps), B(eps) of
// the scan. A term linear in r, (r − linearRefRadius)·P[6], is added.
//
//   t = scanTime + slitTimePerCm·(r − first radius), sw = s·ω², τ2 = 2·sw·t,
//   E = e^τ2, q = √E, y = r/r_m − 1, xb = r/r_b, ρ² = (r_m/r_b)²
//   eps = 2D/(sw·r_m²) (epsPerS/(r_m²·ω²) for a molar mass); floor 5e-5 (R),
//   1e-4 (N). A and B are taken at the unfloored eps, with their derivatives.
//
// Validity test: while a scan is open, the summed traces of this point and the
// previous one give Δm and Δb; once the bottom trace grows at least as fast as
// the boundary trace (Δm/Δb ≤ 1.0001) beyond the boundary midpoint
// (y > q − 1, q and eps of the last component), the scan is decided with
//   V = 0.21·Δb/(r − r_prev)·(35·eps + 1)/meniscusCorr.
// Δb = 0 (the bottom term flat or underflowed) leaves the test open.
#include <cmath>

#include "models/model_common.h"

namespace svfit::models::detail {

namespace {

using ad::erfc;
using ad::exp;
using ad::sq;
using ad::sqrt;

constexpr int kBottomIndex = 5;  // r_b, the fourth lane of every component
constexpr int kSlopeIndex = 6;   // slope of the linear term

// The traces of one component: per unit c0 (T/(2E)) and raw (for the test).
template <class T>
struct BoundedUnit {
  T boundary;          // T_m/(2E)
  T bottom;            // T_b/(2E)
  double rawBoundary;  // T_m
  double rawBottom;    // T_b
  double q;
  double eps;  // floored eps of this component
};

// A correction value at the unfloored eps with its derivative through eps.
template <class T>
T correction(double value, double slope, const T& epsRaw) {
  if constexpr (std::is_same_v<T, double>) {
    return value;
  } else {
    return T(value, slope * epsRaw.d);
  }
}

// Arguments of the bottom trace (see unitBounded).
template <class T>
struct BottomArgs {
  T bp, zb1, zb2, zb3, exp2, exp3, twoOverEb;
};
template <class T>
SVFIT_INLINE BottomArgs<T> bottomArgs(const T& eps, const T& rho2, const T& A, const T& B,
                                      const T& q, const T& xb, const T& tau2) {
  const T w = 2.0 * xb * (eps * A * (q - 1.0) + 1.0) - 2.0;
  const T eb = eps * rho2 * (eps * B * (q - 1.0) + 1.0);
  const T invG = 0.5 * ad::rsqrt(eb * tau2);  // 1/g, g = 2·√(eb·τ2)
  const T bp = 1.0 + eb / 2.0;
  const T bm = 1.0 - eb / 2.0;
  const T invEb = ad::inv(eb);
  const T zb1 = (bm * tau2 - w) * invG;
  const T zb2 = -(bm * tau2 + w) * invG;
  const T zb3 = -(bp * tau2 + w) * invG;
  const T wOverEb = w * invEb;
  return {bp, zb1, zb2, zb3, bm * wOverEb, tau2 / 2.0 + wOverEb, 2.0 * invEb};
}

// Far from the bottom every part of T_b is negligible (model_common.h): the
// trace is then 0, decided on plain values.
template <class T>
SVFIT_INLINE bool bottomVanishes(const BottomArgs<T>& a) {
  return val(a.zb1) > kNegligibleErfcZ && vanishes(val(a.exp2), val(a.zb2)) &&
         vanishes(val(a.exp3), val(a.zb3));
}

template <class T>
SVFIT_INLINE T bottomTrace(const T& eps, const T& rho2, const T& A, const T& B, const T& q,
                           const T& xb, const T& tau2) {
  if constexpr (!std::is_same_v<T, double>) {
    if (bottomVanishes(
            bottomArgs(val(eps), val(rho2), val(A), val(B), val(q), val(xb), val(tau2)))) {
      return T(0.0);
    }
  }
  const BottomArgs<T> a = bottomArgs(eps, rho2, A, B, q, xb, tau2);
  if constexpr (std::is_same_v<T, double>) {
    if (bottomVanishes(a)) return 0.0;
  }
  const T K2Erfc = ad::expErfc(a.exp2, a.zb2) * a.twoOverEb;
  const T K3Erfc = ad::expErfc(a.exp3, a.zb3) * a.twoOverEb;
  return a.bp * K3Erfc - erfc(a.zb1) - K2Erfc;
}

// Boundary and bottom traces of component k.
//   R: T_m = erfc(z0), v = √((E' − 1)·eps), E' = e^(τ2·(1 + t0/t))
//   N: T_m = erfc(z0) + b·Kb·erfc(zb) − Ka·erfc(za), v = √((E − 1)·eps)
//   z0 = (eps·(1/q − q)/4 + q − y − 1)/v
//   w  = 2·xb·(eps·A·(q − 1) + 1) − 2                      bottom coordinate
//   eb = eps·ρ²·(eps·B·(q − 1) + 1), g = 2·√(eb·τ2), b± = 1 ± eb/2
//   zb1 = (b−·τ2 − w)/g, zb2 = −(b−·τ2 + w)/g, zb3 = −(b+·τ2 + w)/g
//   K2 = e^(b−·w/eb)·2/eb, K3 = e^(τ2/2 + w/eb)·2/eb
//   T_b = b+·K3·erfc(zb3) − erfc(zb1) − K2·erfc(zb2)
// P[1] c0, P[2] s·ω²_first, P[3] base line, P[4] r_m, P[5] r_b [cm], P[6] slope
// [data units/cm], P[7] D or M; N: components 2..4 at P[8..10], P[11..13], P[14..16].
template <class T, bool kModelN>
SVFIT_INLINE BoundedUnit<T> unitBounded(const Vars<T>& v, int k, const ModelParams& p,
                                        const ScanContext& sc) {
  const double epsFloor = kModelN ? 1e-4 : 5e-5;
  const double t = slitTime(sc, val(v.r));
  const T& rb = v.extra;
  const T tau2 = tau2Of(v.s, sc.omega2, t);
  const T q = exp(tau2 / 2.0);  // √E
  const T E = q * q;
  const T invRb = ad::inv(rb);
  const T y = v.x - 1.0;
  const T xb = v.r * invRb;
  const T rho2 = sq(v.rm * invRb);
  const T epsRaw = epsRatio(v.s, v.D, v.rm, sc.omega2, p, k);
  const T eps = floored(epsRaw, epsFloor);
  const T A = correction(sc.corrA[k], sc.corrADeriv[k], epsRaw);
  const T B = correction(sc.corrB[k], sc.corrBDeriv[k], epsRaw);

  // Boundary trace.
  T Ediff = E;
  if constexpr (!kModelN) {
    const double offsetRatio = t > 0 ? sc.diffTimeOffset / t : 0.0;
    Ediff = exp(tau2 * (1.0 + offsetRatio));
  }
  const T invV = ad::rsqrt((Ediff - 1.0) * eps);  // 1/v, v = √((E' − 1)·eps)
  const T z0 = (eps * (ad::inv(q) - q) / 4.0 + q - y - 1.0) * invV;
  T Tm = erfc(z0);
  if constexpr (kModelN) Tm = Tm + meniscusTerms(eps, q, y);

  const T Tb = bottomTrace(eps, rho2, A, B, q, xb, tau2);
  const T halfInvE = 0.5 * ad::inv(E);
  return {Tm * halfInvE, Tb * halfInvE, val(Tm), val(Tb), val(q), val(eps)};
}

// One step of the validity test (see the head of the file).
void validityStep(TraceState& st, double tm, double tb, double r, double y, double q, double eps,
                  double meniscusCorrValue) {
  if (st.newScanFlag) {
    const double dm = tm - st.prevBoundary;
    const double db = tb - st.prevBottom;
    const bool open = db == 0.0 || !(dm / db <= 1.0001) || y <= q - 1.0;
    if (!open) {
      st.validity = 0.21 * db / (r - st.prevRadius) * (35.0 * eps + 1.0) / meniscusCorrValue;
      st.decided = true;
      st.newScanFlag = false;
    }
  }
  st.prevBoundary = tm;
  st.prevBottom = tb;
  st.prevRadius = r;
}

template <bool kModelN>
int componentsOf(const ModelParams& p) {
  return kModelN ? boundedComponents(p.paramCount) : 1;
}

// (r − linearRefRadius)·P[6], the term linear in r [data units].
SVFIT_INLINE double linearTerm(const ModelParams& p, const ScanContext& sc, double r) {
  return (r - sc.linearRefRadius) * p.P[kSlopeIndex];
}

template <bool kModelN>
SVFIT_INLINE double concBounded(const ModelParams& p, const ScanContext& sc, double r,
                                ModelDeriv& deriv, TraceState* traces) {
  deriv.fill(0.0);
  double sum = 0, sumTm = 0, sumTb = 0, lastQ = 1, lastEps = 0;
  const int components = componentsOf<kModelN>(p);
  Jet<4> x;
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = boundedSlots(k);
    auto v = seedVars<Jet<4>, Kind::Params>(p, slots, k, kBottomIndex, r);
    if (k == 1) x = v.r / v.rm;
    v.x = x;
    const BoundedUnit<Jet<4>> u = unitBounded<Jet<4>, kModelN>(v, k, p, sc);
    const Jet<4> total = u.boundary + u.bottom;
    const double c0 = p.P[slots.c0];
    sum += c0 * total.v;
    addComponent(c0, total, slots, kBottomIndex, deriv);
    sumTm += u.rawBoundary;
    sumTb += u.rawBottom;
    lastQ = u.q;
    lastEps = u.eps;
  }
  deriv[3] = 1.0;
  deriv[kSlopeIndex] = r - sc.linearRefRadius;
  if (traces != nullptr) {
    validityStep(*traces, sumTm, sumTb, r, r / p.P[4] - 1.0, lastQ, lastEps, sc.meniscusCorr);
  }
  return sum + p.P[3] + linearTerm(p, sc, r);
}

template <bool kModelN>
SVFIT_INLINE double valueBounded(const ModelParams& p, const ScanContext& sc, double r,
                                 PartialTraces* parts) {
  double sum = 0, boundary = 0, bottom = 0;
  const int components = componentsOf<kModelN>(p);
  const double x = r / p.P[4];
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = boundedSlots(k);
    auto v = seedVars<double, Kind::Value>(p, slots, k, kBottomIndex, r);
    v.x = x;
    const BoundedUnit<double> u = unitBounded<double, kModelN>(v, k, p, sc);
    const double c0 = p.P[slots.c0];
    sum += c0 * (u.boundary + u.bottom);
    boundary += c0 * u.boundary;
    bottom += c0 * u.bottom;
  }
  if (parts != nullptr) *parts = PartialTraces{boundary, bottom};
  return sum + p.P[3] + linearTerm(p, sc, r);
}

template <bool kModelN>
SVFIT_INLINE double gradBounded(const ModelParams& p, const ScanContext& sc, double r) {
  double sum = 0;
  const int components = componentsOf<kModelN>(p);
  Jet<1> x;
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = boundedSlots(k);
    auto v = seedVars<Jet<1>, Kind::Radius>(p, slots, k, kBottomIndex, r);
    if (k == 1) x = v.r / v.rm;
    v.x = x;
    const BoundedUnit<Jet<1>> u = unitBounded<Jet<1>, kModelN>(v, k, p, sc);
    sum += p.P[slots.c0] * (u.boundary + u.bottom).d[0];
  }
  return sum;
}

}  // namespace

SVFIT_HOT double concR(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState* traces) {
  return concBounded<false>(p, sc, r, deriv, traces);
}
SVFIT_HOT double valueR(const ModelParams& p, const ScanContext& sc, double r,
                        PartialTraces* parts) {
  return valueBounded<false>(p, sc, r, parts);
}
double gradR(const ModelParams& p, const ScanContext& sc, double r) {
  return gradBounded<false>(p, sc, r);
}

SVFIT_HOT double concN(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                       TraceState* traces) {
  return concBounded<true>(p, sc, r, deriv, traces);
}
SVFIT_HOT double valueN(const ModelParams& p, const ScanContext& sc, double r,
                        PartialTraces* parts) {
  return valueBounded<true>(p, sc, r, parts);
}
double gradN(const ModelParams& p, const ScanContext& sc, double r) {
  return gradBounded<true>(p, sc, r);
}

}  // namespace svfit::models::detail
