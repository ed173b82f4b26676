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
#include "plot/screen_plot.h"
#include "synthetic_series.h"

namespace svfit::plot {
namespace {

namespace gr = svfit::console;

std::string Right(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::string("\0M", 2);
  return s;
}
std::string Left(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::string("\0K", 2);
  return s;
}
std::string Up(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::string("\0H", 2);
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

  static inline AnalysisState st;
  AxisScale scale;
  ViewerResult result;
};

TEST_F(Viewer, CrosshairStartsAt350By200AndMovesOnePixelPerArrow) {
  ASSERT_TRUE(Run(Right(3) + "A" + kFinish, {'N'}));
  EXPECT_TRUE(result.startPicked);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(353));
  ASSERT_TRUE(Run(Left(2) + Up(1) + "A" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(348));
  const std::string t = gr::TestTranscript();
  EXPECT_NE(t.find("[viewer N]"), std::string::npos);
  EXPECT_NE(t.find("[cross OD = " + gr::FormatF(scale.Value(199), 0, 4) + " Radius = " +
                   gr::FormatF(scale.Radius(348), 0, 4)),
            std::string::npos)
      << t;
}

TEST_F(Viewer, ShiftMovesFifteenPixels) {
  gr::StartTestConsole("A" + kFinish);
  gr::PostExtendedKey(gr::kScanRight, true);  // queued keys come before the scripted ones
  gr::PostExtendedKey(gr::kScanRight, true);
  GraphViewer(st, {'N'}, scale);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(380));
}

TEST_F(Viewer, CrosshairNeverLeavesThePlotArea) {
  const ScreenLayout lay = MakeScreenLayout();
  ASSERT_TRUE(Run(Left(250) + "A" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(lay.left + 1));
  ASSERT_TRUE(Run(Right(700) + Up(210) + "A" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(lay.right - 1));
  const std::string t = gr::TestTranscript();
  EXPECT_NE(t.rfind("[cross OD = " + gr::FormatF(scale.Value(1), 0, 4)), std::string::npos);
}

TEST_F(Viewer, MeniscusEndAndStartRadiiFollowThePixelMapping) {
  st.meniscusMarked = st.bottomMarked = 0;
  // Mode J picks after Enter; M is not one of its keys, A is.
  EXPECT_FALSE(Run("\r" + Right(5) + "MA" + kFinish, {'J'}));
  EXPECT_EQ(st.meniscusMarked, 0);
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(355));
  const ScreenLayout lay = MakeScreenLayout();
  const std::string keys = Left(300) + "M" + Right(100) + "A" + Right(500) + "E";
  ASSERT_TRUE(Run(keys, {'N'}));  // ends by itself after E
  const int xm = std::max(lay.left + 1, 350 - 300);
  EXPECT_DOUBLE_EQ(st.meniscusMarked, scale.Radius(xm));
  EXPECT_DOUBLE_EQ(st.startRadius, scale.Radius(xm + 100));
  EXPECT_DOUBLE_EQ(st.bottomMarked, scale.Radius(xm + 600));
  EXPECT_DOUBLE_EQ(st.endRadius, scale.Radius(xm + 600));
  EXPECT_DOUBLE_EQ(st.nearBottomRadius, st.endRadius);
}

TEST_F(Viewer, EndRadiusIsAtMost7Point3) {
  AxisScale wide = scale;
  wide.xMin = 6.0;
  wide.xSpan = 1.6;  // the right edge stands for 7.6 cm
  scale = wide;
  ASSERT_TRUE(Run(Right(700) + "E" + kFinish, {'N'}));
  EXPECT_DOUBLE_EQ(st.endRadius, 7.3);
  EXPECT_NEAR(st.bottomMarked, 7.6, 0.01);
}

TEST_F(Viewer, ModeNEndsByItselfOnlyWithBothMarks) {
  st.meniscusMarked = st.bottomMarked = 0;
  EXPECT_FALSE(Run("EA", {'N'}));  // no meniscus marked yet: still waiting
  st.meniscusMarked = 0;
  EXPECT_TRUE(Run("MEA", {'N'}));
  EXPECT_TRUE(result.meniscusPicked && result.endPicked && result.startPicked);
  EXPECT_FALSE(Run("MA", {'N'}));  // E not pressed in this picking
  EXPECT_FALSE(Run("MEA", {'B'}));  // mode B has no radius keys
}

TEST_F(Viewer, KeyLineUnderTheStatusOnlyWhilePicking) {
  const ScreenLayout lay = MakeScreenLayout();
  auto cyanInStatus = [&] {
    int n = 0;
    for (int y = 0; y < lay.top; ++y)
      for (int x = lay.left + 1; x < lay.right; ++x) n += gr::GetPixel(x, y) == 11;
    return n;
  };
  gr::ShowGraphics(2);
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run(Right(3), {'N'}));  // still picking: the keys are named
  EXPECT_GT(cyanInStatus(), 100);
  scale = DrawSeriesPlot(st);
  EXPECT_TRUE(Run(kFinish, {'N'}));
  EXPECT_EQ(cyanInStatus(), 0);
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run("", {'B', true}));  // start values: their own second line
  EXPECT_EQ(cyanInStatus(), 0);
}

TEST_F(Viewer, MarkedRadiiShowAsLinesWhilePickingAndGoAfterwards) {
  const ScreenLayout lay = MakeScreenLayout();
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
  EXPECT_FALSE(Run(Right(40) + "A" + Right(5), {'N'}));
  EXPECT_LT(inColumn(330, 10), 50);
  EXPECT_GT(inColumn(390, 10), 100);
  // Mode J picks no meniscus: its line is not shown.
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run("\r", {'J'}));
  EXPECT_LT(inColumn(300, 13), 50);
  EXPECT_GT(inColumn(390, 10), 100);
  // Start put on the meniscus column and moved on: the meniscus line stays.
  st.meniscusMarked = scale.Radius(380);
  scale = DrawSeriesPlot(st);
  EXPECT_FALSE(Run(Right(30) + "A" + Right(20) + "A" + Right(5), {'N'}));
  EXPECT_GT(inColumn(380, 13), 100);
  EXPECT_GT(inColumn(400, 10), 100);
  // When the picking ends the picture is as it was (with the viewer's
  // ordinate numbers, which stay).
  scale = DrawSeriesPlot(st);
  Run("\x1b", {'A'});
  std::vector<std::uint8_t> before, after;
  gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), before);
  ASSERT_TRUE(Run(Right(30) + "A" + Left(100) + "E", {'N'}));  // ends by itself
  gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), after);
  EXPECT_EQ(before, after);
}

TEST_F(Viewer, FinishingKeyIsASetting) {
  EXPECT_FALSE(Run("\r", {'B'}));
  SetCrosshairFinishKey(gr::kKeyEnter);
  EXPECT_TRUE(Run("\r", {'B'}));
  EXPECT_FALSE(Run(kFinish, {'B'}));
}

TEST_F(Viewer, StartValuesCountComponents) {
  st.markedS = {};
  st.markedAmp = {};
  st.meniscusMarked = 5.95;
  ASSERT_TRUE(Run("1" + Right(30) + "1" + "2" + kFinish, {'B', true}));
  EXPECT_EQ(st.markedCount, 2);  // S1 set twice counts once
  const double w2t = st.omega2First * st.scanOmega2[16] * st.scanTime[16];
  EXPECT_NEAR(st.markedS[1], std::log(scale.Radius(380) / 5.95) / w2t * 1e13, 1e-9);
  EXPECT_DOUBLE_EQ(st.markedS[2], st.markedS[1]);
  EXPECT_DOUBLE_EQ(st.markedAmp[1], scale.Value(200));
  EXPECT_EQ(st.markedS[3], 0);
  EXPECT_NE(gr::TestTranscript().find("[cross last file = 16 Svedberg ="), std::string::npos);
  // In start-value mode E and A take nothing.
  const double end = st.endRadius;
  ASSERT_TRUE(Run("EA3" + kFinish, {'B', true}));
  EXPECT_EQ(st.endRadius, end);
  EXPECT_EQ(st.markedCount, 3);
}

TEST_F(Viewer, CtrlVPlacesATextAtTheCrosshair) {
  ClearPlacedTexts();
  ASSERT_TRUE(Run(Right(10) + "\x16" + "peak 1\r" + kFinish, {'B'}));
  ASSERT_EQ(PlacedTexts().size(), 1u);
  EXPECT_EQ(PlacedTexts()[0].text, "peak 1");
  EXPECT_EQ(PlacedTexts()[0].x, 360);
  EXPECT_EQ(PlacedTexts()[0].y, 200);
  EXPECT_EQ(PlacedTexts()[0].screenWidth, 1024);
}

TEST_F(Viewer, PickingLeavesThePictureAsItWas) {
  gr::ShowGraphics(2);
  scale = DrawSeriesPlot(st);
  Run("\x1b", {'A'});
  std::vector<std::uint8_t> before, after;
  gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), before);
  ASSERT_TRUE(Run(Right(40) + Up(20) + "E" + std::string("\0P", 2) + "A" + kFinish, {'B'}));
  ASSERT_TRUE(Run("\x19\x19 \x1b", {'A'}));  // Ctrl-Y twice, menu off
  gr::SaveImage(0, 0, gr::MaxX(), gr::MaxY(), after);
  EXPECT_EQ(before, after);
}

TEST_F(Viewer, MenuTextShowsOnlyWhileWaitingAndSpaceToggles) {
  const ScreenLayout lay = MakeScreenLayout();
  auto yellowInMenu = [&] {
    int n = 0;
    for (int y = lay.menuY; y < lay.top; ++y)
      for (int x = lay.menuX - 20; x <= lay.right; ++x) n += gr::GetPixel(x, y) == 14;
    return n;
  };
  // Each run stops while the viewer waits for the next key (keys run out).
  auto waitAfter = [&](const std::string& keys) {
    scale = DrawSeriesPlot(st);
    EXPECT_FALSE(Run(keys, {'A'}));
    return yellowInMenu();
  };
  EXPECT_GT(waitAfter(""), 100);  // waiting: the menu is shown
  EXPECT_EQ(waitAfter(" "), 0);   // off
  EXPECT_GT(waitAfter("  "), 100);  // on again
  scale = DrawSeriesPlot(st);
  EXPECT_TRUE(Run("\x1b", {'A'}));
  EXPECT_EQ(yellowInMenu(), 0);  // removed after the key
}

TEST_F(Viewer, CtrlLLeavesModeA) {
  ASSERT_TRUE(Run("\x0c", {'A'}));
  EXPECT_EQ(result.lastKey, gr::kKeyCtrlL);
  EXPECT_FALSE(result.printed);
}

TEST_F(Viewer, CtrlLInModeJPrintsAndBeeps) {
  // A fake lpstat without a default printer keeps the job in a file here.
  const auto dir = std::filesystem::temp_directory_path() / ("svfit-viewer-print-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "lpstat") << "#!/bin/sh\necho 'no system default destination'\n";
  std::filesystem::permissions(dir / "lpstat", std::filesystem::perms::owner_all);
  const std::string oldPath = std::getenv("PATH");
  setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);
  const auto oldDir = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  const int beeps = gr::TestBeepCount();
  ASSERT_TRUE(Run("\x0c\x1b", {'J'}));
  EXPECT_TRUE(result.printed);
  EXPECT_TRUE(gr::HardcopyPending());
  EXPECT_GT(gr::TestBeepCount(), beeps);
  const std::string note = gr::EndHardcopyJob();
  EXPECT_EQ(note.rfind("Graph hardcopies saved in svfit-hardcopy-", 0), 0u) << note;
  std::filesystem::current_path(oldDir);
  setenv("PATH", oldPath.c_str(), 1);
  std::filesystem::remove_all(dir);
}

TEST_F(Viewer, ScanListColours) {
  st.maxIterations = 200;
  gr::ShowGraphics(2);
  scale = DrawFitPlot(st);
  EXPECT_FALSE(Run("", {'J'}));
  const ScreenLayout lay = MakeScreenLayout();
  UseNumberFont();
  auto coloursInRow = [&](int i, int colour) {
    const int y0 = static_cast<int>(std::lround((i - 1) * 24 * lay.yScale));
    int n = 0;
    for (int y = y0; y < y0 + gr::FontHeight(); ++y)
      for (int x = 0; x < lay.listRight; ++x) n += gr::GetPixel(x, y) == colour;
    return n;
  };
  EXPECT_GT(coloursInRow(14, 15), 10);  // 16 - 14 = 2, minus 2 is 0, plus 15 is 15
  EXPECT_GT(coloursInRow(8, 6), 10);    // 16 - 8 = 8, minus 2 is 6
  EXPECT_EQ(coloursInRow(8, 8), 0);
  EXPECT_GT(coloursInRow(1, 15), 5);
  st.maxIterations = 0;
}

TEST_F(Viewer, SwapFileHoldsTheTwoStrips) {
  EXPECT_FALSE(Run("", {'A'}));
  const std::string path = SwapFilePath();
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(std::filesystem::exists(path));
  const ScreenLayout lay = MakeScreenLayout();
  const auto band = gr::ImageBufferSize(lay.listRight + 1, 0, lay.left - 1, gr::MaxY());
  EXPECT_GT(std::filesystem::file_size(path), band + 8);
}

}  // namespace
}  // namespace svfit::plot
