#include <gtest/gtest.h>

#include "storage/format/record_msg.hpp"
#include "storage/format/record_reader.hpp"
#include "storage/format/record_writer.hpp"
#include "storage/msgpack/decode.hpp"
#include "storage/msgpack/encode.hpp"
#include "test_support.hpp"

namespace tarnwick::format {
namespace {

using msgpack::Msg;
using test::encode_tree;
using test::hex;

// The node map both ways; they must agree to the byte.
Bytes node_bytes(const Node& n, VectorPrecision p = VectorPrecision::Float64) {
  std::optional<VectorRef> v = n.vector ? std::optional(vector_ref(*n.vector)) : std::nullopt;
  Bytes tree = encode_tree(node_to_msg(n, v, p));
  msgpack::Writer w;
  write_node(n, v, p, 1, w);
  Bytes streamed = std::move(w).finish().value();
  EXPECT_EQ(tree, streamed);
  return tree;
}

Bytes edge_bytes(const Edge& e) {
  Bytes tree = encode_tree(edge_to_msg(e));
  msgpack::Writer w;
  write_edge(e, 1, w);
  EXPECT_EQ(tree, std::move(w).finish().value());
  return tree;
}

// Reads the encoding of a node map both ways; the pull reader must agree with the tree reader.
Result<Node> read_both(const Msg& m) {
  const Bytes bytes = encode_tree(m);
  msgpack::Cursor tc{bytes};
  auto tree = msg_to_node(msgpack::decode_value(tc).value());
  msgpack::Cursor c{bytes};
  Node pulled;
  const bool ok = read_node(c, pulled);
  EXPECT_EQ(ok, tree.has_value());
  if (ok && tree) {
    EXPECT_EQ(pulled, *tree);
  }
  return tree;
}

Result<Node> round_trip(const Node& n, VectorPrecision p = VectorPrecision::Float64) {
  const Bytes bytes = node_bytes(n, p);
  msgpack::Cursor c{bytes};
  return read_both(msgpack::decode_value(c).value());
}

std::string node_error(const Msg& m) {
  auto r = read_both(m);
  return r ? "ok" : r.error().text();
}

Node minimal() {
  Node n;
  n.id = "a";
  n.type = "t";
  n.inserted_at = 1;
  n.updated_at = 2;
  return n;
}

// A node map with the required keys, then `extra` pairs.
Msg node_map(std::vector<std::pair<std::string, Msg>> extra) {
  std::vector<std::pair<std::string, Msg>> p;
  p.emplace_back("id", Msg::str("a"));
  p.emplace_back("type", Msg::str("t"));
  p.emplace_back("insertedAt", Msg::integer(1));
  p.emplace_back("updatedAt", Msg::integer(2));
  for (auto& e : extra) p.push_back(std::move(e));
  return Msg::map(std::move(p));
}

Msg activation_map(std::vector<std::pair<std::string, Msg>> extra) {
  std::vector<std::pair<std::string, Msg>> p;
  p.emplace_back("score", Msg::number(0.5));
  p.emplace_back("importance", Msg::integer(1));
  p.emplace_back("reinforcementCount", Msg::integer(3));
  p.emplace_back("lastMeaningfulActivation", Msg::integer(4));
  for (auto& e : extra) p.push_back(std::move(e));
  return Msg::map(std::move(p));
}

TEST(RecordMsg, MinimalNodeIsSevenPairs) {
  EXPECT_EQ(node_bytes(minimal()),
            hex("87 a2 6964 a1 61 a4 74797065 a1 74 a4 64617461 80 a6 766563746f72 c0"
                "aa 696e736572746564417401 a9 7570646174656441 74 02 aa 61637469766174696f6e c0"));
  auto back = round_trip(minimal());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, minimal());
}

TEST(RecordMsg, OptionalFieldsAreWrittenOnlyWhenSet) {
  Node n = minimal();
  n.revision = 7;
  n.memory_class = MemoryClass::Entity;
  n.source = "";
  n.derived_from = std::vector<std::string>{};
  const Bytes b = node_bytes(n);
  EXPECT_EQ(b.front(), 0x8b);  // seven + four pairs
  const Bytes tail = hex("a8 7265766973696f6e 07 ab 6d656d6f7279436c617373 a6 656e74697479"
                         "a6 736f75726365 a0 ab 64657269766564 46726f6d 90");
  EXPECT_TRUE(std::equal(tail.rbegin(), tail.rend(), b.rbegin()));
  auto back = round_trip(n);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, n);
}

TEST(RecordMsg, VectorsInBothPrecisions) {
  Node n = minimal();
  n.vector = std::vector<double>{1.0, 0.5};
  const Bytes packed = hex("81 ae 5f5f7461726e7769636b5f663332 c4 08 0000803f 0000003f");
  const Bytes f32 = node_bytes(n, VectorPrecision::Float32);
  EXPECT_NE(std::search(f32.begin(), f32.end(), packed.begin(), packed.end()), f32.end());
  const Bytes array = hex("a6 766563746f72 92 01 cb 3fe0000000000000");
  const Bytes f64 = node_bytes(n, VectorPrecision::Float64);
  EXPECT_NE(std::search(f64.begin(), f64.end(), array.begin(), array.end()), f64.end());

  // Float32 rounds to nearest; the reader widens exactly.
  n.vector = std::vector<double>{0.1, 1e300, -2.5};
  auto back = round_trip(n, VectorPrecision::Float32);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back->vector, (std::vector<double>{static_cast<double>(0.1f), INFINITY, -2.5}));
  // A float32-held source writes the same bytes as its float64 widening.
  const std::vector<float> held = {0.1f, -3.0f};
  const std::vector<double> widened = {static_cast<double>(0.1f), -3.0};
  EXPECT_EQ(encode_tree(packed_vector(std::span<const float>(held), VectorPrecision::Float32)),
            encode_tree(packed_vector(vector_ref(widened), VectorPrecision::Float32)));
  EXPECT_EQ(encode_tree(packed_vector(std::span<const float>(held), VectorPrecision::Float64)),
            encode_tree(packed_vector(vector_ref(widened), VectorPrecision::Float64)));
}

TEST(RecordMsg, VectorReadingForms) {
  auto vec = [](const Msg& m) {
    auto r = msg_vector_f64(m);
    return r ? std::to_string(r->size()) : r.error().text();
  };
  EXPECT_EQ(vec(Msg::array({})), "0");
  EXPECT_EQ(vec(Msg::array({Msg::integer(1), Msg::float64(2.5)})), "2");
  EXPECT_EQ(vec(Msg::array({Msg::str("x")})), "corrupt_data: vector element must be numeric");
  EXPECT_EQ(vec(Msg::map({{"__tarnwick_f32", Msg::bin(Bytes(6))}})),
            "corrupt_data: packed Float32 vector has invalid byte length");
  EXPECT_EQ(vec(Msg::map({{"__tarnwick_f32", Msg::bin({})}})), "0");
  EXPECT_EQ(vec(Msg::map({{"other", Msg()}, {"__tarnwick_f32", Msg::bin(Bytes(8))}})), "2");
  const std::string wrong = "corrupt_data: vector must be a numeric array or packed Float32 map";
  EXPECT_EQ(vec(Msg::map({})), wrong);
  EXPECT_EQ(vec(Msg::map({{"__tarnwick_f32", Msg::str("x")}})), wrong);
  EXPECT_EQ(vec(Msg::map({{"__tarnwick_f32", Msg::array({})}, {"__tarnwick_f32", Msg::bin({})}})), wrong);
  EXPECT_EQ(vec(Msg::str("x")), wrong);
}

TEST(RecordMsg, DoublesInDataStayDoubles) {
  Node n = minimal();
  n.data["x"] = 2.0;
  n.data["i"] = std::int64_t{2};
  n.data["big"] = std::uint64_t{18446744073709551615ULL};
  n.data["neg"] = std::int64_t{-3};
  const Bytes b = node_bytes(n);
  const Bytes data = hex("a4 64617461 84 a1 78 cb 4000000000000000 a1 69 02 a3 626967 cf ffffffffffffffff"
                         "a3 6e6567 fd");
  EXPECT_NE(std::search(b.begin(), b.end(), data.begin(), data.end()), b.end());
  auto back = round_trip(n);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->data.at("x").is_double());
  EXPECT_EQ(back->data.at("x").as_double(), 2.0);
  EXPECT_EQ(back->data.at("big").as_uint64(), 18446744073709551615ULL);
  EXPECT_EQ(back->data.at("neg").as_int64(), -3);
  // Files that hold integral doubles as integers read as before.
  auto old = read_both(node_map({{"data", Msg::map({{"x", Msg::number(2.0)}})}}));
  ASSERT_TRUE(old);
  EXPECT_TRUE(old->data.at("x").is_uint64());
}

TEST(RecordMsg, DataFromMsgpack) {
  Msg::Map data;
  data.emplace_back(Msg::str("a"), Msg::integer(1));
  data.emplace_back(Msg::integer(5), Msg::str("dropped"));
  data.emplace_back(Msg::str("b"), Msg::bin({0, 255}));
  data.emplace_back(Msg::str("a"), Msg::float64(NAN));
  data.emplace_back(Msg::str("c"), Msg::array({Msg(), Msg::boolean(true), Msg::float64(-0.25)}));
  auto n = read_both(node_map({{"data", Msg::map_of(std::move(data))}}));
  ASSERT_TRUE(n);
  auto parsed = json::parse(R"({"a":0,"b":[0,255],"c":[null,true,-0.25]})");
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(json::equal(json::Value(n->data), *parsed)) << json::print(json::Value(n->data));
  EXPECT_EQ(n->data.begin()->key(), "a");  // the first place, the last value
}

TEST(RecordMsg, ActivationMaps) {
  NodeActivation a;
  a.score = 1.0;
  a.importance = 0.5;
  a.reinforcement_count = 18446744073709551615ULL;
  a.last_meaningful_activation = 9;
  a.inhibition = 0.5;
  EXPECT_EQ(encode_tree(activation_to_msg(a)),
            hex("86 a5 73636f7265 01 aa 696d706f7274616e6365 cb 3fe0000000000000"
                "b2 7265696e666f7263656d656e74436f756e74 cf ffffffffffffffff"
                "b8 6c6173744d65616e696e6766756c41637469766174696f6e 09"
                "aa 696e6869626974696f6e cb 3fe0000000000000 af 6c617374496e6869626974656441 74 09"));
  Node n = minimal();
  n.activation = a;
  auto back = round_trip(n);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->activation->last_inhibited_at, 9);  // filled in from lastMeaningfulActivation
  EXPECT_EQ(back->activation->reinforcement_count, 18446744073709551615ULL);

  // A time of the last inhibition survives without inhibition.
  a.inhibition.reset();
  a.last_inhibited_at = 42;
  a.context.emplace().set("work", ContextActivation{0.25, 3});
  n.activation = a;
  back = round_trip(n);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back->activation, a);
}

TEST(RecordMsg, ActivationReading) {
  auto read = [](Msg activation) { return node_error(node_map({{"activation", std::move(activation)}})); };
  EXPECT_EQ(read(Msg::str("x")), "corrupt_data: activation must be a map or null");
  EXPECT_EQ(read(Msg::map({})), "corrupt_data: activation missing or invalid score");
  const auto two = [](std::vector<std::pair<std::string, Msg>> rest) {
    rest.insert(rest.begin(), {{"score", Msg::integer(1)}, {"importance", Msg::integer(1)}});
    return Msg::map(std::move(rest));
  };
  EXPECT_EQ(read(Msg::map({{"score", Msg::integer(1)}})), "corrupt_data: activation missing or invalid importance");
  for (const Msg& count : {Msg::float64(3.0), Msg::integer(-1)})
    EXPECT_EQ(read(two({{"reinforcementCount", count}})),
              "corrupt_data: activation missing or invalid reinforcementCount");
  EXPECT_EQ(read(two({{"reinforcementCount", Msg::integer(1)}, {"lastMeaningfulActivation", Msg::float64(1)}})),
            "corrupt_data: activation missing or invalid lastMeaningfulActivation");

  // Lenient parts: wrong kinds leave fields unset, bad context entries are skipped.
  const auto entry = [](double score, Msg time) {
    return Msg::map({{"score", Msg::number(score)}, {"lastMeaningfulActivation", std::move(time)}});
  };
  Msg::Map context;
  context.emplace_back(Msg::str("bad-time"), entry(0.5, Msg::str("3")));
  context.emplace_back(Msg::integer(7), entry(0.5, Msg::integer(3)));
  context.emplace_back(Msg::str("work"), entry(0.5, Msg::integer(3)));
  context.emplace_back(Msg::str("work"), entry(0.75, Msg::integer(4)));
  context.emplace_back(Msg::str("list"), Msg::array({Msg::number(0.5), Msg::integer(3)}));
  auto n = read_both(node_map({{"activation", activation_map({{"inhibition", Msg::str("x")},
                                                               {"lastInhibitedAt", Msg::float64(5)},
                                                               {"context", Msg::map_of(std::move(context))}})}}));
  ASSERT_TRUE(n);
  ASSERT_TRUE(n->activation);
  EXPECT_EQ(n->activation->importance, 1.0);
  EXPECT_FALSE(n->activation->inhibition);
  EXPECT_FALSE(n->activation->last_inhibited_at);
  ASSERT_TRUE(n->activation->context);
  ASSERT_EQ(n->activation->context->size(), 1u);
  EXPECT_EQ(*n->activation->context->find("work"), (ContextActivation{0.75, 4}));

  auto no_context = read_both(node_map({{"activation", activation_map({{"context", Msg::array({})}})}}));
  ASSERT_TRUE(no_context);
  EXPECT_FALSE(no_context->activation->context);
}

TEST(RecordMsg, NodeReadingErrors) {
  EXPECT_EQ(node_error(Msg::map({})), "corrupt_data: node missing id");
  EXPECT_EQ(node_error(Msg::array({})), "corrupt_data: node missing id");
  EXPECT_EQ(node_error(Msg::map({{"id", Msg::integer(1)}})), "corrupt_data: node missing id");
  EXPECT_EQ(node_error(Msg::map({{"id", Msg::str("a")}})), "corrupt_data: node missing type");
  EXPECT_EQ(node_error(node_map({{"data", Msg::array({})}})), "corrupt_data: node data must be a map");
  EXPECT_EQ(node_error(node_map({{"vector", Msg::str("x")}})), "corrupt_data: node vector must be an array or null");
  EXPECT_EQ(node_error(Msg::map({{"id", Msg::str("a")}, {"type", Msg::str("t")}, {"insertedAt", Msg::number(5.5)}})),
            "corrupt_data: missing or invalid insertedAt");
  EXPECT_EQ(node_error(Msg::map({{"id", Msg::str("a")}, {"type", Msg::str("t")}, {"insertedAt", Msg::integer(1)}})),
            "corrupt_data: missing or invalid updatedAt");
  EXPECT_EQ(node_error(node_map({{"revision", Msg::integer(-1)}})), "corrupt_data: invalid revision");
  EXPECT_EQ(node_error(node_map({{"revision", Msg::float64(1.5)}})), "corrupt_data: invalid revision");
  EXPECT_EQ(node_error(node_map({{"memoryClass", Msg::str("Entity")}})), "corrupt_data: invalid memoryClass Entity");
  EXPECT_EQ(node_error(node_map({{"memoryClass", Msg::integer(1)}})),
            "corrupt_data: memoryClass must be a string or null");
  EXPECT_EQ(node_error(node_map({{"confidence", Msg::str("x")}})), "corrupt_data: confidence must be a number or null");
  EXPECT_EQ(node_error(node_map({{"source", Msg::integer(1)}})), "corrupt_data: source must be a string or null");
  EXPECT_EQ(node_error(node_map({{"observedAt", Msg::float64(5.0)}})),
            "corrupt_data: observedAt must be an integer or null");
  EXPECT_EQ(node_error(node_map({{"observedAt", Msg::unsigned_integer(1ULL << 63)}})),
            "corrupt_data: observedAt must be an integer or null");
  EXPECT_EQ(node_error(node_map({{"derivedFrom", Msg::str("x")}})), "corrupt_data: derivedFrom must be an array or null");
  EXPECT_EQ(node_error(node_map({{"derivedFrom", Msg::array({Msg::str("a"), Msg::integer(1)})}})),
            "corrupt_data: expected a string array element");
  EXPECT_EQ(node_error(node_map({{"supersedes", Msg::boolean(true)}})), "corrupt_data: supersedes must be a string or null");
  EXPECT_EQ(node_error(node_map({{"contradicts", Msg::map({})}})), "corrupt_data: contradicts must be an array or null");
  // Fields are checked in field order, not file order.
  EXPECT_EQ(node_error(Msg::map({{"updatedAt", Msg::str("x")}, {"type", Msg::integer(1)}, {"id", Msg::str("a")}})),
            "corrupt_data: node missing type");
}

TEST(RecordMsg, NodeReadingLenience) {
  auto n = read_both(Msg::map({{"id", Msg::str("first")}, {"type", Msg::str("t")}, {"id", Msg::str("second")},
                               {"insertedAt", Msg::float64(5.0)}, {"updatedAt", Msg::float64(-0.0)},
                               {"revision", Msg::float64(3.0)}, {"unknown", Msg::array({Msg::bin({1})})},
                               {"data", Msg()}, {"vector", Msg()}, {"memoryClass", Msg()}, {"confidence", Msg::integer(1)},
                               {"source", Msg()}, {"observedAt", Msg()}, {"derivedFrom", Msg()}}));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->id, "first");
  EXPECT_EQ(n->inserted_at, 5);
  EXPECT_EQ(n->updated_at, 0);
  EXPECT_EQ(n->revision, 3u);
  EXPECT_TRUE(n->data.empty());
  EXPECT_FALSE(n->vector);
  EXPECT_EQ(n->confidence, 1.0);
  EXPECT_FALSE(n->source);

  auto big = read_both(node_map({{"revision", Msg::unsigned_integer(18446744073709551615ULL)}}));
  ASSERT_TRUE(big);
  EXPECT_EQ(big->revision, 18446744073709551615ULL);
}

TEST(RecordMsg, Edges) {
  Edge e{"e", "a", "b", "rel", std::nullopt, 5, 0};
  EXPECT_EQ(edge_bytes(e), hex("86 a2 6964 a1 65 a6 736f75726365 a1 61 a6 746172676574 a1 62 a4 74797065 a3 72656c"
                               "a4 64617461 c0 a9 637265617465644174 05"));
  auto read = [](const Bytes& b) {
    msgpack::Cursor c{b};
    auto m = msgpack::decode_value(c);
    auto tree = msg_to_edge(*m);
    msgpack::Cursor pc{b};
    Edge pulled;
    EXPECT_EQ(read_edge(pc, pulled), tree.has_value());
    if (tree) {
      EXPECT_EQ(pulled, *tree);
    }
    return tree;
  };
  auto back = read(edge_bytes(e));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, e);
  e.data = json::Object{};
  e.revision = 3;
  back = read(edge_bytes(e));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, e);  // empty data stays present

  auto error = [&](Msg m) {
    auto r = read(encode_tree(m));
    return r ? "ok" : r.error().text();
  };
  // An edge map with id, source, target and type, then `rest`.
  const auto named = [](std::vector<std::pair<std::string, Msg>> rest) {
    rest.insert(rest.begin(), {{"id", Msg::str("e")}, {"source", Msg::str("a")}, {"target", Msg::str("b")},
                               {"type", Msg::str("r")}});
    return Msg::map(std::move(rest));
  };
  EXPECT_EQ(error(Msg::map({})), "corrupt_data: edge missing id");
  EXPECT_EQ(error(Msg::map({{"id", Msg::str("e")}, {"source", Msg::str("a")}})), "corrupt_data: edge missing target");
  EXPECT_EQ(error(named({{"data", Msg::integer(1)}})), "corrupt_data: edge data must be a map or null");
  EXPECT_EQ(error(named({})), "corrupt_data: missing or invalid createdAt");
  EXPECT_EQ(error(named({{"createdAt", Msg::integer(1)}, {"revision", Msg::str("1")}})), "corrupt_data: invalid revision");
}

TEST(RecordMsg, RandomRecordsRoundTrip) {
  test::RecordGenerator gen(6);
  for (int i = 0; i < 300; ++i) {
    for (VectorPrecision p : {VectorPrecision::Float64, VectorPrecision::Float32}) {
      const Node n = gen.node(p == VectorPrecision::Float32);
      auto back = round_trip(n, p);
      ASSERT_TRUE(back) << back.error().text();
      EXPECT_EQ(*back, n);
    }
  }
}

}  // namespace
}  // namespace tarnwick::format
