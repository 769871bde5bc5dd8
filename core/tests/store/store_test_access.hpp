#pragma once
// Lets the store tests look at (and, to set up a case, change) a store's private state.

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
};

}  // namespace tarnwick::store
