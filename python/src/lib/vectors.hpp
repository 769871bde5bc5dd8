#pragma once
// Vectors between Python and the core: reading one from a NumPy array or any sequence of
// numbers, handing one back as a new NumPy float64 array, and the (id, value) result tuples.
// This is the only place that touches NumPy's C API, loaded on the first vector conversion.

#include <Python.h>

#include <span>
#include <string_view>
#include <vector>

#include "lib/py_ref.hpp"

namespace tarnwick::py {

// A one-dimensional contiguous float64 or float32 array is copied in one block (float32
// widened); a strided one raises TypeError "The given array is not contiguous". Anything else
// must be a sequence of numbers other than a str, else ValueError "vector must be a sequence
// of floats". Values are not checked: NaN, infinities and lengths are the receiver's concern.
PyResult<std::vector<double>> to_vec(PyObject* object);

// A new, writable, one-dimensional float64 array holding a copy of `values`.
PyResult<PyRef> f64_array(std::span<const double> values);

// (id, value): takes over the reference to `value`.
PyResult<PyRef> pair(std::string_view id, PyRef value);
// (id, score).
PyResult<PyRef> score_pair(std::string_view id, double score);

}  // namespace tarnwick::py
