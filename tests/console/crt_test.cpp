// The console grid, key queue, line editor and transcript against the test
// front end.
#include "console/crt.h"

#include <gtest/gtest.h>

#include <string>

namespace svfit::console {
namespace {

std::string Pad(std::string s) {
  s.resize(80, ' ');
  return s;
}

TEST(CrtGrid, EightyCharactersWrapAndCrLfLeavesAnEmptyRow) {
  StartTestConsole("");
  Write(std::string(80, 'x'));
  EXPECT_EQ(CursorColumn(), 1);
  EXPECT_EQ(CursorRow(), 2);
  WriteLn();
  EXPECT_EQ(CursorRow(), 3);
  EXPECT_EQ(ScreenRow(1), std::string(80, 'x'));
  EXPECT_EQ(ScreenRow(2), Pad(""));
  // 81 characters: the last one lands in column 1 of the next row.
  Write(std::string(80, 'y') + "z");
  EXPECT_EQ(ScreenRow(4), Pad("z"));
  EXPECT_EQ(CursorColumn(), 2);
}

TEST(CrtGrid, LineFeedOnlyMovesDownAndCarriageReturnOnlyGoesLeft) {
  StartTestConsole("");
  Write("ab\ncd\rE");
  EXPECT_EQ(ScreenRow(1), Pad("ab"));
  EXPECT_EQ(ScreenRow(2), Pad("E cd"));
}

TEST(CrtGrid, LineFeedOnTheLastRowScrollsAndFillsWithTheBackground) {
  StartTestConsole("");
  for (int i = 1; i <= 25; ++i) {
    Write("row " + std::to_string(i));
    if (i < 25) WriteLn();
  }
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
  for (int i = 26; i <= 80; ++i) {
    Write("row " + std::to_string(i));
    WriteLn();
  }
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

TEST(CrtGrid, MoveCursorTakesCoordinatesModulo256AndClamps) {
  StartTestConsole("");
  MoveCursor(0, 0);
  EXPECT_EQ(CursorColumn(), 1);
  EXPECT_EQ(CursorRow(), 1);
  MoveCursor(200, 99);
  EXPECT_EQ(CursorColumn(), 80);
  EXPECT_EQ(CursorRow(), 25);
  MoveCursor(257, 258);  // 1, 2 after modulo 256
  EXPECT_EQ(CursorColumn(), 1);
  EXPECT_EQ(CursorRow(), 2);
  MoveCursor(-1, 5);  // 255: clamped to the last column
  EXPECT_EQ(CursorColumn(), 80);
  EXPECT_EQ(CursorRow(), 5);
}

TEST(CrtGrid, TextAttributeRules) {
  StartTestConsole("");
  EXPECT_EQ(TextAttribute(), 0x07);
  SetTextBackground(kBlue);
  SetTextColor(kYellow);
  EXPECT_EQ(TextAttribute(), 0x1E);
  SetTextColor(30);  // above 15: the blink bit is set as well
  EXPECT_EQ(TextAttribute(), 0x9E);
  SetTextColor(kYellow);
  EXPECT_EQ(TextAttribute(), 0x1E);
  SetTextBackground(12);  // only three background bits
  EXPECT_EQ(TextAttribute(), 0x4E);
  SetNormalText();
  SetBrightText();
  EXPECT_EQ(TextAttribute(), 0x0F);
  EXPECT_EQ(PaletteColor(6).g, 128);  // brown is (128, 128, 0)
  EXPECT_EQ(PaletteColor(6).b, 0);
  EXPECT_EQ(PaletteColor(16).r, 0);  // outside 0..15: black
  EXPECT_EQ(PaletteColor(15).b, 255);
}

TEST(CrtGrid, ClearScreenClearToEndOfLineAndDeleteLine) {
  StartTestConsole("");
  WriteLn("one");
  WriteLn("two");
  Write("three");
  MoveCursor(2, 1);
  ClearToEndOfLine();
  EXPECT_EQ(ScreenRow(1), Pad("o"));
  MoveCursor(3, 1);
  SetTextBackground(kRed);
  DeleteLine();
  EXPECT_EQ(ScreenRow(1), Pad("two"));
  EXPECT_EQ(ScreenRow(2), Pad("three"));
  EXPECT_EQ(ScreenAttribute(1, 25), 0x47);  // new bottom row in the current attribute
  EXPECT_EQ(CursorColumn(), 3);  // the cursor stays
  EXPECT_EQ(CursorRow(), 1);
  ClearScreen();
  EXPECT_EQ(ScreenRow(2), Pad(""));
  EXPECT_EQ(ScreenAttribute(40, 12), 0x47);
  EXPECT_EQ(CursorColumn(), 1);
  EXPECT_EQ(CursorRow(), 1);
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
}

TEST(CrtKeys, ExtendedKeysNeedTwoFreeBytes) {
  StartTestConsole("");
  for (int i = 0; i < 14; ++i) PostKey('0' + i);
  PostExtendedKey(kScanF1);
  EXPECT_EQ(TestBeepCount(), 1);
  for (int i = 0; i < 14; ++i) ReadKey();
  PostExtendedKey(kScanF1);
  EXPECT_EQ(ReadKey(), 0);
  EXPECT_TRUE(KeyPressed());
  EXPECT_EQ(ReadKey(), 59);
}

TEST(CrtKeys, F1FromTheKeyScriptIsZeroThen59) {
  StartTestConsole(std::string("\0;x", 3));
  EXPECT_EQ(ReadKey(), 0);
  EXPECT_EQ(ReadKey(), 59);
  EXPECT_EQ(ReadKey(), 'x');
  EXPECT_THROW(ReadKey(), InputEnded);
}

TEST(CrtKeys, KeyPressedDoesNotReadAhead) {
  StartTestConsole("ab");
  EXPECT_FALSE(KeyPressed());
  EXPECT_EQ(ReadKey(), 'a');
  EXPECT_FALSE(KeyPressed());
  PostKey('I');
  EXPECT_TRUE(KeyPressed());
  EXPECT_EQ(ReadKey(), 'I');
  EXPECT_EQ(ReadKey(), 'b');
}

TEST(CrtKeys, MouseStateIsClampedAndKeysLeaveTheShiftState) {
  StartTestConsole("a");
  PostMouse(20000, -20000, 3, true);
  EXPECT_EQ(MouseX(), 10000);
  EXPECT_EQ(MouseY(), -10000);
  EXPECT_EQ(MouseButtons(), 3);
  SetMouseLimits(639, 479);
  SetMousePosition(700, 100);
  EXPECT_EQ(MouseX(), 639);
  PostExtendedKey(kScanLeft);
  EXPECT_EQ(ReadKey(), 0);
  EXPECT_EQ(ReadKey(), kScanLeft);
  EXPECT_EQ(ReadKey(), 'a');
  EXPECT_TRUE(ShiftDown());  // recorded with the mouse event, kept by the keys
}

TEST(CrtKeys, CtrlCShowsCaretCAndEndsAtTheNextKeyAccess) {
  StartTestConsole("ab\x03xyz");
  try {
    ReadLine();
    FAIL() << "Ctrl-C did not end the program";
  } catch (const ConsoleExited& e) {
    EXPECT_EQ(e.code, 1);
  }
  EXPECT_EQ(ScreenRow(1), Pad("ab^C"));
  EXPECT_EQ(WindowTitle(), "svfit: cancelled by user");
}

TEST(CrtKeys, CtrlCFromAnotherWindowEndsAtKeyPressed) {
  StartTestConsole("");
  PostKey(3);
  EXPECT_THROW(KeyPressed(), ConsoleExited);
}

TEST(CrtKeys, CtrlCIsAnOrdinaryKeyWhenBreakIsOff) {
  StartTestConsole("\x03");
  SetBreakKeyEnabled(false);
  EXPECT_EQ(ReadKey(), 3);
}

TEST(CrtKeys, HaltThrowsInTestsAndSetsTheFinishedTitle) {
  StartTestConsole("");
  try {
    ConsoleHalt(0);
  } catch (const ConsoleExited& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_EQ(WindowTitle(), "svfit: finished");
}

// ---- Line editor of the input stream ------------------------------------------------

TEST(CrtReadLine, BufferOf128TakesAt126Characters) {
  StartTestConsole(std::string(130, 'a') + "\r");
  const std::string line = ReadLine(128);
  EXPECT_EQ(line.size(), 126u);
  EXPECT_EQ(CursorRow(), 3);  // 126 echoed characters span two rows, then CR LF
}

TEST(CrtReadLine, BackspaceForgetsAndErasesButNeverThePrompt) {
  StartTestConsole("ab\b\b\bc\r");
  Write("Q: ");
  EXPECT_EQ(ReadLine(), "c");
  EXPECT_EQ(ScreenRow(1), Pad("Q: c"));
}

TEST(CrtReadLine, CtrlZEndsTheLineOnlyWhenEnabled) {
  StartTestConsole("ab\x1a" "c\r");
  EXPECT_EQ(ReadLine(), "ab\x1a" "c");
  EXPECT_EQ(ScreenRow(1)[2], '\x1a');  // stored and echoed like a letter

  StartTestConsole("ab\x1a" "c\r");
  SetCtrlZEndsLine(true);
  EXPECT_EQ(ReadLine(), "ab");
  EXPECT_EQ(ReadKey(), 'c');
}

TEST(CrtReadLine, ExtendedKeysAreStoredAsTwoCharacters) {
  StartTestConsole(std::string("1\0;\r", 4));
  EXPECT_EQ(ReadLine(), std::string("1\0;", 3));
}

// ---- Transcript --------------------------------------------------------------------

TEST(CrtTranscript, TextAppearsAsWrittenAndLatin1BecomesUtf8) {
  StartTestConsole("");
  WriteLn("s in \xB5m");
  Write("abc");
  WriteLn();
  WriteLn();
  Write("x\x01");
  EXPECT_EQ(TestTranscript(), "s in \xC2\xB5m\nabc\n\nx\xE2\x90\x81");
}

TEST(CrtTranscript, ValueWrittenBackIntoTheAnsweredRowContinuesItsLine) {
  StartTestConsole("\r");
  Write("count :  ");
  ReadLine();
  MoveCursor(10, 1);
  Write("200");
  WriteLn();
  WriteLn("next");
  EXPECT_EQ(TestTranscript(), "count :  200\nnext\n");
}

TEST(CrtTranscript, PromptWrittenAgainInPlaceStartsANewLine) {
  StartTestConsole("");
  Write("Q :  ");
  MoveCursor(1, 1);
  ClearToEndOfLine();
  Write("Q :  ");
  Write("Y");
  WriteLn();
  EXPECT_EQ(TestTranscript(), "Q :  \nQ :  Y\n");
}

TEST(CrtTranscript, BackspaceShowsTheRowAsItNowStandsAtTheNextKeyRead) {
  StartTestConsole("ab\bc\r");
  Write("> ");
  EXPECT_EQ(ReadLine(), "ac");
  EXPECT_EQ(TestTranscript(), "> ab\n> ac\n");
}

TEST(CrtTranscript, WrapEndsTheLineAndAnnouncementsStandAlone) {
  StartTestConsole("");
  Write(std::string(80, 'w'));
  WriteLn();
  Write("half");
  Announce("[graph 1]");
  Write("rest");
  ClearScreen();
  WriteLn("top");
  EXPECT_EQ(TestTranscript(), std::string(80, 'w') + "\n\nhalf\n[graph 1]\nhalfrest\ntop\n");
}

TEST(CrtTranscript, AnotherRowRepeatsTheCellsLeftOfTheCursor) {
  StartTestConsole("");
  WriteLn("Title row");
  WriteLn("second");
  MoveCursor(7, 1);
  Write("!");
  EXPECT_EQ(TestTranscript(), "Title row\nsecond\nTitle !");
}

}  // namespace
}  // namespace svfit::console
