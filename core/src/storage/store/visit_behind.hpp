#pragma once
// Walking many stored nodes waits on memory once for each thing it reads that lies apart from
// the rest: the node, then its data bytes. `visit_behind` visits the items a walk gives some
// places behind it, and meanwhile asks memory, a few places at a time, for what the visit will
// read, each stage finding what the stage before asked for. So the waits of many items overlap
// instead of adding up.

#include <array>
#include <cstddef>

namespace tarnwick::store {

inline constexpr std::size_t kAhead = 8;

// `walk(step)` calls `step(item)` for each item in order, until `step` returns false. Calls
// `visit(item)` for the same items in the same order, until `visit` returns false, each
// `kStages * kAhead` places behind the walk; before that, `prepare(item, stage)` for stage 0
// when the walk meets the item and for each later stage kAhead places further on.
template <class Item, std::size_t kStages, class Walk, class Prepare, class Visit>
void visit_behind(Walk&& walk, Prepare&& prepare, Visit&& visit) {
  constexpr std::size_t kRing = kStages * kAhead;
  std::array<const Item*, kRing> ring{};
  std::size_t met = 0;
  bool go = true;
  walk([&](const Item& item) {
    prepare(item, 0);
    for (std::size_t stage = 1; stage < kStages && met >= stage * kAhead; ++stage)
      prepare(*ring[(met - stage * kAhead) % kRing], stage);
    const Item*& slot = ring[met % kRing];
    if (met >= kRing) go = visit(*slot);
    slot = &item;
    ++met;
    return go;
  });
  if (!go) return;
  for (std::size_t i = met >= kRing ? met - kRing : 0; i < met; ++i)
    if (!visit(*ring[i % kRing])) return;
}

}  // namespace tarnwick::store
