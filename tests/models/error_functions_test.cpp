// Error functions and correction peaks against known values and a
// high-precision reference: erfcl·expl in extended precision where they do not
// overflow, the asymptotic series of exp(x²)·erfc(x) beyond.
#include "models/error_functions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace svfit::models {
namespace {

// exp(x²)·erfc(x) to ~1e-17 relative: the library's extended functions up to
// x = 25, the asymptotic series (1/(x√π))·Σ (−1)ⁿ·(2n − 1)!!/(2x²)ⁿ beyond.
Extended referenceErfcx(Extended x) {
  if (x <= 25) return std::erfc(x) * std::exp(x * x);
  const Extended invPi = 0.564189583547756286948079451560772586L;  // 1/√π
  Extended term = 1, sum = 1;
  for (int n = 1; n < 40; ++n) {
    term *= -(2 * n - 1) / (2 * x * x);
    sum += term;
    if (std::fabs(term) < 1e-20L) break;
  }
  return invPi / x * sum;
}

double relativeError(Extended value, Extended reference) {
  return static_cast<double>(std::fabs(value / reference - 1));
}

// The extended routine to its stated accuracy by range (both sides of its
// switch point at 4.29 lie on the grid), the fast double one to 1e-13
// everywhere, far beyond the cell's arguments as well.
TEST(ScaledErfc, StatedAccuracyOverTheWholeRangeForBothRoutines) {
  EXPECT_NEAR(static_cast<double>(scaledErfc(0)), 1.0, 1e-11);
  EXPECT_NEAR(static_cast<double>(scaledErfc(10)), 0.0561409927438226, 1e-15);
  double worstLow = 0, worstSwitch = 0, worstHigh = 0, worstFast = 0;
  for (int i = 0; i <= 60000; ++i) {
    const Extended x = i * 0.0005L;
    const Extended reference = referenceErfcx(x);
    worstFast = std::max(worstFast, relativeError(fastErfcx(static_cast<double>(x)), reference));
    if (i % 2) continue;
    const double err = relativeError(scaledErfc(x), reference);
    double& worst = x < 4 ? worstLow : x < 5 ? worstSwitch : worstHigh;
    worst = std::max(worst, err);
  }
  for (double x : {35.0, 100.0, 1e3, 1e5, 1e8, 1e150})
    worstFast = std::max(worstFast, relativeError(fastErfcx(x), referenceErfcx(x)));
  EXPECT_LT(worstLow, 5e-11) << "recurrence below 4";
  EXPECT_LT(worstSwitch, 1e-9) << "around the switch point";
  EXPECT_LT(worstHigh, 1e-10) << "continued fraction from 5";
  EXPECT_LT(worstFast, 1e-13) << "double-precision routine";
}

TEST(SafeErfc, SymmetryLimitsAndGuards) {
  for (double z : {1e-8, 0.3, 1.0, 2.5, 4.29, 6.0, 27.0, 90.0, 106.0, 150.0}) {
    EXPECT_EQ(safeErfc(-z), 2 - safeErfc(z)) << z;
    if (z < 100) {
      EXPECT_LT(relativeError(safeErfc(z), std::erfc(Extended(z))), 1e-9) << z;
    }
  }
  // At 0 both sides are erfc(0) = 1 to the accuracy of the routine.
  EXPECT_NEAR(static_cast<double>(safeErfc(0)), 1.0, 1e-11);
  EXPECT_EQ(safeErfc(200), 0);
  EXPECT_EQ(safeErfc(-200), 2);
  EXPECT_EQ(gaussFactor(106.5L), 0);
  EXPECT_EQ(gaussFactor(-106.5L), 0);
  EXPECT_GT(gaussFactor(106.4L), 0);
}

TEST(CombinedExp, OneExponentWithinTheExtendedRange) {
  // exp(8000)·exp(−8000.25) would overflow as a product of doubles.
  EXPECT_NEAR(static_cast<double>(combinedExp(8000.0L, std::sqrt(8000.25L))), std::exp(-0.25),
              1e-15);
  EXPECT_EQ(combinedExp(0, 107), 0);                  // z² − a = 11449 > 11356
  EXPECT_EQ(combinedExp(11500, 1), 0);                // a − z² beyond the range too
  EXPECT_GT(combinedExp(0, std::sqrt(11355.0L)), 0);  // just inside
}

TEST(LogNormalPeak, PeakFloorAndFixedCorrections) {
  // At x0 the peak has height A above the offset B.
  EXPECT_NEAR(static_cast<double>(logNormalPeak(2.0L, 2.0, 3.0, 1.5, 0.7, 0.1)), 0.8, 1e-15);
  // Left of the support (y ≤ 0) the floor 1e-300 gives the offset B to double precision.
  EXPECT_EQ(boundaryCorrA(0.0), -0.091);
  EXPECT_EQ(boundaryCorrA(-1.0), -0.091);
  EXPECT_NEAR(meniscusCorr(6.3114), 0.7826 + 0.335, 1e-12);
  EXPECT_NEAR(boundaryCorrA(2.5395e-3), 0.2713 - 0.091, 1e-12);
  EXPECT_NEAR(boundaryCorrB(12.3361e-3), 9.107 + 2.4917, 1e-12);
  // Half height at x0 + w·(b − 1/b)·…: ln y = ±ln b gives exp(−ln 2) = ½.
  const double y = 7.1814;  // y = b
  const double x = 12.3361 + (y - 1) * 7.1814 * 83.76 / (7.1814 * 7.1814 - 1);
  EXPECT_NEAR(boundaryCorrB(x / 1000), 9.107 / 2 + 2.4917, 1e-12);
}

}  // namespace
}  // namespace svfit::models
