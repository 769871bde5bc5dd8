#include <gtest/gtest.h>

#include "graph_fixture.hpp"

namespace tarnwick::query {
namespace {

using testing::ids_of;
using testing::Ids;
using testing::make_edge;
using testing::make_node;
using testing::run;

TEST(Execute, SeedsFromTheNodeList) {
  std::vector<Node> nodes = {make_node("a", "p", R"({"x": 2})"), make_node("b", "q"), make_node("a", "p", R"({"x": 1})")};
  EXPECT_EQ(ids_of(nodes, {}, "{}"), (Ids{"a", "b", "a"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"nodeTypes": ["p"]})"), (Ids{"a", "a"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"nodeTypes": []})"), Ids{});
  // Each occurrence is tested against the last node with the id.
  EXPECT_EQ(ids_of(nodes, {}, R"({"attributes": [["eq", "x", 1]]})"), (Ids{"a", "a"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"attributes": [["eq", "x", 2]]})"), Ids{});
  EXPECT_EQ(ids_of({}, {}, "{}"), Ids{});
}

TEST(Execute, SeedsFromTheEdgeFilter) {
  std::vector<Node> nodes = {make_node("s", "t"), make_node("a", "t"), make_node("b", "t"), make_node("c", "t")};
  std::vector<Edge> edges = {make_edge("s", "b", "T"), make_edge("s", "a", "T"), make_edge("s", "b", "T"),
                             make_edge("s", "c", "U"), make_edge("s", "ghost", "T"), make_edge("a", "x", "T"),
                             make_edge("c", "a", "T")};
  // Targets of the source's edges of the type, once each, in edge order; "ghost" names no node.
  EXPECT_EQ(ids_of(nodes, edges, R"({"edgeFilter": {"type": "T", "source": "s"}})"), (Ids{"b", "a"}));
  // The target narrows through the outgoing test only: b has no outgoing edges and stays.
  EXPECT_EQ(ids_of(nodes, edges, R"({"edgeFilter": {"type": "T", "source": "s", "target": "y"}})"), (Ids{"b"}));
  EXPECT_EQ(ids_of(nodes, edges, R"({"edgeFilter": {"type": "T", "source": "c"}})"), (Ids{"a"}));
  EXPECT_EQ(ids_of(nodes, edges, R"({"edgeFilter": {"type": "V", "source": "s", "target": "b"}})"), Ids{});
  EXPECT_EQ(ids_of(nodes, edges, R"({"edgeFilter": {"type": "T", "source": "nobody"}})"), Ids{});
  // Without a source, the target's incoming edges seed their sources.
  EXPECT_EQ(ids_of(nodes, edges, R"({"edgeFilter": {"type": "T", "target": "a"}})"), (Ids{"s", "c"}));
  // With neither end, every node with an outgoing edge of the type.
  EXPECT_EQ(ids_of(nodes, edges, R"({"edgeFilter": {"type": "T"}})"), (Ids{"s", "a", "c"}));
}

TEST(Execute, TraversalAppendsNewIdsInDiscoveryOrder) {
  std::vector<Node> nodes = {make_node("a", "start"), make_node("b", "t"), make_node("c", "t"), make_node("d", "t")};
  std::vector<Edge> edges = {make_edge("a", "b", "next"), make_edge("b", "c", "next"), make_edge("c", "a", "next"),
                             make_edge("a", "ghost", "other"), make_edge("c", "d", "next")};
  const std::string start = R"("nodeTypes": ["start"], )";
  EXPECT_EQ(ids_of(nodes, edges, "{" + start + R"("traversal": [["next", "out", 0]]})"), (Ids{"a"}));
  EXPECT_EQ(ids_of(nodes, edges, "{" + start + R"("traversal": [["next", "out", 1]]})"), (Ids{"a", "b"}));
  EXPECT_EQ(ids_of(nodes, edges, "{" + start + R"("traversal": [["next", "out", 2]]})"), (Ids{"a", "b", "c"}));
  // The cycle back to a adds nothing; a huge depth stops once the frontier is empty.
  EXPECT_EQ(ids_of(nodes, edges, "{" + start + R"("traversal": [["next", "out", 18446744073709551615]]})"),
            (Ids{"a", "b", "c", "d"}));
  EXPECT_EQ(ids_of(nodes, edges, "{" + start + R"("traversal": [["next", "in", 1]]})"), (Ids{"a", "c"}));
  // Ids that name no node are added and never filtered; each step starts from the whole list.
  EXPECT_EQ(ids_of(nodes, edges, "{" + start + R"("traversal": [["other", "out", 1], ["next", "in", 1]]})"),
            (Ids{"a", "ghost", "c"}));
  // Earlier duplicates stay; a reached id that is already a candidate is not added again.
  std::vector<Node> dup = {make_node("a", "t"), make_node("a", "t"), make_node("b", "t")};
  EXPECT_EQ(ids_of(dup, {make_edge("a", "b", "e"), make_edge("b", "z", "e")}, R"({"traversal": [["e", "out", 1]]})"),
            (Ids{"a", "a", "b", "z"}));
}

TEST(Execute, OrderIsStableInBothDirections) {
  std::vector<Node> nodes = {make_node("w", "t", R"({"k": 2})"), make_node("x", "t", R"({"k": 5})"),
                             make_node("y", "t", R"({"k": 5.0})"), make_node("z", "t", R"({"k": 1})")};
  EXPECT_EQ(ids_of(nodes, {}, R"({"order": ["k", "desc"]})"), (Ids{"x", "y", "w", "z"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"order": ["k", "asc"]})"), (Ids{"z", "w", "x", "y"}));
  std::vector<Node> mixed = {make_node("s", "t", R"({"k": "9"})"), make_node("m", "t"),
                             make_node("n", "t", R"({"k": -3})"), make_node("z", "t", R"({"k": -0.0})"),
                             make_node("b", "t", R"({"k": true})")};
  // Strings, missing keys, bools and zeros all count as 0.0 and keep their order.
  EXPECT_EQ(ids_of(mixed, {}, R"({"order": ["k", "asc"]})"), (Ids{"n", "s", "m", "z", "b"}));
  EXPECT_EQ(ids_of(mixed, {}, R"({"order": ["k", "desc"]})"), (Ids{"s", "m", "z", "b", "n"}));
  // An id that names no node (after traversal) sorts as 0.0.
  std::vector<Node> graph = {make_node("a", "t", R"({"k": -1})"), make_node("b", "u", R"({"k": 1})")};
  EXPECT_EQ(ids_of(graph, {make_edge("a", "ghost", "e")},
                   R"({"nodeTypes": ["t"], "traversal": [["e", "out", 1]], "order": ["k", "desc"]})"),
            (Ids{"ghost", "a"}));
}

TEST(Execute, OffsetAndLimitSaturate) {
  std::vector<Node> nodes = {make_node("a", "t", R"({"k": 3})"), make_node("b", "t", R"({"k": 1})"),
                             make_node("c", "t", R"({"k": 2})")};
  EXPECT_EQ(ids_of(nodes, {}, R"({"offset": 3})"), Ids{});
  EXPECT_EQ(ids_of(nodes, {}, R"({"offset": 18446744073709551615, "limit": 18446744073709551615})"), Ids{});
  EXPECT_EQ(ids_of(nodes, {}, R"({"limit": 0})"), Ids{});
  EXPECT_EQ(ids_of(nodes, {}, R"({"offset": 1, "limit": 1})"), (Ids{"b"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"offset": 1, "limit": 18446744073709551615})"), (Ids{"b", "c"}));
  // Ordering decides what falls inside the window.
  EXPECT_EQ(ids_of(nodes, {}, R"({"order": ["k", "asc"], "offset": 1, "limit": 1})"), (Ids{"c"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"order": ["k", "desc"], "limit": 2})"), (Ids{"a", "c"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"order": ["k", "desc"], "offset": 2})"), (Ids{"b"}));
}

TEST(Execute, ExactSimilarityRanksByCosine) {
  std::vector<Node> nodes = {make_node("none", "t"),
                             make_node("orth", "t", "{}", std::vector<double>{0, 1}),
                             make_node("diag", "t", "{}", std::vector<double>{1, 1}),
                             make_node("same", "t", "{}", std::vector<double>{2, 0}),
                             make_node("zero", "t", "{}", std::vector<double>{0, 0}),
                             make_node("anti", "t", "{}", std::vector<double>{-1, 0})};
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0}})"),
            (Ids{"same", "diag", "orth", "zero"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0.5}})"), (Ids{"same", "diag"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": -1, "topK": 2}})"),
            (Ids{"same", "diag"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": -2, "topK": 0}})"), Ids{});
  // A zero query scores 0.0 everywhere: all kept at threshold 0, in candidate order.
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [0, 0], "threshold": 0}})"),
            (Ids{"orth", "diag", "same", "zero", "anti"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0, "topK": 9223372036854775807},
                                   "offset": 1, "limit": 2})"),
            (Ids{"diag", "orth"}));
}

TEST(Execute, ExactSimilarityArithmeticIsTheSequentialOne) {
  // sqrt(2) * sqrt(2) is 2.0000000000000004, so equal vectors (1, 1) score just below 1.
  std::vector<Node> nodes = {make_node("a", "t", "{}", std::vector<double>{1, 1})};
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [1, 1], "threshold": 0.9999999999999998}})"), (Ids{"a"}));
  EXPECT_EQ(ids_of(nodes, {}, R"({"similarity": {"vector": [1, 1], "threshold": 0.9999999999999999}})"), Ids{});
  // A NaN score (overflowing sums) is never kept.
  std::vector<Node> huge = {make_node("h", "t", "{}", std::vector<double>{1e300, 1e300})};
  EXPECT_EQ(ids_of(huge, {}, R"({"similarity": {"vector": [1e300, 1e300], "threshold": -1}})"), Ids{});
}

TEST(Execute, ExactSimilarityLengthMismatch) {
  std::vector<Node> nodes = {make_node("a", "t", "{}", std::vector<double>{1, 0}), make_node("b", "t"),
                             make_node("c", "t", "{}", std::vector<double>{1, 0, 0}),
                             make_node("d", "t", "{}", std::vector<double>{})};
  auto r = run(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0, "topK": 0}})");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().text(), "dimension_mismatch: expected 2 dimensions, got 3");
  auto empty = run(nodes, {}, R"({"similarity": {"vector": [], "threshold": 0}})");
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error().text(), "dimension_mismatch: expected 0 dimensions, got 2");
  // Nodes without a vector never cause the mismatch; an empty vector against an empty query scores 0.0.
  EXPECT_EQ(ids_of({nodes[1], nodes[3]}, {}, R"({"similarity": {"vector": [], "threshold": 0}})"), (Ids{"d"}));
}

TEST(Execute, HnswEngineWithoutIndex) {
  std::vector<Node> nodes = {make_node("a", "t", "{}", std::vector<double>{1, 0})};
  auto r = run(nodes, {}, R"({"similarity": {"vector": [1, 0], "threshold": 0, "engine": "hnsw"}})");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().text(), "invalid_argument: similarity.engine=hnsw requires an hnsw index");
  // No candidate left: the ranking never runs.
  EXPECT_EQ(ids_of(nodes, {}, R"({"nodeTypes": ["x"], "similarity": {"vector": [1], "threshold": 0, "engine": "hnsw"}})"),
            Ids{});
}

}  // namespace
}  // namespace tarnwick::query
