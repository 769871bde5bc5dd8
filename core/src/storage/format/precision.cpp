#include "storage/format/precision.hpp"

namespace tarnwick::format {

std::string_view precision_text(VectorPrecision p) { return p == VectorPrecision::Float32 ? "float32" : "float64"; }

std::optional<VectorPrecision> precision_from_text(std::string_view text) {
  if (text == "float64") return VectorPrecision::Float64;
  if (text == "float32") return VectorPrecision::Float32;
  return std::nullopt;
}

}  // namespace tarnwick::format
