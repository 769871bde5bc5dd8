#pragma once
// Dotted field paths through a node's or an edge's `data`. A path is split at every "." (an
// empty path is one empty segment, and ".." leaves an empty segment between the dots); each
// segment is a key of the object reached so far. Arrays are never indexed.
//
// Two readers share the walk and differ only at its ends: the secondary indexes and node queries
// read a missing step as null and "type" as the node's type (`node_field`), while the type
// schemas treat "type" as an ordinary key and a missing step as absent (`Store::data_value`).

#include <string>
#include <string_view>

#include "json/json.hpp"
#include "model/records.hpp"
#include "storage/store/stored_node.hpp"

namespace tarnwick::store {

// The value `path` reaches from `object`; null pointer when a step is missing or lands on a
// value that is not an object. Points into `object`.
const json::Value* value_at_path(const json::Object& object, std::string_view path);

// The value of `path` in a node: its type for exactly "type", else the value in `data`, null
// when the path leads nowhere. Never fails.
json::Value node_field(const Node& node, std::string_view path);

// Appends the compact JSON text of `node_field(node, path)` without copying the value; true
// when that value is null.
bool print_node_field(std::string& out, const Node& node, std::string_view path);
// The same for a stored node, read from its data bytes: the text its decoded node gives.
bool print_node_field(std::string& out, const StoredNode& node, std::string_view path);

}  // namespace tarnwick::store
