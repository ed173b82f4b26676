// The console grid, key queue, line editor and transcript against the test
// front end.
#include "console/crt.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace svfit::console {
namespace {

std::string Pad(std::string s) {
  s.resize(80, ' ');
  return s;
}

TEST(CrtGrid, EightyCharactersWrapAndLineFeedAndReturnMoveOneWayEach) {
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
}

TEST(CrtGrid, LineFeedOnTheLastRowScrollsAndFillsWithTheBackground) {
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
}

TEST(CrtGrid, BackspaceBlanksTheCellToTheLeftButNotAtColumnOne) {
  StartTestConsole("");
  SetTextColor(kLightRed);
  Write("\bab");
  SetTextColor(kWhite);
  Write("\b");
  EXPECT_EQ(ScreenRow(1), Pad("a"));
  EXPECT_EQ(CursorColumn(), 2);
  EXPECT_EQ(ScreenAttribute(2, 1), kLightRed);  // the blanked cell keeps its attribute
  Write("\b\b\b");
  EXPECT_EQ(CursorColumn(), 1);
  EXPECT_EQ(ScreenRow(1), Pad(""));
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
  SetTextColor(kYellow);
  EXPECT_EQ(TextAttribute(), 0x1E);
  SetTextColor(30);  // above 15: the blink bit is set as well
  EXPECT_EQ(TextAttribute(), 0x9E);
  SetTextColor(kYellow);
  SetTextBackground(12);  // only three background bits
  EXPECT_EQ(TextAttribute(), 0x4E);
  SetNormalText();
  SetBrightText();
  EXPECT_EQ(TextAttribute(), 0x0F);
}

TEST(CrtGrid, ClearScreenClearToEndOfLineAndDeleteLine) {
  StartTestConsole("");
  Write("one\r\ntwo\r\nthree");
  MoveCursor(2, 1);
  ClearToEndOfLine();
  EXPECT_EQ(ScreenRow(1), Pad("o"));
  MoveCursor(3, 1);
  SetTextBackground(kRed);
  DeleteLine();
  EXPECT_EQ(ScreenRow(1), Pad("two"));
  EXPECT_EQ(ScreenRow(2), Pad("three"));
  EXPECT_EQ(ScreenAttribute(1, 25), 0x47);  // new bottom row in the current attribute
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(3, 1));  // the cursor stays
  ClearScreen();
  EXPECT_EQ(ScreenRow(2), Pad(""));
  EXPECT_EQ(ScreenAttribute(40, 12), 0x47);
  EXPECT_EQ(std::pair(CursorColumn(), CursorRow()), std::pair(1, 1));
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

TEST(CrtKeys, F1FromTheKeyScriptIsZeroThen59AndKeyPressedDoesNotReadAhead) {
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
}

TEST(CrtKeys, MouseStateIsClampedAndKeysLeaveTheShiftState) {
  StartTestConsole("a");
  PostMouse(20000, -20000, 3, true);
  EXPECT_EQ(std::tuple(MouseX(), MouseY(), MouseButtons()), std::tuple(10000, -10000, 3));
  SetMouseLimits(639, 479);
  SetMousePosition(700, 100);
  EXPECT_EQ(MouseX(), 639);
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
  StartTestConsole("\x03");
  SetBreakKeyEnabled(false);
  EXPECT_EQ(ReadKey(), 3);  // an ordinary key when break is off
  StartTestConsole("");
  try {
    ConsoleHalt(0);
  } catch (const ConsoleExited& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_EQ(WindowTitle(), "svfit: finished");
}

// ---- Line editor of the input stream ------------------------------------------------

TEST(CrtReadLine, BufferOf128TakesAt126CharactersBackspaceSparesThePromptCtrlZOnlyWhenEnabled) {
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
  StartTestConsole("ab\x1a" "c\r");
  SetCtrlZEndsLine(true);
  EXPECT_EQ(ReadLine(), "ab");
  EXPECT_EQ(ReadKey(), 'c');
}

// ---- Transcript --------------------------------------------------------------------

TEST(CrtTranscript, TextAppearsAsWrittenWrapsAndAnnouncementsStandAlone) {
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
}

TEST(CrtTranscript, RowsWrittenAgainInPlace) {
  // A value written back into the answered row continues its line.
  StartTestConsole("\r");
  Write("count :  ");
  ReadLine();
  MoveCursor(10, 1);
  Write("200");
  WriteLn();
  WriteLn("next");
  EXPECT_EQ(TestTranscript(), "count :  200\nnext\n");
  // A prompt written again in place starts a new line.
  StartTestConsole("");
  Write("Q :  ");
  MoveCursor(1, 1);
  ClearToEndOfLine();
  Write("Q :  Y");
  WriteLn();
  EXPECT_EQ(TestTranscript(), "Q :  \nQ :  Y\n");
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

}  // namespace
}  // namespace svfit::console
