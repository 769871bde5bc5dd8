#include <gtest/gtest.h>

#include <cmath>

#include "graph_fixture.hpp"

namespace tarnwick::query {
namespace {

using testing::make_edge;
using testing::make_node;
using testing::make_plan;

Result<Aggregate> agg(const std::vector<Node>& nodes, std::string_view plan, std::string_view field,
                      std::string_view op, const std::vector<Edge>& edges = {}) {
  const QueryPlan read = make_plan(plan);
  GraphSnapshot snapshot(nodes, edges, Projection::of(read, field));
  return aggregate(snapshot, read, field, op);
}

Aggregate ok(const std::vector<Node>& nodes, std::string_view plan, std::string_view field, std::string_view op) {
  auto r = agg(nodes, plan, field, op);
  EXPECT_TRUE(r.has_value()) << op << ": " << (r ? "" : r.error().text());
  return r ? *r : Aggregate{std::nan(""), 999};
}

TEST(Aggregate, FiveOpsOverTheNumbersFound) {
  std::vector<Node> nodes = {make_node("a", "t", R"({"v": 1})"),    make_node("b", "t", R"({"v": "7"})"),
                             make_node("c", "t", R"({"v": 2.5})"),  make_node("d", "t"),
                             make_node("e", "t", R"({"v": null})"), make_node("f", "t", R"({"v": -4})"),
                             make_node("g", "t", R"({"v": [1]})"),  make_node("h", "t", R"({"v": true})")};
  // Only a, c and f hold numbers: 1, 2.5 and -4.
  EXPECT_EQ(ok(nodes, "{}", "v", "count").value, 3.0);
  EXPECT_EQ(ok(nodes, "{}", "v", "count").count, 3u);
  EXPECT_EQ(ok(nodes, "{}", "v", "sum").value, -0.5);
  EXPECT_EQ(ok(nodes, "{}", "v", "avg").value, -0.5 / 3.0);
  EXPECT_EQ(ok(nodes, "{}", "v", "min").value, -4.0);
  EXPECT_EQ(ok(nodes, "{}", "v", "max").value, 2.5);
  EXPECT_EQ(ok(nodes, "{}", "v", "max").count, 3u);
  const Aggregate avg = ok({make_node("a", "t", R"({"v": 1})"), make_node("b", "t", R"({"v": 2})")}, "{}", "v", "avg");
  EXPECT_EQ(avg.value, 1.5);
  EXPECT_EQ(avg.count, 2u);
}

TEST(Aggregate, SignedZerosAndLargeIntegers) {
  std::vector<Node> neg_zero = {make_node("a", "t", R"({"v": -0.0})")};
  EXPECT_TRUE(std::signbit(ok(neg_zero, "{}", "v", "sum").value));
  std::vector<Node> zeros = {make_node("a", "t", R"({"v": 0.0})"), make_node("b", "t", R"({"v": -0.0})")};
  EXPECT_TRUE(std::signbit(ok(zeros, "{}", "v", "min").value));
  EXPECT_FALSE(std::signbit(ok(zeros, "{}", "v", "max").value));
  std::vector<Node> zeros_reversed = {zeros[1], zeros[0]};
  EXPECT_TRUE(std::signbit(ok(zeros_reversed, "{}", "v", "min").value));
  EXPECT_FALSE(std::signbit(ok(zeros_reversed, "{}", "v", "max").value));
  // Each integer becomes the nearest double before it is added: 2^53 + 1 becomes 2^53, and
  // 2^53 + 1.0 rounds back to 2^53 (an integer sum converted afterwards would be 2^53 + 2).
  std::vector<Node> big = {make_node("a", "t", R"({"v": 9007199254740993})"), make_node("b", "t", R"({"v": 1})")};
  EXPECT_EQ(ok(big, "{}", "v", "sum").value, 9007199254740992.0);
  EXPECT_EQ(ok(big, "{}", "v", "max").value, 9007199254740992.0);
}

TEST(Aggregate, FollowsThePlanResult) {
  std::vector<Node> nodes = {make_node("a", "t", R"({"v": 1})"), make_node("b", "t", R"({"v": 10})"),
                             make_node("c", "t", R"({"v": 100})"), make_node("a", "t", R"({"v": 1000})")};
  // Offset and limit apply first; the order decides the page.
  EXPECT_EQ(ok(nodes, R"({"order": ["v", "desc"], "limit": 2})", "v", "sum").value, 2000.0);
  EXPECT_EQ(ok(nodes, R"({"order": ["v", "asc"], "offset": 1, "limit": 1})", "v", "sum").value, 100.0);
  // A repeated id contributes once per occurrence, each time with the last node's value.
  EXPECT_EQ(ok(nodes, "{}", "v", "sum").value, 2110.0);
  // Traversal may reach ids that name no node; they are skipped.
  auto walked = agg({make_node("s", "t", R"({"v": 3})")}, R"({"traversal": [["e", "out", 1]]})", "v", "count",
                    {make_edge("s", "ghost", "e")});
  ASSERT_TRUE(walked.has_value());
  EXPECT_EQ(walked->count, 1u);
}

TEST(Aggregate, NothingFoundGivesZero) {
  std::vector<Node> nodes = {make_node("a", "t", R"({"v": "x"})")};
  for (std::string_view op : {"count", "sum", "avg", "min", "max"}) {
    const Aggregate a = ok(nodes, "{}", "v", op);
    EXPECT_EQ(a.value, 0.0) << op;
    EXPECT_EQ(a.count, 0u) << op;
  }
  EXPECT_EQ(ok({}, "{}", "v", "min").count, 0u);
}

TEST(Aggregate, UnknownOpFailsEvenWithoutValues) {
  std::vector<Node> nodes = {make_node("a", "t", R"({"v": 1})")};
  for (std::string_view op : {"COUNT", "mean", "", "sum "}) {
    auto r = agg(nodes, "{}", "v", op);
    ASSERT_FALSE(r.has_value()) << op;
    EXPECT_EQ(r.error().text(), "invalid_argument: unknown aggregate op " + std::string(op));
  }
  auto none = agg(nodes, R"({"nodeTypes": []})", "v", "mean");
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(none.error().text(), "invalid_argument: unknown aggregate op mean");
  auto missing_field = agg(nodes, "{}", "w", "median");
  ASSERT_FALSE(missing_field.has_value());
  EXPECT_EQ(missing_field.error().text(), "invalid_argument: unknown aggregate op median");
}

TEST(Aggregate, PlanErrorsComeFirst) {
  std::vector<Node> nodes = {make_node("a", "t", R"({"v": 1})", std::vector<double>{1.0})};
  auto hnsw = agg(nodes, R"({"similarity": {"vector": [1], "threshold": 0, "engine": "hnsw"}})", "v", "bogus");
  ASSERT_FALSE(hnsw.has_value());
  EXPECT_EQ(hnsw.error().text(), "invalid_argument: similarity.engine=hnsw requires an hnsw index");
  auto dims = agg(nodes, R"({"similarity": {"vector": [1, 2], "threshold": 0}})", "v", "sum");
  ASSERT_FALSE(dims.has_value());
  EXPECT_EQ(dims.error().text(), "dimension_mismatch: expected 2 dimensions, got 1");
  // Similarity drops what it does not rank before the values are gathered.
  std::vector<Node> ranked = {nodes[0], make_node("b", "t", R"({"v": 5})"),
                              make_node("c", "t", R"({"v": 7})", std::vector<double>{-1.0})};
  EXPECT_EQ(ok(ranked, R"({"similarity": {"vector": [1], "threshold": 0}})", "v", "sum").value, 1.0);
}

}  // namespace
}  // namespace tarnwick::query
