// Edges by the ids of their source or target nodes, answered from the adjacency maps alone:
// the edge map is only asked for the records the adjacency names.
#include "storage/store/store.hpp"

namespace tarnwick::store {

std::vector<Edge> Store::edges_listed_under(const TextMap<TextSet>& adjacency, std::span<const std::string> ids,
                                            const std::optional<std::string>& edge_type) const {
  std::vector<Edge> out;
  if (ids.empty() || adjacency.empty()) return out;
  // Each edge id sits under exactly one key of an adjacency map, so skipping repeated node ids
  // is enough to return each edge once.
  TextSet seen;
  if (ids.size() > 1) seen.reserve(ids.size());
  for (const std::string& id : ids) {
    if (ids.size() > 1 && !seen.insert(id).second) continue;
    const auto listed = adjacency.find(id);
    if (listed == adjacency.end()) continue;
    for (const std::string& edge_id : listed->second) {
      const auto edge = edges_.find(edge_id);
      if (edge == edges_.end()) continue;
      if (edge_type && edge->second.type != *edge_type) continue;
      out.push_back(edge->second);
    }
  }
  return out;
}

Result<std::vector<Edge>> Store::get_edges_by_sources(std::span<const std::string> ids,
                                                      const std::optional<std::string>& edge_type) {
  TARNWICK_TRY(ensure_loaded());
  return edges_listed_under(edges_by_source_, ids, edge_type);
}

Result<std::vector<Edge>> Store::get_edges_by_targets(std::span<const std::string> ids,
                                                      const std::optional<std::string>& edge_type) {
  TARNWICK_TRY(ensure_loaded());
  return edges_listed_under(edges_by_target_, ids, edge_type);
}

}  // namespace tarnwick::store
