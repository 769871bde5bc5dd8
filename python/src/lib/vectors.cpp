#include "lib/vectors.hpp"

#include <cstring>
#include <optional>

// NumPy's API table is private to this file: it is the only user.
#include <numpy/arrayobject.h>

#include "lib/exceptions.hpp"
#include "lib/iterate.hpp"

namespace tarnwick::py {

namespace {

constexpr std::string_view kNotFloats = "vector must be a sequence of floats";

// `_import_array` reports its failure as an exception and prints nothing.
PyResult<void> load_numpy() {
  static bool loaded = false;
  if (loaded) return {};
  if (_import_array() < 0) return raise_from(PyExc_ImportError, "Failed to access NumPy array API capsule");
  loaded = true;
  return {};
}

// Copies a one-dimensional array of native-order doubles or floats; nullopt for any other array.
std::optional<PyResult<std::vector<double>>> from_float_array(PyArrayObject* array) {
  if (PyArray_NDIM(array) != 1 || !PyArray_ISNOTSWAPPED(array)) return std::nullopt;
  const int type = PyArray_TYPE(array);
  if (type != NPY_DOUBLE && type != NPY_FLOAT) return std::nullopt;
  if (!PyArray_IS_C_CONTIGUOUS(array) && !PyArray_IS_F_CONTIGUOUS(array)) {
    return raise(PyExc_TypeError, "The given array is not contiguous");
  }
  const auto n = static_cast<std::size_t>(PyArray_DIM(array, 0));
  std::vector<double> out(n);
  const auto* data = static_cast<const char*>(PyArray_DATA(array));
  if (type == NPY_DOUBLE) {
    if (n != 0) std::memcpy(out.data(), data, n * sizeof(double));
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      float f;
      std::memcpy(&f, data + i * sizeof(float), sizeof(float));
      out[i] = f;
    }
  }
  return out;
}

PyResult<void> append_number(std::vector<double>& out, PyObject* item) {
  const double d = PyFloat_AsDouble(item);
  if (d == -1.0 && PyErr_Occurred()) return error_set();
  out.push_back(d);
  return {};
}

// Every failure of the sequence route is the one ValueError and the cause is dropped, unless
// it must pass through (an interrupt, running out of memory).
PyResult<std::vector<double>> from_sequence(PyObject* object) {
  if (PyUnicode_Check(object) || !PySequence_Check(object)) return raise(PyExc_ValueError, kNotFloats);
  std::vector<double> out;
  PyResult<void> read;
  if (PyList_CheckExact(object)) {
    // The list's own iterator, unrolled: by index while the live length allows.
    out.reserve(static_cast<std::size_t>(PyList_Size(object)));
    for (Py_ssize_t i = 0; read && i < PyList_Size(object); ++i) {
      PyRef item = PyRef::borrow(PyList_GetItem(object, i));
      read = append_number(out, item.get());
    }
  } else {
    if (PyArray_Check(object) && PyArray_NDIM(reinterpret_cast<PyArrayObject*>(object)) > 0) {
      out.reserve(static_cast<std::size_t>(PyArray_DIM(reinterpret_cast<PyArrayObject*>(object), 0)));
    } else {
      out.reserve(stored_size(object));
    }
    read = for_each_item(object, [&](PyObject* item) { return append_number(out, item); });
  }
  if (!read) {
    PY_TRY(discard_pending());
    return raise(PyExc_ValueError, kNotFloats);
  }
  return out;
}

}  // namespace

PyResult<std::vector<double>> to_vec(PyObject* object) {
  PY_TRY(load_numpy());
  if (PyArray_Check(object)) {
    if (auto copied = from_float_array(reinterpret_cast<PyArrayObject*>(object))) return std::move(*copied);
  }
  return from_sequence(object);
}

PyResult<PyRef> f64_array(std::span<const double> values) {
  PY_TRY(load_numpy());
  npy_intp length = static_cast<npy_intp>(values.size());
  auto array = checked(PyArray_SimpleNew(1, &length, NPY_DOUBLE));
  if (!array) return error_set();
  if (!values.empty()) {
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array->get())), values.data(),
                values.size() * sizeof(double));
  }
  return array;
}

PyResult<PyRef> pair(std::string_view id, PyRef value) {
  auto key = checked(PyUnicode_FromStringAndSize(id.data(), static_cast<Py_ssize_t>(id.size())));
  if (!key) return error_set();
  return checked(PyTuple_Pack(2, key->get(), value.get()));
}

PyResult<PyRef> score_pair(std::string_view id, double score) {
  auto value = checked(PyFloat_FromDouble(score));
  if (!value) return error_set();
  return pair(id, std::move(*value));
}

}  // namespace tarnwick::py
