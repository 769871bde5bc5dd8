#pragma once
// The parameters of an HNSW index, fixed at creation.

#include <cstdint>

#include "vector/similarity.hpp"

namespace tarnwick {

struct HnswConfig {
  std::uint64_t m = 16;                // links per node on layers above 0; sets the level multiplier
  std::uint64_t mmax0 = 32;            // links per node on layer 0
  std::uint64_t ef_construction = 200; // candidate list size while inserting
  std::uint64_t ef_search = 200;       // candidate list size of a query
  DistanceMetric distance = DistanceMetric::Cosine;
};

}  // namespace tarnwick
