// The question forms of the dialogue over the console operations.
//
// A refused answer is never reported: the cursor goes to column 1 of the row
// that was answered, that row (and any row the answer spilled into) is
// cleared and the question is written again, so the screen keeps one line per
// question. The answered row is found from the row where the answer started
// and the number of scrolls since (LinesScrolled), which stays right even
// when the question was asked on the bottom row and Enter scrolled the grid.
//
// Numbers are converted strictly: the whole answer (blanks around it aside)
// must be a number, so "2o0" or "1,5" are asked again instead of becoming 0.
#include "console/prompt.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "console/crt.h"
#include "console/format.h"

namespace svfit::console {
namespace {

int Upper(int k) { return (k >= 'a' && k <= 'z') ? k - 'a' + 'A' : k; }

// Where the answer to a question started, to find that row again later.
struct RowMark {
  int row;
  long scrolls;
  static RowMark Here() { return {CursorRow(), LinesScrolled()}; }
  int Now() const { return std::max(1, row - static_cast<int>(LinesScrolled() - scrolls)); }
};

// Clears the answered row and the rows the answer spilled into, and puts the
// cursor at column 1 of the answered row.
void ClearAnswered(int row) {
  const int last = std::max(row, CursorRow() - 1);
  for (int y = row; y <= last; ++y) {
    MoveCursor(1, y);
    ClearToEndOfLine();
  }
  MoveCursor(1, row);
}

std::string Trim(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && s[a] == ' ') ++a;
  while (b > a && s[b - 1] == ' ') --b;
  return std::string(s.substr(a, b - a));
}

// A real number in the plain notation of the dialogue: sign, digits, point,
// exponent. No hexadecimal, no "inf"/"nan", nothing after the number.
bool ToReal(std::string_view text, double* out) {
  const std::string s = Trim(text);
  if (s.empty()) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
      return false;
  }
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool ToInteger(std::string_view text, double* out) {
  const std::string s = Trim(text);
  std::size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  if (i >= s.size() || s.size() - i > 9) return false;
  for (std::size_t j = i; j < s.size(); ++j)
    if (s[j] < '0' || s[j] > '9') return false;
  *out = static_cast<double>(std::strtol(s.c_str(), nullptr, 10));
  return true;
}

bool FirstFits(char c, FirstChar rule, std::string_view answer) {
  switch (rule) {
    case FirstChar::kDigit: return c >= '0' && c <= '9';
    case FirstChar::kOneToNine: return c >= '1' && c <= '9';
    case FirstChar::kZeroPoint: return answer.size() >= 2 && answer[0] == '0' && answer[1] == '.';
    case FirstChar::kSignOrDigit: return (c >= '0' && c <= '9') || c == '+' || c == '-';
    case FirstChar::kAny: return true;
  }
  return false;
}

std::string DefaultText(const NumberQuestion& q) {
  if (!q.defaultText.empty()) return std::string(q.defaultText);
  if (q.defaultDecimals >= 0) return FormatF(q.defaultValue, q.defaultWidth, q.defaultDecimals);
  if (q.defaultValue == std::floor(q.defaultValue) && std::fabs(q.defaultValue) < 1e9)
    return IntToText(static_cast<long>(q.defaultValue));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", q.defaultValue);
  return buf;
}

void Echo(int answer, const KeyChoice& c) {
  if (answer < 33 || answer > 255 || answer == 127) return;
  const std::uint8_t saved = TextAttribute();
  if (c.echoColumn > 0) MoveCursor(c.echoColumn, CursorRow());
  if (c.echoColor >= 0) SetTextColor(c.echoColor);
  const char ch = static_cast<char>(answer);
  Write(std::string_view(&ch, 1));
  if (c.echoColor >= 0) {
    SetTextColor(saved & 0x8F);
    SetTextBackground((saved >> 4) & 7);
  }
}

}  // namespace

Key ReadKeyUpper() {
  Key k;
  k.code = ReadKey();
  if (k.code == 0) {
    k.extended = true;
    k.scan = ReadKey();
    return k;
  }
  k.code = Upper(k.code);
  return k;
}

int AskKey(const KeyChoice& c) {
  for (;;) {
    Write(c.prompt);
    const Key k = ReadKeyUpper();
    int answer = -1;  // refused
    if (k.extended) {
      if (c.keys.empty() && c.otherwise == 0) answer = 0;
    } else if (k.code == kKeyEnter) {
      if (c.enter != 0) answer = c.enter;
      else if (c.keys.empty() && c.otherwise == 0) answer = kKeyEnter;
    } else {
      answer = k.code;
      for (std::size_t i = 0; i + 1 < c.aliases.size(); i += 2)
        if (answer == c.aliases[i]) answer = c.aliases[i + 1];
      if (!c.keys.empty() && c.keys.find(static_cast<char>(answer)) == std::string_view::npos)
        answer = -1;
    }
    if (answer < 0 && c.otherwise != 0) answer = c.otherwise;
    if (answer >= 0) {
      Echo(answer, c);
      WriteLn();
      return answer;
    }
    MoveCursor(1, CursorRow());
    ClearToEndOfLine();
  }
}

bool AskYesNo(std::string_view prompt, YesNo rule) {
  KeyChoice c{.prompt = prompt, .keys = "YN"};
  switch (rule) {
    case YesNo::kEnterNo: c.enter = 'N'; break;
    case YesNo::kEnterYes: c.enter = 'Y'; break;
    case YesNo::kJEnterNo: c.enter = 'N'; c.aliases = "JY"; break;
    case YesNo::kJNoEnter: c.aliases = "JY"; break;
    case YesNo::kOnlyY: c.keys = "Y"; c.otherwise = 'N'; break;
  }
  return AskKey(c) == 'Y';
}

NumberAnswer AskNumber(const NumberQuestion& q) {
  for (;;) {
    Write(q.prompt);
    const RowMark mark = RowMark::Here();
    const std::string s = ReadAnswer();
    const int row = mark.Now();
    const bool keepsDefault =
        s.empty() || q.defaultKeys.find(static_cast<char>(Upper(
                         static_cast<unsigned char>(s[0])))) != std::string_view::npos;
    if (keepsDefault) {
      if (q.defaultColumn > 0) {
        MoveCursor(q.defaultColumn, row);
        Write(DefaultText(q));
        WriteLn();
      }
      return {q.defaultValue, true};
    }
    double v = 0;
    const bool converted = q.integer ? ToInteger(s, &v) : ToReal(s, &v);
    if (FirstFits(s[0], q.first, s) && converted && (!q.valid || q.valid(v))) return {v, false};
    ClearAnswered(row);
  }
}

NumberList ScanNumberList(std::string_view line, int maxCount, bool ranges) {
  NumberList r;
  std::string s(line);
  if (ranges) {
    for (std::size_t i = 1; i <= 3 && i < s.size(); ++i) {
      if (s[i] == '-') {
        s[i] = ' ';
        r.isRange = true;
        maxCount = 2;
        break;
      }
    }
  }
  std::size_t i = 0;
  while (i < s.size() && static_cast<int>(r.values.size()) < maxCount) {
    const auto inRun = [&](std::size_t j) {
      const auto c = static_cast<unsigned char>(s[j]);
      return c >= 43 && c <= 69;
    };
    if (!inRun(i)) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < s.size() && inRun(j)) ++j;
    double v = 0;
    if (!ToReal(std::string_view(s).substr(i, j - i), &v)) r.ok = false;
    r.values.push_back(v);
    i = j;
  }
  for (; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 43 && c <= 69) r.more = true;
  }
  if (r.isRange && r.values.size() < 2) r.ok = false;
  return r;
}

NumberList AskNumberList(std::string_view prompt, int maxCount, ListRules rules) {
  for (;;) {
    Write(prompt);
    const RowMark mark = RowMark::Here();
    const std::string s = EditLine("");
    const int row = mark.Now();
    if (Trim(s).empty()) {
      if (rules.emptyAllowed) return {};
    } else {
      NumberList r = ScanNumberList(s, maxCount, rules.ranges);
      if (r.ok && !r.values.empty() && (!rules.valid || rules.valid(r))) return r;
    }
    ClearAnswered(row);
  }
}

namespace {

// The line editor of EditLine; with `escape` set, Escape abandons the line
// (nullopt), otherwise it is ignored like the other control keys.
std::optional<std::string> EditLineImpl(std::string_view initial, int maxLength, bool escape) {
  const std::size_t limit = static_cast<std::size_t>(std::max(0, maxLength));
  const int col0 = std::min(CursorColumn(), 79);
  const int row = CursorRow();
  const std::size_t width = static_cast<std::size_t>(80 - col0);  // columns col0..79
  std::string text(initial.substr(0, std::min(initial.size(), limit)));
  std::size_t pos = text.size();

  const auto place = [&] { MoveCursor(std::min(col0 + static_cast<int>(pos), 79), row); };
  const auto redraw = [&] {
    MoveCursor(col0, row);
    Write(text.substr(0, std::min(text.size(), width)));
    ClearToEndOfLine();
    place();
  };
  MoveCursor(col0, row);
  Write(text.substr(0, std::min(text.size(), width)));
  place();
  for (;;) {
    const int key = ReadKey();
    if (key == 0) {  // extended key: only the four movement keys count
      switch (ReadKey()) {
        case kScanHome: pos = 0; break;
        case kScanEnd: pos = text.size(); break;
        case kScanLeft: if (pos > 0) --pos; break;
        case kScanRight: if (pos < text.size()) ++pos; break;
        default: break;
      }
      place();
      continue;
    }
    switch (key) {
      case kKeyEnter:
        pos = text.size();
        place();
        WriteLn();
        return text;
      case kKeyEscape:
        if (!escape) break;
        pos = text.size();
        place();
        WriteLn();
        return std::nullopt;
      case kKeyBackspace:
        if (pos > 0) {
          text.erase(--pos, 1);
          redraw();
        }
        break;
      case kKeyCtrlY:
        text.clear();
        pos = 0;
        redraw();
        break;
      default:
        if (key < 32 || key == 127 || text.size() >= limit) break;
        text.insert(pos++, 1, static_cast<char>(key));
        if (pos == text.size() && pos <= width) {
          // Typed at the end: just the new character, so a transcript shows
          // the answer as typed.
          const char c = static_cast<char>(key);
          Write(std::string_view(&c, 1));
          place();
        } else {
          redraw();
        }
        break;
    }
  }
}

}  // namespace

std::string EditLine(std::string_view initial, int maxLength) {
  return *EditLineImpl(initial, maxLength, false);
}

std::optional<std::string> EditLineOrEscape(std::string_view initial, int maxLength) {
  return EditLineImpl(initial, maxLength, true);
}

std::string ReadAnswer() {
  std::string s = ReadLine(128);
  if (s.size() > static_cast<std::size_t>(kAnswerLength)) s.resize(kAnswerLength);
  return s;
}

std::string ReadPathAnswer() { return ReadLine(kPathLength + 2); }

}  // namespace svfit::console
