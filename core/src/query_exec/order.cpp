#include "query_exec/json_number.hpp"
#include "query_exec/ranking.hpp"
#include "query_exec/stages.hpp"

namespace tarnwick::query {

void order_by(Candidates& candidates, const GraphSnapshot& snapshot, const Order& order, std::size_t needed) {
  if (candidates.size() < 2) return;
  const std::size_t slot = snapshot.projection().slot(order.field);
  std::vector<RankedRow> rows;
  rows.reserve(candidates.size());
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::size_t node = candidates[i].node;
    // Missing, non-numeric and non-finite keys all sort as 0.0.
    const double key = node == GraphSnapshot::kNoNode ? 0.0 : finite_number(snapshot.field(slot, node)).value_or(0.0);
    rows.push_back({key, i});
  }
  rank_prefix(rows, needed, order.direction == OrderDirection::Desc);
  const std::size_t kept = std::min(needed, rows.size());
  Candidates sorted;
  sorted.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) sorted.push_back(candidates[rows[i].position]);
  candidates = std::move(sorted);
}

}  // namespace tarnwick::query
