#pragma once
// The store's only clock: it stamps mutation records and dates them for the retention limit.

#include <cstdint>

namespace tarnwick::store {

// Milliseconds since the Unix epoch from the real-time clock, rounded down; 0 before the epoch.
std::int64_t now_millis();

// A store reads the time through this, so that tests can set it.
using Clock = std::int64_t (*)();

}  // namespace tarnwick::store
