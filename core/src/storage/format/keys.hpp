#pragma once
// The keys of the record maps, in the order the writers put them.

#include <string_view>

namespace tarnwick::format::key {

inline constexpr std::string_view kId = "id";
inline constexpr std::string_view kType = "type";
inline constexpr std::string_view kData = "data";
inline constexpr std::string_view kVector = "vector";
inline constexpr std::string_view kInsertedAt = "insertedAt";
inline constexpr std::string_view kUpdatedAt = "updatedAt";
inline constexpr std::string_view kActivation = "activation";
inline constexpr std::string_view kRevision = "revision";
inline constexpr std::string_view kMemoryClass = "memoryClass";
inline constexpr std::string_view kConfidence = "confidence";
inline constexpr std::string_view kSource = "source";
inline constexpr std::string_view kObservedAt = "observedAt";
inline constexpr std::string_view kDerivedFrom = "derivedFrom";
inline constexpr std::string_view kSupersedes = "supersedes";
inline constexpr std::string_view kContradicts = "contradicts";

inline constexpr std::string_view kScore = "score";
inline constexpr std::string_view kImportance = "importance";
inline constexpr std::string_view kReinforcementCount = "reinforcementCount";
inline constexpr std::string_view kLastMeaningfulActivation = "lastMeaningfulActivation";
inline constexpr std::string_view kInhibition = "inhibition";
inline constexpr std::string_view kLastInhibitedAt = "lastInhibitedAt";
inline constexpr std::string_view kContext = "context";

inline constexpr std::string_view kTarget = "target";
inline constexpr std::string_view kCreatedAt = "createdAt";

// The one key of a packed float32 vector map; its value holds 4 little-endian bytes per value.
inline constexpr std::string_view kPackedF32 = "__tarnwick_f32";

}  // namespace tarnwick::format::key
