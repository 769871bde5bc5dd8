#pragma once
// Shared by the storage tests: byte strings written as hex, tree encoding, seeded random records.

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "model/records.hpp"
#include "storage/msgpack/bytes.hpp"
#include "storage/msgpack/encode.hpp"

namespace tarnwick::test {

// "85 a7 76" -> {0x85, 0xa7, 0x76}; blanks are ignored.
inline Bytes hex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char ch : text) {
    int v;
    if (ch >= '0' && ch <= '9') v = ch - '0';
    else if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

inline Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A value tree through the general encoder, the reference the streaming writers must match.
inline Bytes encode_tree(const msgpack::Msg& m) {
  msgpack::Writer w;
  msgpack::encode(m, w);
  return std::move(w).finish().value();
}

// Random records covering every optional field. Doubles are exact float32 values when
// `float32_exact`, so that a float32 file gives them back unchanged.
class RecordGenerator {
 public:
  explicit RecordGenerator(std::uint64_t seed) : rng_(seed) {}

  std::string text() {
    static constexpr std::string_view kPieces[] = {"a", "node", "é", "🙂", " ", "x-1", "long-text-piece-"};
    std::string s;
    for (int n = pick(0, 4); n > 0; --n) s += kPieces[pick(0, 6)];
    return s;
  }
  double unit() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_); }
  double any_double(bool float32_exact) {
    switch (pick(0, 3)) {
      case 0: return static_cast<double>(pick(-300, 300));  // integral: written as an integer
      case 1: return 0.5;
      default: {
        double d = std::uniform_real_distribution<double>(-1e6, 1e6)(rng_);
        return float32_exact ? static_cast<double>(static_cast<float>(d)) : d;
      }
    }
  }
  std::int64_t timestamp() { return pick(0, 3) == 0 ? pick(-5, 5) : std::int64_t{1'700'000'000'000} + pick(0, 1000); }
  std::uint64_t count() {
    switch (pick(0, 2)) {
      case 0: return 0;
      case 1: return static_cast<std::uint64_t>(pick(1, 70000));
      default: return 0xffffffffffffffffULL - static_cast<std::uint64_t>(pick(0, 3));  // above the signed range
    }
  }
  json::Value json_value(int depth) {
    switch (pick(0, depth > 2 ? 5 : 7)) {
      case 0: return nullptr;
      case 1: return pick(0, 1) == 1;
      case 2: return static_cast<std::int64_t>(pick(-100000, 100000));
      case 3: return static_cast<double>(pick(-3, 3));  // integral doubles stay doubles
      case 4: return any_double(false);
      case 5: return json::String(text());
      case 6: {
        json::Array a;
        for (int n = pick(0, 3); n > 0; --n) a.push_back(json_value(depth + 1));
        return a;
      }
      default: return json_object(depth + 1);
    }
  }
  json::Object json_object(int depth) {
    json::Object o;
    for (int n = pick(0, 4); n > 0; --n) o[text() + std::to_string(n)] = json_value(depth);
    if (pick(0, 4) == 0) o["big"] = std::uint64_t{18446744073709551615ULL};
    return o;
  }
  std::vector<double> vector(bool float32_exact) {
    std::vector<double> v(static_cast<std::size_t>(pick(0, 12)));
    for (double& d : v) d = any_double(float32_exact);
    return v;
  }
  std::vector<std::string> texts() {
    std::vector<std::string> v(static_cast<std::size_t>(pick(0, 3)));
    for (auto& s : v) s = text();
    return v;
  }
  NodeActivation activation() {
    NodeActivation a;
    a.score = unit();
    a.importance = pick(0, 1) ? 1.0 : unit();
    a.reinforcement_count = count();
    a.last_meaningful_activation = timestamp();
    const bool inhibited = pick(0, 1) == 1;
    if (inhibited) a.inhibition = unit();
    // With inhibition a time is always set here, as validation demands and the map writes.
    if (inhibited || pick(0, 1)) a.last_inhibited_at = timestamp();
    if (pick(0, 1)) {
      ContextMap& c = a.context.emplace();
      for (int n = pick(0, 3); n > 0; --n) c.set(text() + std::to_string(n), ContextActivation{unit(), timestamp()});
    }
    return a;
  }
  Node node(bool float32_exact) {
    Node n;
    n.id = "n-" + text();
    n.type = text();
    n.data = json_object(0);
    if (pick(0, 2)) n.vector = vector(float32_exact);
    n.inserted_at = timestamp();
    n.updated_at = timestamp();
    n.revision = count();
    if (pick(0, 1)) n.activation = activation();
    if (pick(0, 1)) n.memory_class = static_cast<MemoryClass>(pick(0, 3));
    if (pick(0, 1)) n.confidence = unit();
    if (pick(0, 1)) n.source = text();
    if (pick(0, 1)) n.observed_at = timestamp();
    if (pick(0, 1)) n.derived_from = texts();
    if (pick(0, 1)) n.supersedes = text();
    if (pick(0, 1)) n.contradicts = texts();
    return n;
  }
  Edge edge() {
    Edge e;
    e.id = text();
    e.source = text();
    e.target = text();
    e.type = text();
    if (pick(0, 1)) e.data = json_object(0);
    e.created_at = timestamp();
    e.revision = count();
    return e;
  }
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
};

}  // namespace tarnwick::test
