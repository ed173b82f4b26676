// Lamm equation solver: vertex-centred finite volumes with exponentially fitted
// fluxes, TR-BDF2 time steps, and forward sensitivities through the same
// factorisations.
//
// Space. Nodes r_0 = r_m < r_1 < ... < r_n = r_b carry the concentration; node
// i owns the control volume V_i = ∫ r dr over [r_{i−½}, r_{i+½}] (faces at the
// midpoints, half cells at the meniscus and the bottom). The flow through face
// i+½ (per radian and cm of height), with h = r_{i+1} − r_i, is the
// Scharfetter–Gummel flux
//   F = r_{i+½}·(D/h)·[ B(−Pe)·c_i − B(Pe)·c_{i+1} ],  Pe = s·ω²·r_{i+½}·h/D,
// with B(x) = x/(eˣ − 1). It is central for small Pe, upwind for large Pe, never
// oscillates, and because r_{i+½}·h = (r_{i+1}² − r_i²)/2 it vanishes exactly
// for c_{i+1}/c_i = exp(s·ω²·(r_{i+1}² − r_i²)/(2D)): the discrete solution
// relaxes to the exact sedimentation equilibrium at the nodes. Zero flux through
// the two outer faces. Every flux leaves one volume and enters its neighbour,
// so Σ V_i·c_i (the amount ∫c·r·dr) is kept to rounding by every step.
//
// Time. TR-BDF2 (Bank et al. 1985, γ = 2 − √2): second order and L-stable, so
// the step of the uniform loading against the closed meniscus does not ring.
// Both stages solve one tridiagonal system (V − γ/2·Δt·A)·x = b, an M-matrix
// with dominant columns (A's columns sum to zero), so no pivoting is needed;
// the step size stays on a coarse ladder, so one factorisation serves many
// solves.
//
// Sensitivities. For p in {s, D, r_m, r_b} the derivative w = ∂c/∂p of the
// discrete solution obeys the derivative of each stage equation:
//   stage 1: M·w_γ = V·w_n + k·aw_n + V_p·(c_n − c_γ) + k·A_p(t_γ)·c_γ
//   stage 2: M·w_1 = V·(b1·w_γ − b0·w_n) + V_p·(b1·c_γ − b0·c_n − c_1) + k·A_p(t_1)·c_1
// with the same matrices M = V − k·A, k = γΔt/2, and aw = A·w + A_p·c. These
// are exact derivatives of the discrete solution for a fixed grid shape and
// step sequence. The walls enter through the node radii r_k = r_m + L·ξ_k
// (L = r_b − r_m): ∂r_k/∂r_m = 1 − ξ_k, ∂r_k/∂r_b = ξ_k.
#include "models/lamm_solver.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <numbers>

namespace svfit::models {

// ---- Rotor --------------------------------------------------------------------

double RotorSchedule::omega2Of(const Piece& p, double t) {
  const double tau = t - p.start;
  double w2 = p.a + tau * (p.b + tau * p.c);
  if (p.rampTime > 0) {
    const double f = (t - p.rampStart) / p.rampTime;
    w2 += p.rampPeak * f * f;
  }
  return w2;
}

double RotorSchedule::integralOf(const Piece& p, double t) {
  const double tau = t - p.start;
  double w = tau * (p.a + tau * (p.b / 2 + tau * p.c / 3));
  if (p.rampTime > 0) {
    const double u1 = t - p.rampStart, u0 = p.start - p.rampStart;
    w += p.rampPeak / (3 * p.rampTime * p.rampTime) * (u1 * u1 * u1 - u0 * u0 * u0);
  }
  return w;
}

void RotorSchedule::add(Piece p) {
  p.integral = 0;
  if (!pieces_.empty()) p.integral = pieces_.back().integral + integralOf(pieces_.back(), p.start);
  pieces_.push_back(p);
}

RotorSchedule RotorSchedule::atSpeed(double omega2) {
  RotorSchedule r;
  r.add({.start = 0, .a = omega2});
  return r;
}

RotorSchedule RotorSchedule::linearRamp(double omega2, double rampTime) {
  if (!(rampTime > 0)) return atSpeed(omega2);
  RotorSchedule r;
  r.add({.start = 0, .rampPeak = omega2, .rampStart = 0, .rampTime = rampTime});
  r.add({.start = rampTime, .a = omega2});
  return r;
}

RotorSchedule RotorSchedule::fromScans(std::span<const ScanClock> scans) {
  std::vector<ScanClock> sorted(scans.begin(), scans.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const ScanClock& a, const ScanClock& b) { return a.elapsed < b.elapsed; });
  // Keep the scans whose time and integral increase.
  std::vector<ScanClock> used;
  for (const ScanClock& s : sorted) {
    if (!(s.elapsed > 0 && s.omega2t > 0 && s.omega2 > 0)) continue;
    if (!used.empty() && !(s.elapsed > used.back().elapsed && s.omega2t >= used.back().omega2t))
      continue;
    used.push_back(s);
  }
  if (used.empty()) {
    const double w2 = sorted.empty() ? 0.0 : sorted.front().omega2;
    return atSpeed(w2);
  }

  // The ramp before the first scan: at speed ω1² when t1 ≥ t_a, with
  // W1 = ω1²·(t1 − 2/3·t_a); still rising when t1 < t_a, W1 = ω1²·t1³/(3·t_a²).
  const ScanClock& first = used.front();
  const double w2 = first.omega2, t1 = first.elapsed, W1 = first.omega2t;
  const double lag = t1 - W1 / w2;  // [s]
  RotorSchedule base;
  if (!(lag > 0)) {
    base = atSpeed(W1 / t1);  // no sign of a ramp: the mean over [0, t1]
  } else if (1.5 * lag <= t1) {
    base = linearRamp(w2, 1.5 * lag);
  } else {
    base = linearRamp(w2, t1 * std::sqrt(w2 * t1 / (3 * W1)));
  }

  // The base pieces with a constant added per interval between scans so that
  // the integral meets every header.
  RotorSchedule r;
  double tPrev = 0, wPrev = 0;
  for (std::size_t i = 0; i <= used.size(); ++i) {
    const bool last = i == used.size();
    const double tEnd = last ? std::numeric_limits<double>::infinity() : used[i].elapsed;
    double kappa = 0;
    if (!last)
      kappa = (used[i].omega2t - wPrev - (base.omega2tAt(tEnd) - base.omega2tAt(tPrev))) /
              (tEnd - tPrev);
    if (last) {
      // After the last scan: its own speed.
      r.add({.start = tPrev, .a = used.back().omega2});
      break;
    }
    // Pieces of the base inside [tPrev, tEnd), shifted by kappa; a negative
    // ω² anywhere (inconsistent headers) gives the plain mean instead.
    std::vector<Piece> inside;
    for (std::size_t k = 0; k < base.pieces_.size(); ++k) {
      const Piece& p = base.pieces_[k];
      const double pEnd = k + 1 < base.pieces_.size() ? base.pieces_[k + 1].start
                                                      : std::numeric_limits<double>::infinity();
      if (pEnd <= tPrev || p.start >= tEnd) continue;
      const double s = std::max(p.start, tPrev);
      const double tau = s - p.start;
      // The quadratic part re-centred at s; a ramp keeps its own origin.
      Piece q = p;
      q.start = s;
      q.a = p.a + tau * (p.b + tau * p.c) + kappa;
      q.b = p.b + 2 * tau * p.c;
      inside.push_back(q);
    }
    // Every part rises or stays: the smallest ω² of a piece is at its start.
    // The headers' rounding may push the very start of the ramp a little
    // below 0; that is kept, as it keeps the integrals exact.
    const double mean = (used[i].omega2t - wPrev) / (tEnd - tPrev);
    bool negative = false;
    for (const Piece& p : inside) negative = negative || omega2Of(p, p.start) < -1e-3 * mean;
    if (negative) {
      r.add({.start = tPrev, .a = mean});
    } else {
      for (const Piece& p : inside) r.add(p);
    }
    tPrev = tEnd;
    wPrev = used[i].omega2t;
  }
  return r;
}

std::size_t RotorSchedule::pieceAt(double t) const {
  std::size_t k = 0;
  while (k + 1 < pieces_.size() && pieces_[k + 1].start <= t) ++k;
  return k;
}

double RotorSchedule::omega2At(double t) const {
  if (pieces_.empty()) return 0;
  return omega2Of(pieces_[pieceAt(t)], t);
}

double RotorSchedule::omega2tAt(double t) const {
  if (pieces_.empty()) return 0;
  const Piece& p = pieces_[pieceAt(t)];
  return p.integral + integralOf(p, t);
}

double RotorSchedule::peakOmega2() const {
  double peak = 0;
  for (std::size_t k = 0; k < pieces_.size(); ++k) {
    const Piece& p = pieces_[k];
    peak = std::max(peak, omega2Of(p, p.start));
    // Every part rises or stays: the largest value is at the end.
    if (k + 1 < pieces_.size()) peak = std::max(peak, omega2Of(p, pieces_[k + 1].start));
  }
  return peak;
}

std::vector<double> RotorSchedule::knots() const {
  std::vector<double> t;
  for (std::size_t k = 1; k < pieces_.size(); ++k) t.push_back(pieces_[k].start);
  return t;
}

namespace {

using Vec = LammVector;

// ---- Grid -----------------------------------------------------------------------

constexpr int kStartCells = 256;    // uniform cells of the coarsest grid
constexpr double kStartBeta = 0.2;  // time-step factor on the coarsest grid

// Rounds x > 0 to the nearest power of 2^(1/4); 0 and ∞ stay.
double quantise(double x) {
  if (!(x > 0) || !std::isfinite(x)) return x;
  return std::exp2(std::round(4 * std::log2(x)) / 4);
}

// The node spacing near a wall, as a function G(u) of the distance u from it
// (all in fractions of the column). Next to a wall the profile is an
// exponential of decay length δ: the material piled up against the bottom
// (s > 0), or the depleted layer at the meniscus from which the boundary
// forms. The spacing starts at g0 at the wall, grows as g0·exp(u/(2δ)) (a
// constant error relative to a pile-up's local concentration), then linearly
// with slope κ (a smooth grid), up to the uniform spacing h0 of the column. G
// belongs to the coarsest grid; a grid of 2^k times as many cells has spacing
// G/2^k everywhere, so all refinements share one mapping and converge at a
// clean second order.
constexpr double kGrowthSlope = 0.2;  // κ, largest relative growth of neighbouring cells

struct Wall {
  double delta = 0, g0 = 0, gLin = 0;  // δ, G(0), G(u1)
  double h0 = 0;                       // uniform spacing
  double u1 = 0, u2 = 0;               // ends of the exponential and linear parts
  double phi1 = 0, phi2 = 0;           // ∫du/G up to u1 and u2 [cells]
};

Wall makeWall(double delta, double g0, double h0) {
  Wall w;
  w.delta = delta;
  w.h0 = h0;
  w.g0 = std::min(g0, h0);
  w.gLin = std::max(w.g0, std::min(h0, 2 * kGrowthSlope * delta));
  w.u1 = w.g0 < w.gLin ? 2 * delta * std::log(w.gLin / w.g0) : 0.0;
  w.u2 = w.u1 + (h0 - w.gLin) / kGrowthSlope;
  w.phi1 = w.u1 > 0 ? (2 * delta / w.g0) * -std::expm1(-w.u1 / (2 * delta)) : 0.0;
  w.phi2 = w.phi1 + std::log1p(kGrowthSlope * (w.u2 - w.u1) / w.gLin) / kGrowthSlope;
  return w;
}

double spacingAt(const Wall& w, double u) {
  if (u <= w.u1) return w.g0 * std::exp(u / (2 * w.delta));
  if (u <= w.u2) return w.gLin + kGrowthSlope * (u - w.u1);
  return w.h0;
}

double cellsUpTo(const Wall& w, double u) {  // Φ(u) = ∫₀ᵘ du'/G(u')
  if (u <= 0) return 0;
  if (u <= w.u1) return (2 * w.delta / w.g0) * -std::expm1(-u / (2 * w.delta));
  if (u <= w.u2) return w.phi1 + std::log1p(kGrowthSlope * (u - w.u1) / w.gLin) / kGrowthSlope;
  return w.phi2 + (u - w.u2) / w.h0;
}

double distanceAt(const Wall& w, double phi) {  // inverse of Φ
  if (phi <= 0) return 0;
  if (phi <= w.phi1) return -2 * w.delta * std::log1p(-phi * w.g0 / (2 * w.delta));
  if (phi <= w.phi2)
    return w.u1 + w.gLin * std::expm1(kGrowthSlope * (phi - w.phi1)) / kGrowthSlope;
  return w.u2 + (phi - w.phi2) * w.h0;
}

// Both walls on a column of `length` (cm, or 1 for fractions of the column):
// the spacing is the smaller of the two wall functions; they meet at uMeet
// (from the meniscus), where both are equal.
struct Spacing {
  double length = 0;
  double h0 = 0;
  Wall meniscus, bottom;
  double uMeet = 0;     // from the meniscus
  double phiMeet = 0;   // cells from the meniscus to uMeet
  double phiTotal = 0;  // cells of the coarsest grid
};

// deltaM, deltaB: decay lengths at the two walls, in the unit of `length`.
Spacing makeSpacing(double deltaM, double deltaB, bool floating, double length) {
  Spacing sp;
  sp.length = length;
  sp.h0 = length / kStartCells;
  // The pile-up wall also scales its first cell with √(δ/L): the larger the
  // pile-up relative to the loading, the finer it must be resolved.
  auto pileUp = [&](double delta) {
    return makeWall(delta, std::min(0.5 * std::sqrt(delta / length) * sp.h0, 0.25 * delta),
                    sp.h0);
  };
  auto depletion = [&](double delta) { return makeWall(delta, 0.25 * delta, sp.h0); };
  sp.meniscus = floating ? pileUp(deltaM) : depletion(deltaM);
  sp.bottom = floating ? depletion(deltaB) : pileUp(deltaB);

  double lo = 0, hi = length;
  for (int it = 0; it < 200 && hi - lo > 1e-15 * length; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (spacingAt(sp.meniscus, mid) < spacingAt(sp.bottom, length - mid))
      lo = mid;
    else
      hi = mid;
  }
  sp.uMeet = 0.5 * (lo + hi);
  sp.phiMeet = cellsUpTo(sp.meniscus, sp.uMeet);
  sp.phiTotal = sp.phiMeet + cellsUpTo(sp.bottom, length - sp.uMeet);
  return sp;
}

// ---- Operator --------------------------------------------------------------------

// B(x) = x/(eˣ − 1), the Bernoulli function of the exponentially fitted flux.
// expm1 keeps it accurate near 0; for large x it underflows to 0 and for
// large negative x it tends to −x, both as they should.
double bernoulli(double x) {
  if (std::abs(x) < 1e-12) return 1.0 - 0.5 * x;
  return x / std::expm1(x);
}

// B'(x) for x ≥ 0 from B: B' = B·(1 − B − x)/x, by its series near 0 where
// that form cancels.
double bernoulliDeriv(double x, double b) {
  if (x < 1e-2) {
    const double x2 = x * x;
    return -0.5 + x * (1.0 / 6 + x2 * (-1.0 / 180 + x2 / 5040));
  }
  return b * (1 - b - x) / x;
}

// Geometry of the grid: node and face radii, volumes and their derivatives by
// the walls.
struct Geometry {
  int n = 0;
  double length = 0;  // r_b − r_m [cm]
  Vec r, faceR, h, volume;
  Vec faceXi;                            // ξ of each face
  std::array<Vec, kLammParams> dVolume;  // ∂V/∂r_m, ∂V/∂r_b in slots 2 and 3
};

Geometry makeGeometry(const LammGrid& g) {
  Geometry geo;
  const int n = g.cells();
  geo.n = n;
  geo.length = g.bottom - g.meniscus;
  geo.r = g.r;
  geo.faceR.resize(n);
  geo.h.resize(n);
  geo.faceXi.resize(n);
  for (int i = 0; i < n; ++i) {
    geo.faceR[i] = 0.5 * (geo.r[i] + geo.r[i + 1]);
    geo.h[i] = geo.r[i + 1] - geo.r[i];
    geo.faceXi[i] = 0.5 * (g.xi[i] + g.xi[i + 1]);
  }
  geo.volume.resize(n + 1);
  for (auto& v : geo.dVolume) v.assign(n + 1, 0.0);
  for (int i = 0; i <= n; ++i) {
    const double lo = i == 0 ? geo.r[0] : geo.faceR[i - 1];
    const double hi = i == n ? geo.r[n] : geo.faceR[i];
    geo.volume[i] = 0.5 * (hi - lo) * (hi + lo);
    // V = (hi² − lo²)/2: ∂V = hi·∂hi − lo·∂lo, with ∂r/∂r_m = 1 − ξ, ∂r/∂r_b = ξ.
    const double xiLo = i == 0 ? 0.0 : geo.faceXi[i - 1];
    const double xiHi = i == n ? 1.0 : geo.faceXi[i];
    geo.dVolume[kLammMeniscus][i] = hi * (1 - xiHi) - lo * (1 - xiLo);
    geo.dVolume[kLammBottom][i] = hi * xiHi - lo * xiLo;
  }
  return geo;
}

// The transport operator A for one ω²: per face f the coefficients of the
// flow F_f = out_f·c_f − in_f·c_{f+1} out of volume f into volume f+1, so
// (A·c)_f −= F_f and (A·c)_{f+1} += F_f; and the same coefficients
// differentiated by each parameter of the mask.
struct Operator {
  double omega2 = -1;  // the ω² it was assembled for [rad²/s²]
  Vec out, in;
  std::array<Vec, kLammParams> dOut, dIn;
  Vec lower, diag, upper;  // A as a tridiagonal matrix
};

void assemble(const Geometry& geo, const LammSpecies& sp, double omega2, unsigned mask,
              Operator& op) {
  if (op.omega2 == omega2) return;
  op.omega2 = omega2;
  const int n = geo.n;
  op.out.resize(n);
  op.in.resize(n);
  op.lower.assign(n + 1, 0.0);
  op.diag.assign(n + 1, 0.0);
  op.upper.assign(n + 1, 0.0);
  for (int p = 0; p < kLammParams; ++p)
    if (mask & (1u << p)) {
      op.dOut[p].resize(n);
      op.dIn[p].resize(n);
    }
  const double D = sp.D;
  const double sw = sp.s * omega2;  // s·ω² [1/s]
  for (int f = 0; f < n; ++f) {
    const double h = geo.h[f], fr = geo.faceR[f];
    const double pe = sw * fr * h / D;
    const double a = fr * D / h;
    // B(−x) = x + B(x): one exponential per face, taken at |Pe| where the
    // sum has no cancellation.
    const double x = std::abs(pe);
    const double bAbs = bernoulli(x);
    const double out = a * (pe >= 0 ? pe + bAbs : bAbs);  // carries c_f outwards
    const double in = a * (pe >= 0 ? bAbs : bAbs - pe);   // carries c_{f+1} inwards
    op.out[f] = out;
    op.in[f] = in;
    op.diag[f] -= out;
    op.upper[f] += in;
    op.lower[f + 1] += out;
    op.diag[f + 1] -= in;
    if (mask == 0) continue;
    // B and B' at Pe and −Pe (B'(−x) = −1 − B'(x)).
    const double dAbs = bernoulliDeriv(x, bAbs);
    const double bP = pe >= 0 ? bAbs : x + bAbs, dP = pe >= 0 ? dAbs : -1 - dAbs;
    const double bM = pe >= 0 ? x + bAbs : bAbs, dM = pe >= 0 ? -1 - dAbs : dAbs;
    if (mask & lammBit(kLammS)) {  // by s: ∂/∂σ·ω²
      op.dIn[kLammS][f] = fr * fr * dP * omega2;
      op.dOut[kLammS][f] = -fr * fr * dM * omega2;
    }
    if (mask & lammBit(kLammD)) {
      op.dIn[kLammD][f] = fr / h * (bP - pe * dP);
      op.dOut[kLammD][f] = fr / h * (bM + pe * dM);
    }
    if (mask & (lammBit(kLammMeniscus) | lammBit(kLammBottom))) {
      const double inFr = D / h * bP + fr * sw * dP;
      const double outFr = D / h * bM - fr * sw * dM;
      const double inH = -a / h * bP + fr * fr * sw / h * dP;
      const double outH = -a / h * bM - fr * fr * sw / h * dM;
      const double hPerL = h / geo.length;
      if (mask & lammBit(kLammMeniscus)) {  // ∂fr = 1 − ξ_f, ∂h = −h/L
        const double dfr = 1 - geo.faceXi[f];
        op.dIn[kLammMeniscus][f] = inFr * dfr - inH * hPerL;
        op.dOut[kLammMeniscus][f] = outFr * dfr - outH * hPerL;
      }
      if (mask & lammBit(kLammBottom)) {  // ∂fr = ξ_f, ∂h = h/L
        const double dfr = geo.faceXi[f];
        op.dIn[kLammBottom][f] = inFr * dfr + inH * hPerL;
        op.dOut[kLammBottom][f] = outFr * dfr + outH * hPerL;
      }
    }
  }
}

// out = A·c
void applyOperator(const Operator& op, const Vec& c, Vec& out) {
  const int n = static_cast<int>(c.size()) - 1;
  for (int i = 0; i <= n; ++i) {
    double v = op.diag[i] * c[i];
    if (i > 0) v += op.lower[i] * c[i - 1];
    if (i < n) v += op.upper[i] * c[i + 1];
    out[i] = v;
  }
}

// out += factor·A_p·c
void addDerivOperator(const Vec& dOut, const Vec& dIn, const Vec& c, double factor, Vec& out) {
  const int n = static_cast<int>(dOut.size());
  for (int f = 0; f < n; ++f) {
    const double flow = factor * (dOut[f] * c[f] - dIn[f] * c[f + 1]);
    out[f] -= flow;
    out[f + 1] += flow;
  }
}

// LU factors of V − k·A for the Thomas algorithm.
struct Factors {
  double k = -1;            // the k factored [s]
  double omega2 = -1;       // ω² of the operator factored [rad²/s²]
  Vec sub, inverse, super;  // −k·lower_i, 1/pivot_i, upper_i/pivot_i
};

void factor(const Geometry& geo, const Operator& op, double k, Factors& f) {
  if (f.k == k && f.omega2 == op.omega2) return;
  f.k = k;
  f.omega2 = op.omega2;
  const int n = geo.n;
  f.sub.resize(n + 1);
  f.inverse.resize(n + 1);
  f.super.resize(n + 1);
  double prevSuper = 0;
  for (int i = 0; i <= n; ++i) {
    f.sub[i] = i > 0 ? -k * op.lower[i] : 0.0;
    const double pivot = geo.volume[i] - k * op.diag[i] - f.sub[i] * prevSuper;
    f.inverse[i] = 1 / pivot;
    f.super[i] = i < n ? -k * op.upper[i] * f.inverse[i] : 0.0;
    prevSuper = f.super[i];
  }
}

void solveFactored(const Factors& f, const Vec& b, Vec& x) {
  const int n = static_cast<int>(b.size()) - 1;
  x[0] = b[0] * f.inverse[0];
  for (int i = 1; i <= n; ++i) x[i] = (b[i] - f.sub[i] * x[i - 1]) * f.inverse[i];
  for (int i = n - 1; i >= 0; --i) x[i] -= f.super[i] * x[i + 1];
}

}  // namespace

// ---- Grid -------------------------------------------------------------------------

LammGrid lammGrid(const LammSpecies& species, double meniscus, double bottom, double peakOmega2,
                  int level, bool quantised) {
  LammGrid g;
  g.meniscus = meniscus;
  g.bottom = bottom;
  const double length = bottom - meniscus;  // [cm]
  const double sw = std::abs(species.s) * peakOmega2;  // |s|·ω² [1/s]
  const double infinite = std::numeric_limits<double>::infinity();
  double deltaM = sw > 0 ? species.D / (sw * meniscus) : infinite;  // [cm]
  double deltaB = sw > 0 ? species.D / (sw * bottom) : infinite;
  // Quantised: built in fractions of the column from the rounded δ/L, so that
  // the shape does not depend on the walls; else in cm.
  const double unit = quantised ? 1.0 : length;
  if (quantised) {
    deltaM = quantise(deltaM / length);
    deltaB = quantise(deltaB / length);
  }
  const Spacing sp = makeSpacing(deltaM, deltaB, species.s < 0, unit);
  const int n = std::max(8, static_cast<int>(std::ceil(sp.phiTotal))) << level;
  g.r.resize(n + 1);
  g.xi.resize(n + 1);
  for (int k = 0; k <= n; ++k) {
    const double phi = sp.phiTotal * k / n;
    if (phi <= sp.phiMeet) {
      const double u = std::min(sp.uMeet, distanceAt(sp.meniscus, phi));
      g.r[k] = quantised ? meniscus + length * u : meniscus + u;
      g.xi[k] = quantised ? u : u / length;
    } else {
      const double u = std::min(unit - sp.uMeet, distanceAt(sp.bottom, sp.phiTotal - phi));
      g.r[k] = quantised ? meniscus + length * (1 - u) : bottom - u;
      g.xi[k] = quantised ? 1 - u : 1 - u / length;
    }
  }
  g.r[0] = meniscus;
  g.r[n] = bottom;
  g.xi[0] = 0;
  g.xi[n] = 1;
  g.beta = kStartBeta / (1 << level);
  const double scale = quantised ? quantise(length) : 1.0;  // builder's unit → cm
  g.length = quantised ? scale : length;
  g.spacing = scale * sp.h0 * sp.phiTotal / n;
  g.stepD = quantised ? quantise(species.D) : species.D;
  g.stepSpeed = sw * bottom;
  if (quantised) g.stepSpeed = quantise(g.stepSpeed);
  return g;
}

// ---- March ------------------------------------------------------------------------

double marchLamm(const LammSpecies& species, const LammGrid& grid, const RotorSchedule& rotor,
                 std::span<const double> stops, unsigned sensitivities, const LammVisitor& visit) {
  const Geometry geo = makeGeometry(grid);
  const int n = geo.n;
  const unsigned mask = sensitivities & 0xFu;
  int active[kLammParams];
  int count = 0;
  for (int p = 0; p < kLammParams; ++p)
    if (mask & (1u << p)) active[count++] = p;

  constexpr double gamma = 2.0 - std::numbers::sqrt2;
  constexpr double d = gamma / 2;
  constexpr double b1 = 1.0 / (gamma * (2 - gamma));
  constexpr double b0 = (1 - gamma) * (1 - gamma) / (gamma * (2 - gamma));

  Vec c(n + 1, 1.0), ac(n + 1), cNew(n + 1), acNew(n + 1), stage(n + 1), rhs(n + 1);
  std::array<Vec, kLammParams> w, aw, wNew, awNew, wStage;
  for (int q = 0; q < count; ++q) {
    const int p = active[q];
    w[p].assign(n + 1, 0.0);  // the loading does not depend on any parameter
    aw[p].assign(n + 1, 0.0);
    wNew[p].assign(n + 1, 0.0);
    awNew[p].assign(n + 1, 0.0);
    wStage[p].assign(n + 1, 0.0);
  }
  Operator op;
  Factors lu;
  assemble(geo, species, rotor.omega2At(0), mask, op);
  applyOperator(op, c, ac);
  for (int q = 0; q < count; ++q) {  // aw = A·0 + A_p·c
    const int p = active[q];
    addDerivOperator(op.dOut[p], op.dIn[p], c, 1.0, aw[p]);
  }

  LammStepView view;
  view.r = geo.r;
  view.volume = geo.volume;
  view.volumeDeriv = &geo.dVolume;
  view.c0 = view.c1 = &c;
  view.ac0 = view.ac1 = &ac;
  view.w0 = view.w1 = &w;
  view.aw0 = view.aw1 = &aw;
  visit(view);

  const double D = grid.stepD;
  const double speed = grid.stepSpeed;
  auto stepAt = [&](double t) {
    const double width = std::clamp(std::sqrt(2 * D * t), grid.spacing, grid.length);
    // Rounded down to a ladder of 2^(1/8) so that the factors can be reused.
    const double dt =
        std::exp2(std::floor(8 * std::log2(grid.beta * width / (speed + D / width))) / 8);
    return std::max(dt, grid.minStep);
  };
  auto isWall = [](int p) { return p == kLammMeniscus || p == kLammBottom; };

  long steps = 0;
  double t = 0;
  for (double stop : stops) {
    while (t < stop) {
      double dt = stepAt(t);
      double tEnd = t + dt;
      if (t + 1.1 * dt >= stop) {
        tEnd = stop;
        dt = stop - t;
      }
      const double k = d * dt;
      // Stage 1, trapezoidal rule to t + γΔt.
      for (int i = 0; i <= n; ++i) rhs[i] = geo.volume[i] * c[i] + k * ac[i];
      assemble(geo, species, rotor.omega2At(t + gamma * dt), mask, op);
      factor(geo, op, k, lu);
      solveFactored(lu, rhs, stage);
      for (int q = 0; q < count; ++q) {
        const int p = active[q];
        for (int i = 0; i <= n; ++i) rhs[i] = geo.volume[i] * w[p][i] + k * aw[p][i];
        if (isWall(p))
          for (int i = 0; i <= n; ++i) rhs[i] += geo.dVolume[p][i] * (c[i] - stage[i]);
        addDerivOperator(op.dOut[p], op.dIn[p], stage, k, rhs);
        solveFactored(lu, rhs, wStage[p]);
      }
      // Stage 2, BDF2 through t, t + γΔt and t + Δt.
      for (int i = 0; i <= n; ++i) rhs[i] = geo.volume[i] * (b1 * stage[i] - b0 * c[i]);
      assemble(geo, species, rotor.omega2At(tEnd), mask, op);
      factor(geo, op, k, lu);
      solveFactored(lu, rhs, cNew);
      applyOperator(op, cNew, acNew);
      for (int q = 0; q < count; ++q) {
        const int p = active[q];
        for (int i = 0; i <= n; ++i) rhs[i] = geo.volume[i] * (b1 * wStage[p][i] - b0 * w[p][i]);
        if (isWall(p))
          for (int i = 0; i <= n; ++i)
            rhs[i] += geo.dVolume[p][i] * (b1 * stage[i] - b0 * c[i] - cNew[i]);
        addDerivOperator(op.dOut[p], op.dIn[p], cNew, k, rhs);
        solveFactored(lu, rhs, wNew[p]);
        applyOperator(op, wNew[p], awNew[p]);
        addDerivOperator(op.dOut[p], op.dIn[p], cNew, 1.0, awNew[p]);
      }

      view.t0 = t;
      view.t1 = tEnd;
      view.c0 = &c;
      view.ac0 = &ac;
      view.c1 = &cNew;
      view.ac1 = &acNew;
      view.w0 = &w;
      view.aw0 = &aw;
      view.w1 = &wNew;
      view.aw1 = &awNew;
      visit(view);
      c.swap(cNew);
      ac.swap(acNew);
      for (int q = 0; q < count; ++q) {
        w[active[q]].swap(wNew[active[q]]);
        aw[active[q]].swap(awNew[active[q]]);
      }
      t = tEnd;
      ++steps;
    }
  }
  return static_cast<double>(steps) * n;
}

// ---- Interpolation ---------------------------------------------------------------

LammStencil lammStencil(std::span<const double> nodes, double r) {
  LammStencil st;
  const int n = static_cast<int>(nodes.size()) - 1;
  if (n < 3 || !(r >= nodes.front() && r <= nodes.back())) return st;
  int k = static_cast<int>(std::upper_bound(nodes.begin(), nodes.end(), r) - nodes.begin()) - 1;
  k = std::clamp(k, 1, n - 2);
  st.first = k - 1;
  const double* x = nodes.data() + (k - 1);
  for (int m = 0; m < 4; ++m) {
    double w = 1, dw = 0;
    for (int q = 0; q < 4; ++q) {
      if (q == m) continue;
      const double denom = x[m] - x[q];
      // d/dr of Π (r − x_q)/(x_m − x_q) by the product rule.
      dw = dw * (r - x[q]) / denom + w / denom;
      w *= (r - x[q]) / denom;
    }
    st.w[m] = w;
    st.dw[m] = dw;
  }
  return st;
}

std::array<double, 4> hermiteWeights(double th) {
  return {(1 + 2 * th) * (1 - th) * (1 - th), th * (1 - th) * (1 - th), th * th * (3 - 2 * th),
          th * th * (th - 1)};
}

}  // namespace svfit::models
