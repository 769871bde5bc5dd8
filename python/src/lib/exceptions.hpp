#pragma once
// The module's exception types, each created once per process on first use, and the one way
// to raise them: a type and a single str argument.

#include <Python.h>

#include <string_view>

#include "error/error.hpp"
#include "lib/error_mapping.hpp"
#include "lib/py_ref.hpp"

namespace tarnwick::py {

// The short name under which the module exposes the type ("TarnwickValueError").
std::string_view exception_name(ExceptionKind kind);

// The exception type of `kind` (a borrowed reference that lives as long as the process),
// created on first use. The built-in NotImplementedError for ExceptionKind::NotImplementedError.
PyResult<PyObject*> exception_type(ExceptionKind kind);

// Raised for any failure inside the engine that is not one of its errors; derives from
// BaseException so that ordinary `except Exception` handlers do not swallow it.
PyResult<PyObject*> panic_exception_type();

// Each sets the exception with `message` as its one str argument; `return raise(...)` then
// leaves any function that returns a PyResult.
Raised raise(PyObject* type, std::string_view message);
Raised raise(ExceptionKind kind, std::string_view message);
Raised raise(const PendingError& error);
Raised raise_panic(std::string_view message);
// Raises `type(message)` with the exception pending now as its `__cause__`.
Raised raise_from(PyObject* type, std::string_view message);
// A core error through the one mapping.
Raised raise_core(TarnwickError error);

// Whether a Python exception (a type or an instance) must reach the caller unchanged where the
// engine would otherwise drop it and report a failure of its own: an interrupt or exit request
// (anything that is not an Exception) and MemoryError with its subclasses.
bool passes_through(PyObject* exception);

// Drops the pending exception so that a conversion can try its next step or raise its own
// error. An exception that passes through stays pending, and the result is that failure.
PyResult<void> discard_pending();

}  // namespace tarnwick::py
