#include <cmath>

#include "hnsw/hnsw_index.hpp"

namespace tarnwick {

void HnswIndex::remove(std::string_view id) {
  const std::uint32_t slot = slot_of(id);
  if (!stored(slot)) return;
  // The slot stays bound to its id (and keeps its row in the arena): links that still name it
  // count again if the id comes back.
  stored_[slot] = 0;
  --live_count_;
  unlink_node(slot);
  levels_[slot] = 0;
  if (slot == entry_ && elect_entry_point()) return;
  trim_top_layers();
}

void HnswIndex::unlink_node(std::uint32_t slot) {
  for (LayerLinks& links : layers_) {
    if (!links.has_list(slot)) continue;
    const std::span<const std::uint32_t> held = links.list(slot);
    const std::vector<std::uint32_t> neighbours(held.begin(), held.end());
    links.erase_list(slot);
    for (const std::uint32_t n : neighbours) {
      if (!links.has_list(n)) continue;
      links.remove_target(n, slot);
      // A live node without links on a layer has no entry there.
      if (links.list(n).empty()) links.erase_list(n);
    }
  }
}

bool HnswIndex::elect_entry_point() {
  // Of the nodes holding a list on the highest layer that has one, the one interned first: a
  // fixed choice where a hash map's iteration order would give a different one each run.
  for (std::int32_t lev = max_level_; lev >= 0; --lev) {
    if (static_cast<std::size_t>(lev) >= layers_.size()) continue;
    for (const std::uint32_t slot : layers_[lev].slots_with_lists()) {
      if (stored(slot)) {
        entry_ = slot;
        return false;
      }
    }
  }
  entry_ = kNoSlot;
  // No layer names a stored node: the first stored node by interning order takes over, and the
  // top drops to its level.
  for (std::uint32_t slot = 0; slot < ids_.size(); ++slot) {
    if (stored(slot)) {
      entry_ = slot;
      max_level_ = static_cast<std::int32_t>(levels_[slot]);
      return true;
    }
  }
  return false;
}

void HnswIndex::trim_top_layers() {
  while (max_level_ >= 0) {
    // While nodes remain the top never sinks below the entry point's level; otherwise an emptied
    // layer 0 would leave max_level at -1 and the next node would link to nothing.
    if (entry_ != kNoSlot && max_level_ <= static_cast<std::int32_t>(levels_[entry_])) return;
    const auto top = static_cast<std::size_t>(max_level_);
    if (top < layers_.size()) {
      if (layers_[top].list_count() != 0) return;
      layers_.erase(layers_.begin() + static_cast<std::ptrdiff_t>(top), layers_.end());
    }
    --max_level_;
  }
}

Result<void> HnswIndex::set_precision(VectorPrecision precision) {
  if (precision == arena_.precision()) return {};
  // Every vector must survive the change; a value that would not be finite fails the whole call
  // before anything is cleared.
  std::vector<std::pair<std::string, std::vector<double>>> snapshot;
  snapshot.reserve(live_count_);
  for (std::uint32_t slot = 0; slot < ids_.size(); ++slot) {
    if (!stored(slot)) continue;
    std::vector<double> values = arena_.to_f64(slot);
    for (const double v : values) {
      const double converted = precision == VectorPrecision::Float32 ? static_cast<double>(static_cast<float>(v)) : v;
      if (!std::isfinite(converted)) return fail(err::InvalidArgument{"vector must contain finite values"});
    }
    snapshot.emplace_back(std::string(ids_[slot]), std::move(values));
  }
  clear();
  arena_ = VectorArena(precision);
  // Re-added in interning order, a fixed stand-in for the iteration order of a hash map.
  for (const auto& [id, values] : snapshot) TARNWICK_TRY(add(id, values));
  return {};
}

void HnswIndex::clear() {
  arena_.clear();
  ids_.clear();
  stored_.clear();
  levels_.clear();
  layers_.clear();
  entry_ = kNoSlot;
  max_level_ = -1;
  live_count_ = 0;
}

}  // namespace tarnwick
