// The terminal front end: the 80 x 25 grid drawn with ncurses (wide build) at
// the top left of the alternate screen, keyboard in raw mode, mouse through
// the terminal's mouse reporting, title through the title sequence.
//
// Colours: the grid's sixteen colour numbers are the PC order (1 blue, 4 red);
// they are mapped to the terminal's ANSI order, bright ones to colours 8..15
// when the terminal has sixteen, else to bold. A terminal smaller than 80 x 25
// shows a request to enlarge it and the grid again as soon as it fits.
//
// Keys wait in the terminal's input buffer while the 15-byte queue is full,
// instead of being dropped: the terminal is the keyboard buffer here.
//
// The one thing that must never fail: the terminal is given back in the state
// it was found in, on every way out - normal end, ConsoleHalt, the Ctrl-C
// break, exit() from anywhere, an uncaught exception, and fatal signals. The
// signal path cannot call ncurses, so the reset sequences and the original
// terminal modes are prepared at start and written with write(2).
#include <langinfo.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <ncursesw/curses.h>

#include "console/crt.h"
#include "console/crt_model.h"

namespace svfit::console::detail {
namespace {

// ---- Emergency restore (async-signal-safe) ---------------------------------------

volatile std::sig_atomic_t g_active = 0;  // the terminal is in our modes
char g_reset[512];
std::size_t g_resetLength = 0;
termios g_savedModes;
bool g_haveSavedModes = false;
class TerminalFrontend;
TerminalFrontend* g_terminal = nullptr;

void EmergencyRestore() {
  if (!g_active) return;
  g_active = 0;
  ssize_t ignored = ::write(STDOUT_FILENO, g_reset, g_resetLength);
  (void)ignored;
  if (g_haveSavedModes) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedModes);
}

void OnFatalSignal(int sig) {
  EmergencyRestore();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void OnHangup(int) {
  // The terminal went away: ending is all that is left (exit code 1, as for
  // a closed window).
  EmergencyRestore();
  ::_exit(1);
}

void AppendReset(const char* s) {
  if (s == nullptr || s == reinterpret_cast<const char*>(-1)) return;
  const std::size_t n = std::strlen(s);
  if (g_resetLength + n >= sizeof g_reset) return;
  std::memcpy(g_reset + g_resetLength, s, n);
  g_resetLength += n;
}

const char* TermString(const char* cap) {
  char* s = tigetstr(const_cast<char*>(cap));
  return (s == nullptr || s == reinterpret_cast<char*>(-1)) ? nullptr : s;
}

// ---- Colours --------------------------------------------------------------------

// PC colour order (black, blue, green, cyan, red, magenta, brown, grey) to
// the ANSI order of the terminal.
constexpr short kAnsi[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                            COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

constexpr int kCellWidth = 8;   // nominal pixels of a cell, for mouse positions
constexpr int kCellHeight = 16;

void OnTerminate();

class TerminalFrontend final : public Frontend {
 public:
  explicit TerminalFrontend(Console& c) : console_(c) {}
  ~TerminalFrontend() override { Close(); }

  bool Open() {
    std::setlocale(LC_CTYPE, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
      std::setlocale(LC_CTYPE, "C.UTF-8");  // terminals today speak UTF-8
    g_haveSavedModes = ::tcgetattr(STDIN_FILENO, &g_savedModes) == 0;
    screen_ = newterm(nullptr, stdout, stdin);
    if (screen_ == nullptr) return false;
    set_term(screen_);
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    meta(stdscr, TRUE);
    intrflush(stdscr, FALSE);
    set_escdelay(25);
    curs_set(1);
    if (has_colors() && start_color() == OK) {
      if (COLORS >= 16 && COLOR_PAIRS > 128) {
        colours_ = 16;
        for (int bg = 0; bg < 8; ++bg)
          for (int fg = 0; fg < 16; ++fg)
            init_pair(static_cast<short>(1 + bg * 16 + fg),
                      static_cast<short>(kAnsi[fg & 7] + (fg & 8)), kAnsi[bg]);
      } else if (COLOR_PAIRS > 64) {
        colours_ = 8;
        for (int bg = 0; bg < 8; ++bg)
          for (int fg = 0; fg < 8; ++fg)
            init_pair(static_cast<short>(1 + bg * 8 + fg), kAnsi[fg], kAnsi[bg]);
      }
    }
    mousemask(ALL_MOUSE_EVENTS | REPORT_MOUSE_POSITION, nullptr);
    mouseinterval(0);
    const char* term = std::getenv("TERM");
    titles_ = term != nullptr && std::strncmp(term, "linux", 5) != 0;

    // What an emergency exit writes: colours off, cursor on, mouse reporting
    // off, keypad mode off, title back, main screen back.
    g_resetLength = 0;
    AppendReset(TermString("sgr0"));
    AppendReset(TermString("cnorm"));
    AppendReset("\033[?1000l\033[?1002l\033[?1003l\033[?1006l");
    AppendReset(TermString("rmkx"));
    if (titles_) AppendReset("\033[23;0t");
    AppendReset(TermString("rmcup"));
    g_terminal = this;
    g_active = 1;
    InstallHandlers();
    if (titles_) Raw("\033[22;0t");  // keep the user's title to give it back
    CheckSize();
    return true;
  }

  void Show(const Grid& g, const Rect& r, bool now) override {
    if (screen_ == nullptr) return;
    if (!tooSmall_) {
      for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x) Draw(g, x, y);
      pending_ = true;
    }
    if (now) Present();
  }

  void Poll(Console& c) override {
    if (screen_ == nullptr) return;
    using namespace std::chrono;
    if (pending_ && steady_clock::now() - lastPresent_ > milliseconds(40)) Present();
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    wtimeout(stdscr, 0);
    // Input is taken from the terminal only while the queue has room for an
    // extended key: the rest waits in the terminal's own buffer, so a pasted
    // path or a quick typist loses nothing.
    for (int i = 0; i < 64 && c.queueCount <= kKeyQueueSize - 2; ++i) {
      wint_t ch = 0;
      const int rc = wget_wch(stdscr, &ch);
      if (rc == ERR) break;
      Handle(c, rc, ch);
    }
  }

  void Wait(Console& c, int timeoutMs) override {
    if (screen_ == nullptr) c.BreakExit();
    Present();
    wtimeout(stdscr, timeoutMs);
    wint_t ch = 0;
    const int rc = wget_wch(stdscr, &ch);
    if (rc != ERR) {
      Handle(c, rc, ch);
    } else if (timeoutMs < 0) {
      // A blocking read that fails: the terminal is gone (hang-up without
      // the signal). End like a closed window instead of spinning.
      pollfd p{STDIN_FILENO, POLLIN, 0};
      if (::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ||
          ++failedReads_ > 100) {
        Exit(c, 1);
      }
      return;
    }
    failedReads_ = 0;
    Poll(c);
  }

  void SetTitle(std::string_view t) override {
    if (!titles_ || screen_ == nullptr) return;
    std::string s = "\033]0;";
    for (char ch : t)
      if (static_cast<unsigned char>(ch) >= 32) s += ch;
    s += '\007';
    Raw(s);
  }

  void Tone(bool on) override {
    if (on && screen_ != nullptr) beep();  // the bell stands in for any tone
  }

  void Sleep(int ms) override {
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(ms);
    Present();
    for (;;) {
      const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
      if (left <= 0) return;
      pollfd p{STDIN_FILENO, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) > 0) Poll(console_);  // keys typed meanwhile queue up
    }
  }

  void FinishWait(Console& c) override {
    hint_ = true;
    DrawAll();
    // Only Escape ends the wait; the last screen stays readable until then.
    while (c.ReadKey() != kKeyEscape) {
    }
  }

  void Close() override {
    if (screen_ == nullptr) return;
    g_active = 0;
    mousemask(0, nullptr);
    endwin();
    if (titles_) Raw("\033[23;0t");
    delscreen(screen_);
    screen_ = nullptr;
    if (g_terminal == this) g_terminal = nullptr;
  }

  [[noreturn]] void Exit(Console&, int code) override {
    Close();
    std::exit(code);
  }

  void SetMousePosition(int, int) override {}  // a terminal cannot move the pointer
  bool IsScript() const override { return false; }

 private:
  static void InstallHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGINT, SIGQUIT})
      std::signal(sig, OnFatalSignal);
    std::signal(SIGHUP, OnHangup);
    std::set_terminate(OnTerminate);
    std::atexit([] {
      if (g_terminal != nullptr) g_terminal->Close();
    });
  }

  // Bytes straight to the terminal, after what ncurses has buffered.
  static void Raw(std::string_view s) {
    std::fflush(stdout);
    ssize_t ignored = ::write(STDOUT_FILENO, s.data(), s.size());
    (void)ignored;
  }

  void Attributes(std::uint8_t a, attr_t* attr, short* pair) const {
    const int fg = a & 15, bg = (a >> 4) & 7;
    *attr = A_NORMAL;
    *pair = 0;
    if (colours_ == 16) {
      *pair = static_cast<short>(1 + bg * 16 + fg);
    } else if (colours_ == 8) {
      *pair = static_cast<short>(1 + bg * 8 + (fg & 7));
      if (fg & 8) *attr = A_BOLD;
    } else {
      if (fg & 8) *attr = A_BOLD;
      if (bg != 0 && fg == 0) *attr |= A_REVERSE;
    }
  }

  void Draw(const Grid& g, int x, int y) {
    const Cell& cell = g.At(x, y);
    attr_t attr;
    short pair;
    Attributes(cell.attr, &attr, &pair);
    wchar_t wc[2] = {static_cast<wchar_t>(CellCodePoint(cell.ch)), 0};
    cchar_t cc;
    setcchar(&cc, wc, attr, pair, nullptr);
    mvwadd_wch(stdscr, y, x, &cc);
  }

  void DrawAll() {
    if (tooSmall_) {
      werase(stdscr);
      const std::string text = "please enlarge the terminal to 80x25 (now " +
                               std::to_string(COLS) + "x" + std::to_string(LINES) + ")";
      mvwaddnstr(stdscr, LINES / 2, 0, text.c_str(), COLS);
    } else {
      for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kColumns; ++x) Draw(console_.grid, x, y);
      if (hint_) {
        const char* text = " finished: press Escape to leave ";
        const int y = LINES > kRows ? kRows : kRows - 1;
        const int x = LINES > kRows ? 0 : kColumns - static_cast<int>(std::strlen(text));
        wattr_on(stdscr, A_REVERSE, nullptr);
        mvwaddstr(stdscr, y, x, text);
        wattr_off(stdscr, A_REVERSE, nullptr);
      }
    }
    pending_ = true;
    Present();
  }

  void CheckSize() {
    tooSmall_ = COLS < kColumns || LINES < kRows;
    werase(stdscr);
    DrawAll();
  }

  void Present() {
    if (screen_ == nullptr) return;
    if (!tooSmall_) wmove(stdscr, console_.grid.curY, console_.grid.curX);
    wrefresh(stdscr);
    pending_ = false;
    lastPresent_ = std::chrono::steady_clock::now();
  }

  void Mouse(Console& c) {
    MEVENT ev;
    if (getmouse(&ev) != OK) return;
    const mmask_t b = ev.bstate;
    if (b & (BUTTON1_PRESSED)) buttons_ |= 1;
    if (b & (BUTTON1_RELEASED | BUTTON1_CLICKED)) buttons_ &= ~1;
    if (b & (BUTTON3_PRESSED)) buttons_ |= 2;
    if (b & (BUTTON3_RELEASED | BUTTON3_CLICKED)) buttons_ &= ~2;
    if (b & (BUTTON2_PRESSED)) buttons_ |= 4;
    if (b & (BUTTON2_RELEASED | BUTTON2_CLICKED)) buttons_ &= ~4;
    // The centre of the cell, in the nominal 8 x 16 pixels of a cell.
    const int px = ev.x * kCellWidth + kCellWidth / 2;
    const int py = ev.y * kCellHeight + kCellHeight / 2;
    c.mouseX = std::min(std::max(px, -10000), c.mouseMaxX);
    c.mouseY = std::min(std::max(py, -10000), c.mouseMaxY);
    c.mouseButtons = buttons_;
    c.shift = (b & BUTTON_SHIFT) != 0;
  }

  // One key from ncurses into the console's queue.
  void Handle(Console& c, int rc, wint_t ch) {
    if (rc == OK) {
      if (ch == 127) ch = kKeyBackspace;  // the Backspace key of most terminals
      if (ch > 255) return;               // not a Latin-1 character
      c.DeliverKey(static_cast<int>(ch), 0);
      return;
    }
    int scan = 0;
    bool shift = false;
    switch (ch) {
      case KEY_RESIZE: CheckSize(); return;
      case KEY_MOUSE: Mouse(c); return;
      case KEY_BACKSPACE: c.DeliverKey(kKeyBackspace, 0); return;
      case KEY_ENTER: c.DeliverKey(kKeyEnter, 0); return;
      case KEY_HOME: scan = kScanHome; break;
      case KEY_UP: scan = kScanUp; break;
      case KEY_PPAGE: scan = kScanPageUp; break;
      case KEY_LEFT: scan = kScanLeft; break;
      case KEY_RIGHT: scan = kScanRight; break;
      case KEY_END: scan = kScanEnd; break;
      case KEY_DOWN: scan = kScanDown; break;
      case KEY_NPAGE: scan = kScanPageDown; break;
      case KEY_IC: scan = kScanInsert; break;
      case KEY_DC: scan = kScanDelete; break;
      case KEY_SHOME: scan = kScanHome; shift = true; break;
      case KEY_SR: scan = kScanUp; shift = true; break;
      case KEY_SPREVIOUS: scan = kScanPageUp; shift = true; break;
      case KEY_SLEFT: scan = kScanLeft; shift = true; break;
      case KEY_SRIGHT: scan = kScanRight; shift = true; break;
      case KEY_SEND: scan = kScanEnd; shift = true; break;
      case KEY_SF: scan = kScanDown; shift = true; break;
      case KEY_SNEXT: scan = kScanPageDown; shift = true; break;
      case KEY_SIC: scan = kScanInsert; shift = true; break;
      case KEY_SDC: scan = kScanDelete; shift = true; break;
      default:
        if (ch >= static_cast<wint_t>(KEY_F(1)) && ch <= static_cast<wint_t>(KEY_F(24))) {
          int n = static_cast<int>(ch - KEY_F(0));
          if (n > 12) {  // Shift-F1..F12 arrive as F13..F24
            n -= 12;
            shift = true;
          }
          scan = n <= 10 ? kScanF1 + n - 1 : n == 11 ? kScanF11 : kScanF12;
        }
        break;
    }
    if (scan != 0) c.DeliverExtended(scan, shift ? 1 : 0);  // other keys are ignored
  }

  Console& console_;
  SCREEN* screen_ = nullptr;
  int colours_ = 0;  // 16, 8 or 0 (monochrome)
  bool titles_ = false;
  bool tooSmall_ = false;
  bool pending_ = false;
  bool hint_ = false;
  int buttons_ = 0;
  int failedReads_ = 0;  // blocking reads in a row that returned nothing
  std::chrono::steady_clock::time_point lastPresent_{};
};

void OnTerminate() {
  if (g_terminal != nullptr) g_terminal->Close();
  if (auto e = std::current_exception()) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      std::fprintf(stderr, "svfit: fatal error: %s\n", x.what());
    } catch (...) {
      std::fputs("svfit: fatal error\n", stderr);
    }
  }
  std::abort();
}

}  // namespace

std::unique_ptr<Frontend> MakeTerminalFrontend(Console& c) {
  if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) return nullptr;
  auto t = std::make_unique<TerminalFrontend>(c);
  if (!t->Open()) return nullptr;
  return t;
}

}  // namespace svfit::console::detail
