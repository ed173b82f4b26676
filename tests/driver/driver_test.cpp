// The run-option dialogue, the option menu and its routing, and the reset
// rules of the analysis state, against the test console.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "console/crt.h"
#include "driver/menu.h"
#include "driver/state.h"

namespace svfit::driver {
namespace {

using console::ScreenAttribute;
using console::ScreenRow;
using console::StartTestConsole;
using console::TestTranscript;

const std::string kGen = "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ";
const std::string kInterp = "Interpolate missing data points                 (Y/N) :  ";
const std::string kConc3000 = "Calculate concentration from 3000 rpm file      (Y/N) :  ";
const std::string kContour = "Subtraction of the whole 3000 rpm contour       (Y/N) :  ";
const std::string kLoad = "Load all files (S)imultaneously or (O)ne by one (S/O) :  ";
const std::string kOutlier = "correct data outlies   (Yes=default)            (Y/N) :  ";
const std::string kBottom = "calculation of last bottom point                (Y/N) :  ";

std::unique_ptr<AnalysisState> Options(const std::string& keys) {
  auto st = std::make_unique<AnalysisState>();
  StartTestConsole(keys);
  AskRunOptions(*st);
  return st;
}

TEST(RunOptions, NewFilesWithEnterEverywhereButTheLoadMode) {
  auto st = Options("\r\r\r\rs\r\r");
  EXPECT_EQ(TestTranscript(), kGen + "N\n" + kInterp + "N\n" + kConc3000 + "N\n" + kLoad + "\n" +
                                  kLoad + "S\n" + kOutlier + "Y\n" + kBottom + "N\n");
  EXPECT_EQ(st->fileGeneration, 'N');
  EXPECT_EQ(st->dataKind, 'R');
  EXPECT_EQ(st->dataKindText, " (absorption)");
  EXPECT_EQ(st->valueLimit, 3.0);
  EXPECT_EQ(st->fileMasks[0], "r??");
  EXPECT_EQ(st->fileMasks[1], ".r?");
  EXPECT_FALSE(st->interpolate);
  EXPECT_FALSE(st->use3000);
  EXPECT_FALSE(st->loadOneByOne);
  EXPECT_EQ(st->outlierCorrection, 'Y');
  EXPECT_EQ(st->lastBottomPoint, 'N');
}

TEST(RunOptions, NewFilesWith3000RpmSkipTheLoadMode) {
  auto st = Options("nyynj");
  EXPECT_EQ(TestTranscript(),
            kGen + "N\n" + kInterp + "Y\n" + kConc3000 + "Y\n" + kOutlier + "N\n" + kBottom + "Y\n");
  EXPECT_TRUE(st->interpolate);
  EXPECT_TRUE(st->use3000);
  EXPECT_FALSE(st->loadOneByOne);
  EXPECT_EQ(st->outlierCorrection, 'N');
  EXPECT_EQ(st->lastBottomPoint, 'Y');
}

TEST(RunOptions, KeyAMeansOldFilesAndOneByOne) {
  auto st = Options("aa\rj");
  EXPECT_EQ(TestTranscript(), kGen + "O\n" + kLoad + "O\n" + kOutlier + "Y\n" + kBottom + "Y\n");
  EXPECT_EQ(st->fileGeneration, 'O');
  EXPECT_EQ(st->dataKind, 'R');
  EXPECT_FALSE(st->use3000);
  EXPECT_TRUE(st->loadOneByOne);
}

TEST(RunOptions, InterferenceAsksOutliersOnlyWithTheContour) {
  auto st = Options("iyn\r");
  EXPECT_EQ(TestTranscript(), kGen + "I\n" + kContour + "Y\n" + kOutlier + "N\n" + kBottom + "N\n");
  EXPECT_EQ(st->dataKind, 'P');
  EXPECT_EQ(st->dataKindText, "(interference)");
  EXPECT_EQ(st->valueLimit, 15.0);
  EXPECT_EQ(st->fileMasks[0], "i??");
  EXPECT_EQ(st->fileMasks[1], ".ip");
  EXPECT_TRUE(st->contourSubtraction);
  EXPECT_FALSE(st->loadOneByOne);

  st = Options("i\ry");
  EXPECT_EQ(TestTranscript(), kGen + "I\n" + kContour + "N\n" + kBottom + "Y\n");
  EXPECT_EQ(st->outlierCorrection, 'N');
  EXPECT_FALSE(st->contourSubtraction);
}

TEST(RunOptions, RestartFromTheLoadModeKeepsTheEarlierAnswers) {
  auto st = Options("n\ry\rn");
  StartTestConsole("\rj");
  AskRunOptions(*st, 4);
  EXPECT_EQ(TestTranscript(), kOutlier + "Y\n" + kBottom + "Y\n");  // 3000 rpm on: no load mode
  EXPECT_TRUE(st->use3000);
  EXPECT_EQ(st->fileGeneration, 'N');
}

// ---- Option menu --------------------------------------------------------------------

TEST(OptionMenu, ScreenLinesAndColours) {
  AnalysisState st;
  st.modelLetter = 'C';
  StartTestConsole("e");
  EXPECT_EQ(ShowOptionMenu(st), 'E');
  EXPECT_EQ(ScreenRow(1).substr(0, 48), "R=Repeats the fit results and graphic once more ");
  EXPECT_EQ(ScreenAttribute(1, 1), 15);
  EXPECT_EQ(ScreenAttribute(1, 4), 14);   // A
  EXPECT_EQ(ScreenAttribute(1, 8), 15);   // K
  EXPECT_EQ(ScreenAttribute(1, 11), 13);  // C
  EXPECT_EQ(ScreenRow(18).substr(0, 10), "U=Produces");
  EXPECT_EQ(ScreenAttribute(1, 18), 15);
  EXPECT_EQ(ScreenAttribute(1, 22), 13);  // D
  EXPECT_EQ(ScreenRow(24).substr(0, 17), " Your option ?  E");
  EXPECT_EQ(ScreenAttribute(2, 24), 14);
  EXPECT_EQ(console::TextAttribute(), 15);
}

TEST(OptionMenu, SedfitLineOnlyForModelsNMandC) {
  for (char m : std::string("HPSROD")) {
    AnalysisState st;
    st.modelLetter = m;
    StartTestConsole("x");
    ShowOptionMenu(st);
    EXPECT_EQ(ScreenRow(18).substr(0, 2), "Z=") << m;
    EXPECT_EQ(RouteOption(st, 'U').step, Step::kMenu) << m;
  }
}

TEST(OptionRouting, WithoutAFitCGFandLOnlyShowTheMenuAndROnlyDraws) {
  AnalysisState st;  // no fit made
  StartTestConsole("");
  for (char c : std::string("CGFL")) EXPECT_EQ(RouteOption(st, c).step, Step::kMenu) << c;
  EXPECT_EQ(RouteOption(st, 'R').step, Step::kGraph);
  st.maxIterations = 0;
  st.fitDone = true;
  EXPECT_FALSE(FitMade(st));
}

TEST(OptionRouting, WhereEachLetterContinues) {
  AnalysisState st;
  st.fitDone = true;
  st.dampFinal = 3.5;
  st.modelLetter = 'N';
  StartTestConsole("");
  EXPECT_EQ(RouteOption(st, 'R').step, Step::kResults);
  Route r = RouteOption(st, 'W');
  EXPECT_EQ(r.step, Step::kSetup);
  EXPECT_EQ(r.entry, SetupEntry::kIterations);
  EXPECT_EQ(RouteOption(st, 'F').step, Step::kFit);
  EXPECT_EQ(st.dampQ, 1.0);  // continuing: at most 1
  EXPECT_EQ(st.postFitOption, 'F');
  for (char c : std::string("SH")) {
    r = RouteOption(st, c);
    EXPECT_EQ(r.step, Step::kSetup) << c;
    EXPECT_EQ(r.entry, SetupEntry::kScanSpeed) << c;
  }
  for (char c : std::string("KM")) {
    r = RouteOption(st, c);
    EXPECT_EQ(r.entry, SetupEntry::kNoise) << c;
  }
  EXPECT_EQ(RouteOption(st, 'L').entry, SetupEntry::kParameters);
  for (char c : std::string("CGVTPB")) EXPECT_EQ(RouteOption(st, c).step, Step::kGraph) << c;
  for (char c : std::string("OXUZD?")) EXPECT_EQ(RouteOption(st, c).step, Step::kMenu) << c;
}

TEST(OptionRouting, DisplayLettersSetTheirFlags) {
  AnalysisState st;
  st.fitDone = true;
  st.modelLetter = 'R';
  StartTestConsole("");
  RouteOption(st, 'C');
  EXPECT_TRUE(st.display.gradient);
  EXPECT_FALSE(st.display.concentration);
  RouteOption(st, 'G');  // starts again from the defaults
  EXPECT_TRUE(st.display.gradient);
  EXPECT_TRUE(st.display.concentration);
  RouteOption(st, 'T');
  EXPECT_FALSE(st.display.residuals);
  EXPECT_FALSE(st.display.gradient);
  EXPECT_TRUE(st.display.partialTraces);
  RouteOption(st, 'P');  // on top of T
  EXPECT_TRUE(st.display.slow);
  EXPECT_FALSE(st.display.residuals);
  RouteOption(st, 'V');
  EXPECT_FALSE(st.display.dataPoints);
  EXPECT_FALSE(st.display.slow);
}

TEST(OptionRouting, NewLoadingAndFinishNeedF) {
  AnalysisState st;
  StartTestConsole("xFnf");
  EXPECT_EQ(RouteOption(st, 'N').step, Step::kMenu);
  EXPECT_EQ(RouteOption(st, 'N').step, Step::kRunOptions);
  EXPECT_EQ(RouteOption(st, 'E').step, Step::kMenu);
  EXPECT_EQ(RouteOption(st, 'E').step, Step::kEnd);
  EXPECT_NE(TestTranscript().find("Really new (F)ile loading  (F/N) N\n"), std::string::npos);
  EXPECT_NE(TestTranscript().find("Really (F)inish  (F/N) F\n"), std::string::npos);
}

TEST(Driver, ZAtTheDevicePromptEndsTheProgram) {
  AnalysisState st;
  StartTestConsole("\r\r\rs\r\rz\r");
  try {
    RunDriver(st);
    ADD_FAILURE() << "the driver returned";
  } catch (const console::ConsoleExited& e) {
    EXPECT_EQ(e.code, 0);
  }
}

TEST(Driver, RealSeriesToTheMenuRestartAndFinish) {
  const std::string dir = SVFIT_SOURCE_DIR "/../shared/data/real/mullins-spindata-ra2";
  if (access(dir.c_str(), R_OK) != 0) GTEST_SKIP() << "real scan files missing: " << dir;
  AnalysisState st;
  st.param[3] = 1.5;
  st.componentCount = 2;
  // Load the series (cell 2, defaults), no distribution, set-up with the
  // default end radius and slit speed and 0 iterations; N confirmed at the
  // menu restarts; the second time E is refused once, then confirmed.
  const std::string load = "\r\r\rs\r\r" + dir + "\r2\r\r\r\rE" + "n" + "\r\r0\r";
  StartTestConsole(load + "nf" + load + "ex" + "ef");
  RunDriver(st);
  const std::string t = TestTranscript();
  EXPECT_EQ(st.param[3], 0.0);  // the restart cleared the parameters
  EXPECT_EQ(st.componentCount, 0);
  EXPECT_GT(st.scanCount, 10);
  EXPECT_EQ(st.seqFirst, 1);
  EXPECT_GT(st.graphMode, 0);
  EXPECT_EQ(st.maxIterations, 0);  // no fit: C, G, F and L only show the menu
  std::size_t menus = 0;
  for (std::size_t p = t.find(" Your option ?  "); p != std::string::npos;
       p = t.find(" Your option ?  ", p + 1))
    ++menus;
  EXPECT_EQ(menus, 3u);
  EXPECT_NE(t.find("load data files in ascent sequence  !\n"), std::string::npos);
}

// ---- Analysis state --------------------------------------------------------------

TEST(AnalysisStateReset, RestartClearsTheAnalysisButKeepsSetupDefaults) {
  AnalysisState st;
  EXPECT_DOUBLE_EQ(st.psv[1], 0.736);
  EXPECT_DOUBLE_EQ(st.psv[4], 0.736);
  EXPECT_DOUBLE_EQ(st.psvRho[2], 0.736);
  st.psv[1] = 0.72;
  st.rho = 1.01;
  st.maxIterations = 50;
  st.modelLetter = 'N';
  st.param[1] = 0.8;
  st.componentCount = 2;
  st.radialStep = 0.001;
  st.concDivisor = 2;
  st.concentration = 1.3;
  st.riNoiseOn = st.tiNoiseOn = st.use3000 = true;
  st.display.gradient = true;
  st.resetForAnalysis();
  EXPECT_EQ(st.param[1], 0.0);
  EXPECT_EQ(st.componentCount, 0);
  EXPECT_DOUBLE_EQ(st.radialStep, 0.00072625799);
  EXPECT_EQ(st.concDivisor, 1.0);
  EXPECT_EQ(st.concentration, -1.0);
  EXPECT_FALSE(st.riNoiseOn || st.tiNoiseOn || st.use3000 || st.display.gradient);
  EXPECT_DOUBLE_EQ(st.psv[1], 0.72);
  EXPECT_DOUBLE_EQ(st.rho, 1.01);
  EXPECT_EQ(st.maxIterations, 50);
  EXPECT_EQ(st.modelLetter, 'N');

  st.scanCount = 5;
  st.seqFirst = 3;
  st.scanFirstPoint[700] = 40;
  st.startRadius = 6.1;
  st.titleLines[0] = "x";
  st.resetSeries();
  EXPECT_EQ(st.scanCount, 0);
  EXPECT_EQ(st.seqFirst, 1);
  EXPECT_EQ(st.scanFirstPoint[700], 1);
  EXPECT_EQ(st.startRadius, 0.0);
  EXPECT_TRUE(st.titleLines[0].empty());
}

long ResidentKilobytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST(AnalysisStateMemory, IdleStateStaysSmallAndRowsBecomeResidentWhenWritten) {
  const long before = ResidentKilobytes();
  if (before < 0) GTEST_SKIP() << "no /proc/self/status";
  auto st = std::make_unique<AnalysisState>();
  const long idle = ResidentKilobytes();
  EXPECT_LT(idle, 100 * 1024) << "resident memory of the idle program";
  EXPECT_LT(idle - before, 8 * 1024) << "the matrices must stay untouched zero pages";
  // A full series of 700 x 2800 radii becomes resident (about 15 MB).
  for (int s = 1; s <= kMaxScans; ++s)
    for (int i = 1; i <= kMaxPoints; ++i) st->scanRadius[s][i] = 6.0 + i * 1e-4;
  EXPECT_GT(ResidentKilobytes() - idle, 14 * 1024);
  EXPECT_EQ(st->scanValue[700][2800], 0.0);
  EXPECT_EQ(st->paramDerivBlock(16)[700][2800], 0.0);
}

}  // namespace
}  // namespace svfit::driver
