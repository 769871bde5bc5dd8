// The extension module tarnwick._core: its one exported symbol and the module body.

#include <Python.h>

#include <array>
#include <atomic>

#include "lib/exceptions.hpp"
#include "lib/guard.hpp"
#include "lib/index_types.hpp"
#include "lib/interpreter_exit.hpp"
#include "lib/native_store.hpp"
#include "lib/py_ref.hpp"
#include "lib/query_functions.hpp"

namespace tarnwick::py {

namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_core", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The module of the first successful initialisation, kept for the life of the process.
PyObject* module_cell = nullptr;

struct ClassEntry {
  const char* name;
  PyResult<PyObject*> (*type)();
};

constexpr std::array<ClassEntry, 3> kClasses{{
    {"ExactIndex", &exact_index_type},
    {"HnswIndex", &hnsw_index_type},
    {"NativeStore", &native_store_type},
}};

// Module functions, in the order they are added; the table ends in its sentinel.
PyMethodDef module_functions[] = {
    engine_info_function(),
    execute_query_plan_function(),
    aggregate_query_plan_function(),
    {nullptr, nullptr, 0, nullptr},
};

// Notes the thread that finalizes the interpreter (interpreter_exit.hpp). The interpreter runs
// its exit hooks on that thread before it ends any other.
PyObject* note_finalizing_thread(PyObject*, PyObject*) noexcept {
  detail::finalizing_thread.store(PyThread_get_thread_ident(), std::memory_order_release);
  return Py_NewRef(Py_None);
}

PyMethodDef exit_hook_definition = {"_note_finalizing_thread", &note_finalizing_thread, METH_NOARGS, nullptr};

PyResult<void> register_exit_hook() {
  auto hook = checked(PyCFunction_New(&exit_hook_definition, nullptr));
  if (!hook) return error_set();
  auto atexit = checked(PyImport_ImportModule("atexit"));
  if (!atexit) return error_set();
  auto registered = checked(PyObject_CallMethod(atexit->get(), "register", "O", hook->get()));
  if (!registered) return error_set();
  return {};
}

// Appends the name to `__all__` (creating the list on first use), then sets the attribute.
PyResult<void> add(PyObject* module, const char* name, PyObject* value) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return error_set();
    PyErr_Clear();
    auto created = checked(PyList_New(0));
    if (!created) return error_set();
    if (PyObject_SetAttrString(module, "__all__", created->get()) != 0) return error_set();
    all = std::move(*created);
  }
  auto text = checked(PyUnicode_FromString(name));
  if (!text) return error_set();
  if (PyList_Append(all.get(), text->get()) != 0) return error_set();
  if (PyObject_SetAttrString(module, name, value) != 0) return error_set();
  return {};
}

PyResult<void> module_body(PyObject* module) {
  for (const ClassEntry& entry : kClasses) {
    auto type = entry.type();
    if (!type) return error_set();
    PY_TRY(add(module, entry.name, *type));
  }
  auto module_name = checked(PyModule_GetNameObject(module));
  if (!module_name) return error_set();
  for (PyMethodDef* def = module_functions; def->ml_name != nullptr; ++def) {
    auto function = checked(PyCFunction_NewEx(def, module, module_name->get()));
    if (!function) return error_set();
    PY_TRY(add(module, def->ml_name, function->get()));
  }
  for (std::size_t i = 0; i < kModuleExceptionCount; ++i) {
    const auto kind = static_cast<ExceptionKind>(i);
    auto type = exception_type(kind);
    if (!type) return error_set();
    PY_TRY(add(module, std::string(exception_name(kind)).c_str(), *type));
  }
  return register_exit_hook();
}

PyResult<PyRef> initialise() {
  if (module_cell != nullptr) {
    return raise(PyExc_ImportError, "tarnwick._core may only be initialized once per interpreter process");
  }
  auto module = checked(PyModule_Create2(&module_definition, PYTHON_ABI_VERSION));
  if (!module) return error_set();
  PY_TRY(module_body(module->get()));
  module_cell = PyRef::borrow(module->get()).release();
  return module;
}

}  // namespace

}  // namespace tarnwick::py

PyMODINIT_FUNC PyInit__core() {
  return tarnwick::py::guarded_object([] { return tarnwick::py::initialise(); });
}
