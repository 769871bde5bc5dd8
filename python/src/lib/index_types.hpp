#pragma once
// The type objects of the two vector-index classes, created on first need.

#include <Python.h>

#include "lib/py_ref.hpp"

namespace tarnwick::py {

PyResult<PyObject*> exact_index_type();
PyResult<PyObject*> hnsw_index_type();

}  // namespace tarnwick::py
