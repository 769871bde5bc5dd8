#pragma once
// The vector precision as both files write it.

#include <optional>
#include <string_view>

#include "vector/vector_precision.hpp"

namespace tarnwick::format {

// "float64" or "float32".
std::string_view precision_text(VectorPrecision p);
// Exactly "float64" or "float32"; anything else is none.
std::optional<VectorPrecision> precision_from_text(std::string_view text);

}  // namespace tarnwick::format
