// The cell grid and the transcript.
//
// The grid is a ring of 25 rows of 80 cells: scrolling advances the index of
// the top row and blanks the row that comes in at the bottom, so a long report
// costs one row clear per line instead of moving the whole screen. Line feed
// only moves down (the column stays); carriage return only goes to column 1;
// writing into column 80 wraps at once, so exactly 80 characters followed by
// CR LF leave an empty row, as on the screen this grid models.
//
// The transcript turns the same writes into plain text lines (form in crt.h).
// It sees every stored byte with its absolute row (screen row + scrolls so
// far), which is what lets it tell "appended to the row" from "written back
// into a row" without keeping a copy of the screen.
#include <algorithm>

#include "console/crt_model.h"

namespace svfit::console::detail {

void Rect::Add(int x, int y) {
  left = std::min(left, x);
  right = std::max(right, x);
  top = std::min(top, y);
  bottom = std::max(bottom, y);
}

char32_t CellCodePoint(std::uint8_t ch) {
  if (ch < 32) return 0x2400 + ch;       // control pictures
  if (ch == 127) return 0x2421;          // symbol for delete
  if (ch >= 0x80 && ch < 0xA0) return 0xFFFD;  // C1 controls have no glyph
  return ch;                              // Latin-1 is the first 256 code points
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// ---- Grid ---------------------------------------------------------------------

Grid::Grid() : cells_(static_cast<std::size_t>(kColumns * kRows)) {}

std::string Grid::RowText(int y) const {
  std::string s(kColumns, ' ');
  for (int x = 0; x < kColumns; ++x) s[static_cast<std::size_t>(x)] = static_cast<char>(At(x, y).ch);
  return s;
}

void Grid::ClearRow(int y) {
  for (int x = 0; x < kColumns; ++x) At(x, y) = Cell{' ', attr};
}

void Grid::WriteBytes(std::string_view bytes) {
  for (char c : bytes) PutByte(static_cast<std::uint8_t>(c));
}

void Grid::PutByte(std::uint8_t b) {
  switch (b) {
    case 8:  // backspace: blank the cell to the left; nothing at column 1
      if (curX > 0) {
        --curX;
        At(curX, curY).ch = ' ';
        dirty.Add(curX, curY);
        if (transcript) transcript->Shortened(totalScrolls + curY, curX);
      }
      return;
    case 10:
      NewLine();
      return;
    case 13:
      curX = 0;
      return;
    default:
      break;
  }
  if (transcript) transcript->Text(*this, totalScrolls + curY, curX, b);
  At(curX, curY) = Cell{b, attr};
  dirty.Add(curX, curY);
  if (++curX == kColumns) {  // automatic wrap, nothing is lost
    curX = 0;
    NewLine();
  }
}

void Grid::NewLine() {
  if (transcript) transcript->LineFeed();
  if (++curY < kRows) return;
  curY = kRows - 1;
  top = (top + 1) % kRows;
  ++totalScrolls;
  ClearRow(kRows - 1);
  dirty.All();
  // Every sixth scroll in a row is shown at once, so a long report scrolls
  // visibly instead of appearing only when the program next waits.
  if (++scrollCounter > 5) {
    repaintNow = true;
    scrollCounter = 0;
  }
}

void Grid::ClearScreen() {
  if (transcript) transcript->EndLine(*this);
  for (auto& c : cells_) c = Cell{' ', attr};
  top = 0;
  curX = curY = 0;
  dirty.All();
}

void Grid::ClearToEndOfLine() {
  for (int x = curX; x < kColumns; ++x) {
    At(x, curY) = Cell{' ', attr};
    dirty.Add(x, curY);
  }
  if (transcript) transcript->Shortened(totalScrolls + curY, curX);
}

void Grid::DeleteLine() {
  if (transcript) transcript->EndLine(*this);
  for (int y = curY; y < kRows - 1; ++y)
    for (int x = 0; x < kColumns; ++x) At(x, y) = At(x, y + 1);
  ClearRow(kRows - 1);
  for (int y = curY; y < kRows; ++y) {
    dirty.Add(0, y);
    dirty.Add(kColumns - 1, y);
  }
}

void Grid::MoveCursor(int x, int y) {
  // Coordinates are bytes: taken modulo 256, then clamped to the grid.
  x = ((x % 256) + 256) % 256;
  y = ((y % 256) + 256) % 256;
  curX = std::max(0, std::min(x, kColumns) - 1);
  curY = std::max(0, std::min(y, kRows) - 1);
}

// ---- Transcript -------------------------------------------------------------------

namespace {
std::string RightTrimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
}  // namespace

void Transcript::Emit(std::string_view latin1) {
  std::string out;
  for (char c : latin1) AppendUtf8(out, CellCodePoint(static_cast<std::uint8_t>(c)));
  sink_(out);
}

void Transcript::EmitRaw(std::string_view utf8) {
  if (!utf8.empty()) sink_(utf8);
}

void Transcript::Text(const Grid& g, long absRow, int col, std::uint8_t ch) {
  const auto c = static_cast<std::size_t>(col);
  if (open_ && absRow == lineRow_ && c >= line_.size()) {
    // Appended to the open line, possibly after coming back to the row just
    // ended by a line feed (a default written into the answered row).
    pendingLf_ = 0;
    if (dirty_) Reconcile(g);
    if (c > line_.size()) {
      const std::string pad(c - line_.size(), ' ');
      Emit(pad);
      line_ += pad;
    }
  } else {
    // Another row, or back into the open line: a new transcript line that
    // shows the row's cells left of the cursor first.
    const bool rewrite = open_ && absRow == lineRow_;
    Terminate(g, !rewrite);
    const std::string prefix = g.RowText(static_cast<int>(absRow - g.totalScrolls)).substr(0, c);
    Emit(prefix);
    line_ = prefix;
    open_ = true;
    lineRow_ = absRow;
  }
  const char b = static_cast<char>(ch);
  Emit(std::string_view(&b, 1));
  line_ += b;
}

void Transcript::Shortened(long absRow, int col) {
  if (open_ && absRow == lineRow_ && static_cast<std::size_t>(col) < line_.size()) dirty_ = true;
}

void Transcript::Reconcile(const Grid& g) {
  dirty_ = false;
  const long y = lineRow_ - g.totalScrolls;
  if (!open_ || y < 0 || y >= kRows) return;
  std::string row = RightTrimmed(g.RowText(static_cast<int>(y)));
  if (row == RightTrimmed(line_)) return;
  EmitRaw("\n");
  Emit(row);
  line_ = row;
}

void Transcript::Terminate(const Grid& g, bool reconcile) {
  if (reconcile && dirty_) Reconcile(g);
  dirty_ = false;
  const int n = open_ ? std::max(1, pendingLf_) : pendingLf_;
  EmitRaw(std::string(static_cast<std::size_t>(n), '\n'));
  open_ = false;
  line_.clear();
  lineRow_ = -1;
  pendingLf_ = 0;
}

void Transcript::EndLine(const Grid& g) { Terminate(g, true); }

void Transcript::Announce(const Grid& g, std::string_view line) {
  Terminate(g, true);
  // Announcements never enter the grid; they are passed through as UTF-8 (a
  // file name in them stays as the file system spells it).
  std::string out(line);
  out += '\n';
  EmitRaw(out);
}

void Transcript::Flush(const Grid& g) {
  if (dirty_) Reconcile(g);
  if (pendingLf_ > 0) Terminate(g, false);
}

void Transcript::Finish(const Grid& g) {
  if (dirty_) Reconcile(g);
  if (open_) EmitRaw("\n");
  open_ = false;
  line_.clear();
  pendingLf_ = 0;
}

}  // namespace svfit::console::detail
