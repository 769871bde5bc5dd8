#include "query_exec/projection.hpp"

#include <algorithm>
#include <cassert>

namespace tarnwick::query {

namespace {

void add(std::vector<std::string>& fields, std::string_view field) {
  if (std::ranges::find(fields, field) == fields.end()) fields.emplace_back(field);
}

}  // namespace

Projection Projection::of(const QueryPlan& plan, std::optional<std::string_view> aggregate_field) {
  Projection p;
  if (plan.attributes) {
    for (const AttributeFilter& f : *plan.attributes) {
      if (const auto* eq = std::get_if<AttributeFilter::Eq>(&f.test)) {
        // "eq" on "type" compares the node's own type, not a data key.
        if (eq->field != "type") add(p.fields, eq->field);
      } else {
        add(p.fields, std::get<AttributeFilter::Range>(f.test).field);
      }
    }
  }
  if (plan.order) add(p.fields, plan.order->field);
  if (aggregate_field) add(p.fields, *aggregate_field);
  p.vectors = plan.similarity && plan.similarity->engine == SimilarityEngine::Exact;
  const auto moves = [](const TraversalStep& step) { return step.depth > 0; };
  p.edges = plan.edge_filter || plan.joins || (plan.traversal && std::ranges::any_of(*plan.traversal, moves));
  return p;
}

std::size_t Projection::slot(std::string_view field) const {
  const auto it = std::ranges::find(fields, field);
  assert(it != fields.end() && "the plan reads only projected keys");
  return static_cast<std::size_t>(it - fields.begin());
}

}  // namespace tarnwick::query
