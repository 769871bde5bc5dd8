#pragma once
// Brute-force vector index: entries keep their insertion order, a query scores every entry.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/error.hpp"
#include "model/seeded_hash.hpp"
#include "vector/scored_id.hpp"
#include "vector/similarity.hpp"
#include "vector/vector_arena.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick {

class ExactIndex {
 public:
  ExactIndex(DistanceMetric metric, VectorPrecision precision);

  // Fails with "vector id must not be empty" or "vector must contain finite values". A known id
  // keeps its place and takes the new vector; a new id goes last. Any length is accepted.
  Result<void> add(std::string_view id, std::span<const double> values);
  // An absent id is no error; later entries move up one place.
  void remove(std::string_view id);
  // `remove` of each id in turn, in time linear in the index rather than in their product.
  void remove_many(std::span<const std::string> ids);
  std::optional<std::vector<double>> get(std::string_view id) const;
  // Re-encodes every entry in place; going to float32 rounds and is not undone by going back.
  void set_precision(VectorPrecision precision);
  std::vector<std::pair<std::string, std::vector<double>>> entries() const;
  // The best top_k entries scoring at least `threshold`, best first. Fails on a non-finite query
  // value, or with DimensionMismatch{query length, entry length} at the first entry of another length.
  Result<std::vector<ScoredId>> query(std::span<const double> query, std::uint64_t top_k, double threshold) const;

  std::size_t len() const { return order_.size(); }
  bool has(std::string_view id) const { return slots_.contains(id); }
  void clear();

  DistanceMetric metric() const { return metric_; }
  VectorPrecision precision() const { return arena_.precision(); }

 private:
  // Forgets `id` and frees its slot for reuse, leaving the entry order to the caller; the slot,
  // or none when the id is absent.
  std::optional<std::uint32_t> release(std::string_view id);

  DistanceMetric metric_;
  VectorArena arena_;
  // Entry order as arena slots; a removed entry's slot (and its space) is reused by a later add.
  std::vector<std::uint32_t> order_;
  std::vector<std::string> ids_;  // by slot
  TextMap<std::uint32_t> slots_;
  std::vector<std::uint32_t> free_slots_;
};

}  // namespace tarnwick
