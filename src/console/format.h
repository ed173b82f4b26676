// Number forms of the dialogue and the reports, in one place.
//
//   F(w,d)       fixed point, d decimals, right-aligned in w columns (widens)
//   I(w)         integer right-aligned in w columns (widens)
//   RealToText   F(w,d) with the leading blanks moved to the end (left-aligned)
//   FormatExp11  " 1.2346E-04": sign position, 5 significant digits, two
//                exponent digits (a three-digit exponent keeps its last two)
//   FormatExp10  " 1.235-04 ": as above with 4 digits, no "E", one trailing blank
//   FormatExp23  " 1.23456789012346E+0003": sign position, 15 significant
//                digits, four exponent digits (the distribution file)
//   FormatPlain6 "1.000000": 6 decimals without leading blanks (SEDFIT files)
//   FormatB, FormatC  "TRUE"/"FALSE" and one character
#pragma once

#include <string>

namespace svfit::console {

std::string FormatF(double value, int width, int decimals);
std::string FormatI(long value, int width = 0);
std::string RealToText(double value, int width, int decimals);
std::string IntToText(long value);
std::string IntToTextZeros(long value, int width);
std::string IntToTwoDigits(int value);
std::string FormatExp11(double value);
std::string FormatExp10(double value);
std::string FormatExp23(double value);
std::string FormatPlain6(double value);
// "TRUE" or "FALSE", the B form of the reports.
inline std::string FormatB(bool value) { return value ? "TRUE" : "FALSE"; }
// One character, the C form of the reports.
inline std::string FormatC(char value) { return std::string(1, value); }

}  // namespace svfit::console
