#include "lib/json_bridge.hpp"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "lib/args.hpp"
#include "lib/truth.hpp"

namespace tarnwick::py {

namespace {

constexpr std::string_view kNotJson = "value is not JSON-compatible";
constexpr std::string_view kTooDeep = "value is nested too deeply";

// Steps 5 to 8 of the conversion each try one reading: nullopt when it does not take the
// object (its exception dropped), a failure only for an exception that must pass through.
using Step = PyResult<std::optional<json::Value>>;

// Ends a step that did not take the object.
Step not_taken() {
  PY_TRY(discard_pending());
  return std::nullopt;
}

// The truth of a NumPy boolean through its `__bool__`, which must give a Python bool.
Step numpy_bool_value(PyObject* object) {
  auto numpy_bool = is_numpy_bool(object);
  if (!numpy_bool) return error_set();
  if (!*numpy_bool) return std::nullopt;
  PyRef truth = PyRef::steal(PyObject_CallMethod(object, "__bool__", nullptr));
  if (!truth) return not_taken();
  if (!PyBool_Check(truth.get())) return std::nullopt;
  return json::Value(truth.get() == Py_True);
}

// An int, or anything with `__index__`, within the 64-bit ranges: signed below zero,
// unsigned from zero up to 2^64 - 1. Larger magnitudes are left to the float conversion.
Step integer_value(PyObject* object) {
  PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) return not_taken();
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (overflow == 0) {
    if (n == -1 && PyErr_Occurred()) return not_taken();
    if (n < 0) return json::Value(static_cast<std::int64_t>(n));
    return json::Value(static_cast<std::uint64_t>(n));
  }
  if (overflow > 0) {
    const unsigned long long u = PyLong_AsUnsignedLongLong(index.get());
    if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      return json::Value(static_cast<std::uint64_t>(u));
    }
    return not_taken();
  }
  return std::nullopt;
}

Step float_value(PyObject* object) {
  const double d = PyFloat_AsDouble(object);
  if (d == -1.0 && PyErr_Occurred()) return not_taken();
  return json::number(d);
}

// Only a str (or subclass) whose text UTF-8 can encode.
Step string_value(PyObject* object) {
  if (!PyUnicode_Check(object)) return std::nullopt;
  auto text = utf8_view(object);
  if (!text) return not_taken();
  return json::Value(json::String(*text));
}

// The value of the first step that takes the object; "value is not JSON-compatible" when none does.
PyResult<json::Value> first_taken(PyObject* object, std::initializer_list<Step (*)(PyObject*)> steps) {
  for (auto step : steps) {
    auto value = step(object);
    if (!value) return error_set();
    if (*value) return std::move(**value);
  }
  return raise(ExceptionKind::TarnwickValueError, kNotJson);
}

class ToJson {
 public:
  PyResult<json::Value> convert(PyObject* object) {
    if (PyDict_Check(object)) return nested(&ToJson::dict, object);
    if (PyList_Check(object)) return nested(&ToJson::list, object);
    if (PyTuple_Check(object)) return nested(&ToJson::tuple, object);
    if (object == Py_None) return json::Value(nullptr);
    if (PyBool_Check(object)) return json::Value(object == Py_True);
    // Exact ints, floats and strs can only end where the general steps would take them.
    if (PyLong_CheckExact(object)) return first_taken(object, {integer_value, float_value});
    if (PyFloat_CheckExact(object)) return first_taken(object, {float_value});
    if (PyUnicode_CheckExact(object)) return first_taken(object, {string_value});
    return first_taken(object, {numpy_bool_value, integer_value, float_value, string_value});
  }

 private:
  // Each level also counts against the interpreter's recursion limit: a number's `__float__`
  // may start another conversion, and only that limit bounds the stack such rounds take.
  PyResult<json::Value> nested(PyResult<json::Value> (ToJson::*read)(PyObject*), PyObject* object) {
    if (depth_ == kMaxConvertDepth) return raise(ExceptionKind::TarnwickValueError, kTooDeep);
    if (Py_EnterRecursiveCall(" while converting a value") != 0) return error_set();
    ++depth_;
    auto value = (this->*read)(object);
    --depth_;
    Py_LeaveRecursiveCall();
    return value;
  }

  // Entries come from the dict's own storage, so a subclass's `items` or `__iter__` is never
  // called. Converting a value may run Python code that changes the dict: key and value are
  // held while they are used, and any change of the dict's size ends the conversion.
  PyResult<json::Value> dict(PyObject* object) {
    const Py_ssize_t size_at_start = PyDict_Size(object);
    json::Object out;
    out.reserve(static_cast<std::size_t>(size_at_start));
    Py_ssize_t position = 0;
    Py_ssize_t yielded = 0;
    PyObject* raw_key = nullptr;
    PyObject* raw_value = nullptr;
    while (PyDict_Next(object, &position, &raw_key, &raw_value)) {
      if (++yielded > size_at_start) return raise(PyExc_RuntimeError, "dictionary keys changed during iteration");
      PyRef key = PyRef::borrow(raw_key);
      PyRef item = PyRef::borrow(raw_value);
      if (!PyUnicode_Check(key.get())) {
        return raise(PyExc_TypeError, "'" + type_qualname(key.get()) + "' object cannot be converted to 'PyString'");
      }
      auto name = utf8_view(key.get());
      if (!name) return error_set();
      auto value = convert(item.get());
      if (!value) return error_set();
      out.insert_or_assign(*name, std::move(*value));
      if (PyDict_Size(object) != size_at_start) {
        return raise(PyExc_RuntimeError, "dictionary changed size during iteration");
      }
    }
    return json::Value(std::move(out));
  }

  // Elements appended meanwhile are not visited; a list that shrinks ends the array early.
  PyResult<json::Value> list(PyObject* object) {
    const Py_ssize_t length_at_start = PyList_Size(object);
    json::Array out;
    out.reserve(static_cast<std::size_t>(length_at_start));
    for (Py_ssize_t i = 0; i < length_at_start && i < PyList_Size(object); ++i) {
      PyRef item = PyRef::borrow(PyList_GetItem(object, i));
      auto value = convert(item.get());
      if (!value) return error_set();
      out.push_back(std::move(*value));
    }
    return json::Value(std::move(out));
  }

  PyResult<json::Value> tuple(PyObject* object) {
    const Py_ssize_t length = PyTuple_Size(object);
    json::Array out;
    out.reserve(static_cast<std::size_t>(length));
    for (Py_ssize_t i = 0; i < length; ++i) {
      auto value = convert(PyTuple_GetItem(object, i));
      if (!value) return error_set();
      out.push_back(std::move(*value));
    }
    return json::Value(std::move(out));
  }

  int depth_ = 0;
};

// Values from the parser are at most its limit deep, and those from Python less, so the
// bound here only stops a value built some other way.
PyResult<PyRef> to_py(const json::Value& value, std::size_t depth) {
  switch (value.kind()) {
    case json::Kind::null:
      return PyRef::borrow(Py_None);
    case json::Kind::bool_:
      return PyRef::borrow(value.get_bool() ? Py_True : Py_False);
    case json::Kind::int64:
      return checked(PyLong_FromLongLong(value.get_int64()));
    case json::Kind::uint64:
      return checked(PyLong_FromUnsignedLongLong(value.get_uint64()));
    case json::Kind::double_:
      return checked(PyFloat_FromDouble(value.get_double()));
    case json::Kind::string:
      return text_to_py(value.get_string());
    case json::Kind::array: {
      if (depth == json::kMaxParseDepth) return raise(ExceptionKind::TarnwickValueError, kTooDeep);
      const json::Array& array = value.get_array();
      auto list = checked(PyList_New(static_cast<Py_ssize_t>(array.size())));
      if (!list) return error_set();
      for (std::size_t i = 0; i < array.size(); ++i) {
        auto item = to_py(array[i], depth + 1);
        if (!item) return error_set();
        if (PyList_SetItem(list->get(), static_cast<Py_ssize_t>(i), item->release()) != 0) return error_set();
      }
      return list;
    }
    case json::Kind::object:
      return object_to_py(value.get_object(), depth);
  }
  return raise_panic("unknown JSON value kind");
}

}  // namespace

PyResult<PyRef> object_to_py(const json::Object& object, std::size_t depth) {
  if (depth == json::kMaxParseDepth) return raise(ExceptionKind::TarnwickValueError, kTooDeep);
  auto dict = checked(PyDict_New());
  if (!dict) return error_set();
  for (const auto& member : object) {
    auto key = text_to_py(member.key());
    if (!key) return error_set();
    auto item = to_py(member.value(), depth + 1);
    if (!item) return error_set();
    if (PyDict_SetItem(dict->get(), key->get(), item->get()) != 0) return error_set();
  }
  return dict;
}

PyResult<PyRef> text_to_py(std::string_view text) {
  return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

PyResult<PyRef> texts_to_py(std::span<const std::string> texts) {
  auto list = checked(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return error_set();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    auto text = text_to_py(texts[i]);
    if (!text) return error_set();
    if (PyList_SetItem(list->get(), static_cast<Py_ssize_t>(i), text->release()) != 0) return error_set();
  }
  return list;
}

PyResult<json::Value> py_to_json(PyObject* object) { return ToJson{}.convert(object); }

PyResult<PyRef> json_to_py(const json::Value& value, std::size_t depth) { return to_py(value, depth); }

}  // namespace tarnwick::py
