#pragma once
// One secondary index of "indexes.json": node ids by the values of chosen node fields.

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::store {

struct SecondaryIndexDefinition {
  std::string name;
  std::vector<std::string> fields;  // paths, in key order
  std::optional<std::string> node_type;  // when set, only nodes of exactly this type
  bool unique = false;
  bool sparse = false;  // leave out a node with a null in any indexed field
  friend bool operator==(const SecondaryIndexDefinition&, const SecondaryIndexDefinition&) = default;
};

}  // namespace tarnwick::store
