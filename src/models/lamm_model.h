// Model F's solutions of one parameter set (internal to models/): for each
// component the unit-loading solution of the Lamm equation at the times the
// scans were taken, with its sensitivities, and the clock of the series.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "models/catalogue.h"
#include "models/lamm_solver.h"

namespace svfit::models {

// One component at unit loading on one grid, kept at the step ends where
// scans are taken.
struct LammLevel {
  std::vector<double> r;               // node radii [cm]
  std::vector<double> times;           // snapshot times [s], ascending
  std::vector<unsigned char> follows;  // snapshot k ends the step that starts at k − 1
  bool rates = false;                  // time derivatives kept (slit-corrected points)
  int blocks = 1;                      // vectors per snapshot: c, then w_p; with rates each doubled
  std::array<int, kLammParams> slot{-1, -1, -1, -1};  // block of w_p; −1 when not solved
  std::vector<double> data;  // snapshot k, block b, node i: (k·blocks + b)·nodes + i
  int nodes() const { return static_cast<int>(r.size()); }
};

// One component: the solutions on two grids, the second with twice the
// cells and half the time step, combined as fine + (fine − coarse)/3.
struct LammUnit {
  double s = 0, D = 0, meniscus = 0, bottom = 0;     // what it was solved for [s, cm²/s, cm, cm]
  std::shared_ptr<const std::vector<double>> clock;  // the series it was solved for
  unsigned mask = 0;                                 // sensitivities solved (lammBit)
  std::array<LammLevel, 2> level;                    // coarse, fine
};

struct LammSeries {
  int components = 0;
  std::array<std::shared_ptr<const LammUnit>, kMaxComponents + 1> unit;  // [1..components]
  PerScan<double> origin{};  // time of scan s extrapolated to r = 0: t = origin + slit·r [s]
  double slit = 0;           // time the scanning slit needs per cm [s/cm]
  double omega2First = 1;    // ω² the s parameters are scaled by [rad²/s²]
};

// The value at unit loading at time t and radius r, its radial derivative
// and its derivatives by s [1/s], D [s/cm²], r_m and r_b [1/cm].
struct LammPoint {
  double value = 0;
  double gradient = 0;
  std::array<double, kLammParams> deriv{};
};
LammPoint lammPointAt(const LammUnit& unit, double t, double r);
LammPoint lammPointAt(const LammLevel& level, double meniscus, double bottom, double t, double r);

}  // namespace svfit::models
