#pragma once
// Testing many stored nodes waits on memory: each node, and the data bytes it points to, lie
// apart from the others, and a field walk reads both. `visit_prefetched` visits the entries a
// walk finds 2 * kAhead places behind it: the node is asked of memory when found, the first
// line of its data (the map header and first keys) kAhead places later, once the node has
// arrived with the pointer to it. So the waits of many nodes overlap instead of adding up.

#include <array>
#include <cstddef>

#include "storage/store/stored_node.hpp"

namespace tarnwick::store {

inline constexpr std::size_t kAhead = 8;

inline void prefetch_node(const StoredNode& node) {
  const char* p = reinterpret_cast<const char*>(&node);
  __builtin_prefetch(p);
  __builtin_prefetch(p + sizeof(StoredNode) - 1);
}

inline void prefetch_data(const StoredNode& node) { __builtin_prefetch(node.data_bytes().data()); }

// `walk(step)` calls `step(entry)` for each map entry (a pair whose second is the stored node) in
// order, until `step` returns false. Calls `visit(entry)` for the same entries in the same
// order, until `visit` returns false.
template <class Entry, class Walk, class Visit>
void visit_prefetched(Walk&& walk, Visit&& visit) {
  constexpr std::size_t kRing = 2 * kAhead;
  std::array<const Entry*, kRing> ring{};
  std::size_t found = 0;
  bool go = true;
  walk([&](const Entry& entry) {
    prefetch_node(entry.second);
    if (found >= kAhead) prefetch_data(ring[(found - kAhead) % kRing]->second);
    const Entry*& slot = ring[found % kRing];
    if (found >= kRing) go = visit(*slot);
    slot = &entry;
    ++found;
    return go;
  });
  if (!go) return;
  for (std::size_t i = found >= kRing ? found - kRing : 0; i < found; ++i)
    if (!visit(*ring[i % kRing])) return;
}

}  // namespace tarnwick::store
