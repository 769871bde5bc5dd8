#include "vector/batch_scoring.hpp"

#include "vector/batch_kernel.hpp"
#include "vector/batch_scoring_isa.hpp"

namespace tarnwick {

namespace {

using ScoreFn = void (*)(const PreparedQuery&, const VectorArena&, std::span<const std::uint32_t>, double*);

void score_f32_base(const PreparedQuery& q, const VectorArena& a, std::span<const std::uint32_t> s, double* o) {
  score_all<PortableLoad<4>, float>(q, a, s, o);
}
void score_f64_base(const PreparedQuery& q, const VectorArena& a, std::span<const std::uint32_t> s, double* o) {
  score_all<PortableLoad<4>, double>(q, a, s, o);
}

struct Kernels {
  ScoreFn f32;
  ScoreFn f64;
};

Kernels choose_kernels() {
  __builtin_cpu_init();
  // Each feature counts only when the OS also saves its registers (for AVX-512 the mask and the
  // upper zmm state), which the compiler's check includes.
  if (__builtin_cpu_supports("avx512f")) return {score_f32_avx512, score_f64_avx512};
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
