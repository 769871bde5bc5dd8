// A snapshot loaded into the store's own form against the record decoder with the load's rules
// applied to its list: the same graph or the same error, for every snapshot the store fuzzer
// kept and for made ones with repeated ids, vectors in nodes and in the list, and entry ids
// apart from record ids, each also cut short at every few bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "storage/format/snapshot.hpp"
#include "store/graph_fixture.hpp"
#include "store/store_fuzz_case.hpp"

namespace tarnwick::test {
namespace {

using Vectors = std::map<std::string, std::vector<double>>;

struct Graph {
  std::map<std::string, std::string> nodes;  // entry id -> the record's compact JSON
  std::map<std::string, std::string> edges;
  Vectors vectors;
  std::map<std::string, VectorPrecision> held_at;  // the precision each vector is held at
  friend bool operator==(const Graph&, const Graph&) = default;
};

std::string text_of(const Node& n) {
  Node copy = n;
  copy.vector.reset();
  return json::print(copy.serialize());
}

// The load's rules over the decoded list: the last entry of an id wins; a node's own vector
// counts for the surviving entry when the list has none under its id.
Result<Graph> reference(const Bytes& bytes) {
  TARNWICK_TRY_ASSIGN(auto data, format::decode_snapshot(bytes));
  Graph g;
  std::map<std::string, const Node*> last;
  for (const auto& [id, node] : data.nodes) last[id] = &node;
  for (const auto& [id, node] : last) g.nodes[id] = text_of(*node);
  for (const auto& [id, edge] : data.edges) g.edges[id] = json::print(edge.serialize());
  for (const auto& [id, values] : data.vectors) g.vectors[id] = values;
  for (const auto& [id, node] : last)
    if (node->vector && !g.vectors.contains(id)) g.vectors[id] = *node->vector;
  for (auto& [id, values] : g.vectors) {
    values = StoredVector::make(values, data.precision).to_f64();
    g.held_at[id] = data.precision;
  }
  return g;
}

Result<Graph> loaded(const Bytes& bytes) {
  auto s = empty_store();
  TARNWICK_TRY(StoreTestAccess::load_snapshot(*s, bytes));
  Graph g;
  for (const auto& [id, node] : StoreTestAccess::node_records(*s)) g.nodes[id] = text_of(node);
  for (const auto& [id, edge] : StoreTestAccess::edges(*s)) g.edges[id] = json::print(edge.serialize());
  for (const auto& [id, v] : StoreTestAccess::vectors(*s)) {
    g.vectors[id] = v.to_f64();
    g.held_at[id] = v.precision();
  }
  return g;
}

void expect_same(const Bytes& bytes, const std::string& label) {
  const auto want = reference(bytes);
  const auto got = loaded(bytes);
  ASSERT_EQ(got.has_value(), want.has_value()) << label;
  if (want)
    EXPECT_EQ(*got, *want) << label;
  else
    EXPECT_EQ(got.error().text(), want.error().text()) << label;
}

Bytes made(const std::vector<std::pair<std::string, Node>>& nodes, const std::vector<std::pair<std::string, Edge>>& edges,
           const std::vector<std::pair<std::string, std::vector<double>>>& vectors, VectorPrecision p) {
  std::vector<format::SnapshotNodeRef> n;
  for (const auto& [id, node] : nodes)
    n.push_back({id, &node, node.vector ? std::optional(format::vector_ref(*node.vector)) : std::nullopt});
  std::vector<format::SnapshotEdgeRef> e;
  for (const auto& [id, edge] : edges) e.push_back({id, &edge});
  std::vector<format::SnapshotVectorRef> v;
  for (const auto& [id, values] : vectors) v.push_back({id, format::vector_ref(values)});
  return format::encode_snapshot_with_precision(n, e, v, p, true).value();
}

Node with_vector(Node n, std::vector<double> v) {
  n.vector = std::move(v);
  return n;
}

TEST(SnapshotLoad, SameGraphOrErrorAsTheRecordDecoder) {
  const Node plain = node_of("a", "note", R"({"i":1,"d":1.0,"z":-0.0,"o":{"b":[1,{"y":null}],"a":"t"}})");
  const Node other = node_of("a", "task", R"({"k":18446744073709551615})");
  const Edge edge = make_edge("e", "a", "b");
  std::vector<std::pair<std::string, Bytes>> snapshots = {
      {"later node wins, its vector dropped",
       made({{"a", with_vector(plain, {1, 2})}, {"a", other}}, {}, {}, VectorPrecision::Float64)},
      {"later node's vector counts",
       made({{"a", plain}, {"a", with_vector(other, {3})}}, {}, {}, VectorPrecision::Float32)},
      {"listed vector wins over the node's",
       made({{"a", with_vector(plain, {1, 2})}}, {}, {{"a", {9}}, {"a", {8, 7}}}, VectorPrecision::Float64)},
      {"entry ids apart from record ids",
       made({{"b", with_vector(plain, {0.1})}, {"c", other}}, {{"x", edge}, {"x", make_edge("y", "c", "b")}},
            {{"loose", {0.5}}}, VectorPrecision::Float32)},
      // Vectors held as read until the precision, which comes last, settles them: values that
      // are float32 values and values that are not, at either precision; node vectors left in
      // the file, one repeated under a later entry, one under a listed id.
      {"node and listed vectors of every kind at float32",
       made({{"a", with_vector(plain, {0.1, 2})}, {"b", with_vector(other, {0.5})}, {"b", with_vector(other, {1e300})},
             {"c", with_vector(plain, {-0.0, 0.25})}},
            {}, {{"c", {0.1, 1e300}}, {"d", {0.5, -0.0}}, {"d", {3, 1e-50}}}, VectorPrecision::Float32)},
      {"node and listed vectors of every kind at float64",
       made({{"a", with_vector(plain, {0.1, 2})}, {"b", with_vector(other, {0.5, -0.0})},
             {"c", with_vector(plain, {7})}},
            {}, {{"c", {0.1}}, {"d", {0.5, 16777216}}, {"e", {1e300, 1e-50}}}, VectorPrecision::Float64)},
  };
  // Nodes go into the map in runs: repeated ids and vectors across the runs' bounds.
  std::vector<std::pair<std::string, Node>> many;
  std::vector<std::pair<std::string, std::vector<double>>> listed;
  for (int i = 0; i < 150; ++i) {
    const std::string id = "n" + std::to_string(i % 70);
    many.emplace_back(id, i % 4 == 0 ? with_vector(i % 3 ? plain : other, {static_cast<double>(i)}) : i % 2 ? plain : other);
    if (i % 9 == 0) listed.emplace_back(id, std::vector<double>{-static_cast<double>(i)});
  }
  snapshots.emplace_back("repeats across runs", made(many, {}, listed, VectorPrecision::Float64));
  const std::filesystem::path corpus = std::filesystem::path(TARNWICK_SOURCE_DIR) / "fuzz" / "corpus" / "store";
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const Bytes input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto disk = disk_from_fuzz_input(input);
    if (auto it = disk->files.find("snapshot.msgpack"); it != disk->files.end())
      snapshots.emplace_back(entry.path().filename().string(), it->second);
  }
  for (const auto& [label, bytes] : snapshots) {
    expect_same(bytes, label);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 7)
      expect_same(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), label + " cut");
  }
}

}  // namespace
}  // namespace tarnwick::test
