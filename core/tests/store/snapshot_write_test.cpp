// The store's snapshot, written in one pass from its maps, against the tree encoder given the
// same entries in the same order (the maps' own): the same bytes or the same error, and the
// bytes read back as the graph the store holds. Graphs are random (nodes with and without data
// or optional fields, entry ids apart from record ids, edges, vectors in nodes and alone, at
// both precisions), with data nested up to and past the limit, and large enough for the buffer
// to outgrow the room the last snapshot left.

#include <gtest/gtest.h>

#include "storage/format/snapshot.hpp"
#include "storage/test_support.hpp"
#include "store/graph_fixture.hpp"

namespace tarnwick::test {
namespace {

// The tree encoder over the store's entries in map order: each node rebuilt as a record, with
// the vector held under its key.
Result<Bytes> tree_snapshot(store::Store& s) {
  auto& nodes = StoreTestAccess::nodes(s);
  auto& vectors = StoreTestAccess::vectors(s);
  std::vector<Node> records;
  records.reserve(nodes.size());
  std::vector<format::SnapshotNodeRef> node_refs;
  for (const auto& [key, stored] : nodes) {
    records.push_back(stored.to_node(key));
    auto v = vectors.find(key);
    node_refs.push_back(
        {key, &records.back(), v == vectors.end() ? std::nullopt : std::optional(format::vector_ref(v->second))});
  }
  std::vector<format::SnapshotEdgeRef> edge_refs;
  for (const auto& [id, edge] : StoreTestAccess::edges(s)) edge_refs.push_back({id, &edge});
  std::vector<format::SnapshotVectorRef> vector_refs;
  for (const auto& [id, v] : vectors) vector_refs.push_back({id, format::vector_ref(v)});
  msgpack::Writer out;
  msgpack::encode(format::snapshot_to_msg(node_refs, edge_refs, vector_refs, s.precision().value(), true), out);
  return std::move(out).finish();
}

// What reading the snapshot must give: the entries in map order, vectors widened as held.
format::SnapshotData held_graph(store::Store& s) {
  format::SnapshotData g;
  auto& vectors = StoreTestAccess::vectors(s);
  for (const auto& [key, stored] : StoreTestAccess::nodes(s)) {
    Node n = stored.to_node(key);
    if (auto v = vectors.find(key); v != vectors.end()) n.vector = v->second.to_f64();
    g.nodes.emplace_back(key, std::move(n));
  }
  for (const auto& [id, edge] : StoreTestAccess::edges(s)) g.edges.emplace_back(id, edge);
  for (const auto& [id, v] : vectors) g.vectors.emplace_back(id, v.to_f64());
  g.precision = s.precision().value();
  return g;
}

// Writes the store's snapshot and checks it against the tree encoder and, when written, against
// the graph held; a refused snapshot leaves the file as it was.
void expect_written_as_the_tree_writes(store::Store& s, Disk& disk, const std::string& label) {
  const auto before = disk.files.find("snapshot.msgpack") == disk.files.end()
                          ? std::optional<Bytes>()
                          : std::optional(disk.files.at("snapshot.msgpack"));
  const auto want = tree_snapshot(s);
  const auto written = s.write_snapshot();
  ASSERT_EQ(written.has_value(), want.has_value()) << label;
  if (!want) {
    EXPECT_EQ(written.error().text(), want.error().text()) << label;
    const auto after = disk.files.find("snapshot.msgpack");
    EXPECT_EQ(after == disk.files.end() ? std::optional<Bytes>() : std::optional(after->second), before) << label;
    return;
  }
  const Bytes& bytes = disk.files.at("snapshot.msgpack");
  ASSERT_EQ(bytes, *want) << label;
  auto back = format::decode_snapshot(bytes);
  ASSERT_TRUE(back) << label << ": " << back.error().text();
  EXPECT_EQ(*back, held_graph(s)) << label;
}

// A random graph installed by loading a snapshot of it, so that entry ids may differ from the
// records' own, nodes carry vectors and vectors stand alone; then a few nodes without data.
std::shared_ptr<Disk> random_store_disk(std::uint64_t seed, VectorPrecision p) {
  RecordGenerator gen(seed);
  const bool f32 = p == VectorPrecision::Float32;
  std::vector<std::pair<std::string, Node>> nodes;
  for (int i = gen.pick(0, 40); i > 0; --i) {
    Node n = gen.node(f32);
    nodes.emplace_back(gen.pick(0, 3) ? n.id : "entry-" + std::to_string(i), std::move(n));
  }
  std::vector<std::pair<std::string, Edge>> edges;
  for (int i = gen.pick(0, 10); i > 0; --i) {
    Edge e = gen.edge();
    edges.emplace_back(gen.pick(0, 3) ? e.id : "edge-" + std::to_string(i), std::move(e));
  }
  std::vector<std::pair<std::string, std::vector<double>>> vectors;
  for (int i = gen.pick(0, 8); i > 0; --i) vectors.emplace_back(gen.text(), gen.vector(f32));
  msgpack::Writer out;
  format::SnapshotWriter snapshot(p, true, out);
  snapshot.begin_nodes(nodes.size());
  for (const auto& [id, node] : nodes)
    snapshot.node(id, format::fields_of(node), node.vector ? std::optional(format::vector_ref(*node.vector)) : std::nullopt);
  snapshot.begin_edges(edges.size());
  for (const auto& [id, edge] : edges) snapshot.edge(id, edge);
  snapshot.begin_vectors(vectors.size());
  for (const auto& [id, values] : vectors) snapshot.vector(id, format::vector_ref(values));
  EXPECT_TRUE(snapshot.finish());
  auto disk = std::make_shared<Disk>();
  disk->files["snapshot.msgpack"] = std::move(out).finish().value();
  return disk;
}

TEST(SnapshotWrite, RandomGraphsAsTheTreeEncoderWritesThem) {
  for (std::uint64_t seed = 0; seed < 80; ++seed) {
    for (const VectorPrecision p : {VectorPrecision::Float64, VectorPrecision::Float32}) {
      const std::string label = "seed " + std::to_string(seed) + (p == VectorPrecision::Float32 ? " f32" : " f64");
      auto disk = random_store_disk(seed, p);
      auto s = open_store(disk);
      ASSERT_TRUE(s->node_count()) << label;
      StoreTestAccess::store_node(*s, "bare", make_node("bare", "t"));
      StoreTestAccess::store_node(*s, "key-apart", make_node("own-id", ""));
      expect_written_as_the_tree_writes(*s, *disk, label);
    }
  }
}

// Data nested to `levels`, its own object being level 1; within the file it sits five levels
// down, so the last few depths below the limit are refused there.
TEST(SnapshotWrite, DataNestedNearTheLimitIsWrittenOrRefusedAsTheTreeEncoderDoes) {
  for (const std::size_t levels : {2u, 505u, 506u, 507u, 508u, 509u, 510u, 511u}) {
    for (const bool with_vector : {false, true}) {
      const std::string label = "levels " + std::to_string(levels) + (with_vector ? " vector" : "");
      json::Value chain = json::Array{};
      for (std::size_t i = 2; i < levels; ++i) chain = json::Array{std::move(chain)};
      auto disk = std::make_shared<Disk>();
      auto s = open_store(disk);
      ASSERT_TRUE(s->node_count());
      disk->files["snapshot.msgpack"] = {1, 2, 3};  // a refusal must leave it as it is
      StoreTestAccess::store_node(*s, "a", make_node("a", "note", json::Object{{"d", std::move(chain)}}));
      StoreTestAccess::store_node(*s, "b", make_node("b"));
      if (with_vector) {
        const std::vector<double> v = {1.5, 2};
        StoreTestAccess::vectors(*s).insert_or_assign("a", StoredVector::make(v, VectorPrecision::Float64));
      }
      expect_written_as_the_tree_writes(*s, *disk, label);
    }
  }
}

// About 13 MB: past the size from which the buffer is remapped as it grows, and grown again
// when the graph outgrows the room the previous snapshot left.
TEST(SnapshotWrite, LargeGraphsOutgrowingTheLastSnapshot) {
  auto disk = std::make_shared<Disk>();
  store::StoreOptions options;
  options.vector_precision = VectorPrecision::Float32;
  auto s = open_store(disk, options);
  ASSERT_TRUE(s->node_count());
  const std::vector<double> vector = {0.25, -1, 3};
  const auto add = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      const std::string id = "node-" + std::to_string(i);
      StoreTestAccess::store_node(
          *s, id, make_node(id, "kind", json::Object{{"text", std::string(200 + i % 97, 'x')}, {"rank", i * 1.5}}));
      if (i % 3 == 0)
        StoreTestAccess::vectors(*s).insert_or_assign(id, StoredVector::make(vector, VectorPrecision::Float32));
    }
  };
  add(0, 1'000);
  expect_written_as_the_tree_writes(*s, *disk, "small");
  add(1'000, 45'000);
  expect_written_as_the_tree_writes(*s, *disk, "grown");
  expect_written_as_the_tree_writes(*s, *disk, "again");
}

}  // namespace
}  // namespace tarnwick::test
