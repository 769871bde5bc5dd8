#include <gtest/gtest.h>

#include "store/query_fixture.hpp"

namespace tarnwick::store {
namespace {

using test::make_edge;
using test::node_of;
using test::sorted;

using Groups = std::vector<std::vector<std::string>>;

// Splits the result into runs of the expected sizes; within a run the order is the set's own.
Groups grouped(const std::vector<Edge>& edges, const Groups& shape) {
  Groups out;
  std::size_t at = 0;
  for (const auto& group : shape) {
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < group.size() && at < edges.size(); ++i) ids.push_back(edges[at++].id);
    out.push_back(sorted(ids));
  }
  if (at < edges.size()) out.push_back({"<extra>"});
  return out;
}

TEST(EdgeLookup, GroupsInTheGivenOrderAndReturnsEachEdgeOnce) {
  test::GraphStore g({node_of("a", "t"), node_of("b", "t"), node_of("c", "t")},
                     {make_edge("e1", "a", "b"), make_edge("e2", "a", "c", "cite"), make_edge("e3", "b", "a"),
                      make_edge("e4", "a", "a"), make_edge("e5", "x", "a"), make_edge("e6", "c", "b")});
  const struct {
    bool by_target;
    std::vector<std::string> ids;
    std::optional<std::string> type;
    Groups expected;
  } cases[] = {
      {false, {"a"}, std::nullopt, {{"e1", "e2", "e4"}}},
      {false, {"a", "a"}, std::nullopt, {{"e1", "e2", "e4"}}},
      {false, {"a"}, "link", {{"e1", "e4"}}},
      {false, {"a"}, "nothing", {}},
      {false, {}, std::nullopt, {}},
      {false, {"zz"}, std::nullopt, {}},
      {false, {"x"}, std::nullopt, {{"e5"}}},
      {false, {"b", "zz", "a", "b", "c"}, std::nullopt, {{"e3"}, {"e1", "e2", "e4"}, {"e6"}}},
      {true, {"a"}, std::nullopt, {{"e3", "e4", "e5"}}},
      {true, {"b", "a", "b"}, "link", {{"e1", "e6"}, {"e3", "e4", "e5"}}},
      {true, {"c"}, "link", {}},
      {true, {"x"}, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    auto edges = c.by_target ? g->get_edges_by_targets(c.ids, c.type) : g->get_edges_by_sources(c.ids, c.type);
    ASSERT_TRUE(edges);
    EXPECT_EQ(grouped(*edges, c.expected), c.expected) << c.by_target << " " << c.ids.size();
  }
}

TEST(EdgeLookup, ReturnsTheStoredRecords) {
  Edge e = make_edge("e1", "a", "b");
  e.data = test::parse_json(R"({"w": 2})").as_object();
  e.created_at = 7;
  e.revision = 3;
  test::GraphStore g({}, {e});
  const std::vector<std::string> ids = {"a"};
  EXPECT_EQ(*g->get_edges_by_sources(ids, std::nullopt), std::vector<Edge>{e});
  EXPECT_EQ(*g->get_edges_by_targets(std::vector<std::string>{"b"}, "link"), std::vector<Edge>{e});
}

}  // namespace
}  // namespace tarnwick::store
