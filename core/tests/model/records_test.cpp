#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "json/json.hpp"
#include "model/records.hpp"

namespace tarnwick {
namespace {

json::Value parsed(std::string_view text) { return *json::parse(text); }

std::string keys_of(const json::Value& v) {
  std::string out;
  for (const auto& kv : v.as_object()) (out += kv.key()) += ',';
  return out;
}

Node minimal_node() {
  Node n;
  n.id = "n1";
  n.type = "fact";
  n.inserted_at = 1;
  n.updated_at = 2;
  return n;
}

TEST(NodeSerialize, RequiredKeysAlwaysAndOptionalOnlyWhenSet) {
  Node n = minimal_node();
  EXPECT_EQ(json::print(n.serialize()),
            R"({"id":"n1","type":"fact","data":{},"vector":null,"insertedAt":1,"updatedAt":2,"revision":0})");
  n.memory_class = MemoryClass::Entity;
  n.source = "";
  EXPECT_EQ(keys_of(n.serialize()), "id,type,data,vector,insertedAt,updatedAt,revision,memoryClass,source,");
  EXPECT_EQ(json::print(n.serialize().as_object().at("memoryClass")), R"("entity")");
  n.vector = std::vector<double>{};
  n.derived_from = std::vector<std::string>{};
  EXPECT_EQ(json::print(n.serialize().as_object().at("vector")), "[]");
  EXPECT_EQ(json::print(n.serialize().as_object().at("derivedFrom")), "[]");
}

TEST(NodeSerialize, AllFifteenKeysInFieldOrder) {
  Node n = minimal_node();
  n.data = parsed(R"({"b":1,"a":2})").as_object();
  n.vector = std::vector<double>{1.0, std::numeric_limits<double>::quiet_NaN()};
  n.revision = std::numeric_limits<std::uint64_t>::max();
  n.activation = NodeActivation{1.0, 0.5, 3, 4, std::nullopt, std::nullopt, std::nullopt};
  n.memory_class = MemoryClass::Episodic;
  n.confidence = 1.0;
  n.source = "s";
  n.observed_at = 9;
  n.derived_from = std::vector<std::string>{"a"};
  n.supersedes = "x";
  n.contradicts = std::vector<std::string>{"c", "d"};
  EXPECT_EQ(json::print(n.serialize()),
            R"({"id":"n1","type":"fact","data":{"b":1,"a":2},"vector":[1.0,null],"insertedAt":1,"updatedAt":2,)"
            R"("revision":18446744073709551615,"activation":{"score":1.0,"importance":0.5,"reinforcementCount":3,)"
            R"("lastMeaningfulActivation":4},"memoryClass":"episodic","confidence":1.0,"source":"s","observedAt":9,)"
            R"("derivedFrom":["a"],"supersedes":"x","contradicts":["c","d"]})");
}

TEST(ActivationSerialize, OptionalTailAndContext) {
  NodeActivation a{0.0, 1.0, 0, 0, 0.25, -5, ContextMap{}};
  a.context->set("work", ContextActivation{1.0, 3});
  a.context->set("home", ContextActivation{0.5, 4});
  EXPECT_EQ(json::print(a.serialize()),
            R"({"score":0.0,"importance":1.0,"reinforcementCount":0,"lastMeaningfulActivation":0,)"
            R"("inhibition":0.25,"lastInhibitedAt":-5,"context":{"work":{"score":1.0,"lastMeaningfulActivation":3},)"
            R"("home":{"score":0.5,"lastMeaningfulActivation":4}}})");
  a.context = ContextMap{};
  EXPECT_EQ(keys_of(a.serialize()).substr(keys_of(a.serialize()).size() - 8), "context,");
}

TEST(ContextMapSet, LaterValueWinsAtTheFirstPlaceInSmallAndLargeMaps) {
  // Reference: a plain list searched from the front.
  std::vector<std::pair<std::string, ContextActivation>> expected;
  ContextMap map;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 40; i += round + 1) {
      const std::string key = "ctx" + std::to_string(i);
      const ContextActivation value{0.01 * i, round};
      auto it = std::find_if(expected.begin(), expected.end(), [&](const auto& e) { return e.first == key; });
      if (it == expected.end()) expected.emplace_back(key, value);
      else it->second = value;
      map.set(key, value);
      ASSERT_EQ(map.entries(), expected) << key;
    }
  }
  for (const auto& [key, value] : expected) EXPECT_EQ(*map.find(key), value) << key;
  EXPECT_EQ(map.find("ctx40"), nullptr);
  EXPECT_EQ(map.find("ctx"), nullptr);

  ContextMap copy = map;
  copy.set("ctx3", ContextActivation{0.5, 99});
  copy.set("new", ContextActivation{0.5, 100});
  EXPECT_EQ(copy.find("ctx3")->last_meaningful_activation, 99);
  EXPECT_EQ(*map.find("ctx3"), expected[3].second);
  EXPECT_EQ(map.find("new"), nullptr);
  EXPECT_EQ(copy.entries().back().first, "new");
  EXPECT_NE(copy, map);
}

TEST(EdgeSerialize, AllSevenKeysWithNullData) {
  Edge e{"e1", "a", "b", "knows", std::nullopt, 5, 0};
  EXPECT_EQ(json::print(e.serialize()),
            R"({"id":"e1","source":"a","target":"b","type":"knows","data":null,"createdAt":5,"revision":0})");
  e.data = json::Object{};
  EXPECT_EQ(json::print(e.serialize().as_object().at("data")), "{}");
}

TEST(VectorEntrySerialize, IdThenVector) {
  EXPECT_EQ(json::print(VectorEntry{"v", {1.0, 2.5}}.serialize()), R"({"id":"v","vector":[1.0,2.5]})");
}

TEST(RecordCopies, AreDeep) {
  Node n = minimal_node();
  n.data = parsed(R"({"k":[1]})").as_object();
  n.vector = std::vector<double>{1.0};
  Node copy = n.clone();
  copy.data["k"].as_array().push_back(2);
  copy.vector->push_back(2.0);
  EXPECT_EQ(json::print(n.data), R"({"k":[1]})");
  EXPECT_EQ(n.vector->size(), 1u);
}

TEST(RecordRoundTrip, SerializeThenDeserializeGivesTheSameRecord) {
  Node n = minimal_node();
  n.data = parsed(R"({"z":{"y":[1,2.5,"s",null,true]}})").as_object();
  n.vector = std::vector<double>{0.1, -2.0};
  n.activation = NodeActivation{0.1, 0.2, 7, 8, 0.3, 9, ContextMap{}};
  n.activation->context->set("c", ContextActivation{0.4, 10});
  n.memory_class = MemoryClass::Procedural;
  n.contradicts = std::vector<std::string>{"q"};
  json::Value v = n.serialize();
  auto back = Node::deserialize(v);
  ASSERT_TRUE(back) << back.error().message;
  EXPECT_EQ(*back, n);

  Edge e{"e", "s", "t", "ty", parsed(R"({"w":1.5})").as_object(), 3, 4};
  json::Value ev = e.serialize();
  EXPECT_EQ(*Edge::deserialize(ev), e);
}

}  // namespace
}  // namespace tarnwick
