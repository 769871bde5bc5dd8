#include "native/interpreter.hpp"

namespace tarnwick::py::testing {

namespace {

PyObject* globals = nullptr;

class Interpreter : public ::testing::Environment {
 public:
  void SetUp() override {
    Py_InitializeEx(0);
    globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    run("import collections, decimal, enum\nimport numpy as np\n"
        // A number whose conversion `where` ("index", "float" or "bool") raises `exc`; the
        // others refuse it with a TypeError, as a conversion that does not apply would.
        "class Raises:\n"
        "    def __init__(self, exc, where): self.exc, self.where = exc, where\n"
        "    def _fail(self, where): raise self.exc if where == self.where else TypeError(where)\n"
        "    def __index__(self): self._fail('index')\n"
        "    def __float__(self): self._fail('float')\n"
        "    def __bool__(self): self._fail('bool')\n");
  }
  // The interpreter stays up until the process ends: NumPy does not survive a restart.
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new Interpreter);

PyRef call_builtin(const char* name, std::string_view code) {
  PyObject* function = PyDict_GetItemString(PyEval_GetBuiltins(), name);
  PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(code.data(), static_cast<Py_ssize_t>(code.size())));
  return PyRef::steal(PyObject_CallFunctionObjArgs(function, text.get(), globals, nullptr));
}

}  // namespace

void run(std::string_view statements) {
  PyRef result = call_builtin("exec", statements);
  ASSERT_TRUE(result) << take_error() << "\nin: " << statements;
}

PyRef eval(std::string_view expression) {
  PyRef result = call_builtin("eval", expression);
  EXPECT_TRUE(result) << take_error() << "\nin: " << expression;
  return result;
}

std::string take_error() {
  if (!PyErr_Occurred()) return "";
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type);
  PyRef owned_value = PyRef::steal(value);
  PyRef owned_traceback = PyRef::steal(traceback);
  PyRef name = PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type)));
  PyRef text = PyRef::steal(PyObject_Str(value));
  std::string out = PyUnicode_AsUTF8AndSize(name.get(), nullptr);
  out += ": ";
  out += PyUnicode_AsUTF8AndSize(text.get(), nullptr);
  return out;
}

}  // namespace tarnwick::py::testing
