// The HPGL plot of the current analysis: graph options dialogue, data and
// fit drawing, residuals, and the composition with frame and legends.
//
// Order of one plot: the dialogue (what to draw), the file dialogue
// (hpgl_file.cpp), the residual panels when only those are asked for, the
// pen width, the data drawing (points, then fitted curves, then gradient
// curves), one noise curve or the distribution curve, the frame parts one
// prompt at a time (hpgl_frame.cpp), the residual band, the file-name label,
// and one write of the whole text.
//
// Ordinate: the data range maps onto the data area height H, so a value v
// stands at y = |v / (units per y) + zero offset|. Without residuals the
// data minimum lies 8 x height units above the band base (bottom +
// 8 x height); with residuals the lowest quarter of the frame holds the
// residual band and the data start above it, so points, curves and residuals
// never cover one another.
//
// Points corrected for the noise terms are measured value minus the RI noise
// of the scan and the TI noise of the radial index (and, for the bounded-cell
// models, minus the fitted radial slope of the base line), so that they lie
// on the fitted model curves. Original points are the measured values, spread
// apart upon request.
//
// Fitted curves are sampled along the plotter x with a step that follows the
// slope: 27 units while the curve changes by at most 25 units per step, 9 up
// to 50, 3 up to 100, and a third of the step on anything steeper, so a
// boundary is drawn finely and a plateau with few points.
#include "plot/hpgl_data.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "models/catalogue.h"
#include "models/model_pass.h"
#include "plot/hpgl_frame.h"
#include "plot/screen_frame.h"
#include "plot/viewer.h"

namespace svfit::plot {
namespace {

using console::AskKey;
using console::AskYesNo;
using console::YesNo;

constexpr int kPens = 6;           // pens 1..6 take turns over the scans
constexpr int kResidualDot = 10;   // radius of residual circles and panel dots [units]
constexpr int kYesNoColour = 15;

// The plot being built.
struct Plot {
  const AnalysisState& st;
  PlotOptions& o;
  PlotFileSettings& f;
  PlotFrame frame;
  HpglOut out;
  std::vector<int> scans;  // scan numbers drawn, in order
  bool fitted = false;     // a fit was made: fitted values and parameters exist
  PlotAxes dataAxes;       // the concentration scale (the residual band uses it)
};

int PenOf(int i) { return (i - 1) % kPens + 1; }  // the pen of the i-th scan drawn (i from 1)

bool HaveModel(const AnalysisState& st) {
  return st.paramCount > 0 && models::findModel(st.modelLetter) != nullptr;
}

double RiNoise(const AnalysisState& st, int s) { return st.riNoiseOn ? st.riNoise[s] : 0.0; }
double TiNoise(const AnalysisState& st, int j) { return st.tiNoiseOn ? st.tiNoise[j] : 0.0; }

// The fitted radial slope of the base line of the bounded-cell models at r.
double BaseLineSlopeTerm(const AnalysisState& st, double r) {
  if (!HaveModel(st) || !models::modelInfo(st.modelLetter).hasBottom) return 0;
  return (r - st.linearRefRadius) * st.param[6];
}

// The scans at the chosen positions of the sequence.
std::vector<int> ScansToDraw(const AnalysisState& st, const PlotFileSettings& f) {
  std::vector<int> scans;
  const int first = std::max(f.first, st.seqFirst), last = std::min(f.last, st.seqLast);
  for (int p = first; p <= last; p += std::max(1, f.step)) scans.push_back(st.scanSequence[p]);
  return scans;
}

// The abscissa: the radii of the used points of the scans drawn.
void SetAbscissa(Plot& p) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (int s : p.scans)
    for (int j = p.st.scanFirstPoint[s]; j <= p.st.scanLastPoint[s]; ++j) {
      lo = std::min(lo, p.st.scanRadius[s][j]);
      hi = std::max(hi, p.st.scanRadius[s][j]);
    }
  if (!(hi > lo)) {
    lo = std::isfinite(lo) ? lo : 0;
    hi = lo + 1;
  }
  p.frame.axes.xMin = lo;
  p.frame.axes.xSpan = hi - lo;
}

bool Ask(std::string_view prompt) { return AskYesNo(prompt, YesNo::kEnterYes); }

// ---- Data points ------------------------------------------------------------------------

// One point of a scan of the different-symbol cycle: circle, square, diagonal
// cross, triangle, diamond, filled circle.
void WriteSymbol(HpglOut& out, int shape, long x, long y, int r) {
  const std::string rs = std::to_string(r), d = std::to_string(2 * r);
  const long h = std::lround(0.866 * r);  // half the side of the triangle
  switch (shape % 6) {
    case 0:
      out.MoveTo(x, y);
      out.Put("CI" + rs + ";");
      break;
    case 1:
      out.MoveTo(x - r, y - r);
      out.Put("ER" + d + "," + d + ";");
      break;
    case 2:
      out.MoveTo(x - r, y - r);
      out.DrawTo(x + r, y + r);
      out.Put("PU;");
      out.MoveTo(x - r, y + r);
      out.DrawTo(x + r, y - r);
      out.Put("PU;");
      break;
    case 3:
      out.MoveTo(x, y + r);
      out.DrawTo(x - h, y - r / 2);
      out.DrawTo(x + h, y - r / 2);
      out.DrawTo(x, y + r);
      out.Put("PU;");
      break;
    case 4:
      out.MoveTo(x, y + r);
      out.DrawTo(x + r, y);
      out.DrawTo(x, y - r);
      out.DrawTo(x - r, y);
      out.DrawTo(x, y + r);
      out.Put("PU;");
      break;
    default:
      out.MoveTo(x, y);
      out.Put("WG" + rs + ",0,360;");
      break;
  }
}

// The value a point is drawn at: corrected for the noise terms, or original
// and shifted by its trace's spread.
double PointValue(const Plot& p, int s, int j, double shift) {
  const AnalysisState& st = p.st;
  if (p.o.pointKind == 'O') return st.scanValue[s][j] + shift;
  return st.scanValue[s][j] - RiNoise(st, s) - TiNoise(st, j) - BaseLineSlopeTerm(st, st.scanRadius[s][j]);
}

// Spread between the traces of original points: half the data range shared
// out over the traces.
double SpreadStep(const Plot& p, double range) {
  const int traces = static_cast<int>(p.scans.size());
  return p.o.spread && p.o.pointKind == 'O' && traces > 1 ? range / (2.0 * traces) : 0.0;
}

// The concentration ordinate: the points' range; for the bounded-cell
// models room up to 1.3 x the summed amplitudes above the base line.
void SetDataOrdinate(Plot& p, double& spread) {
  const AnalysisState& st = p.st;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (int s : p.scans)
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      const double v = PointValue(p, s, j, 0);
      if (!std::isfinite(v)) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  if (!std::isfinite(lo)) lo = hi = 0;
  spread = SpreadStep(p, hi - lo);
  hi += spread * std::max(0, static_cast<int>(p.scans.size()) - 1);
  if (p.fitted && HaveModel(st) && models::modelInfo(st.modelLetter).hasBottom) {
    const models::ModelInfo& m = models::modelInfo(st.modelLetter);
    double amplitudes = 0;
    for (int k = 1; k <= models::componentCountFor(m, st.paramCount); ++k)
      amplitudes += st.param[models::componentSlots(m, k).c0];
    hi = std::max(hi, 1.3 * (amplitudes - st.param[3]));
  }
  SetOrdinate(p.frame, lo, hi);
}

void WritePoints(Plot& p, double spread) {
  const AnalysisState& st = p.st;
  PlotOptions& o = p.o;
  const std::string prompt = "Radius of data point    " + console::FormatI(o.symbolRadius, 3) + " :  ";
  o.symbolRadius = console::AskNumber({.prompt = prompt,
                                       .defaultValue = static_cast<double>(o.symbolRadius),
                                       .defaultColumn = static_cast<int>(prompt.size()) + 1,
                                       .integer = true,
                                       .valid = [](double v) { return v >= 0 && v <= 999; }})
                       .asInt();
  if (o.symbols == 'C')
    o.fillCircles = AskYesNo("Fill circuits         (Y/N) :  ", YesNo::kOnlyY);
  const int r = o.symbolRadius;
  p.out.TextSize(0.005 * r, 0.005 * r);
  p.out.Line();
  for (std::size_t i = 0; i < p.scans.size(); ++i) {
    const int s = p.scans[i];
    p.out.Pen(PenOf(static_cast<int>(i) + 1));
    PointThinner thin(r + 10);  // points closer than the symbol and a pen width show as one
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      const double v = PointValue(p, s, j, spread * static_cast<double>(i));
      if (!std::isfinite(v)) continue;
      const long x = PlotterX(p.frame, st.scanRadius[s][j]), y = PlotterY(p.frame, v);
      if (!thin.Take(static_cast<int>(x), static_cast<int>(y))) continue;
      if (o.symbols == 'D') {
        WriteSymbol(p.out, static_cast<int>(i), x, y, r);
      } else if (r >= 10) {
        WriteSymbol(p.out, 0, x, y, r);
        if (o.fillCircles) WriteSymbol(p.out, 5, x, y, r);
      } else {  // too small for a circle: a short stroke at the point
        p.out.MoveTo(x, y);
        p.out.DrawTo(x, y);
      }
      p.out.Line();
    }
    p.out.Put("PU;");
    p.out.Line();
  }
}

// ---- Fitted curves --------------------------------------------------------------------------

// The model curve of scan s from its first data point on, along the plotter
// x; the concentration curve ends past the last data point once it stands
// above that point, the gradient curve at the last data point.
void WriteCurve(Plot& p, int s, int pen, bool gradient) {
  const AnalysisState& st = p.st;
  const PlotGeometry& g = p.frame.geo;
  const PlotAxes& a = p.frame.axes;
  const int j1 = st.scanFirstPoint[s], j2 = st.scanLastPoint[s];
  if (j2 < j1) return;
  const models::ScanModel model(st, s);
  const double rLast = st.scanRadius[s][j2];
  const long yLast = PlotterY(p.frame, PointValue(p, s, j2, 0));
  p.out.Pen(pen);
  double u = (st.scanRadius[s][j1] - a.xMin) / a.xSpan * g.plotWidth;  // plotter units from the left edge
  int step = 9;
  bool down = false;
  long px = 0, py = 0;
  for (int n = 0; n < 100000 && u <= g.plotWidth + 0.5; ++n, u += step) {
    const double r = a.xMin + a.xSpan / g.plotWidth * u;
    const double v = gradient ? model.gradient(r) : model.value(r) - BaseLineSlopeTerm(st, r);
    if (!std::isfinite(v)) continue;
    const long x = g.left + std::lround(u), y = PlotterY(p.frame, v);
    if (y < g.bottom) {  // below the frame: not drawn
      if (down) p.out.Put("PU;");
      down = false;
    } else if (!down) {
      p.out.MoveTo(x, y);
      p.out.Put("PD;");
      down = true;
    } else {
      const long dy = std::labs(y - py);
      // A steep stretch after a long step: the pen goes over the last point
      // again, so the plotter does not round the corner off.
      if (dy >= 10 && step >= 4) p.out.DrawTo(px, py);
      p.out.DrawTo(x, y);
      p.out.Line();
      step = dy <= 25 ? 27 : dy <= 50 ? 9 : dy <= 100 ? 3 : (step + 2) / 3;
    }
    px = x;
    py = y;
    if (r > rLast && (gradient || y >= yLast)) break;
  }
  p.out.Put("PU;");
  p.out.Line();
}

void WriteFitCurves(Plot& p, bool gradient) {
  for (std::size_t i = 0; i < p.scans.size(); ++i)
    WriteCurve(p, p.scans[i], PenOf(static_cast<int>(i) + 1), gradient);
}

// ---- Data drawing ------------------------------------------------------------------------------

// Points and (for corrected points after a fit, when asked) the fitted curves.
void DrawConcentration(Plot& p, double spread) {
  WritePoints(p, spread);
  if (p.o.pointKind == 'C' && p.fitted && HaveModel(p.st) &&
      AskYesNo("Draw fit curves       (Y/N) :  ", YesNo::kEnterYes))
    WriteFitCurves(p, false);
}

// The radial gradients of the fitted model, on their own ordinate.
void DrawGradients(Plot& p) {
  if (!p.fitted || !HaveModel(p.st)) return;
  const AnalysisState& st = p.st;
  double lo = 0, hi = 0;
  for (int s : p.scans) {
    const models::ScanModel model(st, s);
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      const double g = model.gradient(st.scanRadius[s][j]);
      if (!std::isfinite(g)) continue;
      lo = std::min(lo, g);
      hi = std::max(hi, g);
    }
  }
  SetOrdinate(p.frame, lo, hi);
  WriteFitCurves(p, true);
}

// ---- Residuals ---------------------------------------------------------------------------------

double Residual(const AnalysisState& st, int s, int j) { return st.scanValue[s][j] - st.fitCurve[s][j]; }

// The band under the data: residuals magnified by the extension (the largest
// power of two up to 128 that keeps them inside one band unit b = H div 9,
// or the user's factor), a zero line, the band's frame and the residual of
// one band unit at its scale marks.
void DrawResidualBand(Plot& p) {
  const AnalysisState& st = p.st;
  const PlotGeometry& g = p.frame.geo;
  const ResidualBand band = ResidualBandOf(g);
  const int b = g.dataHeight / 9;
  const double upy = p.dataAxes.unitsPerY;
  double largest = 0;
  for (int s : p.scans)
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j)
      if (std::isfinite(Residual(st, s, j))) largest = std::max(largest, std::fabs(Residual(st, s, j)));
  const bool own = p.o.extensionChoice == 'A' && p.o.residualExtension > 0;
  const double ext = own ? p.o.residualExtension : ResidualExtension(largest, upy, b);
  p.o.residualExtension = ext;
  console::WriteLn("Extension of the residuals ref.to data :" + console::FormatF(ext, 7, 2));
  p.out.Put(p.f.slideBold && !p.f.boldText ? "PW0.2;" : "PW0.1;");
  p.out.Line();
  for (std::size_t i = 0; i < p.scans.size(); ++i) {
    const int s = p.scans[i];
    p.out.Pen(PenOf(static_cast<int>(i) + 1));
    PointThinner thin(p.o.residualStyle == 'S' ? 1 : 2 * kResidualDot);
    bool first = true;
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      const double e = Residual(st, s, j);
      if (!std::isfinite(e)) continue;
      const long x = PlotterX(p.frame, st.scanRadius[s][j]);
      const long y = std::clamp<long>(band.zero + std::lround(std::clamp(e * ext / upy, -1e6, 1e6)),
                                      band.low, band.high);
      if (!thin.Take(static_cast<int>(x), static_cast<int>(y))) continue;
      if (p.o.residualStyle == 'S') {
        if (first) p.out.MoveTo(x, y);
        else p.out.DrawTo(x, y);
      } else {
        WriteSymbol(p.out, 0, x, y, kResidualDot);
        if (p.o.fillCircles) WriteSymbol(p.out, 5, x, y, kResidualDot);
      }
      first = false;
      p.out.Line();
    }
    p.out.Put("PU;");
    p.out.Line();
  }
  HpglOut& out = p.out;
  out.Put("SP1;");
  out.MoveTo(g.left, band.zero);
  out.DrawTo(g.right, band.zero);
  out.Put("PU;");
  out.MoveTo(g.left, band.low);
  for (const auto& [x, y] : {std::pair{g.right, band.low}, {g.right, band.high}, {g.left, band.high},
                             {g.left, band.low}})
    out.DrawTo(x, y);
  out.Put("PU;");
  out.Line();
  // Scale marks one band unit below and above the zero line, each with the
  // residual it stands for.
  const double unit = b * upy / ext;
  const int h = static_cast<int>(0.027 * g.textFactor * g.height * 400);  // label height [units]
  out.TextSize(0.018 * g.width, 0.027 * g.textFactor * g.height);
  for (const int sign : {-1, 1}) {
    const int y = band.zero + sign * b;
    out.MoveTo(g.left, y);
    out.DrawTo(g.left + 2 * g.tick, y);
    out.Put("PU;");
    // The label on the zero line's side of its mark, inside the band.
    out.MoveTo(g.left + 3 * g.tick, sign < 0 ? y + h / 4 : y - h - h / 4);
    out.Put(std::string("LB") + (sign < 0 ? "-" : "+") + console::FormatF(unit, 0, 3) + kEtx);
  }
  out.Line();
}

// Residual panels, one per scan (at most nine), top down: each panel 2 hp
// high around its zero line; the whole frame height spans the resolution.
// A point above its fit is drawn below the zero line.
void DrawResidualPanels(Plot& p) {
  const AnalysisState& st = p.st;
  PlotGeometry& g = p.frame.geo;
  const int k = static_cast<int>(p.scans.size());
  LowerTopForPanels(g, k);
  const int d = g.top - g.bottom, hp = d / (2 * std::max(1, k));
  const double scale = p.o.residualResolution / d;  // data units per plotter unit
  PlotAxes& a = p.frame.axes;
  a.yMin = 0;
  a.yMax = p.o.residualResolution;
  a.unitsPerY = scale;
  a.zeroOffset = g.bottom;
  a.dataLow = g.bottom;
  a.dataHigh = g.top;
  p.out.Put(p.f.slideBold && !p.f.boldText ? "PW0.2;" : "PW0.1;");
  p.out.Line();
  for (int j = 1; j <= k; ++j) {
    const int s = p.scans[static_cast<std::size_t>(j) - 1];
    p.out.Pen((p.f.first - 1 + j - 1) % kPens + 1);
    const int y0 = g.top - (2 * j - 1) * hp;
    bool first = true;
    for (int i = st.scanFirstPoint[s]; i <= st.scanLastPoint[s]; ++i) {
      const double e = Residual(st, s, i);
      if (!std::isfinite(e)) continue;
      const long x = PlotterX(p.frame, st.scanRadius[s][i]);
      const long y = std::clamp<long>(y0 - std::lround(std::clamp(e / scale, -1e6, 1e6)),
                                      g.top - 2L * k * hp, g.top);
      if (p.o.residualStyle == 'S') {
        if (first) p.out.MoveTo(x, y);
        else p.out.DrawTo(x, y);
      } else {
        p.out.MoveTo(x, y);
        p.out.Put("WG" + std::to_string(kResidualDot) + ",0,360;");
      }
      first = false;
      p.out.Line();
    }
    p.out.Put("PU;SP1;");
    p.out.MoveTo(g.left, y0);
    p.out.DrawTo(g.right, y0);
    p.out.Put("PU;");
    p.out.Line();
  }
}

// ---- Composition -------------------------------------------------------------------------------

std::string EditLegend(const std::string& byDefault) {
  console::WriteLn("Change text or acknowledge with \"Enter\"");
  const std::string text = console::EditLine(byDefault);
  return text.empty() ? byDefault : text;
}

void ComposePlot(Plot& p) {
  const AnalysisState& st = p.st;
  PlotFrame& frame = p.frame;
  switch (frame.kind) {
    case PlotKind::kData:
      // Concentrations unless only gradients are shown; gradients when shown.
      // The concentration scale is set in any case: the residual band uses it.
      {
        double spread = 0;
        SetDataOrdinate(p, spread);
        p.dataAxes = frame.axes;
        if (st.display.concentration || !st.display.gradient) DrawConcentration(p, spread);
      }
      if (st.display.gradient) {
        const PlotAxes concentration = frame.axes;
        DrawGradients(p);
        // With concentrations drawn too, the axes keep their scale.
        if (st.display.concentration) frame.axes = concentration;
      }
      break;
    case PlotKind::kTiNoise: WriteTiNoiseCurve(p.out, frame, st); break;
    case PlotKind::kRiNoise: WriteRiNoiseCurve(p.out, frame, st); break;
    case PlotKind::kDistribution: WriteDistributionCurve(p.out, frame, st); break;
    case PlotKind::kResidualOnly: break;  // the panels are drawn already
  }

  console::SetTextColor(kYesNoColour);
  const std::vector<PlacedText>& texts = PlacedTexts();
  if (!texts.empty() && Ask("Write additional text on plot    (Y/N) : ")) {
    std::vector<PlacedText> ordered;  // the vertical texts first
    for (bool vertical : {true, false})
      for (const PlacedText& t : texts)
        if (t.vertical == vertical) ordered.push_back(t);
    WriteAdditionalTexts(p.out, frame.geo, ordered);
  }
  if (Ask("Draw frame                       (Y/N) : ")) WriteFrame(p.out, frame.geo);
  if (!p.f.boldText) p.out.Put(p.f.slideBold ? "SD6,4;" : "SD6,3;");  // label stroke weight
  if (Ask("Draw tickse to the abcissa       (Y/N) : ")) {
    WriteAbscissaTicks(p.out, frame);
    if (Ask("Write the radius values          (Y/N) : ")) WriteAbscissaNumbers(p.out, frame);
  }
  if (Ask("Write legend under abcissa       (Y/N) : ")) {
    const char* legend = frame.kind == PlotKind::kRiNoise         ? "data sets"
                         : frame.kind == PlotKind::kDistribution ? "Sedimentation coefficient"
                                                                  : "radius [cm]";
    WriteAbscissaLegend(p.out, frame.geo, EditLegend(legend));
  }
  const OrdinateScale scale = OrdinateScaleOf(frame);
  if (Ask("Draw tickse to the ordinate      (Y/N) : ")) {
    WriteOrdinateTicks(p.out, frame, scale);
    if (Ask("Write absorbance(fringes) values (Y/N) : ")) WriteOrdinateNumbers(p.out, frame, scale);
  }
  if (Ask("Write legend beside the ordinate (Y/N) : ")) {
    const char* legend = frame.kind == PlotKind::kDistribution   ? "*g(s)"
                         : st.dataKind == 'P'                      ? "fringes"
                         : frame.kind == PlotKind::kResidualOnly ? " residuals(OD)"
                                                                  : "absorbance";
    WriteOrdinateLegend(p.out, frame, scale, EditLegend(legend));
  }
}

// The residual questions: circles or sprocket line; the extension factor
// (residual panels have their resolution instead).
void AskResidualStyle(PlotOptions& o, bool panels) {
  o.residualStyle = static_cast<char>(AskKey({.prompt = "As (c)ircles or (s)procket line          (C/S) : ",
                                              .keys = "S", .otherwise = 'C'}));
  if (panels) {
    o.extensionChoice = 'A';
    return;
  }
  o.extensionChoice = static_cast<char>(AskKey({.prompt = "Extension factor (a)llege or (d)efault   (A/D) : ",
                                                .keys = "A", .otherwise = 'D'}));
  if (o.extensionChoice == 'A') {
    // Empty keeps the factor given before; without one the default applies.
    o.residualExtension = console::AskNumber({.prompt = "Extension factor relative to the data points   : ",
                                              .defaultValue = o.residualExtension,
                                              .valid = [](double v) { return v > 0 && v <= 1e6; }})
                              .value;
  }
}

}  // namespace

PlotWritten GraphOptionsDialog(const AnalysisState& st, HpglSession& session) {
  Plot p{st, session.options, session.file, {}, HpglOut{}, {}, false, {}};
  PlotOptions& o = p.o;
  p.fitted = st.maxIterations >= 1 && st.fitDone;
  PlotKind kind = PlotKind::kData;
  console::SetTextColor(console::kLightMagenta);
  if (AskYesNo("Draw only (max.9) residual plots  (Y/N) : ", YesNo::kEnterNo) && p.fitted) {
    const int key = AskKey({.prompt = "Resolution of the residual plot (s)mall,(l)ow,(m)edium,(h)igh,(e)xtreme : ",
                            .keys = "SLMHE"});
    // Each resolution a third of the one before [data units over the frame height].
    const std::string keys = "SLMHE";
    const double resolutions[] = {1.62, 0.54, 0.18, 0.054, 0.018};
    o.residualResolution = resolutions[keys.find(static_cast<char>(key))];
    o.residualMode = 'A';
    kind = PlotKind::kResidualOnly;
  } else {
    o.residualMode = 'N';
    console::SetTextColor(console::kLightCyan);
    if (st.distExists && AskYesNo("Draw Sedimentation distribution   (Y/N) : ", YesNo::kEnterNo))
      kind = PlotKind::kDistribution;
    else if (st.tiNoiseOn &&
             AskYesNo("Draw only the TI-noise plot       (Y/N) : ", YesNo::kEnterNo))
      kind = PlotKind::kTiNoise;
    else if (st.riNoiseOn &&
             AskYesNo("Draw only the RI-noise plot       (Y/N) : ", YesNo::kEnterNo))
      kind = PlotKind::kRiNoise;
    if (kind == PlotKind::kData) {
      console::SetTextColor(console::kYellow);
      o.spread = AskYesNo("Spread data traces if possible    (Y/N) : ", YesNo::kEnterNo);
      o.pointKind = 'C';
      if (st.riNoiseOn || st.tiNoiseOn) {
        console::SetTextColor(console::kLightGreen);
        o.pointKind = static_cast<char>(AskKey(
            {.prompt = "Draw data points (O)riginal or (C)orrected for RI and TI noise (O/C) : ",
             .keys = "O", .otherwise = 'C'}));
      }
      console::SetTextColor(console::kWhite);
      o.symbols = static_cast<char>(AskKey({.prompt = "(C)ommon data point symbols or (d)ifferent symbols   (C/D) : ",
                                            .keys = "C", .enter = 'C', .otherwise = 'D'}));
      console::SetTextColor(console::kLightMagenta);
      if (AskYesNo("Draw additional the residuals            (Y/N) : ", YesNo::kEnterYes) && p.fitted)
        o.residualMode = 'Y';
    }
  }
  if (o.residualMode != 'N') AskResidualStyle(o, kind == PlotKind::kResidualOnly);
  console::SetTextColor(console::kWhite);

  const bool band = o.residualMode == 'Y';
  const OpenedPlot opened = OpenPlotFile(st, p.f, kind, band);
  p.frame.geo = opened.geometry;
  p.frame.kind = kind;
  p.frame.residualsBelow = band;
  p.out = HpglOut(p.f.boldText);
  p.out.Put(opened.header);
  if (kind == PlotKind::kData || kind == PlotKind::kResidualOnly) {
    p.scans = ScansToDraw(st, p.f);
    SetAbscissa(p);
  }
  if (kind == PlotKind::kResidualOnly) {
    DrawResidualPanels(p);
    o.residualMode = 'N';  // the next plot starts without residuals
  }
  p.out.Put(p.f.slideBold && !p.f.boldText ? "PW0.5;" : "PW0.3;");
  p.out.Line();
  ComposePlot(p);
  if (o.extensionChoice != 'A') o.residualExtension = 0;
  if (band) DrawResidualBand(p);
  console::SetTextColor(kYesNoColour);
  const bool withName = AskYesNo("Print the data file-name         (Y/N) : ", YesNo::kEnterYes);
  // The name label ends with what identifies the plot: the scan whose radii
  // carry the distribution, or the residual magnification.
  const std::string suffix = kind == PlotKind::kDistribution ? console::FormatI(st.distMidScan, 6)
                             : kind == PlotKind::kRiNoise
                                 ? "5.00x"
                                 : console::FormatF(o.residualExtension, 0, 2) + "x";
  p.out.Put(PlotTrailer(withName, st.directoryPath, p.f.name, suffix, p.f));
  PlotWritten w;
  w.path = p.f.path;
  w.geometry = p.frame.geo;
  w.written = WritePlotText(p.f, p.out.text());
  return w;
}

PlotWritten WriteHpglPlot(const AnalysisState& st, HpglSession& session) {
  session.file.slideBold = AskYesNo("Bold text for slide ?             (Y/N) : ", YesNo::kEnterNo);
  const PlotWritten w = GraphOptionsDialog(st, session);
  session.file.step = 1;
  // The next plot of the same file stands 1500 units (3.75 cm) beyond the
  // top of this one, as on the paper of a roll plotter.
  if (w.written) session.file.yOffset = w.geometry.top + 1500;
  return w;
}

}  // namespace svfit::plot
