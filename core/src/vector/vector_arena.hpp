#pragma once
// The vectors of one index, addressed by dense slot numbers, in one contiguous array of the
// index precision (float32 halves the bytes a scan reads). Each row starts with a header that
// holds, bit for bit, the root of the row's element-order sum of squares: cosine then needs only a
// dot product, and the norm arrives in the cache line that the comparison loads anyway.
//
// While every row has one length and sits at its slot's place (the usual case: one dimension,
// rows appended in slot order) a row's address is computed from its slot; otherwise it comes
// from a per-slot offset.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <type_traits>
#include <vector>

#include "vector/huge_page_allocator.hpp"
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
  std::vector<double> to_f64(std::uint32_t slot) const;
  // The same into `out`, whose capacity a caller may keep from one row to the next.
  void to_f64(std::uint32_t slot, std::vector<double>& out) const;

  // The slot's values.
  template <class T>
  const T* row(std::uint32_t slot) const {
    return data<T>() + start(slot) + kHeader<T>;
  }
  // Root of the slot's element-order sum of squares.
  double norm(std::uint32_t slot) const {
    double n;
    if (precision_ == VectorPrecision::Float32) {
      std::memcpy(&n, data<float>() + start(slot), sizeof n);
    } else {
      std::memcpy(&n, data<double>() + start(slot), sizeof n);
    }
    return n;
  }
  // Asks the cache for the first `bytes` from the start of a row, header included; they may run
  // into the next row. Reads nothing of the row's own, so that it costs no miss itself.
  void prefetch(std::uint32_t slot, std::size_t bytes) const {
    const char* begin = precision_ == VectorPrecision::Float32
                            ? reinterpret_cast<const char*>(data<float>() + start(slot))
                            : reinterpret_cast<const char*>(data<double>() + start(slot));
    for (std::size_t at = 0; at < bytes; at += kCacheLine) __builtin_prefetch(begin + at);
  }

 private:
  // Header size in elements: one double.
  template <class T>
  static constexpr std::size_t kHeader = sizeof(double) / sizeof(T);
  static constexpr std::size_t kCacheLine = 64;

  template <class T>
  const T* data() const {
    if constexpr (std::is_same_v<T, float>) {
      return f32_.data();
    } else {
      return f64_.data();
    }
  }
  std::size_t header() const { return precision_ == VectorPrecision::Float32 ? kHeader<float> : kHeader<double>; }
  std::size_t start(std::uint32_t slot) const {
    return strided_ ? std::size_t{slot} * (stride_length_ + header()) : offset_[slot];
  }
  std::size_t stored_values() const;
  void append_row(std::uint32_t slot, std::span<const double> values);
  void compact();

  VectorPrecision precision_;
  std::vector<float, HugePageAllocator<float>> f32_;    // used when precision_ is Float32
  std::vector<double, HugePageAllocator<double>> f64_;  // used when precision_ is Float64
  std::vector<std::size_t> offset_;  // row start by slot, header included
  std::vector<std::size_t> length_;
  std::map<std::size_t, std::size_t> length_counts_;  // slots per length
  bool strided_ = true;             // every row at slot * (stride_length_ + header)
  std::size_t stride_length_ = 0;
  std::size_t dead_values_ = 0;     // values no slot points at any more
};

}  // namespace tarnwick
