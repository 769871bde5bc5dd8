// Random graphs and plans run through the engine and through a plain reference written straight
// from the rules: full stable sorts, linear look-ups, cuts applied one after another. Ties are
// frequent on purpose, so any partial sort or window shortcut that is not stable shows up.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

#include "graph_fixture.hpp"

namespace tarnwick::query {
namespace {

using testing::Ids;
using testing::make_edge;
using testing::make_node;

struct Case {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
  std::string type;             // node type seeded
  std::optional<int> above;     // range filter on "k"
  std::vector<std::pair<bool, int>> steps;  // along "e": (outwards, depth)
  std::optional<bool> desc;     // order by "k"
  std::optional<std::uint64_t> top_k;
  bool similarity = false;      // query (1, 0), threshold -0.5
  std::optional<std::uint64_t> offset;
  std::optional<std::uint64_t> limit;

  std::string plan() const {
    std::string p = R"({"nodeTypes": [")" + type + R"("])";
    if (above) p += R"(, "attributes": [["range", "k", )" + std::to_string(*above) + ", null]]";
    if (!steps.empty()) {
      p += R"(, "traversal": [)";
      for (std::size_t i = 0; i < steps.size(); ++i)
        p += std::string(i ? ", " : "") + R"(["e", ")" + (steps[i].first ? "out" : "in") + "\", " +
             std::to_string(steps[i].second) + "]";
      p += "]";
    }
    if (desc) p += std::string(R"(, "order": ["k", ")") + (*desc ? "desc" : "asc") + "\"]";
    if (similarity) {
      p += R"(, "similarity": {"vector": [1, 0], "threshold": -0.5)";
      if (top_k) p += R"(, "topK": )" + std::to_string(*top_k);
      p += "}";
    }
    if (offset) p += R"(, "offset": )" + std::to_string(*offset);
    if (limit) p += R"(, "limit": )" + std::to_string(*limit);
    return p + "}";
  }
};

const Node* last_with_id(const std::vector<Node>& nodes, std::string_view id) {
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
    if (it->id == id) return &*it;
  return nullptr;
}

double key_of(const Node* n) {
  if (!n) return 0.0;
  const json::Value* v = n->data.if_contains("k");
  if (!v || !v->is_number()) return 0.0;
  const double d = v->to_number<double>();
  return std::isfinite(d) ? d : 0.0;
}

Ids reference(const Case& c) {
  Ids ids;
  for (const Node& n : c.nodes) {
    if (n.type != c.type) continue;
    // The seed is tested again as the last node carrying its id, whose type may differ.
    const Node* named = last_with_id(c.nodes, n.id);
    if (named->type != c.type) continue;
    if (c.above) {
      const json::Value* v = named->data.if_contains("k");
      if (!v || !v->is_number() || !(v->to_number<double>() > *c.above)) continue;
    }
    ids.push_back(n.id);
  }
  if (ids.empty()) return ids;
  for (const auto& [outwards, depth] : c.steps) {
    std::set<std::string> visited(ids.begin(), ids.end());
    Ids frontier = ids;
    for (int hop = 0; hop < depth; ++hop) {
      Ids next;
      for (const std::string& id : frontier)
        for (const Edge& e : c.edges) {
          const std::string& near = outwards ? e.source : e.target;
          const std::string& far = outwards ? e.target : e.source;
          if (near == id && e.type == "e" && visited.insert(far).second) {
            ids.push_back(far);
            next.push_back(far);
          }
        }
      frontier = next;
    }
  }
  if (c.desc) {
    std::stable_sort(ids.begin(), ids.end(), [&](const std::string& a, const std::string& b) {
      const double ka = key_of(last_with_id(c.nodes, a)), kb = key_of(last_with_id(c.nodes, b));
      return *c.desc ? ka > kb : ka < kb;
    });
  }
  if (c.similarity) {
    std::vector<std::pair<double, std::string>> rows;
    for (const std::string& id : ids) {
      const Node* n = last_with_id(c.nodes, id);
      if (!n || !n->vector) continue;
      const double x = (*n->vector)[0], y = (*n->vector)[1];
      const double norm = std::sqrt(1.0) * std::sqrt(x * x + y * y);
      const double score = norm == 0.0 ? 0.0 : x / norm;
      if (score >= -0.5) rows.emplace_back(score, id);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (c.top_k && *c.top_k < rows.size()) rows.resize(*c.top_k);
    ids.clear();
    for (const auto& row : rows) ids.push_back(row.second);
  }
  Ids out;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (c.offset && i < *c.offset) continue;
    if (c.limit && out.size() == *c.limit) break;
    out.push_back(ids[i]);
  }
  return out;
}

Case random_case(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Case c;
  const int node_count = pick(30);
  for (int i = 0; i < node_count; ++i) {
    const std::string id = "n" + std::to_string(pick(25));  // some ids repeat
    const int kind = pick(6);
    std::string data = kind == 0 ? "{}" : kind == 1 ? R"({"k": "s"})" : R"({"k": )" + std::to_string(pick(5) - 2) + "}";
    std::optional<std::vector<double>> vec;
    if (pick(4) != 0) vec = std::vector<double>{static_cast<double>(pick(3) - 1), static_cast<double>(pick(3) - 1)};
    c.nodes.push_back(make_node(id, pick(3) == 0 ? "b" : "a", data, vec));
  }
  const int edge_count = pick(40);
  for (int i = 0; i < edge_count; ++i)
    c.edges.push_back(make_edge("n" + std::to_string(pick(30)), "n" + std::to_string(pick(30)), pick(4) ? "e" : "f"));
  c.type = "a";
  if (pick(3) == 0) c.above = pick(3) - 2;
  for (int steps = pick(3); steps > 0; --steps) c.steps.emplace_back(pick(2) == 0, pick(3));
  if (pick(3)) c.desc = pick(2) == 0;
  c.similarity = pick(2) == 0;
  if (pick(2)) c.top_k = static_cast<std::uint64_t>(pick(12));
  if (pick(2)) c.offset = static_cast<std::uint64_t>(pick(8));
  if (pick(2)) c.limit = pick(5) == 0 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(pick(10));
  return c;
}

TEST(ReferenceComparison, RandomPlansAgreeWithAPlainEvaluation) {
  std::mt19937 rng(20261206);
  int non_empty = 0;
  for (int round = 0; round < 1000; ++round) {
    const Case c = random_case(rng);
    const std::string plan = c.plan();
    auto got = testing::run(c.nodes, c.edges, plan);
    ASSERT_TRUE(got.has_value()) << plan << ": " << got.error().text();
    ASSERT_EQ(*got, reference(c)) << "round " << round << ": " << plan;
    non_empty += !got->empty();
  }
  EXPECT_GT(non_empty, 300);  // the cases exercise real results, not mostly empty ones
}

}  // namespace
}  // namespace tarnwick::query
