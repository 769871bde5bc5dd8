#pragma once
// A store with no files, whose graph, definitions and derived maps the derived-map and
// batch-check tests set up directly.

#include <memory>
#include <string>
#include <string_view>

#include "json/json.hpp"
#include "store/store_fixture.hpp"
#include "store/store_test_access.hpp"

namespace tarnwick::test {

using store::StoreTestAccess;

inline std::unique_ptr<store::Store> empty_store() { return open_store(std::make_shared<Disk>()); }

inline json::Object object_of(std::string_view text) { return json::parse(text).value().as_object(); }

inline Node node_of(std::string id, std::string type, std::string_view data = "{}") {
  return make_node(std::move(id), std::move(type), object_of(data));
}

// The derived maps and their upkeep sets, to compare a store's maps with a fresh rebuild.
struct DerivedMaps {
  TextMap<TextSet> nodes_by_type;
  TextMap<TextMap<TextSet>> index_entries;
  TextMap<TextSet> edges_by_source;
  TextMap<TextSet> edges_by_target;
  TextMap<TextSet> shared_unique_keys;
  TextSet schema_violators;
  friend bool operator==(const DerivedMaps&, const DerivedMaps&) = default;

  static DerivedMaps of(store::Store& s) {
    return {StoreTestAccess::nodes_by_type(s),   StoreTestAccess::index_entries(s),
            StoreTestAccess::edges_by_source(s), StoreTestAccess::edges_by_target(s),
            StoreTestAccess::shared_unique_keys(s), StoreTestAccess::schema_violators(s)};
  }
};

// Puts and deletes one record the way a batch changes memory: the maps first, then the graph.
inline void put_node(store::Store& s, const Node& n) {
  StoreTestAccess::index_node(s, n);
  StoreTestAccess::store_node(s, n.id, n);
}
inline void delete_node(store::Store& s, const std::string& id) {
  StoreTestAccess::unindex_node(s, id);
  StoreTestAccess::nodes(s).erase(id);
}
inline void put_edge(store::Store& s, const Edge& e) {
  StoreTestAccess::unindex_edge(s, e.id);
  StoreTestAccess::edges(s).insert_or_assign(e.id, e);
  StoreTestAccess::index_edge(s, e);
}
inline void delete_edge(store::Store& s, const std::string& id) {
  StoreTestAccess::unindex_edge(s, id);
  StoreTestAccess::edges(s).erase(id);
}

}  // namespace tarnwick::test
