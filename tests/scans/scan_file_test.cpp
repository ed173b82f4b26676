// The text rules of scan files: header pattern and numbers, the number-list
// rule, data lines, title-row values.
#include "scans/scan_file.h"

#include <gtest/gtest.h>

#include <cmath>

namespace svfit::scans {
namespace {

TEST(HeaderLine, PatternNeedsKindBlankCellBlankDigit) {
  EXPECT_TRUE(IsHeaderLine("R 1 20.0 40000", 'R'));
  EXPECT_TRUE(IsHeaderLine("P 9 2", 'P'));
  EXPECT_FALSE(IsHeaderLine("P 4 19.9 50000", 'R'));  // other kind
  EXPECT_FALSE(IsHeaderLine("R 0 20.0", 'R'));        // cell 0
  EXPECT_FALSE(IsHeaderLine("R 12 20.0", 'R'));       // two-digit cell
  EXPECT_FALSE(IsHeaderLine("R 1  20.0", 'R'));       // no digit in column 5
  EXPECT_FALSE(IsHeaderLine("RA 1 20", 'R'));
  EXPECT_FALSE(IsHeaderLine("R 1 ", 'R'));
  EXPECT_FALSE(IsHeaderLine("r 1 20.0", 'R'));
}

TEST(HeaderLine, SearchStartsAtLineTwoAndKeepsTheLinesBefore) {
  const std::string text = "R 1 2 looks like a header\r\nsecond\r\nR 3 20.0 3000\r\n 5.9 0.1\r\n";
  const HeaderSearch found = FindHeader(text, 'R');
  EXPECT_EQ(found.headerLine, 3);
  EXPECT_EQ(found.header, "R 3 20.0 3000");
  EXPECT_EQ(found.titleLines[0], "R 1 2 looks like a header");
  EXPECT_EQ(found.titleLines[1], "second");
  EXPECT_EQ(found.titleLines[2], "");
  EXPECT_EQ(text.substr(found.dataStart), " 5.9 0.1\r\n");

  EXPECT_EQ(FindHeader("title\nno header\n 5.9 0.1\n", 'R').headerLine, 0);
  EXPECT_EQ(FindHeader("", 'R').headerLine, 0);
}

TEST(HeaderLine, LinesAreCutTo72Characters) {
  const std::string header = "R 1 20.0 40000 3600 5.6E10 280 1" + std::string(100, ' ') + "9";
  const HeaderSearch found = FindHeader("t\n" + header + "\n", 'R');
  EXPECT_EQ(found.header.size(), 72u);
}

TEST(HeaderValues, SevenNumbersInOrder) {
  ScanHeader h;
  ASSERT_TRUE(ParseHeader("R 1 20.0 40000 3600 5.6E10 280 1", h));
  EXPECT_EQ(h.cell, 1);
  EXPECT_DOUBLE_EQ(h.temperature, 20.0);
  EXPECT_DOUBLE_EQ(h.rotorSpeed, 40000);
  EXPECT_DOUBLE_EQ(h.elapsedTime, 3600);
  EXPECT_DOUBLE_EQ(h.omega2t, 5.6e10);
  EXPECT_DOUBLE_EQ(h.wavelength, 280);
  EXPECT_DOUBLE_EQ(h.seventh, 1);
  EXPECT_EQ(h.numberCount, 7);
}

TEST(HeaderValues, InstrumentQuirksAreRead) {
  ScanHeader h;
  // Leading-zero temperature, two blanks before a four-digit speed, trailing blank.
  ASSERT_TRUE(ParseHeader("R 1 03.9  9000 0005858 3.6450E09 281 5 ", h));
  EXPECT_DOUBLE_EQ(h.temperature, 3.9);
  EXPECT_DOUBLE_EQ(h.rotorSpeed, 9000);
  EXPECT_DOUBLE_EQ(h.elapsedTime, 5858);
  EXPECT_DOUBLE_EQ(h.seventh, 5);
  // A lower-case exponent letter counts as "E".
  ASSERT_TRUE(ParseHeader("P 4 19.9 50000 0000190 1.9906e09 675 50", h));
  EXPECT_DOUBLE_EQ(h.omega2t, 1.9906e9);
}

TEST(HeaderValues, ForeignCharactersOrNoSpeedRejectTheFile) {
  ScanHeader h;
  EXPECT_FALSE(ParseHeader("R 1 20,0 40000 3600 5.6E10 280 1", h));
  EXPECT_FALSE(ParseHeader("R 1 20.0 40000 3600 5.6E10 280/1", h));
  EXPECT_FALSE(ParseHeader("R 1 20.0 40000 3600 5.6E10 280 1\t", h));
  EXPECT_FALSE(ParseHeader("R 1 20.0 0 3600 5.6E10 280 1", h));     // no speed
  EXPECT_FALSE(ParseHeader("R 1 20.0 -400 3600 5.6E10 280 1", h));  // negative speed
  EXPECT_FALSE(ParseHeader("R 1 20.0", h));                         // no speed at all
  EXPECT_FALSE(ParseHeader("R 1 20.0 4E999 3600 5.6E10 280 1", h)); // speed out of range
}

TEST(NumberList, RunsOfCodes43To69AreNumbers) {
  double n[8] = {};
  int failed = -1;
  EXPECT_EQ(ParseNumberList("  12abc3.5 x -4E2", n, 8, &failed), 3);
  EXPECT_DOUBLE_EQ(n[0], 12);
  EXPECT_DOUBLE_EQ(n[1], 3.5);
  EXPECT_DOUBLE_EQ(n[2], -400);
  EXPECT_EQ(failed, 0);
  // ":" and "/" belong to a run: "1:2" and "3/4" are one run each, and no number.
  EXPECT_EQ(ParseNumberList("1:2 3/4 5", n, 8, &failed), 3);
  EXPECT_DOUBLE_EQ(n[0], 0);
  EXPECT_DOUBLE_EQ(n[1], 0);
  EXPECT_DOUBLE_EQ(n[2], 5);
  EXPECT_EQ(failed, 2);
  // Scanning stops at the expected count.
  EXPECT_EQ(ParseNumberList("1 2 3 4", n, 2), 2);
  EXPECT_EQ(ParseNumberList("", n, 2), 0);
}

TEST(Numbers, ExponentWidthsOfTheInstrumentFiles) {
  double v = 0;
  ASSERT_TRUE(ParseNumber("1.62919E+00", v));
  EXPECT_DOUBLE_EQ(v, 1.62919);
  ASSERT_TRUE(ParseNumber("-1.19000E-001", v));
  EXPECT_DOUBLE_EQ(v, -0.119);
  ASSERT_TRUE(ParseNumber("9.10000E-0002", v));
  EXPECT_DOUBLE_EQ(v, 0.091);
  ASSERT_TRUE(ParseNumber("+5.", v));
  EXPECT_DOUBLE_EQ(v, 5);
  ASSERT_TRUE(ParseNumber(".25", v));
  EXPECT_DOUBLE_EQ(v, 0.25);
}

TEST(Numbers, NoNonFiniteOrForeignForms) {
  double v = 7;
  for (const char* bad : {"nan", "NaN", "inf", "-Infinity", "0x1p3", "1e999", "-1E400", "1.2.3", "+",
                          "-", ".", "E5", "1E", "1e+", "1,5", " 1", "1 ", ""}) {
    EXPECT_FALSE(ParseNumber(bad, v)) << bad;
  }
  EXPECT_EQ(v, 7);
}

TEST(TitleRow, InterferenceRadialStep) {
  double step = 1;
  ASSERT_TRUE(ParseRadialStep("cm/pixel:  0.00071350165, Sample", step));
  EXPECT_DOUBLE_EQ(step, 0.00071350165);
  // Only 13 characters from the first digit count.
  ASSERT_TRUE(ParseRadialStep("x 0.000696677370001", step));
  EXPECT_DOUBLE_EQ(step, 0.00069667737);
  step = 0.5e-3;
  EXPECT_FALSE(ParseRadialStep("Sample", step));
  EXPECT_FALSE(ParseRadialStep("cell 4 run", step));  // 4 cm is no pixel spacing
  EXPECT_FALSE(ParseRadialStep("0.0000", step));
  EXPECT_DOUBLE_EQ(step, 0.5e-3);
}

TEST(TitleRow, ConcentrationAfterABlank) {
  double c = 0;
  ASSERT_TRUE(FindTitleConcentration("15uM protein", c));
  EXPECT_DOUBLE_EQ(c, 15);
  ASSERT_TRUE(FindTitleConcentration("   BSA 0.52 mg/ml", c));
  EXPECT_DOUBLE_EQ(c, 0.52);
  ASSERT_TRUE(FindTitleConcentration("run 12/05/01 BSA 1.5mg/ml", c));  // a date is passed over
  EXPECT_DOUBLE_EQ(c, 1.5);
  EXPECT_FALSE(FindTitleConcentration("SegB", c));
  EXPECT_FALSE(FindTitleConcentration("BSA 5 mg/ml", c));  // one digit alone is no concentration
  EXPECT_FALSE(FindTitleConcentration("a-0.5", c));
  EXPECT_FALSE(FindTitleConcentration("", c));
}

TEST(DataLines, PointsBlankLinesAndLineEnds) {
  const std::string text = "   5.7030  -1.19000E-001    4.90900E-001\r\n\r\n  5.8 2.0\n5.9\t3.0 junk";
  DataCursor cursor(text, 0, 3);
  double r = 0, v = 0;
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_DOUBLE_EQ(r, 5.703);
  EXPECT_DOUBLE_EQ(v, -0.119);
  EXPECT_EQ(cursor.lineNumber(), 3);
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_DOUBLE_EQ(r, 5.8);
  EXPECT_EQ(cursor.lineNumber(), 5);
  ASSERT_EQ(cursor.Next(r, v), DataCursor::Status::kPoint);  // what follows the value is not read
  EXPECT_DOUBLE_EQ(v, 3.0);
  EXPECT_EQ(cursor.Next(r, v), DataCursor::Status::kEndOfFile);
  EXPECT_EQ(cursor.Next(r, v), DataCursor::Status::kEndOfFile);
}

TEST(DataLines, BadLinesAndCtrlZ) {
  double r = 0, v = 0;
  DataCursor one("5.9 0.1\n5.91\n", 0, 1);
  EXPECT_EQ(one.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_EQ(one.Next(r, v), DataCursor::Status::kBadLine);
  EXPECT_EQ(one.lineNumber(), 2);
  DataCursor two("5.9 nan\n", 0, 1);
  EXPECT_EQ(two.Next(r, v), DataCursor::Status::kBadLine);
  DataCursor three("5.9 0.1\n\x1a garbage\n6.0 0.2\n", 0, 1);
  EXPECT_EQ(three.Next(r, v), DataCursor::Status::kPoint);
  EXPECT_EQ(three.Next(r, v), DataCursor::Status::kEndOfFile);
}

}  // namespace
}  // namespace svfit::scans
