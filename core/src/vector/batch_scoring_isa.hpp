#pragma once
// The kernels built for AVX2 (batch_scoring_avx2.cpp) and AVX-512 (batch_scoring_avx512.cpp); each is
// called only when the CPU has its instruction set.

#include <cstdint>
#include <span>

#include "vector/batch_scoring.hpp"

namespace tarnwick {

void score_f32_avx2(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                    double* out);
void score_f64_avx2(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                    double* out);
void score_f32_avx512(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                      double* out);
void score_f64_avx512(const PreparedQuery& query, const VectorArena& arena, std::span<const std::uint32_t> slots,
                      double* out);

}  // namespace tarnwick
