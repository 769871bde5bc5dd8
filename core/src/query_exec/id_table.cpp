#include "query_exec/id_table.hpp"

#include <bit>

namespace tarnwick::query {

void IdTable::reserve_for(std::size_t count) {
  const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(2 * count, 8));
  if (wanted <= slots_.size()) return;
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(wanted, Slot{});
  mask_ = wanted - 1;
  for (const Slot& s : old)
    if (s.value != kAbsent) slots_[probe(s.key, s.hash)] = s;
}

// The slot holding `id`, or the free slot where it belongs.
std::size_t IdTable::probe(std::string_view id, std::uint64_t hash) const {
  for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
    const Slot& s = slots_[i];
    if (s.value == kAbsent || (s.hash == hash && s.key == id)) return i;
  }
}

std::size_t IdTable::find(std::string_view id) const {
  if (size_ == 0) return kAbsent;
  return slots_[probe(id, hasher_(id))].value;
}

}  // namespace tarnwick::query
