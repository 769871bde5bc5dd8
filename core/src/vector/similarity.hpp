#pragma once
// Cosine and Euclidean similarity. Scores are fixed to the bit: every element is widened to
// float64 and each sum takes its terms one at a time in element order, so any faster path
// (see batch_scoring.hpp) must reproduce exactly this arithmetic.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "error/error.hpp"

namespace tarnwick {

enum class DistanceMetric : std::uint8_t { Cosine = 0, Euclidean = 1 };

// Cosine from its parts; the divisor is the product of the two roots, not the root of the product.
inline double cosine_from_parts(double dot, double norm_a, double norm_b) {
  const double d = norm_a * norm_b;
  return d == 0.0 ? 0.0 : dot / d;
}

inline double euclidean_from_squared_distance(double squared) { return 1.0 / (std::sqrt(squared) + 1.0); }

// Square root of the element-order sum of squares: the norm that cosine_from_parts expects.
template <class T>
double norm_of(std::span<const T> values) {
  double sum = 0.0;
  for (const T v : values) sum += static_cast<double>(v) * static_cast<double>(v);
  return std::sqrt(sum);
}

// Similarity of a (first operand) and b; fails when the lengths differ.
template <class A, class B>
Result<double> similarity(std::span<const A> a, std::span<const B> b, DistanceMetric metric) {
  if (a.size() != b.size()) return fail(err::DimensionMismatch{a.size(), b.size()});
  double dot = 0.0, na = 0.0, nb = 0.0, sq = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double x = static_cast<double>(a[i]);
    const double y = static_cast<double>(b[i]);
    dot += x * y;
    na += x * x;
    nb += y * y;
    const double diff = x - y;
    sq += diff * diff;
  }
  if (metric == DistanceMetric::Cosine) return cosine_from_parts(dot, std::sqrt(na), std::sqrt(nb));
  return euclidean_from_squared_distance(sq);
}

}  // namespace tarnwick
