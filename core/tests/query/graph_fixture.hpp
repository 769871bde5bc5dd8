#pragma once
// Small graphs and plans written as JSON text, for the engine's tests.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.hpp"
#include "model/records.hpp"
#include "query/plan.hpp"
#include "query_exec/engine.hpp"
#include "query_exec/graph_snapshot.hpp"

namespace tarnwick::query::testing {

inline json::Value parse_json(std::string_view text) {
  auto v = json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v ? std::move(*v) : json::Value();
}

inline Node make_node(std::string id, std::string type, std::string_view data = "{}",
                      std::optional<std::vector<double>> vector = std::nullopt) {
  Node n;
  n.id = std::move(id);
  n.type = std::move(type);
  n.data = parse_json(data).as_object();
  n.vector = std::move(vector);
  return n;
}

inline Edge make_edge(std::string source, std::string target, std::string type) {
  Edge e;
  e.id = source + "->" + target + ":" + type;
  e.source = std::move(source);
  e.target = std::move(target);
  e.type = std::move(type);
  return e;
}

inline QueryPlan make_plan(std::string_view text) {
  json::Value v = parse_json(text);
  auto p = QueryPlan::deserialize(v);
  EXPECT_TRUE(p.has_value()) << text << ": " << (p ? "" : p.error().message);
  return p ? std::move(*p) : QueryPlan{};
}

using Ids = std::vector<std::string>;

// Runs `plan` over copies of the lists, as a query call would over freshly converted ones.
inline Result<Ids> run(const std::vector<Node>& nodes, const std::vector<Edge>& edges, std::string_view plan,
                       const HnswIndex* index = nullptr) {
  const QueryPlan read = make_plan(plan);
  GraphSnapshot snapshot(nodes, edges, Projection::of(read));
  return execute(snapshot, read, index);
}

inline Ids ids_of(const std::vector<Node>& nodes, const std::vector<Edge>& edges, std::string_view plan) {
  auto r = run(nodes, edges, plan);
  EXPECT_TRUE(r.has_value()) << plan << ": " << (r ? "" : r.error().text());
  return r ? *r : Ids{};
}

}  // namespace tarnwick::query::testing
