#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "json/json.hpp"
#include "query/plan.hpp"

namespace tarnwick::query {
namespace {

json::Value parse(std::string_view text) {
  auto v = json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v ? *v : json::Value();
}

ReadResult<QueryPlan> read_plan(std::string_view text) {
  json::Value v = parse(text);
  return QueryPlan::deserialize(v);
}

QueryPlan plan_of(std::string_view text) {
  auto p = read_plan(text);
  EXPECT_TRUE(p.has_value()) << text << " -> " << (p ? "" : p.error().message);
  return p ? std::move(*p) : QueryPlan{};
}

struct Refusal {
  std::string plan;
  std::string_view message;
};

void expect_refusals(const std::vector<Refusal>& table) {
  for (const auto& [plan, message] : table) {
    auto p = read_plan(plan);
    ASSERT_FALSE(p.has_value()) << plan;
    EXPECT_EQ(p.error().message, message) << plan;
    EXPECT_EQ(p.error().text(), message) << "no position for a value: " << plan;
  }
}

TEST(PlanReader, EmptyFormsAndIgnoredKeys) {
  for (std::string_view text : {"{}", "[]", R"({"nodeTypes": null})", R"({"nodetypes": ["a"], "extra": 1})"}) {
    QueryPlan p = plan_of(text);
    EXPECT_FALSE(p.node_types || p.attributes || p.edge_filter || p.traversal || p.joins || p.similarity ||
                 p.order || p.offset || p.limit)
        << text;
  }
  QueryPlan empty_types = plan_of(R"({"nodeTypes": []})");
  ASSERT_TRUE(empty_types.node_types.has_value());
  EXPECT_TRUE(empty_types.node_types->empty());
}

TEST(PlanReader, PlanLevelRefusals) {
  expect_refusals({
      {R"("x")", "invalid type: string \"x\", expected struct QueryPlan"},
      {"null", "invalid type: null, expected struct QueryPlan"},
      {"[null,null,null,null,null,null,null,null,null,null]", "invalid length 10, expected fewer elements in array"},
      {R"({"nodeTypes": "a"})", "invalid type: string \"a\", expected a sequence"},
      {R"({"nodeTypes": ["a", 1]})", "invalid type: integer `1`, expected a string"},
      {R"({"attributes": {}})", "invalid type: map, expected a sequence"},
      {R"({"limit": -1, "edgeFilter": {}})", "invalid value: integer `-1`, expected usize"},
      {R"({"edgeFilter": {}, "limit": -1})", "missing field `type`"},
      {R"({"traversal": [{"edgeType": "a", "direction": "in", "depth": 1}, {"edgeType": "b", "direction": "out"}]})",
       "missing field `depth`"},
  });
}

TEST(PlanReader, OffsetAndLimitAreUsize) {
  QueryPlan p = plan_of(R"({"offset": 0, "limit": 18446744073709551615})");
  EXPECT_EQ(p.offset, 0u);
  EXPECT_EQ(p.limit, std::numeric_limits<std::uint64_t>::max());
  EXPECT_FALSE(plan_of(R"({"limit": null})").limit.has_value());
  expect_refusals({
      {R"({"offset": -1})", "invalid value: integer `-1`, expected usize"},
      {R"({"offset": 2.0})", "invalid type: floating point `2.0`, expected usize"},
      {R"({"limit": 1.5})", "invalid type: floating point `1.5`, expected usize"},
      {R"({"limit": "5"})", "invalid type: string \"5\", expected usize"},
      {R"({"limit": true})", "invalid type: boolean `true`, expected usize"},
  });
  // The array form: fields in order, trailing ones may be left out.
  QueryPlan arr = plan_of(R"([["a"], null, null, null, null, null, null, 3])");
  EXPECT_EQ(arr.node_types, std::vector<std::string>{"a"});
  EXPECT_EQ(arr.offset, 3u);
  EXPECT_FALSE(arr.limit.has_value());
}

TEST(PlanReader, AttributeFilterForms) {
  QueryPlan p = plan_of(R"({"attributes": [
      {"operator": "eq", "field": "x", "value": null},
      {"operator": "range", "field": "x"},
      {"operator": "range", "field": "x", "above": 1},
      {"operator": "eq", "field": "x", "value": 2, "above": 1},
      ["eq", "x", 1],
      ["range", "x", null, 5],
      {"value": {"b": 1, "a": [1, 2.0]}, "operator": "eq", "field": "y"}]})");
  ASSERT_EQ(p.attributes->size(), 7u);
  const auto& f = *p.attributes;
  const auto& eq_null = std::get<AttributeFilter::Eq>(f[0].test);
  EXPECT_EQ(eq_null.field, "x");
  EXPECT_TRUE(eq_null.value.is_null());
  const auto& open = std::get<AttributeFilter::Range>(f[1].test);
  EXPECT_FALSE(open.above || open.below);
  EXPECT_EQ(std::get<AttributeFilter::Range>(f[2].test).above, 1.0);
  EXPECT_TRUE(std::get<AttributeFilter::Eq>(f[3].test).value.is_int64());
  const auto& from_array = std::get<AttributeFilter::Eq>(f[4].test);
  EXPECT_EQ(from_array.field, "x");
  EXPECT_EQ(from_array.value.as_int64(), 1);
  const auto& upper_only = std::get<AttributeFilter::Range>(f[5].test);
  EXPECT_FALSE(upper_only.above.has_value());
  EXPECT_EQ(upper_only.below, 5.0);
  // The value is kept as read: key order and number kinds.
  EXPECT_EQ(json::print(std::get<AttributeFilter::Eq>(f[6].test).value), R"({"b":1,"a":[1,2.0]})");
}

TEST(PlanReader, AttributeFilterRefusals) {
  auto one = [](std::string_view filter) { return "{\"attributes\": [" + std::string(filter) + "]}"; };
  expect_refusals({
      {one(R"({"field": "x", "value": 1})"), "missing field `operator`"},
      {one(R"({"operator": "gt", "field": "x"})"), "unknown variant `gt`, expected `eq` or `range`"},
      {one(R"({"operator": "EQ"})"), "unknown variant `EQ`, expected `eq` or `range`"},
      {one(R"({"field": 5, "operator": 1})"), "invalid type: integer `1`, expected variant identifier"},
      {one(R"({"field": 5, "operator": {"eq": null}})"), "invalid type: map, expected variant identifier"},
      {one(R"({"operator": "eq", "field": "x"})"), "missing field `value`"},
      {one(R"({"operator": "eq", "value": 1})"), "missing field `field`"},
      {one(R"({"operator": "eq", "field": 5, "value": 1})"), "invalid type: integer `5`, expected a string"},
      {one(R"({"operator": "range", "field": "x", "above": "1"})"), "invalid type: string \"1\", expected f64"},
      {one(R"(["eq", "x"])"), "invalid length 1, expected struct variant AttributeFilter::Eq with 2 elements"},
      {one(R"(["eq", "x", 1, 2])"), "invalid length 3, expected 2 elements in sequence"},
      {one(R"(["range", "x", 1])"), "invalid length 2, expected struct variant AttributeFilter::Range with 3 elements"},
      {one(R"(["range", "x", 1, 2, 3])"), "invalid length 4, expected 3 elements in sequence"},
      {one(R"(["eq", 7, 1, 2])"), "invalid type: integer `7`, expected a string"},
      {one("[]"), "missing field `operator`"},
      {one(R"("x")"), "invalid type: string \"x\", expected internally tagged enum AttributeFilter"},
  });
}

TEST(PlanReader, EdgeFilterForms) {
  QueryPlan p = plan_of(R"({"edgeFilter": {"type": "knows", "target": null}})");
  EXPECT_EQ(p.edge_filter->type, "knows");
  EXPECT_FALSE(p.edge_filter->target || p.edge_filter->source);
  EXPECT_FALSE(plan_of(R"({"edgeFilter": ["knows"]})").edge_filter->target.has_value());
  QueryPlan src = plan_of(R"({"edgeFilter": ["knows", null, "a"]})");
  EXPECT_FALSE(src.edge_filter->target.has_value());
  EXPECT_EQ(src.edge_filter->source, "a");
  expect_refusals({
      {R"({"edgeFilter": {}})", "missing field `type`"},
      {R"({"edgeFilter": {"type": 5}})", "invalid type: integer `5`, expected a string"},
      {R"({"edgeFilter": []})", "invalid length 0, expected struct EdgeFilter with 3 elements"},
      {R"({"edgeFilter": ["knows", "a", "b", "c"]})", "invalid length 4, expected fewer elements in array"},
      {R"({"edgeFilter": true})", "invalid type: boolean `true`, expected struct EdgeFilter"},
  });
}

TEST(PlanReader, TraversalAndJoinForms) {
  QueryPlan p = plan_of(R"({"traversal": [{"edgeType": "knows", "direction": "out", "depth": 0},
                                          ["likes", {"in": null}, 3]],
                            "joins": [["knows", "in"], {"edgeType": "x", "direction": "out"}]})");
  ASSERT_EQ(p.traversal->size(), 2u);
  EXPECT_EQ((*p.traversal)[0].depth, 0u);
  EXPECT_EQ((*p.traversal)[1].edge_type, "likes");
  EXPECT_EQ((*p.traversal)[1].direction, Direction::In);
  EXPECT_EQ((*p.traversal)[1].depth, 3u);
  ASSERT_EQ(p.joins->size(), 2u);
  EXPECT_EQ((*p.joins)[0].direction, Direction::In);
  EXPECT_EQ((*p.joins)[1].direction, Direction::Out);
  auto step = [](std::string_view s) { return "{\"traversal\": [" + std::string(s) + "]}"; };
  auto join = [](std::string_view s) { return "{\"joins\": [" + std::string(s) + "]}"; };
  expect_refusals({
      {step(R"({"edgeType": "knows", "direction": "out"})"), "missing field `depth`"},
      {step(R"({"edgeType": "knows", "depth": 1})"), "missing field `direction`"},
      {step(R"(["knows", "in"])"), "invalid length 2, expected struct TraversalStep with 3 elements"},
      {step(R"(["knows", "OUT", 1])"), "unknown variant `OUT`, expected `out` or `in`"},
      {step(R"(["knows", null, 1])"), "invalid type: null, expected string or map"},
      {step(R"(["knows", "in", -2])"), "invalid value: integer `-2`, expected usize"},
      {join(R"(["knows"])"), "invalid length 1, expected struct Join with 2 elements"},
      {join(R"({"direction": "in"})"), "missing field `edgeType`"},
      {join(R"(["knows", {"in": 1}])"), "invalid type: integer `1`, expected unit"},
      {join(R"(["knows", {"up": 1}])"), "unknown variant `up`, expected `out` or `in`"},
      {join(R"(["knows", {}])"), "invalid value: map, expected map with a single key"},
      {join(R"(["knows", {"in": null, "out": null}])"), "invalid value: map, expected map with a single key"},
      {join(R"(["knows", 1])"), "invalid type: integer `1`, expected string or map"},
  });
}

TEST(PlanReader, SimilarityAndOrderForms) {
  QueryPlan p = plan_of(R"({"similarity": {"vector": [1, 2], "threshold": 0, "engine": null},
                            "order": ["score", "desc"]})");
  EXPECT_EQ(p.similarity->vector, (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(p.similarity->threshold, 0.0);
  EXPECT_FALSE(p.similarity->top_k.has_value());
  EXPECT_EQ(p.similarity->engine, SimilarityEngine::Exact);
  EXPECT_EQ(p.order->field, "score");
  EXPECT_EQ(p.order->direction, OrderDirection::Desc);
  QueryPlan arr = plan_of(R"({"similarity": [[1.0], 0.5, 9223372036854775807, "hnsw"]})");
  EXPECT_EQ(arr.similarity->top_k, 9223372036854775807u);
  EXPECT_EQ(arr.similarity->engine, SimilarityEngine::Hnsw);
  EXPECT_TRUE(plan_of(R"({"similarity": [[], 0.5]})").similarity->vector.empty());
  auto sim = [](std::string_view s) { return "{\"similarity\": " + std::string(s) + "}"; };
  expect_refusals({
      {sim(R"({"threshold": 0.5})"), "missing field `vector`"},
      {sim(R"({"vector": [1.0]})"), "missing field `threshold`"},
      {sim("{}"), "missing field `vector`"},
      {sim(R"({"vector": [1, "a"], "threshold": 0})"), "invalid type: string \"a\", expected f64"},
      {sim(R"({"vector": null, "threshold": 0})"), "invalid type: null, expected a sequence"},
      {sim(R"({"vector": [], "threshold": null})"), "invalid type: null, expected f64"},
      {sim(R"({"vector": [], "threshold": 0, "topK": -1})"), "invalid value: integer `-1`, expected usize"},
      {sim(R"({"vector": [], "threshold": 0, "engine": "HNSW"})"), "unknown variant `HNSW`, expected `exact` or `hnsw`"},
      {sim("[[1.0]]"), "invalid length 1, expected struct Similarity with 4 elements"},
      {sim(R"([[1.0], 0, 1, "exact", 5])"), "invalid length 5, expected fewer elements in array"},
      {R"({"order": {"field": "score"}})", "missing field `direction`"},
      {R"({"order": {"field": "score", "direction": "DESC"}})", "unknown variant `DESC`, expected `asc` or `desc`"},
      {R"({"order": ["score"]})", "invalid length 1, expected struct Order with 2 elements"},
  });
}

}  // namespace
}  // namespace tarnwick::query
