#include <gtest/gtest.h>

#include "json/json.hpp"
#include "model/records.hpp"

namespace tarnwick {
namespace {

template <class R>
std::string read_error(std::string_view text) {
  json::Value v = *json::parse(text);
  auto r = R::deserialize(v);
  if (r) return "ok";
  EXPECT_EQ(r.error().line, 0u);
  return r.error().text();
}

template <class R>
R read_ok(std::string_view text) {
  json::Value v = *json::parse(text);
  auto r = R::deserialize(v);
  EXPECT_TRUE(r) << text << ": " << (r ? "" : r.error().message);
  return r ? *r : R{};
}

TEST(NodeRead, ObjectWithOnlyRequiredKeysTakesDefaults) {
  const Node n = read_ok<Node>(R"({"id":"a","type":"t","insertedAt":1,"updatedAt":2,"Id":5})");
  EXPECT_EQ(n.id, "a");
  EXPECT_TRUE(n.data.empty());
  EXPECT_FALSE(n.vector);
  EXPECT_EQ(n.revision, 0u);
  EXPECT_FALSE(n.activation || n.memory_class || n.confidence || n.source || n.observed_at || n.derived_from ||
               n.supersedes || n.contradicts);
}

TEST(NodeRead, Errors) {
  const std::string base = R"("id":"a","type":"t","insertedAt":1,"updatedAt":2)";
  const auto with = [&](std::string_view extra) { return "{" + base + "," + std::string(extra) + "}"; };
  const std::string single = "invalid value: map, expected map with a single key";
  const std::pair<std::string, std::string> cases[] = {
      // Missing fields are reported in field order, after value errors.
      {R"({"type":"t","insertedAt":1})", "missing field `id`"},
      {R"({"insertedAt":"x","type":"t"})", "invalid type: string \"x\", expected i64"},
      {R"({"Id":"a","type":"t","inserted_at":1,"updatedAt":2})", "missing field `id`"},
      {R"({"id":"a","type":"t","inserted_at":1,"updatedAt":2})", "missing field `insertedAt`"},
      {"7", "invalid type: integer `7`, expected struct Node"},
      {R"({"id":"a","type":"t","insertedAt":1.5,"updatedAt":2})", "invalid type: floating point `1.5`, expected i64"},
      {R"({"id":"a","type":"t","insertedAt":5.0,"updatedAt":2})", "invalid type: floating point `5.0`, expected i64"},
      {R"({"id":"a","type":"t","insertedAt":9223372036854775808,"updatedAt":2})",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {with(R"("revision":-1)"), "invalid value: integer `-1`, expected u64"},
      {with(R"("revision":null)"), "invalid type: null, expected u64"},
      {with(R"("data":null)"), "invalid type: null, expected a map"},
      {with(R"("data":[])"), "invalid type: sequence, expected a map"},
      {with(R"("vector":[1,null])"), "invalid type: null, expected f64"},
      {with(R"("vector":{})"), "invalid type: map, expected a sequence"},
      {with(R"("derivedFrom":["a",1])"), "invalid type: integer `1`, expected a string"},
      {with(R"("source":true)"), "invalid type: boolean `true`, expected a string"},
      {with(R"("activation":[0.5])"), "invalid length 1, expected struct NodeActivation with 7 elements"},
      {with(R"("activation":"x")"), "invalid type: string \"x\", expected struct NodeActivation"},
      // A memory class is a string or a map with one key and no value.
      {with(R"("memoryClass":"Entity")"),
       "unknown variant `Entity`, expected one of `episodic`, `semantic`, `procedural`, `entity`"},
      {with(R"("memoryClass":2)"), "invalid type: integer `2`, expected string or map"},
      {with(R"("memoryClass":{})"), single},
      {with(R"("memoryClass":{"entity":null,"semantic":null})"), single},
      {with(R"("memoryClass":{"entity":1})"), "invalid type: integer `1`, expected unit"},
      // The array form; element errors come before the length check.
      {"[]", "invalid length 0, expected struct Node with 15 elements"},
      {R"(["a","t",{}])", "invalid length 4, expected struct Node with 15 elements"},
      {R"(["a","t",{},null,1,2,0,null,null,null,null,null,null,null,null,null])",
       "invalid length 16, expected fewer elements in array"},
      {R"([1,"t",{},null,1,2,0,null,null,null,null,null,null,null,null,null])",
       "invalid type: integer `1`, expected a string"},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(read_error<Node>(text), error) << text;
}

TEST(NodeRead, OptionalValues) {
  const std::string base = R"({"id":"a","type":"t","insertedAt":1,"updatedAt":2,)";
  EXPECT_FALSE(read_ok<Node>(base + R"("vector":null})").vector);
  EXPECT_TRUE(read_ok<Node>(base + R"("vector":[]})").vector->empty());
  EXPECT_EQ(*read_ok<Node>(base + R"("vector":[1,2.5]})").vector, (std::vector<double>{1.0, 2.5}));
  EXPECT_FALSE(read_ok<Node>(base + R"("confidence":null})").confidence);
  EXPECT_EQ(*read_ok<Node>(base + R"("confidence":1})").confidence, 1.0);
  EXPECT_EQ(json::print(read_ok<Node>(base + R"("data":{"b":1,"a":2}})").data), R"({"b":1,"a":2})");
}

TEST(MemoryClassRead, StringOrSingleKeyMap) {
  const std::string base = R"({"id":"a","type":"t","insertedAt":1,"updatedAt":2,"memoryClass":)";
  EXPECT_FALSE(read_ok<Node>(base + "null}").memory_class);
  EXPECT_EQ(read_ok<Node>(base + R"("entity"})").memory_class, MemoryClass::Entity);
  EXPECT_EQ(read_ok<Node>(base + R"({"semantic":null}})").memory_class, MemoryClass::Semantic);
}

TEST(NodeRead, ArrayForm) {
  const Node n = read_ok<Node>(R"(["a","t",{},null,1,2])");
  EXPECT_EQ(n.inserted_at, 1);
  EXPECT_EQ(n.updated_at, 2);
  EXPECT_FALSE(n.vector);
}

TEST(EdgeRead, DefaultsAndErrors) {
  const Edge e = read_ok<Edge>(R"({"id":"e","source":"a","target":"b","type":"t","data":null,"createdAt":0})");
  EXPECT_FALSE(e.data);
  EXPECT_EQ(e.revision, 0u);
  EXPECT_EQ(read_error<Edge>(R"({"id":"e","source":"a","target":"b","type":"t"})"), "missing field `createdAt`");
  EXPECT_EQ(read_error<Edge>("null"), "invalid type: null, expected struct Edge");
  EXPECT_EQ(read_error<Edge>(R"(["e","a","b"])"), "invalid length 3, expected struct Edge with 7 elements");
}

TEST(ActivationRead, ContextInBothShapes) {
  const std::string base = R"({"score":0.5,"importance":0.5,"reinforcementCount":1,"lastMeaningfulActivation":2,)";
  for (const char* ctx : {R"({"work":{"score":0.5,"lastMeaningfulActivation":3}})", R"({"work":[0.5,3]})"}) {
    const NodeActivation a = read_ok<NodeActivation>(base + R"("context":)" + ctx + "}");
    ASSERT_TRUE(a.context);
    ASSERT_EQ(a.context->size(), 1u);
    EXPECT_EQ(*a.context->find("work"), (ContextActivation{0.5, 3}));
  }
  EXPECT_EQ(read_error<NodeActivation>(base + R"("context":[]})"), "invalid type: sequence, expected a map");
  EXPECT_EQ(read_error<NodeActivation>(base + R"("context":{"w":[0.5]}})"),
            "invalid length 1, expected struct ContextActivation with 2 elements");
  EXPECT_EQ(read_error<NodeActivation>(R"({"score":null})"), "invalid type: null, expected f64");
}

TEST(VectorEntryRead, BothFieldsRequired) {
  EXPECT_EQ(read_ok<VectorEntry>(R"(["v",[1,2]])").vector, (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(read_error<VectorEntry>(R"({"vector":[]})"), "missing field `id`");
  EXPECT_EQ(read_error<VectorEntry>(R"({"id":"v"})"), "missing field `vector`");
  EXPECT_EQ(read_error<VectorEntry>(R"(["v"])"), "invalid length 1, expected struct VectorEntry with 2 elements");
  EXPECT_EQ(read_error<VectorEntry>(R"(["v",[],3])"), "invalid length 3, expected fewer elements in array");
  EXPECT_EQ(read_error<VectorEntry>(R"("v")"), "invalid type: string \"v\", expected struct VectorEntry");
}

TEST(ReadError, TextCarriesPositionOnlyForText) {
  EXPECT_EQ((ReadError{"missing field `x`", 0, 0}.text()), "missing field `x`");
  EXPECT_EQ((ReadError{"missing field `x`", 3, 14}.text()), "missing field `x` at line 3 column 14");
}

}  // namespace
}  // namespace tarnwick
