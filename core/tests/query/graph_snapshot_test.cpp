#include <gtest/gtest.h>

#include <map>

#include "graph_fixture.hpp"
#include "query_exec/compiled_plan.hpp"

namespace tarnwick::query {
namespace {

using testing::make_edge;
using testing::make_node;

std::vector<std::size_t> positions(std::span<const std::size_t> s) { return {s.begin(), s.end()}; }

GraphSnapshot snapshot_of(std::vector<Node> nodes, std::vector<Edge> edges, Projection projection = {}) {
  return GraphSnapshot(std::move(nodes), std::move(edges), std::move(projection));
}

TEST(GraphSnapshot, LastNodeOfAnIdWinsAndAllStay) {
  GraphSnapshot s = snapshot_of({make_node("a", "t"), make_node("b", "u"), make_node("a", "v")}, {});
  EXPECT_EQ(s.node_count(), 3u);
  EXPECT_EQ(s.find("a"), 2u);
  EXPECT_EQ(s.find("b"), 1u);
  EXPECT_EQ(s.node_type(s.find("a")), "v");
  EXPECT_EQ(s.find("c"), GraphSnapshot::kNoNode);
  EXPECT_EQ(s.find(""), GraphSnapshot::kNoNode);
  EXPECT_FALSE(s.ids_unique());
  EXPECT_TRUE(snapshot_of({make_node("a", "t"), make_node("b", "t")}, {}).ids_unique());
}

TEST(GraphSnapshot, KeepsOnlyTheProjectedKeysAndVectors) {
  Projection p;
  p.fields = {"k", "missing"};
  p.vectors = true;
  GraphSnapshot s = snapshot_of({make_node("a", "t", R"({"k": 1, "other": 2})", std::vector<double>{1.0, 2.0}),
                                 make_node("b", "t", R"({"k": {"x": [null]}})"),
                                 make_node("c", "t", "{}", std::vector<double>{})},
                                {}, p);
  EXPECT_EQ(s.projection().slot("missing"), 1u);
  EXPECT_EQ(json::print(s.field(0, 0)), "1");
  EXPECT_EQ(json::print(s.field(0, 1)), R"({"x":[null]})");
  EXPECT_TRUE(s.field(0, 2).is_null());
  EXPECT_TRUE(s.field(1, 0).is_null());
  ASSERT_TRUE(s.vector(0).has_value());
  EXPECT_EQ(std::vector<double>(s.vector(0)->begin(), s.vector(0)->end()), (std::vector<double>{1.0, 2.0}));
  EXPECT_FALSE(s.vector(1).has_value());
  ASSERT_TRUE(s.vector(2).has_value());
  EXPECT_TRUE(s.vector(2)->empty());
}

TEST(GraphSnapshot, EdgeMapsListPositionsInEdgeOrder) {
  GraphSnapshot s = snapshot_of({make_node("a", "t")},
                                {make_edge("a", "b", "x"), make_edge("c", "a", "y"), make_edge("a", "a", "z"),
                                 make_edge("a", "ghost", "x"), make_edge("a", "b", "x")});
  EXPECT_FALSE(s.indexed_by_source() || s.indexed_by_target());
  s.index_edges_by_source();
  EXPECT_TRUE(s.indexed_by_source());
  EXPECT_FALSE(s.indexed_by_target());
  s.index_edges_by_target();
  s.index_edges_by_source();  // a second call changes nothing
  EXPECT_EQ(positions(s.edges_by_source("a")), (std::vector<std::size_t>{0, 2, 3, 4}));
  EXPECT_EQ(positions(s.edges_by_target("a")), (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(positions(s.edges_by_target("b")), (std::vector<std::size_t>{0, 4}));
  EXPECT_EQ(positions(s.edges_by_source("c")), (std::vector<std::size_t>{1}));
  EXPECT_EQ(s.edge_type(3), "x");
  // Endpoints need not name nodes.
  EXPECT_EQ(positions(s.edges_by_target("ghost")), (std::vector<std::size_t>{3}));
  EXPECT_TRUE(s.edges_by_source("b").empty());
  EXPECT_TRUE(s.edges_by_target("c").empty());
}

TEST(GraphSnapshot, EmptyListsAndMoves) {
  GraphSnapshot empty = snapshot_of({}, {});
  empty.index_edges_by_source();
  EXPECT_EQ(empty.find("a"), GraphSnapshot::kNoNode);
  EXPECT_TRUE(empty.edges_by_source("a").empty());
  // Views into the arena survive a move of the snapshot, long ids included.
  const std::string long_id(100'000, 'x');
  GraphSnapshot s = snapshot_of({make_node(long_id, "t"), make_node("short", "t")}, {make_edge(long_id, "short", "e")});
  GraphSnapshot moved(std::move(s));
  moved.index_edges_by_source();
  EXPECT_EQ(moved.find(long_id), 0u);
  EXPECT_EQ(moved.node_id(0), long_id);
  EXPECT_EQ(moved.find("short"), 1u);
  EXPECT_EQ(positions(moved.edges_by_source(long_id)), (std::vector<std::size_t>{0}));
}

// Enough ids to make the table grow past its first size, many of them repeated, looked up
// against a plain map.
TEST(GraphSnapshot, ManyIdsMatchAPlainMap) {
  std::vector<Node> nodes;
  std::map<std::string, std::size_t> last;
  for (std::size_t i = 0; i < 5000; ++i) {
    std::string id = "n" + std::to_string((i * 7919) % 3001);
    last[id] = i;
    nodes.push_back(make_node(id, "t"));
  }
  GraphSnapshot s = snapshot_of(std::move(nodes), {});
  EXPECT_EQ(last.size(), 3001u);
  EXPECT_FALSE(s.ids_unique());
  for (const auto& [id, position] : last) EXPECT_EQ(s.find(id), position) << id;
  EXPECT_EQ(s.find("n3001"), GraphSnapshot::kNoNode);
}

TEST(GraphSnapshot, PlansKeepOnlyTheEdgesAndBuildOnlyTheEdgeMapsTheyRead) {
  struct Want {
    std::string_view plan;
    bool by_source;
    bool by_target;
  };
  const Want table[] = {
      {"{}", false, false},
      {R"({"traversal": [["e", "in", 0]]})", false, false},
      {R"({"traversal": [["e", "in", 2]]})", false, true},
      {R"({"joins": [["e", "out"]]})", true, false},
      {R"({"edgeFilter": {"type": "e"}})", true, false},
      {R"({"edgeFilter": {"type": "e", "source": "a", "target": "b"}})", true, false},
      {R"({"edgeFilter": {"type": "e", "target": "b"}})", true, true},
      {R"({"joins": [["e", "in"]], "traversal": [["e", "out", 1]]})", true, true},
  };
  for (const Want& w : table) {
    const QueryPlan plan = testing::make_plan(w.plan);
    GraphSnapshot s({make_node("a", "t")}, {make_edge("a", "b", "e")}, Projection::of(plan));
    // A plan that maps no edges reads none, so none are kept.
    EXPECT_EQ(s.edge_count(), w.by_source || w.by_target ? 1u : 0u) << w.plan;
    index_edges_for(s, plan);
    EXPECT_EQ(s.indexed_by_source(), w.by_source) << w.plan;
    EXPECT_EQ(s.indexed_by_target(), w.by_target) << w.plan;
  }
}

}  // namespace
}  // namespace tarnwick::query
