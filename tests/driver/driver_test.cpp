// The run-option paths the end-to-end sessions do not take, the option menu
// and the display flags its letters set (where each letter leads is checked
// by the sessions of app_test), and the reset and memory rules of the
// analysis state.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "console/crt.h"
#include "driver/menu.h"
#include "state/state.h"

namespace svfit::driver {
namespace {

using console::StartTestConsole;
using console::TestTranscript;

TEST(RunOptions, AnswersSetTheStateAndDecideWhichQuestionsFollow) {
  const std::string gen = "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ";
  const std::string conc = "Calculate concentration from 3000 rpm file      (Y/N) :  ";
  const std::string load = "Load all files (S)imultaneously or (O)ne by one (S/O) :  ";
  const std::string outlier = "correct data outlies   (Yes=default)            (Y/N) :  ";
  const std::string bottom = "calculation of last bottom point                (Y/N) :  ";
  // With the 3000 rpm file there is no load-mode question.
  auto st = std::make_unique<AnalysisState>();
  StartTestConsole("nyynj");
  AskRunOptions(*st);
  EXPECT_EQ(TestTranscript(),
            gen + "N\nInterpolate missing data points                 (Y/N) :  Y\n" + conc + "Y\n" +
                outlier + "N\n" + bottom + "Y\n");
  EXPECT_TRUE(st->interpolate && st->use3000 && !st->loadOneByOne);
  EXPECT_EQ(st->outlierCorrection, 'N');
  EXPECT_EQ(st->lastBottomPoint, 'Y');
  EXPECT_EQ(st->valueLimit, 3.0);  // absorbance
  // After the 3000 rpm file the questions start again at the load mode.
  StartTestConsole("\rj");
  AskRunOptions(*st, 4);
  EXPECT_EQ(TestTranscript(), outlier + "Y\n" + bottom + "Y\n");
  EXPECT_EQ(st->fileGeneration, 'N');
  // A stands for O at both questions: old files, one by one.
  StartTestConsole("aa\rj");
  AskRunOptions(*st);
  EXPECT_EQ(TestTranscript(), gen + "O\n" + load + "O\n" + outlier + "Y\n" + bottom + "Y\n");
  EXPECT_TRUE(st->loadOneByOne && !st->use3000);
  // Interference: fringes, their file names, the contour decides on outliers.
  StartTestConsole("iyn\r");
  AskRunOptions(*st);
  EXPECT_EQ(st->dataKind, 'P');
  EXPECT_EQ(st->valueLimit, 15.0);
  EXPECT_EQ(st->fileMasks[1], ".ip");
  EXPECT_TRUE(st->contourSubtraction && !st->loadOneByOne);
}

TEST(OptionMenu, SedfitLineOnlyForModelsNMAndC) {
  for (char m : std::string("NMCHPSROD")) {
    AnalysisState st;
    st.modelLetter = m;
    StartTestConsole("x");
    EXPECT_EQ(ShowOptionMenu(st), 'X');
    const bool sedfit = m == 'N' || m == 'M' || m == 'C';
    EXPECT_EQ(console::ScreenRow(18).substr(0, 2), sedfit ? "U=" : "Z=") << m;
    EXPECT_TRUE(sedfit || RouteOption(st, 'U').step == Step::kMenu) << m;
  }
}

TEST(OptionRouting, DisplayLettersStartFromTheDefaultsButPAddsToTheCurrentFlags) {
  AnalysisState st;
  st.fitDone = true;
  st.modelLetter = 'R';
  StartTestConsole("");
  RouteOption(st, 'C');  // gradients only
  EXPECT_TRUE(st.display.gradient && !st.display.concentration);
  RouteOption(st, 'T');  // no residuals, the partial traces of model R
  EXPECT_TRUE(!st.display.residuals && !st.display.gradient && st.display.partialTraces);
  RouteOption(st, 'P');
  EXPECT_TRUE(st.display.slow && !st.display.residuals);
  RouteOption(st, 'V');
  EXPECT_TRUE(!st.display.dataPoints && !st.display.slow);
}

TEST(AnalysisStateReset, RestartClearsTheAnalysisButKeepsSetupAnswers) {
  AnalysisState st;
  st.psv[1] = 0.72;
  st.maxIterations = 50;
  st.modelLetter = 'N';
  st.param[1] = 0.8;
  st.componentCount = 2;
  st.riNoiseOn = st.tiNoiseOn = st.use3000 = st.fitDone = st.display.gradient = true;
  st.resetForAnalysis();
  EXPECT_EQ(st.param[1], 0.0);
  EXPECT_EQ(st.componentCount, 0);
  EXPECT_FALSE(st.riNoiseOn || st.tiNoiseOn || st.use3000 || st.fitDone || st.display.gradient);
  EXPECT_EQ(st.psv[1], 0.72);
  EXPECT_EQ(st.maxIterations, 50);
  EXPECT_EQ(st.modelLetter, 'N');
  // A new series forgets the old one's extent and marks.
  st.scanCount = 5;
  st.scanFirstPoint[700] = 40;
  st.meniscusMarked = 6.1;
  st.titleLines[0] = "x";
  st.resetSeries();
  EXPECT_EQ(st.scanCount, 0);
  EXPECT_EQ(st.scanFirstPoint[700], 1);
  EXPECT_EQ(st.meniscusMarked, 0.0);
  EXPECT_TRUE(st.titleLines[0].empty());
}

long ResidentKilobytes() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
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
