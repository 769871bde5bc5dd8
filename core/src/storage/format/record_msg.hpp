#pragma once
// Records as `Msg` maps: the tree form of the record encoding, kept simple enough to check by
// eye. The snapshot and log hot paths use the streaming writer and pull reader instead, and
// must produce and accept exactly what these do.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "json/json.hpp"
#include "model/records.hpp"
#include "storage/format/vector_ref.hpp"
#include "storage/msgpack/msg.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::format {

using msgpack::Msg;

// Writers. `vector` is what the node map carries as "vector"; the node's own field is not used.
Msg node_to_msg(const Node& node, std::optional<VectorRef> vector, VectorPrecision precision);
Msg activation_to_msg(const NodeActivation& activation);
Msg edge_to_msg(const Edge& edge);
Msg packed_vector(VectorRef values, VectorPrecision precision);
// Doubles inside JSON data are written as float64 even when integral, so that 2.0 reads back
// as a double and never turns into the integer 2.
Msg json_to_msg(const json::Value& value);

// Readers; every failure is corrupt_data.
Result<Node> msg_to_node(const Msg& m);
// The activation of a whole node map.
Result<std::optional<NodeActivation>> msg_to_activation(const Msg& node_map);
Result<Edge> msg_to_edge(const Msg& m);
Result<std::vector<double>> msg_vector_f64(const Msg& m);
Result<std::vector<double>> msg_vec_f64(const Msg::Array& items);
Result<std::vector<std::string>> msg_vec_str(const Msg::Array& items);
Result<MemoryClass> memory_class_from_str(std::string_view text);
json::Value msg_to_json(const Msg& m);

}  // namespace tarnwick::format
