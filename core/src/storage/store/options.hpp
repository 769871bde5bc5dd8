#pragma once
// How a store is built. The store keeps its own copy; nothing changes it afterwards.

#include <cstdint>
#include <optional>

#include "vector/vector_precision.hpp"

namespace tarnwick::store {

struct MutationLogRetention {
  std::optional<std::uint64_t> mutation_log_max_entries;  // keep at most this many newest records
  std::optional<std::int64_t> mutation_log_max_age_ms;    // keep records at most this old
};

// The one `sync_mode` that syncs: each append of a batch, each snapshot write (then the
// directory) and each trim rewrite is followed by `Storage::sync`. Any other value never syncs.
inline constexpr std::uint8_t kSyncAfterWrites = 2;
inline constexpr std::uint64_t kDefaultCompactThreshold = 10000;

struct StoreOptions {
  std::optional<MutationLogRetention> retention;  // absent when neither limit is given
  std::uint64_t compact_threshold = kDefaultCompactThreshold;
  std::optional<VectorPrecision> vector_precision;  // absent: the files' precision, else float64
  std::uint8_t sync_mode = 1;
};

}  // namespace tarnwick::store
