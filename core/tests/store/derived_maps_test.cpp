#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "storage/store/data_type.hpp"
#include "storage/store/field_path.hpp"
#include "store/graph_fixture.hpp"

namespace tarnwick::test {
namespace {

using store::SecondaryIndexDefinition;
using store::Store;

struct KeyCase {
  const char* name;
  const char* data;
  std::vector<std::string> fields;
  bool sparse;
  std::optional<std::string> node_type;
  std::optional<std::string> key;
};

TEST(SecondaryKey, Table) {
  const std::vector<KeyCase> cases = {
      {"integer", R"({"kind":1})", {"kind"}, false, {}, "[1]"},
      {"double differs from integer", R"({"kind":1.0})", {"kind"}, false, {}, "[1.0]"},
      {"missing keys as null", R"({})", {"kind"}, false, {}, "[null]"},
      {"sparse skips missing", R"({})", {"kind"}, true, {}, std::nullopt},
      {"sparse skips null", R"({"kind":null})", {"kind"}, true, {}, std::nullopt},
      {"sparse skips any null", R"({"a":1})", {"a", "b"}, true, {}, std::nullopt},
      {"sparse keeps values", R"({"a":1,"b":false})", {"a", "b"}, true, {}, "[1,false]"},
      {"field order", R"({"a":1,"b":"x"})", {"b", "a"}, false, {}, R"(["x",1])"},
      {"type is the node's", R"({"type":"data"})", {"type"}, false, {}, R"(["note"])"},
      {"nested", R"({"a":{"b":[1,2]}})", {"a.b"}, false, {}, "[[1,2]]"},
      {"nested through array", R"({"a":[{"b":1}]})", {"a.b"}, false, {}, "[null]"},
      {"nested through number", R"({"a":3})", {"a.b"}, false, {}, "[null]"},
      {"object keeps key order", R"({"o":{"b":1,"a":2}})", {"o"}, false, {}, R"([{"b":1,"a":2}])"},
      {"string escaped", R"({"s":"q\"\n"})", {"s"}, false, {}, R"(["q\"\n"])"},
      {"empty path", R"({"":5})", {""}, false, {}, "[5]"},
      {"empty middle segment", R"({"a":{"":{"b":7}}})", {"a..b"}, false, {}, "[7]"},
      {"id is a data key", R"({"id":"d"})", {"id"}, false, {}, R"(["d"])"},
      {"typed index, same type", R"({"k":1})", {"k"}, false, "note", "[1]"},
      {"typed index, other type", R"({"k":1})", {"k"}, false, "task", std::nullopt},
  };
  for (const KeyCase& c : cases) {
    const SecondaryIndexDefinition def{"ix", c.fields, c.node_type, false, c.sparse};
    EXPECT_EQ(Store::secondary_key(node_of("n", "note", c.data), def), c.key) << c.name;
  }
}

TEST(FieldPaths, NodeFieldAndDataValueDifferOnlyAtTheEnds) {
  const Node n = node_of("n", "note", R"({"type":"inner","a":{"b":null},"x":2})");
  struct Case {
    const char* path;
    const char* node_field;                 // printed
    std::optional<std::string> data_value;  // printed, none when absent
  };
  const std::vector<Case> cases = {
      {"type", R"("note")", R"("inner")"}, {"a.b", "null", "null"}, {"a.c", "null", std::nullopt},
      {"x", "2", "2"},                     {"x.y", "null", std::nullopt}, {"", "null", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(json::print(store::node_field(n, c.path)), c.node_field) << c.path;
    const json::Value* v = Store::data_value(&n.data, c.path);
    EXPECT_EQ(v ? std::optional(json::print(*v)) : std::nullopt, c.data_value) << c.path;
  }
  EXPECT_EQ(Store::data_value(nullptr, "x"), nullptr);
}

TEST(DataTypes, Table) {
  // Per value, whether it matches "string", "number", "integer", "boolean", "object", "array".
  const std::vector<std::pair<const char*, const char*>> cases = {
      {R"("s")", "100000"}, {"1", "011000"},   {"-1", "011000"}, {"18446744073709551615", "011000"},
      {"1.0", "010000"},    {"true", "000100"}, {"{}", "000010"}, {"[]", "000001"}, {"null", "000000"}};
  for (const auto& [text, expected] : cases) {
    const json::Value v = json::parse(text).value();
    std::string got;
    for (const char* name : {"string", "number", "integer", "boolean", "object", "array"})
      got += store::matches_data_type(v, name) ? '1' : '0';
    EXPECT_EQ(got, expected) << text;
    EXPECT_FALSE(store::matches_data_type(v, "String")) << text;
  }
}

TEST(Adjacency, SelfLoopsAndReplacedEdges) {
  auto s = empty_store();
  put_edge(*s, make_edge("loop", "a", "a"));
  put_edge(*s, make_edge("e", "a", "b"));
  EXPECT_EQ(StoreTestAccess::edges_by_source(*s).at("a"), (TextSet{"loop", "e"}));
  EXPECT_EQ(StoreTestAccess::edges_by_target(*s).at("a"), (TextSet{"loop"}));

  put_edge(*s, make_edge("e", "c", "a"));  // replaced: leaves a's outgoing set and b entirely
  EXPECT_EQ(StoreTestAccess::edges_by_source(*s).at("a"), (TextSet{"loop"}));
  EXPECT_EQ(StoreTestAccess::edges_by_source(*s).at("c"), (TextSet{"e"}));
  EXPECT_EQ(StoreTestAccess::edges_by_target(*s).at("a"), (TextSet{"loop", "e"}));
  EXPECT_FALSE(StoreTestAccess::edges_by_target(*s).contains("b"));

  delete_edge(*s, "loop");
  delete_edge(*s, "missing");
  EXPECT_FALSE(StoreTestAccess::edges_by_source(*s).contains("a"));
  EXPECT_EQ(StoreTestAccess::edges_by_target(*s).at("a"), (TextSet{"e"}));
  const DerivedMaps kept = DerivedMaps::of(*s);
  StoreTestAccess::rebuild_indexes(*s);
  EXPECT_EQ(DerivedMaps::of(*s), kept);
}

// A rebuild inserts ids into their type sets in runs, reading the data in the same pass: over
// runs enough to cross their bounds, with types short and long, an index and a schema, it must
// give the maps that upkeep node by node gave.
TEST(DerivedMaps, ARebuildOverManyRunsGivesTheMapsKeptNodeByNode) {
  auto s = empty_store();
  StoreTestAccess::index_definitions(*s)["ix"] = {"ix", {"k"}, std::nullopt, true, false};
  StoreTestAccess::node_types(*s)["note"].required_fields = {"must"};
  const std::vector<std::string> types = {"note", "task", "a type name longer than fits inline", ""};
  for (int i = 0; i < 300; ++i) {
    const std::string data = i % 3 == 0 ? R"({"must":1,"k":)" + std::to_string(i % 40) + "}" : R"({"k":"x"})";
    put_node(*s, node_of("n" + std::to_string(i % 250), types[static_cast<std::size_t>(i) % types.size()], data));
  }
  const DerivedMaps kept = DerivedMaps::of(*s);
  ASSERT_EQ(kept.nodes_by_type.size(), types.size());
  StoreTestAccess::rebuild_indexes(*s);
  EXPECT_EQ(DerivedMaps::of(*s), kept);
}

// A snapshot entry may store a record under an id other than its own `id`: every map follows
// the stored id, so removing that entry leaves nothing behind.
TEST(DerivedMaps, FollowTheStoredId) {
  auto s = empty_store();
  StoreTestAccess::index_definitions(*s)["ix"] = {"ix", {"k"}, std::nullopt, true, false};
  StoreTestAccess::node_types(*s)["note"].required_fields = {"must"};
  StoreTestAccess::store_node(*s, "stored", node_of("inner", "note", R"({"k":1})"));
  StoreTestAccess::edges(*s).emplace("edge-key", make_edge("edge-inner", "a", "b"));
  StoreTestAccess::rebuild_indexes(*s);
  EXPECT_EQ(StoreTestAccess::nodes_by_type(*s).at("note"), (TextSet{"stored"}));
  EXPECT_EQ(StoreTestAccess::index_entries(*s).at("ix").at("[1]"), (TextSet{"stored"}));
  EXPECT_EQ(StoreTestAccess::schema_violators(*s), (TextSet{"stored"}));
  EXPECT_EQ(StoreTestAccess::edges_by_source(*s).at("a"), (TextSet{"edge-key"}));
  ChangeBatch batch;
  batch.put_nodes.push_back(node_of("other", "task", R"({"k":1})"));
  const store::Projection projected(StoreTestAccess::nodes(*s), StoreTestAccess::edges(*s), batch);
  EXPECT_EQ(StoreTestAccess::validate_unique_indexes(*s, projected).error().text(),
            "invalid_argument: unique index ix conflicts with node stored");

  delete_node(*s, "stored");
  delete_edge(*s, "edge-key");
  EXPECT_TRUE(StoreTestAccess::nodes_by_type(*s).empty());
  EXPECT_TRUE(StoreTestAccess::index_entries(*s).at("ix").empty());
  EXPECT_TRUE(StoreTestAccess::schema_violators(*s).empty());
  EXPECT_TRUE(StoreTestAccess::edges_by_source(*s).empty());
}

}  // namespace
}  // namespace tarnwick::test
