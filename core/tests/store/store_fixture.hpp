#pragma once
// Builds stores over the recording backend, and small records to put into them.

#include <memory>
#include <string>
#include <utility>

#include "store/memory_storage.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::test {

inline std::unique_ptr<store::Store> open_store(const std::shared_ptr<Disk>& disk, store::StoreOptions options = {},
                                                store::Clock clock = store::now_millis) {
  return std::make_unique<store::Store>(std::make_unique<MemoryStorage>(disk), std::move(options), clock);
}

inline Node make_node(std::string id, std::string type = "note", json::Object data = {}) {
  Node n;
  n.id = std::move(id);
  n.type = std::move(type);
  n.data = std::move(data);
  return n;
}

inline Edge make_edge(std::string id, std::string source, std::string target, std::string type = "link") {
  Edge e;
  e.id = std::move(id);
  e.source = std::move(source);
  e.target = std::move(target);
  e.type = std::move(type);
  return e;
}

// Applies a batch with no identity arguments.
inline Result<void> apply(store::Store& s, const ChangeBatch& batch) {
  return s.apply_with_identity(batch, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
}

inline ChangeBatch put_nodes(std::vector<Node> nodes) {
  ChangeBatch b;
  b.put_nodes = std::move(nodes);
  return b;
}

inline std::string error_text(const auto& result) { return result ? std::string("ok") : result.error().text(); }

}  // namespace tarnwick::test
