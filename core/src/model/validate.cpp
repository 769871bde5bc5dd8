#include "model/validate.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwick {

namespace {

bool unit_interval(double d) { return std::isfinite(d) && d >= 0.0 && d <= 1.0; }

bool all_finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

std::unexpected<TarnwickError> out_of_range(std::string message) {
  return fail(err::RangeOutOfBounds{std::move(message)});
}

std::unexpected<TarnwickError> invalid(std::string message) { return fail(err::InvalidArgument{std::move(message)}); }

}  // namespace

Result<> validate_activation(const NodeActivation& a) {
  if (!unit_interval(a.score)) return out_of_range("activation.score must be a finite number in [0, 1]");
  if (!unit_interval(a.importance)) return out_of_range("activation.importance must be a finite number in [0, 1]");
  if (a.last_meaningful_activation < 0)
    return out_of_range("activation.lastMeaningfulActivation must be a finite non-negative number");
  if (a.inhibition) {
    if (!unit_interval(*a.inhibition))
      return out_of_range("activation.inhibition must be a finite number in [0, 1]");
    if (!a.last_inhibited_at || *a.last_inhibited_at < 0)
      return out_of_range("activation.lastInhibitedAt must be a finite non-negative number when inhibition is set");
  }
  if (a.context) {
    for (const auto& [key, c] : a.context->entries()) {
      if (!unit_interval(c.score))
        return out_of_range("activation.context[" + key + "].score must be a finite number in [0, 1]");
      if (c.last_meaningful_activation < 0)
        return out_of_range("activation.context[" + key +
                            "].lastMeaningfulActivation must be a finite non-negative number");
    }
  }
  return {};
}

Result<> validate_provenance(const Node& n) {
  auto has_empty = [](const std::optional<std::vector<std::string>>& list) {
    return list && std::any_of(list->begin(), list->end(), [](const std::string& s) { return s.empty(); });
  };
  if (n.confidence && !unit_interval(*n.confidence))
    return out_of_range("confidence must be a finite number in [0, 1]");
  if (n.observed_at && *n.observed_at < 0) return out_of_range("observedAt must be a finite non-negative number");
  if (n.source && n.source->empty()) return invalid("source must not be empty");
  if (n.supersedes && n.supersedes->empty()) return invalid("supersedes must not be empty");
  if (has_empty(n.derived_from)) return invalid("derivedFrom must contain only non-empty strings");
  if (has_empty(n.contradicts)) return invalid("contradicts must contain only non-empty strings");
  return {};
}

Result<> validate_node(const Node& n) {
  if (n.id.empty()) return invalid("node id must not be empty");
  if (n.type.empty()) return invalid("node type must not be empty");
  if (n.inserted_at < 0 || n.updated_at < 0)
    return out_of_range("node timestamps must be finite non-negative numbers");
  if (n.vector && !all_finite(*n.vector)) return invalid("vector must contain finite values");
  if (n.activation) TARNWICK_TRY(validate_activation(*n.activation));
  return validate_provenance(n);
}

Result<> validate_edge(const Edge& e) {
  if (e.source.empty() || e.type.empty() || e.target.empty())
    return invalid("edge source, type, and target must not be empty");
  if (e.created_at < 0) return out_of_range("edge createdAt must be finite non-negative");
  return {};
}

Result<> validate_batch(const ChangeBatch& batch) {
  for (const Node& n : batch.put_nodes) TARNWICK_TRY(validate_node(n));
  for (const Edge& e : batch.put_edges) TARNWICK_TRY(validate_edge(e));
  for (const VectorEntry& v : batch.put_vectors) {
    if (v.id.empty()) return invalid("vector id must not be empty");
    if (!all_finite(v.vector)) return invalid("vector must contain finite values");
  }
  return {};
}

}  // namespace tarnwick
