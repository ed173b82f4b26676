// Screen plots: the loaded series, one profile while loading, and the data
// with the fitted model after a fit (see screen_plot.h).
//
// Every data point is a filled circle (radius 2, or 1 for a single profile);
// a point less than 7 pixels (3 for a profile) from the last one drawn of the
// same scan in both x and y is left out, so dense scans stay readable and
// draw fast. Scan colours follow ScanColor: before a fit by scan number, after
// a fit by the position among the scans drawn, as in the viewer's scan list.
//
// After a fit the points are corrected for the RI noise of their scan and
// the TI noise of their radial index, so they lie on the model curves; the
// residuals go into a band under the data, magnified by the largest power of
// two up to 128 that keeps the largest residual inside the band.
#include "plot/screen_plot.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "console/crt.h"
#include "console/format.h"
#include "console/graph.h"
#include "models/catalogue.h"
#include "models/model_pass.h"
#include "plot/screen_frame.h"

namespace svfit::plot {

namespace gr = svfit::console;

namespace {

// Range [lo, hi] widened when empty, so that a flat series still maps.
void Widen(double& lo, double& hi) {
  if (!(hi > lo)) {
    const double mid = std::isfinite(lo) ? lo : 0.0;
    lo = mid - 0.5;
    hi = mid + 0.5;
  }
}

AxisScale MakeScale(const ScreenLayout& lay, double xMin, double xMax, double yMin, double yMax, int dataBottom) {
  Widen(xMin, xMax);
  Widen(yMin, yMax);
  AxisScale sc;
  sc.xMin = xMin;
  sc.xSpan = xMax - xMin;
  sc.yMin = yMin;
  sc.yMax = yMax;
  sc.left = lay.left;
  sc.width = lay.right - lay.left;
  sc.dataTop = lay.top;
  sc.dataBottom = dataBottom;
  return sc;
}

void Dot(int x, int y, int r, int colour) {
  gr::SetDrawColor(colour);
  gr::SetFill(1, colour);
  gr::FillEllipse(x, y, r, r);
}

double RiNoise(const AnalysisState& st, int s) { return st.riNoiseOn ? st.riNoise[s] : 0.0; }
double TiNoise(const AnalysisState& st, int j) { return st.tiNoiseOn ? st.tiNoise[j] : 0.0; }

// Measured value corrected for both noise terms.
double Corrected(const AnalysisState& st, int s, int j) {
  return st.scanValue[s][j] - RiNoise(st, s) - TiNoise(st, j);
}

// The fitted model without noise terms at point j.
double ModelAt(const AnalysisState& st, int s, int j) {
  return st.fitCurve[s][j] - RiNoise(st, s) - TiNoise(st, j);
}

bool FitMade(const AnalysisState& st) { return st.maxIterations > 0; }

// The model of the fit has parameters (a model was set up); without them
// the stored fitted values are all there is to draw.
bool HaveModel(const AnalysisState& st) { return st.paramCount > 0 && models::findModel(st.modelLetter); }

// The stored fitted values of a scan without noise terms, interpolated
// linearly (the gradient as the slope between the neighbouring points).
double StoredCurveValue(const AnalysisState& st, int s, double r, bool gradient) {
  const int j1 = st.scanFirstPoint[s], j2 = st.scanLastPoint[s];
  if (j2 <= j1) return std::numeric_limits<double>::quiet_NaN();
  const double* radius = st.scanRadius[s];
  int j = static_cast<int>(std::upper_bound(radius + j1, radius + j2 + 1, r) - radius);
  j = std::clamp(j, j1 + 1, j2);
  const double ra = radius[j - 1], rb = radius[j];
  auto value = [&](int i) {
    if (!gradient) return ModelAt(st, s, i);
    const int lo = std::max(j1, i - 1), hi = std::min(j2, i + 1);
    return radius[hi] > radius[lo] ? (ModelAt(st, s, hi) - ModelAt(st, s, lo)) / (radius[hi] - radius[lo]) : 0.0;
  };
  const double va = value(j - 1), vb = value(j);
  return rb > ra ? va + (vb - va) * (r - ra) / (rb - ra) : va;
}

// Draws one model curve along the pixel columns of the scan's radial range:
// the concentration (with base line) or the radial gradient of the model,
// set up once for the scan.
void DrawCurve(const AnalysisState& st, const AxisScale& sc, int s, bool gradient, double shift) {
  const int j1 = st.scanFirstPoint[s], j2 = st.scanLastPoint[s];
  if (j2 <= j1) return;
  std::optional<models::ScanModel> model;
  if (HaveModel(st)) model.emplace(st, s);
  const int x1 = sc.XPixel(st.scanRadius[s][j1]), x2 = sc.XPixel(st.scanRadius[s][j2]);
  bool started = false;
  for (int x = x1; x <= x2; ++x) {
    const double r = sc.Radius(x);
    const double v = !model ? StoredCurveValue(st, s, r, gradient) : gradient ? model->gradient(r) : model->value(r);
    if (!std::isfinite(v)) continue;
    const int y = sc.YPixel(v + shift);
    if (!started) {
      gr::MoveTo(x, y);
      started = true;
    } else {
      gr::LineTo(x, y);
    }
  }
}

// Models R and N: the boundary (meniscus) term and the bottom term of the
// scan apart, each on the base line, dotted.
void DrawPartialTraces(const AnalysisState& st, const AxisScale& sc, int s, int colour, double shift) {
  const models::ScanModel model(st, s);
  const int x1 = sc.XPixel(st.scanRadius[s][st.scanFirstPoint[s]]);
  const int x2 = sc.XPixel(st.scanRadius[s][st.scanLastPoint[s]]);
  gr::SetDrawColor(colour);
  gr::SetLine(1, 0, 1);
  for (int part = 0; part < 2; ++part) {
    for (int x = x1; x <= x2; ++x) {
      const models::PartialTraces t = model.traces(sc.Radius(x));
      const int y = sc.YPixel((part == 0 ? t.boundary : t.bottom) + st.param[3] + shift);
      if (x == x1) gr::MoveTo(x, y);
      else gr::LineTo(x, y);
    }
  }
  gr::SetLine(0, 1, 1);
}

// The vertical spread between traces: half the data range shared out over
// the traces (0 when not asked for).
double SpreadStep(const AnalysisState& st, double range, int traces) {
  return st.display.spread && traces > 1 ? range / (2.0 * traces) : 0.0;
}

}  // namespace

double ModelCurveValue(const AnalysisState& st, int s, double r, bool gradient) {
  if (!HaveModel(st)) return StoredCurveValue(st, s, r, gradient);
  return gradient ? models::GradientAt(st, s, r) : models::ValueAt(st, s, r);
}

AxisScale DrawSeriesPlot(AnalysisState& st) {
  const ScreenLayout lay = MakeScreenLayout();
  double xMin = std::numeric_limits<double>::infinity(), xMax = -xMin, yMin = xMin, yMax = -xMin;
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int s = st.scanSequence[p];
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      xMin = std::min(xMin, st.scanRadius[s][j]);
      xMax = std::max(xMax, st.scanRadius[s][j]);
      yMin = std::min(yMin, st.scanValue[s][j]);
      yMax = std::max(yMax, st.scanValue[s][j]);
    }
  }
  const AxisScale sc = MakeScale(lay, xMin, xMax, yMin, yMax, lay.bottomLine - 1);
  gr::ShowGraphics(2);
  DrawFrameAndAbscissa(lay, sc);
  PointThinner thin(7);
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int s = st.scanSequence[p];
    const int colour = ScanColor(s);
    thin.Reset();
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      st.fitCurve[s][j] = 0;  // no stale fitted curve is shown later
      const int x = sc.XPixel(st.scanRadius[s][j]), y = sc.YPixel(st.scanValue[s][j]);
      if (thin.Take(x, y)) Dot(x, y, 2, colour);
    }
  }
  gr::SetDrawColor(15);
  return sc;
}

AxisScale DrawProfilePlot(const double* radius, const double* value, int first, int last,
                          const double* yMinFixed) {
  const ScreenLayout lay = MakeScreenLayout();
  double xMin = std::numeric_limits<double>::infinity(), xMax = -xMin, yMax = -xMin;
  for (int j = first; j <= last; ++j) {
    xMin = std::min(xMin, radius[j]);
    xMax = std::max(xMax, radius[j]);
    yMax = std::max(yMax, value[j]);
  }
  const double yMin = yMinFixed ? *yMinFixed : -0.1 * yMax;
  const AxisScale sc = MakeScale(lay, xMin, xMax, yMin, yMax, lay.bottomLine - 1);
  gr::ShowGraphics(2);
  DrawFrameAndAbscissa(lay, sc);
  AddProfile(sc, radius, value, first, last);
  return sc;
}

void AddProfile(const AxisScale& sc, const double* radius, const double* value, int first, int last) {
  PointThinner thin(3);
  for (int j = first; j <= last; ++j) {
    const int x = sc.XPixel(radius[j]), y = sc.YPixel(value[j]);
    if (thin.Take(x, y)) Dot(x, y, 1, 15);
  }
  gr::SetDrawColor(15);
}

AxisScale DrawFitPlot(AnalysisState& st) {
  const ScreenLayout lay = MakeScreenLayout();
  const DisplayFlags& d = st.display;
  const std::vector<int> scans = DrawnScans(st);
  const bool fit = FitMade(st);
  const bool band = fit && d.residuals && d.concentration;
  const int dataBottom = band ? lay.bottomLine - lay.bandHeight - lay.bandGap : lay.bottomLine - 1;

  // Ranges: radius, corrected data and model, gradient.
  double xMin = std::numeric_limits<double>::infinity(), xMax = -xMin;
  double yMin = xMin, yMax = -xMin, gMin = 0, gMax = 0, resMax = 0;
  for (int s : scans) {
    std::optional<models::ScanModel> model;
    if (fit && HaveModel(st)) model.emplace(st, s);
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      const double r = st.scanRadius[s][j];
      xMin = std::min(xMin, r);
      xMax = std::max(xMax, r);
      const double v = Corrected(st, s, j);
      yMin = std::min(yMin, v);
      yMax = std::max(yMax, v);
      if (!fit) continue;
      const double m = model ? model->value(r) : ModelAt(st, s, j);
      if (std::isfinite(m)) {
        yMin = std::min(yMin, m);
        yMax = std::max(yMax, m);
      }
      resMax = std::max(resMax, std::fabs(st.scanValue[s][j] - st.fitCurve[s][j]));
      if (d.gradient) {
        const double g = model ? model->gradient(r) : StoredCurveValue(st, s, r, true);
        if (std::isfinite(g)) {
          gMin = std::min(gMin, g);
          gMax = std::max(gMax, g);
        }
      }
    }
  }
  if (fit && HaveModel(st) && models::modelInfo(st.modelLetter).hasBottom) {
    // Bounded cells: room for the amplitude the model can reach near the bottom.
    double amp = st.param[1] + st.param[3] - yMin;
    if (st.paramCount > 7) amp += st.param[8];
    if (st.paramCount > 10) amp += st.param[11];
    if (st.paramCount > 13) amp += st.param[14];
    yMax = std::max(yMax, 1.6 * amp);
    if (!d.residuals) yMin = 0;  // the graph without residues shows the whole boundary from 0
  }
  const int traces = static_cast<int>(scans.size());
  const double spread = SpreadStep(st, yMax - yMin, traces);
  yMax += spread * std::max(0, traces - 1);
  const AxisScale conc = MakeScale(lay, xMin, xMax, yMin, yMax, dataBottom);
  AxisScale grad = MakeScale(lay, xMin, xMax, gMin, gMax, dataBottom);
  grad.yMax += (grad.yMax - grad.yMin) * 0.05;  // the steepest gradient stays below the top

  gr::ShowGraphics(2);
  const AxisScale& main = d.concentration || !d.gradient || !fit ? conc : grad;
  DrawFrameAndAbscissa(lay, main);
  gr::SetLine(0, 1, 1);

  PointThinner thin(7);
  for (int i = 1; i <= traces; ++i) {
    const int s = scans[static_cast<std::size_t>(i) - 1];
    const int colour = ScanColor(i);
    const double shift = spread * (i - 1);
    if (d.concentration || !fit) {
      if (d.dataPoints || !fit) {
        thin.Reset();
        for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
          const int x = conc.XPixel(st.scanRadius[s][j]), y = conc.YPixel(Corrected(st, s, j) + shift);
          if (thin.Take(x, y)) Dot(x, y, 2, colour);
        }
      }
      if (fit && d.fittedCurves) {
        gr::SetDrawColor(colour);
        DrawCurve(st, conc, s, false, shift);
      }
    }
    if (fit && d.gradient) {
      gr::SetDrawColor(colour);
      DrawCurve(st, grad, s, true, 0.0);
    }
    if (fit && d.partialTraces && d.concentration && HaveModel(st) &&
        models::hasPartialTraces(models::modelInfo(st.modelLetter)))
      DrawPartialTraces(st, conc, s, colour, shift);
    if (d.slow) gr::Delay(300);  // option P: set by set
  }

  if (band) {
    // Residual band: zero line in the middle, one band unit b above and below.
    const int bandTop = lay.bottomLine - lay.bandHeight, zero = bandTop + lay.bandHeight / 2;
    const int b = lay.bandHeight * 2 / 5;
    const double upp = conc.UnitsPerPixel();
    const double ext = ResidualExtension(resMax, upp, b);
    for (int i = 1; i <= traces; ++i) {
      const int s = scans[static_cast<std::size_t>(i) - 1];
      for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
        const double e = st.scanValue[s][j] - st.fitCurve[s][j];
        const int y = std::clamp(zero - static_cast<int>(std::lround(e * ext / upp)), bandTop + 1, lay.bottomLine - 1);
        gr::SetPixel(conc.XPixel(st.scanRadius[s][j]), y, ScanColor(i));
      }
    }
    gr::SetDrawColor(13);
    gr::MoveTo(lay.left, bandTop);
    gr::LineTo(lay.right, bandTop);
    gr::DrawLine(lay.left, zero, lay.right, zero);
    for (int m : {zero - b, zero + b}) gr::DrawLine(lay.left, m, lay.left + 12, m);
    UseNumberFont();
    gr::SetTextJustify(0, 2);
    gr::DrawTextAt(lay.left + 4, bandTop + 3, "Ext. " + console::FormatF(ext, 0, 1));
    // The residual of one band unit, at the lower scale mark.
    gr::SetTextJustify(0, 1);
    gr::DrawTextAt(lay.left + 16, zero + b + gr::FontHeight() / 3, "-" + console::FormatF(b * upp / ext, 0, 4));
    gr::SetTextJustify(0, 2);
  }

  if (fit && (st.riNoiseOn || st.tiNoiseOn)) {
    // The noise terms in the data scale: RI per drawn scan spread over the
    // width (colour 13), TI along the radius of the longest scan (colour 14).
    if (st.riNoiseOn)
      for (int i = 1; i <= traces; ++i)
        gr::SetPixel(lay.left + i * (lay.right - lay.left) / (traces + 1),
                     conc.YPixel(st.riNoise[scans[static_cast<std::size_t>(i) - 1]]), 13);
    if (st.tiNoiseOn && st.maxPointScan > 0)
      for (int j = 1; j <= st.maxPointCount; ++j)
        if (st.scanRadius[st.maxPointScan][j] > 0)
          gr::SetPixel(conc.XPixel(st.scanRadius[st.maxPointScan][j]), conc.YPixel(st.tiNoise[j]), 14);
  }
  gr::SetDrawColor(15);
  return main;
}

}  // namespace svfit::plot
