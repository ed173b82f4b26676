// Frame, axes and legends of the HPGL plots (see hpgl_frame.h).
//
// Tick spacing: the decade step s is the power of ten that gives at least
// five steps n in the span (the rule of the screen plots); on paper every
// k-th tick is drawn and numbered, k the smallest with n < 7k on the
// abscissa (at most six numbers across) and n < 10k on the ordinate. Residual
// panels divide their range into 18 steps, one tick per half panel.
//
// Numbers are written glyph by glyph so that a pen plotter spaces them the
// same on every device: a glyph advances a = trunc(10 width + 10) units, a
// decimal point and the glyph before it n = trunc(6 width + 10). Abscissa
// numbers stand centred under their tick, ordinate numbers right-aligned left
// of the frame. Every coordinate is computed in double and truncated to an
// integer unit as it is written.
//
// The distribution plot puts s* [S] on the abscissa, s* = 1e13 ln(r / r_m) /
// (ω² t_mid) of the radius of each point of the distribution's middle scan,
// as the distribution computed it; g(s*) has the ordinate.
#include "plot/hpgl_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "console/format.h"
#include "plot/screen_frame.h"

namespace svfit::plot {
namespace {

long Trunc(double v) { return static_cast<long>(std::trunc(v)); }

bool NoisePlot(PlotKind k) { return k == PlotKind::kTiNoise || k == PlotKind::kRiNoise; }

// The significant decimals of a value, at most four: 0.05 has 2, 0.1 has 1, 3 has 0.
int Decimals(double value) {
  long long u = std::llround(std::fabs(value) * 1e4);
  int d = 4;
  while (d > 0 && u % 10 == 0) {
    u /= 10;
    --d;
  }
  return d;
}

// Text of a label: printable Latin-1 only (no control byte may end the label early).
std::string Printable(std::string_view text) {
  std::string s;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 32 && c != 127) s += c;
  return s;
}

}  // namespace

// ---- Axes ------------------------------------------------------------------------------

void SetOrdinate(PlotFrame& frame, double yMin, double yMax) {
  // A range too small to be told from rounding (a flat curve) gets ±0.5.
  const double size = std::max({1.0, std::fabs(yMin), std::fabs(yMax)});
  if (!(yMax - yMin > 1e-9 * size) || !std::isfinite(yMax - yMin)) {
    const double mid = std::isfinite(yMin) ? yMin : 0.0;
    yMin = mid - 0.5;
    yMax = mid + 0.5;
  }
  const PlotGeometry& g = frame.geo;
  PlotAxes& a = frame.axes;
  a.yMin = yMin;
  a.yMax = yMax;
  a.unitsPerY = (yMax - yMin) / g.dataHeight;
  // The data minimum stands 8 x height units above the band base; with a
  // residual band under the data, H units and 8 x height below the top.
  const double base = frame.residualsBelow ? g.top - g.dataHeight - static_cast<int>(8 * g.height)
                                           : 8 * g.height + g.bandBase;
  a.zeroOffset = base - yMin / a.unitsPerY;
  a.dataLow = static_cast<int>(base);
  a.dataHigh = a.dataLow + g.dataHeight;
}

long PlotterY(const PlotFrame& frame, double value) {
  const double y = std::fabs(value / frame.axes.unitsPerY + frame.axes.zeroOffset);
  return std::min<long>(std::lround(std::min(y, 1e9)), frame.geo.top);
}

long PlotterX(const PlotFrame& frame, double x) {
  const PlotAxes& a = frame.axes;
  return frame.geo.left + std::lround((x - a.xMin) / a.xSpan * frame.geo.plotWidth);
}

ResidualBand ResidualBandOf(const PlotGeometry& g) {
  ResidualBand b;
  b.low = g.bandBase;
  b.high = g.top - g.dataHeight - 2 * static_cast<int>(8 * g.height);
  b.zero = (b.low + b.high) / 2;
  return b;
}

HpglTicks AbscissaTicksOf(double xMin, double xSpan, int plotWidth) {
  const AbscissaTicks t = ComputeAbscissaTicks(xMin, xSpan, plotWidth);
  HpglTicks h{t.step, t.steps, 1, t.spacing, t.offset, t.firstIndex};
  while (h.steps >= 7 * h.interval) ++h.interval;
  return h;
}

std::string HpglAbscissaLabel(double value, bool riPlot) {
  if (!riPlot) return AbscissaLabel(value);
  // Ten-thousandths with up to four trailing zeros removed: the count of data sets.
  const long u = static_cast<long>(value >= 0 ? std::trunc(value * 10000 + 0.999)
                                              : std::trunc(value * 10000 - 0.999));
  if (u == 0) return "0";
  std::string digits = std::to_string(std::labs(u));
  for (int removed = 0; removed < 4 && digits.size() > 1 && digits.back() == '0'; ++removed)
    digits.pop_back();
  return (u < 0 ? "-" : "") + digits;
}

OrdinateScale OrdinateScaleOf(const PlotFrame& frame) {
  const PlotGeometry& g = frame.geo;
  const PlotAxes& a = frame.axes;
  OrdinateScale o;
  if (frame.kind == PlotKind::kResidualOnly) {
    o.step = a.yMax / 18;  // one step per half panel of nine
    o.interval = 1;
    // Fewer panels stand closer: every k-th step, so that the numbers
    // (0.027 f height cm high) do not run into one another.
    const double numberHeight = 0.027 * g.textFactor * g.height * 400;
    while (o.interval * o.step / a.unitsPerY < 1.2 * numberHeight && o.interval < 18) ++o.interval;
  } else {
    const OrdinateTicks t = ComputeOrdinateTicks(a.yMax - a.yMin);
    o.step = t.step;
    o.interval = t.interval;
  }
  o.spacing = o.step / a.unitsPerY;
  o.factor = NoisePlot(frame.kind) ? 2 : 1;
  // The ticks run up to the top (residual panels a little past it, so the
  // last half panel is labelled too).
  const double limit = frame.kind == PlotKind::kResidualOnly ? g.top + 50 : g.top;
  const long every = static_cast<long>(o.interval) * o.factor;  // value steps between ticks
  const double low = g.bottom - 50;                            // ticks stand above this
  // First tick: value 0, or the first multiple of `every` inside the frame;
  // below the origin only when the data go negative.
  long j = std::lround(std::clamp(std::ceil((low - a.zeroOffset) / (o.spacing * every)), -1e9, 1e9));
  if (a.yMin >= 0 || frame.kind == PlotKind::kResidualOnly) j = std::max(0L, j);
  j *= every;
  o.decimals = 0;
  for (int n = 0; n < 1000; ++n, j += every) {
    const long y = Trunc(j * o.spacing + a.zeroOffset);
    if (y > limit) break;
    if (y <= low) continue;
    o.ticks.emplace_back(j, static_cast<int>(y));
    if (j >= 0) o.decimals = std::max(o.decimals, Decimals(j * o.step));
  }
  return o;
}

std::string OrdinateLabel(long j, double step, int decimals) {
  const long m = Trunc(j * step * std::pow(10.0, decimals) + 0.99999);
  std::string s = std::to_string(m);
  if (static_cast<int>(s.size()) < decimals) s.insert(0, static_cast<std::size_t>(decimals) - s.size(), '0');
  if (decimals > 0) s.insert(s.size() - static_cast<std::size_t>(decimals), ".");
  if (s[0] == '.') s.insert(0, "0");
  return s;
}

// ---- Frame and abscissa -------------------------------------------------------------------

void WriteFrame(HpglOut& out, const PlotGeometry& g) {
  const std::string w = std::to_string(g.plotWidth), h = std::to_string(g.top - g.bottom);
  out.Put("VS4;PW0.5;SP1;");  // a slow, wide pen for the frame
  out.MoveTo(g.left, g.bottom);
  out.Put("PR PD" + w + ",0;PR 0," + h + ";PR-" + w + ",0;PR 0,-" + h + ";PU;PW0.3;");
  out.Line();
}

void WriteAbscissaTicks(HpglOut& out, const PlotFrame& frame) {
  const PlotGeometry& g = frame.geo;
  const HpglTicks t = AbscissaTicksOf(frame.axes.xMin, frame.axes.xSpan, g.plotWidth);
  out.Put("SP1;");
  // Below the frame at the bottom edge, inside it at the top.
  for (int edge = 0; edge < 2; ++edge) {
    const int y = edge == 0 ? g.bottom : g.top;
    const int end = edge == 0 ? g.right + 2 : g.right;
    for (int i = 0;; ++i) {
      const long x = std::lround(g.left + t.offset + i * t.interval * t.spacing);
      if (x > end) break;
      out.MoveTo(x, y);
      out.Put("PA PD" + std::to_string(x) + "," + std::to_string(y - g.tick) + ";PU;");
      out.Line();
    }
  }
}

void WriteAbscissaNumbers(HpglOut& out, const PlotFrame& frame) {
  const PlotGeometry& g = frame.geo;
  const HpglTicks t = AbscissaTicksOf(frame.axes.xMin, frame.axes.xSpan, g.plotWidth);
  out.TextSize(0.02 * g.width, 0.03 * g.textFactor * g.height);
  out.Line();
  const long baseline = g.numberBaseline - g.advance / 4;
  for (int i = 0;; ++i) {
    const long x = std::lround(g.left + t.offset + i * t.interval * t.spacing);
    if (x > g.right + 2) break;
    const long index = t.firstIndex + static_cast<long>(i) * t.interval;
    const std::string label = HpglAbscissaLabel(index * t.step, frame.kind == PlotKind::kRiNoise);
    const long glyphs = static_cast<long>(label.size());
    out.Label(x + 50 - (g.advance * glyphs - g.narrow) / 2, baseline, label, g.advance, g.narrow);
  }
}

void WriteAbscissaLegend(HpglOut& out, const PlotGeometry& g, std::string_view text) {
  const std::string s = Printable(text);
  out.TextSize(0.025 * g.width, 0.03 * g.textFactor * g.height);
  out.Line();
  const long half = static_cast<long>(s.size()) / 2;
  const long x = g.left + g.plotWidth / 2 - Trunc(half * 13 * g.width);
  const long y = Trunc(g.bottom - 40 * g.height * g.textFactor);
  const int advance = static_cast<int>(13 * g.width);
  out.Label(x, y, s, advance, advance);
  out.Put("PU;");
  out.Line();
}

// ---- Ordinate ---------------------------------------------------------------------------------

void WriteOrdinateTicks(HpglOut& out, const PlotFrame& frame, const OrdinateScale& scale) {
  const PlotGeometry& g = frame.geo;
  for (const auto& [j, y] : scale.ticks) {
    const std::string ys = std::to_string(y);
    out.MoveTo(g.left, y);
    out.Put("PA PD" + std::to_string(g.left - g.tick) + "," + ys + ";PU;");
    out.MoveTo(g.right, y);
    out.Put("PA PD" + std::to_string(g.right - g.tick) + "," + ys + ";PU;");
    out.Line();
  }
}

namespace {

// Where the ordinate numbers start: right-aligned so that the last glyph
// ends one glyph advance (half a narrow one for a number with a point) and
// one tick length left of the frame.
long OrdinateLabelX(const PlotGeometry& g, const std::string& label) {
  const bool point = label.find('.') != std::string::npos;
  const long end = g.left - g.tick - (point ? g.narrow / 2 : g.advance);
  return end - HpglOut::LabelWidth(label, g.advance, g.narrow);
}

// The ordinate numbers that are written: values from 0 up, below 100000 in
// units of the last decimal, baseline above the frame bottom.
template <typename Fn>
void ForEachOrdinateLabel(const PlotFrame& frame, const OrdinateScale& scale, Fn fn) {
  for (const auto& [j, y] : scale.ticks) {
    if (j < 0) continue;
    if (j * scale.step * std::pow(10.0, scale.decimals) >= 100000) break;
    const int baseline = y + 20;
    if (baseline <= frame.geo.bottom) continue;
    fn(OrdinateLabel(j, scale.step, scale.decimals), baseline);
  }
}

}  // namespace

void WriteOrdinateNumbers(HpglOut& out, const PlotFrame& frame, const OrdinateScale& scale) {
  const PlotGeometry& g = frame.geo;
  if (frame.kind == PlotKind::kResidualOnly)
    out.TextSize(0.018 * g.width, 0.027 * g.textFactor * g.height);
  else
    out.TextSize(0.02 * g.width, 0.03 * g.textFactor * g.height);
  out.Line();
  ForEachOrdinateLabel(frame, scale, [&](const std::string& label, int baseline) {
    out.Label(OrdinateLabelX(g, label), baseline, label, g.advance, g.narrow);
  });
}

void WriteOrdinateLegend(HpglOut& out, const PlotFrame& frame, const OrdinateScale& scale,
                         std::string_view text) {
  const PlotGeometry& g = frame.geo;
  const std::string s = Printable(text);
  // Left of the widest number; a glyph written upwards lies left of its baseline.
  long x = g.left - g.tick - 4L * g.advance;
  ForEachOrdinateLabel(frame, scale, [&](const std::string& label, int) {
    x = std::min(x, OrdinateLabelX(g, label));
  });
  x -= g.advance / 2;
  out.TextSize(0.025 * g.width, 0.03 * g.textFactor * g.height);
  out.Line();
  const int advance = static_cast<int>(13 * g.width);
  long y = (frame.axes.dataLow + frame.axes.dataHigh) / 2 - static_cast<long>(s.size()) / 2 * advance;
  for (char c : s) {
    out.Put("DI,0,1;");
    out.Glyph(x, y, c);
    y += advance;
  }
  out.Put("DI,1,0;");
  out.Line();
}

// ---- Additional texts ----------------------------------------------------------------------------

void WriteAdditionalTexts(HpglOut& out, const PlotGeometry& g, const std::vector<PlacedText>& texts) {
  for (const PlacedText& t : texts) {
    const std::string s = Printable(t.text);
    if (s.empty() || t.screenWidth <= 0 || t.screenHeight <= 0) continue;
    // Screen pixels to the frame: x across the plot width; y counted from the
    // top of the screen, so the frame is entered from its top.
    const double shift = s[0] == '_' ? 0.75 * g.width : -2.5 * g.width;
    const long x = Trunc(g.left + double(t.x) * g.plotWidth / t.screenWidth - shift);
    const long y = Trunc(g.bottom + double(t.screenHeight - t.y) * (g.top - g.bottom) / t.screenHeight);
    // The size of the axis numbers, whatever the data drawing left set.
    out.TextSize(0.02 * g.width, 0.03 * g.textFactor * g.height);
    out.Put(t.vertical ? "SP1;DI,0,1;" : "SP1;");
    out.MoveTo(x, y);
    out.Put("LB" + s);
    out.Put(std::string(1, kEtx));
    if (t.vertical) out.Put("DI,1,0;");
    out.Line();
  }
}

// ---- Noise curves ---------------------------------------------------------------------------------

namespace {

// A polyline through the points and the zero line across the frame.
void WriteCurveWithZeroLine(HpglOut& out, const PlotFrame& frame,
                            const std::vector<std::pair<double, double>>& points) {
  out.Put("SP1;");
  bool first = true;
  for (const auto& [x, v] : points) {
    const long px = PlotterX(frame, x), py = PlotterY(frame, v);
    if (first) out.MoveTo(px, py);
    else out.DrawTo(px, py);
    first = false;
  }
  out.Line();
  const long zero = std::lround(frame.axes.zeroOffset);
  out.Put("PU;");
  out.MoveTo(frame.geo.left + frame.geo.plotWidth, zero);
  out.DrawTo(frame.geo.left, zero);
  out.Put("PU;");
  out.Line();
}

void SetNoiseOrdinate(PlotFrame& frame, const std::vector<std::pair<double, double>>& points) {
  double lo = 0, hi = 0;
  bool any = false;
  for (const auto& p : points) {
    lo = any ? std::min(lo, p.second) : p.second;
    hi = any ? std::max(hi, p.second) : p.second;
    any = true;
  }
  // The zero line stays in the picture, also when every value lies above it
  // (a TI profile of 0.03..0.13 drew it under the frame).
  SetOrdinate(frame, std::min(lo, 0.0), std::max(hi, 0.0));
}

}  // namespace

void WriteRiNoiseCurve(HpglOut& out, PlotFrame& frame, const AnalysisState& st) {
  const int count = std::max(1, st.seqLast - st.seqFirst + 1);
  std::vector<std::pair<double, double>> points;
  for (int p = st.seqFirst; p <= st.seqLast; ++p)
    points.emplace_back(p - st.seqFirst + 1, st.riNoise[st.scanSequence[p]] - st.meanRiOffset);
  frame.axes.xMin = 0;  // data set i stands at i / count of the width
  frame.axes.xSpan = count;
  SetNoiseOrdinate(frame, points);
  WriteCurveWithZeroLine(out, frame, points);
}

void WriteTiNoiseCurve(HpglOut& out, PlotFrame& frame, const AnalysisState& st) {
  std::vector<std::pair<double, double>> points;
  const int s = st.maxPointScan;
  bool counted = false;
  for (int j = 1; j <= st.maxPointCount; ++j) counted = counted || st.pointScanCount[j] > 0;
  if (s >= 1 && s <= kMaxScans) {
    for (int j = 1; j <= std::min(st.maxPointCount, kMaxPoints); ++j)
      if (!counted || st.pointScanCount[j] > 0) points.emplace_back(st.scanRadius[s][j], st.tiNoise[j]);
  }
  if (!points.empty()) {
    frame.axes.xMin = points.front().first;
    frame.axes.xSpan = points.back().first - points.front().first;
    if (!(frame.axes.xSpan > 0)) frame.axes.xSpan = 1;
  }
  SetNoiseOrdinate(frame, points);
  WriteCurveWithZeroLine(out, frame, points);
}

void WriteDistributionCurve(HpglOut& out, PlotFrame& frame, const AnalysisState& st) {
  const int i0 = std::clamp(st.distStart, 1, kMaxPoints);
  const int e = std::clamp(st.distEnd, i0, kMaxPoints);
  PlotAxes& a = frame.axes;
  a.xMin = st.distS[i0];
  a.xSpan = st.distS[e] - st.distS[i0];
  if (!(a.xSpan > 0)) a.xSpan = 1;  // a single point still gets a frame
  SetOrdinate(frame, st.distMin, st.distMax);
  // The pen sets down on g = 0 at the left edge and rises to the first point.
  // When the range leaves 0 out, that origin lies outside the frame (for a
  // range far from 0 even off the page): it is taken to the nearest edge.
  const double bottom = frame.geo.bottom, top = frame.geo.top;
  const long zero = std::lround(std::clamp(a.zeroOffset, bottom, top));
  out.Put("SP1;");
  out.MoveTo(frame.geo.left, zero);
  out.Line();
  for (int i = i0; i <= e; ++i) {
    if (!std::isfinite(st.distG[i]) || !std::isfinite(st.distS[i])) continue;
    out.DrawTo(PlotterX(frame, st.distS[i]), PlotterY(frame, st.distG[i]));
    out.Line();
  }
  out.Put("PU;");
  out.Line();
}

}  // namespace svfit::plot
