#pragma once
// Which Python objects count as a bool where the engine wants one: Python's own True and False,
// and NumPy's boolean scalar, recognised by name so that NumPy need not be loaded.

#include <Python.h>

#include <optional>

#include "lib/exceptions.hpp"
#include "lib/py_ref.hpp"

namespace tarnwick::py {

// Whether the object is a NumPy boolean scalar; fails only with an exception that must pass
// through (any other failure of the lookup means no).
inline PyResult<bool> is_numpy_bool(PyObject* object) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
  PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
  PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(object)));
  if (!module || !name || !PyUnicode_Check(module.get())) {
    if (PyErr_Occurred()) PY_TRY(discard_pending());
    return false;
  }
  return PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
         (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
          PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

// True or False, or a NumPy boolean scalar through its `__bool__` (which must give a Python
// bool); none for anything else, an int 1 included. Fails only with an exception that must pass
// through.
inline PyResult<std::optional<bool>> strict_bool(PyObject* object) {
  if (PyBool_Check(object)) return object == Py_True;
  auto numpy_bool = is_numpy_bool(object);
  if (!numpy_bool) return error_set();
  if (!*numpy_bool) return std::nullopt;
  PyRef truth = PyRef::steal(PyObject_CallMethod(object, "__bool__", nullptr));
  if (!truth) {
    PY_TRY(discard_pending());
    return std::nullopt;
  }
  if (!PyBool_Check(truth.get())) return std::nullopt;
  return truth.get() == Py_True;
}

}  // namespace tarnwick::py
