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

}  // namespace

SnapshotWriter::SnapshotWriter(VectorPrecision precision, bool include_precision, Writer& out)
    : precision_(precision), include_precision_(include_precision), out_(out) {
  msgpack::encode_map_header(include_precision ? 5 : 4, out_);
  msgpack::encode_str(snapshot_key::kVersion, out_);
  msgpack::encode_int(include_precision ? kSnapshotVersion : kSnapshotVersionWithoutPrecision, out_);
}

void SnapshotWriter::begin_nodes(std::size_t count) {
  msgpack::encode_str(snapshot_key::kNodes, out_);
  msgpack::encode_array_header(count, out_);
}

void SnapshotWriter::node(std::string_view id, const NodeFields& node, std::optional<VectorRef> vector) {
  msgpack::encode_array_header(2, out_);
  msgpack::encode_str(id, out_);
  write_node(node, vector, precision_, kRecordDepth, out_);
}

void SnapshotWriter::begin_edges(std::size_t count) {
  msgpack::encode_str(snapshot_key::kEdges, out_);
  msgpack::encode_array_header(count, out_);
}

void SnapshotWriter::edge(std::string_view id, const Edge& edge) {
  msgpack::encode_array_header(2, out_);
  msgpack::encode_str(id, out_);
  write_edge(edge, kRecordDepth, out_);
}

void SnapshotWriter::begin_vectors(std::size_t count) {
  msgpack::encode_str(snapshot_key::kVectors, out_);
  msgpack::encode_array_header(count, out_);
}

void SnapshotWriter::vector(std::string_view id, VectorRef values) {
  msgpack::encode_array_header(2, out_);
  msgpack::encode_str(id, out_);
  write_vector(values, precision_, kVectorEntryDepth, out_);
}

Result<std::span<const std::uint8_t>> SnapshotWriter::finish() {
  if (include_precision_) {
    msgpack::encode_str(snapshot_key::kVectorPrecision, out_);
    msgpack::encode_str(precision_text(precision_), out_);
  }
  return out_.written();
}

Result<Bytes> encode_snapshot_with_precision(std::span<const SnapshotNodeRef> nodes,
                                             std::span<const SnapshotEdgeRef> edges,
                                             std::span<const SnapshotVectorRef> vectors, VectorPrecision precision,
                                             bool include_precision) {
  Writer out;
  SnapshotWriter snapshot(precision, include_precision, out);
  snapshot.begin_nodes(nodes.size());
  for (const auto& n : nodes) snapshot.node(n.id, fields_of(*n.node), n.vector);
  snapshot.begin_edges(edges.size());
  for (const auto& e : edges) snapshot.edge(e.id, *e.edge);
  snapshot.begin_vectors(vectors.size());
  for (const auto& v : vectors) snapshot.vector(v.id, v.values);
  TARNWICK_TRY(snapshot.finish());
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
