#include "hnsw/level_generator.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwick {

double hnsw_level_multiplier(std::uint64_t m) {
  return 1.0 / std::log(static_cast<double>(std::max<std::uint64_t>(m, 2)));
}

double mulberry32_next(std::uint32_t& state) {
  state += 0x6D2B79F5u;
  std::uint32_t t = state;
  t = (t ^ (t >> 15)) * (t | 1u);
  t = (t + ((t ^ (t >> 7)) * (t | 61u))) ^ t;
  t = t ^ (t >> 14);
  return static_cast<double>(t) / 4294967296.0;
}

std::uint32_t level_for_uniform(double r, double level_mult) {
  // ln(0) is minus infinity, whose level no integer holds.
  constexpr double kSmallestDraw = 0x1p-32;
  const double level = std::floor(-(std::log(r == 0.0 ? kSmallestDraw : r) * level_mult));
  return level < 0.0 ? 0u : static_cast<std::uint32_t>(level);
}

}  // namespace tarnwick
