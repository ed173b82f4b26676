// Axes rules, screen plots and the fit display on the headless surface.
#include "plot/screen_plot.h"

#include <gtest/gtest.h>

#include "console/crt.h"
#include "console/graph.h"
#include "models/catalogue.h"
#include "models/model_pass.h"
#include "plot/fit_display.h"
#include "plot/screen_frame.h"
#include "synthetic_series.h"

namespace svfit::plot {
namespace {

namespace gr = svfit::console;

TEST(Ticks, AbscissaDecades) {
  AbscissaTicks t = ComputeAbscissaTicks(6.0, 0.8, 911);
  EXPECT_DOUBLE_EQ(t.step, 0.1);
  EXPECT_EQ(t.steps, 8);
  EXPECT_EQ(t.interval, 1);  // 10 x 1 exceeds 8
  t = ComputeAbscissaTicks(6.0, 1.75, 911);
  EXPECT_DOUBLE_EQ(t.step, 0.1);
  EXPECT_EQ(t.steps, 17);
  EXPECT_EQ(t.interval, 2);
  t = ComputeAbscissaTicks(1, 25, 911);
  EXPECT_DOUBLE_EQ(t.step, 1);
  EXPECT_EQ(t.steps, 25);
  EXPECT_EQ(t.interval, 3);
  t = ComputeAbscissaTicks(6.0, 0.3, 911);  // fewer than 5 steps of 0.1
  EXPECT_DOUBLE_EQ(t.step, 0.01);
  EXPECT_EQ(t.steps, 30);
}

TEST(Ticks, FirstAbscissaTick) {
  // 5.95 cm at the left edge: the first tick is 6.0, half a step inside.
  AbscissaTicks t = ComputeAbscissaTicks(5.95, 1.0, 1000);
  EXPECT_EQ(t.firstIndex, 60);
  EXPECT_NEAR(t.offset, 50, 1e-6);
  EXPECT_NEAR(t.spacing, 100, 1e-9);
  t = ComputeAbscissaTicks(6.0, 1.0, 1000);  // on a tick: at the edge
  EXPECT_EQ(t.firstIndex, 60);
  EXPECT_EQ(t.offset, 0);
  // Just past a tick: the next tick carries the next number.
  t = ComputeAbscissaTicks(6.0005, 1.0, 1000);
  EXPECT_EQ(t.firstIndex, 61);
  EXPECT_NEAR(t.offset, 99.5, 1e-6);
}

TEST(Ticks, AbscissaLabels) {
  EXPECT_EQ(AbscissaLabel(7), "7.0");
  EXPECT_EQ(AbscissaLabel(6.5), "6.5");
  EXPECT_EQ(AbscissaLabel(10), "10.0");
  EXPECT_EQ(AbscissaLabel(0.5), "0.5");
  EXPECT_EQ(AbscissaLabel(0.05), "0.05");
  EXPECT_EQ(AbscissaLabel(6.5555), "6.5555");
  EXPECT_EQ(AbscissaLabel(-0.5), "-.5");
  EXPECT_EQ(AbscissaLabel(0), "0");
  EXPECT_EQ(AbscissaLabel(62 * 0.1), "6.2");  // 6.199999... still 6.2
}

TEST(Ticks, OrdinateDecades) {
  OrdinateTicks t = ComputeOrdinateTicks(0.9);
  EXPECT_DOUBLE_EQ(t.step, 0.1);
  EXPECT_EQ(t.steps, 9);
  EXPECT_EQ(t.interval, 1);
  EXPECT_EQ(t.decimals, 1);
  t = ComputeOrdinateTicks(0.3);
  EXPECT_DOUBLE_EQ(t.step, 0.01);
  EXPECT_EQ(t.interval, 4);
  EXPECT_EQ(t.decimals, 2);
  t = ComputeOrdinateTicks(12);
  EXPECT_DOUBLE_EQ(t.step, 1);
  EXPECT_EQ(t.interval, 2);
  EXPECT_EQ(t.decimals, 0);
  EXPECT_EQ(ComputeOrdinateTicks(0).step, 0.1);  // an empty range still gives ticks
}

TEST(ScanColours, FollowTheListRule) {
  const int expected[17] = {15, 14, 13, 12, 11, 10, 9, 6, 5, 4, 3, 2, 1, 15, 1, 15, 14};
  for (int i = 1; i <= 17; ++i) EXPECT_EQ(ScanColor(i), expected[i - 1]) << "scan " << i;
  for (int i = 1; i <= 700; ++i) {
    EXPECT_GE(ScanColor(i), 1);
    EXPECT_LE(ScanColor(i), 15);
  }
}

TEST(ResidualBand, DefaultExtension) {
  // Residuals that span half the band at extension 4: 4 (8 would overflow).
  const double upp = 0.001;
  const int b = 44;
  const double half = b / 2.0 * upp / 4;
  EXPECT_EQ(ResidualExtension(half, upp, b), 4);
  EXPECT_EQ(ResidualExtension(1e-9, upp, b), 128);
  // Too large even for 2: the largest residual reaches the band unit exactly.
  EXPECT_DOUBLE_EQ(ResidualExtension(0.1, upp, b), upp * b / 0.1);
}

// A series whose scans are flat lines at distinct levels, so each scan's
// points show in their own rows.
void FlatScans(AnalysisState& st, int scans) {
  testing::MakeSeries(st, scans, 0);
  for (int s = 1; s <= scans; ++s)
    for (int j = 1; j <= st.scanLastPoint[s]; ++j) st.scanValue[s][j] = st.fitCurve[s][j] = 0.1 * s;
}

class Plots : public ::testing::Test {
 protected:
  void SetUp() override {
    gr::StartTestConsole("");
    gr::SetGraphicsFrontend(gr::GraphicsFrontend::kHeadless);
    int d = 0, m = 1;
    gr::OpenGraphics(d, m, "");
    lay = MakeScreenLayout();
  }
  void TearDown() override { gr::CloseGraphics(); }
  static int Count(int x1, int y1, int x2, int y2, int c) {
    int n = 0;
    for (int y = y1; y <= y2; ++y)
      for (int x = x1; x <= x2; ++x) n += gr::GetPixel(x, y) == c;
    return n;
  }
  static inline AnalysisState st;
  ScreenLayout lay;
};

TEST_F(Plots, SeriesPlotMapsTheDataRangeAndClearsFittedValues) {
  testing::MakeSeries(st, 5);
  st.scanLastPoint[3] = 300;
  st.fitCurve[3][350] = 0.7;  // beyond the used points: left alone
  const AxisScale sc = DrawSeriesPlot(st);
  EXPECT_DOUBLE_EQ(sc.xMin, 6.0);
  EXPECT_NEAR(sc.xMin + sc.xSpan, 7.2, 1e-9);
  EXPECT_EQ(sc.XPixel(6.0), lay.left);
  EXPECT_EQ(sc.XPixel(sc.xMin + sc.xSpan), lay.right);
  EXPECT_EQ(sc.YPixel(sc.yMin), sc.dataBottom);
  EXPECT_EQ(sc.YPixel(sc.yMax), sc.dataTop);
  EXPECT_EQ(sc.YPixel(sc.yMax + 5), sc.dataTop);  // clamped to the data area
  EXPECT_NEAR(sc.Radius(sc.XPixel(6.5)), 6.5, sc.xSpan / sc.width);
  for (int s = 1; s <= 5; ++s)
    for (int j = 1; j <= st.scanLastPoint[s]; ++j) ASSERT_EQ(st.fitCurve[s][j], 0) << s << " " << j;
  EXPECT_EQ(st.fitCurve[3][350], 0.7);
  EXPECT_EQ(gr::GetPixel(lay.left, 0), 15);  // frame
  EXPECT_EQ(gr::GetPixel(lay.right, lay.bottomLine), 15);
}

TEST_F(Plots, SeriesColoursGoByScanNumber) {
  FlatScans(st, 14);
  const AxisScale sc = DrawSeriesPlot(st);
  const int x = sc.XPixel(6.6);
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.8)), 6);   // scan 8: brown
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(1.4)), 15);  // scan 14: white
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.1)), 15);  // scan 1: white
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.3)), 13);
}

TEST_F(Plots, PointsCloserThanSevenPixelsShowAsOne) {
  testing::MakeSeries(st, 1, 0);
  // Radii 6.0 .. 7.0 over the plot width; 3 cm-thousandths apart are under 3 pixels.
  const int n = st.scanLastPoint[1];
  st.scanSequence[1] = 1;
  for (int j = 1; j <= n; ++j) st.scanValue[1][j] = 0.5;
  st.scanValue[1][1] = 0;
  st.scanValue[1][n] = 1;
  const AxisScale sc = DrawSeriesPlot(st);
  const int y = sc.YPixel(0.5);
  // Along the flat part the dots stand 7 or 8 pixels apart, never closer.
  int last = -100, dots = 0;
  for (int x = lay.left + 10; x < lay.right - 10; ++x)
    if (gr::GetPixel(x, y - 2) == 15 && gr::GetPixel(x - 1, y - 2) != 15) {
      if (last > 0) {
        EXPECT_GE(x - last, 7);
      }
      last = x;
      ++dots;
    }
  EXPECT_GT(dots, (lay.right - lay.left - 20) / 9);
  EXPECT_LT(dots, (lay.right - lay.left) / 7 + 1);
}

TEST_F(Plots, BeforeAFitOnlyDataPoints) {
  FlatScans(st, 3);
  st.maxIterations = 0;
  const AxisScale sc = DrawFitPlot(st);
  EXPECT_EQ(sc.dataBottom, lay.bottomLine - 1);  // no residual band
  // No curve: between two dots of a scan the row is empty.
  const int y = sc.YPixel(0.2);
  int lit = 0;
  for (int x = lay.left + 1; x < lay.right; ++x) lit += gr::GetPixel(x, y) != 0;
  EXPECT_LT(lit, (lay.right - lay.left) * 3 / 4);
}

TEST_F(Plots, AfterAFitCurvesAndResidualBand) {
  FlatScans(st, 3);
  st.maxIterations = 200;
  const AxisScale sc = DrawFitPlot(st);
  EXPECT_LT(sc.dataBottom, lay.bottomLine - lay.bandHeight);  // the band sits under the data
  const int y = sc.YPixel(0.2);
  int lit = 0;
  for (int x = lay.left + 1; x < lay.right; ++x) lit += gr::GetPixel(x, y) == ScanColor(2);
  EXPECT_GE(lit, lay.right - lay.left - 2);  // the model curve runs through
  const int bandTop = lay.bottomLine - lay.bandHeight;
  EXPECT_EQ(gr::GetPixel(lay.left + 500, bandTop), 13);
  EXPECT_EQ(gr::GetPixel(lay.left + 500, bandTop + lay.bandHeight / 2), 13);  // zero line
  st.maxIterations = 0;
}

TEST_F(Plots, CurvesComeFromTheModelOfTheFit) {
  testing::MakeSeries(st, 1, 0);
  st.modelLetter = 'C';  // a Faxen-type boundary of 4.4 S, D 6e-7 cm²/s
  st.paramCount = 5;
  st.param = {};
  st.param[1] = 0.8;
  st.param[2] = 4.4e-13 * st.omega2First;
  st.param[3] = 0.02;
  st.param[4] = 5.95;
  st.param[5] = 6e-7;
  st.psv[1] = 0.73;
  st.updatePsvRho();
  models::classifyDiffusionOrMass(st);
  st.maxIterations = 200;
  st.display = DisplayFlags{};
  st.display.dataPoints = false;
  const AxisScale sc = DrawFitPlot(st);
  const models::ScanModel model(st, 1);
  for (double r : {6.02, 6.05, 6.1, 6.5, 7.0}) {
    const int x = sc.XPixel(r);
    EXPECT_EQ(gr::GetPixel(x, sc.YPixel(model.value(sc.Radius(x)))), ScanColor(1)) << "radius " << r;
  }
  st.maxIterations = 0;
  st.paramCount = 0;
}

TEST_F(Plots, ProfilePlotStartsBelowZero) {
  double r[5] = {0, 6.0, 6.5, 7.0, 7.2}, v[5] = {0, 0.2, 0.4, 1.0, 0.8};
  const AxisScale sc = DrawProfilePlot(r, v, 1, 4);
  EXPECT_DOUBLE_EQ(sc.yMin, -0.1);
  EXPECT_DOUBLE_EQ(sc.yMax, 1.0);
  EXPECT_EQ(gr::GetPixel(sc.XPixel(6.5), sc.YPixel(0.4)), 15);
  const double fixed = 0;
  EXPECT_DOUBLE_EQ(DrawProfilePlot(r, v, 1, 4, &fixed).yMin, 0);
}

TEST_F(Plots, FitDisplayErasesWhatItDrewBefore) {
  FlatScans(st, 4);  // separate rows: erasing one curve cannot touch another
  auto status = [] {
    std::vector<std::uint8_t> img;
    gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), img);
    return img;
  };
  BeginFitDisplay(st);
  st.fitCurve[4][100] += 0.3;  // a spike above the top scan that the next curve has not
  ShowIterationNumber(1);
  for (int s = 1; s <= 4; ++s) RedrawFitCurve(st, s, ScanColor(s));
  ShowFitStatus(2.5e-3, 1e-4, 3.1e-7, 0.2, 5);
  st.fitCurve[4][100] -= 0.3;
  ShowIterationNumber(2);
  for (int s = 1; s <= 4; ++s) RedrawFitCurve(st, s, ScanColor(s));
  ShowFitStatus(1.5e-3, 1e-3, 3.1e-7, 0.01, 1.5);
  const auto twice = status();
  BeginFitDisplay(st);
  ShowIterationNumber(2);
  for (int s = 1; s <= 4; ++s) RedrawFitCurve(st, s, ScanColor(s));
  ShowFitStatus(1.5e-3, 1e-3, 3.1e-7, 0.01, 1.5);
  EXPECT_EQ(twice, status());
  // The status line: yellow, then magenta (0.001 and the step), then yellow.
  int firstMagenta = -1, lastMagenta = -1, lastYellow = -1;
  for (int x = 0; x <= gr::MaxX(); ++x)
    for (int y = lay.statusY; y < lay.top; ++y) {
      const int c = gr::GetPixel(x, y);
      if (c == 13) {
        if (firstMagenta < 0) firstMagenta = x;
        lastMagenta = x;
      }
      if (c == 14) lastYellow = x;
    }
  ASSERT_GT(firstMagenta, 0);
  EXPECT_GT(lastYellow, lastMagenta);
  EndFitDisplay();
}

}  // namespace
}  // namespace svfit::plot
