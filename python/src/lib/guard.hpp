#pragma once
// The guard around every entry point the interpreter calls: a C++ exception never unwinds
// into the interpreter. Running out of memory becomes MemoryError; anything else is an
// internal fault and becomes PanicException.

#include <Python.h>

#include <exception>
#include <new>

#include "lib/exceptions.hpp"
#include "lib/py_ref.hpp"

namespace tarnwick::py {

namespace detail {
inline void ensure_exception_set() {
  if (!PyErr_Occurred()) raise(PyExc_SystemError, "attempted to fetch exception but none was set");
}
}  // namespace detail

// `body` returns PyResult<T>; `success` turns its value into the entry point's return value,
// `failure` is what the entry point returns with an exception set.
template <class Body, class Success, class R>
R guarded(Body&& body, Success&& success, R failure) noexcept {
  try {
    auto result = body();
    if (result) return success(*result);
    detail::ensure_exception_set();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unexpected internal failure");
  }
  return failure;
}

// For entry points returning a new reference (methods, functions, constructors).
template <class Body>
PyObject* guarded_object(Body&& body) noexcept {
  return guarded(body, [](PyRef& r) { return r.release(); }, static_cast<PyObject*>(nullptr));
}

// For the length slot.
template <class Body>
Py_ssize_t guarded_size(Body&& body) noexcept {
  return guarded(body, [](Py_ssize_t n) { return n; }, Py_ssize_t{-1});
}

}  // namespace tarnwick::py
