// The fields a query or an index reads in place from a stored node's data bytes, against the
// same reads of the data decoded: equality, range, order key and key text agree over random
// values of every form the writer gives and over the data of the fuzzers' kept inputs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "storage/format/data_bytes.hpp"
#include "storage/fuzz_corpus.hpp"
#include "storage/store/compiled_query.hpp"
#include "storage/store/field_path.hpp"
#include "storage/store/store.hpp"
#include "store/graph_fixture.hpp"

namespace tarnwick::store {
namespace {

using Rng = std::mt19937_64;

// Every integer width the writer gives, each side of 2^63 and 2^64, integral doubles beside
// their integers, both zeros, text of one to four bytes a character, empty containers.
const std::vector<json::Value>& scalars() {
  static const std::vector<json::Value> pool = [] {
    std::vector<json::Value> out;
    for (const char* text :
         {"null", "true", "false", "0", "1", "-1", "127", "128", "-32", "-33", "255", "256", "-128", "-129", "65535",
          "65536", "-32768", "-32769", "4294967295", "4294967296", "-2147483648", "-2147483649",
          "9223372036854775807", "9223372036854775808", "-9223372036854775808", "18446744073709551614",
          "18446744073709551615", "1.0", "0.0", "-0.0", "0.5", "-2.5", "42", "42.0", "1e300", "5e-324",
          "9.223372036854776e18", "1.8446744073709552e19", R"("")", R"("a")", R"("é")", R"("日本")", R"("😀")",
          R"("q\"\\\n\u0001")", "[]", "{}"})
      out.push_back(json::parse(text).value());
    return out;
  }();
  return pool;
}

// Keys that paths name, "" and "type" among them; "x.y" only a whole top-level key can reach.
constexpr std::string_view kKeys[] = {"a", "b", "", "type", "x", "x.y"};

template <class T>
const T& pick(Rng& rng, const std::vector<T>& from) {
  return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
}

std::string_view pick_key(Rng& rng) { return kKeys[std::uniform_int_distribution<std::size_t>(0, 5)(rng)]; }

json::Value random_value(Rng& rng, int depth);

json::Object random_object(Rng& rng, int depth) {
  json::Object o;
  const int size = std::uniform_int_distribution<int>(0, 5)(rng);
  for (int i = 0; i < size; ++i) o.emplace(pick_key(rng), random_value(rng, depth + 1));
  return o;
}

json::Value random_value(Rng& rng, int depth) {
  const int kind = std::uniform_int_distribution<int>(0, depth < 3 ? 5 : 3)(rng);
  if (kind <= 3) return pick(rng, scalars());
  if (kind == 4) return random_object(rng, depth);
  json::Array a;
  const int size = std::uniform_int_distribution<int>(0, 3)(rng);
  for (int i = 0; i < size; ++i) a.push_back(random_value(rng, depth + 1));
  return a;
}

// The same members in reverse order, at every depth.
json::Value reordered(const json::Value& v) {
  if (const json::Array* a = v.if_array()) {
    json::Array out;
    for (const json::Value& e : *a) out.push_back(reordered(e));
    return out;
  }
  const json::Object* o = v.if_object();
  if (!o) return v;
  json::Object out;
  for (auto it = o->end(); it != o->begin();) {
    --it;
    out.emplace(it->key(), reordered(it->value()));
  }
  return out;
}

// A dotted path of one to three keys, "" included, or one leading to a value of `data`.
std::string random_path(Rng& rng, const json::Object& data) {
  std::string path;
  const json::Object* at = &data;
  const int steps = std::uniform_int_distribution<int>(1, 3)(rng);
  for (int i = 0; i < steps; ++i) {
    std::string_view key = pick_key(rng);
    if (at && !at->empty() && rng() % 2) key = std::next(at->begin(), static_cast<std::ptrdiff_t>(rng() % at->size()))->key();
    if (i > 0) path += '.';
    path += key;
    const json::Value* next = at ? at->if_contains(key) : nullptr;
    at = next ? next->if_object() : nullptr;
  }
  return path;
}

// A value from the pool, a random one, or what the path reaches in the node (keys reordered).
json::Value expected_for(Rng& rng, const Node& node, const std::string& path) {
  switch (rng() % 4) {
    case 0: return pick(rng, scalars());
    case 1: return random_value(rng, 1);
    case 2: return node_field(node, path);
    default: return reordered(node_field(node, path));
  }
}

std::optional<double> random_bound(Rng& rng) {
  static const std::vector<std::optional<double>> bounds = {
      std::nullopt, -1.0, 0.0, -0.0, 0.5, 1.0, 41.5, 42.0, 1e19, 1.8446744073709552e19,
      std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()};
  return pick(rng, bounds);
}

NodeQuery one_equality(const std::string& path, const json::Value& expected) {
  NodeQuery q;
  q.attributes.emplace();
  q.attributes->emplace(path, expected);
  return q;
}

// Reads the stored node in place and decoded, through paths and values drawn from its data.
void expect_same_reads(Rng& rng, const StoredNode& stored, int rounds) {
  const Node node = stored.to_node("n");
  const std::span<const std::uint8_t> bytes = stored.data_bytes();
  for (int i = 0; i < rounds; ++i) {
    const std::string path = random_path(rng, node.data);
    const json::Value expected = expected_for(rng, node, path);
    const NodeQuery equality = one_equality(path, expected);
    EXPECT_EQ(CompiledQuery(equality).matches(node.type, bytes), json::equal(node_field(node, path), expected))
        << path << " = " << json::print(expected) << " in " << json::print(node.data);

    NodeQuery range;
    const RangeQuery bounds{random_bound(rng), random_bound(rng)};
    range.attribute_ranges.emplace().emplace_back(path, bounds);
    const std::optional<double> d = json::as_double(node_field(node, path));
    const bool inside = d && (!bounds.above || *d > *bounds.above) && (!bounds.below || *d < *bounds.below);
    EXPECT_EQ(CompiledQuery(range).matches(node.type, bytes), inside) << path << " in " << json::print(node.data);

    NodeQuery ordered;
    const std::string field(rng() % 3 ? std::string_view(path).substr(0, path.find('.')) : pick_key(rng));
    ordered.order_by = OrderBy{field, "desc"};
    const json::Value* top = node.data.if_contains(field);
    const double key = top ? json::finite_number(*top).value_or(0.0) : 0.0;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(CompiledQuery(ordered).order_key(bytes)), std::bit_cast<std::uint64_t>(key))
        << field << " in " << json::print(node.data);

    const SecondaryIndexDefinition def{"ix", {path, random_path(rng, node.data)}, std::nullopt, false, rng() % 2 == 0};
    EXPECT_EQ(Store::secondary_key(stored, def), Store::secondary_key(node, def)) << json::print(node.data);
  }
}

TEST(DataField, ReadsInPlaceAgreeWithTheDecodedDataOverRandomValues) {
  Rng rng(23);
  for (int i = 0; i < 4000; ++i) {
    const StoredNode stored("n", test::make_node("n", i % 2 ? "note" : "type", random_object(rng, 1)));
    expect_same_reads(rng, stored, 8);
  }
}

// A double that is not finite cannot come from a file or from Python, but the writer takes one
// from C++ and the reader gives it back as the integer 0.
TEST(DataField, ANonFiniteDoubleReadsAsTheDecoderReadsIt) {
  Rng rng(7);
  for (const double d : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    json::Object data;
    data["a"] = d;
    data["b"].emplace_object()["c"] = -d;
    expect_same_reads(rng, StoredNode("n", test::make_node("n", "note", std::move(data))), 200);
  }
}

TEST(DataField, ReadsInPlaceAgreeWithTheDecodedDataOfTheKeptInputs) {
  Rng rng(17);
  std::size_t taken = 0;
  for (const Bytes& file : test::fuzz_corpus("store")) {
    for (std::size_t pos = 0; pos < file.size(); ++pos) {
      msgpack::Cursor c{file, pos};
      const auto data = format::take_data_bytes(c);
      if (!data) continue;
      ++taken;
      expect_same_reads(rng, StoredNode("n", test::make_node("n", "note"), *data), 4);
    }
  }
  EXPECT_GT(taken, 0u);
}

// Each kept log line, an object nesting records and their data, stored as a node's data.
TEST(DataField, ReadsInPlaceAgreeWithTheDecodedDataOfTheKeptLogLines) {
  Rng rng(19);
  std::size_t stored = 0;
  for (json::Value& value : test::kept_log_objects()) {
    if (json::deeper_than(value, json::kMaxValueDepth)) continue;
    ++stored;
    expect_same_reads(rng, StoredNode("n", test::make_node("n", "note", std::move(value.as_object()))), 16);
  }
  EXPECT_GT(stored, 0u);
}

}  // namespace
}  // namespace tarnwick::store
