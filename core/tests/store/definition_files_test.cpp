#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "store/memory_storage.hpp"
#include "store/store_test_access.hpp"

namespace tarnwick::store {
namespace {

using Access = StoreTestAccess;

struct DefinitionFiles : ::testing::Test {
  Store store{std::make_unique<test::MemoryStorage>(std::make_shared<test::Disk>()), StoreOptions{}};

  std::string indexes(std::string_view text) { return outcome(Access::install_index_definitions(store, text)); }
  std::string schemas(std::string_view text) { return outcome(Access::install_schemas(store, text)); }
  static std::string outcome(const Result<void>& r) { return r ? "ok" : r.error().text(); }
};

struct Case {
  std::string text;
  std::string outcome;
};

TEST_F(DefinitionFiles, IndexReadingFaultsArePlacedThenRulesApply) {
  const std::string meta = "corrupt_data: index metadata: ";
  const std::string repeated = "invalid_argument: secondary index i fields must be unique and non-empty";
  const Case cases[] = {
      {"", meta + "EOF while parsing a value at line 1 column 0"},
      {"{}", meta + "invalid type: map, expected a sequence at line 1 column 2"},
      {R"([{"fields":["a"]}])", meta + "missing field `name` at line 1 column 17"},
      {"[\n {\"name\": \"a\"\n }\n]", meta + "missing field `fields` at line 3 column 2"},
      {R"([{"name":"a","name":"b"}])", meta + "duplicate field `name` at line 1 column 19"},
      {R"([{"name":"a","fields":["x",7]}])", meta + "invalid type: integer `7`, expected a string at line 1 column 28"},
      {R"([{"name":"a","fields":null}])", meta + "invalid type: null, expected a sequence at line 1 column 26"},
      {R"([{"name":"a","fields":["x"],"unique":null}])",
       meta + "invalid type: null, expected a boolean at line 1 column 41"},
      {R"([{"name":"a","fields":["x"],"nodeType":5}])",
       meta + "invalid type: integer `5`, expected a string at line 1 column 40"},
      {R"([["a"]])",
       meta + "invalid length 1, expected struct SecondaryIndexDefinition with 5 elements at line 1 column 6"},
      {R"([["a",["x"],null,false,false,1]])",
       meta + "invalid length 6, expected fewer elements in array at line 1 column 31"},
      {R"(["a"])", meta + "invalid type: string \"a\", expected struct SecondaryIndexDefinition at line 1 column 4"},
      {"[] x", meta + "trailing characters at line 1 column 4"},
      {"[\n  {\"name\": \"a\",\n   \"fields\": [\"x\"]\n  },\n]", meta + "syntax error at line 5 column 1"},
      // A streaming reader meets the value fault before the syntax fault after it.
      {R"([{"name":1} x)", meta + "invalid type: integer `1`, expected a string at line 1 column 10"},
      {R"([{"name":"a","fields":["x"]} x)", meta + "syntax error at line 1 column 30"},
      // Unknown keys are skipped unexamined, repeated keys inside them included.
      {R"([{"name":"a","fields":["x"],"extra":{"k":1,"k":2},"extra":3}])", "ok"},
      // The definitions read, the rules follow.
      {R"([{"name":"","fields":["a"]}])", "invalid_argument: invalid secondary index "},
      {R"([{"name":"i","fields":[]}])", "invalid_argument: invalid secondary index i"},
      {R"([{"name":"i","fields":["a","a"]}])", repeated},
      {R"([{"name":"i","fields":["a",""]}])", repeated},
      // Only the later of two definitions of a name is kept, and checked.
      {R"([{"name":"i","fields":[]},{"name":"i","fields":["a"]}])", "ok"},
      {R"([{"name":"i","fields":["a"]},{"name":"i","fields":[]}])", "invalid_argument: invalid secondary index i"},
  };
  for (const Case& c : cases) EXPECT_EQ(indexes(c.text), c.outcome) << c.text;
}

TEST_F(DefinitionFiles, IndexDefinitionsInBothFormsWithDefaultsAndReplacement) {
  ASSERT_EQ(indexes(R"([{"name":"a","fields":["x"],"nodeType":null},
                        ["b",["y","z.w"],"note",true,true],
                        ["c",["k"]],
                        {"name":"a","fields":["v"],"unique":true}])"),
            "ok");
  const auto& defs = Access::index_definitions(store);
  ASSERT_EQ(defs.size(), 3u);
  EXPECT_EQ(defs.at("a"), (SecondaryIndexDefinition{"a", {"v"}, std::nullopt, true, false}));
  EXPECT_EQ(defs.at("b"), (SecondaryIndexDefinition{"b", {"y", "z.w"}, "note", true, true}));
  EXPECT_EQ(defs.at("c"), (SecondaryIndexDefinition{"c", {"k"}, std::nullopt, false, false}));
  ASSERT_EQ(indexes("[]"), "ok");
  EXPECT_TRUE(defs.empty());
}

TEST_F(DefinitionFiles, AFailedIndexInstallKeepsThePreviousDefinitions) {
  ASSERT_EQ(indexes(R"([{"name":"a","fields":["x"]}])"), "ok");
  for (const char* bad : {R"([{"name":"b","fields":["y"]},{"name":"c","fields":[]}])", R"([{"name":"b"}])"}) {
    EXPECT_NE(indexes(bad), "ok");
    const auto& defs = Access::index_definitions(store);
    ASSERT_EQ(defs.size(), 1u);
    EXPECT_EQ(defs.at("a").fields, std::vector<std::string>{"x"});
  }
}

TEST_F(DefinitionFiles, SchemaReadingFaultsArePlacedThenRulesApplyInOrder) {
  const std::string meta = "corrupt_data: schema metadata: ";
  const auto node = [](std::string_view def) {
    return R"({"nodeTypes":[{"nodeType":"n",)" + std::string(def) + R"(}],"edgeTypes":[]})";
  };
  const auto edge = [](std::string_view def) {
    return R"({"nodeTypes":[],"edgeTypes":[{"edgeType":"e",)" + std::string(def) + "}]}";
  };
  const std::string variants = "expected one of `episodic`, `semantic`, `procedural`, `entity`";
  const std::string bad_node = "invalid_argument: invalid schema for node type n";
  const std::string bad_edge = "invalid_argument: invalid schema for edge type e";
  const Case cases[] = {
      {"", meta + "EOF while parsing a value at line 1 column 0"},
      {"  \n", meta + "EOF while parsing a value at line 2 column 0"},
      {"7", meta + "invalid type: integer `7`, expected struct SchemaMetadata at line 1 column 1"},
      {R"({"nodeTypes":[]})", meta + "missing field `edgeTypes` at line 1 column 16"},
      {"{\"nodeTypes\": [],\n \"edgeTypes\": []\n}\n", "ok"},
      {R"({"nodeTypes":[],"edgeTypes":[],"nodeTypes":[]})", meta + "duplicate field `nodeTypes` at line 1 column 42"},
      {R"({"nodeTypes":[{"nodeType":"a","nodeType":"b"}],"edgeTypes":[]})",
       meta + "duplicate field `nodeType` at line 1 column 40"},
      {node(R"("dataTypes":null)"), meta + "invalid type: null, expected a map at line 1 column 46"},
      {node(R"("requiredFields":null)"), meta + "invalid type: null, expected a sequence at line 1 column 51"},
      {node(R"("memoryClass":"Entity")"), meta + "unknown variant `Entity`, " + variants + " at line 1 column 52"},
      {node(R"("memoryClass":2)"), meta + "invalid type: integer `2`, expected string or map at line 1 column 45"},
      {node(R"("dataTypes":{"x":1})"), meta + "invalid type: integer `1`, expected a string at line 1 column 48"},
      {edge(R"("cardinality":1)"), meta + "invalid type: integer `1`, expected a string at line 1 column 60"},
      {edge(R"("sourceTypes":[null])"), meta + "invalid type: null, expected a string at line 1 column 64"},
      {R"({"nodeTypes":[{}],"edgeTypes":[]})", meta + "missing field `nodeType` at line 1 column 16"},
      {R"({"nodeTypes":[],"edgeTypes":[{"edgeTypes":"e"}]})", meta + "missing field `edgeType` at line 1 column 46"},
      {"[[]]", meta + "invalid length 1, expected struct SchemaMetadata with 2 elements at line 1 column 4"},
      {"[[[]],[]]", meta + "invalid length 0, expected struct NodeTypeDefinition with 4 elements at line 1 column 4"},
      {R"([[["a",[],{},null,1]],[]])", meta + "invalid length 5, expected fewer elements in array at line 1 column 20"},
      {"{\"nodeTypes\":[],\"edgeTypes\":[]}}", meta + "trailing characters at line 1 column 32"},
      {"{\"nodeTypes\":[],\n\"edgeTypes\":[}", meta + "syntax error at line 2 column 14"},
      // The schemas read, the rules follow in order.
      {R"({"nodeTypes":[{"nodeType":""}],"edgeTypes":[]})", "invalid_argument: invalid schema for node type "},
      {node(R"("requiredFields":[""])"), bad_node},
      {node(R"("requiredFields":["a","b","a"])"), bad_node},
      {node(R"("dataTypes":{"":"string"})"), bad_node},
      {node(R"("dataTypes":{"x":"String"})"), bad_node},
      {node(R"("dataTypes":{"x":"number","y":"integer","z":"boolean","o":"object","a":"array","s":"string"})"), "ok"},
      {R"({"nodeTypes":[],"edgeTypes":[{"edgeType":""}]})", "invalid_argument: invalid schema for edge type "},
      {edge(R"("sourceTypes":[""])"), bad_edge},
      {edge(R"("targetTypes":[""])"), bad_edge},
      {edge(R"("requiredFields":["a","a"])"), bad_edge},
      {edge(R"("dataTypes":{"x":"int"})"), bad_edge},
      {edge(R"("cardinality":"One-to-one")"), bad_edge},
      {edge(R"("sourceTypes":["a","a"],"targetTypes":["zz"],"cardinality":"many-to-one")"), "ok"},
      // Node definitions are checked before edge definitions, and each definition's own rules
      // before the repeated-type check.
      {R"({"nodeTypes":[{"nodeType":"a"},{"nodeType":"a"}],"edgeTypes":[{"edgeType":""}]})",
       "corrupt_data: schema metadata: duplicate node type"},
      {R"({"nodeTypes":[{"nodeType":"a"},{"nodeType":"a","requiredFields":[""]}],"edgeTypes":[]})",
       "invalid_argument: invalid schema for node type a"},
      {R"({"nodeTypes":[],"edgeTypes":[{"edgeType":"e"},{"edgeType":"e"}]})",
       "corrupt_data: schema metadata: duplicate edge type"},
  };
  for (const Case& c : cases) EXPECT_EQ(schemas(c.text), c.outcome) << c.text;
}

TEST_F(DefinitionFiles, SchemasInBothFormsWithNullsAndRepeatedDataTypePaths) {
  ASSERT_EQ(schemas(R"({"nodeTypes":[
      {"nodeType":"a","memoryClass":null,"dataTypes":{"x":"bogus","x":"string"},"other":{"q":1,"q":2}},
      ["b",["f"],{"f":"integer"},{"semantic":null}],
      ["c"]],
    "edgeTypes":[["e",["a"],[],["w"],{},"one-to-many"],{"edgeType":"f","cardinality":null}]})"),
            "ok");
  const auto& nodes = Access::node_types(store);
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes.at("a").data_types.at("x"), "string");
  EXPECT_FALSE(nodes.at("a").memory_class);
  EXPECT_EQ(nodes.at("b").required_fields, std::vector<std::string>{"f"});
  EXPECT_EQ(nodes.at("b").memory_class, MemoryClass::Semantic);
  EXPECT_TRUE(nodes.at("c").required_fields.empty() && nodes.at("c").data_types.empty());
  const auto& edges = Access::edge_types(store);
  ASSERT_EQ(edges.size(), 2u);
  EXPECT_EQ(edges.at("e").source_types, std::vector<std::string>{"a"});
  EXPECT_EQ(edges.at("e").required_fields, std::vector<std::string>{"w"});
  EXPECT_EQ(edges.at("e").cardinality, "one-to-many");
  EXPECT_FALSE(edges.at("f").cardinality);
}

TEST_F(DefinitionFiles, AFailedSchemaInstallKeepsBothPreviousMaps) {
  ASSERT_EQ(schemas(R"({"nodeTypes":[{"nodeType":"a"}],"edgeTypes":[{"edgeType":"e"}]})"), "ok");
  for (const char* bad : {R"({"nodeTypes":[{"nodeType":"b"}],"edgeTypes":[{"edgeType":"e","cardinality":"x"}]})",
                          R"({"nodeTypes":[{"nodeType":"b"}],"edgeTypes":[{"edgeType":"f"},{"edgeType":"f"}]})",
                          R"({"nodeTypes":[{"nodeType":"b"}]})"}) {
    EXPECT_NE(schemas(bad), "ok");
    EXPECT_TRUE(Access::node_types(store).contains("a") && Access::node_types(store).size() == 1) << bad;
    EXPECT_TRUE(Access::edge_types(store).contains("e") && Access::edge_types(store).size() == 1) << bad;
  }
}

// Loading reads "indexes.json" first: a fault in "schemas.json" fails the load but leaves the
// new index definitions installed, and the store unloaded.
TEST(DefinitionFilesAtLoad, ASchemaFaultKeepsTheNewIndexDefinitions) {
  auto disk = std::make_shared<test::Disk>();
  disk->put("indexes.json", R"([{"name":"by_kind","fields":["kind"]}])");
  disk->put("schemas.json", R"({"nodeTypes":[]})");
  Store store(std::make_unique<test::MemoryStorage>(disk), StoreOptions{});
  auto loaded = store.ensure_loaded();
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.error().text(), "corrupt_data: schema metadata: missing field `edgeTypes` at line 1 column 16");
  EXPECT_FALSE(store.loaded());
  EXPECT_TRUE(Access::index_definitions(store).contains("by_kind"));
  disk->put("schemas.json", R"({"nodeTypes":[{"nodeType":"note"}],"edgeTypes":[]})");
  ASSERT_TRUE(store.ensure_loaded());
  EXPECT_TRUE(Access::node_types(store).contains("note"));
}

}  // namespace
}  // namespace tarnwick::store
