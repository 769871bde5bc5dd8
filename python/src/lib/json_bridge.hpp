#pragma once
// The one bridge between Python objects and JSON values, and records read through it.
// No JSON text is produced or parsed on the way.

#include <Python.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.hpp"
#include "lib/exceptions.hpp"
#include "lib/py_ref.hpp"
#include "model/records.hpp"

namespace tarnwick::py {

// Python values deeper than this many levels of dicts, lists and tuples are refused, which
// also stops self-containing values. It leaves room below the parser's own limit for the
// records a value is later wrapped in, so whatever is written can be read back.
inline constexpr int kMaxConvertDepth = 100;

// dict (by its stored entries), list, tuple, None, bool, int, float, str; anything else
// raises TarnwickValueError "value is not JSON-compatible".
PyResult<json::Value> py_to_json(PyObject* object);

// A new Python object for the value, which sits `depth` levels inside the value the caller
// hands back (a node's data at 1). Unsigned integers stay exact ints.
PyResult<PyRef> json_to_py(const json::Value& value, std::size_t depth = 0);
PyResult<PyRef> object_to_py(const json::Object& object, std::size_t depth);

// A new str of UTF-8 text (an ill-formed sequence read as U+FFFD), and a new list of such strs.
PyResult<PyRef> text_to_py(std::string_view text);
PyResult<PyRef> texts_to_py(std::span<const std::string> texts);

// A record (Node, Edge, VectorEntry, ...) read from any Python object through its JSON value.
template <class R>
PyResult<R> py_to_tarnwick(PyObject* object) {
  auto value = py_to_json(object);
  if (!value) return error_set();
  auto record = R::deserialize(*value);
  if (!record) return raise(ExceptionKind::TarnwickValueError, record.error().text());
  return std::move(*record);
}

// Records (nodes, edges) in the items' order; the first item that fails ends the conversion
// and no later item is looked at.
template <class R>
PyResult<std::vector<R>> records_from_py(std::span<const PyRef> items) {
  std::vector<R> records;
  records.reserve(items.size());
  for (const PyRef& item : items) {
    auto record = py_to_tarnwick<R>(item.get());
    if (!record) return error_set();
    records.push_back(std::move(*record));
  }
  return records;
}

}  // namespace tarnwick::py
