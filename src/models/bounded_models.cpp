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
  T boundary;        // T_m/(2E)
  T bottom;          // T_b/(2E)
  double rawBoundary;  // T_m
  double rawBottom;    // T_b
  double q;
  double eps;        // floored eps of this component
};

// A correction value at the unfloored eps with its derivative through eps.
template <class T>
T correction(double value, double slope, const T& epsRaw) {
  if constexpr (std::is_same_v<T, double>) {
    return value;
  } else {
    T c(value);
    for (std::size_t i = 0; i < c.d.size(); ++i) c.d[i] = slope * epsRaw.d[i];
    return c;
  }
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
BoundedUnit<T> unitBounded(const Vars<T>& v, int k, const ModelParams& p, const ScanContext& sc) {
  const double epsFloor = kModelN ? 1e-4 : 5e-5;
  const double t = slitTime(sc, val(v.r));
  const T& rb = v.extra;
  const T tau2 = tau2Of(v.s, sc.omega2, t);
  const T E = exp(tau2);
  const T q = sqrt(E);
  const T y = v.r / v.rm - 1.0;
  const T xb = v.r / rb;
  const T rho2 = sq(v.rm / rb);
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
  const T vw = sqrt((Ediff - 1.0) * eps);
  const T z0 = (eps * (1.0 / q - q) / 4.0 + q - y - 1.0) / vw;
  T Tm = erfc(z0);
  if constexpr (kModelN) Tm = Tm + meniscusTerms(eps, q, y);

  // Bottom trace.
  const T w = 2.0 * xb * (eps * A * (q - 1.0) + 1.0) - 2.0;
  const T eb = eps * rho2 * (eps * B * (q - 1.0) + 1.0);
  const T g = 2.0 * sqrt(eb * tau2);
  const T bp = 1.0 + eb / 2.0;
  const T bm = 1.0 - eb / 2.0;
  const T zb1 = (bm * tau2 - w) / g;
  const T zb2 = -(bm * tau2 + w) / g;
  const T zb3 = -(bp * tau2 + w) / g;
  const T K2Erfc = ad::expErfc(bm * w / eb, zb2) * (2.0 / eb);
  const T K3Erfc = ad::expErfc(tau2 / 2.0 + w / eb, zb3) * (2.0 / eb);
  const T Tb = bp * K3Erfc - erfc(zb1) - K2Erfc;

  const T twoE = 2.0 * E;
  return {Tm / twoE, Tb / twoE, val(Tm), val(Tb), val(q), val(eps)};
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

template <bool kModelN>
double linearTerm(const ModelParams& p, const ScanContext& sc, double r) {
  return (r - sc.linearRefRadius) * p.P[kSlopeIndex];
}

template <bool kModelN>
double concBounded(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
                   TraceState* traces) {
  deriv.fill(0.0);
  double sum = 0, sumTm = 0, sumTb = 0, lastQ = 1, lastEps = 0;
  const int components = componentsOf<kModelN>(p);
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = boundedSlots(k);
    const auto v = seedVars<Jet<4>, Kind::Params>(p, slots, k, kBottomIndex, r);
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
  return sum + p.P[3] + linearTerm<kModelN>(p, sc, r);
}

template <bool kModelN>
double valueBounded(const ModelParams& p, const ScanContext& sc, double r, PartialTraces* parts) {
  double sum = 0, boundary = 0, bottom = 0;
  const int components = componentsOf<kModelN>(p);
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = boundedSlots(k);
    const auto v = seedVars<double, Kind::Value>(p, slots, k, kBottomIndex, r);
    const BoundedUnit<double> u = unitBounded<double, kModelN>(v, k, p, sc);
    const double c0 = p.P[slots.c0];
    sum += c0 * (u.boundary + u.bottom);
    boundary += c0 * u.boundary;
    bottom += c0 * u.bottom;
  }
  if (parts != nullptr) *parts = PartialTraces{boundary, bottom};
  return sum + p.P[3] + linearTerm<kModelN>(p, sc, r);
}

template <bool kModelN>
double gradBounded(const ModelParams& p, const ScanContext& sc, double r) {
  double sum = 0;
  const int components = componentsOf<kModelN>(p);
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = boundedSlots(k);
    const auto v = seedVars<Jet<1>, Kind::Radius>(p, slots, k, kBottomIndex, r);
    const BoundedUnit<Jet<1>> u = unitBounded<Jet<1>, kModelN>(v, k, p, sc);
    sum += p.P[slots.c0] * (u.boundary + u.bottom).d[0];
  }
  return sum;
}

}  // namespace

double concR(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
             TraceState* traces) {
  return concBounded<false>(p, sc, r, deriv, traces);
}
double valueR(const ModelParams& p, const ScanContext& sc, double r, PartialTraces* parts) {
  return valueBounded<false>(p, sc, r, parts);
}
double gradR(const ModelParams& p, const ScanContext& sc, double r) {
  return gradBounded<false>(p, sc, r);
}

double concN(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
             TraceState* traces) {
  return concBounded<true>(p, sc, r, deriv, traces);
}
double valueN(const ModelParams& p, const ScanContext& sc, double r, PartialTraces* parts) {
  return valueBounded<true>(p, sc, r, parts);
}
double gradN(const ModelParams& p, const ScanContext& sc, double r) {
  return gradBounded<true>(p, sc, r);
}

}  // namespace svfit::models::detail
