// The batch checks against a literal reference: the graph the batch would leave is built by
// copying the stored maps, then every node, edge and unique definition is checked by scanning
// that copy, exactly as the rules are stated. Random graphs, schemas, definitions and batches;
// after each batch the derived maps must also equal a fresh rebuild.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "storage/store/data_type.hpp"
#include "storage/store/projection.hpp"
#include "store/graph_fixture.hpp"

namespace tarnwick::test {
namespace {

using store::EdgeTypeDefinition;
using store::NodeTypeDefinition;
using store::Projection;
using store::SecondaryIndexDefinition;
using store::Store;

// ---- The reference, written from the rules and sharing no code with the store but the key
// writer and the type test (each tested on its own).

const json::Value* walk(const json::Object* object, const std::string& path) {
  std::vector<std::string> segments(1);
  for (char c : path) {
    if (c == '.') segments.emplace_back();
    else segments.back().push_back(c);
  }
  const json::Value* reached = nullptr;
  for (const std::string& segment : segments) {
    if (object == nullptr) return nullptr;
    reached = object->if_contains(segment);
    if (reached == nullptr) return nullptr;
    object = reached->if_object();
  }
  return reached;
}

std::optional<std::string> node_failure(const TextMap<NodeTypeDefinition>& schemas, const Node& node) {
  auto it = schemas.find(node.type);
  if (it == schemas.end()) return std::nullopt;
  for (const std::string& f : it->second.required_fields)
    if (!walk(&node.data, f)) return "required field " + f + " is missing for node type " + node.type;
  for (const auto& [f, type] : it->second.data_types)
    if (const json::Value* v = walk(&node.data, f); v && !store::matches_data_type(*v, type))
      return "node field " + f + " must be " + type;
  return std::nullopt;
}

bool listed(const std::vector<std::string>& list, const std::string& s) {
  return list.empty() || std::find(list.begin(), list.end(), s) != list.end();
}

std::optional<std::string> edge_failure(const TextMap<EdgeTypeDefinition>& schemas, const Edge& edge,
                                        const TextMap<Node>& nodes, const TextMap<Edge>& edges) {
  auto it = schemas.find(edge.type);
  if (it == schemas.end()) return std::nullopt;
  const EdgeTypeDefinition& d = it->second;
  if (!nodes.contains(edge.source)) return "edge " + edge.id + " source node is missing";
  if (!nodes.contains(edge.target)) return "edge " + edge.id + " target node is missing";
  const std::string& st = nodes.at(edge.source).type;
  const std::string& tt = nodes.at(edge.target).type;
  if (!listed(d.source_types, st)) return "edge type " + edge.type + " does not permit source type " + st;
  if (!listed(d.target_types, tt)) return "edge type " + edge.type + " does not permit target type " + tt;
  const json::Object* data = edge.data ? &*edge.data : nullptr;
  for (const std::string& f : d.required_fields)
    if (!walk(data, f)) return "required field " + f + " is missing for edge type " + edge.type;
  for (const auto& [f, type] : d.data_types)
    if (const json::Value* v = walk(data, f); v && !store::matches_data_type(*v, type))
      return "edge field " + f + " must be " + type;
  if (!d.cardinality) return std::nullopt;
  std::size_t same_source = 0, same_target = 0;
  for (const auto& [id, other] : edges) {
    if (id == edge.id || other.type != edge.type) continue;
    same_source += other.source == edge.source;
    same_target += other.target == edge.target;
  }
  const std::string& c = *d.cardinality;
  const bool refused = c == "one-to-one"    ? same_source > 0 || same_target > 0
                       : c == "one-to-many" ? same_target > 0
                       : c == "many-to-one" ? same_source > 0
                                            : false;
  if (refused) return "edge cardinality " + c + " would be exceeded";
  return std::nullopt;
}

// Compares the store's verdict on one batch with the reference's; returns the store's error text
// (empty when the batch passes).
std::string expect_same_verdict(Store& s, const ChangeBatch& batch) {
  TextMap<Node> nodes = StoreTestAccess::node_records(s);
  TextMap<Edge> edges = StoreTestAccess::edges(s);
  for (const std::string& id : batch.delete_edge_ids) edges.erase(id);
  for (const std::string& id : batch.delete_node_ids) nodes.erase(id);
  for (const Node& n : batch.put_nodes) nodes.insert_or_assign(n.id, n);
  for (const Edge& e : batch.put_edges) edges.insert_or_assign(e.id, e);

  const Projection projected(StoreTestAccess::nodes(s), StoreTestAccess::edges(s), batch);
  const auto& node_types = StoreTestAccess::node_types(s);
  const auto& edge_types = StoreTestAccess::edge_types(s);
  const auto& definitions = StoreTestAccess::index_definitions(s);
  Result<void> got = StoreTestAccess::validate_schemas(s, projected);
  if (got) got = StoreTestAccess::validate_unique_indexes(s, projected);
  const std::string message = got ? "" : got.error().text();

  // Node rules: any failing node may be the one reported.
  std::set<std::string> node_messages;
  for (const auto& [id, n] : nodes)
    if (auto m = node_failure(node_types, n)) node_messages.insert("invalid_argument: " + *m);
  if (!node_messages.empty()) {
    EXPECT_TRUE(node_messages.contains(message)) << message;
    return message;
  }
  for (const Edge& e : batch.put_edges) {
    if (auto m = edge_failure(edge_types, e, nodes, edges)) {
      EXPECT_EQ(message, "invalid_argument: " + *m);
      return message;
    }
  }
  for (const auto& [name, def] : definitions) {
    if (!def.unique) continue;
    TextMap<std::vector<std::string>> holders;
    bool conflict = false;
    for (const auto& [id, n] : nodes) {
      if (auto key = Store::secondary_key(n, def)) {
        holders[*key].push_back(id);
        conflict |= holders[*key].size() > 1;
      }
    }
    if (!conflict) continue;
    const std::string prefix = "invalid_argument: unique index " + name + " conflicts with node ";
    EXPECT_TRUE(message.starts_with(prefix)) << message;
    const std::string named = message.substr(std::min(prefix.size(), message.size()));
    EXPECT_TRUE(nodes.contains(named) && holders.at(*Store::secondary_key(nodes.at(named), def)).size() > 1)
        << message;
    return message;
  }
  EXPECT_TRUE(got.has_value()) << message;
  return message;
}

// ---- Random worlds.

class World {
 public:
  explicit World(std::uint64_t seed) : rng_(seed) {}

  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  template <class T> const T& pick(const std::vector<T>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng_)];
  }
  std::string id(char prefix, int n) { return prefix + std::to_string(std::uniform_int_distribution(0, n - 1)(rng_)); }

  json::Value value() {
    static const std::vector<std::string> texts = {"1", "1.0", "2", R"("x")", "null", "true", R"({"b":1})", "[1]"};
    return json::parse(pick(texts)).value();
  }
  Node node(const std::string& id) {
    Node n = node_of(id, pick<std::string>({"A", "B", "C"}));
    for (const char* f : {"k", "m", "a", "type"})
      if (chance(0.7)) n.data[f] = value();
    return n;
  }
  Edge edge(const std::string& id) {
    Edge e = make_edge(id, this->id('n', 6), this->id('n', 6), pick<std::string>({"E", "E", "F", "G"}));
    if (chance(0.6)) e.data.emplace()["w"] = value();
    return e;
  }
  std::vector<std::string> some(const std::vector<std::string>& from, double p) {
    std::vector<std::string> out;
    for (const std::string& s : from)
      if (chance(p)) out.push_back(s);
    return out;
  }
  TextMap<std::string> data_types(const std::vector<std::string>& fields) {
    TextMap<std::string> out;
    for (const std::string& f : some(fields, 0.12))
      out[f] = pick<std::string>({"string", "number", "integer", "boolean", "object", "array"});
    return out;
  }

  void define(Store& s) {
    for (const char* t : {"A", "B"}) {
      if (chance(0.5)) continue;
      StoreTestAccess::node_types(s)[t] = {t, some({"k", "a.b", "m", "type"}, 0.06), data_types({"k", "m", "a.b"}), {}};
    }
    for (const char* t : {"E", "F"}) {
      if (chance(0.4)) continue;
      std::optional<std::string> cardinality;
      if (chance(0.85)) cardinality = pick<std::string>({"one-to-one", "one-to-many", "many-to-one", "many-to-many"});
      StoreTestAccess::edge_types(s)[t] = {t, some({"A", "B", "C"}, 0.15), some({"A", "B", "C"}, 0.15),
                                           some({"w"}, 0.2), data_types({"w"}), cardinality};
    }
    const std::vector<std::vector<std::string>> fields = {{"k"}, {"k", "m"}, {"type"}, {"a.b"}, {"m"}};
    for (const char* name : {"u0", "u1"}) {
      if (chance(0.35)) continue;
      std::optional<std::string> node_type;
      if (chance(0.3)) node_type = pick<std::string>({"A", "B"});
      StoreTestAccess::index_definitions(s)[name] = {name, pick(fields), node_type, chance(0.7), chance(0.5)};
    }
  }

  void populate(Store& s) {
    for (int i = 0; i < 6; ++i) {
      const std::string key = "n" + std::to_string(i);
      if (!chance(0.8)) continue;
      Node n = node(key);
      if (chance(0.05)) n.id = "foreign-" + key;  // stored under another id than its own
      StoreTestAccess::store_node(s, key, std::move(n));
    }
    for (int i = 0; i < 8; ++i)
      if (chance(0.6)) StoreTestAccess::edges(s).emplace("e" + std::to_string(i), edge("e" + std::to_string(i)));
    StoreTestAccess::rebuild_indexes(s);
  }

  ChangeBatch batch() {
    ChangeBatch b;
    for (int i = std::uniform_int_distribution(0, 3)(rng_); i > 0; --i) b.put_nodes.push_back(node(id('n', 7)));
    for (int i = std::uniform_int_distribution(0, 2)(rng_); i > 0; --i) b.delete_node_ids.push_back(id('n', 7));
    for (int i = std::uniform_int_distribution(0, 3)(rng_); i > 0; --i) b.put_edges.push_back(edge(id('e', 9)));
    for (int i = std::uniform_int_distribution(0, 2)(rng_); i > 0; --i) b.delete_edge_ids.push_back(id('e', 9));
    return b;
  }

 private:
  std::mt19937_64 rng_;
};

// Changes memory in the order a batch does: node deletes, edge deletes, node puts, edge puts.
void apply_to_memory(Store& s, const ChangeBatch& b) {
  for (const std::string& id : b.delete_node_ids) delete_node(s, id);
  for (const std::string& id : b.delete_edge_ids) delete_edge(s, id);
  for (const Node& n : b.put_nodes) put_node(s, n);
  for (const Edge& e : b.put_edges) put_edge(s, e);
}

TEST(BatchChecks, AgreeWithTheFullCopyReference) {
  // How often each rule was the one reported, so that a drifting generator cannot leave a rule
  // untested.
  const std::vector<std::string> rules = {"required field", "node field", "source node is missing",
                                          "target node is missing", "permit source", "permit target",
                                          "edge field", "cardinality one-to-one", "cardinality one-to-many",
                                          "cardinality many-to-one", "unique index"};
  std::vector<std::size_t> reported(rules.size());
  std::size_t passed = 0;
  for (std::uint64_t seed = 0; seed < 600; ++seed) {
    World world(seed);
    auto s = empty_store();
    world.define(*s);
    world.populate(*s);
    for (int round = 0; round < 25; ++round) {
      const ChangeBatch b = world.batch();
      const std::string message = expect_same_verdict(*s, b);
      passed += message.empty();
      for (std::size_t i = 0; i < rules.size(); ++i) reported[i] += message.find(rules[i]) != std::string::npos;
      // Apply whatever the verdict, so that the graph also drifts into states that break rules.
      apply_to_memory(*s, b);
      const DerivedMaps kept = DerivedMaps::of(*s);
      StoreTestAccess::rebuild_indexes(*s);
      ASSERT_EQ(DerivedMaps::of(*s), kept) << "seed " << seed << " round " << round;
      if (HasFailure()) FAIL() << "seed " << seed << " round " << round;
    }
  }
  EXPECT_GT(passed, 1000u);
  for (std::size_t i = 0; i < rules.size(); ++i) EXPECT_GT(reported[i], 30u) << rules[i];
}

// An edge's ends are built from the stored nodes as they are asked for, its source kept while
// its target is built: with ends enough for the projection's built nodes to outgrow their room
// many times over, each verdict must still be the reference's.
TEST(BatchChecks, EdgesOverManyStoredEndsAgreeWithTheReference) {
  auto s = empty_store();
  StoreTestAccess::edge_types(*s)["E"] = {"E", {"A"}, {"B"}, {}, {}, std::nullopt};
  const auto n = [](int i) { return "n" + std::to_string(i); };
  for (int i = 0; i < 400; ++i) StoreTestAccess::store_node(*s, n(i), node_of(n(i), i % 2 == 0 ? "A" : "B"));
  StoreTestAccess::rebuild_indexes(*s);
  for (const int reversed : {-1, 0, 150, 199}) {  // the one edge from a B to an A, if any
    ChangeBatch b;
    for (int i = 0; i < 200; ++i) {
      const int from = i == reversed ? 2 * i + 1 : 2 * i;
      const int to = i == reversed ? 2 * i : 2 * i + 1;
      b.put_edges.push_back(make_edge("e" + std::to_string(i), n(from), n(to), "E"));
    }
    EXPECT_EQ(expect_same_verdict(*s, b),
              reversed < 0 ? "" : "invalid_argument: edge type E does not permit source type B");
  }
}

}  // namespace
}  // namespace tarnwick::test
