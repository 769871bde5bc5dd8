#pragma once
// A query plan: the caller's description of one query over a node and edge list. Plans are
// read from JSON (an object by key, or an array of the fields in order) and never written back.
// Every `deserialize` consumes its input: strings, lists and values are moved out of it.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "json/json.hpp"
#include "model/reader.hpp"

namespace tarnwick::query {

enum class Direction : std::uint8_t { Out = 0, In = 1 };
enum class SimilarityEngine : std::uint8_t { Exact = 0, Hnsw = 1 };
enum class OrderDirection : std::uint8_t { Asc = 0, Desc = 1 };

// Each from a variant name as a string, or from an object whose one key is the name and whose
// value is null.
ReadResult<Direction> read_direction(json::Value& v);
ReadResult<SimilarityEngine> read_similarity_engine(json::Value& v);
ReadResult<OrderDirection> read_order_direction(json::Value& v);

// One attribute test, chosen by the key "operator" ("eq" or "range").
struct AttributeFilter {
  // The field equals `value`; top-level numbers compare as doubles.
  struct Eq {
    std::string field;
    json::Value value;  // kept exactly as read: number kinds and key order stay
  };
  // The numeric field lies strictly between the bounds that are given.
  struct Range {
    std::string field;
    std::optional<double> above;
    std::optional<double> below;
  };
  std::variant<Eq, Range> test;

  static ReadResult<AttributeFilter> deserialize(json::Value& v);
};

// An edge of type `type` the node must have; `source` and `target` narrow it.
struct EdgeFilter {
  std::string type;
  std::optional<std::string> target;
  std::optional<std::string> source;

  static ReadResult<EdgeFilter> deserialize(json::Value& v);
};

struct TraversalStep {
  std::string edge_type;
  Direction direction = Direction::Out;
  std::uint64_t depth = 0;

  static ReadResult<TraversalStep> deserialize(json::Value& v);
};

struct Join {
  std::string edge_type;
  Direction direction = Direction::Out;

  static ReadResult<Join> deserialize(json::Value& v);
};

struct Similarity {
  std::vector<double> vector;
  double threshold = 0.0;
  std::optional<std::uint64_t> top_k;  // absent: no bound
  SimilarityEngine engine = SimilarityEngine::Exact;

  static ReadResult<Similarity> deserialize(json::Value& v);
};

struct Order {
  std::string field;
  OrderDirection direction = OrderDirection::Asc;

  static ReadResult<Order> deserialize(json::Value& v);
};

// Every field is optional; an empty list is kept and differs from an absent one.
struct QueryPlan {
  std::optional<std::vector<std::string>> node_types;
  std::optional<std::vector<AttributeFilter>> attributes;
  std::optional<EdgeFilter> edge_filter;
  std::optional<std::vector<TraversalStep>> traversal;
  std::optional<std::vector<Join>> joins;
  std::optional<Similarity> similarity;
  std::optional<Order> order;
  std::optional<std::uint64_t> offset;
  std::optional<std::uint64_t> limit;

  // The error's `message` is the whole text; it never carries a position.
  static ReadResult<QueryPlan> deserialize(json::Value& v);
};

}  // namespace tarnwick::query
