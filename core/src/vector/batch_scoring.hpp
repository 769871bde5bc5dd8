#pragma once
// Scores one float64 query against many stored rows at once. Several rows are summed side by
// side (one per SIMD lane), each still in element order, so every score is bit-identical to
// similarity() in similarity.hpp. The kernel is chosen once per process from the CPU's features.

#include <cstdint>
#include <span>

#include "vector/similarity.hpp"
#include "vector/vector_arena.hpp"

namespace tarnwick {

// A query with what every comparison needs of it, computed once.
struct PreparedQuery {
  PreparedQuery(std::span<const double> values, DistanceMetric metric)
      : values(values), norm(norm_of(values)), metric(metric) {}
  // With the norm already known, e.g. a stored row's.
  PreparedQuery(std::span<const double> values, double norm, DistanceMetric metric)
      : values(values), norm(norm), metric(metric) {}

  std::span<const double> values;
  double norm;  // root of the element-order sum of squares
  DistanceMetric metric;
};

// out[i] = similarity(query, row of slots[i]). Every slot must hold a vector of the query's length.
void score_slots(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                 double* out);

}  // namespace tarnwick
