#include "vector/vector_arena.hpp"

#include "vector/similarity.hpp"

namespace tarnwick {

namespace {

// Dead space is reclaimed once it outweighs the live rows, so moves cost amortised O(1).
constexpr std::size_t kMinDeadToCompact = 4096;

template <class T>
void append_converted(std::vector<T>& out, std::span<const double> values) {
  out.reserve(out.size() + values.size());
  for (const double v : values) out.push_back(static_cast<T>(v));
}

}  // namespace

std::size_t VectorArena::stored_values() const {
  return precision_ == VectorPrecision::Float32 ? f32_.size() : f64_.size();
}

void VectorArena::append_row(std::uint32_t slot, std::span<const double> values) {
  offset_[slot] = stored_values();
  length_[slot] = values.size();
  ++length_counts_[values.size()];
  if (precision_ == VectorPrecision::Float32) {
    append_converted(f32_, values);
  } else {
    append_converted(f64_, values);
  }
}

void VectorArena::put(std::uint32_t slot, std::span<const double> values) {
  if (slot == slot_count()) {
    offset_.push_back(0);
    length_.push_back(0);
    norm_.push_back(0.0);
    append_row(slot, values);
  } else if (length_[slot] == values.size()) {
    if (precision_ == VectorPrecision::Float32) {
      for (std::size_t i = 0; i < values.size(); ++i) f32_[offset_[slot] + i] = static_cast<float>(values[i]);
    } else {
      for (std::size_t i = 0; i < values.size(); ++i) f64_[offset_[slot] + i] = values[i];
    }
  } else {
    dead_values_ += length_[slot];
    if (--length_counts_[length_[slot]] == 0) length_counts_.erase(length_[slot]);
    append_row(slot, values);
  }
  // The norm is taken over the stored (possibly rounded) values, as every comparison sees them.
  if (precision_ == VectorPrecision::Float32) {
    norm_[slot] = norm_of(std::span<const float>(row<float>(slot), length_[slot]));
  } else {
    norm_[slot] = norm_of(std::span<const double>(row<double>(slot), length_[slot]));
  }
  if (dead_values_ >= kMinDeadToCompact && dead_values_ * 2 > stored_values()) compact();
}

std::vector<double> VectorArena::to_f64(std::uint32_t slot) const {
  if (precision_ == VectorPrecision::Float32) {
    const float* r = row<float>(slot);
    return std::vector<double>(r, r + length_[slot]);
  }
  const double* r = row<double>(slot);
  return std::vector<double>(r, r + length_[slot]);
}

void VectorArena::compact() {
  VectorArena fresh(precision_);
  for (std::uint32_t slot = 0; slot < slot_count(); ++slot) fresh.put(slot, to_f64(slot));
  *this = std::move(fresh);
}

void VectorArena::set_precision(VectorPrecision precision) {
  if (precision == precision_) return;
  VectorArena fresh(precision);
  for (std::uint32_t slot = 0; slot < slot_count(); ++slot) fresh.put(slot, to_f64(slot));
  *this = std::move(fresh);
}

void VectorArena::clear() { *this = VectorArena(precision_); }

}  // namespace tarnwick
