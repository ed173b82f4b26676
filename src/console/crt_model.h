// The console model behind crt.h: the cell grid as a ring of rows, the cursor
// and attribute, the key queue, the break flag, the transcript, and the
// interface of the front ends that show it. Only the console folder and its
// tests include this header.
//
// Invariant: the grid never changes size (80 x 25) and every cell write goes
// through Grid, which widens the dirty rectangle and tells the transcript, so
// that what a front end shows, what the tests read and what the transcript
// says come from one place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace svfit::console::detail {

inline constexpr int kColumns = 80;
inline constexpr int kRows = 25;
inline constexpr int kKeyQueueSize = 15;
inline constexpr int kShiftUnknown = -1;

struct Cell {
  std::uint8_t ch = ' ';
  std::uint8_t attr = 7;
};

// Cells written since the last repaint; empty when left > right.
struct Rect {
  int left = kColumns, top = kRows, right = -1, bottom = -1;
  bool Empty() const { return left > right || top > bottom; }
  void Add(int x, int y);
  void All() { *this = Rect{0, 0, kColumns - 1, kRows - 1}; }
};

// Unicode code point shown for a stored Latin-1 byte: control bytes as their
// control pictures (U+2400 + c, U+2421 for 127), C1 controls as U+FFFD.
char32_t CellCodePoint(std::uint8_t ch);
void AppendUtf8(std::string& out, char32_t cp);

class Transcript;

// The 80 x 25 grid. Screen row y (0-based) lives in buffer row (top + y) mod 25.
class Grid {
 public:
  Grid();
  Cell& At(int x, int y) { return cells_[Index(x, y)]; }
  const Cell& At(int x, int y) const { return cells_[Index(x, y)]; }
  std::string RowText(int y) const;  // the 80 bytes of screen row y

  void WriteBytes(std::string_view bytes);  // BEL is handled by the caller
  void PutByte(std::uint8_t b);
  void NewLine();
  void ClearScreen();
  void ClearToEndOfLine();
  void DeleteLine();
  void MoveCursor(int x, int y);  // 1-based, mod 256, clamped

  int curX = 0, curY = 0;       // 0-based cursor
  std::uint8_t attr = 7;        // current text attribute
  int top = 0;                  // buffer row shown as screen row 0
  int scrollCounter = 0;        // scrolls since the last forced repaint
  long totalScrolls = 0;        // scrolls since start (absolute row numbering)
  Rect dirty;                   // cells changed since the last repaint
  bool repaintNow = false;      // six scrolls in a row: repaint at once
  Transcript* transcript = nullptr;

 private:
  int Index(int x, int y) const { return ((top + y) % kRows) * kColumns + x; }
  void ClearRow(int y);
  std::vector<Cell> cells_;
};

// The transcript of the script and test front ends (form described in crt.h).
// Rows are numbered absolutely (screen row + total scrolls) so that a row
// keeps its identity while the grid scrolls.
class Transcript {
 public:
  explicit Transcript(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {}
  void Text(const Grid& g, long absRow, int col, std::uint8_t ch);
  void LineFeed() { ++pendingLf_; }
  void Shortened(long absRow, int col);  // a cell left of the line's end was blanked
  void EndLine(const Grid& g);           // ClearScreen, DeleteLine: before the change
  void Announce(const Grid& g, std::string_view line);
  void Flush(const Grid& g);             // before a key read
  void Finish(const Grid& g);            // at the end: close an open line

 private:
  void Terminate(const Grid& g, bool reconcile);
  void Reconcile(const Grid& g);
  void Emit(std::string_view latin1);
  void EmitRaw(std::string_view utf8);
  std::function<void(std::string_view)> sink_;
  std::string line_;      // Latin-1 text of the open transcript line
  bool open_ = false;     // line_ is on the output without its line end
  long lineRow_ = -1;     // absolute row of the open line
  int pendingLf_ = 0;     // line feeds written since the last text
  bool dirty_ = false;    // the row no longer matches line_
};

class Console;

// What a front end does; the model calls these.
class Frontend {
 public:
  virtual ~Frontend() = default;
  // Show the cells in g.dirty (the model clears it afterwards); `now` asks for
  // an immediate update.
  virtual void Show(const Grid&, const Rect&, bool /*now*/) {}
  // Handle pending input without waiting.
  virtual void Poll(Console&) {}
  // Block until input has arrived (at most timeoutMs when >= 0) and hand it to
  // the console. Script and test front ends deliver exactly one key.
  virtual void Wait(Console& c, int timeoutMs) = 0;
  virtual void SetTitle(std::string_view) {}
  virtual void Tone(bool /*on*/) {}
  virtual void Sleep(int /*ms*/) {}
  // Finishing step, title already set: wait for Escape where that makes sense.
  virtual void FinishWait(Console&) {}
  // Restore the terminal (idempotent).
  virtual void Close() {}
  // End the program with the code (restore the terminal first).
  [[noreturn]] virtual void Exit(Console& c, int code) = 0;
  virtual void SetMousePosition(int /*x*/, int /*y*/) {}
  virtual void BusyPointer(bool) {}
  virtual bool IsScript() const { return true; }
};

// The one console of the process.
class Console {
 public:
  explicit Console(std::string title);
  ~Console();

  Grid grid;
  std::unique_ptr<Transcript> transcript;
  std::unique_ptr<Frontend> frontend;
  std::string baseTitle;  // program name
  std::string title;      // current window title

  // Output
  void Write(std::string_view bytes);
  void Refresh();  // hand the dirty rectangle to the front end, pump events
  void ProcessEvents();

  // Keyboard. shift: 1 held, 0 not held, kShiftUnknown leaves the state (keys
  // of scripts, and of windows that record it with the mouse state).
  void DeliverKey(int ch, int shift);
  void DeliverExtended(int scan, int shift);
  int ReadKey();
  bool KeyPressed();
  std::string ReadLine(int bufferSize);
  [[noreturn]] void BreakExit();
  void CheckBreak() {
    if (breakFlag) BreakExit();
  }

  void Beep(int hz, int ms);
  void Sleep(int ms);

  std::uint8_t queue[kKeyQueueSize] = {};
  int queueCount = 0;
  bool overflow = false;
  bool breakFlag = false;
  bool breakEnabled = true;
  bool ctrlZEndsLine = false;
  bool halted = false;
  int beeps = 0;

  // Mouse state shared by the console and the graphics window.
  int mouseX = 0, mouseY = 0, mouseButtons = 0;
  int mouseMaxX = 10000, mouseMaxY = 10000;
  bool shift = false;

  std::function<void(bool)> pump;
  bool inPump = false;
  std::string testOutput;  // transcript of the test front end
};

Console& Instance();
void Install(std::unique_ptr<Console> c);

// Front ends.
std::unique_ptr<Frontend> MakeTerminalFrontend(Console& c);  // nullptr when not possible
std::unique_ptr<Frontend> MakeScriptFrontend(Console& c);
std::unique_ptr<Frontend> MakeTestFrontend(Console& c, std::string keys);

}  // namespace svfit::console::detail
