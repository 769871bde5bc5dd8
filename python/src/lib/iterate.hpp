#pragma once
// Reading Python iterables item by item.

#include <Python.h>

#include <cstddef>

#include "lib/py_ref.hpp"

namespace tarnwick::py {

// Calls `visit(item)` (a borrowed reference, returning PyResult<void>) for each item the
// object's iterator yields, stopping at the first failure.
template <class Visit>
PyResult<void> for_each_item(PyObject* iterable, Visit&& visit) {
  auto iterator = checked(PyObject_GetIter(iterable));
  if (!iterator) return error_set();
  while (PyObject* raw = PyIter_Next(iterator->get())) {
    PyRef item = PyRef::steal(raw);
    PY_TRY(visit(item.get()));
  }
  if (PyErr_Occurred()) return error_set();
  return {};
}

// How many items a list or tuple really holds, from its storage; 0 for anything else. Used to
// size buffers in advance: a `__len__` may lie, the storage cannot.
inline std::size_t stored_size(PyObject* object) {
  if (PyList_Check(object)) return static_cast<std::size_t>(PyList_Size(object));
  if (PyTuple_Check(object)) return static_cast<std::size_t>(PyTuple_Size(object));
  return 0;
}

}  // namespace tarnwick::py
