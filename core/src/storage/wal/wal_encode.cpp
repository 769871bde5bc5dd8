#include "storage/format/precision.hpp"
#include "storage/format/record_msg.hpp"
#include "storage/format/record_writer.hpp"
#include "storage/msgpack/format.hpp"
#include "storage/msgpack/writer.hpp"
#include "storage/wal/wal.hpp"

#include "error/overload.hpp"
#include "storage/wal/wal_keys.hpp"

namespace tarnwick::format {

using msgpack::Msg;
using msgpack::Writer;

namespace {

// The entry map is the top-level value of its frame; the record it holds sits one level down.
constexpr std::size_t kPayloadDepth = 2;

std::string_view kind_of(const WalEntry& e) { return kWalKinds[e.value.index()]; }

void write_id_entry(std::string_view kind, const std::string& id, Writer& out) {
  msgpack::encode_map_header(2, out);
  msgpack::encode_str(wal_key::kKind, out);
  msgpack::encode_str(kind, out);
  msgpack::encode_str(wal_key::kId, out);
  msgpack::encode_str(id, out);
}

void write_entry(const WalEntry& e, VectorPrecision precision, Writer& out) {
  const std::string_view kind = kind_of(e);
  std::visit(Overload{
                 [&](const WalEntry::PutNode& p) {
                   msgpack::encode_map_header(2, out);
                   msgpack::encode_str(wal_key::kKind, out);
                   msgpack::encode_str(kind, out);
                   msgpack::encode_str(wal_key::kNode, out);
                   auto vector = p.node.vector ? std::optional(vector_ref(*p.node.vector)) : std::nullopt;
                   write_node(p.node, vector, precision, kPayloadDepth, out);
                 },
                 [&](const WalEntry::PutEdge& p) {
                   msgpack::encode_map_header(2, out);
                   msgpack::encode_str(wal_key::kKind, out);
                   msgpack::encode_str(kind, out);
                   msgpack::encode_str(wal_key::kEdge, out);
                   write_edge(p.edge, kPayloadDepth, out);
                 },
                 [&](const WalEntry::PutVector& p) {
                   msgpack::encode_map_header(3, out);
                   msgpack::encode_str(wal_key::kKind, out);
                   msgpack::encode_str(kind, out);
                   msgpack::encode_str(wal_key::kId, out);
                   msgpack::encode_str(p.id, out);
                   msgpack::encode_str(wal_key::kVector, out);
                   write_vector(vector_ref(p.vector), precision, kPayloadDepth, out);
                 },
                 [&](const WalEntry::DeleteNode& d) { write_id_entry(kind, d.id, out); },
                 [&](const WalEntry::DeleteEdge& d) { write_id_entry(kind, d.id, out); },
                 [&](const WalEntry::DeleteVector& d) { write_id_entry(kind, d.id, out); },
                 [&](const WalEntry::ClearAll&) {
                   msgpack::encode_map_header(1, out);
                   msgpack::encode_str(wal_key::kKind, out);
                   msgpack::encode_str(kind, out);
                 },
                 [&](const WalEntry::SetPrecision& s) {
                   msgpack::encode_map_header(2, out);
                   msgpack::encode_str(wal_key::kKind, out);
                   msgpack::encode_str(kind, out);
                   msgpack::encode_str(wal_key::kPrecision, out);
                   msgpack::encode_str(precision_text(s.precision), out);
                 },
             },
             e.value);
}

std::size_t estimate(std::span<const WalEntry> entries) {
  std::size_t total = 0;
  for (const auto& e : entries) {
    total += 64;
    if (const auto* p = std::get_if<WalEntry::PutNode>(&e.value))
      total += 160 + 32 * p->node.data.size() + 9 * (p->node.vector ? p->node.vector->size() : 0);
    if (const auto* p = std::get_if<WalEntry::PutVector>(&e.value)) total += 9 * p->vector.size();
  }
  return total;
}

}  // namespace

Result<Bytes> encode_wal_with_precision(std::span<const WalEntry> entries, VectorPrecision precision) {
  Writer out;
  TARNWICK_TRY(encode_wal_into(entries, precision, out));
  return std::move(out).finish();
}

Result<std::span<const std::uint8_t>> encode_wal_into(std::span<const WalEntry> entries, VectorPrecision precision,
                                                      Writer& out) {
  out.reserve(estimate(entries));
  for (const auto& e : entries) {
    const std::size_t frame = out.size();
    out.extend(kWalFrameHeaderSize);
    write_entry(e, precision, out);
    const std::size_t body = out.size() - frame - kWalFrameHeaderSize;
    if (body > msgpack::kMaxLength) {
      out.fail(err::InvalidArgument{"wal entry of " + std::to_string(body) + " bytes exceeds 4294967295"});
      break;
    }
    std::uint8_t* length = out.written_at(frame);
    for (std::size_t i = 0; i < kWalFrameHeaderSize; ++i)
      length[i] = static_cast<std::uint8_t>(body >> (8 * (kWalFrameHeaderSize - 1 - i)));
  }
  return out.written();
}

Msg wal_entry_to_msg(const WalEntry& e, VectorPrecision precision) {
  std::vector<std::pair<std::string, Msg>> p;
  p.emplace_back(wal_key::kKind, Msg::str(std::string(kind_of(e))));
  std::visit(Overload{
                 [&](const WalEntry::PutNode& x) {
                   auto vector = x.node.vector ? std::optional(vector_ref(*x.node.vector)) : std::nullopt;
                   p.emplace_back(wal_key::kNode, node_to_msg(x.node, vector, precision));
                 },
                 [&](const WalEntry::PutEdge& x) { p.emplace_back(wal_key::kEdge, edge_to_msg(x.edge)); },
                 [&](const WalEntry::PutVector& x) {
                   p.emplace_back(wal_key::kId, Msg::str(x.id));
                   p.emplace_back(wal_key::kVector, packed_vector(vector_ref(x.vector), precision));
                 },
                 [&](const WalEntry::DeleteNode& x) { p.emplace_back(wal_key::kId, Msg::str(x.id)); },
                 [&](const WalEntry::DeleteEdge& x) { p.emplace_back(wal_key::kId, Msg::str(x.id)); },
                 [&](const WalEntry::DeleteVector& x) { p.emplace_back(wal_key::kId, Msg::str(x.id)); },
                 [&](const WalEntry::ClearAll&) {},
                 [&](const WalEntry::SetPrecision& x) {
                   p.emplace_back(wal_key::kPrecision, Msg::str(std::string(precision_text(x.precision))));
                 },
             },
             e.value);
  return Msg::map(std::move(p));
}

}  // namespace tarnwick::format
