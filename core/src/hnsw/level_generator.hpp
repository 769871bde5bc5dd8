#pragma once
// The seeded level draw of the HNSW index: Mulberry32 uniform numbers mapped to a geometric
// distribution of top layers.

#include <cstdint>

namespace tarnwick {

// 1 / ln(max(m, 2)).
double hnsw_level_multiplier(std::uint64_t m);

// Advances `state` and returns the next Mulberry32 number in [0, 1).
double mulberry32_next(std::uint32_t& state);

// floor(-ln(r) * level_mult). r = 0 draws the level of the smallest positive draw, 2^-32, so that
// every level stays finite and reachable.
std::uint32_t level_for_uniform(double r, double level_mult);

}  // namespace tarnwick
