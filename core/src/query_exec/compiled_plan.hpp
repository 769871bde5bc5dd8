#pragma once
// The filtering half of a plan (node types, attribute tests, edge filter, joins), prepared once
// per call so that testing a node does no parsing, no conversion and no scan that does not
// depend on the node.

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include <boost/unordered/unordered_flat_set.hpp>

#include "model/records.hpp"
#include "model/seeded_hash.hpp"
#include "query/plan.hpp"
#include "query_exec/graph_snapshot.hpp"

namespace tarnwick::query {

using IdSet = boost::unordered_flat_set<std::string_view, SeededHash, std::equal_to<>>;

// Builds the edge maps that running the plan reads, and only those.
void index_edges_for(GraphSnapshot& snapshot, const QueryPlan& plan);

class CompiledPlan {
 public:
  // Views into `plan` and `snapshot` are kept: both must outlive this. The edge maps the plan
  // reads must be built first (`index_edges_for`).
  CompiledPlan(const QueryPlan& plan, const GraphSnapshot& snapshot);

  // The node-type test alone; seeding from the node list uses it.
  bool type_passes(std::string_view type) const {
    return !types_ || std::ranges::binary_search(*types_, type);
  }

  friend bool match_node(const GraphSnapshot& snapshot, std::size_t node, const CompiledPlan& plan);

 private:
  // "eq" against a number: any number equal as a double.
  struct EqNumber {
    std::size_t slot;
    double value;
  };
  // "eq" on the field "type": the node's own type, which only a string can equal.
  struct EqType {
    std::optional<std::string_view> value;
  };
  // "eq" against anything else: JSON value equality, a missing key reading as null.
  struct EqValue {
    std::size_t slot;
    const json::Value* value;
  };
  struct Range {
    std::size_t slot;
    std::optional<double> above;
    std::optional<double> below;
  };
  using AttributeTest = std::variant<EqNumber, EqType, EqValue, Range>;

  struct EdgeTest {
    std::string_view type;
    std::optional<std::string_view> target;
    bool has_source = false;
    // With a source that has outgoing edges: the targets of those of the filter's type.
    std::optional<IdSet> source_targets;
  };

  bool attribute_passes(const GraphSnapshot& snapshot, std::size_t node, const AttributeTest& test) const;
  bool edge_filter_passes(const GraphSnapshot& snapshot, std::size_t node) const;

  // Sorted and without repeats: a plan names few types, and comparing a handful of texts costs
  // less than hashing one.
  std::optional<std::vector<std::string_view>> types_;
  std::vector<AttributeTest> attributes_;
  std::optional<EdgeTest> edge_;
  std::span<const Join> joins_;
};

// Whether the node at position `node` passes the node-type, attribute, edge-filter and join
// tests, in that order.
bool match_node(const GraphSnapshot& snapshot, std::size_t node, const CompiledPlan& plan);

}  // namespace tarnwick::query
