#pragma once
// The node ids a query starts from, by the first rule that applies: the caller's own list, the
// ids under one secondary-index key, the ids of the listed types, or every stored node. Only
// borrowed sets and a count, so the limit on candidates is checked before anything is built.
// Borrows the query and the store's maps: both must stay unchanged while this is in use.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/seeded_hash.hpp"
#include "storage/store/index_definition.hpp"

namespace tarnwick::store {

// The ids under one key of one secondary index, and the definition that gave them.
struct IndexHit {
  const TextSet* ids = nullptr;
  const SecondaryIndexDefinition* definition = nullptr;
};

struct Candidates {
  enum class Rule : std::uint8_t { Listed, Indexed, Typed, Every };

  Rule rule = Rule::Every;
  std::span<const std::string> listed;  // Listed: in the caller's order, repeats and unknown ids kept
  // Indexed: one set. Typed: one per distinct listed type, also when every node is the rule but
  // types are listed, since no node of another type can match.
  std::vector<const TextSet*> sets;
  std::uint64_t count = 0;              // what the candidate limit is checked against
  // Every candidate is a stored node that the query accepts, so nothing needs testing.
  bool all_match = false;
};

}  // namespace tarnwick::store
