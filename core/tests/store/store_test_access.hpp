#pragma once
// Lets the store tests look at (and, to set up a case, change) a store's private state.

#include "storage/store/candidates.hpp"
#include "storage/store/projection.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

struct StoreTestAccess {
  static auto& nodes(Store& s) { return s.nodes_; }
  static auto& edges(Store& s) { return s.edges_; }
  static auto& vectors(Store& s) { return s.vectors_; }
  static auto& nodes_by_type(Store& s) { return s.nodes_by_type_; }
  static auto& index_definitions(Store& s) { return s.index_definitions_; }
  static auto& index_entries(Store& s) { return s.index_entries_; }
  static auto& node_types(Store& s) { return s.node_types_; }
  static auto& edge_types(Store& s) { return s.edge_types_; }
  static auto& edges_by_source(Store& s) { return s.edges_by_source_; }
  static auto& edges_by_target(Store& s) { return s.edges_by_target_; }
  static auto& seen_operation_ids(Store& s) { return s.seen_operation_ids_; }
  static auto& seen_transaction_ids(Store& s) { return s.seen_transaction_ids_; }
  static auto& wal_entries_since_snapshot(Store& s) { return s.wal_entries_since_snapshot_; }
  static auto& last_sequence(Store& s) { return s.last_sequence_; }
  static auto& precision_known(Store& s) { return s.precision_known_; }
  static auto& loaded(Store& s) { return s.loaded_; }
  static auto& shared_unique_keys(Store& s) { return s.shared_unique_keys_; }
  static auto& schema_violators(Store& s) { return s.schema_violators_; }

  // The stored nodes as records, and one record stored under a key of the test's choice.
  static TextMap<Node> node_records(Store& s) {
    TextMap<Node> out;
    for (const auto& [key, node] : s.nodes_) out.emplace(key, node.to_node(key));
    return out;
  }
  static Node node_record(Store& s, std::string_view key) { return s.nodes_.find(key)->second.to_node(key); }
  static void store_node(Store& s, const std::string& key, Node n) {
    s.nodes_.insert_or_assign(key, StoredNode(key, std::move(n)));
  }

  static void index_node(Store& s, const Node& n) { s.index_node(n); }
  static void unindex_node(Store& s, std::string_view id) { s.unindex_node(id); }
  static void index_edge(Store& s, const Edge& e) { s.index_edge(e); }
  static void unindex_edge(Store& s, std::string_view id) { s.unindex_edge(id); }
  static void rebuild_indexes(Store& s) { s.rebuild_indexes(); }
  static Candidates select_candidates(const Store& s, const NodeQuery& q) { return s.select_candidates(q); }
  static Result<void> load_snapshot(Store& s, std::span<const std::uint8_t> bytes) { return s.load_snapshot(bytes); }
  static Result<void> validate_schemas(const Store& s, const Projection& p) { return s.validate_schemas(p); }
  static Result<void> validate_unique_indexes(const Store& s, const Projection& p) {
    return s.validate_unique_indexes(p);
  }
  static Result<void> install_index_definitions(Store& s, std::string_view text) {
    return s.install_index_definitions(text);
  }
  static Result<void> install_schemas(Store& s, std::string_view text) { return s.install_schemas(text); }
};

}  // namespace tarnwick::store
