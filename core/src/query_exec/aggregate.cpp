#include <cmath>
#include <limits>
#include <optional>

#include "query_exec/engine.hpp"
#include "query_exec/json_number.hpp"
#include "query_exec/stages.hpp"

namespace tarnwick::query {

namespace {

enum class AggregateOp { Count, Sum, Avg, Min, Max };

std::optional<AggregateOp> aggregate_op(std::string_view op) {
  if (op == "count") return AggregateOp::Count;
  if (op == "sum") return AggregateOp::Sum;
  if (op == "avg") return AggregateOp::Avg;
  if (op == "min") return AggregateOp::Min;
  if (op == "max") return AggregateOp::Max;
  return std::nullopt;
}

// Signed zeros are ordered here: -0.0 is the smaller, 0.0 the larger of the two.
bool smaller(double a, double b) { return a < b || (a == b && std::signbit(a) && !std::signbit(b)); }

double reduce(AggregateOp op, const std::vector<double>& values) {
  const auto n = static_cast<double>(values.size());
  switch (op) {
    case AggregateOp::Count: return n;
    case AggregateOp::Sum:
    case AggregateOp::Avg: {
      double sum = -0.0;  // the sum of no values; -0.0 + x is x for every x, -0.0 included
      for (double v : values) sum += v;
      return op == AggregateOp::Sum ? sum : sum / n;
    }
    case AggregateOp::Min: {
      double acc = std::numeric_limits<double>::infinity();
      for (double v : values)
        if (smaller(v, acc)) acc = v;
      return acc;
    }
    case AggregateOp::Max: {
      double acc = -std::numeric_limits<double>::infinity();
      for (double v : values)
        if (smaller(acc, v)) acc = v;
      return acc;
    }
  }
  return 0.0;
}

}  // namespace

Result<Aggregate> aggregate(GraphSnapshot& snapshot, const QueryPlan& plan, std::string_view field,
                            std::string_view op) {
  TARNWICK_TRY_ASSIGN(auto candidates, run_plan(snapshot, plan, nullptr));
  // An unknown op is an error whether or not any value is found.
  const std::optional<AggregateOp> chosen = aggregate_op(op);
  if (!chosen) return fail(err::InvalidArgument{"unknown aggregate op " + std::string(op)});
  const std::size_t slot = snapshot.projection().slot(field);
  std::vector<double> values;
  for (const ListedId& c : candidates)
    if (c.node != GraphSnapshot::kNoNode)
      if (const std::optional<double> v = finite_number(snapshot.field(slot, c.node))) values.push_back(*v);
  if (values.empty()) return Aggregate{0.0, 0};
  return Aggregate{reduce(*chosen, values), values.size()};
}

}  // namespace tarnwick::query
