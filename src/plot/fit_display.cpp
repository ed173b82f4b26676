// The fit's picture (see fit_display.h).
//
// The scale is fixed once from the data, with room for the model to overshoot
// by a fifth of the range, so curves of later iterations stay comparable.
// Each scan's curve is kept as the pixel polyline last drawn; redrawing it
// first draws that polyline in colour 0, then the new one. Texts are erased
// the same way: by drawing the text shown before in colour 0.
#include "plot/fit_display.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "console/crt.h"
#include "console/format.h"
#include "console/graph.h"
#include "plot/screen_frame.h"

namespace svfit::plot {

namespace gr = svfit::console;

namespace {

struct FitPicture {
  ScreenLayout lay;
  AxisScale scale;
  std::vector<std::vector<std::pair<int, int>>> curves;  // [scan] pixel polyline
  std::string iterText;       // iteration number shown
  std::string statusText;     // status line shown
  bool active = false;
} g_fit;

void Polyline(const std::vector<std::pair<int, int>>& pts) {
  if (pts.empty()) return;
  gr::MoveTo(pts[0].first, pts[0].second);
  for (std::size_t i = 1; i < pts.size(); ++i) gr::LineTo(pts[i].first, pts[i].second);
}

// Draws `text` at (x, y) in the menu font, left and top aligned.
void Text(int x, int y, const std::string& text, int colour) {
  UseMenuFont();
  gr::SetTextJustify(0, 2);
  gr::SetDrawColor(colour);
  gr::DrawTextAt(x, y, text);
}

}  // namespace

void BeginFitDisplay(const AnalysisState& st) {
  g_fit = FitPicture{};
  g_fit.lay = MakeScreenLayout();
  const ScreenLayout& lay = g_fit.lay;
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
  if (!(xMax > xMin)) { xMin = 0; xMax = 1; }
  if (!(yMax > yMin)) { yMin = std::isfinite(yMin) ? yMin - 0.5 : 0; yMax = yMin + 1; }
  const double pad = 0.2 * (yMax - yMin);
  AxisScale& sc = g_fit.scale;
  sc.xMin = xMin;
  sc.xSpan = xMax - xMin;
  sc.yMin = yMin - pad;
  sc.yMax = yMax + pad;
  sc.left = lay.left;
  sc.width = lay.right - lay.left;
  sc.dataTop = lay.top;
  sc.dataBottom = lay.bottomLine - 1;
  g_fit.curves.assign(kMaxScans + 1, {});
  g_fit.active = true;
  gr::ShowGraphics(2);
  DrawFrameAndAbscissa(lay, sc);
  Text(lay.filesX, lay.filesY, "files: " + std::to_string(st.seqLast - st.seqFirst + 1), 15);
}

void ShowIterationNumber(int n) {
  if (!g_fit.active) return;
  if (!g_fit.iterText.empty()) Text(g_fit.lay.iterX, g_fit.lay.iterY, g_fit.iterText, 0);
  g_fit.iterText = std::to_string(n);
  Text(g_fit.lay.iterX, g_fit.lay.iterY, g_fit.iterText, 14);
}

void RedrawFitCurve(const AnalysisState& st, int s, int colour) {
  if (!g_fit.active || s < 1 || s > kMaxScans) return;
  auto& pts = g_fit.curves[static_cast<std::size_t>(s)];
  gr::SetDrawMode(0);
  gr::SetLine(0, 1, 1);
  if (!pts.empty()) {
    gr::SetDrawColor(0);
    Polyline(pts);
  }
  pts.clear();
  for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
    const std::pair<int, int> p{g_fit.scale.XPixel(st.scanRadius[s][j]), g_fit.scale.YPixel(st.fitCurve[s][j])};
    if (pts.empty() || pts.back() != p) pts.push_back(p);
  }
  gr::SetDrawColor(colour);
  if (pts.size() == 1) gr::SetPixel(pts[0].first, pts[0].second, colour);
  Polyline(pts);
}

void ShowFitStatus(double sumSq, double dSumSq, double ssLimit, double stepNorm, double q) {
  if (!g_fit.active) return;
  using console::FormatExp11;
  const ScreenLayout& lay = g_fit.lay;
  const int x = lay.iterX + lay.Scale(6 * 9), y = lay.statusY;
  if (!g_fit.statusText.empty()) Text(x, y, g_fit.statusText, 0);
  const std::string a = FormatExp11(sumSq) + " " + FormatExp11(dSumSq) + " " + FormatExp11(ssLimit) + " ";
  const std::string b = FormatExp11(0.001) + " " + FormatExp11(stepNorm) + " ";
  const std::string c = FormatExp11(q);
  Text(x, y, a, 14);
  gr::SetDrawColor(13);
  gr::DrawText(b);
  gr::SetDrawColor(14);
  gr::DrawText(c);
  g_fit.statusText = a + b + c;
  gr::SetDrawColor(15);
}

void ShowFitOutcome(const std::string& outcome, const std::string& detail) {
  const ScreenLayout& lay = g_fit.lay;
  UseMenuFont();
  if (!outcome.empty()) Text(lay.statusX, lay.statusY + gr::FontHeight() + 2, outcome, 13);
  if (!detail.empty()) Text(lay.statusX, lay.top + 2, detail, 13);
  gr::SetDrawColor(15);
}

AxisScale FitDisplayScale() { return g_fit.scale; }

void EndFitDisplay() {
  g_fit.curves.clear();
  g_fit.iterText.clear();
  g_fit.statusText.clear();
  g_fit.active = false;
}

// On a terminal without a graphics window the picture is not seen: the fit's
// progress then goes on one console line that each iteration rewrites.
namespace {
struct ConsoleProgress {
  bool on = false;
  int iteration = 0;
};
ConsoleProgress g_progress;
}  // namespace

fit::FitObserver FitDisplayObserver() {
  fit::FitObserver o;
  o.begin = [](const AnalysisState& st) {
    BeginFitDisplay(st);
    g_progress = {!gr::IsScriptFrontend() && !gr::GraphicsWindowActive(), 0};
  };
  o.evaluating = [](int iteration) {
    ShowIterationNumber(iteration);
    g_progress.iteration = iteration;
  };
  o.evaluated = [](const AnalysisState& st) {
    for (int p = st.seqFirst; p <= st.seqLast; ++p) {
      const int s = st.scanSequence[p];
      RedrawFitCurve(st, s, ScanColor(s));
    }
  };
  o.status = [](const fit::FitStatus& f) {
    ShowFitStatus(f.sumSq, f.dSumSq, f.ssLimit, f.stepNorm, f.q);
    if (!g_progress.on) return;
    gr::Write("\rfit: iteration " + std::to_string(g_progress.iteration) + "  SS " +
              gr::FormatExp11(f.sumSq) + "  damping " + gr::FormatF(f.q, 0, 3) + "  (I stops)");
    gr::ClearToEndOfLine();
  };
  o.end = [] {
    EndFitDisplay();
    if (g_progress.on && g_progress.iteration > 0) gr::WriteLn();
    g_progress = {};
  };
  return o;
}

}  // namespace svfit::plot
