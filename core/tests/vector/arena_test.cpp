#include <gtest/gtest.h>

#include "reference.hpp"
#include "vector/batch_scoring.hpp"
#include "vector/vector_arena.hpp"

namespace tarnwick {
namespace {

// Rows that change length move to the end of the array and, once enough space is dead, the
// array is compacted; through all of it every slot must read back and score as last written.
TEST(VectorArena, RowsSurviveMovesAndCompaction) {
  std::mt19937_64 rng(5);
  for (const auto precision : {VectorPrecision::Float64, VectorPrecision::Float32}) {
    const bool f32 = precision == VectorPrecision::Float32;
    VectorArena arena(precision);
    std::vector<std::vector<double>> rows;
    for (std::uint32_t slot = 0; slot < 300; ++slot) {
      rows.push_back(testing::random_vector(rng, 8));
      arena.put(slot, rows.back());
    }
    EXPECT_TRUE(arena.all_of_length(8));
    for (int round = 0; round < 6; ++round) {
      for (std::uint32_t slot = 0; slot < 300; slot += 2) {
        rows[slot] = testing::random_vector(rng, round % 2 == 0 ? 20 : 8);
        arena.put(slot, rows[slot]);
      }
      EXPECT_EQ(arena.all_of_length(8), round % 2 == 1);
      const std::vector<double> q8 = testing::random_vector(rng, 8);
      std::vector<std::uint32_t> eights;
      for (std::uint32_t slot = 0; slot < 300; ++slot) {
        ASSERT_EQ(arena.to_f64(slot), testing::widen(rows[slot], f32));
        if (rows[slot].size() == 8) eights.push_back(slot);
      }
      std::vector<double> scores(eights.size());
      score_slots(PreparedQuery(q8, DistanceMetric::Cosine), arena, eights, scores.data());
      for (std::size_t k = 0; k < eights.size(); ++k) {
        ASSERT_EQ(scores[k], testing::ref_cosine(q8, testing::widen(rows[eights[k]], f32)));
      }
    }
    arena.set_precision(f32 ? VectorPrecision::Float64 : VectorPrecision::Float32);
    for (std::uint32_t slot = 0; slot < 300; ++slot) {
      ASSERT_EQ(arena.to_f64(slot), testing::widen(testing::widen(rows[slot], f32), !f32));
    }
    arena.clear();
    EXPECT_EQ(arena.slot_count(), 0u);
  }
}

}  // namespace
}  // namespace tarnwick
