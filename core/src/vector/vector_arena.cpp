#include "vector/vector_arena.hpp"

#include "vector/similarity.hpp"

namespace tarnwick {

namespace {

// Dead space is reclaimed once it outweighs the live rows, so moves cost amortised O(1).
constexpr std::size_t kMinDeadToCompact = 4096;

template <class T>
void write_row(T* out, std::span<const double> values) {
  T* row = out + sizeof(double) / sizeof(T);
  double sum = 0.0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    row[i] = static_cast<T>(values[i]);
    // The norm is taken over the stored (possibly rounded) values, as every comparison sees them.
    const double stored = static_cast<double>(row[i]);
    sum += stored * stored;
  }
  const double norm = std::sqrt(sum);
  std::memcpy(out, &norm, sizeof norm);
}

template <class Vector>
void append_row_to(Vector& arena, std::span<const double> values) {
  using T = typename Vector::value_type;
  const std::size_t at = arena.size();
  arena.resize(at + sizeof(double) / sizeof(T) + values.size());
  write_row(arena.data() + at, values);
}

}  // namespace

std::size_t VectorArena::stored_values() const {
  return precision_ == VectorPrecision::Float32 ? f32_.size() : f64_.size();
}

void VectorArena::append_row(std::uint32_t slot, std::span<const double> values) {
  const std::size_t at = stored_values();
  offset_[slot] = at;
  length_[slot] = values.size();
  ++length_counts_[values.size()];
  if (slot_count() == 1) stride_length_ = values.size();
  strided_ = strided_ && values.size() == stride_length_ && at == std::size_t{slot} * (stride_length_ + header());
  if (precision_ == VectorPrecision::Float32) {
    append_row_to(f32_, values);
  } else {
    append_row_to(f64_, values);
  }
}

void VectorArena::put(std::uint32_t slot, std::span<const double> values) {
  if (slot == slot_count()) {
    offset_.push_back(0);
    length_.push_back(0);
    append_row(slot, values);
    return;
  }
  if (length_[slot] == values.size()) {
    if (precision_ == VectorPrecision::Float32) {
      write_row(f32_.data() + start(slot), values);
    } else {
      write_row(f64_.data() + start(slot), values);
    }
    return;
  }
  dead_values_ += length_[slot] + header();
  if (--length_counts_[length_[slot]] == 0) length_counts_.erase(length_[slot]);
  strided_ = false;
  append_row(slot, values);
  if (dead_values_ >= kMinDeadToCompact && dead_values_ * 2 > stored_values()) compact();
}

std::vector<double> VectorArena::to_f64(std::uint32_t slot) const {
  std::vector<double> out;
  to_f64(slot, out);
  return out;
}

void VectorArena::to_f64(std::uint32_t slot, std::vector<double>& out) const {
  if (precision_ == VectorPrecision::Float32) {
    const float* r = row<float>(slot);
    out.assign(r, r + length_[slot]);
  } else {
    const double* r = row<double>(slot);
    out.assign(r, r + length_[slot]);
  }
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
