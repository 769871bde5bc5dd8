#include "lib/args.hpp"

#include <limits>

#include "lib/exceptions.hpp"
#include "lib/iterate.hpp"

namespace tarnwick::py {

namespace {

using std::to_string;

std::string callable_prefix(const Signature& s) {
  std::string out = s.owner != nullptr ? std::string(s.owner) + "." : std::string();
  return out + s.name + "()";
}

PyResult<void> check_positional_count(const Signature& s, Py_ssize_t count) {
  const auto capacity = static_cast<Py_ssize_t>(s.parameters.size());
  if (count <= capacity) return {};
  return raise(PyExc_TypeError, callable_prefix(s) + " takes " + to_string(capacity) +
                                    " positional arguments but " + to_string(count) + " were given");
}

PyResult<void> bind_keyword(const Signature& s, PyObject* name, PyObject* value, std::span<PyObject*> slots) {
  for (std::size_t i = 0; i < s.parameters.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, s.parameters[i].name) != 0) continue;
    if (slots[i] != nullptr) {
      return raise(PyExc_TypeError, callable_prefix(s) + " got multiple values for argument '" +
                                        s.parameters[i].name + "'");
    }
    slots[i] = value;
    return {};
  }
  // The name's repr, quotes included: unlike its text, a repr is always valid UTF-8 (a lone
  // surrogate is escaped), so the message can be built for any name.
  auto quoted = checked(PyObject_Repr(name));
  if (!quoted) return error_set();
  auto text = utf8_view(quoted->get());
  if (!text) return error_set();
  return raise(PyExc_TypeError, callable_prefix(s) + " got an unexpected keyword argument " + std::string(*text));
}

PyResult<void> check_required(const Signature& s, std::span<PyObject*> slots) {
  for (std::size_t i = 0; i < s.parameters.size(); ++i) {
    if (s.parameters[i].required && slots[i] == nullptr) {
      return raise(PyExc_TypeError,
                   callable_prefix(s) + " missing required argument '" + s.parameters[i].name + "'");
    }
  }
  return {};
}

// A sequence that is not a str, as the list readers need it.
PyResult<void> check_list_like(PyObject* value, const char* parameter) {
  auto checked_value = require_list_like(value);
  if (!checked_value) name_type_error(parameter);
  return checked_value;
}

// A str's text; anything else raises a TypeError that does not yet name the parameter.
PyResult<std::string_view> str_value(PyObject* value) {
  if (!PyUnicode_Check(value)) {
    return raise(PyExc_TypeError, "'" + type_qualname(value) + "' object cannot be converted to 'PyString'");
  }
  return utf8_view(value);
}

}  // namespace

PyResult<void> bind_into(const Signature& s, FastArgs args, std::span<PyObject*> slots) {
  PY_TRY(check_positional_count(s, args.count));
  for (Py_ssize_t i = 0; i < args.count; ++i) slots[static_cast<std::size_t>(i)] = args.positional[i];
  if (args.keyword_names != nullptr) {
    const Py_ssize_t n = PyTuple_Size(args.keyword_names);
    for (Py_ssize_t i = 0; i < n; ++i) {
      PY_TRY(bind_keyword(s, PyTuple_GetItem(args.keyword_names, i), args.positional[args.count + i], slots));
    }
  }
  return check_required(s, slots);
}

PyResult<void> bind_into(const Signature& s, PyObject* tuple, PyObject* dict, std::span<PyObject*> slots) {
  const Py_ssize_t count = PyTuple_Size(tuple);
  PY_TRY(check_positional_count(s, count));
  for (Py_ssize_t i = 0; i < count; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GetItem(tuple, i);
  if (dict != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &name, &value)) PY_TRY(bind_keyword(s, name, value, slots));
  }
  return check_required(s, slots);
}

PyResult<void> require_list_like(PyObject* value) {
  if (PyUnicode_Check(value)) return raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(value)) {
    return raise(PyExc_TypeError, "'" + type_qualname(value) + "' object cannot be converted to 'Sequence'");
  }
  return {};
}

std::string type_qualname(PyObject* object) {
  PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
  if (!name) {
    PyErr_Clear();
    return "?";
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (text == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return std::string(text, static_cast<std::size_t>(size));
}

void name_type_error(const char* parameter) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type);
  PyRef owned_value = PyRef::steal(value);
  PyRef owned_traceback = PyRef::steal(traceback);
  std::string message = std::string("argument '") + parameter + "': ";
  PyRef text = PyRef::steal(PyObject_Str(owned_value.get()));
  if (auto view = text ? utf8_view(text.get()) : error_set()) {
    message += *view;
  } else {
    PyErr_Clear();
  }
  raise(PyExc_TypeError, message);
}

PyResult<std::string_view> utf8_view(PyObject* str) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(str, &size);
  if (text == nullptr) return error_set();
  return std::string_view(text, static_cast<std::size_t>(size));
}

PyResult<std::string_view> str_arg(PyObject* value, const char* parameter) {
  auto text = str_value(value);
  if (!text) name_type_error(parameter);
  return text;
}

PyResult<std::uint64_t> u64_arg(PyObject* value, const char* parameter) {
  auto index = checked(PyNumber_Index(value));
  if (!index) {
    name_type_error(parameter);
    return error_set();
  }
  const unsigned long long n = PyLong_AsUnsignedLongLong(index->get());
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return error_set();
  return static_cast<std::uint64_t>(n);
}

PyResult<std::int64_t> i64_arg(PyObject* value, const char* parameter) {
  auto index = checked(PyNumber_Index(value));
  if (!index) {
    name_type_error(parameter);
    return error_set();
  }
  const long long n = PyLong_AsLongLong(index->get());
  if (n == -1 && PyErr_Occurred()) return error_set();
  return static_cast<std::int64_t>(n);
}

PyResult<std::uint32_t> u32_arg(PyObject* value, const char* parameter) {
  auto n = u64_arg(value, parameter);
  if (!n) return error_set();
  if (*n > std::numeric_limits<std::uint32_t>::max()) {
    return raise(PyExc_OverflowError, "out of range integral type conversion attempted");
  }
  return static_cast<std::uint32_t>(*n);
}

PyResult<double> f64_arg(PyObject* value, const char* parameter) {
  const double d = PyFloat_AsDouble(value);
  if (d == -1.0 && PyErr_Occurred()) {
    name_type_error(parameter);
    return error_set();
  }
  return d;
}

PyResult<std::vector<PyRef>> list_arg(PyObject* value, const char* parameter) {
  PY_TRY(check_list_like(value, parameter));
  std::vector<PyRef> items;
  items.reserve(stored_size(value));
  auto read = for_each_item(value, [&](PyObject* item) -> PyResult<void> {
    items.push_back(PyRef::borrow(item));
    return {};
  });
  if (!read) {
    name_type_error(parameter);
    return error_set();
  }
  return items;
}

PyResult<std::vector<std::string>> str_list_arg(PyObject* value, const char* parameter) {
  PY_TRY(check_list_like(value, parameter));
  std::vector<std::string> items;
  items.reserve(stored_size(value));
  auto read = for_each_item(value, [&](PyObject* item) -> PyResult<void> {
    auto text = str_value(item);
    if (!text) return error_set();
    items.emplace_back(*text);
    return {};
  });
  if (!read) {
    name_type_error(parameter);
    return error_set();
  }
  return items;
}

}  // namespace tarnwick::py
