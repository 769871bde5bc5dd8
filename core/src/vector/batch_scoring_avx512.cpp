// Everything the kernel includes comes first, so that only the kernel itself is built for AVX-512:
// inline functions of shared headers must not get AVX-512 code that another file could pick up.
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

#pragma GCC target("avx512f")

#include "vector/batch_kernel.hpp"

namespace tarnwick {
namespace {

// One widening load, where the portable conversion goes through two halves. (The plain
// conversion intrinsic trips GCC 12's uninitialised-value warning; a full mask gives the same.)
struct Avx512Load : PortableLoad<8> {
  using PortableLoad<8>::load;
  [[gnu::always_inline]] static void load(const float* p, Doubles& out) {
    out = _mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(p));
  }
};

}  // namespace

ScoringKernels avx512_kernels() { return {score_all<Avx512Load, float>, score_all<Avx512Load, double>}; }

}  // namespace tarnwick
