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

ScoringKernels avx2_kernels() { return {score_all<Avx2Load, float>, score_all<Avx2Load, double>}; }

}  // namespace tarnwick
