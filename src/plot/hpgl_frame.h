// Frame, ticks, numbers and legends of an HPGL plot, the additional texts
// placed in the viewer, the two noise curves and the distribution curve
// (private to the plot library: the plot dialogue in hpgl_data.cpp composes
// them).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plot/hpgl_file.h"
#include "plot/viewer.h"
#include "state/state.h"

namespace svfit::plot {

// The axes of the drawing, set by the data drawing or a noise curve.
struct PlotAxes {
  double xMin = 0, xSpan = 1;  // abscissa at the left edge and its range [cm; data sets for RI noise]
  double yMin = 0, yMax = 1;   // ordinate range [data units]
  double unitsPerY = 1;        // data units per plotter unit
  double zeroOffset = 0;       // plotter y of the ordinate value 0
  int dataLow = 0, dataHigh = 0;  // plotter y of the data area (the ordinate legend is centred on it)
};

struct PlotFrame {
  PlotGeometry geo;
  PlotAxes axes;
  PlotKind kind = PlotKind::kData;
  bool residualsBelow = false;  // a residual band lies under the data
};

// Abscissa ticks: decade step s, n steps in the span, every k-th tick drawn
// and numbered, k the smallest with n < 7k; the first tick `offset` units
// right of the left edge with the value firstIndex x s.
struct HpglTicks {
  double step = 1;
  int steps = 0;
  int interval = 1;
  double spacing = 0;  // plotter units per step
  double offset = 0;
  long firstIndex = 0;
};
HpglTicks AbscissaTicksOf(double xMin, double xSpan, int plotWidth);
// Abscissa numbers: 7 -> "7.0", 0.05 -> "0.05", -0.5 -> "-.5"; RI-noise plots
// count data sets and get integers.
std::string HpglAbscissaLabel(double value, bool riPlot);

// Ordinate scale: step s, label interval k, decimals d of the numbers, and
// the positions of the ticks (value index j, a multiple of k; plotter y).
struct OrdinateScale {
  double step = 1;
  int interval = 1;
  int decimals = 0;
  double spacing = 0;  // plotter units per step
  int factor = 1;      // 2 for the noise plots: every second labelled step only
  std::vector<std::pair<long, int>> ticks;  // (j, y), j x s is the value at y
};
OrdinateScale OrdinateScaleOf(const PlotFrame& frame);
// The ordinate number of j steps of s with d decimals: "0.5", "12", "0.018".
std::string OrdinateLabel(long j, double step, int decimals);

// Each writes its instructions after the answer to its prompt.
void WriteFrame(HpglOut& out, const PlotGeometry& g);
void WriteAbscissaTicks(HpglOut& out, const PlotFrame& frame);
void WriteAbscissaNumbers(HpglOut& out, const PlotFrame& frame);
void WriteAbscissaLegend(HpglOut& out, const PlotGeometry& g, std::string_view text);
void WriteOrdinateTicks(HpglOut& out, const PlotFrame& frame, const OrdinateScale& scale);
void WriteOrdinateNumbers(HpglOut& out, const PlotFrame& frame, const OrdinateScale& scale);
void WriteOrdinateLegend(HpglOut& out, const PlotFrame& frame, const OrdinateScale& scale,
                         std::string_view text);
void WriteAdditionalTexts(HpglOut& out, const PlotGeometry& g, const std::vector<PlacedText>& texts);

// The noise curves with their zero line; each sets the axes of the frame.
// RI: one point per data set of the sequence (its RI noise less the mean RI
// offset); TI: one point per radial index of the scan with the most points.
void WriteRiNoiseCurve(HpglOut& out, PlotFrame& frame, const AnalysisState& st);
void WriteTiNoiseCurve(HpglOut& out, PlotFrame& frame, const AnalysisState& st);
// The distribution g(s*) of points distStart .. distEnd against s* [S] (the
// distS the distribution computed), over the range distMin .. distMax; sets
// the axes of the frame. Needs st.distExists.
void WriteDistributionCurve(HpglOut& out, PlotFrame& frame, const AnalysisState& st);

// Sets unitsPerY, zeroOffset and the data area for the ordinate range
// [yMin, yMax] (widened when empty): the minimum 8 x height above the
// residual band base, or above the band itself when residuals lie under the
// data.
void SetOrdinate(PlotFrame& frame, double yMin, double yMax);

// The plotter y of a value, |v / unitsPerY + zeroOffset|, at most the top.
long PlotterY(const PlotFrame& frame, double value);
// The plotter x of an abscissa value.
long PlotterX(const PlotFrame& frame, double x);

// The residual band under the data: lower and upper edge, zero line.
struct ResidualBand {
  int low = 0, high = 0, zero = 0;
};
ResidualBand ResidualBandOf(const PlotGeometry& g);

}  // namespace svfit::plot
