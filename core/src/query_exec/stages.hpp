#pragma once
// The stages of running a plan, each replacing the candidate list. Each listed id carries the
// position of the node it names (looked up once, when the id enters the list) so that later
// stages do not hash the id again.

#include <cstddef>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "query/plan.hpp"
#include "query_exec/compiled_plan.hpp"
#include "query_exec/graph_snapshot.hpp"

namespace tarnwick {
class HnswIndex;
}

namespace tarnwick::query {

struct ListedId {
  std::string_view id;  // a view into the snapshot
  std::size_t node;     // the position of the node `id` names, or kNoNode (possible after traversal)
};
using Candidates = std::vector<ListedId>;

// The ids of the snapshot's nodes that pass the node-type test, in list order.
Candidates source_ids(const GraphSnapshot& snapshot, const CompiledPlan& compiled);

// Seeds from the edge filter's source, else its target, else the node list; then keeps the
// candidates that name a node passing `match_node`.
Candidates matching_seeds(const GraphSnapshot& snapshot, const QueryPlan& plan, const CompiledPlan& compiled);

// Appends every id newly reached within the step's depth, once, in the order of discovery.
void traverse(Candidates& candidates, const GraphSnapshot& snapshot, const TraversalStep& step);

// Sorts stably by the numeric data field; only the first `needed` places are guaranteed (and
// kept), which is all that offset and limit will look at.
void order_by(Candidates& candidates, const GraphSnapshot& snapshot, const Order& order, std::size_t needed);

// Ranks by cosine similarity to the plan's vector over the nodes' own vectors.
Result<void> rank_exact(Candidates& candidates, const GraphSnapshot& snapshot, const Similarity& similarity);

// Ranks by the hits of an HNSW index; fails without one.
Result<void> rank_hnsw(Candidates& candidates, const Similarity& similarity, const HnswIndex* index);

// Runs every stage; the result is the final candidate list.
Result<Candidates> run_plan(GraphSnapshot& snapshot, const QueryPlan& plan, const HnswIndex* index);

}  // namespace tarnwick::query
