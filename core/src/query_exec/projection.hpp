#pragma once
// What of each node a plan reads, besides its id and type: the top-level `data` keys its
// attribute tests, its order and an aggregation read, and the vector when it ranks by exact
// similarity; and whether it reads edges at all (an edge filter, a join, a traversal step that
// moves). A snapshot keeps only these; the edges it keeps keep source, target and type.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/plan.hpp"

namespace tarnwick::query {

struct Projection {
  std::vector<std::string> fields;  // each key once, in the order the plan first reads it
  bool vectors = false;
  bool edges = true;

  // `aggregate_field` is the key an aggregation reduces, when there is one.
  static Projection of(const QueryPlan& plan, std::optional<std::string_view> aggregate_field = std::nullopt);

  // The slot of a key the plan reads; every key it reads has one.
  std::size_t slot(std::string_view field) const;
};

}  // namespace tarnwick::query
