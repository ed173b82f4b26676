// Temporary stand-in for the console model so that every library links while
// the real console is being built: output goes to standard output, keys come
// from standard input. Replaced by the console model.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "console/crt.h"

namespace svfit::console {
namespace {
std::string g_testKeys;
std::size_t g_testPos = 0;
bool g_test = false;
std::string g_transcript;
int g_col = 1, g_row = 1;
std::uint8_t g_attr = 7;
std::function<void(bool)> g_pump;
}  // namespace

Rgb PaletteColor(int n) {
  static const Rgb table[16] = {{0, 0, 0},     {0, 0, 128},   {0, 128, 0},   {0, 128, 128},
                                {128, 0, 0},   {128, 0, 128}, {128, 128, 0}, {192, 192, 192},
                                {128, 128, 128}, {0, 0, 255}, {0, 255, 0},   {0, 255, 255},
                                {255, 0, 0},   {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
  if (n < 0 || n > 15) return {0, 0, 0};
  return table[n];
}
void StartConsole(std::string_view, FrontendKind) {}
void FinishConsole() {}
void ConsoleHalt(int code) { std::fflush(stdout); std::exit(code); }
bool IsScriptFrontend() { return true; }
void Write(std::string_view s) {
  if (g_test) g_transcript += s; else std::fwrite(s.data(), 1, s.size(), stdout);
  if (g_pump) g_pump(false);
}
void WriteLn(std::string_view s) { Write(s); Write("\n"); }
void ClearScreen() {}
void ClearToEndOfLine() {}
void DeleteLine() {}
void MoveCursor(int x, int y) { g_col = x; g_row = y; }
int CursorColumn() { return g_col; }
int CursorRow() { return g_row; }
void SetTextColor(int c) { g_attr = static_cast<std::uint8_t>((g_attr & 0x70) | (c & 0x8F)); }
void SetTextBackground(int c) { g_attr = static_cast<std::uint8_t>((g_attr & 0x8F) | ((c << 4) & 0x70)); }
void SetBrightText() { g_attr |= 8; }
void SetNormalText() { g_attr = 7; }
std::uint8_t TextAttribute() { return g_attr; }
void SetTitle(std::string_view) {}
void Announce(std::string_view line) { WriteLn(line); }
int ReadKey() {
  std::fflush(stdout);
  if (g_test) {
    if (g_testPos >= g_testKeys.size()) throw InputEnded{};
    return static_cast<unsigned char>(g_testKeys[g_testPos++]);
  }
  int c = std::getchar();
  if (c == EOF) { std::fputs("input ended\n", stderr); std::exit(3); }
  return c == '\n' ? 13 : c;
}
bool KeyPressed() { return false; }
std::string ReadLine(int n) {
  std::string s;
  for (;;) {
    int c = ReadKey();
    if (c == 13) break;
    if (static_cast<int>(s.size()) < n - 2) s.push_back(static_cast<char>(c));
  }
  WriteLn();
  return s;
}
void SetCtrlZEndsLine(bool) {}
void SetBreakKeyEnabled(bool) {}
void Delay(int ms) { if (!g_test) std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
void StartTone(int) {}
void StopTone() {}
void Beep(int, int) {}
int MouseX() { return 0; }
int MouseY() { return 0; }
int MouseButtons() { return 0; }
bool ShiftDown() { return false; }
void SetMousePosition(int, int) {}
void SetMouseLimits(int, int) {}
void BusyPointer(bool) {}
int CellWidth() { return 8; }
int CellHeight() { return 16; }
void SetEventPump(std::function<void(bool)> pump) { g_pump = std::move(pump); }
void PostKey(int) {}
void PostExtendedKey(int) {}
void PostMouse(int, int, int, bool) {}
void StartTestConsole(std::string keys) { g_test = true; g_testKeys = std::move(keys); g_testPos = 0; g_transcript.clear(); }
std::string TestTranscript() { return g_transcript; }
std::string ScreenRow(int) { return std::string(80, ' '); }
std::uint8_t ScreenAttribute(int, int) { return g_attr; }
}  // namespace svfit::console
