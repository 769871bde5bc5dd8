// Upkeep of the derived maps: node ids by type, the secondary indexes, the edge adjacency, and
// the two sets the batch checks read instead of scanning the graph (unique keys held more than
// once, stored nodes that break their schema). Every map is keyed by the id a record is stored
// under; an empty set is removed, while each definition keeps its inner map of index entries.
#include <type_traits>
#include <utility>
#include <vector>

#include "storage/store/field_path.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {

// Removes `id` from the set under `key`, and the key once its set is empty. Returns the number
// of ids left under the key (0 when the key was not there).
std::size_t erase_from(TextMap<TextSet>& map, std::string_view key, std::string_view id) {
  auto it = map.find(key);
  if (it == map.end()) return 0;
  if (auto at = it->second.find(id); at != it->second.end()) it->second.erase(at);
  const std::size_t left = it->second.size();
  if (left == 0) map.erase(it);
  return left;
}

template <class AnyNode>
std::optional<std::string> key_of(const AnyNode& node, std::string_view type,
                                  const SecondaryIndexDefinition& definition) {
  if (definition.node_type && type != *definition.node_type) return std::nullopt;
  std::string key = "[";
  for (std::size_t i = 0; i < definition.fields.size(); ++i) {
    if (i > 0) key += ',';
    const bool null = print_node_field(key, node, definition.fields[i]);
    if (null && definition.sparse) return std::nullopt;
  }
  key += ']';
  return key;
}

}  // namespace

std::optional<std::string> Store::secondary_key(const Node& node, const SecondaryIndexDefinition& definition) {
  return key_of(node, node.type, definition);
}

std::optional<std::string> Store::secondary_key(const StoredNode& node, const SecondaryIndexDefinition& definition) {
  return key_of(node, node.type(), definition);
}

template <class AnyNode>
void Store::add_data_entries(const std::string& id, const AnyNode& node) {
  for (const auto& [name, definition] : index_definitions_) {
    std::optional<std::string> key = secondary_key(node, definition);
    if (!key) continue;
    TextSet& holders = index_entries_[name][*key];
    holders.insert(id);
    if (definition.unique && holders.size() == 2) shared_unique_keys_[name].insert(std::move(*key));
  }
  if constexpr (std::is_same_v<AnyNode, StoredNode>) {
    if (node_types_.contains(node.type()) && !validate_node_schema(node.to_node(id))) schema_violators_.insert(id);
  } else {
    if (!validate_node_schema(node)) schema_violators_.insert(id);
  }
}

void Store::index_node(const Node& node) {
  unindex_node(node.id);
  nodes_by_type_[node.type].insert(node.id);
  if (entries_read_data(node.type)) add_data_entries(node.id, node);
}

void Store::unindex_node(std::string_view id) {
  if (auto it = nodes_.find(id); it != nodes_.end()) remove_node_entries(it->first, it->second);
}

void Store::index_edge(const Edge& edge) { add_edge_entries(edge.id, edge); }

void Store::unindex_edge(std::string_view id) {
  if (auto it = edges_.find(id); it != edges_.end()) remove_edge_entries(it->first, it->second);
}

bool Store::entries_read_data(std::string_view type) const {
  // A lookup hashes the type even in an empty map, and most stores define no schema.
  return !index_definitions_.empty() || (!node_types_.empty() && node_types_.contains(type));
}

void Store::add_node_entries(const std::string& id, const StoredNode& node) {
  nodes_by_type_[std::string(node.type())].insert(id);
  add_node_data_entries(id, node);
}

void Store::add_node_data_entries(const std::string& id, const StoredNode& node) {
  if (entries_read_data(node.type())) add_data_entries(id, node);
}

void Store::remove_node_entries(const std::string& id, const StoredNode& node) {
  if (entries_read_data(node.type())) remove_data_entries(id, node);
  erase_from(nodes_by_type_, node.type(), id);
}

void Store::remove_data_entries(const std::string& id, const StoredNode& node) {
  for (const auto& [name, definition] : index_definitions_) {
    const std::optional<std::string> key = secondary_key(node, definition);
    if (!key) continue;
    auto entries = index_entries_.find(name);
    if (entries == index_entries_.end()) continue;
    if (erase_from(entries->second, *key, id) == 1 && definition.unique) {
      if (auto shared = shared_unique_keys_.find(name); shared != shared_unique_keys_.end()) {
        shared->second.erase(*key);
        if (shared->second.empty()) shared_unique_keys_.erase(shared);
      }
    }
  }
  schema_violators_.erase(id);
}

void Store::add_edge_entries(const std::string& id, const Edge& edge) {
  edges_by_source_[edge.source].insert(id);
  edges_by_target_[edge.target].insert(id);
}

void Store::remove_edge_entries(const std::string& id, const Edge& edge) {
  erase_from(edges_by_source_, edge.source, id);
  erase_from(edges_by_target_, edge.target, id);
}

void Store::rebuild_indexes() {
  nodes_by_type_.clear();
  index_entries_.clear();
  for (const auto& entry : index_definitions_) index_entries_[entry.first];
  edges_by_source_.clear();
  edges_by_target_.clear();
  shared_unique_keys_.clear();
  schema_violators_.clear();
  add_all_node_entries();
  for (const auto& [id, edge] : edges_) add_edge_entries(id, edge);
}

void Store::add_all_node_entries() {
  // Each type's set sized first: growing a set of many ids hashes every id again at each step.
  TextMap<std::size_t> per_type;
  for (const auto& entry : nodes_) {
    auto it = per_type.find(entry.second.type());
    if (it == per_type.end()) it = per_type.emplace(std::string(entry.second.type()), 0).first;
    ++it->second;
  }
  for (const auto& [type, count] : per_type) nodes_by_type_[type].reserve(count);
  // Ids then go into their sets a run at a time, as loading stores nodes: the sets together
  // outgrow the caches, and a run of independent insertions overlaps their misses. Every set
  // exists by now, so the pointers to them hold.
  constexpr std::size_t kRun = 64;
  std::vector<std::pair<TextSet*, const std::string*>> run;
  run.reserve(kRun);
  const auto store_run = [&] {
    for (const auto& [set, id] : run) set->insert(*id);
    run.clear();
  };
  for (const auto& [id, node] : nodes_) {
    run.emplace_back(&nodes_by_type_.find(node.type())->second, &id);
    if (run.size() == kRun) store_run();
    add_node_data_entries(id, node);
  }
  store_run();
}

}  // namespace tarnwick::store
