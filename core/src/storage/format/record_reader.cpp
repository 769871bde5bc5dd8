#include "storage/format/record_reader.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "storage/format/keys.hpp"
#include "storage/format/integral.hpp"
#include "storage/format/pull.hpp"
#include "storage/msgpack/format.hpp"
#include "storage/msgpack/skip.hpp"
#include "storage/msgpack/utf8.hpp"

namespace tarnwick::format {

using msgpack::Cursor;
using msgpack::Header;
using Kind = msgpack::Msg::Kind;
using pull::for_each_first;
using pull::header;

namespace {

std::optional<double> number_of(const Header& h) {
  if (h.kind == Kind::Float) return h.number;
  if (h.kind == Kind::Int) return h.integer.to_double();
  return std::nullopt;
}

std::optional<std::int64_t> i64_of(const Header& h) {
  if (h.kind == Kind::Int) return h.integer.to_i64();
  return std::nullopt;
}

std::optional<std::int64_t> timestamp_of(const Header& h) {
  if (h.kind == Kind::Float) return integral_i64(h.number);
  return i64_of(h);
}

std::optional<std::uint64_t> revision_of(const Header& h) {
  if (h.kind == Kind::Int) return h.integer.to_u64();
  if (h.kind == Kind::Float) return integral_u64(h.number);
  return std::nullopt;
}

bool read_text(Cursor& c, std::string& out) {
  Header h;
  return header(c, h) && h.kind == Kind::Str && read_text_body(c, h, out);
}

bool read_json_body(Cursor& c, const Header& h, json::Value& out) {
  switch (h.kind) {
    case Kind::Nil:
    case Kind::Bool:
    case Kind::Int:
    case Kind::Float: out = json_scalar(h); return true;
    case Kind::Str: {
      std::string s;
      if (!read_text_body(c, h, s)) return false;
      out = json::String(s);
      return true;
    }
    case Kind::Bin: {
      const std::uint8_t* p = c.take_raw(h.length);
      if (!p) return false;
      json::Array& a = out.emplace_array();
      a.reserve(h.length);
      for (std::uint64_t i = 0; i < h.length; ++i) a.emplace_back(std::uint64_t{p[i]});
      return true;
    }
    case Kind::Array: {
      json::Array& a = out.emplace_array();
      a.reserve(pull::reserve_bound(h.length, c));
      ++c.depth;
      for (std::uint64_t i = 0; i < h.length; ++i)
        if (!read_json(c, a.emplace_back(nullptr))) return false;
      --c.depth;
      return true;
    }
    case Kind::Map: {
      json::Object& o = out.emplace_object();
      ++c.depth;
      for (std::uint64_t i = 0; i < h.length; ++i) {
        Header k;
        if (!header(c, k)) return false;
        if (k.kind != Kind::Str) {
          if (!msgpack::skip_body(c, k) || !msgpack::skip_value(c)) return false;
          continue;
        }
        std::string name;
        json::Value value;
        if (!read_text_body(c, k, name) || !read_json(c, value)) return false;
        o.insert_or_assign(name, std::move(value));
      }
      --c.depth;
      return true;
    }
  }
  return false;
}

// Nil gives no object; a map gives one; anything else fails.
bool read_data(Cursor& c, std::optional<json::Object>& out) {
  Header h;
  if (!header(c, h)) return false;
  if (h.kind == Kind::Nil) return true;
  if (h.kind != Kind::Map) return false;
  json::Value v;
  if (!read_json_body(c, h, v)) return false;
  out = std::move(v.as_object());
  return true;
}

bool read_texts(Cursor& c, std::optional<std::vector<std::string>>& out) {
  Header h;
  if (!header(c, h)) return false;
  if (h.kind == Kind::Nil) return true;
  if (h.kind != Kind::Array) return false;
  auto& list = out.emplace();
  list.reserve(pull::reserve_bound(h.length, c));
  ++c.depth;
  for (std::uint64_t i = 0; i < h.length; ++i)
    if (!read_text(c, list.emplace_back())) return false;
  --c.depth;
  return true;
}

bool read_optional_text(Cursor& c, std::optional<std::string>& out) {
  Header h;
  if (!header(c, h)) return false;
  if (h.kind == Kind::Nil) return true;
  return h.kind == Kind::Str && read_text_body(c, h, out.emplace());
}

// A value of the wrong kind for a lenient field is passed over.
template <class T>
bool lenient(Cursor& c, std::optional<T> (*convert)(const Header&), std::optional<T>& out) {
  Header h;
  if (!header(c, h)) return false;
  out = convert(h);
  return out || msgpack::skip_body(c, h);
}

constexpr std::string_view kContextKeys[] = {key::kScore, key::kLastMeaningfulActivation};

bool read_context(Cursor& c, const Header& map, ContextMap& out) {
  ++c.depth;
  for (std::uint64_t i = 0; i < map.length; ++i) {
    Header k;
    if (!header(c, k)) return false;
    std::optional<std::string> name;
    if (k.kind == Kind::Str) {
      if (!read_text_body(c, k, name.emplace())) return false;
    } else if (!msgpack::skip_body(c, k)) {
      return false;
    }
    Header v;
    if (!header(c, v)) return false;
    if (!name || v.kind != Kind::Map) {
      if (!msgpack::skip_body(c, v)) return false;
      continue;
    }
    std::optional<double> score;
    std::optional<std::int64_t> last;
    const bool ok = for_each_first(c, v, kContextKeys, [&](int k2, Cursor& cc) {
      return k2 == 0 ? lenient(cc, number_of, score) : lenient(cc, i64_of, last);
    });
    if (!ok) return false;
    if (score && last) out.set(std::move(*name), ContextActivation{*score, *last});
  }
  --c.depth;
  return true;
}

constexpr std::string_view kActivationKeys[] = {
    key::kScore,      key::kImportance,      key::kReinforcementCount, key::kLastMeaningfulActivation,
    key::kInhibition, key::kLastInhibitedAt, key::kContext};

bool read_activation(Cursor& c, std::optional<NodeActivation>& out) {
  Header h;
  if (!header(c, h)) return false;
  if (h.kind == Kind::Nil) return true;
  if (h.kind != Kind::Map) return false;
  NodeActivation& a = out.emplace();
  std::uint32_t required = 0;
  const bool ok = for_each_first(c, h, kActivationKeys, [&](int k, Cursor& cc) {
    Header v;
    if (!header(cc, v)) return false;
    switch (k) {
      case 0:
      case 1: {
        auto d = number_of(v);
        if (!d) return false;
        (k == 0 ? a.score : a.importance) = *d;
        break;
      }
      case 2: {
        auto u = v.kind == Kind::Int ? v.integer.to_u64() : std::nullopt;
        if (!u) return false;
        a.reinforcement_count = *u;
        break;
      }
      case 3: {
        auto i = i64_of(v);
        if (!i) return false;
        a.last_meaningful_activation = *i;
        break;
      }
      case 4:
        a.inhibition = number_of(v);
        return a.inhibition || msgpack::skip_body(cc, v);
      case 5:
        a.last_inhibited_at = i64_of(v);
        return a.last_inhibited_at || msgpack::skip_body(cc, v);
      case 6:
        if (v.kind != Kind::Map) return msgpack::skip_body(cc, v);
        return read_context(cc, v, a.context.emplace());
    }
    required |= 1u << k;
    return true;
  });
  return ok && required == 0b1111;
}

enum NodeKey {
  kNodeId, kNodeType, kNodeData, kNodeVector, kNodeInsertedAt, kNodeUpdatedAt, kNodeActivation, kNodeRevision,
  kNodeMemoryClass, kNodeConfidence, kNodeSource, kNodeObservedAt, kNodeDerivedFrom, kNodeSupersedes,
  kNodeContradicts,
};
constexpr std::string_view kNodeKeys[] = {
    key::kId,        key::kType,         key::kData,       key::kVector,     key::kInsertedAt,
    key::kUpdatedAt, key::kActivation,   key::kRevision,   key::kMemoryClass, key::kConfidence,
    key::kSource,    key::kObservedAt,   key::kDerivedFrom, key::kSupersedes, key::kContradicts};
constexpr std::uint32_t kNodeRequired =
    (1u << kNodeId) | (1u << kNodeType) | (1u << kNodeInsertedAt) | (1u << kNodeUpdatedAt);

// `left`, when given, takes the data as bytes where they are in the writer's form, and the
// vector as where it lies.
bool read_node_field(int k, Cursor& c, Node& n, NodeLeftInPlace* left) {
  Header h;
  switch (k) {
    case kNodeId: return read_text(c, n.id);
    case kNodeType: return read_text(c, n.type);
    case kNodeData: {
      if (left && (left->data = take_data_bytes(c))) return true;
      std::optional<json::Object> data;
      if (!read_data(c, data)) return false;
      if (data) n.data = std::move(*data);
      return true;
    }
    case kNodeVector: {
      const Cursor at = c;
      if (!header(c, h)) return false;
      if (h.kind == Kind::Nil) return true;
      if (h.kind != Kind::Array && h.kind != Kind::Map) return false;
      if (!left) return read_vector_body(c, h, n.vector.emplace());
      left->vector = at;
      return read_vector_body(c, h, left->scratch);
    }
    case kNodeInsertedAt:
    case kNodeUpdatedAt: {
      if (!header(c, h)) return false;
      auto t = timestamp_of(h);
      if (!t) return false;
      (k == kNodeInsertedAt ? n.inserted_at : n.updated_at) = *t;
      return true;
    }
    case kNodeActivation: return read_activation(c, n.activation);
    case kNodeRevision: {
      if (!header(c, h)) return false;
      if (h.kind == Kind::Nil) return true;
      auto r = revision_of(h);
      if (!r) return false;
      n.revision = *r;
      return true;
    }
    case kNodeMemoryClass: {
      if (!header(c, h)) return false;
      if (h.kind == Kind::Nil) return true;
      std::string text;
      if (h.kind != Kind::Str || !read_text_body(c, h, text)) return false;
      n.memory_class = memory_class_from_name(text);
      return n.memory_class.has_value();
    }
    case kNodeConfidence:
      if (!header(c, h)) return false;
      if (h.kind == Kind::Nil) return true;
      n.confidence = number_of(h);
      return n.confidence.has_value();
    case kNodeSource: return read_optional_text(c, n.source);
    case kNodeObservedAt:
      if (!header(c, h)) return false;
      if (h.kind == Kind::Nil) return true;
      n.observed_at = i64_of(h);
      return n.observed_at.has_value();
    case kNodeDerivedFrom: return read_texts(c, n.derived_from);
    case kNodeSupersedes: return read_optional_text(c, n.supersedes);
    case kNodeContradicts: return read_texts(c, n.contradicts);
  }
  return false;
}

enum EdgeKey { kEdgeId, kEdgeSource, kEdgeTarget, kEdgeType, kEdgeData, kEdgeCreatedAt, kEdgeRevision };
constexpr std::string_view kEdgeKeys[] = {key::kId,   key::kSource,    key::kTarget,  key::kType,
                                          key::kData, key::kCreatedAt, key::kRevision};
constexpr std::uint32_t kEdgeRequired =
    (1u << kEdgeId) | (1u << kEdgeSource) | (1u << kEdgeTarget) | (1u << kEdgeType) | (1u << kEdgeCreatedAt);

bool read_edge_field(int k, Cursor& c, Edge& e) {
  Header h;
  switch (k) {
    case kEdgeId: return read_text(c, e.id);
    case kEdgeSource: return read_text(c, e.source);
    case kEdgeTarget: return read_text(c, e.target);
    case kEdgeType: return read_text(c, e.type);
    case kEdgeData: return read_data(c, e.data);
    case kEdgeCreatedAt: {
      if (!header(c, h)) return false;
      auto t = timestamp_of(h);
      if (!t) return false;
      e.created_at = *t;
      return true;
    }
    case kEdgeRevision: {
      if (!header(c, h)) return false;
      if (h.kind == Kind::Nil) return true;
      auto r = revision_of(h);
      if (!r) return false;
      e.revision = *r;
      return true;
    }
  }
  return false;
}

template <std::size_t N, class R, class F>
bool read_record(Cursor& c, const std::string_view (&keys)[N], std::uint32_t required, R& out, F read_field) {
  Header h;
  if (!header(c, h) || h.kind != Kind::Map) return false;
  std::uint32_t given = 0;
  const bool ok = for_each_first(c, h, keys, [&](int k, Cursor& cc) {
    given |= 1u << k;
    return read_field(k, cc, out);
  });
  return ok && (given & required) == required;
}

constexpr std::string_view kPackedKeys[] = {key::kPackedF32};

// Widens packed little-endian float32 values as a vector is built from them, so the vector is
// written once instead of zero-filled first.
class PackedF32Iterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = double;
  using difference_type = std::ptrdiff_t;
  using pointer = const double*;
  using reference = double;

  PackedF32Iterator() = default;
  explicit PackedF32Iterator(const std::uint8_t* p) : p_(p) {}
  double operator*() const {
    std::uint32_t bits;
    std::memcpy(&bits, p_, 4);
    if constexpr (std::endian::native == std::endian::big) bits = std::byteswap(bits);
    return std::bit_cast<float>(bits);
  }
  PackedF32Iterator& operator++() {
    p_ += 4;
    return *this;
  }
  PackedF32Iterator operator++(int) {
    PackedF32Iterator old = *this;
    p_ += 4;
    return old;
  }
  friend bool operator==(const PackedF32Iterator&, const PackedF32Iterator&) = default;

 private:
  const std::uint8_t* p_ = nullptr;
};

bool read_packed(Cursor& c, const Header& map, std::vector<double>& out) {
  bool found = false;
  const bool ok = for_each_first(c, map, kPackedKeys, [&](int, Cursor& cc) {
    Header b;
    if (!header(cc, b) || b.kind != Kind::Bin || b.length % 4 != 0) return false;
    const std::uint8_t* p = cc.take_raw(b.length);
    if (!p) return false;
    out.assign(PackedF32Iterator(p), PackedF32Iterator(p + b.length));
    found = true;
    return true;
  });
  return ok && found;
}

}  // namespace

bool read_text_body(Cursor& c, const Header& h, std::string& out) {
  const std::uint8_t* p = c.take_raw(h.length);
  if (!p) return false;
  out = msgpack::lossy_text({p, static_cast<std::size_t>(h.length)});
  return true;
}

bool read_vector_body(Cursor& c, const Header& h, std::vector<double>& out) {
  if (h.kind == Kind::Map) return read_packed(c, h, out);
  out.clear();
  out.reserve(pull::reserve_bound(h.length, c));
  ++c.depth;
  const std::uint8_t* data = c.data.data();
  const std::size_t size = c.data.size();
  for (std::uint64_t i = 0; i < h.length; ++i) {
    // The two forms a float64 vector is written in, read without a general header.
    if (c.pos + 9 <= size && data[c.pos] == msgpack::marker::kFloat64) {
      std::uint64_t bits;
      std::memcpy(&bits, data + c.pos + 1, 8);
      if constexpr (std::endian::native == std::endian::little) bits = std::byteswap(bits);
      out.push_back(std::bit_cast<double>(bits));
      c.pos += 9;
      continue;
    }
    if (c.pos < size && data[c.pos] <= msgpack::marker::kPositiveFixintMax) {
      out.push_back(data[c.pos++]);
      continue;
    }
    Header v;
    if (!header(c, v)) return false;
    auto d = number_of(v);
    if (!d) return false;
    out.push_back(*d);
  }
  --c.depth;
  return true;
}

json::Value json_scalar(const Header& h) {
  switch (h.kind) {
    case Kind::Bool: return h.boolean;
    case Kind::Int:
      if (auto u = h.integer.to_u64()) return *u;
      return static_cast<std::int64_t>(h.integer.bits);
    case Kind::Float:
      if (std::isfinite(h.number)) return h.number;
      return std::uint64_t{0};
    case Kind::Nil:
    case Kind::Str:
    case Kind::Bin:
    case Kind::Array:
    case Kind::Map: break;
  }
  return nullptr;
}

bool read_json(Cursor& c, json::Value& out) {
  Header h;
  return header(c, h) && read_json_body(c, h, out);
}

bool read_data_object(Cursor& c, json::Object& out) {
  std::optional<json::Object> data;
  if (!read_data(c, data) || !data) return false;
  out = std::move(*data);
  return true;
}

bool read_node(Cursor& c, Node& out) {
  return read_record(c, kNodeKeys, kNodeRequired, out,
                     [](int k, Cursor& cc, Node& n) { return read_node_field(k, cc, n, nullptr); });
}

bool read_node_in_place(Cursor& c, Node& out, NodeLeftInPlace& left) {
  left.data.reset();
  left.vector.reset();
  return read_record(c, kNodeKeys, kNodeRequired, out,
                     [&](int k, Cursor& cc, Node& n) { return read_node_field(k, cc, n, &left); });
}

void read_vector_left_in_place(Cursor c, std::vector<double>& out) {
  Header h;
  header(c, h);
  read_vector_body(c, h, out);
}

bool read_edge(Cursor& c, Edge& out) { return read_record(c, kEdgeKeys, kEdgeRequired, out, read_edge_field); }

}  // namespace tarnwick::format
