#include <boost/unordered/unordered_flat_map.hpp>

#include "hnsw/hnsw_index.hpp"
#include "query_exec/ranking.hpp"
#include "query_exec/stages.hpp"

namespace tarnwick::query {

// The index searches everything it holds; hits that are not candidates are dropped without
// replacement, and repeated candidates yield one row each.
Result<void> rank_hnsw(Candidates& candidates, const Similarity& similarity, const HnswIndex* index) {
  if (!index) return fail(err::InvalidArgument{"similarity.engine=hnsw requires an hnsw index"});
  const std::uint64_t k = similarity.top_k.value_or(candidates.size());
  TARNWICK_TRY_ASSIGN(auto hits, index->query_with_ef_search(similarity.vector, k, index->config().ef_search, similarity.threshold));
  boost::unordered_flat_map<std::string_view, double, SeededHash, std::equal_to<>> score_of;
  score_of.reserve(hits.size());
  for (const ScoredId& hit : hits) score_of.try_emplace(hit.id, hit.score);
  std::vector<RankedRow> rows;
  for (std::size_t i = 0; i < candidates.size(); ++i)
    if (const auto it = score_of.find(candidates[i].id); it != score_of.end()) rows.push_back({it->second, i});
  rank_prefix(rows, rows.size(), /*descending=*/true);
  Candidates ranked;
  ranked.reserve(rows.size());
  for (const RankedRow& row : rows) ranked.push_back(candidates[row.position]);
  candidates = std::move(ranked);
  return {};
}

}  // namespace tarnwick::query
