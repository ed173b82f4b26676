// The fit set-up dialogue, driven through the test console: scripted
// sessions from each entry point, checked by the state they leave.
#include "driver/setup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "console/crt.h"
#include "console/format.h"
#include "models/catalogue.h"

namespace svfit::driver {
namespace {

using console::StartTestConsole;
using console::TestTranscript;

constexpr double kPi = 3.141592653589793;
const double kOmega2 = std::pow(kPi * 50000.0 / 30.0, 2);  // ω² at 50000 rpm [rad²/s²]

// Three absorbance scans of 50 points from 6.00 to 6.49 cm, each starting
// 0.01 cm further out, with known run times.
std::unique_ptr<AnalysisState> LoadedState() {
  auto st = std::make_unique<AnalysisState>();
  AnalysisState& s = *st;
  s.dataKind = 'R';
  s.cellNumber = 2;
  s.scanCount = 3;
  s.seqFirst = 1;
  s.seqLast = 3;
  for (int j = 1; j <= 3; ++j) {
    s.scanSequence[j] = j;
    s.scanPointCount[j] = 50;
    s.scanFirstPoint[j] = 1;
    s.scanLastPoint[j] = 50;
    s.scanRunTime[j] = 1000.0 * j;
    for (int i = 1; i <= 50; ++i) {
      s.scanRadius[j][i] = 6.0 + 0.01 * (j - 1) + 0.01 * (i - 1);
      s.scanValue[j][i] = 0.1 * j + 0.001 * i;
    }
  }
  s.omega2First = kOmega2;
  s.temperature = 20.0;
  s.viscosity = 1.002;
  s.slitTimePerCm = 60;  // 120 / radial step 2
  s.nearBottomRadius = 6.5;
  s.meniscusMarked = 5.95;
  s.bottomMarked = 7.2;
  s.timeOffset = 42;
  return st;
}

// A stand-in for the start-value estimator: fixed plateau, s, base line,
// meniscus, and D at the index it is given; `pick` stands in for the viewer's
// component marks (none: the marks in the state are used).
SetupServices Estimator(int* calls = nullptr,
                        std::function<void(AnalysisState&)> pick = nullptr) {
  return {[calls](AnalysisState& st, int dIndex) {
    st.param[1] = 0.9;
    st.param[2] = 4.0e-13 * st.omega2First;
    st.param[3] = 0.0;
    st.param[4] = 5.96;
    st.param[5] = 0.0;
    st.param[6] = 0.0;
    st.param[dIndex] = 6.0e-7;
    if (calls != nullptr) ++*calls;
  }, std::move(pick)};
}

::testing::AssertionResult Shown(const std::string& text) {
  if (TestTranscript().find(text) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "not on the console: " << text << "\n"
                                       << TestTranscript();
}
TEST(SetupDialog, WholeDialogueWithNewStartValuesAndFixedSvedbergValue) {
  auto st = LoadedState();
  int estimates = 0;
  StartTestConsole(std::string("\r")  // no new common end radius
                   + "0.5\r"          // slit speed 0.5 mm/s: 20 s/cm
                   + "\r"             // 200 iterations
                   + "3\r"            // damping 3
                   + "0.74\r\r1.1\r"  // psv, density kept, viscosity
                   + "\rJ"            // RI noise: Enter refused, J is yes
                   + "xc"             // model: x refused, C
                   + "2\r2-4\r"       // fix parameters 2 and 4
                   + "4.5\r\r");      // s = 4.5 S, meniscus offered from the viewer
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kStart, Estimator(&estimates)));

  EXPECT_DOUBLE_EQ(st->slitTimePerCm, 20.0);
  // Each scan starts 0.01 cm further out than scan 1: 0.2 s later per step.
  EXPECT_DOUBLE_EQ(st->scanTime[1], 1000.0);
  EXPECT_DOUBLE_EQ(st->scanTime[3], 3000.0 + 0.02 * 20.0);
  EXPECT_EQ(st->maxIterations, 200);
  EXPECT_EQ(st->dampStart, 3.0);
  EXPECT_EQ(st->dampQ, 3.0);  // new start values: the damping answer
  EXPECT_DOUBLE_EQ(st->psv[1], 0.74);
  EXPECT_DOUBLE_EQ(st->psvRho[1], 0.74);
  EXPECT_DOUBLE_EQ(st->rho, 1.0);
  EXPECT_DOUBLE_EQ(st->viscosity, 1.1);
  EXPECT_TRUE(st->riNoiseOn);
  EXPECT_FALSE(st->tiNoiseOn);
  EXPECT_EQ(st->modelLetter, 'C');
  EXPECT_EQ(st->prevModelLetter, 'C');
  EXPECT_EQ(st->componentCount, 1);
  EXPECT_EQ(st->paramCount, 5);
  EXPECT_EQ(st->dParamIndex, 5);
  EXPECT_EQ(estimates, 1);
  EXPECT_NEAR(st->param[2], 4.5e-13 * kOmega2, 1e-25);
  EXPECT_DOUBLE_EQ(st->param[4], 5.95);
  // Fixed 2 and 4; the base line gives way to the RI noise.
  ASSERT_EQ(st->freeCount, 2);
  EXPECT_EQ(st->freeIndex[1], 1);
  EXPECT_EQ(st->freeIndex[2], 5);
  EXPECT_FALSE(st->molMassGiven[1]);
  EXPECT_EQ(st->pointTotal, 150);

  EXPECT_TRUE(Shown("max. number of iterations  (200=default)               :  200\n"));
  EXPECT_TRUE(Shown("Eliminate radial independent (RI) noise          (Y/N) :  \n"
                    "Eliminate radial independent (RI) noise          (Y/N) :  Y\n"));
  // Fixed values with their names; s in Svedberg units.
  EXPECT_TRUE(Shown(models::parameterName(models::Layout::Faxen, 2) + "  4.0000E+00 : 4.5\n"));
  EXPECT_TRUE(Shown(models::parameterName(models::Layout::Faxen, 4) + "  5.9500E+00 : \n"));
  EXPECT_FALSE(Shown("Consideration of diffusion time"));  // not for model C
}

TEST(SetupDialog, SameModelKeepsEstimatesWithDampingOne) {
  auto st = LoadedState();
  st->modelLetter = st->prevModelLetter = 'H';
  st->componentCount = 1;
  st->param[1] = 0.77;
  st->param[2] = 1e-5;
  st->iterCount = 12;
  int estimates = 0;
  StartTestConsole(std::string("\r\r\r\r\r")  // iterations, damping 5, psv, rho, viscosity
                   + "N"                       // no RI noise
                   + "h"                       // model H again
                   + "y"                       // diffusion time considered
                   + "qE"                      // E/N: q refused, E keeps the estimates
                   + "0\r");                   // nothing fixed
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kIterations, Estimator(&estimates)));
  EXPECT_EQ(estimates, 0);
  EXPECT_EQ(st->param[1], 0.77);
  EXPECT_EQ(st->dampStart, 5.0);
  EXPECT_EQ(st->dampQ, 1.0);
  EXPECT_EQ(st->diffTimeOffset, 42.0);
  EXPECT_EQ(st->iterCount, 0);
  ASSERT_EQ(st->freeCount, 5);  // no noise: the base line is estimated too
  EXPECT_EQ(st->freeIndex[3], 3);
  EXPECT_TRUE(Shown("starting damping parameter for iterations  (5=default) :  5\n"));

  // N computes new ones with the damping answer.
  StartTestConsole("\r2\r\r\r\rNhnN0\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kIterations, Estimator(&estimates)));
  EXPECT_EQ(estimates, 1);
  EXPECT_EQ(st->param[1], 0.9);
  EXPECT_EQ(st->dampQ, 2.0);
  EXPECT_EQ(st->diffTimeOffset, 0.0);
}

// Interference data with TI noise, model N with components marked at keys 1
// and 3; D values of 2e-5 (a diffusion coefficient) and 2.1e-5 (a molar mass).
TEST(SetupDialog, NoiseEntryTwoComponentsAndMolarMassClassification) {
  auto st = LoadedState();
  st->dataKind = 'P';
  st->modelLetter = st->prevModelLetter = 'C';
  st->markedCount = 2;
  st->markedS = {0, 4.0, 0, 9.0, 0};
  st->markedAmp = {0, 0.3, 0, 0.1, 0};
  StartTestConsole(std::string("yj")  // RI and TI noise
                   + "n"              // model N
                   + "\r0.75\r"       // component volumes 0.736 (kept) and 0.75
                   + "2\r7 10\r"      // fix the two D-or-M parameters
                   + "2e-5\r2.1e-5\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator()));
  EXPECT_TRUE(st->riNoiseOn);
  EXPECT_TRUE(st->tiNoiseOn);
  EXPECT_EQ(st->modelLetter, 'N');
  EXPECT_EQ(st->componentCount, 2);
  EXPECT_EQ(st->paramCount, 10);
  EXPECT_DOUBLE_EQ(st->psv[2], 0.75);
  EXPECT_DOUBLE_EQ(st->psvRho[2], 0.75);
  // Shares of the plateau by the marked amplitudes, s from the marks.
  EXPECT_DOUBLE_EQ(st->param[1], 0.9 * 0.75);
  EXPECT_DOUBLE_EQ(st->param[8], 0.9 * 0.25);
  EXPECT_DOUBLE_EQ(st->param[9], 9.0e-13 * kOmega2);
  // Base line (RI, TI) and rotation parameter (TI) are not estimated.
  const std::vector<int> expected = {1, 2, 4, 5, 8, 9};
  ASSERT_EQ(st->freeCount, 6);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(st->freeIndex[i], expected[i - 1]) << i;
  EXPECT_FALSE(st->molMassGiven[1]);
  EXPECT_EQ(st->param[7], 2e-5);
  EXPECT_TRUE(st->molMassGiven[2]);
  EXPECT_NEAR(st->dPerS[2] / (293.15 * 8.316e7 / (0.25 * 2.1e-5) / kOmega2), 1.0, 1e-12);
  EXPECT_TRUE(Shown("Eliminate time independent   (TI) noise          (Y/N) :  Y\n"));
  EXPECT_TRUE(Shown("1. part.spec.vol.  0.736000  :  0.736000\n"
                    "2. part.spec.vol.  0.736000  :  0.75\n"));
}

// The viewer's marks come right after the model letter, only for the models
// with several components; the number of marks is the component count, and
// the last estimates are offered only for the same count.
TEST(SetupDialog, ViewerMarksGiveTheComponentsOfModelsCAndN) {
  auto st = LoadedState();
  st->modelLetter = st->prevModelLetter = 'C';
  st->componentCount = 1;
  st->paramCount = 5;
  int picks = 0;
  const auto pick = [&picks](AnalysisState& s) {
    ++picks;
    s.markedS = {0, 4.0, 7.0, 0, 0};
    s.markedAmp = {0, 0.3, 0.6, 0, 0};
    s.markedCount = 2;
  };
  const std::string keptOrNew = "The until now (E)stimated parameters";
  // Two marks where one component was fitted: new start values, no question.
  StartTestConsole(std::string("N") + "c" + "\r\r" + "0\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator(nullptr, pick)));
  EXPECT_EQ(picks, 1);
  EXPECT_EQ(st->componentCount, 2);
  EXPECT_EQ(st->paramCount, 8);
  EXPECT_FALSE(Shown(keptOrNew));
  EXPECT_DOUBLE_EQ(st->param[1], 0.9 * 0.3 / 0.9);  // shares of the plateau by the amplitudes
  EXPECT_DOUBLE_EQ(st->param[6], 0.9 * 0.6 / 0.9);
  EXPECT_NEAR(st->param[7], 7.0e-13 * kOmega2, 1e-25);
  EXPECT_EQ(st->freeCount, 8);
  EXPECT_EQ(st->dampQ, 5.0);

  // The same two marks again: E keeps the fitted values.
  st->param[7] = 6.5e-13 * kOmega2;
  StartTestConsole(std::string("N") + "c" + "\r\r" + "E" + "0\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator(nullptr, pick)));
  EXPECT_EQ(picks, 2);
  EXPECT_TRUE(Shown(keptOrNew));
  EXPECT_NEAR(st->param[7], 6.5e-13 * kOmega2, 1e-25);
  EXPECT_EQ(st->dampQ, 1.0);

  // A single-component model never opens the viewer.
  StartTestConsole(std::string("N") + "h" + "\r" + "0\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise, Estimator(nullptr, pick)));
  EXPECT_EQ(picks, 2);
  EXPECT_EQ(st->componentCount, 1);
  EXPECT_EQ(st->paramCount, 5);
}

TEST(SetupDialog, ProgramEstimatorGivesStartValuesFromTheScans) {
  auto st = LoadedState();
  StartTestConsole("Nc0\r");  // no RI noise, model C, nothing fixed
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kNoise));
  EXPECT_DOUBLE_EQ(st->param[4], st->meniscusMarked);
  EXPECT_GE(st->param[2], 0.16e-13 * kOmega2);  // at least 0.16 S
  EXPECT_GT(st->param[5], 0);
  EXPECT_LE(st->param[5], 2e-5);  // a diffusion coefficient, not a molar mass
  EXPECT_FALSE(st->molMassGiven[1]);
}

TEST(SetupDialog, ModelMenuInColour13WithLetterEchoedAtColumn79) {
  auto st = LoadedState();
  StartTestConsole("N?d");  // RI no, ? refused, D; then the keys run out
  EXPECT_THROW(SetupDialog(*st, SetupEntry::kNoise, Estimator()), console::InputEnded);
  int row = 0;
  for (int y = 1; y <= 25; ++y)
    if (console::ScreenRow(y).rfind("(D) ", 0) == 0) row = y;
  ASSERT_GT(row, 0);
  EXPECT_EQ(console::ScreenRow(row)[78], 'D');
  EXPECT_EQ(console::ScreenAttribute(79, row) & 0x0F, console::kWhite);
  EXPECT_EQ(console::ScreenAttribute(1, row) & 0x0F, console::kLightMagenta);
  EXPECT_EQ(console::ScreenAttribute(1, row - 8) & 0x0F, console::kLightMagenta);
  EXPECT_EQ(console::ScreenRow(row - 8).substr(0, 4), "(H) ");
  EXPECT_EQ(st->modelLetter, 'D');
  EXPECT_EQ(st->paramCount, 5);
}

TEST(SetupDialog, ZeroIterationsTakeTheDataRangeAndFitNothing) {
  auto st = LoadedState();
  st->scanLastPoint[3] = 40;
  StartTestConsole("0\r");
  EXPECT_FALSE(SetupDialog(*st, SetupEntry::kIterations, Estimator()));
  EXPECT_EQ(st->maxIterations, 0);
  EXPECT_DOUBLE_EQ(st->minValue, 0.101);
  EXPECT_DOUBLE_EQ(st->maxValue, 0.340);
  // K and M resume at the noise prompts: without iterations, nothing is asked.
  StartTestConsole("");
  EXPECT_FALSE(SetupDialog(*st, SetupEntry::kNoise, Estimator()));
}

TEST(SetupDialog, FixedNumberOutOfRangeAsksBothQuestionsAgain) {
  auto st = LoadedState();
  st->modelLetter = st->prevModelLetter = 'C';
  st->componentCount = 1;
  st->paramCount = 5;
  st->param = {0, 0.5, 1e-5, 0.01, 6.0, 6e-7};
  StartTestConsole("7\r1\r9\r1\r3\r-0.02\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kParameters, Estimator()));
  EXPECT_EQ(st->param[3], -0.02);
  ASSERT_EQ(st->freeCount, 4);
  EXPECT_EQ(st->freeIndex[3], 4);
  EXPECT_EQ(st->dampQ, 1.0);  // going on from the fitted values
  const std::string count = "how many parameters shall not to be estimate         :  ";
  EXPECT_TRUE(Shown(count + "7\n" + count + "1\n"));  // 7 refused in place
}

TEST(SetupDialog, TooFewPointsForTheFreeParametersLeadBackToTheParameterScreen) {
  auto st = LoadedState();
  st->modelLetter = st->prevModelLetter = 'C';
  st->componentCount = 1;
  st->paramCount = 5;
  st->seqLast = 1;
  st->scanLastPoint[1] = 5;  // five points, five parameters
  StartTestConsole("0\r1\r3\r\r");
  ASSERT_TRUE(SetupDialog(*st, SetupEntry::kParameters, Estimator()));
  EXPECT_EQ(st->freeCount, 4);
  EXPECT_TRUE(Shown("only 5 data points for 5 parameters to estimate: fix more parameters\n"
                    "sequence of the parameters\n"));
}

TEST(SetupDialog, CommonEndRadiusCutsEveryScanAndSlitSpeedKeptWithN) {
  auto st = LoadedState();
  st->prevModelLetter = 'C';
  StartTestConsole("Y6.3\rn\r0\r");  // end radius 6.3, slit speed kept, 0 iterations
  EXPECT_FALSE(SetupDialog(*st, SetupEntry::kStart, Estimator()));
  EXPECT_EQ(st->prevModelLetter, 'Z');  // new start values after a new end radius
  EXPECT_DOUBLE_EQ(st->nearBottomRadius, 6.3);
  EXPECT_EQ(st->scanLastPoint[1], 31);  // 6.30 cm
  EXPECT_EQ(st->scanLastPoint[3], 29);  // 6.30 cm, scan 3 starts at 6.02
  EXPECT_DOUBLE_EQ(st->slitTimePerCm, 60.0);
  // The kept default covers the answer N.
  EXPECT_TRUE(Shown("slit speed(mm/sec)(0.1667=default,if no replic) 0.1667 :  0.1667\n"));
}

// ---- Steps on their own -------------------------------------------------------

TEST(ComponentStartValues, SphereEstimateOfD) {
  auto st = LoadedState();
  st->modelLetter = 'C';
  st->paramCount = 8;
  st->param[1] = 0.8;
  st->markedCount = 2;
  st->markedS = {0, 4.35, 11.0, 0, 0};
  st->markedAmp = {0, 0.6, 0.2, 0, 0};
  st->psv = {0, 0.73, 0.73, 0.73, 0.73};
  st->updatePsvRho();
  SetComponentStartValues(*st);
  EXPECT_DOUBLE_EQ(st->param[1], 0.6);
  EXPECT_DOUBLE_EQ(st->param[6], 0.2);
  EXPECT_DOUBLE_EQ(st->param[7], 11.0e-13 * kOmega2);
  // D = k·T / (π·f^1.5·η^1.5) · √((1 − v̄ρ)/(162·v̄·s)), f = 1.5, η in poise.
  const double k = 8.316e7 / 6.0247e23;
  const double eta = 0.01002;
  const double d1 = k * 293.15 / (kPi * std::pow(1.5, 1.5) * std::pow(eta, 1.5)) *
                    std::sqrt(0.27 / (162 * 0.73 * 4.35e-13));
  EXPECT_NEAR(st->param[5] / d1, 1.0, 1e-4);
  EXPECT_NEAR(st->param[8] / st->param[5], std::sqrt(4.35 / 11.0), 1e-12);
  // Warmer, less viscous water: faster diffusion.
  st->viscosity = 0.5;
  SetComponentStartValues(*st);
  EXPECT_NEAR(st->param[5] / d1, std::pow(1.002 / 0.5, 1.5), 1e-3);
}

TEST(EstimatedList, TiNoiseKeepsParameterSixOfFaxenModels) {
  auto st = LoadedState();
  st->modelLetter = 'C';
  st->paramCount = 8;
  st->tiNoiseOn = true;
  PerParam<bool> fixed{};
  fixed[5] = true;
  BuildEstimatedList(*st, fixed);
  const std::vector<int> expected = {1, 2, 4, 6, 7, 8};  // 6 is component 2's absorbance
  ASSERT_EQ(st->freeCount, 6);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(st->freeIndex[i], expected[i - 1]);
  fixed.fill(true);
  BuildEstimatedList(*st, fixed);  // everything fixed is allowed
  EXPECT_EQ(st->freeCount, 0);
}

TEST(PostFitConstants, OnlyForComponentsFittedWithD) {
  auto st = LoadedState();
  st->modelLetter = 'N';
  st->paramCount = 10;
  st->molMassGiven[2] = true;
  StartTestConsole("0.72\r");
  AskPostFitConstants(*st);
  EXPECT_DOUBLE_EQ(st->psv[1], 0.72);
  EXPECT_DOUBLE_EQ(st->psvRho[1], 0.72);
  EXPECT_EQ(TestTranscript(),
            "1. partial specific volume        (standard)          0.736000  :  0.72\n");

  st->molMassGiven[2] = false;
  StartTestConsole("1.2\r\r\r.73\r0.7\r");  // ".73" is refused
  AskPostFitConstants(*st);
  EXPECT_DOUBLE_EQ(st->rho, 1.2);
  EXPECT_DOUBLE_EQ(st->viscosity, 1.002);
  EXPECT_DOUBLE_EQ(st->psv[2], 0.7);
  EXPECT_DOUBLE_EQ(st->psvRho[2], 0.7 * 1.2);
  EXPECT_TRUE(Shown("viscosity of solution (cpoise)    (water=standard)    1.002000  :  1.002000\n"));
}

}  // namespace
}  // namespace svfit::driver
