#pragma once
// The query-plan engine's entry points. A call reads the plan, moves the caller's lists into a
// snapshot, runs the plan (or aggregates over its result) and drops both:
//
//   auto plan = query::QueryPlan::deserialize(plan_value);       // ReadError: plan->message
//   query::GraphSnapshot snapshot(std::move(nodes), std::move(edges), query::Projection::of(*plan));
//   Result<std::vector<std::string>> ids = query::execute(snapshot, *plan, nullptr);
//   Result<query::Aggregate> agg = query::aggregate(snapshot, *plan, field, op);  // projected with `field`

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "query/plan.hpp"
#include "query_exec/graph_snapshot.hpp"

namespace tarnwick {
class HnswIndex;
}

namespace tarnwick::query {

// The node ids the plan selects, in result order. `index` serves the "hnsw" similarity engine;
// without one that engine fails whenever candidates remain. The snapshot is taken by reference
// to build its edge maps when the plan needs them; nothing else of it changes.
Result<std::vector<std::string>> execute(GraphSnapshot& snapshot, const QueryPlan& plan, const HnswIndex* index);

struct Aggregate {
  double value = 0.0;
  std::uint64_t count = 0;  // how many values `value` was computed from
};

// Runs the plan without an index and reduces the finite numbers under `field` in the result
// nodes' data with `op`: "count", "sum", "avg", "min" or "max".
Result<Aggregate> aggregate(GraphSnapshot& snapshot, const QueryPlan& plan, std::string_view field,
                            std::string_view op);

}  // namespace tarnwick::query
