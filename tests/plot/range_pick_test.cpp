// The radial range picked in the graph viewer while loading: scripted
// crosshair keys on the headless surface, the cut the loader makes from the
// marks, the defaults of missing marks, and the 3000 rpm profile.
#include "plot/range_pick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "console/format.h"
#include "console/graph.h"
#include "plot/viewer.h"
#include "../scans/scan_fixture.h"

namespace svfit::scans {
namespace {

namespace gr = svfit::console;
using namespace testing;
using plot::PickFromMarks;
using plot::PickRangeInViewer;

std::string Keys(const char* key, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s.append(key, 2);
  return s;
}
std::string Right(int n) { return Keys("\0M", n); }
std::string Left(int n) { return Keys("\0K", n); }

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// A boundary of 0.8 OD at 6.4 cm on a base line of 0.01, 5.95 .. 7.25 cm every 0.005 cm.
std::vector<Point> Boundary() {
  return Ramp(261, 5.95, 0.005, [](double r) { return 0.8 / (1 + std::exp(-(r - 6.4) / 0.03)) + 0.01; });
}
int GridPointsIn(double lo, double hi) {
  int n = 0;
  for (const Point& p : Boundary()) n += p.radius >= lo - 1e-6 && p.radius <= hi + 1e-6;
  return n;
}

// M at x = 182, A 35 pixels right of it, E 700 further: picking ends by itself after E.
const std::string kPick = Left(168) + "M" + Right(35) + "A" + Right(700) + "E";

class RangePick : public ::testing::Test {
 protected:
  AnalysisState st;
  TempDir dir;
  double xMin = 5.95, xSpan = 1.30;  // radius range of the picture [cm]
  LoadHooks hooks;

  void SetUp() override {
    gr::StartTestConsole("");
    gr::SetGraphicsFrontend(gr::GraphicsFrontend::kHeadless);
    int d = 0, m = 1;
    gr::OpenGraphics(d, m, "");
    gr::HideGraphics();
    plot::SetCrosshairFinishKey(gr::kKeyEnter);
    NewRun(st, 'R');
    hooks.pickRange = PickRangeInViewer;
    hooks.showProfile = plot::ShowScanProfile;
  }
  void TearDown() override { gr::CloseGraphics(); }

  // The radius of pixel column x in the picture.
  double R(int x) const {
    const plot::ScreenLayout lay = plot::MakeScreenLayout();
    return xMin + static_cast<double>(x - lay.left) / (lay.right - lay.left) * xSpan;
  }
  LoadOutcome LoadBoundaries(int files, const std::string& keys) {
    for (int k = 1; k <= files; ++k)
      WriteFile(dir.file(gr::IntToTextZeros(k, 5) + ".ra2"), ScanText(kAbsHeader, Boundary()));
    return Load(st, dir.file("00001.ra2"), keys, hooks);
  }
};

TEST(PickFromMarks, MissingMeniscusIsTheStartAndMissingBottomTheEnd) {
  AnalysisState st;
  st.startRadius = 6.1;
  st.endRadius = 7.1;
  const RadialPick p = PickFromMarks(st);
  EXPECT_EQ(std::vector<double>({p.start, p.end, p.meniscus, p.bottom}), std::vector<double>({6.1, 7.1, 6.1, 7.1}));
}

TEST_F(RangePick, SimultaneousMarksCutEveryScanFromTheMeniscusToTheBottom) {
  ASSERT_EQ(LoadBoundaries(3, "E"), LoadOutcome::kLoaded);
  const int before = gr::PicturesShown();
  // Start and end on one radius, Enter: too narrow, asked again; then the marks.
  gr::StartTestConsole("AE\r" + kPick);
  FinishLoading(st, hooks);
  const std::string t = gr::TestTranscript();
  EXPECT_NE(t.find("start and end radius less than 0.05 cm apart: pick the range again"), npos);
  EXPECT_EQ(Count(t, "[viewer N]"), 2);
  EXPECT_EQ(gr::PicturesShown(), before + 4);  // twice the series waiting, then with the marks
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
  EXPECT_NE(t.find("meniscus radius            : " + gr::FormatF(meniscus, 7, 4) + "\n"), npos);
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
  gr::StartTestConsole(Left(150) + "M" + Right(30) + "A" + Right(600) + "E");
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
  const std::string file3 = Right(200) + "A" + Left(100) + "E";  // start > end + 0.1: dropped
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
  EXPECT_NE(t.find("Number of data points/file : " + std::to_string(GridPointsIn(meniscus, end)) + "/  1\n"), npos);
  EXPECT_EQ(t.find("FURTHER FILE NOT FOUND"), npos);  // ended by the collapse
}

}  // namespace
}  // namespace svfit::scans
