#pragma once
// What `Store::verify` found in the stored files: every issue as one line, in the order found
// (snapshot nodes, edges, vectors, then the index definitions), and the record counts.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::store {

struct VerifyReport {
  bool ok = true;  // exactly when `errors` is empty
  std::vector<std::string> errors;
  std::uint64_t node_count = 0;  // snapshot entries, valid or not; 0 when absent or undecodable
  std::uint64_t edge_count = 0;
  std::uint64_t vector_count = 0;
  std::uint64_t mutation_count = 0;  // records the mutation log reads
  friend bool operator==(const VerifyReport&, const VerifyReport&) = default;
};

}  // namespace tarnwick::store
