#pragma once
// The graph as a batch would leave it, answered from the stored maps and the batch without
// copying either: the batch's deletes remove ids, then its puts are written over them by id
// (the last put of an id wins, and a put wins over a delete of the same id).
// Borrows the maps and the batch: all three must outlive the projection and stay unchanged. A
// stored node asked for is built once and kept by the projection.

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "model/records.hpp"
#include "model/seeded_hash.hpp"
#include "storage/store/stored_node.hpp"

namespace tarnwick::store {

class Projection {
 public:
  Projection(const TextMap<StoredNode>& nodes, const TextMap<Edge>& edges, const ChangeBatch& batch);

  // Null when the id names no node (no edge) after the batch.
  const Node* node(std::string_view id) const;
  const Edge* edge(std::string_view id) const;
  // Whether the batch deletes or puts this id, so that the stored record no longer stands as is.
  bool node_touched(std::string_view id) const { return put_nodes_.contains(id) || deleted_nodes_.contains(id); }
  bool edge_touched(std::string_view id) const { return put_edges_.contains(id) || deleted_edges_.contains(id); }

  // The last put of each id.
  const TextMap<const Node*>& put_nodes() const { return put_nodes_; }
  const TextMap<const Edge*>& put_edges() const { return put_edges_; }
  // The put edges (last put of each id) leaving `source` or entering `target`, for counting
  // edges per endpoint without a scan of the batch per edge.
  std::span<const Edge* const> put_edges_from(std::string_view source) const { return lookup(by_source_, source); }
  std::span<const Edge* const> put_edges_into(std::string_view target) const { return lookup(by_target_, target); }
  const TextSet& deleted_node_ids() const { return deleted_nodes_; }
  const TextSet& deleted_edge_ids() const { return deleted_edges_; }
  const TextMap<StoredNode>& stored_nodes() const { return nodes_; }
  const TextMap<Edge>& stored_edges() const { return edges_; }
  const ChangeBatch& batch() const { return batch_; }

 private:
  using EdgesByEnd = TextMap<std::vector<const Edge*>>;
  static std::span<const Edge* const> lookup(const EdgesByEnd& map, std::string_view end);

  const TextMap<StoredNode>& nodes_;
  // Held apart from the map: a caller keeps the node it was handed while asking for the next.
  mutable TextMap<std::unique_ptr<Node>> built_nodes_;
  const TextMap<Edge>& edges_;
  const ChangeBatch& batch_;
  TextMap<const Node*> put_nodes_;
  TextMap<const Edge*> put_edges_;
  TextSet deleted_nodes_;
  TextSet deleted_edges_;
  EdgesByEnd by_source_;
  EdgesByEnd by_target_;
};

}  // namespace tarnwick::store
