#pragma once
// A hash table from ids to positions, built in one batch over a column of ids: every id is
// hashed first, then inserted with the slot of an id a few places ahead already being fetched,
// so the probes of a large table overlap instead of waiting on memory one by one.
//
// Open addressing with linear probing, at most half full; the keys are views into the column,
// which must outlive the table. Each table draws its own hash key.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "model/seeded_hash.hpp"

namespace tarnwick::query {

class IdTable {
 public:
  static constexpr std::size_t kAbsent = SIZE_MAX;

  IdTable() = default;

  // For each id in order: a new id gets `value_of_new(i)`, and `on_repeat(i, value)` may change
  // the value already stored for an id seen before. Returns, per position, the stored value
  // after that position was taken.
  template <class New, class Repeat>
  std::vector<std::size_t> insert_all(std::span<const std::string_view> ids, New value_of_new, Repeat on_repeat);

  // The value stored for `id`, or kAbsent.
  std::size_t find(std::string_view id) const;
  std::size_t size() const { return size_; }

 private:
  struct Slot {
    std::string_view key;
    std::uint64_t hash = 0;
    std::size_t value = kAbsent;  // kAbsent marks a free slot
  };

  void reserve_for(std::size_t count);
  std::size_t probe(std::string_view id, std::uint64_t hash) const;

  SeededHash hasher_;
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

template <class New, class Repeat>
std::vector<std::size_t> IdTable::insert_all(std::span<const std::string_view> ids, New value_of_new,
                                             Repeat on_repeat) {
  constexpr std::size_t kAhead = 8;
  reserve_for(size_ + ids.size());
  std::vector<std::uint64_t> hashes(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) hashes[i] = hasher_(ids[i]);
  std::vector<std::size_t> stored(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i + kAhead < ids.size()) __builtin_prefetch(&slots_[hashes[i + kAhead] & mask_]);
    Slot& slot = slots_[probe(ids[i], hashes[i])];
    if (slot.value == kAbsent) {
      slot = Slot{ids[i], hashes[i], value_of_new(i)};
      ++size_;
    } else {
      on_repeat(i, slot.value);
    }
    stored[i] = slot.value;
  }
  return stored;
}

}  // namespace tarnwick::query
