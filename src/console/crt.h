// Crt: the text console of the program, an 80 x 25 grid of Latin-1 cells with
// a cursor, sixteen colours, a 15-byte key queue and a line editor.
//
// One console model holds the exact grid behaviour; it is shown through a front
// end chosen at start: the terminal (ncurses) when standard input and output
// are terminals, the script front end (a plain transcript on standard output,
// keys from standard input) otherwise, or a test front end in unit tests.
// All coordinates of this interface are 1-based; colours are 0..15.
//
// Everything the analysis prints goes through Write/WriteLn; everything it
// reads goes through ReadKey and ReadLine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace svfit::console {

// The sixteen colour numbers, shared by the console and the graphics surface.
enum Color : int {
  kBlack = 0,
  kBlue = 1,
  kGreen = 2,
  kCyan = 3,
  kRed = 4,
  kMagenta = 5,
  kBrown = 6,
  kLightGray = 7,
  kDarkGray = 8,
  kLightBlue = 9,
  kLightGreen = 10,
  kLightCyan = 11,
  kLightRed = 12,
  kLightMagenta = 13,
  kYellow = 14,
  kWhite = 15,
};

struct Rgb {
  std::uint8_t r, g, b;
};
// RGB of colour n; a number outside 0..15 gives black.
Rgb PaletteColor(int n);

// Key codes delivered by ReadKey. An extended key arrives as 0 followed by its
// scan code on the next call.
inline constexpr int kKeyBackspace = 8;
inline constexpr int kKeyTab = 9;
inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEscape = 27;
inline constexpr int kKeyCtrlC = 3;
inline constexpr int kKeyCtrlL = 12;
inline constexpr int kKeyCtrlN = 14;
inline constexpr int kKeyCtrlV = 22;
inline constexpr int kKeyCtrlY = 25;
inline constexpr int kKeyCtrlZ = 26;
enum ScanCode : int {
  kScanHome = 71,
  kScanUp = 72,
  kScanPageUp = 73,
  kScanLeft = 75,
  kScanRight = 77,
  kScanEnd = 79,
  kScanDown = 80,
  kScanPageDown = 81,
  kScanInsert = 82,
  kScanDelete = 83,
  kScanF1 = 59,  // F1..F10 = 59..68
  kScanF11 = 133,
  kScanF12 = 134,
};

// ---- Start and end -----------------------------------------------------------
enum class FrontendKind { kAuto, kTerminal, kScript };
// Creates the console (title = program name without directory) and the front
// end. kAuto picks the terminal when stdin and stdout are terminals.
void StartConsole(std::string_view title, FrontendKind kind = FrontendKind::kAuto);
// The finishing step after the driver returned normally: title "<title>:
// finished" (or ": cancelled by user"), then wait for Escape (terminal only).
void FinishConsole();
// Ends the program at once with the exit code, without the final wait.
[[noreturn]] void ConsoleHalt(int code);
bool IsScriptFrontend();

// ---- Output -------------------------------------------------------------------
void Write(std::string_view latin1);  // bytes through the grid: BEL, BS, LF, CR handled
void WriteLn(std::string_view latin1 = {});
void ClearScreen();
void ClearToEndOfLine();
void DeleteLine();
void MoveCursor(int x, int y);  // clamps as specified
int CursorColumn();
int CursorRow();
void SetTextColor(int colour);
void SetTextBackground(int colour);
void SetBrightText();
void SetNormalText();
std::uint8_t TextAttribute();
void SetTitle(std::string_view title);
// A line of its own in the script transcript only (e.g. "[graph 3]"); nothing
// on a terminal.
void Announce(std::string_view line);

// ---- Input --------------------------------------------------------------------
int ReadKey();      // waits; extended keys as 0 then scan code
bool KeyPressed();  // never waits
// The line editor of the input stream, for a buffer of n bytes (at most n - 2
// characters). Returns the text without the line end.
std::string ReadLine(int bufferSize = 128);
void SetCtrlZEndsLine(bool on);
void SetBreakKeyEnabled(bool on);

// ---- Time and sound -------------------------------------------------------------
void Delay(int milliseconds);  // skipped by the script front end
void StartTone(int hz);
void StopTone();
void Beep(int hz, int milliseconds);  // StartTone, Delay, StopTone

// ---- Mouse (pixels of the window under the mouse) -------------------------------
int MouseX();
int MouseY();
int MouseButtons();  // 1 left, 2 right, 4 middle
bool ShiftDown();
void SetMousePosition(int x, int y);
void SetMouseLimits(int maxX, int maxY);
void BusyPointer(bool on);
int CellWidth();   // pixels of one cell, for mouse positions over the console
int CellHeight();

// ---- Other windows feeding the console --------------------------------------------
// The graphics window registers a pump that is called whenever the console
// processes events (every write, every key wait or poll). `wait` is true when
// the console is blocked in ReadKey and the pump may sleep briefly.
void SetEventPump(std::function<void(bool wait)> pump);
// Key and mouse events of another window go into the same queue and state.
void PostKey(int ch);              // a character key (0..255)
void PostExtendedKey(int scan);    // an extended key: 0 then scan code
void PostMouse(int x, int y, int buttons, bool shift);

// ---- Testing ---------------------------------------------------------------------
// Installs a fresh console with the test front end: keys are taken from `keys`
// (bytes; an extended key is written as 0 followed by its scan code; "\r" is
// Enter); output is recorded. When the keys run out, ReadKey throws
// InputEnded.
struct InputEnded {};
void StartTestConsole(std::string keys);
std::string TestTranscript();  // everything printed, in the script transcript form
std::string ScreenRow(int row);  // the 80 characters of screen row 1..25
std::uint8_t ScreenAttribute(int column, int row);

}  // namespace svfit::console
