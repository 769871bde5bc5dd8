// Installing the two definition files. Each is read whole and every definition checked before
// anything is installed, so a failure leaves the store's maps as they were.
#include <algorithm>
#include <array>

#include "storage/store/definition_readers.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {

constexpr std::array<std::string_view, 6> kTypeNames = {"string", "number", "integer", "boolean", "object", "array"};
constexpr std::array<std::string_view, 4> kCardinalities = {"one-to-one", "one-to-many", "many-to-one",
                                                            "many-to-many"};

bool one_of(std::span<const std::string_view> names, std::string_view s) {
  return std::ranges::find(names, s) != names.end();
}

bool any_empty(const std::vector<std::string>& list) {
  return std::ranges::any_of(list, [](const std::string& s) { return s.empty(); });
}

bool has_repeat(const std::vector<std::string>& list) {
  TextSet seen;
  return !std::ranges::all_of(list, [&](const std::string& s) { return seen.insert(s).second; });
}

// The "dataTypes" rules: no empty path, every type one of the six names.
bool data_types_valid(const TextMap<std::string>& data_types) {
  return std::ranges::all_of(data_types, [](const auto& entry) {
    return !entry.first.empty() && one_of(kTypeNames, entry.second);
  });
}

Result<void> validate_index_definition(const SecondaryIndexDefinition& d) {
  if (d.name.empty() || d.fields.empty()) return fail(err::InvalidArgument{"invalid secondary index " + d.name});
  if (any_empty(d.fields) || has_repeat(d.fields))
    return fail(err::InvalidArgument{"secondary index " + d.name + " fields must be unique and non-empty"});
  return {};
}

// Definitions keyed by their type, in file order: each passes its own rules before its type is
// compared with the earlier ones.
template <class Def>
Result<TextMap<Def>> by_type(std::vector<Def>& definitions, std::string Def::*type,
                             Result<void> (*validate)(const Def&), std::string_view kind) {
  TextMap<Def> out;
  for (Def& d : definitions) {
    TARNWICK_TRY(validate(d));
    std::string key = d.*type;
    if (!out.try_emplace(std::move(key), std::move(d)).second)
      return fail(corrupt("schema metadata: duplicate " + std::string(kind) + " type"));
  }
  return out;
}

}  // namespace

Result<void> Store::validate_node_type_definition(const NodeTypeDefinition& d) {
  const bool valid = !d.node_type.empty() && !any_empty(d.required_fields) && !has_repeat(d.required_fields) &&
                     data_types_valid(d.data_types);
  if (!valid) return fail(err::InvalidArgument{"invalid schema for node type " + d.node_type});
  return {};
}

Result<void> Store::validate_edge_type_definition(const EdgeTypeDefinition& d) {
  const bool valid = !d.edge_type.empty() && !any_empty(d.source_types) && !any_empty(d.target_types) &&
                     !any_empty(d.required_fields) && !has_repeat(d.required_fields) &&
                     data_types_valid(d.data_types) && (!d.cardinality || one_of(kCardinalities, *d.cardinality));
  if (!valid) return fail(err::InvalidArgument{"invalid schema for edge type " + d.edge_type});
  return {};
}

Result<void> Store::install_index_definitions(std::string_view text) {
  auto read = read_index_definitions(text);
  if (!read) return fail(corrupt("index metadata: " + read.error().text()));
  TextMap<SecondaryIndexDefinition> definitions;
  // A later definition of a name replaces the earlier one, silently.
  for (SecondaryIndexDefinition& d : *read) definitions.insert_or_assign(d.name, std::move(d));
  for (const auto& [name, d] : definitions) TARNWICK_TRY(validate_index_definition(d));
  index_definitions_ = std::move(definitions);
  return {};
}

Result<void> Store::install_schemas(std::string_view text) {
  auto read = read_schema_metadata(text);
  if (!read) return fail(corrupt("schema metadata: " + read.error().text()));
  TARNWICK_TRY_ASSIGN(auto node_types, by_type(read->node_types, &NodeTypeDefinition::node_type,
                                               validate_node_type_definition, "node"));
  TARNWICK_TRY_ASSIGN(auto edge_types, by_type(read->edge_types, &EdgeTypeDefinition::edge_type,
                                               validate_edge_type_definition, "edge"));
  node_types_ = std::move(node_types);
  edge_types_ = std::move(edge_types);
  return {};
}

}  // namespace tarnwick::store
