// The common near-bottom radius and maximal absorbance cut, and the counts
// derived from the used points.
#include "results/max_absorbance.h"

#include <gtest/gtest.h>

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
  st.bottomPoint[1] = 44;   // the cell bottom found at loading, when asked for, stays the end
  EXPECT_EQ(CutAt(0), 44);
  st.bottomPoint[1] = 0;
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

}  // namespace
}  // namespace svfit::results
