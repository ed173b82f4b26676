// The graph viewer (see viewer.h): ordinate numbers, scan list, menu text,
// hardcopy and crosshair picking on the picture a plot has drawn.
//
// At entry two screen strips are saved to the swap file "swapdata.$$$": the
// abscissa-number strip under the frame and the ordinate-number band left of
// it, both before the viewer draws its own numbers. Putting the band back
// erases the ordinate numbers before they are drawn again (Ctrl-Y); the strip
// is put back when crosshair picking ends.
//
// The crosshair is drawn in exclusive-or, so drawing it a second time removes
// it and the picture underneath is never lost; every key first removes it,
// then acts, then draws it at its new place. The status line lives in the
// strip above the data area, which is saved when picking starts and put back
// before each new status text; under it, radius picking names its keys with
// the start and end radius taken so far, in the colours of the dashed lines
// that mark the meniscus, start and end radius in the picture meanwhile. On a
// terminal without a graphics window the status goes to the console as well.
//
// The key "=" asks on the console for a position and moves the crosshair to
// the nearest pixel column there: a radius [cm], or in start-value picking s
// [S] of the last scan (at the height of its data), or s* on a distribution
// display (at the height of g(s*)). A script places it exactly this way
// instead of counting arrow keys.
//
// Radius and ordinate at the crosshair come from the picture's AxisScale; the
// sedimentation coefficient of start-value picking is
//   s = ln(r / r_m) / (ω² t) · 1e13  [S]
// for the last scan of the sequence (ω² = scanOmega2 · omega2First, t its
// scanTime) and the marked meniscus r_m. On a distribution display the
// abscissa is s* itself and the ordinate g(s*).
#include "plot/viewer.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "console/crt.h"
#include "console/format.h"
#include "console/graph.h"
#include "console/hardcopy.h"
#include "console/prompt.h"
#include "plot/screen_frame.h"

namespace svfit::plot {

namespace gr = svfit::console;
using Buffer = std::vector<std::uint8_t>;

namespace {

constexpr double kMaxEndRadius = 7.3;  // [cm] an end radius beyond this is outside every cell

int g_finishKey = console::kKeyCtrlN;
std::vector<PlacedText> g_texts;
std::string g_swapPath;

// ---- Swap file ------------------------------------------------------------------------

void RemoveSwapFile() {
  if (!g_swapPath.empty()) std::remove(g_swapPath.c_str());
}

std::string ChooseSwapPath() {
  const char* name = "swapdata.$$$";
  if (access(".", W_OK) == 0) return name;
  std::error_code ec;
  const auto tmp = std::filesystem::temp_directory_path(ec);
  return ((ec ? std::filesystem::path("/tmp") : tmp) / name).string();
}

// Writes the two images, each as a 32-bit length and its bytes. Returns
// false when the file cannot be written (the images then stay in memory).
bool WriteSwap(const Buffer& strip, const Buffer& band) {
  if (g_swapPath.empty()) {
    g_swapPath = ChooseSwapPath();
    std::atexit(RemoveSwapFile);
  }
  std::ofstream out(g_swapPath, std::ios::binary | std::ios::trunc);
  for (const Buffer* b : {&strip, &band}) {
    const std::uint32_t n = static_cast<std::uint32_t>(b->size());
    out.write(reinterpret_cast<const char*>(&n), 4);
    out.write(reinterpret_cast<const char*>(b->data()), static_cast<std::streamsize>(b->size()));
  }
  return static_cast<bool>(out);
}

// Reads image `which` (0 strip, 1 band) back; false when the file fails.
bool ReadSwap(int which, Buffer& b) {
  std::ifstream in(g_swapPath, std::ios::binary);
  for (int i = 0; i <= which && in; ++i) {
    std::uint32_t n = 0;
    in.read(reinterpret_cast<char*>(&n), 4);
    if (!in || n > (1u << 30)) return false;
    b.resize(n);
    in.read(reinterpret_cast<char*>(b.data()), n);
  }
  return static_cast<bool>(in);
}

// ---- The viewer's session -----------------------------------------------------------

struct Session {
  AnalysisState& st;
  ViewerRequest req;
  AxisScale scale;
  ScreenLayout lay;
  ViewerResult result;
  Buffer strip, band;   // memory copies in case the swap file fails
  bool swapOk = false;
  int stripY1 = 0, stripY2 = 0;
  bool menuOn = true;
  // Crosshair picking.
  int cx = 0, cy = 0, step = 1;
  Buffer statusArea;
  bool ePressed = false, aPressed = false;
  // The meniscus, start and end radius shown as lines while picking radii:
  // pixel column (-1: not shown) and the column under the line.
  struct Mark {
    int x = -1;
    Buffer under;
  };
  std::array<Mark, 3> marks;
  std::string note;  // why the last start-value key was refused, until the next key
};

void SaveStrips(Session& v) {
  UseNumberFont();
  v.stripY1 = v.lay.bottomLine + 1;
  v.stripY2 = std::min(gr::MaxY(), v.lay.bottomLine + v.lay.ScaleY(9) + gr::FontHeight() + 2);
  const int bx1 = v.lay.listRight + 1, bx2 = v.lay.left - 1;
  if (gr::ImageBufferSize(0, v.stripY1, gr::MaxX(), v.stripY2) == 0 ||
      gr::ImageBufferSize(bx1, 0, bx2, gr::MaxY()) == 0) {
    gr::WriteLn("Bildausschnitt zu gro\xDF");
    gr::ConsoleHalt(0);
  }
  gr::SaveImage(0, v.stripY1, gr::MaxX(), v.stripY2, v.strip);
  gr::SaveImage(bx1, 0, bx2, gr::MaxY(), v.band);
  v.swapOk = WriteSwap(v.strip, v.band);
}

void PutBack(Session& v, int which) {
  Buffer b;
  if (!(v.swapOk && ReadSwap(which, b))) b = which == 0 ? v.strip : v.band;
  if (which == 0) gr::RestoreImage(0, v.stripY1, b, 0);
  else gr::RestoreImage(v.lay.listRight + 1, 0, b, 0);
}

void RedrawOrdinate(Session& v) {
  PutBack(v, 1);
  DrawOrdinate(v.lay, v.scale);
}

void DrawScanList(Session& v) {
  UseNumberFont();
  gr::SetTextJustify(0, 2);
  const std::vector<int> scans = DrawnScans(v.st);
  for (std::size_t i = 1; i <= scans.size(); ++i) {
    const int y = static_cast<int>(std::lround((i - 1) * 24 * v.lay.yScale));
    if (y + gr::FontHeight() > gr::MaxY()) break;  // the list ends at the bottom of the screen
    gr::SetDrawColor(ScanColor(static_cast<int>(i)));
    gr::DrawTextAt(2, y, std::to_string(scans[i - 1]));
  }
}

// ---- Menu text --------------------------------------------------------------------------

// Shows the menu text, waits for a key and removes the text again.
int MenuKey(Session& v) {
  Buffer under;
  UseMenuFont();
  const int w = 33 * gr::TextWidth("W"), h = 2 * gr::FontHeight() + 12;
  const int x = v.lay.right - w - v.lay.Scale(4), y = v.lay.menuY;
  gr::PresentGraphics();  // the picture itself, without the menu text
  if (v.menuOn) {
    gr::SaveImage(x, y, x + w, y + h, under);
    gr::SetTextJustify(0, 2);
    gr::SetDrawColor(14);
    gr::DrawTextAt(x, y, "scale Y:^Y, menu:space, exit:ESC");
    if (v.req.mode == 'J') gr::DrawTextAt(x, y + gr::FontHeight(), "cross hairs: enter, hardcopy: ^L");
  }
  gr::Announce(std::string("[viewer ") + v.req.mode + "]");
  int key = gr::ReadKey();
  if (v.menuOn) gr::RestoreImage(x, y, under, 0);
  return key;
}

// ---- Crosshair -----------------------------------------------------------------------------

void Crosshair(Session& v) {
  gr::SetDrawMode(1);
  gr::SetLine(0, 1, 1);
  gr::SetDrawColor(14);
  gr::DrawLine(v.cx, 0, v.cx, v.lay.bottomLine);
  gr::DrawLine(v.lay.left + 1, v.cy, v.lay.right, v.cy);
  gr::SetDrawMode(0);
}

void Clamp(Session& v) {
  v.cx = std::clamp(v.cx, v.lay.left + 1, v.lay.right - 1);
  v.cy = std::clamp(v.cy, 1, v.lay.bottomLine - 1);
}

// Start-value picking measures s on the last scan of the sequence from the
// marked meniscus (or the fitted one): r_m [cm] and ω²t [rad²/s] of that scan.
struct LastScan {
  int scan = 0;
  double rm = 0;
  double w2t = 0;
  bool usable() const { return w2t > 0 && rm > 0; }
};
LastScan LastScanOf(const Session& v) {
  const AnalysisState& st = v.st;
  LastScan l;
  l.scan = st.scanSequence[st.seqLast];
  const double omega2 = st.omega2First > 0 ? st.scanOmega2[l.scan] * st.omega2First : st.scanOmega2[l.scan];
  l.w2t = omega2 * st.scanTime[l.scan];
  l.rm = st.meniscusMarked > 0 ? st.meniscusMarked : st.param[4] > 0 ? st.param[4] : v.scale.xMin;
  return l;
}

double SvedbergAt(const Session& v, double r) {
  if (v.req.distribution) return r;  // the abscissa is s* [S]
  const LastScan l = LastScanOf(v);
  if (!l.usable() || !(r > 0)) return 0;
  return std::log(r / l.rm) / l.w2t * 1e13;
}

// The inverse: where the boundary of s [S] stands in the last scan,
// r = r_m·exp(s·1e-13·ω²t) [cm]; NaN when there is no such radius.
double RadiusOfSvedberg(const Session& v, double s) {
  if (v.req.distribution) return s;
  const LastScan l = LastScanOf(v);
  if (!l.usable()) return std::nan("");
  return l.rm * std::exp(s * 1e-13 * l.w2t);
}

std::string F4(double x) { return console::FormatF(x, 0, 4); }
std::string F2(double x) { return console::FormatF(x, 0, 2); }

// The status fields of the crosshair, in screen order.
std::vector<std::string> StatusFields(const Session& v) {
  const double r = v.scale.Radius(v.cx), od = v.scale.Value(v.cy);
  if (v.req.startValues && v.req.distribution) {
    return {"Svedberg = " + F2(r), "g = " + F4(od), "n=" + std::to_string(std::min(4, v.st.markedCount + 1)),
            "d=" + std::to_string(v.step)};
  }
  if (v.req.startValues) {
    const AnalysisState& st = v.st;
    return {"OD = " + F4(od), "last file = " + std::to_string(st.scanSequence[st.seqLast]),
            "Svedberg = " + F2(SvedbergAt(v, r)),
            "Radius = " + F4(r), "n=" + std::to_string(std::min(4, st.markedCount + 1)),
            "d=" + std::to_string(v.step)};
  }
  if (v.req.mode == 'B') return {"OD = " + F4(od), "Radius = " + F4(r)};
  return {"OD = " + F4(od), "Radius = " + F4(r), "Meniscus = " + F4(v.st.meniscusMarked),
          "bottom = " + F4(v.st.bottomMarked)};
}

// Enter always ends the picking, besides the finishing key.
std::string FinishKeyName() {
  if (g_finishKey == console::kKeyEnter) return "Enter";
  if (g_finishKey >= 1 && g_finishKey <= 26)
    return std::string("Enter/Ctrl-") + static_cast<char>('A' + g_finishKey - 1);
  return "Enter/" + std::string(1, static_cast<char>(g_finishKey));
}

// The meniscus, start and end radius marks: their colours, shared by the
// lines in the picture and the key names under the status line.
constexpr std::array<int, 3> kMarkColour = {13, 10, 12};
constexpr int kKeyColour = 11;

bool RadiusKeys(const Session& v) { return v.req.mode != 'B' && !v.req.startValues; }

// The keys of radius picking, under the status line, with the start and end
// radius they have set so far (the status line itself shows meniscus and
// bottom); each piece with its colour.
std::vector<std::pair<std::string, int>> KeyHelp(const Session& v) {
  std::vector<std::pair<std::string, int>> s;
  if (v.req.mode == 'N') s.push_back({"M meniscus   ", kMarkColour[0]});
  if (RadiusKeys(v)) {
    s.push_back({"A start " + F4(v.st.startRadius) + "   ", kMarkColour[1]});
    s.push_back({"E end " + F4(v.st.endRadius) + "   ", kMarkColour[2]});
  }
  s.push_back({"arrows (Shift: 15), = radius   " + FinishKeyName() + ": done", kKeyColour});
  return s;
}

// The radius of each mark, 0 when it has none in this mode.
std::array<double, 3> MarkRadii(const Session& v) {
  if (!RadiusKeys(v)) return {0, 0, 0};
  return {v.req.mode == 'N' ? v.st.meniscusMarked : 0.0, v.st.startRadius, v.st.endRadius};
}

// The lines leave a text line at the top of the data area free (a caption).
int MarkTop(const Session& v) { return v.lay.top + v.lay.ScaleY(28); }

// Marks are drawn over a saved copy of their pixel column and taken off by
// putting the columns back in the opposite order, so marks on the same column
// never spoil each other. The crosshair is off meanwhile.
void MarksOff(Session& v) {
  for (auto m = v.marks.rbegin(); m != v.marks.rend(); ++m) {
    if (m->x >= 0) gr::RestoreImage(m->x, MarkTop(v), m->under, 0);
    m->x = -1;
  }
}

void MarksOn(Session& v) {
  const std::array<double, 3> r = MarkRadii(v);
  for (std::size_t k = 0; k < v.marks.size(); ++k) {
    const int x = v.scale.XPixel(r[k]);
    if (!(r[k] > 0.1) || x <= v.lay.left || x >= v.lay.right) continue;
    v.marks[k].x = x;
    gr::SaveImage(x, MarkTop(v), x, v.lay.bottomLine - 1, v.marks[k].under);
    gr::SetDrawColor(kMarkColour[k]);
    gr::SetLine(3, 0, 1);  // dashed, so the data points stay visible
    gr::DrawLine(x, MarkTop(v), x, v.lay.bottomLine - 1);
    gr::SetLine(0, 1, 1);
  }
}

std::vector<std::string> StartValueFields(const Session& v) {
  std::vector<std::string> f;
  for (int k = 1; k <= 4; ++k)
    f.push_back("press key " + std::to_string(k) + " for S" + std::to_string(k) + " " + F2(v.st.markedS[static_cast<std::size_t>(k)]));
  return f;
}

void DrawStatus(Session& v) {
  gr::RestoreImage(v.lay.left + 1, 1, v.statusArea, 0);
  UseMenuFont();
  gr::SetTextJustify(0, 2);
  const int colW = gr::TextWidth("W");
  int x = v.lay.statusX;
  gr::SetDrawColor(14);
  for (const std::string& f : StatusFields(v)) {
    gr::DrawTextAt(x, v.lay.statusY, f);
    x += (static_cast<int>(f.size()) + 3) * colW;
  }
  if (!v.note.empty()) {
    gr::SetDrawColor(13);
    gr::DrawTextAt(v.lay.statusX, v.lay.statusY + gr::FontHeight(), v.note);
  } else if (!v.req.startValues) {
    gr::MoveTo(v.lay.statusX, v.lay.statusY + gr::FontHeight());
    for (const auto& [text, colour] : KeyHelp(v)) {
      gr::SetDrawColor(colour);
      gr::DrawText(text);
    }
  } else {
    x = v.lay.statusX;
    const int y = v.lay.statusY + gr::FontHeight();
    for (const std::string& f : StartValueFields(v)) {
      const std::size_t cut = f.rfind(' ');
      gr::SetDrawColor(14);
      gr::DrawTextAt(x, y, f.substr(0, cut + 1));
      gr::SetDrawColor(13);
      gr::DrawText(f.substr(cut + 1));
      x += (static_cast<int>(f.size()) + 2) * colW;
    }
  }
}

// On a terminal without a graphics window nobody sees the surface: the
// status line is then written on the console, on one line that each key
// rewrites, under a line that names the keys.
bool EchoOnConsole() { return !gr::IsScriptFrontend() && !gr::GraphicsWindowActive(); }

// Once per run: why the picture is not to be seen.
void NoteNoWindow() {
  static bool told = false;
  if (!told) gr::WriteLn("(no graphics window here: svfit --png DIR saves the pictures)");
  told = true;
}

// The keys of the viewer while it waits, for the console.
std::string ViewerKeys(char mode) {
  if (mode == 'J') return "graph: Esc goes on, Enter crosshair, Ctrl-L hardcopy, Ctrl-Y scale";
  return "graph: Esc goes on, Ctrl-Y scale";
}

std::string ConsoleKeys(const Session& v) {
  std::string s = "crosshair keys: arrows move, = types a position, ";
  if (v.req.distribution) s += "1-4 mark peaks S1-S4, Esc no marks, ";
  else if (v.req.startValues) s += "1-4 take S1-S4, ";
  else if (v.req.mode == 'N') s += "M meniscus, A start, E end, ";
  else if (v.req.mode != 'B') s += "A start, E end, ";
  return s + FinishKeyName() + ": done";
}

// A line of items joined by ", ", broken between items to fit 79 columns.
void WriteWrapped(const std::string& text) {
  std::string line;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t next = text.find(", ", pos);
    next = next == std::string::npos ? text.size() : next + 2;
    const std::string item = text.substr(pos, next - pos);
    if (!line.empty() && line.size() + item.size() > 79) {
      gr::WriteLn(line.substr(0, line.find_last_not_of(' ') + 1));
      line.clear();
    }
    line += item;
    pos = next;
  }
  if (!line.empty()) gr::WriteLn(line);
}

// The status on one console line of 79 columns: when start values or peaks
// are marked, the marks S1..S4 take the place of the counters, which the
// picture alone shows.
void EchoStatus(const Session& v) {
  if (!EchoOnConsole()) return;
  std::string line;
  for (const std::string& f : StatusFields(v)) {
    if (v.req.startValues && (f.rfind("n=", 0) == 0 || f.rfind("d=", 0) == 0 ||
                              f.rfind("last file", 0) == 0))
      continue;
    line += (line.empty() ? "" : "  ") + f;
  }
  if (v.req.startValues) {
    line += "  S1-S4 =";
    for (int k = 1; k <= 4; ++k) line += " " + F2(v.st.markedS[static_cast<std::size_t>(k)]);
  }
  if (!v.note.empty()) line = v.note;
  gr::Write("\r" + line.substr(0, 79));
  gr::ClearToEndOfLine();
}

void AnnounceStatus(const Session& v) {
  EchoStatus(v);
  std::string line = "[cross";
  for (const std::string& f : StatusFields(v)) line += " " + f;
  if (v.req.startValues) {
    for (int k = 1; k <= 4; ++k) line += " S" + std::to_string(k) + " = " + F2(v.st.markedS[static_cast<std::size_t>(k)]);
  }
  if (!v.note.empty()) line += " " + v.note;
  gr::Announce(line + "]");
}

// Ctrl-V: a text typed at the console is written at the crosshair.
void PlaceText(Session& v) {
  gr::Write("text at the crosshair :  ");
  const std::string text = gr::ReadLine(kLineLength + 2);
  if (text.empty()) return;
  UseMenuFont();
  gr::SetTextJustify(0, 1);
  gr::SetDrawColor(15);
  gr::DrawTextAt(v.cx, v.cy, text);
  g_texts.push_back(PlacedText{v.cx, v.cy, gr::MaxX() + 1, gr::MaxY() + 1, false, text});
  gr::SetTextJustify(0, 2);
}

// Waits for the next key; with a real window, a mouse moved with the left
// button held moves the crosshair meanwhile. Returns -1 for a mouse move.
int PickKey(Session& v) {
  if (!gr::GraphicsWindowActive()) return gr::ReadKey();
  for (;;) {
    if (gr::KeyPressed()) return gr::ReadKey();
    if (gr::MouseButtons() & 1) {
      const int mx = std::clamp(gr::MouseX(), v.lay.left + 1, v.lay.right - 1);
      const int my = std::clamp(gr::MouseY(), 1, v.lay.bottomLine - 1);
      if (mx != v.cx || my != v.cy) {
        Crosshair(v);  // off
        v.cx = mx;
        v.cy = my;
        DrawStatus(v);
        Crosshair(v);  // on at the mouse
        return -1;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Why mark k at s [S] cannot be taken ("" when it can). Each mark is one
// component: a mark at the meniscus or inside it gives no s, and two marks
// at the same s give two components whose derivatives are the same, which
// no fit can tell apart. Marks closer than 1 % in s count as the same.
std::string RefusedMark(const AnalysisState& st, std::size_t k, double s) {
  const std::string name = "S" + std::to_string(k);
  if (!(s > 0)) return name + " refused: no s left of the meniscus";
  for (std::size_t j = 1; j <= 4; ++j) {
    const double other = st.markedS[j];
    if (j == k || other == 0) continue;
    if (std::fabs(s - other) <= 0.01 * std::max(std::fabs(s), std::fabs(other)))
      return name + " refused: the same s as S" + std::to_string(j) + ", mark another boundary";
  }
  return "";
}

// ---- Typed positions ("=") --------------------------------------------------------

// The abscissa a typed value means: a radius [cm] when radii are picked, s
// [S] of the last scan when start values are, s* [S] on a distribution.
const char* TypedPrompt(const Session& v) {
  if (v.req.distribution) return "crosshair to s* (S) :  ";
  if (v.req.startValues) return "crosshair to s in the last scan (S) :  ";
  return "crosshair to radius (cm) :  ";
}

// A whole number text such as "6.2299", "+4.5" or "1e-1", blanks around it
// allowed; false for anything else or a value that is not finite.
bool ParseTyped(std::string text, double& value) {
  text.erase(0, text.find_first_not_of(' '));
  text.erase(text.find_last_not_of(' ') + 1);
  if (!text.empty() && text[0] == '+') text.erase(0, 1);
  if (text.empty() || text[0] == '+') return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

// Height of the data at abscissa x: the last scan, linearly interpolated
// (held at its ends), for start values; g(s*) on a distribution; NaN when
// radii are picked, where the crosshair keeps its height.
double DataHeightAt(const Session& v, double x) {
  const AnalysisState& st = v.st;
  const double* xs = nullptr;
  const double* ys = nullptr;
  int first = 0, last = 0;
  if (v.req.distribution) {
    xs = st.distS.data(), ys = st.distG.data(), first = st.distStart, last = st.distEnd;
  } else if (v.req.startValues) {
    const int s = LastScanOf(v).scan;
    xs = st.scanRadius[s], ys = st.scanValue[s], first = st.scanFirstPoint[s], last = st.scanLastPoint[s];
  }
  first = std::max(first, 1);
  last = std::min(last, kMaxPoints);
  if (xs == nullptr || last < first) return std::nan("");
  if (x <= xs[first]) return ys[first];
  for (int j = first + 1; j <= last; ++j) {
    if (x <= xs[j]) {
      const double span = xs[j] - xs[j - 1];
      return span > 0 ? ys[j - 1] + (ys[j] - ys[j - 1]) * (x - xs[j - 1]) / span : ys[j];
    }
  }
  return ys[last];
}

void Refuse(Session& v, const std::string& why) {
  v.note = why;
  gr::SetTextColor(gr::kLightMagenta);
  gr::WriteLn(why);
  gr::SetTextColor(gr::kWhite);
}

// "=": a value typed on the console moves the crosshair to the nearest pixel
// column of that abscissa, so that the keys that follow take what the status
// line shows, as after arrow keys. Escape or an empty line leave it where it
// was; a value outside the plot is refused with a message.
void TypedPosition(Session& v) {
  v.note = "type the value on the console: Enter takes it, Esc leaves the crosshair";
  if (gr::GraphicsWindowActive()) {
    DrawStatus(v);
    gr::PresentGraphics();
  }
  v.note.clear();
  if (gr::CursorColumn() > 1) gr::WriteLn();
  gr::Write(TypedPrompt(v));
  const std::optional<std::string> answer = console::EditLineOrEscape("", 24);
  if (!answer || answer->find_first_not_of(' ') == std::string::npos) return;
  double typed = 0;
  if (!ParseTyped(*answer, typed)) return Refuse(v, "not a number: " + *answer);
  const double x = v.req.startValues ? RadiusOfSvedberg(v, typed) : typed;
  // Pixel column of x, in double first: a value far off must not overflow.
  const double column = v.scale.left + (x - v.scale.xMin) / v.scale.xSpan * v.scale.width;
  const int lo = v.lay.left + 1, hi = v.lay.right - 1;
  if (!(column >= lo - 0.5 && column <= hi + 0.5)) {
    const double a = v.scale.Radius(lo), b = v.scale.Radius(hi);
    const std::string range = v.req.startValues
                                  ? F2(SvedbergAt(v, a)) + " to " + F2(SvedbergAt(v, b)) + " S"
                                  : F4(a) + " to " + F4(b) + " cm";
    return Refuse(v, *answer + " is outside the plot (" + range + ")");
  }
  v.cx = std::clamp(static_cast<int>(std::lround(column)), lo, hi);
  const double height = DataHeightAt(v, v.scale.Radius(v.cx));
  if (std::isfinite(height)) v.cy = v.scale.YPixel(height);
  Clamp(v);
}

// Returns true when the key ends the picking.
bool PickAction(Session& v, int key) {
  AnalysisState& st = v.st;
  const double r = v.scale.Radius(v.cx);
  const bool radiusKeys = RadiusKeys(v);
  if (key == 0) {
    const int scan = gr::ReadKey();
    v.step = gr::ShiftDown() ? 15 : 1;
    switch (scan) {
      case console::kScanLeft: v.cx -= v.step; break;
      case console::kScanRight: v.cx += v.step; break;
      case console::kScanUp: v.cy -= v.step; break;
      case console::kScanDown: v.cy += v.step; break;
      default: break;
    }
    Clamp(v);
    return false;
  }
  if (key == g_finishKey || key == console::kKeyEnter) return true;
  if (key == console::kKeyEscape && v.req.distribution) {  // leave without marks
    st.markedS.fill(0);
    st.markedAmp.fill(0);
    st.markedCount = 0;
    return true;
  }
  const int up = (key >= 'a' && key <= 'z') ? key - 32 : key;
  if (key == '=') {
    TypedPosition(v);
  } else if (up == 'M' && v.req.mode == 'N') {
    st.meniscusMarked = r;
    v.result.meniscusPicked = true;
    gr::Beep(880, 100);
  } else if (up == 'E' && radiusKeys) {
    // The end radius only: the near-bottom radius, where the scans are cut,
    // follows it when loading ends or when K takes it (its default), so a
    // mark in the viewer after a fit does not change what the report says of
    // the fitted range.
    st.endRadius = std::min(r, kMaxEndRadius);
    st.bottomMarked = r;
    v.ePressed = v.result.endPicked = true;
    gr::Beep(880, 100);
  } else if (up == 'A' && radiusKeys) {
    st.startRadius = r;
    v.aPressed = v.result.startPicked = true;
    gr::Beep(880, 100);
  } else if (key >= '1' && key <= '4' && v.req.startValues) {
    static constexpr int kHz[4] = {1030, 933, 888, 788};
    const std::size_t k = static_cast<std::size_t>(key - '0');
    const double s = SvedbergAt(v, r);
    v.note = RefusedMark(st, k, s);
    // A peak of the distribution is where g(s*) stands above 0: its height
    // becomes the component's share of the start concentration.
    if (v.note.empty() && v.req.distribution && !(v.scale.Value(v.cy) > 0))
      v.note = "S" + std::to_string(k) + " refused: g(s*) is not above 0 there";
    if (!v.note.empty()) {
      gr::Beep(220, 300);
      return false;
    }
    if (st.markedS[k] == 0) st.markedCount = std::min(kMaxComponents, st.markedCount + 1);
    st.markedS[k] = s;
    st.markedAmp[k] = v.scale.Value(v.cy);
    gr::Beep(kHz[k - 1], 100);
  } else if (key == console::kKeyCtrlV) {
    PlaceText(v);
  }
  // Mode N ends by itself once both radii were taken and both marks are set.
  return v.req.mode == 'N' && v.ePressed && v.aPressed && st.meniscusMarked > 0.1 && st.bottomMarked > 0.1;
}

void CrosshairPick(Session& v) {
  gr::SetDrawMode(0);
  v.cx = std::clamp(v.lay.Scale(350), v.lay.left + 1, v.lay.right - 1);
  v.cy = std::clamp(v.lay.ScaleY(200), 1, v.lay.bottomLine - 1);
  gr::SetMousePosition(v.cx, v.cy);
  v.step = 1;
  gr::SaveImage(v.lay.left + 1, 1, v.lay.right - 1, v.lay.top - 1, v.statusArea);
  DrawStatus(v);
  MarksOn(v);
  Crosshair(v);
  gr::PresentGraphics();
  gr::Announce(std::string("[viewer ") + v.req.mode + "]");
  if (EchoOnConsole()) {
    NoteNoWindow();
    WriteWrapped(ConsoleKeys(v));
  }
  AnnounceStatus(v);
  for (;;) {
    const int key = PickKey(v);
    if (key < 0) {
      AnnounceStatus(v);
      continue;
    }
    Crosshair(v);  // off
    MarksOff(v);
    v.note.clear();
    const bool done = PickAction(v, key);
    DrawStatus(v);
    MarksOn(v);
    Crosshair(v);  // on at the new place
    AnnounceStatus(v);
    if (done) break;
  }
  Crosshair(v);  // off
  MarksOff(v);
  gr::RestoreImage(v.lay.left + 1, 1, v.statusArea, 0);
  PutBack(v, 0);
  if (EchoOnConsole()) gr::WriteLn();
}

void Hardcopy(Session& v) {
  RedrawOrdinate(v);
  if (v.req.turnedHardcopy) gr::PrintViewPort(85, 1162, 1275, 1);
  else gr::PrintViewPort(85, 1530, 968, 0);
  v.result.printed = true;
  gr::Beep(400, 200);
}

}  // namespace

const std::vector<PlacedText>& PlacedTexts() { return g_texts; }
void ClearPlacedTexts() { g_texts.clear(); }
void SetCrosshairFinishKey(int key) { g_finishKey = key; }
int CrosshairFinishKey() { return g_finishKey; }
std::string SwapFilePath() { return g_swapPath; }

ViewerResult GraphViewer(AnalysisState& st, const ViewerRequest& request, const AxisScale& scale) {
  Session v{st, request, scale, MakeScreenLayout(), {}, {}, {}, false, 0, 0, true, 0, 0, 1,
            {}, false, false, {}, {}};
  const int colour = gr::GetDrawColor();
  gr::SetDrawMode(0);
  SaveStrips(v);
  DrawOrdinate(v.lay, v.scale);
  if (request.mode == 'J') DrawScanList(v);
  if (request.mode == 'N' || request.mode == 'B') {
    CrosshairPick(v);
  } else {
    if (EchoOnConsole()) {
      NoteNoWindow();
      WriteWrapped(ViewerKeys(request.mode));
    }
    for (;;) {
      const int key = MenuKey(v);
      v.result.lastKey = key;
      if (key == console::kKeyEscape) break;
      if (key == 0) {
        gr::ReadKey();  // extended keys have no meaning here
      } else if (key == ' ') {
        v.menuOn = !v.menuOn;
      } else if (key == console::kKeyCtrlY) {
        RedrawOrdinate(v);
      } else if (key == console::kKeyEnter && request.mode != 'A') {
        CrosshairPick(v);
      } else if (key == console::kKeyCtrlL) {
        if (request.mode == 'A' || request.mode == 'B') break;
        Hardcopy(v);
      }
    }
  }
  gr::SetDrawColor(colour);
  return v.result;
}

}  // namespace svfit::plot
