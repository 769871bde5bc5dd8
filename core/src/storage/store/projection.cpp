#include "storage/store/projection.hpp"

namespace tarnwick::store {

Projection::Projection(const TextMap<StoredNode>& nodes, const TextMap<Edge>& edges, const ChangeBatch& batch)
    : nodes_(nodes), edges_(edges), batch_(batch) {
  for (const Node& n : batch.put_nodes) put_nodes_.insert_or_assign(n.id, &n);
  for (const Edge& e : batch.put_edges) put_edges_.insert_or_assign(e.id, &e);
  deleted_nodes_.insert(batch.delete_node_ids.begin(), batch.delete_node_ids.end());
  deleted_edges_.insert(batch.delete_edge_ids.begin(), batch.delete_edge_ids.end());
  for (const auto& [id, e] : put_edges_) {
    by_source_[e->source].push_back(e);
    by_target_[e->target].push_back(e);
  }
}

std::span<const Edge* const> Projection::lookup(const EdgesByEnd& map, std::string_view end) {
  auto it = map.find(end);
  if (it == map.end()) return {};
  return it->second;
}

const Node* Projection::node(std::string_view id) const {
  if (auto it = put_nodes_.find(id); it != put_nodes_.end()) return it->second;
  if (deleted_nodes_.contains(id)) return nullptr;
  auto built = built_nodes_.find(id);
  if (built != built_nodes_.end()) return built->second.get();
  auto it = nodes_.find(id);
  if (it == nodes_.end()) return nullptr;
  return built_nodes_.emplace(it->first, std::make_unique<Node>(it->second.to_node(it->first))).first->second.get();
}

const Edge* Projection::edge(std::string_view id) const {
  if (auto it = put_edges_.find(id); it != put_edges_.end()) return it->second;
  if (deleted_edges_.contains(id)) return nullptr;
  auto it = edges_.find(id);
  return it == edges_.end() ? nullptr : &it->second;
}

}  // namespace tarnwick::store
