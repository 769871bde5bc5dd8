#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "reference.hpp"
#include "vector/batch_kernel.hpp"
#include "vector/batch_scoring.hpp"
#include "vector/stored_vector.hpp"

namespace tarnwick {
namespace {

using testing::ref_similarity;

double sim(const std::vector<double>& a, const std::vector<double>& b, DistanceMetric metric,
           VectorPrecision pa = VectorPrecision::Float64, VectorPrecision pb = VectorPrecision::Float64) {
  auto r = StoredVector::make(a, pa).similarity_to(StoredVector::make(b, pb), metric);
  EXPECT_TRUE(r.has_value());
  return r.value_or(std::numeric_limits<double>::quiet_NaN());
}

TEST(Similarity, EdgeCasesToTheBit) {
  const auto cos = DistanceMetric::Cosine;
  const auto euc = DistanceMetric::Euclidean;
  EXPECT_EQ(sim({}, {}, cos), 0.0);
  EXPECT_EQ(sim({}, {}, euc), 1.0);
  EXPECT_EQ(sim({0, 0}, {3, 4}, cos), 0.0);
  EXPECT_EQ(sim({0, 0}, {3, 4}, euc), 0.16666666666666666);
  // sqrt(2) * sqrt(2) is 2.0000000000000004.
  EXPECT_EQ(sim({1, 1}, {1, 1}, cos), 0.9999999999999998);
  EXPECT_EQ(sim({1, 1}, {1, 1}, euc), 1.0);
  // Mixed variants are compared in float64 after widening.
  EXPECT_EQ(sim({0.1}, {0.1}, euc, VectorPrecision::Float32, VectorPrecision::Float64),
            1.0 / ((0.10000000149011612 - 0.1) + 1.0));
  // Overflowing sums are not clamped: inf / inf is NaN for cosine, Euclidean gives 0.
  EXPECT_TRUE(std::isnan(sim({1e200, 1e200}, {1e200, 1e200}, cos)));
  EXPECT_EQ(sim({1e200}, {-1e200}, euc), 0.0);
}

TEST(Similarity, LengthDifferenceNamesTheFirstOperandAsExpected) {
  const auto a = StoredVector::make(std::vector<double>{1, 2, 3}, VectorPrecision::Float64);
  const auto b = StoredVector::make(std::vector<double>{1, 2, 3, 4}, VectorPrecision::Float32);
  const auto r = a.similarity_to(b, DistanceMetric::Cosine);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().text(), "dimension_mismatch: expected 3 dimensions, got 4");
  EXPECT_EQ(b.similarity_to(a, DistanceMetric::Euclidean).error().text(),
            "dimension_mismatch: expected 4 dimensions, got 3");
}

TEST(StoredVector, PrecisionRoundsAndWidens) {
  const auto f32 = StoredVector::make(std::vector<double>{0.1, 1e300, -1e300, 1e-50}, VectorPrecision::Float32);
  EXPECT_EQ(f32.precision(), VectorPrecision::Float32);
  const auto back = f32.to_f64();
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[0], 0.10000000149011612);
  EXPECT_EQ(back[1], std::numeric_limits<double>::infinity());
  EXPECT_EQ(back[2], -std::numeric_limits<double>::infinity());
  EXPECT_EQ(back[3], 0.0);
  const auto f64 = StoredVector::make(std::vector<double>{0.1}, VectorPrecision::Float64);
  EXPECT_EQ(f64.precision(), VectorPrecision::Float64);
  EXPECT_EQ(f64.to_f64(), std::vector<double>{0.1});
  EXPECT_EQ(f64.size(), 1u);
}

// The batch kernels score up to sixteen rows side by side; every score must equal the
// one-at-a-time arithmetic to the bit, for every length (blocks of four plus a tail) and every
// number of rows (partly filled groups). Both the kernel this CPU runs and the portable build of
// the same kernel (this file's own copy, for CPUs without AVX2) are checked.
TEST(BatchScoring, MatchesElementOrderArithmeticBitForBit) {
  std::mt19937_64 rng(42);
  for (const auto precision : {VectorPrecision::Float64, VectorPrecision::Float32}) {
    const bool f32 = precision == VectorPrecision::Float32;
    for (const std::size_t n : {0u, 1u, 3u, 4u, 7u, 16u, 37u, 128u}) {
      VectorArena arena(precision);
      std::vector<std::vector<double>> rows;
      for (std::uint32_t slot = 0; slot < 41; ++slot) {
        rows.push_back(testing::random_vector(rng, n));
        arena.put(slot, rows.back());
      }
      // Rewriting a slot in place must refresh its norm.
      rows[5] = testing::random_vector(rng, n);
      arena.put(5, rows[5]);
      const std::vector<double> q = testing::random_vector(rng, n);
      for (const auto metric : {DistanceMetric::Cosine, DistanceMetric::Euclidean}) {
        const PreparedQuery prepared(q, metric);
        for (std::size_t count = 1; count <= rows.size(); count += 3) {
          std::vector<std::uint32_t> slots;
          for (std::size_t k = 0; k < count; ++k) slots.push_back(static_cast<std::uint32_t>((k * 7) % rows.size()));
          std::vector<double> out(count), portable(count);
          score_slots(prepared, arena, slots, out.data());
          if (f32) {
            score_all<PortableLoad, float>(prepared, arena, slots, portable.data());
          } else {
            score_all<PortableLoad, double>(prepared, arena, slots, portable.data());
          }
          for (std::size_t k = 0; k < count; ++k) {
            const double expected =
                ref_similarity(q, testing::widen(rows[slots[k]], f32), metric == DistanceMetric::Euclidean);
            ASSERT_EQ(out[k], expected) << "n=" << n << " count=" << count << " k=" << k;
            ASSERT_EQ(portable[k], expected) << "n=" << n << " count=" << count << " k=" << k;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick
