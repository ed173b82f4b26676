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

TEST(Ticks, DecadesFirstTickAndLabels) {
  // The step is the power of ten giving at least five steps; every k-th tick
  // is numbered, 10k above the number of steps.
  struct Case { double xSpan, step; int steps, interval; };
  for (const Case k : {Case{0.8, 0.1, 8, 1}, Case{1.75, 0.1, 17, 2}, Case{25, 1, 25, 3},
                       Case{0.3, 0.01, 30, 4}}) {
    const AbscissaTicks t = ComputeAbscissaTicks(6.0, k.xSpan, 911);
    EXPECT_DOUBLE_EQ(t.step, k.step) << k.xSpan;
    EXPECT_EQ(std::pair(t.steps, t.interval), std::pair(k.steps, k.interval)) << k.xSpan;
  }
  // 5.95 cm at the left edge: the first tick is 6.0, half a step (50 pixels)
  // inside; on a tick it stands at the edge; just past one the next is numbered.
  struct First { double xMin; long index; double offset; };
  for (const First k : {First{5.95, 60, 50}, First{6.0, 60, 0}, First{6.0005, 61, 99.5}}) {
    const AbscissaTicks t = ComputeAbscissaTicks(k.xMin, 1.0, 1000);
    EXPECT_EQ(t.firstIndex, k.index) << k.xMin;
    EXPECT_NEAR(t.offset, k.offset, 1e-6) << k.xMin;
    EXPECT_NEAR(t.spacing, 100, 1e-9);
  }
  using L = std::pair<double, const char*>;
  for (const auto& [v, label] : {L{7, "7.0"}, L{10, "10.0"}, L{0.05, "0.05"}, L{6.5555, "6.5555"},
                                 L{-0.5, "-.5"}, L{0, "0"}, L{62 * 0.1, "6.2"}})
    EXPECT_EQ(AbscissaLabel(v), label);
  // Ordinate: step, label interval, decimals; an empty range still gives ticks.
  struct Ord { double range, step; int interval, decimals; };
  for (const Ord k : {Ord{0.9, 0.1, 1, 1}, Ord{0.3, 0.01, 4, 2}, Ord{12, 1, 2, 0}}) {
    const OrdinateTicks o = ComputeOrdinateTicks(k.range);
    EXPECT_DOUBLE_EQ(o.step, k.step) << k.range;
    EXPECT_EQ(std::pair(o.interval, o.decimals), std::pair(k.interval, k.decimals)) << k.range;
  }
  EXPECT_EQ(ComputeOrdinateTicks(0.9).steps, 9);
  EXPECT_EQ(ComputeOrdinateTicks(0).step, 0.1);
}

TEST(ScanColours, FollowTheListRuleAndTheResidualBandItsExtension) {
  const int expected[17] = {15, 14, 13, 12, 11, 10, 9, 6, 5, 4, 3, 2, 1, 15, 1, 15, 14};
  for (int i = 1; i <= 17; ++i) EXPECT_EQ(ScanColor(i), expected[i - 1]) << "scan " << i;
  for (int i = 1; i <= 700; ++i) ASSERT_TRUE(ScanColor(i) >= 1 && ScanColor(i) <= 15) << i;
  // Residuals that span half the band at extension 4: 4 (8 would overflow);
  // too large even for 2: the largest residual reaches the band unit exactly.
  EXPECT_EQ(ResidualExtension(44 / 2.0 * 0.001 / 4, 0.001, 44), 4);
  EXPECT_EQ(ResidualExtension(1e-9, 0.001, 44), 128);
  EXPECT_DOUBLE_EQ(ResidualExtension(0.1, 0.001, 44), 0.001 * 44 / 0.1);
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
  void TearDown() override {
    gr::CloseGraphics();
    st.maxIterations = 0;
    st.paramCount = 0;
  }
  // A series whose scans are flat lines at 0.1, 0.2, ..., each in its own rows.
  static void FlatScans(int scans) {
    testing::MakeSeries(st, scans, 0);
    for (int s = 1; s <= scans; ++s)
      for (int j = 1; j <= st.scanLastPoint[s]; ++j)
        st.scanValue[s][j] = st.fitCurve[s][j] = 0.1 * s;
  }
  // Pixels of a row between the frame lines that are not black.
  int LitInRow(int y, int colour = -1) const {
    int n = 0;
    for (int x = lay.left + 1; x < lay.right; ++x)
      n += colour < 0 ? gr::GetPixel(x, y) != 0 : gr::GetPixel(x, y) == colour;
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
  EXPECT_EQ(sc.XPixel(6.0), lay.left);
  EXPECT_EQ(sc.XPixel(7.2), lay.right);
  EXPECT_EQ(sc.YPixel(sc.yMax + 5), sc.dataTop);  // clamped to the data area
  for (int s = 1; s <= 5; ++s)
    for (int j = 1; j <= st.scanLastPoint[s]; ++j) ASSERT_EQ(st.fitCurve[s][j], 0) << s << " " << j;
  EXPECT_EQ(st.fitCurve[3][350], 0.7);
  EXPECT_EQ(gr::GetPixel(lay.right, lay.bottomLine), 15);  // frame
}

TEST_F(Plots, SeriesColoursGoByScanNumber) {
  FlatScans(14);
  const AxisScale sc = DrawSeriesPlot(st);
  const int x = sc.XPixel(6.6);
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.8)), 6);   // scan 8: brown
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(1.4)), 15);  // scan 14: white
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.1)), 15);  // scan 1: white
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.3)), 13);
}

TEST_F(Plots, PointsCloserThanSevenPixelsShowAsOne) {
  // 0.003 cm apart over 1.2 cm: under 3 pixels between neighbouring points.
  testing::MakeSeries(st, 1, 0);
  for (int j = 1; j <= st.scanLastPoint[1]; ++j) st.scanValue[1][j] = 0.5;
  st.scanValue[1][1] = 0;
  st.scanValue[1][st.scanLastPoint[1]] = 1;
  const AxisScale sc = DrawSeriesPlot(st);
  // Along the flat part the dots stand 7 or 8 pixels apart, never closer.
  const int y = sc.YPixel(0.5) - 2;
  int last = -100, dots = 0;
  for (int x = lay.left + 10; x < lay.right - 10; ++x)
    if (gr::GetPixel(x, y) == 15 && gr::GetPixel(x - 1, y) != 15) {
      if (last > 0) { EXPECT_GE(x - last, 7); }
      last = x;
      ++dots;
    }
  EXPECT_GT(dots, (lay.right - lay.left - 20) / 9);
}

TEST_F(Plots, BeforeAFitOnlyDataPointsAfterItCurvesAndTheResidualBand) {
  FlatScans(3);
  AxisScale sc = DrawFitPlot(st);  // maxIterations 0: no fit made
  EXPECT_EQ(sc.dataBottom, lay.bottomLine - 1);  // no residual band
  EXPECT_LT(LitInRow(sc.YPixel(0.2)), (lay.right - lay.left) * 3 / 4);  // dots, no curve
  st.maxIterations = 200;
  sc = DrawFitPlot(st);
  const int bandTop = lay.bottomLine - lay.bandHeight;
  EXPECT_LT(sc.dataBottom, bandTop);  // the band sits under the data
  EXPECT_GE(LitInRow(sc.YPixel(0.2), ScanColor(2)), lay.right - lay.left - 2);  // the curve
  EXPECT_EQ(gr::GetPixel(lay.left + 500, bandTop), 13);
  EXPECT_EQ(gr::GetPixel(lay.left + 500, bandTop + lay.bandHeight / 2), 13);  // zero line
}

TEST_F(Plots, CurvesComeFromTheModelOfTheFit) {
  // A Faxen-type boundary (model C) of 4.4 S, D 6e-7 cm²/s, without data points:
  // amplitude, s·ω², base line, meniscus, D.
  testing::MakeSeries(st, 1, 0);
  st.modelLetter = 'C';
  st.paramCount = 5;
  st.param = {};
  const double p[] = {0.8, 4.4e-13 * st.omega2First, 0.02, 5.95, 6e-7};
  for (int k = 1; k <= 5; ++k) st.param[k] = p[k - 1];
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
    EXPECT_EQ(gr::GetPixel(x, sc.YPixel(model.value(sc.Radius(x)))), ScanColor(1)) << r;
  }
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
  // Two iterations drawn, the first with a spike above the top scan, give the
  // picture of the second drawn alone.
  FlatScans(4);
  auto iteration = [](int number, double sumSq, double step, double q) {
    ShowIterationNumber(number);
    for (int s = 1; s <= 4; ++s) RedrawFitCurve(st, s, ScanColor(s));
    ShowFitStatus(sumSq, 1e-3, 3.1e-7, step, q);
  };
  auto image = [] {
    std::vector<std::uint8_t> img;
    gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), img);
    return img;
  };
  BeginFitDisplay(st);
  st.fitCurve[4][100] += 0.3;
  iteration(1, 2.5e-3, 0.2, 5);
  st.fitCurve[4][100] -= 0.3;
  iteration(2, 1.5e-3, 0.01, 1.5);
  const auto twice = image();
  BeginFitDisplay(st);
  iteration(2, 1.5e-3, 0.01, 1.5);
  EXPECT_EQ(twice, image());
  EndFitDisplay();
}

}  // namespace
}  // namespace svfit::plot
