#include "vector/batch_scoring.hpp"

#include <algorithm>
#include <cstring>

namespace tarnwick {

namespace {

// Four rows share one 256-bit register, one row per lane; kMaxGroups registers are summed side by
// side so that the element-order chains of additions overlap instead of waiting on each other.
constexpr std::size_t kLanes = 4;
constexpr std::size_t kMaxGroups = 4;
constexpr std::size_t kMaxRows = kLanes * kMaxGroups;

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef float F2 __attribute__((vector_size(8)));

template <class T>
[[gnu::always_inline]] inline V2 load2(const T* p) {
  if constexpr (std::is_same_v<T, float>) {
    F2 f;
    std::memcpy(&f, p, sizeof f);
    return __builtin_convertvector(f, V2);
  } else {
    V2 d;
    std::memcpy(&d, p, sizeof d);
    return d;
  }
}

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

// Sums G groups of four rows over n elements. Four elements of four rows are loaded as two-element
// halves and transposed so that each lane receives its own row's elements in order.
template <DistanceMetric M, std::size_t G, class T>
[[gnu::always_inline]] inline void sum_rows(const double* q, std::size_t n, const T* const* rows, V4* acc) {
  for (std::size_t g = 0; g < G; ++g) acc[g] = V4{0.0, 0.0, 0.0, 0.0};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const V4 q0 = V4{0.0, 0.0, 0.0, 0.0} + q[i];
    const V4 q1 = V4{0.0, 0.0, 0.0, 0.0} + q[i + 1];
    const V4 q2 = V4{0.0, 0.0, 0.0, 0.0} + q[i + 2];
    const V4 q3 = V4{0.0, 0.0, 0.0, 0.0} + q[i + 3];
    for (std::size_t g = 0; g < G; ++g) {
      const T* const* r = rows + kLanes * g;
      const V4 t0 = __builtin_shufflevector(load2(r[0] + i), load2(r[2] + i), 0, 1, 2, 3);
      const V4 t1 = __builtin_shufflevector(load2(r[1] + i), load2(r[3] + i), 0, 1, 2, 3);
      const V4 t2 = __builtin_shufflevector(load2(r[0] + i + 2), load2(r[2] + i + 2), 0, 1, 2, 3);
      const V4 t3 = __builtin_shufflevector(load2(r[1] + i + 2), load2(r[3] + i + 2), 0, 1, 2, 3);
      accumulate<M>(acc[g], q0, __builtin_shufflevector(t0, t1, 0, 4, 2, 6));
      accumulate<M>(acc[g], q1, __builtin_shufflevector(t0, t1, 1, 5, 3, 7));
      accumulate<M>(acc[g], q2, __builtin_shufflevector(t2, t3, 0, 4, 2, 6));
      accumulate<M>(acc[g], q3, __builtin_shufflevector(t2, t3, 1, 5, 3, 7));
    }
  }
  for (; i < n; ++i) {
    const V4 qi = V4{0.0, 0.0, 0.0, 0.0} + q[i];
    for (std::size_t g = 0; g < G; ++g) {
      const T* const* r = rows + kLanes * g;
      const V4 column = {static_cast<double>(r[0][i]), static_cast<double>(r[1][i]), static_cast<double>(r[2][i]),
                         static_cast<double>(r[3][i])};
      accumulate<M>(acc[g], qi, column);
    }
  }
}

template <DistanceMetric M, class T>
[[gnu::always_inline]] inline void score_chunk(const PreparedQuery& query, const VectorArena& arena,
                                               const std::uint32_t* slots, std::size_t count, double* out) {
  const T* rows[kMaxRows];
  for (std::size_t k = 0; k < kMaxRows; ++k) rows[k] = arena.row<T>(slots[std::min(k, count - 1)]);
  V4 acc[kMaxGroups];
  const double* q = query.values.data();
  const std::size_t n = query.values.size();
  switch ((count + kLanes - 1) / kLanes) {
    case 1: sum_rows<M, 1>(q, n, rows, acc); break;
    case 2: sum_rows<M, 2>(q, n, rows, acc); break;
    case 3: sum_rows<M, 3>(q, n, rows, acc); break;
    default: sum_rows<M, 4>(q, n, rows, acc); break;
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

template <class T>
[[gnu::always_inline]] inline void score_all(const PreparedQuery& query, const VectorArena& arena,
                                             std::span<const std::uint32_t> slots, double* out) {
  for (std::size_t start = 0; start < slots.size(); start += kMaxRows) {
    const std::size_t count = std::min(kMaxRows, slots.size() - start);
    if (query.metric == DistanceMetric::Cosine) {
      score_chunk<DistanceMetric::Cosine, T>(query, arena, slots.data() + start, count, out + start);
    } else {
      score_chunk<DistanceMetric::Euclidean, T>(query, arena, slots.data() + start, count, out + start);
    }
  }
}

using ScoreFn = void (*)(const PreparedQuery&, const VectorArena&, std::span<const std::uint32_t>, double*);

// The same code built twice: for the baseline instruction set and for AVX2. Neither uses fused
// multiply-add, so both give the same bits.
void score_f32_base(const PreparedQuery& q, const VectorArena& a, std::span<const std::uint32_t> s, double* o) {
  score_all<float>(q, a, s, o);
}
void score_f64_base(const PreparedQuery& q, const VectorArena& a, std::span<const std::uint32_t> s, double* o) {
  score_all<double>(q, a, s, o);
}
[[gnu::target("avx2")]] void score_f32_avx2(const PreparedQuery& q, const VectorArena& a,
                                            std::span<const std::uint32_t> s, double* o) {
  score_all<float>(q, a, s, o);
}
[[gnu::target("avx2")]] void score_f64_avx2(const PreparedQuery& q, const VectorArena& a,
                                            std::span<const std::uint32_t> s, double* o) {
  score_all<double>(q, a, s, o);
}

struct Kernels {
  ScoreFn f32;
  ScoreFn f64;
};

Kernels choose_kernels() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return {score_f32_avx2, score_f64_avx2};
  return {score_f32_base, score_f64_base};
}

const Kernels kKernels = choose_kernels();

}  // namespace

void score_slots(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                 double* out) {
  if (slots.empty()) return;
  if (arena.precision() == VectorPrecision::Float32) {
    kKernels.f32(query, arena, slots, out);
  } else {
    kKernels.f64(query, arena, slots, out);
  }
}

}  // namespace tarnwick
