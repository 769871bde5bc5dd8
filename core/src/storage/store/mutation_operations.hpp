#pragma once
// The operation list of a batch's mutation record: per kind, puts before deletes, nodes, then
// edges, then vectors ("putNode", "deleteNode", "putEdge", "deleteEdge", "putVector",
// "deleteVector"), each in its list's order. A setPrecision entry has no operation.

#include <vector>

#include "model/records.hpp"
#include "storage/store/mutation_record.hpp"

namespace tarnwick::store {

std::vector<MutationOperation> mutation_operations(const ChangeBatch& batch);

}  // namespace tarnwick::store
