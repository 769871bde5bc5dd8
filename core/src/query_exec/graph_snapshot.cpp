#include "query_exec/graph_snapshot.hpp"

#include <cassert>

namespace tarnwick::query {

void SnapshotColumns::add(Node&& node) {
  node_ids.push_back(texts.copy(node.id));
  node_types.push_back(texts.copy(node.type));
  for (std::size_t slot = 0; slot < fields.size(); ++slot) {
    json::Value* v = node.data.if_contains(projection.fields[slot]);
    fields[slot].push_back(v ? std::move(*v) : json::Value());
  }
  if (!projection.vectors) return;
  if (!node.vector) {
    vectors.emplace_back();
    return;
  }
  vectors.push_back({vector_values.size(), node.vector->size()});
  vector_values.insert(vector_values.end(), node.vector->begin(), node.vector->end());
}

void SnapshotColumns::add(const Edge& edge) {
  if (!projection.edges) return;
  edge_sources.push_back(texts.copy(edge.source));
  edge_targets.push_back(texts.copy(edge.target));
  edge_types.push_back(texts.copy(edge.type));
}

// A counting sort by group: the ids are numbered by first occurrence in one batch, then each
// edge position is placed, in ascending order, into its group's slice of one array.
EdgeIndex::EdgeIndex(std::span<const std::string_view> endpoints) : endpoints_(endpoints) {
  std::vector<std::uint32_t> first;  // each group's first edge
  std::vector<std::uint32_t> group_of(endpoints.size());
  groups_.build(
      endpoints, [&](std::uint32_t g) { return endpoints[first[g]]; },
      [&](std::size_t j) {
        first.push_back(static_cast<std::uint32_t>(j));
        return first.size() - 1;
      },
      [](std::size_t, std::uint32_t&) {}, [&](std::size_t j, std::uint32_t g) { group_of[j] = g; });
  const std::size_t groups = first.size();
  starts_.assign(groups + 1, 0);
  for (std::uint32_t g : group_of) ++starts_[g + 1];
  for (std::size_t g = 0; g < groups; ++g) starts_[g + 1] += starts_[g];
  positions_.resize(endpoints.size());
  std::vector<std::size_t> next(starts_.begin(), starts_.end() - 1);
  for (std::size_t j = 0; j < endpoints.size(); ++j) positions_[next[group_of[j]]++] = j;
}

std::span<const std::size_t> EdgeIndex::find(std::string_view id) const {
  // A group's first position is its first edge, whose endpoint is the group's id.
  const std::uint32_t g = groups_.find(id, [&](std::uint32_t group) { return endpoints_[positions_[starts_[group]]]; });
  if (g == IdTable::kAbsent) return {};
  return std::span<const std::size_t>(positions_).subspan(starts_[g], starts_[g + 1] - starts_[g]);
}

namespace {

SnapshotColumns from_records(std::vector<Node> nodes, std::vector<Edge> edges, Projection projection) {
  SnapshotColumns c(std::move(projection));
  for (Node& n : nodes) c.add(std::move(n));
  for (const Edge& e : edges) c.add(e);
  return c;
}

}  // namespace

GraphSnapshot::GraphSnapshot(SnapshotColumns columns) : c_(std::move(columns)) {
  // The last node with an id wins; a slot's value is always a position holding its id.
  node_index_.build(
      c_.node_ids, [&](std::uint32_t i) { return c_.node_ids[i]; }, [](std::size_t i) { return i; },
      [](std::size_t i, std::uint32_t& stored) { stored = static_cast<std::uint32_t>(i); },
      [](std::size_t, std::uint32_t) {});
}

std::size_t GraphSnapshot::find(std::string_view id) const {
  const std::uint32_t i = node_index_.find(id, [&](std::uint32_t position) { return c_.node_ids[position]; });
  return i == IdTable::kAbsent ? kNoNode : i;
}

GraphSnapshot::GraphSnapshot(std::vector<Node> nodes, std::vector<Edge> edges, Projection projection)
    : GraphSnapshot(from_records(std::move(nodes), std::move(edges), std::move(projection))) {}

std::optional<std::span<const double>> GraphSnapshot::vector(std::size_t node) const {
  assert(c_.projection.vectors && "only a projection with vectors keeps them");
  const VectorSpan& v = c_.vectors[node];
  if (v.length == VectorSpan::kNoVector) return std::nullopt;
  return std::span<const double>(c_.vector_values).subspan(v.offset, v.length);
}

void GraphSnapshot::index_edges_by_source() {
  if (!by_source_) by_source_.emplace(c_.edge_sources);
}

void GraphSnapshot::index_edges_by_target() {
  if (!by_target_) by_target_.emplace(c_.edge_targets);
}

std::span<const std::size_t> GraphSnapshot::edges_by_source(std::string_view id) const {
  assert(by_source_ && "index_edges_by_source() comes first");
  return by_source_->find(id);
}

std::span<const std::size_t> GraphSnapshot::edges_by_target(std::string_view id) const {
  assert(by_target_ && "index_edges_by_target() comes first");
  return by_target_->find(id);
}

}  // namespace tarnwick::query
