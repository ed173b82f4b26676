// The fit's connections to the models and to the graphics surface.
#include "fit/fit_hooks.h"

#include <memory>

namespace svfit::fit {

NoiseStorage& noiseStorage() {
  static const std::unique_ptr<NoiseStorage> storage = std::make_unique<NoiseStorage>();
  return *storage;
}

const NoiseSums& noiseSums() {
  static const NoiseSums sums = [] {
    NoiseStorage& store = noiseStorage();
    NoiseSums view;
    view.tiNoiseSum = store.tiNoiseSum.data();
    for (int m = 0; m <= kMaxParams; ++m) {
      view.derivTiSum[static_cast<std::size_t>(m)] =
          store.derivTiSum[static_cast<std::size_t>(m)].data();
      view.derivRiSum[static_cast<std::size_t>(m)] =
          store.derivRiSum[static_cast<std::size_t>(m)].data();
    }
    return view;
  }();
  return sums;
}

// The models' pass is connected when the models library provides it; until
// then a fit needs a pass set through setModelPass.
void defaultModelPass(AnalysisState&) {}

namespace hooks {

double meniscusCorr(double) { return 1.0; }

// The graphics surface is connected when the plot library provides the fit
// display; until then the fit runs without drawing.
void iterationNumber(int, int) {}
void eraseCurves(const AnalysisState&) {}
void drawCurves(const AnalysisState&) {}
void statusLine(const std::string&, const std::string&, const std::string&, const std::string&) {}

}  // namespace hooks
}  // namespace svfit::fit
