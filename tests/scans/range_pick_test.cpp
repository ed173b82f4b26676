// The radial range picked in the graph viewer while loading: scripted
// crosshair keys on the headless surface, the cut the loader makes from the
// marks, the defaults of missing marks, and the 3000 rpm profile.
#include "scans/range_pick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "console/format.h"
#include "console/graph.h"
#include "plot/viewer.h"
#include "scan_fixture.h"

namespace svfit::scans {
namespace {

namespace gr = svfit::console;
using testing::AbsorbanceRun;
using testing::InterferenceRun;
using testing::kAbsHeader;
using testing::Point;
using testing::Ramp;
using testing::ScanText;
using testing::TempDir;
using testing::WriteFile;

std::string Repeat(const std::string& key, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += key;
  return s;
}
std::string Right(int n) { return Repeat(std::string("\0M", 2), n); }
std::string Left(int n) { return Repeat(std::string("\0K", 2), n); }

constexpr int kStartX = 350;  // the crosshair starts at x = 350 on the 1024 x 768 surface

// A boundary of 0.8 OD at 6.4 cm on a base line of 0.01, 5.95 .. 7.25 cm.
std::vector<Point> Boundary(double dr = 0.005) {
  return Ramp(static_cast<int>(std::lround(1.30 / dr)) + 1, 5.95, dr,
              [](double r) { return 0.8 / (1 + std::exp(-(r - 6.4) / 0.03)) + 0.01; });
}

// Points of a 5.95 .. 7.25 cm grid of step dr with lo <= r <= hi.
int GridPointsIn(double lo, double hi, double dr = 0.005) {
  int n = 0;
  for (const Point& p : Boundary(dr)) n += p.radius >= lo - 1e-6 && p.radius <= hi + 1e-6;
  return n;
}

class RangePick : public ::testing::Test {
 protected:
  AnalysisState st;
  TempDir dir;
  double xMin = 5.95, xSpan = 1.30;  // radius range of the picture [cm]

  void SetUp() override {
    gr::StartTestConsole("");
    gr::SetGraphicsFrontend(gr::GraphicsFrontend::kHeadless);
    int d = 0, m = 1;
    gr::OpenGraphics(d, m, "");
    gr::HideGraphics();
    plot::SetCrosshairFinishKey(gr::kKeyEnter);
    AbsorbanceRun(st);
  }
  void TearDown() override { gr::CloseGraphics(); }

  // The radius of pixel column x in the picture.
  double R(int x) const {
    const plot::ScreenLayout lay = plot::MakeScreenLayout();
    return xMin + static_cast<double>(x - lay.left) / (lay.right - lay.left) * xSpan;
  }
  void WriteSeries(int files) {
    for (int k = 1; k <= files; ++k)
      WriteFile(dir.file(gr::IntToTextZeros(k, 5) + ".ra2"), ScanText(kAbsHeader, Boundary()));
  }
  LoadOutcome Load(const std::string& keys) {
    LoadHooks hooks;
    hooks.pickRange = PickRangeInViewer;
    return testing::Load(st, dir.file("00001.ra2"), keys, hooks);
  }
  void Finish() {
    LoadHooks hooks;
    hooks.pickRange = PickRangeInViewer;
    FinishLoading(st, hooks);
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
};

// ---- The marks read back ---------------------------------------------------------

TEST(PickFromMarks, MissingMeniscusIsTheStartAndMissingBottomTheEnd) {
  AnalysisState st;
  st.startRadius = 6.1;
  st.endRadius = 7.1;
  RadialPick p = PickFromMarks(st);
  EXPECT_EQ(p.meniscus, 6.1);
  EXPECT_EQ(p.bottom, 7.1);
  st.meniscusMarked = 6.05;
  st.bottomMarked = 7.2;
  p = PickFromMarks(st);
  EXPECT_EQ(p.start, 6.1);
  EXPECT_EQ(p.end, 7.1);
  EXPECT_EQ(p.meniscus, 6.05);
  EXPECT_EQ(p.bottom, 7.2);
}

TEST_F(RangePick, WithoutGraphicsNothingIsAskedAndTheRangeStays) {
  gr::CloseGraphics();
  st.startRadius = 6.0;
  st.endRadius = 7.0;
  gr::StartTestConsole("");  // a key read would throw
  const RadialPick p = PickRangeInViewer(st, 0);
  EXPECT_EQ(p.start, 6.0);
  EXPECT_EQ(p.end, 7.0);
  int d = 0, m = 1;
  gr::OpenGraphics(d, m, "");
}

// ---- Simultaneous loading -------------------------------------------------------------

TEST_F(RangePick, SimultaneousMarksCutEveryScanFromTheMeniscusToTheBottom) {
  WriteSeries(3);
  ASSERT_EQ(Load("E"), LoadOutcome::kLoaded);
  const int before = gr::PicturesShown();
  // M at x = 182, A 35 pixels right of it, E 700 further: picking ends by
  // itself after E.
  gr::StartTestConsole(Left(168) + "M" + Right(35) + "A" + Right(700) + "E");
  Finish();
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
    EXPECT_LE(st.scanRadius[s][n], end + 1e-6);
  }
  EXPECT_FALSE(gr::GraphicsVisible());
  EXPECT_EQ(gr::PicturesShown(), before + 2);  // the series waiting, then with the marks
  const std::string t = gr::TestTranscript();
  EXPECT_EQ(Count(t, "[viewer N]"), 1);
  EXPECT_NE(t.find("start radius for fitting   : " + gr::FormatF(start, 7, 4) + "\n" +
                   "end radius for fitting     : " + gr::FormatF(end, 7, 4) + "\n" +
                   "meniscus radius            : " + gr::FormatF(meniscus, 7, 4) + "\n" +
                   "Number of data points/file : " + std::to_string(n) + "/  3\n"),
            std::string::npos)
      << t;
}

TEST_F(RangePick, SimultaneousWithoutMarksKeepsEveryPoint) {
  WriteSeries(2);
  ASSERT_EQ(Load("E"), LoadOutcome::kLoaded);
  gr::StartTestConsole("\r");
  Finish();
  EXPECT_EQ(st.scanLastPoint[1], 261);
  EXPECT_EQ(st.scanLastPoint[2], 261);
  EXPECT_DOUBLE_EQ(st.startRadius, 5.95);
  EXPECT_DOUBLE_EQ(st.endRadius, 7.25);
  EXPECT_DOUBLE_EQ(st.meniscusMarked, 5.95);  // no meniscus marked: the start radius
  EXPECT_NE(gr::TestTranscript().find("meniscus radius            :  5.9500\n"), std::string::npos);
}

TEST_F(RangePick, SimultaneousRangeTooNarrowIsAskedAgain) {
  WriteSeries(2);
  ASSERT_EQ(Load("E"), LoadOutcome::kLoaded);
  // Start and end on the same radius, Enter: asked again; then a real range.
  gr::StartTestConsole("AE\r" + Right(100) + "E\r");
  Finish();
  const std::string t = gr::TestTranscript();
  EXPECT_EQ(Count(t, "[viewer N]"), 2);
  EXPECT_NE(t.find("start and end radius less than 0.05 cm apart: mark them again (A, E)"), std::string::npos);
  const int n = GridPointsIn(R(kStartX), R(kStartX + 100));
  EXPECT_EQ(st.scanLastPoint[1], n);
  EXPECT_DOUBLE_EQ(st.startRadius, R(kStartX));
  EXPECT_DOUBLE_EQ(st.bottomMarked, R(kStartX + 100));
  EXPECT_DOUBLE_EQ(st.endRadius, st.scanRadius[1][n]);
}

TEST_F(RangePick, InterferenceScansKeepOneRadialGridAfterTheCut) {
  // The sample run: 16 scans of 1710 points on one pixel grid, TI noise and
  // RI offsets. Every scan must start at the same radius after the cut, so
  // that radial index i is one radius in every scan (the TI noise is one value
  // per index), and the data offset is half the smallest value kept.
  const std::string sample = SVFIT_SOURCE_DIR "/data/sample/ip/00001.IP4";
  if (access(sample.c_str(), R_OK) != 0) GTEST_SKIP() << "sample run missing: " << sample;
  InterferenceRun(st);
  LoadHooks hooks;
  hooks.pickRange = PickRangeInViewer;
  ASSERT_EQ(testing::Load(st, sample, "E", hooks), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 16);
  xMin = st.scanRadius[1][1];
  xSpan = st.scanRadius[1][st.scanPointCount[1]] - xMin;
  double smallestBefore = 1e300;
  gr::StartTestConsole(Left(150) + "M" + Right(30) + "A" + Right(600) + "E");
  Finish();
  const int n = st.scanLastPoint[1];
  EXPECT_GT(n, 1000);
  EXPECT_LT(n, 1710);
  for (int s = 1; s <= 16; ++s) {
    EXPECT_DOUBLE_EQ(st.scanRadius[s][1], st.scanRadius[1][1]) << s;
    EXPECT_EQ(st.scanLastPoint[s], n) << s;
  }
  EXPECT_GE(st.scanRadius[1][1], R(200) - 1e-6);
  EXPECT_LT(st.scanRadius[1][1] - st.radialStep, R(200));
  for (int s = 1; s <= 16; ++s)
    for (int i = 1; i <= n; ++i) smallestBefore = std::min(smallestBefore, st.scanValue[s][i] + st.dataOffset);
  EXPECT_NE(st.dataOffset, 0);
  EXPECT_NEAR(st.dataOffset, 0.5 * smallestBefore, 1e-12);
}

// ---- One-by-one loading ------------------------------------------------------------

TEST_F(RangePick, OneByOneEachFileIsPickedAndCollapsingEndsTheLoading) {
  st.loadOneByOne = true;
  WriteSeries(4);
  const std::string file1 = Left(168) + "M" + Right(35) + "A" + Right(700) + "E";  // ends by itself
  const std::string file2 = "\r";                       // the marks of file 1 again
  const std::string file3 = Right(200) + "A" + Left(100) + "E";  // start > end + 0.1: dropped
  const std::string file4 = "AE";                       // collapsed: loading ends
  ASSERT_EQ(Load(file1 + file2 + file3 + file4), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 2);
  const double meniscus = R(182), start = R(217), end = R(917);
  const int n = GridPointsIn(meniscus, end);
  for (int s = 1; s <= 2; ++s) {
    EXPECT_EQ(st.scanPointCount[s], n) << s;
    EXPECT_GE(st.scanRadius[s][1], meniscus - 1e-6);
  }
  // The dropped file left the range of the series as it was.
  EXPECT_DOUBLE_EQ(st.startRadius, start);
  EXPECT_DOUBLE_EQ(st.endRadius, end);
  EXPECT_DOUBLE_EQ(st.meniscusMarked, meniscus);
  EXPECT_FALSE(gr::GraphicsVisible());
  const std::string t = gr::TestTranscript();
  EXPECT_EQ(Count(t, "[viewer N]"), 4);
  EXPECT_EQ(Count(t, "number of data points      :  261\n"), 4);
  EXPECT_EQ(Count(t, "meniscus radius            : " + gr::FormatF(meniscus, 7, 4) + "\n"), 4);
  EXPECT_NE(t.find("Number of data points/file : " + std::to_string(n) + "/  2\n"), std::string::npos);
  EXPECT_EQ(t.find("/  3\n"), std::string::npos);
  EXPECT_EQ(t.find("FURTHER FILE NOT FOUND"), std::string::npos);  // ended by the collapse
}

// ---- The 3000 rpm file ------------------------------------------------------------------

TEST_F(RangePick, AbsorbanceThreeThousandRpmScanIsShownAndKeptForTheOneByOnePictures) {
  st.use3000 = true;
  WriteFile(dir.file("00001.ra2"),
            ScanText(kAbsHeader, Ramp(100, 6.0, 0.01, [](double r) { return 0.2 + 0.1 * r; }), "BSA 0.5 mg/ml"));
  const int before = gr::PicturesShown();
  ASSERT_EQ(Load("\r\r\r"), LoadOutcome::kFile3000Done);
  EXPECT_EQ(gr::PicturesShown(), before + 1);
  EXPECT_FALSE(gr::GraphicsVisible());
  ASSERT_EQ(st.profile3000Count, 100);
  EXPECT_DOUBLE_EQ(st.profile3000Value[1], 0.2 + 0.1 * 6.0);  // absorbance: as measured
  EXPECT_FALSE(st.contourSubtraction);                        // and never subtracted
  st.resetForAnalysis();
  EXPECT_EQ(st.profile3000Count, 0);
}

}  // namespace
}  // namespace svfit::scans
