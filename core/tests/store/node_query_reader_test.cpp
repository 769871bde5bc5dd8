#include <gtest/gtest.h>

#include <limits>

#include "store/query_fixture.hpp"

namespace tarnwick::store {
namespace {

using test::parse_json;
using test::read_query;

std::string read_error(std::string_view text) {
  json::Value v = parse_json(text);
  auto q = NodeQuery::deserialize(v);
  return q ? std::string("<read>") : q.error().text();
}

TEST(NodeQueryReader, RefusesEachMalformedKeyWithItsText) {
  const struct {
    const char* input;
    const char* error;
  } cases[] = {
      {R"("x")", R"(invalid type: string "x", expected struct NodeQuery)"},
      {"7", "invalid type: integer `7`, expected struct NodeQuery"},
      {"[null,null,null,null,null,null,null,null,null,null]", "invalid length 10, expected fewer elements in array"},
      {R"({"offset": -1})", "invalid value: integer `-1`, expected usize"},
      {R"({"limit": 1.5})", "invalid type: floating point `1.5`, expected usize"},
      {R"({"limit": 1.0})", "invalid type: floating point `1.0`, expected usize"},
      {R"({"maxNodesVisited": "3"})", R"(invalid type: string "3", expected usize)"},
      {R"({"maxResultSize": true})", "invalid type: boolean `true`, expected usize"},
      {R"({"nodeTypes": "note"})", R"(invalid type: string "note", expected a sequence)"},
      {R"({"candidateIds": [7]})", "invalid type: integer `7`, expected a string"},
      {R"({"attributes": []})", "invalid type: sequence, expected a map"},
      {R"({"attributeRanges": []})", "invalid type: sequence, expected a map"},
      {R"({"attributeRanges": {"x": 5}})", "invalid type: integer `5`, expected struct RangeQuery"},
      {R"({"attributeRanges": {"x": {"above": "3"}}})", R"(invalid type: string "3", expected f64)"},
      {R"({"attributeRanges": {"x": [1, 2, 3]}})", "invalid length 3, expected fewer elements in array"},
      {R"({"attributeRanges": {"x": [true]}})", "invalid type: boolean `true`, expected f64"},
      {R"({"orderBy": {"direction": "desc"}})", "missing field `field`"},
      {R"({"orderBy": {}})", "missing field `field`"},
      {R"({"orderBy": {"field": "rank"}})", "missing field `direction`"},
      {R"({"orderBy": {"field": null, "direction": "desc"}})", "invalid type: null, expected a string"},
      {R"({"orderBy": ["rank"]})", "invalid length 1, expected struct OrderBy with 2 elements"},
      {R"({"orderBy": ["rank", "desc", "x"]})", "invalid length 3, expected fewer elements in array"},
      {R"({"orderBy": "rank"})", R"(invalid type: string "rank", expected struct OrderBy)"},
      // The first bad value in the object's order is the one reported.
      {R"({"limit": -2, "offset": -1})", "invalid value: integer `-2`, expected usize"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_error(c.input), c.error) << c.input;
}

TEST(NodeQueryReader, ObjectAndArrayFormsReadAlike) {
  const NodeQuery from_object = read_query(R"({
      "candidateIds": ["a", "a"], "nodeTypes": [], "attributes": {"k": 1, "m.n": null},
      "attributeRanges": {"s": {"above": 1, "below": 2.5}, "t": {}},
      "orderBy": {"field": "rank", "direction": "desc", "extra": 1},
      "offset": 0, "limit": 18446744073709551615, "maxNodesVisited": 3, "maxResultSize": 4, "other": [1]})");
  const NodeQuery from_array = read_query(R"([["a", "a"], [], {"k": 1, "m.n": null},
      {"s": [1, 2.5], "t": []}, ["rank", "desc"], 0, 18446744073709551615, 3, 4])");
  EXPECT_EQ(from_object, from_array);
  ASSERT_TRUE(from_object.limit);
  EXPECT_EQ(*from_object.limit, std::numeric_limits<std::uint64_t>::max());
  ASSERT_TRUE(from_object.attribute_ranges);
  EXPECT_EQ((*from_object.attribute_ranges)[0].second, (RangeQuery{1.0, 2.5}));
  EXPECT_EQ((*from_object.attribute_ranges)[1].second, RangeQuery{});
  EXPECT_TRUE(from_object.order_by->descending());
}

TEST(NodeQueryReader, NullAndShortArraysLeaveFieldsNotGiven) {
  EXPECT_EQ(read_query(R"({"candidateIds": null, "orderBy": null, "limit": null, "attributes": null})"), NodeQuery{});
  EXPECT_EQ(read_query("[]"), NodeQuery{});
  EXPECT_EQ(read_query(R"([null, ["note"]])").node_types, std::vector<std::string>{"note"});
  // Empty lists and objects are given, not absent.
  const NodeQuery empty = read_query(R"({"nodeTypes": [], "attributes": {}, "attributeRanges": {}})");
  EXPECT_TRUE(empty.node_types && empty.attributes && empty.attribute_ranges);
}

TEST(NodeQueryReader, DirectionIsDescendingOnlyWhenExactlyDesc) {
  for (const auto& [direction, descending] :
       std::vector<std::pair<std::string, bool>>{{"desc", true}, {"DESC", false}, {"asc", false}, {"", false}}) {
    json::Value v = parse_json(R"(["rank", ")" + direction + R"("])");
    auto order = OrderBy::deserialize(v);
    ASSERT_TRUE(order);
    EXPECT_EQ(order->descending(), descending) << direction;
  }
}

}  // namespace
}  // namespace tarnwick::store
