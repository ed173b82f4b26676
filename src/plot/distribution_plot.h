// The screen display of the sedimentation coefficient distribution g(s*) and
// the marking of its peaks.
//
// The curve is G of the points e div 16 .. e of the middle scan (the first
// sixteenth lies at the meniscus, where the derivatives carry the smoothing's
// end effects), drawn against s* in Svedberg units in colour 14 over the range
// of G. The viewer's crosshair then shows s* and g: keys 1 to 4 mark peaks as
// markedS (s* [S]) and markedAmp (g), which become the component start values
// of the fit set-up; the finishing key keeps them, Escape leaves without marks.
#pragma once

#include "plot/viewer.h"
#include "state/state.h"

namespace svfit::plot {

// Shows the surface and draws frame, s* axis, caption and curve; the viewer
// draws the g(s*) axis. Needs st.distExists.
AxisScale DrawDistributionPlot(const AnalysisState& st);

// The distribution in the viewer with peak marking, then the surface hidden.
// Without an open graphics surface nothing is shown and nothing is marked.
void ShowDistribution(AnalysisState& st);

}  // namespace svfit::plot
