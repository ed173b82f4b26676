// Scan file text rules (see scan_file.h).
//
// Numbers are converted with std::from_chars on the token itself, after a
// strict check of its form, so that a whole series of 700 files of 2800 lines
// converts in a fraction of a second and no locale, hex form or "nan" text can
// slip in. Three- and four-digit exponents ("9.10000E-0002") are ordinary
// exponents to this conversion.
#include "scans/scan_file.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "state/state.h"

namespace svfit::scans {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Length of the longest prefix of s that has the form of a number.
std::size_t NumberPrefix(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    std::size_t expDigits = 0;
    while (j < s.size() && IsDigit(s[j])) ++j, ++expDigits;
    if (expDigits > 0) i = j;
  }
  return i;
}

}  // namespace

bool ParseNumber(std::string_view token, double& value) {
  if (token.empty() || NumberPrefix(token) != token.size()) return false;
  // from_chars takes no "+" sign; the form was checked above.
  if (token[0] == '+') token.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
  if (ec != std::errc() || end != token.data() + token.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool NextLine(std::string_view text, std::size_t& pos, std::string_view& line) {
  if (pos >= text.size()) return false;
  const char* begin = text.data() + pos;
  const void* lf = std::memchr(begin, '\n', text.size() - pos);
  std::size_t length = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - begin) : text.size() - pos;
  pos += length + (lf ? 1 : 0);
  if (const void* z = std::memchr(begin, 0x1A, length)) {
    length = static_cast<std::size_t>(static_cast<const char*>(z) - begin);
    pos = text.size();
  }
  if (length > 0 && begin[length - 1] == '\r') --length;
  line = std::string_view(begin, length);
  return true;
}

std::string CutLine(std::string_view line) {
  std::string text(line.substr(0, static_cast<std::size_t>(kLineLength)));
  // Control bytes of a damaged file would act on the console (beep, move the
  // cursor) and travel into reports: they show as '?'.
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = c == '\t' ? ' ' : '?';
  return text;
}

bool IsHeaderLine(std::string_view line, char dataKind) {
  return line.size() >= 5 && line[0] == dataKind && line[1] == ' ' && line[2] >= '1' &&
         line[2] <= '9' && line[3] == ' ' && IsDigit(line[4]);
}

int ParseNumberList(std::string_view text, double* out, int maxCount, int* failed) {
  int count = 0;
  if (failed) *failed = 0;
  std::size_t i = 0;
  while (i < text.size() && count < maxCount) {
    const auto code = static_cast<unsigned char>(text[i]);
    if (code < 43 || code > 69) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && static_cast<unsigned char>(text[j]) >= 43 &&
           static_cast<unsigned char>(text[j]) <= 69)
      ++j;
    double v = 0;
    if (!ParseNumber(text.substr(i, j - i), v)) {
      v = 0;
      if (failed) ++*failed;
    }
    out[count++] = v;
    i = j;
  }
  return count;
}

bool ParseHeader(std::string_view line, ScanHeader& header) {
  if (line.empty()) return false;
  std::string rest(line.substr(1));
  for (char& c : rest) {
    if (c == 'e') c = 'E';
    if (!(IsDigit(c) || c == '+' || c == '-' || c == '.' || c == 'E' || c == ' ')) return false;
  }
  double n[7] = {0, 0, 0, 0, 0, 0, 0};
  int failed = 0;
  header.numberCount = ParseNumberList(rest, n, 7, &failed);
  header.cell = static_cast<int>(n[0]);
  header.temperature = n[1];
  header.rotorSpeed = n[2];
  header.elapsedTime = n[3];
  header.omega2t = n[4];
  header.wavelength = n[5];
  header.seventh = n[6];
  // Every scan's ω² divides into its ω²t and into the series' reference ω²:
  // a file without a positive rotor speed cannot take part.
  return header.numberCount >= 3 && header.rotorSpeed > 0;
}

bool ParseRadialStep(std::string_view title, double& step) {
  std::size_t first = 0;
  while (first < title.size() && !IsDigit(title[first])) ++first;
  if (first == title.size()) return false;
  std::string_view field = title.substr(first, 13);
  double v = 0;
  const std::size_t length = NumberPrefix(field);
  if (length == 0 || !ParseNumber(field.substr(0, length), v)) return false;
  if (!(v > 0 && v < 0.1)) return false;
  step = v;
  return true;
}

bool FindTitleConcentration(std::string_view title, double& concentration) {
  std::size_t lead = 0;
  while (lead < title.size() && title[lead] == ' ') ++lead;
  const std::string s = " " + std::string(title.substr(lead));
  for (std::size_t k = 0; k + 2 < s.size(); ++k) {
    if (s[k] != ' ' || !IsDigit(s[k + 1]) || !(IsDigit(s[k + 2]) || s[k + 2] == '.')) continue;
    // The number is the run of number characters after the blank; a run
    // with "/" in it is a date or a ratio, not a concentration.
    std::size_t j = k + 1;
    while (j < s.size() && static_cast<unsigned char>(s[j]) >= 43 &&
           static_cast<unsigned char>(s[j]) <= 69)
      ++j;
    const std::string_view run(s.data() + k + 1, j - k - 1);
    double v = 0;
    if (run.find('/') != std::string_view::npos || !ParseNumber(run, v) || !(v > 0)) continue;
    concentration = v;
    return true;
  }
  return false;
}

HeaderSearch FindHeader(std::string_view text, char dataKind) {
  HeaderSearch found;
  std::size_t pos = 0;
  std::string_view line;
  int number = 0;
  while (NextLine(text, pos, line)) {
    ++number;
    if (number >= 2 && IsHeaderLine(line, dataKind)) {
      found.headerLine = number;
      found.header = CutLine(line);
      found.dataStart = pos;
      return found;
    }
    if (number <= 3) found.titleLines[static_cast<std::size_t>(number - 1)] = CutLine(line);
  }
  found.titleLines = {};
  return found;
}

DataCursor::DataCursor(std::string_view text, std::size_t start, int firstLine)
    : text_(text), pos_(start), line_(firstLine - 1), nextLine_(firstLine) {}

DataCursor::Status DataCursor::Next(double& radius, double& value) {
  std::string_view line;
  for (;;) {
    std::size_t pos = pos_;
    if (!NextLine(text_, pos, line)) return Status::kEndOfFile;
    line_ = nextLine_;
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) {
      pos_ = pos;
      ++nextLine_;
      continue;
    }
    double fields[2];
    for (double& field : fields) {
      std::size_t j = i;
      while (j < line.size() && !IsBlank(line[j])) ++j;
      if (j == i || !ParseNumber(line.substr(i, j - i), field)) return Status::kBadLine;
      i = j;
      while (i < line.size() && IsBlank(line[i])) ++i;
    }
    radius = fields[0];
    value = fields[1];
    pos_ = pos;
    ++nextLine_;
    return Status::kPoint;
  }
}

}  // namespace svfit::scans
