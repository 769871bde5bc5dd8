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
// What `read_node_in_place` leaves in the bytes instead of the node.
struct NodeLeftInPlace {
  // The data when it is in the writer's form (the node's own then empty); none when it was read
  // into the node.
  std::optional<DataBytes> data;
  // A cursor at the vector's header when the node has a vector (the node's own then none), read
  // to check it into `scratch`, whose storage the next node's check reuses.
  std::optional<msgpack::Cursor> vector;
  std::vector<double> scratch;
};
// `read_node`, leaving the data and the vector in the bytes where it can.
bool read_node_in_place(msgpack::Cursor& c, Node& out, NodeLeftInPlace& left);
// The vector a cursor of `NodeLeftInPlace::vector` is at, which has been checked.
void read_vector_left_in_place(msgpack::Cursor c, std::vector<double>& out);
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
