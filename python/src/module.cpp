// The extension module tarnwick._core over the CPython limited API (Py_LIMITED_API is set by the build).
#include <Python.h>

namespace {

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_core", "Native engine of tarnwick.", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__core() { return PyModule_Create(&kModule); }
