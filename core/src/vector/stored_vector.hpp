#pragma once
// One vector held at its container's precision and handed out as float64.

#include <cstddef>
#include <span>
#include <variant>
#include <vector>

#include "error/error.hpp"
#include "vector/similarity.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick {

class StoredVector {
 public:
  using Values = std::variant<std::vector<float>, std::vector<double>>;

  // Float32 rounds each value to nearest (out of range becomes an infinity); Float64 copies.
  static StoredVector make(std::span<const double> values, VectorPrecision precision);
  // Exact, for a holder told the precision only later: float32 when every value is a float32
  // value, else the float64 values themselves (taken, not copied). `at` then settles it.
  static StoredVector exact(std::vector<double>&& values);
  // This vector as `make` would hold its values at `precision`.
  StoredVector at(VectorPrecision precision) &&;

  VectorPrecision precision() const;
  std::size_t size() const;
  // A fresh float64 copy; float32 elements are widened exactly.
  std::vector<double> to_f64() const;
  // Fails with DimensionMismatch{this length, other length} when the lengths differ.
  Result<double> similarity_to(const StoredVector& other, DistanceMetric metric) const;
  const Values& values() const { return values_; }

  friend bool operator==(const StoredVector&, const StoredVector&) = default;

 private:
  explicit StoredVector(Values values) : values_(std::move(values)) {}
  Values values_;
};

}  // namespace tarnwick
