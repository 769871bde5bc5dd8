#include "hnsw/layer_links.hpp"

#include <algorithm>
#include <cassert>

namespace tarnwick {

namespace {
constexpr std::size_t kInitialStride = 8;
}

std::uint32_t LayerLinks::new_row(std::uint32_t slot) {
  if (by_slot_) {
    if (slot >= row_count()) links_.resize((std::size_t{slot} + 1) * width(), kNoList);
    return slot;
  }
  if (slot >= row_of_.size()) row_of_.resize(std::size_t{slot} + 1, kNoRow);
  std::uint32_t row;
  if (free_rows_.empty()) {
    row = static_cast<std::uint32_t>(row_count());
    links_.resize(links_.size() + width());
  } else {
    row = free_rows_.back();
    free_rows_.pop_back();
  }
  row_of_[slot] = row;
  return row;
}

void LayerLinks::ensure_list(std::uint32_t slot) {
  if (has_list(slot)) return;
  set_length(new_row(slot), 0);
  ++lists_;
}

void LayerLinks::grow_stride(std::size_t needed) {
  // Long lists appear only once the stride has stopped growing, so every row is inline here.
  assert(needed <= kMaxStride && long_lists_.empty());
  const std::size_t stride =
      std::max(needed, std::min({std::max(kInitialStride, stride_ * 2), max_length_, kMaxStride}));
  const std::size_t rows = row_count();
  decltype(links_) links(rows * (stride + 1), kNoList);
  for (std::size_t row = 0; row < rows; ++row) {
    const std::uint32_t* from = links_.data() + row * width();
    std::uint32_t* to = links.data() + row * (stride + 1);
    to[0] = from[0];
    if (from[0] != kNoList) std::copy_n(from + 1, from[0], to + 1);
  }
  links_.swap(links);
  stride_ = stride;
}

void LayerLinks::append_unique(std::uint32_t slot, std::uint32_t target) {
  ensure_list(slot);
  const std::uint32_t row = row_of(slot);
  const std::uint32_t n = length(row);
  const std::uint32_t* begin = row_data(row);
  if (std::find(begin, begin + n, target) != begin + n) return;
  if (n == stride_ && stride_ < kMaxStride) grow_stride(std::size_t{n} + 1);
  if (n < stride_) {
    inline_row(row)[n] = target;
  } else {
    std::vector<std::uint32_t>& long_list = long_lists_[row];
    if (n == stride_) long_list.assign(inline_row(row), inline_row(row) + n);
    long_list.push_back(target);
  }
  set_length(row, std::size_t{n} + 1);
}

void LayerLinks::assign(std::uint32_t slot, std::span<const std::uint32_t> targets) {
  if (targets.size() > stride_ && stride_ < kMaxStride) grow_stride(std::min(targets.size(), kMaxStride));
  const std::uint32_t row = row_of(slot);
  if (targets.size() <= stride_) {
    std::copy(targets.begin(), targets.end(), inline_row(row));
    long_lists_.erase(row);
  } else {
    long_lists_[row].assign(targets.begin(), targets.end());
  }
  set_length(row, targets.size());
}

void LayerLinks::erase_list(std::uint32_t slot) {
  const std::uint32_t row = row_of(slot);
  if (row == kNoRow) return;
  long_lists_.erase(row);
  if (by_slot_) {
    set_length(row, kNoList);
  } else {
    set_length(row, 0);
    free_rows_.push_back(row);
    row_of_[slot] = kNoRow;
  }
  --lists_;
}

void LayerLinks::remove_target(std::uint32_t slot, std::uint32_t target) {
  const std::uint32_t row = row_of(slot);
  if (row == kNoRow) return;
  if (length(row) <= stride_) {
    std::uint32_t* begin = inline_row(row);
    set_length(row, static_cast<std::size_t>(std::remove(begin, begin + length(row), target) - begin));
    return;
  }
  const auto long_list = long_lists_.find(row);
  std::erase(long_list->second, target);
  set_length(row, long_list->second.size());
  if (length(row) <= stride_) {
    std::copy(long_list->second.begin(), long_list->second.end(), inline_row(row));
    long_lists_.erase(long_list);
  }
}

std::vector<std::uint32_t> LayerLinks::slots_with_lists() const {
  std::vector<std::uint32_t> slots;
  const std::size_t end = by_slot_ ? row_count() : row_of_.size();
  for (std::uint32_t slot = 0; slot < end; ++slot) {
    if (has_list(slot)) slots.push_back(slot);
  }
  return slots;
}

std::size_t LayerLinks::held_entries() const {
  std::size_t held = links_.size();
  for (const auto& [row, long_list] : long_lists_) held += long_list.size();
  return held;
}

}  // namespace tarnwick
