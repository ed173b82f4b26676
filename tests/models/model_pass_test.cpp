// The evaluation pass (noise sums, derivatives, molar-mass rule, validity,
// thread independence), the Archibald masses and the catalogue.
#include "models/model_pass.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <memory>

#include "model_fixture.h"

namespace svfit::models {
namespace {

using namespace testing;

// A series with synthetic data: the model plus a scan offset, a radial
// pattern and a little noise, so that every noise term has something to find.
void fillData(AnalysisState& st) {
  for (int s = 1; s <= st.scanCount; ++s) {
    const ScanModel sm(st, s);
    for (int j = 1; j <= st.scanPointCount[s]; ++j) {
      const double r = st.scanRadius[s][j];
      st.scanValue[s][j] =
          sm.value(r) + 0.003 * s + 0.002 * std::sin(40 * r) + 1e-4 * std::sin(12345.0 * s * j);
    }
  }
}

void freeAll(AnalysisState& st) {
  st.freeCount = st.paramCount;
  for (int k = 1; k <= st.paramCount; ++k) st.freeIndex[k] = k;
}

struct PassFixture : ::testing::Test {
  AnalysisState& st = sharedState();
  std::unique_ptr<PassSums> sums = std::make_unique<PassSums>();
  void SetUp() override {
    setSeries(st, 12, 80);
    setModel(st, 'N', 2);
    fillData(st);
    freeAll(st);
  }
};

TEST_F(PassFixture, NoNoiseLeavesDataMinusModelAndTheModelDerivatives) {
  st.riNoise.fill(7.0);
  modelPass(st, *sums, 2);
  for (int s = 1; s <= st.scanCount; ++s) {
    EXPECT_EQ(st.riNoise[s], 0.0);
    const ScanModel sm(st, s);
    for (int j = 1; j <= st.scanPointCount[s]; j += 7) {
      ModelDeriv deriv{};
      const double model = sm.valueAndDerivs(st.scanRadius[s][j], deriv);
      ASSERT_EQ(st.modelValue[s][j], st.scanValue[s][j] - model);
      for (int m = 1; m <= st.freeCount; ++m) {
        ASSERT_EQ(st.paramDerivBlock(m)[s][j], deriv[st.freeIndex[m]]);
      }
    }
  }
}

TEST_F(PassFixture, NoiseTermsAreTheMeanResidualsOfEachScanAndOfEachRadialIndex) {
  st.riNoiseOn = true;
  modelPass(st, *sums, 2);
  for (int s = 1; s <= st.scanCount; ++s) {
    double sum = 0;
    for (int j = 1; j <= 80; ++j) sum += st.modelValue[s][j] - st.riNoise[s];
    EXPECT_NEAR(sum, 0.0, 1e-13);
    // The data carry an offset of 0.003·s over the model; the radial pattern
    // averages to a little, the same for every scan.
    EXPECT_NEAR(st.riNoise[s] - st.riNoise[1], 0.003 * (s - 1), 1e-4);
  }
  // With TI on as well, RI is the scan mean of the TI-corrected residuals and
  // both corrections together leave only the scatter.
  st.tiNoiseOn = true;
  modelPass(st, *sums, 2);
  for (int s = 1; s <= st.scanCount; ++s) {
    double sumE = 0, sumG = 0;
    for (int j = 1; j <= 80; ++j) {
      sumE += st.modelValue[s][j] - sums->tiNoiseSum[j] - st.riNoise[s];
      sumG += st.paramDerivBlock(2)[s][j] - sums->derivTiSum[2][j] - sums->derivRiSum[2][s];
      EXPECT_NEAR(st.modelValue[s][j] - sums->tiNoiseSum[j] - st.riNoise[s], 0.0, 4e-4);
    }
    EXPECT_NEAR(sumE, 0.0, 1e-13);
    EXPECT_NEAR(sumG, 0.0, 1e-9 * 80 * std::fabs(sums->derivTiSum[2][40]));
  }
  // TI alone: the mean over the scans that reach the index.
  st.riNoiseOn = false;
  for (bool cut : {false, true}) {
    if (cut) {  // scan s starts at point s, and scan 1 is left out of the sequence
      for (int s = 1; s <= st.scanCount; ++s) st.scanFirstPoint[s] = s;
      st.seqFirst = 2;
    }
    modelPass(st, *sums, 2);
    // The TI-corrected residuals and derivatives of the scans that reach
    // index j sum to zero.
    for (int j = 1; j <= 80; ++j) {
      std::vector<double> sum(st.freeCount + 1, 0.0), size(st.freeCount + 1, 1e-300);
      int count = 0;
      for (int s = st.seqFirst; s <= st.scanCount; ++s) {
        if (j < st.scanFirstPoint[s]) continue;
        ++count;
        sum[0] += st.modelValue[s][j] - sums->tiNoiseSum[j];
        size[0] += std::fabs(st.modelValue[s][j]);
        for (int m = 1; m <= st.freeCount; ++m) {
          sum[m] += st.paramDerivBlock(m)[s][j] - sums->derivTiSum[m][j];
          size[m] += std::fabs(st.paramDerivBlock(m)[s][j]);
        }
      }
      EXPECT_EQ(sums->tiCount[j], count) << j;
      for (int m = 0; m <= st.freeCount; ++m) EXPECT_NEAR(sum[m], 0.0, 1e-13 * size[m]) << j << " " << m;
    }
  }
}

TEST_F(PassFixture, MolarMassAboveTheLargestDIsTurnedIntoDWrittenBackIntoTheParameter) {
  setModel(st, 'C', 2);
  st.param[5] = 2e-5;       // the largest diffusion coefficient
  st.param[8] = 2.0001e-5;  // already a molar mass
  st.psv[2] = 0.73;
  st.updatePsvRho();
  classifyDiffusionOrMass(st);
  EXPECT_FALSE(st.molMassGiven[1]);
  EXPECT_TRUE(st.molMassGiven[2]);
  EXPECT_EQ(st.dPerS[1], 0.0);
  // M in g/mol with R = 8.316e7 erg/(mol·K): D = s·R·T/((1 − v̄ρ)·M).
  const double expected = (273.15 + 20.0) * 8.316e7 / ((1 - 0.73) * 2.0001e-5) / kOmega2;
  EXPECT_NEAR(st.dPerS[2] / expected, 1.0, 1e-14);
  EXPECT_NEAR(st.epsPerS[2] / (2 * expected), 1.0, 1e-14);
  st.psv[2] = 0.736;
  st.updatePsvRho();

  // In the pass, with the test values given as molar masses.
  setModel(st, 'C', 2, true);
  freeAll(st);
  ASSERT_TRUE(st.molMassGiven[1] && st.molMassGiven[2]);
  modelPass(st, *sums, 2);
  EXPECT_EQ(st.param[5], st.param[2] * st.dPerS[1]);
  EXPECT_EQ(st.param[8], st.param[7] * st.dPerS[2]);
  // D = s·R·T/((1 − v̄ρ)·M): the test values come back.
  EXPECT_NEAR(st.param[5], kDiffusion[1], 1e-15);
  EXPECT_NEAR(st.param[8], kDiffusion[2], 1e-15);
}

TEST_F(PassFixture, SerialAndParallelPassesAreBitIdentical) {
  st.tiNoiseOn = true;
  st.riNoiseOn = true;
  st.meniscusCorrValue = 1.05;
  setModel(st, 'N', 4);
  freeAll(st);
  auto snapshot = [&](PassSums& out) {
    std::vector<double> v;
    for (int s = 1; s <= st.scanCount; ++s) {
      v.push_back(st.riNoise[s]);
      for (int j = 1; j <= 80; ++j) {
        v.push_back(st.modelValue[s][j]);
        for (int m = 1; m <= st.freeCount; ++m) v.push_back(st.paramDerivBlock(m)[s][j]);
      }
    }
    v.push_back(st.validityValue);
    v.push_back(st.validityScan);
    v.insert(v.end(), out.tiNoiseSum.begin(), out.tiNoiseSum.end());
    for (int m = 1; m <= st.freeCount; ++m) {
      v.insert(v.end(), out.derivTiSum[m].begin(), out.derivTiSum[m].end());
      v.insert(v.end(), out.derivRiSum[m].begin(), out.derivRiSum[m].end());
    }
    return v;
  };
  modelPass(st, *sums, 1);
  const std::vector<double> serial = snapshot(*sums);
  for (int threads : {2, 3, 5}) {
    auto other = std::make_unique<PassSums>();
    modelPass(st, *other, threads);
    const std::vector<double> parallel = snapshot(*other);
    ASSERT_EQ(serial.size(), parallel.size());
    EXPECT_EQ(std::memcmp(serial.data(), parallel.data(), serial.size() * sizeof(double)), 0)
        << threads << " threads";
  }
}

TEST_F(PassFixture, ValidityScanIsTheLastNewMaximumAtMostOneAndFlatTracesLeaveItOpen) {
  for (char letter : {'N', 'R'}) {
    setModel(st, letter, 1);
    freeAll(st);
    // The bottom trace reaches further up the cell with time: V grows from
    // scan to scan after the first few. Scaled by 1/meniscusCorr so that the
    // maxima pass 1 within the series.
    st.meniscusCorrValue = 1.0;
    std::vector<double> v(1, 0.0);  // V of each scan alone
    for (int s = 1; s <= st.scanCount; ++s) v.push_back(tracesOf(st, s).validity);
    ASSERT_GT(v[st.scanCount], v[st.scanCount - 1]) << letter;
    st.meniscusCorrValue = v[2] * 1.5;  // scans up to 2 stay at or below 1
    modelPass(st, *sums, 2);
    double max = 0;
    int expectedScan = 0;
    for (int s = 1; s <= st.scanCount; ++s) {
      const double scaled = v[s] / st.meniscusCorrValue;
      if (!(scaled > max)) continue;
      max = scaled;
      if (max <= 1.0) expectedScan = s;
    }
    EXPECT_DOUBLE_EQ(st.validityValue, max) << letter;
    EXPECT_EQ(st.validityScan, expectedScan) << letter;
    EXPECT_GE(st.validityScan, 1) << letter;
    EXPECT_GT(st.validityValue, 1.0) << letter;
    // When every new maximum exceeds 1, no scan qualifies.
    st.meniscusCorrValue = v[1] * 1e-3;
    modelPass(st, *sums, 2);
    EXPECT_EQ(st.validityScan, 0) << letter;
    st.meniscusCorrValue = 1.0;
  }
  setModel(st, 'C', 1);  // no bottom, no test
  modelPass(st, *sums, 2);
  EXPECT_EQ(st.validityValue, 0.0);
  EXPECT_EQ(st.validityScan, 0);

  // Where the bottom trace is flat the test stays open, without 0/0.
  setModel(st, 'N', 1);
  const ModelParams params = modelParamsOf(st);
  const ScanContext sc = scanContextOf(st, params, 1);
  TraceState traces;
  ModelDeriv deriv{};
  std::feclearexcept(FE_ALL_EXCEPT);
  // Beyond the boundary but far from the bottom the bottom trace is 0 at
  // every point; the same radius twice gives Δm = Δb = 0 and Δr = 0.
  for (double r : {6.3, 6.3, 6.31, 6.31}) modelInfo('N').conc(params, sc, r, deriv, &traces);
  EXPECT_FALSE(std::fetestexcept(FE_DIVBYZERO | FE_INVALID));
  EXPECT_TRUE(traces.newScanFlag);
  EXPECT_FALSE(traces.decided);
  EXPECT_EQ(traces.validity, 0.0);
}

// ---- Archibald masses ---------------------------------------------------------

// M = s·R·T/((1 − v̄ρ)·D) of the test protein [g/mol].
double trueMass(const AnalysisState& st) {
  return kSvedberg[1] * 1e-13 * 8.316e7 * (273.15 + st.temperature) /
         ((1.0 - st.psvRho[1]) * kDiffusion[1]);
}

TEST(ArchibaldMasses, RecoverTheMolarMassWhereTheModelHasNoFluxAndAreZeroWhereUndefined) {
  AnalysisState& st = sharedState();
  setSeries(st, 14, 50);
  // Holladay's solution has no flux through the meniscus exactly.
  setModel(st, 'O', 1);
  archibaldMasses(st);
  EXPECT_NEAR(st.archibaldMeniscus / trueMass(st), 1.0, 1e-6);
  EXPECT_EQ(st.archibaldBottom, 0.0);
  // The bottom image of N and R closes the bottom to 0.1 %; the meniscus
  // terms of C and N close the meniscus to 0.5 % early in the run.
  for (char letter : {'N', 'R'}) {
    setModel(st, letter, 1);
    archibaldMasses(st);
    EXPECT_NEAR(st.archibaldBottom / trueMass(st), 1.0, 1e-3) << letter;
  }
  for (char letter : {'C', 'N'}) {
    setModel(st, letter, 1);
    archibaldMasses(st);
    EXPECT_NEAR(st.archibaldMeniscus / trueMass(st), 1.0, 5e-3) << letter;
  }
  // H has no Archibald mass, models without a bottom term no bottom mass.
  // With c0 = 0, c' takes the floor at the meniscus and the gradient is 0; at
  // the bottom c − base line − linear term is exactly 0: no 0/0 anywhere.
  for (char letter : {'H', 'C', 'O', 'N'}) {
    setModel(st, letter, 1);
    archibaldMasses(st);
    EXPECT_EQ(st.archibaldMeniscus > 0.0, letter != 'H') << letter;
    EXPECT_EQ(st.archibaldBottom > 0.0, letter == 'N') << letter;
    st.param[1] = 0;
    if (letter == 'N') st.param[6] = 0;  // no linear term
    archibaldMasses(st);
    EXPECT_EQ(st.archibaldMeniscus, 0.0) << letter;
    EXPECT_EQ(st.archibaldBottom, 0.0) << letter;
  }
}

}  // namespace
}  // namespace svfit::models
