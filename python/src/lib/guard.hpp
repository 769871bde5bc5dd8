#pragma once
// The guard around every entry point the interpreter calls: a C++ exception never unwinds
// into the interpreter. Running out of memory becomes MemoryError; anything else is an
// internal fault and becomes PanicException.
//
// One unwind passes: the forced unwind by which the finalizing interpreter ends a thread that
// asks for the interpreter lock back (interpreter_exit.hpp). It is the interpreter's own way out
// of the thread, so the guard rethrows it, and neither the guard nor an entry point built on it
// is noexcept: a noexcept frame on its way would terminate the process.

#include <Python.h>
#include <cxxabi.h>

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
// `failure` is what the entry point returns with an exception set. The forced unwind carries no
// C++ exception object, so its handler's reference is bound to null by design; UBSan would
// report that, and GCC lets only the whole of UBSan be turned off for this one function (the
// body and the conversions it calls stay checked).
template <class Body, class Success, class R>
[[gnu::no_sanitize("undefined")]] R guarded(Body&& body, Success&& success, R failure) {
  try {
    auto result = body();
    if (result) return success(*result);
    detail::ensure_exception_set();
  } catch (abi::__forced_unwind&) {
    throw;
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
PyObject* guarded_object(Body&& body) {
  return guarded(body, [](PyRef& r) { return r.release(); }, static_cast<PyObject*>(nullptr));
}

// For the length slot.
template <class Body>
Py_ssize_t guarded_size(Body&& body) {
  return guarded(body, [](Py_ssize_t n) { return n; }, Py_ssize_t{-1});
}

}  // namespace tarnwick::py
