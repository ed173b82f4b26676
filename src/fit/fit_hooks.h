// What the fit needs from its neighbours, in one place: the model evaluation
// pass with its noise sums, the meniscus correction of the bounded-cell
// models, and the drawing on the graphics surface while the fit runs.
// Internal to the fit library.
#pragma once

#include <array>
#include <string>

#include "driver/state.h"

namespace svfit::fit {

// The noise sums of the last model pass (1-based like the state):
// tiNoiseSum[j] the TI noise b_j of radial index j (the mean residual when TI
// elimination is on), derivTiSum[m][j] the mean derivative of free parameter m
// at index j, derivRiSum[m][s] the RI mean of the (TI-corrected) derivative of
// scan s.
struct NoiseSums {
  const double* tiNoiseSum = nullptr;
  std::array<const double*, kMaxParams + 1> derivTiSum{};
  std::array<const double*, kMaxParams + 1> derivRiSum{};
};
const NoiseSums& noiseSums();

// Storage of the noise sums that a model pass fills.
struct NoiseStorage {
  PerPoint<double> tiNoiseSum{};
  std::array<PerPoint<double>, kMaxParams + 1> derivTiSum{};
  std::array<PerScan<double>, kMaxParams + 1> derivRiSum{};
};
NoiseStorage& noiseStorage();

// The models' evaluation pass over all fitted points.
void defaultModelPass(AnalysisState& st);

namespace hooks {

// meniscusCorr(r_m), read by the validity test of models N and R.
double meniscusCorr(double meniscusRadius);

// Erase the iteration number drawn before (previous < 0: none) and draw current.
void iterationNumber(int previous, int current);
// Erase the fitted curves drawn by the last evaluation (their values are still
// in fitCurve), and draw the new ones.
void eraseCurves(const AnalysisState& st);
void drawCurves(const AnalysisState& st);
// The status line: erase the previous text (empty: none) in colour 0, then
// draw the three pieces from the same position in colours 14, 13 and 14.
void statusLine(const std::string& erase, const std::string& part1, const std::string& part2,
                const std::string& part3);

}  // namespace hooks
}  // namespace svfit::fit
