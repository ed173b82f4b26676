// The option menu's data-set editing, radial limits and graph choice through
// the test console: bounds and refusals of each answer, the points each
// letter keeps, and that O with "Y" gives back the series exactly as loaded.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console/crt.h"
#include "driver/flow.h"
#include "results/max_absorbance.h"

namespace svfit::driver {
namespace {

using console::StartTestConsole;
using console::TestTranscript;

// Ten scans of 60 points from 6.00 cm every 0.02 cm (to 7.18 cm): a plateau
// of 0.5 + 0.01·scan, rising by 0.3 per point from point 51 on (the bottom
// pile-up), each scan starting one point further out than the one before
// (point counts 60 .. 51). Picked as loaded: meniscus 6.0 cm, start radius
// 6.02 cm, near-bottom radius 7.1 cm, bottom 7.18 cm; then the loading cut.
std::unique_ptr<AnalysisState> Loaded() {
  auto st = std::make_unique<AnalysisState>();
  AnalysisState& s = *st;
  s.scanCount = s.seqLast = 10;
  for (int j = 1; j <= 10; ++j) {
    s.scanSequence[j] = j;
    s.scanPointCount[j] = 61 - j;
    for (int i = 1; i <= s.scanPointCount[j]; ++i) {
      const int k = i + j - 1;  // index on the common grid
      s.scanRadius[j][i] = 6.0 + 0.02 * (k - 1);
      s.scanValue[j][i] = 0.5 + 0.01 * j + (k > 50 ? 0.3 * (k - 50) : 0.0);
    }
  }
  s.meniscusMarked = 6.0;
  s.bottomMarked = 7.18;
  s.startRadius = s.origStartRadius = 6.02;
  s.endRadius = s.nearBottomRadius = s.origEndRadius = 7.1;
  results::ApplyLoadingCut(s);
  return st;
}

std::vector<int> Sequence(const AnalysisState& st) {
  return {st.scanSequence.begin() + st.seqFirst, st.scanSequence.begin() + st.seqLast + 1};
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST(DataSetEditing, EveryLetterThenRestoreGivesBackTheLoadedSeriesValueByValue) {
  auto st = Loaded();
  const auto loaded = Loaded();
  EXPECT_EQ(st->scanLastPoint[1], 56);  // 7.10 cm
  StartTestConsole("3-5\r"   // A: sets 3, 4 and 5
                   "2\r"     // S: from the 2nd
                   "6\r"     // H: to the 6th
                   "6.51\r"  // K: near-bottom radius 6.51 cm
                   "6.09\r"  // M: start radius 6.09 cm
                   "0.515\r" // L: A_max 0.515, below every plateau but the first
                   "Y");     // O: the cut points as well
  ASSERT_TRUE(OmitDataSets(*st));
  EXPECT_EQ(Sequence(*st), (std::vector<int>{1, 2, 6, 7, 8, 9, 10}));
  EXPECT_EQ(st->omittedCount, 3);
  ChooseStartSet(*st);
  ChooseLastSet(*st);
  EXPECT_EQ(Sequence(*st), (std::vector<int>{2, 6, 7, 8, 9}));
  NewNearBottomRadius(*st);
  EXPECT_EQ(st->scanLastPoint[2], 25);  // 6.50 cm
  EXPECT_EQ(st->maxPointCount, 25);
  EXPECT_EQ(st->maxPointScan, 2);
  NewStartRadius(*st);
  EXPECT_EQ(st->scanFirstPoint[2], 5);  // 6.10 cm
  EXPECT_EQ(st->scanFirstPoint[6], 1);  // scan 6 starts at 6.10 cm
  ProposeMaxAbsorbance(*st);
  EXPECT_EQ(st->scanLastPoint[2], 5);  // every value of scan 2 exceeds 0.5: its first used point
  EXPECT_EQ(st->scanLastPoint[1], 26);  // scan 1 (0.51) up to the radius, 6.50 cm
  RestoreDataSets(*st);

  // Everything as loaded, every point back in use.
  EXPECT_EQ(Sequence(*st), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(st->scanCount, 10);
  EXPECT_EQ(st->omittedCount, 0);
  EXPECT_EQ(st->maxAbsorbance, 0.0);
  for (int j = 1; j <= 10; ++j) {
    ASSERT_EQ(st->scanPointCount[j], loaded->scanPointCount[j]) << j;
    EXPECT_EQ(st->scanFirstPoint[j], 1) << j;
    EXPECT_EQ(st->scanLastPoint[j], st->scanPointCount[j]) << j;
    for (int i = 1; i <= kMaxPoints; ++i) {
      ASSERT_EQ(st->scanRadius[j][i], loaded->scanRadius[j][i]) << j << " " << i;
      ASSERT_EQ(st->scanValue[j][i], loaded->scanValue[j][i]) << j << " " << i;
      ASSERT_EQ(st->pointMultiplicity[j][i], i <= st->scanPointCount[j] ? 1 : 0) << j << " " << i;
    }
  }
  EXPECT_EQ(st->maxPointCount, 60);
  EXPECT_EQ(st->pointScanCount[51], 10);
  EXPECT_EQ(st->pointScanCount[52], 9);
  // The radii go back to the marks.
  EXPECT_EQ(st->startRadius, 6.0);
  EXPECT_EQ(st->nearBottomRadius, 7.18);
  EXPECT_EQ(st->endRadius, 7.18);
}

TEST(DataSetEditing, OmittedNumbersAndRangesLieBetweenTheFirstAndLastUsedSet) {
  auto st = Loaded();
  st->seqFirst = 4;
  const std::string prompt = "What data files shall be omitted (between  4 and  10)   :  ";
  // The range 2-9 is clamped to 4..9: six sets go.
  StartTestConsole("2-9\r");
  ASSERT_TRUE(OmitDataSets(*st));
  EXPECT_EQ(TestTranscript(), prompt + "2-9\n");
  EXPECT_EQ(Sequence(*st), std::vector<int>{10});
  EXPECT_EQ(st->scanSequence[5], 4);  // the omitted scans wait behind the active part
  EXPECT_EQ(st->omittedCount, 6);
  // Refused and asked again: a number outside 4..10, a range missing it, all
  // the sets (none would be left); the numbers then name sets as listed,
  // in any order ("8 5" is 5 and 8, not 8 and 4). Empty: back to the menu.
  st = Loaded();
  st->seqFirst = 4;
  StartTestConsole("3 5\r11\r1-3\r4-10\r8 5 5\r");
  ASSERT_TRUE(OmitDataSets(*st));
  EXPECT_EQ(Count(TestTranscript(), prompt), 5);
  EXPECT_EQ(Sequence(*st), (std::vector<int>{4, 6, 7, 9, 10}));
  StartTestConsole("\r");
  EXPECT_FALSE(OmitDataSets(*st));
  EXPECT_EQ(st->seqLast, 8);
}

TEST(DataSetEditing, StartAndLastSetAskAgainOutsideTheirBounds) {
  auto st = Loaded();
  // S: above seqLast is refused; empty means 1, written at column 58.
  StartTestConsole("11\r0\r3\r");
  ChooseStartSet(*st);
  EXPECT_EQ(st->seqFirst, 3);
  const std::string s = "number of starting file  (between  1 and  10),Now    1 : ";
  EXPECT_EQ(TestTranscript(), s + "11\n" + s + "0\n" + s + "3\n");
  StartTestConsole("\r");
  ChooseStartSet(*st);
  EXPECT_EQ(st->seqFirst, 1);
  EXPECT_EQ(TestTranscript(), "number of starting file  (between  1 and  10),Now    3 : 1\n");
  // H after two sets were omitted: between seqFirst and 8; below seqFirst
  // and above 8 refused; empty takes all 8 (not scanCount, which would reach
  // into the omitted scans).
  StartTestConsole("1 2\r");
  ASSERT_TRUE(OmitDataSets(*st));
  st->seqFirst = 2;
  StartTestConsole("1\r9\r\r");
  ChooseLastSet(*st);
  const std::string h = "The last data file to fit(between  2 and   8),now    8 : ";
  EXPECT_EQ(TestTranscript(), h + "1\n" + h + "9\n" + h + "8\n");
  EXPECT_EQ(st->seqLast, 8);
  EXPECT_EQ(st->pointScanCount[1], 7);
}

TEST(DataSetEditing, RadialLimitsMoveTheFirstAndLastUsedPointsOfEveryScan) {
  auto st = Loaded();
  st->dampQ = 1;
  // K: an empty answer keeps 7.1 cm (written at column 62); a radius not
  // above the start radius is refused.
  const std::string k = "Radius near bottom (orig.radius= 7.1000) new radius: 7.1000 :  ";
  StartTestConsole("6.01\r\r");
  NewNearBottomRadius(*st);
  EXPECT_EQ(TestTranscript(), k + "6.01\n" + k + "\n" + k + "7.1000\n");
  EXPECT_EQ(st->dampQ, 5);
  // With a maximal absorbance the last point moves back past the pile-up:
  // scan 1 reaches 0.81 at point 51, scan 10 at point 42.
  st->maxAbsorbance = 0.6;
  StartTestConsole("7.15\r");
  NewNearBottomRadius(*st);
  EXPECT_EQ(st->nearBottomRadius, 7.15);
  EXPECT_EQ(st->scanLastPoint[1], 50);
  EXPECT_EQ(st->scanLastPoint[10], 41);
  // M: the first point at or beyond the radius; a scan cut short before it
  // keeps its last point as its only one; a radius not below the near-bottom
  // radius is refused.
  st->iterCount = 7;
  st->scanLastPoint[3] = 10;  // ends at 6.22 cm
  StartTestConsole("7.15\r6.305\r");
  NewStartRadius(*st);
  EXPECT_EQ(Count(TestTranscript(), "New start radius (orig. radius= 6.0200) new radius: 6.0200  :  "), 2);
  EXPECT_EQ(st->scanFirstPoint[1], 17);  // 6.32 cm
  EXPECT_EQ(st->scanFirstPoint[2], 16);
  EXPECT_EQ(st->scanFirstPoint[3], 10);
  EXPECT_EQ(st->iterCount, 0);
}

TEST(DataSetEditing, GraphChoiceOfSetsAndSpreading) {
  auto st = Loaded();
  st->seqFirst = 3;  // eight used sets
  // Last 6, start -2 (unspread), every 2nd: sets 2, 4, 6 of the used ones.
  StartTestConsole("6\r-2\r2\r");
  ChooseGraphSets(*st);
  EXPECT_EQ(TestTranscript(),
            "Chose last file                              (<=  8) :  6\n"
            "Chose start file (negativ without suppress)  (<=  6) :  -2\n"
            "Chose sequence of data files       (each 1. 2. n. )  :  2\n");
  EXPECT_EQ(st->display.plotLast, 6);
  EXPECT_EQ(st->display.plotFirst, 2);
  EXPECT_EQ(st->display.plotStep, 2);
  EXPECT_FALSE(st->display.spread);
  // A last set beyond the used ones keeps the choice; a start beyond it is
  // reduced to it; empty answers: start 1 (spread), step 1.
  StartTestConsole("9\r7\r\r");
  ChooseGraphSets(*st);
  EXPECT_EQ(st->display.plotLast, 6);
  EXPECT_EQ(st->display.plotFirst, 6);
  EXPECT_EQ(st->display.plotStep, 1);
  EXPECT_TRUE(st->display.spread);
  StartTestConsole("\r\r\r");
  ChooseGraphSets(*st);
  EXPECT_EQ(st->display.plotLast, 0);  // all
  EXPECT_EQ(st->display.plotFirst, 1);
  // The choice outlives the reset of the display flags, not a change of the
  // used sets.
  st->display.plotFirst = 4;
  st->display.resetFlags();
  EXPECT_EQ(st->display.plotFirst, 4);
  EXPECT_FALSE(st->display.spread);
  StartTestConsole("\r");
  ChooseStartSet(*st);
  EXPECT_EQ(st->display.plotFirst, 1);
}

}  // namespace
}  // namespace svfit::driver
