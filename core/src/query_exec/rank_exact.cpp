#include <span>

#include "query_exec/ranking.hpp"
#include "query_exec/stages.hpp"
#include "vector/similarity.hpp"

namespace tarnwick::query {

Result<void> rank_exact(Candidates& candidates, const GraphSnapshot& snapshot, const Similarity& similarity) {
  const std::span<const double> query = similarity.vector;
  std::vector<RankedRow> rows;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::size_t node = candidates[i].node;
    if (node == GraphSnapshot::kNoNode) continue;
    const std::optional<std::span<const double>> v = snapshot.vector(node);
    if (!v) continue;
    // The query is the first operand: a length difference reports the query's length as expected.
    const Result<double> score = tarnwick::similarity<double, double>(query, *v, DistanceMetric::Cosine);
    if (!score) return fail(score.error());
    // NaN fails this comparison and is dropped, so no ranked key is NaN.
    if (*score >= similarity.threshold) rows.push_back({*score, i});
  }
  const std::size_t k = similarity.top_k ? std::min<std::uint64_t>(*similarity.top_k, rows.size()) : rows.size();
  rank_prefix(rows, k, /*descending=*/true);
  Candidates ranked;
  ranked.reserve(k);
  for (std::size_t i = 0; i < k; ++i) ranked.push_back(candidates[rows[i].position]);
  candidates = std::move(ranked);
  return {};
}

}  // namespace tarnwick::query
