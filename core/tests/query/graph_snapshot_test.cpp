#include <gtest/gtest.h>

#include "graph_fixture.hpp"
#include "query_exec/compiled_plan.hpp"

namespace tarnwick::query {
namespace {

using testing::make_edge;
using testing::make_node;

std::vector<std::size_t> positions(std::span<const std::size_t> s) { return {s.begin(), s.end()}; }

TEST(GraphSnapshot, LastNodeOfAnIdWinsAndAllStay) {
  GraphSnapshot s({make_node("a", "t", R"({"v": 1})"), make_node("b", "t"), make_node("a", "t", R"({"v": 2})")}, {});
  EXPECT_EQ(s.nodes().size(), 3u);
  ASSERT_NE(s.get("a"), nullptr);
  EXPECT_EQ(s.get("a"), &s.nodes()[2]);
  EXPECT_EQ(s.get("b"), &s.nodes()[1]);
  EXPECT_EQ(s.get("c"), nullptr);
  EXPECT_EQ(s.get(""), nullptr);
  EXPECT_FALSE(s.ids_unique());
  GraphSnapshot unique({make_node("a", "t"), make_node("b", "t")}, {});
  EXPECT_TRUE(unique.ids_unique());
}

TEST(GraphSnapshot, EdgeMapsListPositionsInEdgeOrder) {
  GraphSnapshot s({make_node("a", "t")},
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
  // Endpoints need not name nodes.
  EXPECT_EQ(positions(s.edges_by_target("ghost")), (std::vector<std::size_t>{3}));
  EXPECT_TRUE(s.edges_by_source("b").empty());
  EXPECT_TRUE(s.edges_by_target("c").empty());
}

TEST(GraphSnapshot, EmptyListsAndMoves) {
  GraphSnapshot empty({}, {});
  empty.index_edges_by_source();
  EXPECT_EQ(empty.get("a"), nullptr);
  EXPECT_TRUE(empty.edges_by_source("a").empty());
  // Views into the owned ids survive a move of the snapshot, long ids included.
  const std::string long_id(100, 'x');
  GraphSnapshot s({make_node(long_id, "t"), make_node("short", "t")}, {make_edge(long_id, "short", "e")});
  GraphSnapshot moved(std::move(s));
  moved.index_edges_by_source();
  ASSERT_NE(moved.get(long_id), nullptr);
  EXPECT_EQ(moved.get(long_id)->id, long_id);
  EXPECT_EQ(moved.get("short"), &moved.nodes()[1]);
  EXPECT_EQ(positions(moved.edges_by_source(long_id)), (std::vector<std::size_t>{0}));
}


TEST(GraphSnapshot, PlansBuildOnlyTheEdgeMapsTheyRead) {
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
    GraphSnapshot s({make_node("a", "t")}, {make_edge("a", "b", "e")});
    index_edges_for(s, testing::make_plan(w.plan));
    EXPECT_EQ(s.indexed_by_source(), w.by_source) << w.plan;
    EXPECT_EQ(s.indexed_by_target(), w.by_target) << w.plan;
  }
}

}  // namespace
}  // namespace tarnwick::query
