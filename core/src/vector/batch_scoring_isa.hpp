#pragma once
// The kernels built for AVX2 (batch_scoring_avx2.cpp) and AVX-512 (batch_scoring_avx512.cpp);
// each is called only when the CPU has its instruction set.

#include <cstdint>
#include <span>

#include "vector/batch_scoring.hpp"

namespace tarnwick {

using ScoreFn = void (*)(const PreparedQuery&, const VectorArena&, std::span<const std::uint32_t>, double*);

// One kernel per precision of the stored rows.
struct ScoringKernels {
  ScoreFn f32;
  ScoreFn f64;
};

ScoringKernels avx2_kernels();
ScoringKernels avx512_kernels();

}  // namespace tarnwick
