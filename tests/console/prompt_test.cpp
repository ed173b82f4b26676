// The question forms against the test console: what is accepted, what is
// asked again, and what the screen and the transcript show; the number forms
// of the answers, the report and the files.
#include "console/prompt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "console/crt.h"
#include "console/format.h"

namespace svfit::console {
namespace {

std::string Pad(std::string s) {
  s.resize(80, ' ');
  return s;
}

constexpr std::string_view kGeneration =
    "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ";

int AskGeneration() {
  return AskKey({.prompt = kGeneration, .keys = "NOI", .enter = 'N', .aliases = "AO"});
}

// ---- Single key ------------------------------------------------------------------

TEST(AskKey, RefusedKeysWriteThePromptAgainOnTheSameRow) {
  StartTestConsole(std::string("xZ\0H", 4) + "i");
  EXPECT_EQ(AskGeneration(), 'I');
  EXPECT_EQ(ScreenRow(1), Pad(std::string(kGeneration) + "I"));
  EXPECT_EQ(ScreenRow(2), Pad(""));
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(1, 2));
  const std::string p(kGeneration);
  EXPECT_EQ(TestTranscript(), p + "\n" + p + "\n" + p + "\n" + p + "I\n");
}

TEST(AskKey, EnterAndAliasesEchoTheirMeaningAndEchoColumnAndColour) {
  StartTestConsole("\raq");
  EXPECT_EQ(AskGeneration(), 'N');
  EXPECT_EQ(AskGeneration(), 'O');
  EXPECT_EQ(ScreenRow(1), Pad(std::string(kGeneration) + "N"));
  EXPECT_EQ(ScreenRow(2), Pad(std::string(kGeneration) + "O"));
  // A prompt that takes every key, echoed in white at column 79.
  SetTextColor(kYellow);
  EXPECT_EQ(AskKey({.prompt = "letter", .echoColor = kWhite, .echoColumn = 79}), 'Q');
  EXPECT_EQ(ScreenRow(3).substr(78), "Q ");
  EXPECT_EQ(ScreenAttribute(79, 3), kWhite);
  EXPECT_EQ(ScreenAttribute(1, 3), kYellow);
  EXPECT_EQ(TextAttribute(), kYellow);  // the colour comes back after the echo
}

TEST(AskYesNo, EachRuleAcceptsItsKeysAndEchoesYOrN) {
  const struct {
    YesNo rule;
    const char* keys;
    std::vector<bool> answers;
    const char* transcript;
  } rules[] = {
      {YesNo::kJNoEnter, "\rxJ", {true}, "q\nq\nqY\n"},  // the RI noise prompt: J is yes
      {YesNo::kJEnterNo, "\rjn", {false, true, false}, "qN\nqY\nqN\n"},
      {YesNo::kEnterYes, "\rjN", {true, false}, "qY\nq\nqN\n"},  // outliers: J refused
      {YesNo::kEnterNo, "\ry", {false, true}, "qN\nqY\n"},
      {YesNo::kOnlyY, "x\ry", {false, false, true}, "qN\nqN\nqY\n"}};  // every key answers
  for (const auto& r : rules) {
    StartTestConsole(r.keys);
    for (bool yes : r.answers) EXPECT_EQ(AskYesNo("q", r.rule), yes) << r.keys;
    EXPECT_EQ(TestTranscript(), r.transcript) << r.keys;
  }
}

// ---- Number with default -----------------------------------------------------------

constexpr std::string_view kIterations =
    "max. number of iterations  (200=default)               :  ";

TEST(AskNumber, EmptyAnswerWritesTheDefaultAtItsColumnInTheAnsweredRow) {
  ASSERT_EQ(kIterations.size(), 58u);
  StartTestConsole("\r");
  const NumberAnswer a =
      AskNumber({.prompt = kIterations, .defaultValue = 200, .defaultColumn = 59, .integer = true});
  EXPECT_TRUE(a.empty);
  EXPECT_EQ(a.asInt(), 200);
  EXPECT_EQ(ScreenRow(1), Pad(std::string(kIterations) + "200"));
  EXPECT_EQ(CursorRow(), 2);
  EXPECT_EQ(TestTranscript(), std::string(kIterations) + "200\n");
  StartTestConsole("\r");
  MoveCursor(1, 25);
  Write("above");
  MoveCursor(1, 25);
  ClearToEndOfLine();
  AskNumber({.prompt = "damping :  ", .defaultValue = 5, .defaultColumn = 12});
  EXPECT_EQ(ScreenRow(24), Pad("damping :  5"));
  EXPECT_EQ(ScreenRow(25), Pad(""));
}

TEST(AskNumber, FirstCharacterRulesAndDefaultForms) {
  // ".73" and "1.2" are refused as partial specific volumes, "0.5" as a radius.
  StartTestConsole(".73\r1.2\r0.73\r0.5\r6.95\r");
  const NumberAnswer a = AskNumber({.prompt = "psv :  ", .defaultValue = 0.736, .defaultColumn = 8,
                                    .first = FirstChar::kZeroPoint});
  EXPECT_DOUBLE_EQ(a.value, 0.73);
  EXPECT_FALSE(a.empty);
  EXPECT_EQ(ScreenRow(1), Pad("psv :  0.73"));
  EXPECT_EQ(ScreenRow(2), Pad(""));
  EXPECT_EQ(TestTranscript(), "psv :  .73\npsv :  1.2\npsv :  0.73\n");
  EXPECT_DOUBLE_EQ(AskNumber({.prompt = "r :  ", .first = FirstChar::kOneToNine}).value, 6.95);
  EXPECT_EQ(ScreenRow(2), Pad("r :  6.95"));
  // Defaults in their shortest form or in a fixed width.
  StartTestConsole("\r\r");
  AskNumber({.prompt = "psv :  ", .defaultValue = 0.736, .defaultColumn = 8,
             .first = FirstChar::kZeroPoint});
  AskNumber({.prompt = "radius :  ", .defaultValue = 6.5, .defaultColumn = 11,
             .first = FirstChar::kOneToNine, .defaultWidth = 8, .defaultDecimals = 4});
  EXPECT_EQ(ScreenRow(1), Pad("psv :  0.736"));
  EXPECT_EQ(ScreenRow(2), Pad("radius :    6.5000"));
}

TEST(AskNumber, TextThatIsNoNumberIsAskedAgainOnTheRowsItSpilledInto) {
  // "2o0" is no number, "12.5" no whole number, " 7" starts with a blank,
  // "-3" with a sign, 30 is too large, 100 letters spill into the next row.
  StartTestConsole("2o0\r12.5\r 7\r-3\r30\r" + std::string(100, 'x') + "\r7\r");
  const NumberAnswer a = AskNumber({.prompt = "n :  ", .integer = true,
                                    .valid = [](double v) { return v <= 20; }});
  EXPECT_EQ(a.asInt(), 7) << TestTranscript();
  EXPECT_EQ(ScreenRow(1), Pad("n :  7"));
  EXPECT_EQ(ScreenRow(2), Pad(""));
}

// ---- Number lists and ranges ------------------------------------------------------------

TEST(ScanNumberList, RunsOfCodes43To69AreNumbersAndShortHyphenatedPairsRanges) {
  // Text, numbers expected, ranges recognised; then the result: ok, a range, the numbers.
  struct Case { const char* text; int expected; bool ranges, ok, isRange; std::vector<double> v; };
  const Case cases[] = {
      {"  12  7 x 3.5E1 e 2", 10, false, true, false, {12, 7, 35, 2}},  // small e separates
      {"1 2 3 4", 2, false, true, false, {1, 2}},  // stops at the expected count
      {"1,5 2", 5, false, false, false, {}},       // the comma belongs to the number
      {"R 1 6.0 2.1E+04", 5, false, true, false, {1, 6.0, 21000}},
      {"3-17", 700, true, true, true, {3, 17}},
      {"123-130", 700, true, true, true, {123, 130}},
      {"1234-1300", 700, true, false, false, {}},  // the hyphen is the fifth character
      {"-5 7", 700, true, true, false, {-5, 7}},
      {"3-", 700, true, false, true, {}},  // a range without its end
      {"3-17", 700, false, false, false, {}}};  // without range recognition: no number
  for (const Case& c : cases) {
    const NumberList r = ScanNumberList(c.text, c.expected, c.ranges);
    EXPECT_EQ(r.ok, c.ok) << c.text;
    EXPECT_EQ(r.isRange, c.isRange) << c.text;
    if (c.ok) { EXPECT_EQ(r.values, c.v) << c.text; }
  }
}

TEST(AskNumberList, EmptyLineIsReadAgainUnlessAllowed) {
  StartTestConsole("\r1/2\r4 9\r\r2-9\r");
  EXPECT_EQ(AskNumberList("which :  ", 10).values, (std::vector<double>{4, 9}));
  EXPECT_EQ(ScreenRow(1), Pad("which :  4 9"));
  EXPECT_TRUE(AskNumberList("w", 10, {.ranges = true, .emptyAllowed = true}).values.empty());
  const NumberList r = AskNumberList("w", 10, {.ranges = true});
  EXPECT_TRUE(r.isRange);
  EXPECT_EQ(r.values, (std::vector<double>{2, 9}));
}

// ---- Line editor ----------------------------------------------------------------------

constexpr char kHome[] = {0, 71, 0};
constexpr char kEnd[] = {0, 79, 0};
constexpr char kLeft[] = {0, 75, 0};
constexpr char kRight[] = {0, 77, 0};
std::string K(const char* two) { return std::string(two, 2); }

TEST(EditLine, InsertMoveDeleteAndClear) {
  StartTestConsole(K(kHome) + "x" + K(kEnd) + "\b" + K(kLeft) + K(kLeft) + "-" + K(kRight) +
                   K(kRight) + K(kRight) + "!\r");
  Write("t: ");
  EXPECT_EQ(EditLine("abc"), "x-ab!");
  EXPECT_EQ(ScreenRow(1), Pad("t: x-ab!"));
  EXPECT_EQ(CursorRow(), 2);

  StartTestConsole("\x19\b" + K(kLeft) + "n" + K(kRight) + "ew\r");  // nothing left of the start
  EXPECT_EQ(EditLine("old text"), "new");
  EXPECT_EQ(ScreenRow(1), Pad("new"));
  EXPECT_EQ(TestTranscript(), "old text\nnew\n");
}

TEST(EditLine, AtMost72CharactersAndTheCursorStaysLeftOfColumn80) {
  StartTestConsole(std::string(80, 'k') + "\r" + std::string(100, 'q') + "\r");
  EXPECT_EQ(EditLine("").size(), 72u);
  EXPECT_EQ(ReadAnswer(), std::string(72, 'q'));

  StartTestConsole(std::string(20, 'z') + K(kLeft));
  MoveCursor(70, 3);
  EXPECT_THROW(EditLine(""), InputEnded);
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(79, 3));
  EXPECT_EQ(ScreenRow(3), Pad(std::string(69, ' ') + std::string(10, 'z')));
  EXPECT_EQ(ScreenRow(4), Pad(""));
}

// ---- Number forms ------------------------------------------------------------------------

TEST(FormatExp, FiveSignificantDigitsAndTwoExponentDigits) {
  EXPECT_EQ(FormatExp11(0.000123456), " 1.2346E-04");
  EXPECT_EQ(FormatExp11(-4.4e-13), "-4.4000E-13");
  EXPECT_EQ(FormatExp11(0.0), " 0.0000E+00");
  EXPECT_EQ(FormatExp11(1.5e-123), " 1.5000E-23");  // a three-digit exponent keeps its last two
  EXPECT_EQ(FormatExp11(66500.0).size(), 11u);
  // Four digits without the E.
  EXPECT_EQ(FormatExp10(123.46), " 1.235+02 ");
  EXPECT_EQ(FormatExp10(-0.00512), "-5.120-03 ");
  EXPECT_EQ(FormatExp10(1e-120), " 0.000+00 ");
  // The distribution file: 15 digits, four exponent digits, 23 columns.
  EXPECT_EQ(FormatExp23(-1234.5), "-1.23450000000000E+0003");
  EXPECT_EQ(FormatExp23(2.0 / 3e-123), " 6.66666666666667E+0122");
  // The SEDFIT parameter file: 6 decimals, no blanks, no negative zero.
  EXPECT_EQ(FormatPlain6(-0.0) + FormatPlain6(1) + FormatPlain6(-12345.6789),
            "0.0000001.000000-12345.678900");
}

TEST(FixedForms, RightAlignedWideningAndNonFiniteValuesDoNotStopTheReport) {
  EXPECT_EQ(FormatF(3.14159, 8, 5), " 3.14159");
  EXPECT_EQ(FormatF(1234.5, 3, 1), "1234.5");
  EXPECT_EQ(FormatF(3600.4, 5, 0), " 3600");
  EXPECT_EQ(FormatI(42, 5), "   42");
  EXPECT_EQ(RealToText(0.736, 8, 3), "0.736   ");
  EXPECT_EQ(IntToTextZeros(7, 5), "00007");
  EXPECT_EQ(IntToTwoDigits(7) + IntToTwoDigits(12), "0712");
  EXPECT_EQ(FormatExp11(INFINITY), "       +Inf");
  EXPECT_EQ(FormatExp11(NAN), "        NaN");
  EXPECT_EQ(FormatF(-INFINITY, 6, 2), "  -Inf");
}

}  // namespace
}  // namespace svfit::console
