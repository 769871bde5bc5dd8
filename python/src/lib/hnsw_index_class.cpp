// The Python class HnswIndex over the core's HNSW graph index.

#include <algorithm>
#include <vector>

#include "hnsw/hnsw_index.hpp"
#include "lib/class_type.hpp"
#include "lib/index_class.hpp"
#include "lib/index_types.hpp"

namespace tarnwick::py {

namespace {

struct HnswTraits {
  using Index = HnswIndex;
  static constexpr const char* kName = "HnswIndex";
  static constexpr bool kHasUpdate = true;

  static Result<std::vector<ScoredId>> search(const HnswIndex& index, std::span<const double> query,
                                              std::uint64_t top_k, double threshold) {
    return index.query_with_ef_search(query, top_k, index.config().ef_search, threshold);
  }
  static Result<void> set_precision(HnswIndex& index, VectorPrecision precision) {
    return index.set_precision(precision);
  }
  // Sorted by id, byte by byte, so the order does not depend on the map's.
  static std::vector<std::pair<std::string, std::vector<double>>> entries(const HnswIndex& index) {
    auto nodes = index.nodes();
    std::vector<std::pair<std::string, std::vector<double>>> rows(std::make_move_iterator(nodes.begin()),
                                                                  std::make_move_iterator(nodes.end()));
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return rows;
  }
};

using Class = IndexClass<HnswTraits>;

PyResult<PyRef> construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"m", false},         {"mmax0", false},    {"ef_construction", false},
                                              {"ef_search", false}, {"level_seed", false}, {"distance", false},
                                              {"vector_precision", false}};
  auto bound = bind<7>({"HnswIndex", "__new__", kParameters}, args, kwargs);
  if (!bound) return error_set();
  HnswConfig config;
  std::uint64_t* const sizes[] = {&config.m, &config.mmax0, &config.ef_construction, &config.ef_search};
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    if ((*bound)[i] == nullptr) continue;
    auto given = u64_arg((*bound)[i], kParameters[i].name);
    if (!given) return error_set();
    *sizes[i] = *given;
  }
  std::uint32_t level_seed = 7;
  if ((*bound)[4] != nullptr) {
    auto given = u32_arg((*bound)[4], "level_seed");
    if (!given) return error_set();
    level_seed = *given;
  }
  std::string_view distance = "cosine";
  std::string_view precision_name = "float64";
  if ((*bound)[5] != nullptr) {
    auto given = str_arg((*bound)[5], "distance");
    if (!given) return error_set();
    distance = *given;
  }
  if ((*bound)[6] != nullptr) {
    auto given = str_arg((*bound)[6], "vector_precision");
    if (!given) return error_set();
    precision_name = *given;
  }
  config.distance = metric_from_text(distance);
  // The precision text is checked before the configuration.
  auto precision = precision_from_text(precision_name);
  if (!precision) return error_set();
  auto index = HnswIndex::new_with_precision(config, level_seed, *precision);
  if (!index) return raise_core(std::move(index).error());
  return Class::create(type, std::move(*index));
}

PyObject* new_instance(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_object([&] { return construct(type, args, kwargs); });
}

PyObject* type_cell = nullptr;

}  // namespace

PyResult<PyObject*> hnsw_index_type() {
  static const std::vector<PyType_Slot> slots = [] {
    std::vector<PyType_Slot> all = Class::slots();
    all.push_back({Py_tp_new, reinterpret_cast<void*>(&new_instance)});
    return all;
  }();
  return class_type(type_cell,
                    {"tarnwick.HnswIndex",
                     "(m=16, mmax0=32, ef_construction=200, ef_search=200, level_seed=7, distance=..., "
                     "vector_precision=...)",
                     static_cast<int>(sizeof(Class::Object)), slots});
}

}  // namespace tarnwick::py
