#pragma once
// Heap types for the module's classes: module "tarnwick", not subclassable, no instance
// dictionary, and a docstring that holds only the text signature.

#include <Python.h>

#include <span>

#include "lib/py_ref.hpp"

namespace tarnwick::py {

struct ClassSpec {
  const char* qualified_name;  // "tarnwick.ExactIndex"; must outlive the type
  const char* text_signature;  // "(distance=..., vector_precision=...)"
  int basic_size;
  std::span<const PyType_Slot> slots;  // without the docstring and the terminator
};

// The class's type, created on the first need and kept in `cell` for the life of the process.
// A failure raises RuntimeError "An error occurred while initializing class <name>" with the
// underlying error as its cause, and leaves the cell empty.
PyResult<PyObject*> class_type(PyObject*& cell, const ClassSpec& spec);

}  // namespace tarnwick::py
