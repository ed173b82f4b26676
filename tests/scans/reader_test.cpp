// The scan files: the text rules (header pattern and numbers, the
// number-list rule, single numbers, title-row values, data lines) and the
// reader on files made here (point limits, end and skip conditions, header
// values, file names, further files, the lower bound, interference grids, the
// 3000 rpm file and the steps after loading, the outlier correction among them).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <tuple>

#include "scan_fixture.h"
#include "scans/cleaning.h"
#include "scans/reader.h"
#include "scans/scan_file.h"

namespace svfit::scans {
namespace {

using namespace testing;

// The point counts of the loaded scans.
std::vector<int> Counts(const AnalysisState& st) {
  return std::vector<int>(&st.scanPointCount[1], &st.scanPointCount[1] + st.scanCount);
}

std::string Name(std::size_t k) {
  char name[16];
  std::snprintf(name, sizeof name, "%05zu.ra2", k);
  return name;
}

std::vector<Point> Join(std::vector<Point> a, const std::vector<Point>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Reader : public ::testing::Test {
 protected:
  AnalysisState st;
  TempDir dir;
  void SetUp() override { NewRun(st, 'R'); }
  void Write(const std::string& name, const std::vector<Point>& points,
             const std::string& header = kAbsHeader, const std::string& title = "test scan") {
    WriteFile(dir.file(name), ScanText(header, points, title));
  }
  LoadOutcome LoadFirst(const std::string& keys = "E", const LoadHooks& hooks = {}) {
    return Load(st, dir.file("00001.ra2"), keys, hooks);
  }
};

// ---- Point limits, end and skip conditions ---------------------------------------------

TEST_F(Reader, FullCapacityLoadsAndOnePointMoreIsSkipped) {
  Write("00001.ra2", Flat(kMaxPoints, 5.9, 0.0004));
  Write("00002.ra2", Flat(kMaxPoints + 1, 5.9, 0.0004));
  ASSERT_EQ(LoadFirst(), LoadOutcome::kLoaded);
  EXPECT_EQ(st.scanCount, 1);
  EXPECT_EQ(st.scanPointCount[1], 2800);
  EXPECT_NEAR(st.scanRadius[1][2800], 5.9 + 2799 * 0.0004, 1e-9);
  EXPECT_NE(console::TestTranscript().find("file skipped: 00002.ra2 (more than 2800 data points)"),
            npos);
  // A series of 701 files: the 700 a series holds, and a note that loading ends.
  for (std::size_t k = 1; k <= 701; ++k) Write(Name(k), Flat(20));
  NewRun(st, 'R');
  ASSERT_EQ(LoadFirst(""), LoadOutcome::kLoaded);
  EXPECT_EQ(st.scanCount, 700);
  EXPECT_NE(console::TestTranscript().find("700 scans loaded, the most a series holds"), npos);
}

TEST_F(Reader, EndAndSkipConditionsWithinOneSeries) {
  const std::string cell9 = "R 9 20.0 40000 0003600 5.6000E10 280 1";  // cell 9: no search for a drop
  auto abs = [&](const std::vector<Point>& points) { return ScanText(cell9, points); };
  std::vector<Point> inside = Flat(40, 6.6, 0.01), twice = Flat(30, 6.0, 0.01);
  inside[30].value = 3.2;  // at 6.90 cm
  twice[10].radius = twice[9].radius + 5e-7;
  std::string unreadable = abs(Flat(30));
  unreadable.insert(unreadable.find("6.0010"), "6.0005 NaN 0.1\n");  // line 4
  const std::string files[] = {
      abs(Join(Flat(25, 6.0, 0.01), Flat(3, 6.2, -0.05))),  // radii run back at the end: 25 points
      abs(Join(Join(Flat(30, 6.0, 0.01), {{6.1, 0.5}}), Flat(10, 6.5, 0.01))),   // in the middle: 30
      abs(Join(Join(Flat(15, 6.0, 0.01), {{6.05, 0.5}}), Flat(10, 6.5, 0.01))),  // 15 before: skipped
      abs(Flat(19, 6.0, 0.01)),                                                   // skipped
      abs(Flat(20, 6.0, 0.01)),                                                   // 20
      abs(twice),                                                                 // one radius twice: skipped
      abs(Flat(30, 6.0, 0.01, 0.0)),                                 // absorbance sum 0: skipped
      abs(Join(Flat(70, 6.6, 0.01), {{7.3, 3.2}, {7.31, 0.5}})),     // 3.2 at 7.3 cm ends: 70
      abs(inside),                                                   // 3.2 at 6.9 cm kept: 40
      abs(Join(Flat(30, 7.0, 0.01), {{7.3, -0.7}, {7.31, 0.5}})),    // −0.7 at 7.3 cm ends: 30
      // A zero line lies below the lower bound (5.99 cm): passed over, the data go on: 50
      abs(Join(Join(Flat(25, 6.6, 0.01), {{0.0, 0.0}}), Flat(25, 6.9, 0.01))),
      ScanText("R 2 20,0 40000 0003600 5.6000E10 280 1", Flat(30)),  // foreign characters: skipped
      ScanText("R 2 20.0 40000 0003600 5.6000E10 280/1", Flat(30)),  // skipped
      ScanText("no header at all", Flat(30)),                        // skipped
      unreadable,                                                    // skipped with a note
      ScanText("R 2 21.0 40000 0003700 5.7000E10 280 1", Flat(30)),
      ScanText("R 2 21.0 40000 0003800 5.8000E10 280 1", Flat(31)).substr(0, 1260),  // cut off
      ScanText("R 2 21.0 40000 0003900 0.0000E00 280 1", Flat(30)),  // no ω²t: skipped
      // A base line below 0: a signal, 30; another wavelength, taken earlier: named, 30.
      ScanText("R 2 21.0 40000 0003900 5.9000E10 280 1", Flat(30, 6.0, 0.01, -0.2)),
      ScanText("R 2 21.0 40000 0003900 5.1000E10 230 1", Flat(30))};
  for (std::size_t k = 0; k < std::size(files); ++k) WriteFile(dir.file(Name(k + 1)), files[k]);
  ASSERT_EQ(LoadFirst(), LoadOutcome::kLoaded);
  EXPECT_EQ(Counts(st), (std::vector<int>{25, 30, 20, 70, 40, 30, 50, 30, 30, 30, 30}));
  EXPECT_NEAR(st.scanRadius[2][30], 6.29, 1e-9);
  EXPECT_DOUBLE_EQ(st.scanValue[5][31], 3.2);
  EXPECT_EQ(st.scanTitle[8], "R 2 21.0 40000 0003700 5.7000E10 280 1");
  EXPECT_DOUBLE_EQ(st.temperature, 21.0);
  EXPECT_DOUBLE_EQ(st.scanValue[10][1], -0.2);
  // Every file left out is named, with the reason.
  const std::string t = console::TestTranscript();
  for (int k : {3, 4, 6, 7, 12, 13, 14, 15, 18})
    EXPECT_NE(t.find("file skipped: " + Name(k) + " ("), npos) << k;
  for (const char* note : {"00004.ra2 (fewer than 20 data points)", "00007.ra2 (no signal)",
                           "00014.ra2 (no header line)", "00015.ra2 (line 4 unreadable)"})
    EXPECT_NE(t.find(std::string("file skipped: ") + note), npos) << note;
  EXPECT_NE(t.find("00017.ra2 ends inside a line: that line is left out"), npos);
  EXPECT_NE(t.find("00018.ra2 (omega^2t not above 0)"), npos);
  EXPECT_EQ(t.find("00019.ra2:"), npos);
  EXPECT_NE(t.find("00020.ra2: wavelength 230 nm, the series began at 280 nm\n"
                   "00020.ra2: taken before the file loaded before it (its omega^2t is smaller)"),
            npos);

  // A series without a usable file says so.
  TempDir empty;
  WriteFile(empty.file("00001.ra2"), abs(Flat(19)));
  NewRun(st, 'R');
  EXPECT_EQ(Load(st, empty.file("00001.ra2")), LoadOutcome::kNothingLoaded);
  EXPECT_NE(console::TestTranscript().find("no usable scan file found"), npos);
}

// ---- Header values and file names ------------------------------------------------------

TEST_F(Reader, HeaderValuesAndFinishingASeriesOfTwoSpeeds) {
  Write("00001.ra2", Flat(30, 6.0, 0.01), "R 2 20.0 40000 3600 5.6E10 280 1", "BSA 0.5 mg/ml");
  Write("00002.ra2", Flat(40, 6.0, 0.01), "R 2 20.0 20000 7200 6.6E10 280 1", "BSA 0.5 mg/ml");
  ASSERT_EQ(LoadFirst(), LoadOutcome::kLoaded);
  // The run time at full speed is ω²t over ω² of the header's speed; the
  // offset is its distance from the elapsed time (of the file read last).
  const double omega2 = std::pow(std::numbers::pi * 40000 / 30, 2);
  const double runTime = 5.6E10 / omega2, runTime2 = 6.6E10 / (omega2 / 4);
  EXPECT_NEAR(st.scanRunTime[1], runTime, 1e-9 * runTime);
  EXPECT_NEAR(st.scanOmega2[1], omega2, 1e-9 * omega2);
  EXPECT_NEAR(st.runTime, runTime2, 1e-9 * runTime2);
  EXPECT_NEAR(st.timeOffset, std::fabs(7200 - runTime2), 1e-9 * runTime2);

  // Finishing the series: ω² relative to the first scan, the title, the radii
  // and the series defaults.
  FinishLoading(st);
  EXPECT_DOUBLE_EQ(st.scanOmega2[1], 1.0);
  EXPECT_NEAR(st.scanOmega2[2], 0.25, 1e-15);
  EXPECT_DOUBLE_EQ(st.rpmLast, 20000);
  EXPECT_EQ(st.infoLines[0], "BSA 0.5 mg/ml");
  EXPECT_EQ(st.seqLast, 2);
  EXPECT_NEAR(st.maxRadius, 6.39, 1e-12);
  EXPECT_DOUBLE_EQ(st.startRadius, 6.0);  // from the first file
  EXPECT_NEAR(st.endRadius, 6.29, 1e-12);
  EXPECT_EQ(st.absRadialStep, 10);
  EXPECT_DOUBLE_EQ(st.slitTimePerCm, 12.0);
  EXPECT_EQ(st.dataFileNote, "data files 00001.ra2 - 00002.ra2");
}

TEST_F(Reader, NextFileKeepsWidthCaseAndStep) {
  ASSERT_TRUE(SetStartFile(st, "/run/0007.RA1"));
  EXPECT_EQ(st.startFileNumber, 7);
  st.fileStep = 3;
  int number = st.startFileNumber;
  EXPECT_EQ(NextFileName(st, number), "/run/0010.RA1");
  EXPECT_EQ(NextFileName(st, number), "/run/0013.RA1");
  EXPECT_FALSE(SetStartFile(st, "/run/scan.ra1"));
  EXPECT_FALSE(SetStartFile(st, "/run/00001"));
  st.fileGeneration = 'O';  // old generation: the last two characters count by one
  ASSERT_TRUE(SetStartFile(st, "/old/R09"));
  number = st.startFileNumber;
  EXPECT_EQ(NextFileName(st, number), "/old/R10");
  EXPECT_EQ(NextFileName(st, number), "/old/R11");
}

TEST_F(Reader, FurtherFilesFromASecondDirectoryAfterN) {
  TempDir other;
  Write("00001.ra2", Flat(30), kAbsHeader, "first set");
  Write("00002.ra2", Flat(31), kAbsHeader, "first set");
  WriteFile(other.file("00005.ra2"), ScanText("R 2 20.0 20000 9000 9.0E10 280 1", Flat(32), "second set"));
  WriteFile(other.file("00006.ra2"), ScanText("R 2 20.0 20000 9600 9.6E10 280 1", Flat(33), "second set"));
  LoadHooks hooks;
  hooks.selectMoreFiles = [&](AnalysisState& s) { return SetStartFile(s, other.file("00005.ra2")); };
  ASSERT_EQ(LoadFirst("n", hooks), LoadOutcome::kLoaded);
  EXPECT_EQ(Counts(st), (std::vector<int>{30, 31, 32, 33}));
  EXPECT_TRUE(st.secondSetLoaded);
  EXPECT_EQ(st.secondSpeedFirstScan, 3);
  EXPECT_EQ(st.titleLines[0], "first set");
  EXPECT_EQ(st.secondTitleLines[0], "second set");
  EXPECT_EQ(st.firstSetTitle, dir.file("00001"));
  EXPECT_EQ(st.setTitle, other.file("00005"));
  // The question is asked once only.
  const std::string out = console::TestTranscript();
  const std::string question =
      "FURTHER FILE NOT FOUND\n"
      "end of data loading (E) or (N)ew name(with path) for further files (E/N) :  N";
  EXPECT_NE(out.find(question), npos);
  EXPECT_EQ(out.find("FURTHER FILE NOT FOUND"), out.rfind("FURTHER FILE NOT FOUND"));
}

// ---- Lower bound and interference grid ------------------------------------------------

TEST_F(Reader, SharpDropInTheFirstFileSetsTheLowerBoundCrlfAndUpperCaseNames) {
  // 5.900 .. 6.998 cm every 0.003 cm; the signal falls from 1.0 to 0.2 at 6.200 cm.
  const auto points = Ramp(367, 5.9, 0.003, [](double r) { return r < 6.1995 ? 1.0 : 0.2; });
  for (const char* name : {"00001.RA2", "00002.RA2"})
    WriteFile(dir.file(name), ScanText(kAbsHeader, points, "SegB", "\r\n"));
  ASSERT_EQ(Load(st, dir.file("00001.RA2")), LoadOutcome::kLoaded);
  // Radii below 6.200 − 0.1 cm are not data: 6.101 is the first point kept.
  EXPECT_EQ(Counts(st), (std::vector<int>{367 - 67, 367 - 67}));
  EXPECT_NEAR(st.scanRadius[2][1], 6.101, 1e-9);
  EXPECT_EQ(st.titleLines[0], "SegB");
  EXPECT_EQ(st.scanTitle[2], kAbsHeader);
}

TEST_F(Reader, InterferenceRadiiLieOnThePixelGridAroundTheMeanRadius) {
  NewRun(st, 'P');
  const double step = 0.00071350165;
  std::vector<Point> points;
  double sum = 0;
  for (int i = 0; i < 400; ++i) {
    points.push_back({5.9 + i * step + ((i % 3) - 1) * 0.0002, 0.01 * (i % 7)});  // jittered radii
    sum += std::round(points.back().radius * 1e4) / 1e4;  // as written, to 4 decimals
  }
  WriteFile(dir.file("00001.IP4"), ScanText("P 4 19.9 50000 0000190 1.9906E09 675 50", points,
                                            "cm/pixel:  0.00071350165, Sample", "\r\n", false));
  ASSERT_EQ(Load(st, dir.file("00001.IP4")), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanPointCount[1], 400);
  EXPECT_DOUBLE_EQ(st.radialStep, step);
  const double start = (sum - 400.0 * 399.0 / 2 * step) / 400.0;
  for (int i = 1; i <= 400; ++i) EXPECT_NEAR(st.scanRadius[1][i], start + (i - 1) * step, 1e-12);
}

// ---- The 3000 rpm file --------------------------------------------------------------------

TEST_F(Reader, File3000GivesTheConcentrationDivisor) {
  st.use3000 = true;
  // value = 0.2 + 0.1·r from 6.00 to 6.99 cm: extinction 0.2 + 0.1·6.495, slope 0.1.
  const std::vector<Point> ramp = Ramp(100, 6.0, 0.01, [](double r) { return 0.2 + 0.1 * r; });
  const double extinction = 0.2 + 0.1 * 6.495;
  Write("00001.ra2", ramp, kAbsHeader, "BSA 0.50 mg/ml 3000 rpm");
  ASSERT_EQ(LoadFirst("\r\r\r"), LoadOutcome::kFile3000Done);
  EXPECT_FALSE(st.use3000);
  EXPECT_NEAR(st.slope3000, 0.1, 1e-9);
  EXPECT_NEAR(st.extinction3000, extinction, 1e-9);
  EXPECT_DOUBLE_EQ(st.concentration, 0.5);
  EXPECT_NEAR(st.concDivisor, extinction / 0.5, 1e-9);
  ASSERT_EQ(st.profile3000Count, 100);
  EXPECT_DOUBLE_EQ(st.profile3000Value[1], 0.2 + 0.1 * 6.0);  // absorbance: as measured
  EXPECT_FALSE(st.contourSubtraction);                        // and never subtracted
  st.resetForAnalysis();
  EXPECT_EQ(st.profile3000Count, 0);

  // No concentration in the title: Y for input, 0 is refused, then 0.25.
  Write("00001.ra2", ramp, kAbsHeader, "SegB");
  NewRun(st, 'R');
  st.use3000 = true;
  ASSERT_EQ(LoadFirst("\rY0\r0.25\r\r"), LoadOutcome::kFile3000Done);
  EXPECT_NEAR(st.concDivisor, extinction / 0.25, 1e-9);
  // N: the concentration stays unknown.
  NewRun(st, 'R');
  st.use3000 = true;
  ASSERT_EQ(LoadFirst("\rN"), LoadOutcome::kFile3000Done);
  EXPECT_DOUBLE_EQ(st.concentration, -1);
  EXPECT_DOUBLE_EQ(st.concDivisor, 1.0);
}

TEST_F(Reader, InterferenceFile3000ContourIsKeptAboveItsMinimum) {
  NewRun(st, 'P');
  st.use3000 = true;
  WriteFile(dir.file("00001.ip1"), ScanText("P 1 20.0 3000 0000600 5.9E07 675 40",
                                            Ramp(50, 6.0, 0.0007, [](double r) { return r - 7.0; }),
                                            "cm/pixel:  0.00070000000, Sample", "\n", false));
  ASSERT_EQ(Load(st, dir.file("00001.ip1")), LoadOutcome::kFile3000Done);
  EXPECT_TRUE(st.contourSubtraction);
  ASSERT_EQ(st.profile3000Count, 50);
  EXPECT_DOUBLE_EQ(st.profile3000Value[1], 0.0);
  EXPECT_NEAR(st.profile3000Value[50], 49 * 0.0007, 1e-4);
}

// ---- Steps after loading ----------------------------------------------------------------

TEST(AfterLoading, InterpolationFillsSkippedGridPositionsOnly) {
  AnalysisState st;
  const double r[] = {6.000, 6.001, 6.004, 6.005, 6.0065, 6.0085};
  for (int i = 1; i <= 6; ++i) st.scanRadius[1][i] = r[i - 1], st.scanValue[1][i] = (r[i - 1] - 6) * 1000;
  st.scanPointCount[1] = st.scanLastPoint[1] = 6;
  EXPECT_EQ(AbsorbanceRadialStep(st, 1), 1);
  ASSERT_TRUE(InterpolateScan(st, 1, 1));
  ASSERT_EQ(st.scanPointCount[1], 8);
  EXPECT_EQ(st.scanLastPoint[1], 8);
  const double er[] = {6.000, 6.001, 6.002, 6.003, 6.004, 6.005, 6.0065, 6.0085};
  for (int i = 1; i <= 8; ++i) {
    EXPECT_NEAR(st.scanRadius[1][i], er[i - 1], 1e-12) << i;
    EXPECT_NEAR(st.scanValue[1][i], (er[i - 1] - 6.0) * 1000, 1e-9) << i;  // v = 1000·(r − 6)
  }
  // A scan that would pass 2800 points stays as it is.
  for (int i = 1; i <= 2000; ++i) st.scanRadius[1][i] = i == 1 ? 4.0 : 4.001 + (i - 2) * 0.01;  // step 0.001 cm
  st.scanPointCount[1] = st.scanLastPoint[1] = 2000;
  EXPECT_FALSE(InterpolateScan(st, 1, AbsorbanceRadialStep(st, 1)));
  EXPECT_EQ(st.scanPointCount[1], 2000);
}

TEST(AfterLoading, BottomPointCutAtTheFirstFallBelowTheRunningMaxima) {
  AnalysisState st;
  for (int i = 1; i <= 80; ++i) {
    st.scanRadius[1][i] = 6.0 + 0.01 * i;
    st.scanValue[1][i] = i <= 75 ? 1.0 + 0.01 * i : 0.05;
  }
  st.scanPointCount[1] = st.scanLastPoint[1] = 80;
  st.scanFirstPoint[1] = 1;
  BottomPointCut(st, 1);
  EXPECT_EQ(st.scanLastPoint[1], 75);
  for (int i = 1; i <= 80; ++i) st.scanValue[1][i] = 0.01 * i;  // rising to the end: no cut
  st.scanLastPoint[1] = 80;
  BottomPointCut(st, 1);
  EXPECT_EQ(st.scanLastPoint[1], 80);
}

TEST(AfterLoading, ContourSubtractionAndInterferenceOffset) {
  AnalysisState st;
  NewRun(st, 'P');
  st.scanCount = 1;
  st.omega2First = 1;
  st.scanOmega2[1] = 1;
  for (int i = 1; i <= 100; ++i) st.scanRadius[1][i] = 6.0 + 0.001 * (i - 1), st.scanValue[1][i] = 1.0;
  st.scanPointCount[1] = st.scanLastPoint[1] = 100;
  // Profile from 5.995 to 6.084 cm, value 0.01·k at its k-th point.
  st.profile3000Count = 90;
  for (std::size_t k = 1; k <= 90; ++k) {
    st.profile3000Radius[k] = 5.995 + 0.001 * static_cast<double>(k - 1);
    st.profile3000Value[k] = 0.01 * static_cast<double>(k);
  }
  st.contourSubtraction = true;
  console::StartTestConsole("");
  FinishLoading(st);
  ASSERT_EQ(st.scanPointCount[1], 85);  // 6.000 .. 6.084 cm
  EXPECT_EQ(st.rpm3000Offset[1], 5);
  // v_j = 1 − 0.01·(5 + j); the smallest is at j = 85, and half of it is taken off.
  const double y0 = 0.5 * (1 - 0.01 * 90);
  EXPECT_NEAR(st.dataOffset, y0, 1e-12);
  for (int j = 1; j <= 85; ++j) EXPECT_NEAR(st.scanValue[1][j], 1 - 0.01 * (5 + j) - y0, 1e-12) << j;
  EXPECT_DOUBLE_EQ(st.slitTimePerCm, 0.0);
}

// ---- The outlier correction ------------------------------------------------------------

// Scans of 200 points from 6.000 cm every 0.005 cm on a flat 0.5 OD base line.
class Outliers : public ::testing::Test {
 protected:
  AnalysisState st;
  void SetUp() override {
    console::StartTestConsole("");
    st.fileStep = 1;
  }
  void MakeScan(int j, const std::function<double(int)>& value, int n = 200) {
    for (int i = 1; i <= n; ++i) {
      st.scanRadius[j][i] = 6.0 + 0.005 * (i - 1);
      st.scanValue[j][i] = value(i);
    }
    st.scanPointCount[j] = st.scanLastPoint[j] = n;
    st.scanFirstPoint[j] = 1;
    st.scanCount = std::max(st.scanCount, j);
  }
};

TEST_F(Outliers, SingleSpikeBecomesTheMeanOfItsNeighbours) {
  MakeScan(1, [](int i) { return i == 50 ? 1.0 : 0.5; });
  EXPECT_EQ(CorrectOutliers(st, 0.0), 1);
  for (int i = 1; i <= 200; ++i) ASSERT_DOUBLE_EQ(st.scanValue[1][i], 0.5) << i;
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("Data points corrected\n"
                     "File       radius      absorbtion   data point   corrected\n"
                     "  1       6.24500       1.00000         50        0.50000\n"),
            std::string::npos);
  EXPECT_NE(out.find(" 1  data point(s) corrected\n"), std::string::npos);
  // An offset already subtracted is taken off for the test and put back.
  MakeScan(1, [](int i) { return (i == 120 ? 1.3 : 0.5) + 0.2; });
  EXPECT_EQ(CorrectOutliers(st, 0.2), 1);
  EXPECT_DOUBLE_EQ(st.scanValue[1][120], 0.5 + 0.2);
}

TEST_F(Outliers, TwoEqualAdjacentSpikesOnlyInPassTwo) {
  // Scan 1: two equal spikes; scan 2: one spike. Pass 1 visits scan 1 before
  // scan 2, so a pass-1 correction of scan 1 would be listed first.
  MakeScan(1, [](int i) { return i == 50 || i == 51 ? 1.0 : 0.5; });
  MakeScan(2, [](int i) { return i == 80 ? 1.0 : 0.5; });
  CorrectOutliers(st, 0.0);
  const std::string out = console::TestTranscript();
  const std::size_t pass2 = out.find("\n  1       6.24500       1.00000         50        0.75000\n");
  ASSERT_NE(pass2, std::string::npos);
  EXPECT_LT(out.find("\n  2       6.39500"), pass2);  // pass 1: scan 2's spike only
  EXPECT_DOUBLE_EQ(st.scanValue[1][50], 0.75);  // (0.5 + 1.0) / 2
  EXPECT_DOUBLE_EQ(st.scanValue[2][80], 0.5);
}

TEST_F(Outliers, DeepDropoutIsReplacedWithoutTheNeighbourTest) {
  // Two equal points deep below the base line: the neighbour test cannot
  // fire on the first (it is level with its right neighbour), the low limit does.
  MakeScan(1, [](int i) { return i == 60 || i == 61 ? -0.3 : 0.5; });
  CorrectOutliers(st, 0.0);
  EXPECT_NE(console::TestTranscript().find("  1       6.29500      -0.30000         60        0.10000\n"
                                           "  1       6.30000      -0.30000         61        0.30000\n"),
            std::string::npos);
}

// End points, a trimmed bottom, short scans and zero head sums stay unchanged.
TEST_F(Outliers, EndPointsTrimmedBottomsShortScansAndZeroSumsStayUnchanged) {
  MakeScan(1, [](int i) { return i == 1 || i == 200 ? 3.0 : 0.5; });
  // A steep bottom (slope 19 OD/cm at 6.995 cm): n / round(10 + 19) = 6
  // points are left out, with a spike among them.
  MakeScan(2, [](int i) {
    const double r = 6.0 + 0.005 * (i - 1);
    const double base = r > 6.9 ? 0.5 + 100 * (r - 6.9) * (r - 6.9) : 0.5;
    return i == 197 ? base + 1.0 : base;
  });
  // A damaged bottom rising at 2e20 OD/cm (found by fuzzing: the quotient
  // divided by zero): the least trim, 5 points, is left out.
  MakeScan(3, [](int i) { return i > 190 ? 1e18 * (i - 190) : 0.5; });
  MakeScan(4, [](int i) { return i == 2 ? 9.0 : 0.5; }, 3);  // too short for a head
  // Alternating ±0.5 with a spike pair that keeps the head sum at exactly 0.
  auto zeroSum = [](int i) { return i == 20 ? 1.5 : i == 21 ? -1.5 : (i % 2 ? 0.5 : -0.5); };
  MakeScan(5, zeroSum, 40);
  const double spike = st.scanValue[2][197];
  CorrectOutliers(st, 0.0);
  EXPECT_DOUBLE_EQ(st.scanValue[1][1], 3.0);
  EXPECT_DOUBLE_EQ(st.scanValue[1][200], 3.0);
  EXPECT_DOUBLE_EQ(st.scanValue[2][197], spike);
  EXPECT_DOUBLE_EQ(st.scanValue[3][196], 6e18);
  EXPECT_DOUBLE_EQ(st.scanValue[4][2], 9.0);
  for (int i = 1; i <= 40; ++i) ASSERT_DOUBLE_EQ(st.scanValue[5][i], zeroSum(i)) << i;
  for (const char* scan : {"\n  2   ", "\n  4   ", "\n  5   "})  // nothing of these scans listed
    EXPECT_EQ(console::TestTranscript().find(scan), std::string::npos) << scan;
}

// ---- Text rules of scan files ---------------------------------------------------------

TEST(Header, SearchFromLineTwoValuesWithTheInstrumentsQuirksAndRejectedLines) {
  const std::string text = "R 1 2 looks like a header\r\nsecond\r\nR 3 20.0 3000\r\n 5.9 0.1\r\n";
  const HeaderSearch found = FindHeader(text, 'R');
  EXPECT_EQ(found.headerLine, 3);
  EXPECT_EQ(found.titleLines[1], "second");
  EXPECT_EQ(text.substr(found.dataStart), " 5.9 0.1\r\n");
  EXPECT_FALSE(IsHeaderLine("R 12 20.0", 'R'));  // one cell digit, then a blank
  ScanHeader h;
  // Leading-zero temperature, two blanks before a four-digit speed, trailing blank.
  ASSERT_TRUE(ParseHeader("R 1 03.9  9000 0005858 3.6450E09 281 5 ", h));
  EXPECT_EQ(std::tuple(h.cell, h.temperature, h.rotorSpeed, h.elapsedTime, h.omega2t, h.wavelength,
                       h.seventh, h.numberCount),
            std::tuple(1, 3.9, 9000.0, 5858.0, 3.645e9, 281.0, 5.0, 7));
  ASSERT_TRUE(ParseHeader("P 4 19.9 50000 0000190 1.9906e09 675 50", h));  // "e" counts as "E"
  EXPECT_DOUBLE_EQ(h.omega2t, 1.9906e9);
  for (const char* bad : {"R 1 20,0 40000 3600 5.6E10 280 1", "R 1 20.0 40000 3600 5.6E10 280/1",
                          "R 1 20.0 40000 3600 5.6E10 280 1\t", "R 1 20.0 0 3600 5.6E10 280 1",
                          "R 1 20.0 -400 3600 5.6E10 280 1", "R 1 20.0", "R 1 20.0 4E999 3600 5.6E10 280 1"})
    EXPECT_FALSE(ParseHeader(bad, h)) << bad;  // foreign characters, no or no finite speed
}

TEST(Numbers, ListRuleAndSingleTokens) {
  // Every run of codes 43..69 is one number; a run that is no number gives 0 and counts as failed.
  double n[8] = {};
  int failed = -1;
  EXPECT_EQ(ParseNumberList("  12abc3.5 x -4E2", n, 8, &failed), 3);
  EXPECT_EQ(std::vector<double>(n, n + 3), (std::vector<double>{12, 3.5, -400}));
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(ParseNumberList("1:2 3/4 5", n, 8, &failed), 3);  // ":" and "/" belong to a run
  EXPECT_EQ(std::vector<double>(n, n + 3), (std::vector<double>{0, 0, 5}));
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(ParseNumberList("1 2 3 4", n, 2), 2);

  const std::pair<const char*, double> good[] = {
      {"1.62919E+00", 1.62919}, {"-1.19000E-001", -0.119}, {"9.10000E-0002", 0.091}, {"+5.", 5}, {".25", 0.25}};
  for (const auto& [text, value] : good) {
    double v = 0;
    EXPECT_TRUE(ParseNumber(text, v) && v == value) << text;
  }
  double v = 7;
  for (const char* bad : {"nan", "NaN", "inf", "-Infinity", "0x1p3", "1e999", "-1E400", "1.2.3", "+", "-", ".",
                          "E5", "1E", "1e+", "1,5", " 1", "1 ", ""})
    EXPECT_FALSE(ParseNumber(bad, v)) << bad;
  EXPECT_EQ(v, 7);
}

TEST(TitleRow, InterferenceRadialStepAndConcentration) {
  double step = 1;
  ASSERT_TRUE(ParseRadialStep("cm/pixel:  0.00071350165, Sample", step));
  EXPECT_DOUBLE_EQ(step, 0.00071350165);
  ASSERT_TRUE(ParseRadialStep("x 0.000696677370001", step));  // 13 characters from the first digit
  EXPECT_DOUBLE_EQ(step, 0.00069667737);
  for (const char* bad : {"Sample", "cell 4 run", "0.0000"}) EXPECT_FALSE(ParseRadialStep(bad, step)) << bad;
  EXPECT_DOUBLE_EQ(step, 0.00069667737);

  const std::pair<const char*, double> titles[] = {
      {"15uM protein", 15}, {"   BSA 0.52 mg/ml", 0.52}, {"run 12/05/01 BSA 1.5mg/ml", 1.5},  // a date is passed over
      {"SegB", 0},          {"BSA 5 mg/ml", 0},           {"a-0.5", 0}, {"", 0}};  // one digit alone is none
  for (const auto& [title, expected] : titles) {
    double c = 0;
    EXPECT_EQ(FindTitleConcentration(title, c), expected > 0) << title;
    EXPECT_EQ(c, expected) << title;
  }  // A title of a damaged file: 72 characters, control bytes shown as '?'.
  EXPECT_EQ(CutLine("a\tb\x07" "c\x1b[2J\x7f" + std::string(80, 'x')),
            "a b?c?[2J?" + std::string(62, 'x'));
}

TEST(DataLines, PointsBlankLinesBadLinesAndCtrlZ) {
  const std::string text = "   5.7030  -1.19000E-001    4.90900E-001\r\n\r\n  5.8 2.0\n5.9\t3.0 junk";
  DataCursor cursor(text, 0, 3);
  double r = 0, v = 0;
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_TRUE(r == 5.703 && v == -0.119 && cursor.lineNumber() == 3);
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_TRUE(r == 5.8 && cursor.lineNumber() == 5);
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);  // what follows the value is not read
  EXPECT_EQ(v, 3.0);
  EXPECT_EQ(cursor.Next(r, v), DataCursor::Status::kEndOfFile);
  EXPECT_EQ(cursor.Next(r, v), DataCursor::Status::kEndOfFile);

  DataCursor one("5.9 0.1\n5.91\n", 0, 1);
  EXPECT_EQ(one.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_EQ(one.Next(r, v), DataCursor::Status::kBadLine);
  EXPECT_EQ(one.lineNumber(), 2);
  EXPECT_EQ(DataCursor("5.9 nan\n", 0, 1).Next(r, v), DataCursor::Status::kBadLine);
  DataCursor ctrlZ("5.9 0.1\n\x1a garbage\n6.0 0.2\n", 0, 1);
  EXPECT_EQ(ctrlZ.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_EQ(ctrlZ.Next(r, v), DataCursor::Status::kEndOfFile);
}

}  // namespace
}  // namespace svfit::scans
