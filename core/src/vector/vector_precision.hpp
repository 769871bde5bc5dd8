#pragma once
// The precision in which a container (an index or the store) holds every vector it owns.

#include <cstdint>

namespace tarnwick {

enum class VectorPrecision : std::uint8_t { Float64 = 0, Float32 = 1 };

}  // namespace tarnwick
