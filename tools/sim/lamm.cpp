// Lamm equation solver: vertex-centred finite volumes with exponentially fitted
// fluxes, TR-BDF2 time steps, and grid refinement with Richardson extrapolation.
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
// so Σ V_i·c_i (the amount ∫c·r·dr) is kept to rounding by every step. The
// nodes are uniform in the column and graded towards both walls, where the
// depletion layer at the meniscus and the pile-up at the bottom are
// exponentials of decay length D/(s·ω²·r).
//
// Time. TR-BDF2 (Bank et al. 1985, γ = 2 − √2): second order and L-stable, so
// the step of the uniform loading against the closed meniscus does not ring.
// Both stages solve one tridiagonal system (V − γ/2·Δt·A)·x = b. The step
// follows the physics: Δt = β·w/(|s|ω²r_b + D/w) with the boundary width
// w = max(h, √(2Dt)), i.e. a fixed fraction of the time a boundary needs to
// move or spread by its own width; it starts small at t = 0 and grows.
//
// Output. Each scan time is a step end; points that a moving slit passes
// between step ends are interpolated in time by cubic Hermite polynomials
// (dc/dt = V⁻¹·A·c is known at both ends), and in radius by the cubic through
// the four nearest nodes.
//
// Refinement. Each component is solved for unit loading with n cells and time
// factor β, then with 2n and β/2, 4n and β/4, ... Both errors are of second
// order, so (4·u_2n − u_n)/3 removes the leading term; refinement stops when
// that extrapolated answer changes by no more than the tolerance times the
// larger of the loading and the local concentration (the pile-up at the
// bottom reaches many times the loading), and the last extrapolation is
// returned. A work limit keeps very sharp boundaries (at 42000 rpm s/D above
// about 5e7 S·s/cm², e.g. 15 S with D = 2e-7 cm²/s) from running for minutes;
// they are returned with their larger estimate and converged = false.
#include "sim/lamm.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

namespace svfit::sim {
namespace {

using Vec = std::vector<double>;

constexpr double kSvedberg = 1e-13;   // 1 S [s]
constexpr double kKelvin = 273.15;    // 0 °C [K]
constexpr int kStartCells = 256;      // uniform cells of the coarsest grid
constexpr int kMaxCells = 1 << 18;    // refinement stops here, converged or not
constexpr double kMaxWork = 3e8;      // ... or when the next grid would need more cells × steps
constexpr double kStartBeta = 0.2;    // time-step factor on the coarsest grid

// B(x) = x/(eˣ − 1), the Bernoulli function of the exponentially fitted flux.
// expm1 keeps it accurate near 0; for large x it underflows to 0 and for
// large negative x it tends to −x, both as they should.
double bernoulli(double x) {
  if (std::abs(x) < 1e-12) return 1.0 - 0.5 * x;
  return x / std::expm1(x);
}

struct Grid {
  int n = 0;      // cells; nodes 0..n
  double h = 0;   // node spacing away from the graded end [cm]
  Vec r;          // node radii [cm]
  Vec volume;     // ∫ r dr over each control volume [cm²]
  Vec faceR;      // r_{i+½}, faces 0..n−1 [cm]
};

// The node spacing near a wall, as a function G(u) of the distance u from it.
// Next to a wall the profile is an exponential of decay length
// δ = D/(|s|·ω²·r): the material piled up against the bottom (s > 0), or the
// depleted layer at the meniscus from which the boundary forms. The spacing
// starts at g0 at the wall, grows as g0·exp(u/(2δ)) (a constant error relative
// to a pile-up's local concentration), then linearly with slope κ (a smooth
// grid), up to the uniform spacing h0 of the column. G belongs to the coarsest
// grid; a grid of 2^k times as many cells has spacing G/2^k everywhere, so all
// refinements share one mapping and converge at a clean second order.
constexpr double kGrowthSlope = 0.2;  // κ, largest relative growth of neighbouring cells

struct Wall {
  double delta = 0, g0 = 0, gLin = 0;       // δ, G(0), G(u1) [cm]
  double h0 = 0;                            // uniform spacing [cm]
  double u1 = 0, u2 = 0;                    // ends of the exponential and linear parts [cm]
  double phi1 = 0, phi2 = 0;                // ∫du/G up to u1 and u2 [cells]
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
  if (phi <= w.phi2) return w.u1 + w.gLin * std::expm1(kGrowthSlope * (phi - w.phi1)) / kGrowthSlope;
  return w.u2 + (phi - w.phi2) * w.h0;
}

// Both walls: the spacing is the smaller of the two wall functions; they meet
// at uMeet (from the meniscus), where both are equal.
struct Spacing {
  double length = 0;       // r_b − r_m [cm]
  double h0 = 0;           // uniform spacing of the coarsest grid [cm]
  Wall meniscus, bottom;
  double uMeet = 0;        // [cm] from the meniscus
  double phiMeet = 0;      // cells from the meniscus to uMeet
  double phiTotal = 0;     // cells of the coarsest grid
};

Spacing makeSpacing(const Experiment& run, const Component& comp) {
  Spacing sp;
  sp.length = run.bottom - run.meniscus;
  sp.h0 = sp.length / kStartCells;
  const double sw = std::abs(comp.s) * kSvedberg * omega2FromRpm(run.rpm);  // |s|·ω² [1/s]
  const double infinite = std::numeric_limits<double>::infinity();
  const double deltaM = sw > 0 ? comp.D / (sw * run.meniscus) : infinite;
  const double deltaB = sw > 0 ? comp.D / (sw * run.bottom) : infinite;
  // The pile-up wall also scales its first cell with √(δ/L): the larger the
  // pile-up relative to the loading, the finer it must be resolved.
  auto pileUp = [&](double delta) {
    return makeWall(delta, std::min(0.5 * std::sqrt(delta / sp.length) * sp.h0, 0.25 * delta),
                    sp.h0);
  };
  auto depletion = [&](double delta) { return makeWall(delta, 0.25 * delta, sp.h0); };
  sp.meniscus = comp.s >= 0 ? depletion(deltaM) : pileUp(deltaM);
  sp.bottom = comp.s >= 0 ? pileUp(deltaB) : depletion(deltaB);

  double lo = 0, hi = sp.length;
  for (int it = 0; it < 200 && hi - lo > 1e-15 * sp.length; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (spacingAt(sp.meniscus, mid) < spacingAt(sp.bottom, sp.length - mid))
      lo = mid;
    else
      hi = mid;
  }
  sp.uMeet = 0.5 * (lo + hi);
  sp.phiMeet = cellsUpTo(sp.meniscus, sp.uMeet);
  sp.phiTotal = sp.phiMeet + cellsUpTo(sp.bottom, sp.length - sp.uMeet);
  return sp;
}

// Cells of the coarsest grid.
int coarsestCells(const Spacing& sp) {
  return std::max(8, static_cast<int>(std::ceil(sp.phiTotal)));
}

Grid makeGrid(const Experiment& run, const Spacing& sp, int n) {
  Grid g;
  g.n = n;
  g.h = sp.h0 * sp.phiTotal / n;
  g.r.resize(n + 1);
  g.faceR.resize(n);
  g.volume.resize(n + 1);
  for (int k = 0; k <= n; ++k) {
    const double phi = sp.phiTotal * k / n;
    g.r[k] = phi <= sp.phiMeet
                 ? run.meniscus + std::min(sp.uMeet, distanceAt(sp.meniscus, phi))
                 : run.bottom - std::min(sp.length - sp.uMeet,
                                         distanceAt(sp.bottom, sp.phiTotal - phi));
  }
  g.r[0] = run.meniscus;
  g.r[n] = run.bottom;
  for (int i = 0; i < n; ++i) g.faceR[i] = 0.5 * (g.r[i] + g.r[i + 1]);
  for (int i = 0; i <= n; ++i) {
    const double lo = i == 0 ? g.r[0] : g.faceR[i - 1];
    const double hi = i == n ? g.r[n] : g.faceR[i];
    g.volume[i] = 0.5 * (hi - lo) * (hi + lo);
  }
  return g;
}

// The tridiagonal transport operator A: (A·c)_i = lower_i·c_{i−1} + diag_i·c_i
// + upper_i·c_{i+1}, the net inflow into volume i [cm²·conc/s].
struct Operator {
  Vec lower, diag, upper;
  double omega2 = -1;  // ω² it was assembled for [rad²/s²]
};

void assemble(const Grid& g, double s, double D, double omega2, Operator& op) {
  if (op.omega2 == omega2) return;
  op.omega2 = omega2;
  op.lower.assign(g.n + 1, 0.0);
  op.diag.assign(g.n + 1, 0.0);
  op.upper.assign(g.n + 1, 0.0);
  const double sw = s * kSvedberg * omega2;  // s·ω² [1/s]
  for (int f = 0; f < g.n; ++f) {
    const double h = g.r[f + 1] - g.r[f];
    const double pe = sw * g.faceR[f] * h / D;
    const double a = g.faceR[f] * D / h;
    // B(−x) = x + B(x): one exponential per face, taken at |Pe| where the
    // sum has no cancellation.
    const double bAbs = bernoulli(std::abs(pe));
    const double out = a * (pe >= 0 ? pe + bAbs : bAbs);  // carries c_f outwards
    const double in = a * (pe >= 0 ? bAbs : bAbs - pe);   // carries c_{f+1} inwards
    op.diag[f] -= out;
    op.upper[f] += in;
    op.lower[f + 1] += out;
    op.diag[f + 1] -= in;
  }
}

void applyOperator(const Operator& op, const Vec& c, Vec& out) {
  const int n = static_cast<int>(c.size()) - 1;
  for (int i = 0; i <= n; ++i) {
    double v = op.diag[i] * c[i];
    if (i > 0) v += op.lower[i] * c[i - 1];
    if (i < n) v += op.upper[i] * c[i + 1];
    out[i] = v;
  }
}

// LU factors of V − k·A for the Thomas algorithm. The matrix is an M-matrix
// with dominant columns (A's columns sum to zero), so no pivoting is needed.
// Both TR-BDF2 stages use the same matrix, and the step size is kept on a
// coarse ladder, so one factorisation serves many solves.
struct Factors {
  double k = -1;        // the k factored [s]
  double omega2 = -1;   // ω² of the operator factored [rad²/s²]
  Vec sub, inverse, super;  // −k·lower_i, 1/pivot_i, upper_i/pivot_i
};

void factor(const Grid& g, const Operator& op, double k, Factors& f) {
  if (f.k == k && f.omega2 == op.omega2) return;
  f.k = k;
  f.omega2 = op.omega2;
  const int n = g.n;
  f.sub.resize(n + 1);
  f.inverse.resize(n + 1);
  f.super.resize(n + 1);
  double prevSuper = 0;
  for (int i = 0; i <= n; ++i) {
    f.sub[i] = i > 0 ? -k * op.lower[i] : 0.0;
    const double pivot = g.volume[i] - k * op.diag[i] - f.sub[i] * prevSuper;
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

double omega2At(const Experiment& run, double t) {
  const double w2 = omega2FromRpm(run.rpm);
  if (run.accelerationTime <= 0 || t >= run.accelerationTime) return w2;
  const double f = t / run.accelerationTime;
  return w2 * f * f;
}

// Where a requested radius sits on the grid: the first of four nodes and the
// cubic Lagrange weights of those nodes.
struct Stencil {
  int first = -1;  // -1: outside the solution column, value 0
  double w[4] = {0, 0, 0, 0};
};

Stencil stencilAt(const Grid& g, const Experiment& run, double r) {
  Stencil st;
  if (!(r >= run.meniscus && r <= run.bottom)) return st;
  int k = static_cast<int>(std::upper_bound(g.r.begin(), g.r.end(), r) - g.r.begin()) - 1;
  k = std::clamp(k, 1, g.n - 2);
  st.first = k - 1;
  for (int m = 0; m < 4; ++m) {
    double w = 1;
    for (int q = 0; q < 4; ++q)
      if (q != m) w *= (r - g.r[k - 1 + q]) / (g.r[k - 1 + m] - g.r[k - 1 + q]);
    st.w[m] = w;
  }
  return st;
}

struct Event {
  double t;   // elapsed time of the point [s]
  int scan;
  int point;
};

struct Request {
  std::span<const double> times;
  std::span<const double> radii;
  std::vector<Event> events;  // every point inside the column, by time
  Vec stops;                  // step ends: scan times and the last point time
};

// Profile of one component at unit loading on the grid of n cells with time
// factor beta, written to out[scan][point]. Returns the work done (cells × steps).
double solveComponent(const Experiment& run, const Component& comp, const Spacing& sp,
                      const Request& req, int n, double beta, std::vector<Vec>& out) {
  const Grid g = makeGrid(run, sp, n);
  std::vector<Stencil> stencils(req.radii.size());
  for (std::size_t j = 0; j < req.radii.size(); ++j)
    stencils[j] = stencilAt(g, run, req.radii[j]);

  constexpr double gamma = 2.0 - std::numbers::sqrt2;
  constexpr double d = gamma / 2;
  constexpr double b1 = 1.0 / (gamma * (2 - gamma));
  constexpr double b0 = (1 - gamma) * (1 - gamma) / (gamma * (2 - gamma));

  Vec c(n + 1, 1.0), ac(n + 1), cNew(n + 1), acNew(n + 1), stage(n + 1), rhs(n + 1);
  Operator op;
  Factors lu;
  assemble(g, comp.s, comp.D, omega2At(run, 0), op);
  applyOperator(op, c, ac);

  const double D = comp.D;
  const double speed = std::abs(comp.s) * kSvedberg * omega2FromRpm(run.rpm) * run.bottom;
  const double length = run.bottom - run.meniscus;
  auto stepAt = [&](double t) {
    const double w = std::clamp(std::sqrt(2 * D * t), g.h, length);
    // Rounded down to a ladder of 2^(1/8) so that the factors can be reused.
    return std::exp2(std::floor(8 * std::log2(beta * w / (speed + D / w))) / 8);
  };

  // Hermite interpolation between (c, ac) at t0 and (cNew, acNew) at t1.
  auto valueAt = [&](const Event& e, double t0, double t1, bool atStart) {
    const Stencil& st = stencils[e.point];
    double v = 0;
    for (int m = 0; m < 4; ++m) {
      const int i = st.first + m;
      double ci;
      if (atStart) {
        ci = c[i];
      } else {
        const double dt = t1 - t0;
        const double th = (e.t - t0) / dt;
        const double h00 = (1 + 2 * th) * (1 - th) * (1 - th);
        const double h10 = th * (1 - th) * (1 - th);
        const double h01 = th * th * (3 - 2 * th);
        const double h11 = th * th * (th - 1);
        ci = h00 * c[i] + h10 * dt * ac[i] / g.volume[i] + h01 * cNew[i] +
             h11 * dt * acNew[i] / g.volume[i];
      }
      v += st.w[m] * ci;
    }
    out[e.scan][e.point] = v;
  };

  std::size_t next = 0;
  long steps = 0;
  double t = 0;
  while (next < req.events.size() && req.events[next].t <= 0)
    valueAt(req.events[next++], 0, 0, true);

  for (double stop : req.stops) {
    while (t < stop) {
      double dt = stepAt(t);
      double tEnd = t + dt;
      if (t + 1.1 * dt >= stop) {
        tEnd = stop;
        dt = stop - t;
      }
      // Stage 1, trapezoidal rule to t + γΔt.
      for (int i = 0; i <= n; ++i) rhs[i] = g.volume[i] * c[i] + d * dt * ac[i];
      assemble(g, comp.s, D, omega2At(run, t + gamma * dt), op);
      factor(g, op, d * dt, lu);
      solveFactored(lu, rhs, stage);
      // Stage 2, BDF2 through t, t + γΔt and t + Δt.
      for (int i = 0; i <= n; ++i) rhs[i] = g.volume[i] * (b1 * stage[i] - b0 * c[i]);
      assemble(g, comp.s, D, omega2At(run, tEnd), op);
      factor(g, op, d * dt, lu);
      solveFactored(lu, rhs, cNew);
      applyOperator(op, cNew, acNew);

      while (next < req.events.size() && req.events[next].t <= tEnd)
        valueAt(req.events[next++], t, tEnd, false);
      c.swap(cNew);
      ac.swap(acNew);
      t = tEnd;
      ++steps;
    }
  }
  return static_cast<double>(steps) * n;
}

void checkRun(const Experiment& run, std::span<const double> times, std::span<const double> radii,
              double secondsPerCm, double tolerance) {
  auto fail = [](const std::string& what) { throw std::invalid_argument(what); };
  if (!(run.meniscus > 0 && run.bottom > run.meniscus))
    fail("the meniscus must lie above 0 and below the bottom");
  if (!(run.rpm > 0)) fail("the rotor speed must be above 0 rpm");
  if (!(run.accelerationTime >= 0)) fail("the acceleration time must not be negative");
  if (run.components.empty() || run.components.size() > kMaxComponents)
    fail("a run needs one to four components");
  for (const Component& comp : run.components) {
    if (!std::isfinite(comp.s)) fail("a sedimentation coefficient is not a number");
    if (!(comp.D > 0 && std::isfinite(comp.D))) fail("a diffusion coefficient is not above 0");
    if (!std::isfinite(comp.c0)) fail("a loading concentration is not a number");
  }
  for (double t : times)
    if (!(t >= 0 && std::isfinite(t))) fail("a scan time is negative or not a number");
  for (double r : radii)
    if (!std::isfinite(r)) fail("a radius is not a number");
  if (!(secondsPerCm >= 0 && std::isfinite(secondsPerCm)))
    fail("the scanning time per cm must not be negative");
  if (!(tolerance > 0)) fail("the tolerance must be above 0");
}

}  // namespace

double omega2FromRpm(double rpm) {
  const double omega = std::numbers::pi * rpm / 30.0;  // ω [rad/s]
  return omega * omega;
}

double omega2tIntegral(const Experiment& run, double t) {
  const double w2 = omega2FromRpm(run.rpm);
  const double ta = run.accelerationTime;
  if (ta <= 0) return w2 * t;
  if (t <= ta) return w2 * t * t * t / (3 * ta * ta);
  return w2 * (t - 2 * ta / 3);
}

double diffusionFromMolarMass(double s, double molarMass, double vbar, double rho,
                              double temperatureC) {
  return s * kSvedberg * kGasConstant * (temperatureC + kKelvin) /
         (molarMass * (1 - vbar * rho));
}

double molarMassFromDiffusion(double s, double D, double vbar, double rho,
                              double temperatureC) {
  return s * kSvedberg * kGasConstant * (temperatureC + kKelvin) / (D * (1 - vbar * rho));
}

Profiles solveLamm(const Experiment& run, std::span<const double> times,
                   std::span<const double> radii, double secondsPerCm, double tolerance) {
  checkRun(run, times, radii, secondsPerCm, tolerance);

  Request req{times, radii, {}, {}};
  const double r0 = radii.empty() ? 0.0 : radii[0];
  for (std::size_t i = 0; i < times.size(); ++i) {
    for (std::size_t j = 0; j < radii.size(); ++j) {
      if (!(radii[j] >= run.meniscus && radii[j] <= run.bottom)) continue;
      const double t = times[i] + secondsPerCm * (radii[j] - r0);
      if (t < 0) throw std::invalid_argument("a point is scanned before the run started");
      req.events.push_back({t, static_cast<int>(i), static_cast<int>(j)});
    }
  }
  std::stable_sort(req.events.begin(), req.events.end(),
                   [](const Event& a, const Event& b) { return a.t < b.t; });
  req.stops.assign(times.begin(), times.end());
  if (!req.events.empty()) req.stops.push_back(req.events.back().t);
  std::sort(req.stops.begin(), req.stops.end());
  req.stops.erase(std::unique(req.stops.begin(), req.stops.end()), req.stops.end());

  Profiles result;
  result.c.assign(times.size(), Vec(radii.size(), 0.0));
  if (req.events.empty()) {
    result.converged = true;
    return result;
  }
  using Table = std::vector<Vec>;
  const Table zero(times.size(), Vec(radii.size(), 0.0));
  Table total = zero;  // Σ over components of the last change [data units]

  for (const Component& comp : run.components) {
    const Spacing sp = makeSpacing(run, comp);
    int n = coarsestCells(sp);
    double beta = kStartBeta;
    Table coarse = zero, fine = zero, extrapolated = zero, previous = zero, change = zero;
    double work = solveComponent(run, comp, sp, req, n, beta, coarse);
    double worst = 0;
    for (int level = 1;; ++level) {
      n *= 2;
      beta /= 2;
      work = solveComponent(run, comp, sp, req, n, beta, fine);
      // Second order in h and Δt: (4·fine − coarse)/3 removes the leading error.
      worst = 0;
      for (std::size_t i = 0; i < times.size(); ++i) {
        for (std::size_t j = 0; j < radii.size(); ++j) {
          extrapolated[i][j] = fine[i][j] + (fine[i][j] - coarse[i][j]) / 3;
          const double step = level >= 2 ? std::abs(extrapolated[i][j] - previous[i][j])
                                         : std::abs(fine[i][j] - coarse[i][j]);
          change[i][j] = step;
          worst = std::max(worst, step / std::max(1.0, std::abs(extrapolated[i][j])));
        }
      }
      std::swap(coarse, fine);
      std::swap(extrapolated, previous);
      if (level >= 2 && worst <= tolerance) break;
      if (4 * work > kMaxWork || 2 * n > kMaxCells) break;
    }
    for (std::size_t i = 0; i < times.size(); ++i)
      for (std::size_t j = 0; j < radii.size(); ++j) {
        result.c[i][j] += comp.c0 * previous[i][j];
        total[i][j] += std::abs(comp.c0) * change[i][j];
      }
    result.cells = std::max(result.cells, n);
  }
  double sumC0 = 0;
  for (const Component& comp : run.components) sumC0 += std::abs(comp.c0);
  for (std::size_t i = 0; i < times.size(); ++i)
    for (std::size_t j = 0; j < radii.size(); ++j)
      if (total[i][j] > 0)
        result.errorEstimate = std::max(
            result.errorEstimate, total[i][j] / std::max(sumC0, std::abs(result.c[i][j])));
  result.converged = result.errorEstimate <= tolerance;
  return result;
}

}  // namespace svfit::sim
