// Random stores with secondary indexes (typed, sparse, two fields, unique): every node query and
// count answers as the decoded data answers it, in the same order, and the index entries kept
// from the stored bytes are the keys of the decoded nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "storage/store/field_path.hpp"
#include "store/query_fixture.hpp"

namespace tarnwick::store {
namespace {

using Rng = std::mt19937_64;

template <class T>
const T& pick(Rng& rng, const std::vector<T>& from) {
  return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
}

const std::vector<json::Value>& values() {
  static const std::vector<json::Value> pool = [] {
    std::vector<json::Value> out;
    for (const char* text : {"0", "1", "2", "1.0", "0.0", "-0.0", "18446744073709551615", R"("x")", R"("é")", "null",
                             "[1]", R"({"a":1,"b":2})", R"({"b":2,"a":1})", R"({"m":1})", "true"})
      out.push_back(json::parse(text).value());
    return out;
  }();
  return pool;
}

const std::vector<std::string> kTypes = {"note", "fact", "task"};
const std::vector<std::string> kPaths = {"k", "t", "s", "o", "o.a", "o.m", "type", "k.a", ""};

json::Object random_data(Rng& rng) {
  json::Object data;
  for (const char* key : {"k", "t", "s", "o", "text"})
    if (rng() % 4) data[key] = pick(rng, values());
  if (data.contains("text")) data["text"] = std::string(rng() % 300, 'z');
  return data;
}

Node random_node(Rng& rng, int id) { return test::make_node("n" + std::to_string(id), pick(rng, kTypes), random_data(rng)); }

std::vector<SecondaryIndexDefinition> definitions() {
  return {
      {"note_t", {"t"}, std::string("note"), false, false},
      {"sparse_s", {"s"}, std::nullopt, false, true},
      {"k_t", {"k", "t"}, std::nullopt, false, false},
      {"unique_k", {"k"}, std::nullopt, true, false},
      {"o", {"o"}, std::nullopt, false, false},
  };
}

NodeQuery random_query(Rng& rng, Store& s) {
  NodeQuery q;
  if (rng() % 8 == 0) {
    std::vector<std::string> ids = *s.node_ids();
    ids.resize(std::min<std::size_t>(ids.size(), rng() % 20));
    ids.push_back("ghost");
    q.candidate_ids = std::move(ids);
  }
  if (rng() % 2) {
    q.node_types.emplace();
    for (std::size_t n = rng() % 3; n > 0; --n) q.node_types->push_back(pick(rng, kTypes));
  }
  if (rng() % 4) {
    q.attributes.emplace();
    for (std::size_t n = 1 + rng() % 2; n > 0; --n) q.attributes->insert_or_assign(pick(rng, kPaths), pick(rng, values()));
  }
  if (rng() % 3 == 0) {
    const std::vector<std::optional<double>> bounds = {std::nullopt, -0.5, 0.0, 0.5, 1.0, 2.0};
    q.attribute_ranges.emplace().emplace_back(pick(rng, kPaths), RangeQuery{pick(rng, bounds), pick(rng, bounds)});
  }
  if (rng() % 3 == 0) q.order_by = OrderBy{pick(rng, kPaths), rng() % 2 ? "desc" : "asc"};
  if (rng() % 3 == 0) q.offset = rng() % 30;
  if (rng() % 2) q.limit = rng() % 40;
  if (rng() % 6 == 0) q.max_nodes_visited = rng() % 400;
  if (rng() % 6 == 0) q.max_result_size = rng() % 100;
  return q;
}

bool reference_matches(const NodeQuery& q, const Node& n) {
  if (q.node_types && std::ranges::find(*q.node_types, n.type) == q.node_types->end()) return false;
  if (q.attributes)
    for (const auto& kv : *q.attributes)
      if (!json::equal(node_field(n, kv.key()), kv.value())) return false;
  if (q.attribute_ranges)
    for (const auto& [path, b] : *q.attribute_ranges) {
      const std::optional<double> d = json::as_double(node_field(n, path));
      if (!d || (b.above && !(*d > *b.above)) || (b.below && !(*d < *b.below))) return false;
    }
  return true;
}

// The query answered from the decoded nodes, walking the store's own candidates in their order.
Result<std::vector<std::string>> reference_answer(Store& s, const NodeQuery& q) {
  const Candidates c = StoreTestAccess::select_candidates(s, q);
  if (q.max_nodes_visited && c.count > *q.max_nodes_visited)
    return fail(err::ResourceLimit{"maxNodesVisited", *q.max_nodes_visited});
  std::vector<std::string> ids;
  switch (c.rule) {
    case Candidates::Rule::Listed: ids.assign(c.listed.begin(), c.listed.end()); break;
    case Candidates::Rule::Indexed:
    case Candidates::Rule::Typed:
      for (const TextSet* set : c.sets) ids.insert(ids.end(), set->begin(), set->end());
      break;
    case Candidates::Rule::Every:
      for (const auto& entry : StoreTestAccess::nodes(s)) ids.push_back(entry.first);
      break;
  }
  const TextMap<Node> nodes = StoreTestAccess::node_records(s);
  std::vector<std::pair<double, std::string>> matches;
  for (const std::string& id : ids) {
    const auto it = nodes.find(id);
    if (it == nodes.end() || !reference_matches(q, it->second)) continue;
    const json::Value* key = q.order_by ? it->second.data.if_contains(q.order_by->field) : nullptr;
    matches.emplace_back(key ? json::finite_number(*key).value_or(0.0) : 0.0, id);
  }
  // The walk above follows the store's own candidates: that they miss no node the query accepts
  // is checked against every stored node (or every listed id).
  std::set<std::string> accepted, walked;
  for (const auto& [id, node] : nodes)
    if ((!q.candidate_ids || std::ranges::find(*q.candidate_ids, id) != q.candidate_ids->end()) &&
        reference_matches(q, node))
      accepted.insert(id);
  for (const auto& match : matches) walked.insert(match.second);
  EXPECT_EQ(walked, accepted) << "candidates by rule " << static_cast<int>(c.rule);
  if (q.max_result_size && matches.size() > *q.max_result_size)
    return fail(err::ResourceLimit{"maxResultSize", *q.max_result_size});
  if (q.order_by)
    std::ranges::stable_sort(matches, [&](const auto& a, const auto& b) {
      return q.order_by->descending() ? a.first > b.first : a.first < b.first;
    });
  const std::size_t begin = std::min<std::size_t>(q.offset.value_or(0), matches.size());
  const std::size_t end = std::min<std::size_t>(begin + std::min<std::uint64_t>(q.limit.value_or(matches.size()), matches.size()),
                                                matches.size());
  std::vector<std::string> out;
  for (std::size_t i = begin; i < end; ++i) out.push_back(matches[i].second);
  return out;
}

void expect_reference_index_entries(Store& s) {
  TextMap<TextMap<TextSet>> expected;
  for (const auto& [name, def] : StoreTestAccess::index_definitions(s)) {
    auto& entries = expected[name];
    for (const auto& [id, node] : StoreTestAccess::node_records(s))
      if (auto key = Store::secondary_key(node, def)) entries[*key].insert(id);
  }
  EXPECT_EQ(StoreTestAccess::index_entries(s), expected);
}

TEST(NodeQueryAgreement, QueriesAndCountsAnswerAsTheDecodedNodes) {
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    Rng rng(seed);
    std::vector<Node> nodes;
    for (int i = 0; i < 250; ++i) nodes.push_back(random_node(rng, i));
    test::GraphStore g(nodes, {}, definitions());
    expect_reference_index_entries(g.store);
    // Puts over stored nodes and deletes take their old keys out from the stored bytes.
    for (int i = 0; i < 150; ++i) {
      const int id = static_cast<int>(rng() % 300);
      if (rng() % 3)
        test::put_node(g.store, random_node(rng, id));
      else
        test::delete_node(g.store, "n" + std::to_string(id));
    }
    expect_reference_index_entries(g.store);
    for (int i = 0; i < 400; ++i) {
      const NodeQuery q = random_query(rng, g.store);
      const auto want = reference_answer(g.store, q);
      const auto got = g->query_nodes(q);
      ASSERT_EQ(test::error_text(got), test::error_text(want)) << seed << " " << i;
      if (got) {
        EXPECT_EQ(test::ids_of(*got), *want) << seed << " " << i;
      }
      const auto count = g->count_nodes(q);
      if (want) {
        ASSERT_TRUE(count.has_value()) << count.error().text();
        EXPECT_EQ(*count, want->size()) << seed << " " << i;
      } else {
        EXPECT_EQ(test::error_text(count), test::error_text(want)) << seed << " " << i;
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick::store
