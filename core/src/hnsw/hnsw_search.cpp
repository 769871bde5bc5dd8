#include <algorithm>

#include "hnsw/hnsw_index.hpp"
#include "vector/batch_scoring.hpp"
#include "vector/finite.hpp"
#include "vector/stable_sort.hpp"

namespace tarnwick {

namespace {

// Working memory of one thread's searches. Queries only read the index and may run on several
// threads at once, so nothing mutable lives in the index itself. The visited set is an array of
// epoch stamps by slot: starting a search is one increment instead of clearing a set.
struct SearchScratch {
  std::vector<std::uint32_t> visited;
  std::uint32_t epoch = 0;
  std::vector<SlotDistance> candidates;
  std::vector<SlotDistance> results;
  std::vector<std::uint32_t> batch;
  std::vector<double> batch_distances;

  void start(std::size_t slot_count) {
    if (visited.size() < slot_count) visited.resize(slot_count, 0);
    if (++epoch == 0) {
      std::fill(visited.begin(), visited.end(), 0);
      epoch = 1;
    }
  }
  bool visit(std::uint32_t slot) {
    if (visited[slot] == epoch) return false;
    visited[slot] = epoch;
    return true;
  }
};

// The first lines of each neighbour's row; the kernel fetches the rest of each batch ahead.
constexpr std::size_t kPrefetchBytes = 256;

SearchScratch& scratch() {
  thread_local SearchScratch s;
  return s;
}

}  // namespace

double HnswIndex::distance(const PreparedQuery& query, std::uint32_t slot) const {
  double d;
  distances(query, std::span(&slot, 1), &d);
  return d;
}

void HnswIndex::distances(const PreparedQuery& query, std::span<const std::uint32_t> slots, double* out) const {
  const std::size_t n = query.values.size();
  if (arena_.all_of_length(n)) {
    score_slots(query, arena_, slots, out);
    for (std::size_t k = 0; k < slots.size(); ++k) out[k] = 1.0 - out[k];
    return;
  }
  // Mixed lengths: score the rows of the query's length together, the others are at distance 1.
  std::vector<std::uint32_t> matching;
  std::vector<std::size_t> where;
  for (std::size_t k = 0; k < slots.size(); ++k) {
    out[k] = 1.0;
    if (arena_.length(slots[k]) == n) {
      matching.push_back(slots[k]);
      where.push_back(k);
    }
  }
  std::vector<double> similarities(matching.size());
  score_slots(query, arena_, matching, similarities.data());
  for (std::size_t j = 0; j < matching.size(); ++j) out[where[j]] = 1.0 - similarities[j];
}

std::uint32_t HnswIndex::greedy_search(const PreparedQuery& query, std::uint32_t entry, std::uint32_t lc) const {
  SearchScratch& s = scratch();
  s.start(ids_.size());
  s.visit(entry);
  std::uint32_t cur = entry;
  double cur_d = distance(query, entry);
  const LayerLinks* links = find_layer(lc);
  if (links == nullptr) return cur;
  for (bool moved = true; moved;) {
    moved = false;
    s.batch.clear();
    for (const std::uint32_t n : links->list(cur)) {
      if (stored(n) && s.visit(n)) s.batch.push_back(n);
    }
    s.batch_distances.resize(s.batch.size());
    distances(query, s.batch, s.batch_distances.data());
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

std::vector<SlotDistance> HnswIndex::search_layer_slots(const PreparedQuery& query, std::uint32_t entry,
                                                        std::uint64_t ef, std::uint32_t lc) const {
  SearchScratch& s = scratch();
  s.start(ids_.size());
  const FurthestOnTop furthest_on_top{ids_};
  const NearestOnTop nearest_on_top{ids_};
  s.candidates.clear();
  s.results.clear();
  s.visit(entry);
  const SlotDistance first{entry, distance(query, entry)};
  s.candidates.push_back(first);
  s.results.push_back(first);
  const LayerLinks* links = find_layer(lc);
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
        arena_.prefetch(n, kPrefetchBytes);
      }
    }
    s.batch_distances.resize(s.batch.size());
    distances(query, s.batch, s.batch_distances.data());
    for (std::size_t k = 0; k < s.batch.size(); ++k) {
      const double d = s.batch_distances[k];
      if (s.results.size() < ef || d < s.results.front().distance) {
        heap_push(s.candidates, {s.batch[k], d}, nearest_on_top);
        heap_push(s.results, {s.batch[k], d}, furthest_on_top);
        if (s.results.size() > ef) heap_pop(s.results, furthest_on_top);
      }
    }
    // The nearest candidate left is the next to expand: fetch its links while the loop turns.
    if (!s.candidates.empty()) __builtin_prefetch(links->list_address(s.candidates.front().slot));
  }
  std::vector<SlotDistance> found(s.results.begin(), s.results.end());
  stable_sort_by(found, [](const SlotDistance& a, const SlotDistance& b) { return a.distance < b.distance; });
  if (found.size() > ef) found.resize(static_cast<std::size_t>(ef));
  return found;
}

std::vector<Candidate> HnswIndex::search_layer(std::span<const double> query, std::string_view entry,
                                               std::uint64_t ef, std::uint32_t lc) const {
  std::vector<Candidate> out;
  const std::uint32_t slot = slot_of(entry);
  if (!stored(slot)) return out;
  const PreparedQuery prepared(query, config_.distance);
  for (const SlotDistance& c : search_layer_slots(prepared, slot, ef, lc)) out.push_back({ids_[c.slot], c.distance});
  return out;
}

Result<std::vector<ScoredId>> HnswIndex::query_with_ef_search(std::span<const double> query, std::uint64_t top_k,
                                                              std::uint64_t ef_search, double threshold) const {
  if (!all_finite(query)) return fail(err::InvalidArgument{"query vector must contain finite values"});
  if (!std::isfinite(threshold)) return fail(err::InvalidArgument{"threshold must be finite"});
  std::vector<ScoredId> rows;
  if (top_k == 0 || live_count_ == 0 || entry_ == kNoSlot) return rows;
  const PreparedQuery prepared(query, config_.distance);
  std::uint32_t ep = entry_;
  for (std::int32_t lev = max_level_; lev >= 1; --lev) ep = greedy_search(prepared, ep, static_cast<std::uint32_t>(lev));
  for (const SlotDistance& c : search_layer_slots(prepared, ep, ef_search, 0)) {
    const double score = 1.0 - c.distance;
    if (!(score >= threshold)) continue;
    rows.push_back({ids_[c.slot], score});
    if (rows.size() == top_k) break;
  }
  return rows;
}

}  // namespace tarnwick
