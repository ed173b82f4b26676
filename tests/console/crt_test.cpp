// The console against the test front end: its grid, key queue, line editor
// and transcript, and the bytes of the script front end decoded to keys; the
// question forms (what is accepted, what is asked again, what the screen and
// the transcript show); the number forms of the answers, the report and the
// files.
#include "console/crt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "console/format.h"
#include "console/key_decoder.h"
#include "console/prompt.h"

namespace svfit::console {
namespace {

std::string Pad(std::string s) {
  s.resize(80, ' ');
  return s;
}

TEST(CrtGrid, EightyCharactersWrapLineFeedReturnAndBackspaceMoveOneWayEach) {
  StartTestConsole("");
  Write(std::string(80, 'x'));
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(1, 2));
  WriteLn();
  EXPECT_EQ(CursorRow(), 3);
  EXPECT_EQ(ScreenRow(2), Pad(""));
  Write(std::string(80, 'y') + "z");  // the 81st lands in column 1 of the next row
  EXPECT_EQ(ScreenRow(4), Pad("z"));
  EXPECT_EQ(CursorColumn(), 2);
  // A line feed only moves down, a carriage return only goes left.
  Write("\nab\ncd\rE");
  EXPECT_EQ(ScreenRow(5), Pad(" ab"));
  EXPECT_EQ(ScreenRow(6), Pad("E  cd"));
  // Backspace blanks the cell to the left, which keeps its attribute; nothing at column 1.
  MoveCursor(1, 7);
  SetTextColor(kLightRed);
  Write("\bab");
  SetTextColor(kWhite);
  Write("\b");
  EXPECT_EQ(ScreenRow(7), Pad("a"));
  EXPECT_EQ(CursorColumn(), 2);
  EXPECT_EQ(ScreenAttribute(2, 7), kLightRed);
  Write("\b\b\b");
  EXPECT_EQ(CursorColumn(), 1);
  EXPECT_EQ(ScreenRow(7), Pad(""));
}

TEST(CrtGrid, LineFeedOnTheLastRowScrollsAndClearsFillWithTheBackground) {
  StartTestConsole("");
  for (int i = 1; i <= 25; ++i) Write((i > 1 ? "\r\nrow " : "row ") + std::to_string(i));
  SetTextBackground(kBlue);
  SetTextColor(kYellow);
  EXPECT_EQ(LinesScrolled(), 0);
  WriteLn();
  EXPECT_EQ(LinesScrolled(), 1);
  EXPECT_EQ(ScreenRow(1), Pad("row 2"));
  EXPECT_EQ(ScreenRow(24), Pad("row 25"));
  EXPECT_EQ(ScreenRow(25), Pad(""));
  EXPECT_EQ(ScreenAttribute(1, 25), 0x1E);
  EXPECT_EQ(ScreenAttribute(80, 25), 0x1E);
  EXPECT_EQ(ScreenAttribute(1, 24), 0x07);  // scrolled rows keep their colours
  EXPECT_EQ(CursorRow(), 25);
  // A ring of rows: scrolling many times keeps the order.
  for (int i = 26; i <= 80; ++i) WriteLn("row " + std::to_string(i));
  EXPECT_EQ(ScreenRow(1), Pad("row 57"));
  EXPECT_EQ(ScreenRow(24), Pad("row 80"));
  MoveCursor(3, 1);
  ClearToEndOfLine();
  EXPECT_EQ(ScreenRow(1), Pad("ro"));
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(3, 1));  // the cursor stays
  SetTextBackground(kRed);
  ClearScreen();
  EXPECT_EQ(ScreenRow(1), Pad(""));
  EXPECT_EQ(ScreenAttribute(40, 12), 0x4E);
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(1, 1));
}

TEST(CrtGrid, MoveCursorTakesCoordinatesModulo256AndClampsThemAndAttributes) {
  StartTestConsole("");
  // (0, 0) -> (1, 1), (200, 99) -> (80, 25), 257 and 258 are 1 and 2, -1 is 255.
  const int moves[][4] = {{0, 0, 1, 1}, {200, 99, 80, 25}, {257, 258, 1, 2}, {-1, 5, 80, 5}};
  for (const auto& m : moves) {
    MoveCursor(m[0], m[1]);
    EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(m[2], m[3])) << m[0];
  }
  EXPECT_EQ(TextAttribute(), 0x07);
  SetTextBackground(kBlue);
  SetTextColor(30);  // above 15: the blink bit is set as well
  EXPECT_EQ(TextAttribute(), 0x9E);
  SetTextColor(kYellow);
  SetTextBackground(12);  // only three background bits
  EXPECT_EQ(TextAttribute(), 0x4E);
}

// ---- Keys ------------------------------------------------------------------------

TEST(CrtKeys, SixteenthKeyBeepsAndKeysAreLostUntilTheQueueIsEmpty) {
  StartTestConsole("");
  for (int i = 0; i < 16; ++i) PostKey('a' + i);
  EXPECT_EQ(TestBeepCount(), 1);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(ReadKey(), 'a' + i);
  PostKey('z');  // one place is free, but the overflow holds until empty
  EXPECT_EQ(TestBeepCount(), 2);
  EXPECT_EQ(ReadKey(), 'a' + 14);  // the fifteenth; the queue is empty now
  EXPECT_FALSE(KeyPressed());
  PostKey('q');
  EXPECT_EQ(TestBeepCount(), 2);
  EXPECT_EQ(ReadKey(), 'q');
  // An extended key needs two free bytes.
  for (int i = 0; i < 14; ++i) PostKey('0' + i);
  PostExtendedKey(kScanF1);
  EXPECT_EQ(TestBeepCount(), 3);
  for (int i = 0; i < 14; ++i) ReadKey();
  PostExtendedKey(kScanF1);
  EXPECT_EQ(ReadKey(), 0);
  EXPECT_TRUE(KeyPressed());
  EXPECT_EQ(ReadKey(), 59);
}

TEST(CrtKeys, F1FromTheScriptIsZeroThen59KeyPressedDoesNotReadAheadMouseStateIsClamped) {
  StartTestConsole(std::string("\0;xy", 4));
  EXPECT_FALSE(KeyPressed());
  EXPECT_EQ(ReadKey(), 0);
  EXPECT_EQ(ReadKey(), 59);
  EXPECT_FALSE(KeyPressed());
  PostKey('I');
  EXPECT_TRUE(KeyPressed());
  EXPECT_EQ(ReadKey(), 'I');
  EXPECT_EQ(ReadKey(), 'x');
  EXPECT_EQ(ReadKey(), 'y');
  EXPECT_THROW(ReadKey(), InputEnded);
  // The mouse state is clamped; keys leave the shift state.
  StartTestConsole("a");
  PostMouse(20000, -20000, 3, true);
  EXPECT_EQ(std::tuple(MouseX(), MouseY(), MouseButtons()), std::tuple(10000, -10000, 3));
  PostExtendedKey(kScanLeft);
  EXPECT_EQ(ReadKey(), 0);
  EXPECT_EQ(ReadKey(), kScanLeft);
  EXPECT_EQ(ReadKey(), 'a');
  EXPECT_TRUE(ShiftDown());  // recorded with the mouse event, kept by the keys
}

TEST(CrtKeys, CtrlCShowsCaretCAndEndsWithCode1AtTheNextKeyAccess) {
  StartTestConsole("ab\x03xyz");
  try {
    ReadLine();
    FAIL() << "Ctrl-C did not end the program";
  } catch (const ConsoleExited& e) {
    EXPECT_EQ(e.code, 1);
  }
  EXPECT_EQ(ScreenRow(1), Pad("ab^C"));
  EXPECT_EQ(WindowTitle(), "svfit: cancelled by user");
  StartTestConsole("");
  PostKey(3);  // from another window
  EXPECT_THROW(KeyPressed(), ConsoleExited);
  StartTestConsole("");
  try {
    ConsoleHalt(0);
  } catch (const ConsoleExited& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_EQ(WindowTitle(), "svfit: finished");
}

// ---- Line editor of the input stream ------------------------------------------------

TEST(CrtReadLine, BufferOf128TakesAt126CharactersBackspaceSparesThePromptCtrlZIsALetter) {
  StartTestConsole(std::string(130, 'a') + "\r");
  EXPECT_EQ(ReadLine(128).size(), 126u);
  EXPECT_EQ(CursorRow(), 3);  // 126 echoed characters span two rows, then CR LF
  StartTestConsole(std::string("ab\b\b\bc\0;\r", 9));
  Write("Q: ");
  EXPECT_EQ(ReadLine(), std::string("c\0;", 3));  // an extended key is stored as two characters
  EXPECT_EQ(ScreenRow(1).substr(0, 4), "Q: c");
  StartTestConsole("ab\x1a" "c\r");
  EXPECT_EQ(ReadLine(), "ab\x1a" "c");
  EXPECT_EQ(ScreenRow(1)[2], '\x1a');  // stored and echoed like a letter
}

// ---- Transcript --------------------------------------------------------------------

TEST(CrtTranscript, TextAppearsAsWrittenWrapsAnnouncementsStandAloneRowsAreWrittenAgain) {
  StartTestConsole("");
  WriteLn("s in \xB5m");  // Latin-1 becomes UTF-8, control bytes their pictures
  Write("x\x01");
  WriteLn();
  WriteLn();
  Write(std::string(80, 'w'));
  WriteLn();
  Write("half");
  Announce("[graph 1]");
  Write("rest");
  ClearScreen();
  WriteLn("top");
  EXPECT_EQ(TestTranscript(), "s in \xC2\xB5m\nx\xE2\x90\x81\n\n" + std::string(80, 'w') +
                                  "\n\nhalf\n[graph 1]\nhalfrest\ntop\n");
  // A default written back into the answered row, and a prompt written again in
  // place: the transcripts of the question forms (below).
  // Backspace shows the row as it now stands at the next key read.
  StartTestConsole("ab\bc\r");
  Write("> ");
  EXPECT_EQ(ReadLine(), "ac");
  EXPECT_EQ(TestTranscript(), "> ab\n> ac\n");
  // Another row repeats the cells left of the cursor.
  StartTestConsole("");
  WriteLn("Title row");
  WriteLn("second");
  MoveCursor(7, 1);
  Write("!");
  EXPECT_EQ(TestTranscript(), "Title row\nsecond\nTitle !");
}

// ---- Bytes of the script front end ---------------------------------------------------

using detail::ByteSource;
using detail::DecodedKey;
using detail::KeyDecoder;

constexpr int kPause = ByteSource::kTimeout;  // in a script: nothing arrives in time

class FakeSource final : public ByteSource {
 public:
  explicit FakeSource(std::vector<int> bytes) : bytes_(std::move(bytes)) {}
  explicit FakeSource(std::string_view s) {
    for (char c : s) bytes_.push_back(static_cast<unsigned char>(c));
  }
  int Get(int) override { return pos_ < bytes_.size() ? bytes_[pos_++] : kEnd; }

 private:
  std::vector<int> bytes_;
  std::size_t pos_ = 0;
};

// All keys up to the end, as the console would receive them: characters as
// themselves, extended keys as 0 and the scan code.
std::vector<int> Keys(ByteSource&& in) {
  KeyDecoder d;
  std::vector<int> out;
  for (int guard = 0; guard < 10000; ++guard) {
    const DecodedKey k = d.Next(in, -1);
    if (k.kind == DecodedKey::kEnd) return out;
    if (k.kind == DecodedKey::kChar) out.push_back(k.code);
    if (k.kind == DecodedKey::kExtended) {
      out.push_back(0);
      out.push_back(k.code);
    }
  }
  ADD_FAILURE() << "decoder did not reach the end";
  return out;
}

using V = std::vector<int>;

TEST(KeyDecoder, LineEndsCursorAndFunctionKeySequences) {
  EXPECT_EQ(Keys(FakeSource("a\r\nb\nc\r\rd\n\n")),  // CR LF is one Enter
            (V{'a', 13, 'b', 13, 'c', 13, 13, 'd', 13, 13}));
  EXPECT_EQ(Keys(FakeSource("x\x7f")), (V{'x', 8}));
  EXPECT_EQ(Keys(FakeSource("\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F")),
            (V{0, 72, 0, 80, 0, 77, 0, 75, 0, 71, 0, 79}));
  EXPECT_EQ(Keys(FakeSource("\x1bOP\x1bOS\x1b[15~\x1b[21~\x1b[23~\x1b[24~")),
            (V{0, 59, 0, 62, 0, 63, 0, 68, 0, 133, 0, 134}));
  EXPECT_EQ(Keys(FakeSource("\x1b[2~\x1b[3~\x1b[5~\x1b[6~\x1b[1~\x1b[4~")),
            (V{0, 82, 0, 83, 0, 73, 0, 81, 0, 71, 0, 79}));
  EXPECT_EQ(Keys(FakeSource("\x1b[1;5C\x1b[[A\x1b[1;2P")), (V{0, 77, 0, 59, 0, 59}));
  // Shift comes from the xterm modifier; a character says nothing about it.
  const std::pair<std::string_view, int> shifts[] = {
      {"\x1b[1;2D", 1}, {"\x1b[1;6C", 1}, {"\x1b[1;5C", 0}, {"\x1b[5;2~", 1},
      {"\x1b[D", 0},    {"\x1bOD", 0},    {"a", -1}};
  for (const auto& [bytes, shift] : shifts) {
    FakeSource in(bytes);
    EXPECT_EQ(KeyDecoder().Next(in, -1).shift, shift) << bytes;
  }
}

TEST(KeyDecoder, LoneEscapeDoesNotWaitBrokenSequencesAreDroppedUtf8BecomesLatin1) {
  EXPECT_EQ(Keys(FakeSource(V{27, kPause, 'x'})), (V{27, 'x'}));
  EXPECT_EQ(Keys(FakeSource(V{27})), (V{27}));
  EXPECT_EQ(Keys(FakeSource("\x1bx")), (V{27, 'x'}));  // Alt-x: two keys
  EXPECT_EQ(Keys(FakeSource(V{27, 'O', kPause, 'k'})), (V{27, 'O', 'k'}));
  EXPECT_EQ(Keys(FakeSource("\x1bOY\x1b[\n")), (V{27, 'O', 'Y', 27, '[', 13}));  // no sequence
  EXPECT_EQ(Keys(FakeSource("\x1b[99~a\x1b[Zb")), (V{'a', 'b'}));
  EXPECT_EQ(Keys(FakeSource(V{27, '[', '1', kPause, 'y'})), (V{'y'}));
  EXPECT_EQ(Keys(FakeSource("\x1b[1\r2")), (V{13, '2'}));  // the stray CR survives
  EXPECT_EQ(Keys(FakeSource("\x1b[" + std::string(40, '1') + "~z")), (V{'z'}));
  EXPECT_EQ(Keys(FakeSource("\xC2\xB5\xC3\xA4")), (V{0xB5, 0xE4}));
  EXPECT_EQ(Keys(FakeSource("\xE2\x82\xAC")), (V{'?'}));   // euro sign: not Latin-1
  EXPECT_EQ(Keys(FakeSource("\xC3" "a")), (V{0xC3, 'a'}));  // not UTF-8: Latin-1 byte
  EXPECT_EQ(Keys(FakeSource("\xB5")), (V{0xB5}));
}

constexpr std::string_view kGeneration =
    "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ";

int AskGeneration() {
  return AskKey({.prompt = kGeneration, .keys = "NOI", .enter = 'N', .aliases = "AO"});
}

// ---- Single key ------------------------------------------------------------------

TEST(AskKey, RefusedKeysWriteThePromptAgainEnterAndAliasesEchoTheirMeaningColumnColour) {
  StartTestConsole(std::string("xZ\0H", 4) + "i");
  EXPECT_EQ(AskGeneration(), 'I');
  EXPECT_EQ(ScreenRow(1), Pad(std::string(kGeneration) + "I"));
  EXPECT_EQ(ScreenRow(2), Pad(""));
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(1, 2));
  const std::string p(kGeneration);
  EXPECT_EQ(TestTranscript(), p + "\n" + p + "\n" + p + "\n" + p + "I\n");
  // Enter and the aliases echo their meaning.
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

TEST(AskNumber, FirstCharacterRulesDefaultFormsAndTextThatIsNoNumber) {
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
  // Text that is no number is asked again on the rows it spilled into.
  // "2o0" is no number, "12.5" no whole number, " 7" starts with a blank,
  // "-3" with a sign, 30 is too large, 100 letters spill into the next row.
  StartTestConsole("2o0\r12.5\r 7\r-3\r30\r" + std::string(100, 'x') + "\r7\r");
  const NumberAnswer n = AskNumber({.prompt = "n :  ", .integer = true,
                                    .valid = [](double v) { return v <= 20; }});
  EXPECT_EQ(n.asInt(), 7) << TestTranscript();
  EXPECT_EQ(ScreenRow(1), Pad("n :  7"));
  EXPECT_EQ(ScreenRow(2), Pad(""));
}

// ---- Number lists and ranges ------------------------------------------------------------

TEST(NumberList, RunsOfCodes43To69AreNumbersShortHyphenatedPairsRangesEmptyLinesAskAgain) {
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
  // Asked: an empty line is read again unless allowed.
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

TEST(EditLine, InsertMoveDeleteClearAtMost72CharactersTheCursorLeftOfColumn80) {
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

// The ordinary values are those of the report, distribution and SEDFIT golden
// files (tests/results); here the edge cases.
TEST(NumberForms, ExponentsSignsWideningAndNonFiniteValuesDoNotStopTheReport) {
  EXPECT_EQ(FormatExp11(-4.4e-13), "-4.4000E-13");
  EXPECT_EQ(FormatExp11(1.5e-123), " 1.5000E-23");  // a three-digit exponent keeps its last two
  // Four digits without the E (not in the golden files).
  EXPECT_EQ(FormatExp10(123.46), " 1.235+02 ");
  EXPECT_EQ(FormatExp10(-0.00512), "-5.120-03 ");
  EXPECT_EQ(FormatExp10(1e-120), " 0.000+00 ");
  EXPECT_EQ(FormatExp23(2.0 / 3e-123), " 6.66666666666667E+0122");
  // The SEDFIT parameter file: 6 decimals, no blanks, no negative zero.
  EXPECT_EQ(FormatPlain6(-0.0) + FormatPlain6(-12345.6789), "0.000000-12345.678900");
  EXPECT_EQ(FormatF(1234.5, 3, 1), "1234.5");
  EXPECT_EQ(FormatF(3600.4, 5, 0), " 3600");
  EXPECT_EQ(IntToTwoDigits(7) + IntToTwoDigits(12), "0712");
  EXPECT_EQ(FormatExp11(INFINITY), "       +Inf");
  EXPECT_EQ(FormatExp11(NAN), "        NaN");
  EXPECT_EQ(FormatF(-INFINITY, 6, 2), "  -Inf");
}

}  // namespace
}  // namespace svfit::console
