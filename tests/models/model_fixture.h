// A protein run for the model tests: s 4.4 S, D 6e-7 cm²/s at 42000 rpm,
// meniscus 5.95 cm, bottom 7.2 cm, scans every 10 minutes.
#pragma once

#include <cmath>
#include <memory>

#include "state/state.h"
#include "models/catalogue.h"

namespace svfit::models::testing {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kOmega2 = (kPi * 42000.0 / 30.0) * (kPi * 42000.0 / 30.0);  // [rad²/s²]
inline constexpr double kMeniscus = 5.95;                                           // [cm]
inline constexpr double kBottom = 7.2;                                              // [cm]

// s [S] and D [cm²/s] of the four test components.
inline constexpr double kSvedberg[5] = {0, 4.4, 2.0, 7.5, 11.0};
inline constexpr double kDiffusion[5] = {0, 6e-7, 9e-7, 4.5e-7, 3.5e-7};

// Sedimentation parameter P = s·ω²_first for s in Svedberg units.
inline double sParam(double svedberg) { return svedberg * 1e-13 * kOmega2; }

// The molar mass (in the units of the D-or-M parameter) that gives D for s.
inline double massFor(const AnalysisState& st, int k, double svedberg, double D) {
  return svedberg * 1e-13 * kGasConstant * (273.15 + st.temperature) / ((1.0 - st.psvRho[k]) * D);
}

// One shared state (the matrices are large); every test sets what it uses.
inline AnalysisState& sharedState() {
  static auto* st = new AnalysisState();
  return *st;
}

// `scans` scans at 600 s, 1200 s, ... with `points` radii from the meniscus
// to just before the bottom, full speed, no slit correction.
inline void setSeries(AnalysisState& st, int scans, int points, double firstTime = 600.0,
                      double step = 600.0) {
  st.omega2First = kOmega2;
  st.scanCount = scans;
  st.seqFirst = 1;
  st.seqLast = scans;
  st.temperature = 20.0;
  st.slitTimePerCm = 0;
  st.diffTimeOffset = 0;
  st.linearRefRadius = 6.0;
  st.meniscusCorrValue = 1.0;
  st.riNoiseOn = false;
  st.tiNoiseOn = false;
  st.updatePsvRho();
  for (int s = 1; s <= scans; ++s) {
    st.scanSequence[s] = s;
    st.scanOmega2[s] = 1.0;
    st.scanTime[s] = firstTime + step * (s - 1);
    st.scanRunTime[s] = st.scanElapsed[s] = st.scanTime[s];  // at speed from the start
    st.scanPointCount[s] = points;
    st.scanFirstPoint[s] = 1;
    st.scanLastPoint[s] = points;
    for (int j = 1; j <= points; ++j) {
      st.scanRadius[s][j] =
          kMeniscus + 0.003 + (kBottom - 0.01 - kMeniscus) * (j - 1) / (points - 1);
    }
  }
}

// Parameters of model `letter` with n components at the test values; the
// D-or-M parameters hold molar masses when `mass` is set.
inline void setModel(AnalysisState& st, char letter, int n, bool mass = false) {
  const ModelInfo& m = modelInfo(letter);
  st.modelLetter = letter;
  st.paramCount = paramCountFor(m, n);
  st.param.fill(0.0);
  st.param[3] = 0.012;
  st.param[4] = kMeniscus;
  if (m.hasBottom) {
    st.param[5] = kBottom;
    st.param[6] = 0.004;
  }
  if (m.layout == Layout::Fujita) st.param[5] = 0.03;
  for (int k = 1; k <= componentCountFor(m, st.paramCount); ++k) {
    const ComponentSlots slots = componentSlots(m, k);
    st.param[slots.c0] = 0.25 * (k + 1);
    st.param[slots.s] = sParam(kSvedberg[k]);
    st.param[slots.dOrM] = mass ? massFor(st, k, kSvedberg[k], kDiffusion[k]) : kDiffusion[k];
  }
  classifyDiffusionOrMass(st);
}

// The traces of the validity test after the points of one scan.
inline TraceState tracesOf(const AnalysisState& st, int scan) {
  const ModelParams params = modelParamsOf(st);
  const ScanContext sc = scanContextOf(st, params, scan);
  TraceState traces;
  ModelDeriv deriv{};
  for (int j = 1; j <= st.scanLastPoint[scan]; ++j)
    modelInfo(st.modelLetter).conc(params, sc, st.scanRadius[scan][j], deriv, &traces);
  return traces;
}

}  // namespace svfit::models::testing
