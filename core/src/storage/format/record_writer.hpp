#pragma once
// Streaming record writers: the same bytes as encoding `node_to_msg` and friends, written
// straight from the records into the output buffer.
//
// `depth` is the nesting level of the record's own map within the top-level value being
// written (the top-level container is 1); it lets the writer refuse JSON data nested deeper
// than the decoder accepts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "json/json.hpp"
#include "model/records.hpp"
#include "storage/format/vector_ref.hpp"
#include "storage/msgpack/writer.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::format {

// A node's fields as the writer reads them, wherever they are held: the data as an object or as
// the bytes `write_data_object` gave for it (exactly what the object would be written as), and
// the activation and the optional fields after it read from `tail`, which holds none when null.
struct NodeFields {
  std::string_view id;
  std::string_view type;
  const json::Object* data = nullptr;
  std::span<const std::uint8_t> packed_data;
  // How deep `packed_data` nests, its own map being level 1: the writer refuses it, as it would
  // the object, when that puts a container beyond the nesting limit.
  std::size_t packed_depth = 1;
  std::int64_t inserted_at = 0;
  std::int64_t updated_at = 0;
  std::uint64_t revision = 0;
  const Node* tail = nullptr;
};
// The fields of a whole record, borrowing it.
NodeFields fields_of(const Node& node);

void write_node(const NodeFields& node, std::optional<VectorRef> vector, VectorPrecision precision,
                std::size_t depth, msgpack::Writer& out);
void write_node(const Node& node, std::optional<VectorRef> vector, VectorPrecision precision, std::size_t depth,
                msgpack::Writer& out);
void write_edge(const Edge& edge, std::size_t depth, msgpack::Writer& out);
// A data object on its own, as the top-level value.
void write_data_object(const json::Object& data, msgpack::Writer& out);
void write_vector(VectorRef values, VectorPrecision precision, std::size_t depth, msgpack::Writer& out);

}  // namespace tarnwick::format
