// Forward-mode derivatives for the model formulas (internal to models/).
//
// A Jet<N> carries a value and its partial derivatives by N chosen variables;
// every operation applies the chain rule, so a model formula written once as a
// template gives its value (T = double), its analytic derivatives by the
// parameters (Jet<3> or Jet<4>) and its radial gradient (Jet<1> seeded in r).
// The value part of every operation is computed exactly as the plain double
// expression, so value, derivatives and gradient of a model always belong to
// the same number. No numerical differentiation anywhere.
//
// The erfc primitives keep exponentials and error functions together so that
// nothing overflows in double:
//   exp(a)·erfc(z) = exp(a − z²)·erfcx(z)           for z ≥ 0
//                  = 2·exp(a) − exp(a − z²)·erfcx(−z) for z < 0
// and their derivatives use the same Gaussian factor exp(a − z²).
#pragma once

#include <array>
#include <cmath>

#include "models/erfcx_table.h"
#include "models/error_functions.h"

namespace svfit::models::ad {

inline constexpr double kTwoOverSqrtPi = 1.1283791670955126;  // 2/√π
inline constexpr double kMaxExpArg = 709.0;                   // exp of more overflows double
// exp(−z²) is 0 in double beyond this |z| (e^−745 underflows completely).
inline constexpr double kGaussZeroZ = 27.3;

// The formulas are long chains of small operations: inline them all.
#define SVFIT_INLINE [[gnu::always_inline]] inline
#define SVFIT_LAMBDA_INLINE __attribute__((always_inline))

// Lanes are held in a GCC vector of 1, 2 or 4 doubles (3 lanes use 4, the
// last one idle), so every operation on the derivatives is one SIMD
// expression.
template <int N>
struct LaneVector;
template <>
struct LaneVector<1> {
  typedef double type __attribute__((vector_size(8)));
};
template <>
struct LaneVector<3> {
  typedef double type __attribute__((vector_size(32)));
};
template <>
struct LaneVector<4> {
  typedef double type __attribute__((vector_size(32)));
};

template <int N>
struct Jet {
  static constexpr int kLanes = N;
  using Lanes = typename LaneVector<N>::type;
  double v = 0;
  Lanes d{};
  Jet() = default;
  // A constant.  NOLINT(google-explicit-constructor)
  [[gnu::always_inline]] Jet(double value) : v(value) {}
  // The lanes go by reference and every Jet operation is inlined: a vector
  // passed by value would change its calling convention between the AVX2 and
  // the baseline clone of a model function.
  [[gnu::always_inline]] Jet(double value, const Lanes& lanes) : v(value), d(lanes) {}
};

// A variable: value x, derivative 1 in lane k.
template <int N>
SVFIT_INLINE Jet<N> variable(double x, int k) {
  Jet<N> j(x);
  j.d[k] = 1.0;
  return j;
}

SVFIT_INLINE double val(double x) { return x; }
template <int N>
SVFIT_INLINE double val(const Jet<N>& x) {
  return x.v;
}

// ---- Arithmetic -------------------------------------------------------------
template <int N>
SVFIT_INLINE Jet<N> operator-(const Jet<N>& a) {
  return {-a.v, -a.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator+(const Jet<N>& a, const Jet<N>& b) {
  return {a.v + b.v, a.d + b.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator+(const Jet<N>& a, double b) {
  return {a.v + b, a.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator+(double a, const Jet<N>& b) {
  return {a + b.v, b.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator-(const Jet<N>& a, const Jet<N>& b) {
  return {a.v - b.v, a.d - b.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator-(const Jet<N>& a, double b) {
  return {a.v - b, a.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator-(double a, const Jet<N>& b) {
  return {a - b.v, -b.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator*(const Jet<N>& a, const Jet<N>& b) {
  return {a.v * b.v, a.d * b.v + a.v * b.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator*(const Jet<N>& a, double b) {
  return {a.v * b, a.d * b};
}
template <int N>
SVFIT_INLINE Jet<N> operator*(double a, const Jet<N>& b) {
  return {a * b.v, a * b.d};
}
template <int N>
SVFIT_INLINE Jet<N> operator/(const Jet<N>& a, const Jet<N>& b) {
  const double q = a.v / b.v;
  return {q, (a.d - q * b.d) / b.v};
}
template <int N>
SVFIT_INLINE Jet<N> operator/(const Jet<N>& a, double b) {
  return {a.v / b, a.d / b};
}
template <int N>
SVFIT_INLINE Jet<N> operator/(double a, const Jet<N>& b) {
  const double q = a / b.v;
  return {q, (-q / b.v) * b.d};
}
template <int N>
SVFIT_INLINE Jet<N>& operator+=(Jet<N>& a, const Jet<N>& b) {
  return a = a + b;
}
template <int N>
SVFIT_INLINE Jet<N>& operator-=(Jet<N>& a, const Jet<N>& b) {
  return a = a - b;
}

// f(x) with f'(x) given: the chain rule.
template <int N>
SVFIT_INLINE Jet<N> chain(const Jet<N>& x, double f, double fPrime) {
  return {f, fPrime * x.d};
}

// ---- Elementary functions ---------------------------------------------------
// exp, clamped at e^709 so that a runaway argument stays finite.
SVFIT_INLINE double exp(double x) { return std::exp(x < kMaxExpArg ? x : kMaxExpArg); }
template <int N>
SVFIT_INLINE Jet<N> exp(const Jet<N>& x) {
  const double e = exp(x.v);
  return chain(x, e, e);
}
SVFIT_INLINE double sqrt(double x) { return std::sqrt(x); }
template <int N>
SVFIT_INLINE Jet<N> sqrt(const Jet<N>& x) {
  const double s = std::sqrt(x.v);
  return chain(x, s, 0.5 / s);
}
SVFIT_INLINE double log(double x) { return std::log(x); }
template <int N>
SVFIT_INLINE Jet<N> log(const Jet<N>& x) {
  return chain(x, std::log(x.v), 1.0 / x.v);
}
// 1/x and 1/√x: one division each, the derivative from the value itself.
SVFIT_INLINE double inv(double x) { return 1.0 / x; }
template <int N>
SVFIT_INLINE Jet<N> inv(const Jet<N>& x) {
  const double r = 1.0 / x.v;
  return {r, (-r * r) * x.d};
}
SVFIT_INLINE double rsqrt(double x) { return 1.0 / std::sqrt(x); }
template <int N>
SVFIT_INLINE Jet<N> rsqrt(const Jet<N>& x) {
  const double r = 1.0 / std::sqrt(x.v);
  return {r, (-0.5 * r * r * r) * x.d};
}
SVFIT_INLINE double sq(double x) { return x * x; }
template <int N>
SVFIT_INLINE Jet<N> sq(const Jet<N>& x) {
  return x * x;
}

// ---- Error functions ----------------------------------------------------------
// exp(a − z²) as one exponent, 0 when it underflows.
SVFIT_INLINE double expGaussValue(double a, double z) { return exp(a - z * z); }

// exp(−z²), exactly 0 beyond |z| = 27.3 without calling exp.
SVFIT_INLINE double gaussValue(double z) {
  return std::fabs(z) < kGaussZeroZ ? std::exp(-z * z) : 0.0;
}

// erfc(z) = exp(−z²)·erfcx(|z|), mirrored for z < 0; g = exp(−z²).
SVFIT_INLINE double erfcValue(double z, double g) {
  const double e = g != 0.0 ? g * detail::erfcxInline(std::fabs(z)) : 0.0;
  return z >= 0 ? e : 2.0 - e;
}

// erfc(z) for any z; derivative −(2/√π)·exp(−z²) with the same Gaussian.
SVFIT_INLINE double erfc(double z) { return erfcValue(z, gaussValue(z)); }
template <int N>
SVFIT_INLINE Jet<N> erfc(const Jet<N>& z) {
  const double g = gaussValue(z.v);
  return chain(z, erfcValue(z.v, g), -kTwoOverSqrtPi * g);
}

// exp(−z²) (a Gaussian factor of a derivative or of a model term).
SVFIT_INLINE double gauss(double z) { return gaussValue(z); }
template <int N>
SVFIT_INLINE Jet<N> gauss(const Jet<N>& z) {
  const double g = gaussValue(z.v);
  return chain(z, g, -2.0 * z.v * g);
}

// exp(a − z²) formed as one exponent: neither factor can overflow.
SVFIT_INLINE double expGauss(double a, double z) { return expGaussValue(a, z); }
template <int N>
SVFIT_INLINE Jet<N> expGauss(const Jet<N>& a, const Jet<N>& z) {
  const double g = expGaussValue(a.v, z.v);
  return {g, g * (a.d - (2.0 * z.v) * z.d)};
}

// exp(a)·erfc(z) without overflow (see the head of the file).
SVFIT_INLINE double expErfcValue(double a, double z, double g) {
  const double ge = g != 0.0 ? g * detail::erfcxInline(std::fabs(z)) : 0.0;
  return z >= 0 ? ge : 2.0 * exp(a) - ge;
}
SVFIT_INLINE double expErfc(double a, double z) { return expErfcValue(a, z, expGaussValue(a, z)); }
template <int N>
SVFIT_INLINE Jet<N> expErfc(const Jet<N>& a, const Jet<N>& z) {
  const double g = expGaussValue(a.v, z.v);
  const double value = expErfcValue(a.v, z.v, g);
  return {value, value * a.d - (kTwoOverSqrtPi * g) * z.d};
}

}  // namespace svfit::models::ad
