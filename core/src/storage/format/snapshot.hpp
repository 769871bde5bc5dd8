#pragma once
// "snapshot.msgpack": the whole graph as one MessagePack map with the keys "version",
// "nodes", "edges", "vectors" and, from version 2 on, "vectorPrecision". Each entry of the
// three lists is a two-element array [entry id, record].

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/error.hpp"
#include "model/records.hpp"
#include "storage/format/record_reader.hpp"
#include "storage/format/record_writer.hpp"
#include "storage/format/vector_ref.hpp"
#include "storage/msgpack/bytes.hpp"
#include "storage/msgpack/msg.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::format {

// Version 2 records the precision; version 1, which carries none, still reads as float64.
inline constexpr std::int64_t kSnapshotVersionWithoutPrecision = 1;
inline constexpr std::int64_t kSnapshotVersion = 2;

// One node entry to write: the entry id, the node, and the vector its map carries (the node's
// own `vector` field is not looked at, so a store can pair nodes with vectors held elsewhere).
struct SnapshotNodeRef {
  std::string_view id;
  const Node* node = nullptr;
  std::optional<VectorRef> vector;
};
struct SnapshotEdgeRef {
  std::string_view id;
  const Edge* edge = nullptr;
};
struct SnapshotVectorRef {
  std::string_view id;
  VectorRef values;
};

struct SnapshotData {
  std::vector<std::pair<std::string, Node>> nodes;
  std::vector<std::pair<std::string, Edge>> edges;
  std::vector<std::pair<std::string, std::vector<double>>> vectors;
  VectorPrecision precision = VectorPrecision::Float64;
  friend bool operator==(const SnapshotData&, const SnapshotData&) = default;
};

// Writes a snapshot in one pass straight from wherever its records are held: the caller announces
// each list with its count and then hands over its entries, nodes, edges and vectors in that
// order, and the bytes go into `out` as they come, with nothing gathered first.
class SnapshotWriter {
 public:
  // Writes the top map's header and version; `out` must outlive the writer.
  SnapshotWriter(VectorPrecision precision, bool include_precision, msgpack::Writer& out);
  void begin_nodes(std::size_t count);
  void node(std::string_view id, const NodeFields& node, std::optional<VectorRef> vector);
  void begin_edges(std::size_t count);
  void edge(std::string_view id, const Edge& edge);
  void begin_vectors(std::size_t count);
  void vector(std::string_view id, VectorRef values);
  // Ends the file: the bytes in `out`, or the first value that had no MessagePack form (a length
  // above 4294967295 or data nested too deep).
  Result<std::span<const std::uint8_t>> finish();

 private:
  VectorPrecision precision_;
  bool include_precision_;
  msgpack::Writer& out_;
};

// The same over lists, into a buffer of its own.
Result<Bytes> encode_snapshot_with_precision(std::span<const SnapshotNodeRef> nodes,
                                             std::span<const SnapshotEdgeRef> edges,
                                             std::span<const SnapshotVectorRef> vectors, VectorPrecision precision,
                                             bool include_precision);

// Reads a snapshot with the pull readers; when they refuse it, `snapshot_error` names why.
Result<SnapshotData> decode_snapshot(std::span<const std::uint8_t> bytes);

// The tree forms of the same: the snapshot as one `Msg`, and a decoded snapshot value read.
msgpack::Msg snapshot_to_msg(std::span<const SnapshotNodeRef> nodes, std::span<const SnapshotEdgeRef> edges,
                             std::span<const SnapshotVectorRef> vectors, VectorPrecision precision,
                             bool include_precision);
Result<SnapshotData> snapshot_from_msg(const msgpack::Msg& top);
// The pull reader alone: none whenever the tree path would report an error.
std::optional<SnapshotData> pull_snapshot(std::span<const std::uint8_t> bytes);

// The pull reader handing over each entry as it is read, in file order: the id and the record,
// which the taker may move from. Gives the precision once the whole snapshot read, and none
// exactly when `pull_snapshot` gives none, possibly after some entries were handed over.
// With `in_place`, each node comes with what was left in the snapshot's bytes (they are
// borrowed for the whole read): its data when in the writer's form, and where its vector lies;
// otherwise that is null and everything is in the node.
struct SnapshotTaker {
  std::function<void(std::string&, Node&, const NodeLeftInPlace*)> node;
  std::function<void(std::string&, Edge&)> edge;
  std::function<void(std::string&, std::vector<double>&)> vector;
  bool in_place = false;
  // Told, before the node entries, how many there can be: the list's count, bounded by what the
  // bytes left can hold, so a damaged count asks for no more room than the file could fill.
  std::function<void(std::size_t)> node_count = {};
};
std::optional<VectorPrecision> pull_snapshot_into(std::span<const std::uint8_t> bytes, const SnapshotTaker& taker);
// The error the tree path reports for these bytes, or none when they read. Decodes no more than
// one entry into a tree at a time, so naming the fault of a damaged file of any size costs no
// more memory than reading it.
std::optional<TarnwickError> snapshot_error(std::span<const std::uint8_t> bytes);

}  // namespace tarnwick::format
