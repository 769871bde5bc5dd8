#pragma once
// The batch scoring kernel, compiled once per instruction set: batch_scoring.cpp builds it for
// the baseline, batch_scoring_avx2.cpp for AVX2. Each copy lives in an unnamed namespace, private
// to the file that builds it, so the two never mix. Neither uses fused multiply-add: both give
// the same bits.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "vector/batch_scoring.hpp"
#include "vector/similarity.hpp"
#include "vector/vector_arena.hpp"

namespace tarnwick {
namespace {  // NOLINT(google-build-namespaces): one private copy per instruction set

// Four rows share one 256-bit register, one row per lane; kMaxGroups registers are summed side by
// side so that the element-order chains of additions overlap instead of waiting on each other.
constexpr std::size_t kLanes = 4;
constexpr std::size_t kMaxGroups = 4;
constexpr std::size_t kMaxRows = kLanes * kMaxGroups;

typedef double V4 __attribute__((vector_size(32)));
typedef float F4 __attribute__((vector_size(16)));

// Loads four consecutive elements of a row as float64. The file that builds the kernel for an
// instruction set may bring a better one (Load below).
struct PortableLoad {
  [[gnu::always_inline]] static void load4(const double* p, V4& out) { std::memcpy(&out, p, sizeof out); }
  [[gnu::always_inline]] static void load4(const float* p, V4& out) {
    F4 f;
    std::memcpy(&f, p, sizeof f);
    out = __builtin_convertvector(f, V4);
  }
};


// By reference: 256-bit vectors passed by value would change the baseline build's calling convention.
template <DistanceMetric M>
[[gnu::always_inline]] inline void accumulate(V4& acc, const V4& query, const V4& column) {
  if constexpr (M == DistanceMetric::Cosine) {
    acc = acc + query * column;
  } else {
    const V4 diff = query - column;
    acc = acc + diff * diff;
  }
}

// Sums G groups of four rows over n elements. Four elements of four rows are loaded as rows and
// transposed (two rounds of pairwise shuffles), so that each lane receives its own row's elements
// in order.
// `ahead` (or null) are the rows of the next chunk: each is fetched a cache line at a time, at the
// pace this chunk's rows are read, so that the requests never pile up.
template <class Load, DistanceMetric M, std::size_t G, class T>
[[gnu::always_inline]] inline void sum_rows(const double* q, std::size_t n, const T* const* rows,
                                            const T* const* ahead, V4* acc) {
  constexpr std::size_t kElementsPerLine = 64 / sizeof(T);
  for (std::size_t g = 0; g < G; ++g) acc[g] = V4{0.0, 0.0, 0.0, 0.0};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    if (ahead != nullptr && i % kElementsPerLine == 0) {
      for (std::size_t k = 0; k < kMaxRows; ++k) __builtin_prefetch(ahead[k] + i);
    }
    const V4 q0 = {q[i], q[i], q[i], q[i]};
    const V4 q1 = {q[i + 1], q[i + 1], q[i + 1], q[i + 1]};
    const V4 q2 = {q[i + 2], q[i + 2], q[i + 2], q[i + 2]};
    const V4 q3 = {q[i + 3], q[i + 3], q[i + 3], q[i + 3]};
    for (std::size_t g = 0; g < G; ++g) {
      const T* const* r = rows + kLanes * g;
      V4 r0, r1, r2, r3;
      Load::load4(r[0] + i, r0);
      Load::load4(r[1] + i, r1);
      Load::load4(r[2] + i, r2);
      Load::load4(r[3] + i, r3);
      const V4 t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6);  // r0[0] r1[0] | r0[2] r1[2]
      const V4 t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);  // r0[1] r1[1] | r0[3] r1[3]
      const V4 t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6);
      const V4 t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
      accumulate<M>(acc[g], q0, __builtin_shufflevector(t0, t2, 0, 1, 4, 5));
      accumulate<M>(acc[g], q1, __builtin_shufflevector(t1, t3, 0, 1, 4, 5));
      accumulate<M>(acc[g], q2, __builtin_shufflevector(t0, t2, 2, 3, 6, 7));
      accumulate<M>(acc[g], q3, __builtin_shufflevector(t1, t3, 2, 3, 6, 7));
    }
  }
  for (; i < n; ++i) {
    const V4 qi = {q[i], q[i], q[i], q[i]};
    for (std::size_t g = 0; g < G; ++g) {
      const T* const* r = rows + kLanes * g;
      const V4 column = {static_cast<double>(r[0][i]), static_cast<double>(r[1][i]), static_cast<double>(r[2][i]),
                         static_cast<double>(r[3][i])};
      accumulate<M>(acc[g], qi, column);
    }
  }
}

// Scores count (at most kMaxRows) slots; next_count slots follow them.
template <class Load, DistanceMetric M, class T>
[[gnu::always_inline]] inline void score_chunk(const PreparedQuery& query, const VectorArena& arena,
                                               const std::uint32_t* slots, std::size_t count, std::size_t next_count,
                                               double* out) {
  const T* rows[kMaxRows];
  for (std::size_t k = 0; k < kMaxRows; ++k) rows[k] = arena.row<T>(slots[std::min(k, count - 1)]);
  const T* next_rows[kMaxRows];
  const T* const* ahead = nullptr;
  if (next_count > 0) {
    const std::uint32_t* next = slots + count;
    for (std::size_t k = 0; k < kMaxRows; ++k) next_rows[k] = arena.row<T>(next[std::min(k, next_count - 1)]);
    ahead = next_rows;
  }
  V4 acc[kMaxGroups];
  const double* q = query.values.data();
  const std::size_t n = query.values.size();
  switch ((count + kLanes - 1) / kLanes) {
    case 1: sum_rows<Load, M, 1>(q, n, rows, ahead, acc); break;
    case 2: sum_rows<Load, M, 2>(q, n, rows, ahead, acc); break;
    case 3: sum_rows<Load, M, 3>(q, n, rows, ahead, acc); break;
    default: sum_rows<Load, M, 4>(q, n, rows, ahead, acc); break;
  }
  for (std::size_t k = 0; k < count; ++k) {
    const double sum = acc[k / kLanes][k % kLanes];
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
