#pragma once
// A node query made ready to test many nodes: field paths are split once and the listed types
// gathered once, so testing a node allocates nothing and copies no value.
// Borrows the query (paths and expected values point into it): the query must outlive this.

#include <optional>
#include <string_view>
#include <vector>

#include "json/json.hpp"
#include "model/records.hpp"
#include "model/seeded_hash.hpp"
#include "storage/store/node_query.hpp"

namespace tarnwick::store {

// A field path: exactly "type" names the node's type; anything else is split at every "." and
// walked through nested objects of the node's data (an empty path is one empty segment).
struct FieldPath {
  bool node_type = false;
  std::vector<std::string_view> segments;

  explicit FieldPath(std::string_view path);
  // The value at the path in `data`, or null when a step is missing or not an object. Not for
  // the node-type path.
  const json::Value* find(const json::Object& data) const;
};

class CompiledQuery {
 public:
  explicit CompiledQuery(const NodeQuery& query);

  const NodeQuery& query() const { return query_; }
  // Whether the query names any condition at all; without one every stored node matches.
  bool has_conditions() const { return query_.node_types || !equalities_.empty() || !ranges_.empty(); }
  // Types first, then the attributes in their order, then the ranges; the first failing test
  // decides. A missing field equals an expected null and is never inside a range.
  bool matches(const Node& node) const;
  // The number under the top-level data key named by "orderBy"; 0.0 when it is absent, not a
  // number or not finite. Only for a query with an order.
  double order_key(const Node& node) const;

 private:
  struct Equality {
    FieldPath path;
    const json::Value* expected;
  };
  struct Range {
    FieldPath path;
    RangeQuery bounds;
  };

  bool type_listed(std::string_view type) const;
  static bool equal_at(const Node& node, const Equality& test);
  static bool within(const Node& node, const Range& test);

  const NodeQuery& query_;
  // A few listed types are compared in turn; a long list is hashed once.
  std::optional<TextSet> type_set_;
  std::vector<Equality> equalities_;
  std::vector<Range> ranges_;
};

}  // namespace tarnwick::store
