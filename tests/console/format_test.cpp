#include "console/format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace svfit::console {
namespace {

TEST(FormatExp, FiveSignificantDigitsAndTwoExponentDigits) {
  EXPECT_EQ(FormatExp11(0.000123456), " 1.2346E-04");
  EXPECT_EQ(FormatExp11(-4.4e-13), "-4.4000E-13");
  EXPECT_EQ(FormatExp11(0.0), " 0.0000E+00");
  EXPECT_EQ(FormatExp11(1.5e-123), " 1.5000E-23");  // a three-digit exponent keeps its last two
  EXPECT_EQ(FormatExp11(66500.0).size(), 11u);
  // Four digits without the E.
  EXPECT_EQ(FormatExp10(123.46), " 1.235+02 ");
  EXPECT_EQ(FormatExp10(-0.00512), "-5.120-03 ");
  EXPECT_EQ(FormatExp10(1e-120), " 0.000+00 ");
  // The distribution file: 15 digits, four exponent digits, 23 columns.
  EXPECT_EQ(FormatExp23(-1234.5), "-1.23450000000000E+0003");
  EXPECT_EQ(FormatExp23(2.0 / 3e-123), " 6.66666666666667E+0122");
  // The SEDFIT parameter file: 6 decimals, no blanks, no negative zero.
  EXPECT_EQ(FormatPlain6(-0.0) + FormatPlain6(1) + FormatPlain6(-12345.6789), "0.0000001.000000-12345.678900");
}

TEST(FixedForms, RightAlignedWideningAndNonFiniteValuesDoNotStopTheReport) {
  EXPECT_EQ(FormatF(3.14159, 8, 5), " 3.14159");
  EXPECT_EQ(FormatF(1234.5, 3, 1), "1234.5");
  EXPECT_EQ(FormatF(3600.4, 5, 0), " 3600");
  EXPECT_EQ(FormatI(42, 5), "   42");
  EXPECT_EQ(RealToText(0.736, 8, 3), "0.736   ");
  EXPECT_EQ(IntToTextZeros(7, 5), "00007");
  EXPECT_EQ(IntToTwoDigits(7) + IntToTwoDigits(12), "0712");
  EXPECT_EQ(FormatExp11(INFINITY), "       +Inf");
  EXPECT_EQ(FormatExp11(NAN), "        NaN");
  EXPECT_EQ(FormatF(-INFINITY, 6, 2), "  -Inf");
}

}  // namespace
}  // namespace svfit::console
