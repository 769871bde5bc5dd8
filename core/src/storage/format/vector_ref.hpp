#pragma once
// A vector as the writers take it: float64 values, or values already held as float32, which a
// float32 file takes with one copy.

#include <span>
#include <variant>
#include <vector>

namespace tarnwick::format {

using VectorRef = std::variant<std::span<const double>, std::span<const float>>;

inline VectorRef vector_ref(const std::vector<double>& values) { return std::span<const double>(values); }

}  // namespace tarnwick::format
