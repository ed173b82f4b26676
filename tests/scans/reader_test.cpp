// The scan reader on files made here: limits, end and skip conditions,
// header values, file naming, the further-files question, interference
// grids, and the steps after loading.
#include "scans/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "scan_fixture.h"

namespace svfit::scans {
namespace {

using testing::AbsorbanceRun;
using testing::Flat;
using testing::InterferenceRun;
using testing::kAbsHeader;
using testing::Load;
using testing::Point;
using testing::Ramp;
using testing::ScanText;
using testing::TempDir;
using testing::WriteFile;

class Reader : public ::testing::Test {
 protected:
  AnalysisState st;
  TempDir dir;
  void SetUp() override { AbsorbanceRun(st); }
  void Write(const std::string& name, const std::string& header, const std::vector<Point>& points,
             const std::string& title = "test scan") {
    WriteFile(dir.file(name), ScanText(header, points, title));
  }
};

// ---- Point limits ---------------------------------------------------------------

TEST_F(Reader, TwentyPointsLoadNineteenAreSkippedAndLoadingGoesOn) {
  Write("00001.ra2", kAbsHeader, Flat(19, 6.0, 0.01));
  Write("00002.ra2", kAbsHeader, Flat(20, 6.0, 0.01));
  Write("00003.ra2", kAbsHeader, Flat(19, 6.0, 0.01));
  EXPECT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  EXPECT_EQ(st.scanCount, 1);
  EXPECT_EQ(st.scanPointCount[1], 20);
  EXPECT_EQ(st.scanFirstPoint[1], 1);
  EXPECT_EQ(st.scanLastPoint[1], 20);
}

TEST_F(Reader, NoUsableFileIsReported) {
  Write("00001.ra2", kAbsHeader, Flat(5));
  EXPECT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kNothingLoaded);
  EXPECT_NE(console::TestTranscript().find("no usable scan file found"), std::string::npos);
}

TEST_F(Reader, ExactlyFullCapacityLoads) {
  Write("00001.ra2", kAbsHeader, Flat(kMaxPoints, 5.9, 0.0004));
  EXPECT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  EXPECT_EQ(st.scanPointCount[1], kMaxPoints);
  EXPECT_NEAR(st.scanRadius[1][kMaxPoints], 5.9 + (kMaxPoints - 1) * 0.0004, 1e-9);
}

TEST_F(Reader, OnePointMoreHaltsWithTheMessage) {
  Write("00001.ra2", kAbsHeader, Flat(kMaxPoints + 1, 5.9, 0.0004));
  try {
    Load(st, dir.file("00001.ra2"), "\r");
    FAIL() << "no halt";
  } catch (const console::ConsoleExited& h) {
    EXPECT_NE(h.code, 0);
  }
  // The screen was cleared: the message stands in row 1, in colour 13.
  EXPECT_EQ(console::ScreenRow(1).substr(0, 21), "to much data points !");
  EXPECT_EQ(console::ScreenAttribute(1, 1) & 0x0F, console::kLightMagenta);
}

// ---- End and skip conditions -----------------------------------------------------

TEST_F(Reader, WildValueEndsTheDataOnlyBeyond725cm) {
  std::vector<Point> nearBottom = Flat(70, 6.6, 0.01);  // 6.60 .. 7.29 cm
  nearBottom.push_back({7.3, 3.2});
  for (int i = 1; i <= 5; ++i) nearBottom.push_back({7.3 + i * 0.01, 0.5});
  Write("00001.ra2", "R 9 20.0 40000 0003600 5.6000E10 280 1", nearBottom);
  std::vector<Point> inside = Flat(40, 6.6, 0.01);
  inside[30].value = 3.2;  // at 6.90 cm
  Write("00002.ra2", "R 9 20.0 40000 0003600 5.6000E10 280 1", inside);
  std::vector<Point> low = Flat(30, 7.0, 0.01);  // the series' data start at 6.59 cm
  low.push_back({7.3, -0.7});
  low.push_back({7.31, 0.5});
  Write("00003.ra2", "R 9 20.0 40000 0003600 5.6000E10 280 1", low);
  std::vector<Point> zero = Flat(25, 6.6, 0.01);
  zero.push_back({0.0, 0.0});
  for (const Point& p : Flat(25, 6.9, 0.01)) zero.push_back(p);
  Write("00004.ra2", "R 9 20.0 40000 0003600 5.6000E10 280 1", zero);

  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 4);
  EXPECT_EQ(st.scanPointCount[1], 70);
  EXPECT_DOUBLE_EQ(st.scanValue[1][70], 0.5);
  EXPECT_EQ(st.scanPointCount[2], 40);
  EXPECT_DOUBLE_EQ(st.scanValue[2][31], 3.2);
  EXPECT_EQ(st.scanPointCount[3], 30);
  // A zero line lies below the lower radial bound: it is passed over like
  // any radius there, and the data go on.
  EXPECT_EQ(st.scanPointCount[4], 50);
}

TEST_F(Reader, RepeatedRadiusOrNoSignalSkipTheFile) {
  std::vector<Point> twice = Flat(30, 6.0, 0.01);
  twice[10].radius = twice[9].radius + 5e-7;
  Write("00001.ra2", kAbsHeader, twice);
  Write("00002.ra2", kAbsHeader, Flat(30, 6.0, 0.01, 0.0));  // absorbance sum 0
  Write("00003.ra2", kAbsHeader, Flat(30, 6.0, 0.01, 0.25));
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  EXPECT_EQ(st.scanCount, 1);
  EXPECT_DOUBLE_EQ(st.scanValue[1][1], 0.25);
}

TEST_F(Reader, RadiiThatRunBackEndTheScan) {
  std::vector<Point> tail = Flat(25, 6.0, 0.01);
  for (const Point& p : Ramp(3, 6.2, -0.05, [](double) { return 0.5; })) tail.push_back(p);
  Write("00001.ra2", kAbsHeader, tail);
  std::vector<Point> middle = Flat(30, 6.0, 0.01);
  middle.push_back({6.1, 0.5});
  for (const Point& p : Flat(10, 6.5, 0.01)) middle.push_back(p);
  Write("00002.ra2", kAbsHeader, middle);
  std::vector<Point> shortScan = Flat(15, 6.0, 0.01);
  shortScan.push_back({6.05, 0.5});
  for (const Point& p : Flat(10, 6.5, 0.01)) shortScan.push_back(p);
  Write("00003.ra2", kAbsHeader, shortScan);
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 2);
  EXPECT_EQ(st.scanPointCount[1], 25);
  EXPECT_EQ(st.scanPointCount[2], 30);
  for (int s = 1; s <= 2; ++s)
    for (int i = 2; i <= st.scanPointCount[s]; ++i) EXPECT_GT(st.scanRadius[s][i], st.scanRadius[s][i - 1]);
}

TEST_F(Reader, ForeignHeaderCharactersSkipTheFileAndLoadingGoesOn) {
  Write("00001.ra2", "R 2 20,0 40000 0003600 5.6000E10 280 1", Flat(30));
  Write("00002.ra2", kAbsHeader, Flat(30));
  Write("00003.ra2", "R 2 20.0 40000 0003600 5.6000E10 280/1", Flat(30));
  Write("00004.ra2", "R 2 21.0 40000 0003700 5.7000E10 280 1", Flat(30));
  Write("00005.ra2", "no header at all", Flat(30));
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 2);
  EXPECT_EQ(st.scanTitle[1], kAbsHeader);
  EXPECT_EQ(st.scanTitle[2], "R 2 21.0 40000 0003700 5.7000E10 280 1");
  EXPECT_DOUBLE_EQ(st.temperature, 21.0);
}

TEST_F(Reader, UnreadableDataLineSkipsTheFileWithANote) {
  std::vector<Point> points = Flat(30);
  std::string text = ScanText(kAbsHeader, points);
  text.insert(text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1, "6.0005 NaN 0.1\n");
  WriteFile(dir.file("00001.ra2"), text);
  Write("00002.ra2", kAbsHeader, Flat(30));
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  EXPECT_EQ(st.scanCount, 1);
  EXPECT_NE(console::TestTranscript().find("file skipped: 00001.ra2 (line 4 unreadable)"), std::string::npos);
}

// ---- Header values ------------------------------------------------------------------

TEST_F(Reader, RunTimeIsOmega2tOverOmega2) {
  Write("00001.ra1", "R 1 20.0 40000 3600 5.6E10 280 1", Flat(30));
  ASSERT_EQ(Load(st, dir.file("00001.ra1")), LoadOutcome::kLoaded);
  const double omega = std::numbers::pi * 40000 / 30;
  const double runTime = 5.6E10 / (omega * omega);
  EXPECT_NEAR(st.runTime, runTime, 1e-9 * runTime);
  EXPECT_NEAR(st.timeOffset, std::fabs(3600 - runTime), 1e-9 * runTime);
  EXPECT_NEAR(st.scanRunTime[1], runTime, 1e-9 * runTime);
  EXPECT_NEAR(st.scanOmega2[1], omega * omega, 1e-9 * omega * omega);
  EXPECT_EQ(st.cellNumber, 1);
  EXPECT_DOUBLE_EQ(st.temperature, 20.0);
  EXPECT_DOUBLE_EQ(st.wavelength, 280);
  EXPECT_DOUBLE_EQ(st.rotorSpeed, 40000);
  EXPECT_DOUBLE_EQ(st.headerSeventh, 1);
  EXPECT_DOUBLE_EQ(st.rpmFirst, 40000);
}

TEST_F(Reader, OmegaSquaredBecomesRelativeToTheFirstScan) {
  Write("00001.ra2", "R 2 20.0 40000 3600 5.6E10 280 1", Flat(30));
  Write("00002.ra2", "R 2 20.0 20000 7200 6.6E10 280 1", Flat(30));
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  FinishLoading(st);
  EXPECT_DOUBLE_EQ(st.scanOmega2[1], 1.0);
  EXPECT_NEAR(st.scanOmega2[2], 0.25, 1e-15);
  EXPECT_DOUBLE_EQ(st.rpmFirst, 40000);
  EXPECT_DOUBLE_EQ(st.rpmLast, 20000);
}

// ---- File names ---------------------------------------------------------------------

TEST_F(Reader, CrlfAndUpperCaseNamesLoad) {
  for (const char* name : {"00001.RA2", "00002.RA2"})
    WriteFile(dir.file(name), ScanText(kAbsHeader, Flat(30), "SegB", "\r\n"));
  ASSERT_EQ(Load(st, dir.file("00001.RA2")), LoadOutcome::kLoaded);
  EXPECT_EQ(st.scanCount, 2);
  EXPECT_EQ(st.titleLines[0], "SegB");
  EXPECT_EQ(st.scanTitle[2], kAbsHeader);
  EXPECT_EQ(st.extension, "RA2");
}

TEST_F(Reader, NextFileKeepsWidthCaseAndStep) {
  ASSERT_TRUE(SetStartFile(st, "/run/0007.RA1"));
  EXPECT_EQ(st.fileNumberWidth, 4);
  EXPECT_EQ(st.startFileNumber, 7);
  EXPECT_EQ(st.directoryPath, "/run/");
  st.fileStep = 3;
  int number = st.startFileNumber;
  EXPECT_EQ(NextFileName(st, number), "/run/0010.RA1");
  EXPECT_EQ(NextFileName(st, number), "/run/0013.RA1");
  EXPECT_FALSE(SetStartFile(st, "/run/scan.ra1"));
  EXPECT_FALSE(SetStartFile(st, "/run/00001"));

  st.fileGeneration = 'O';
  ASSERT_TRUE(SetStartFile(st, "/old/R09"));
  number = st.startFileNumber;
  EXPECT_EQ(NextFileName(st, number), "/old/R10");
  st.currentFileName = "/old/R10";
  EXPECT_EQ(NextFileName(st, number), "/old/R11");
}

TEST_F(Reader, FileStepSkipsFiles) {
  for (int k = 1; k <= 6; ++k) Write("0000" + std::to_string(k) + ".ra2", kAbsHeader, Flat(20 + k));
  st.fileStep = 2;
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 3);
  EXPECT_EQ(st.scanPointCount[1], 21);
  EXPECT_EQ(st.scanPointCount[2], 23);
  EXPECT_EQ(st.scanPointCount[3], 25);
}

// ---- Further files ------------------------------------------------------------------

TEST_F(Reader, FurtherFileNotFoundAnsweredEEndsLoading) {
  Write("00001.ra2", kAbsHeader, Flat(30));
  ASSERT_EQ(Load(st, dir.file("00001.ra2"), "e"), LoadOutcome::kLoaded);
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("FURTHER FILE NOT FOUND\n"
                     "end of data loading (E) or (N)ew name(with path) for further files (E/N) :  E\n"),
            std::string::npos);
  EXPECT_FALSE(st.secondSetLoaded);
}

TEST_F(Reader, SecondFileSetAfterN) {
  TempDir other;
  Write("00001.ra2", kAbsHeader, Flat(30), "first set");
  Write("00002.ra2", kAbsHeader, Flat(31), "first set");
  WriteFile(other.file("00005.ra2"), ScanText("R 2 20.0 20000 9000 9.0E10 280 1", Flat(32), "second set"));
  WriteFile(other.file("00006.ra2"), ScanText("R 2 20.0 20000 9600 9.6E10 280 1", Flat(33), "second set"));
  LoadHooks hooks;
  int asked = 0;
  hooks.selectMoreFiles = [&](AnalysisState& s) {
    ++asked;
    return SetStartFile(s, other.file("00005.ra2"));
  };
  ASSERT_EQ(Load(st, dir.file("00001.ra2"), "n", hooks), LoadOutcome::kLoaded);
  EXPECT_EQ(asked, 1);
  ASSERT_EQ(st.scanCount, 4);
  EXPECT_EQ(st.scanPointCount[3], 32);
  EXPECT_EQ(st.scanPointCount[4], 33);
  EXPECT_TRUE(st.secondSetLoaded);
  EXPECT_EQ(st.secondSpeedFirstScan, 3);
  EXPECT_EQ(st.titleLines[0], "first set");
  EXPECT_EQ(st.secondTitleLines[0], "second set");
  EXPECT_EQ(st.firstSetTitle, dir.file("00001"));
  EXPECT_EQ(st.setTitle, other.file("00005"));
  // The question is asked once only.
  const std::string out = console::TestTranscript();
  EXPECT_EQ(out.find("FURTHER FILE NOT FOUND"), out.rfind("FURTHER FILE NOT FOUND"));
}

// ---- Lower bound and interference grid -----------------------------------------------

TEST_F(Reader, SharpDropInTheFirstFileSetsTheLowerBound) {
  // 5.900 .. 6.998 cm every 0.003 cm; the signal falls from 1.0 to 0.2 at 6.200 cm.
  auto drop = [](double r) { return r < 6.1995 ? 1.0 : 0.2; };
  Write("00001.ra2", kAbsHeader, Ramp(367, 5.9, 0.003, drop));
  Write("00002.ra2", kAbsHeader, Ramp(367, 5.9, 0.003, drop));
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, 2);
  // Radii below 6.200 − 0.1 cm are not data: 6.101 is the first point kept.
  for (int s = 1; s <= 2; ++s) {
    EXPECT_EQ(st.scanPointCount[s], 367 - 67);
    EXPECT_NEAR(st.scanRadius[s][1], 6.101, 1e-9);
  }
}

TEST_F(Reader, InterferenceRadiiLieOnThePixelGridAroundTheMeanRadius) {
  InterferenceRun(st);
  const double step = 0.00071350165;
  std::vector<Point> points;
  double sum = 0;
  for (int i = 0; i < 400; ++i) {
    const double r = 5.9 + i * step + ((i % 3) - 1) * 0.0002;  // jittered radii
    points.push_back({r, 0.01 * (i % 7)});
  }
  std::string text = ScanText("P 4 19.9 50000 0000190 1.9906E09 675 50", points,
                              "cm/pixel:  0.00071350165, Sample", "\r\n", false);
  WriteFile(dir.file("00001.IP4"), text);
  // The written radii have 4 decimals: sum what the file holds.
  for (const Point& p : points) sum += std::round(p.radius * 1e4) / 1e4;
  ASSERT_EQ(Load(st, dir.file("00001.IP4")), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanPointCount[1], 400);
  EXPECT_DOUBLE_EQ(st.radialStep, step);
  const double start = (sum - 400.0 * 399.0 / 2 * step) / 400.0;
  double stored = 0;
  for (int i = 1; i <= 400; ++i) {
    EXPECT_NEAR(st.scanRadius[1][i], start + (i - 1) * step, 1e-12);
    stored += st.scanRadius[1][i];
  }
  EXPECT_NEAR(stored / 400, sum / 400, 1e-9);
}

// ---- One-by-one loading ------------------------------------------------------------

TEST_F(Reader, OneByOnePicksDropOrEndOrCutEachFile) {
  st.loadOneByOne = true;
  for (int k = 1; k <= 4; ++k) Write("0000" + std::to_string(k) + ".ra2", kAbsHeader, Flat(100, 6.0, 0.01));
  LoadHooks hooks;
  int call = 0;
  hooks.pickRange = [&](AnalysisState&, int scan) {
    ++call;
    EXPECT_EQ(scan, call == 1 ? 1 : call == 4 ? 3 : 2);
    if (call == 1) return RadialPick{6.2, 6.8, 6.1, 6.9};  // scan 1: 6.1 .. 6.9 cm
    if (call == 2) return RadialPick{6.95, 6.8, 0, 0};     // start beyond end + 0.1: dropped
    if (call == 3) return RadialPick{6.2, 6.8, 0, 0};      // scan 2: 6.2 cm to the file's end
    return RadialPick{6.5, 6.52, 0, 0};                    // collapsed: loading ends
  };
  ASSERT_EQ(Load(st, dir.file("00001.ra2"), "", hooks), LoadOutcome::kLoaded);
  EXPECT_EQ(call, 4);
  ASSERT_EQ(st.scanCount, 2);
  EXPECT_EQ(st.scanPointCount[1], 81);
  EXPECT_NEAR(st.scanRadius[1][1], 6.1, 1e-9);
  EXPECT_NEAR(st.scanRadius[1][81], 6.9, 1e-9);
  EXPECT_EQ(st.scanPointCount[2], 80);
  EXPECT_NEAR(st.scanRadius[2][1], 6.2, 1e-9);
  EXPECT_DOUBLE_EQ(st.meniscusMarked, 6.1);
  EXPECT_EQ(st.absRadialStep, 10);
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("cell               :      2\n"
                     "temperature        :   20.0\n"
                     "wavelength         :    280\n"
                     "rotor speed        :  40000\n"
                     "running time (sec) :   3192\n"),
            std::string::npos);
  EXPECT_NE(out.find("Number of data points/file : 81/  1\n"), std::string::npos);
  EXPECT_NE(out.find("Name des  2.  data files   : " + dir.file("00002.ra2")), std::string::npos);
  EXPECT_NE(out.find("  2  " + std::string(kAbsHeader)), std::string::npos);
}

// ---- Steps after loading -------------------------------------------------------------

TEST(Interpolation, FillsSkippedGridPositionsOnly) {
  AnalysisState st;
  const double r[] = {6.000, 6.001, 6.004, 6.005, 6.0065, 6.0085};
  const double v[] = {0, 1, 4, 5, 6.5, 8.5};
  for (int i = 1; i <= 6; ++i) st.scanRadius[1][i] = r[i - 1], st.scanValue[1][i] = v[i - 1];
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
}

TEST(Interpolation, LeavesAScanThatWouldOverflowUnchanged) {
  AnalysisState st;
  st.scanRadius[1][1] = 4.0;
  for (int i = 2; i <= 2000; ++i) st.scanRadius[1][i] = 4.001 + (i - 2) * 0.01;
  st.scanPointCount[1] = st.scanLastPoint[1] = 2000;
  EXPECT_FALSE(InterpolateScan(st, 1, AbsorbanceRadialStep(st, 1)));
  EXPECT_EQ(st.scanPointCount[1], 2000);
  EXPECT_DOUBLE_EQ(st.scanRadius[1][3], 4.011);
}

TEST(BottomPoint, FirstFallBelowTheRunningMaximaEndsTheScan) {
  AnalysisState st;
  for (int i = 1; i <= 80; ++i) {
    st.scanRadius[1][i] = 6.0 + 0.01 * i;
    st.scanValue[1][i] = i <= 75 ? 1.0 + 0.01 * i : 0.05;
  }
  st.scanPointCount[1] = st.scanLastPoint[1] = 80;
  st.scanFirstPoint[1] = 1;
  BottomPointCut(st, 1);
  EXPECT_EQ(st.scanLastPoint[1], 75);
  // A scan that keeps rising is not cut.
  for (int i = 1; i <= 80; ++i) st.scanValue[1][i] = 0.01 * i;
  st.scanLastPoint[1] = 80;
  BottomPointCut(st, 1);
  EXPECT_EQ(st.scanLastPoint[1], 80);
}

TEST(AfterLoading, ContourSubtractionAndInterferenceOffset) {
  AnalysisState st;
  InterferenceRun(st);
  st.scanCount = 1;
  st.omega2First = 1;
  st.scanOmega2[1] = 1;
  for (int i = 1; i <= 100; ++i) st.scanRadius[1][i] = 6.0 + 0.001 * (i - 1), st.scanValue[1][i] = 1.0;
  st.scanPointCount[1] = st.scanLastPoint[1] = 100;
  // Profile from 5.995 to 6.084 cm, value 0.01·k at its k-th point.
  st.profile3000Count = 90;
  for (int k = 1; k <= 90; ++k) {
    st.profile3000Radius[static_cast<std::size_t>(k)] = 5.995 + 0.001 * (k - 1);
    st.profile3000Value[static_cast<std::size_t>(k)] = 0.01 * k;
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
  EXPECT_EQ(st.seqLast, 1);
  EXPECT_DOUBLE_EQ(st.slitTimePerCm, 0.0);
}

TEST(AfterLoading, TitleLinesAndSeriesDefaults) {
  AnalysisState st;
  AbsorbanceRun(st);
  TempDir dir;
  WriteFile(dir.file("00001.ra2"), ScanText(kAbsHeader, Flat(30, 6.0, 0.01), "BSA 0.5 mg/ml"));
  WriteFile(dir.file("00002.ra2"), ScanText(kAbsHeader, Flat(40, 6.0, 0.01), "BSA 0.5 mg/ml"));
  ASSERT_EQ(Load(st, dir.file("00001.ra2")), LoadOutcome::kLoaded);
  FinishLoading(st);
  EXPECT_EQ(st.infoLines[0], "BSA 0.5 mg/ml");
  EXPECT_NE(console::TestTranscript().find("BSA 0.5 mg/ml\nwait\n"), std::string::npos);
  EXPECT_EQ(st.seqFirst, 1);
  EXPECT_EQ(st.seqLast, 2);
  EXPECT_EQ(st.scanSequence[2], 2);
  EXPECT_DOUBLE_EQ(st.minRadius, 6.0);
  EXPECT_NEAR(st.maxRadius, 6.39, 1e-12);
  EXPECT_DOUBLE_EQ(st.startRadius, 6.0);  // from the first file
  EXPECT_NEAR(st.endRadius, 6.29, 1e-12);
  EXPECT_EQ(st.absRadialStep, 10);
  EXPECT_DOUBLE_EQ(st.slitTimePerCm, 12.0);
  EXPECT_EQ(st.dataFileNote, "data files 00001.ra2 - 00002.ra2");
}

}  // namespace
}  // namespace svfit::scans

namespace svfit::scans {
namespace {

// ---- The 3000 rpm file ------------------------------------------------------------------

class File3000 : public ::testing::Test {
 protected:
  AnalysisState st;
  TempDir dir;
  void SetUp() override {
    AbsorbanceRun(st);
    st.use3000 = true;
  }
  // value = 0.2 + 0.1·r from 6.00 to 6.99 cm: extinction 0.2 + 0.1·6.495, slope 0.1.
  void Write(const std::string& title) {
    WriteFile(dir.file("00001.ra2"),
              ScanText(kAbsHeader, Ramp(100, 6.0, 0.01, [](double r) { return 0.2 + 0.1 * r; }), title));
  }
};

TEST_F(File3000, ConcentrationFromTheTitleRowGivesTheDivisor) {
  Write("BSA 0.50 mg/ml 3000 rpm");
  ASSERT_EQ(testing::Load(st, dir.file("00001.ra2"), "\r\r\r"), LoadOutcome::kFile3000Done);
  EXPECT_FALSE(st.use3000);
  EXPECT_NEAR(st.slope3000, 0.1, 1e-9);
  EXPECT_NEAR(st.extinction3000, 0.2 + 0.1 * 6.495, 1e-9);
  EXPECT_DOUBLE_EQ(st.concentration, 0.5);
  EXPECT_NEAR(st.concDivisor, (0.2 + 0.1 * 6.495) / 0.5, 1e-9);
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("Extinction                              :  0.8495\n"
                     "Slop                                    :  0.1000\n"
                     "Concentration found in title-row 0.5000 :  "),
            std::string::npos);
  EXPECT_NE(out.find("Divisor for conversion to concentration :  1.6990"), std::string::npos);
}

TEST_F(File3000, ConcentrationTypedWhenTheTitleHasNone) {
  Write("SegB");
  // Enter after the scan, Y for input, 0 is refused, then 0.25; Enter at the end.
  ASSERT_EQ(testing::Load(st, dir.file("00001.ra2"), "\rY0\r0.25\r\r"), LoadOutcome::kFile3000Done);
  EXPECT_DOUBLE_EQ(st.concentration, 0.25);
  EXPECT_NEAR(st.concDivisor, (0.2 + 0.1 * 6.495) / 0.25, 1e-9);
  EXPECT_NE(console::TestTranscript().find("No concentration data found in title row, important only for\n"
                                           "estimation of ass.constants by sedfit, input wanted  (Y/N) : Y"),
            std::string::npos);
}

TEST_F(File3000, NoInputLeavesTheConcentrationUnknown) {
  Write("SegB");
  ASSERT_EQ(testing::Load(st, dir.file("00001.ra2"), "\rN"), LoadOutcome::kFile3000Done);
  EXPECT_DOUBLE_EQ(st.concentration, -1);
  EXPECT_DOUBLE_EQ(st.concDivisor, 1.0);
}

TEST(File3000Interference, ContourIsKeptAboveItsMinimum) {
  AnalysisState st;
  InterferenceRun(st);
  st.use3000 = true;
  TempDir dir;
  WriteFile(dir.file("00001.ip1"), ScanText("P 1 20.0 3000 0000600 5.9E07 675 40",
                                            Ramp(50, 6.0, 0.0007, [](double r) { return r - 7.0; }),
                                            "cm/pixel:  0.00070000000, Sample", "\n", false));
  ASSERT_EQ(testing::Load(st, dir.file("00001.ip1")), LoadOutcome::kFile3000Done);
  EXPECT_TRUE(st.contourSubtraction);
  ASSERT_EQ(st.profile3000Count, 50);
  EXPECT_DOUBLE_EQ(st.profile3000Value[1], 0.0);
  EXPECT_NEAR(st.profile3000Value[50], 49 * 0.0007, 1e-4);
  EXPECT_EQ(st.file3000Name, dir.file("00001.ip1"));
}

}  // namespace
}  // namespace svfit::scans
