#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <iterator>
#include <limits>

#include "reference.hpp"
#include "vector/batch_kernel.hpp"
#include "vector/batch_scoring.hpp"
#include "vector/batch_scoring_isa.hpp"
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

// Held exactly and settled later, a vector is what `make` gives at the settled precision, to the
// bit: values that are float32 values and values that are not, signed zeros, subnormals at
// either precision, values beyond float32's range, infinities.
TEST(StoredVector, HeldExactlyThenSettledIsWhatMakeGives) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::vector<std::vector<double>> rows = {
      {},        {0.5, -0.0, 2, 16777216}, {0.1},          {1e300, -1e300}, {1e-50, 1e-40},
      {kInf, -kInf, 0.0}, {3.4028235677973366e38, 3.4028234663852886e38}, {16777217, 0.5}};
  const auto bits = [](const StoredVector& v) {
    std::vector<std::uint64_t> out;
    for (double d : v.to_f64()) out.push_back(std::bit_cast<std::uint64_t>(d));
    return out;
  };
  for (const auto& values : rows) {
    for (const VectorPrecision p : {VectorPrecision::Float32, VectorPrecision::Float64}) {
      const StoredVector want = StoredVector::make(values, p);
      const StoredVector got = StoredVector::exact(std::vector<double>(values)).at(p);
      EXPECT_EQ(got.precision(), p);
      EXPECT_EQ(bits(got), bits(want)) << values.size() << " values at " << static_cast<int>(p);
    }
  }
}

struct Kernel {
  const char* name;
  ScoringKernels kernels;
};

// Random rows, and rows where the arithmetic is delicate: all zeros, signed zeros, subnormals at
// either precision, values that overflow float32 or the sums, infinities and NaN.
std::vector<double> test_row(std::mt19937_64& rng, std::size_t n, std::size_t j) {
  constexpr double kSpecial[] = {0.0, -0.0, 1e-310, -1e-40, 1e300, std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()};
  std::vector<double> row = testing::random_vector(rng, n);
  if (j % 7 == 1) return std::vector<double>(n, 0.0);
  if (j % 5 == 2 && n > 0) {
    for (std::size_t s = 0; s < 3; ++s) row[rng() % n] = kSpecial[rng() % std::size(kSpecial)];
  }
  return row;
}

bool same_score(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

// Each kernel scores up to four groups of one row per lane side by side; every score must equal
// the one-at-a-time arithmetic to the bit (a NaN's payload aside), for every length (whole blocks
// of lanes plus a tail) and every number of rows (partly filled groups, a last partial chunk).
void expect_matches_element_order_arithmetic(const Kernel& kernel) {
  std::mt19937_64 rng(42);
  for (const auto precision : {VectorPrecision::Float64, VectorPrecision::Float32}) {
    const bool f32 = precision == VectorPrecision::Float32;
    for (const std::size_t n : {0u, 1u, 3u, 4u, 7u, 8u, 9u, 16u, 37u, 128u}) {
      VectorArena arena(precision);
      std::vector<std::vector<double>> rows;
      for (std::uint32_t slot = 0; slot < 75; ++slot) {
        rows.push_back(test_row(rng, n, slot));
        arena.put(slot, rows.back());
      }
      // Rewriting a slot in place must refresh its norm.
      rows[5] = testing::random_vector(rng, n);
      arena.put(5, rows[5]);
      for (std::size_t query_kind = 0; query_kind < 3; ++query_kind) {
        const std::vector<double> q = test_row(rng, n, query_kind);
        for (const auto metric : {DistanceMetric::Cosine, DistanceMetric::Euclidean}) {
          const PreparedQuery prepared(q, metric);
          for (std::size_t count = 1; count <= rows.size(); count += 4) {
            std::vector<std::uint32_t> slots;
            for (std::size_t k = 0; k < count; ++k) slots.push_back(static_cast<std::uint32_t>((k * 7) % rows.size()));
            std::vector<double> out(count);
            (f32 ? kernel.kernels.f32 : kernel.kernels.f64)(prepared, arena, slots, out.data());
            for (std::size_t k = 0; k < count; ++k) {
              const double expected =
                  ref_similarity(q, testing::widen(rows[slots[k]], f32), metric == DistanceMetric::Euclidean);
              ASSERT_TRUE(same_score(out[k], expected)) << kernel.name << " n=" << n << " count=" << count
                                                        << " k=" << k << ": " << out[k] << " != " << expected;
            }
          }
        }
      }
    }
  }
}

// The kernel this CPU runs, the AVX2 one where the CPU has it, and the portable builds of both
// widths: the eight-lane one is the AVX-512 kernel's source, here built without AVX-512.
TEST(BatchScoring, EveryKernelMatchesElementOrderArithmeticBitForBit) {
  std::vector<Kernel> kernels = {
      {"dispatched", {score_slots, score_slots}},
      {"portable, four lanes", {score_all<PortableLoad<4>, float>, score_all<PortableLoad<4>, double>}},
      {"portable, eight lanes", {score_all<PortableLoad<8>, float>, score_all<PortableLoad<8>, double>}}};
  if (__builtin_cpu_supports("avx2")) kernels.push_back({"avx2", avx2_kernels()});
  for (const Kernel& kernel : kernels) expect_matches_element_order_arithmetic(kernel);
}

TEST(BatchScoring, Avx512KernelMatchesElementOrderArithmeticBitForBit) {
  if (!__builtin_cpu_supports("avx512f")) GTEST_SKIP() << "this CPU (or its OS) lacks AVX-512F";
  expect_matches_element_order_arithmetic({"avx512", avx512_kernels()});
}

}  // namespace
}  // namespace tarnwick
