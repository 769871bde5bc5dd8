#pragma once
// Pull readers: records filled straight from the bytes, without a `Msg` tree.
//
// Each accepts exactly the inputs that decoding a `Msg` and reading it with `msg_to_node` and
// friends accepts, and gives the same record. They only say whether reading succeeded: a
// caller that needs the error text reads the same bytes through the tree path.

#include <vector>

#include <optional>

#include "json/json.hpp"
#include "storage/format/data_bytes.hpp"
#include "model/records.hpp"
#include "storage/msgpack/cursor.hpp"

namespace tarnwick::format {

bool read_node(msgpack::Cursor& c, Node& out);
// The same, except that data already in the writer's form is left as bytes in `data` (and the
// node's own data empty); `data` is none when the data was read into the node.
bool read_node_keeping_data(msgpack::Cursor& c, Node& out, std::optional<DataBytes>& data);
bool read_edge(msgpack::Cursor& c, Edge& out);
// A vector in either form, whose header was already read and is an array or a map.
bool read_vector_body(msgpack::Cursor& c, const msgpack::Header& h, std::vector<double>& out);
// A data object written on its own by `write_data_object`.
bool read_data_object(msgpack::Cursor& c, json::Object& out);
// One value within a data object, read as `read_data_object` reads it.
bool read_json(msgpack::Cursor& c, json::Value& out);
// The value a nil, boolean, integer or float header reads as within a data object (a
// non-finite float as the integer 0); null for any other header.
json::Value json_scalar(const msgpack::Header& h);
// Text of a string whose header was already read.
bool read_text_body(msgpack::Cursor& c, const msgpack::Header& h, std::string& out);

}  // namespace tarnwick::format
