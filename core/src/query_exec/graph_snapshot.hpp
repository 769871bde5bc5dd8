#pragma once
// The node and edge lists one query runs over, held as columns: node ids and types as views into
// one text arena, one column per `data` key the plan reads (the projection), the vectors in one
// double arena when the plan ranks by them, and each edge's source, target and type. Built once
// per call and read-only afterwards, except that each edge map is built on first demand: a plan
// never pays for a map it does not read.
//
// Positions are list positions: node i is the caller's i-th node, edge j the j-th edge. The
// views point into the snapshot's own arena, so a snapshot may be moved but not copied.

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "json/json.hpp"
#include "model/records.hpp"
#include "query_exec/id_table.hpp"
#include "query_exec/projection.hpp"
#include "query_exec/text_arena.hpp"

namespace tarnwick::query {

// One node's vector inside the double arena.
struct VectorSpan {
  static constexpr std::size_t kNoVector = SIZE_MAX;
  std::size_t offset = 0;
  std::size_t length = kNoVector;  // kNoVector: the node has no vector
};

// What a reader fills, node by node and edge by edge, before the snapshot takes it over.
struct SnapshotColumns {
  explicit SnapshotColumns(Projection p) : projection(std::move(p)), fields(projection.fields.size()) {}

  // Appends the projected parts of a record; texts are copied into the arena.
  void add(Node&& node);
  void add(const Edge& edge);

  Projection projection;
  TextArena texts;
  std::vector<std::string_view> node_ids;
  std::vector<std::string_view> node_types;
  std::vector<std::vector<json::Value>> fields;  // [slot][node]; null where `data` lacks the key
  std::vector<VectorSpan> vectors;               // one per node, only when the projection keeps vectors
  std::vector<double> vector_values;
  std::vector<std::string_view> edge_sources;
  std::vector<std::string_view> edge_targets;
  std::vector<std::string_view> edge_types;
};

// Edge positions grouped by one endpoint id: one flat array, each group's positions ascending.
class EdgeIndex {
 public:
  // `endpoints` must outlive the index; a snapshot's columns keep their buffers when moved.
  explicit EdgeIndex(std::span<const std::string_view> endpoints);

  // The positions of the edges whose endpoint is `id`, ascending; empty when there are none.
  std::span<const std::size_t> find(std::string_view id) const;

 private:
  std::span<const std::string_view> endpoints_;
  IdTable groups_;                        // id -> group number
  std::vector<std::size_t> starts_;       // group g spans positions_[starts_[g], starts_[g + 1])
  std::vector<std::size_t> positions_;
};

class GraphSnapshot {
 public:
  static constexpr std::size_t kNoNode = SIZE_MAX;

  // Nothing is validated: duplicate ids and edges to unknown ids are kept as they are.
  explicit GraphSnapshot(SnapshotColumns columns);
  GraphSnapshot(std::vector<Node> nodes, std::vector<Edge> edges, Projection projection);
  GraphSnapshot(const GraphSnapshot&) = delete;
  GraphSnapshot& operator=(const GraphSnapshot&) = delete;
  GraphSnapshot(GraphSnapshot&&) = default;
  GraphSnapshot& operator=(GraphSnapshot&&) = default;

  const Projection& projection() const { return c_.projection; }
  std::size_t node_count() const { return c_.node_ids.size(); }
  std::string_view node_id(std::size_t node) const { return c_.node_ids[node]; }
  std::string_view node_type(std::size_t node) const { return c_.node_types[node]; }
  // The node's value under the key of projection slot `slot`; null when `data` lacks it.
  const json::Value& field(std::size_t slot, std::size_t node) const { return c_.fields[slot][node]; }
  // The node's vector; only a projection with vectors keeps them.
  std::optional<std::span<const double>> vector(std::size_t node) const;

  // The position of the last node in the list that carries `id`, or kNoNode.
  std::size_t find(std::string_view id) const;
  // No two nodes share an id, so every node is the one its id names.
  bool ids_unique() const { return node_index_.size() == node_count(); }

  std::size_t edge_count() const { return c_.edge_sources.size(); }
  std::string_view edge_source(std::size_t edge) const { return c_.edge_sources[edge]; }
  std::string_view edge_target(std::size_t edge) const { return c_.edge_targets[edge]; }
  std::string_view edge_type(std::size_t edge) const { return c_.edge_types[edge]; }

  // Each edge map is built once, on demand; its look-up requires it.
  void index_edges_by_source();
  void index_edges_by_target();
  bool indexed_by_source() const { return by_source_.has_value(); }
  bool indexed_by_target() const { return by_target_.has_value(); }
  std::span<const std::size_t> edges_by_source(std::string_view id) const;
  std::span<const std::size_t> edges_by_target(std::string_view id) const;

 private:
  SnapshotColumns c_;
  IdTable node_index_;
  std::optional<EdgeIndex> by_source_;
  std::optional<EdgeIndex> by_target_;
};

}  // namespace tarnwick::query
