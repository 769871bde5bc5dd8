#include <gtest/gtest.h>

#include "json/json.hpp"
#include "storage/store/mutation_record.hpp"
#include "storage/store/vector_packing.hpp"

namespace tarnwick::store {
namespace {

MutationRecord record_of(std::string_view text) {
  json::Value v = *json::parse(text);
  auto r = MutationRecord::deserialize(v);
  EXPECT_TRUE(r) << text << ": " << r.error().text();
  return r ? *r : MutationRecord{};
}

constexpr auto F64 = VectorPrecision::Float64;
constexpr auto F32 = VectorPrecision::Float32;
#define HEAD R"({"operationId":"o","sequence":1,"transactionId":"t","timestamp":-5,"operations":)"

struct LineCase {
  const char* read;     // the record as read
  VectorPrecision precision;
  const char* written;  // its line; nullptr: the same text as read
};

TEST(MutationLine, KeyOrderOptionalKeysAndPackedVectors) {
  const LineCase cases[] = {
      {HEAD "[]}", F64, nullptr},
      {HEAD R"([],"actor":"me","baseRevision":18446744073709551615,"metadata":{"z":1,"a":[null,2.5]}})", F64, nullptr},
      {R"({"metadata":{"k":1},"operations":[],"timestamp":2,"transactionId":"t","sequence":3,"operationId":"o",)"
       R"("baseRevision":4,"actor":"a","other":1})",
       F64, R"({"operationId":"o","sequence":3,"transactionId":"t","timestamp":2,"operations":[],"actor":"a",)"
            R"("baseRevision":4,"metadata":{"k":1}})"},
      {HEAD R"([],"actor":null,"baseRevision":null,"metadata":null})", F64, HEAD "[]}"},
      {R"(["o",1,"t",-5,[["putVector",{"id":"v","vector":[1.0,-2.5]}]]])", F64,
       HEAD R"([{"operationType":"putVector","payload":{"id":"v","vector":[1.0,-2.5]}}]})"},
      {HEAD R"([{"operationType":"putVector","payload":{"id":"v","vector":[1,-2.5],"x":0}}]})", F32,
       HEAD R"([{"operationType":"putVector","payload":{"id":"v","vector":{"__tarnwick_f32_hex":"3f800000c0200000"},"x":0}}]})"},
      // A null element packs as the NaN that reads back as null; beyond float32 is an infinity.
      {HEAD R"([{"operationType":"putVector","payload":{"vector":[null,1e300,-1e300]}}]})", F32,
       HEAD R"([{"operationType":"putVector","payload":{"vector":{"__tarnwick_f32_hex":"7fc000007f800000ff800000"}}}]})"},
      // Untouched: other kinds, a null vector, a non-object payload, metadata.
      {HEAD R"([{"operationType":"deleteNode","payload":{"vector":[1.0]}},)"
            R"({"operationType":"putNode","payload":{"vector":null}},{"operationType":"putNode","payload":[1.0]}],)"
            R"("metadata":{"vector":[1.0]}})",
       F32, nullptr},
  };
  for (const LineCase& c : cases) {
    const MutationRecord r = record_of(c.read);
    const std::string expected = c.written ? c.written : c.read;
    EXPECT_EQ(pack_mutation_vectors(r, c.precision), expected) << c.read;
    json::Value back = *json::parse(expected);
    ASSERT_TRUE(unpack_mutation_vectors(back));
    if (c.precision == F64) {
      EXPECT_EQ(json::print(r.serialize()), expected) << c.read;
      EXPECT_EQ(MutationRecord::deserialize(back), r) << c.read;
    }
  }
}

TEST(MutationLine, PackingRules) {
  struct Case {
    const char* vector;
    Packing packing;
    const char* written;  // nullptr: the packing fails
  };
  const Case cases[] = {
      {R"([1.0,"x"])", Packing::Every, nullptr},
      {R"([1.0,"x"])", Packing::ExactOnly, R"([1.0,"x"])"},
      {"[0.1,0.5]", Packing::Every, R"({"__tarnwick_f32_hex":"3dcccccd3f000000"})"},
      {"[0.5,0.1]", Packing::ExactOnly, "[0.5,0.1]"},
      {"[0.5,null,-0.0]", Packing::ExactOnly, R"({"__tarnwick_f32_hex":"3f0000007fc0000080000000"})"},
      {"[16777216,-9223372036854775808]", Packing::ExactOnly, R"({"__tarnwick_f32_hex":"4b800000df000000"})"},
      {"[16777217,1e300]", Packing::ExactOnly, "[16777217,1e300]"},
  };
  for (const Case& c : cases) {
    const MutationRecord r = record_of(std::string(HEAD R"([{"operationType":"putNode","payload":{"vector":)") +
                                       c.vector + "}}]}");
    std::string line;
    const auto written = append_mutation_line(line, r, F32, c.packing);
    if (!c.written) {
      ASSERT_FALSE(written) << c.vector;
      EXPECT_EQ(written.error().text(), "corrupt_data: mutation vector contains a non-number");
      continue;
    }
    ASSERT_TRUE(written) << c.vector;
    EXPECT_EQ(line, std::string(HEAD R"([{"operationType":"putNode","payload":{"vector":)") + c.written + "}}]}");
  }
}

TEST(MutationLine, Unpacking) {
  const struct {
    const char* text;
    const char* values;  // nullptr: refused
  } cases[] = {
      {"3f800000c0200000", "[1.0,-2.5]"}, {"3F800000", "[1.0]"}, {"", "[]"}, {"7fc00000ff800000", "[null,null]"},
      {"3f80000", nullptr}, {"3f8000000", nullptr}, {"3f80000g", nullptr}, {"+f800000", nullptr},
  };
  for (const auto& c : cases) {
    auto values = unpack_f32_hex(c.text);
    if (c.values) {
      ASSERT_TRUE(values) << c.text;
      EXPECT_EQ(json::print(*values), c.values);
    } else {
      ASSERT_FALSE(values) << c.text;
      EXPECT_EQ(values.error().text(), "corrupt_data: invalid packed Float32 mutation vector");
    }
  }
  // Only a string marker in an object payload of the two vector kinds of an object record counts.
  const char* untouched[] = {
      HEAD R"([{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":7}}}]})",
      HEAD R"([["putNode",{"vector":{"__tarnwick_f32_hex":"zz"}}]]})",
      R"(["o",1,"t",-5,[{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":"zz"}}}]])",
  };
  for (const char* text : untouched) {
    json::Value v = *json::parse(text);
    ASSERT_TRUE(unpack_mutation_vectors(v)) << text;
    EXPECT_EQ(json::print(v), text);
  }
  json::Value v = *json::parse(HEAD R"([{"operationType":"putNode","payload":{"vector":{"x":1,"__tarnwick_f32_hex":"40000000"}}}]})");
  ASSERT_TRUE(unpack_mutation_vectors(v));
  EXPECT_EQ(json::print(v), HEAD R"([{"operationType":"putNode","payload":{"vector":[2.0]}}]})");
}

TEST(MutationRecordRead, Errors) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"{}", "missing field `operationId`"},
      {R"({"operationId":"o","transactionId":"t"})", "missing field `sequence`"},
      {R"({"operationId":"o","sequence":1,"transactionId":"t","timestamp":1})", "missing field `operations`"},
      {R"(["o",1,"t",1])", "invalid length 4, expected struct MutationRecord with 8 elements"},
      {R"(["o",1,"t",1,[],null,null,null,0])", "invalid length 9, expected fewer elements in array"},
      {"5", "invalid type: integer `5`, expected struct MutationRecord"},
      {R"(["o",-1,"t",1,[]])", "invalid value: integer `-1`, expected u64"},
      {R"(["o",1.0,"t",1,[]])", "invalid type: floating point `1.0`, expected u64"},
      {R"(["o",1,"t",1,[[]]])", "invalid length 0, expected struct MutationOperation with 2 elements"},
      {R"(["o",1,"t",1,["x"]])", "invalid type: string \"x\", expected struct MutationOperation"},
      {R"(["o",1,"t",1,[{"payload":1}]])", "missing field `operationType`"},
      {R"(["o",1,"t",1,[{"operationType":"x","payload":null,"p":1}],null,null,{"m":1}])", nullptr},
  };
  for (const auto& c : cases) {
    json::Value v = *json::parse(c.text);
    auto r = MutationRecord::deserialize(v);
    if (c.error) {
      ASSERT_FALSE(r) << c.text;
      EXPECT_EQ(r.error().text(), c.error);
    } else {
      EXPECT_TRUE(r) << c.text << ": " << r.error().text();
    }
  }
}

}  // namespace
}  // namespace tarnwick::store
