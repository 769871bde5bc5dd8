#pragma once
// A vector as the writers take it: float64 values, or values already held as float32, which a
// float32 file takes with one copy.

#include <span>
#include <variant>
#include <vector>

#include "vector/stored_vector.hpp"

namespace tarnwick::format {

using VectorRef = std::variant<std::span<const double>, std::span<const float>>;

inline VectorRef vector_ref(const std::vector<double>& values) { return std::span<const double>(values); }

// A stored vector as it is held, so that a float32 store writes its vectors without widening.
inline VectorRef vector_ref(const StoredVector& v) {
  return std::visit(
      [](const auto& values) -> VectorRef {
        return std::span<const typename std::decay_t<decltype(values)>::value_type>(values);
      },
      v.values());
}

}  // namespace tarnwick::format
