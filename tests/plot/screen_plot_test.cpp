// Axes rules, screen plots, the fit display and the graph viewer driven by
// scripted keys, on the headless surface; the radial range picked in the
// viewer while loading: the cut the loader makes from the marks, the defaults
// of missing marks.
#include "plot/screen_plot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "console/crt.h"
#include "console/format.h"
#include "console/graph.h"
#include "console/hardcopy.h"
#include "models/catalogue.h"
#include "models/model_pass.h"
#include "plot/distribution_plot.h"
#include "plot/fit_display.h"
#include "plot/range_pick.h"
#include "plot/screen_frame.h"
#include "plot/viewer.h"
#include "../scans/scan_fixture.h"

namespace svfit::plot {
namespace {

namespace gr = svfit::console;
using namespace scans::testing;

// A synthetic sedimentation velocity series: `scans` scans of a single 5 S
// boundary moving from the meniscus (5.95 cm) towards the bottom at 40000
// rpm, 0.003 cm point spacing from 6.0 to 7.2 cm, with a small deterministic
// scatter; fitCurve holds the noise-free boundary.
void MakeSeries(AnalysisState& st, int scans, double scatter = 0.004) {
  st.resetSeries();
  const double omega2 = std::pow(M_PI * 40000 / 30, 2), s = 5e-13, rm = 5.95;
  unsigned seed = 12345;
  for (int k = 1; k <= scans; ++k) {
    const double t = 600.0 * k, rb = rm * std::exp(s * omega2 * t);  // boundary [cm]
    const double plateau = 0.9 * std::exp(-2 * s * omega2 * t);
    int n = 0;
    for (double r = 6.0; r <= 7.2 + 1e-9; r += 0.003) {
      ++n;
      seed = seed * 1103515245u + 12345u;
      st.scanRadius[k][n] = r;
      st.fitCurve[k][n] = 0.02 + plateau * 0.5 * std::erfc((rb - r) / 0.04);
      st.modelValue[k][n] = scatter * ((seed >> 16 & 0x7FFF) / 32767.0 - 0.5);
      st.scanValue[k][n] = st.fitCurve[k][n] + st.modelValue[k][n];
    }
    st.scanPointCount[k] = st.scanLastPoint[k] = n;
    st.scanFirstPoint[k] = 1;
    st.scanOmega2[k] = 1.0;
    st.scanTime[k] = t;
    st.scanSequence[k] = k;
  }
  st.omega2First = omega2;
  st.scanCount = st.seqLast = scans;
  st.seqFirst = 1;
  st.minRadius = 6.0;
  st.maxRadius = 7.2;
}

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

// A fresh analysis state on an open headless surface.
class Screen : public ::testing::Test {
 protected:
  void SetUp() override {
    st = AnalysisState{};
    gr::StartTestConsole("");
    gr::SetGraphicsFrontend(gr::GraphicsFrontend::kHeadless);
    int d = 0, m = 1;
    gr::OpenGraphics(d, m, "");
    lay = MakeScreenLayout();
  }
  void TearDown() override { gr::CloseGraphics(); }
  static std::vector<std::uint8_t> Image() {
    std::vector<std::uint8_t> img;
    gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), img);
    return img;
  }
  // Pixels of `colour` (of any but black when -1) in columns x0 .. x1 - 1, rows y0 .. y1 - 1.
  static int Lit(int x0, int x1, int y0, int y1, int colour = -1) {
    int n = 0;
    for (int x = x0; x < x1; ++x)
      for (int y = y0; y < y1; ++y)
        n += colour < 0 ? gr::GetPixel(x, y) != 0 : gr::GetPixel(x, y) == colour;
    return n;
  }
  // Pixels of a row between the frame lines, and of a column of the data area.
  int LitInRow(int y, int colour = -1) const {
    return Lit(lay.left + 1, lay.right, y, y + 1, colour);
  }
  int InColumn(int x, int colour) const { return Lit(x, x + 1, lay.top, lay.bottomLine, colour); }
  static inline AnalysisState st;
  ScreenLayout lay;
};

class Plots : public Screen {
 protected:
  // A series whose scans are flat lines at 0.1, 0.2, ..., each in its own rows.
  static void FlatScans(int scans) {
    MakeSeries(st, scans, 0);
    for (int s = 1; s <= scans; ++s)
      for (int j = 1; j <= st.scanLastPoint[s]; ++j)
        st.scanValue[s][j] = st.fitCurve[s][j] = 0.1 * s;
  }
};

TEST_F(Plots, SeriesPlotMapsTheDataRangeClearsFittedValuesAndColoursByScanNumber) {
  FlatScans(14);
  st.scanLastPoint[3] = 300;
  st.fitCurve[3][350] = 0.7;  // beyond the used points: left alone
  const AxisScale sc = DrawSeriesPlot(st);
  EXPECT_EQ(sc.XPixel(6.0), lay.left);
  EXPECT_EQ(sc.XPixel(7.2), lay.right);
  EXPECT_EQ(sc.YPixel(sc.yMax + 5), sc.dataTop);  // clamped to the data area
  for (int s = 1; s <= 14; ++s)
    for (int j = 1; j <= st.scanLastPoint[s]; ++j) ASSERT_EQ(st.fitCurve[s][j], 0) << s << " " << j;
  EXPECT_EQ(st.fitCurve[3][350], 0.7);
  EXPECT_EQ(gr::GetPixel(lay.right, lay.bottomLine), 15);  // frame
  const int x = sc.XPixel(6.6);
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.8)), 6);   // scan 8: brown
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(1.4)), 15);  // scan 14: white
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.1)), 15);  // scan 1: white
  EXPECT_EQ(gr::GetPixel(x, sc.YPixel(0.3)), 13);
  // Points 0.003 cm apart over 1.2 cm are under 3 pixels apart: closer than
  // seven pixels they show as one, so along scan 1 the dots stand 7 or 8
  // pixels apart, never closer.
  const int y = sc.YPixel(0.1) - 2;
  int last = -100, dots = 0;
  for (int px = lay.left + 10; px < lay.right - 10; ++px)
    if (gr::GetPixel(px, y) == 15 && gr::GetPixel(px - 1, y) != 15) {
      if (last > 0) { EXPECT_GE(px - last, 7); }
      last = px;
      ++dots;
    }
  EXPECT_GT(dots, (lay.right - lay.left - 20) / 9);
}

TEST_F(Plots, BeforeAFitOnlyDataPointsAfterItCurvesAndTheResidualBand) {
  FlatScans(3);
  st.maxIterations = 0;  // no fit made
  AxisScale sc = DrawFitPlot(st);
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
  MakeSeries(st, 1, 0);
  st.modelLetter = 'C';
  st.paramCount = 5;
  const double p[] = {0.8, 4.4e-13 * st.omega2First, 0.02, 5.95, 6e-7};
  for (int k = 1; k <= 5; ++k) st.param[k] = p[k - 1];
  st.psv[1] = 0.73;
  st.updatePsvRho();
  models::classifyDiffusionOrMass(st);
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
  BeginFitDisplay(st);
  st.fitCurve[4][100] += 0.3;
  iteration(1, 2.5e-3, 0.2, 5);
  st.fitCurve[4][100] -= 0.3;
  iteration(2, 1.5e-3, 0.01, 1.5);
  const auto twice = Image();
  BeginFitDisplay(st);
  iteration(2, 1.5e-3, 0.01, 1.5);
  EXPECT_EQ(twice, Image());
  EndFitDisplay();
}

// ---- The viewer ---------------------------------------------------------------------------

// n presses of an extended key: 'M' right, 'K' left, 'H' up.
std::string Press(char scan, int n) {
  std::string s;
  while (n-- > 0) s += {'\0', scan};
  return s;
}
const std::string kFinish = "\x0e";  // Ctrl-N

// The viewer on 16 scans of the series.
class Viewer : public Screen {
 protected:
  void SetUp() override {
    Screen::SetUp();
    gr::HideGraphics();
    SetCrosshairFinishKey(gr::kKeyCtrlN);
    MakeSeries(st, 16);
    scale = DrawSeriesPlot(st);
  }

  // Runs the viewer on `keys`; true when it returned by itself (false when
  // the keys ran out while it still waited).
  bool Run(const std::string& keys, ViewerRequest req) {
    gr::StartTestConsole(keys);
    try {
      result = GraphViewer(st, req, scale);
      return true;
    } catch (const gr::InputEnded&) {
      return false;
    }
  }
  AxisScale scale;
  ViewerResult result;
};

// One pixel a key, 15 with Shift, and the [cross] lines: the sessions of
// tests/driver, which steer by them. Here the keys queued before the script
// and the edges of the plot; the crosshair starts at (350, 200).
TEST_F(Viewer, CrosshairTakesQueuedKeysFirstAndNeverLeavesThePlot) {
  gr::StartTestConsole("A" + kFinish);
  gr::PostExtendedKey(gr::kScanRight, true);  // with Shift
  gr::PostExtendedKey(gr::kScanRight, true);
  GraphViewer(st, {'N'}, scale);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(380));
  ASSERT_TRUE(Run(Press('K', 250) + "A" + kFinish, {'N'}));
  EXPECT_TRUE(result.startPicked);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(lay.left + 1));
  ASSERT_TRUE(Run(Press('M', 700) + Press('H', 210) + "A" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(lay.right - 1));
  EXPECT_NE(gr::TestTranscript().rfind("[cross OD = " + gr::FormatF(scale.Value(1), 0, 4)),
            std::string::npos);
}

TEST_F(Viewer, MeniscusEndAndStartRadiiFollowThePixelMapping) {
  // Mode J picks after Enter; M is not one of its keys, A is.
  EXPECT_FALSE(Run("\r" + Press('M', 5) + "MA" + kFinish, {'J'}));
  EXPECT_EQ(st.meniscusMarked, 0);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(355));
  // From 350 the crosshair stops at the left edge of the plot.
  ASSERT_TRUE(Run(Press('K', 300) + "M" + Press('M', 100) + "A" + Press('M', 500) + "E", {'N'}));
  const int xm = lay.left + 1;
  EXPECT_DOUBLE_EQ(st.meniscusMarked, scale.Radius(xm));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(xm + 100));
  EXPECT_DOUBLE_EQ(st.bottomMarked, scale.Radius(xm + 600));
  EXPECT_DOUBLE_EQ(st.endRadius, scale.Radius(xm + 600));
  EXPECT_EQ(st.nearBottomRadius, 0);  // the scans' cut follows at loading's end or with K
  // The end radius is at most 7.3 cm; the bottom takes the crosshair's radius.
  scale.xSpan = 1.6;  // the right edge stands for 7.6 cm
  ASSERT_TRUE(Run(Press('M', 700) + "E" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.endRadius, 7.3);
  EXPECT_NEAR(st.bottomMarked, 7.6, 0.01);
}

TEST_F(Viewer, ModeNEndsByItselfOnlyWithBothMarksAndTheFinishingKeyIsASetting) {
  EXPECT_FALSE(Run("EA", {'N'}));  // no meniscus marked yet: still waiting
  st.meniscusMarked = 0;
  EXPECT_TRUE(Run("MEA", {'N'}));
  EXPECT_TRUE(result.meniscusPicked && result.endPicked && result.startPicked);
  EXPECT_FALSE(Run("MA", {'N'}));   // E not pressed in this picking
  EXPECT_FALSE(Run("MEA", {'B'}));  // mode B has no radius keys
  EXPECT_TRUE(Run(kFinish, {'B'}));
  EXPECT_TRUE(Run("\r", {'B'}));  // Enter ends it besides the finishing key
  SetCrosshairFinishKey(gr::kKeyEnter);
  EXPECT_TRUE(Run("\r", {'B'}));
  EXPECT_FALSE(Run(kFinish, {'B'}));
}

TEST_F(Viewer, StartValuesCountComponentsAndRefuseASecondMarkAtTheSameS) {
  st.meniscusMarked = 5.95;
  // S1 twice (counts once), S2 where S1 is (refused: one boundary is one
  // component), then S2 ten pixels (3 %) further.
  ASSERT_TRUE(Run("1" + Press('M', 30) + "1" + "2" + Press('M', 10) + "2" + kFinish, {'B', true}));
  EXPECT_EQ(st.markedCount, 2);
  const double w2t = st.omega2First * st.scanOmega2[16] * st.scanTime[16];
  EXPECT_NEAR(st.markedS[1], std::log(scale.Radius(380) / 5.95) / w2t * 1e13, 1e-9);
  EXPECT_NEAR(st.markedS[2], std::log(scale.Radius(390) / 5.95) / w2t * 1e13, 1e-9);
  EXPECT_DOUBLE_EQ(st.markedAmp[1], scale.Value(200));
  const std::string shown = gr::TestTranscript();
  EXPECT_NE(shown.find("S2 refused: the same s as S1, mark another boundary]"), std::string::npos);
  // In start-value mode E and A take nothing; left of the meniscus gives no s.
  const double end = st.endRadius;
  st.meniscusMarked = scale.Radius(500);
  ASSERT_TRUE(Run("EA3" + kFinish, {'B', true}));
  EXPECT_EQ(st.endRadius, end);
  EXPECT_EQ(st.markedCount, 2);
  EXPECT_NE(gr::TestTranscript().find("S3 refused: no s left of the meniscus"), std::string::npos);
}

// The distribution display: g(s*) in colour 14 against s*; 1..4 mark s*
// and g at the crosshair, "=" takes it to s* at the height of g(s*); a mark
// where g is not above 0 is refused; Escape leaves without marks.
TEST_F(Viewer, DistributionPeaksAreMarkedInSvedbergAndEscapeDropsThem) {
  st.distStart = 25, st.distEnd = 400;
  for (int i = 1; i <= 400; ++i)
    st.distS[i] = 0.025 * i, st.distG[i] = 2 * std::exp(-std::pow(0.025 * i - 5, 2));
  st.distMin = -0.5, st.distMax = 2;
  scale = DrawDistributionPlot(st);
  EXPECT_EQ(std::pair(scale.xMin, scale.xSpan), std::pair(0.625, 10 - 0.625));  // points 25 .. 400
  EXPECT_EQ(gr::GetPixel(scale.XPixel(5.0), scale.YPixel(2.0)), 14);
  ASSERT_TRUE(Run(Press('M', 100) + "2" + kFinish, {'B', true, true}));
  EXPECT_EQ(st.markedCount, 1);
  EXPECT_DOUBLE_EQ(st.markedS[2], scale.Radius(450));
  EXPECT_DOUBLE_EQ(st.markedAmp[2], scale.Value(200));
  ASSERT_TRUE(Run("=5\r3" + kFinish, {'B', true, true}));
  EXPECT_DOUBLE_EQ(st.markedS[3], scale.Radius(scale.XPixel(5.0)));
  EXPECT_DOUBLE_EQ(st.markedAmp[3], scale.Value(scale.YPixel(2.0)));
  ASSERT_TRUE(Run("=7\r" + Press('P', 2000) + "4" + kFinish, {'B', true, true}));
  EXPECT_EQ(st.markedS[4], 0.0);
  EXPECT_NE(gr::TestTranscript().find("S4 refused: g(s*) is not above 0 there"), std::string::npos);
  ASSERT_TRUE(Run("1\x1b", {'B', true, true}));
  EXPECT_EQ(st.markedCount + st.markedS[1] + st.markedS[2] + st.markedS[3], 0.0);
}

// "=" in mode J (after Enter): the picture shows the crosshair at once. (The
// range and the start values: the batch sessions.) Ctrl-V places a text at
// the crosshair.
TEST_F(Viewer, TypedPositionInModeJAndATextPlacedWithCtrlV) {
  ASSERT_FALSE(Run("\r=" + gr::FormatF(scale.Radius(420), 0, 6) + "\rA", {'J'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(420));
  EXPECT_GT(InColumn(420, 14), 100);  // the crosshair's column, yellow
  ClearPlacedTexts();
  ASSERT_TRUE(Run(Press('M', 10) + "\x16" + "peak 1\r" + kFinish, {'B'}));
  ASSERT_EQ(PlacedTexts().size(), 1u);
  const PlacedText& t = PlacedTexts()[0];
  EXPECT_EQ(t.text + " " + std::to_string(t.x) + " " + std::to_string(t.y) + " " +
                std::to_string(t.screenWidth), "peak 1 360 200 1024");
}

TEST_F(Viewer, MarkedRadiiShowAsLinesWhilePickingAndThePictureComesBackAfterwards) {
  // A dashed line gives hundreds of pixels of its colour in its column, the
  // data dots of a scan in that colour a few.
  gr::ShowGraphics(2);
  scale = DrawSeriesPlot(st);
  st.meniscusMarked = scale.Radius(300);
  st.startRadius = scale.Radius(330);
  st.endRadius = scale.Radius(800);
  EXPECT_FALSE(Run("", {'N'}));  // waiting for keys
  EXPECT_GT(InColumn(300, 13), 100);  // meniscus
  EXPECT_GT(InColumn(330, 10), 100);  // start
  EXPECT_GT(InColumn(800, 12), 100);  // end
  // A moves the start line: the old column is as it was, the new one marked.
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run(Press('M', 40) + "A" + Press('M', 5), {'N'}));
  EXPECT_LT(InColumn(330, 10), 50);
  EXPECT_GT(InColumn(390, 10), 100);
  // Start put on the meniscus column and moved on: the meniscus line stays.
  st.meniscusMarked = scale.Radius(380);
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run(Press('M', 30) + "A" + Press('M', 20) + "A" + Press('M', 5), {'N'}));
  EXPECT_GT(InColumn(380, 13), 100);
  // When a picking ends (by itself in mode N, by the key in B, after Ctrl-Y
  // in A) the picture is as it was, with the viewer's ordinate numbers.
  scale = DrawSeriesPlot(st);
  Run("\x1b", {'A'});
  const auto before = Image();
  ASSERT_TRUE(Run(Press('M', 30) + "A" + Press('K', 100) + "E", {'N'}));
  EXPECT_EQ(before, Image());
  const std::string down = std::string("\0P", 2);
  ASSERT_TRUE(Run(Press('M', 40) + Press('H', 20) + "E" + down + "A" + kFinish, {'B'}));
  ASSERT_TRUE(Run("\x19\x19 \x1b", {'A'}));  // Ctrl-Y twice, menu off
  EXPECT_EQ(before, Image());
}

TEST_F(Viewer, CtrlLLeavesModeAAndPrintsWithABeepInModeJ) {
  ASSERT_TRUE(Run("\x0c", {'A'}));
  EXPECT_EQ(result.lastKey, gr::kKeyCtrlL);
  EXPECT_FALSE(result.printed);
  // A fake lpstat without a default printer keeps the job in a file here.
  const TempDir dir;
  const std::filesystem::path oldDir = std::filesystem::current_path();
  const std::string oldPath = std::getenv("PATH");
  std::filesystem::current_path(dir.path());
  WriteFile("lpstat", "#!/bin/sh\necho 'no system default destination'\n");
  std::filesystem::permissions("lpstat", std::filesystem::perms::owner_all);
  setenv("PATH", (dir.path() + ":" + oldPath).c_str(), 1);
  const int beeps = gr::TestBeepCount();
  EXPECT_TRUE(Run("\x0c\x1b", {'J'}) && result.printed);
  EXPECT_GT(gr::TestBeepCount(), beeps);
  EXPECT_EQ(gr::EndHardcopyJob().rfind("Graph hardcopies saved in svfit-hardcopy-", 0), 0u);
  setenv("PATH", oldPath.c_str(), 1);
  std::filesystem::current_path(oldDir);
}

TEST_F(Viewer, ScanListColoursAfterAFit) {
  gr::ShowGraphics(2);
  scale = DrawFitPlot(st);
  EXPECT_FALSE(Run("", {'J'}));
  UseNumberFont();
  auto colourInRow = [&](int i, int colour) {
    const int y0 = static_cast<int>(std::lround((i - 1) * 24 * lay.yScale));
    return Lit(0, lay.listRight, y0, y0 + gr::FontHeight(), colour);
  };
  EXPECT_GT(colourInRow(14, 15), 10);  // 16 - 14 = 2, minus 2 is 0, plus 15 is 15
  EXPECT_GT(colourInRow(8, 6), 10);    // 16 - 8 = 8, minus 2 is 6
  EXPECT_EQ(colourInRow(8, 8), 0);
  EXPECT_GT(colourInRow(1, 15), 5);
}

// ---- The radial range picked while loading ------------------------------------------------

using scans::FinishLoading;
using scans::LoadHooks;
using scans::LoadOutcome;

// A boundary of 0.8 OD at 6.4 cm on a base line of 0.01, 5.95 .. 7.25 cm every 0.005 cm.
std::vector<Point> Boundary() {
  return Ramp(261, 5.95, 0.005,
              [](double r) { return 0.8 / (1 + std::exp(-(r - 6.4) / 0.03)) + 0.01; });
}
int GridPointsIn(double lo, double hi) {
  int n = 0;
  for (const Point& p : Boundary()) n += p.radius >= lo - 1e-6 && p.radius <= hi + 1e-6;
  return n;
}

// M at x = 182, A 35 pixels right of it, E 700 further: picking ends by itself after E.
const std::string kPick = Press('K', 168) + "M" + Press('M', 35) + "A" + Press('M', 700) + "E";

// Scan files loaded into the viewer, Enter finishing a picking.
class RangePick : public Screen {
 protected:
  void SetUp() override {
    Screen::SetUp();
    gr::HideGraphics();
    SetCrosshairFinishKey(gr::kKeyEnter);
    NewRun(st, 'R');
    hooks.pickRange = PickRangeInViewer;
    hooks.showProfile = ShowScanProfile;
  }

  // The radius of pixel column x in the picture.
  double R(int x) const {
    return xMin + static_cast<double>(x - lay.left) / (lay.right - lay.left) * xSpan;
  }
  LoadOutcome LoadBoundaries(int files, const std::string& keys) {
    for (int k = 1; k <= files; ++k)
      WriteFile(dir.file(gr::IntToTextZeros(k, 5) + ".ra2"), ScanText(kAbsHeader, Boundary()));
    return Load(st, dir.file("00001.ra2"), keys, hooks);
  }
  TempDir dir;
  double xMin = 5.95, xSpan = 1.30;  // radius range of the picture [cm]
  LoadHooks hooks;
};

TEST(PickFromMarks, MissingMeniscusIsTheStartAndMissingBottomTheEnd) {
  AnalysisState st;
  st.startRadius = 6.1;
  st.endRadius = 7.1;
  const RadialPick p = PickFromMarks(st);
  EXPECT_EQ(std::vector<double>({p.start, p.end, p.meniscus, p.bottom}),
            std::vector<double>({6.1, 7.1, 6.1, 7.1}));
}

TEST_F(RangePick, SimultaneousMarksCutEveryScanFromTheMeniscusToTheBottom) {
  ASSERT_EQ(LoadBoundaries(3, "E"), LoadOutcome::kLoaded);
  const int before = gr::PicturesShown();
  // Start and end on one radius, Enter: too narrow, asked again; 0.07 cm
  // holding 15 points: too few, asked again; then the marks.
  gr::StartTestConsole("AE\r" + std::string("A") + Press('M', 50) + "E\r" + kPick);
  FinishLoading(st, hooks);
  const std::string t = gr::TestTranscript();
  EXPECT_NE(t.find("start and end radius less than 0.05 cm apart: pick the range again"), npos);
  EXPECT_NE(t.find("fewer than 20 data points in the range: pick the range again"), npos);
  EXPECT_EQ(Count(t, "[viewer N]"), 3);
  EXPECT_EQ(gr::PicturesShown(), before + 6);  // the series three times, then the marks
  EXPECT_FALSE(gr::GraphicsVisible());
  const double meniscus = R(182), start = R(217), end = R(917);
  EXPECT_DOUBLE_EQ(st.meniscusMarked, meniscus);
  EXPECT_DOUBLE_EQ(st.startRadius, start);
  EXPECT_DOUBLE_EQ(st.bottomMarked, end);
  const int n = GridPointsIn(meniscus, end);
  EXPECT_DOUBLE_EQ(st.endRadius, st.scanRadius[1][n]);  // no end beyond the data
  for (int s = 1; s <= 3; ++s) {
    EXPECT_EQ(st.scanLastPoint[s], n) << s;
    EXPECT_GE(st.scanRadius[s][1], meniscus - 1e-6);
    EXPECT_LT(st.scanRadius[s][1] - 0.005, meniscus);
  }
}

TEST_F(RangePick, InterferenceScansKeepOneRadialGridAfterTheCut) {
  // The sample run: 16 scans of 1710 points on one pixel grid. Every scan must
  // start at the same radius after the cut, so that radial index i is one
  // radius in every scan (the TI noise is one value per index), and the data
  // offset is half the smallest value kept.
  const std::string sample = SVFIT_SOURCE_DIR "/data/sample/ip/00001.IP4";
  if (access(sample.c_str(), R_OK) != 0) GTEST_SKIP() << "sample run missing: " << sample;
  NewRun(st, 'P');
  ASSERT_EQ(Load(st, sample, "E", hooks), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 16);
  xMin = st.scanRadius[1][1];
  xSpan = st.scanRadius[1][st.scanPointCount[1]] - xMin;
  gr::StartTestConsole(Press('K', 150) + "M" + Press('M', 30) + "A" + Press('M', 600) + "E");
  FinishLoading(st, hooks);
  const int n = st.scanLastPoint[1];
  EXPECT_GT(n, 1000);
  EXPECT_LT(n, 1710);
  double smallest = 1e300;
  for (int s = 1; s <= 16; ++s) {
    EXPECT_DOUBLE_EQ(st.scanRadius[s][1], st.scanRadius[1][1]) << s;
    EXPECT_EQ(st.scanLastPoint[s], n) << s;
    for (int i = 1; i <= n; ++i) smallest = std::min(smallest, st.scanValue[s][i] + st.dataOffset);
  }
  EXPECT_GE(st.scanRadius[1][1], R(200) - 1e-6);
  EXPECT_LT(st.scanRadius[1][1] - st.radialStep, R(200));
  EXPECT_NE(st.dataOffset, 0);
  EXPECT_NEAR(st.dataOffset, 0.5 * smallest, 1e-12);
}

TEST_F(RangePick, OneByOneEachFileIsPickedAndCollapsingEndsTheLoading) {
  st.loadOneByOne = true;
  const std::string file2 = "\r";                                // the marks of file 1 again
  // Start beyond the end by more than 0.1 cm: the file is dropped.
  const std::string file3 = Press('M', 200) + "A" + Press('K', 100) + "E";
  const std::string file4 = "AE";                                // collapsed: loading ends
  ASSERT_EQ(LoadBoundaries(4, kPick + file2 + file3 + file4), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 2);
  const double meniscus = R(182), start = R(217), end = R(917);
  for (int s = 1; s <= 2; ++s) {
    EXPECT_EQ(st.scanPointCount[s], GridPointsIn(meniscus, end)) << s;
    EXPECT_GE(st.scanRadius[s][1], meniscus - 1e-6);
  }
  // The dropped file left the range of the series as it was.
  EXPECT_DOUBLE_EQ(st.startRadius, start);
  EXPECT_DOUBLE_EQ(st.endRadius, end);
  EXPECT_DOUBLE_EQ(st.meniscusMarked, meniscus);
  const std::string t = gr::TestTranscript();
  EXPECT_EQ(Count(t, "[viewer N]"), 4);
  EXPECT_NE(t.find("Number of data points/file : " + std::to_string(GridPointsIn(meniscus, end)) +
                   "/  1\n"),
            npos);
  EXPECT_EQ(t.find("FURTHER FILE NOT FOUND"), npos);  // ended by the collapse
}

}  // namespace
}  // namespace svfit::plot
