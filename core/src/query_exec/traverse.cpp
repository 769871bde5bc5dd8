#include "query_exec/stages.hpp"

namespace tarnwick::query {

void traverse(Candidates& candidates, const GraphSnapshot& snapshot, const TraversalStep& step) {
  if (step.depth == 0) return;
  IdSet visited;
  visited.reserve(candidates.size());
  std::vector<std::string_view> frontier;
  frontier.reserve(candidates.size());
  for (const Candidate& c : candidates) {
    visited.insert(c.id);
    frontier.push_back(c.id);
  }
  const bool out = step.direction == Direction::Out;
  std::vector<std::string_view> next;
  for (std::uint64_t hop = 0; hop < step.depth && !frontier.empty(); ++hop) {
    next.clear();
    for (std::string_view id : frontier) {
      for (std::size_t j : out ? snapshot.edges_by_source(id) : snapshot.edges_by_target(id)) {
        const Edge& e = snapshot.edges()[j];
        if (e.type != step.edge_type) continue;
        const std::string_view neighbour = out ? e.target : e.source;
        if (!visited.insert(neighbour).second) continue;
        candidates.push_back({neighbour, snapshot.get(neighbour)});
        next.push_back(neighbour);
      }
    }
    frontier.swap(next);
  }
}

}  // namespace tarnwick::query
