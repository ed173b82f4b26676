// The graph viewer driven by scripted keys on the headless surface.
#include "plot/viewer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "console/crt.h"
#include "console/format.h"
#include "console/graph.h"
#include "console/hardcopy.h"
#include "plot/distribution_plot.h"
#include "plot/screen_plot.h"
#include "synthetic_series.h"

namespace svfit::plot {
namespace {

namespace gr = svfit::console;

// n presses of an extended key: 'M' right, 'K' left, 'H' up.
std::string Press(char scan, int n) {
  std::string s;
  while (n-- > 0) s += {'\0', scan};
  return s;
}
const std::string kFinish = "\x0e";  // Ctrl-N

class Viewer : public ::testing::Test {
 protected:
  void SetUp() override {
    gr::StartTestConsole("");
    gr::SetGraphicsFrontend(gr::GraphicsFrontend::kHeadless);
    int d = 0, m = 1;
    gr::OpenGraphics(d, m, "");
    gr::HideGraphics();
    SetCrosshairFinishKey(gr::kKeyCtrlN);
    testing::MakeSeries(st, 16);
    scale = DrawSeriesPlot(st);
    lay = MakeScreenLayout();
  }
  void TearDown() override { gr::CloseGraphics(); }

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
  static std::vector<std::uint8_t> Image() {
    std::vector<std::uint8_t> img;
    gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), img);
    return img;
  }

  static inline AnalysisState st;
  AxisScale scale;
  ScreenLayout lay;
  ViewerResult result;
};

TEST_F(Viewer, CrosshairMovesByOneAndFifteenPixelsAndNeverLeavesThePlot) {
  ASSERT_TRUE(Run(Press('M', 3) + "A" + kFinish, {'N'}));  // from (350, 200)
  EXPECT_TRUE(result.startPicked);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(353));
  ASSERT_TRUE(Run(Press('K', 2) + Press('H', 1) + "A" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(348));
  EXPECT_NE(gr::TestTranscript().find("[cross OD = " + gr::FormatF(scale.Value(199), 0, 4) +
                                      " Radius = " + gr::FormatF(scale.Radius(348), 0, 4)),
            std::string::npos);
  gr::StartTestConsole("A" + kFinish);
  gr::PostExtendedKey(gr::kScanRight, true);  // with Shift; queued keys come first
  gr::PostExtendedKey(gr::kScanRight, true);
  GraphViewer(st, {'N'}, scale);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(380));
  ASSERT_TRUE(Run(Press('K', 250) + "A" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(lay.left + 1));
  ASSERT_TRUE(Run(Press('M', 700) + Press('H', 210) + "A" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(lay.right - 1));
  EXPECT_NE(gr::TestTranscript().rfind("[cross OD = " + gr::FormatF(scale.Value(1), 0, 4)),
            std::string::npos);
}

TEST_F(Viewer, MeniscusEndAndStartRadiiFollowThePixelMapping) {
  st.meniscusMarked = 0;
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
  EXPECT_DOUBLE_EQ(st.nearBottomRadius, st.endRadius);
  // The end radius is at most 7.3 cm; the bottom takes the crosshair's radius.
  scale.xSpan = 1.6;  // the right edge stands for 7.6 cm
  ASSERT_TRUE(Run(Press('M', 700) + "E" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.endRadius, 7.3);
  EXPECT_NEAR(st.bottomMarked, 7.6, 0.01);
}

TEST_F(Viewer, ModeNEndsByItselfOnlyWithBothMarksAndTheFinishingKeyIsASetting) {
  st.meniscusMarked = st.bottomMarked = 0;
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
  st.markedS = {};
  st.markedAmp = {};
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
// and g at the crosshair, Escape leaves without marks.
TEST_F(Viewer, DistributionPeaksAreMarkedInSvedbergAndEscapeDropsThem) {
  st.distStart = 25, st.distEnd = 400;
  for (int i = 1; i <= 400; ++i) st.distS[i] = 0.025 * i, st.distG[i] = 2 * std::exp(-std::pow(0.025 * i - 5, 2));
  st.distMin = st.distG[25], st.distMax = 2;
  st.markedS = {};
  st.markedCount = 0;
  scale = DrawDistributionPlot(st);
  EXPECT_EQ(std::pair(scale.xMin, scale.xSpan), std::pair(0.625, 10 - 0.625));  // s* of points 25 .. 400
  EXPECT_EQ(gr::GetPixel(scale.XPixel(5.0), scale.YPixel(2.0)), 14);
  ASSERT_TRUE(Run(Press('M', 100) + "2" + kFinish, {'B', true, true}));
  EXPECT_EQ(st.markedCount, 1);
  EXPECT_DOUBLE_EQ(st.markedS[2], scale.Radius(450));
  EXPECT_DOUBLE_EQ(st.markedAmp[2], scale.Value(200));
  ASSERT_TRUE(Run("1\x1b", {'B', true, true}));
  EXPECT_EQ(st.markedCount + st.markedS[1] + st.markedS[2], 0.0);
}

// "=" in mode J (after Enter) and on the distribution display, where the
// crosshair goes to the height of g(s*); the picture shows it at once. (The
// range and the start values: the batch sessions.)
TEST_F(Viewer, TypedPositionsInModeJAndOnTheDistribution) {
  ASSERT_FALSE(Run("\r=" + gr::FormatF(scale.Radius(420), 0, 6) + "\rA", {'J'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(420));
  int yellow = 0;  // the crosshair's column
  for (int y = lay.top; y < lay.bottomLine; ++y) yellow += gr::GetPixel(420, y) == 14;
  EXPECT_GT(yellow, 100);
  st.distStart = 25, st.distEnd = 400;
  for (int i = 1; i <= 400; ++i) st.distS[i] = 0.025 * i, st.distG[i] = 2 * std::exp(-std::pow(0.025 * i - 5, 2));
  st.distMin = st.distG[25], st.distMax = 2;
  st.markedS = {};
  st.markedCount = 0;
  scale = DrawDistributionPlot(st);
  ASSERT_TRUE(Run("=5\r3" + kFinish, {'B', true, true}));
  EXPECT_DOUBLE_EQ(st.markedS[3], scale.Radius(scale.XPixel(5.0)));
  EXPECT_DOUBLE_EQ(st.markedAmp[3], scale.Value(scale.YPixel(2.0)));
}

TEST_F(Viewer, CtrlVPlacesATextAtTheCrosshair) {
  ClearPlacedTexts();
  ASSERT_TRUE(Run(Press('M', 10) + "\x16" + "peak 1\r" + kFinish, {'B'}));
  ASSERT_EQ(PlacedTexts().size(), 1u);
  const PlacedText& t = PlacedTexts()[0];
  EXPECT_EQ(t.text + " " + std::to_string(t.x) + " " + std::to_string(t.y) + " " +
                std::to_string(t.screenWidth), "peak 1 360 200 1024");
}

TEST_F(Viewer, MarkedRadiiShowAsLinesWhilePickingAndThePictureComesBackAfterwards) {
  // Pixels of a colour in a column of the data area; a dashed line gives
  // hundreds, the data dots of a scan in that colour a few.
  auto inColumn = [&](int x, int colour) {
    int n = 0;
    for (int y = lay.top; y < lay.bottomLine; ++y) n += gr::GetPixel(x, y) == colour;
    return n;
  };
  gr::ShowGraphics(2);
  scale = DrawSeriesPlot(st);
  st.meniscusMarked = scale.Radius(300);
  st.startRadius = scale.Radius(330);
  st.endRadius = scale.Radius(800);
  EXPECT_FALSE(Run("", {'N'}));  // waiting for keys
  EXPECT_GT(inColumn(300, 13), 100);  // meniscus
  EXPECT_GT(inColumn(330, 10), 100);  // start
  EXPECT_GT(inColumn(800, 12), 100);  // end
  // A moves the start line: the old column is as it was, the new one marked.
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run(Press('M', 40) + "A" + Press('M', 5), {'N'}));
  EXPECT_LT(inColumn(330, 10), 50);
  EXPECT_GT(inColumn(390, 10), 100);
  // Start put on the meniscus column and moved on: the meniscus line stays.
  st.meniscusMarked = scale.Radius(380);
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run(Press('M', 30) + "A" + Press('M', 20) + "A" + Press('M', 5), {'N'}));
  EXPECT_GT(inColumn(380, 13), 100);
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
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("svfit-viewer-" + std::to_string(getpid()));
  const fs::path oldDir = fs::current_path();
  const std::string oldPath = std::getenv("PATH");
  fs::create_directories(dir);
  fs::current_path(dir);
  std::ofstream("lpstat") << "#!/bin/sh\necho 'no system default destination'\n";
  fs::permissions("lpstat", fs::perms::owner_all);
  setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);
  const int beeps = gr::TestBeepCount();
  EXPECT_TRUE(Run("\x0c\x1b", {'J'}) && result.printed);
  EXPECT_GT(gr::TestBeepCount(), beeps);
  EXPECT_EQ(gr::EndHardcopyJob().rfind("Graph hardcopies saved in svfit-hardcopy-", 0), 0u);
  setenv("PATH", oldPath.c_str(), 1);
  fs::current_path(oldDir);
  fs::remove_all(dir);
}

TEST_F(Viewer, ScanListColours) {
  st.maxIterations = 200;
  gr::ShowGraphics(2);
  scale = DrawFitPlot(st);
  EXPECT_FALSE(Run("", {'J'}));
  st.maxIterations = 0;
  UseNumberFont();
  auto colourInRow = [&](int i, int colour) {
    const int y0 = static_cast<int>(std::lround((i - 1) * 24 * lay.yScale));
    int n = 0;
    for (int y = y0; y < y0 + gr::FontHeight(); ++y)
      for (int x = 0; x < lay.listRight; ++x) n += gr::GetPixel(x, y) == colour;
    return n;
  };
  EXPECT_GT(colourInRow(14, 15), 10);  // 16 - 14 = 2, minus 2 is 0, plus 15 is 15
  EXPECT_GT(colourInRow(8, 6), 10);    // 16 - 8 = 8, minus 2 is 6
  EXPECT_EQ(colourInRow(8, 8), 0);
  EXPECT_GT(colourInRow(1, 15), 5);
}

}  // namespace
}  // namespace svfit::plot
