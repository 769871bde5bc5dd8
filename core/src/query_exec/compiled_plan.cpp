#include "query_exec/compiled_plan.hpp"

#include <algorithm>

#include "query_exec/json_number.hpp"

namespace tarnwick::query {

namespace {

bool has_edge(const GraphSnapshot& snapshot, std::span<const std::size_t> positions, std::string_view type) {
  return std::ranges::any_of(positions, [&](std::size_t j) { return snapshot.edge_type(j) == type; });
}

}  // namespace

void index_edges_for(GraphSnapshot& snapshot, const QueryPlan& plan) {
  auto index = [&](Direction d) {
    d == Direction::Out ? snapshot.index_edges_by_source() : snapshot.index_edges_by_target();
  };
  if (plan.edge_filter) {
    // Every candidate's outgoing edges are tested; a filter with a target but no source also
    // seeds from the target's incoming edges.
    index(Direction::Out);
    if (!plan.edge_filter->source && plan.edge_filter->target) index(Direction::In);
  }
  if (plan.joins)
    for (const Join& join : *plan.joins) index(join.direction);
  if (plan.traversal)
    for (const TraversalStep& step : *plan.traversal)
      if (step.depth > 0) index(step.direction);
}

CompiledPlan::CompiledPlan(const QueryPlan& plan, const GraphSnapshot& snapshot) {
  const Projection& projection = snapshot.projection();
  if (plan.node_types) {
    types_.emplace(plan.node_types->begin(), plan.node_types->end());
    std::ranges::sort(*types_);
    const auto repeats = std::ranges::unique(*types_);
    types_->erase(repeats.begin(), repeats.end());
  }
  if (plan.attributes) {
    attributes_.reserve(plan.attributes->size());
    for (const AttributeFilter& f : *plan.attributes) {
      if (const auto* eq = std::get_if<AttributeFilter::Eq>(&f.test)) {
        if (eq->field == "type") {
          const json::String* s = eq->value.if_string();
          attributes_.push_back(EqType{s ? std::optional<std::string_view>(*s) : std::nullopt});
        } else if (const std::optional<double> d = as_double(eq->value)) {
          attributes_.push_back(EqNumber{projection.slot(eq->field), *d});
        } else {
          attributes_.push_back(EqValue{projection.slot(eq->field), &eq->value});
        }
      } else {
        const auto& range = std::get<AttributeFilter::Range>(f.test);
        attributes_.push_back(Range{projection.slot(range.field), range.above, range.below});
      }
    }
  }
  if (plan.edge_filter) {
    const EdgeFilter& f = *plan.edge_filter;
    EdgeTest& test = edge_.emplace();
    test.type = f.type;
    if (f.target) test.target = *f.target;
    if (f.source) {
      test.has_source = true;
      const auto outgoing = snapshot.edges_by_source(*f.source);
      if (!outgoing.empty()) {
        IdSet& targets = test.source_targets.emplace();
        for (std::size_t j : outgoing)
          if (snapshot.edge_type(j) == f.type) targets.insert(snapshot.edge_target(j));
      }
    }
  }
  if (plan.joins) joins_ = *plan.joins;
}

// A key that `data` lacks reads as null, which no number test accepts.
bool CompiledPlan::attribute_passes(const GraphSnapshot& snapshot, std::size_t node, const AttributeTest& test) const {
  struct Visitor {
    const GraphSnapshot& snapshot;
    std::size_t node;
    bool operator()(const EqNumber& t) const {
      const std::optional<double> d = as_double(snapshot.field(t.slot, node));
      return d && *d == t.value;
    }
    bool operator()(const EqType& t) const { return t.value && snapshot.node_type(node) == *t.value; }
    bool operator()(const EqValue& t) const { return json::equal(snapshot.field(t.slot, node), *t.value); }
    bool operator()(const Range& t) const {
      const std::optional<double> d = as_double(snapshot.field(t.slot, node));
      if (!d) return false;
      if (t.above && *d <= *t.above) return false;
      if (t.below && *d >= *t.below) return false;
      return true;
    }
  };
  return std::visit(Visitor{snapshot, node}, test);
}

bool CompiledPlan::edge_filter_passes(const GraphSnapshot& snapshot, std::size_t node) const {
  const EdgeTest& f = *edge_;
  const auto outgoing = snapshot.edges_by_source(snapshot.node_id(node));
  if (outgoing.empty()) {
    if (!f.has_source) return false;
  } else {
    const bool found = std::ranges::any_of(outgoing, [&](std::size_t j) {
      return snapshot.edge_type(j) == f.type && (!f.target || snapshot.edge_target(j) == *f.target);
    });
    if (!found) return false;
  }
  // A source without outgoing edges constrains nothing.
  return !f.source_targets || f.source_targets->contains(snapshot.node_id(node));
}

bool match_node(const GraphSnapshot& snapshot, std::size_t node, const CompiledPlan& plan) {
  if (!plan.type_passes(snapshot.node_type(node))) return false;
  for (const auto& test : plan.attributes_)
    if (!plan.attribute_passes(snapshot, node, test)) return false;
  if (plan.edge_ && !plan.edge_filter_passes(snapshot, node)) return false;
  for (const Join& join : plan.joins_) {
    const std::string_view id = snapshot.node_id(node);
    const auto positions = join.direction == Direction::Out ? snapshot.edges_by_source(id) : snapshot.edges_by_target(id);
    if (!has_edge(snapshot, positions, join.edge_type)) return false;
  }
  return true;
}

}  // namespace tarnwick::query
