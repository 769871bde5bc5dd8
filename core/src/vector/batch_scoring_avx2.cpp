// Everything the kernel includes comes first, so that only the kernel itself is built for AVX2:
// inline functions of shared headers must not get AVX2 code that another file could pick up.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "vector/batch_scoring.hpp"
#include "vector/batch_scoring_isa.hpp"
#include "vector/similarity.hpp"
#include "vector/vector_arena.hpp"

#pragma GCC target("avx2")

#include "vector/batch_kernel.hpp"

namespace tarnwick {
namespace {

// One widening load, where the portable conversion takes four steps.
struct Avx2Load : PortableLoad<4> {
  using PortableLoad<4>::load;
  [[gnu::always_inline]] static void load(const float* p, Doubles& out) { out = _mm256_cvtps_pd(_mm_loadu_ps(p)); }
};

}  // namespace

void score_f32_avx2(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                    double* out) {
  score_all<Avx2Load, float>(query, arena, slots, out);
}

void score_f64_avx2(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                    double* out) {
  score_all<Avx2Load, double>(query, arena, slots, out);
}

}  // namespace tarnwick
