#pragma once
// The kernel built for AVX2 (batch_scoring_avx2.cpp); called only when the CPU has it.

#include <cstdint>
#include <span>

#include "vector/batch_scoring.hpp"

namespace tarnwick {

void score_f32_avx2(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                    double* out);
void score_f64_avx2(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                    double* out);

}  // namespace tarnwick
