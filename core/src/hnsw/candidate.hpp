#pragma once
// A search entry of the HNSW index: a node and its distance (1 - similarity) to the query.

#include <string>

namespace tarnwick {

struct Candidate {
  std::string id;
  double distance = 0.0;

  friend bool operator==(const Candidate&, const Candidate&) = default;
};

}  // namespace tarnwick
