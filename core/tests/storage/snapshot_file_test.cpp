#include <gtest/gtest.h>

#include "storage/format/snapshot.hpp"
#include "storage/msgpack/decode.hpp"
#include "storage/msgpack/encode.hpp"
#include "test_support.hpp"

namespace tarnwick::format {
namespace {

using msgpack::Msg;
using test::encode_tree;
using test::hex;

// decode_snapshot, checked against the tree path alone and the pull path alone.
Result<SnapshotData> decode_checked(const Bytes& bytes) {
  msgpack::Cursor c{bytes};
  auto top = msgpack::decode_value(c);
  Result<SnapshotData> tree = top ? snapshot_from_msg(*top) : fail(top.error());
  auto pulled = pull_snapshot(bytes);
  EXPECT_EQ(pulled.has_value(), tree.has_value());
  if (pulled && tree) {
    EXPECT_EQ(*pulled, *tree);
  }
  auto result = decode_snapshot(bytes);
  EXPECT_EQ(result.has_value(), tree.has_value());
  if (result && tree) {
    EXPECT_EQ(*result, *tree);
  } else if (!result && !tree) {
    EXPECT_EQ(result.error().text(), tree.error().text());
    auto named = snapshot_error(bytes);
    EXPECT_TRUE(named);
    if (named) {
      EXPECT_EQ(named->text(), tree.error().text());
    }
  }
  return result;
}

std::string error_of(const Msg& top) {
  auto r = decode_checked(encode_tree(top));
  return r ? "ok" : r.error().text();
}

Msg node_msg(const char* id) {
  return Msg::map({{"id", Msg::str(id)}, {"type", Msg::str("t")}, {"insertedAt", Msg::integer(1)},
                   {"updatedAt", Msg::integer(2)}});
}

Msg pair(Msg a, Msg b) {
  Msg::Array two;
  two.push_back(std::move(a));
  two.push_back(std::move(b));
  return Msg::array(std::move(two));
}

// Everything a snapshot holds, owned, with the refs the encoder takes.
struct Graph {
  std::vector<std::pair<std::string, Node>> nodes;
  std::vector<std::pair<std::string, Edge>> edges;
  std::vector<std::pair<std::string, std::vector<double>>> vectors;

  std::vector<SnapshotNodeRef> node_refs() const {
    std::vector<SnapshotNodeRef> refs;
    for (const auto& [id, n] : nodes)
      refs.push_back({id, &n, n.vector ? std::optional(vector_ref(*n.vector)) : std::nullopt});
    return refs;
  }
  std::vector<SnapshotEdgeRef> edge_refs() const {
    std::vector<SnapshotEdgeRef> refs;
    for (const auto& [id, e] : edges) refs.push_back({id, &e});
    return refs;
  }
  std::vector<SnapshotVectorRef> vector_refs() const {
    std::vector<SnapshotVectorRef> refs;
    for (const auto& [id, v] : vectors) refs.push_back({id, vector_ref(v)});
    return refs;
  }
  Bytes encode(VectorPrecision p, bool include_precision) const {
    auto n = node_refs();
    auto e = edge_refs();
    auto v = vector_refs();
    auto streamed = encode_snapshot_with_precision(n, e, v, p, include_precision);
    EXPECT_TRUE(streamed);
    EXPECT_EQ(*streamed, encode_tree(snapshot_to_msg(n, e, v, p, include_precision)));
    return *streamed;
  }
};

Graph random_graph(std::uint64_t seed, bool float32_exact) {
  test::RecordGenerator gen(seed);
  Graph g;
  for (int i = gen.pick(0, 8); i > 0; --i) {
    Node n = gen.node(float32_exact);
    g.nodes.emplace_back(gen.pick(0, 5) ? n.id : "other-" + n.id, std::move(n));
  }
  for (int i = gen.pick(0, 5); i > 0; --i) {
    Edge e = gen.edge();
    g.edges.emplace_back(e.id, std::move(e));
  }
  for (int i = gen.pick(0, 5); i > 0; --i) g.vectors.emplace_back(gen.text(), gen.vector(float32_exact));
  return g;
}

TEST(Snapshot, EmptyStoreIsExactly57Bytes) {
  const Bytes expected = hex("85 a7 76 65 72 73 69 6f 6e 02 a5 6e 6f 64 65 73 90 a5 65 64 67 65 73 90 a7 76 65 63 74 6f"
                             "72 73 90 af 76 65 63 74 6f 72 50 72 65 63 69 73 69 6f 6e a7 66 6c 6f 61 74 36 34");
  ASSERT_EQ(expected.size(), 57u);
  EXPECT_EQ(Graph{}.encode(VectorPrecision::Float64, true), expected);
  auto back = decode_checked(expected);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, SnapshotData{});
  // Without the precision: version 1 and four keys.
  const Bytes v1 = Graph{}.encode(VectorPrecision::Float32, false);
  EXPECT_EQ(v1, hex("84 a7 76 65 72 73 69 6f 6e 01 a5 6e 6f 64 65 73 90 a5 65 64 67 65 73 90 a7 76 65 63 74 6f"
                    "72 73 90"));
}

TEST(Snapshot, RandomGraphsRoundTripAtBothPrecisions) {
  for (std::uint64_t seed = 0; seed < 60; ++seed) {
    for (VectorPrecision p : {VectorPrecision::Float64, VectorPrecision::Float32}) {
      const Graph g = random_graph(seed, p == VectorPrecision::Float32);
      auto back = decode_checked(g.encode(p, true));
      ASSERT_TRUE(back) << back.error().text();
      EXPECT_EQ(back->nodes, g.nodes);
      EXPECT_EQ(back->edges, g.edges);
      EXPECT_EQ(back->vectors, g.vectors);
      EXPECT_EQ(back->precision, p);
    }
  }
}

TEST(Snapshot, NodeVectorsComeFromTheEntryNotTheRecord) {
  Node n;
  n.id = "a";
  n.type = "t";
  n.vector = std::vector<double>{9.0};  // not written: the entry says what the map carries
  const std::vector<float> held = {1.5f, -2.0f};
  const SnapshotNodeRef nodes[] = {{"a", &n, std::span<const float>(held)}, {"b", &n, std::nullopt}};
  const SnapshotVectorRef vectors[] = {{"a", std::span<const float>(held)}};
  auto bytes = encode_snapshot_with_precision(nodes, {}, vectors, VectorPrecision::Float32, true);
  ASSERT_TRUE(bytes);
  auto back = decode_checked(*bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->nodes[0].second.vector, (std::vector<double>{1.5, -2.0}));
  EXPECT_FALSE(back->nodes[1].second.vector);
  EXPECT_EQ(back->nodes[1].first, "b");
  EXPECT_EQ(back->nodes[1].second.id, "a");  // the entry id travels beside the record
  EXPECT_EQ(back->vectors[0].second, (std::vector<double>{1.5, -2.0}));
}

TEST(Snapshot, StoredVectorsAreWrittenAsHeld) {
  const std::vector<double> values = {0.1, 2.0};
  const StoredVector f32 = StoredVector::make(values, VectorPrecision::Float32);
  const StoredVector f64 = StoredVector::make(values, VectorPrecision::Float64);
  const SnapshotVectorRef vectors[] = {{"a", vector_ref(f32)}, {"b", vector_ref(f64)}};
  auto bytes = encode_snapshot_with_precision({}, {}, vectors, VectorPrecision::Float32, true);
  ASSERT_TRUE(bytes);
  auto back = decode_checked(*bytes);
  ASSERT_TRUE(back);
  const std::vector<double> rounded = {static_cast<double>(0.1f), 2.0};
  EXPECT_EQ(back->vectors[0].second, rounded);
  EXPECT_EQ(back->vectors[1].second, rounded);
}

TEST(Snapshot, Versions) {
  auto top = [](Msg version, std::optional<Msg> precision) {
    std::vector<std::pair<std::string, Msg>> p;
    p.emplace_back("version", std::move(version));
    if (precision) p.emplace_back("vectorPrecision", std::move(*precision));
    p.emplace_back("nodes", Msg::array({}));
    return Msg::map(std::move(p));
  };
  auto v1 = decode_checked(encode_tree(top(Msg::integer(1), Msg::str("float32"))));
  ASSERT_TRUE(v1);
  EXPECT_EQ(v1->precision, VectorPrecision::Float64);
  auto v2 = decode_checked(encode_tree(top(Msg::float64(2.0), Msg::str("float32"))));
  ASSERT_TRUE(v2);
  EXPECT_EQ(v2->precision, VectorPrecision::Float32);

  const std::string bad_precision = "corrupt_data: invalid snapshot vectorPrecision";
  for (const auto& precision : {std::optional<Msg>(), std::optional(Msg::str("FLOAT32")), std::optional(Msg::integer(32))})
    EXPECT_EQ(error_of(top(Msg::integer(2), precision)), bad_precision);
  for (const Msg& m : {top(Msg::str("2"), Msg::str("float64")), top(Msg::float64(2.5), Msg::str("float64")),
                       Msg::map({}), Msg::array({Msg::integer(2)})})
    EXPECT_EQ(error_of(m), "corrupt_data: missing or invalid version");
  EXPECT_EQ(error_of(top(Msg::integer(3), Msg::str("float64"))), "format_version: unsupported version 3");
  EXPECT_EQ(error_of(top(Msg::integer(0), std::nullopt)), "format_version: unsupported version 0");
  EXPECT_EQ(error_of(top(Msg::integer(-1), std::nullopt)), "format_version: unsupported version 18446744073709551615");
  // An unknown version is refused before any entry is looked at.
  EXPECT_EQ(error_of(Msg::map({{"version", Msg::integer(3)}, {"nodes", Msg::array({Msg::integer(1)})}})),
            "format_version: unsupported version 3");
  // The first of two version keys counts.
  auto first = decode_checked(encode_tree(Msg::map({{"version", Msg::integer(1)}, {"version", Msg::integer(9)}})));
  EXPECT_TRUE(first);
  EXPECT_EQ(decode_checked({}).error().text(), "corrupt_data: truncated msgpack");
}

TEST(Snapshot, Entries) {
  auto with = [](const char* list, Msg entries) {
    return Msg::map({{"version", Msg::integer(1)}, {list, std::move(entries)}});
  };
  auto no_nodes = decode_checked(encode_tree(with("nodes", Msg::map({{"a", node_msg("a")}}))));
  ASSERT_TRUE(no_nodes);
  EXPECT_TRUE(no_nodes->nodes.empty());

  EXPECT_EQ(error_of(with("nodes", Msg::array({Msg::array({Msg::str("a")})}))),
            "corrupt_data: node entry must be [id, node]");
  EXPECT_EQ(error_of(with("nodes", Msg::array({pair(Msg::integer(1), node_msg("a"))}))),
            "corrupt_data: expected a string");
  EXPECT_EQ(error_of(with("nodes", Msg::array({pair(Msg::str("a"), Msg::map({}))}))), "corrupt_data: node missing id");
  EXPECT_EQ(error_of(with("edges", Msg::array({node_msg("a")}))), "corrupt_data: edge entry must be [id, edge]");
  EXPECT_EQ(error_of(with("edges", Msg::array({pair(Msg::str("e"), Msg::map({}))}))), "corrupt_data: edge missing id");
  EXPECT_EQ(error_of(with("vectors", Msg::array({pair(Msg::str("v"), Msg::str("x"))}))),
            "corrupt_data: vector entry must be [id, array]");
  EXPECT_EQ(error_of(with("vectors", Msg::array({pair(Msg::integer(1), Msg::array({}))}))),
            "corrupt_data: expected a string");
  EXPECT_EQ(error_of(with("vectors", Msg::array({pair(Msg::str("v"), Msg::array({Msg()}))}))),
            "corrupt_data: vector element must be numeric");
  // Nodes fail before edges, whatever the order in the file.
  EXPECT_EQ(error_of(Msg::map({{"version", Msg::integer(1)},
                               {"edges", Msg::array({Msg()})},
                               {"nodes", Msg::array({Msg()})}})),
            "corrupt_data: node entry must be [id, node]");

  // A float64 snapshot reads packed vectors, and bytes after the map are ignored.
  Bytes bytes = encode_tree(with("vectors", Msg::array({pair(Msg::str("v"), Msg::map({{"__tarnwick_f32",
                                                                                        Msg::bin(hex("0000803f"))}}))})));
  bytes.push_back(0xc1);
  auto packed = decode_checked(bytes);
  ASSERT_TRUE(packed);
  EXPECT_EQ(packed->vectors, (std::vector<std::pair<std::string, std::vector<double>>>{{"v", {1.0}}}));
  // A codec error anywhere wins over a record error before it.
  EXPECT_EQ(error_of(Msg::map({{"version", Msg::integer(1)}, {"nodes", Msg::array({Msg()})}})),
            "corrupt_data: node entry must be [id, node]");
  Bytes late = encode_tree(Msg::map({{"version", Msg::integer(1)}, {"nodes", Msg::array({Msg()})}, {"x", Msg()}}));
  late.back() = 0xc1;
  EXPECT_EQ(decode_checked(late).error().text(), "corrupt_data: unexpected msgpack marker 0xc1");
}

}  // namespace
}  // namespace tarnwick::format
