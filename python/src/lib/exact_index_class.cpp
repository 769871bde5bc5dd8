// The Python class ExactIndex over the core's brute-force index.

#include <vector>

#include "lib/class_type.hpp"
#include "lib/index_class.hpp"
#include "lib/index_types.hpp"
#include "vector/exact_index.hpp"

namespace tarnwick::py {

namespace {

struct ExactTraits {
  using Index = ExactIndex;
  static constexpr const char* kName = "ExactIndex";
  static constexpr bool kHasUpdate = false;

  static Result<std::vector<ScoredId>> search(const ExactIndex& index, std::span<const double> query,
                                              std::uint64_t top_k, double threshold) {
    return index.query(query, top_k, threshold);
  }
  static Result<void> set_precision(ExactIndex& index, VectorPrecision precision) {
    index.set_precision(precision);
    return {};
  }
  static std::vector<std::pair<std::string, std::vector<double>>> entries(const ExactIndex& index) {
    return index.entries();
  }
};

using Class = IndexClass<ExactTraits>;

PyResult<PyRef> construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"distance", false}, {"vector_precision", false}};
  auto bound = bind<2>({"ExactIndex", "__new__", kParameters}, args, kwargs);
  if (!bound) return error_set();
  std::string_view distance = "cosine";
  std::string_view precision_name = "float64";
  if ((*bound)[0] != nullptr) {
    auto given = str_arg((*bound)[0], "distance");
    if (!given) return error_set();
    distance = *given;
  }
  if ((*bound)[1] != nullptr) {
    auto given = str_arg((*bound)[1], "vector_precision");
    if (!given) return error_set();
    precision_name = *given;
  }
  auto precision = precision_from_text(precision_name);
  if (!precision) return error_set();
  return Class::create(type, ExactIndex(metric_from_text(distance), *precision));
}

PyObject* new_instance(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_object([&] { return construct(type, args, kwargs); });
}

PyObject* type_cell = nullptr;

}  // namespace

PyResult<PyObject*> exact_index_type() {
  static const std::vector<PyType_Slot> slots = [] {
    std::vector<PyType_Slot> all = Class::slots();
    all.push_back({Py_tp_new, reinterpret_cast<void*>(&new_instance)});
    return all;
  }();
  return class_type(type_cell, {"tarnwick.ExactIndex", "(distance=..., vector_precision=...)",
                                static_cast<int>(sizeof(Class::Object)), slots});
}

}  // namespace tarnwick::py
