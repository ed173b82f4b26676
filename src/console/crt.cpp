// The console operations of crt.h over the one console model of the process.
//
// Keys reach the program only through the 15-byte queue: a front end (or the
// graphics window through PostKey) delivers them, ReadKey takes them. A
// character key needs one free byte, an extended key (0, scan code) two; when
// the queue is full the key is dropped with a beep and every later key too,
// until the program has read the queue empty, so typed-ahead answers are never
// half taken. Ctrl-C never enters the queue: it shows "^C" and the next key
// access ends the program with exit code 1.
//
// The script and test front ends deliver one key only when ReadKey finds the
// queue empty, so KeyPressed never reads ahead of the program.
#include <algorithm>
#include <cstdlib>

#include "console/crt.h"
#include "console/crt_model.h"

namespace svfit::console {
namespace detail {
namespace {

std::unique_ptr<Console>& Slot() {
  static std::unique_ptr<Console> console;
  return console;
}

// The test front end: keys from a string, transcript into Console::testOutput,
// every way out becomes an exception the test can catch.
class TestFrontend final : public Frontend {
 public:
  explicit TestFrontend(std::string keys) : keys_(std::move(keys)) {}
  void Wait(Console& c, int) override {
    if (pos_ >= keys_.size()) throw InputEnded{};
    const auto b = static_cast<unsigned char>(keys_[pos_++]);
    if (b == 0 && pos_ < keys_.size()) {
      c.DeliverExtended(static_cast<unsigned char>(keys_[pos_++]), kShiftUnknown);
    } else {
      c.DeliverKey(b, kShiftUnknown);
    }
  }
  [[noreturn]] void Exit(Console&, int code) override { throw ConsoleExited{code}; }

 private:
  std::string keys_;
  std::size_t pos_ = 0;
};

}  // namespace

std::unique_ptr<Frontend> MakeTestFrontend(Console& c, std::string keys) {
  Console* cp = &c;
  c.transcript = std::make_unique<Transcript>([cp](std::string_view s) { cp->testOutput += s; });
  c.grid.transcript = c.transcript.get();
  return std::make_unique<TestFrontend>(std::move(keys));
}

Console& Instance() {
  auto& slot = Slot();
  if (!slot) {
    // Nothing started: a silent test console (library code used by tests).
    slot = std::make_unique<Console>("svfit");
    slot->frontend = MakeTestFrontend(*slot, {});
  }
  return *slot;
}

void Install(std::unique_ptr<Console> c) {
  auto& slot = Slot();
  if (slot && slot->frontend) slot->frontend->Close();
  slot = std::move(c);
}

Console::Console(std::string t) : baseTitle(t), title(std::move(t)) {}

Console::~Console() {
  grid.transcript = nullptr;
  if (frontend) frontend->Close();
}

void Console::Write(std::string_view bytes) {
  for (char c : bytes) {
    if (c == 7) {
      Beep(1000, 200);
    } else {
      grid.PutByte(static_cast<std::uint8_t>(c));
    }
    if (grid.repaintNow) {
      frontend->Show(grid, grid.dirty, true);
      grid.dirty = Rect{};
      grid.repaintNow = false;
    }
  }
  Refresh();
}

void Console::Refresh() {
  if (!grid.dirty.Empty()) {
    frontend->Show(grid, grid.dirty, false);
    grid.dirty = Rect{};
  }
  ProcessEvents();
}

void Console::ProcessEvents() {
  if (pump && !inPump) {
    inPump = true;
    pump(false);
    inPump = false;
  }
  frontend->Poll(*this);
}

void Console::DeliverKey(int ch, int shiftHeld) {
  if (shiftHeld != kShiftUnknown) shift = shiftHeld != 0;
  if (breakEnabled && ch == 3) {
    Write("^C\r\n");
    breakFlag = true;
    return;
  }
  if (!overflow && queueCount < kKeyQueueSize) {
    queue[queueCount++] = static_cast<std::uint8_t>(ch);
    return;
  }
  overflow = true;  // dropped with a beep; so is every key until read empty
  ++beeps;
  frontend->Tone(true);
  frontend->Tone(false);
}

void Console::DeliverExtended(int scan, int shiftHeld) {
  if (shiftHeld != kShiftUnknown) shift = shiftHeld != 0;
  if (!overflow && queueCount < kKeyQueueSize - 1) {
    queue[queueCount++] = 0;
    queue[queueCount++] = static_cast<std::uint8_t>(scan);
    return;
  }
  overflow = true;
  ++beeps;
  frontend->Tone(true);
  frontend->Tone(false);
}

int Console::ReadKey() {
  ProcessEvents();
  CheckBreak();
  if (transcript) transcript->Flush(grid);
  while (queueCount == 0) {
    if (!grid.dirty.Empty()) {
      frontend->Show(grid, grid.dirty, true);
      grid.dirty = Rect{};
    }
    // With another window to serve, wake up now and then for its events.
    frontend->Wait(*this, pump ? 15 : -1);
    if (pump && !inPump) {
      inPump = true;
      pump(true);
      inPump = false;
    }
    CheckBreak();
  }
  const int key = queue[0];
  std::copy(queue + 1, queue + queueCount, queue);
  if (--queueCount == 0) overflow = false;
  return key;
}

bool Console::KeyPressed() {
  ProcessEvents();
  CheckBreak();
  return queueCount > 0;
}

std::string Console::ReadLine(int bufferSize) {
  const std::size_t limit = static_cast<std::size_t>(std::max(0, bufferSize - 2));
  std::string line;
  for (;;) {
    const int key = ReadKey();
    if (key == 13) break;
    if (key == 26 && ctrlZEndsLine) return line;
    if (key == 8) {
      if (!line.empty()) {
        line.pop_back();
        Write("\b");
      }
      continue;
    }
    if (line.size() < limit) {  // longer lines: further keys are ignored silently
      const char c = static_cast<char>(key);
      line += c;
      Write(std::string_view(&c, 1));
    }
  }
  Write("\r\n");
  return line;
}

void Console::BreakExit() {
  title = baseTitle + ": cancelled by user";
  frontend->SetTitle(title);
  if (transcript) transcript->Finish(grid);
  frontend->Exit(*this, 1);
  std::abort();  // not reached: Exit ends the program or throws
}

void Console::Beep(int, int ms) {
  ++beeps;
  frontend->Tone(true);
  Sleep(ms);
  frontend->Tone(false);
}

void Console::Sleep(int ms) {
  if (ms > 0) frontend->Sleep(ms);
}

}  // namespace detail

using detail::Instance;

Rgb PaletteColor(int n) {
  static constexpr Rgb kTable[16] = {
      {0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128},  // black blue green cyan
      {128, 0, 0},     {128, 0, 128}, {128, 128, 0}, {192, 192, 192},  // red magenta brown grey
      {128, 128, 128}, {0, 0, 255},   {0, 255, 0},   {0, 255, 255},  // dark grey, light ...
      {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
  if (n < 0 || n > 15) return {0, 0, 0};
  return kTable[n];
}

void StartConsole(std::string_view title, FrontendKind kind) {
  auto c = std::make_unique<detail::Console>(std::string(title));
  if (kind != FrontendKind::kScript) c->frontend = detail::MakeTerminalFrontend(*c);
  if (!c->frontend) c->frontend = detail::MakeScriptFrontend(*c);
  detail::Install(std::move(c));
  auto& con = Instance();
  con.frontend->SetTitle(con.title);
  con.grid.ClearScreen();
  con.Refresh();
}

void FinishConsole() {
  auto& c = Instance();
  c.title = c.baseTitle + (c.breakFlag ? ": cancelled by user" : ": finished");
  c.frontend->SetTitle(c.title);
  if (c.transcript) c.transcript->Finish(c.grid);
  c.Refresh();
  if (!c.halted) c.frontend->FinishWait(c);
  c.frontend->Close();
}

void ConsoleHalt(int code) {
  auto& c = Instance();
  c.halted = true;
  c.title = c.baseTitle + (c.breakFlag ? ": cancelled by user" : ": finished");
  c.frontend->SetTitle(c.title);
  if (c.transcript) c.transcript->Finish(c.grid);
  c.frontend->Exit(c, code);
  std::abort();  // not reached
}

bool IsScriptFrontend() { return Instance().frontend->IsScript(); }

void Write(std::string_view latin1) { Instance().Write(latin1); }
void WriteLn(std::string_view latin1) {
  auto& c = Instance();
  std::string s(latin1);
  s += "\r\n";
  c.Write(s);
}

void WriteNote(std::string_view latin1) {
  SetTextColor(kLightMagenta);
  WriteLn(latin1);
  SetTextColor(kWhite);
}
void ClearScreen() {
  auto& c = Instance();
  c.grid.ClearScreen();
  c.Refresh();
}
void ClearToEndOfLine() {
  auto& c = Instance();
  c.grid.ClearToEndOfLine();
  c.Refresh();
}
void DeleteLine() {
  auto& c = Instance();
  c.grid.DeleteLine();
  c.Refresh();
}
void MoveCursor(int x, int y) { Instance().grid.MoveCursor(x, y); }
int CursorColumn() { return Instance().grid.curX + 1; }
int CursorRow() { return Instance().grid.curY + 1; }
long LinesScrolled() { return Instance().grid.totalScrolls; }

void SetTextColor(int colour) {
  auto& a = Instance().grid.attr;
  a = static_cast<std::uint8_t>((a & 0x70) | (colour & 0x8F));
  if (colour > 15) a |= 0x80;  // blink bit: stored, never shown
}
void SetTextBackground(int colour) {
  auto& a = Instance().grid.attr;
  a = static_cast<std::uint8_t>((a & 0x8F) | ((colour << 4) & 0x70));
}
void SetBrightText() { Instance().grid.attr |= 0x08; }
void SetNormalText() { Instance().grid.attr = 0x07; }
std::uint8_t TextAttribute() { return Instance().grid.attr; }

void SetTitle(std::string_view title) {
  auto& c = Instance();
  c.title = std::string(title);
  c.frontend->SetTitle(c.title);
}
std::string WindowTitle() { return Instance().title; }

void Announce(std::string_view line) {
  auto& c = Instance();
  if (c.transcript) c.transcript->Announce(c.grid, line);
}

int ReadKey() { return Instance().ReadKey(); }
bool KeyPressed() { return Instance().KeyPressed(); }
std::string ReadLine(int bufferSize) { return Instance().ReadLine(bufferSize); }
void SetCtrlZEndsLine(bool on) { Instance().ctrlZEndsLine = on; }
void SetBreakKeyEnabled(bool on) { Instance().breakEnabled = on; }

void Delay(int milliseconds) { Instance().Sleep(std::clamp(milliseconds, 0, 65535)); }
void StartTone(int) {
  auto& c = Instance();
  ++c.beeps;
  c.frontend->Tone(true);
}
void StopTone() { Instance().frontend->Tone(false); }
void Beep(int hz, int milliseconds) { Instance().Beep(hz, milliseconds); }

int MouseX() {
  auto& c = Instance();
  c.ProcessEvents();
  return c.mouseX;
}
int MouseY() {
  auto& c = Instance();
  c.ProcessEvents();
  return c.mouseY;
}
int MouseButtons() {
  auto& c = Instance();
  c.ProcessEvents();
  return c.mouseButtons;
}
bool ShiftDown() {
  auto& c = Instance();
  c.ProcessEvents();
  return c.shift;
}
void SetMousePosition(int x, int y) {
  auto& c = Instance();
  c.mouseX = std::clamp(x, -10000, c.mouseMaxX);
  c.mouseY = std::clamp(y, -10000, c.mouseMaxY);
  c.frontend->SetMousePosition(c.mouseX, c.mouseY);
}
void SetMouseLimits(int maxX, int maxY) {
  auto& c = Instance();
  c.mouseMaxX = maxX;
  c.mouseMaxY = maxY;
}
void BusyPointer(bool on) { Instance().frontend->BusyPointer(on); }
int CellWidth() { return 8; }
int CellHeight() { return 16; }

void SetEventPump(std::function<void(bool wait)> pump) { Instance().pump = std::move(pump); }
void PostKey(int ch) { Instance().DeliverKey(ch & 0xFF, detail::kShiftUnknown); }
void PostExtendedKey(int scan) { Instance().DeliverExtended(scan & 0xFF, detail::kShiftUnknown); }
void PostKey(int ch, bool shift) { Instance().DeliverKey(ch & 0xFF, shift ? 1 : 0); }
void PostExtendedKey(int scan, bool shift) {
  Instance().DeliverExtended(scan & 0xFF, shift ? 1 : 0);
}
void PostMouse(int x, int y, int buttons, bool shift) {
  auto& c = Instance();
  c.mouseX = std::clamp(x, -10000, c.mouseMaxX);
  c.mouseY = std::clamp(y, -10000, c.mouseMaxY);
  c.mouseButtons = buttons;
  c.shift = shift;
}

void StartTestConsole(std::string keys) {
  auto c = std::make_unique<detail::Console>("svfit");
  c->frontend = detail::MakeTestFrontend(*c, std::move(keys));
  detail::Install(std::move(c));
}
std::string TestTranscript() {
  auto& c = Instance();
  if (c.transcript) c.transcript->Flush(c.grid);  // line feeds written so far
  return c.testOutput;
}
std::string ScreenRow(int row) {
  return Instance().grid.RowText(std::clamp(row, 1, detail::kRows) - 1);
}
std::uint8_t ScreenAttribute(int column, int row) {
  return Instance()
      .grid.At(std::clamp(column, 1, detail::kColumns) - 1, std::clamp(row, 1, detail::kRows) - 1)
      .attr;
}
int TestBeepCount() { return Instance().beeps; }

}  // namespace svfit::console
