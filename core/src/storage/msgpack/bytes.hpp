#pragma once
// The byte buffer that files are read into and encoded into.

#include <cstdint>
#include <vector>

namespace tarnwick {

using Bytes = std::vector<std::uint8_t>;

}  // namespace tarnwick
