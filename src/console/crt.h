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
//
// Control bytes in Write: 7 beeps, 8 moves one column left and blanks that
// cell (nothing at column 1), 13 goes to column 1, 10 goes one row DOWN ONLY
// (the column stays; WriteLn writes 13 10). Every other byte is stored in the
// cursor cell; after column 80 the cursor wraps to column 1 of the next row.
// A line feed on row 25 scrolls the grid up and fills the new bottom row with
// blanks in the current attribute.
//
// Transcript form (script and test front ends). The transcript is plain UTF-8
// text (Latin-1 bytes converted, 0xB5 -> "µ"; stored control bytes shown as
// the Unicode control pictures U+2400..). Each transcript line is one screen
// row as it was written:
//   - text appears as written, appended to the current transcript line;
//   - line feeds (and the wrap after column 80) end the line; n line feeds in
//     a row give n - 1 empty lines, as on the screen;
//   - text written on another row, or left of the end of the current line on
//     the same row, starts a new transcript line that repeats the row's cells
//     left of the cursor first (so a refused prompt written again in place
//     shows as the prompt on a new line, and a default written back into the
//     answered row shows the whole row); moving back to the row just ended,
//     right of its text, before anything else is written continues that line
//     ("max. number of iterations ...  :  200");
//   - a backspace or clear-to-end that shortens the current line is shown by
//     repeating the row as it now stands on a new line when the output is
//     next flushed (before each key read);
//   - ClearScreen and DeleteLine end the current line; Announce() lines stand
//     on lines of their own; colours are not shown.
// Output is flushed before every key read, so a driver on the other end of a
// pipe sees each prompt before the program waits for its answer.
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
// end. kAuto picks the terminal when stdin and stdout are terminals (and the
// terminal can be opened), the script front end otherwise.
void StartConsole(std::string_view title, FrontendKind kind = FrontendKind::kAuto);
// The finishing step after the driver returned: title "<title>: finished" (or
// "<title>: cancelled by user" after Ctrl-C), then, on a terminal only, the
// last screen stays until Escape is pressed. The terminal is restored.
void FinishConsole();
// Ends the program at once with the exit code, without the final wait. The
// terminal is restored and the script transcript flushed. The test front end
// throws ConsoleExited instead.
[[noreturn]] void ConsoleHalt(int code);
bool IsScriptFrontend();  // true for the script and the test front end

// ---- Output -------------------------------------------------------------------
void Write(std::string_view latin1);  // bytes through the grid: BEL, BS, LF, CR handled
void WriteLn(std::string_view latin1 = {});  // the text, then CR LF
void WriteNote(std::string_view latin1);     // a line in light magenta (notes, refusals), then white
void ClearScreen();                   // blanks in the current attribute, cursor to (1, 1)
void ClearToEndOfLine();              // from the cursor to column 80, current attribute
void DeleteLine();                    // removes the cursor row; rows below move up
void MoveCursor(int x, int y);        // x, y mod 256, then clamped to 1..80, 1..25
int CursorColumn();
int CursorRow();
// Number of times the grid has scrolled since the console started: a row y
// written when this was k is row y - (now - k) later.
long LinesScrolled();
void SetTextColor(int colour);        // foreground 0..15; above 15 also sets the blink bit
void SetTextBackground(int colour);   // background 0..7
void SetBrightText();
void SetNormalText();                 // 7 on 0
std::uint8_t TextAttribute();         // bits 0-3 foreground, 4-6 background, 7 blink
void SetTitle(std::string_view title);
std::string WindowTitle();
// A line of its own in the script transcript only (e.g. "[graph 3]"); nothing
// on a terminal.
void Announce(std::string_view line);

// ---- Input --------------------------------------------------------------------
// Waits for a key (showing the cursor); an extended key arrives as 0 and then
// its scan code. Script front end: reads standard input; when it has ended the
// program stops with exit code 3 and "input ended" on standard error.
int ReadKey();
// Never waits. Tells whether a key is already queued; the script and test
// front ends never read ahead for it, so answers piped ahead stay unread.
bool KeyPressed();
// The line editor of the input stream, for a buffer of n bytes: at most n - 2
// characters, Backspace deletes, every other key (control and extended keys
// too) is stored and echoed, Enter ends the line (CR LF echoed). With
// SetCtrlZEndsLine(true) Ctrl-Z also ends it (nothing echoed, not included).
// Returns the text without the line end.
std::string ReadLine(int bufferSize = 128);
void SetCtrlZEndsLine(bool on);
void SetBreakKeyEnabled(bool on);  // Ctrl-C: "^C", then exit code 1 at the next key access

// ---- Time and sound -------------------------------------------------------------
void Delay(int milliseconds);  // skipped by the script and test front ends
void StartTone(int hz);        // a terminal bell stands in for the tone
void StopTone();
void Beep(int hz, int milliseconds);  // StartTone, Delay, StopTone

// ---- Mouse (pixels of the window under the mouse) -------------------------------
// Over the terminal a cell counts as CellWidth() x CellHeight() pixels and the
// position is the centre of the cell under the mouse.
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
// the console is blocked in ReadKey and the pump may sleep briefly (about
// 10 ms); the terminal front end then looks at the keyboard again.
void SetEventPump(std::function<void(bool wait)> pump);
// Key and mouse events of another window go into the same queue and state,
// with the same rules (15 bytes, overflow beep, Ctrl-C break). Keys leave the
// shift state alone: the window records it with PostMouse at each event.
void PostKey(int ch);            // a character key (0..255); shift state unchanged
void PostExtendedKey(int scan);  // an extended key: 0 then scan code; shift unchanged
// The same, recording whether Shift was held (windows that know it).
void PostKey(int ch, bool shift);
void PostExtendedKey(int scan, bool shift);
void PostMouse(int x, int y, int buttons, bool shift);

// ---- Testing ---------------------------------------------------------------------
// Installs a fresh console with the test front end: keys are taken from `keys`
// (bytes; an extended key is written as 0 followed by its scan code; "\r" is
// Enter) one at a time, only when ReadKey finds the queue empty; output is
// recorded. When the keys run out, ReadKey throws InputEnded; ConsoleHalt and
// the Ctrl-C break throw ConsoleExited. Delay and tones are skipped.
// Without StartTestConsole or StartConsole a silent test console with no keys
// is used.
struct InputEnded {};
struct ConsoleExited {
  int code;
};
void StartTestConsole(std::string keys);
std::string TestTranscript();    // everything printed, in the transcript form
std::string ScreenRow(int row);  // the 80 characters of screen row 1..25 (Latin-1)
std::uint8_t ScreenAttribute(int column, int row);
int TestBeepCount();             // beeps sounded so far (BEL, queue overflow, tones)

}  // namespace svfit::console
