// Speed of the Lamm equation solver on runs the tests and the simulator use:
// one protein over 30 absorbance scans, two species after an acceleration,
// and an interference series on its 1893-pixel grid; all at tolerance 1e-5.
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/lamm.h"

namespace {

using svfit::sim::Experiment;

std::vector<double> grid(double from, double to, double step) {
  std::vector<double> r;
  for (double x = from; x <= to + 1e-9; x += step) r.push_back(x);
  return r;
}

void solve(benchmark::State& state, const Experiment& run, const std::vector<double>& times,
           const std::vector<double>& radii, double secondsPerCm) {
  svfit::sim::Profiles p;
  for (auto _ : state) {
    p = svfit::sim::solveLamm(run, times, radii, secondsPerCm);
    benchmark::DoNotOptimize(p.c.data());
  }
  state.counters["cells"] = p.cells;
  state.counters["error"] = p.errorEstimate;
}

void BM_Protein30AbsorbanceScans(benchmark::State& state) {
  Experiment run;
  run.meniscus = 5.95;
  run.bottom = 7.2;
  run.rpm = 42000;
  run.components = {{4.4, 6e-7, 0.8}};
  std::vector<double> times;
  for (int i = 0; i < 30; ++i) times.push_back(300 + 240.0 * i);
  solve(state, run, times, grid(5.9, 7.25, 0.003), 40);
}

void BM_TwoSpeciesAfterRamp(benchmark::State& state) {
  Experiment run;
  run.meniscus = 6.05;
  run.bottom = 7.2;
  run.rpm = 50000;
  run.accelerationTime = 200;
  run.components = {{4.4, 6e-7, 0.6}, {7.0, 4.5e-7, 0.2}};
  std::vector<double> times;
  for (int i = 0; i < 30; ++i) times.push_back(600 + 300.0 * i);
  solve(state, run, times, grid(5.9, 7.25, 0.003), 40);
}

void BM_Interference60Scans(benchmark::State& state) {
  Experiment run;
  run.meniscus = 6.1;
  run.bottom = 7.2;
  run.rpm = 50000;
  run.components = {{4.4, 6e-7, 3.0}};
  std::vector<double> times;
  for (int i = 0; i < 60; ++i) times.push_back(300 + 120.0 * i);
  solve(state, run, times, grid(5.9, 7.25, 0.00071350165), 0);
}

BENCHMARK(BM_Protein30AbsorbanceScans)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoSpeciesAfterRamp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interference60Scans)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
