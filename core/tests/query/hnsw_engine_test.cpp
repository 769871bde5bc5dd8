#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "graph_fixture.hpp"
#include "hnsw/hnsw_index.hpp"

namespace tarnwick::query {
namespace {

using testing::Ids;
using testing::make_node;
using testing::run;

// A small index holds every vector, so its search is exhaustive and its hits are known.
HnswIndex small_index() {
  auto index = HnswIndex::new_with_precision(HnswConfig{}, 7, VectorPrecision::Float64);
  EXPECT_TRUE(index.has_value());
  EXPECT_TRUE(index->add("same", std::vector<double>{1, 0}).has_value());
  EXPECT_TRUE(index->add("diag", std::vector<double>{1, 1}).has_value());
  EXPECT_TRUE(index->add("orth", std::vector<double>{0, 1}).has_value());
  EXPECT_TRUE(index->add("other", std::vector<double>{1, 0.1}).has_value());
  return std::move(*index);
}

TEST(HnswEngine, RanksCandidatesByTheIndexHits) {
  const HnswIndex index = small_index();
  // The nodes' own vectors are not read: "diag" has none here, "ghost" is unknown to the index.
  std::vector<Node> nodes = {make_node("orth", "t"), make_node("diag", "t"), make_node("ghost", "t"),
                             make_node("same", "t"), make_node("diag", "t")};
  const std::string plan = R"({"similarity": {"vector": [1, 0], "threshold": 0, "engine": "hnsw"}})";
  auto r = run(nodes, {}, plan, &index);
  ASSERT_TRUE(r.has_value()) << r.error().text();
  // Best first; both occurrences of "diag" stay, in candidate order; "other" is no candidate.
  EXPECT_EQ(*r, (Ids{"same", "diag", "diag", "orth"}));
  auto above = run(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0.5, "engine": "hnsw"}})", &index);
  ASSERT_TRUE(above.has_value());
  EXPECT_EQ(*above, (Ids{"same", "diag", "diag"}));
}

TEST(HnswEngine, TopKCutsTheIndexSearchNotTheCandidates) {
  const HnswIndex index = small_index();
  std::vector<Node> nodes = {make_node("diag", "t"), make_node("orth", "t")};
  // The two best hits overall are "same" and "other", neither a candidate: nothing is left.
  auto r = run(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0, "topK": 2, "engine": "hnsw"}})",
               &index);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, Ids{});
  // Without topK the search asks for as many hits as there are candidates: two again.
  auto k = run(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0, "engine": "hnsw"}})", &index);
  ASSERT_TRUE(k.has_value());
  EXPECT_EQ(*k, Ids{});
  auto zero = run(nodes, {}, R"({"similarity": {"vector": [0, 1], "threshold": 0, "topK": 0, "engine": "hnsw"}})",
                  &index);
  ASSERT_TRUE(zero.has_value());
  EXPECT_EQ(*zero, Ids{});
}

TEST(HnswEngine, IndexErrorsPassThrough) {
  const HnswIndex index = small_index();
  QueryPlan plan;
  plan.similarity = Similarity{{std::nan(""), 0.0}, 0.0, std::nullopt, SimilarityEngine::Hnsw};
  GraphSnapshot snapshot({make_node("same", "t")}, {}, Projection::of(plan));
  auto r = execute(snapshot, plan, &index);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().text(), "invalid_argument: query vector must contain finite values");
  plan.similarity = Similarity{{1.0, 0.0}, std::numeric_limits<double>::infinity(), std::nullopt, SimilarityEngine::Hnsw};
  auto t = execute(snapshot, plan, &index);
  ASSERT_FALSE(t.has_value());
  EXPECT_EQ(t.error().text(), "invalid_argument: threshold must be finite");
}

}  // namespace
}  // namespace tarnwick::query
