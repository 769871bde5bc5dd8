#include "vector/exact_index.hpp"

#include <algorithm>

#include "vector/batch_scoring.hpp"
#include "vector/finite.hpp"
#include "vector/stable_sort.hpp"

namespace tarnwick {

namespace {

// Entries are scored this many at a time, then fed to the heap in entry order.
constexpr std::size_t kScanChunk = 1024;

struct HeapItem {
  double score;
  std::uint64_t seq;
  std::uint32_t slot;
};

// x ranks above y (nearer the root) when it scores lower, or scores the same and passed the
// threshold later. NaN ranks neither way.
bool ranks_above(const HeapItem& x, const HeapItem& y) {
  return x.score < y.score || (x.score == y.score && x.seq > y.seq);
}

void sift_up(std::vector<HeapItem>& heap, std::size_t i) {
  while (i > 0) {
    const std::size_t parent = (i - 1) / 2;
    if (!ranks_above(heap[i], heap[parent])) return;
    std::swap(heap[i], heap[parent]);
    i = parent;
  }
}

void sift_down(std::vector<HeapItem>& heap, std::size_t i) {
  for (;;) {
    std::size_t best = i;
    const std::size_t left = 2 * i + 1;
    const std::size_t right = left + 1;
    if (left < heap.size() && ranks_above(heap[left], heap[best])) best = left;
    if (right < heap.size() && ranks_above(heap[right], heap[best])) best = right;
    if (best == i) return;
    std::swap(heap[i], heap[best]);
    i = best;
  }
}

}  // namespace

ExactIndex::ExactIndex(DistanceMetric metric, VectorPrecision precision) : metric_(metric), arena_(precision) {}

Result<void> ExactIndex::add(std::string_view id, std::span<const double> values) {
  if (id.empty()) return fail(err::InvalidArgument{"vector id must not be empty"});
  if (!all_finite(values)) return fail(err::InvalidArgument{"vector must contain finite values"});
  if (const auto it = slots_.find(id); it != slots_.end()) {
    arena_.put(it->second, values);
    return {};
  }
  std::uint32_t slot;
  if (free_slots_.empty()) {
    slot = arena_.slot_count();
    ids_.emplace_back(id);
  } else {
    slot = free_slots_.back();
    free_slots_.pop_back();
    ids_[slot] = id;
  }
  arena_.put(slot, values);
  slots_.emplace(std::string(id), slot);
  order_.push_back(slot);
  return {};
}

std::optional<std::uint32_t> ExactIndex::release(std::string_view id) {
  const auto it = slots_.find(id);
  if (it == slots_.end()) return std::nullopt;
  const std::uint32_t slot = it->second;
  slots_.erase(it);
  ids_[slot].clear();
  free_slots_.push_back(slot);
  return slot;
}

void ExactIndex::remove(std::string_view id) {
  if (const auto slot = release(id)) order_.erase(std::find(order_.begin(), order_.end(), *slot));
}

// Each removal alone would search and close up the entry order; many close it up in one pass.
void ExactIndex::remove_many(std::span<const std::string> ids) {
  std::vector<bool> released(arena_.slot_count(), false);
  bool any = false;
  for (const std::string& id : ids) {
    if (const auto slot = release(id)) released[*slot] = any = true;
  }
  if (any) std::erase_if(order_, [&](std::uint32_t slot) { return released[slot]; });
}

std::optional<std::vector<double>> ExactIndex::get(std::string_view id) const {
  const auto it = slots_.find(id);
  if (it == slots_.end()) return std::nullopt;
  return arena_.to_f64(it->second);
}

void ExactIndex::set_precision(VectorPrecision precision) { arena_.set_precision(precision); }

std::vector<std::pair<std::string, std::vector<double>>> ExactIndex::entries() const {
  std::vector<std::pair<std::string, std::vector<double>>> out;
  out.reserve(order_.size());
  for (const std::uint32_t slot : order_) out.emplace_back(ids_[slot], arena_.to_f64(slot));
  return out;
}

Result<std::vector<ScoredId>> ExactIndex::query(std::span<const double> query, std::uint64_t top_k,
                                                double threshold) const {
  if (!all_finite(query)) return fail(err::InvalidArgument{"query vector must contain finite values"});
  if (top_k == 0 || order_.empty()) return std::vector<ScoredId>{};
  // The first entry of another length fails the query whatever was scored before it, so the
  // lengths are checked before any scoring.
  if (!arena_.all_of_length(query.size())) {
    for (const std::uint32_t slot : order_) {
      if (arena_.length(slot) != query.size()) return fail(err::DimensionMismatch{query.size(), arena_.length(slot)});
    }
  }

  const PreparedQuery prepared(query, metric_);
  const std::size_t capacity = static_cast<std::size_t>(std::min<std::uint64_t>(top_k, order_.size()));
  std::vector<HeapItem> heap;
  heap.reserve(capacity);
  std::uint64_t seq = 0;
  double scores[kScanChunk];
  for (std::size_t start = 0; start < order_.size(); start += kScanChunk) {
    const std::size_t count = std::min(kScanChunk, order_.size() - start);
    score_slots(prepared, arena_, std::span(order_).subspan(start, count), scores);
    for (std::size_t k = 0; k < count; ++k) {
      const double score = scores[k];
      if (score < threshold) continue;
      if (heap.size() < capacity) {
        heap.push_back({score, seq, order_[start + k]});
        sift_up(heap, heap.size() - 1);
      } else if (score > heap.front().score) {
        heap.front() = {score, seq, order_[start + k]};
        sift_down(heap, 0);
      }
      ++seq;
    }
  }

  std::vector<ScoredId> rows;
  rows.reserve(heap.size());
  for (const HeapItem& item : heap) rows.push_back({ids_[item.slot], item.score});
  stable_sort_by(rows, [](const ScoredId& a, const ScoredId& b) { return b.score < a.score; });
  return rows;
}

void ExactIndex::clear() {
  arena_.clear();
  order_.clear();
  ids_.clear();
  slots_ = TextMap<std::uint32_t>();
  free_slots_.clear();
}

}  // namespace tarnwick
