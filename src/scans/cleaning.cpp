// Outlier correction of absorbance scans.
//
// Each scan is split by radius into a head and a tail (the last quarter of
// the radial range towards 7.3 cm, where late scans are steep); each part
// gets a noise threshold from its own data, the larger of a relative level
//   T = sqrt(N·Σy²)·w / Σy    (w = 0.003 head, 0.005 tail)
// and a scaled mean squared second difference (factors 2 head, 3 tail). A
// point is an outlier when its squared distance from the mean of itself and
// its two neighbours exceeds T and its right neighbour lies closer to the
// smoothed value than the point itself (a spike, not a step); or when it lies
// below L = −sqrt(D2head) − 0.002 (a dropout). It is replaced by the mean of
// its neighbours. Pass 2 smooths with weights 1-2-1, so two equal adjacent
// spikes, which pass 1 cannot tell from a step, are caught there.
//
// Before the test the bottom of a steep scan is left out: cubic fits over the
// last k points (k = n/10 down to 16) give the slope at the bottom radius,
// and a slope above 10 [OD/cm] excludes n / round(10 + slope) points (at
// least 5).
//
// Invariant: the first and the last tested point of a scan never change, and
// a scan whose thresholds are undefined (too short, zero sum) is left as it is.
#include "scans/cleaning.h"

#include <algorithm>
#include <cmath>

#include "console/crt.h"
#include "console/format.h"
#include "fit/polynomial.h"

namespace svfit::scans {
namespace {

constexpr int kMinSlopeWindow = 16;      // smallest window of the bottom slope fits
constexpr double kSlopeLimit = 10.0;     // [OD/cm] steeper bottoms are trimmed
constexpr int kMinTrim = 5;              // points trimmed at least
constexpr double kHeadWeight = 0.003;
constexpr double kTailWeight = 0.005;
constexpr double kHeadCurvature = 2.0;   // second-difference factor, head
constexpr double kTailCurvature = 3.0;   // second-difference factor, tail
constexpr double kLowMargin = 0.002;     // [OD] below −sqrt(D2head) − margin: dropout
constexpr double kSplitEnd = 7.3;        // [cm] radius the head/tail split refers to
constexpr double kSplitFraction = 0.75;

// Largest slope dc/dr at the bottom radius over the cubic fits to the last
// k + 1 points, k = n/10 down to 16. The windows are nested, so the sums
// grow point by point from the smallest window instead of being rebuilt for
// each k; the largest slope does not depend on the order of the windows.
double BottomSlope(const AnalysisState& st, fit::NormalSystem& ns, int scan, int n) {
  const int m = n / 10;
  double largest = 0;
  if (m < kMinSlopeWindow) return largest;
  const double* r = st.scanRadius[scan];
  const double* y = st.scanValue[scan];
  const double rb = r[n];
  std::array<Extended, fit::kMaxPacked + 1> a{};
  std::array<Extended, kMaxParams + 1> b{};
  int added = n + 1;  // points n − k .. n are in the sums
  for (int k = kMinSlopeWindow; k <= m; ++k) {
    while (added > n - k) {
      --added;
      fit::AddPolynomialPoint(a, b, 4, r[added], y[added]);
    }
    ns.setSize(4);
    ns.normMatrix = a;
    ns.normRhs = b;
    fit::SolvePolynomial(ns, 4);
    const auto& c = ns.stepVec;
    largest = std::max(largest, c[2] + 2 * c[3] * rb + 3 * c[4] * rb * rb);
  }
  return largest;
}

struct Thresholds {
  double head = 0, tail = 0, low = 0;
};

// Noise thresholds of points 1..n; false when they are undefined.
bool FindThresholds(const double* y, int n, Thresholds& t) {
  const int q = n / 4;
  const int p = 3 * q;
  if (p - 2 <= 0 || n - p <= 0) return false;
  auto secondDiff = [&](int i) {
    const double d = y[i - 1] - 2 * y[i] + y[i + 1];
    return d * d;
  };
  Extended s1 = 0, s2 = 0, d2 = 0;
  for (int i = p; i <= n; ++i) s1 += y[i], s2 += static_cast<Extended>(y[i]) * y[i];
  for (int i = p; i <= n - 1; ++i) d2 += secondDiff(i);
  if (s1 == 0) return false;
  const double d2Tail = static_cast<double>(kTailCurvature * d2 / (n - p));
  t.tail = std::max(static_cast<double>(std::sqrt((n - p) * s2) * kTailWeight / s1), d2Tail);

  s1 = s2 = d2 = 0;
  for (int i = 1; i <= p; ++i) s1 += y[i], s2 += static_cast<Extended>(y[i]) * y[i];
  for (int i = 2; i <= p - 1; ++i) d2 += secondDiff(i);
  if (s1 == 0) return false;
  const double d2Head = static_cast<double>(kHeadCurvature * d2 / (p - 2));
  t.head = std::max(static_cast<double>(std::sqrt((p - 1) * s2) * kHeadWeight / s1), d2Head);
  t.low = -std::sqrt(d2Head) - kLowMargin;
  return true;
}

void ListReplacement(int& replaced, int file, double radius, double before, int index, double after) {
  using console::FormatF;
  using console::FormatI;
  console::SetTextColor(console::kWhite);
  if (replaced == 0) {
    console::WriteLn("Data points corrected");
    console::WriteLn("File       radius      absorbtion   data point   corrected");
  }
  ++replaced;
  console::WriteLn(FormatI(file, 3) + std::string(6, ' ') + FormatF(radius, 8, 5) + std::string(6, ' ') +
                   FormatF(before, 8, 5) + std::string(7, ' ') + FormatI(index, 4) + std::string(7, ' ') +
                   FormatF(after, 8, 5));
}

}  // namespace

int CorrectOutliers(AnalysisState& st, double y0) {
  fit::NormalSystem ns;
  // Lower limit of the data range: the smallest first radius of the scans.
  double r0 = st.scanCount >= 1 ? st.scanRadius[1][1] : 0.0;
  for (int j = 1; j <= st.scanCount; ++j) r0 = std::min(r0, st.scanRadius[j][1]);
  const double rX = r0 + kSplitFraction * (kSplitEnd - r0);  // [cm] head/tail split
  const int fileStep = std::max(1, st.fileStep);
  std::vector<double> y(static_cast<std::size_t>(kMaxPoints) + 2);
  int replaced = 0;

  for (int pass = 1; pass <= 2; ++pass) {
    for (int j = 1; j <= st.scanCount; ++j) {
      console::SetTextColor(j % 2 == 1 ? console::kLightMagenta : console::kYellow);
      console::MoveCursor(1, console::CursorRow());
      console::ClearToEndOfLine();
      console::WriteLn("wait");
      console::MoveCursor(1, console::CursorRow() - 1);

      int n = st.scanLastPoint[j];
      if (n < 3) continue;
      const double slope = BottomSlope(st, ns, j, n);
      if (slope > kSlopeLimit) {
        // n / round(limit + slope) in whole points; a slope beyond n (a
        // damaged file can give 1e20 OD/cm or infinity) trims kMinTrim,
        // where converting it to an int would divide by zero.
        const double divisor = std::round(kSlopeLimit + slope);
        const int quotient = divisor <= n ? n / static_cast<int>(divisor) : 0;
        n -= std::max(kMinTrim, quotient);
      }
      if (n < 3) continue;

      double* value = st.scanValue[j];
      const double* radius = st.scanRadius[j];
      for (int i = 1; i <= n; ++i) y[static_cast<std::size_t>(i)] = value[i] - y0;
      Thresholds t;
      if (!FindThresholds(y.data(), n, t)) continue;

      double prev = y[1];
      for (int i = 2; i <= n - 1; ++i) {
        const double limit = radius[i] >= rX ? t.tail : t.head;
        const double a = y[static_cast<std::size_t>(i)];
        const double b = y[static_cast<std::size_t>(i + 1)];
        const double m3 = (prev + a + b) / 3;
        const double smooth = pass == 1 ? m3 : (prev + 2 * a + b) / 4;
        const bool spike = (m3 - a) * (m3 - a) > limit && std::fabs(b - smooth) < std::fabs(m3 - a);
        if (spike || a < t.low) {
          const double corrected = (prev + b) / 2;
          const double before = value[i];
          y[static_cast<std::size_t>(i)] = corrected;
          value[i] = corrected + y0;
          ListReplacement(replaced, (j - 1) * fileStep + 1, radius[i], before, i, value[i]);
        }
        prev = y[static_cast<std::size_t>(i)];
      }
    }
  }
  console::SetTextColor(console::kWhite);
  if (replaced > 0) console::WriteLn(" " + std::to_string(replaced) + "  data point(s) corrected");
  return replaced;
}

}  // namespace svfit::scans
