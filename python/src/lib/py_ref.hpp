#pragma once
// Owned references and the binding layer's error value. A Python failure is carried as
// `PyErrSet`: the exception itself sits in the interpreter's error indicator.

#include <Python.h>

#include <expected>
#include <utility>

#include "lib/interpreter_exit.hpp"

namespace tarnwick::py {

// Marks that a Python exception has been set and must be passed up to the interpreter.
struct PyErrSet {};

template <class T = void>
using PyResult = std::expected<T, PyErrSet>;

using Raised = std::unexpected<PyErrSet>;
inline Raised error_set() { return std::unexpected(PyErrSet{}); }

// One strong reference, released when the holder goes; left to the interpreter instead when the
// holder goes on a thread the finalizing interpreter ends. Releasing can run Python code (a
// finalizer), during which the thread can be ended: the release and the destructor let that
// forced unwind pass.
class PyRef {
 public:
  PyRef() = default;
  static PyRef steal(PyObject* p) { return PyRef(p); }
  static PyRef borrow(PyObject* p) {
    Py_XINCREF(p);
    return PyRef(p);
  }
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  PyRef& operator=(PyRef&& o) {
    PyRef old(std::exchange(p_, std::exchange(o.p_, nullptr)));
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() noexcept(false) {
    if (p_ != nullptr && !interpreter_ends_this_thread()) Py_DECREF(p_);
  }

  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit PyRef(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

// A new reference from a C API call, or the exception that call set.
inline PyResult<PyRef> checked(PyObject* p) {
  if (p == nullptr) return error_set();
  return PyRef::steal(p);
}

}  // namespace tarnwick::py

// Propagates a failed PyResult from a function that itself returns a PyResult.
#define PY_TRY(expr)                                                     \
  do {                                                                   \
    if (auto py_try_r = (expr); !py_try_r) return ::tarnwick::py::error_set(); \
  } while (false)
