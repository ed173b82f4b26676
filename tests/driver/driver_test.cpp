// The driver through the test console. The run-option paths the end-to-end
// sessions do not take; the option menu, the display flags its letters set, its
// data-set editing and radial limits (bounds, refusals, the points each letter
// keeps, O giving back the series as loaded; where each letter leads: the
// sessions of app_test); the reset and memory rules of the analysis state. The
// fit set-up dialogue: scripted sessions from each entry point, checked by the
// state they leave; and the fit step on a series made with model C itself: the
// start values and fit time a continuation (F) keeps, the key that stops it,
// too few points.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "console/crt.h"
#include "console/graph.h"
#include "driver/flow.h"
#include "driver/menu.h"
#include "driver/setup.h"
#include "models/model_pass.h"
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

TEST(OptionMenu, SedfitLineOnlyForModelsNMAndCDisplayLettersResetTheFlagsButPAdds) {
  for (char m : std::string("NMCHPSROD")) {
    AnalysisState st;
    st.modelLetter = m;
    StartTestConsole("x");
    EXPECT_EQ(ShowOptionMenu(st), 'X');
    const bool sedfit = m == 'N' || m == 'M' || m == 'C';
    EXPECT_EQ(console::ScreenRow(18).substr(0, 2), sedfit ? "U=" : "Z=") << m;
    EXPECT_TRUE(sedfit || RouteOption(st, 'U').step == Step::kMenu) << m;
  }
  // The display letters start from the default flags, but P adds to the current ones.
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
  // "8 5 5" omits sets 5 and 8, whatever the order; every set, a range with
  // an end below 1 and a range with more numbers after it are refused.
  // K not above the start radius and M not below the near-bottom radius are
  // refused; a scan that ends before the new start radius keeps its last point.
  auto st = Loaded();
  console::StartTestConsole("1-10\r2--5\r4-6 9\r8 5 5\r6.01\r7.12\r7.12\r6.305\r" + std::string("100\rN"));
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

// ---- The fit set-up and the fit step ------------------------------------------------

const double kOmega2 = std::pow(M_PI * 50000.0 / 30.0, 2);  // ω² at 50000 rpm [rad²/s²]

// Three absorbance scans of 50 points from 6.00 cm, scan j starting
// 0.01·(j − 1) cm further out, 1000 s apart; values 0.1·j + 0.001·i.
std::unique_ptr<AnalysisState> LoadedState(char model = 'Z', int components = 0) {
  auto st = std::make_unique<AnalysisState>();
  AnalysisState& s = *st;
  s.dataKind = 'R';
  s.scanCount = s.seqLast = 3;
  for (int j = 1; j <= 3; ++j) {
    s.scanSequence[j] = j;
    s.scanPointCount[j] = s.scanLastPoint[j] = 50;
    s.scanRunTime[j] = 1000.0 * j;
    for (int i = 1; i <= 50; ++i) {
      s.scanRadius[j][i] = 6.0 + 0.01 * (j - 1) + 0.01 * (i - 1);
      s.scanValue[j][i] = 0.1 * j + 0.001 * i;
    }
  }
  s.omega2First = kOmega2;
  s.temperature = 20.0;
  s.viscosity = 1.002;
  s.slitTimePerCm = 60;  // 0.1667 mm/s
  s.nearBottomRadius = 6.5;
  s.meniscusMarked = 5.95;
  s.timeOffset = 42;
  s.modelLetter = s.prevModelLetter = model;
  s.componentCount = components;
  s.paramCount = components == 1 ? 5 : 0;
  return st;
}

// Stands in for the start-value estimator (plateau 0.9, 4 S, meniscus 5.96,
// D 6e-7) and, with `pick`, for the viewer's component marks.
SetupServices Estimator(int* calls = nullptr, std::function<void(AnalysisState&)> pick = {}) {
  return {[calls](AnalysisState& st, int dIndex) {
            st.param = {0, 0.9, 4.0e-13 * st.omega2First, 0, 5.96};
            st.param[dIndex] = 6.0e-7;
            if (calls != nullptr) ++*calls;
          },
          std::move(pick)};
}

bool Shown(const std::string& text) { return TestTranscript().find(text) != std::string::npos; }

TEST(SetupDialog, WholeDialogueWithNewStartValuesAndFixedParameters) {
  auto st = LoadedState();
  int estimates = 0;
  StartTestConsole(std::string("\r")  // no new common end radius
                   + "1e-9\r0.5\r"    // slit speed 1e-9 mm/s refused, 0.5 mm/s: 20 s/cm
                   + "\r" + "3\r"     // 200 iterations, damping 3
                   + "0.74\r\r0\r1.1\r"  // psv, density kept, viscosity (0 refused)
                   + "\rJ"            // RI noise: Enter refused, J is yes
                   + "xc"             // model: x refused, C
                   + "2\r2-4\r"       // fix parameters 2 and 4 ("2-4" is not a range here)
                   + "4.5\r\r");      // s = 4.5 S; the meniscus from the viewer
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kStart, Estimator(&estimates)));
  // Scan 3 starts 0.02 cm further out than scan 1: measured 0.4 s later.
  EXPECT_DOUBLE_EQ(st->scanTime[1], 1000.0);
  EXPECT_DOUBLE_EQ(st->scanTime[3], 3000.0 + 0.02 * 20.0);
  EXPECT_EQ(st->dampQ, 3.0);  // new start values: the damping answer
  EXPECT_DOUBLE_EQ(st->psvRho[1], 0.74);
  EXPECT_EQ(st->psv[3], 0.74);  // components left at the solution's volume follow it
  EXPECT_DOUBLE_EQ(st->rho, 1.0);
  EXPECT_DOUBLE_EQ(st->viscosity, 1.1);
  EXPECT_TRUE(st->riNoiseOn && !st->tiNoiseOn);
  EXPECT_EQ(st->modelLetter, 'C');
  EXPECT_EQ(st->paramCount, 5);
  EXPECT_EQ(estimates, 1);
  EXPECT_NEAR(st->param[2], 4.5e-13 * kOmega2, 1e-25);
  EXPECT_DOUBLE_EQ(st->param[4], 5.95);
  // 2 and 4 fixed, the base line gives way to the RI noise.
  ASSERT_EQ(st->freeCount, 2);
  EXPECT_EQ(st->freeIndex[1], 1);
  EXPECT_EQ(st->freeIndex[2], 5);
  EXPECT_EQ(st->pointTotal, 150);
  EXPECT_TRUE(Shown("(RI) noise          (Y/N) :  \nEliminate radial independent (RI) noise"));
  EXPECT_TRUE(Shown("  4.0000E+00 : 4.5\n"));  // the estimate offered in Svedberg units
  // After the fit: density 1.2 with psv 0.9 would float, and the console says so.
  StartTestConsole("1.2\r\r0.9\r");
  st->componentCount = 1;
  AskPostFitConstants(*st);
  EXPECT_TRUE(Shown("note: psv*rho of component 1 is 1.080, not below 1: it would float"));
}

// Interference data with TI noise, model N with components marked at keys 1
// and 3; D-or-M values 2e-5 (a diffusion coefficient) and 2.1e-5 (a molar mass).
TEST(SetupDialog, TwoComponentsFromStoredMarksWithNoiseAndAMolarMass) {
  auto st = LoadedState('C');
  st->dataKind = 'P';
  st->markedCount = 2;
  st->markedS = {0, 4.0, 0, 9.0, 0};
  st->markedAmp = {0, 0.3, 0, 0.1, 0};
  StartTestConsole(std::string("yj") + "n" + "\r0.75\r" + "2\r7 10\r" + "2e-5\r2.1e-5\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator()));
  EXPECT_TRUE(st->riNoiseOn && st->tiNoiseOn);
  EXPECT_EQ(st->paramCount, 10);
  EXPECT_DOUBLE_EQ(st->psvRho[2], 0.75);
  // The plateau shared by the marked amplitudes; s from the marks.
  EXPECT_DOUBLE_EQ(st->param[1], 0.9 * 0.75);
  EXPECT_DOUBLE_EQ(st->param[8], 0.9 * 0.25);
  EXPECT_DOUBLE_EQ(st->param[9], 9.0e-13 * kOmega2);
  // Neither the base line (noise) nor the rotation parameter (TI) is estimated.
  EXPECT_EQ(std::vector<int>(&st->freeIndex[1], &st->freeIndex[1] + st->freeCount),
            (std::vector<int>{1, 2, 4, 5, 8, 9}));
  EXPECT_FALSE(st->molMassGiven[1]);
  EXPECT_TRUE(st->molMassGiven[2]);
  EXPECT_NEAR(st->dPerS[2] * kOmega2 * 0.25 * 2.1e-5 / (293.15 * 8.316e7), 1.0, 1e-12);
  // Had a fit ended with D = 2.1e-5 cm²/s there (salts), going on from that
  // value keeps it a D.
  st->fittedDiffusion[2] = 2.1e-5;
  StartTestConsole("0\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kParameters, Estimator()));
  EXPECT_FALSE(st->molMassGiven[2]);
  // Without a positive plateau each component starts at its own mark's height.
  st->param[1] = 0;
  SetComponentStartValues(*st);
  EXPECT_DOUBLE_EQ(st->param[1], 0.3);
  EXPECT_DOUBLE_EQ(st->param[8], 0.1);
  // Faxen models keep P[6] (component 2's absorbance) under TI noise.
  st->modelLetter = 'C';
  st->paramCount = 8;
  BuildEstimatedList(*st, {});
  EXPECT_EQ(st->freeCount, 7);
}

// The viewer's marks come right after the letter of a model with several
// components and give the component count; the last estimates are not
// offered for another count.
TEST(SetupDialog, ViewerMarksGiveTheComponentCount) {
  auto st = LoadedState('C', 1);
  int picks = 0;
  const auto pick = [&picks](AnalysisState& s) {
    ++picks;
    s.markedS = {0, 4.0, 7.0, 0, 0};
    s.markedAmp = {0, 0.3, 0.6, 0, 0};
    s.markedCount = 2;
  };
  StartTestConsole(std::string("N") + "c" + "\r\r" + "0\r");  // no question E/N
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator(nullptr, pick)));
  EXPECT_EQ(st->paramCount, 8);
  EXPECT_DOUBLE_EQ(st->param[6], 0.9 * 0.6 / 0.9);
  EXPECT_NEAR(st->param[7], 7.0e-13 * kOmega2, 1e-25);
  EXPECT_FALSE(Shown("(E)stimated parameters"));
  // Model H never opens the viewer; it asks about the diffusion time.
  StartTestConsole(std::string("N") + "h" + "y" + "0\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator(nullptr, pick)));
  EXPECT_EQ(picks, 1);
  EXPECT_EQ(st->paramCount, 5);
  EXPECT_EQ(st->diffTimeOffset, 42.0);
  // N and F share their parameters: after N with two components, F offers
  // N's estimates, and E keeps them with the damping at most 1.
  st->modelLetter = st->prevModelLetter = 'N';
  st->componentCount = 2;
  st->param = {0, 0.7, 4.4e-13 * kOmega2, 0, 5.95, 7.2, 0, 6e-7, 0.2, 7e-13 * kOmega2, 4e-7};
  const PerParam<double> fromN = st->param;
  StartTestConsole(std::string("N") + "f" + "\r\r" + "E" + "0\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator(nullptr, pick)));
  EXPECT_TRUE(Shown("(E)stimated parameters as start values or (N)ew ones  (E/N) : E"));
  EXPECT_EQ(st->modelLetter, 'F');
  EXPECT_EQ(st->param, fromN);
  EXPECT_EQ(st->dampQ, 1.0);
}

TEST(SetupDialog, FixedNumbersOutOfRangeAskAgainAndTooFewPointsRepeatTheScreen) {
  auto st = LoadedState('C', 1);
  st->param = {0, 0.5, 1e-5, 0.01, 6.0, 6e-7};
  // 7 of 5 refused in place; parameter 9 asks both questions again.
  StartTestConsole("7\r1\r9\r1\r3\r-0.02\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kParameters, Estimator()));
  EXPECT_EQ(st->param[3], -0.02);
  ASSERT_EQ(st->freeCount, 4);
  EXPECT_EQ(st->freeIndex[3], 4);
  const std::string count = "how many parameters shall not to be estimate         :  ";
  EXPECT_TRUE(Shown(count + "7\n" + count + "1\n"));
  // Five points for five free parameters: no degree of freedom left.
  st->seqLast = 1;
  st->scanLastPoint[1] = 5;
  StartTestConsole("0\r1\r3\r\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kParameters, Estimator()));
  EXPECT_EQ(st->freeCount, 4);
  EXPECT_TRUE(Shown("only 5 data points for 5 parameters to estimate: fix more parameters\n"));
}

TEST(SetupDialog, CommonEndRadiusAndZeroIterations) {
  auto st = LoadedState('C');
  StartTestConsole("Y6.3\rn\r0\r");  // end radius 6.3, slit speed kept (N), 0 iterations
  EXPECT_FALSE(SetupDialog(*st, SetupEntry::kStart, Estimator()));
  EXPECT_EQ(st->prevModelLetter, 'Z');  // new start values after a new end radius
  EXPECT_EQ(st->scanLastPoint[1], 31);  // 6.30 cm
  EXPECT_EQ(st->scanLastPoint[3], 29);  // 6.30 cm of a scan from 6.02
  EXPECT_DOUBLE_EQ(st->slitTimePerCm, 60.0);
  // The plots take the range of the used values.
  EXPECT_DOUBLE_EQ(st->minValue, 0.101);
  EXPECT_DOUBLE_EQ(st->maxValue, 0.329);
  // K and M resume at the noise prompts: without iterations nothing is asked.
  StartTestConsole("");
  EXPECT_FALSE(SetupDialog(*st, SetupEntry::kNoise, Estimator()));
}

// After the fit: with a component's D tied to a molar mass neither density
// nor viscosity is asked, nor that component's partial specific volume.
TEST(PostFitConstants, OnlyForComponentsFittedWithD) {
  auto st = LoadedState('N');
  st->paramCount = 10;
  st->molMassGiven[2] = true;
  StartTestConsole("0.72\r");
  AskPostFitConstants(*st);
  EXPECT_DOUBLE_EQ(st->psvRho[1], 0.72);
  EXPECT_EQ(TestTranscript(),
            "1. partial specific volume        (standard)          0.736000  :  0.72\n");
}

// Model C, one component: 0.8 OD, 4.4 S, base line 0.01 OD, meniscus 6.05 cm,
// D = 6e-7 cm²/s; six scans of 160 points from 6.0 cm, 1200 s apart, with a
// deterministic scatter of ±0.002 OD. Nothing fixed, no graphics surface; the
// fit starts from 0.7 OD, 3.5 S, no base line, 6.0 cm and 9e-7 cm²/s.
std::unique_ptr<AnalysisState> ModelCSeries() {
  console::CloseGraphics();
  console::StartTestConsole("");
  auto st = std::make_unique<AnalysisState>();
  AnalysisState& s = *st;
  s.modelLetter = s.prevModelLetter = 'C';
  s.paramCount = s.dParamIndex = 5;
  s.componentCount = 1;
  s.temperature = 20.0;
  s.viscosity = 1.002;
  s.omega2First = kOmega2;
  s.param = {0, 0.8, 4.4e-13 * kOmega2, 0.01, 6.05, 6e-7};
  s.scanCount = s.seqLast = 6;
  for (int k = 1; k <= 6; ++k) {
    s.scanSequence[k] = k;
    s.scanOmega2[k] = 1.0;
    s.scanRunTime[k] = s.scanTime[k] = 1200.0 * k;
    s.scanPointCount[k] = s.scanLastPoint[k] = 160;
    for (int i = 1; i <= 160; ++i) {
      s.scanRadius[k][i] = 6.0 + 0.005 * (i - 1);
      s.scanValue[k][i] =
          models::ValueAt(s, k, s.scanRadius[k][i]) + 0.002 * std::sin(37.0 * i + k);
    }
  }
  s.dampQ = 5;
  BuildEstimatedList(s, {});
  s.param = {0, 0.7, 3.5e-13 * kOmega2, 0.0, 6.0, 9e-7};
  return st;
}

// Key I stops the fit after the current iteration; F goes on with the same
// fit to the model's values, keeping its start values and adding its time.
TEST(FitStep, StoppedByKeyIThenContinuedByF) {
  auto st = ModelCSeries();
  const PerParam<double> start = st->param;
  // One key is read per iteration. PageUp arrives as 0 and scan code 73, the
  // code of "I", and must not stop the fit.
  console::PostKey('x');
  console::PostExtendedKey(console::kScanPageUp);
  console::PostKey('i');
  ASSERT_TRUE(RunFit(*st));
  EXPECT_EQ(st->iterCount, 3);
  EXPECT_EQ(st->fitOutcome, FitOutcome::kStopped);
  EXPECT_EQ(st->startValue, start);
  const double seconds = st->fitSeconds;
  EXPECT_GT(seconds, 0);
  st->postFitOption = 'F';
  ASSERT_TRUE(RunFit(*st));
  EXPECT_NEAR(st->param[2] / (4.4e-13 * kOmega2), 1.0, 3e-3);
  EXPECT_NEAR(st->param[5] / 6e-7, 1.0, 0.05);
  EXPECT_EQ(st->fitOutcome, FitOutcome::kFitted);
  EXPECT_EQ(st->startValue, start);
  EXPECT_GT(st->fitSeconds, seconds);
  // Five points left for five free parameters (data sets omitted since):
  // no degree of freedom, no fit.
  const PerParam<double> fitted = st->param;
  st->seqLast = 1;
  st->scanLastPoint[1] = 5;
  console::StartTestConsole("");
  EXPECT_FALSE(RunFit(*st));
  EXPECT_EQ(console::TestTranscript(), "only 5 data points for 5 parameters to estimate: no fit\n");
  EXPECT_EQ(st->param, fitted);
}

}  // namespace
}  // namespace svfit::driver
