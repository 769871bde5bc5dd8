#include <gtest/gtest.h>

#include "graph_fixture.hpp"
#include "query_exec/compiled_plan.hpp"

namespace tarnwick::query {
namespace {

using testing::make_edge;
using testing::make_node;
using testing::make_plan;

// Which of the snapshot's nodes pass `plan`, by position: '1' for each that does, '0' for each that does not.
std::string matches(std::vector<Node> nodes, std::vector<Edge> edges, std::string_view plan_text) {
  const QueryPlan plan = make_plan(plan_text);
  GraphSnapshot s(std::move(nodes), std::move(edges), Projection::of(plan));
  index_edges_for(s, plan);
  const CompiledPlan compiled(plan, s);
  std::string out;
  for (std::size_t i = 0; i < s.node_count(); ++i) out += match_node(s, i, compiled) ? '1' : '0';
  return out;
}

TEST(MatchNode, NodeTypes) {
  std::vector<Node> nodes = {make_node("a", "person"), make_node("b", "Person"), make_node("c", "place")};
  EXPECT_EQ(matches(nodes, {}, R"({"nodeTypes": ["person", "place"]})"), "101");
  EXPECT_EQ(matches(nodes, {}, R"({"nodeTypes": []})"), "000");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [], "joins": []})"), "111");
}

TEST(MatchNode, RangeBoundsAreExclusiveAndNumeric) {
  std::vector<Node> nodes = {make_node("a", "t", R"({"x": 5})"),   make_node("b", "t", R"({"x": 5.5})"),
                             make_node("c", "t", R"({"x": "6"})"), make_node("d", "t", "{}"),
                             make_node("e", "t", R"({"x": 4})"),   make_node("f", "t", R"({"x": 18446744073709551615})")};
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [{"operator": "range", "field": "x", "above": 5}]})"), "010001");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [{"operator": "range", "field": "x", "below": 5}]})"), "000010");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["range", "x", null, null]]})"), "110011");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["range", "x", 5, 5]]})"), "000000");
  // "type" is an ordinary data key for a range.
  EXPECT_EQ(matches({make_node("a", "t", R"({"type": 3})"), make_node("b", "t")}, {},
                    R"({"attributes": [["range", "type", 1, null]]})"),
            "10");
}

TEST(MatchNode, EqualityNumbersAtTopLevelValuesInside) {
  std::vector<Node> nodes = {
      make_node("a", "t", R"({"x": 1.0})"),        make_node("b", "t", R"({"x": 1})"),
      make_node("c", "t", R"({"x": [1.0]})"),       make_node("d", "t", R"({"x": [1]})"),
      make_node("e", "t", R"({"x": {"b": 2, "a": 1}})"), make_node("f", "t", R"({"x": null})"),
      make_node("g", "t", "{}"),                    make_node("h", "t", R"({"x": "1"})")};
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "x", 1]]})"), "11000000");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "x", [1]]]})"), "00010000");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "x", {"a": 1, "b": 2}]]})"), "00001000");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "x", null]]})"), "00000110");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "x", "1"]]})"), "00000001");
  // Integers that round to the same double are equal at the top level.
  EXPECT_EQ(matches({make_node("a", "t", R"({"x": 9007199254740993})")}, {},
                    R"({"attributes": [["eq", "x", 9007199254740992]]})"),
            "1");
  // All filters must hold, in order.
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "x", 1], ["range", "x", 0.5, null], ["eq", "x", 1.0]]})"),
            "11000000");
}

TEST(MatchNode, EqualityOnTypeReadsTheNodeType) {
  std::vector<Node> nodes = {make_node("a", "person", R"({"type": "place"})"), make_node("b", "place")};
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "type", "place"]]})"), "01");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "type", 1]]})"), "00");
  EXPECT_EQ(matches(nodes, {}, R"({"attributes": [["eq", "type", null]]})"), "00");
}

TEST(MatchNode, EdgeFilterWithoutSource) {
  std::vector<Node> nodes = {make_node("a", "t"), make_node("b", "t"), make_node("c", "t")};
  std::vector<Edge> edges = {make_edge("a", "b", "knows"), make_edge("b", "c", "likes"), make_edge("b", "a", "knows")};
  EXPECT_EQ(matches(nodes, edges, R"({"edgeFilter": {"type": "knows"}})"), "110");
  EXPECT_EQ(matches(nodes, edges, R"({"edgeFilter": {"type": "knows", "target": "b"}})"), "100");
  EXPECT_EQ(matches(nodes, edges, R"({"edgeFilter": {"type": "Knows"}})"), "000");
}

TEST(MatchNode, EdgeFilterWithSource) {
  // s -> n1, s -> n2, s -> n3 of type T; n1 has no outgoing edges, n2 one of type T, n3 only of another type.
  std::vector<Node> nodes = {make_node("n1", "t"), make_node("n2", "t"), make_node("n3", "t"), make_node("n4", "t")};
  std::vector<Edge> edges = {make_edge("s", "n1", "T"), make_edge("s", "n2", "T"), make_edge("s", "n3", "T"),
                             make_edge("n2", "z", "T"), make_edge("n3", "z", "U"), make_edge("n4", "z", "T")};
  // n4 has an outgoing edge of type T but is no target of s.
  EXPECT_EQ(matches(nodes, edges, R"({"edgeFilter": {"type": "T", "source": "s"}})"), "1100");
  EXPECT_EQ(matches(nodes, edges, R"({"edgeFilter": {"type": "T", "source": "s", "target": "y"}})"), "1000");
  // A source with no outgoing edges: the source test passes for everyone.
  EXPECT_EQ(matches(nodes, edges, R"({"edgeFilter": {"type": "T", "source": "nobody"}})"), "1101");
  // A source whose outgoing edges all have another type rejects everyone.
  EXPECT_EQ(matches(nodes, edges, R"({"edgeFilter": {"type": "U", "source": "s"}})"), "0000");
}

TEST(MatchNode, JoinsNeedAnEdgeOfTheTypeInTheDirection) {
  std::vector<Node> nodes = {make_node("a", "t"), make_node("b", "t"), make_node("c", "t")};
  std::vector<Edge> edges = {make_edge("a", "ghost", "owns"), make_edge("c", "b", "owns"), make_edge("b", "a", "likes")};
  EXPECT_EQ(matches(nodes, edges, R"({"joins": [["owns", "out"]]})"), "101");
  EXPECT_EQ(matches(nodes, edges, R"({"joins": [["owns", "in"]]})"), "010");
  EXPECT_EQ(matches(nodes, edges, R"({"joins": [["owns", "out"], ["likes", "in"]]})"), "100");
}

}  // namespace
}  // namespace tarnwick::query
