#pragma once
// The directed links of one HNSW layer, by node slot. A node may have no list, or an empty one:
// the two differ (an empty list still keeps its layer in use). Lists live in fixed-stride rows of
// one array; the stride grows with the longest list actually held, never with a caller's number,
// and stops at kMaxStride: a longer list (only without a link cap, e.g. a node that many equal
// vectors link to) moves to a vector of its own instead of widening every row.

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
  // Lists never grow beyond max_length (the layer's link count plus one, before pruning), so the
  // stride stops there.
  explicit LayerLinks(std::size_t max_length) : max_length_(max_length) {}

  bool has_list(std::uint32_t slot) const { return slot < row_of_.size() && row_of_[slot] != kNoRow; }
  // The slot's list, empty when it has none. Invalidated by any change to the layer.
  std::span<const std::uint32_t> list(std::uint32_t slot) const {
    if (!has_list(slot)) return {};
    const std::uint32_t row = row_of_[slot];
    return {row_data(row), size_[row]};
  }
  // Address of the slot's list for prefetching; null when it has none.
  const std::uint32_t* list_address(std::uint32_t slot) const {
    return has_list(slot) ? row_data(row_of_[slot]) : nullptr;
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
  static constexpr std::size_t kMaxStride = 256;

  // A row longer than the stride lives in long_lists_ (only once the stride is kMaxStride).
  const std::uint32_t* row_data(std::uint32_t row) const {
    return size_[row] <= stride_ ? links_.data() + std::size_t{row} * stride_ : long_lists_.find(row)->second.data();
  }
  std::uint32_t* inline_row(std::uint32_t row) { return links_.data() + std::size_t{row} * stride_; }
  void grow_stride(std::size_t needed);

  std::vector<std::uint32_t> row_of_;  // by slot
  std::vector<std::uint32_t> size_;    // by row
  std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> links_;  // rows of stride_ entries
  std::vector<std::uint32_t> free_rows_;
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> long_lists_;  // by row
  std::size_t max_length_;
  std::size_t stride_ = 0;
  std::size_t lists_ = 0;
};

}  // namespace tarnwick
