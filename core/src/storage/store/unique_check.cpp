// The unique-index check of a batch. Only two kinds of key can be held twice after the batch:
// a key one of its puts holds, and a key that stored nodes already hold twice (the batch can
// only lower its count). Each is settled from its holders in `index_entries_`, skipping the
// holders the batch touches (their projected version is among the puts, or gone); the skipped
// holders are bounded by the batch, so the check costs time in proportion to the batch.
#include <string>

#include "storage/store/projection.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {

std::unexpected<TarnwickError> conflict(std::string_view index, std::string_view holder) {
  return fail(err::InvalidArgument{"unique index " + std::string(index) + " conflicts with node " + std::string(holder)});
}

// Up to `wanted` stored holders of `key` that stand untouched after the batch.
std::vector<const std::string*> standing_holders(const TextMap<TextSet>* entries, std::string_view key,
                                                 const Projection& projected, std::size_t wanted) {
  std::vector<const std::string*> found;
  if (entries == nullptr) return found;
  auto it = entries->find(key);
  if (it == entries->end()) return found;
  for (const std::string& id : it->second) {
    if (projected.node_touched(id)) continue;
    found.push_back(&id);
    if (found.size() == wanted) break;
  }
  return found;
}

}  // namespace

Result<void> Store::validate_unique_indexes(const Projection& projected) const {
  for (const auto& [name, definition] : index_definitions_) {
    if (!definition.unique) continue;
    const auto entries_it = index_entries_.find(name);
    const TextMap<TextSet>* entries = entries_it == index_entries_.end() ? nullptr : &entries_it->second;
    TextMap<const std::string*> put_keys;  // key -> the put node holding it
    for (const auto& [id, node] : projected.put_nodes()) {
      std::optional<std::string> key = secondary_key(*node, definition);
      if (!key) continue;
      const auto [at, inserted] = put_keys.try_emplace(std::move(*key), &id);
      if (!inserted) return conflict(name, *at->second);
      if (auto stored = standing_holders(entries, at->first, projected, 1); !stored.empty())
        return conflict(name, *stored.front());
    }
    const auto shared = shared_unique_keys_.find(name);
    if (shared == shared_unique_keys_.end()) continue;
    for (const std::string& key : shared->second) {
      if (auto stored = standing_holders(entries, key, projected, 2); stored.size() == 2)
        return conflict(name, *stored.front());
    }
  }
  return {};
}

}  // namespace tarnwick::store
