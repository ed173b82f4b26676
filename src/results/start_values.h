// Automatic start values of a fit, from the loaded scans, and the fluidity of
// water that gives the default viscosity.
#pragma once

#include "state/state.h"

namespace svfit::results {

// Estimates P[1] (plateau), P[2] (sedimentation parameter, at least 0.16 S),
// P[3] (base line), P[4] (meniscus marked in the viewer), P[5] (bottom marked,
// models N and R; 0 otherwise), P[6] = 0 and P[dParamIndex] (diffusion
// coefficient of a sphere of that s with friction ratio 1.84) from the scans.
// Further components keep their values. Sets st.displayOffset. The scan
// values are the same after the call as before.
void EstimateStartValues(AnalysisState& st, int dParamIndex);

// Fluidity of water at `temperature` [°C] relative to 1 cP (about 0.99 at
// 20 °C); 1 / WaterFluidity is the viscosity of water in cP.
double WaterFluidity(double temperature);

}  // namespace svfit::results
