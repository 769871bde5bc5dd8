#include "query_exec/stages.hpp"

namespace tarnwick::query {

namespace {

// The far ends of the edges at `positions` that have `type`, each once, in edge order.
Candidates far_ends(const GraphSnapshot& snapshot, std::span<const std::size_t> positions, std::string_view type,
                    bool take_target) {
  Candidates seeds;
  IdSet seen;
  for (std::size_t j : positions) {
    if (snapshot.edge_type(j) != type) continue;
    const std::string_view id = take_target ? snapshot.edge_target(j) : snapshot.edge_source(j);
    if (seen.insert(id).second) seeds.push_back({id, snapshot.find(id)});
  }
  return seeds;
}

}  // namespace

Candidates source_ids(const GraphSnapshot& snapshot, const CompiledPlan& compiled) {
  Candidates out;
  // With unique ids a node is the one its id names; otherwise the last node of that id is.
  const bool unique = snapshot.ids_unique();
  for (std::size_t i = 0; i < snapshot.node_count(); ++i) {
    if (!compiled.type_passes(snapshot.node_type(i))) continue;
    const std::string_view id = snapshot.node_id(i);
    out.push_back({id, unique ? i : snapshot.find(id)});
  }
  return out;
}

Candidates matching_seeds(const GraphSnapshot& snapshot, const QueryPlan& plan, const CompiledPlan& compiled) {
  Candidates seeds;
  const EdgeFilter* f = plan.edge_filter ? &*plan.edge_filter : nullptr;
  if (f && f->source)
    seeds = far_ends(snapshot, snapshot.edges_by_source(*f->source), f->type, true);
  else if (f && f->target)
    seeds = far_ends(snapshot, snapshot.edges_by_target(*f->target), f->type, false);
  else
    seeds = source_ids(snapshot, compiled);
  std::erase_if(seeds, [&](const ListedId& c) {
    return c.node == GraphSnapshot::kNoNode || !match_node(snapshot, c.node, compiled);
  });
  return seeds;
}

}  // namespace tarnwick::query
