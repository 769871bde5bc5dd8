#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hnsw/hnsw_index.hpp"
#include "hnsw/level_generator.hpp"
#include "reference_hnsw.hpp"
#include "vector/exact_index.hpp"

namespace tarnwick {
namespace {

using Vec = std::vector<double>;
using Ids = std::vector<std::string>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// With m this large every drawn level is 0 in practice: a flat graph that is easy to work by hand.
constexpr std::uint64_t kFlat = 1'000'000'000;

HnswIndex make(HnswConfig config, std::uint32_t seed = 7, VectorPrecision p = VectorPrecision::Float64) {
  auto index = HnswIndex::new_with_precision(config, seed, p);
  EXPECT_TRUE(index.has_value());
  return std::move(*index);
}

Ids hit_ids(const Result<std::vector<ScoredId>>& rows) {
  Ids ids;
  for (const auto& r : *rows) ids.push_back(r.id);
  return ids;
}

TEST(HnswConfig, FirstZeroFieldIsReported) {
  const auto error = [](HnswConfig c) { return HnswIndex::new_with_precision(c, 0, VectorPrecision::Float64).error().text(); };
  EXPECT_EQ(error({.m = 16, .mmax0 = 0, .ef_construction = 1, .ef_search = 0}),
            "invalid_argument: HnswConfig.mmax0 must be at least 1");
  EXPECT_EQ(error({.m = 0, .mmax0 = 0}), "invalid_argument: HnswConfig.m must be at least 1");
  EXPECT_EQ(error({.ef_construction = 0}), "invalid_argument: HnswConfig.ef_construction must be at least 1");
  EXPECT_EQ(error({.ef_search = 0}), "invalid_argument: HnswConfig.ef_search must be at least 1");
  EXPECT_EQ(hnsw_level_multiplier(1), hnsw_level_multiplier(2));
  EXPECT_EQ(hnsw_level_multiplier(2), 1.0 / std::log(2.0));
  EXPECT_EQ(hnsw_level_multiplier(16), 1.0 / std::log(16.0));
}

TEST(LevelDraw, MatchesAnIndependentMulberry32) {
  std::uint32_t state = 7;
  EXPECT_EQ(mulberry32_next(state), 0.011704753153026104);
  for (const std::uint32_t seed : {7u, 0u, 12345u, 0xFFFFFFFFu, 2463401483u}) {
    std::uint32_t ours = seed;
    std::uint64_t theirs = seed;
    for (int i = 0; i < 2000; ++i) {
      const double r = mulberry32_next(ours);
      ASSERT_EQ(r, testing::ReferenceHnsw::draw(theirs));
      ASSERT_EQ(ours, theirs);
    }
  }
  // Seed 7 at m = 16 draws 1, 1, then six 0s, as nodes of a fresh index show.
  HnswIndex index = make({});
  const std::uint32_t expected[] = {1, 1, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(index.add("n" + std::to_string(i), Vec{double(i)}));
    EXPECT_EQ(index.level_of("n" + std::to_string(i)), expected[i]);
  }
}

TEST(LevelDraw, ZeroDrawsTheLevelOfTheSmallestDraw) {
  const double m16 = hnsw_level_multiplier(16);
  EXPECT_EQ(level_for_uniform(0x1p-32, m16), 8u);
  EXPECT_EQ(level_for_uniform(0.0, m16), 8u);
  EXPECT_EQ(level_for_uniform(0.0, hnsw_level_multiplier(2)), 32u);
  EXPECT_EQ(level_for_uniform(0.5, m16), 0u);
  // This seed makes the very first draw exactly 0; the node must still anchor a working graph.
  HnswIndex index = make({.distance = DistanceMetric::Euclidean}, 2463401483u);
  ASSERT_TRUE(index.add("a", Vec{0.0}));
  EXPECT_EQ(index.level_of("a"), 8u);
  EXPECT_EQ(index.max_level(), 8);
  ASSERT_TRUE(index.add("b", Vec{1.0}));
  EXPECT_EQ(index.get_neighbors("a", 0), Ids{"b"});
  EXPECT_EQ(hit_ids(index.query_with_ef_search(Vec{1.0}, 5, 10, 0.0)), (Ids{"b", "a"}));
}

// Seed 7: a and b at level 1, c and d at level 0. Euclidean on one dimension, worked by hand:
// distances are 1 - 1/(|x - y| + 1). mmax0 = 2 makes layer 0 prune.
TEST(HnswIndex, SmallGraphWorkedByHand) {
  HnswIndex index = make({.mmax0 = 2, .distance = DistanceMetric::Euclidean});
  ASSERT_TRUE(index.add("a", Vec{0}));
  EXPECT_EQ(index.entry_point(), "a");
  EXPECT_EQ(index.max_level(), 1);
  ASSERT_TRUE(index.add("b", Vec{1}));
  EXPECT_EQ(index.get_neighbors("a", 1), Ids{"b"});
  EXPECT_EQ(index.get_neighbors("b", 1), Ids{"a"});
  EXPECT_EQ(index.get_neighbors("b", 0), Ids{"a"});
  ASSERT_TRUE(index.add("c", Vec{3}));
  // Descent on layer 1 moves from a to b (2/3 < 3/4); layer 0 finds b then a.
  EXPECT_EQ(index.get_neighbors("c", 0), (Ids{"b", "a"}));
  EXPECT_EQ(index.get_neighbors("b", 0), (Ids{"a", "c"}));
  EXPECT_EQ(index.get_neighbors("a", 0), (Ids{"b", "c"}));
  EXPECT_EQ(index.get_neighbors("c", 1), Ids{});
  ASSERT_TRUE(index.add("d", Vec{6}));
  // d links to c (3/4) and b (5/6). c's list [b, a, d] is pruned from c: b 2/3, then a and d
  // both 3/4, tied and ordered by id, so d is dropped. b's list [a, c, d] keeps a and c.
  EXPECT_EQ(index.get_neighbors("d", 0), (Ids{"c", "b"}));
  EXPECT_EQ(index.get_neighbors("c", 0), (Ids{"b", "a"}));
  EXPECT_EQ(index.get_neighbors("b", 0), (Ids{"a", "c"}));
  EXPECT_EQ(index.entry_point(), "a");
  // Nothing links to d any more: the query cannot reach it. Scores are 1 - distance.
  const auto rows = index.query_with_ef_search(Vec{6}, 10, 10, 0.0);
  ASSERT_TRUE(rows.has_value());
  EXPECT_EQ(*rows, (std::vector<ScoredId>{{"c", 1.0 - (1.0 - 1.0 / 4.0)},
                                          {"b", 1.0 - (1.0 - 1.0 / 6.0)},
                                          {"a", 1.0 - (1.0 - 1.0 / 7.0)}}));
  // From a, b and c tie at 1/2 and fill the two places. Evicting a leaves the result heap as
  // [c, b] (the larger id rises on a tie), and the final sort keeps that order for equal distances.
  const auto layer0 = index.search_layer(Vec{2}, "a", 2, 0);
  EXPECT_EQ(layer0, (std::vector<Candidate>{{"c", 1.0 - 1.0 / 2.0}, {"b", 1.0 - 1.0 / 2.0}}));
}

TEST(HnswIndex, QueryRulesAndScores) {
  HnswIndex empty = make({});
  EXPECT_EQ(empty.query_with_ef_search(Vec{1}, 5, 5, kNaN).error().text(), "invalid_argument: threshold must be finite");
  EXPECT_EQ(empty.query_with_ef_search(Vec{kInf}, 0, 5, kNaN).error().text(),
            "invalid_argument: query vector must contain finite values");
  EXPECT_TRUE(empty.query_with_ef_search(Vec{1}, 5, 5, 0.0)->empty());

  HnswIndex index = make({.m = kFlat, .distance = DistanceMetric::Euclidean});
  ASSERT_TRUE(index.add("zero", Vec{0}));
  ASSERT_TRUE(index.add("nine", Vec{9}));
  EXPECT_TRUE(index.query_with_ef_search(Vec{0}, 0, 5, 0.0)->empty());
  // Similarity 1/(9 + 1) = 0.1 comes back through the distance as 1 - 0.9.
  const auto rows = index.query_with_ef_search(Vec{0}, 5, 5, 0.0);
  EXPECT_EQ(*rows, (std::vector<ScoredId>{{"zero", 1.0}, {"nine", 0.09999999999999998}}));
  EXPECT_EQ(index.query_with_ef_search(Vec{0}, 5, 1, 0.0)->size(), 1u);
  EXPECT_EQ(index.query_with_ef_search(Vec{0}, 5, 5, 0.5)->size(), 1u);
  // Another length scores 0 for every node, kept by the inclusive threshold.
  const auto other = index.query_with_ef_search(Vec{0, 0}, 5, 5, 0.0);
  ASSERT_EQ(other->size(), 2u);
  EXPECT_EQ((*other)[0].score, 0.0);
  EXPECT_EQ((*other)[1].score, 0.0);

  HnswIndex cosine = make({.m = kFlat});
  ASSERT_TRUE(cosine.add("up", Vec{1, 1}));
  ASSERT_TRUE(cosine.add("down", Vec{-1, -1}));
  ASSERT_TRUE(cosine.add("short", Vec{1}));
  EXPECT_EQ(hit_ids(cosine.query_with_ef_search(Vec{1, 1}, 5, 5, 0.0)), (Ids{"up", "short"}));
  EXPECT_EQ(cosine.add("", Vec{1}).error().text(), "invalid_argument: vector id must not be empty");
  EXPECT_EQ(cosine.add("x", Vec{kNaN}).error().text(), "invalid_argument: vector must contain finite values");
  EXPECT_EQ(cosine.len(), 3u);
}

TEST(HnswIndex, RemovalReelectsTheEntryPoint) {
  HnswIndex index = make({.m = kFlat});
  ASSERT_TRUE(index.add("a", Vec{1, 0}));
  ASSERT_TRUE(index.add("b", Vec{0, 1}));
  ASSERT_EQ(index.get_neighbors("a", 0), Ids{"b"});
  index.remove("a");
  index.remove("a");
  EXPECT_EQ(index.entry_point(), "b");
  EXPECT_EQ(index.max_level(), 0);
  EXPECT_EQ(index.get_neighbors("b", 0), Ids{});
  EXPECT_FALSE(index.has("a"));
  EXPECT_FALSE(index.get("a").has_value());
  ASSERT_TRUE(index.add("c", Vec{1, 1}));
  EXPECT_EQ(index.get_neighbors("c", 0), Ids{"b"});
  EXPECT_EQ(hit_ids(index.query_with_ef_search(Vec{0, 1}, 5, 5, -1.0)), (Ids{"b", "c"}));

  index.remove("b");
  index.remove("c");
  EXPECT_EQ(index.len(), 0u);
  EXPECT_EQ(index.max_level(), -1);
  EXPECT_FALSE(index.entry_point().has_value());
  ASSERT_TRUE(index.add("d", Vec{1, 2}));
  EXPECT_EQ(index.entry_point(), "d");
  EXPECT_EQ(index.nodes().size(), 1u);
  index.clear();
  EXPECT_EQ(index.len(), 0u);
  EXPECT_EQ(index.max_level(), -1);
  EXPECT_FALSE(index.entry_point().has_value());
  EXPECT_TRUE(index.nodes().empty());
}

// Updating one node of a two-node index empties the other's last list. The top must stay at
// the remaining entry point's level, so that the re-added node links to it again.
TEST(HnswIndex, UpdateInTwoNodeIndexKeepsTheGraphConnected) {
  HnswIndex index = make({.m = kFlat});
  ASSERT_TRUE(index.add("a", Vec{1, 0}));
  ASSERT_TRUE(index.add("b", Vec{0, 1}));
  ASSERT_TRUE(index.add("b", Vec{1, 1}));
  EXPECT_EQ(index.max_level(), 0);
  EXPECT_EQ(index.entry_point(), "a");
  EXPECT_EQ(index.get_neighbors("a", 0), Ids{"b"});
  EXPECT_EQ(index.get_neighbors("b", 0), Ids{"a"});
  EXPECT_EQ(hit_ids(index.query_with_ef_search(Vec{0, 1}, 5, 5, 0.0)), (Ids{"b", "a"}));
}

// A change of precision re-adds every node, drawing a new level for each; keeping the precision
// draws nothing.
TEST(HnswIndex, PrecisionChangeDrawsOneLevelPerNode) {
  std::uint64_t state = 7;
  std::vector<std::uint32_t> levels;  // m = 2: level = floor(-log2(r))
  for (int i = 0; i < 4; ++i) levels.push_back(std::uint32_t(std::floor(-std::log2(testing::ReferenceHnsw::draw(state)))));
  HnswIndex index = make({.m = 2});
  ASSERT_TRUE(index.add("a", Vec{1, 2}));
  EXPECT_EQ(index.level_of("a"), levels[0]);
  ASSERT_TRUE(index.set_precision(VectorPrecision::Float64));
  ASSERT_TRUE(index.add("b", Vec{2, 1}));
  EXPECT_EQ(index.level_of("b"), levels[1]);
  ASSERT_TRUE(index.set_precision(VectorPrecision::Float32));
  EXPECT_EQ(index.level_of("a"), levels[2]);
  EXPECT_EQ(index.level_of("b"), levels[3]);
}

TEST(HnswIndex, PrecisionChangeRebuildsOrFailsWhole) {
  HnswIndex index = make({.m = kFlat});
  ASSERT_TRUE(index.add("a", Vec{0.1, 1}));
  ASSERT_TRUE(index.add("b", Vec{1, 0.1}));
  ASSERT_TRUE(index.set_precision(VectorPrecision::Float64));
  EXPECT_EQ(index.get("a"), (Vec{0.1, 1}));
  ASSERT_TRUE(index.set_precision(VectorPrecision::Float32));
  EXPECT_EQ(index.precision(), VectorPrecision::Float32);
  EXPECT_EQ((*index.get("a"))[0], 0.10000000149011612);
  EXPECT_EQ(index.len(), 2u);
  EXPECT_EQ(index.get_neighbors("a", 0), Ids{"b"});

  // A value beyond the float32 range would turn into an infinity: nothing changes.
  HnswIndex wide = make({.m = kFlat});
  ASSERT_TRUE(wide.add("a", Vec{1, 2}));
  ASSERT_TRUE(wide.add("huge", Vec{1e300, 1}));
  EXPECT_EQ(wide.set_precision(VectorPrecision::Float32).error().text(),
            "invalid_argument: vector must contain finite values");
  EXPECT_EQ(wide.precision(), VectorPrecision::Float64);
  EXPECT_EQ(wide.get("huge"), (Vec{1e300, 1}));
  EXPECT_EQ(wide.len(), 2u);
  EXPECT_EQ(wide.get_neighbors("a", 0), Ids{"huge"});

  // A float32 index that already holds an infinity cannot re-add it either: nothing changes.
  HnswIndex narrow = make({.m = kFlat}, 7, VectorPrecision::Float32);
  ASSERT_TRUE(narrow.add("huge", Vec{1e300}));
  ASSERT_TRUE(narrow.add("b", Vec{2}));
  EXPECT_FALSE(narrow.set_precision(VectorPrecision::Float64).has_value());
  EXPECT_EQ(narrow.len(), 2u);
  EXPECT_EQ(narrow.get("huge"), Vec{kInf});
  EXPECT_EQ(narrow.precision(), VectorPrecision::Float32);
}

void check_queries(const HnswIndex& index, testing::ReferenceHnsw& ref, std::mt19937_64& rng, std::uint64_t ef,
                   int rounds) {
  for (int round = 0; round < rounds; ++round) {
    const Vec q = testing::random_vector(rng, 4);
    const auto got = index.query_with_ef_search(q, 6, ef, -1.0);
    ASSERT_TRUE(got.has_value());
    const auto want = ref.query(q, 6, ef, -1.0);
    ASSERT_EQ(got->size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
      EXPECT_EQ((*got)[k].id, want[k].first);
      EXPECT_EQ((*got)[k].score, want[k].second);
    }
  }
}

// Random additions, updates, removals (some of other lengths, some exact duplicates, whose ties
// the id bytes break, high bytes included), precision changes and queries, checked step by step
// against the literal reference: the same graph, the same entry point, the same hits with the
// same scores.
void check_against_reference(HnswConfig config, std::uint32_t seed, bool float32, int id_pool, int steps) {
  const bool euclidean = config.distance == DistanceMetric::Euclidean;
  HnswIndex index = make(config, seed, float32 ? VectorPrecision::Float32 : VectorPrecision::Float64);
  testing::ReferenceHnsw ref(config.m, config.mmax0, config.ef_construction, euclidean, seed, float32);
  std::mt19937_64 rng(seed);
  std::vector<Vec> pool;
  for (int step = 0; step < steps; ++step) {
    const auto n = rng() % static_cast<std::uint64_t>(id_pool);
    const std::string id = (n % 3 == 0 ? "\xe9" : "id") + std::to_string(n);
    const auto op = rng() % 10;
    if (op < 2) {
      index.remove(id);
      ref.remove(id);
    } else {
      Vec v = (op == 2 && !pool.empty()) ? pool[rng() % pool.size()] : testing::random_vector(rng, op == 3 ? 3 : 4);
      pool.push_back(v);
      ASSERT_TRUE(index.add(id, v));
      ref.add(id, v);
    }
    if (step % (steps / 3) == steps / 3 - 1) {
      float32 = !float32;
      ASSERT_TRUE(index.set_precision(float32 ? VectorPrecision::Float32 : VectorPrecision::Float64));
      ref.set_precision(float32);
    }
    if (step % 50 == 0) check_queries(index, ref, rng, config.ef_search, 1);
    ASSERT_EQ(index.len(), ref.vectors.size());
    ASSERT_EQ(index.entry_point(), ref.entry) << "step " << step;
    ASSERT_EQ(index.max_level(), ref.max_level) << "step " << step;
  }
  for (const auto& [id, v] : ref.vectors) {
    ASSERT_EQ(index.level_of(id), ref.levels[id]);
    ASSERT_EQ(index.get(id), v);
    for (int lc = 0; lc <= std::max(ref.max_level, 0) + 1; ++lc) {
      ASSERT_EQ(index.get_neighbors(id, lc), ref.neighbours(id, lc)) << id << " layer " << lc;
    }
  }
  check_queries(index, ref, rng, config.ef_search, 20);
}

TEST(HnswIndex, MatchesLiteralReference) {
  for (const auto metric : {DistanceMetric::Cosine, DistanceMetric::Euclidean}) {
    for (const bool float32 : {false, true}) {
      const std::uint32_t seed = metric == DistanceMetric::Euclidean ? 99 : 7;
      // Small lists that prune often, many levels.
      check_against_reference({.m = 3, .mmax0 = 5, .ef_construction = 12, .ef_search = 9, .distance = metric}, seed,
                              float32, 90, 300);
      // Thousands of steps over a larger pool, with queries along the way.
      check_against_reference({.m = 6, .mmax0 = 12, .ef_construction = 20, .ef_search = 16, .distance = metric},
                              seed + 2, float32, 400, 3000);
      // Long lists, so that list storage has to grow.
      check_against_reference({.m = 12, .mmax0 = 24, .ef_construction = 30, .ef_search = 30, .distance = metric},
                              seed + 1, float32, 150, 200);
    }
  }
}

TEST(HnswIndex, SameAdditionsBuildTheSameGraph) {
  HnswIndex one = make({.m = 4, .mmax0 = 8, .ef_construction = 30});
  HnswIndex two = make({.m = 4, .mmax0 = 8, .ef_construction = 30});
  std::mt19937_64 rng(3);
  for (int i = 0; i < 300; ++i) {
    const Vec v = testing::uniform_vector(rng, 8);
    ASSERT_TRUE(one.add("n" + std::to_string(i), v));
    ASSERT_TRUE(two.add("n" + std::to_string(i), v));
  }
  EXPECT_EQ(one.entry_point(), two.entry_point());
  for (int i = 0; i < 300; ++i) {
    const std::string id = "n" + std::to_string(i);
    for (std::uint32_t lc = 0; lc <= 4; ++lc) ASSERT_EQ(one.get_neighbors(id, lc), two.get_neighbors(id, lc));
  }
  const Vec q = testing::uniform_vector(rng, 8);
  EXPECT_EQ(*one.query_with_ef_search(q, 10, 50, -1.0), *two.query_with_ef_search(q, 10, 50, -1.0));
  // Clearing a graph of many nodes over several layers leaves none of them.
  ASSERT_GT(one.max_level(), 0);
  one.clear();
  EXPECT_EQ(one.len(), 0u);
  EXPECT_EQ(one.max_level(), -1);
  EXPECT_FALSE(one.entry_point().has_value());
  EXPECT_TRUE(one.nodes().empty());
}

TEST(HnswIndex, RecallAgainstExactIndexAtDefaults) {
  for (const auto precision : {VectorPrecision::Float64, VectorPrecision::Float32}) {
    HnswIndex hnsw = make({}, 7, precision);
    ExactIndex exact(DistanceMetric::Cosine, precision);
    std::mt19937_64 rng(11);
    for (int i = 0; i < 1000; ++i) {
      const Vec v = testing::uniform_vector(rng, 16);
      ASSERT_TRUE(hnsw.add("n" + std::to_string(i), v));
      ASSERT_TRUE(exact.add("n" + std::to_string(i), v));
    }
    std::size_t found = 0, wanted = 0;
    for (int round = 0; round < 40; ++round) {
      const Vec q = testing::uniform_vector(rng, 16);
      const auto truth = *exact.query(q, 10, -1.0);
      const auto approx = *hnsw.query_with_ef_search(q, 10, hnsw.config().ef_search, -1.0);
      for (const auto& t : truth) {
        ++wanted;
        for (const auto& a : approx) {
          if (a.id == t.id) {
            ++found;
            EXPECT_NEAR(a.score, t.score, 1e-12);
          }
        }
      }
    }
    EXPECT_GE(double(found) / double(wanted), 0.95);
  }
}

}  // namespace
}  // namespace tarnwick
