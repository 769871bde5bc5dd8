#pragma once
// One hit of a vector query: the id and its similarity score.

#include <string>

namespace tarnwick {

struct ScoredId {
  std::string id;
  double score = 0.0;

  friend bool operator==(const ScoredId&, const ScoredId&) = default;
};

}  // namespace tarnwick
