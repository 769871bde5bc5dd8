#pragma once
// Approximate vector index: a hierarchical navigable small-world graph in memory. The same
// additions of new ids with the same config and level seed always build the same graph.
//
// Ids are interned to dense slots for the life of the graph (until clear): links name slots,
// and a link to a removed id stays dangling, skipped by every reader, and counts again when
// that id is added back.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "hnsw/candidate.hpp"
#include "hnsw/hnsw_config.hpp"
#include "hnsw/layer_links.hpp"
#include "hnsw/search_heaps.hpp"
#include "hnsw/slot_ids.hpp"
#include "model/seeded_hash.hpp"
#include "vector/scored_id.hpp"
#include "vector/vector_arena.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick {

struct PreparedQuery;
struct SearchScratch;

class HnswIndex {
 public:
  // Fails with "HnswConfig.<field> must be at least 1" for the first of m, mmax0,
  // ef_construction, ef_search that is 0.
  static Result<HnswIndex> new_with_precision(const HnswConfig& config, std::uint32_t level_seed,
                                              VectorPrecision precision);

  // Fails with "vector id must not be empty" or "vector must contain finite values". A stored id
  // is removed first and inserted again with a new level.
  Result<void> add(std::string_view id, std::span<const double> values);
  void remove(std::string_view id);
  // Rebuilds the graph at the new precision. Fails with "vector must contain finite values",
  // changing nothing, when a stored vector would not be finite at that precision.
  Result<void> set_precision(VectorPrecision precision);
  // Drops every node; config, precision and the level generator's state stay.
  void clear();

  std::optional<std::vector<double>> get(std::string_view id) const;
  TextMap<std::vector<double>> nodes() const;
  // At most min(top_k, ef_search) hits scoring at least `threshold`, best first. Fails with
  // "query vector must contain finite values" or "threshold must be finite".
  Result<std::vector<ScoredId>> query_with_ef_search(std::span<const double> query, std::uint64_t top_k,
                                                     std::uint64_t ef_search, double threshold) const;

  std::size_t len() const { return live_count_; }
  bool has(std::string_view id) const;

  const HnswConfig& config() const { return config_; }
  VectorPrecision precision() const { return arena_.precision(); }

  // Read-outs of the graph.
  std::optional<std::string> entry_point() const;
  std::int32_t max_level() const { return max_level_; }
  std::optional<std::uint32_t> level_of(std::string_view id) const;
  // The id's list on `layer` without ids no longer stored; empty when it has none.
  std::vector<std::string> get_neighbors(std::string_view id, std::uint32_t layer) const;
  // Best-first search of one layer from a stored entry id: at most ef candidates, nearest first.
  // Empty when `entry` is not stored.
  std::vector<Candidate> search_layer(std::span<const double> query, std::string_view entry, std::uint64_t ef,
                                      std::uint32_t layer) const;

 private:
  static constexpr std::uint32_t kNoSlot = SlotIds::kNoSlot;
  HnswIndex(const HnswConfig& config, std::uint32_t level_seed, VectorPrecision precision);

  bool stored(std::uint32_t slot) const { return slot < stored_.size() && stored_[slot] != 0; }
  std::uint32_t slot_of(std::string_view id) const { return ids_.find(id); }
  std::uint32_t intern(std::string_view id);
  LayerLinks& layer(std::uint32_t lc);
  const LayerLinks* find_layer(std::uint32_t lc) const;
  std::uint64_t links_kept(std::uint32_t lc) const { return lc == 0 ? config_.mmax0 : config_.m; }

  void insert_into_graph(std::uint32_t slot, std::uint32_t level);
  void shrink_neighbors(SearchScratch& s, std::uint32_t owner, std::uint32_t lc, std::uint64_t limit);
  void unlink_node(std::uint32_t slot);
  // True when no layer offered a node and the fallback already set the top.
  bool elect_entry_point();
  void trim_top_layers();

  std::uint32_t greedy_search(SearchScratch& s, const PreparedQuery& query, std::uint32_t entry,
                              std::uint32_t lc) const;
  // Leaves the nearest candidates, at most ef, nearest first, in s.found.
  void search_layer_slots(SearchScratch& s, const PreparedQuery& query, std::uint32_t entry, std::uint64_t ef,
                          std::uint32_t lc) const;
  // Distances (1 - similarity) of stored slots to the query; another length gives distance 1.
  void distances(SearchScratch& s, const PreparedQuery& query, std::span<const std::uint32_t> slots,
                 double* out) const;
  double distance(SearchScratch& s, const PreparedQuery& query, std::uint32_t slot) const;

  HnswConfig config_;
  double level_mult_;
  std::uint32_t rng_state_;
  std::int32_t max_level_ = -1;
  std::uint32_t entry_ = kNoSlot;
  std::size_t live_count_ = 0;

  VectorArena arena_;
  SlotIds ids_;
  std::vector<std::uint8_t> stored_;   // by slot: 1 while the id is stored
  std::vector<std::uint32_t> levels_;  // by slot: top layer of a stored node
  std::vector<LayerLinks> layers_;     // by layer number
};

}  // namespace tarnwick
