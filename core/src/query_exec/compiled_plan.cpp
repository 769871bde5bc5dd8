#include "query_exec/compiled_plan.hpp"

#include <algorithm>

#include "query_exec/json_number.hpp"

namespace tarnwick::query {

namespace {

const json::Value kNull;

bool has_edge(const GraphSnapshot& snapshot, std::span<const std::size_t> positions, std::string_view type) {
  return std::ranges::any_of(positions, [&](std::size_t j) { return snapshot.edges()[j].type == type; });
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
          attributes_.push_back(EqNumber{eq->field, *d});
        } else {
          attributes_.push_back(EqValue{eq->field, &eq->value});
        }
      } else {
        const auto& range = std::get<AttributeFilter::Range>(f.test);
        attributes_.push_back(Range{range.field, range.above, range.below});
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
        for (std::size_t j : outgoing) {
          const Edge& e = snapshot.edges()[j];
          if (e.type == f.type) targets.insert(e.target);
        }
      }
    }
  }
  if (plan.joins) joins_ = *plan.joins;
}

bool CompiledPlan::attribute_passes(const Node& node, const AttributeTest& test) const {
  struct Visitor {
    const Node& node;
    bool operator()(const EqNumber& t) const {
      const json::Value* v = node.data.if_contains(t.field);
      if (!v) return false;
      const std::optional<double> d = as_double(*v);
      return d && *d == t.value;
    }
    bool operator()(const EqType& t) const { return t.value && node.type == *t.value; }
    bool operator()(const EqValue& t) const {
      const json::Value* v = node.data.if_contains(t.field);
      return json::equal(v ? *v : kNull, *t.value);
    }
    bool operator()(const Range& t) const {
      const json::Value* v = node.data.if_contains(t.field);
      if (!v) return false;
      const std::optional<double> d = as_double(*v);
      if (!d) return false;
      if (t.above && *d <= *t.above) return false;
      if (t.below && *d >= *t.below) return false;
      return true;
    }
  };
  return std::visit(Visitor{node}, test);
}

bool CompiledPlan::edge_filter_passes(const GraphSnapshot& snapshot, const Node& node) const {
  const EdgeTest& f = *edge_;
  const auto outgoing = snapshot.edges_by_source(node.id);
  if (outgoing.empty()) {
    if (!f.has_source) return false;
  } else {
    const bool found = std::ranges::any_of(outgoing, [&](std::size_t j) {
      const Edge& e = snapshot.edges()[j];
      return e.type == f.type && (!f.target || e.target == *f.target);
    });
    if (!found) return false;
  }
  // A source without outgoing edges constrains nothing.
  return !f.source_targets || f.source_targets->contains(std::string_view(node.id));
}

bool match_node(const GraphSnapshot& snapshot, const Node& node, const CompiledPlan& plan) {
  if (!plan.type_passes(node.type)) return false;
  for (const auto& test : plan.attributes_)
    if (!plan.attribute_passes(node, test)) return false;
  if (plan.edge_ && !plan.edge_filter_passes(snapshot, node)) return false;
  for (const Join& join : plan.joins_) {
    const auto positions =
        join.direction == Direction::Out ? snapshot.edges_by_source(node.id) : snapshot.edges_by_target(node.id);
    if (!has_edge(snapshot, positions, join.edge_type)) return false;
  }
  return true;
}

}  // namespace tarnwick::query
