// The outlier correction: spikes, double
// spikes, dropouts, untouched ends and trimmed bottoms, short scans, and the
// listing.
#include "scans/cleaning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "console/crt.h"

namespace svfit::scans {
namespace {

// Scans of 200 points from 6.000 cm every 0.005 cm on a flat 0.5 OD base line.
class Outliers : public ::testing::Test {
 protected:
  AnalysisState st;
  void SetUp() override {
    console::StartTestConsole("");
    st.fileStep = 1;
  }
  void MakeScan(int j, const std::function<double(int)>& value, int n = 200) {
    for (int i = 1; i <= n; ++i) {
      st.scanRadius[j][i] = 6.0 + 0.005 * (i - 1);
      st.scanValue[j][i] = value(i);
    }
    st.scanPointCount[j] = st.scanLastPoint[j] = n;
    st.scanFirstPoint[j] = 1;
    st.scanCount = std::max(st.scanCount, j);
  }
};

TEST_F(Outliers, SingleSpikeBecomesTheMeanOfItsNeighbours) {
  MakeScan(1, [](int i) { return i == 50 ? 1.0 : 0.5; });
  EXPECT_EQ(CorrectOutliers(st, 0.0), 1);
  for (int i = 1; i <= 200; ++i) ASSERT_DOUBLE_EQ(st.scanValue[1][i], 0.5) << i;
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("Data points corrected\n"
                     "File       radius      absorbtion   data point   corrected\n"
                     "  1       6.24500       1.00000         50        0.50000\n"),
            std::string::npos);
  EXPECT_NE(out.find(" 1  data point(s) corrected\n"), std::string::npos);
  // An offset already subtracted is taken off for the test and put back.
  MakeScan(1, [](int i) { return (i == 120 ? 1.3 : 0.5) + 0.2; });
  EXPECT_EQ(CorrectOutliers(st, 0.2), 1);
  EXPECT_DOUBLE_EQ(st.scanValue[1][120], 0.5 + 0.2);
}

TEST_F(Outliers, TwoEqualAdjacentSpikesOnlyInPassTwo) {
  // Scan 1: two equal spikes; scan 2: one spike. Pass 1 visits scan 1 before
  // scan 2, so a pass-1 correction of scan 1 would be listed first.
  MakeScan(1, [](int i) { return i == 50 || i == 51 ? 1.0 : 0.5; });
  MakeScan(2, [](int i) { return i == 80 ? 1.0 : 0.5; });
  CorrectOutliers(st, 0.0);
  const std::string out = console::TestTranscript();
  const std::size_t pass2 = out.find("\n  1       6.24500       1.00000         50        0.75000\n");
  ASSERT_NE(pass2, std::string::npos);
  EXPECT_LT(out.find("\n  2       6.39500"), pass2);  // pass 1: scan 2's spike only
  EXPECT_DOUBLE_EQ(st.scanValue[1][50], 0.75);  // (0.5 + 1.0) / 2
  EXPECT_DOUBLE_EQ(st.scanValue[2][80], 0.5);
}

TEST_F(Outliers, DeepDropoutIsReplacedWithoutTheNeighbourTest) {
  // Two equal points deep below the base line: the neighbour test cannot
  // fire on the first (it is level with its right neighbour), the low limit does.
  MakeScan(1, [](int i) { return i == 60 || i == 61 ? -0.3 : 0.5; });
  CorrectOutliers(st, 0.0);
  EXPECT_NE(console::TestTranscript().find("  1       6.29500      -0.30000         60        0.10000\n"
                                           "  1       6.30000      -0.30000         61        0.30000\n"),
            std::string::npos);
}

// End points, a trimmed bottom, short scans and zero head sums stay unchanged.
TEST_F(Outliers, EndPointsTrimmedBottomsShortScansAndZeroSumsStayUnchanged) {
  MakeScan(1, [](int i) { return i == 1 || i == 200 ? 3.0 : 0.5; });
  // A steep bottom (slope 19 OD/cm at 6.995 cm): n / round(10 + 19) = 6
  // points are left out, with a spike among them.
  MakeScan(2, [](int i) {
    const double r = 6.0 + 0.005 * (i - 1);
    const double base = r > 6.9 ? 0.5 + 100 * (r - 6.9) * (r - 6.9) : 0.5;
    return i == 197 ? base + 1.0 : base;
  });
  // A damaged bottom rising at 2e20 OD/cm (found by fuzzing: the quotient
  // divided by zero): the least trim, 5 points, is left out.
  MakeScan(3, [](int i) { return i > 190 ? 1e18 * (i - 190) : 0.5; });
  MakeScan(4, [](int i) { return i == 2 ? 9.0 : 0.5; }, 3);  // too short for a head
  // Alternating ±0.5 with a spike pair that keeps the head sum at exactly 0.
  auto zeroSum = [](int i) { return i == 20 ? 1.5 : i == 21 ? -1.5 : (i % 2 ? 0.5 : -0.5); };
  MakeScan(5, zeroSum, 40);
  const double spike = st.scanValue[2][197];
  CorrectOutliers(st, 0.0);
  EXPECT_DOUBLE_EQ(st.scanValue[1][1], 3.0);
  EXPECT_DOUBLE_EQ(st.scanValue[1][200], 3.0);
  EXPECT_DOUBLE_EQ(st.scanValue[2][197], spike);
  EXPECT_DOUBLE_EQ(st.scanValue[3][196], 6e18);
  EXPECT_DOUBLE_EQ(st.scanValue[4][2], 9.0);
  for (int i = 1; i <= 40; ++i) ASSERT_DOUBLE_EQ(st.scanValue[5][i], zeroSum(i)) << i;
  for (const char* scan : {"\n  2   ", "\n  4   ", "\n  5   "})  // nothing of these scans listed
    EXPECT_EQ(console::TestTranscript().find(scan), std::string::npos) << scan;
}

}  // namespace
}  // namespace svfit::scans
