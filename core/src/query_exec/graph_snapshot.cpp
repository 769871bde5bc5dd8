#include "query_exec/graph_snapshot.hpp"

#include <cassert>

namespace tarnwick::query {

namespace {

std::string_view endpoint_of(const Edge& e, EdgeIndex::Endpoint endpoint) {
  return endpoint == EdgeIndex::Endpoint::Source ? std::string_view(e.source) : std::string_view(e.target);
}

}  // namespace

// A counting sort by group: one pass numbers the groups, a second places each edge position,
// in ascending order, into its group's slice of one array.
EdgeIndex::EdgeIndex(const std::vector<Edge>& edges, Endpoint endpoint) {
  std::vector<std::size_t> group_of(edges.size());
  std::vector<std::size_t> counts;
  std::string_view previous;
  for (std::size_t j = 0; j < edges.size(); ++j) {
    const std::string_view id = endpoint_of(edges[j], endpoint);
    // Edge lists often come grouped by endpoint: a run of one id is hashed once.
    if (j == 0 || id != previous) {
      const auto [it, inserted] = groups_.try_emplace(id, counts.size());
      if (inserted) counts.push_back(0);
      group_of[j] = it->second;
      previous = id;
    } else {
      group_of[j] = group_of[j - 1];
    }
    ++counts[group_of[j]];
  }
  starts_.resize(counts.size() + 1);
  for (std::size_t g = 0; g < counts.size(); ++g) starts_[g + 1] = starts_[g] + counts[g];
  positions_.resize(edges.size());
  std::vector<std::size_t> next(starts_.begin(), starts_.end() - 1);
  for (std::size_t j = 0; j < edges.size(); ++j) positions_[next[group_of[j]]++] = j;
}

std::span<const std::size_t> EdgeIndex::find(std::string_view id) const {
  if (groups_.empty()) return {};
  const auto it = groups_.find(id);
  if (it == groups_.end()) return {};
  const std::size_t g = it->second;
  return std::span<const std::size_t>(positions_).subspan(starts_[g], starts_[g + 1] - starts_[g]);
}

GraphSnapshot::GraphSnapshot(std::vector<Node> nodes, std::vector<Edge> edges)
    : nodes_(std::move(nodes)), edges_(std::move(edges)) {
  node_index_.reserve(nodes_.size());
  // The last node with an id wins.
  for (std::size_t i = 0; i < nodes_.size(); ++i) node_index_.insert_or_assign(std::string_view(nodes_[i].id), i);
}

const Node* GraphSnapshot::get(std::string_view id) const {
  if (node_index_.empty()) return nullptr;
  const auto it = node_index_.find(id);
  return it == node_index_.end() ? nullptr : &nodes_[it->second];
}

void GraphSnapshot::index_edges_by_source() {
  if (!by_source_) by_source_.emplace(edges_, EdgeIndex::Endpoint::Source);
}

void GraphSnapshot::index_edges_by_target() {
  if (!by_target_) by_target_.emplace(edges_, EdgeIndex::Endpoint::Target);
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
