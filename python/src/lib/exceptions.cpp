#include "lib/exceptions.hpp"

#include <array>
#include <string>

namespace tarnwick::py {

namespace {

struct ExceptionSpec {
  const char* qualified_name;
  const char* doc;
};

constexpr std::array<ExceptionSpec, kModuleExceptionCount> kSpecs{{
    {"tarnwick.TarnwickError", "Base tarnwick error"},
    {"tarnwick.TarnwickValueError", "Invalid argument"},
    {"tarnwick.TarnwickDimensionError", "Vector dimension mismatch"},
    {"tarnwick.TarnwickClosedError", "Operation on a closed store"},
    {"tarnwick.TarnwickVersionError", "Unsupported format version"},
    {"tarnwick.TarnwickCorruptDataError", "Corrupt data"},
    {"tarnwick.TarnwickStorageError", "Storage failure"},
    {"tarnwick.ConflictError", "Optimistic concurrency conflict"},
    {"tarnwick.ResourceLimitError", "Resource limit exceeded"},
}};

// Filled once, never emptied: the types live as long as the process.
std::array<PyObject*, kModuleExceptionCount> type_cells{};
PyObject* panic_cell = nullptr;

constexpr std::string_view kCreationFailed = "Failed to initialize new exception type.";

// Creating a type can run Python code (the base's metaclass), which may fill the cell first;
// the stored type then stays, so every caller sees one type per name.
PyObject* fill_once(PyObject*& cell, PyObject* created) {
  if (cell == nullptr) {
    cell = created;
  } else {
    Py_DECREF(created);
  }
  return cell;
}

}  // namespace

std::string_view exception_name(ExceptionKind kind) {
  if (kind == ExceptionKind::NotImplementedError) return "NotImplementedError";
  std::string_view q = kSpecs[static_cast<std::size_t>(kind)].qualified_name;
  return q.substr(q.find('.') + 1);
}

PyResult<PyObject*> panic_exception_type() {
  if (panic_cell != nullptr) return panic_cell;
  PyObject* created = PyErr_NewExceptionWithDoc(
      "tarnwick.PanicException", "An internal failure of the native engine.", PyExc_BaseException, nullptr);
  if (created == nullptr) return error_set();
  return fill_once(panic_cell, created);
}

PyResult<PyObject*> exception_type(ExceptionKind kind) {
  if (kind == ExceptionKind::NotImplementedError) return PyExc_NotImplementedError;
  const auto index = static_cast<std::size_t>(kind);
  if (type_cells[index] != nullptr) return type_cells[index];
  PyObject* base = PyExc_Exception;
  if (kind != ExceptionKind::TarnwickError) {
    auto root = exception_type(ExceptionKind::TarnwickError);
    if (!root) return root;
    base = *root;
  }
  // The qualified name makes the type report "tarnwick" as its module.
  PyObject* created = PyErr_NewExceptionWithDoc(kSpecs[index].qualified_name, kSpecs[index].doc, base, nullptr);
  if (created == nullptr) {
    PyErr_Clear();
    return raise_panic(kCreationFailed);
  }
  return fill_once(type_cells[index], created);
}

Raised raise(PyObject* type, std::string_view message) {
  // Messages are the engine's own UTF-8; a stray ill-formed byte must not hide the error.
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return error_set();
  PyErr_SetObject(type, text);
  Py_DECREF(text);
  return error_set();
}

Raised raise(ExceptionKind kind, std::string_view message) {
  auto type = exception_type(kind);
  if (!type) return error_set();
  return raise(*type, message);
}

Raised raise(const PendingError& error) { return raise(error.kind, error.message); }

Raised raise_panic(std::string_view message) {
  auto type = panic_exception_type();
  if (!type) return error_set();
  return raise(*type, message);
}

Raised raise_from(PyObject* type, std::string_view message) {
  PyObject* cause_type = nullptr;
  PyObject* cause = nullptr;
  PyObject* cause_traceback = nullptr;
  PyErr_Fetch(&cause_type, &cause, &cause_traceback);
  PyErr_NormalizeException(&cause_type, &cause, &cause_traceback);
  if (cause != nullptr && cause_traceback != nullptr) PyException_SetTraceback(cause, cause_traceback);
  Py_XDECREF(cause_type);
  Py_XDECREF(cause_traceback);
  raise(type, message);
  if (cause == nullptr) return error_set();
  PyObject* effect_type = nullptr;
  PyObject* effect = nullptr;
  PyObject* effect_traceback = nullptr;
  PyErr_Fetch(&effect_type, &effect, &effect_traceback);
  PyErr_NormalizeException(&effect_type, &effect, &effect_traceback);
  if (effect != nullptr) {
    PyException_SetCause(effect, cause);  // steals `cause`
  } else {
    Py_DECREF(cause);
  }
  PyErr_Restore(effect_type, effect, effect_traceback);
  return error_set();
}

Raised raise_core(TarnwickError error) { return raise(to_pyerr(std::move(error))); }

bool passes_through(PyObject* exception) {
  return !PyErr_GivenExceptionMatches(exception, PyExc_Exception) ||
         PyErr_GivenExceptionMatches(exception, PyExc_MemoryError);
}

PyResult<void> discard_pending() {
  PyObject* pending = PyErr_Occurred();
  if (pending != nullptr && passes_through(pending)) return error_set();
  PyErr_Clear();
  return {};
}

}  // namespace tarnwick::py
