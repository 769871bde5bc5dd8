#pragma once
// The Python texts of the vector options, shared by every class that takes them.

#include <string_view>

#include "lib/exceptions.hpp"
#include "lib/py_ref.hpp"
#include "vector/similarity.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::py {

// Exactly "float32" or "float64"; any other text raises TarnwickValueError.
inline PyResult<VectorPrecision> precision_from_text(std::string_view text) {
  if (text == "float32") return VectorPrecision::Float32;
  if (text == "float64") return VectorPrecision::Float64;
  return raise(ExceptionKind::TarnwickValueError, "unsupported vector precision " + std::string(text));
}

// Exactly "euclidean" selects Euclidean similarity; every other text, cosine.
inline DistanceMetric metric_from_text(std::string_view text) {
  return text == "euclidean" ? DistanceMetric::Euclidean : DistanceMetric::Cosine;
}

}  // namespace tarnwick::py
