#pragma once
// Records handed back to Python, built straight from their fields: the same dicts, key order,
// ints and floats as their JSON object forms would convert to (a double that JSON cannot hold
// becomes None, as it would become null), without building that JSON form first.

#include "lib/py_ref.hpp"
#include "model/records.hpp"
#include "storage/store/mutation_record.hpp"

namespace tarnwick::py {

PyResult<PyRef> node_to_py(const Node& node);
PyResult<PyRef> edge_to_py(const Edge& edge);
PyResult<PyRef> mutation_record_to_py(const store::MutationRecord& record);

}  // namespace tarnwick::py
