// Common near-bottom radius and common maximal absorbance.
//
// Near the cell bottom the absorbance of late scans rises steeply and leaves
// the linear range of the optics, so every scan ends at a common near-bottom
// radius and, in addition, before the first point whose noise-corrected value
//   v(j,i) = scanValue[j][i] − riNoise[j] − tiNoise[i]
// exceeds the common maximal absorbance A_max (maxAbsorbance; 0 = no limit).
//
// Option L proposes A_max from the fitted bounded-cell model (N, R): the
// model concentration where the radial gradient of the last (or first) used
// scan falls below 80 [data units/cm] coming in from the bottom, i.e. at the
// foot of the bottom pile-up, and never below 1.05 × the summed initial
// absorbances of the components.
#pragma once

#include "state/state.h"

namespace svfit::results {

// Recomputes every scan's last used point from the near-bottom radius and
// A_max, then maxPointCount, pointMultiplicity, pointScanCount, sumSqData and
// pointTotal. With proposeAndAsk off (loading) nothing is printed or asked and
// the stored A_max is used; with it on (option L) a value is proposed for the
// bounded-cell models and A_max is asked.
void SetCommonMaxAbsorbance(AnalysisState& st, bool proposeAndAsk);

// After the used scans or their last points changed: maxPointCount and
// maxPointScan over the used scans, pointMultiplicity (1 up to each scan's
// last used point, 0 beyond) and pointScanCount over the used scans.
void CountUsedPoints(AnalysisState& st);

// The cut once after loading (scans::FinishLoading): SetCommonMaxAbsorbance
// without asking, then the largest used value (origMaxValue, shown in the
// later proposal) and the value range of the plots (minValue, maxValue).
void ApplyLoadingCut(AnalysisState& st);

}  // namespace svfit::results
