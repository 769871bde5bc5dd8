#pragma once
// One entry of the mutation log and the changes it lists. Written as a JSON object whose keys
// follow the field order; the three optional fields leave no key when absent (never a null).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/json.hpp"
#include "model/reader.hpp"

namespace tarnwick::store {

struct MutationOperation {
  std::string operation_type;  // "putNode", "deleteNode", ... (not checked on reading)
  json::Value payload;
  friend bool operator==(const MutationOperation& a, const MutationOperation& b);
};

struct MutationRecord {
  std::string operation_id;
  std::uint64_t sequence = 0;
  std::string transaction_id;
  std::int64_t timestamp = 0;
  std::vector<MutationOperation> operations;
  std::optional<std::string> actor;
  std::optional<std::uint64_t> base_revision;
  std::optional<json::Value> metadata;
  friend bool operator==(const MutationRecord& a, const MutationRecord& b);
};

}  // namespace tarnwick::store
