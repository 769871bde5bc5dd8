#include "lib/class_type.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "lib/exceptions.hpp"

namespace tarnwick::py {

PyResult<PyObject*> class_type(PyObject*& cell, const ClassSpec& spec) {
  if (cell != nullptr) return cell;
  const std::string_view qualified = spec.qualified_name;
  const std::string_view name = qualified.substr(qualified.rfind('.') + 1);
  // "Name(signature)\n--\n\n": the interpreter shows the signature as __text_signature__.
  const std::string doc = std::string(name) + spec.text_signature + "\n--\n\n";
  std::vector<PyType_Slot> slots(spec.slots.begin(), spec.slots.end());
  slots.push_back({Py_tp_doc, const_cast<char*>(doc.c_str())});
  slots.push_back({0, nullptr});
  PyType_Spec type_spec{spec.qualified_name, spec.basic_size, 0, Py_TPFLAGS_DEFAULT, slots.data()};
  PyObject* created = PyType_FromSpec(&type_spec);
  if (created == nullptr) {
    return raise_from(PyExc_RuntimeError, "An error occurred while initializing class " + std::string(name));
  }
  cell = created;
  return cell;
}

}  // namespace tarnwick::py
