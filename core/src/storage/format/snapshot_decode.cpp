#include <algorithm>
#include <functional>

#include "storage/format/integral.hpp"
#include "storage/format/precision.hpp"
#include "storage/format/pull.hpp"
#include "storage/format/record_msg.hpp"
#include "storage/format/record_reader.hpp"
#include "storage/format/snapshot.hpp"
#include "storage/format/snapshot_keys.hpp"
#include "storage/msgpack/decode.hpp"

namespace tarnwick::format {

using msgpack::Msg;

namespace {

// The version's 64 bits, from an integer as it stands or from an integral double.
std::optional<std::uint64_t> version_of_double(double d) {
  if (auto v = integral_i64(d)) return static_cast<std::uint64_t>(*v);
  return std::nullopt;
}

// One [id, record] entry.
template <class T, class ReadRecord>
Result<std::pair<std::string, T>> entry_from_msg(const Msg& entry, std::string_view shape_error, bool vector_entry,
                                                 ReadRecord read_record) {
  const bool shaped = entry.is(Msg::Kind::Array) && entry.as_array().size() == 2 &&
                      (!vector_entry || entry.as_array()[1].is(Msg::Kind::Array) ||
                       entry.as_array()[1].is(Msg::Kind::Map));
  if (!shaped) return fail(corrupt(std::string(shape_error)));
  const Msg& id = entry.as_array()[0];
  if (!id.is(Msg::Kind::Str)) return fail(corrupt("expected a string"));
  TARNWICK_TRY_ASSIGN(auto record, read_record(entry.as_array()[1]));
  return std::pair<std::string, T>(id.as_str(), std::move(record));
}

// The entries of one list; a missing list, or one that is not an array, holds none.
template <class T, class ReadRecord>
Result<void> entries_from_msg(const Msg* list, std::string_view shape_error, bool vector_entry,
                              std::vector<std::pair<std::string, T>>& out, ReadRecord read_record) {
  if (!list || !list->is(Msg::Kind::Array)) return {};
  for (const Msg& entry : list->as_array()) {
    TARNWICK_TRY_ASSIGN(auto e, entry_from_msg<T>(entry, shape_error, vector_entry, read_record));
    out.push_back(std::move(e));
  }
  return {};
}

Result<VectorPrecision> precision_from_msg(const Msg* version_value, const Msg* precision_value) {
  std::optional<std::uint64_t> version;
  if (version_value && version_value->is(Msg::Kind::Int)) version = version_value->as_int().bits;
  if (version_value && version_value->is(Msg::Kind::Float))
    version = version_of_double(version_value->as_float().value);
  if (!version) return fail(corrupt("missing or invalid version"));
  if (*version == static_cast<std::uint64_t>(kSnapshotVersionWithoutPrecision)) return VectorPrecision::Float64;
  if (*version != static_cast<std::uint64_t>(kSnapshotVersion)) return fail(err::FormatVersion{*version});
  std::optional<VectorPrecision> precision;
  if (precision_value && precision_value->is(Msg::Kind::Str)) precision = precision_from_text(precision_value->as_str());
  if (!precision) return fail(corrupt("invalid snapshot vectorPrecision"));
  return *precision;
}

constexpr std::string_view kNodeShape = "node entry must be [id, node]";
constexpr std::string_view kEdgeShape = "edge entry must be [id, edge]";
constexpr std::string_view kVectorShape = "vector entry must be [id, array]";

// ---- pull ----

// Each entry is read into one record that is handed over and then read into again, so that a
// taker that keeps the records in a form of its own never holds a list of them.
template <class T, class ReadRecord, class Take>
bool pull_entries(pull::Cursor& c, ReadRecord read_record, const Take& take) {
  pull::Header list;
  if (!pull::header(c, list)) return false;
  if (list.kind != pull::Kind::Array) return msgpack::skip_body(c, list);
  ++c.depth;
  std::string name;
  for (std::uint64_t i = 0; i < list.length; ++i) {
    pull::Header entry, id;
    if (!pull::header(c, entry) || entry.kind != pull::Kind::Array || entry.length != 2) return false;
    ++c.depth;
    if (!pull::header(c, id) || id.kind != pull::Kind::Str) return false;
    T record{};
    if (!read_text_body(c, id, name) || !read_record(c, record)) return false;
    take(name, record);
    --c.depth;
  }
  --c.depth;
  return true;
}

bool pull_vector(pull::Cursor& c, std::vector<double>& out) {
  pull::Header h;
  return pull::header(c, h) && (h.kind == pull::Kind::Array || h.kind == pull::Kind::Map) &&
         read_vector_body(c, h, out);
}

// The fewest bytes a node entry that reads takes: its array, an id, and a map of the four keys
// a node must have with the shortest values.
constexpr std::size_t kMinNodeEntrySize = 32;

enum TopKey { kTopVersion, kTopNodes, kTopEdges, kTopVectors, kTopPrecision };
constexpr std::string_view kTopKeys[] = {snapshot_key::kVersion, snapshot_key::kNodes, snapshot_key::kEdges,
                                         snapshot_key::kVectors, snapshot_key::kVectorPrecision};

}  // namespace

Result<SnapshotData> snapshot_from_msg(const Msg& top) {
  SnapshotData data;
  TARNWICK_TRY_ASSIGN(auto precision, precision_from_msg(top.get(snapshot_key::kVersion), top.get(snapshot_key::kVectorPrecision)));
  data.precision = precision;
  TARNWICK_TRY(entries_from_msg(top.get(snapshot_key::kNodes), kNodeShape, false, data.nodes, msg_to_node));
  TARNWICK_TRY(entries_from_msg(top.get(snapshot_key::kEdges), kEdgeShape, false, data.edges, msg_to_edge));
  TARNWICK_TRY(entries_from_msg(top.get(snapshot_key::kVectors), kVectorShape, true, data.vectors, msg_vector_f64));
  return data;
}

std::optional<SnapshotData> pull_snapshot(std::span<const std::uint8_t> bytes) {
  SnapshotData data;
  const SnapshotTaker taker{
      [&](std::string& id, Node& n, const NodeLeftInPlace*) {
        data.nodes.emplace_back(std::move(id), std::move(n));
      },
      [&](std::string& id, Edge& e) { data.edges.emplace_back(std::move(id), std::move(e)); },
      [&](std::string& id, std::vector<double>& v) { data.vectors.emplace_back(std::move(id), std::move(v)); },
  };
  auto precision = pull_snapshot_into(bytes, taker);
  if (!precision) return std::nullopt;
  data.precision = *precision;
  return data;
}

std::optional<VectorPrecision> pull_snapshot_into(std::span<const std::uint8_t> bytes, const SnapshotTaker& taker) {
  pull::Cursor c{bytes};
  pull::Header top;
  if (!pull::header(c, top) || top.kind != pull::Kind::Map) return std::nullopt;
  std::optional<std::uint64_t> version;
  std::optional<VectorPrecision> precision;
  const bool ok = pull::for_each_first(c, top, kTopKeys, [&](int k, pull::Cursor& cc) {
    switch (k) {
      case kTopVersion: {
        pull::Header h;
        if (!pull::header(cc, h)) return false;
        if (h.kind == pull::Kind::Int) version = h.integer.bits;
        if (h.kind == pull::Kind::Float) version = version_of_double(h.number);
        return msgpack::skip_body(cc, h);
      }
      case kTopNodes: {
        if (taker.node_count) {
          pull::Cursor peek = cc;
          pull::Header list;
          if (pull::header(peek, list) && list.kind == pull::Kind::Array)
            taker.node_count(
                static_cast<std::size_t>(std::min<std::uint64_t>(list.length, peek.remaining() / kMinNodeEntrySize)));
        }
        NodeLeftInPlace left;
        const auto read = [&](pull::Cursor& ec, Node& n) {
          return taker.in_place ? read_node_in_place(ec, n, left) : read_node(ec, n);
        };
        const NodeLeftInPlace* given = taker.in_place ? &left : nullptr;
        return pull_entries<Node>(cc, read, [&](std::string& id, Node& n) { taker.node(id, n, given); });
      }
      case kTopEdges: return pull_entries<Edge>(cc, read_edge, taker.edge);
      case kTopVectors: return pull_entries<std::vector<double>>(cc, pull_vector, taker.vector);
      default: {  // kTopPrecision
        pull::Header h;
        if (!pull::header(cc, h)) return false;
        std::string text;
        if (h.kind != pull::Kind::Str) return msgpack::skip_body(cc, h);
        if (!read_text_body(cc, h, text)) return false;
        precision = precision_from_text(text);
        return true;
      }
    }
  });
  if (!ok || !version) return std::nullopt;
  if (*version == static_cast<std::uint64_t>(kSnapshotVersion)) return precision;
  if (*version == static_cast<std::uint64_t>(kSnapshotVersionWithoutPrecision)) return VectorPrecision::Float64;
  return std::nullopt;
}

std::optional<TarnwickError> snapshot_error(std::span<const std::uint8_t> bytes) {
  msgpack::Cursor c{bytes};
  if (auto s = msgpack::skip_value_status(c); s != msgpack::HeaderStatus::Ok) return msgpack::header_error(s, c);

  // Every value decodes from here on; find where the first pair of each top-level key starts.
  std::optional<std::size_t> at[std::size(kTopKeys)];
  pull::Cursor top{bytes};
  pull::Header map;
  if (pull::header(top, map) && map.kind == pull::Kind::Map) {
    pull::for_each_first(top, map, kTopKeys, [&](int k, pull::Cursor& cc) {
      at[k] = cc.pos;
      return msgpack::skip_value(cc);
    });
  }
  auto value_at = [&](std::size_t k) -> std::optional<Msg> {
    if (!at[k]) return std::nullopt;
    msgpack::Cursor vc{bytes, *at[k], 1};
    auto m = msgpack::decode_value(vc);
    return m ? std::optional<Msg>(std::move(*m)) : std::nullopt;
  };
  const auto version = value_at(kTopVersion);
  const auto precision = value_at(kTopPrecision);
  if (auto p = precision_from_msg(version ? &*version : nullptr, precision ? &*precision : nullptr); !p)
    return p.error();

  auto first_error = [&](std::size_t k, std::string_view shape_error, bool vector_entry,
                         auto read_record) -> std::optional<TarnwickError> {
    if (!at[k]) return std::nullopt;
    msgpack::Cursor lc{bytes, *at[k], 1};
    msgpack::Header list;
    if (!pull::header(lc, list) || list.kind != pull::Kind::Array) return std::nullopt;
    ++lc.depth;
    for (std::uint64_t i = 0; i < list.length; ++i) {
      auto entry = msgpack::decode_value(lc);
      if (!entry) return entry.error();
      using T = typename std::decay_t<decltype(read_record(*entry))>::value_type;
      if (auto e = entry_from_msg<T>(*entry, shape_error, vector_entry, read_record); !e) return e.error();
    }
    return std::nullopt;
  };
  if (auto e = first_error(kTopNodes, kNodeShape, false, msg_to_node)) return e;
  if (auto e = first_error(kTopEdges, kEdgeShape, false, msg_to_edge)) return e;
  return first_error(kTopVectors, kVectorShape, true, msg_vector_f64);
}

Result<SnapshotData> decode_snapshot(std::span<const std::uint8_t> bytes) {
  if (auto data = pull_snapshot(bytes)) return std::move(*data);
  if (auto error = snapshot_error(bytes)) return fail(std::move(*error));
  // The readers disagree, which the mutation tests rule out; the tree reader is the reference.
  msgpack::Cursor c{bytes};
  TARNWICK_TRY_ASSIGN(auto top, msgpack::decode_value(c));
  return snapshot_from_msg(top);
}

}  // namespace tarnwick::format
