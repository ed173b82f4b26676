// The common near-bottom radius and maximal absorbance cut, and the counts
// derived from the used points.
#include "results/max_absorbance.h"

#include <gtest/gtest.h>

namespace svfit::results {
namespace {

// Two scans of 50 points from 6.00 cm every 0.02 cm; value = radius − 6 (0 .. 0.98).
class MaxAbsorbance : public ::testing::Test {
 protected:
  AnalysisState st;
  void SetUp() override {
    st.scanCount = 2;
    for (int s = 1; s <= 2; ++s) {
      for (int i = 1; i <= 50; ++i) {
        st.scanRadius[s][i] = 6.0 + 0.02 * (i - 1);
        st.scanValue[s][i] = 0.02 * (i - 1);
      }
      st.scanPointCount[s] = 50;
      st.scanFirstPoint[s] = 1;
      st.scanLastPoint[s] = 30;
      st.scanSequence[s] = s;
    }
    st.seqFirst = 1;
    st.seqLast = 2;
    st.nearBottomRadius = 7.0;
  }
};

TEST_F(MaxAbsorbance, WithoutLimitOnlyTheNearBottomRadiusCuts) {
  st.maxAbsorbance = 0;
  SetCommonMaxAbsorbance(st, false);
  // Points up to 7.00 cm: i = 51 would be 7.00; the last point at or below 7.0 is 50 (6.98).
  EXPECT_EQ(st.scanLastPoint[1], 50);
  st.nearBottomRadius = 6.5;
  SetCommonMaxAbsorbance(st, false);
  EXPECT_EQ(st.scanLastPoint[1], 26);  // 6.50 cm
  EXPECT_EQ(st.scanLastPoint[2], 26);
  st.maxAbsorbance = 5.0;  // above every value
  SetCommonMaxAbsorbance(st, false);
  EXPECT_EQ(st.scanLastPoint[1], 26);
}

TEST_F(MaxAbsorbance, CutAtTheLastPointNotAboveTheLimit) {
  st.maxAbsorbance = 0.5;
  SetCommonMaxAbsorbance(st, false);
  EXPECT_EQ(st.scanLastPoint[1], 26);  // value 0.50
  // RI noise is taken off before the comparison: v = value − 0.1.
  st.riNoise[2] = 0.1;
  SetCommonMaxAbsorbance(st, false);
  EXPECT_EQ(st.scanLastPoint[2], 31);  // 0.60 − 0.1
  // So is the TI noise of the radial index.
  st.riNoise[2] = 0;
  st.tiNoise[27] = 0.2;  // 0.52 − 0.2 at index 27 is below the limit
  SetCommonMaxAbsorbance(st, false);
  EXPECT_EQ(st.scanLastPoint[2], 27);
}

TEST_F(MaxAbsorbance, SingleLowPointsInsideTheRiseAreSkipped) {
  // A rise above 0.5 from index 30 on, with single dips below the limit at 34 and 38.
  for (int i = 1; i <= 50; ++i) st.scanValue[1][i] = i < 30 ? 0.1 : 0.9;
  st.scanValue[1][34] = 0.2;
  st.scanValue[1][38] = 0.2;
  st.maxAbsorbance = 0.5;
  SetCommonMaxAbsorbance(st, false);
  EXPECT_EQ(st.scanLastPoint[1], 29);
}

TEST_F(MaxAbsorbance, WalkStopsAtTheFirstUsedPoint) {
  for (int i = 1; i <= 50; ++i) st.scanValue[1][i] = 2.0;
  st.scanFirstPoint[1] = 5;
  st.maxAbsorbance = 0.5;
  SetCommonMaxAbsorbance(st, false);
  EXPECT_EQ(st.scanLastPoint[1], 5);
}

TEST_F(MaxAbsorbance, MultiplicityCountsAndSums) {
  st.nearBottomRadius = 6.5;
  st.scanFirstPoint[2] = 3;
  st.scanLastPoint[1] = 50;  // stale marks beyond the new last point must clear
  for (int i = 1; i <= 50; ++i) st.pointMultiplicity[1][i] = 1;
  st.maxAbsorbance = 0.3;
  SetCommonMaxAbsorbance(st, false);
  // value 0.02·(i − 1) <= 0.3 up to i = 16.
  EXPECT_EQ(st.scanLastPoint[1], 16);
  EXPECT_EQ(st.scanLastPoint[2], 16);
  EXPECT_EQ(st.maxPointCount, 16);
  EXPECT_EQ(st.maxPointScan, 1);
  EXPECT_EQ(st.pointMultiplicity[1][16], 1);
  EXPECT_EQ(st.pointMultiplicity[1][17], 0);
  EXPECT_EQ(st.pointMultiplicity[1][50], 0);
  EXPECT_EQ(st.pointScanCount[1], 2);
  EXPECT_EQ(st.pointScanCount[16], 2);
  EXPECT_EQ(st.pointScanCount[17], 0);
  // Σv² over points 1..16 of scan 1 and 3..16 of scan 2.
  double sum = 0;
  for (int i = 1; i <= 16; ++i) sum += (0.02 * (i - 1)) * (0.02 * (i - 1));
  for (int i = 3; i <= 16; ++i) sum += (0.02 * (i - 1)) * (0.02 * (i - 1));
  EXPECT_NEAR(st.sumSqData, sum, 1e-12);
  EXPECT_EQ(st.pointTotal, 16 + 14);
}

TEST_F(MaxAbsorbance, OnlyUsedScansCountAndTheLoadingCutKeepsTheRange) {
  st.seqLast = 1;
  st.nearBottomRadius = 6.3;
  ApplyLoadingCut(st);
  EXPECT_EQ(st.scanLastPoint[1], 16);
  EXPECT_EQ(st.pointScanCount[1], 1);
  EXPECT_EQ(st.pointTotal, 16);
  EXPECT_DOUBLE_EQ(st.minValue, 0.0);
  EXPECT_NEAR(st.maxValue, 0.30, 1e-12);
  EXPECT_NEAR(st.origMaxValue, 0.30, 1e-12);
}

}  // namespace
}  // namespace svfit::results
