#pragma once
// Top-level keys of "snapshot.msgpack", in the order they are written.

#include <string_view>

namespace tarnwick::format::snapshot_key {

inline constexpr std::string_view kVersion = "version";
inline constexpr std::string_view kNodes = "nodes";
inline constexpr std::string_view kEdges = "edges";
inline constexpr std::string_view kVectors = "vectors";
inline constexpr std::string_view kVectorPrecision = "vectorPrecision";

}  // namespace tarnwick::format::snapshot_key
