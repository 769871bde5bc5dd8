// Node lookups and node queries. A query is compiled once, its candidates are counted against
// the candidate limit before any node is looked at, matches are gathered as pointers, and only
// the nodes inside the final offset/limit window are copied and given their vectors.
#include "storage/store/node_query.hpp"

#include <algorithm>
#include <limits>

#include "model/ranked_rows.hpp"
#include "storage/store/candidates.hpp"
#include "storage/store/compiled_query.hpp"
#include "storage/store/store.hpp"
#include "storage/store/visit_behind.hpp"

namespace tarnwick::store {

namespace {

using Entry = TextMap<StoredNode>::value_type;

// Asks memory for a stored node's own fields (stage 0), then for the first line of its data
// bytes, the map header and first keys every field walk reads (stage 1).
void prefetch_node(const Entry& entry, std::size_t stage) {
  if (stage == 1) return __builtin_prefetch(entry.second.data_bytes().data());
  const char* node = reinterpret_cast<const char*>(&entry.second);
  __builtin_prefetch(node);
  __builtin_prefetch(node + sizeof(StoredNode) - 1);
}

// Calls `visit` with each stored node among the candidates, in candidate order, until it
// returns false. Unknown listed ids are skipped; a listed id repeated is visited again.
template <class F>
void for_each_candidate(const TextMap<StoredNode>& nodes, const Candidates& c, F&& visit) {
  const auto visit_id = [&](std::string_view id) {
    const auto it = nodes.find(id);
    return it == nodes.end() || visit(*it);
  };
  switch (c.rule) {
    case Candidates::Rule::Listed:
      for (const std::string& id : c.listed)
        if (!visit_id(id)) return;
      return;
    case Candidates::Rule::Indexed:
    case Candidates::Rule::Typed:
      for (const TextSet* ids : c.sets)
        for (const std::string& id : *ids)
          if (!visit_id(id)) return;
      return;
    case Candidates::Rule::Every:
      for (const Entry& entry : nodes)
        if (!visit(entry)) return;
      return;
  }
}

// Each stored node among the candidates, as `for_each_candidate` gives them; when the query
// tests their data, each node and its data are asked of memory ahead of the test.
template <class F>
void for_each_tested(const TextMap<StoredNode>& nodes, const Candidates& c, const CompiledQuery& compiled,
                     F&& visit) {
  if (c.all_match || !compiled.reads_data()) return for_each_candidate(nodes, c, visit);
  visit_behind<Entry, 2>([&](auto&& step) { for_each_candidate(nodes, c, step); }, prefetch_node, visit);
}

Result<void> check_limit(std::string_view name, const std::optional<std::uint64_t>& limit, std::uint64_t n) {
  if (limit && n > *limit) return fail(err::ResourceLimit{std::string(name), *limit});
  return {};
}

// The results kept after dropping `offset` from the front and keeping at most `limit`.
struct Window {
  std::size_t begin;
  std::size_t end;
};

Window window_of(std::size_t n, const NodeQuery& q) {
  const std::size_t begin = static_cast<std::size_t>(std::min<std::uint64_t>(q.offset.value_or(0), n));
  const std::size_t left = n - begin;
  const std::size_t kept = q.limit && *q.limit < left ? static_cast<std::size_t>(*q.limit) : left;
  return {begin, begin + kept};
}

// How many matches a query needs to see: all of them when they are counted or sorted, else
// only as many as reach the end of the window.
std::size_t matches_needed(const NodeQuery& q) {
  constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
  if (q.order_by || q.max_result_size || !q.limit) return kAll;
  const std::uint64_t offset = q.offset.value_or(0);
  return *q.limit > kAll - offset ? kAll : static_cast<std::size_t>(offset + *q.limit);
}

// Whether the stored node passes the query's tests, read in place from its data bytes.
bool admits(const CompiledQuery& compiled, const StoredNode& node) {
  return compiled.matches(node.type(), node.data_bytes());
}

std::vector<const Entry*> gather_matches(const TextMap<StoredNode>& nodes, const Candidates& c,
                                         const CompiledQuery& compiled) {
  const std::size_t needed = matches_needed(compiled.query());
  std::vector<const Entry*> matches;
  if (needed == 0) return matches;
  // Only when every candidate matches is the count a good guess of the matches' number.
  if (c.all_match) matches.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(c.count, needed)));
  for_each_tested(nodes, c, compiled, [&](const Entry& entry) {
    if (c.all_match || admits(compiled, entry.second)) matches.push_back(&entry);
    return matches.size() < needed;
  });
  return matches;
}

// Arranges `matches` so that its first `end` entries are those a stable sort by the order key
// would put there.
void order_matches(std::vector<const Entry*>& matches, const CompiledQuery& compiled, std::size_t end) {
  std::vector<RankedRow> rows;
  rows.reserve(matches.size());
  const auto each_match = [&](auto&& step) {
    for (const Entry* entry : matches)
      if (!step(*entry)) return;
  };
  visit_behind<Entry, 2>(each_match, prefetch_node, [&](const Entry& entry) {
    rows.push_back({compiled.order_key(entry.second.data_bytes()), rows.size()});
    return true;
  });
  rank_prefix(rows, end, compiled.query().order_by->descending());
  std::vector<const Entry*> ordered;
  ordered.reserve(end);
  for (std::size_t i = 0; i < end; ++i) ordered.push_back(matches[rows[i].position]);
  matches = std::move(ordered);
}

}  // namespace

Node Store::with_vector(std::string_view id, const StoredNode& node) const {
  Node copy = node.to_node(id);
  const auto v = vectors_.find(id);
  if (v == vectors_.end())
    copy.vector.reset();
  else
    copy.vector = v->second.to_f64();
  return copy;
}

Result<std::optional<Node>> Store::get_node(std::string_view id) {
  TARNWICK_TRY(ensure_loaded());
  const auto it = nodes_.find(id);
  if (it == nodes_.end()) return std::optional<Node>();
  return std::optional<Node>(with_vector(it->first, it->second));
}

Result<std::vector<Node>> Store::query_nodes(const NodeQuery& query) {
  TARNWICK_TRY(ensure_loaded());
  const Candidates candidates = select_candidates(query);
  TARNWICK_TRY(check_limit("maxNodesVisited", query.max_nodes_visited, candidates.count));
  const CompiledQuery compiled(query);
  std::vector<const Entry*> matches = gather_matches(nodes_, candidates, compiled);
  TARNWICK_TRY(check_limit("maxResultSize", query.max_result_size, matches.size()));
  const Window window = window_of(matches.size(), query);
  if (query.order_by && window.end > window.begin) order_matches(matches, compiled, window.end);
  std::vector<Node> out;
  out.reserve(window.end - window.begin);
  for (std::size_t i = window.begin; i < window.end; ++i) out.push_back(with_vector(matches[i]->first, matches[i]->second));
  return out;
}

Result<std::uint64_t> Store::count_nodes(const NodeQuery& query) {
  TARNWICK_TRY(ensure_loaded());
  const Candidates candidates = select_candidates(query);
  TARNWICK_TRY(check_limit("maxNodesVisited", query.max_nodes_visited, candidates.count));
  std::uint64_t count = 0;
  if (candidates.all_match) {
    count = candidates.count;
  } else {
    const CompiledQuery compiled(query);
    for_each_tested(nodes_, candidates, compiled, [&](const Entry& entry) {
      count += admits(compiled, entry.second) ? 1 : 0;
      return true;
    });
  }
  TARNWICK_TRY(check_limit("maxResultSize", query.max_result_size, count));
  const Window window = window_of(static_cast<std::size_t>(count), query);
  return window.end - window.begin;
}

}  // namespace tarnwick::store
