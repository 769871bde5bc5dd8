#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>

#include "reference.hpp"
#include "vector/exact_index.hpp"

namespace tarnwick {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using Vec = std::vector<double>;

std::vector<std::string> ids_of(const std::vector<ScoredId>& rows) {
  std::vector<std::string> ids;
  for (const auto& r : rows) ids.push_back(r.id);
  return ids;
}

std::vector<std::string> entry_ids(const ExactIndex& index) {
  std::vector<std::string> ids;
  for (const auto& [id, values] : index.entries()) ids.push_back(id);
  return ids;
}

TEST(ExactIndex, KeepsInsertionOrderThroughReplaceAndRemove) {
  ExactIndex index(DistanceMetric::Cosine, VectorPrecision::Float64);
  ASSERT_TRUE(index.add("a", Vec{1, 0}));
  ASSERT_TRUE(index.add("b", Vec{0, 1}));
  ASSERT_TRUE(index.add("a", Vec{2, 2}));
  EXPECT_EQ(entry_ids(index), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(index.get("a"), (Vec{2, 2}));
  ASSERT_TRUE(index.add("c", Vec{3}));
  index.remove("a");
  index.remove("missing");
  EXPECT_EQ(entry_ids(index), (std::vector<std::string>{"b", "c"}));
  ASSERT_TRUE(index.add("a", Vec{5, 5, 5}));
  EXPECT_EQ(entry_ids(index), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(index.entries()[2].second, (Vec{5, 5, 5}));
  EXPECT_EQ(index.entries()[1].second, (Vec{3}));
  EXPECT_EQ(index.len(), 3u);
  EXPECT_TRUE(index.has("a"));
  EXPECT_FALSE(index.get("missing").has_value());

  index.clear();
  EXPECT_EQ(index.len(), 0u);
  EXPECT_FALSE(index.has("b"));
  EXPECT_EQ(index.metric(), DistanceMetric::Cosine);
  ASSERT_TRUE(index.add("z", Vec{1}));
  EXPECT_EQ(entry_ids(index), (std::vector<std::string>{"z"}));
}

TEST(ExactIndex, RejectsBadInputWithoutChange) {
  ExactIndex index(DistanceMetric::Euclidean, VectorPrecision::Float64);
  ASSERT_TRUE(index.add("a", Vec{1, 2}));
  EXPECT_EQ(index.add("", Vec{1}).error().text(), "invalid_argument: vector id must not be empty");
  EXPECT_EQ(index.add("", Vec{kNaN}).error().text(), "invalid_argument: vector id must not be empty");
  EXPECT_EQ(index.add("a", Vec{1, kInf}).error().text(), "invalid_argument: vector must contain finite values");
  EXPECT_EQ(index.get("a"), (Vec{1, 2}));
  EXPECT_EQ(index.query(Vec{kInf}, 0, 0.0).error().text(),
            "invalid_argument: query vector must contain finite values");
  ExactIndex empty(DistanceMetric::Cosine, VectorPrecision::Float64);
  EXPECT_FALSE(empty.query(Vec{kNaN}, 5, 0.0).has_value());
  EXPECT_TRUE(empty.query(Vec{1}, 5, 0.0)->empty());
}

TEST(ExactIndex, EqualScoresFollowTheHeapOrder) {
  ExactIndex index(DistanceMetric::Cosine, VectorPrecision::Float64);
  for (const char* id : {"a", "b", "c"}) ASSERT_TRUE(index.add(id, Vec{1, 2}));
  EXPECT_EQ(ids_of(*index.query(Vec{1, 2}, 2, 0.0)), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(ids_of(*index.query(Vec{1, 2}, 3, 0.0)), (std::vector<std::string>{"c", "a", "b"}));
  // A top_k far beyond the entries neither allocates for it nor changes the result.
  EXPECT_EQ(ids_of(*index.query(Vec{1, 2}, std::numeric_limits<std::uint64_t>::max(), 0.0)),
            (std::vector<std::string>{"c", "a", "b"}));
  // An equal score never displaces a kept entry, and a lower one is turned away too.
  ASSERT_TRUE(index.add("d", Vec{1, 2}));
  ASSERT_TRUE(index.add("e", Vec{3, 1}));
  const auto rows = *index.query(Vec{1, 2}, 2, -1.0);
  EXPECT_EQ(ids_of(rows), (std::vector<std::string>{"b", "a"}));
}

TEST(ExactIndex, ThresholdAndScores) {
  ExactIndex index(DistanceMetric::Cosine, VectorPrecision::Float64);
  ASSERT_TRUE(index.add("same", Vec{1, 1}));
  ASSERT_TRUE(index.add("opposite", Vec{-1, -1}));
  ASSERT_TRUE(index.add("orthogonal", Vec{1, -1}));
  const auto rows = *index.query(Vec{1, 1}, 10, 0.0);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (ScoredId{"same", 0.9999999999999998}));
  EXPECT_EQ(rows[1], (ScoredId{"orthogonal", 0.0}));
  // A NaN threshold skips nothing.
  EXPECT_EQ(index.query(Vec{1, 1}, 10, kNaN)->size(), 3u);
  EXPECT_EQ(index.query(Vec{1, 1}, 10, 2.0)->size(), 0u);
}

TEST(ExactIndex, LengthDifferencesFailTheQuery) {
  ExactIndex index(DistanceMetric::Cosine, VectorPrecision::Float64);
  ASSERT_TRUE(index.add("a", Vec{1, 2}));
  ASSERT_TRUE(index.add("b", Vec{1, 2, 3}));
  ASSERT_TRUE(index.add("c", Vec{1}));
  EXPECT_EQ(index.query(Vec{1, 2}, 1, 0.0).error().text(), "dimension_mismatch: expected 2 dimensions, got 3");
  EXPECT_EQ(index.query(Vec{1, 2, 3}, 1, 0.0).error().text(), "dimension_mismatch: expected 3 dimensions, got 2");
  EXPECT_TRUE(index.query(Vec{1, 2}, 0, 0.0)->empty());
  index.remove("b");
  index.remove("c");
  EXPECT_EQ(index.query(Vec{1, 2}, 1, 0.0)->size(), 1u);

  ExactIndex empties(DistanceMetric::Euclidean, VectorPrecision::Float32);
  ASSERT_TRUE(empties.add("x", Vec{}));
  EXPECT_EQ(*empties.query(Vec{}, 1, 0.0), (std::vector<ScoredId>{{"x", 1.0}}));
}

TEST(ExactIndex, PrecisionChangeRoundsOnce) {
  ExactIndex index(DistanceMetric::Cosine, VectorPrecision::Float64);
  ASSERT_TRUE(index.add("a", Vec{0.1, 0.2}));
  ASSERT_TRUE(index.add("b", Vec{0.3}));
  index.set_precision(VectorPrecision::Float64);
  EXPECT_EQ(index.get("a"), (Vec{0.1, 0.2}));
  index.set_precision(VectorPrecision::Float32);
  index.set_precision(VectorPrecision::Float64);
  EXPECT_EQ(index.precision(), VectorPrecision::Float64);
  EXPECT_EQ((*index.get("a"))[0], 0.10000000149011612);
  EXPECT_EQ(entry_ids(index), (std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(index.add("c", Vec{0.1}));
  EXPECT_EQ(index.get("c"), (Vec{0.1}));
}

// Equal vectors make ties, which the entry order breaks, and later additions reuse the freed
// slots in the order they were freed: both must come out as removing one id at a time leaves them.
TEST(ExactIndex, RemovingManyIsRemovingEachInTurn) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 20; ++round) {
    ExactIndex one_by_one(DistanceMetric::Cosine, VectorPrecision::Float32);
    ExactIndex at_once(DistanceMetric::Cosine, VectorPrecision::Float32);
    const auto add_both = [&](const std::string& id) {
      const Vec v{static_cast<double>(rng() % 3), 1.0};
      ASSERT_TRUE(one_by_one.add(id, v));
      ASSERT_TRUE(at_once.add(id, v));
    };
    for (int i = 0; i < 200; ++i) add_both("v" + std::to_string(i));
    std::vector<std::string> doomed;  // repeats and ids never added included
    for (std::size_t n = rng() % 120; n > 0; --n) doomed.push_back("v" + std::to_string(rng() % 230));
    for (const std::string& id : doomed) one_by_one.remove(id);
    at_once.remove_many(doomed);
    for (int i = 0; i < 40; ++i) add_both("w" + std::to_string(i));

    ASSERT_EQ(one_by_one.entries(), at_once.entries());
    ASSERT_EQ(one_by_one.len(), at_once.len());
    ASSERT_EQ(*one_by_one.query(Vec{1.0, 1.0}, 50, 0.0), *at_once.query(Vec{1.0, 1.0}, 50, 0.0));
  }
}

// Random data has no equal scores, so the expected rows are simply the best top_k by score.
TEST(ExactIndex, MatchesReferenceRankingBitForBit) {
  std::mt19937_64 rng(7);
  for (const auto precision : {VectorPrecision::Float64, VectorPrecision::Float32}) {
    for (const auto metric : {DistanceMetric::Cosine, DistanceMetric::Euclidean}) {
      ExactIndex index(metric, precision);
      std::vector<std::pair<std::string, Vec>> kept;
      for (int i = 0; i < 600; ++i) {
        const std::string id = "v" + std::to_string(i);
        Vec v = testing::random_vector(rng, 21);
        ASSERT_TRUE(index.add(id, v));
        kept.emplace_back(id, testing::widen(v, precision == VectorPrecision::Float32));
        if (i % 5 == 4) {  // remove an earlier entry now and then
          const std::size_t victim = (i * 31) % kept.size();
          index.remove(kept[victim].first);
          kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(victim));
        }
      }
      for (int round = 0; round < 5; ++round) {
        const Vec q = testing::random_vector(rng, 21);
        std::vector<ScoredId> expected;
        for (const auto& [id, v] : kept) {
          expected.push_back({id, testing::ref_similarity(q, v, metric == DistanceMetric::Euclidean)});
        }
        std::stable_sort(expected.begin(), expected.end(), [](const auto& x, const auto& y) { return x.score > y.score; });
        const double threshold = round == 0 ? -kInf : expected[40].score;
        expected.resize(17);
        const auto got = index.query(q, 17, threshold);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, expected);
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick
