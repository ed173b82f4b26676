// The run-option paths the end-to-end sessions do not take; the option menu,
// the display flags its letters set, its data-set editing and radial limits
// (bounds, refusals, the points each letter keeps, O giving back the series as
// loaded; where each letter leads: the sessions of app_test); and the reset
// and memory rules of the analysis state.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "console/crt.h"
#include "driver/flow.h"
#include "driver/menu.h"
#include "results/max_absorbance.h"
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

// Ten scans on the grid 6.00 + 0.02·(k − 1) cm up to 7.18 cm, scan j from
// grid point j on (61 − j points): a plateau of 0.5 + 0.01·j, rising by 0.3
// per point beyond 6.98 cm. Marks 6.0 and 7.18 cm, range 6.02 to 7.1 cm.
std::unique_ptr<AnalysisState> Loaded() {
  auto st = std::make_unique<AnalysisState>();
  st->scanCount = st->seqLast = 10;
  for (int j = 1; j <= 10; ++j) {
    st->scanSequence[j] = j;
    st->scanPointCount[j] = 61 - j;
    for (int i = 1, k = j; k <= 60; ++i, ++k) {
      st->scanRadius[j][i] = 6.0 + 0.02 * (k - 1);
      st->scanValue[j][i] = 0.5 + 0.01 * j + (k > 50 ? 0.3 * (k - 50) : 0.0);
    }
  }
  st->meniscusMarked = 6.0;
  st->bottomMarked = 7.18;
  st->startRadius = st->origStartRadius = 6.02;
  st->endRadius = st->nearBottomRadius = st->origEndRadius = 7.1;
  results::ApplyLoadingCut(*st);
  return st;
}

std::vector<int> Used(const AnalysisState& st) {
  return {st.scanSequence.begin() + st.seqFirst, st.scanSequence.begin() + st.seqLast + 1};
}

TEST(DataSetEditing, EveryLetterThenRestoreGivesBackTheLoadedSeriesValueByValue) {
  auto st = Loaded();
  const auto loaded = Loaded();
  // S: 11 (above seqLast) refused, 3. A: 2 (below seqFirst) refused, 2-8
  // clamped to 3..8. H: empty takes the 4 sets left, not scanCount. K 6.51
  // cm, M 6.09 cm, L 0.515 (above scan 1's plateau only), O with every point.
  console::StartTestConsole("11\r3\r2\r2-8\r\r6.51\r6.09\r0.515\rY");
  ChooseStartSet(*st);
  ASSERT_TRUE(OmitDataSets(*st));
  ChooseLastSet(*st);
  EXPECT_EQ(Used(*st), (std::vector<int>{9, 10}));
  EXPECT_EQ(st->scanSequence[5], 3);  // the omitted scans wait behind, in order
  NewNearBottomRadius(*st);
  EXPECT_EQ(st->scanLastPoint[2], 25);  // 6.50 cm
  NewStartRadius(*st);
  EXPECT_EQ(st->scanFirstPoint[2], 5);  // 6.10 cm
  ProposeMaxAbsorbance(*st);
  EXPECT_EQ(st->scanLastPoint[2], 5);   // every value above A_max: its first used point
  EXPECT_EQ(st->scanLastPoint[1], 26);  // 0.51 up to the radius
  RestoreDataSets(*st);
  EXPECT_EQ(Used(*st), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(st->omittedCount + st->maxAbsorbance, 0);
  for (int j = 1; j <= 10; ++j) {
    ASSERT_EQ(st->scanPointCount[j], loaded->scanPointCount[j]);
    EXPECT_EQ(st->scanFirstPoint[j], 1);
    EXPECT_EQ(st->scanLastPoint[j], st->scanPointCount[j]);
    for (int i = 1; i <= kMaxPoints; ++i) {
      ASSERT_EQ(st->scanRadius[j][i], loaded->scanRadius[j][i]) << j << " " << i;
      ASSERT_EQ(st->scanValue[j][i], loaded->scanValue[j][i]) << j << " " << i;
      ASSERT_EQ(st->pointMultiplicity[j][i], i <= st->scanPointCount[j]) << j << " " << i;
    }
  }
  EXPECT_EQ(st->pointScanCount[52], 9);  // scan 10 has 51 points
  EXPECT_EQ(st->nearBottomRadius, 7.18);
}

TEST(DataSetEditing, OrderOfNumbersAllSetsAndRadiiOutsideTheRange) {
  // "8 5 5" omits sets 5 and 8, whatever the order; every set is refused.
  // K not above the start radius and M not below the near-bottom radius are
  // refused; a scan that ends before the new start radius keeps its last point.
  auto st = Loaded();
  console::StartTestConsole("1-10\r8 5 5\r6.01\r7.12\r7.12\r6.305\r" + std::string("100\rN"));
  ASSERT_TRUE(OmitDataSets(*st));
  EXPECT_EQ(Used(*st), (std::vector<int>{1, 2, 3, 4, 6, 7, 9, 10}));
  NewNearBottomRadius(*st);
  st->scanLastPoint[3] = 10;  // ends at 6.22 cm
  NewStartRadius(*st);
  EXPECT_EQ(std::make_tuple(st->nearBottomRadius, st->startRadius), std::make_tuple(7.12, 6.305));
  EXPECT_EQ(st->scanFirstPoint[1], 17);  // 6.32 cm
  EXPECT_EQ(st->scanFirstPoint[3], 10);
  // K beyond the data takes the last radius the files hold; O keeping the
  // cuts (N) keeps their radii too, which the report names as the range.
  st->fileMaxRadius = 7.18;
  NewNearBottomRadius(*st);
  RestoreDataSets(*st);
  EXPECT_EQ(std::make_tuple(st->nearBottomRadius, st->startRadius), std::make_tuple(7.18, 6.305));
}

TEST(DataSetEditing, GraphChoiceOfSetsSpreadingAndItsLife) {
  auto st = Loaded();
  const DisplayFlags& d = st->display;
  const auto choice = [&d] {
    return std::make_tuple(d.plotFirst, d.plotLast, d.plotStep, d.spread);
  };
  // Last 6, start -2 (unspread), every 2nd; then a last set beyond the used
  // ones keeps 6, and a start beyond it is reduced to it (spread).
  console::StartTestConsole("6\r-2\r2\r11\r7\r\r\r");
  ChooseGraphSets(*st);
  EXPECT_EQ(choice(), std::make_tuple(2, 6, 2, false));
  ChooseGraphSets(*st);
  EXPECT_EQ(choice(), std::make_tuple(6, 6, 1, true));
  // Kept when a letter resets the display flags, dropped when the used sets change.
  st->display.resetFlags();
  EXPECT_EQ(choice(), std::make_tuple(6, 6, 1, false));
  ChooseStartSet(*st);
  EXPECT_EQ(choice(), std::make_tuple(1, 0, 1, false));
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
