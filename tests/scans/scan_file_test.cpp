// The text rules of scan files: header pattern and numbers, the number-list
// rule, single numbers, title-row values and data lines.
#include "scans/scan_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace svfit::scans {
namespace {

TEST(Header, SearchFromLineTwoValuesWithTheInstrumentsQuirksAndRejectedLines) {
  const std::string text = "R 1 2 looks like a header\r\nsecond\r\nR 3 20.0 3000\r\n 5.9 0.1\r\n";
  const HeaderSearch found = FindHeader(text, 'R');
  EXPECT_EQ(found.headerLine, 3);
  EXPECT_EQ(found.titleLines[1], "second");
  EXPECT_EQ(text.substr(found.dataStart), " 5.9 0.1\r\n");
  EXPECT_FALSE(IsHeaderLine("R 12 20.0", 'R'));  // one cell digit, then a blank
  ScanHeader h;
  // Leading-zero temperature, two blanks before a four-digit speed, trailing blank.
  ASSERT_TRUE(ParseHeader("R 1 03.9  9000 0005858 3.6450E09 281 5 ", h));
  EXPECT_EQ(std::tuple(h.cell, h.temperature, h.rotorSpeed, h.elapsedTime, h.omega2t, h.wavelength,
                       h.seventh, h.numberCount),
            std::tuple(1, 3.9, 9000.0, 5858.0, 3.645e9, 281.0, 5.0, 7));
  ASSERT_TRUE(ParseHeader("P 4 19.9 50000 0000190 1.9906e09 675 50", h));  // "e" counts as "E"
  EXPECT_DOUBLE_EQ(h.omega2t, 1.9906e9);
  for (const char* bad : {"R 1 20,0 40000 3600 5.6E10 280 1", "R 1 20.0 40000 3600 5.6E10 280/1",
                          "R 1 20.0 40000 3600 5.6E10 280 1\t", "R 1 20.0 0 3600 5.6E10 280 1",
                          "R 1 20.0 -400 3600 5.6E10 280 1", "R 1 20.0", "R 1 20.0 4E999 3600 5.6E10 280 1"})
    EXPECT_FALSE(ParseHeader(bad, h)) << bad;  // foreign characters, no or no finite speed
}

TEST(Numbers, ListRuleAndSingleTokens) {
  // Every run of codes 43..69 is one number; a run that is no number gives 0 and counts as failed.
  double n[8] = {};
  int failed = -1;
  EXPECT_EQ(ParseNumberList("  12abc3.5 x -4E2", n, 8, &failed), 3);
  EXPECT_EQ(std::vector<double>(n, n + 3), (std::vector<double>{12, 3.5, -400}));
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(ParseNumberList("1:2 3/4 5", n, 8, &failed), 3);  // ":" and "/" belong to a run
  EXPECT_EQ(std::vector<double>(n, n + 3), (std::vector<double>{0, 0, 5}));
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(ParseNumberList("1 2 3 4", n, 2), 2);

  const std::pair<const char*, double> good[] = {
      {"1.62919E+00", 1.62919}, {"-1.19000E-001", -0.119}, {"9.10000E-0002", 0.091}, {"+5.", 5}, {".25", 0.25}};
  for (const auto& [text, value] : good) {
    double v = 0;
    EXPECT_TRUE(ParseNumber(text, v) && v == value) << text;
  }
  double v = 7;
  for (const char* bad : {"nan", "NaN", "inf", "-Infinity", "0x1p3", "1e999", "-1E400", "1.2.3", "+", "-", ".",
                          "E5", "1E", "1e+", "1,5", " 1", "1 ", ""})
    EXPECT_FALSE(ParseNumber(bad, v)) << bad;
  EXPECT_EQ(v, 7);
}

TEST(TitleRow, InterferenceRadialStepAndConcentration) {
  double step = 1;
  ASSERT_TRUE(ParseRadialStep("cm/pixel:  0.00071350165, Sample", step));
  EXPECT_DOUBLE_EQ(step, 0.00071350165);
  ASSERT_TRUE(ParseRadialStep("x 0.000696677370001", step));  // 13 characters from the first digit
  EXPECT_DOUBLE_EQ(step, 0.00069667737);
  for (const char* bad : {"Sample", "cell 4 run", "0.0000"}) EXPECT_FALSE(ParseRadialStep(bad, step)) << bad;
  EXPECT_DOUBLE_EQ(step, 0.00069667737);

  const std::pair<const char*, double> titles[] = {
      {"15uM protein", 15}, {"   BSA 0.52 mg/ml", 0.52}, {"run 12/05/01 BSA 1.5mg/ml", 1.5},  // a date is passed over
      {"SegB", 0},          {"BSA 5 mg/ml", 0},           {"a-0.5", 0}, {"", 0}};  // one digit alone is none
  for (const auto& [title, expected] : titles) {
    double c = 0;
    EXPECT_EQ(FindTitleConcentration(title, c), expected > 0) << title;
    EXPECT_EQ(c, expected) << title;
  }
}

TEST(DataLines, PointsBlankLinesBadLinesAndCtrlZ) {
  const std::string text = "   5.7030  -1.19000E-001    4.90900E-001\r\n\r\n  5.8 2.0\n5.9\t3.0 junk";
  DataCursor cursor(text, 0, 3);
  double r = 0, v = 0;
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_TRUE(r == 5.703 && v == -0.119 && cursor.lineNumber() == 3);
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_TRUE(r == 5.8 && cursor.lineNumber() == 5);
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);  // what follows the value is not read
  EXPECT_EQ(v, 3.0);
  EXPECT_EQ(cursor.Next(r, v), DataCursor::Status::kEndOfFile);
  EXPECT_EQ(cursor.Next(r, v), DataCursor::Status::kEndOfFile);

  DataCursor one("5.9 0.1\n5.91\n", 0, 1);
  EXPECT_EQ(one.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_EQ(one.Next(r, v), DataCursor::Status::kBadLine);
  EXPECT_EQ(one.lineNumber(), 2);
  EXPECT_EQ(DataCursor("5.9 nan\n", 0, 1).Next(r, v), DataCursor::Status::kBadLine);
  DataCursor ctrlZ("5.9 0.1\n\x1a garbage\n6.0 0.2\n", 0, 1);
  EXPECT_EQ(ctrlZ.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_EQ(ctrlZ.Next(r, v), DataCursor::Status::kEndOfFile);
}

}  // namespace
}  // namespace svfit::scans
