// Complementary error functions and correction peaks of the models.
//
// scaledErfc(x) = exp(x²)·erfc(x) has two regimes split at 4.29. Above, the
// Laplace continued fraction
//   exp(x²)·erfc(x) = (1/√π) / (x + ½/(x + 1/(x + (3/2)/(x + 2/(x + …)))))
// truncated after the term 4/x (relative error below 1e-9 at 4.29, falling
// fast with x). Below, the real-axis case of Gautschi's algorithm for the
// complex error function (Gautschi 1970, CACM algorithm 363): a backward
// recurrence of ν steps for the continued fraction and N steps of the
// truncated Taylor series with step h = 1.6·(1 − x/4.29); relative error near
// 1e-11 for x < 4 and below 1e-9 at the switch point. These constants are the
// defined numerics of the program and must not be tuned.
//
// fastErfcx serves the model hot path in double precision: below x = 50 a
// table of degree-7 polynomials in y = 4/(4 + x) (erfcx_table.h, 100
// intervals, generated with 50-digit arithmetic), beyond the asymptotic series
// (1/(x√π))·(1 − u + 3u² − 15u³ + 105u⁴ − 945u⁵), u = 1/(2x²), whose next term
// is below 1e-18 there. One division, no loop.
#include "models/error_functions.h"

#include <cmath>
#include <cstdint>

#include "models/erfcx_table.h"

namespace svfit::models {

namespace {

constexpr Extended kInvSqrtPi = 0.564189583547756L;  // 1/√π as the routine defines it

// h2^n for n ≥ 0 by repeated squaring.
Extended integerPower(Extended base, unsigned n) {
  Extended result = 1;
  while (n != 0) {
    if (n & 1u) result *= base;
    base *= base;
    n >>= 1;
  }
  return result;
}

}  // namespace

Extended scaledErfc(Extended x) {
  if (x >= 4.29L) {
    Extended t = x + 3.5L / (x + 4 / x);
    t = x + 2.5L / (x + 3 / t);
    t = x + 1.5L / (x + 2 / t);
    t = x + 0.5L / (x + 1 / t);
    return kInvSqrtPi / t;
  }
  const Extended s = 1 - x / 4.29L;
  const Extended h = 1.6L * s;
  const Extended h2 = 2 * h;
  const Extended a = h + x;
  // Step counts rounded to nearest, ties to even (the default rounding mode).
  const auto nTaylor = static_cast<std::uint16_t>(std::nearbyint(23 * s + 7));
  const auto nFraction = static_cast<std::uint16_t>(std::nearbyint(21 * s + 9));
  Extended r = 0.5L / a;
  Extended sum = 0;
  for (unsigned n = nFraction; n > nTaylor; --n) r = 0.5L / (a + n * r);
  Extended lambda = integerPower(h2, nTaylor - 1u);
  for (unsigned n = nTaylor; n >= 4; --n) {
    r = 0.5L / (a + n * r);
    sum = (lambda + sum) * r;
    lambda = lambda / h2;
  }
  r = 0.5L / (a + 3 * r);
  sum = (lambda + sum) * r;  // λ is not divided at n = 3
  r = 0.5L / (a + 2 * r);
  sum = (h2 + sum) * r;
  return (sum + 1) * kInvSqrtPi / (r + a);  // n = 1 folded into the result
}

Extended gaussFactor(Extended z) {
  if (std::fabs(z) >= 106.5L) return 0;  // exp(−z²) would underflow the extended range
  return std::exp(-z * z);
}

Extended safeErfc(Extended z) {
  const Extended ge = scaledErfc(std::fabs(z)) * gaussFactor(z);
  return z >= 0 ? ge : 2 - ge;
}

Extended combinedExp(Extended a, Extended z) {
  const Extended exponent = a - z * z;
  if (std::fabs(exponent) > 11356) return 0;
  return std::exp(exponent);
}

Extended logNormalPeak(Extended x, double x0, double b, double w, double A, double B) {
  Extended y = 1 + (x - x0) * (Extended(b) * b - 1) / b / w;
  if (y < 1e-300L) y = 1e-300L;  // keeps the logarithm finite left of the support
  const Extended lnb = std::log(Extended(b));
  const Extended k = std::log(Extended(2)) / (lnb * lnb);
  const Extended L = std::log(y);
  return A * std::exp(-(k * L - 1) * L) / y + B;
}

namespace {

struct PeakCoeffs {
  double x0, b, w, A, B;
};
constexpr PeakCoeffs kCorrA{2.5395, 293.5413, 644.0832, 0.2713, -0.091};
constexpr PeakCoeffs kCorrB{12.3361, 7.1814, 83.76, 9.107, 2.4917};
constexpr PeakCoeffs kMeniscus{6.3114, 2.1309, 0.751, 0.7826, 0.335};

double peak(double x, const PeakCoeffs& c) {
  return static_cast<double>(logNormalPeak(x, c.x0, c.b, c.w, c.A, c.B));
}

// d/dx of the peak: A·exp(−k·L²)·(−2k·L)/y·dy/dx; 0 on the floor.
double peakDeriv(double x, const PeakCoeffs& c) {
  const Extended dydx = (Extended(c.b) * c.b - 1) / c.b / c.w;
  const Extended y = 1 + (x - c.x0) * dydx;
  if (y < 1e-300L) return 0;
  const Extended lnb = std::log(Extended(c.b));
  const Extended k = std::log(Extended(2)) / (lnb * lnb);
  const Extended L = std::log(y);
  return static_cast<double>(c.A * std::exp(-k * L * L) * (-2 * k * L) / y * dydx);
}

}  // namespace

// The bottom corrections take x = 1000·eps.
double boundaryCorrA(double eps) { return peak(1000.0 * eps, kCorrA); }
double boundaryCorrB(double eps) { return peak(1000.0 * eps, kCorrB); }
double meniscusCorr(double rm) { return peak(rm, kMeniscus); }
double boundaryCorrADeriv(double eps) { return 1000.0 * peakDeriv(1000.0 * eps, kCorrA); }
double boundaryCorrBDeriv(double eps) { return 1000.0 * peakDeriv(1000.0 * eps, kCorrB); }

double fastErfcx(double x) { return detail::erfcxInline(x); }

}  // namespace svfit::models
