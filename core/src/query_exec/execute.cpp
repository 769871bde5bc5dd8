#include "query_exec/engine.hpp"
#include "query_exec/stages.hpp"

namespace tarnwick::query {

namespace {

// How many leading candidates offset and limit look at: the skipped ones and the kept ones.
// Both saturate at the list's length; their sum is never formed from the raw counts.
std::size_t window_end(std::size_t n, const QueryPlan& plan) {
  const std::size_t skip = std::min<std::uint64_t>(plan.offset.value_or(0), n);
  const std::size_t keep = std::min<std::uint64_t>(plan.limit.value_or(n), n - skip);
  return skip + keep;
}

void take_window(Candidates& candidates, const QueryPlan& plan) {
  const std::size_t n = candidates.size();
  const std::size_t skip = std::min<std::uint64_t>(plan.offset.value_or(0), n);
  candidates.resize(window_end(n, plan));
  candidates.erase(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(skip));
}

}  // namespace

Result<Candidates> run_plan(GraphSnapshot& snapshot, const QueryPlan& plan, const HnswIndex* index) {
  index_edges_for(snapshot, plan);
  const CompiledPlan compiled(plan, snapshot);
  Candidates candidates = matching_seeds(snapshot, plan, compiled);
  if (candidates.empty()) return candidates;
  if (plan.traversal)
    for (const TraversalStep& step : *plan.traversal) traverse(candidates, snapshot, step);
  if (plan.order) {
    // Similarity ranks the whole ordered list; without it only the window is ever read.
    const std::size_t needed = plan.similarity ? candidates.size() : window_end(candidates.size(), plan);
    order_by(candidates, snapshot, *plan.order, needed);
  }
  if (plan.similarity) {
    const Similarity& s = *plan.similarity;
    TARNWICK_TRY(s.engine == SimilarityEngine::Hnsw ? rank_hnsw(candidates, s, index) : rank_exact(candidates, snapshot, s));
  }
  take_window(candidates, plan);
  return candidates;
}

Result<std::vector<std::string>> execute(GraphSnapshot& snapshot, const QueryPlan& plan, const HnswIndex* index) {
  TARNWICK_TRY_ASSIGN(auto candidates, run_plan(snapshot, plan, index));
  std::vector<std::string> ids;
  ids.reserve(candidates.size());
  for (const ListedId& c : candidates) ids.emplace_back(c.id);
  return ids;
}

}  // namespace tarnwick::query
