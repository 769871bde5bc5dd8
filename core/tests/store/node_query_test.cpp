#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "store/query_fixture.hpp"

namespace tarnwick::store {
namespace {

using test::GraphStore;
using test::ids_of;
using test::node_of;
using test::read_query;
using test::sorted;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<Node> mixed_nodes() {
  return {
      node_of("a", "note", R"({"n":1,"score":2,"code":"k","age":3,"meta":{"lang":"en"}})"),
      node_of("b", "note", R"({"n":1.0,"score":2.5,"code":"k","age":4,"type":"task"})"),
      node_of("c", "task", R"({"n":2,"score":1,"code":"q","obj":{"x":1,"y":2}})"),
      node_of("d", "task", R"({"score":3,"code":"k","gone":null})"),
      node_of("e", "person", R"({"score":"2","z":-0.0,"obj":{"y":2,"x":1}})"),
      node_of("f", "note", R"({"score":-1,"z":0.0,"big":18446744073709551615})"),
      node_of("g", "task", R"({"n":1,"z":[0.0]})"),
  };
}

std::vector<SecondaryIndexDefinition> mixed_indexes() {
  return {
      {"by_code", {"code"}, std::nullopt, false, false},
      {"by_n", {"n"}, std::string("note"), false, false},
      {"by_obj", {"obj"}, std::nullopt, false, false},
      {"by_z", {"z"}, std::nullopt, false, false},
  };
}

std::vector<std::string> all_ids(Store& s) { return *s.node_ids(); }

// The same query answered from every stored node in turn, no index or type set involved.
std::vector<std::string> scanned(Store& s, NodeQuery q) {
  q.candidate_ids = all_ids(s);
  return sorted(ids_of(*s.query_nodes(q)));
}

// The number of candidates a query starts from, as the candidate limit sees it: the smallest
// limit it passes, checked against the text of the one below.
std::uint64_t candidates_counted(Store& s, NodeQuery q) {
  for (std::uint64_t limit = 0; limit < 100; ++limit) {
    q.max_nodes_visited = limit;
    auto r = s.query_nodes(q);
    if (r) {
      if (limit > 0) {
        q.max_nodes_visited = limit - 1;
        EXPECT_EQ(s.count_nodes(q).error().text(),
                  "resource_limit: maxNodesVisited exceeded limit " + std::to_string(limit - 1));
      }
      return limit;
    }
    EXPECT_EQ(r.error().text(), "resource_limit: maxNodesVisited exceeded limit " + std::to_string(limit));
  }
  return 100;
}

TEST(NodeQuery, EqualityAndRangesFollowTheValueEquality) {
  GraphStore g(mixed_nodes(), {}, mixed_indexes());
  const struct {
    const char* query;
    std::vector<std::string> ids;
  } cases[] = {
      {R"({})", {"a", "b", "c", "d", "e", "f", "g"}},
      {R"({"attributes": {"n": 1}})", {"a", "g"}},
      {R"({"attributes": {"n": 1.0}})", {"b"}},
      {R"({"attributes": {"n": null}})", {"d", "e", "f"}},
      {R"({"attributes": {"gone": null}})", {"a", "b", "c", "d", "e", "f", "g"}},
      {R"({"attributes": {"type": "note"}})", {"a", "b", "f"}},
      {R"({"attributes": {"type": "task"}})", {"c", "d", "g"}},
      {R"({"attributes": {"meta.lang": "en"}})", {"a"}},
      {R"({"attributes": {"meta": {"lang": "en"}}})", {"a"}},
      {R"({"attributes": {"meta.lang.x": null, "n": 1}})", {"a", "g"}},
      {R"({"attributes": {"obj": {"x": 1, "y": 2}}})", {"c", "e"}},
      {R"({"attributes": {"z": 0.0}})", {"e", "f"}},
      {R"({"attributes": {"z": -0.0}})", {"e", "f"}},
      {R"({"attributes": {"z": 0}})", {}},
      {R"({"attributes": {"z": [-0.0]}})", {"g"}},
      {R"({"attributes": {"big": 18446744073709551615}})", {"f"}},
      {R"({"attributes": {"code": "k"}})", {"a", "b", "d"}},
      {R"({"nodeTypes": ["task"], "attributes": {"code": "k"}})", {"d"}},
      {R"({"attributes": {"code": "k"}, "attributeRanges": {"age": {}}})", {"a", "b"}},
      {R"({"attributes": {"code": "k", "age": 3}})", {"a"}},
      {R"({"attributes": {"code": "k", "age": 4}})", {"b"}},
      {R"({"attributes": {"code": "zz"}})", {}},
      {R"({"nodeTypes": ["note"], "attributes": {"n": 1}})", {"a"}},
      {R"({"nodeTypes": ["note", "task"], "attributes": {"n": 1}})", {"a", "g"}},
      {R"({"nodeTypes": []})", {}},
      {R"({"nodeTypes": ["task", "task"]})", {"c", "d", "g"}},
      {R"({"attributeRanges": {"score": {"above": 1, "below": 3}}})", {"a", "b"}},
      {R"({"attributeRanges": {"score": {}}})", {"a", "b", "c", "d", "f"}},
      {R"({"attributeRanges": {"score": {"above": -1}}})", {"a", "b", "c", "d"}},
      {R"({"attributeRanges": {"score": {"above": 3, "below": 1}}})", {}},
      {R"({"attributeRanges": {"score": {"above": 2, "below": 2}}})", {}},
      {R"({"attributeRanges": {"type": {}}})", {}},
      {R"({"attributeRanges": {"big": {"above": 1.8e19}}})", {"f"}},
      {R"({"attributeRanges": {"n": {"below": 1.5}}})", {"a", "b", "g"}},
      {R"({"attributes": {"code": "k"}, "attributeRanges": {"score": {"below": 3}}})", {"a", "b"}},
  };
  for (const auto& c : cases) {
    const NodeQuery q = read_query(c.query);
    EXPECT_EQ(sorted(ids_of(*g->query_nodes(q))), c.ids) << c.query;
    EXPECT_EQ(scanned(g.store, q), c.ids) << c.query;
    EXPECT_EQ(*g->count_nodes(q), c.ids.size()) << c.query;
  }
}

TEST(NodeQuery, RangeBoundsThatNoJsonTextCanHold) {
  GraphStore g(mixed_nodes());
  const struct {
    RangeQuery range;
    std::vector<std::string> ids;
  } cases[] = {
      {{-kInf, kInf}, {"a", "b", "c", "d", "f"}},
      {{kInf, std::nullopt}, {}},
      {{std::nullopt, -kInf}, {}},
      {{kNaN, std::nullopt}, {}},
      {{std::nullopt, kNaN}, {}},
  };
  for (const auto& c : cases) {
    NodeQuery q;
    q.attribute_ranges.emplace();
    q.attribute_ranges->emplace_back("score", c.range);
    EXPECT_EQ(sorted(ids_of(*g->query_nodes(q))), c.ids);
  }
}

// Which candidate rule a query took shows in how many candidates the limit counted.
TEST(NodeQuery, CandidateRulesShowInTheCountedCandidates) {
  GraphStore g(mixed_nodes(), {}, mixed_indexes());
  const struct {
    const char* query;
    std::uint64_t candidates;
  } cases[] = {
      {R"({})", 7},
      {R"({"candidateIds": []})", 0},
      {R"({"candidateIds": [], "nodeTypes": ["note"], "attributes": {"code": "k"}})", 0},
      {R"({"candidateIds": ["a", "a", "x"]})", 3},
      {R"({"nodeTypes": []})", 0},
      {R"({"nodeTypes": ["note"]})", 3},
      {R"({"nodeTypes": ["note", "note", "task", "ghost"]})", 6},
      {R"({"nodeTypes": ["note"], "attributeRanges": {}})", 7},
      {R"({"nodeTypes": ["note"], "attributes": {}})", 7},
      {R"({"attributes": {"code": "k"}})", 3},
      {R"({"attributes": {"code": "k", "age": 3}})", 3},
      {R"({"attributes": {"code": "zz"}})", 7},
      {R"({"attributes": {"age": 3}})", 7},
      // The index restricted to notes answers only a query that accepts notes alone.
      {R"({"attributes": {"n": 1}})", 7},
      {R"({"nodeTypes": ["note"], "attributes": {"n": 1}})", 1},
      {R"({"nodeTypes": ["note", "note"], "attributes": {"n": 1}})", 1},
      {R"({"nodeTypes": ["note", "task"], "attributes": {"n": 1}})", 7},
      {R"({"nodeTypes": [], "attributes": {"n": 1}})", 7},
      // Values whose key text could differ from an equal stored value's never use an index.
      {R"({"attributes": {"obj": {"x": 1, "y": 2}}})", 7},
      {R"({"attributes": {"z": 0.0}})", 7},
      {R"({"attributes": {"z": [0.0]}})", 7},
  };
  for (const auto& c : cases) EXPECT_EQ(candidates_counted(g.store, read_query(c.query)), c.candidates) << c.query;
}

TEST(NodeQuery, AnIndexKeyThatIsMissingFallsThroughToLaterRules) {
  GraphStore g(mixed_nodes(), {}, {{"by_age", {"age"}, std::nullopt, false, false}});
  EXPECT_EQ(candidates_counted(g.store, read_query(R"({"attributes": {"age": 3}})")), 1u);
  EXPECT_EQ(candidates_counted(g.store, read_query(R"({"attributes": {"age": 9}})")), 7u);
}

TEST(NodeQuery, OrderingIsStableInBothDirections) {
  std::vector<Node> nodes = {
      node_of("r1", "t", R"({"rank":3})"),       node_of("r2", "t", R"({"rank":"x"})"),
      node_of("r3", "t", R"({"rank":5})"),       node_of("r4", "t", R"({})"),
      node_of("r5", "t", R"({"rank":-1})"),      node_of("r6", "t", R"({"rank":3.0,"a.b":9})"),
      node_of("r7", "t", R"({"rank":{"v":9}})"), node_of("r8", "t", R"({"a":{"b":-9}})"),
  };
  nodes.push_back(node_of("r9", "t"));
  nodes.back().data["rank"] = kInf;  // only C++ can put a non-finite number in data
  GraphStore g(nodes);
  const std::string listed = R"("candidateIds": ["r1","r2","r3","r4","r5","r6","r7","r8","r9"])";
  const struct {
    std::string order;
    std::vector<std::string> ids;
  } cases[] = {
      {R"({"field": "rank", "direction": "desc"})", {"r3", "r1", "r6", "r2", "r4", "r7", "r8", "r9", "r5"}},
      {R"({"field": "rank", "direction": "DESC"})", {"r5", "r2", "r4", "r7", "r8", "r9", "r1", "r6", "r3"}},
      {R"({"field": "rank", "direction": "asc"})", {"r5", "r2", "r4", "r7", "r8", "r9", "r1", "r6", "r3"}},
      {R"({"field": "a.b", "direction": "desc"})", {"r6", "r1", "r2", "r3", "r4", "r5", "r7", "r8", "r9"}},
      {R"({"field": "missing", "direction": "desc"})", {"r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ids_of(*g->query_nodes(read_query("{" + listed + R"(, "orderBy": )" + c.order + "}"))), c.ids)
        << c.order;
    // A window is cut from the same order, whether or not the rest is sorted.
    for (std::size_t offset = 0; offset < c.ids.size(); offset += 2) {
      const std::string window = R"(, "offset": )" + std::to_string(offset) + R"(, "limit": 3})";
      const auto got = ids_of(*g->query_nodes(read_query("{" + listed + R"(, "orderBy": )" + c.order + window)));
      const std::size_t end = std::min(offset + 3, c.ids.size());
      EXPECT_EQ(got, std::vector<std::string>(c.ids.begin() + offset, c.ids.begin() + end)) << c.order << offset;
    }
  }
}

TEST(NodeQuery, OffsetAndLimitSaturate) {
  std::vector<Node> nodes;
  std::string listed;
  for (int i = 0; i < 10; ++i) {
    nodes.push_back(node_of("n" + std::to_string(i), "w", R"({"rank":)" + std::to_string(i) + "}"));
    listed += (i ? ",\"n" : "\"n") + std::to_string(i) + "\"";
  }
  GraphStore g(nodes);
  const std::string max = "18446744073709551615";
  const struct {
    std::string window;
    std::vector<int> ranks;
  } cases[] = {
      {R"("offset": 0)", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {R"("offset": 1, "limit": 2)", {1, 2}},
      {R"("limit": 0)", {}},
      {R"("offset": 10)", {}},
      {R"("offset": 9, "limit": )" + max, {9}},
      {R"("offset": )" + max, {}},
      {R"("limit": )" + max, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {R"("offset": )" + max + R"(, "limit": )" + max, {}},
      {R"("offset": 8, "limit": 5)", {8, 9}},
  };
  for (const auto& c : cases) {
    for (const bool ordered : {false, true}) {
      const std::string order = ordered ? R"(, "orderBy": ["rank", "desc"])" : "";
      const NodeQuery q = read_query(R"({"candidateIds": [)" + listed + "], " + c.window + order + "}");
      std::vector<std::string> expected;
      for (int r : c.ranks) expected.push_back("n" + std::to_string(ordered ? 9 - r : r));
      EXPECT_EQ(ids_of(*g->query_nodes(q)), expected) << c.window << ordered;
      EXPECT_EQ(*g->count_nodes(q), expected.size()) << c.window;
      // Without candidate ids the same window is cut from the map's order.
      NodeQuery unlisted = q;
      unlisted.candidate_ids.reset();
      EXPECT_EQ(g->query_nodes(unlisted)->size(), expected.size()) << c.window;
      EXPECT_EQ(*g->count_nodes(unlisted), expected.size()) << c.window;
    }
  }
}

TEST(NodeQuery, ResultLimitIsCheckedBeforeOffsetAndLimit) {
  GraphStore g(mixed_nodes());
  const struct {
    const char* query;
    const char* error;  // empty: passes
  } cases[] = {
      {R"({"nodeTypes": ["note"], "maxResultSize": 2, "limit": 1})", "resource_limit: maxResultSize exceeded limit 2"},
      {R"({"nodeTypes": ["note"], "maxResultSize": 2, "offset": 5})", "resource_limit: maxResultSize exceeded limit 2"},
      {R"({"nodeTypes": ["note"], "maxResultSize": 3, "limit": 1})", ""},
      {R"({"candidateIds": ["a", "a", "a"], "maxResultSize": 2})", "resource_limit: maxResultSize exceeded limit 2"},
      {R"({"candidateIds": ["a", "x", "y"], "maxResultSize": 1})", ""},
      {R"({"maxResultSize": 0, "limit": 0})", "resource_limit: maxResultSize exceeded limit 0"},
      {R"({"candidateIds": ["a", "b"], "maxNodesVisited": 1, "maxResultSize": 0})",
       "resource_limit: maxNodesVisited exceeded limit 1"},
  };
  for (const auto& c : cases) {
    const NodeQuery q = read_query(c.query);
    const auto nodes = g->query_nodes(q);
    const auto count = g->count_nodes(q);
    EXPECT_EQ(nodes ? "" : nodes.error().text(), c.error) << c.query;
    EXPECT_EQ(count ? "" : count.error().text(), c.error) << c.query;
  }
}

TEST(NodeQuery, RepeatedCandidatesYieldRepeatedCopies) {
  GraphStore g(mixed_nodes());
  const NodeQuery q = read_query(R"({"candidateIds": ["a", "x", "a", "c"], "nodeTypes": ["note"]})");
  EXPECT_EQ(ids_of(*g->query_nodes(q)), (std::vector<std::string>{"a", "a"}));
  EXPECT_EQ(*g->count_nodes(q), 2u);
}

TEST(NodeQuery, NodesComeOutWithTheirStoredVectors) {
  std::vector<Node> nodes = mixed_nodes();
  nodes[1].vector = std::vector<double>{9.0};  // a stale vector field is never handed out
  GraphStore g(nodes);
  const std::vector<double> v = {0.1, 2.0};
  StoreTestAccess::vectors(g.store).emplace("a", StoredVector::make(v, VectorPrecision::Float32));
  const std::vector<double> widened = {static_cast<double>(0.1f), 2.0};
  EXPECT_EQ(g->get_node("a")->value().vector, widened);
  EXPECT_EQ(g->get_node("b")->value().vector, std::nullopt);
  EXPECT_EQ(g->get_node("zz")->has_value(), false);
  EXPECT_EQ(g->get_node("a")->value().data, nodes[0].data);
  const std::vector<Node> both = *g->query_nodes(read_query(R"({"candidateIds": ["a", "b"]})"));
  for (const Node& n : both)
    EXPECT_EQ(n.vector, n.id == "a" ? std::optional(widened) : std::nullopt);
}

TEST(NodeQuery, AClosedStoreAnswersNothing) {
  GraphStore g({});
  StoreTestAccess::loaded(g.store) = false;
  ASSERT_TRUE(g->close());
  const std::string closed = "closed: operation on a closed store";
  EXPECT_EQ(g->get_node("a").error().text(), closed);
  EXPECT_EQ(g->query_nodes({}).error().text(), closed);
  EXPECT_EQ(g->count_nodes({}).error().text(), closed);
  EXPECT_EQ(g->get_edges_by_sources({}, std::nullopt).error().text(), closed);
  EXPECT_EQ(g->verify().error().text(), closed);
}

}  // namespace
}  // namespace tarnwick::store
