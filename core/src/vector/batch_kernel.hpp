#pragma once
// The batch scoring kernel, written once for any number of float64 lanes and compiled once per
// instruction set: batch_scoring.cpp builds it for the baseline, batch_scoring_avx2.cpp for AVX2
// (four lanes), batch_scoring_avx512.cpp for AVX-512 (eight lanes). Each copy lives in an unnamed
// namespace, private to the file that builds it, so that they never mix. None uses fused
// multiply-add, and every lane sums its own row in element order: all give the same bits.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "vector/batch_scoring.hpp"
#include "vector/similarity.hpp"
#include "vector/vector_arena.hpp"

namespace tarnwick {
namespace {  // NOLINT(google-build-namespaces): one private copy per instruction set

// W rows share one register, one row per lane; kMaxGroups registers are summed side by side so
// that the element-order chains of additions overlap instead of waiting on each other.
constexpr std::size_t kMaxGroups = 4;

template <std::size_t W>
struct Lanes {
  static_assert(W == 4 || W == 8, "the transpose below is written for four and eight lanes");
  static constexpr std::size_t kWidth = W;
  static constexpr std::size_t kMaxRows = W * kMaxGroups;
  typedef double Doubles __attribute__((vector_size(8 * W)));
  typedef float Floats __attribute__((vector_size(4 * W)));
};

// Loads W consecutive elements of a row as float64. The file that builds the kernel for an
// instruction set may bring a better one.
template <std::size_t W>
struct PortableLoad : Lanes<W> {
  using typename Lanes<W>::Doubles;
  using typename Lanes<W>::Floats;
  [[gnu::always_inline]] static void load(const double* p, Doubles& out) { std::memcpy(&out, p, sizeof out); }
  [[gnu::always_inline]] static void load(const float* p, Doubles& out) {
    Floats f;
    std::memcpy(&f, p, sizeof f);
    out = __builtin_convertvector(f, Doubles);
  }
};

// Every lane set to x. (Subtracting +0.0 leaves every value as it is, -0.0 included, where adding
// zeros would not; the compiler then loads x straight into every lane.)
template <class V>
[[gnu::always_inline]] inline void splat(double x, V& out) {
  out = x - V{};
}

// Vectors go by reference throughout: wide vectors passed by value would change the calling
// convention of the builds that lack the instruction set.
template <DistanceMetric M, class V>
[[gnu::always_inline]] inline void accumulate(V& acc, const V& query, const V& column) {
  if constexpr (M == DistanceMetric::Cosine) {
    acc = acc + query * column;
  } else {
    const V diff = query - column;
    acc = acc + diff * diff;
  }
}

// Turns W rows of W elements into W columns: column e holds element e of every row, row k in
// lane k. Pairwise shuffles, one round per doubling of the width.
template <class V>
[[gnu::always_inline]] inline void transpose(const V (&r)[4], V (&col)[4]) {
  const V t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 2, 6);  // r0[0] r1[0] | r0[2] r1[2]
  const V t1 = __builtin_shufflevector(r[0], r[1], 1, 5, 3, 7);  // r0[1] r1[1] | r0[3] r1[3]
  const V t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 2, 6);
  const V t3 = __builtin_shufflevector(r[2], r[3], 1, 5, 3, 7);
  col[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  col[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  col[2] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  col[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

template <class V>
[[gnu::always_inline]] inline void transpose(const V (&r)[8], V (&col)[8]) {
  // Rows in pairs: even elements (a) and odd elements (b) of rows 2k and 2k + 1, interleaved.
  V a[4], b[4];
  #pragma GCC unroll 32
  for (std::size_t k = 0; k < 4; ++k) {
    a[k] = __builtin_shufflevector(r[2 * k], r[2 * k + 1], 0, 8, 2, 10, 4, 12, 6, 14);
    b[k] = __builtin_shufflevector(r[2 * k], r[2 * k + 1], 1, 9, 3, 11, 5, 13, 7, 15);
  }
  // Pairs in pairs: four rows of elements e and e + 4, for e = 0, 2 (from a) and 1, 3 (from b).
  V c[2][4];
  #pragma GCC unroll 32
  for (std::size_t h = 0; h < 2; ++h) {
    c[h][0] = __builtin_shufflevector(a[2 * h], a[2 * h + 1], 0, 1, 8, 9, 4, 5, 12, 13);
    c[h][2] = __builtin_shufflevector(a[2 * h], a[2 * h + 1], 2, 3, 10, 11, 6, 7, 14, 15);
    c[h][1] = __builtin_shufflevector(b[2 * h], b[2 * h + 1], 0, 1, 8, 9, 4, 5, 12, 13);
    c[h][3] = __builtin_shufflevector(b[2 * h], b[2 * h + 1], 2, 3, 10, 11, 6, 7, 14, 15);
  }
  // Rows 0-3 beside rows 4-7.
  #pragma GCC unroll 32
  for (std::size_t e = 0; e < 4; ++e) {
    col[e] = __builtin_shufflevector(c[0][e], c[1][e], 0, 1, 2, 3, 8, 9, 10, 11);
    col[e + 4] = __builtin_shufflevector(c[0][e], c[1][e], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

// Sums G groups of W rows over n elements. W elements of W rows are loaded as rows and
// transposed, so that each lane receives its own row's elements in order.
// `ahead` (or null) are the rows of the next chunk: each is fetched a cache line at a time, at the
// pace this chunk's rows are read, so that the requests never pile up.
template <class Load, DistanceMetric M, std::size_t G, class T>
[[gnu::always_inline]] inline void sum_rows(const double* q, std::size_t n, const T* const* rows,
                                            const T* const* ahead, typename Load::Doubles* acc) {
  using V = typename Load::Doubles;
  constexpr std::size_t W = Load::kWidth;
  constexpr std::size_t kElementsPerLine = 64 / sizeof(T);
  for (std::size_t g = 0; g < G; ++g) acc[g] = V{};
  std::size_t i = 0;
  for (; i + W <= n; i += W) {
    if (ahead != nullptr && i % kElementsPerLine == 0) {
      #pragma GCC unroll 32
      for (std::size_t k = 0; k < Load::kMaxRows; ++k) __builtin_prefetch(ahead[k] + i);
    }
    #pragma GCC unroll 32
    for (std::size_t g = 0; g < G; ++g) {
      const T* const* r = rows + W * g;
      V loaded[W], column[W];
      #pragma GCC unroll 32
      for (std::size_t k = 0; k < W; ++k) Load::load(r[k] + i, loaded[k]);
      transpose(loaded, column);
      #pragma GCC unroll 32
      for (std::size_t e = 0; e < W; ++e) {
        V qe;
        splat(q[i + e], qe);
        accumulate<M>(acc[g], qe, column[e]);
      }
    }
  }
  for (; i < n; ++i) {
    V qi;
    splat(q[i], qi);
    #pragma GCC unroll 32
    for (std::size_t g = 0; g < G; ++g) {
      const T* const* r = rows + W * g;
      V column;
      #pragma GCC unroll 32
      for (std::size_t k = 0; k < W; ++k) column[k] = static_cast<double>(r[k][i]);
      accumulate<M>(acc[g], qi, column);
    }
  }
}

// Scores count (at most kMaxRows) slots; next_count slots follow them.
template <class Load, DistanceMetric M, class T>
[[gnu::always_inline]] inline void score_chunk(const PreparedQuery& query, const VectorArena& arena,
                                               const std::uint32_t* slots, std::size_t count, std::size_t next_count,
                                               double* out) {
  constexpr std::size_t W = Load::kWidth;
  constexpr std::size_t kMaxRows = Load::kMaxRows;
  const T* rows[kMaxRows];
  for (std::size_t k = 0; k < kMaxRows; ++k) rows[k] = arena.row<T>(slots[std::min(k, count - 1)]);
  const T* next_rows[kMaxRows];
  const T* const* ahead = nullptr;
  if (next_count > 0) {
    const std::uint32_t* next = slots + count;
    for (std::size_t k = 0; k < kMaxRows; ++k) next_rows[k] = arena.row<T>(next[std::min(k, next_count - 1)]);
    ahead = next_rows;
  }
  typename Load::Doubles acc[kMaxGroups];
  const double* q = query.values.data();
  const std::size_t n = query.values.size();
  // Only the groups that hold rows are summed.
  const std::size_t groups = (count + W - 1) / W;
  [&]<std::size_t... G>(std::index_sequence<G...>) {
    ((groups == G + 1 && (sum_rows<Load, M, G + 1>(q, n, rows, ahead, acc), true)) || ...);
  }(std::make_index_sequence<kMaxGroups>());
  for (std::size_t k = 0; k < count; ++k) {
    const double sum = acc[k / W][k % W];
    if constexpr (M == DistanceMetric::Cosine) {
      out[k] = cosine_from_parts(sum, query.norm, arena.norm(slots[k]));
    } else {
      out[k] = euclidean_from_squared_distance(sum);
    }
  }
}

// Scores every slot, kMaxRows at a time.
template <class Load, class T>
[[gnu::always_inline]] inline void score_all(const PreparedQuery& query, const VectorArena& arena,
                                             std::span<const std::uint32_t> slots, double* out) {
  constexpr std::size_t kMaxRows = Load::kMaxRows;
  for (std::size_t start = 0; start < slots.size(); start += kMaxRows) {
    const std::size_t count = std::min(kMaxRows, slots.size() - start);
    const std::size_t next_count = std::min(kMaxRows, slots.size() - start - count);
    if (query.metric == DistanceMetric::Cosine) {
      score_chunk<Load, DistanceMetric::Cosine, T>(query, arena, slots.data() + start, count, next_count, out + start);
    } else {
      score_chunk<Load, DistanceMetric::Euclidean, T>(query, arena, slots.data() + start, count, next_count,
                                                      out + start);
    }
  }
}

}  // namespace
}  // namespace tarnwick
