// Number forms of the dialogue and the reports (see format.h).
//
// The exponent forms are built from the C library's %E conversion: the
// mantissa is taken as printed and the exponent is cut to its last two digits,
// as the report columns allow only two (1e-123 prints as "1.0000E-23"; the
// reports accept that).
#include "console/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace svfit::console {
namespace {

std::string PadLeft(std::string s, int width) {
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), ' ');
  return s;
}

// Non-finite values are written as the runtime writes them, right-aligned.
std::string NonFinite(double value, int width) {
  const char* text = std::isnan(value) ? "NaN" : (value > 0 ? "+Inf" : "-Inf");
  return PadLeft(text, width);
}

// Scientific form with `digits` decimals: sign position, mantissa, exponent
// sign and the last `expDigits` exponent digits.
std::string Exponent(double value, int digits, bool withE, int expDigits = 2) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*E", digits, std::fabs(value));
  std::string s(buf);
  const std::size_t e = s.find('E');
  std::string mantissa = s.substr(0, e);
  const char sign = s[e + 1];
  const int exponent = std::abs(std::atoi(s.c_str() + e + 2)) % (expDigits == 2 ? 100 : 10000);
  char tail[8];
  std::snprintf(tail, sizeof tail, "%c%0*d", sign, expDigits, exponent);
  return std::string(value < 0 ? "-" : " ") + mantissa + (withE ? "E" : "") + tail;
}

}  // namespace

std::string FormatF(double value, int width, int decimals) {
  if (!std::isfinite(value)) return NonFinite(value, width);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
  return buf;
}

std::string FormatI(long value, int width) {
  return PadLeft(std::to_string(value), width);
}

std::string RealToText(double value, int width, int decimals) {
  std::string s = FormatF(value, width, decimals);
  std::size_t blanks = s.find_first_not_of(' ');
  if (blanks == std::string::npos) blanks = s.size();
  return s.substr(blanks) + std::string(blanks, ' ');
}

std::string IntToText(long value) { return std::to_string(value); }

std::string IntToTextZeros(long value, int width) {
  std::string s = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
  return value < 0 ? "-" + s : s;
}

std::string IntToTwoDigits(int value) {
  return (value <= 9 ? "0" : "") + std::to_string(value);
}

std::string FormatExp11(double value) {
  if (!std::isfinite(value)) return NonFinite(value, 11);
  return Exponent(value, 4, true);
}

std::string FormatExp10(double value) {
  if (!std::isfinite(value)) return NonFinite(value, 10);
  if (std::fabs(value) < 1e-99) value = 0;
  return Exponent(value, 3, false) + " ";
}

std::string FormatExp23(double value) {
  if (!std::isfinite(value)) return NonFinite(value, 23);
  return Exponent(value, 14, true, 4);
}

std::string FormatPlain6(double value) {
  if (!std::isfinite(value)) return NonFinite(value, 0);
  if (value == 0) value = 0.0;  // no "-0.000000"
  return FormatF(value, 0, 6);
}

}  // namespace svfit::console
