#pragma once

#include <cmath>
#include <span>

namespace tarnwick {

inline bool all_finite(std::span<const double> values) {
  for (const double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace tarnwick
