// The reference solution of the Lamm equation: the solver of the models
// library (models/lamm_solver.h: finite volumes with Scharfetter–Gummel
// fluxes, TR-BDF2 steps, a grid graded towards both walls) refined until the
// answer stops changing.
//
// Refinement. Each component is solved for unit loading on the coarsest grid
// with time factor β, then with twice the cells and β/2, four times and β/4,
// ... Both errors are of second order, so (4·u_2n − u_n)/3 removes the
// leading term; refinement stops when that extrapolated answer changes by no
// more than the tolerance times the larger of the loading and the local
// concentration (the pile-up at the bottom reaches many times the loading),
// and the last extrapolation is returned. A work limit keeps very sharp
// boundaries (at 42000 rpm s/D above about 5e7 S·s/cm², e.g. 15 S with
// D = 2e-7 cm²/s) from running for minutes; they are returned with their
// larger estimate and converged = false.
//
// Output. Each scan time is a step end; points that a moving slit passes
// between step ends are interpolated in time by cubic Hermite polynomials
// (dc/dt = V⁻¹·A·c is known at both ends), and in radius by the cubic through
// the four nearest nodes.
#include "sim/lamm.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "models/lamm_solver.h"

namespace svfit::sim {
namespace {

using Vec = std::vector<double>;
namespace lamm = svfit::models;

constexpr double kSvedberg = 1e-13;   // 1 S [s]
constexpr double kKelvin = 273.15;    // 0 °C [K]
constexpr int kMaxCells = 1 << 18;    // refinement stops here, converged or not
constexpr double kMaxWork = 3e8;      // ... or when the next grid would need more cells × steps

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

// Profile of one component at unit loading on the grid of refinement
// `level`, written to out[scan][point]. Returns the work done (cells × steps)
// and the cells of the grid.
double solveComponent(const Experiment& run, const Component& comp, const Request& req, int level,
                      std::vector<Vec>& out, int& cells) {
  const lamm::RotorSchedule rotor =
      lamm::RotorSchedule::linearRamp(omega2FromRpm(run.rpm), run.accelerationTime);
  const lamm::LammSpecies species{comp.s * kSvedberg, comp.D};
  const lamm::LammGrid grid =
      lamm::lammGrid(species, run.meniscus, run.bottom, omega2FromRpm(run.rpm), level);
  cells = grid.cells();
  std::vector<lamm::LammStencil> stencils(req.radii.size());
  for (std::size_t j = 0; j < req.radii.size(); ++j)
    stencils[j] = lamm::lammStencil(grid.r, req.radii[j]);

  std::size_t next = 0;
  auto visit = [&](const lamm::LammStepView& v) {
    const Vec &c = *v.c0, &ac = *v.ac0, &cNew = *v.c1, &acNew = *v.ac1;
    for (; next < req.events.size() && req.events[next].t <= v.t1; ++next) {
      const Event& e = req.events[next];
      const lamm::LammStencil& st = stencils[static_cast<std::size_t>(e.point)];
      const bool atStart = v.t1 == 0;
      const double dt = v.t1 - v.t0;
      const std::array<double, 4> h =
          atStart ? std::array<double, 4>{1, 0, 0, 0} : lamm::hermiteWeights((e.t - v.t0) / dt);
      double value = 0;
      for (int m = 0; m < 4; ++m) {
        const int i = st.first + m;
        const double ci = atStart ? c[i]
                                  : h[0] * c[i] + h[1] * dt * ac[i] / v.volume[i] + h[2] * cNew[i] +
                                        h[3] * dt * acNew[i] / v.volume[i];
        value += st.w[m] * ci;
      }
      out[e.scan][e.point] = value;
    }
  };
  return lamm::marchLamm(species, grid, rotor, req.stops, 0, visit);
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
    Table coarse = zero, fine = zero, extrapolated = zero, previous = zero, change = zero;
    int n = 0;
    double work = solveComponent(run, comp, req, 0, coarse, n);
    double worst = 0;
    for (int level = 1;; ++level) {
      work = solveComponent(run, comp, req, level, fine, n);
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
