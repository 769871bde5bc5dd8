#pragma once
// A node query made ready to test many nodes: the tests are gathered once and the listed types
// hashed once when there are many, so testing a node allocates nothing and copies no value.
// Borrows the query (paths and expected values point into it): the query must outlive this.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "json/json.hpp"
#include "model/records.hpp"
#include "model/seeded_hash.hpp"
#include "storage/store/node_query.hpp"

namespace tarnwick::store {

// A field path as the queries read it (`node_field`): exactly "type" names the node's type,
// anything else is walked through the node's data by `value_at_path`.
struct FieldPath {
  std::string_view path;
  bool node_type = false;

  explicit FieldPath(std::string_view p) : path(p), node_type(p == "type") {}
};

class CompiledQuery {
 public:
  explicit CompiledQuery(const NodeQuery& query);

  const NodeQuery& query() const { return query_; }
  // Whether a test reads a node's data rather than only its type, so that the nodes it tests
  // are worth asking of memory ahead.
  bool reads_data() const { return reads_data_; }
  // Types first, then the attributes in their order, then the ranges; the first failing test
  // decides. A missing field equals an expected null and is never inside a range. `data` is the
  // node's data as its stored bytes (StoredNode::data_bytes).
  bool matches(std::string_view type, std::span<const std::uint8_t> data) const;
  // The number under the top-level data key named by "orderBy"; 0.0 when it is absent, not a
  // number or not finite. Only for a query with an order.
  double order_key(std::span<const std::uint8_t> data) const;

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
  static bool equal_at(std::string_view type, std::span<const std::uint8_t> data, const Equality& test);
  static bool within(std::span<const std::uint8_t> data, const Range& test);

  const NodeQuery& query_;
  // A few listed types are compared in turn; a long list is hashed once.
  std::optional<TextSet> type_set_;
  std::vector<Equality> equalities_;
  std::vector<Range> ranges_;
  bool reads_data_ = false;
};

}  // namespace tarnwick::store
