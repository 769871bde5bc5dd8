// The type-schema checks of a batch, over the graph the batch would leave. Stored nodes the
// batch does not touch are checked only when `schema_violators_` names them: every other one
// passed when it was stored and the schemas have not changed since.
#include <algorithm>
#include <string>

#include "storage/store/data_type.hpp"
#include "storage/store/field_path.hpp"
#include "storage/store/projection.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {

std::unexpected<TarnwickError> invalid(std::string message) {
  return fail(err::InvalidArgument{std::move(message)});
}

bool permits(const std::vector<std::string>& allowed, const std::string& type) {
  return allowed.empty() || std::ranges::find(allowed, type) != allowed.end();
}

}  // namespace

const json::Value* Store::data_value(const json::Object* data, std::string_view path) {
  return data == nullptr ? nullptr : value_at_path(*data, path);
}

Result<void> Store::validate_node_schema(const Node& node) const {
  if (node_types_.empty()) return {};
  const auto it = node_types_.find(node.type);
  if (it == node_types_.end()) return {};
  const NodeTypeDefinition& schema = it->second;
  for (const std::string& path : schema.required_fields) {
    if (data_value(&node.data, path) == nullptr)
      return invalid("required field " + path + " is missing for node type " + node.type);
  }
  for (const auto& [path, type_name] : schema.data_types) {
    const json::Value* v = data_value(&node.data, path);
    if (v != nullptr && !matches_data_type(*v, type_name))
      return invalid("node field " + path + " must be " + type_name);
  }
  return {};
}

bool Store::shares_endpoint(const Edge& edge, const Projection& projected, bool by_source) const {
  const std::string& end = by_source ? edge.source : edge.target;
  // Stored edges still standing as they are; a touched one is either gone or one of the puts.
  const TextMap<TextSet>& adjacency = by_source ? edges_by_source_ : edges_by_target_;
  if (auto ids = adjacency.find(end); ids != adjacency.end()) {
    for (const std::string& id : ids->second) {
      if (id == edge.id || projected.edge_touched(id)) continue;
      if (edges_.find(id)->second.type == edge.type) return true;
    }
  }
  for (const Edge* other : by_source ? projected.put_edges_from(end) : projected.put_edges_into(end)) {
    if (other->id != edge.id && other->type == edge.type) return true;
  }
  return false;
}

Result<void> Store::validate_edge_schema(const Edge& edge, const Projection& projected) const {
  const auto it = edge_types_.find(edge.type);
  if (it == edge_types_.end()) return {};
  const EdgeTypeDefinition& schema = it->second;
  const Node* source = projected.node(edge.source);
  if (source == nullptr) return invalid("edge " + edge.id + " source node is missing");
  const Node* target = projected.node(edge.target);
  if (target == nullptr) return invalid("edge " + edge.id + " target node is missing");
  if (!permits(schema.source_types, source->type))
    return invalid("edge type " + edge.type + " does not permit source type " + source->type);
  if (!permits(schema.target_types, target->type))
    return invalid("edge type " + edge.type + " does not permit target type " + target->type);
  const json::Object* data = edge.data ? &*edge.data : nullptr;
  for (const std::string& path : schema.required_fields) {
    if (data_value(data, path) == nullptr)
      return invalid("required field " + path + " is missing for edge type " + edge.type);
  }
  for (const auto& [path, type_name] : schema.data_types) {
    const json::Value* v = data_value(data, path);
    if (v != nullptr && !matches_data_type(*v, type_name))
      return invalid("edge field " + path + " must be " + type_name);
  }
  if (!schema.cardinality) return {};
  const std::string& cardinality = *schema.cardinality;
  const bool one_source = cardinality == "one-to-one" || cardinality == "many-to-one";
  const bool one_target = cardinality == "one-to-one" || cardinality == "one-to-many";
  if ((one_source && shares_endpoint(edge, projected, true)) ||
      (one_target && shares_endpoint(edge, projected, false)))
    return invalid("edge cardinality " + cardinality + " would be exceeded");
  return {};
}

Result<void> Store::validate_schemas(const Projection& projected) const {
  for (const auto& entry : projected.put_nodes()) TARNWICK_TRY(validate_node_schema(*entry.second));
  for (const std::string& id : schema_violators_) {
    if (!projected.node_touched(id)) TARNWICK_TRY(validate_node_schema(*projected.node(id)));
  }
  if (edge_types_.empty()) return {};
  for (const Edge& edge : projected.batch().put_edges) TARNWICK_TRY(validate_edge_schema(edge, projected));
  return {};
}

}  // namespace tarnwick::store
