#include "vector/batch_scoring.hpp"

#include "vector/batch_kernel.hpp"
#include "vector/batch_scoring_isa.hpp"

namespace tarnwick {

namespace {

ScoringKernels choose_kernels() {
  __builtin_cpu_init();
  // Each feature counts only when the OS also saves its registers (for AVX-512 the mask and the
  // upper zmm state), which the compiler's check includes.
  if (__builtin_cpu_supports("avx512f")) return avx512_kernels();
  if (__builtin_cpu_supports("avx2")) return avx2_kernels();
  return {score_all<PortableLoad<4>, float>, score_all<PortableLoad<4>, double>};
}

const ScoringKernels kKernels = choose_kernels();

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
