#include "hnsw/layer_links.hpp"

#include <algorithm>
#include <cassert>

namespace tarnwick {

namespace {
constexpr std::size_t kInitialStride = 8;
}

void LayerLinks::ensure_list(std::uint32_t slot) {
  if (has_list(slot)) return;
  if (slot >= row_of_.size()) row_of_.resize(std::size_t{slot} + 1, kNoRow);
  std::uint32_t row;
  if (free_rows_.empty()) {
    row = static_cast<std::uint32_t>(size_.size());
    size_.push_back(0);
    links_.resize(links_.size() + stride_);
  } else {
    row = free_rows_.back();
    free_rows_.pop_back();
  }
  size_[row] = 0;
  row_of_[slot] = row;
  ++lists_;
}

void LayerLinks::grow_stride(std::size_t needed) {
  // Long lists appear only once the stride has stopped growing, so every row is inline here.
  assert(needed <= kMaxStride && long_lists_.empty());
  const std::size_t stride =
      std::max(needed, std::min({std::max(kInitialStride, stride_ * 2), max_length_, kMaxStride}));
  decltype(links_) links(size_.size() * stride);
  for (std::size_t row = 0; row < size_.size(); ++row) {
    std::copy_n(links_.data() + row * stride_, size_[row], links.data() + row * stride);
  }
  links_.swap(links);
  stride_ = stride;
}

void LayerLinks::append_unique(std::uint32_t slot, std::uint32_t target) {
  ensure_list(slot);
  const std::uint32_t row = row_of_[slot];
  const std::uint32_t n = size_[row];
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
  size_[row] = n + 1;
}

void LayerLinks::assign(std::uint32_t slot, std::span<const std::uint32_t> targets) {
  const std::uint32_t row = row_of_[slot];
  if (targets.size() > stride_ && stride_ < kMaxStride) grow_stride(std::min(targets.size(), kMaxStride));
  if (targets.size() <= stride_) {
    std::copy(targets.begin(), targets.end(), inline_row(row));
    long_lists_.erase(row);
  } else {
    long_lists_[row].assign(targets.begin(), targets.end());
  }
  size_[row] = static_cast<std::uint32_t>(targets.size());
}

void LayerLinks::erase_list(std::uint32_t slot) {
  if (!has_list(slot)) return;
  const std::uint32_t row = row_of_[slot];
  size_[row] = 0;
  long_lists_.erase(row);
  free_rows_.push_back(row);
  row_of_[slot] = kNoRow;
  --lists_;
}

void LayerLinks::remove_target(std::uint32_t slot, std::uint32_t target) {
  if (!has_list(slot)) return;
  const std::uint32_t row = row_of_[slot];
  if (size_[row] <= stride_) {
    std::uint32_t* begin = inline_row(row);
    size_[row] = static_cast<std::uint32_t>(std::remove(begin, begin + size_[row], target) - begin);
    return;
  }
  const auto long_list = long_lists_.find(row);
  std::erase(long_list->second, target);
  size_[row] = static_cast<std::uint32_t>(long_list->second.size());
  if (size_[row] <= stride_) {
    std::copy(long_list->second.begin(), long_list->second.end(), inline_row(row));
    long_lists_.erase(long_list);
  }
}

std::vector<std::uint32_t> LayerLinks::slots_with_lists() const {
  std::vector<std::uint32_t> slots;
  for (std::uint32_t slot = 0; slot < row_of_.size(); ++slot) {
    if (row_of_[slot] != kNoRow) slots.push_back(slot);
  }
  return slots;
}

std::size_t LayerLinks::held_entries() const {
  std::size_t held = links_.size();
  for (const auto& [row, long_list] : long_lists_) held += long_list.size();
  return held;
}

}  // namespace tarnwick
