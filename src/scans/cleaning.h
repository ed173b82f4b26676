// Data cleaning of absorbance scans: the outlier correction run once after
// loading, and the small polynomial least-squares fit over a window of one
// scan that the cleaning and the start-value estimate share.
#pragma once

#include "state/state.h"
#include "fit/normal_system.h"

namespace svfit::scans {

// Least-squares polynomial y ≈ c1 + c2·r + ... + cm·r^(m−1) through the points
// first..last of a scan (r = scanRadius [cm], y = scanValue). Uses and
// overwrites `ns`: the coefficients end in ns.stepVec[1..m]. m = 1..16.
void FitPolynomial(const AnalysisState& st, fit::NormalSystem& ns, int scan, int m, int first,
                   int last);

// Replaces single outlying points (spikes and dropouts) of every loaded scan
// by the mean of their neighbours, in two passes, and lists each replacement
// on the console. y0 is the offset already subtracted from every value.
// Returns the number of replaced points.
int CorrectOutliers(AnalysisState& st, double y0);

}  // namespace svfit::scans
