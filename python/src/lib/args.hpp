#pragma once
// The argument binder shared by every function and method: parameters bind by position or by
// keyword, and every extraction failure is a TypeError that names the parameter (an integer out
// of range keeps the integer conversion's own OverflowError).

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/py_ref.hpp"

namespace tarnwick::py {

struct Parameter {
  const char* name;
  bool required;
};

// Messages name the callable as "<owner>.<name>()", or "<name>()" without an owner.
struct Signature {
  const char* owner;
  const char* name;
  std::span<const Parameter> parameters;
};

// The arguments as the interpreter passes them to a fast-call entry point.
struct FastArgs {
  PyObject* const* positional;
  Py_ssize_t count;
  PyObject* keyword_names;  // a tuple of str, or nullptr
};

// Each slot holds the argument's borrowed reference, or nullptr when it was not given.
template <std::size_t N>
using Bound = std::array<PyObject*, N>;

PyResult<void> bind_into(const Signature& signature, FastArgs args, std::span<PyObject*> slots);
PyResult<void> bind_into(const Signature& signature, PyObject* tuple, PyObject* dict, std::span<PyObject*> slots);

template <std::size_t N>
PyResult<Bound<N>> bind(const Signature& signature, FastArgs args) {
  Bound<N> slots{};
  PY_TRY(bind_into(signature, args, slots));
  return slots;
}

template <std::size_t N>
PyResult<Bound<N>> bind(const Signature& signature, PyObject* tuple, PyObject* dict) {
  Bound<N> slots{};
  PY_TRY(bind_into(signature, tuple, dict, slots));
  return slots;
}

// A sequence that is not a str; else the list readers' TypeError, not yet naming a parameter.
PyResult<void> require_list_like(PyObject* value);

// The `__qualname__` of an object's type, for messages.
std::string type_qualname(PyObject* object);

// Replaces a pending TypeError by one whose message starts with "argument '<name>': ".
void name_type_error(const char* parameter);

// Extraction of one argument; `parameter` names it in the TypeError. A str's text is a view
// that lives as long as the str, which outlives the call it was passed to.
PyResult<std::string_view> str_arg(PyObject* value, const char* parameter);
PyResult<std::uint64_t> u64_arg(PyObject* value, const char* parameter);
PyResult<std::int64_t> i64_arg(PyObject* value, const char* parameter);
PyResult<std::uint32_t> u32_arg(PyObject* value, const char* parameter);
PyResult<double> f64_arg(PyObject* value, const char* parameter);
// A sequence that is not a str, read by iteration into its items, unconverted or as str.
PyResult<std::vector<PyRef>> list_arg(PyObject* value, const char* parameter);
PyResult<std::vector<std::string>> str_list_arg(PyObject* value, const char* parameter);

// The UTF-8 text of a str (a subclass counts); a str that UTF-8 cannot encode raises
// UnicodeEncodeError. The view lives as long as the str.
PyResult<std::string_view> utf8_view(PyObject* str);

}  // namespace tarnwick::py
