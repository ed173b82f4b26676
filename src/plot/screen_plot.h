// Screen plots of the loaded series and of the fit, drawn on the graphics
// surface and then handed to the viewer with the AxisScale they return.
//
// Each plot shows the surface (ShowGraphics), draws the frame, the abscissa
// ticks and numbers and the data; the caller runs GraphViewer and hides the
// surface afterwards:
//   AxisScale sc = plot::DrawSeriesPlot(st);
//   plot::GraphViewer(st, {'N'}, sc);
//   console::HideGraphics();
#pragma once

#include "state/state.h"
#include "plot/viewer.h"

namespace svfit::plot {

// Before a fit: every used point of the sequence as a filled circle of radius
// 2 in the colour of its scan number; sets fitCurve of every used point to 0.
AxisScale DrawSeriesPlot(AnalysisState& st);

// While loading: one profile (points first..last, 1-based) in colour 15 with
// circles of radius 1. The ordinate runs from -0.1 x the largest value (or
// from yMinFixed when given) to the largest value. AddProfile draws one more
// profile (the 3000 rpm scan) into that picture with the same scale.
AxisScale DrawProfilePlot(const double* radius, const double* value, int first, int last,
                          const double* yMinFixed = nullptr);
void AddProfile(const AxisScale& scale, const double* radius, const double* value, int first,
                int last);

// After a fit, as st.display asks: data points corrected for RI and TI noise,
// model curves (concentration) or gradient curves, the residual band with its
// scale and "Ext. " label, and the RI and TI noise.
AxisScale DrawFitPlot(AnalysisState& st);

// The model value with base line (or its radial gradient dc/dr) of scan s at
// radius r, as the curves are drawn: the model of st.modelLetter with the
// current parameters; before a model is set up (paramCount 0) the stored
// fitCurve values of the scan without noise terms, interpolated.
double ModelCurveValue(const AnalysisState& st, int scan, double r, bool gradient);

}  // namespace svfit::plot
