// The fit step on a series made with model C itself: the start values and fit
// time a continuation (F) keeps, and the guard against too few points.
#include "driver/flow.h"

#include <gtest/gtest.h>

#include <cmath>
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
// D = 6e-7 cm²/s; six scans of 160 points from 6.0 cm, 1200 s apart, with a
// deterministic scatter of ±0.002 OD. Nothing fixed, no graphics surface.
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
  return st;
}

TEST(FitStep, ContinuationKeepsTheStartValuesAndAddsItsTime) {
  auto st = ModelCSeries();
  st->param = {0, 0.7, 3.5e-13 * kOmega2, 0.0, 6.0, 9e-7};
  const PerParam<double> start = st->param;
  ASSERT_TRUE(RunFit(*st));
  EXPECT_NEAR(st->param[2] / (4.4e-13 * kOmega2), 1.0, 3e-3);
  EXPECT_NEAR(st->param[5] / 6e-7, 1.0, 0.05);
  EXPECT_EQ(st->startValue, start);
  const double seconds = st->fitSeconds;
  EXPECT_GT(seconds, 0);
  st->postFitOption = 'F';  // the same fit goes on: start values kept, time added
  RunFit(*st);
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

TEST(FitStep, KeyIStopsTheFitAfterTheCurrentIterationOtherKeysDoNot) {
  // One key is read per iteration. PageUp arrives as 0 and scan code 73, the
  // code of "I", and must not stop the fit.
  auto st = ModelCSeries();
  st->param = {0, 0.7, 3.5e-13 * kOmega2, 0.0, 6.0, 9e-7};
  console::PostKey('x');
  console::PostExtendedKey(console::kScanPageUp);
  console::PostKey('i');
  ASSERT_TRUE(RunFit(*st));
  EXPECT_EQ(st->iterCount, 3);
}

}  // namespace
}  // namespace svfit::driver
