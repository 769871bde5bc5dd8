#pragma once
// The directed links of one HNSW layer, by node slot. A node may have no list, or an empty one:
// the two differ (an empty list still keeps its layer in use). Lists live in fixed-width rows of
// one array, each row its length followed by up to `stride` links, so that one cache miss brings
// a list's length and its first links together. The stride grows with the longest list actually
// held, never with a caller's number, and stops at kMaxStride: a longer list (only without a link
// cap, e.g. a node that many equal vectors link to) moves to a vector of its own instead of
// widening every row.
//
// A layer that nearly every node is on (layer 0) addresses its rows by slot, which saves a lookup
// per list; the sparser layers above map slots to rows.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <unordered_map>
#include <vector>

#include "vector/huge_page_allocator.hpp"

namespace tarnwick {

class LayerLinks {
 public:
  enum class Rows : std::uint8_t { BySlot, Mapped };

  // Lists never grow beyond max_length (the layer's link count plus one, before pruning), so the
  // stride stops there.
  LayerLinks(std::size_t max_length, Rows rows) : max_length_(max_length), by_slot_(rows == Rows::BySlot) {}

  bool has_list(std::uint32_t slot) const { return row_of(slot) != kNoRow; }
  // The slot's list, empty when it has none. Invalidated by any change to the layer.
  std::span<const std::uint32_t> list(std::uint32_t slot) const {
    const std::uint32_t row = row_of(slot);
    if (row == kNoRow) return {};
    return {row_data(row), length(row)};
  }
  // Asks the cache for the start of the slot's row (its length and first links). Rows by slot:
  // without reading anything first, even for a slot that has no row.
  void prefetch(std::uint32_t slot) const {
    if (by_slot_) {
      __builtin_prefetch(links_.data() + std::size_t{slot} * width());
    } else if (const std::uint32_t row = row_of(slot); row != kNoRow) {
      __builtin_prefetch(row_start(row));
    }
  }

  void ensure_list(std::uint32_t slot);
  // Appends target unless the list holds it already; creates the list when missing.
  void append_unique(std::uint32_t slot, std::uint32_t target);
  // Replaces an existing list; `targets` must not be this layer's own storage.
  void assign(std::uint32_t slot, std::span<const std::uint32_t> targets);
  void erase_list(std::uint32_t slot);
  // Removes every occurrence of target from the slot's list, keeping the order of the rest.
  void remove_target(std::uint32_t slot, std::uint32_t target);

  std::size_t list_count() const { return lists_; }
  // Slots with a list, in ascending order.
  std::vector<std::uint32_t> slots_with_lists() const;
  // Link entries the layer keeps room for: the rows of the array and the long lists.
  std::size_t held_entries() const;

 private:
  static constexpr std::uint32_t kNoRow = std::numeric_limits<std::uint32_t>::max();
  // The length of a row that holds no list (rows by slot only).
  static constexpr std::uint32_t kNoList = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::size_t kMaxStride = 256;

  std::size_t width() const { return stride_ + 1; }
  std::size_t row_count() const { return links_.size() / width(); }
  std::uint32_t row_of(std::uint32_t slot) const {
    if (by_slot_) {
      const std::size_t at = std::size_t{slot} * width();
      return at < links_.size() && links_[at] != kNoList ? slot : kNoRow;
    }
    return slot < row_of_.size() ? row_of_[slot] : kNoRow;
  }
  const std::uint32_t* row_start(std::uint32_t row) const { return links_.data() + std::size_t{row} * width(); }
  std::uint32_t* row_start(std::uint32_t row) { return links_.data() + std::size_t{row} * width(); }
  std::uint32_t length(std::uint32_t row) const { return *row_start(row); }
  void set_length(std::uint32_t row, std::size_t n) { *row_start(row) = static_cast<std::uint32_t>(n); }
  // A row longer than the stride lives in long_lists_ (only once the stride is kMaxStride).
  const std::uint32_t* row_data(std::uint32_t row) const {
    return length(row) <= stride_ ? row_start(row) + 1 : long_lists_.find(row)->second.data();
  }
  std::uint32_t* inline_row(std::uint32_t row) { return row_start(row) + 1; }
  std::uint32_t new_row(std::uint32_t slot);
  void grow_stride(std::size_t needed);

  // Each row: its length, then stride_ entries.
  std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> links_;
  std::vector<std::uint32_t> row_of_;  // by slot, when rows are mapped
  std::vector<std::uint32_t> free_rows_;
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> long_lists_;  // by row
  std::size_t max_length_;
  bool by_slot_;
  std::size_t stride_ = 0;
  std::size_t lists_ = 0;
};

}  // namespace tarnwick
