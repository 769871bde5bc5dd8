#include "hnsw/layer_links.hpp"

#include <algorithm>

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
  const std::size_t stride = std::max(needed, std::min(std::max(kInitialStride, stride_ * 2), max_length_));
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
  if (n == stride_) grow_stride(std::size_t{n} + 1);
  row_data(row)[n] = target;
  size_[row] = n + 1;
}

void LayerLinks::assign(std::uint32_t slot, std::span<const std::uint32_t> targets) {
  const std::uint32_t row = row_of_[slot];
  if (targets.size() > stride_) grow_stride(targets.size());
  std::copy(targets.begin(), targets.end(), row_data(row));
  size_[row] = static_cast<std::uint32_t>(targets.size());
}

void LayerLinks::erase_list(std::uint32_t slot) {
  if (!has_list(slot)) return;
  const std::uint32_t row = row_of_[slot];
  size_[row] = 0;
  free_rows_.push_back(row);
  row_of_[slot] = kNoRow;
  --lists_;
}

void LayerLinks::remove_target(std::uint32_t slot, std::uint32_t target) {
  if (!has_list(slot)) return;
  const std::uint32_t row = row_of_[slot];
  std::uint32_t* begin = row_data(row);
  size_[row] = static_cast<std::uint32_t>(std::remove(begin, begin + size_[row], target) - begin);
}

std::vector<std::uint32_t> LayerLinks::slots_with_lists() const {
  std::vector<std::uint32_t> slots;
  for (std::uint32_t slot = 0; slot < row_of_.size(); ++slot) {
    if (row_of_[slot] != kNoRow) slots.push_back(slot);
  }
  return slots;
}

}  // namespace tarnwick
