// Frame, ticks and numbers of the screen plots, shared by the series, profile
// and fit plots, the fit display and the viewer (private to the plot library).
#pragma once

#include <string>
#include <vector>

#include "state/state.h"
#include "plot/viewer.h"

namespace svfit::plot {

// Decade ticks of the abscissa: step s (a power of ten), n steps in the span,
// every k-th tick labelled; the first tick lies `offset` pixels right of the
// left edge and has the value firstIndex x s.
struct AbscissaTicks {
  double step = 1;
  int steps = 0;
  int interval = 1;
  double spacing = 0;  // pixels per step
  double offset = 0;   // pixels
  long firstIndex = 0;
};
AbscissaTicks ComputeAbscissaTicks(double xMin, double xSpan, int width);
// A radius label: ten-thousandths with up to three trailing zeros removed,
// so 7 gives "7.0", 6.5 "6.5", 0.05 "0.05", 6.5555 "6.5555", -0.5 "-.5".
std::string AbscissaLabel(double value);

// Decade ticks of the ordinate: step s, label interval k (labels at the
// multiples of k x s inside the range) and the decimals of the labels.
struct OrdinateTicks {
  double step = 1;
  int steps = 0;
  int interval = 1;
  int decimals = 0;
};
OrdinateTicks ComputeOrdinateTicks(double range);

// Frame from (left, 0) to (MaxX, bottomLine) in colour 15, the abscissa ticks
// and the radius numbers under them.
void DrawFrameAndAbscissa(const ScreenLayout& lay, const AxisScale& scale);
// Ordinate ticks and numbers in the left band.
void DrawOrdinate(const ScreenLayout& lay, const AxisScale& scale);

// The scans a plot after a fit shows: the used data sets plotFirst..plotLast
// in steps of plotStep (positions of scanSequence), as scan numbers.
std::vector<int> DrawnScans(const AnalysisState& st);

// Magnification of the residual band: the largest of 2, 4, ..., 128 for
// which the largest residual stays below the band unit b [pixels]; when even
// 2 is too much, the factor that makes the largest residual reach b.
double ResidualExtension(double maxResidual, double unitsPerPixel, int bandUnit);

// Fill-circle data points with the 7-pixel (or given) thinning rule.
class PointThinner {
 public:
  explicit PointThinner(int gap) : gap_(gap) {}
  // True when the point should be drawn (and then remembers it).
  bool Take(int x, int y);
  void Reset() { have_ = false; }

 private:
  int gap_;
  bool have_ = false;
  int lastX_ = 0, lastY_ = 0;
};

}  // namespace svfit::plot
