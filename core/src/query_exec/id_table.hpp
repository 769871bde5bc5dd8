#pragma once
// A hash table from ids to small numbers (node positions, group numbers), built once over a
// column of ids in batches: the ids of a batch are hashed first, then inserted while the slot
// of an id a few places ahead is already being fetched, so that the probes of a large table
// overlap instead of waiting on memory one by one.
//
// Open addressing with linear probing, at most half full. A slot holds 32 bits of the hash and
// the value; the id a value stands for comes from the caller (`key_of`), so a slot is 8 bytes.
// Each table draws its own hash key.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "model/seeded_hash.hpp"

namespace tarnwick::query {

class IdTable {
 public:
  static constexpr std::uint32_t kAbsent = UINT32_MAX;

  // Inserts `ids` in order into an empty table (at most kAbsent - 1 of them). A new id gets
  // `value_of_new(i)`; for an id already present, `on_repeat(i, value)` may change its value.
  // `key_of(value)` is the id a stored value stands for. `stored(i, value)` sees each id's value
  // once the id is in.
  template <class KeyOf, class New, class Repeat, class Stored>
  void build(std::span<const std::string_view> ids, KeyOf key_of, New value_of_new, Repeat on_repeat, Stored stored);

  // The value stored for `id`, or kAbsent.
  template <class KeyOf>
  std::uint32_t find(std::string_view id, KeyOf key_of) const {
    if (size_ == 0) return kAbsent;
    return slots_[probe(id, hasher_(id), key_of)].value;
  }

  std::size_t size() const { return size_; }

 private:
  struct Slot {
    std::uint32_t tag = 0;  // the hash's upper half
    std::uint32_t value = kAbsent;  // kAbsent marks a free slot
  };

  static std::uint32_t tag_of(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

  // The slot holding `id`, or the free slot where it belongs.
  template <class KeyOf>
  std::size_t probe(std::string_view id, std::uint64_t hash, KeyOf& key_of) const {
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.value == kAbsent || (s.tag == tag_of(hash) && key_of(s.value) == id)) return i;
    }
  }

  SeededHash hasher_;
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

template <class KeyOf, class New, class Repeat, class Stored>
void IdTable::build(std::span<const std::string_view> ids, KeyOf key_of, New value_of_new, Repeat on_repeat,
                    Stored stored) {
  constexpr std::size_t kBatch = 256;
  constexpr std::size_t kAhead = 8;
  const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(2 * ids.size(), 8));
  slots_.assign(capacity, Slot{});
  mask_ = capacity - 1;
  size_ = 0;
  std::uint64_t hashes[kBatch];
  for (std::size_t begin = 0; begin < ids.size(); begin += kBatch) {
    const std::size_t n = std::min(kBatch, ids.size() - begin);
    for (std::size_t k = 0; k < n; ++k) hashes[k] = hasher_(ids[begin + k]);
    for (std::size_t k = 0; k < n; ++k) {
      if (k + kAhead < n) __builtin_prefetch(&slots_[hashes[k + kAhead] & mask_]);
      const std::size_t i = begin + k;
      Slot& slot = slots_[probe(ids[i], hashes[k], key_of)];
      if (slot.value == kAbsent) {
        slot = Slot{tag_of(hashes[k]), static_cast<std::uint32_t>(value_of_new(i))};
        ++size_;
      } else {
        on_repeat(i, slot.value);
      }
      stored(i, slot.value);
    }
  }
}

}  // namespace tarnwick::query
