#pragma once
// Doubles read where an integer is wanted: only finite, integral values in range convert.

#include <cmath>
#include <cstdint>
#include <optional>

namespace tarnwick::format {

inline std::optional<std::int64_t> integral_i64(double d) {
  // The bounds are exact doubles: -2^63 is in range, 2^63 is not. NaN fails both tests.
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || d != std::trunc(d)) return std::nullopt;
  return static_cast<std::int64_t>(d);
}

// -0.0 is not negative, so it converts to 0.
inline std::optional<std::uint64_t> integral_u64(double d) {
  if (!(d >= 0.0 && d < 18446744073709551616.0) || d != std::trunc(d)) return std::nullopt;
  return static_cast<std::uint64_t>(d);
}

}  // namespace tarnwick::format
