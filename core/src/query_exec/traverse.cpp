#include "query_exec/stages.hpp"

namespace tarnwick::query {

namespace {

// The ids already listed. An id that names a node is marked by that node's position, which its
// look-up has already given; only ids that name no node are hashed again.
class VisitedIds {
 public:
  explicit VisitedIds(const GraphSnapshot& snapshot) : named_(snapshot.node_count()) {}

  // True when `id` was not yet listed.
  bool insert(std::string_view id, std::size_t node) {
    if (node == GraphSnapshot::kNoNode) return unnamed_.insert(id).second;
    auto mark = named_[node];
    if (mark) return false;
    mark = true;
    return true;
  }

 private:
  std::vector<bool> named_;
  IdSet unnamed_;
};

}  // namespace

void traverse(Candidates& candidates, const GraphSnapshot& snapshot, const TraversalStep& step) {
  if (step.depth == 0) return;
  VisitedIds visited(snapshot);
  std::vector<std::string_view> frontier;
  frontier.reserve(candidates.size());
  for (const ListedId& c : candidates)
    if (visited.insert(c.id, c.node)) frontier.push_back(c.id);
  const bool out = step.direction == Direction::Out;
  std::vector<std::string_view> next;
  for (std::uint64_t hop = 0; hop < step.depth && !frontier.empty(); ++hop) {
    next.clear();
    for (std::string_view id : frontier) {
      for (std::size_t j : out ? snapshot.edges_by_source(id) : snapshot.edges_by_target(id)) {
        if (snapshot.edge_type(j) != step.edge_type) continue;
        const std::string_view neighbour = out ? snapshot.edge_target(j) : snapshot.edge_source(j);
        const std::size_t node = snapshot.find(neighbour);
        if (!visited.insert(neighbour, node)) continue;
        candidates.push_back({neighbour, node});
        next.push_back(neighbour);
      }
    }
    frontier.swap(next);
  }
}

}  // namespace tarnwick::query
