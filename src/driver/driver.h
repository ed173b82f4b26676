// The driver: the whole interactive analysis, from the run options through
// loading, fit set-up, fit, report and graph to the option menu, until the
// user finishes.
#pragma once

#include "state/state.h"

namespace svfit::driver {

// Runs the analysis until the user finishes (the console is then halted).
void RunDriver(AnalysisState& st);

// The run-option questions from question `first` (1..6) on: 1 file
// generation, 2 interpolation, 3 the 3000 rpm file, 4 load mode, 5 outlier
// correction, 6 last bottom point. Later questions depend on the answers
// already in `st`.
void AskRunOptions(AnalysisState& st, int first = 1);

}  // namespace svfit::driver
