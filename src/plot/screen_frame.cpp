// Screen layout, pixel mapping, frame and axes of the screen plots.
//
// The layout is a set of distances on the virtual 1024 x 768 grid, each
// scaled by MaxX / 1023 or MaxY / 767 and rounded:
//   y 0..48     status line (crosshair values, fit status), menu text on the right
//   y 48..719   data area (above a residual band of 110 after a fit)
//   y 723       frame bottom line; abscissa ticks and numbers below it
//   x 0..40     scan list; x 40..112 ordinate numbers; x 112 frame left edge
//
// Decade ticks: the step is the power of ten that gives at least five steps in
// the span; every k-th tick carries a number, k the smallest with 10k above
// the number of steps, so an axis never shows more than ten numbers.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "console/format.h"
#include "console/graph.h"
#include "plot/screen_frame.h"
#include "plot/viewer.h"

namespace svfit::plot {

namespace gr = svfit::console;

int ScreenLayout::Scale(double gridX) const { return static_cast<int>(std::lround(gridX * xScale)); }
int ScreenLayout::ScaleY(double gridY) const { return static_cast<int>(std::lround(gridY * yScale)); }

ScreenLayout MakeScreenLayout() {
  ScreenLayout l;
  l.xScale = gr::MaxX() / 1023.0;
  l.yScale = gr::MaxY() / 767.0;
  l.right = gr::MaxX();
  l.listRight = l.Scale(40);
  l.left = l.Scale(112);
  l.top = l.ScaleY(48);
  l.bottomLine = gr::MaxY() - l.ScaleY(44);
  l.bandHeight = l.ScaleY(110);
  l.bandGap = l.ScaleY(14);
  l.statusX = l.left + l.Scale(8);
  l.statusY = l.ScaleY(6);
  l.filesX = l.statusX;
  l.filesY = l.statusY;
  l.iterX = l.statusX + l.Scale(11 * 9);
  l.iterY = l.statusY;
  l.menuY = l.ScaleY(6);
  l.menuX = l.right - l.Scale(33 * 9 + 8);
  return l;
}

void UseMenuFont() {
  const ScreenLayout l = MakeScreenLayout();
  gr::SetTextFont(2, 0, 4);
  gr::ScaleTextFont(static_cast<int>(std::lround(18 * l.xScale)), 10,
                    static_cast<int>(std::lround(18 * l.yScale)), 10);
}

void UseNumberFont() {
  const ScreenLayout l = MakeScreenLayout();
  gr::SetTextFont(2, 0, 4);
  gr::ScaleTextFont(static_cast<int>(18 * 1.16 * l.xScale), 10, static_cast<int>(18 * 1.16 * l.yScale), 10);
}

int AxisScale::XPixel(double r) const {
  return left + static_cast<int>(std::lround((r - xMin) / xSpan * width));
}

int AxisScale::YPixel(double v) const {
  const double p = dataBottom - (v - yMin) / UnitsPerPixel();
  if (!(p >= dataTop)) return dataTop;  // also for NaN
  if (p > dataBottom) return dataBottom;
  return static_cast<int>(std::lround(p));
}

double AxisScale::Radius(int px) const { return xMin + double(px - left) / width * xSpan; }
double AxisScale::Value(int py) const { return yMin + double(dataBottom - py) * UnitsPerPixel(); }

int ScanColor(int i) {
  int c = 16 - i;
  if (c >= 2 && c <= 8) c -= 2;
  while (c < 1) c += 15;
  return c;
}

AbscissaTicks ComputeAbscissaTicks(double xMin, double xSpan, int width) {
  AbscissaTicks t;
  const double v = xSpan > 0 ? xSpan : 1.0;
  double s = 1;
  while (std::trunc(std::fabs(v)) > s) s *= 10;
  s /= 10;
  // A relative epsilon keeps 0.8 / 0.1 at 8 steps despite binary fractions.
  auto stepsOf = [&](double step) { return static_cast<int>(std::trunc(std::fabs(v / step) * (1 + 1e-12))); };
  int n = stepsOf(s);
  while (n < 5) {
    s /= 10;
    n = stepsOf(s);
  }
  t.step = s;
  t.steps = n;
  t.interval = 1;
  while (10 * t.interval <= n) ++t.interval;
  t.spacing = std::fabs(width / v * s);
  const double ratio = xMin / s;
  const double q = ratio - std::floor(ratio);
  // A first tick closer than a ten-thousandth of a step to the left edge
  // stands on the edge; otherwise on the next multiple of the step, and that
  // multiple's number is the label (its index counts from the floor).
  if (s / 10000 >= q * s || q > 1 - 1e-9) {
    t.offset = 0;
    t.firstIndex = std::lround(ratio);
  } else {
    t.offset = std::fabs(width / v * (s - q * s));
    t.firstIndex = static_cast<long>(std::floor(ratio)) + 1;
  }
  return t;
}

std::string AbscissaLabel(double value) {
  const long u = static_cast<long>(value >= 0 ? std::trunc(value * 10000 + 0.999) : std::trunc(value * 10000 - 0.999));
  if (u == 0) return "0";
  std::string digits = std::to_string(std::labs(u));
  const int len = static_cast<int>(digits.size());
  for (int removed = 0; removed < 3 && digits.size() > 1 && digits.back() == '0'; ++removed) digits.pop_back();
  const int intDigits = len - 4;
  if (static_cast<int>(digits.size()) > intDigits) {
    const int at = std::max(0, intDigits);
    digits.insert(static_cast<std::size_t>(at), ".");
    if (len < 4) digits.insert(static_cast<std::size_t>(at) + 1, static_cast<std::size_t>(4 - len), '0');
  }
  if (u < 0) digits.insert(0, "-");
  if (digits[0] == '.') digits.insert(0, "0");
  return digits;
}

OrdinateTicks ComputeOrdinateTicks(double range) {
  OrdinateTicks t;
  const double v = range > 0 && std::isfinite(range) ? range : 1.0;
  double s = 1;
  while (v > s) s *= 10;
  s /= 10;
  while (v / s < 5 * (1 - 1e-12)) s /= 10;
  t.step = s;
  t.steps = static_cast<int>(std::trunc(v / s * (1 + 1e-12)));
  t.interval = 1;
  while (10 * t.interval <= t.steps) ++t.interval;
  t.decimals = std::max(0, -static_cast<int>(std::floor(std::log10(t.interval * s) + 1e-9)));
  return t;
}

void DrawFrameAndAbscissa(const ScreenLayout& lay, const AxisScale& scale) {
  gr::SetDrawMode(0);
  gr::SetLine(0, 1, 1);
  gr::SetDrawColor(15);
  gr::MoveTo(lay.left, 0);
  gr::LineTo(lay.right, 0);
  gr::LineTo(lay.right, lay.bottomLine);
  gr::LineTo(lay.left, lay.bottomLine);
  gr::LineTo(lay.left, 0);
  const AbscissaTicks t = ComputeAbscissaTicks(scale.xMin, scale.xSpan, scale.width);
  UseNumberFont();
  gr::SetTextJustify(1, 2);
  for (int i = 0; i <= t.steps; i += t.interval) {
    const int x = static_cast<int>(std::lround(i * t.spacing + t.offset + lay.left));
    if (x > lay.right) break;
    gr::DrawLine(x, lay.bottomLine, x, lay.bottomLine + 7);
    gr::DrawLine(x, 1, x, 5);
    // Centred under the tick, but kept on the screen at the right edge.
    const std::string label = AbscissaLabel((t.firstIndex + i) * t.step);
    const int half = gr::TextWidth(label) / 2;
    gr::DrawTextAt(std::min(x, lay.right - half), lay.bottomLine + lay.ScaleY(9), label);
  }
  gr::SetTextJustify(0, 2);
}

void DrawOrdinate(const ScreenLayout& lay, const AxisScale& scale) {
  const OrdinateTicks t = ComputeOrdinateTicks(scale.yMax - scale.yMin);
  const double labelStep = t.step * t.interval;
  UseNumberFont();
  gr::SetDrawMode(0);
  gr::SetLine(0, 1, 1);
  gr::SetDrawColor(15);
  gr::SetTextJustify(2, 1);
  const int lift = gr::FontHeight() / 3;  // baseline below the tick: the digits stand centred on it
  for (long j = static_cast<long>(std::ceil(scale.yMin / labelStep - 1e-9));; ++j) {
    const double value = j * labelStep;
    if (value > scale.yMax + 1e-9 * labelStep) break;
    const int y = scale.YPixel(value);
    gr::DrawLine(lay.left - 6, y, lay.left, y);
    gr::DrawLine(lay.right - 4, y, lay.right, y);
    const double shown = std::fabs(value) < 1e-9 * labelStep ? 0.0 : value;
    gr::DrawTextAt(lay.left - 8, y + lift, console::FormatF(shown, 0, t.decimals));
  }
  gr::SetTextJustify(0, 2);
}

std::vector<int> DrawnScans(const AnalysisState& st) {
  std::vector<int> scans;
  const int used = st.seqLast - st.seqFirst + 1;
  const int first = std::max(1, st.display.plotFirst);
  const int last = st.display.plotLast > 0 ? std::min(st.display.plotLast, used) : used;
  const int step = std::max(1, st.display.plotStep);
  for (int p = first; p <= last; p += step) scans.push_back(st.scanSequence[st.seqFirst + p - 1]);
  return scans;
}

double ResidualExtension(double maxResidual, double unitsPerPixel, int bandUnit) {
  if (!(maxResidual > 0)) return 2;
  if (maxResidual * 2 / unitsPerPixel >= bandUnit) return unitsPerPixel * bandUnit / maxResidual;
  double ext = 2;
  for (double e = 4; e <= 128 && maxResidual * e / unitsPerPixel < bandUnit; e *= 2) ext = e;
  return ext;
}

bool PointThinner::Take(int x, int y) {
  if (have_ && std::abs(x - lastX_) < gap_ && std::abs(y - lastY_) < gap_) return false;
  have_ = true;
  lastX_ = x;
  lastY_ = y;
  return true;
}

}  // namespace svfit::plot
