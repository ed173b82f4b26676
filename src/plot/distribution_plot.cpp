// The distribution display (see distribution_plot.h). Abscissa and ordinate
// reuse the frame of the screen plots: the abscissa carries s* [S] instead of
// a radius, with the same decade ticks, and the viewer numbers the g(s*)
// ordinate with its decade rule.
#include "plot/distribution_plot.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "console/graph.h"
#include "plot/screen_frame.h"

namespace svfit::plot {

namespace gr = svfit::console;

namespace {

std::string Caption(const AnalysisState& st) {
  const std::string method = st.distMethod == 'R' ? "radial derivative" : "time derivative";
  return "g(s*) against s* [S], " + method + ", scans " + std::to_string(st.distFirstScan) + "-" +
         std::to_string(st.distLastScan);
}

}  // namespace

AxisScale DrawDistributionPlot(const AnalysisState& st) {
  const ScreenLayout lay = MakeScreenLayout();
  const int i0 = st.distStart, e = std::max(i0, st.distEnd);
  AxisScale sc;
  sc.xMin = st.distS[i0];
  sc.xSpan = st.distS[e] - st.distS[i0];
  if (!(sc.xSpan > 0)) sc.xSpan = 1;
  sc.yMin = st.distMin;
  sc.yMax = st.distMax;
  if (!(sc.yMax > sc.yMin)) {  // a flat distribution still maps
    sc.yMin -= 0.5;
    sc.yMax += 0.5;
  }
  sc.left = lay.left;
  sc.width = lay.right - lay.left;
  sc.dataTop = lay.top;
  sc.dataBottom = lay.bottomLine - 1;

  gr::ShowGraphics(2);
  DrawFrameAndAbscissa(lay, sc);
  UseMenuFont();
  gr::SetTextJustify(0, 2);
  gr::SetDrawColor(15);
  gr::DrawTextAt(lay.left + lay.Scale(8), lay.top + lay.ScaleY(4), Caption(st));
  gr::SetDrawColor(14);
  gr::SetLine(0, 1, 1);
  gr::MoveTo(sc.XPixel(st.distS[i0]), sc.YPixel(st.distG[i0]));
  for (int i = i0 + 1; i <= e; ++i) gr::LineTo(sc.XPixel(st.distS[i]), sc.YPixel(st.distG[i]));
  gr::SetDrawColor(15);
  return sc;
}

void ShowDistribution(AnalysisState& st) {
  if (!gr::GraphicsOpen() || !st.distExists) return;
  const AxisScale sc = DrawDistributionPlot(st);
  GraphViewer(st, {.mode = 'B', .startValues = true, .distribution = true}, sc);
  gr::HideGraphics();
}

}  // namespace svfit::plot
