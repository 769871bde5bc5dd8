#pragma once
// Keys of a log entry map, in the order they are written.

#include <string_view>

namespace tarnwick::format::wal_key {

inline constexpr std::string_view kKind = "kind";
inline constexpr std::string_view kNode = "node";
inline constexpr std::string_view kEdge = "edge";
inline constexpr std::string_view kId = "id";
inline constexpr std::string_view kVector = "vector";
inline constexpr std::string_view kPrecision = "precision";

}  // namespace tarnwick::format::wal_key
