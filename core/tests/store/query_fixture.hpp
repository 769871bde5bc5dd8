#pragma once
// A loaded store over an in-memory backend, its maps filled directly, for the read-side tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "json/json.hpp"
#include "storage/store/node_query.hpp"
#include "storage/store/store.hpp"
#include "storage/store/verify_report.hpp"
#include "store/graph_fixture.hpp"

namespace tarnwick::test {

inline json::Value parse_json(std::string_view text) {
  auto v = json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v ? std::move(*v) : json::Value();
}

inline store::NodeQuery read_query(std::string_view text) {
  json::Value v = parse_json(text);
  auto q = store::NodeQuery::deserialize(v);
  EXPECT_TRUE(q.has_value()) << text << ": " << (q ? "" : q.error().message);
  return q ? std::move(*q) : store::NodeQuery{};
}

inline std::vector<std::string> ids_of(const std::vector<Node>& nodes) {
  std::vector<std::string> out;
  for (const Node& n : nodes) out.push_back(n.id);
  return out;
}

inline std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

struct GraphStore {
  std::shared_ptr<Disk> disk = std::make_shared<Disk>();
  std::unique_ptr<store::Store> owned = open_store(disk);
  store::Store& store = *owned;

  // Stores the records and builds the derived maps from them, then marks the store loaded.
  explicit GraphStore(const std::vector<Node>& nodes, const std::vector<Edge>& edges = {},
                      const std::vector<store::SecondaryIndexDefinition>& definitions = {}) {
    using A = store::StoreTestAccess;
    for (const auto& d : definitions) A::index_definitions(store)[d.name] = d;
    for (const Node& n : nodes) A::store_node(store, n.id, n);
    for (const Edge& e : edges) A::edges(store)[e.id] = e;
    A::rebuild_indexes(store);
    A::loaded(store) = true;
  }
  store::Store* operator->() { return &store; }
};

}  // namespace tarnwick::test
