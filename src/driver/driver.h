// The driver: the whole interactive analysis, from the run options through
// loading, fit set-up, fit, report and graph to the option menu, until the
// user finishes.
#pragma once

#include "driver/state.h"

namespace svfit::driver {

void RunDriver(AnalysisState& st);

}  // namespace svfit::driver
