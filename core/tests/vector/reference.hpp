#pragma once
// Plain reference arithmetic for the vector tests, written independently of the library: one
// sum per loop, in element order, everything widened to double first.

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace tarnwick::testing {

inline std::vector<double> widen(const std::vector<double>& v, bool float32) {
  std::vector<double> out;
  for (const double x : v) out.push_back(float32 ? double(float(x)) : x);
  return out;
}

inline double ref_dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s = s + a[i] * b[i];
  return s;
}

inline double ref_cosine(const std::vector<double>& a, const std::vector<double>& b) {
  const double d = std::sqrt(ref_dot(a, a)) * std::sqrt(ref_dot(b, b));
  if (d == 0.0) return 0.0;
  return ref_dot(a, b) / d;
}

inline double ref_euclidean(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s = s + (a[i] - b[i]) * (a[i] - b[i]);
  return 1.0 / (std::sqrt(s) + 1.0);
}

inline double ref_similarity(const std::vector<double>& a, const std::vector<double>& b, bool euclidean) {
  return euclidean ? ref_euclidean(a, b) : ref_cosine(a, b);
}

// Values spread over many binades, so that summing in any other order changes the last bits.
inline std::vector<double> random_vector(std::mt19937_64& rng, std::size_t n) {
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-12, 12);
  std::vector<double> v(n);
  for (double& x : v) x = std::ldexp(mantissa(rng), exponent(rng));
  return v;
}

inline std::vector<double> uniform_vector(std::mt19937_64& rng, std::size_t n) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = value(rng);
  return v;
}

}  // namespace tarnwick::testing
