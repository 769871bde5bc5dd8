#pragma once
// A Python exception taken out of the interpreter's error indicator, to be dropped or raised
// again later, and the rule for which exceptions must reach the caller unchanged.

#include <Python.h>

#include <utility>

#include "lib/exceptions.hpp"
#include "lib/py_ref.hpp"

namespace tarnwick::py {

class PendingException {
 public:
  PendingException() = default;

  // Takes the pending exception (normalised, its traceback attached); empty when none is set.
  static PendingException fetch() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PendingException out;
    out.type_ = PyRef::steal(type);
    out.value_ = PyRef::steal(value);
    out.traceback_ = PyRef::steal(traceback);
    return out;
  }

  explicit operator bool() const { return static_cast<bool>(type_); }
  PyObject* type() const { return type_.get(); }
  PyObject* value() const { return value_.get(); }

  // Makes it the pending exception again; afterwards this holds nothing.
  Raised restore() {
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
    return error_set();
  }

  // Whether it must reach the caller unchanged rather than become an error of the engine's own.
  bool must_pass_through() const { return type_ && passes_through(type_.get()); }

 private:
  PyRef type_;
  PyRef value_;
  PyRef traceback_;
};

}  // namespace tarnwick::py
