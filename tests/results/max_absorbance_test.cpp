// The common near-bottom radius and maximal absorbance cut, and the counts
// derived from the used points.
#include "results/max_absorbance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "console/crt.h"
#include "console/format.h"
#include "models/model_pass.h"

namespace svfit::results {
namespace {

// Two scans of 50 points from 6.00 cm every 0.02 cm, value = radius − 6
// (0 .. 0.98); ends at 7.0 cm, no absorbance limit.
class MaxAbsorbance : public ::testing::Test {
 protected:
  AnalysisState st;
  void SetUp() override {
    st.scanCount = st.seqLast = 2;
    for (int s = 1; s <= 2; ++s) {
      for (int i = 1; i <= 50; ++i) {
        st.scanRadius[s][i] = 6.0 + 0.02 * (i - 1);
        st.scanValue[s][i] = 0.02 * (i - 1);
      }
      st.scanPointCount[s] = 50;
      st.scanLastPoint[s] = 30;
      st.scanSequence[s] = s;
    }
    st.nearBottomRadius = 7.0;
  }
  int CutAt(double aMax) {
    st.maxAbsorbance = aMax;
    SetCommonMaxAbsorbance(st, false);
    return st.scanLastPoint[1];
  }
};

TEST_F(MaxAbsorbance, CutAtTheRadiusThenAtTheLastNoiseCorrectedValueNotAboveTheLimit) {
  EXPECT_EQ(CutAt(0), 50);  // every loaded point back: 6.98 cm <= 7.0 cm
  st.nearBottomRadius = 6.5;
  EXPECT_EQ(CutAt(0), 26);  // 6.50 cm
  EXPECT_EQ(CutAt(5.0), 26);
  EXPECT_EQ(CutAt(0.5), 26);  // value 0.50
  // RI noise of the scan and TI noise of the index are taken off first.
  st.riNoise[2] = 0.1;
  CutAt(0.5);
  EXPECT_EQ(st.scanLastPoint[2], 26);  // the radius cut comes first
  st.nearBottomRadius = 7.0;
  CutAt(0.5);
  EXPECT_EQ(st.scanLastPoint[2], 31);  // 0.60 − 0.1
  st.tiNoise[28] = 0.1;
  EXPECT_EQ(CutAt(0.5), 26);  // 0.54 − 0.1 at index 28 is below, but 27 is not
  st.tiNoise[27] = 0.1;
  EXPECT_EQ(CutAt(0.5), 28);
  // Single low points inside the rise do not end it.
  for (int i = 1; i <= 50; ++i) st.scanValue[1][i] = i < 30 ? 0.1 : 0.9;
  st.scanValue[1][34] = st.scanValue[1][38] = 0.2;
  EXPECT_EQ(CutAt(0.5), 29);
  // A single noisy point above the limit just inside the cut is cut away too.
  st.scanValue[1][27] = 0.9;
  EXPECT_EQ(CutAt(0.5), 26);
  // The walk stops at the first used point.
  st.scanFirstPoint[1] = 5;
  for (int i = 1; i <= 50; ++i) st.scanValue[1][i] = 2.0;
  EXPECT_EQ(CutAt(0.5), 5);
}

TEST_F(MaxAbsorbance, CountsAndSumsOfTheUsedPointsAndTheLoadingRange) {
  st.scanFirstPoint[2] = 3;
  for (int i = 1; i <= 50; ++i) st.pointMultiplicity[1][i] = 1;  // stale marks must clear
  EXPECT_EQ(CutAt(0.3), 16);  // 0.02·(i − 1) <= 0.3 up to i = 16
  EXPECT_EQ(st.scanLastPoint[2], 16);
  EXPECT_EQ(st.maxPointCount, 16);
  EXPECT_EQ(st.maxPointScan, 1);
  EXPECT_EQ(st.pointMultiplicity[1][16], 1);
  EXPECT_EQ(st.pointMultiplicity[1][17] + st.pointMultiplicity[1][50], 0);
  EXPECT_EQ(st.pointScanCount[1], 2);  // scan 2 starts at point 3 but is marked from 1
  EXPECT_EQ(st.pointScanCount[16], 2);
  EXPECT_EQ(st.pointScanCount[17], 0);
  double sum = 0;  // Σv² over points 1..16 of scan 1 and 3..16 of scan 2
  for (int i = 1; i <= 16; ++i) sum += (i >= 3 ? 2 : 1) * (0.02 * (i - 1)) * (0.02 * (i - 1));
  EXPECT_NEAR(st.sumSqData, sum, 1e-12);
  EXPECT_EQ(st.pointTotal, 16 + 14);
  // At loading: only the used scans count, and their value range is kept.
  st.seqLast = 1;
  st.nearBottomRadius = 6.3;
  st.maxAbsorbance = 0;
  ApplyLoadingCut(st);
  EXPECT_EQ(st.scanLastPoint[1], 16);
  EXPECT_EQ(st.pointScanCount[1], 1);
  EXPECT_EQ(st.pointTotal, 16);
  EXPECT_DOUBLE_EQ(st.minValue, 0.0);
  EXPECT_NEAR(st.maxValue, 0.30, 1e-12);
  EXPECT_NEAR(st.origMaxValue, 0.30, 1e-12);
}

// Model N after a fit: 10 fringes at 4.4 S and 3 at 9 S, meniscus 6.0 cm,
// bottom 7.2 cm, 42000 rpm; scans at 2000, 4000 and 6000 s, 0.002 cm apart
// from 6.0 to 7.19 cm, valued as the model itself, used up to 7.0 cm.
class Proposal : public ::testing::Test {
 protected:
  AnalysisState st;
  void SetUp() override {
    const double omega2 = std::pow(M_PI * 42000 / 30, 2);
    st.omega2First = omega2;
    st.modelLetter = 'N';
    st.paramCount = 10;
    st.param = {0, 10.0, 4.4e-13 * omega2, 0.01, 6.0, 7.2, 0, 6e-7, 3.0, 9e-13 * omega2, 4e-7};
    st.temperature = 20;
    st.scanCount = st.seqLast = 3;
    for (int s = 1; s <= 3; ++s) {
      st.scanSequence[s] = s;
      st.scanOmega2[s] = 1.0;
      st.scanTime[s] = st.scanRunTime[s] = 2000.0 * s;
      st.scanPointCount[s] = 596;
      st.scanLastPoint[s] = 501;
      for (int i = 1; i <= 596; ++i) {
        st.scanRadius[s][i] = 6.0 + 0.002 * (i - 1);
        st.scanValue[s][i] = models::ValueAt(st, s, st.scanRadius[s][i]);
      }
    }
    st.nearBottomRadius = 7.19;
    st.origMaxValue = 12.5;
  }
  // Runs option L's cut with `answer` and returns the console lines.
  std::string AskL(const std::string& answer) {
    console::StartTestConsole(answer);
    SetCommonMaxAbsorbance(st, true);
    return console::TestTranscript();
  }
};

TEST_F(Proposal, BoundedCellFootOfThePileUpNeverBelowTheInitialAbsorbances) {
  // The foot of the pile-up lies below the loading (radial dilution), so the
  // proposal is its floor, 1.05 × (10 + 3) fringes. The last set's value is
  // taken before the cut: at 7.0 cm.
  const std::string ask = "Common max. absorbance (max.abs. of the last set =" +
                          console::FormatF(st.scanValue[3][501], 6, 3) + ")   0.000  : ";
  ASSERT_EQ(ask.size(), 69u);
  EXPECT_EQ(AskL("\r"), "Calculated proposal for maximal absorbance(fringes) orig : 12.500  :13.650\n" +
                            ask + "0.000\n");  // empty: A_max kept, echoed at column 70
  EXPECT_EQ(st.maxAbsorbance, 0.0);
  EXPECT_EQ(st.scanLastPoint[3], 596);  // 7.19 cm
  // A typed value is the new limit: the pile-up of the last scan goes.
  AskL("13.65\r");
  EXPECT_EQ(st.maxAbsorbance, 13.65);
  const int last = st.scanLastPoint[3];
  EXPECT_LT(last, 596);
  EXPECT_TRUE(st.scanValue[3][last] <= 13.65 && st.scanValue[3][last + 1] > 13.65);
  // Scans steep everywhere they are used: each search stops at the first used
  // point, and the first scan's lower value there, still steep, is the proposal.
  for (int s = 1; s <= 3; ++s) st.scanFirstPoint[s] = 594;
  const double c1 = models::ValueAt(st, 1, st.scanRadius[1][594]);
  ASSERT_LT(c1, models::ValueAt(st, 3, st.scanRadius[3][594]));
  ASSERT_GT(c1, 13.65);
  EXPECT_NE(AskL("\r").find("  :" + console::FormatF(c1, 6, 3) + "\n"), std::string::npos);
  // Other models ask without a proposal.
  st.modelLetter = 'C';
  st.paramCount = 5;
  EXPECT_EQ(AskL("\r").find("Calculated"), std::string::npos);
}

}  // namespace
}  // namespace svfit::results
