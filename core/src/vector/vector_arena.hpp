#pragma once
// The vectors of one index, addressed by dense slot numbers, in one contiguous array of the
// index precision (float32 halves the bytes a scan reads). Each slot also keeps the root of its
// element-order sum of squares, so cosine needs only a dot product per comparison.

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <type_traits>
#include <vector>

#include "vector/vector_precision.hpp"

namespace tarnwick {

class VectorArena {
 public:
  explicit VectorArena(VectorPrecision precision) : precision_(precision) {}

  VectorPrecision precision() const { return precision_; }
  std::uint32_t slot_count() const { return static_cast<std::uint32_t>(length_.size()); }

  // Stores values at the arena precision; slot == slot_count() opens a new slot. A slot keeps its
  // place when the length is unchanged, else it moves to the end of the array.
  void put(std::uint32_t slot, std::span<const double> values);
  // Re-encodes every slot at `precision`.
  void set_precision(VectorPrecision precision);
  void clear();

  std::size_t length(std::uint32_t slot) const { return length_[slot]; }
  // Whether every slot holds exactly n values, so that callers can skip per-slot length checks.
  bool all_of_length(std::size_t n) const {
    return length_counts_.size() == 1 && length_counts_.begin()->first == n;
  }
  double norm(std::uint32_t slot) const { return norm_[slot]; }
  const double* norms() const { return norm_.data(); }
  std::vector<double> to_f64(std::uint32_t slot) const;

  template <class T>
  const T* row(std::uint32_t slot) const {
    if constexpr (std::is_same_v<T, float>) {
      return f32_.data() + offset_[slot];
    } else {
      return f64_.data() + offset_[slot];
    }
  }

 private:
  std::size_t stored_values() const;
  void append_row(std::uint32_t slot, std::span<const double> values);
  void compact();

  VectorPrecision precision_;
  std::vector<float> f32_;   // used when precision_ is Float32
  std::vector<double> f64_;  // used when precision_ is Float64
  std::vector<std::size_t> offset_;
  std::vector<std::size_t> length_;
  std::vector<double> norm_;
  std::map<std::size_t, std::size_t> length_counts_;  // slots per length
  std::size_t dead_values_ = 0;  // values no slot points at any more
};

}  // namespace tarnwick
