// The query-plan engine over synthetic graphs: building the snapshot, then the plans the Python
// benchmark compares against plain Python (a filter + order + limit, a one-hop traversal) and
// an aggregate. Each plan runs on a fresh snapshot, as a query call does.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "json/json.hpp"
#include "query_exec/engine.hpp"

namespace tarnwick::query {
namespace {

struct Graph {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
};

Graph make_graph(std::size_t n) {
  Graph g;
  g.nodes.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    Node node;
    node.id = "node-" + std::to_string(i);
    node.type = i % 3 == 0 ? "person" : "note";
    node.data = json::Object{{"score", static_cast<double>((i * 7919) % 1000) / 10.0},
                             {"rank", static_cast<std::int64_t>(i % 100)},
                             {"title", "memory " + std::to_string(i)}};
    g.nodes.push_back(std::move(node));
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t hop : {1u, 7u}) {
      Edge e;
      e.id = "edge-" + std::to_string(i) + "-" + std::to_string(hop);
      e.source = g.nodes[i].id;
      e.target = g.nodes[(i + hop) % n].id;
      e.type = hop == 1 ? "next" : "mentions";
      g.edges.push_back(std::move(e));
    }
  }
  return g;
}

QueryPlan plan_of(std::string_view text) {
  json::Value v = *json::parse(text);
  return *QueryPlan::deserialize(v);
}

const Graph& graph(std::size_t n) {
  static const Graph small = make_graph(10'000);
  static const Graph large = make_graph(100'000);
  return n == 10'000 ? small : large;
}

void run_plan(benchmark::State& state, std::string_view text) {
  const Graph& g = graph(static_cast<std::size_t>(state.range(0)));
  const QueryPlan plan = plan_of(text);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Node> nodes = g.nodes;
    std::vector<Edge> edges = g.edges;
    state.ResumeTiming();
    GraphSnapshot snapshot(std::move(nodes), std::move(edges), Projection::of(plan));
    auto ids = execute(snapshot, plan, nullptr);
    benchmark::DoNotOptimize(ids);
    state.PauseTiming();
    { GraphSnapshot dropped(std::move(snapshot)); }
    state.ResumeTiming();
  }
}

void BM_FilterOrderLimit(benchmark::State& state) {
  run_plan(state, R"({"nodeTypes": ["person"],
                      "attributes": [{"operator": "range", "field": "score", "above": 10}],
                      "order": {"field": "score", "direction": "desc"}, "limit": 20})");
}

void BM_OneHopTraversal(benchmark::State& state) {
  run_plan(state, R"({"nodeTypes": ["person"], "traversal": [{"edgeType": "next", "direction": "out", "depth": 1}]})");
}

void BM_EqFilterAllNodes(benchmark::State& state) {
  run_plan(state, R"({"attributes": [{"operator": "eq", "field": "rank", "value": 42}]})");
}

void BM_Aggregate(benchmark::State& state) {
  const Graph& g = graph(static_cast<std::size_t>(state.range(0)));
  const QueryPlan plan = plan_of(R"({"nodeTypes": ["note"]})");
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Node> nodes = g.nodes;
    std::vector<Edge> edges = g.edges;
    state.ResumeTiming();
    GraphSnapshot snapshot(std::move(nodes), std::move(edges), Projection::of(plan, "score"));
    auto result = aggregate(snapshot, plan, "score", "avg");
    benchmark::DoNotOptimize(result);
    state.PauseTiming();
    { GraphSnapshot dropped(std::move(snapshot)); }
    state.ResumeTiming();
  }
}

BENCHMARK(BM_FilterOrderLimit)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneHopTraversal)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EqFilterAllNodes)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Aggregate)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick::query
