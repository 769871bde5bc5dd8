#pragma once
// The record rules checked before anything is stored. Each check stops at the first failing
// rule and returns only that one.

#include "error/error.hpp"
#include "model/records.hpp"

namespace tarnwick {

Result<> validate_node(const Node& node);
Result<> validate_activation(const NodeActivation& activation);
Result<> validate_provenance(const Node& node);
// An edge's own fields only; whether its end nodes exist is not looked at.
Result<> validate_edge(const Edge& edge);
// Every put node, then every put edge, then every put vector; deletes are not checked.
Result<> validate_batch(const ChangeBatch& batch);

}  // namespace tarnwick
