#pragma once
// The graph as a batch would leave it, answered from the stored maps and the batch without
// copying either: the batch's deletes remove ids, then its puts are written over them by id
// (the last put of an id wins, and a put wins over a delete of the same id).
// Borrows the maps and the batch: all three must outlive the projection and stay unchanged.

#include <string_view>

#include "model/records.hpp"
#include "model/seeded_hash.hpp"

namespace tarnwick::store {

class Projection {
 public:
  Projection(const TextMap<Node>& nodes, const TextMap<Edge>& edges, const ChangeBatch& batch);

  // Null when the id names no node (no edge) after the batch.
  const Node* node(std::string_view id) const;
  const Edge* edge(std::string_view id) const;
  // Whether the batch deletes or puts this id, so that the stored record no longer stands as is.
  bool node_touched(std::string_view id) const { return put_nodes_.contains(id) || deleted_nodes_.contains(id); }
  bool edge_touched(std::string_view id) const { return put_edges_.contains(id) || deleted_edges_.contains(id); }

  // The last put of each id.
  const TextMap<const Node*>& put_nodes() const { return put_nodes_; }
  const TextMap<const Edge*>& put_edges() const { return put_edges_; }
  const TextSet& deleted_node_ids() const { return deleted_nodes_; }
  const TextSet& deleted_edge_ids() const { return deleted_edges_; }
  const TextMap<Node>& stored_nodes() const { return nodes_; }
  const TextMap<Edge>& stored_edges() const { return edges_; }
  const ChangeBatch& batch() const { return batch_; }

 private:
  const TextMap<Node>& nodes_;
  const TextMap<Edge>& edges_;
  const ChangeBatch& batch_;
  TextMap<const Node*> put_nodes_;
  TextMap<const Edge*> put_edges_;
  TextSet deleted_nodes_;
  TextSet deleted_edges_;
};

}  // namespace tarnwick::store
