// Model F: numerical solutions of the Lamm equation of the sector cell,
// fitted directly, for one to four non-interacting components.
//   c(r,t) = Σ_k c0_k·u_k(r,t) + P[3] + (r − r_lin)·P[6]                 [data units]
//   u_k:  the unit-loading solution of lamm_solver.h for s_k = P[s_k]/ω²_first,
//         D_k (or D_k = P[s_k]·dPerS_k from a molar mass), meniscus P[4], bottom P[5]
// P[1] c0, P[2] s·ω²_first [1/s], P[3] base line, P[4] r_m [cm], P[5] r_b [cm],
// P[6] slope of the linear term, P[7] D [cm²/s] or M [g/mol]; components 2..4
// at (8, 9, 10), (11, 12, 13), (14, 15, 16) — model N's layout.
//
// Time. The rotor's ω²(t) is rebuilt from the scan headers (elapsed time and
// ω²t of every loaded scan, RotorSchedule::fromScans), so diffusion acts over
// the real elapsed time and sedimentation over ∫ω²dt, through the
// acceleration too. A point of scan i at radius r is taken at
//   t = elapsed_i + (scanTime_i − runTime_i) + slit·(r − r_first,i),
// the scanning-time correction of the other models moved onto the elapsed
// time.
//
// Resolution. Every component is solved on two grids of the solver with the
// quantised rule (lamm_solver.h), levels 1 and 2 (2 and 3 for sharp
// boundaries), the second with twice the cells and half the time step, and
// the two are combined as fine + (fine − coarse)/3, which removes the
// leading second-order error of both. The quantised discretisation stays the
// same while the parameters move within a ladder cell: the solution is a
// smooth function of s, D, r_m and r_b there, and the sensitivities solved
// with it are its exact derivatives. Against the refined solution of the
// simulator the error is a few 1e-5 of the loading, up to 2e-4 of the local
// value in the pile-up of fast species (tests/models). Components and grids
// are solved in parallel, the sensitivities with their solution.
//
// Storage. Each grid keeps its nodes at the step ends where scans are taken
// (c and each sensitivity, and for slit-corrected points their time
// derivatives); a point between two step ends is interpolated by cubic
// Hermite polynomials in time and by the cubic through the four nearest
// nodes in radius. The last few solutions are cached per component: a change
// of c0, base line or slope solves nothing, a change of one component's s or
// D solves only that one.
#include "models/lamm_model.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>

#include "models/model_common.h"

namespace svfit::models {

namespace {

using detail::boundedComponents;
using detail::boundedSlots;

constexpr int kCoarseLevel = 1;  // solver grid of the coarse solution; the fine one is the next
constexpr double kMinDiffusion = 1e-11;  // D floor [cm²/s]: D = 0 has no finite flux
// D cap [cm²/s]: far above any solute (sucrose 5e-6), where a species is
// spread evenly within seconds; larger values would only shorten the steps.
constexpr double kMaxDiffusion = 1e-3;
// The run is crossed in no more than this many steps: a fit may try a species
// so fast or so diffuse that the step rule would ask for millions of steps
// (the scheme is L-stable, so longer steps stay sound).
constexpr double kMaxSteps = 20000;
constexpr std::size_t kCacheSize = 6;  // component solutions kept

// The series clock: per loaded scan its elapsed time, ω²t integral, ω² and
// time origin, then the slit time; solutions are reused only for the same clock.
struct Clock {
  std::shared_ptr<const std::vector<double>> key;
  std::vector<RotorSchedule::ScanClock> scans;
  PerScan<double> origin{};
  double slit = 0;
};

Clock clockOf(const AnalysisState& st) {
  Clock c;
  c.slit = st.slitTimePerCm;
  auto key = std::make_shared<std::vector<double>>();
  for (int s = 1; s <= st.scanCount; ++s) {
    // A series without header times (built by hand) is taken as at speed.
    const double runTime = st.scanRunTime[s] > 0 ? st.scanRunTime[s] : st.scanTime[s];  // [s]
    const double elapsed = st.scanElapsed[s] > 0 ? st.scanElapsed[s] : runTime;         // [s]
    const double omega2 = st.scanOmega2[s] * st.omega2First;  // [rad²/s²]
    c.scans.push_back({elapsed, runTime * omega2, omega2});
    c.origin[s] = elapsed + (st.scanTime[s] - runTime) - c.slit * st.scanRadius[s][1];
    key->insert(key->end(), {elapsed, runTime * omega2, omega2, c.origin[s]});
  }
  key->push_back(c.slit);
  key->push_back(st.omega2First);
  c.key = std::move(key);
  return c;
}

// Times [s] whose solution a point of the series may ask for: per scan the
// interval the slit needs over the loaded radii (0.1 cm more on either side,
// for the walls of the cell), merged. They depend on the series only, never
// on the parameters: the step sequence, and with it the discretisation, must
// not change when r_m or r_b moves.
struct Window {
  double from, to;
};

std::vector<Window> windowsOf(const AnalysisState& st, const Clock& clock) {
  std::vector<Window> w;
  for (int s = 1; s <= st.scanCount; ++s) {
    const int last = std::max({1, st.scanPointCount[s], st.scanLastPoint[s]});
    const double rA = st.scanRadius[s][1] - 0.1, rB = st.scanRadius[s][last] + 0.1;  // [cm]
    const double a = std::max(0.0, clock.origin[s] + clock.slit * rA);
    const double b = std::max(0.0, clock.origin[s] + clock.slit * rB);
    if (b > 0) w.push_back({a, b});
  }
  std::sort(w.begin(), w.end(), [](const Window& x, const Window& y) { return x.from < y.from; });
  std::vector<Window> merged;
  for (const Window& x : w) {
    if (!merged.empty() && x.from <= merged.back().to)
      merged.back().to = std::max(merged.back().to, x.to);
    else
      merged.push_back(x);
  }
  return merged;
}

// The level of the coarse grid. Where a boundary is sharp (s·ω²·r·h/D, the
// cell Péclet number of the uniform part of the grid, above 1 on the coarse
// grid) the fluxes turn upwind and the error is no longer of clean second
// order, so the extrapolation would not remove it: such components get finer
// grids. The number is formed from the quantised rule, so the level stays
// the same within a ladder cell.
int coarseLevel(const LammSpecies& species, double rm, double rb, double peakOmega2) {
  const LammGrid g = lammGrid(species, rm, rb, peakOmega2, 0, true);
  const double peclet = g.stepSpeed * g.spacing / g.stepD;  // on the level-0 grid
  return peclet > 2 ? kCoarseLevel + 1 : kCoarseLevel;      // Pe above 1 on the coarse grid
}

// Solves one component on the grid of `level` and keeps the step ends that
// the windows need.
void solveLevel(const LammSpecies& species, double rm, double rb, unsigned mask, int level,
                bool rates, const RotorSchedule& rotor, const std::vector<double>& stops,
                const std::vector<Window>& windows, LammLevel& out) {
  LammGrid grid = lammGrid(species, rm, rb, rotor.peakOmega2(), level, true);
  grid.minStep = stops.empty() ? 0.0 : stops.back() / kMaxSteps;
  const int n = grid.cells() + 1;
  out.r = grid.r;
  out.rates = rates;
  const int per = rates ? 2 : 1;  // blocks per quantity
  int blocks = per;
  for (int p = 0; p < kLammParams; ++p) {
    if (mask & (1u << p)) {
      out.slot[p] = blocks;
      blocks += per;
    }
  }
  out.blocks = blocks;

  std::size_t next = 0;    // first window that may still matter
  bool endStored = false;  // the snapshot of the last step end was kept
  auto store = [&](double t, const LammVector& c, const LammVector& ac,
                   const std::array<LammVector, kLammParams>& w,
                   const std::array<LammVector, kLammParams>& aw, const LammStepView& v,
                   bool follows) {
    out.times.push_back(t);
    out.follows.push_back(follows ? 1 : 0);
    const std::size_t base = out.data.size();
    out.data.resize(base + static_cast<std::size_t>(blocks) * n);
    double* x = out.data.data() + base;
    for (int i = 0; i < n; ++i) x[i] = c[i];
    if (rates)
      for (int i = 0; i < n; ++i) x[n + i] = ac[i] / v.volume[i];  // dc/dt
    for (int p = 0; p < kLammParams; ++p) {
      if (out.slot[p] < 0) continue;
      double* wp = x + static_cast<std::size_t>(out.slot[p]) * n;
      for (int i = 0; i < n; ++i) wp[i] = w[p][i];
      if (!rates) continue;
      // dw/dt = (A·w + A_p·c − V_p·dc/dt)/V
      const LammVector& dV = (*v.volumeDeriv)[p];
      for (int i = 0; i < n; ++i) wp[n + i] = (aw[p][i] - dV[i] * x[n + i]) / v.volume[i];
    }
  };
  auto visit = [&](const LammStepView& v) {
    if (v.t1 <= 0) return;  // the loading: answered without a snapshot
    while (next < windows.size() && windows[next].to < v.t0) ++next;
    bool atEnd = false, inside = false;
    for (std::size_t j = next; j < windows.size() && windows[j].from <= v.t1; ++j) {
      atEnd = atEnd || v.t1 <= windows[j].to;
      inside = inside || std::max(windows[j].from, v.t0) < std::min(windows[j].to, v.t1);
    }
    if (inside && !endStored) store(v.t0, *v.c0, *v.ac0, *v.w0, *v.aw0, v, false);
    const bool startKept = inside || endStored;
    endStored = atEnd || inside;
    if (endStored) store(v.t1, *v.c1, *v.ac1, *v.w1, *v.aw1, v, startKept);
  };
  marchLamm(species, grid, rotor, stops, mask, visit);
}

// The cache of component solutions, most recent first.
std::mutex g_cacheMutex;
std::vector<std::shared_ptr<const LammUnit>> g_cache;

std::shared_ptr<const LammUnit> cached(const LammSpecies& species, double rm, double rb,
                                       unsigned mask, const std::vector<double>& clock) {
  for (std::size_t i = 0; i < g_cache.size(); ++i) {
    const auto& u = g_cache[i];
    if (u->s == species.s && u->D == species.D && u->meniscus == rm && u->bottom == rb &&
        (u->mask & mask) == mask && *u->clock == clock) {
      auto hit = u;
      g_cache.erase(g_cache.begin() + static_cast<std::ptrdiff_t>(i));
      g_cache.insert(g_cache.begin(), hit);
      return hit;
    }
  }
  return nullptr;
}

void remember(std::shared_ptr<const LammUnit> unit) {
  g_cache.insert(g_cache.begin(), std::move(unit));
  if (g_cache.size() > kCacheSize) g_cache.resize(kCacheSize);
}

// The sensitivities component k needs.
unsigned maskFor(const AnalysisState& st, const ModelParams& p, int k, Derivatives needs) {
  const unsigned all = (1u << kLammParams) - 1;
  if (needs == Derivatives::kNone) return 0;
  if (needs == Derivatives::kAll) return all;
  const ComponentSlots slots = boundedSlots(k);
  unsigned mask = 0;
  for (int i = 1; i <= st.freeCount; ++i) {
    const int q = st.freeIndex[i];
    if (q == slots.s) mask |= lammBit(kLammS) | (p.molMassGiven[k] ? lammBit(kLammD) : 0u);
    if (q == slots.dOrM) mask |= lammBit(kLammD);
    if (q == 4) mask |= lammBit(kLammMeniscus);
    if (q == 5) mask |= lammBit(kLammBottom);
  }
  return mask;
}

}  // namespace

// ---- One point of a solution --------------------------------------------------

LammPoint lammPointAt(const LammLevel& level, double meniscus, double bottom, double t, double r) {
  LammPoint out;
  const LammStencil st = lammStencil(level.r, r);
  if (st.first < 0) return out;  // air above the meniscus, or beyond the bottom: nothing
  if (t <= 0) {
    // The uniform loading, before anything moved: c = 1, no derivative.
    for (int m = 0; m < 4; ++m) {
      out.value += st.w[m];
      out.gradient += st.dw[m];
    }
    return out;
  }
  const int n = level.nodes();
  const std::size_t stride = static_cast<std::size_t>(level.blocks) * n;
  // The snapshot at t, or the two around it with the Hermite weights.
  const double* a = nullptr;
  const double* b = nullptr;
  std::array<double, 4> h{1, 0, 0, 0};
  double dt = 0;
  const auto it = std::lower_bound(level.times.begin(), level.times.end(), t);
  const std::size_t k = static_cast<std::size_t>(it - level.times.begin());
  if (k < level.times.size() && level.times[k] == t) {
    a = level.data.data() + k * stride;
  } else if (level.rates && k > 0 && k < level.times.size() && level.follows[k]) {
    a = level.data.data() + (k - 1) * stride;
    b = level.data.data() + k * stride;
    dt = level.times[k] - level.times[k - 1];
    h = hermiteWeights((t - level.times[k - 1]) / dt);
  } else {
    const double nan = std::numeric_limits<double>::quiet_NaN();  // a time no scan asked for
    out.value = out.gradient = nan;
    return out;
  }
  auto nodeValue = [&](int block, int i) {
    const double* x = a + static_cast<std::size_t>(block) * n;
    if (b == nullptr) return x[i];
    const double* y = b + static_cast<std::size_t>(block) * n;
    return h[0] * x[i] + h[1] * dt * x[n + i] + h[2] * y[i] + h[3] * dt * y[n + i];
  };
  for (int m = 0; m < 4; ++m) {
    const double c = nodeValue(0, st.first + m);
    out.value += st.w[m] * c;
    out.gradient += st.dw[m] * c;
  }
  for (int p = 0; p < kLammParams; ++p) {
    if (level.slot[p] < 0) continue;
    double d = 0;
    for (int m = 0; m < 4; ++m) d += st.w[m] * nodeValue(level.slot[p], st.first + m);
    out.deriv[p] = d;
  }
  // The grid moves with the walls: at fixed node values the interpolant at r
  // changes by −(1 − ξ)·dc/dr with r_m and by −ξ·dc/dr with r_b, ξ = (r − r_m)/L.
  const double xi = (r - meniscus) / (bottom - meniscus);
  if (level.slot[kLammMeniscus] >= 0) out.deriv[kLammMeniscus] -= (1 - xi) * out.gradient;
  if (level.slot[kLammBottom] >= 0) out.deriv[kLammBottom] -= xi * out.gradient;
  return out;
}

LammPoint lammPointAt(const LammUnit& unit, double t, double r) {
  const LammPoint c = lammPointAt(unit.level[0], unit.meniscus, unit.bottom, t, r);
  const LammPoint f = lammPointAt(unit.level[1], unit.meniscus, unit.bottom, t, r);
  // Second order in h and Δt: (4·fine − coarse)/3 removes the leading error.
  LammPoint out;
  out.value = f.value + (f.value - c.value) / 3;
  out.gradient = f.gradient + (f.gradient - c.gradient) / 3;
  for (int p = 0; p < kLammParams; ++p) out.deriv[p] = f.deriv[p] + (f.deriv[p] - c.deriv[p]) / 3;
  return out;
}

// ---- Preparation ------------------------------------------------------------------

namespace detail {

std::shared_ptr<const LammSeries> prepareF(const AnalysisState& st, const ModelParams& p,
                                           Derivatives needs, int threads) {
  auto series = std::make_shared<LammSeries>();
  series->components = boundedComponents(p.paramCount);
  series->omega2First = st.omega2First;
  const double rm = p.P[4], rb = p.P[5];
  if (!(std::isfinite(rm) && std::isfinite(rb) && rm > 0 && rb > rm) || !(st.omega2First > 0))
    return series;  // no cell: every value is NaN
  const Clock clock = clockOf(st);
  series->origin = clock.origin;
  series->slit = clock.slit;

  struct Task {
    int k;
    LammSpecies species;
    unsigned mask;
  };
  std::vector<Task> tasks;
  {
    const std::lock_guard<std::mutex> lock(g_cacheMutex);
    for (int k = 1; k <= series->components; ++k) {
      const ComponentSlots slots = boundedSlots(k);
      const double sParam = p.P[slots.s];
      const double D = p.molMassGiven[k] ? sParam * p.dPerS[k] : p.P[slots.dOrM];  // [cm²/s]
      const LammSpecies species{sParam / st.omega2First,
                                std::clamp(D, kMinDiffusion, kMaxDiffusion)};
      if (!std::isfinite(species.s) || !std::isfinite(species.D)) continue;
      const unsigned mask = maskFor(st, p, k, needs);
      series->unit[k] = cached(species, rm, rb, mask, *clock.key);
      if (!series->unit[k]) tasks.push_back({k, species, mask});
    }
  }
  if (tasks.empty()) return series;

  // Step ends: both ends of every window (a scan without slit correction is
  // a window of one instant) and the knots of the rotor before the last one.
  const std::vector<Window> windows = windowsOf(st, clock);
  const RotorSchedule rotor = RotorSchedule::fromScans(clock.scans);
  const double last = windows.empty() ? 0.0 : windows.back().to;
  std::vector<double> stops;
  for (const Window& w : windows) {
    if (w.from > 0) stops.push_back(w.from);
    stops.push_back(w.to);
  }
  for (double t : rotor.knots())
    if (t < last) stops.push_back(t);
  std::sort(stops.begin(), stops.end());
  stops.erase(std::unique(stops.begin(), stops.end()), stops.end());

  // Every grid of every component is one task, the fine ones (four times the
  // work) first, on up to `threads` threads.
  std::vector<std::shared_ptr<LammUnit>> units(tasks.size());
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    units[i] = std::make_shared<LammUnit>();
    LammUnit& u = *units[i];
    u.s = tasks[i].species.s;
    u.D = tasks[i].species.D;
    u.meniscus = rm;
    u.bottom = rb;
    u.clock = clock.key;
    u.mask = tasks[i].mask;
  }
  const int jobs = 2 * static_cast<int>(tasks.size());
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int workers = std::min(threads, jobs);
  const bool rates = clock.slit > 0;
  std::atomic<int> nextJob{0};
  auto work = [&] {
    for (int j = nextJob++; j < jobs; j = nextJob++) {
      const int fine = j < static_cast<int>(tasks.size()) ? 1 : 0;
      const std::size_t i = static_cast<std::size_t>(fine ? j : j - static_cast<int>(tasks.size()));
      const int level = coarseLevel(tasks[i].species, rm, rb, rotor.peakOmega2()) + fine;
      solveLevel(tasks[i].species, rm, rb, tasks[i].mask, level, rates, rotor, stops, windows,
                 units[i]->level[static_cast<std::size_t>(fine)]);
    }
  };
  std::vector<std::thread> pool;
  for (int w = 1; w < workers; ++w) pool.emplace_back(work);
  work();
  for (auto& th : pool) th.join();
  for (std::size_t i = 0; i < tasks.size(); ++i) series->unit[tasks[i].k] = units[i];

  const std::lock_guard<std::mutex> lock(g_cacheMutex);
  for (const Task& task : tasks) remember(series->unit[task.k]);
  return series;
}

// ---- The model functions -------------------------------------------------------

namespace {

// Σ c0_k·u_k at the point, with the derivatives when deriv is given.
double sumComponents(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv* deriv,
                     double* gradient) {
  if (!p.lamm) return std::numeric_limits<double>::quiet_NaN();
  const LammSeries& series = *p.lamm;
  const double t = series.origin[sc.scan] + series.slit * r;  // [s]
  double sum = 0, grad = 0;
  for (int k = 1; k <= series.components; ++k) {
    if (!series.unit[k]) return std::numeric_limits<double>::quiet_NaN();
    const LammPoint u = lammPointAt(*series.unit[k], t, r);
    const ComponentSlots slots = boundedSlots(k);
    const double c0 = p.P[slots.c0];
    sum += c0 * u.value;
    grad += c0 * u.gradient;
    if (deriv == nullptr) continue;
    ModelDeriv& d = *deriv;
    d[slots.c0] = u.value;
    // P[s] = s·ω²_first; with a molar mass D = P[s]·dPerS follows s.
    d[slots.s] += c0 * (u.deriv[kLammS] / series.omega2First +
                        (p.molMassGiven[k] ? u.deriv[kLammD] * p.dPerS[k] : 0.0));
    d[slots.dOrM] += c0 * u.deriv[kLammD];
    d[4] += c0 * u.deriv[kLammMeniscus];
    d[5] += c0 * u.deriv[kLammBottom];
  }
  if (gradient != nullptr) *gradient = grad;
  return sum;
}

}  // namespace

double concF(const ModelParams& p, const ScanContext& sc, double r, ModelDeriv& deriv,
             TraceState*) {
  deriv.fill(0.0);
  const double sum = sumComponents(p, sc, r, &deriv, nullptr);
  deriv[3] = 1.0;
  deriv[6] = r - sc.linearRefRadius;
  return sum + p.P[3] + (r - sc.linearRefRadius) * p.P[6];
}

double valueF(const ModelParams& p, const ScanContext& sc, double r, PartialTraces* parts) {
  const double sum = sumComponents(p, sc, r, nullptr, nullptr);
  if (parts != nullptr) *parts = PartialTraces{sum, 0.0};  // one solution: no separate bottom term
  return sum + p.P[3] + (r - sc.linearRefRadius) * p.P[6];
}

double gradF(const ModelParams& p, const ScanContext& sc, double r) {
  double gradient = std::numeric_limits<double>::quiet_NaN();
  sumComponents(p, sc, r, nullptr, &gradient);
  return gradient;
}

}  // namespace detail
}  // namespace svfit::models
