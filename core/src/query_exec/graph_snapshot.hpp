#pragma once
// The node and edge lists one query runs over, owned, with their lookup maps. Built once per
// call and read-only afterwards, except that each edge map is built on first demand: a plan
// never pays for a map it does not read.
//
// The maps key by views into the owned ids, so a snapshot may be moved (the lists keep their
// buffers) but not copied.

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "model/records.hpp"
#include "model/seeded_hash.hpp"

namespace tarnwick::query {

// Edge positions grouped by one endpoint id: one flat array, each group's positions ascending.
class EdgeIndex {
 public:
  enum class Endpoint { Source, Target };

  EdgeIndex(const std::vector<Edge>& edges, Endpoint endpoint);

  // The positions of the edges whose endpoint is `id`, ascending; empty when there are none.
  std::span<const std::size_t> find(std::string_view id) const;

 private:
  boost::unordered_flat_map<std::string_view, std::size_t, SeededHash, std::equal_to<>> groups_;
  std::vector<std::size_t> starts_;     // group g spans positions_[starts_[g], starts_[g + 1])
  std::vector<std::size_t> positions_;
};

class GraphSnapshot {
 public:
  // Nothing is validated: duplicate ids and edges to unknown ids are kept as they are.
  GraphSnapshot(std::vector<Node> nodes, std::vector<Edge> edges);
  GraphSnapshot(const GraphSnapshot&) = delete;
  GraphSnapshot& operator=(const GraphSnapshot&) = delete;
  GraphSnapshot(GraphSnapshot&&) = default;
  GraphSnapshot& operator=(GraphSnapshot&&) = default;

  const std::vector<Node>& nodes() const { return nodes_; }
  const std::vector<Edge>& edges() const { return edges_; }

  // The last node in the list that carries `id`, or null.
  const Node* get(std::string_view id) const;
  // No two nodes share an id, so every node is the one its id names.
  bool ids_unique() const { return node_index_.size() == nodes_.size(); }

  // Each edge map is built once, on demand; its look-up requires it.
  void index_edges_by_source();
  void index_edges_by_target();
  bool indexed_by_source() const { return by_source_.has_value(); }
  bool indexed_by_target() const { return by_target_.has_value(); }
  std::span<const std::size_t> edges_by_source(std::string_view id) const;
  std::span<const std::size_t> edges_by_target(std::string_view id) const;

 private:
  std::vector<Node> nodes_;
  std::vector<Edge> edges_;
  boost::unordered_flat_map<std::string_view, std::size_t, SeededHash, std::equal_to<>> node_index_;
  std::optional<EdgeIndex> by_source_;
  std::optional<EdgeIndex> by_target_;
};

}  // namespace tarnwick::query
