#include "storage/format/numbers.hpp"
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

TarnwickError corrupt(std::string message) { return err::CorruptData{std::move(message)}; }

// The version's 64 bits, from an integer as it stands or from an integral double.
std::optional<std::uint64_t> version_of_double(double d) {
  if (auto v = integral_i64(d)) return static_cast<std::uint64_t>(*v);
  return std::nullopt;
}

// Reads the [id, record] entries of one list; a missing list, or one that is not an array,
// holds no entries.
template <class T, class ReadRecord>
Result<void> entries_from_msg(const Msg* list, std::string_view shape_error, bool vector_entry,
                              std::vector<std::pair<std::string, T>>& out, ReadRecord read_record) {
  if (!list || !list->is(Msg::Kind::Array)) return {};
  for (const Msg& entry : list->as_array()) {
    const bool shaped = entry.is(Msg::Kind::Array) && entry.as_array().size() == 2 &&
                        (!vector_entry || entry.as_array()[1].is(Msg::Kind::Array) ||
                         entry.as_array()[1].is(Msg::Kind::Map));
    if (!shaped) return fail(corrupt(std::string(shape_error)));
    const Msg& id = entry.as_array()[0];
    if (!id.is(Msg::Kind::Str)) return fail(corrupt("expected a string"));
    auto record = read_record(entry.as_array()[1]);
    if (!record) return fail(record.error());
    out.emplace_back(id.as_str(), std::move(*record));
  }
  return {};
}

// ---- pull ----

template <class T, class ReadRecord>
bool pull_entries(pull::Cursor& c, std::vector<std::pair<std::string, T>>& out,
                  ReadRecord read_record) {
  pull::Header list;
  if (!pull::header(c, list)) return false;
  if (list.kind != pull::Kind::Array) return msgpack::skip_body(c, list);
  out.reserve(pull::reserve_bound(list.length, c));
  ++c.depth;
  for (std::uint64_t i = 0; i < list.length; ++i) {
    pull::Header entry, id;
    if (!pull::header(c, entry) || entry.kind != pull::Kind::Array || entry.length != 2) return false;
    ++c.depth;
    if (!pull::header(c, id) || id.kind != pull::Kind::Str) return false;
    auto& [name, record] = out.emplace_back();
    if (!read_text_body(c, id, name) || !read_record(c, record)) return false;
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

constexpr std::string_view kTopKeys[] = {snapshot_key::kVersion, snapshot_key::kNodes, snapshot_key::kEdges,
                                         snapshot_key::kVectors, snapshot_key::kVectorPrecision};

}  // namespace

Result<SnapshotData> snapshot_from_msg(const Msg& top) {
  const Msg* v = top.is(Msg::Kind::Map) ? top.get(snapshot_key::kVersion) : nullptr;
  std::optional<std::uint64_t> version;
  if (v && v->is(Msg::Kind::Int)) version = v->as_int().bits;
  if (v && v->is(Msg::Kind::Float)) version = version_of_double(v->as_float().value);
  if (!version) return fail(corrupt("missing or invalid version"));

  SnapshotData data;
  if (*version == static_cast<std::uint64_t>(kSnapshotVersion)) {
    const Msg* p = top.get(snapshot_key::kVectorPrecision);
    auto precision = p && p->is(Msg::Kind::Str) ? precision_from_text(p->as_str()) : std::nullopt;
    if (!precision) return fail(corrupt("invalid snapshot vectorPrecision"));
    data.precision = *precision;
  } else if (*version != static_cast<std::uint64_t>(kSnapshotVersionWithoutPrecision)) {
    return fail(err::FormatVersion{*version});
  }

  TARNWICK_TRY(entries_from_msg(top.get(snapshot_key::kNodes), "node entry must be [id, node]", false, data.nodes,
                                msg_to_node));
  TARNWICK_TRY(entries_from_msg(top.get(snapshot_key::kEdges), "edge entry must be [id, edge]", false, data.edges,
                                msg_to_edge));
  TARNWICK_TRY(entries_from_msg(top.get(snapshot_key::kVectors), "vector entry must be [id, array]", true,
                                data.vectors, msg_vector_f64));
  return data;
}

std::optional<SnapshotData> pull_snapshot(std::span<const std::uint8_t> bytes) {
  pull::Cursor c{bytes};
  pull::Header top;
  if (!pull::header(c, top) || top.kind != pull::Kind::Map) return std::nullopt;
  SnapshotData data;
  std::optional<std::uint64_t> version;
  std::optional<VectorPrecision> precision;
  const bool ok = pull::for_each_first(c, top, kTopKeys, [&](int k, pull::Cursor& cc) {
    switch (k) {
      case 0: {
        pull::Header h;
        if (!pull::header(cc, h)) return false;
        if (h.kind == pull::Kind::Int) version = h.integer.bits;
        if (h.kind == pull::Kind::Float) version = version_of_double(h.number);
        return msgpack::skip_body(cc, h);
      }
      case 1: return pull_entries(cc, data.nodes, read_node);
      case 2: return pull_entries(cc, data.edges, read_edge);
      case 3: return pull_entries(cc, data.vectors, pull_vector);
      default: {
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
  if (*version == static_cast<std::uint64_t>(kSnapshotVersion)) {
    if (!precision) return std::nullopt;
    data.precision = *precision;
  } else if (*version != static_cast<std::uint64_t>(kSnapshotVersionWithoutPrecision)) {
    return std::nullopt;
  }
  return data;
}

Result<SnapshotData> decode_snapshot(std::span<const std::uint8_t> bytes) {
  if (auto data = pull_snapshot(bytes)) return std::move(*data);
  msgpack::Cursor c{bytes};
  auto top = msgpack::decode_value(c);
  if (!top) return fail(top.error());
  return snapshot_from_msg(*top);
}

}  // namespace tarnwick::format
