#pragma once
// Streaming record writers: the same bytes as encoding `node_to_msg` and friends, written
// straight from the records into the output buffer.
//
// `depth` is the nesting level of the record's own map within the top-level value being
// written (the top-level container is 1); it lets the writer refuse JSON data nested deeper
// than the decoder accepts.

#include <cstddef>
#include <optional>

#include "json/json.hpp"
#include "model/records.hpp"
#include "storage/format/vector_ref.hpp"
#include "storage/msgpack/writer.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::format {

void write_node(const Node& node, std::optional<VectorRef> vector, VectorPrecision precision, std::size_t depth,
                msgpack::Writer& out);
void write_edge(const Edge& edge, std::size_t depth, msgpack::Writer& out);
void write_vector(VectorRef values, VectorPrecision precision, std::size_t depth, msgpack::Writer& out);

}  // namespace tarnwick::format
