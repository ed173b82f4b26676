// The fit set-up dialogue between loading and the fit: common end radius,
// scan-speed correction of the times, iterations and damping, solution
// constants, noise terms, model, start values and fixed parameters; and the
// constants asked again after a fit.
//
// Order of use in the flow:
//   10  SetupDialog(st, SetupEntry::kStart); false means 0 iterations (no
//       fit: show the data, then the option menu)
//   11  the fit
//   12  AskPostFitConstants(st), Archibald masses, results::ShowFitReport(st)
// The option menu resumes the dialogue part-way: A, S, H at kScanSpeed, W at
// kIterations, K and M at kNoise, L at kParameters.
#pragma once

#include <functional>

#include "driver/flow.h"
#include "state/state.h"

namespace svfit::driver {

// What the dialogue calls outside the console, replaceable in tests.
struct SetupServices {
  // New start values of the current model: P[1]..P[5], P[6] cleared and the
  // first D-or-M parameter at dIndex.
  std::function<void(AnalysisState& st, int dIndex)> estimateStartValues;
  // Marks of the components in the viewer (models N and C), right after the
  // model letter: sets markedS, markedAmp and markedCount, from which the
  // component count follows. Empty: the marks in the state are used as they are.
  std::function<void(AnalysisState& st)> pickStartValues;
};
// The services of the program: results::EstimateStartValues and the viewer's
// start-value picking (PickStartValues of flow.h).
SetupServices DefaultSetupServices();

// Runs the dialogue from `entry` to the end. Returns false when 0 iterations
// were chosen; the value range of the used data is then in minValue/maxValue.
bool SetupDialog(AnalysisState& st, SetupEntry entry,
                 const SetupServices& services = DefaultSetupServices());

// After a fit: density and viscosity (only when no component's D is tied to a
// molar mass) and the partial specific volume of each component fitted with a
// diffusion coefficient.
void AskPostFitConstants(AnalysisState& st);

// ---- Steps of the dialogue that other code shares -----------------------------
// Start values of components marked in the viewer (models N and C): shares of
// the total initial absorbance by the marked amplitudes (the marks' own
// heights when the total is not positive), s from the marked Svedberg
// values, D for a sphere with friction ratio 1.5.
void SetComponentStartValues(AnalysisState& st);

// The estimated list from the fixed parameters (fixed[k] for k = 1..16):
// every other parameter of the model in increasing order, without the base
// line when a noise term is eliminated and without the rotation parameter of
// the bounded-cell models under TI noise.
void BuildEstimatedList(AnalysisState& st, const PerParam<bool>& fixed);

// Points of the used scans between their first and last used point.
long UsedPointCount(const AnalysisState& st);

}  // namespace svfit::driver
