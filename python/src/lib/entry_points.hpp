#pragma once
// Adapters from the interpreter's calling conventions to method bodies that return PyResult,
// each run inside the guard. `Object` is the instance layout; `PyObject_HEAD` comes first.
// Not noexcept: a body may give up the interpreter lock, and the forced unwind that can come
// when it takes it back must pass (guard.hpp).

#include <Python.h>

#include "lib/args.hpp"
#include "lib/guard.hpp"
#include "lib/py_ref.hpp"

namespace tarnwick::py {

template <class Object>
Object& object_of(PyObject* self) {
  return *reinterpret_cast<Object*>(self);
}

template <class Object, PyResult<PyRef> (*Body)(Object&, FastArgs)>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t count, PyObject* keyword_names) {
  return guarded_object([&] { return Body(object_of<Object>(self), FastArgs{args, count, keyword_names}); });
}

template <class Object, PyResult<PyRef> (*Body)(Object&)>
PyObject* noargs_entry(PyObject* self, PyObject*) {
  return guarded_object([&] { return Body(object_of<Object>(self)); });
}

// A method-table row; the docstring is the name, the text signature and "\n--\n\n".
template <class Object, PyResult<PyRef> (*Body)(Object&, FastArgs)>
inline PyMethodDef fastcall_method(const char* name, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall_entry<Object, Body>)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

template <class Object, PyResult<PyRef> (*Body)(Object&)>
inline PyMethodDef noargs_method(const char* name, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noargs_entry<Object, Body>)),
          METH_NOARGS, doc};
}

inline PyRef none() { return PyRef::borrow(Py_None); }

}  // namespace tarnwick::py
