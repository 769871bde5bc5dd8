#pragma once
// A storage-level node query as the caller hands it in, read from a JSON object keyed by field
// name or from an array of the field values in field order (at most nine). Every field is
// optional; a field given empty (an empty list or object) still counts as given, which decides
// which candidate rule a query takes.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/json.hpp"
#include "model/reader.hpp"

namespace tarnwick::store {

// Both bounds exclusive; an absent bound does not limit.
struct RangeQuery {
  std::optional<double> above;
  std::optional<double> below;

  // An object with "above" and "below", or an array of at most two elements in that order.
  static ReadResult<RangeQuery> deserialize(json::Value& v);
  friend bool operator==(const RangeQuery&, const RangeQuery&) = default;
};

struct OrderBy {
  std::string field;      // a top-level key of a node's data, never a path
  std::string direction;  // exactly "desc" sorts descending; any other text ascending

  bool descending() const { return direction == "desc"; }
  // An object with both keys required ("field" reported first), or an array of exactly two.
  static ReadResult<OrderBy> deserialize(json::Value& v);
  friend bool operator==(const OrderBy&, const OrderBy&) = default;
};

struct NodeQuery {
  std::optional<std::vector<std::string>> candidate_ids;  // in the caller's order, repeats kept
  std::optional<std::vector<std::string>> node_types;
  std::optional<json::Object> attributes;  // field path -> expected value, in the object's order
  std::optional<std::vector<std::pair<std::string, RangeQuery>>> attribute_ranges;
  std::optional<OrderBy> order_by;
  std::optional<std::uint64_t> offset;
  std::optional<std::uint64_t> limit;
  std::optional<std::uint64_t> max_nodes_visited;  // candidates a query may start from
  std::optional<std::uint64_t> max_result_size;    // matches, counted before offset and limit

  // Counts are non-negative integers, named "usize" in errors; null means not given.
  static ReadResult<NodeQuery> deserialize(json::Value& v);
  friend bool operator==(const NodeQuery&, const NodeQuery&) = default;
};

}  // namespace tarnwick::store
