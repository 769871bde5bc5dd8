#include <variant>

#include "storage/format/precision.hpp"
#include "storage/format/record_msg.hpp"
#include "storage/format/record_writer.hpp"
#include "storage/format/snapshot.hpp"
#include "storage/format/snapshot_keys.hpp"
#include "storage/msgpack/writer.hpp"

namespace tarnwick::format {

using msgpack::Writer;

namespace {

// [id, record]; built by moves, as an initializer list would copy the record.
msgpack::Msg entry(std::string_view id, msgpack::Msg record) {
  msgpack::Msg::Array pair;
  pair.push_back(msgpack::Msg::str(std::string(id)));
  pair.push_back(std::move(record));
  return msgpack::Msg::array(std::move(pair));
}

// Nesting levels within the file: the top map, a list, an entry, then the record.
constexpr std::size_t kRecordDepth = 4;
constexpr std::size_t kVectorEntryDepth = 4;

std::size_t vector_bytes(const VectorRef& v, VectorPrecision precision) {
  const std::size_t n = std::visit([](auto span) { return span.size(); }, v);
  return precision == VectorPrecision::Float32 ? 24 + 4 * n : 5 + 9 * n;
}

// Top-level data values only: long texts there are what typical data is made of.
std::size_t data_bytes(const NodeFields& node) {
  if (!node.data) return node.packed_data.size();
  std::size_t total = 0;
  for (const auto& kv : *node.data) {
    const json::String* text = kv.value().if_string();
    total += 16 + kv.key().size() + (text ? text->size() : 16);
  }
  return total;
}

// Close to the final size for typical records, so the buffer rarely grows while writing.
std::size_t estimate(std::span<const SnapshotNodeFields> nodes, std::span<const SnapshotEdgeRef> edges,
                     std::span<const SnapshotVectorRef> vectors, VectorPrecision precision) {
  std::size_t total = 128;
  for (const auto& n : nodes) {
    total += 160 + 2 * n.id.size() + n.node.type.size() + data_bytes(n.node);
    if (n.vector) total += vector_bytes(*n.vector, precision);
  }
  for (const auto& e : edges)
    total += 96 + e.id.size() * 2 + e.edge->source.size() + e.edge->target.size() + e.edge->type.size();
  for (const auto& v : vectors) total += 8 + v.id.size() + vector_bytes(v.values, precision);
  return total;
}

}  // namespace

Result<Bytes> encode_snapshot_with_precision(std::span<const SnapshotNodeRef> nodes,
                                             std::span<const SnapshotEdgeRef> edges,
                                             std::span<const SnapshotVectorRef> vectors, VectorPrecision precision,
                                             bool include_precision) {
  std::vector<SnapshotNodeFields> fields;
  fields.reserve(nodes.size());
  for (const auto& n : nodes) fields.push_back({n.id, fields_of(*n.node), n.vector});
  return encode_snapshot_fields(fields, edges, vectors, precision, include_precision);
}

Result<Bytes> encode_snapshot_fields(std::span<const SnapshotNodeFields> nodes, std::span<const SnapshotEdgeRef> edges,
                                     std::span<const SnapshotVectorRef> vectors, VectorPrecision precision,
                                     bool include_precision) {
  Writer out(estimate(nodes, edges, vectors, precision));
  msgpack::encode_map_header(include_precision ? 5 : 4, out);
  msgpack::encode_str(snapshot_key::kVersion, out);
  msgpack::encode_int(include_precision ? kSnapshotVersion : kSnapshotVersionWithoutPrecision, out);

  msgpack::encode_str(snapshot_key::kNodes, out);
  msgpack::encode_array_header(nodes.size(), out);
  for (const auto& n : nodes) {
    msgpack::encode_array_header(2, out);
    msgpack::encode_str(n.id, out);
    write_node(n.node, n.vector, precision, kRecordDepth, out);
  }
  msgpack::encode_str(snapshot_key::kEdges, out);
  msgpack::encode_array_header(edges.size(), out);
  for (const auto& e : edges) {
    msgpack::encode_array_header(2, out);
    msgpack::encode_str(e.id, out);
    write_edge(*e.edge, kRecordDepth, out);
  }
  msgpack::encode_str(snapshot_key::kVectors, out);
  msgpack::encode_array_header(vectors.size(), out);
  for (const auto& v : vectors) {
    msgpack::encode_array_header(2, out);
    msgpack::encode_str(v.id, out);
    write_vector(v.values, precision, kVectorEntryDepth, out);
  }
  if (include_precision) {
    msgpack::encode_str(snapshot_key::kVectorPrecision, out);
    msgpack::encode_str(precision_text(precision), out);
  }
  return std::move(out).finish();
}

msgpack::Msg snapshot_to_msg(std::span<const SnapshotNodeRef> nodes, std::span<const SnapshotEdgeRef> edges,
                             std::span<const SnapshotVectorRef> vectors, VectorPrecision precision,
                             bool include_precision) {
  using msgpack::Msg;
  Msg::Array node_entries, edge_entries, vector_entries;
  for (const auto& n : nodes)
    node_entries.push_back(entry(n.id, node_to_msg(*n.node, n.vector, precision)));
  for (const auto& e : edges)
    edge_entries.push_back(entry(e.id, edge_to_msg(*e.edge)));
  for (const auto& v : vectors)
    vector_entries.push_back(entry(v.id, packed_vector(v.values, precision)));
  std::vector<std::pair<std::string, Msg>> top;
  top.emplace_back(snapshot_key::kVersion,
                   Msg::integer(include_precision ? kSnapshotVersion : kSnapshotVersionWithoutPrecision));
  top.emplace_back(snapshot_key::kNodes, Msg::array(std::move(node_entries)));
  top.emplace_back(snapshot_key::kEdges, Msg::array(std::move(edge_entries)));
  top.emplace_back(snapshot_key::kVectors, Msg::array(std::move(vector_entries)));
  if (include_precision)
    top.emplace_back(snapshot_key::kVectorPrecision, Msg::str(std::string(precision_text(precision))));
  return Msg::map(std::move(top));
}

}  // namespace tarnwick::format
