// The option menu's data-set editing and radial limits through the test
// console (prompts and resume points: the every-letter session of app_test):
// bounds and refusals, the points each letter keeps, and that O with "Y"
// gives back the series exactly as loaded.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "console/crt.h"
#include "driver/flow.h"
#include "results/max_absorbance.h"

namespace svfit::driver {
namespace {

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
  console::StartTestConsole("1-10\r8 5 5\r6.01\r7.12\r7.12\r6.305\r");
  ASSERT_TRUE(OmitDataSets(*st));
  EXPECT_EQ(Used(*st), (std::vector<int>{1, 2, 3, 4, 6, 7, 9, 10}));
  NewNearBottomRadius(*st);
  st->scanLastPoint[3] = 10;  // ends at 6.22 cm
  NewStartRadius(*st);
  EXPECT_EQ(std::make_tuple(st->nearBottomRadius, st->startRadius), std::make_tuple(7.12, 6.305));
  EXPECT_EQ(st->scanFirstPoint[1], 17);  // 6.32 cm
  EXPECT_EQ(st->scanFirstPoint[3], 10);
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

}  // namespace
}  // namespace svfit::driver
