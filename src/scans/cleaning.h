// Data cleaning of absorbance scans: the outlier correction run once after
// loading.
#pragma once

#include "state/state.h"

namespace svfit::scans {

// Replaces single outlying points (spikes and dropouts) of every loaded scan
// by the mean of their neighbours, in two passes, and lists each replacement
// on the console. y0 is the offset already subtracted from every value.
// Returns the number of replaced points.
int CorrectOutliers(AnalysisState& st, double y0);

}  // namespace svfit::scans
