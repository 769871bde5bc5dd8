#include <algorithm>

#include "hnsw/hnsw_index.hpp"
#include "hnsw/search_scratch.hpp"
#include "vector/batch_scoring.hpp"
#include "vector/finite.hpp"
#include "vector/stable_sort.hpp"

namespace tarnwick {

SearchScratch& thread_scratch() {
  thread_local SearchScratch s;
  return s;
}

double HnswIndex::distance(SearchScratch& s, const PreparedQuery& query, std::uint32_t slot) const {
  double d;
  distances(s, query, std::span(&slot, 1), &d);
  return d;
}

void HnswIndex::distances(SearchScratch& s, const PreparedQuery& query, std::span<const std::uint32_t> slots,
                          double* out) const {
  const std::size_t n = query.values.size();
  if (arena_.all_of_length(n)) {
    score_slots(query, arena_, slots, out);
    for (std::size_t k = 0; k < slots.size(); ++k) out[k] = 1.0 - out[k];
    return;
  }
  // Mixed lengths: score the rows of the query's length together, the others are at distance 1.
  s.matching.clear();
  s.where.clear();
  for (std::size_t k = 0; k < slots.size(); ++k) {
    out[k] = 1.0;
    if (arena_.length(slots[k]) == n) {
      s.matching.push_back(slots[k]);
      s.where.push_back(k);
    }
  }
  s.similarities.resize(s.matching.size());
  score_slots(query, arena_, s.matching, s.similarities.data());
  for (std::size_t j = 0; j < s.matching.size(); ++j) out[s.where[j]] = 1.0 - s.similarities[j];
}

std::uint32_t HnswIndex::greedy_search(SearchScratch& s, const PreparedQuery& query, std::uint32_t entry,
                                       std::uint32_t lc) const {
  s.start(ids_.size());
  s.visit(entry);
  std::uint32_t cur = entry;
  double cur_d = distance(s, query, entry);
  const LayerLinks* links = find_layer(lc);
  if (links == nullptr) return cur;
  for (bool moved = true; moved;) {
    moved = false;
    s.batch.clear();
    for (const std::uint32_t n : links->list(cur)) {
      if (stored(n) && s.visit(n)) s.batch.push_back(n);
    }
    s.batch_distances.resize(s.batch.size());
    distances(s, query, s.batch, s.batch_distances.data());
    for (std::size_t k = 0; k < s.batch.size(); ++k) {
      if (s.batch_distances[k] < cur_d) {
        cur = s.batch[k];
        cur_d = s.batch_distances[k];
        moved = true;
      }
    }
  }
  return cur;
}

void HnswIndex::search_layer_slots(SearchScratch& s, const PreparedQuery& query, std::uint32_t entry,
                                   std::uint64_t ef, std::uint32_t lc) const {
  s.start(ids_.size());
  const FurthestOnTop furthest_on_top{ids_};
  const NearestOnTop nearest_on_top{ids_};
  s.candidates.clear();
  s.results.clear();
  s.visit(entry);
  const SlotDistance first{entry, distance(s, query, entry)};
  s.candidates.push_back(first);
  s.results.push_back(first);
  const LayerLinks* links = find_layer(lc);
  // A neighbour's whole row (its norm and values) is asked for as soon as it is known unvisited,
  // so that its lines arrive together instead of one at a time as the kernel reaches them.
  const std::size_t value_bytes = arena_.precision() == VectorPrecision::Float32 ? sizeof(float) : sizeof(double);
  const std::size_t row_bytes = sizeof(double) + query.values.size() * value_bytes;
  // Without removed ids every interned slot is stored and the check can be skipped.
  const bool all_stored = live_count_ == ids_.size();
  while (!s.candidates.empty() && links != nullptr) {
    const SlotDistance c = heap_pop(s.candidates, nearest_on_top);
    if (c.distance > s.results.front().distance) break;
    const std::span<const std::uint32_t> neighbours = links->list(c.slot);
    for (const std::uint32_t n : neighbours) __builtin_prefetch(&s.visited[n]);
    s.batch.clear();
    for (const std::uint32_t n : neighbours) {
      if ((all_stored || stored(n)) && s.visit(n)) {
        s.batch.push_back(n);
        arena_.prefetch(n, row_bytes);
      }
    }
    s.batch_distances.resize(s.batch.size());
    distances(s, query, s.batch, s.batch_distances.data());
    for (std::size_t k = 0; k < s.batch.size(); ++k) {
      const double d = s.batch_distances[k];
      if (s.results.size() < ef || d < s.results.front().distance) {
        // A candidate may be expanded soon: its links are fetched while the others are weighed.
        links->prefetch(s.batch[k]);
        heap_push(s.candidates, {s.batch[k], d}, nearest_on_top);
        heap_push(s.results, {s.batch[k], d}, furthest_on_top);
        if (s.results.size() > ef) heap_pop(s.results, furthest_on_top);
      }
    }
  }
  s.found.assign(s.results.begin(), s.results.end());
  stable_sort_by(
      s.found, [](const SlotDistance& a, const SlotDistance& b) { return a.distance < b.distance; }, s.sorting);
  if (s.found.size() > ef) s.found.resize(static_cast<std::size_t>(ef));
}

std::vector<Candidate> HnswIndex::search_layer(std::span<const double> query, std::string_view entry,
                                               std::uint64_t ef, std::uint32_t lc) const {
  std::vector<Candidate> out;
  const std::uint32_t slot = slot_of(entry);
  if (!stored(slot)) return out;
  const PreparedQuery prepared(query, config_.distance);
  SearchScratch& s = thread_scratch();
  search_layer_slots(s, prepared, slot, ef, lc);
  for (const SlotDistance& c : s.found) out.push_back({std::string(ids_[c.slot]), c.distance});
  return out;
}

Result<std::vector<ScoredId>> HnswIndex::query_with_ef_search(std::span<const double> query, std::uint64_t top_k,
                                                              std::uint64_t ef_search, double threshold) const {
  if (!all_finite(query)) return fail(err::InvalidArgument{"query vector must contain finite values"});
  if (!std::isfinite(threshold)) return fail(err::InvalidArgument{"threshold must be finite"});
  std::vector<ScoredId> rows;
  if (top_k == 0 || live_count_ == 0 || entry_ == kNoSlot) return rows;
  const PreparedQuery prepared(query, config_.distance);
  SearchScratch& s = thread_scratch();
  std::uint32_t ep = entry_;
  for (std::int32_t lev = max_level_; lev >= 1; --lev) {
    ep = greedy_search(s, prepared, ep, static_cast<std::uint32_t>(lev));
  }
  search_layer_slots(s, prepared, ep, ef_search, 0);
  for (const SlotDistance& c : s.found) {
    const double score = 1.0 - c.distance;
    if (!(score >= threshold)) continue;
    rows.push_back({std::string(ids_[c.slot]), score});
    if (rows.size() == top_k) break;
  }
  return rows;
}

}  // namespace tarnwick
