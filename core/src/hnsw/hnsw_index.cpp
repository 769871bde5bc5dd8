#include "hnsw/hnsw_index.hpp"

#include <algorithm>

#include "hnsw/level_generator.hpp"
#include "hnsw/search_scratch.hpp"
#include "vector/batch_scoring.hpp"
#include "vector/finite.hpp"
#include "vector/stable_sort.hpp"

namespace tarnwick {

HnswIndex::HnswIndex(const HnswConfig& config, std::uint32_t level_seed, VectorPrecision precision)
    : config_(config), level_mult_(hnsw_level_multiplier(config.m)), rng_state_(level_seed), arena_(precision) {}

Result<HnswIndex> HnswIndex::new_with_precision(const HnswConfig& config, std::uint32_t level_seed,
                                                VectorPrecision precision) {
  const std::pair<const char*, std::uint64_t> fields[] = {
      {"m", config.m}, {"mmax0", config.mmax0}, {"ef_construction", config.ef_construction}, {"ef_search", config.ef_search}};
  for (const auto& [name, value] : fields) {
    if (value == 0) return fail(err::InvalidArgument{std::string("HnswConfig.") + name + " must be at least 1"});
  }
  return HnswIndex(config, level_seed, precision);
}

std::uint32_t HnswIndex::intern(std::string_view id) {
  const std::uint32_t slot = ids_.intern(id);
  if (slot == stored_.size()) {
    stored_.push_back(0);
    levels_.push_back(0);
  }
  return slot;
}

LayerLinks& HnswIndex::layer(std::uint32_t lc) {
  while (layers_.size() <= lc) {
    const std::uint64_t kept = links_kept(static_cast<std::uint32_t>(layers_.size()));
    const std::uint64_t longest = kept == UINT64_MAX ? kept : kept + 1;
    // Every node is on layer 0; about one in m reaches each layer above.
    layers_.emplace_back(static_cast<std::size_t>(std::min<std::uint64_t>(longest, SIZE_MAX)),
                         layers_.empty() ? LayerLinks::Rows::BySlot : LayerLinks::Rows::Mapped);
  }
  return layers_[lc];
}

const LayerLinks* HnswIndex::find_layer(std::uint32_t lc) const {
  return lc < layers_.size() ? &layers_[lc] : nullptr;
}

Result<void> HnswIndex::add(std::string_view id, std::span<const double> values) {
  if (id.empty()) return fail(err::InvalidArgument{"vector id must not be empty"});
  if (!all_finite(values)) return fail(err::InvalidArgument{"vector must contain finite values"});
  remove(id);
  const std::uint32_t level = level_for_uniform(mulberry32_next(rng_state_), level_mult_);
  const std::uint32_t slot = intern(id);
  arena_.put(slot, values);
  stored_[slot] = 1;
  ++live_count_;
  if (live_count_ == 1) {
    entry_ = slot;
    max_level_ = static_cast<std::int32_t>(level);
    levels_[slot] = level;
    layer(level).ensure_list(slot);
    return {};
  }
  insert_into_graph(slot, level);
  levels_[slot] = level;
  return {};
}

void HnswIndex::insert_into_graph(std::uint32_t slot, std::uint32_t level) {
  // Linked by its stored values: in a float32 index, the rounded ones.
  SearchScratch& s = thread_scratch();
  arena_.to_f64(slot, s.inserted);
  const PreparedQuery query(s.inserted, arena_.norm(slot), config_.distance);
  const auto top = static_cast<std::int32_t>(level);
  std::uint32_t ep = entry_;
  for (std::int32_t lev = max_level_; lev > top; --lev) {
    ep = greedy_search(s, query, ep, static_cast<std::uint32_t>(lev));
  }
  for (std::int32_t lc = std::min(max_level_, top); lc >= 0; --lc) {
    const auto layer_number = static_cast<std::uint32_t>(lc);
    search_layer_slots(s, query, ep, config_.ef_construction, layer_number);
    const std::vector<SlotDistance>& nearest = s.found;
    const std::uint64_t keep = links_kept(layer_number);
    const std::size_t chosen = static_cast<std::size_t>(std::min<std::uint64_t>(keep, nearest.size()));
    LayerLinks& links = layer(layer_number);
    links.ensure_list(slot);
    for (std::size_t k = 0; k < chosen; ++k) links.append_unique(slot, nearest[k].slot);
    for (std::size_t k = 0; k < chosen; ++k) links.append_unique(nearest[k].slot, slot);
    for (std::size_t k = 0; k < chosen; ++k) {
      const std::uint32_t n = nearest[k].slot;
      if (links.list(n).size() > keep && stored(n)) shrink_neighbors(s, n, layer_number, keep);
    }
    ep = nearest.front().slot;
  }
  if (top > max_level_) {
    max_level_ = top;
    entry_ = slot;
  }
}

void HnswIndex::shrink_neighbors(SearchScratch& s, std::uint32_t owner, std::uint32_t lc, std::uint64_t limit) {
  LayerLinks& links = layer(lc);
  s.live.clear();
  const bool all_stored = live_count_ == ids_.size();
  for (const std::uint32_t x : links.list(owner)) {
    if (all_stored || stored(x)) s.live.push_back(x);
  }
  // Similarity is symmetric to the bit, so the owner serves as the query. Its stored norm is the
  // same element-order sum that a fresh query would take.
  arena_.to_f64(owner, s.owner);
  const PreparedQuery query(s.owner, arena_.norm(owner), config_.distance);
  s.live_distances.resize(s.live.size());
  distances(s, query, s.live, s.live_distances.data());
  s.pruned.resize(s.live.size());
  for (std::size_t k = 0; k < s.live.size(); ++k) s.pruned[k] = {s.live[k], s.live_distances[k]};
  stable_sort_by(
      s.pruned, [this](const SlotDistance& a, const SlotDistance& b) { return compare_candidates(a, b, ids_) < 0; },
      s.sorting);
  const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(limit, s.pruned.size()));
  for (std::size_t k = 0; k < kept; ++k) s.live[k] = s.pruned[k].slot;
  s.live.resize(kept);
  links.assign(owner, s.live);
}

bool HnswIndex::has(std::string_view id) const { return stored(slot_of(id)); }

std::optional<std::vector<double>> HnswIndex::get(std::string_view id) const {
  const std::uint32_t slot = slot_of(id);
  if (!stored(slot)) return std::nullopt;
  return arena_.to_f64(slot);
}

TextMap<std::vector<double>> HnswIndex::nodes() const {
  TextMap<std::vector<double>> out;
  out.reserve(live_count_);
  for (std::uint32_t slot = 0; slot < ids_.size(); ++slot) {
    if (stored(slot)) out.emplace(std::string(ids_[slot]), arena_.to_f64(slot));
  }
  return out;
}

std::optional<std::string> HnswIndex::entry_point() const {
  if (entry_ == kNoSlot) return std::nullopt;
  return std::string(ids_[entry_]);
}

std::optional<std::uint32_t> HnswIndex::level_of(std::string_view id) const {
  const std::uint32_t slot = slot_of(id);
  if (!stored(slot)) return std::nullopt;
  return levels_[slot];
}

std::vector<std::string> HnswIndex::get_neighbors(std::string_view id, std::uint32_t layer_number) const {
  std::vector<std::string> out;
  const std::uint32_t slot = slot_of(id);
  const LayerLinks* links = find_layer(layer_number);
  if (slot == kNoSlot || links == nullptr) return out;
  for (const std::uint32_t n : links->list(slot)) {
    if (stored(n)) out.emplace_back(ids_[n]);
  }
  return out;
}

}  // namespace tarnwick
