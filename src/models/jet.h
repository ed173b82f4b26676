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

#include "models/special_functions.h"

namespace svfit::models::ad {

inline constexpr double kTwoOverSqrtPi = 1.1283791670955126;  // 2/√π
inline constexpr double kMaxExpArg = 709.0;  // exp of more overflows double

template <int N>
struct Jet {
  double v = 0;
  std::array<double, N> d{};
  Jet() = default;
  Jet(double value) : v(value) {}  // a constant  NOLINT(google-explicit-constructor)
};

// A variable: value x, derivative 1 in lane k.
template <int N>
Jet<N> variable(double x, int k) {
  Jet<N> j(x);
  j.d[static_cast<std::size_t>(k)] = 1.0;
  return j;
}

inline double val(double x) { return x; }
template <int N>
double val(const Jet<N>& x) {
  return x.v;
}

// ---- Arithmetic -------------------------------------------------------------
template <int N>
Jet<N> operator-(const Jet<N>& a) {
  Jet<N> r(-a.v);
  for (int i = 0; i < N; ++i) r.d[i] = -a.d[i];
  return r;
}
template <int N>
Jet<N> operator+(const Jet<N>& a, const Jet<N>& b) {
  Jet<N> r(a.v + b.v);
  for (int i = 0; i < N; ++i) r.d[i] = a.d[i] + b.d[i];
  return r;
}
template <int N>
Jet<N> operator+(const Jet<N>& a, double b) {
  Jet<N> r = a;
  r.v = a.v + b;
  return r;
}
template <int N>
Jet<N> operator+(double a, const Jet<N>& b) {
  Jet<N> r = b;
  r.v = a + b.v;
  return r;
}
template <int N>
Jet<N> operator-(const Jet<N>& a, const Jet<N>& b) {
  Jet<N> r(a.v - b.v);
  for (int i = 0; i < N; ++i) r.d[i] = a.d[i] - b.d[i];
  return r;
}
template <int N>
Jet<N> operator-(const Jet<N>& a, double b) {
  Jet<N> r = a;
  r.v = a.v - b;
  return r;
}
template <int N>
Jet<N> operator-(double a, const Jet<N>& b) {
  Jet<N> r(a - b.v);
  for (int i = 0; i < N; ++i) r.d[i] = -b.d[i];
  return r;
}
template <int N>
Jet<N> operator*(const Jet<N>& a, const Jet<N>& b) {
  Jet<N> r(a.v * b.v);
  for (int i = 0; i < N; ++i) r.d[i] = a.d[i] * b.v + a.v * b.d[i];
  return r;
}
template <int N>
Jet<N> operator*(const Jet<N>& a, double b) {
  Jet<N> r(a.v * b);
  for (int i = 0; i < N; ++i) r.d[i] = a.d[i] * b;
  return r;
}
template <int N>
Jet<N> operator*(double a, const Jet<N>& b) {
  Jet<N> r(a * b.v);
  for (int i = 0; i < N; ++i) r.d[i] = a * b.d[i];
  return r;
}
template <int N>
Jet<N> operator/(const Jet<N>& a, const Jet<N>& b) {
  const double inv = 1.0 / b.v;
  Jet<N> r(a.v / b.v);
  for (int i = 0; i < N; ++i) r.d[i] = (a.d[i] - r.v * b.d[i]) * inv;
  return r;
}
template <int N>
Jet<N> operator/(const Jet<N>& a, double b) {
  Jet<N> r(a.v / b);
  const double inv = 1.0 / b;
  for (int i = 0; i < N; ++i) r.d[i] = a.d[i] * inv;
  return r;
}
template <int N>
Jet<N> operator/(double a, const Jet<N>& b) {
  Jet<N> r(a / b.v);
  const double f = -r.v / b.v;
  for (int i = 0; i < N; ++i) r.d[i] = f * b.d[i];
  return r;
}
template <int N>
Jet<N>& operator+=(Jet<N>& a, const Jet<N>& b) {
  return a = a + b;
}
template <int N>
Jet<N>& operator-=(Jet<N>& a, const Jet<N>& b) {
  return a = a - b;
}

// f(x) with f'(x) given: the chain rule.
template <int N>
Jet<N> chain(const Jet<N>& x, double f, double fPrime) {
  Jet<N> r(f);
  for (int i = 0; i < N; ++i) r.d[i] = fPrime * x.d[i];
  return r;
}

// ---- Elementary functions ---------------------------------------------------
// exp, clamped at e^709 so that a runaway argument stays finite.
inline double exp(double x) { return std::exp(x < kMaxExpArg ? x : kMaxExpArg); }
template <int N>
Jet<N> exp(const Jet<N>& x) {
  const double e = exp(x.v);
  return chain(x, e, e);
}
inline double sqrt(double x) { return std::sqrt(x); }
template <int N>
Jet<N> sqrt(const Jet<N>& x) {
  const double s = std::sqrt(x.v);
  return chain(x, s, 0.5 / s);
}
inline double log(double x) { return std::log(x); }
template <int N>
Jet<N> log(const Jet<N>& x) {
  return chain(x, std::log(x.v), 1.0 / x.v);
}
inline double sq(double x) { return x * x; }
template <int N>
Jet<N> sq(const Jet<N>& x) {
  return x * x;
}

// ---- Error functions ----------------------------------------------------------
// exp(a − z²) as one exponent, 0 when it underflows.
inline double expGaussValue(double a, double z) { return exp(a - z * z); }

// erfc(z) for any z; derivative −(2/√π)·exp(−z²).
inline double erfcValue(double z) { return std::erfc(z); }
inline double erfc(double z) { return erfcValue(z); }
template <int N>
Jet<N> erfc(const Jet<N>& z) {
  return chain(z, erfcValue(z.v), -kTwoOverSqrtPi * std::exp(-z.v * z.v));
}

// exp(−z²) (a Gaussian factor of a derivative or of a model term).
inline double gauss(double z) { return std::exp(-z * z); }
template <int N>
Jet<N> gauss(const Jet<N>& z) {
  const double g = std::exp(-z.v * z.v);
  return chain(z, g, -2.0 * z.v * g);
}

// exp(a − z²) formed as one exponent: neither factor can overflow.
inline double expGauss(double a, double z) { return expGaussValue(a, z); }
template <int N>
Jet<N> expGauss(const Jet<N>& a, const Jet<N>& z) {
  const double g = expGaussValue(a.v, z.v);
  Jet<N> r(g);
  for (int i = 0; i < N; ++i) r.d[i] = g * (a.d[i] - 2.0 * z.v * z.d[i]);
  return r;
}

// exp(a)·erfc(z) without overflow (see the head of the file).
inline double expErfcValue(double a, double z, double g) {
  if (z >= 0) return g * fastErfcx(z);
  return 2.0 * exp(a) - g * fastErfcx(-z);
}
inline double expErfc(double a, double z) { return expErfcValue(a, z, expGaussValue(a, z)); }
template <int N>
Jet<N> expErfc(const Jet<N>& a, const Jet<N>& z) {
  const double g = expGaussValue(a.v, z.v);
  Jet<N> r(expErfcValue(a.v, z.v, g));
  for (int i = 0; i < N; ++i) r.d[i] = r.v * a.d[i] - kTwoOverSqrtPi * g * z.d[i];
  return r;
}

}  // namespace svfit::models::ad
