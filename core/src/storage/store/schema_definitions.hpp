#pragma once
// The type schemas of "schemas.json": which data fields a node or edge of a type must have,
// which JSON types they must hold, and for edges the endpoint types and cardinality.

#include <optional>
#include <string>
#include <vector>

#include "model/records.hpp"
#include "model/seeded_hash.hpp"

namespace tarnwick::store {

struct NodeTypeDefinition {
  std::string node_type;
  std::vector<std::string> required_fields;
  TextMap<std::string> data_types;  // field path -> type name
  std::optional<MemoryClass> memory_class;  // held, consulted by no rule
};

struct EdgeTypeDefinition {
  std::string edge_type;
  std::vector<std::string> source_types;  // empty allows any
  std::vector<std::string> target_types;  // empty allows any
  std::vector<std::string> required_fields;
  TextMap<std::string> data_types;
  std::optional<std::string> cardinality;  // none: no limit
};

}  // namespace tarnwick::store
