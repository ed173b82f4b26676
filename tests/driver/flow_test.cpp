// The fit, results and printing steps of the flow on a series made with
// model C itself: the guard against too few points, the start values kept by
// a continuation, the Archibald masses of one component, the wait after the
// report, and where option D puts the report.
#include "driver/flow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "console/crt.h"
#include "console/graph.h"
#include "driver/setup.h"
#include "models/model_pass.h"

namespace svfit::driver {
namespace {

const double kOmega2 = std::pow(M_PI * 50000.0 / 30.0, 2);  // ω² at 50000 rpm [rad²/s²]

// Model C, one component: 0.8 OD, 4.4 S, base line 0.01 OD, meniscus 6.05 cm,
// D = 6e-7 cm²/s; six scans of 160 points from 6.0 to 6.795 cm, 1200 s
// apart, with a deterministic scatter of ±0.002 OD.
const PerParam<double> kTruth = {0, 0.8, 4.4e-13 * kOmega2, 0.01, 6.05, 6e-7};

std::unique_ptr<AnalysisState> ModelCSeries() {
  auto st = std::make_unique<AnalysisState>();
  AnalysisState& s = *st;
  s.modelLetter = s.prevModelLetter = 'C';
  s.paramCount = 5;
  s.dParamIndex = 5;
  s.componentCount = 1;
  s.temperature = 20.0;
  s.viscosity = 1.002;
  s.omega2First = kOmega2;
  s.updatePsvRho();
  s.param = kTruth;
  s.scanCount = 6;
  s.seqFirst = 1;
  s.seqLast = 6;
  unsigned seed = 7;
  for (int k = 1; k <= 6; ++k) {
    s.scanSequence[k] = k;
    s.scanOmega2[k] = 1.0;
    s.scanRunTime[k] = s.scanTime[k] = 1200.0 * k;
    s.scanPointCount[k] = 160;
    s.scanFirstPoint[k] = 1;
    s.scanLastPoint[k] = 160;
    for (int i = 1; i <= 160; ++i) s.scanRadius[k][i] = 6.0 + 0.005 * (i - 1);
  }
  for (int k = 1; k <= 6; ++k) {
    for (int i = 1; i <= 160; ++i) {
      seed = seed * 1103515245u + 12345u;
      const double scatter = 0.004 * ((seed >> 16 & 0x7FFF) / 32767.0 - 0.5);
      s.scanValue[k][i] = models::ValueAt(s, k, s.scanRadius[k][i]) + scatter;
    }
  }
  s.maxIterations = 200;
  s.dampQ = 5;
  BuildEstimatedList(s, {});
  return st;
}

// Relative agreement in decimal digits.
double Digits(double value, double truth) { return -std::log10(std::fabs(value / truth - 1)); }

class FitStep : public ::testing::Test {
 protected:
  void SetUp() override {
    console::CloseGraphics();  // no surface: the steps skip their pictures
    console::StartTestConsole("");
  }
};

TEST_F(FitStep, RefusesFewerPointsThanFreeParameters) {
  auto st = ModelCSeries();
  st->seqLast = 1;
  st->scanLastPoint[1] = 5;  // five points for five free parameters
  st->param[2] = 3e-13 * kOmega2;
  st->postFitOption = 'F';
  EXPECT_FALSE(RunFit(*st));
  EXPECT_NE(console::TestTranscript().find(
                "only 5 data points for 5 parameters to estimate: no fit\n"),
            std::string::npos);
  EXPECT_EQ(st->param[2], 3e-13 * kOmega2);  // untouched
  EXPECT_EQ(st->iterCount, 0);
  st->scanLastPoint[1] = 6;  // one degree of freedom is enough
  EXPECT_TRUE(RunFit(*st));
}

TEST_F(FitStep, ContinuationKeepsTheStartValuesAndAddsItsTime) {
  auto st = ModelCSeries();
  st->param = {0, 0.7, 3.5e-13 * kOmega2, 0.0, 6.0, 9e-7};
  const PerParam<double> start = st->param;
  ASSERT_TRUE(RunFit(*st));
  EXPECT_GT(Digits(st->param[2], kTruth[2]), 2.5);
  EXPECT_GT(Digits(st->param[4], kTruth[4]), 3.5);
  EXPECT_GT(Digits(st->param[5], kTruth[5]), 1.3);
  EXPECT_EQ(st->startValue, start);
  const double seconds = st->fitSeconds;
  EXPECT_GT(seconds, 0);

  st->postFitOption = 'F';
  st->dampQ = std::min(st->dampFinal, 1.0);
  RunFit(*st);
  EXPECT_EQ(st->startValue, start);  // still where the fit began
  EXPECT_GT(st->fitSeconds, seconds);
  const PerParam<double> fitted = st->param;

  st->postFitOption = 'W';  // a new fit from the fitted values
  RunFit(*st);
  EXPECT_EQ(st->startValue, fitted);
}

TEST_F(FitStep, EveryParameterFixedRunsNoIteration) {
  auto st = ModelCSeries();
  PerParam<bool> fixed{};
  fixed.fill(true);
  BuildEstimatedList(*st, fixed);
  EXPECT_FALSE(RunFit(*st));  // no iteration: the driver shows the graph only
  EXPECT_FALSE(st->fitDone);
  // The curve of the fixed parameters is there for the graph.
  EXPECT_NEAR(st->fitCurve[3][80], models::ValueAt(*st, 3, st->scanRadius[3][80]), 1e-12);
}

TEST_F(FitStep, ResultsWithArchibaldMassOfOneComponentWaitForEnter) {
  auto st = ModelCSeries();
  ASSERT_TRUE(RunFit(*st));
  // Density, viscosity and psv kept; the paging key; keys before Enter are
  // swallowed, the key after it is left for the option menu.
  console::StartTestConsole("\r\r\r x\x1b\rR");
  ShowResults(*st);
  // M = s·R·T/(D·(1 − v̄ρ)) of the fitted component, 4.4 S and 6e-7 cm²/s.
  const double m = 4.4e-13 * 8.316e7 * 293.15 / (6e-7 * (1 - 0.736));
  EXPECT_GT(Digits(st->archibaldMeniscus, m), 1.0);
  const std::string t = console::TestTranscript();
  EXPECT_NE(t.find("Molecular mass at meniscus after Archibald(1.File)"), std::string::npos);
  EXPECT_EQ(console::ReadKey(), 'R');

  // Two components: no Archibald mass.
  st->componentCount = 2;
  st->paramCount = 8;
  st->param[6] = 0.1;
  st->param[7] = 7e-13 * kOmega2;
  st->param[8] = 4e-7;
  console::StartTestConsole("\r\r\r\r \r");
  ShowResults(*st);
  EXPECT_EQ(st->archibaldMeniscus, 0.0);
  EXPECT_EQ(st->archibaldBottom, 0.0);
}

TEST_F(FitStep, PrintingTheReportAndHardcopiesWithNothingPending) {
  auto st = ModelCSeries();
  ASSERT_TRUE(RunFit(*st));
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("svfit-flow-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  SetReportDirectory(dir.string(), false);
  console::StartTestConsole("z");
  EXPECT_EQ(PrintReport(*st), 'Z');  // the key after "data send off", upper-cased
  const std::string t = console::TestTranscript();
  EXPECT_NE(t.find("report written to " + dir.string()), std::string::npos) << t;
  EXPECT_NE(t.find("data send off\n"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  SetReportDirectory(".", true);
  std::filesystem::remove_all(dir);

  console::StartTestConsole("");
  PrintHardcopies(*st);  // X without a hardcopy: nothing happens
  EXPECT_EQ(console::TestTranscript(), "");
}

}  // namespace
}  // namespace svfit::driver
