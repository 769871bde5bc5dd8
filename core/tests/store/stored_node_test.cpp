#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "storage/format/record_writer.hpp"
#include "storage/store/stored_node.hpp"
#include "store/graph_fixture.hpp"

namespace tarnwick::test {
namespace {

using store::StoredNode;

Bytes written(const format::NodeFields& fields) {
  msgpack::Writer out;
  format::write_node(fields, std::nullopt, VectorPrecision::Float64, 4, out);
  return std::move(out).finish().value();
}

Bytes written(const Node& node) {
  msgpack::Writer out;
  format::write_node(node, std::nullopt, VectorPrecision::Float64, 4, out);
  return std::move(out).finish().value();
}

struct StoredCase {
  const char* name;
  const char* key;
  const char* data;
  std::function<void(Node&)> change;
};

// A stored node gives back the record it was made from, as text (so that 1 and 1.0, -0.0 and
// key order count) and as the snapshot bytes written from either form.
TEST(StoredNode, GivesBackTheRecordAndItsBytes) {
  const std::vector<StoredCase> cases = {
      {"empty data", "a", "{}", {}},
      {"integer and double", "a", R"({"i":1,"d":1.0,"z":-0.0,"n":-7})", {}},
      {"extremes", "a", R"({"big":18446744073709551615,"low":-9223372036854775808,"tiny":5e-324})", {}},
      {"nested and key order", "a", R"({"z":{"b":[1,{"y":null,"x":true}],"a":"t"},"a":[]})", {}},
      {"own id apart from the key", "other", R"({"k":"v"})", {}},
      {"revision", "a", "{}", [](Node& n) { n.revision = 9; }},
      {"optional fields", "a", R"({"k":1})",
       [](Node& n) {
         n.memory_class = MemoryClass::Semantic;
         n.confidence = 0.5;
         n.source = "s";
         n.observed_at = -3;
         n.derived_from = std::vector<std::string>{"x", "y"};
         n.supersedes = "";
         n.contradicts = std::vector<std::string>{};
       }},
      {"activation", "a", "{}",
       [](Node& n) {
         NodeActivation a;
         a.score = 0.25;
         a.inhibition = 1.0;
         ContextMap context;
         context.set("c", {0.5, 4});
         a.context = std::move(context);
         n.activation = std::move(a);
       }},
      {"vector dropped", "a", "{}", [](Node& n) { n.vector = std::vector<double>{1.0, 2.0}; }},
  };
  for (const auto& c : cases) {
    Node original = node_of("a", "note", c.data);
    original.inserted_at = 11;
    original.updated_at = -12;
    if (c.change) c.change(original);
    const StoredNode stored(c.key, Node(original));
    original.vector.reset();
    const Node back = stored.to_node(c.key);
    EXPECT_EQ(json::print(back.serialize()), json::print(original.serialize())) << c.name;
    EXPECT_EQ(stored.type(), original.type) << c.name;
    EXPECT_EQ(written(stored.fields(c.key)), written(original)) << c.name;
  }
}

}  // namespace
}  // namespace tarnwick::test
