// Throughput of the model evaluation pass on a full-capacity series: 700
// scans of 2800 points of a protein run (4.4 S at 42000 rpm), TI and RI noise
// elimination on, every parameter free. Prints seconds per pass and points
// per second for models C (four components, 14 parameters), N (four
// components, 16 parameters) and S, serial and on every core.
//
// Usage: model_bench [scans] [points] [letters]   (defaults 700 2800 CNS)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "state/state.h"
#include "models/catalogue.h"
#include "models/model_pass.h"

namespace {

using namespace svfit;
using namespace svfit::models;

constexpr double kPi = 3.141592653589793;

void makeSeries(AnalysisState& st, int scans, int points) {
  st.omega2First = std::pow(kPi * 42000.0 / 30.0, 2);
  st.scanCount = scans;
  st.seqFirst = 1;
  st.seqLast = scans;
  st.temperature = 20.0;
  st.slitTimePerCm = 40.0;
  st.linearRefRadius = 6.0;
  st.riNoiseOn = true;
  st.tiNoiseOn = true;
  for (int s = 1; s <= scans; ++s) {
    st.scanSequence[s] = s;
    st.scanOmega2[s] = 1.0;
    st.scanTime[s] = 300.0 + 25.0 * s;  // every 25 s up to about 5 h
    st.scanPointCount[s] = points;
    st.scanFirstPoint[s] = 1;
    st.scanLastPoint[s] = points;
    for (int j = 1; j <= points; ++j) {
      const double r = 5.96 + (7.18 - 5.96) * (j - 1) / (points - 1);
      st.scanRadius[s][j] = r;
      st.scanValue[s][j] = 0.5 + 0.001 * std::sin(97.0 * r + s);
    }
  }
}

void setModel(AnalysisState& st, char letter) {
  const ModelInfo& m = modelInfo(letter);
  const int components = m.maxComponents;
  st.modelLetter = letter;
  st.paramCount = paramCountFor(m, components);
  st.param.fill(0);
  st.param[3] = 0.01;
  st.param[4] = 5.95;
  if (m.hasBottom) {
    st.param[5] = 7.2;
    st.param[6] = 0.002;
  }
  if (m.layout == Layout::Fujita) st.param[5] = 0.02;
  const double svedberg[5] = {0, 4.4, 2.0, 7.5, 11.0};
  const double diffusion[5] = {0, 6e-7, 9e-7, 4.5e-7, 3.5e-7};
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = componentSlots(m, k);
    st.param[slots.c0] = 0.2;
    st.param[slots.s] = svedberg[k] * 1e-13 * st.omega2First;
    st.param[slots.dOrM] = diffusion[k];
  }
  classifyDiffusionOrMass(st);
  st.freeCount = st.paramCount;
  for (int k = 1; k <= st.paramCount; ++k) st.freeIndex[k] = k;
}

// CPU time of the whole process (all threads) [s]: on a machine shared with
// other jobs the wall time says little, the CPU time stays comparable.
double processSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

struct Timing {
  double wall;  // [s per pass]
  double cpu;   // [s per pass, summed over threads]
};

Timing timePass(AnalysisState& st, PassSums& sums, int threads, int repeats) {
  modelPass(st, sums, threads);  // warm-up: touches the derivative blocks
  const auto t0 = std::chrono::steady_clock::now();
  const double c0 = processSeconds();
  for (int i = 0; i < repeats; ++i) modelPass(st, sums, threads);
  const double c1 = processSeconds();
  const auto t1 = std::chrono::steady_clock::now();
  return {std::chrono::duration<double>(t1 - t0).count() / repeats, (c1 - c0) / repeats};
}

}  // namespace

int main(int argc, char** argv) {
  int scans = 700, points = 2800;
  std::string letters = "CNS";
  int position = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) == 0) continue;  // options of the benchmark runner
    if (position == 0) scans = std::clamp(std::atoi(argv[i]), 1, kMaxScans);
    if (position == 1) points = std::clamp(std::atoi(argv[i]), 20, kMaxPoints);
    if (position == 2) letters = arg;
    ++position;
  }
  auto st = std::make_unique<AnalysisState>();
  auto sums = std::make_unique<PassSums>();
  makeSeries(*st, scans, points);
  const double total = static_cast<double>(scans) * points;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::printf("model pass, %d scans x %d points, TI+RI on, all parameters free\n", scans, points);
  for (char letter : letters) {
    if (findModel(letter) == nullptr) continue;
    setModel(*st, letter);
    for (int threads : {1, cores}) {
      if (threads == 1 && cores == 1) continue;
      const Timing t = timePass(*st, *sums, threads, 2);
      std::printf(
          "  model %c (%2d parameters), %d thread(s): %6.3f s wall, %6.3f s CPU per pass, "
          "%5.2f Mpoints/s per CPU second\n",
          letter, st->paramCount, threads, t.wall, t.cpu, total / t.cpu / 1e6);
    }
  }
  return 0;
}
